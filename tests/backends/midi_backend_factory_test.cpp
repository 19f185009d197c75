#include "jack_test_server.h"
#include "midi_backend_factory.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>

namespace strata {
namespace {

MidiBackendEnvironment nowhere() {
    MidiBackendEnvironment environment;
    environment.jackServer = "strata-no-such-server";
    environment.sequencerDevice = "/nonexistent/snd/seq";
    return environment;
}

TEST(MidiBackendFactory, FallsBackToNoneAndSaysWhy) {
    const std::string nothingAnswers = "[MIDI] No MIDI system (no JACK server answers and "
                                       "/nonexistent/snd/seq does not exist); running without MIDI";
    // A device node that exists but is no sequencer (on this machine there is none at all).
    testing::TempDir dir;
    const std::string fake = (dir.path() / "seq").string();
    std::ofstream(fake) << "";
    const struct {
        std::optional<std::string> forced;
        std::vector<std::string> lines;
        std::string sequencerDevice{}; // empty: one that does not exist
    } cases[] = {
        {std::nullopt, {nothingAnswers}},
        {"none", {"[MIDI] No MIDI system (STRATA_MIDI=none); running without MIDI"}},
        {"alsa",
         {"[MIDI] No MIDI system (STRATA_MIDI=alsa, but /nonexistent/snd/seq does not "
          "exist); running without MIDI"}},
        // An unknown value is ignored.
        {"oss",
         {"[MIDI] STRATA_MIDI=oss is not jack, alsa or none; choosing by itself", nothingAnswers}},
        {std::nullopt,
         {"[MIDI] No MIDI system (the ALSA sequencer did not open); running without MIDI"},
         fake},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.forced.value_or("(not set)") + " " + c.sequencerDevice);
        if (!c.sequencerDevice.empty() && std::filesystem::exists("/dev/snd/seq"))
            continue; // a real sequencer would open
        testing::LogCapture log;
        MidiBackendEnvironment environment = nowhere();
        environment.forced = c.forced;
        if (!c.sequencerDevice.empty())
            environment.sequencerDevice = c.sequencerDevice;
        const MidiBackendChoice choice = chooseMidiBackend(environment);
        EXPECT_EQ(choice.backend, nullptr);
        EXPECT_EQ(choice.kind, "none");
        // The ALSA backend's own report of why it did not open is its test's
        // (AlsaMidiBackend.WithoutTheSequencerDeviceItFailsCleanly).
        auto lines = log.linesStartingWith("[MIDI]");
        std::erase_if(lines, [](const std::string& line) {
            return line.starts_with("[MIDI] ALSA sequencer unavailable");
        });
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(MidiBackendFactory,
     ForcedJackWaitsForAServerAndIsHarmlessMeanwhileAndJackIsPickedOnceOneAnswers) {
    testing::JackTestServer server; // not started yet
    testing::LogCapture log;
    MidiBackendEnvironment environment = nowhere();
    environment.forced = "jack";
    environment.jackServer = server.name();
    const MidiBackendChoice choice = chooseMidiBackend(environment);
    ASSERT_NE(choice.backend, nullptr);
    EXPECT_EQ(choice.kind, "jack");
    EXPECT_FALSE(choice.backend->available());
    EXPECT_EQ(log.linesStartingWith("[MIDI] Using JACK (STRATA_MIDI=jack, ").size(), 1u);

    MidiBackend& backend = *choice.backend;
    const MidiRef client = backend.createClient("Strata", [] {});
    const MidiRef src = backend.createVirtualSource(client, "Strata");
    const MidiRef out = backend.createOutputPort(client, "Strata Out");
    EXPECT_NE(src, 0u);
    const std::vector<std::uint8_t> note = {0x90, 0x10, 0x7F};
    backend.received(src, note.data(), note.size());
    backend.send(out, src, note.data(), note.size());
    backend.barrier(src);
    EXPECT_TRUE(backend.sources().empty());
    EXPECT_TRUE(backend.destinations().empty());

    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    EXPECT_TRUE(testing::waitUntil([&] { return choice.backend->available(); }));

    // Unforced, JACK is picked now that a server answers.
    testing::LogCapture picked;
    environment.forced.reset();
    const MidiBackendChoice unforced = chooseMidiBackend(environment);
    ASSERT_NE(unforced.backend, nullptr);
    EXPECT_EQ(unforced.kind, "jack");
    EXPECT_EQ(unforced.backend->kind(), "jack");
    EXPECT_TRUE(unforced.backend->available());
    // The line names the server the JACK library reaches. (A busy machine may add a line about
    // missed cycles once the client runs; that one is not the choice's.)
    const std::string kind =
        server.kind() == testing::JackTestServer::Kind::pipewire ? "PipeWire" : "jackd";
    EXPECT_EQ(picked.linesStartingWith("[MIDI] Using"),
              std::vector<std::string>{"[MIDI] Using JACK (" + kind + ", server \"" +
                                       server.name() + "\")"});
    EXPECT_TRUE(picked.linesStartingWith("[MIDI] No").empty());
}

} // namespace
} // namespace strata
