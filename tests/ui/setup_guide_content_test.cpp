// The setup guide's step lists for every host and mode, with the port names of the running MIDI
// system put into the sentences that name them.

#include "setup_guide_content.h"
#include "ui_rig.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

bool startsWith(const std::string& s, std::string_view prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

TEST(SetupGuide, StepListsForEachHostAndMode) {
    struct Case {
        HostChoice host;
        ModeChoice mode;
        std::size_t count;
        const char* first;
        const char* fourth;
    };
    const GuidePorts ports;
    for (const Case& c : {
             Case{HostChoice::logic, ModeChoice::ccMute, 5, "Switch Strata to CC Mute",
                  "MIDI-Learn each layer's mute in Logic Pro"},
             Case{HostChoice::mainStage, ModeChoice::ccMute, 5, "Switch Strata to CC Mute",
                  "MIDI-Learn each layer's mute in MainStage"},
             Case{HostChoice::logic, ModeChoice::mackie, 6, "Open Logic Pro",
                  "Place your layer tracks at the matching position"},
             Case{HostChoice::mainStage, ModeChoice::mackie, 6, "Open MainStage",
                  "Order your channel strips to match"},
             Case{HostChoice::ardour, ModeChoice::ccMute, 5, "Switch Strata to CC Mute for Ardour",
                  "Load Strata's MIDI map"},
             Case{HostChoice::ardour, ModeChoice::mackie, 6, "Tell Strata it's Ardour",
                  "Place your layer tracks at the matching position"},
         }) {
        SCOPED_TRACE(std::string(rawValue(c.host)) + " / " + std::string(rawValue(c.mode)));
        const auto steps = guideSteps(c.host, c.mode, ports);
        ASSERT_EQ(steps.size(), c.count);
        EXPECT_EQ(steps[0].title, c.first);
        EXPECT_EQ(steps[3].title, c.fourth);
        for (const auto& step : steps) {
            EXPECT_FALSE(step.title.empty());
            EXPECT_FALSE(step.detail.empty());
        }
    }
}

TEST(SetupGuide, CcMuteStepsNameTheHostAndStartTheLearnStepWithItsHint) {
    const auto mainStage = ccMuteSteps(HostChoice::mainStage);
    EXPECT_TRUE(startsWith(mainStage[3].detail,
                           "In MainStage, select the channel strip's Mute button \u2192 click "
                           "\"Learn\" in the inspector. With Learn active,"));
    EXPECT_NE(mainStage[3].detail.find("\u2014 MainStage captures it."), std::string::npos);
    EXPECT_NE(mainStage[4].detail.find("The matching MainStage channel strip"), std::string::npos);

    const auto logic = ccMuteSteps(HostChoice::logic);
    EXPECT_TRUE(startsWith(logic[3].detail, "In Logic, the track's mute button"));
    EXPECT_EQ(closingLine(HostChoice::logic),
              "You're ready. Toggle a layer in the section grid \u2014 Logic Pro should mute or "
              "unmute the matching track in real time.");
}

TEST(SetupGuide, OnePortPerSurfaceReadsAsBothPortsToThatName) {
    const GuidePorts duplex; // ALSA, the in-memory system
    const auto logic = mackieSteps(HostChoice::logic, duplex);
    EXPECT_EQ(logic[2].detail, "In the new control surface panel, set both Input Port and Output "
                               "Port to \"Strata\". Close the Setup window.");
    EXPECT_NE(logic[5].detail.find("Strata publishes a second port, \"Strata XT\", for layers"),
              std::string::npos);
    EXPECT_NE(logic[5].detail.find("and set both its ports to \"Strata XT\". Order it AFTER"),
              std::string::npos);

    const auto mainStage = mackieSteps(HostChoice::mainStage, duplex);
    EXPECT_EQ(mainStage[2].detail, "Set both Input Port and Output Port to \"Strata\".");
    EXPECT_NE(mainStage[5].detail.find("set both ports to \"Strata XT\", and place it after"),
              std::string::npos);
}

TEST(SetupGuide, SeparateFeedbackPortsAreNamedForInputAndOutput) {
    const GuidePorts jack{{"Strata", "Strata feedback"}, {"Strata XT", "Strata XT feedback"}};
    const auto logic = mackieSteps(HostChoice::logic, jack);
    EXPECT_EQ(logic[2].detail, "In the new control surface panel, set Input Port to \"Strata\" and "
                               "Output Port to \"Strata feedback\". Close the Setup window.");
    EXPECT_NE(logic[5].detail.find("set its input port to \"Strata XT\" and its output port to "
                                   "\"Strata XT feedback\". Order it AFTER"),
              std::string::npos);
    const auto mainStage = mackieSteps(HostChoice::mainStage, jack);
    EXPECT_EQ(mainStage[2].detail,
              "Set Input Port to \"Strata\" and Output Port to \"Strata feedback\".");
}

TEST(SetupGuide, ArdourStepsNameItsSettingsAndTheRunningSystemsPorts) {
    struct Case {
        const char* system;
        GuidePorts ports;
        const char* mainPorts;     // the Mackie main surface's row
        const char* extenderPorts; // the extender's row
        const char* generic;       // Generic MIDI's two ports
    };
    for (const Case& c : {
             Case{"one port per surface",
                  {},
                  "set both \"Receives from\" and \"Sends to\" to \"Strata\". Close",
                  "set both \"Receives from\" and \"Sends to\" to \"Strata XT\" there.",
                  "Set \"Incoming MIDI on\" to \"Strata\" and \"Outgoing MIDI on\" to "
                  "\"Strata\", and tick \"Enable Feedback\""},
             Case{"separate feedback ports",
                  {{"Strata", "Strata feedback"}, {"Strata XT", "Strata XT feedback"}},
                  "set \"Receives from\" to \"Strata\" and \"Sends to\" to \"Strata "
                  "feedback\". Close",
                  "set \"Receives from\" to \"Strata XT\" and \"Sends to\" to \"Strata XT "
                  "feedback\" there.",
                  "Set \"Incoming MIDI on\" to \"Strata\" and \"Outgoing MIDI on\" to \"Strata "
                  "feedback\", and tick \"Enable Feedback\""},
         }) {
        SCOPED_TRACE(c.system);
        const auto mackie = guideSteps(HostChoice::ardour, ModeChoice::mackie, c.ports);
        EXPECT_NE(mackie[0].detail.find("pick \"Ardour\" under DAW HOST"), std::string::npos);
        EXPECT_TRUE(startsWith(mackie[1].detail, "Ardour \u2192 Edit \u2192 Preferences "
                                                 "\u2192 Control Surfaces. Tick \"Mackie "
                                                 "Control\""));
        EXPECT_NE(mackie[2].detail.find(c.mainPorts), std::string::npos) << mackie[2].detail;
        EXPECT_NE(mackie[5].detail.find(c.extenderPorts), std::string::npos) << mackie[5].detail;
        EXPECT_NE(mackie[5].detail.find("\"mackie control #2\""), std::string::npos);

        const auto cc = guideSteps(HostChoice::ardour, ModeChoice::ccMute, c.ports);
        EXPECT_NE(cc[0].detail.find("pick \"Ardour\" under DAW HOST"), std::string::npos);
        EXPECT_NE(cc[1].detail.find("set each layer's Port to \"Strata\""), std::string::npos);
        EXPECT_NE(cc[2].detail.find(c.generic), std::string::npos) << cc[2].detail;
        EXPECT_NE(cc[3].detail.find("click \"Save Ardour MIDI map\u2026\""), std::string::npos);
        EXPECT_NE(cc[3].detail.find("under \"MIDI Bindings\""), std::string::npos);
        EXPECT_NE(cc[4].detail.find("pick \"Resync CC mutes\""), std::string::npos);
        // What Strata can and cannot know of Ardour's mutes, and which layer a shared CC drives.
        EXPECT_NE(cc[4].detail.find("Ardour reports a mute only when it changes"),
                  std::string::npos);
        EXPECT_NE(cc[1].detail.find("only the first drives its track"), std::string::npos);
    }
    EXPECT_EQ(modeDescription(HostChoice::ardour, ModeChoice::mackie),
              modeDescription(ModeChoice::mackie));
    EXPECT_NE(modeDescription(HostChoice::ardour, ModeChoice::ccMute).find("MIDI map"),
              std::string::npos);
    EXPECT_EQ(modeDescription(HostChoice::logic, ModeChoice::ccMute),
              modeDescription(ModeChoice::ccMute));
    EXPECT_EQ(closingLine(HostChoice::ardour),
              "You're ready. Toggle a layer in the section grid \u2014 Ardour should mute or "
              "unmute the matching track in real time.");
}

TEST(SetupGuide, OnPipeWireTheLastStepSaysWhereThePortsAppear) {
    GuidePorts ports{{"Strata", "Strata feedback"}, {"Strata XT", "Strata XT feedback"}};
    for (HostChoice host : allHostChoices)
        for (ModeChoice mode : allModeChoices) {
            SCOPED_TRACE(std::string(rawValue(host)) + " / " + std::string(rawValue(mode)));
            ports.pipeWire = false;
            const auto onJack = guideSteps(host, mode, ports);
            ports.pipeWire = true;
            const auto onPipeWire = guideSteps(host, mode, ports);
            ASSERT_EQ(onPipeWire.size(), onJack.size() + 1);
            EXPECT_TRUE(std::equal(onJack.begin(), onJack.end(), onPipeWire.begin()));
            const GuideStep& last = onPipeWire.back();
            EXPECT_EQ(last.title, "On PipeWire: see the ports in a patchbay");
            EXPECT_NE(last.detail.find("PipeWire patchbay (qpwgraph, Helvum or Carla), from "
                                       "\"Strata\" to the DAW's MIDI input"),
                      std::string::npos)
                << last.detail;
            EXPECT_NE(last.detail.find("under \"Midi-Bridge\""), std::string::npos);
            // Only the Mackie surfaces answer back.
            const bool feedback =
                last.detail.find("from the DAW's MIDI output to \"Strata feedback\" (for the "
                                 "extender, \"Strata XT\" and \"Strata XT feedback\"") !=
                std::string::npos;
            EXPECT_EQ(feedback, mode == ModeChoice::mackie) << last.detail;
        }
}

TEST(SetupGuide, ModelStartsAtLogicAndCcMuteAndTakesThePortsFromTheMidiEngine) {
    UiRig rig;
    SetupGuideModel& guide = rig.models->guide;
    EXPECT_EQ(guide.hostLabels(), (QStringList{"Logic Pro", "MainStage", "Ardour"}));
    EXPECT_EQ(guide.modeLabels(), (QStringList{"CC Mute", "Mackie"}));
    EXPECT_EQ(guide.hostLabel(), "Logic Pro");
    EXPECT_EQ(guide.modeLabel(), "CC Mute");

    guide.setMode(1);
    guide.setHost(1);
    guide.setHost(7); // out of range: ignored
    const QVariantList steps = guide.steps();
    ASSERT_EQ(steps.size(), 6);
    EXPECT_EQ(steps[0].toMap()["number"].toInt(), 1);
    EXPECT_EQ(steps[0].toMap()["title"].toString(), "Open MainStage");
    EXPECT_EQ(steps[2].toMap()["detail"].toString(),
              QStringLiteral("Set both Input Port and Output Port to \"Strata\"."));

    guide.reset();
    EXPECT_EQ(guide.host(), 0);
    EXPECT_EQ(guide.mode(), 0);
}

TEST(QuickStart, FiveCardsInOrder) {
    const auto& cards = quickStartCards();
    ASSERT_EQ(cards.size(), 5u);
    const char* icons[] = {"square.grid.3x3.fill", "arrow.left.arrow.right", "list.number",
                           "sparkles", "dot.radiowaves.left.and.right"};
    for (std::size_t i = 0; i < cards.size(); ++i)
        EXPECT_EQ(cards[i].icon, icons[i]);
    EXPECT_EQ(cards.front().title, "The grid is your mix board");
    EXPECT_EQ(cards.back().title, "Cadenzo drives it live");
}

} // namespace
} // namespace strata::testing
