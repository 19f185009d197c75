#pragma once

#include "platform/signal.h"
#include "row_list_model.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace strata {

class AppState;
class LiveCoordinator;
class MidiService;
class MomentsBinding;

// The Moments editor of one section of the current song. Every edit goes through the section's
// Moments binding at once (there is no cancel); Moments, patch changes and CC sends are addressed
// by id. The editor counts as open while a section is chosen and the current song still has it.
// Main thread only.
class MomentsEditorModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool open READ open NOTIFY changed)
    Q_PROPERTY(QString sectionName READ sectionName NOTIFY changed)
    // The visible layers; roles id, name (a layer without a name reads "waiting for DAW track
    // name…").
    Q_PROPERTY(strata::RowListModel* layers READ layers CONSTANT)
    Q_PROPERTY(QStringList ports READ ports NOTIFY changed)
    // The open section's Moments (none while closed); roles id, name, anchor ("manual",
    // "onSectionEnter", "barsBeforeSectionEnd", "barsAfterStart"), bars, summary, selected ("none
    // selected" / "2 selected"), states: [0 unchanged, 1 IN, 2 OUT] per layer, patches: [{id,
    // port, channel, program}], ccs: [{id, port, channel, cc, value}], hasTrigger, triggerText,
    // triggerHelp, triggerConnected, listening.
    Q_PROPERTY(strata::RowListModel* moments READ moments CONSTANT)
    // Whether a trigger is being learned (for any control): Escape then ends the learn.
    Q_PROPERTY(bool learning READ learning NOTIFY changed)

public:
    MomentsEditorModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                       QObject* parent = nullptr);
    ~MomentsEditorModel() override;

    bool open() const;
    QString sectionName() const;
    RowListModel* layers() { return &layers_; }
    QStringList ports() const;
    RowListModel* moments() { return &moments_; }
    bool learning() const;

    // Opens the editor for the section of the current song with that id.
    Q_INVOKABLE void openFor(const QString& sectionID);
    Q_INVOKABLE void close();

    Q_INVOKABLE void addMoment();
    Q_INVOKABLE void deleteMoment(const QString& momentID);
    // TEST: fires the Moment now and sends its patch and CC messages.
    Q_INVOKABLE void test(const QString& momentID);

    // A hand-fired Moment's trigger control: a click learns the next MIDI press for the Moment
    // (a click while it listens stops listening); the other entry forgets the trigger.
    Q_INVOKABLE void triggerClicked(const QString& momentID);
    Q_INVOKABLE void clearTrigger(const QString& momentID);
    Q_INVOKABLE void cancelLearning();

    Q_INVOKABLE void setName(const QString& momentID, const QString& name);
    Q_INVOKABLE void setAnchor(const QString& momentID, const QString& kind);
    Q_INVOKABLE void setBars(const QString& momentID, int bars);
    // 0 unchanged, 1 IN, 2 OUT.
    Q_INVOKABLE void setLayerState(const QString& momentID, const QString& layerID, int state);
    Q_INVOKABLE void solo(const QString& momentID, const QString& layerID);

    // A new row goes to the port the rows of its kind already use (see default_ports.h), else to
    // none.
    Q_INVOKABLE void addPatch(const QString& momentID);
    Q_INVOKABLE void removePatch(const QString& momentID, const QString& patchID);
    // field: "port", "channel" or "program".
    Q_INVOKABLE void setPatch(const QString& momentID, const QString& patchID, const QString& field,
                              const QVariant& value);
    Q_INVOKABLE void addCC(const QString& momentID);
    Q_INVOKABLE void removeCC(const QString& momentID, const QString& ccID);
    // field: "port", "channel", "cc" or "value".
    Q_INVOKABLE void setCC(const QString& momentID, const QString& ccID, const QString& field,
                           const QVariant& value);

Q_SIGNALS:
    // Once after an operation that changed one of the properties other than the lists.
    void changed();

private:
    void refresh();
    std::vector<RowListModel::Row> buildMoments() const;

    AppState& state_;
    MidiService& midi_;
    LiveCoordinator& live_;
    // The binding to the open section's Moments; none while closed.
    std::unique_ptr<MomentsBinding> binding_;
    RowListModel layers_;
    RowListModel moments_;
    // The properties' values as last announced.
    QVariantList shown_;
    ConnectionBag connections_;
};

} // namespace strata
