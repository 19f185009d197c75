#pragma once

#include "moments_editor_model.h"
#include "platform/signal.h"
#include "row_list_model.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class AppState;
class LiveCoordinator;
class MidiService;

// What the section grid shows of the current song, and the edits it makes. Sections and steps
// are addressed by their index in the current song, as shown. After each AppState operation (and
// when trigger learning starts or ends, or a device comes or goes) the lists update only the rows
// whose values changed and each signal fires only when one of its properties did: moving from
// section to section changes the position and nothing else. Main thread only.
class SectionGridModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool hasSong READ hasSong NOTIFY songChanged)
    Q_PROPERTY(QString songName READ songName NOTIFY songChanged)
    Q_PROPERTY(bool isPro READ isPro NOTIFY songChanged)
    // The effective position: in Essentials the step is always the section's first.
    Q_PROPERTY(int currentSection READ currentSection NOTIFY positionChanged)
    Q_PROPERTY(int currentStep READ currentStep NOTIFY positionChanged)
    // Steps of the current section (0 without one).
    Q_PROPERTY(int currentStepCount READ currentStepCount NOTIFY positionChanged)
    // The visible layers, one column each; roles id, name, channel.
    Q_PROPERTY(strata::RowListModel* columns READ columns CONSTANT)
    // The current song's sections; roles id, name, stepCount, momentCount, jumpText, jumpHelp,
    // hasJumpTrigger, jumpConnected (its device is plugged in), listening, and rows: [{number,
    // badge, badgeHelp, badgeClickable, momentary, canMomentary, cells: [bool]}]. In Essentials a
    // section shows its main step only.
    Q_PROPERTY(strata::RowListModel* sections READ sections CONSTANT)
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
    RowListModel* columns() { return &columns_; }
    RowListModel* sections() { return &sections_; }
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
    void songChanged();
    void positionChanged();

private:
    std::vector<RowListModel::Row> buildColumns() const;
    std::vector<RowListModel::Row> buildSections() const;
    // Brings the lists and properties in step with the state, telling the views what changed.
    void refresh();

    AppState& state_;
    MidiService& midi_;
    LiveCoordinator& live_;
    MomentsEditorModel moments_;
    RowListModel columns_;
    RowListModel sections_;
    // What the signals last announced.
    QVariantList song_;
    QVariantList position_;
    ConnectionBag connections_;
};

} // namespace strata
