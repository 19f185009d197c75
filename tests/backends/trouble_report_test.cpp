// The JACK backend's reports of dropped events and missed cycles, on times handed in: when a
// report is due (the worker sleeps until then) and what it says.

#include "jack/trouble_report.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace strata;
using namespace std::chrono_literals;

namespace {

using Clock = TroubleReport::Clock;

struct Step {
    std::chrono::milliseconds at; // since the start
    std::uint64_t drops;          // running counts at that time
    std::uint64_t xruns;
    std::vector<std::string> lines;                    // what take() reports then
    std::optional<std::chrono::milliseconds> dueAfter; // dueAt() afterwards, since the start
};

std::string dropped(int n) {
    return "[MIDI] JACK: " + std::to_string(n) + " MIDI events dropped (buffers full or no server)";
}
std::string missed(int n) {
    return "[MIDI] JACK: " + std::to_string(n) +
           " cycles missed (xruns); MIDI sent meanwhile may not have reached the DAW";
}

} // namespace

TEST(TroubleReport, FirstNewsAtOnceThenAtMostOneReportASecondWithNothingDueAtRest) {
    struct Row {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Row> rows{
        {"nothing counted: nothing due, ever", {{0ms, 0, 0, {}, {}}, {5000ms, 0, 0, {}, {}}}},
        {"a first xrun is reported at once",
         {{700ms, 0, 1, {missed(1)}, {}}, {9000ms, 0, 1, {}, {}}}},
        {"xruns within the second after a report wait for its end, and go as one line",
         {{0ms, 0, 1, {missed(1)}, {}},
          {300ms, 0, 3, {}, 1000ms},
          {999ms, 0, 4, {}, 1000ms},
          {1000ms, 0, 4, {missed(3)}, {}}}},
        {"news after a quiet spell is reported at once",
         {{0ms, 2, 0, {dropped(2)}, {}}, {4000ms, 3, 0, {dropped(1)}, {}}}},
        {"drops and xruns in one report, each its own line",
         {{0ms, 1, 0, {dropped(1)}, {}},
          {200ms, 4, 2, {}, 1000ms},
          {1500ms, 4, 2, {dropped(3), missed(2)}, {}},
          {1600ms, 4, 5, {}, 2500ms},
          {2500ms, 4, 5, {missed(3)}, {}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Clock::time_point start = Clock::time_point{} + 1h;
        TroubleReport report;
        for (const Step& step : row.steps) {
            SCOPED_TRACE(step.at.count());
            const auto due = report.dueAt(step.drops, step.xruns);
            // Whatever is counted and not yet reported is due by now or later, never forgotten.
            EXPECT_EQ(due.has_value(), !step.lines.empty() || step.dueAfter.has_value());
            EXPECT_EQ(report.take(start + step.at, step.drops, step.xruns), step.lines);
            const auto after = report.dueAt(step.drops, step.xruns);
            if (step.dueAfter) {
                ASSERT_TRUE(after);
                EXPECT_EQ(*after, start + *step.dueAfter);
            } else {
                EXPECT_FALSE(after);
            }
        }
    }
}
