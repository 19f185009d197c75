#pragma once

#include <string>
#include <vector>

namespace strata {

// Strata's command line: --help, --version, and Qt's own options, which go on to Qt. Anything
// else is an error (the caller prints the usage and exits with status 2). Read before the
// application object exists, so that --help and --version work without a display.
struct CommandLine {
    enum class Action { run, help, version, error };
    Action action = Action::run;
    std::string error; // Action::error: what was wrong, for one line on stderr
};

// `arguments` without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text --help prints (also after an error, on stderr).
std::string usageText();
// "strata <version>", what --version prints.
std::string versionText();

} // namespace strata
