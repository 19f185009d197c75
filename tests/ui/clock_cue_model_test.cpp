// The cue area and the time-source choice with MIDI clock, over the real core objects on virtual
// time: a DAW's clock source sends into the in-memory MIDI system.

#include "setup_guide_content.h"
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

TEST(ClockGuide, EachHostSaysHowItSendsClockAndWhereToChooseIt) {
    for (const HostChoice host : allHostChoices) {
        SCOPED_TRACE(std::string(rawValue(host)));
        const auto steps = clockSteps(host);
        ASSERT_EQ(steps.size(), 3u);
        EXPECT_NE(steps[0].title.find(rawValue(host)), std::string::npos);
        EXPECT_NE(steps[1].detail.find("TIME SOURCE"), std::string::npos);
    }
}

} // namespace
} // namespace strata::testing
