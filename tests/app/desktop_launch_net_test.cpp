// Starting the real program as a desktop does: its command line, and, on a PipeWire desktop
// without jackd, PipeWire's JACK found without pw-jack. Inside the private network namespace this
// suite runs in.

#include "app_process.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "support/test_support.h"

#include <csignal>
#include <gtest/gtest.h>
#include <jack/jack.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

// Which arguments are refused, and why: CommandLine.HelpVersionQtOptionsAndEverythingElse.
TEST(StrataApp, AnswersHelpAndVersionAndRefusesAnythingElseWithStatusTwo) {
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"--version"}, 0, "strata " STRATA_VERSION "\n"},
        {{"--help"}, 0, "Usage: strata [--help | --version]\n"},
        {{"--bogus"},
         2,
         "strata: unknown option '--bogus'\n\nUsage: strata [--help | --version]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        TempDir dir;
        AppProcess app;
        // No MIDI and no window needed: these answers come before either.
        ASSERT_TRUE(app.start(STRATA_APP_PATH, AppFixtureFiles{dir.path()}, {"STRATA_MIDI=none"},
                              c.arguments));
        EXPECT_EQ(app.waitForExit(20s), std::optional<int>(c.status));
        EXPECT_EQ(app.output().rfind(c.says, 0), 0u) << app.output();
        EXPECT_EQ(app.output().find("[Strata] Ready"), std::string::npos);
    }
}

// Started without pw-jack, so with jackd's library, on a machine where no jackd answers but a
// PipeWire daemon runs: Strata starts itself again, once, on PipeWire's library and creates its
// ports there.
TEST(StrataAppOnPipeWire, UsesPipeWiresJackWithoutBeingToldAndStartsAgainOnlyOnce) {
    JackTestServer server;
    ASSERT_EQ(server.kind(), JackTestServer::Kind::pipewire) << "runs against PipeWire";
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    JackTestClient daw(server.name(), "daw");
    ASSERT_TRUE(daw.ok());

    TempDir dir;
    const AppFixtureFiles files{dir.path()};
    files.writeSettings({{"showModeChooserAtStartup", false}, {"hasSeenQuickStart", true}}, {},
                        std::nullopt);
    AppProcess app;
    // This process runs on PipeWire's library through LD_LIBRARY_PATH; the program does not.
    ASSERT_TRUE(app.start(STRATA_APP_PATH, files, {"LD_LIBRARY_PATH=", "STRATA_MIDI="}));
    ASSERT_TRUE(app.waitForLine("[Strata] Ready (MIDI: jack)", 30s)) << app.output();
    EXPECT_TRUE(strata::testing::waitUntil(
        [&] { return jack_port_by_name(daw.handle(), "Strata:Strata") != nullptr; }, 10s))
        << app.output();

    const std::string out = app.output();
    EXPECT_EQ(count(out, "[MIDI] No JACK server answers but PipeWire runs: starting again with "
                         "PipeWire's JACK library ("),
              1u)
        << out;
    EXPECT_EQ(count(out, "[MIDI] Using JACK (PipeWire, server \"" + server.name() + "\")"), 1u)
        << out;
    EXPECT_EQ(app.stop(SIGTERM, 20s), std::optional<int>(0)) << app.output();
}
