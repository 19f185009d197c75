// The real program end to end: `strata` offscreen on a private JACK server, inside the private
// network namespace this suite runs in. A test client plays the DAW (reading "Strata") and a
// footswitch; the test plays Cadenzo on the multicast group.

#include "app_process.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "model/store.h"
#include "support/cue_sender.h"
#include "support/test_support.h"

#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <jack/jack.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

using Messages = std::vector<std::vector<std::uint8_t>>;

// Mute button presses as the DAW reads them (a release as Note Off under PipeWire).
Messages presses(std::initializer_list<std::uint8_t> notes) {
    Messages out;
    for (auto n : notes) {
        out.push_back({0x90, n, 0x7F});
        out.push_back(JackTestClient::asReceived({0x90, n, 0x00}));
    }
    return out;
}

Messages bytesOf(const std::vector<JackTestEvent>& events) {
    Messages out;
    for (const auto& e : events)
        out.push_back(e.bytes);
    return out;
}

} // namespace

TEST(StrataApp, FollowsTheFootswitchAndCadenzoAndDrivesTheDawPortAndQuitsOnSigterm) {
    JackTestServer server;
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    JackTestClient daw(server.name(), "daw");
    JackTestClient pedal(server.name(), "pedal");
    ASSERT_TRUE(daw.ok() && pedal.ok());
    const std::size_t dawIn = daw.addInput("in");
    const std::size_t pedalOut = pedal.addOutput("out");

    TempDir dir;
    const AppFixtureFiles files{dir.path()};
    files.writeSettings({{"showModeChooserAtStartup", false}, {"hasSeenQuickStart", true}},
                        {{"strataMode", "essentials"}},
                        AdvanceTrigger{pedal.fullName(pedalOut), AdvanceTrigger::Kind::note, 36});
    Setlist set;
    set.name = "Show";
    set.controlMode = ControlMode::mackieControl;
    set.layers = {Layer::fresh(), Layer::fresh(), Layer::fresh(), Layer::fresh()};
    Song song = Song::fresh();
    song.name = "Opener";
    for (const char* name : {"Intro", "Verse", "Chorus"})
        song.sections.push_back(Section::named(name));
    for (std::size_t k = 0; k < 3; ++k)
        song.sections[k].steps[0].mutedLayerIDs = {set.layers[k].id};
    set.songs = {song};
    files.writeSet(set);

    AppProcess app;
    ASSERT_TRUE(app.start(STRATA_APP_PATH, files, {"STRATA_MIDI=jack"}));

    // The DAW reads "Strata" as soon as the port exists, normally long before the window is up.
    waitUntil([&] { return jack_port_by_name(daw.handle(), "Strata:Strata") != nullptr; });
    ASSERT_TRUE(daw.connect("Strata:Strata", daw.fullName(dawIn))) << app.output();
    ASSERT_TRUE(app.waitForLine("[Strata] Ready (MIDI: jack)", 30s)) << app.output();

    // First push: the bank to the first track, then Intro's mute. (A DAW connected only after
    // it went out hears nothing of it; that is not what this test is about.)
    Messages first;
    for (int i = 0; i < 32; ++i) {
        first.push_back({0x90, 0x2E, 0x7F});
        first.push_back(JackTestClient::asReceived({0x90, 0x2E, 0x00}));
    }
    for (auto& m : presses({0x10}))
        first.push_back(m);
    daw.waitUntil([&](const auto& events) { return events.size() >= first.size(); }, 3s);
    const Messages initial = bytesOf(daw.takeCollected());
    if (initial.empty())
        std::cout << "note: the DAW connected after the first push\n";
    else
        EXPECT_EQ(initial, first);

    // NEXT on the footswitch: Verse. Exactly its two changed strips, once.
    ASSERT_TRUE(pedal.send(pedalOut, {0x90, 36, 100}));
    const Messages next = presses({0x10, 0x11});
    daw.waitUntil([&](const auto& events) { return events.size() >= next.size(); }, 10s);
    daw.waitCycles(20);
    daw.waitUntil([](const auto&) { return false; }, 50ms);
    EXPECT_EQ(bytesOf(daw.takeCollected()), next) << app.output();

    // Cadenzo fires the third section; its song index is out of range and leaves the song alone.
    ASSERT_TRUE(CueSender().send(R"({"type":"FIRE","songIdx":7,"sectionIdx":2})"));
    const Messages fire = presses({0x11, 0x12});
    daw.waitUntil([&](const auto& events) { return events.size() >= fire.size(); }, 10s);
    daw.waitCycles(20);
    daw.waitUntil([](const auto&) { return false; }, 50ms);
    EXPECT_EQ(bytesOf(daw.takeCollected()), fire) << app.output();

    // Stopped like a service: the same orderly quit as closing the window.
    EXPECT_EQ(app.stop(SIGTERM, 20s), std::optional<int>(0)) << app.output();
    EXPECT_NE(app.output().find("[Strata] SIGTERM received; quitting"), std::string::npos)
        << app.output();
    const auto saved = Store::load(StoreLocation{files.dataHome(), files.home()});
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->songs.at(0).sections.size(), 3u);
}
