// Mutes behind a bank move reach the DAW through a real JACK server while the main thread is held
// busy the whole time: the settle between them is watched on the MIDI side.
#include "daw_simulator.h"
#include "jack/jack_midi_backend.h"
#include "jack_server_suite.h"
#include "jack_test_server.h"
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "support/midi_bytes.h"
#include "support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace strata {
namespace {

using testing::DawSimulator;
using testing::JackServerSuite;

// A main thread that never gets round to anything: its clock runs in real time, and nothing
// handed to it runs.
class HeldMainLoop final : public MainLoop {
public:
    TimePoint now() const override { return Clock::now(); }
    void post(Task) override {}
    TimerHandle after(Duration, Task) override { return std::make_unique<LoopHandle>(); }
    TimerHandle every(Duration, Task) override { return std::make_unique<LoopHandle>(); }
    TimerHandle watchReadable(int, Task) override { return std::make_unique<LoopHandle>(); }
};

class SettleThroughJack : public JackServerSuite {};

TEST_F(SettleThroughJack, MutesBehindBankMovesReachTheDawWhileTheMainThreadIsHeld) {
    DawSimulator::Options options;
    options.tracks = 32;
    options.mutedAtStart = {9};
    options.mainBank = 24; // left elsewhere in the session
    DawSimulator daw(server_->name(), "daw", options);
    ASSERT_TRUE(daw.ok());

    HeldMainLoop loop;
    MemorySettings settings;
    JackMidiBackend::Options backendOptions;
    backendOptions.serverName = server_->name();
    backendOptions.retryInterval = std::chrono::milliseconds(100);
    JackMidiBackend backend(backendOptions);
    {
        MidiService service(backend, loop, settings);
        ASSERT_TRUE(testing::waitUntil([&] { return backend.available(); }));
        const MidiRef source = service.virtualSourceRef(false);
        ASSERT_TRUE(daw.connectUnit(0, backend.jackPortName(source),
                                    backend.jackPortName(service.virtualDestinationRef(false))));
        ASSERT_TRUE(testing::waitUntil([&] { return backend.counters().subscriptions > 0; }));
        service.drain();

        // The first push after the DAW connected, then a section on another bank: each waits for
        // its bank to settle (the first for the DAW's full report too) before its presses.
        struct Section {
            std::int64_t offset;
            std::vector<int> muted; // layer positions
        };
        const auto layers = testing::makeLayers(8);
        for (const Section& s : {Section{0, {1, 4}}, Section{8, {0, 3}}}) {
            SCOPED_TRACE("offset " + std::to_string(s.offset));
            service.sendSectionState(layers, testing::idsAt(layers, s.muted),
                                     ControlMode::mackieControl, std::nullopt, s.offset);
            std::vector<bool> wanted = daw.mutes();
            for (int i = 0; i < 8; ++i)
                wanted[static_cast<std::size_t>(s.offset + i)] =
                    std::find(s.muted.begin(), s.muted.end(), i) != s.muted.end();
            EXPECT_TRUE(testing::waitUntil([&] { return daw.mutes() == wanted; }))
                << "the mutes never reached the DAW";
            EXPECT_EQ(daw.bank(0), s.offset);
        }
        EXPECT_EQ(daw.mergedPresses(), 0);
        EXPECT_EQ(daw.mutesBesideBankMoves(), 0);
    }
}

} // namespace
} // namespace strata
