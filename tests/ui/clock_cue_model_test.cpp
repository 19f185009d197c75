// The cue area and the time-source choice with MIDI clock, over the real core objects on virtual
// time: a DAW's clock source sends into the in-memory MIDI system.

#include "support/timeline_session.h"
#include "ui_rig.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

class ClockCue : public ::testing::Test {
protected:
    ClockCue() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.app->setSetlist(UiRig::demoSet());
        daw = rig.midi.addSource("DAW Clock");
        rig.midi.notifySetupChanged();
        rig.settle();
        rig.models->shell.mainViewAppeared();
        rig.settle();
    }
    CueModel& cue() { return rig.models->cue; }
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

// A hardware port on JACK is numbered afresh at every plug-in; the set keeps its device, as a
// learned trigger does, and follows its clock under the new number.
TEST_F(ClockCue, AChosenSourceIsStoredAsItsDeviceAndFollowedUnderANewNumber) {
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

TEST_F(ClockCue, CaptionShowsTheClocksStateAndTempoAndCadenzoStaysAsItWas) {
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
    };
    for (const Row& row : rows) {
        row.act();
        EXPECT_EQ(cue().caption(), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_EQ(cue().connected(), row.connected) << row.name;
    }

    cue().setTimeSource(QStringLiteral("cadenzo"));
    cue().setTimeSource(QStringLiteral("ltc")); // not a source here: ignored
    rig.settle();
    EXPECT_EQ(cue().caption(), QStringLiteral("CUE \u00B7 FOH-Mac"));
    EXPECT_FALSE(rig.app->setlist().timeSource);
}

TEST_F(ClockCue, CaptionShowsLinksPeersStateAndTempo) {
    cue().setTimeSource(QStringLiteral("link"));
    rig.settle();
    EXPECT_TRUE(cue().linkSource());
    EXPECT_FALSE(cue().clockSource());
    EXPECT_EQ(rig.app->setlist().timeSource, TimeSource::link);
    // No session to join (no platform session given): offline.
    EXPECT_EQ(cue().caption(), QStringLiteral("LINK \u00B7 OFFLINE"));
    EXPECT_FALSE(cue().connected());

    TimelineSession session(rig.loop);
    rig.live->setBeatSession(&session);
    rig.settle();
    struct Row {
        const char* name;
        std::function<void()> act;
        const char* caption;
    };
    const std::vector<Row> rows{
        {"alone", [] {}, "LINK \u00B7 0 peers \u00B7 STOPPED \u00B7 120 BPM"},
        {"one peer", [&] { session.setPeers(1); },
         "LINK \u00B7 1 peer \u00B7 STOPPED \u00B7 120 BPM"},
        {"playing", [&] { session.startAt(0); }, "LINK \u00B7 1 peer \u00B7 120 BPM"},
        {"three peers, a new tempo",
         [&] {
             session.setPeers(3);
             session.setTempo(96.4);
         },
         "LINK \u00B7 3 peers \u00B7 96 BPM"},
    };
    for (const Row& row : rows) {
        row.act();
        rig.settle();
        EXPECT_EQ(cue().caption(), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_TRUE(cue().connected()) << row.name;
    }
    cue().setTimeSource(QStringLiteral("cadenzo"));
    rig.settle();
    EXPECT_FALSE(cue().linkSource());
    EXPECT_FALSE(session.enabled());
    rig.live->setBeatSession(nullptr);
}

} // namespace
} // namespace strata::testing
