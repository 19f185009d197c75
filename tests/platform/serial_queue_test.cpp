#include "platform/memory_settings.h"
#include "platform/serial_queue.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace strata;

TEST(SerialQueue, RunsJobsOneAtATimeInSubmissionOrderFromManyThreads) {
    SerialQueue q("test.queue");
    std::vector<int> seen; // only touched by the queue's jobs
    std::atomic<int> running{0};
    bool overlapped = false;
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t)
        producers.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i)
                q.submit([&, t, i] {
                    if (running.fetch_add(1) != 0)
                        overlapped = true;
                    seen.push_back(t * 1000 + i);
                    running.fetch_sub(1);
                });
        });
    for (auto& p : producers)
        p.join();
    q.drain();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 1000u);
    // Per producer, its jobs ran in the order it submitted them.
    std::vector<int> last(4, -1);
    for (int v : seen) {
        EXPECT_GT(v % 1000, last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
}

TEST(SerialQueue, SubmitAndWaitReturnsAfterTheJobAndEarlierOnes) {
    SerialQueue q("test.queue");
    int value = 0;
    q.submit([&] { value = 1; });
    q.submitAndWait([&] { value *= 10; });
    EXPECT_EQ(value, 10);
    EXPECT_FALSE(q.isCurrent());
}

TEST(MemorySettings, BooleansSurviveATextOnlyStore) {
    struct Case {
        const char* text;
        std::optional<bool> expected;
    };
    for (const Case& c :
         {Case{"true", true}, Case{"false", false}, Case{"FALSE", false}, Case{"1", true},
          Case{"0", false}, Case{"yes please", std::nullopt}, Case{"", std::nullopt}}) {
        MemorySettings s;
        s.setString("k", c.text);
        EXPECT_EQ(s.boolValue("k"), c.expected) << c.text;
    }
    MemorySettings s;
    EXPECT_EQ(s.boolValue("absent"), std::nullopt);
    s.setBytes("k", Bytes{1, 2});
    EXPECT_EQ(s.boolValue("k"), std::nullopt);
}
