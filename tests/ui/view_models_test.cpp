// The view models over the real core objects, for what the QML tests cannot see well: the lights'
// timers, their signal counts and the map folder on disk.
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

TEST_F(ViewModels, BandRemoteSheetEditsTheSetupAndDrawsTheLinkAsAQrCode) {
    RemoteModel& remote = ui().remote;
    EXPECT_FALSE(remote.webEnabled());
    EXPECT_TRUE(remote.viewerLink().endsWith(QString::fromStdString(rig.remoteHub->viewerToken())));
    // A version 3 or larger code, square, with the finder pattern's dark corner.
    ASSERT_GE(remote.qrSize(), 29);
    ASSERT_EQ(remote.qrModules().size(), remote.qrSize() * remote.qrSize());
    EXPECT_TRUE(remote.qrModules().front().toBool());
    const auto before = remote.qrModules();

    QSignalSpy changed(&remote, &RemoteModel::changed);
    remote.setWebEnabled(true);
    remote.setWebPort(80); // below what a user may open: the lowest usable port
    remote.setOscAllowed(QStringLiteral("127.0.0.1, stage-pc  10.0.0.2,"));
    EXPECT_GE(changed.count(), 3);
    const RemoteConfig config = rig.remoteHub->config();
    EXPECT_TRUE(config.webEnabled);
    EXPECT_EQ(config.webPort, 1024);
    EXPECT_EQ(config.oscAllowed, (std::vector<std::string>{"127.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(remote.oscAllowed(), QStringLiteral("127.0.0.1, 10.0.0.2"));

    // A new link draws a new code.
    remote.renewLink();
    EXPECT_NE(remote.qrModules(), before);
}

} // namespace
} // namespace strata::testing
