// Mute output through a real JACK server, against a client that behaves like a DAW: Logic's
// units that bank on their own, or Ardour's group of 16 strips banked from the main unit with
// channel moves and its Generic MIDI CCs that toggle the tracks a binding map binds them to.
// Here only what JACK shows: where the DAW ends, presses it takes as one, and the cycles presses
// go in; the exact bytes for each host are the in-memory tests' (DawHostMackie, MackieOutput).
#include "jack_rig.h"
#include "jack_server_suite.h"
#include "midi/ardour_midi_map.h"

#include <gtest/gtest.h>
#include <random>

namespace strata {
namespace {

using testing::DawSimulator;
using testing::idsAt;
using testing::intended;
using testing::JackRig;
using testing::JackServerSuite;
using testing::JackTestServer;

std::vector<Layer> layersOnStrata(std::size_t n) {
    auto layers = testing::makeLayers(n);
    for (Layer& layer : layers)
        layer.portName = "Strata";
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

class DawThroughJack : public JackServerSuite {
protected:
    std::unique_ptr<DawSimulator> makeDaw(DawSimulator::Options options) {
        auto daw = std::make_unique<DawSimulator>(server_->name(),
                                                  "ardour" + std::to_string(dawCount_++), options);
        EXPECT_TRUE(daw->ok());
        return daw;
    }

    // Wires the DAW's main unit and its extender and lets its full-state report arrive (the LCD
    // names it).
    void wireAndAwaitReport(JackRig& rig, DawSimulator& daw, bool extender = true) {
        ASSERT_TRUE(rig.wire(daw, 0));
        if (extender) {
            ASSERT_TRUE(rig.wire(daw, 1));
        }
        ASSERT_TRUE(rig.runUntilCycles([&] { return !rig.service->mackieSlotNames.get().empty(); }))
            << "the DAW's full-state report never arrived";
    }

    void push(JackRig& rig, const std::vector<Layer>& layers, const std::vector<int>& want,
              std::int64_t offset = 0) {
        rig.service->sendSectionState(layers, idsAt(layers, want), ControlMode::mackieControl,
                                      std::nullopt, offset);
    }

    int dawCount_ = 0;
};

// The first push and the walk after it, whatever the session had muted and wherever its banks
// were left.
TEST_F(DawThroughJack, MackieSectionChangesLeaveExactlyTheIntendedTracksMuted) {
    struct Row {
        DawSimulator::Host host;
        bool extender;
        int offset;
    };
    std::vector<Row> rows;
    for (const bool extender : {false, true}) {
        for (const int offset : {0, 16})
            rows.push_back({DawSimulator::Host::logic, extender, offset});
        for (const int offset : {0, 8, 16, 24})
            rows.push_back({DawSimulator::Host::ardour, extender, offset});
    }
    for (const auto& [host, extender, offset] : rows) {
        SCOPED_TRACE(std::string(host == DawSimulator::Host::logic ? "Logic" : "Ardour") +
                     (extender ? " with extender, offset " : " without extender, offset ") +
                     std::to_string(offset));
        DawSimulator::Options options;
        options.tracks = 48;
        options.mutedAtStart = {1, offset + 2, offset + 9, 40};
        options.mainBank = 16; // left elsewhere in the session
        options.host = host;
        options.groupedExtender = extender;
        auto daw = makeDaw(options);
        JackRig rig(server_->name());
        ASSERT_NO_FATAL_FAILURE(wireAndAwaitReport(rig, *daw, extender));
        const auto session = daw->mutes();
        const int count = extender ? 12 : 6;
        const auto layers = layersOnStrata(static_cast<std::size_t>(count));

        for (std::size_t k = 0; k < kWalk.size(); ++k) {
            SCOPED_TRACE("section " + std::to_string(k));
            rig.service->sendSectionState(
                layers, idsAt(layers, kWalk[k]), ControlMode::mackieControl, std::nullopt, offset,
                host == DawSimulator::Host::logic ? DawHost::logic : DawHost::ardour);
            ASSERT_TRUE(rig.quiesce());
            const auto expected = intended(session, offset, count, kWalk[k]);
            EXPECT_EQ(daw->mutes(), expected)
                << "muted: " << describe(daw->mutes()) << " wanted: " << describe(expected);
        }
        EXPECT_EQ(daw->bank(0), offset);
        if (extender) {
            EXPECT_EQ(daw->bank(1), offset + 8);
        }
        EXPECT_EQ(daw->extenderMoves(), 0);
        EXPECT_EQ(daw->mergedPresses(), 0);
        EXPECT_EQ(daw->mutesBesideBankMoves(), 0);
    }
}

// Ardour reports a track's mute only when it changes, so a track that was muted before Strata was
// heard cannot be seen: Strata takes it to be sounding. Where a section wants it muted, Strata's
// toggle unmutes it, the answer says so, and one more press mutes it. Where no section has wanted
// it muted yet, it stays as Ardour has it (the setup guide says so). The session as Strata can
// bring it: the sections' mutes on every layer track whose state Strata has had a chance to learn.
struct CCSession {
    std::vector<bool> session; // the session before Strata
    std::vector<int> unseen;   // layer tracks muted before Strata that no section has muted yet
    int offset = 0;
    int count = 0;

    std::vector<bool> after(const std::vector<int>& want) {
        std::erase_if(unseen, [&](int track) {
            return std::find(want.begin(), want.end(), track - offset) != want.end();
        });
        auto out = intended(session, offset, count, want);
        for (int track : unseen)
            out[static_cast<std::size_t>(track)] = true;
        return out;
    }
};

// A late row: Ardour's ports are wired after Strata has sent the first section, whose toggles
// reached nobody; once wired, Ardour is brought to the section, and the next follows on.
TEST_F(DawThroughJack, CCSectionChangesBringTracksMutedBeforeStartToTheSectionsMutes) {
    struct Row {
        int count;
        int offset;
        bool late;
    };
    for (const Row row : {Row{6, 0, false}, Row{6, 16, false}, Row{12, 0, false},
                          Row{12, 16, false}, Row{6, 0, true}}) {
        const int offset = row.offset;
        SCOPED_TRACE(std::to_string(row.count) + " layers, offset " + std::to_string(offset) +
                     (row.late ? ", wired late" : ""));
        Setlist set;
        set.name = "Walk";
        set.layers = layersOnStrata(static_cast<std::size_t>(row.count));
        set.mackieTrackOffset = offset;
        DawSimulator::Options options;
        options.tracks = 48;
        // Layer 1 is muted by the first section, layer 2 by the second, layer 5 by none (until
        // the user clicks it); track 41 is no layer's.
        options.mutedAtStart = {offset + 0, offset + 1, offset + 4, 40};
        options.host = DawSimulator::Host::ardour;
        options.ccBindings = DawSimulator::bindingsFromMap(ArdourMidiMap::generate(set));
        ASSERT_EQ(options.ccBindings.size(), static_cast<std::size_t>(row.count));
        auto daw = makeDaw(options);
        JackRig rig(server_->name());
        // Ardour's Generic MIDI reads "Strata" and sends its feedback to "Strata feedback".
        if (!row.late) {
            ASSERT_TRUE(rig.wire(*daw, 2));
        }
        CCSession model{daw->mutes(), {offset + 0, offset + 1, offset + 4}, offset, row.count};

        for (std::size_t k = 0; k < kWalk.size(); ++k) {
            SCOPED_TRACE("section " + std::to_string(k));
            if (k == 3) {
                // The user clicks two mutes in the DAW; its echoes tell Strata.
                daw->userToggle(offset + 4);
                daw->userToggle(offset + 5);
                std::erase(model.unseen, offset + 4);
                ASSERT_TRUE(rig.quiesce());
            }
            rig.service->sendSectionState(set.layers, idsAt(set.layers, kWalk[k]),
                                          ControlMode::ccMute, std::nullopt, offset,
                                          DawHost::ardour);
            ASSERT_TRUE(rig.quiesce());
            if (row.late && k == 0) {
                EXPECT_EQ(daw->mutes(), model.session) << "nobody listens yet";
                ASSERT_TRUE(rig.wire(*daw, 2));
                ASSERT_TRUE(rig.driver.runUntil([&] { return rig.settling(); }));
                ASSERT_TRUE(rig.quiesce());
            }
            const auto expected = model.after(kWalk[k]);
            EXPECT_EQ(daw->mutes(), expected)
                << "muted: " << describe(daw->mutes()) << " wanted: " << describe(expected);
        }
        EXPECT_EQ(daw->mergedToggles(), 0);
    }
}

// The performer flicks one layer on and off faster than the host answers: every toggle of its CC,
// and every press of its Mackie mute, goes at least two cycles after the one before, and the
// track ends as the last state says.
TEST_F(DawThroughJack, PressesOfOneButtonOrCCAreNeverInAdjacentCycles) {
    for (const ControlMode mode : {ControlMode::ccMute, ControlMode::mackieControl}) {
        const bool cc = mode == ControlMode::ccMute;
        SCOPED_TRACE(cc ? "CC mutes" : "Mackie");
        Setlist set;
        set.name = "Flick";
        set.layers = layersOnStrata(4);
        DawSimulator::Options options;
        options.tracks = 16;
        options.host = DawSimulator::Host::ardour;
        options.ccBindings = DawSimulator::bindingsFromMap(ArdourMidiMap::generate(set));
        auto daw = makeDaw(options);
        JackRig rig(server_->name());
        const int unit = cc ? 2 : 0;
        ASSERT_TRUE(rig.wire(*daw, unit));
        // Mackie: the report the host sends on a connection is in (its LCD names the strips)
        // before the flicks begin. Ardour's Generic MIDI reports nothing on a connection.
        if (!cc) {
            ASSERT_TRUE(
                rig.runUntilCycles([&] { return !rig.service->mackieSlotNames.get().empty(); }));
        }
        const auto push = [&](bool muted) {
            rig.service->sendSectionState(set.layers, muted ? idsAt(set.layers, {1}) : UuidSet{},
                                          mode, std::nullopt, 0, DawHost::ardour);
        };
        push(false);
        ASSERT_TRUE(rig.quiesce());
        daw->takeReceived();

        for (int i = 0; i < 9; ++i) {
            push(i % 2 == 0);
            rig.driver.runFor(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(rig.quiesce());
        EXPECT_EQ(daw->mutes(), intended(std::vector<bool>(16), 0, 4, {1}));

        // The presses of layer 2's control, by the DAW's cycle.
        const std::uint8_t status = cc ? mackie::kControlChange : mackie::kNoteOn;
        const std::uint8_t data1 = cc ? 21 : testing::mute(1);
        std::vector<std::uint64_t> at;
        for (const auto& r : daw->takeReceived())
            if (r.unit == unit && r.bytes.size() == 3 && r.bytes[0] == status &&
                r.bytes[1] == data1 && r.bytes[2] >= 64)
                at.push_back(r.cycle);
        ASSERT_FALSE(at.empty());
        for (std::size_t i = 1; i < at.size(); ++i)
            EXPECT_GE(at[i], at[i - 1] + 2) << "press " << i;
        EXPECT_EQ(daw->mergedPresses(), 0);
        EXPECT_EQ(daw->mergedToggles(), 0);
    }
}

TEST_F(DawThroughJack, SectionChangesShadowResetsAndOffsetChangesKeepTheDawRight) {
    auto daw = makeDaw({24, {2, 5, 13}, 0, 8});
    JackRig rig(server_->name());
    ASSERT_NO_FATAL_FAILURE(wireAndAwaitReport(rig, *daw));
    const auto layers = testing::makeLayers(16);
    const auto start = daw->mutes();
    push(rig, layers, {});
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), intended(start, 0, 16, {}));

    // A burst of section changes, many faster than a cycle, some toggling the same strip back
    // and forth.
    std::mt19937 random(7);
    std::vector<int> want;
    for (int k = 0; k < 40; ++k) {
        want.clear();
        for (int i = 0; i < 16; ++i)
            if (random() % 3 == 0)
                want.push_back(i);
        push(rig, layers, want);
        if (k % 4 == 0)
            rig.driver.step();
    }
    ASSERT_TRUE(rig.quiesce());
    const auto session = daw->mutes();
    EXPECT_EQ(session, intended(start, 0, 16, want));
    EXPECT_EQ(daw->mergedPresses(), 0);

    // A shadow reset re-positions the banks; the DAW resends nothing for banks that do not move,
    // and the tracks stay as they are.
    rig.service->resetMackieShadow();
    push(rig, layers, want);
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), session);

    // A new offset, with section changes arriving while the banks settle.
    rig.service->resetMackieShadow();
    push(rig, layers, {0, 1}, 8);
    rig.driver.runFor(std::chrono::milliseconds(30));
    push(rig, layers, {1, 2, 9}, 8);
    rig.driver.step();
    push(rig, layers, {2, 9, 15}, 8);
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), intended(session, 8, 16, {2, 9, 15}));
    EXPECT_EQ(daw->bank(0), 8);
    EXPECT_EQ(daw->bank(1), 16);
    EXPECT_EQ(daw->mergedPresses(), 0);
    EXPECT_EQ(daw->mutesBesideBankMoves(), 0);
}

// The DAW's report on a connection comes a while after it (in cycles): until it is in, what its
// session has muted is unknown.
TEST_F(DawThroughJack, ADawConnectingAfterThePushIsBroughtToTheCurrentState) {
    JackRig rig(server_->name());
    const auto layers = testing::makeLayers(12);
    const std::vector<int> want = {1, 4, 10};
    push(rig, layers, want);
    ASSERT_TRUE(rig.quiesce()); // into the void: nobody listens yet

    // Started later: its session has mutes of its own and its banks are elsewhere; then wired
    // up by hand once more (the main unit only); then restarted with another session.
    auto daw = makeDaw({24, {0, 4, 9}, 8, 16});
    for (const int round : {0, 1, 2}) {
        SCOPED_TRACE(round);
        if (round == 1) {
            ASSERT_TRUE(rig.unwire(*daw, 0));
        } else if (round == 2) {
            daw.reset();
            daw = makeDaw({24, {1, 2, 3, 11}, 0, 8});
        }
        const auto session = daw->mutes();
        ASSERT_TRUE(rig.wire(*daw, 0));
        if (round != 1) {
            ASSERT_TRUE(rig.wire(*daw, 1));
        }
        ASSERT_TRUE(rig.driver.runUntil([&] { return rig.settling(); }));
        ASSERT_TRUE(rig.quiesce());
        EXPECT_EQ(daw->mutes(), intended(session, 0, 12, want));
        EXPECT_EQ(daw->mergedPresses(), 0);
        EXPECT_EQ(daw->mutesBesideBankMoves(), 0);
    }
}

} // namespace
} // namespace strata
