// The command line: --help and --version, Qt's own options passed on, anything else refused.

#include "command_line.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, HelpVersionQtOptionsAndEverythingElse) {
    const struct {
        std::vector<std::string> arguments;
        Action action;
        const char* error;
    } cases[] = {
        {{}, Action::run, ""},
        {{"--help"}, Action::help, ""},
        {{"-h"}, Action::help, ""},
        {{"--version"}, Action::version, ""},
        {{"-v"}, Action::version, ""},
        {{"--version", "--help"}, Action::help, ""},
        {{"--bogus"}, Action::error, "unknown option '--bogus'"},
        {{"-x"}, Action::error, "unknown option '-x'"},
        {{"--help=1"}, Action::error, "unknown option '--help=1'"},
        {{"setlist.json"}, Action::error, "unexpected argument 'setlist.json'"},
        {{"-"}, Action::error, "unexpected argument '-'"},
        // Qt's options, with one dash or two, with their values.
        {{"-platform", "offscreen"}, Action::run, ""},
        {{"--platform", "xcb", "-reverse", "-qmljsdebugger=port:1234"}, Action::run, ""},
        {{"-display", ":1", "--version"}, Action::version, ""},
        {{"-platform"}, Action::error, "option '-platform' needs a value"},
        // A value is taken as such, even when it looks like an option.
        {{"-qwindowtitle", "--help"}, Action::run, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.arguments)
            line += a + " ";
        const CommandLine parsed = parseCommandLine(c.arguments);
        EXPECT_EQ(parsed.action, c.action) << line;
        EXPECT_EQ(parsed.error, c.error) << line;
    }
}

} // namespace
} // namespace strata
