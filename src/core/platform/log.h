#pragma once

#include <functional>
#include <string_view>

namespace strata {

// Diagnostics are single lines on standard output, each prefixed with a bracketed tag such as
// "[Store]". There is no log file and there are no levels.
void logLine(std::string_view line);

// Tests capture the lines instead of printing them. Passing an empty function restores stdout.
void setLogSink(std::function<void(std::string_view)> sink);

} // namespace strata
