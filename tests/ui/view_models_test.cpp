// The view models over the real core objects, for what the QML tests cannot see well: the lights'
// timers, signal counts, the map folder on disk and the first-run flags the coordinator keeps.
// Virtual time throughout.

#include "ui_rig.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

class ViewModels : public ::testing::Test {
protected:
    // A returning user's window on screen: the coordinator has sent the first mute state, and the
    // lights it lit have gone dark again.
    ViewModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.app->setSetlist(UiRig::demoSet());
        rig.settle();
        rig.models->shell.mainViewAppeared();
        rig.advance(seconds(5));
    }
    UiModels& ui() { return *rig.models; }
    UiRig rig;
};

TEST_F(ViewModels, MapFolderIsTheNewestArdoursMidiMapsOrTheConfigurationFolder) {
    QStandardPaths::setTestModeEnabled(true);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QDir(config + "/ardour7").removeRecursively();
    QDir(config + "/ardour10").removeRecursively();
    ASSERT_TRUE(QDir().mkpath(config));
    EXPECT_EQ(ui().live.ardourMapFolder(), QUrl::fromLocalFile(config));

    ASSERT_TRUE(QDir().mkpath(config + "/ardour7"));
    ASSERT_TRUE(QDir().mkpath(config + "/ardour10"));
    // By version number, not by name; the folder is made when Ardour has not made it yet.
    EXPECT_EQ(ui().live.ardourMapFolder(), QUrl::fromLocalFile(config + "/ardour10/midi_maps"));
    EXPECT_TRUE(QDir(config + "/ardour10/midi_maps").exists());
    QDir(config + "/ardour7").removeRecursively();
    QDir(config + "/ardour10").removeRecursively();
    QStandardPaths::setTestModeEnabled(false);
}

TEST_F(ViewModels, MidiLightGoesDarkAfterFourTenthsAndNoTimerRunsWhileDark) {
    QSignalSpy changes(&ui().midi, &MidiModel::lightsChanged);
    EXPECT_FALSE(ui().midi.midiLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());

    rig.service->noteTx();
    rig.settle();
    EXPECT_TRUE(ui().midi.midiLit());
    EXPECT_TRUE(ui().midi.lightTimerArmed());

    rig.advance(std::chrono::milliseconds(399));
    EXPECT_TRUE(ui().midi.midiLit());
    rig.advance(std::chrono::milliseconds(1));
    EXPECT_FALSE(ui().midi.midiLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());
    EXPECT_EQ(changes.count(), 2);

    // Idle: a minute passes without a single re-evaluation.
    rig.advance(seconds(60));
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(ViewModels, DawLightStaysLitThreeSecondsAfterTheLastFeedbackAndNewStampsExtendIt) {
    rig.service->noteMackieRx();
    rig.settle();
    EXPECT_TRUE(ui().midi.dawLit());

    rig.advance(seconds(2.0));
    rig.service->noteMackieRx();
    rig.settle();
    rig.advance(seconds(2.9));
    EXPECT_TRUE(ui().midi.dawLit()) << "the second stamp counts from its own time";
    rig.advance(seconds(0.1));
    EXPECT_FALSE(ui().midi.dawLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());
}

TEST_F(ViewModels, CueIndicatorShowsTheHostWhileConnectedAndOfflineOtherwise) {
    QSignalSpy changes(&ui().cue, &CueModel::connectionChanged);
    EXPECT_FALSE(ui().cue.connected());
    EXPECT_EQ(ui().cue.caption(), QStringLiteral("CUE \u00B7 OFFLINE"));

    rig.cueHello("FOH-Mac");
    rig.cueHello("FOH-Mac");
    EXPECT_TRUE(ui().cue.connected());
    EXPECT_EQ(ui().cue.caption(), QStringLiteral("CUE \u00B7 FOH-Mac"));
    EXPECT_EQ(changes.count(), 1) << "a repeated greeting changes nothing on screen";

    rig.cueGoodbye();
    EXPECT_EQ(ui().cue.caption(), QStringLiteral("CUE \u00B7 OFFLINE"));

    rig.cueHello("Stage Left");
    rig.advance(seconds(12.5));
    EXPECT_FALSE(ui().cue.connected()) << "silence ends the connection";
}

// ---- First run (the coordinator decides; the model shows its flags) ----------------------------

TEST(FirstRunFlags, TheModelFollowsTheCoordinatorsFlagsAndWritesThemBack) {
    UiRig rig;
    rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
    ShellModel& shell = rig.models->shell;
    QSignalSpy quickStart(&shell, &ShellModel::showQuickStartChanged);
    shell.mainViewAppeared();
    EXPECT_FALSE(shell.showModeChooser());
    rig.advance(LiveCoordinator::kQuickStartDelay);
    EXPECT_TRUE(shell.showQuickStart());
    EXPECT_EQ(quickStart.count(), 1);

    shell.setShowQuickStart(false); // the sheet was dismissed
    EXPECT_FALSE(rig.live->showQuickStart());
    shell.setShowSetup(true);
    EXPECT_TRUE(rig.live->showSetup());
}

} // namespace
} // namespace strata::testing
