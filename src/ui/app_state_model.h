#pragma once

#include "platform/signal.h"
#include "row_list_model.h"
#include "undo_model.h"

#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <cstdint>

// Qt's moc (6.4) cannot read the C++20 headers the core uses; the core types stay forward-declared
// in every header it reads.
namespace strata {

class AppState;

// What the window shows of the performance state, re-published for QML. After each AppState
// operation each signal fires once if one of its properties changed, and not at all otherwise:
// a change of section announces the position and the mix, never the set. Main thread only.
class AppStateModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool isPro READ isPro NOTIFY setChanged)
    Q_PROPERTY(bool stageMode READ stageMode NOTIFY setChanged)
    Q_PROPERTY(QString setName READ setName NOTIFY setChanged)
    Q_PROPERTY(QString songName READ songName NOTIFY songChanged)
    Q_PROPERTY(int songIndex READ songIndex NOTIFY songChanged)
    Q_PROPERTY(int songCount READ songCount NOTIFY setChanged)
    Q_PROPERTY(QStringList songNames READ songNames NOTIFY setChanged)
    Q_PROPERTY(bool hasSection READ hasSection NOTIFY positionChanged)
    Q_PROPERTY(QString sectionName READ sectionName NOTIFY positionChanged)
    Q_PROPERTY(int sectionIndex READ sectionIndex NOTIFY positionChanged)
    Q_PROPERTY(bool hasNextSection READ hasNextSection NOTIFY positionChanged)
    Q_PROPERTY(QString nextSectionName READ nextSectionName NOTIFY positionChanged)
    Q_PROPERTY(int stepIndex READ stepIndex NOTIFY positionChanged)
    Q_PROPERTY(int stepCount READ stepCount NOTIFY positionChanged)
    // The layers shown and driven in this feature level; roles name, channel, playing.
    Q_PROPERTY(strata::RowListModel* layers READ layers CONSTANT)
    // Names of the shown layers that sound now, in stored order.
    Q_PROPERTY(QStringList playingLayers READ playingLayers NOTIFY mixChanged)
    Q_PROPERTY(bool momentActive READ momentActive NOTIFY positionChanged)
    Q_PROPERTY(bool mackieMode READ mackieMode NOTIFY setChanged)
    // The mode menu's title: "Mackie Control" or "CC Mute (MIDI Learn)".
    Q_PROPERTY(QString controlModeTitle READ controlModeTitle NOTIFY setChanged)
    // Whether the set's DAW host is Ardour (Logic Pro / MainStage otherwise).
    Q_PROPERTY(bool ardourHost READ ardourHost NOTIFY setChanged)
    // The stored Mackie output port; empty when none is chosen (the main surface is used).
    Q_PROPERTY(QString mackiePort READ mackiePort NOTIFY setChanged)
    Q_PROPERTY(int bankOffset READ bankOffset NOTIFY setChanged)
    // "TRK 1–8".
    Q_PROPERTY(QString bankLabel READ bankLabel NOTIFY setChanged)
    Q_PROPERTY(bool canBankDown READ canBankDown NOTIFY setChanged)
    Q_PROPERTY(bool canBankUp READ canBankUp NOTIFY setChanged)
    // Undo and redo of the set, for every view that edits it (EditField's `history`).
    Q_PROPERTY(strata::UndoModel* undo READ undo CONSTANT)

public:
    // The bank stepper's range: 32 banks of 8 tracks.
    static constexpr std::int64_t kMaxStepperOffset = 248;

    explicit AppStateModel(AppState& state, QObject* parent = nullptr);

    AppState& state() const { return state_; }
    UndoModel* undo() const { return undo_; }

    bool isPro() const;
    bool stageMode() const;
    QString setName() const;
    QString songName() const;
    int songIndex() const;
    int songCount() const;
    QStringList songNames() const;
    bool hasSection() const;
    QString sectionName() const;
    int sectionIndex() const;
    bool hasNextSection() const;
    QString nextSectionName() const;
    int stepIndex() const;
    int stepCount() const;
    RowListModel* layers() { return &layers_; }
    QStringList playingLayers() const;
    bool momentActive() const;
    bool mackieMode() const;
    QString controlModeTitle() const;
    bool ardourHost() const;
    QString mackiePort() const;
    int bankOffset() const;
    QString bankLabel() const;
    bool canBankDown() const;
    bool canBankUp() const;

    // "TRK 249–256" for 248: the first and last track of the bank at `offset`.
    static QString bankLabelFor(std::int64_t offset);

    Q_INVOKABLE void advance();
    Q_INVOKABLE void retreat();
    Q_INVOKABLE void nextStep();
    Q_INVOKABLE void prevStep();
    Q_INVOKABLE void setStageMode(bool on);
    Q_INVOKABLE void toggleStageMode();

Q_SIGNALS:
    void setChanged();
    void songChanged();
    void positionChanged();
    void mixChanged();

private:
    // Brings the layer rows in step and tells of each group of properties that changed.
    void refresh();

    AppState& state_;
    UndoModel* undo_;
    RowListModel layers_;
    // What each signal last announced: its properties' values.
    QVariantList set_;
    QVariantList song_;
    QVariantList position_;
    QVariantList mix_;
    ConnectionBag connections_;
};

} // namespace strata
