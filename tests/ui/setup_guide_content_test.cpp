// The setup guide's step lists for every host and mode: how many steps each has, that they name
// the host the user picked, and that the port names of the running MIDI system reach the steps
// that point the DAW at them. The wording itself is the sheet's business, not the tests'.

#include "setup_guide_content.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

std::string allText(const std::vector<GuideStep>& steps) {
    std::string text;
    for (const auto& step : steps)
        text += step.title + "\n" + step.detail + "\n";
    return text;
}

bool mentions(const std::vector<GuideStep>& steps, const std::string& quoted) {
    return allText(steps).find("\"" + quoted + "\"") != std::string::npos;
}

const GuidePorts kOnePortPerSurface; // ALSA and the in-memory system
const GuidePorts kSeparateFeedback{{"Strata", "Strata feedback"},
                                   {"Strata XT", "Strata XT feedback"}};

TEST(SetupGuide, StepsPerHostAndModeNameTheHostAndTheRunningSystemsPorts) {
    struct Case {
        HostChoice host;
        ModeChoice mode;
        std::size_t count;
        const char* hostName; // as the steps call it
        bool namesPorts;      // the steps point the DAW at Strata's ports
    };
    for (const Case& c : {
             Case{HostChoice::logic, ModeChoice::ccMute, 5, "Logic", false},
             Case{HostChoice::mainStage, ModeChoice::ccMute, 5, "MainStage", false},
             Case{HostChoice::ardour, ModeChoice::ccMute, 5, "Ardour", true},
             Case{HostChoice::logic, ModeChoice::mackie, 6, "Logic", true},
             Case{HostChoice::mainStage, ModeChoice::mackie, 6, "MainStage", true},
             Case{HostChoice::ardour, ModeChoice::mackie, 6, "Ardour", true},
         }) {
        for (const GuidePorts& ports : {kOnePortPerSurface, kSeparateFeedback}) {
            const bool separate = ports.main.dawOutput != ports.main.dawInput;
            SCOPED_TRACE(std::string(rawValue(c.host)) + " / " + std::string(rawValue(c.mode)) +
                         (separate ? ", separate feedback ports" : ", one port per surface"));
            const auto steps = guideSteps(c.host, c.mode, ports);
            ASSERT_EQ(steps.size(), c.count);
            for (const auto& step : steps) {
                EXPECT_FALSE(step.title.empty());
                EXPECT_FALSE(step.detail.empty());
            }
            EXPECT_NE(allText(steps).find(c.hostName), std::string::npos);
            for (const HostChoice other : allHostChoices) {
                if (other != c.host && other != HostChoice::logic) {
                    EXPECT_EQ(allText(steps).find(rawValue(other)), std::string::npos)
                        << "names " << rawValue(other);
                }
            }
            EXPECT_EQ(mentions(steps, "Strata"), c.namesPorts);
            // Feedback goes to its own port only where the system has one; the CC walk on Ardour
            // reads the main port's feedback, the surfaces read their own.
            EXPECT_EQ(mentions(steps, "Strata feedback"), c.namesPorts && separate);
            const bool extender = c.mode == ModeChoice::mackie;
            EXPECT_EQ(mentions(steps, "Strata XT"), extender);
            EXPECT_EQ(mentions(steps, "Strata XT feedback"), extender && separate);

            // On PipeWire one last step says where the ports appear; only the Mackie surfaces
            // answer back.
            GuidePorts onPipeWire = ports;
            onPipeWire.pipeWire = true;
            const auto withLast = guideSteps(c.host, c.mode, onPipeWire);
            ASSERT_EQ(withLast.size(), steps.size() + 1);
            EXPECT_TRUE(std::equal(steps.begin(), steps.end(), withLast.begin()));
            const std::vector<GuideStep> last{withLast.back()};
            EXPECT_NE(allText(last).find("PipeWire"), std::string::npos);
            EXPECT_TRUE(mentions(last, "Strata"));
            EXPECT_EQ(mentions(last, "Strata feedback"), extender && separate);
        }
    }
    EXPECT_NE(modeDescription(HostChoice::ardour, ModeChoice::ccMute),
              modeDescription(ModeChoice::ccMute))
        << "Ardour loads a map instead of learning";
    EXPECT_EQ(modeDescription(HostChoice::ardour, ModeChoice::mackie),
              modeDescription(ModeChoice::mackie));
    for (const HostChoice host : allHostChoices) {
        EXPECT_NE(closingLine(host).find(rawValue(host)), std::string::npos);
        EXPECT_NE(allText(clockSteps(host)).find(rawValue(host)), std::string::npos);
    }
    EXPECT_FALSE(linkSteps().empty());
}

} // namespace
} // namespace strata::testing
