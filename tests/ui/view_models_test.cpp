// The view models over the real core objects: what the toolbar, the stage view and the first-run
// flow show and do. Virtual time throughout.

#include "ui_rig.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

using Bytes = MemoryMidiSystem::Bytes;

// A Mackie button press as the DAW hears it.
bool heardPress(const std::vector<Bytes>& heard, std::uint8_t note) {
    return std::find(heard.begin(), heard.end(), Bytes{0x90, note, 0x7F}) != heard.end();
}
constexpr std::uint8_t kBankRight = 0x2F;

class ViewModels : public ::testing::Test {
protected:
    // A returning user's window on screen: the coordinator has sent the first mute state, and the
    // lights it lit have gone dark again.
    ViewModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.state->setSetlist(UiRig::demoSet());
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

TEST_F(ViewModels, TriggerLabelFollowsLearningThenTheLearnedTriggerThenClearing) {
    EXPECT_EQ(ui().midi.triggerLabel(), "SET TRIGGER");

    ui().midi.learnNextTrigger();
    EXPECT_EQ(ui().midi.triggerLabel(), QStringLiteral("LISTENING\u2026"));
    ASSERT_TRUE(rig.state->learnTarget().has_value());
    EXPECT_EQ(rig.state->learnTarget()->kind, AppState::LearnTarget::Kind::next);

    rig.pressNote("fcb1010 Pedal", 64);
    EXPECT_FALSE(ui().midi.learning());
    EXPECT_EQ(ui().midi.triggerLabel(), QStringLiteral("NOTE 64 \u00B7 FCB1010 PEDAL"));
    EXPECT_TRUE(rig.settings.contains(MidiService::kAdvanceTriggerKey));

    ui().midi.clearNextTrigger();
    EXPECT_EQ(ui().midi.triggerLabel(), "SET TRIGGER");
    EXPECT_FALSE(rig.settings.contains(MidiService::kAdvanceTriggerKey));
    EXPECT_EQ(rig.service->footswitchSource(), 0u);
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

TEST_F(ViewModels, SwitchingToProResendsTheMuteStateAtOnce) {
    // The default set drives the DAW as a Mackie surface on "Strata".
    rig.state->setSetlist(Setlist::empty());
    rig.settle();
    rig.clearHeard();

    ui().live.setPro(true);
    rig.settle();
    EXPECT_TRUE(ui().appState.isPro());
    EXPECT_EQ(rig.settings.stringValue(AppState::kModeKey), "pro");
    const auto heard = rig.heard();
    ASSERT_FALSE(heard.empty()) << "no key watcher needed: the switch itself sends";
    EXPECT_TRUE(heardPress(heard, 0x2E)) << "the shadow was reset, so the bank is placed again";
}

TEST_F(ViewModels, AllOnClearsTheMomentAndUnmutesEverythingInTheDaw) {
    ui().live.setControlMode("mackieControl");
    rig.fireMoment(); // the piano goes out
    rig.advance(seconds(1));
    EXPECT_TRUE(ui().appState.momentActive());
    rig.clearHeard();

    ui().live.allOn();
    rig.settle();
    EXPECT_FALSE(ui().appState.momentActive());
    EXPECT_FALSE(rig.heard().empty());
}

TEST_F(ViewModels, BankStepperStaysWithinTheFirst32BanksAndLabelsTheTracks) {
    ui().live.setControlMode("mackieControl");
    EXPECT_EQ(ui().appState.bankLabel(), QStringLiteral("TRK 1\u20138"));
    EXPECT_FALSE(ui().appState.canBankDown());

    ui().live.stepBank(-1);
    EXPECT_EQ(ui().appState.bankOffset(), 0);
    EXPECT_FALSE(rig.state->setlist().mackieTrackOffset.has_value()) << "nothing written";

    rig.clearHeard();
    ui().live.stepBank(1);
    rig.settle();
    EXPECT_EQ(rig.state->setlist().mackieTrackOffset, 8);
    EXPECT_TRUE(heardPress(rig.heard(), kBankRight)) << "each step moves the surface at once";

    for (int i = 0; i < 40; ++i)
        ui().live.stepBank(1);
    EXPECT_EQ(ui().appState.bankOffset(), 248);
    EXPECT_EQ(ui().appState.bankLabel(), QStringLiteral("TRK 249\u2013256"));
    EXPECT_FALSE(ui().appState.canBankUp());

    // An offset stored beyond the stepper's range: shown as it is, and the first step left brings
    // it back into range; a step right never lowers it.
    rig.state->updateSetlist([](Setlist& set) {
        set.mackieTrackOffset = 403;
        return true;
    });
    EXPECT_EQ(ui().appState.bankLabel(), QStringLiteral("TRK 401\u2013408"));
    ui().live.stepBank(1);
    EXPECT_EQ(rig.state->setlist().mackieTrackOffset, 403);
    ui().live.stepBank(-1);
    EXPECT_EQ(rig.state->setlist().mackieTrackOffset, 248);
}

TEST_F(ViewModels, ControlModeAndPortChoicesAreStoredAndResent) {
    ui().live.setControlMode("mackieControl");
    EXPECT_TRUE(ui().appState.mackieMode());
    EXPECT_EQ(ui().appState.controlModeTitle(), "Mackie Control");
    ui().live.setControlMode("bogus");
    EXPECT_EQ(rig.state->setlist().controlMode, ControlMode::mackieControl);

    ui().live.setMackiePort("IAC Bus 2");
    EXPECT_EQ(rig.state->setlist().mackiePort, "IAC Bus 2");
    ui().live.setMackiePort("");
    EXPECT_FALSE(rig.state->setlist().mackiePort.has_value());

    rig.clearHeard();
    ui().live.setControlMode("mackieControl");
    rig.settle();
    EXPECT_FALSE(rig.heard().empty()) << "choosing a mode resends even when it is unchanged";

    ui().live.setControlMode("ccMute");
    EXPECT_EQ(ui().appState.controlModeTitle(), "CC Mute (MIDI Learn)");
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

TEST_F(ViewModels, StageShowsTheDrivenLayersThatPlayNextSectionAndEnd) {
    rig.state->setCurrentSectionIndex(0);
    EXPECT_EQ(ui().appState.sectionName(), "Intro");
    EXPECT_EQ(ui().appState.nextSectionName(), "Verse 1");
    EXPECT_EQ(ui().appState.playingLayers(), QStringList{"Piano"});

    rig.state->setCurrentSectionIndex(6);
    EXPECT_FALSE(ui().appState.hasNextSection());

    // Twelve layers in Essentials: only the eight the level drives can be shown as playing.
    rig.state->updateSetlist([](Setlist& set) {
        while (set.layers.size() < 12) {
            Layer extra;
            extra.name = "Extra " + std::to_string(set.layers.size() + 1);
            set.layers.push_back(extra);
        }
        return true;
    });
    EXPECT_EQ(ui().appState.playingLayers().size(), 8);
    ui().live.setPro(true);
    EXPECT_EQ(ui().appState.playingLayers().size(), 12);
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

TEST(FirstRunChooser, ContinueLeadsIntoTheSetupGuideButClosingOtherwiseDoesNot) {
    UiRig rig;
    ShellModel& shell = rig.models->shell;
    shell.mainViewAppeared();
    ASSERT_TRUE(shell.showModeChooser());
    shell.continueFromChooser();
    EXPECT_FALSE(shell.showModeChooser());
    EXPECT_FALSE(shell.showSetup()) << "the guide follows after the current event";
    rig.loop.runPending();
    EXPECT_TRUE(shell.showSetup());

    rig.start();
    rig.models->shell.mainViewAppeared();
    rig.models->shell.setShowModeChooser(false); // Escape
    rig.loop.runPending();
    EXPECT_FALSE(rig.models->shell.showSetup());
}

TEST(FirstRunChooser, CheckboxStoresTheNegatedPreference) {
    UiRig rig;
    ShellModel& shell = rig.models->shell;
    EXPECT_TRUE(shell.chooserAtStartup());
    shell.setChooserAtStartup(false);
    EXPECT_EQ(rig.settings.boolValue(LiveCoordinator::kShowModeChooserKey), false);
    shell.setChooserAtStartup(true);
    EXPECT_EQ(rig.settings.boolValue(LiveCoordinator::kShowModeChooserKey), true);
}

} // namespace
} // namespace strata::testing
