// The view models over the real core objects, for what the QML tests cannot see well: the lights'
// timers, their signal counts, the map folder on disk, the band remote's setup, and the cue area
// with the time sources (a DAW's clock source sends into the in-memory MIDI system).
// Virtual time throughout.

#include "support/timeline_session.h"
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
        daw = rig.midi.addSource("DAW Clock");
        rig.midi.notifySetupChanged();
        rig.settle();
        rig.models->shell.mainViewAppeared();
        rig.advance(seconds(5));
    }
    UiModels& ui() { return *rig.models; }
    CueModel& cue() { return rig.models->cue; }
    // MIDI clock bytes from the DAW, each after a clock tick's time at `bpm`.
    void send(std::uint8_t status, int times = 1, double bpm = 124) {
        for (int i = 0; i < times; ++i) {
            rig.advance(std::chrono::microseconds(static_cast<long>(60.0e6 / bpm / 24 + 0.5)));
            rig.midi.sendFromSource(daw, {{status}});
            rig.settle();
        }
    }
    UiRig rig;
    MidiRef daw = 0;
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

// The MIDI light goes dark 400 ms after the last byte out, the DAW light 3 s after the last
// feedback, each new stamp counting from its own time; while dark, no timer runs.
TEST_F(ViewModels, LightsGoDarkAfterTheirTimeAndNoTimerRunsWhileDark) {
    QSignalSpy changes(&ui().midi, &MidiModel::lightsChanged);
    EXPECT_FALSE(ui().midi.midiLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());

    rig.service->noteTx();
    rig.service->noteMackieRx();
    rig.settle();
    EXPECT_TRUE(ui().midi.midiLit());
    EXPECT_TRUE(ui().midi.dawLit());
    EXPECT_TRUE(ui().midi.lightTimerArmed());
    rig.advance(std::chrono::milliseconds(399));
    EXPECT_TRUE(ui().midi.midiLit());
    rig.advance(std::chrono::milliseconds(1));
    EXPECT_FALSE(ui().midi.midiLit());

    rig.advance(std::chrono::milliseconds(1600));
    rig.service->noteMackieRx();
    rig.settle();
    rig.advance(seconds(2.9));
    EXPECT_TRUE(ui().midi.dawLit()) << "the second stamp counts from its own time";
    rig.advance(seconds(0.1));
    EXPECT_FALSE(ui().midi.dawLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());
    EXPECT_EQ(changes.count(), 4); // each light lit once and dark once

    // Idle: a minute passes without a single re-evaluation.
    rig.advance(seconds(60));
    EXPECT_EQ(changes.count(), 4);
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

// A hardware port on JACK is numbered afresh at every plug-in; the set keeps its device, as a
// learned trigger does, and follows its clock under the new number.
TEST_F(ViewModels, AChosenSourceIsStoredAsItsDeviceAndFollowedUnderANewNumber) {
    const MidiRef first = rig.midi.addSource("system:midi_capture_3");
    rig.midi.setAliases(first, {"alsa_pcm:FCB1010/midi_capture_1"});
    rig.midi.notifySetupChanged();
    rig.settle();
    cue().setTimeSource(QStringLiteral("midiClock"));
    cue().setClockDevice(QStringLiteral("system:midi_capture_3"));
    rig.settle();
    EXPECT_EQ(rig.app->setlist().clockDevice, "alsa_pcm:FCB1010/midi_capture_1");
    EXPECT_EQ(cue().clockDevice(), QStringLiteral("system:midi_capture_3"));

    rig.midi.removeEndpoint(first);
    rig.midi.addSource("system:midi_capture_3"); // another device took the old number
    daw = rig.midi.addSource("system:midi_capture_1");
    rig.midi.setAliases(daw, {"alsa_pcm:FCB1010/midi_capture_1"});
    rig.midi.notifySetupChanged();
    rig.settle();
    EXPECT_EQ(cue().clockDevice(), QStringLiteral("system:midi_capture_1"));
    send(0xFA);
    send(0xF8, 48);
    EXPECT_TRUE(cue().connected());
    EXPECT_EQ(cue().caption(), QStringLiteral("CLOCK \u00B7 124 BPM"));
}

// The cue caption for each time source: Cadenzo's host, the clock's state and tempo, Link's peers,
// state and tempo; leaving a source brings Cadenzo back as it was.
TEST_F(ViewModels, CaptionShowsEachTimeSourcesStateAndTempo) {
    rig.cueHello("FOH-Mac");
    EXPECT_EQ(cue().caption(), QStringLiteral("CUE \u00B7 FOH-Mac"));
    EXPECT_FALSE(cue().clockSource());
    EXPECT_TRUE(cue().clockDevices().contains(QStringLiteral("DAW Clock")));

    QSignalSpy sourceChanges(&cue(), &CueModel::sourceChanged);
    cue().setTimeSource(QStringLiteral("midiClock"));
    cue().setClockDevice(QStringLiteral("DAW Clock"));
    rig.settle();
    EXPECT_TRUE(cue().clockSource());
    EXPECT_EQ(cue().clockDevice(), QStringLiteral("DAW Clock"));
    EXPECT_GE(sourceChanges.count(), 2);
    EXPECT_EQ(rig.app->setlist().clockDevice, "DAW Clock");

    TimelineSession session(rig.loop);
    const auto link = [&] {
        cue().setTimeSource(QStringLiteral("link"));
        rig.settle();
        EXPECT_TRUE(cue().linkSource());
        EXPECT_FALSE(cue().clockSource());
        EXPECT_EQ(rig.app->setlist().timeSource, TimeSource::link);
    };
    struct Row {
        const char* name;
        std::function<void()> act;
        const char* caption;
        bool connected;
    };
    const std::vector<Row> rows{
        {"nothing heard", [] {}, "CLOCK \u00B7 OFFLINE", false},
        {"clocks while stopped", [&] { send(0xF8, 30); }, "CLOCK \u00B7 STOPPED \u00B7 124 BPM",
         true},
        {"playing", [&] { send(0xFA), send(0xF8, 48); }, "CLOCK \u00B7 124 BPM", true},
        {"a new tempo, one beat on", [&] { send(0xF8, 24, 90); }, "CLOCK \u00B7 90 BPM", true},
        {"two seconds of silence", [&] { rig.advance(std::chrono::seconds(2)); },
         "CLOCK \u00B7 OFFLINE", false},
        // No session to join (no platform session given): offline.
        {"Link without a session", link, "LINK \u00B7 OFFLINE", false},
        {"alone", [&] { rig.live->setBeatSession(&session); },
         "LINK \u00B7 0 peers \u00B7 STOPPED \u00B7 120 BPM", true},
        {"one peer", [&] { session.setPeers(1); },
         "LINK \u00B7 1 peer \u00B7 STOPPED \u00B7 120 BPM", true},
        {"Link playing", [&] { session.startAt(0); }, "LINK \u00B7 1 peer \u00B7 120 BPM", true},
        {"three peers, a new tempo",
         [&] {
             session.setPeers(3);
             session.setTempo(96.4);
         },
         "LINK \u00B7 3 peers \u00B7 96 BPM", true},
    };
    for (const Row& row : rows) {
        row.act();
        rig.settle();
        EXPECT_EQ(cue().caption(), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_EQ(cue().connected(), row.connected) << row.name;
    }

    cue().setTimeSource(QStringLiteral("cadenzo"));
    cue().setTimeSource(QStringLiteral("ltc")); // not a source here: ignored
    rig.settle();
    EXPECT_EQ(cue().caption(), QStringLiteral("CUE \u00B7 FOH-Mac"));
    EXPECT_FALSE(rig.app->setlist().timeSource);
    EXPECT_FALSE(cue().linkSource());
    EXPECT_FALSE(session.enabled());
    rig.live->setBeatSession(nullptr);
}

} // namespace
} // namespace strata::testing
