#pragma once

#include "moments_editor_model.h"
#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace strata {

class AppState;
class LiveCoordinator;
class MidiService;

// What the section grid shows of the current song, and the edits it makes. Sections and steps
// are addressed by their index in the current song, as shown; every property changes with
// `changed`, once per AppState operation (and when trigger learning starts or ends). Main thread
// only.
class SectionGridModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool hasSong READ hasSong NOTIFY changed)
    Q_PROPERTY(QString songName READ songName NOTIFY changed)
    Q_PROPERTY(bool isPro READ isPro NOTIFY changed)
    // The effective position: in Essentials the step is always the section's first.
    Q_PROPERTY(int currentSection READ currentSection NOTIFY changed)
    Q_PROPERTY(int currentStep READ currentStep NOTIFY changed)
    // Steps of the current section (0 without one).
    Q_PROPERTY(int currentStepCount READ currentStepCount NOTIFY changed)
    // The visible layers, one column each: {id, name, channel}.
    Q_PROPERTY(QVariantList columns READ columns NOTIFY changed)
    // The current song's sections: {id, name, momentCount, jumpText, jumpHelp, hasJumpTrigger,
    // jumpConnected (its device is plugged in), listening, rows: [{number, badge, badgeHelp,
    // badgeClickable, momentary, canMomentary, cells: [bool]}]}. In Essentials a section shows its
    // main step only.
    Q_PROPERTY(QVariantList sections READ sections NOTIFY changed)
    Q_PROPERTY(MomentsEditorModel* momentsEditor READ momentsEditor CONSTANT)

public:
    SectionGridModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                     QObject* parent = nullptr);

    bool hasSong() const;
    QString songName() const;
    bool isPro() const;
    int currentSection() const;
    int currentStep() const;
    int currentStepCount() const;
    QVariantList columns() const;
    QVariantList sections() const;
    MomentsEditorModel* momentsEditor() { return &moments_; }

    // Header.
    Q_INVOKABLE void renameSong(const QString& name);
    Q_INVOKABLE void addSection();
    Q_INVOKABLE void addStepToCurrentSection();

    // Sections.
    Q_INVOKABLE void renameSection(int section, const QString& name);
    Q_INVOKABLE void duplicateSection(int section);
    Q_INVOKABLE void moveSectionUp(int section);
    Q_INVOKABLE void moveSectionDown(int section);
    Q_INVOKABLE void deleteSection(int section);

    // Rows.
    Q_INVOKABLE void selectRow(int section, int step);
    Q_INVOKABLE void toggleCell(int section, int step, int column);
    Q_INVOKABLE void cycleBadge(int section, int step);
    Q_INVOKABLE void addStep(int section);
    Q_INVOKABLE void deleteStep(int section, int step);
    Q_INVOKABLE void toggleMomentary(int section, int step);

    // The jump-trigger chip: starts learning for the section (a second click while it listens
    // stops listening); the chip's menu clears the trigger.
    Q_INVOKABLE void jumpChipClicked(int section);
    Q_INVOKABLE void clearJumpTrigger(int section);

    // The Moments chip.
    Q_INVOKABLE void editMoments(int section);

Q_SIGNALS:
    void changed();

private:
    QVariantList buildSections() const;
    // Drops what was built for the old state and tells the views.
    void refresh();

    AppState& state_;
    MidiService& midi_;
    LiveCoordinator& live_;
    MomentsEditorModel moments_;
    // Every row's delegate reads `sections`; it is built once per change.
    mutable std::optional<QVariantList> sections_;
    ConnectionBag connections_;
};

} // namespace strata
