#pragma once

#include "platform/signal.h"
#include "row_list_model.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class AppState;

// The rules editor of one layer: its repeating Moments, edited in place in the document (there is
// no cancel). Rules are addressed by id. The editor counts as open while a layer is chosen and the
// set still has it. Main thread only.
class LayerRulesEditorModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool open READ open NOTIFY changed)
    Q_PROPERTY(QString layerName READ layerName NOTIFY changed)
    // The current song's section names, each once, in playing order.
    Q_PROPERTY(QStringList sectionNames READ sectionNames NOTIFY changed)
    // The open layer's rules (none while closed); roles id, enabled, effect ("swellIn" /
    // "muteOut"), anchor ("onSectionEnter", "barsBeforeSectionEnd", "barsAfterStart"; "manual"
    // when stored so), bars, allSections, chosen: [bool per entry of sectionNames].
    Q_PROPERTY(strata::RowListModel* rules READ rules CONSTANT)

public:
    explicit LayerRulesEditorModel(AppState& state, QObject* parent = nullptr);

    bool open() const;
    QString layerName() const;
    QStringList sectionNames() const;
    RowListModel* rules() { return &rules_; }

    Q_INVOKABLE void openFor(const QString& layerID);
    Q_INVOKABLE void close();

    Q_INVOKABLE void addRule();
    Q_INVOKABLE void deleteRule(const QString& ruleID);
    Q_INVOKABLE void setEnabled(const QString& ruleID, bool enabled);
    Q_INVOKABLE void setEffect(const QString& ruleID, const QString& effect);
    Q_INVOKABLE void setAnchor(const QString& ruleID, const QString& kind);
    Q_INVOKABLE void setBars(const QString& ruleID, int bars);
    Q_INVOKABLE void setAllSections(const QString& ruleID, bool all);
    // Adds the name to the rule's chosen sections, or takes it out.
    Q_INVOKABLE void toggleSection(const QString& ruleID, const QString& name);

Q_SIGNALS:
    // Once after an operation that changed one of the properties other than the list.
    void changed();

private:
    void refresh();
    std::vector<RowListModel::Row> buildRules() const;

    AppState& state_;
    // The open layer's id as text; empty while closed.
    QString layerID_;
    RowListModel rules_;
    // The properties' values as last announced.
    QVariantList shown_;
    ConnectionBag connections_;
};

} // namespace strata
