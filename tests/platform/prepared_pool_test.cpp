// The hand-over of prepared answers: a press claims, an ordinary thread withdraws, exactly one of
// them wins, and a table is written again only once the reader cannot be looking at it.
#include "platform/prepared_pool.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace strata {
namespace {

PreparedAnswerSet twoAnswers() {
    PreparedAnswerSet set;
    set.count = 2;
    set.answers[0].status = 0x90;
    set.answers[0].data1 = 60;
    set.answers[0].sourceCount = 1;
    set.answers[0].sources[0] = 7;
    set.answers[1].status = 0xC0;
    set.answers[1].data1 = 3;
    set.answers[1].anySource = true;
    return set;
}

constexpr std::array<int, PreparedAnswer::kOutputs> kChannels{0, 1};

struct PoolCycles {
    std::atomic<std::uint64_t> cycle{0};
    std::atomic<std::uint64_t> finished{0};
    void runCycle() {
        cycle.fetch_add(1);
        finished.store(cycle.load());
    }
};

TEST(PreparedAnswer, FiresOnPressesOfItsTriggerFromItsSources) {
    const PreparedAnswerSet set = twoAnswers();
    struct Case {
        const char* name;
        std::size_t answer;
        std::vector<std::uint8_t> message;
        std::uint64_t source;
        bool fires;
    };
    const std::vector<Case> cases{
        {"note press, listed source", 0, {0x90, 60, 100}, 7, true},
        {"note press on another channel", 0, {0x93, 60, 1}, 7, true},
        {"note press, other source", 0, {0x90, 60, 100}, 8, false},
        {"note release as velocity 0", 0, {0x90, 60, 0}, 7, false},
        {"other note", 0, {0x90, 61, 100}, 7, false},
        {"controller of the same number", 0, {0xB0, 60, 127}, 7, false},
        {"program change from anywhere", 1, {0xC5, 3}, 99, true},
        {"other program", 1, {0xC0, 4}, 99, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& m = c.message;
        EXPECT_EQ(set.answers[c.answer].fires(m[0], m[1], m.size() > 2 ? m[2] : 0, c.source),
                  c.fires);
    }
    PreparedAnswer cc;
    cc.status = 0xB0;
    cc.data1 = 27;
    cc.anySource = true;
    EXPECT_TRUE(cc.fires(0xB0, 27, 64, 1));
    EXPECT_FALSE(cc.fires(0xB0, 27, 63, 1)); // a pedal let go
}

TEST(PreparedPool, ClaimAndWithdrawExcludeEachOtherInEitherOrder) {
    struct Case {
        const char* name;
        bool claimFirst;
    };
    for (const Case c : {Case{"claim, then withdraw", true}, Case{"withdraw, then claim", false}}) {
        SCOPED_TRACE(c.name);
        PreparedPool pool;
        PoolCycles counters;
        ASSERT_TRUE(pool.publish(twoAnswers(), kChannels, 5, counters.cycle, counters.finished));
        EXPECT_EQ(pool.outcome(5).kind, PreparedOutcome::armed);
        const PreparedPool::Table* table = pool.armed();
        ASSERT_NE(table, nullptr);
        PreparedPool::Claim claim;
        if (c.claimFirst) {
            ASSERT_TRUE(pool.claim(*table, 1, claim));
            EXPECT_EQ(claim.generation, 5u);
            EXPECT_EQ(claim.index, 1u);
            // The withdrawer learns which answer went out, and may ask again.
            for (int i = 0; i < 2; ++i) {
                const PreparedOutcome outcome = pool.withdraw(5);
                EXPECT_EQ(outcome.kind, PreparedOutcome::claimed);
                EXPECT_EQ(outcome.index, 1u);
            }
            EXPECT_EQ(pool.armed(), nullptr);
        } else {
            EXPECT_EQ(pool.withdraw(5).kind, PreparedOutcome::withdrawn);
            EXPECT_EQ(pool.armed(), nullptr);
            EXPECT_FALSE(pool.claim(*table, 0, claim)); // a reader that found it armed before
            EXPECT_EQ(pool.outcome(5).kind, PreparedOutcome::withdrawn);
        }
        // Another generation is not this one.
        EXPECT_EQ(pool.withdraw(4).kind, PreparedOutcome::gone);
    }
}

TEST(PreparedPool, ATableIsWrittenAgainOnlyOnceTheReaderHasFinishedTheCycleItWasRetiredIn) {
    PreparedPool pool;
    PoolCycles counters;
    std::uint64_t generation = 0;
    // Nothing new while the current table is armed: its outcome must be known first.
    ASSERT_TRUE(
        pool.publish(twoAnswers(), kChannels, ++generation, counters.cycle, counters.finished));
    EXPECT_FALSE(
        pool.publish(twoAnswers(), kChannels, generation + 1, counters.cycle, counters.finished));
    // Without cycles the reader may still be looking at every retired table: the pool runs
    // out, and what is out there stays as it was.
    counters.cycle.store(10);
    counters.finished.store(9);
    std::size_t published = 0;
    for (std::size_t i = 0; i < PreparedPool::kTables + 2; ++i) {
        EXPECT_NE(pool.withdraw(generation).kind, PreparedOutcome::gone);
        if (pool.publish(twoAnswers(), kChannels, generation + 1, counters.cycle,
                         counters.finished)) {
            ++generation;
            ++published;
        }
    }
    EXPECT_EQ(published, PreparedPool::kTables - 1);
    EXPECT_EQ(pool.outcome(generation).kind, PreparedOutcome::withdrawn);
    // Once the cycle they were retired in has finished, they are free again.
    counters.finished.store(10);
    EXPECT_TRUE(
        pool.publish(twoAnswers(), kChannels, generation + 1, counters.cycle, counters.finished));
    EXPECT_EQ(pool.outcome(generation + 1).kind, PreparedOutcome::armed);
    // The generation whose table was written over is gone, not mistaken for the new one.
    EXPECT_EQ(pool.outcome(1).kind, PreparedOutcome::gone);
}

// A reader claiming while a writer withdraws and publishes, many times over: every generation
// ends exactly one way, and the writer's view of it is the reader's. Run under ThreadSanitizer
// too.
TEST(PreparedPool, AReaderAndAWriterAgreeOnEveryGeneration) {
    constexpr std::uint64_t kGenerations = 20000;
    PreparedPool pool;
    PoolCycles counters;
    std::vector<int> claimedBy(kGenerations + 1, -1); // reader's record, by generation
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            counters.cycle.fetch_add(1);
            if (const PreparedPool::Table* table = pool.armed()) {
                // Reads the table as the callback does, then claims.
                const std::size_t index = table->set.answers[1].anySource ? 1 : 0;
                PreparedPool::Claim claim;
                if (pool.claim(*table, index, claim) && claim.generation <= kGenerations)
                    claimedBy[claim.generation] = static_cast<int>(claim.index);
            }
            counters.finished.store(counters.cycle.load());
        }
    });
    std::vector<int> writerSaw(kGenerations + 1, -1);
    std::uint64_t generation = 0;
    while (generation < kGenerations) {
        if (!pool.publish(twoAnswers(), kChannels, generation + 1, counters.cycle,
                          counters.finished)) {
            std::this_thread::yield(); // no table free until the reader moves on
            continue;
        }
        ++generation;
        const PreparedOutcome outcome = pool.withdraw(generation);
        ASSERT_NE(outcome.kind, PreparedOutcome::gone);
        ASSERT_NE(outcome.kind, PreparedOutcome::armed);
        if (outcome.kind == PreparedOutcome::claimed)
            writerSaw[generation] = static_cast<int>(outcome.index);
    }
    stop.store(true);
    reader.join();
    // The reader claimed exactly the generations the writer found claimed, with the same answer.
    EXPECT_EQ(claimedBy, writerSaw);
}

} // namespace
} // namespace strata
