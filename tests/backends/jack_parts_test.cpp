// The JACK backend's parts that need no server: its ring, its message splitter, its reports of
// trouble and its choice to start again through PipeWire.
#include "jack/midi_message_splitter.h"
#include "jack/pipewire_jack.h"
#include "jack/spsc_byte_ring.h"
#include "jack/trouble_report.h"
#include "support/test_support.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SpscByteRing, WritesAreAllOrNothingAndWrapAround) {
    SpscByteRing ring(60);
    ASSERT_EQ(ring.capacity(), 64u);
    Bytes in(40), out(40);
    for (int round = 0; round < 10; ++round) { // positions wrap past the end many times
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::uint8_t>(round * 40 + i);
        ASSERT_TRUE(ring.write(in.data(), 30, in.data() + 30, 10));
        EXPECT_FALSE(ring.write(in.data(), 25)) << "does not fit: nothing written";
        EXPECT_EQ(ring.readable(), 40u);
        std::uint8_t first = 0;
        ASSERT_TRUE(ring.peek(&first, 1, 5));
        EXPECT_EQ(first, in[5]);
        ASSERT_TRUE(ring.read(out.data(), out.size()));
        EXPECT_EQ(out, in);
        EXPECT_TRUE(ring.empty());
    }
    EXPECT_FALSE(ring.peek(out.data(), 1));
    const Bytes full(64, 0x55);
    EXPECT_TRUE(ring.write(full.data(), full.size()));
    EXPECT_EQ(ring.writable(), 0u);
}

TEST(SpscByteRing, TwoThreadsSeeEveryRecordWholeAndInOrder) {
    SpscByteRing ring(1024);
    constexpr std::uint32_t kRecords = 20000;
    std::thread producer([&] {
        for (std::uint32_t n = 0; n < kRecords;) {
            const std::uint32_t length = n % 37;
            Bytes payload(length, static_cast<std::uint8_t>(n));
            const std::uint32_t header[2] = {n, length};
            if (ring.write(header, sizeof header, payload.data(), length))
                ++n;
            else
                std::this_thread::yield();
        }
    });
    std::uint32_t expected = 0;
    while (expected < kRecords) {
        std::uint32_t header[2];
        if (!ring.peek(header, sizeof header)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(header[0], expected);
        ASSERT_EQ(header[1], expected % 37);
        Bytes payload(header[1]);
        ASSERT_TRUE(ring.peek(payload.data(), payload.size(), sizeof header));
        for (std::uint8_t b : payload)
            ASSERT_EQ(b, static_cast<std::uint8_t>(expected));
        ring.skip(sizeof header + header[1]);
        ++expected;
    }
    producer.join();
    EXPECT_TRUE(ring.empty());
}

TEST(MidiMessageSplitter, CutsAStreamIntoSingleMessages) {
    const struct {
        const char* what;
        Bytes in;
        std::vector<Bytes> out;
    } cases[] = {
        {"press and release",
         {0x90, 0x10, 0x7F, 0x90, 0x10, 0x00},
         {{0x90, 0x10, 0x7F}, {0x90, 0x10, 0x00}}},
        {"running status expanded",
         {0xB0, 0x07, 0x10, 0x07, 0x20},
         {{0xB0, 0x07, 0x10}, {0xB0, 0x07, 0x20}}},
        {"two-byte messages", {0xC1, 0x05, 0x06}, {{0xC1, 0x05}, {0xC1, 0x06}}},
        {"system exclusive whole",
         {0xF0, 0x00, 0x66, 0xF7, 0xC0, 0x01},
         {{0xF0, 0x00, 0x66, 0xF7}, {0xC0, 0x01}}},
        {"real time inside a message's gap",
         {0xF8, 0x90, 0x3C, 0x40},
         {{0xF8}, {0x90, 0x3C, 0x40}}},
        {"unterminated exclusive ends at a status",
         {0xF0, 0x01, 0x02, 0x90, 0x3C, 0x40},
         {{0xF0, 0x01, 0x02}, {0x90, 0x3C, 0x40}}},
        {"continuation of an exclusive", {0x01, 0x02, 0xF7}, {{0x01, 0x02, 0xF7}}},
        {"truncated message kept", {0x90, 0x3C}, {{0x90, 0x3C}}},
        {"system common", {0xF2, 0x01, 0x02, 0xF6}, {{0xF2, 0x01, 0x02}, {0xF6}}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<Bytes> out;
        MidiMessageSplitter::split(
            c.in.data(), c.in.size(),
            [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
        EXPECT_EQ(out, c.out) << c.what;
    }
}

// The JACK backend's reports of dropped events and missed cycles, on times handed in: when a
// report is due (the worker sleeps until then) and what it says.
using namespace std::chrono_literals;
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

// When Strata starts itself again with PipeWire's libjack, and how it sees that PipeWire runs.
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
