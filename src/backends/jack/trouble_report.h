#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace strata {

// Turns the JACK backend's running counts of dropped MIDI events and missed cycles into log
// lines: the first news at once, more within `spacing` of the last report together at its end,
// so that a stream of xruns on a loaded machine is one line a second, not one per cycle. It says
// when the next report is due, so that the worker can sleep until then instead of looking at the
// counts on a timer of its own. Times are passed in, so it runs on whatever clock its caller
// uses. Single-threaded (the worker's).
class TroubleReport {
public:
    using Clock = std::chrono::steady_clock;

    explicit TroubleReport(Clock::duration spacing = std::chrono::seconds(1)) : spacing_(spacing) {}

    // When the counts hold news not reported yet: the time the report is due (at once when none
    // was made within `spacing`). None when everything counted has been reported.
    std::optional<Clock::time_point> dueAt(std::uint64_t drops, std::uint64_t xruns) const {
        if (drops == reportedDrops_ && xruns == reportedXruns_)
            return std::nullopt;
        if (!lastReport_)
            return Clock::time_point::min();
        return *lastReport_ + spacing_;
    }

    // The lines to log at `now` for the counts (empty when nothing is due yet); what they say
    // counts as reported from then on.
    std::vector<std::string> take(Clock::time_point now, std::uint64_t drops, std::uint64_t xruns) {
        std::vector<std::string> lines;
        const auto due = dueAt(drops, xruns);
        if (!due || now < *due)
            return lines;
        if (drops != reportedDrops_)
            lines.push_back("[MIDI] JACK: " + std::to_string(drops - reportedDrops_) +
                            " MIDI events dropped (buffers full or no server)");
        // Under xruns an asynchronous server can leave MIDI we wrote unread by the DAW, and we
        // cannot tell which events. Say so rather than stay silent.
        if (xruns != reportedXruns_)
            lines.push_back(
                "[MIDI] JACK: " + std::to_string(xruns - reportedXruns_) +
                " cycles missed (xruns); MIDI sent meanwhile may not have reached the DAW");
        reportedDrops_ = drops;
        reportedXruns_ = xruns;
        lastReport_ = now;
        return lines;
    }

private:
    Clock::duration spacing_;
    std::optional<Clock::time_point> lastReport_;
    std::uint64_t reportedDrops_ = 0;
    std::uint64_t reportedXruns_ = 0;
};

} // namespace strata
