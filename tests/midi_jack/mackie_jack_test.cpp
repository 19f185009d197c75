// Mackie Control output through a real JACK server, against a client that behaves like a DAW.
#include "jack_rig.h"
#include "jack_server_suite.h"

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
using testing::mute;

int pressesOf(const std::vector<DawSimulator::Received>& received, int unit, std::uint8_t firstNote,
              std::uint8_t lastNote) {
    int n = 0;
    for (const auto& r : received)
        if (r.unit == unit && r.bytes.size() == 3 && r.bytes[0] == mackie::kNoteOn &&
            r.bytes[1] >= firstNote && r.bytes[1] <= lastNote &&
            r.bytes[2] == mackie::kPressVelocity)
            ++n;
    return n;
}

int mutePresses(const std::vector<DawSimulator::Received>& received) {
    return pressesOf(received, 0, mute(0), mute(7)) + pressesOf(received, 1, mute(0), mute(7));
}

class MackieThroughJack : public JackServerSuite {
protected:
    std::unique_ptr<DawSimulator> makeDaw(DawSimulator::Options options) {
        auto daw = std::make_unique<DawSimulator>(server_->name(),
                                                  "daw" + std::to_string(dawCount_++), options);
        EXPECT_TRUE(daw->ok());
        return daw;
    }

    // Wires both units of the DAW and lets its full-state report arrive (the LCD names it).
    void wireAndAwaitReport(JackRig& rig, DawSimulator& daw) {
        ASSERT_TRUE(rig.wire(daw, 0));
        ASSERT_TRUE(rig.wire(daw, 1));
        ASSERT_TRUE(rig.driver.runUntil([&] {
            return !rig.service->mackieSlotNames.get().empty();
        })) << "the DAW's full-state report never arrived";
    }

    void push(JackRig& rig, const std::vector<Layer>& layers, const std::vector<int>& want,
              std::int64_t offset = 0) {
        rig.service->sendSectionState(layers, idsAt(layers, want), ControlMode::mackieControl,
                                      std::nullopt, offset);
    }

    int dawCount_ = 0;
};

TEST_F(MackieThroughJack, FirstPushLeavesExactlyTheIntendedTracksMutedWhateverTheSessionHad) {
    struct Case {
        const char* what;
        DawSimulator::Options daw;
        int layers;
        std::int64_t offset;
        std::vector<int> want;
    };
    const Case cases[] = {
        {"session mutes on the banks already in place",
         {24, {1, 3, 9, 12}, 0, 8, 19},
         12,
         0,
         {0, 3, 9}},
        {"banks left elsewhere in the DAW", {24, {1, 2, 11}, 16, 0, 19}, 12, 0, {1, 10}},
        {"an offset, the session already as wanted", {24, {8, 17}, 0, 8, 19}, 10, 8, {0, 9}},
        {"one surface, all wanted muted", {8, {0, 7}, 0, 0, 19}, 8, 0, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto daw = makeDaw(c.daw);
        JackRig rig(server_->name());
        wireAndAwaitReport(rig, *daw);
        const auto session = daw->mutes();
        daw->takeReceived();

        push(rig, testing::makeLayers(static_cast<std::size_t>(c.layers)), c.want, c.offset);
        ASSERT_TRUE(rig.quiesce());
        const auto expected = intended(session, static_cast<int>(c.offset), c.layers, c.want);
        EXPECT_EQ(daw->mutes(), expected);

        // One round: one bank return per unit in use, and each needed toggle pressed once.
        const auto received = daw->takeReceived();
        EXPECT_EQ(pressesOf(received, 0, mackie::kBankLeft, mackie::kBankLeft), 32);
        EXPECT_EQ(pressesOf(received, 1, mackie::kBankLeft, mackie::kBankLeft),
                  c.layers >= 9 ? 32 : 0);
        int toggles = 0;
        for (std::size_t t = 0; t < session.size(); ++t)
            toggles += session[t] != expected[t];
        EXPECT_EQ(mutePresses(received), toggles);
        EXPECT_EQ(daw->mergedPresses(), 0);
        EXPECT_EQ(daw->mutesBesideBankMoves(), 0);
    }
}

TEST_F(MackieThroughJack, SectionChangesShadowResetsAndOffsetChangesKeepTheDawRight) {
    auto daw = makeDaw({24, {2, 5, 13}, 0, 8, 19});
    JackRig rig(server_->name());
    wireAndAwaitReport(rig, *daw);
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

    // A shadow reset re-positions the banks; what is known of the same tracks is kept, so
    // nothing needs pressing.
    daw->takeReceived();
    rig.service->resetMackieShadow();
    push(rig, layers, want);
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), session);
    auto received = daw->takeReceived();
    EXPECT_EQ(pressesOf(received, 0, mackie::kBankLeft, mackie::kBankLeft), 32);
    EXPECT_EQ(mutePresses(received), 0);

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

TEST_F(MackieThroughJack, ADawConnectingAfterThePushIsBroughtToTheCurrentState) {
    JackRig rig(server_->name());
    const auto layers = testing::makeLayers(12);
    const std::vector<int> want = {1, 4, 10};
    push(rig, layers, want);
    ASSERT_TRUE(rig.quiesce()); // into the void: nobody listens yet

    // Started later: its session has mutes of its own and its banks are elsewhere.
    auto daw = makeDaw({24, {0, 4, 9}, 8, 16, 19});
    auto session = daw->mutes();
    ASSERT_TRUE(rig.wire(*daw, 0));
    ASSERT_TRUE(rig.wire(*daw, 1));
    ASSERT_TRUE(rig.driver.runUntil([&] { return rig.settling(); }));
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), intended(session, 0, 12, want));

    // Wired up by hand once more: it is brought up to date again, and as it already is, no
    // mute is pressed.
    daw->takeReceived();
    ASSERT_TRUE(rig.unwire(*daw, 0));
    ASSERT_TRUE(rig.wire(*daw, 0));
    ASSERT_TRUE(rig.driver.runUntil([&] { return rig.settling(); }));
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), intended(session, 0, 12, want));
    const auto received = daw->takeReceived();
    // One return; its first move may go out before the new connection carries, and is then
    // pressed once more.
    const int lefts = pressesOf(received, 0, mackie::kBankLeft, mackie::kBankLeft);
    EXPECT_GE(lefts, 32);
    EXPECT_LE(lefts, 33);
    EXPECT_EQ(pressesOf(received, 1, mackie::kBankLeft, mackie::kBankLeft), 0)
        << "the extender was not reconnected";
    EXPECT_EQ(mutePresses(received), 0);

    // The DAW restarts with another session.
    daw.reset();
    daw = makeDaw({24, {1, 2, 3, 11}, 0, 8, 19});
    session = daw->mutes();
    ASSERT_TRUE(rig.wire(*daw, 0));
    ASSERT_TRUE(rig.wire(*daw, 1));
    ASSERT_TRUE(rig.driver.runUntil([&] { return rig.settling(); }));
    ASSERT_TRUE(rig.quiesce());
    EXPECT_EQ(daw->mutes(), intended(session, 0, 12, want));
    EXPECT_EQ(daw->mergedPresses(), 0);
    EXPECT_EQ(daw->mutesBesideBankMoves(), 0);
}

} // namespace
} // namespace strata
