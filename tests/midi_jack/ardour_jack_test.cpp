// Mute output for Ardour through a real JACK server, against a client that behaves as Ardour does:
// a group of 16 strips banked from the main unit with channel moves, and Generic MIDI CCs that
// toggle the tracks a binding map binds them to.
#include "jack_rig.h"
#include "jack_server_suite.h"
#include "midi/ardour_midi_map.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

using testing::DawSimulator;
using testing::idsAt;
using testing::intended;
using testing::JackRig;
using testing::JackServerSuite;
using testing::JackTestServer;

std::vector<Layer> makeLayers(std::size_t n) {
    std::vector<Layer> layers(n);
    for (std::size_t i = 0; i < n; ++i) {
        layers[i].name = "L" + std::to_string(i + 1);
        layers[i].portName = "Strata";
    }
    return layers;
}

std::string describe(const std::vector<bool>& mutes) {
    std::string out;
    for (std::size_t t = 0; t < mutes.size(); ++t)
        if (mutes[t])
            out += std::to_string(t + 1) + " ";
    return out.empty() ? "(none)" : out;
}

// Section states to walk through, by layer position; positions beyond the layers are ignored.
const std::vector<std::vector<int>> kWalk = {{0, 3}, {1, 9}, {}, {0, 1, 2, 10, 11}, {5, 9}, {}};

class ArdourThroughJack : public JackServerSuite {
protected:
    std::unique_ptr<DawSimulator> makeDaw(DawSimulator::Options options) {
        auto daw = std::make_unique<DawSimulator>(server_->name(),
                                                  "ardour" + std::to_string(dawCount_++), options);
        EXPECT_TRUE(daw->ok());
        return daw;
    }

    int dawCount_ = 0;
};

TEST_F(ArdourThroughJack, MackieSectionChangesLeaveExactlyTheIntendedTracksMuted) {
    for (const bool extender : {false, true}) {
        for (const int offset : {0, 8, 16, 24}) {
            SCOPED_TRACE((extender ? "with extender, offset " : "without extender, offset ") +
                         std::to_string(offset));
            DawSimulator::Options options;
            options.tracks = 48;
            options.mutedAtStart = {1, offset + 2, offset + 9, 40};
            options.mainBank = 16; // left elsewhere in the session
            options.host = DawSimulator::Host::ardour;
            options.groupedExtender = extender;
            auto daw = makeDaw(options);
            JackRig rig(server_->name());
            ASSERT_TRUE(rig.wire(*daw, 0));
            if (extender) {
                ASSERT_TRUE(rig.wire(*daw, 1));
            }
            ASSERT_TRUE(
                rig.driver.runUntil([&] { return !rig.service->mackieSlotNames.get().empty(); }));
            const auto session = daw->mutes();
            const int count = extender ? 12 : 6;
            const auto layers = makeLayers(static_cast<std::size_t>(count));

            for (std::size_t k = 0; k < kWalk.size(); ++k) {
                SCOPED_TRACE("section " + std::to_string(k));
                rig.service->sendSectionState(layers, idsAt(layers, kWalk[k]),
                                              ControlMode::mackieControl, std::nullopt, offset,
                                              DawHost::ardour);
                ASSERT_TRUE(rig.quiesce());
                const auto expected = intended(session, offset, count, kWalk[k]);
                EXPECT_EQ(daw->mutes(), expected)
                    << "muted: " << describe(daw->mutes()) << " wanted: " << describe(expected);
            }
            EXPECT_EQ(daw->bank(0), offset);
            EXPECT_EQ(daw->extenderMoves(), 0);
            EXPECT_EQ(daw->mergedPresses(), 0);
            EXPECT_EQ(daw->mutesBesideBankMoves(), 0);
        }
    }
}

TEST_F(ArdourThroughJack, CCSectionChangesLeaveExactlyTheIntendedTracksMutedWithTheGeneratedMap) {
    for (const int count : {6, 12}) {
        for (const int offset : {0, 8, 16, 24}) {
            SCOPED_TRACE(std::to_string(count) + " layers, offset " + std::to_string(offset));
            Setlist set;
            set.name = "Walk";
            set.layers = makeLayers(static_cast<std::size_t>(count));
            set.mackieTrackOffset = offset;
            DawSimulator::Options options;
            options.tracks = 48;
            options.mutedAtStart = {1, offset + 1, offset + 4, 40};
            options.host = DawSimulator::Host::ardour;
            options.ccBindings = DawSimulator::bindingsFromMap(ArdourMidiMap::generate(set));
            ASSERT_EQ(options.ccBindings.size(), static_cast<std::size_t>(count));
            auto daw = makeDaw(options);
            JackRig rig(server_->name());
            // Ardour's Generic MIDI reads "Strata" and sends its feedback to "Strata feedback".
            ASSERT_TRUE(daw->connectUnit(2, rig.sourcePort(false), rig.feedbackPort(false)));
            const auto session = daw->mutes();

            for (std::size_t k = 0; k < kWalk.size(); ++k) {
                SCOPED_TRACE("section " + std::to_string(k));
                if (k == 3) {
                    // The user clicks two mutes in the DAW; its echoes tell Strata.
                    daw->userToggle(offset + 0);
                    daw->userToggle(offset + 5);
                    rig.driver.runFor(std::chrono::milliseconds(200));
                }
                rig.service->sendSectionState(set.layers, idsAt(set.layers, kWalk[k]),
                                              ControlMode::ccMute, std::nullopt, offset,
                                              DawHost::ardour);
                ASSERT_TRUE(rig.quiesce());
                const auto expected = intended(session, offset, count, kWalk[k]);
                EXPECT_EQ(daw->mutes(), expected)
                    << "muted: " << describe(daw->mutes()) << " wanted: " << describe(expected);
            }
        }
    }
}

} // namespace
} // namespace strata
