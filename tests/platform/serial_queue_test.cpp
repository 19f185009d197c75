#include "platform/memory_settings.h"
#include "platform/serial_queue.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace strata;

TEST(SerialQueue, RunsJobsOneAtATimeInSubmissionOrderFromManyThreadsAndWaitsForThemOnRequest) {
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
    // Waiting for a job waits for the earlier ones too.
    std::size_t seenBefore = 0;
    q.submitAndWait([&] { seenBefore = seen.size(); });
    EXPECT_EQ(seenBefore, 1000u);
    EXPECT_FALSE(q.isCurrent());
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 1000u);
    // Per producer, its jobs ran in the order it submitted them.
    std::vector<int> last(4, -1);
    for (int v : seen) {
        EXPECT_GT(v % 1000, last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
}

// A clock the test moves by hand, as virtual time.
struct HandClock {
    std::atomic<SerialQueue::TimePoint::rep> ticks{1'000'000};
    SerialQueue::TimePoint now() const {
        return SerialQueue::TimePoint(SerialQueue::TimePoint::duration(ticks.load()));
    }
    void move(std::chrono::milliseconds d) {
        ticks.fetch_add(std::chrono::duration_cast<SerialQueue::TimePoint::duration>(d).count());
    }
    SerialQueue::ClockFn fn() {
        return [this] { return now(); };
    }
};

TEST(SerialQueue, TimedJobsJoinTheQueueWhenTheClockReachesThemInDueOrder) {
    using std::chrono::milliseconds;
    HandClock clock;
    std::vector<std::string> ran; // only touched by the queue's jobs
    {
        SerialQueue q("test.queue", clock.fn());
        const auto t0 = clock.now();
        const auto log = [&](std::string name) { return [&ran, name] { ran.push_back(name); }; };
        q.submitAt(t0 + milliseconds(10), log("late"));
        q.submitAt(t0 + milliseconds(5), log("early 1"));
        q.submitAt(t0 + milliseconds(5), log("early 2"));
        q.submitAt(t0 + milliseconds(50), log("never"));
        q.submitAt(t0 - milliseconds(1), log("overdue"));
        q.submit(log("plain"));
        q.drain();
        EXPECT_EQ(ran, (std::vector<std::string>{"overdue", "plain"}));

        // Due ones join ahead of what is submitted once they are due, in due and then
        // submission order; the others wait.
        clock.move(milliseconds(5));
        q.submit(log("after early"));
        q.drain();
        clock.move(milliseconds(5));
        q.drain();
        EXPECT_EQ(ran, (std::vector<std::string>{"overdue", "plain", "early 1", "early 2",
                                                 "after early", "late"}));
        EXPECT_EQ(q.timedPending(), 1u);
        // A timed job may arm another from the queue itself.
        q.submitAt(clock.now(), [&] { q.submitAt(clock.now() + milliseconds(1), log("again")); });
        q.drain();
        clock.move(milliseconds(1));
        q.drain();
        EXPECT_EQ(ran.back(), "again");
        ran.clear();
    }
    // Going away, the queue drops what is not due yet.
    EXPECT_TRUE(ran.empty());
}

TEST(SerialQueue, ATimedJobOnTheSteadyClockRunsWithNothingElseSubmitted) {
    SerialQueue q("test.queue");
    std::promise<void> ran;
    q.submitAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(1),
               [&] { ran.set_value(); });
    // Only that it comes, however late a busy machine makes it.
    EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
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
