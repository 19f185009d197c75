#pragma once

#include "layer_rules_editor_model.h"
#include "platform/signal.h"
#include "row_list_model.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class AppState;
class MidiService;

// The layer editor: every layer of the set with its MIDI binding, adding and deleting layers, the
// DAW's track names, and the rules editor of one layer. Layers are addressed by id; edits are
// written to the document at once. Main thread only.
class LayerEditorModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool mackieMode READ mackieMode NOTIFY changed)
    Q_PROPERTY(bool canAddLayer READ canAddLayer NOTIFY changed)
    // Mackie Control mode, once the DAW has sent at least one track name.
    Q_PROPERTY(bool canUseDawNames READ canUseDawNames NOTIFY changed)
    Q_PROPERTY(bool rulesEnabled READ rulesEnabled NOTIFY changed)
    Q_PROPERTY(QString modeHint READ modeHint NOTIFY changed)
    // How many layers this feature level drives: 8 or 16.
    Q_PROPERTY(int layerCap READ layerCap NOTIFY changed)
    Q_PROPERTY(QStringList ports READ ports NOTIFY changed)
    // Every layer of the set, in stored order; roles id, name, driven (within the level's cap),
    // track ("TRK 3" / "XT 11" / ""), trackHelp, dawLine ("DAW: Piano" / "waiting for DAW track
    // name…" / "" where the DAW reports no names), port, channel, muteCC (-1: none), ruleCount.
    // Updated row by row.
    Q_PROPERTY(strata::RowListModel* layers READ layers CONSTANT)
    Q_PROPERTY(LayerRulesEditorModel* rulesEditor READ rulesEditor CONSTANT)

public:
    LayerEditorModel(AppState& state, MidiService& midi, QObject* parent = nullptr);

    bool mackieMode() const;
    bool canAddLayer() const;
    bool canUseDawNames() const;
    bool rulesEnabled() const;
    QString modeHint() const;
    int layerCap() const;
    QStringList ports() const;
    RowListModel* layers() { return &layers_; }
    LayerRulesEditorModel* rulesEditor() { return &rules_; }

    // Appends "Layer n" on the port the last layer with a port uses, else on none.
    Q_INVOKABLE void addLayer();
    // Also takes the layer out of every step; Moments keep their references.
    Q_INVOKABLE void deleteLayer(const QString& layerID);
    // "USE DAW NAMES": the first 8 layers take the names the DAW shows on their strips.
    Q_INVOKABLE void useDawNames();

    Q_INVOKABLE void setName(const QString& layerID, const QString& name);
    Q_INVOKABLE void setPort(const QString& layerID, const QString& port);
    // Clamped to 1…16.
    Q_INVOKABLE void setChannel(const QString& layerID, int channel);
    // Clamped to 0…127; below 0: no CC.
    Q_INVOKABLE void setMuteCC(const QString& layerID, int cc);

Q_SIGNALS:
    // Once after an operation that changed one of the properties above the list.
    void changed();

private:
    void refresh();
    std::vector<RowListModel::Row> buildLayers() const;

    AppState& state_;
    MidiService& midi_;
    LayerRulesEditorModel rules_;
    RowListModel layers_;
    // The properties' values as last announced.
    QVariantList shown_;
    ConnectionBag connections_;
};

} // namespace strata
