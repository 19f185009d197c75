// When Strata starts itself again with PipeWire's libjack, and how it sees that PipeWire runs.

#include "jack/pipewire_jack.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace strata {
namespace {

TEST(PipeWireJack, StartsAgainOnlyOnceAndOnlyWhenNoJackdAnswersButPipeWireRuns) {
    // `asks`: jackd is asked (a client opened) only when nothing else decides.
    const struct {
        const char* what;
        std::optional<std::string> forced;
        bool secondStart, pipeWireLibrary, pipeWireRuns, libraryInstalled, jackdAnswers;
        bool expected, asks;
    } cases[] = {
        {"a PipeWire desktop", std::nullopt, false, false, true, true, false, true, true},
        {"STRATA_MIDI=jack is JACK, PipeWire's too", "jack", false, false, true, true, false, true,
         true},
        {"jackd answers", std::nullopt, false, false, true, true, true, false, true},
        {"the second start never starts a third", std::nullopt, true, false, true, true, false,
         false, false},
        {"already on PipeWire's library (pw-jack, or set up system-wide)", std::nullopt, false,
         true, true, true, false, false, false},
        {"PipeWire does not run", std::nullopt, false, false, false, true, false, false, false},
        {"PipeWire's libjack is not installed", std::nullopt, false, false, true, false, false,
         false, false},
        {"STRATA_MIDI=alsa", "alsa", false, false, true, true, false, false, false},
        {"STRATA_MIDI=none", "none", false, false, true, true, false, false, false},
    };
    for (const auto& c : cases) {
        int probes = 0;
        PipeWireJackFacts facts;
        facts.forcedMidi = c.forced;
        facts.secondStart = c.secondStart;
        facts.libraryIsPipeWire = c.pipeWireLibrary;
        facts.pipeWireRuns = c.pipeWireRuns;
        if (c.libraryInstalled)
            facts.pipeWireJackDir = "/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack";
        facts.jackdAnswers = [&] {
            ++probes;
            return c.jackdAnswers;
        };
        EXPECT_EQ(shouldStartThroughPipeWire(facts), c.expected) << c.what;
        EXPECT_EQ(probes, c.asks ? 1 : 0) << c.what;
    }
}

TEST(PipeWireJack, RunsWhileADaemonHoldsTheLockBesideItsSocket) {
    testing::TempDir runtime;
    EXPECT_FALSE(pipeWireRuns(runtime.path(), "pipewire-0")) << "no lock file";

    const auto lockPath = runtime.path() / "pipewire-0.lock";
    std::ofstream(lockPath) << "";
    EXPECT_FALSE(pipeWireRuns(runtime.path(), "pipewire-0")) << "left behind by a crash";

    // As the daemon does it: an exclusive flock held for as long as it runs.
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(pipeWireRuns(runtime.path(), "pipewire-0"));
    EXPECT_FALSE(pipeWireRuns(runtime.path(), "pipewire-1")) << "another daemon's name";
    ::flock(fd, LOCK_UN);
    EXPECT_FALSE(pipeWireRuns(runtime.path(), "pipewire-0"));
    ::close(fd);
}

} // namespace
} // namespace strata
