// Faults on stage, against the real program on a private JACK server: the server goes away in
// the middle of a session and comes back, and the cue link is flooded with malformed and valid
// datagrams. Through both the program keeps its position and its state, and a NEXT press still
// reaches the DAW. A simulated DAW with a Mackie Control surface (mute toggles, LED feedback)
// reads "Strata"; a test client plays the footswitch; the test plays Cadenzo. The assertions are
// that things arrive, never how long they took.

#include "app_process.h"
#include "cuelink/cadenzo_link.h"
#include "daw_simulator.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "model/store.h"
#include "support/cue_sender.h"
#include "support/records.h"
#include "support/test_support.h"

#include <atomic>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <memory>
#include <sstream>
#include <thread>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kSections = 12;
constexpr int kLayers = 4;
constexpr int kTracks = 24;
constexpr std::uint8_t kNextNote = 36;

// Section k mutes layer k % 4, which the bank puts on track k % 4.
std::vector<bool> mutesOf(int section) {
    std::vector<bool> mutes(kTracks);
    mutes[static_cast<std::size_t>(section % kLayers)] = true;
    return mutes;
}

// The bytes of datagrams queued but not read yet on the sockets bound to the cue-link port in this
// network namespace, as the kernel tells them.
long cuePortQueuedBytes() {
    long total = 0;
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line); // the header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        if (f.size() < 13)
            continue;
        const auto colon = f[1].find(':');
        if (colon == std::string::npos ||
            std::stoul(f[1].substr(colon + 1), nullptr, 16) != cue_link::kPort)
            continue;
        total += std::stol(f[4].substr(f[4].find(':') + 1), nullptr, 16);
    }
    return total;
}

// The program, its JACK server, the DAW and the footswitch.
class StageRig {
public:
    StageRig() {
        files_.writeSettings({{"showModeChooserAtStartup", false}, {"hasSeenQuickStart", true}},
                             {{"strataMode", "essentials"}},
                             AdvanceTrigger{"pedal:out", AdvanceTrigger::Kind::note, kNextNote});
        Setlist set;
        set.name = "Stage";
        set.controlMode = ControlMode::mackieControl;
        growTo(set.layers, kLayers);
        Song song = Song::fresh();
        song.name = "Long song";
        for (int k = 0; k < kSections; ++k) {
            song.sections.push_back(Section::named("Part " + std::to_string(k)));
            song.sections.back().steps[0].mutedLayerIDs = {
                set.layers[static_cast<std::size_t>(k % kLayers)].id};
        }
        set.songs = {song};
        files_.writeSet(set);
    }

    // Starts the server, the clients and the program, and waits for the first push to land.
    void start() {
        std::string error;
        ASSERT_TRUE(server_.start(&error)) << error;
        ASSERT_NO_FATAL_FAILURE(openClients());
        ASSERT_TRUE(app_.start(STRATA_APP_PATH, files_, {"STRATA_MIDI=jack"}));
        waitUntil([&] { return jack_port_by_name(pedal_->handle(), "Strata:Strata") != nullptr; },
                  60s);
        ASSERT_NO_FATAL_FAILURE(wireDaw());
        ASSERT_TRUE(app_.waitForLine("[Strata] Ready", 60s)) << app_.output();
        ASSERT_TRUE(waitForMutes(mutesOf(0), 20s)) << app_.output();
    }

    // A DAW and a footswitch on the current server (a DAW that connects gets the whole state).
    void openClients() {
        daw_ = std::make_unique<DawSimulator>(server_.name(), "daw", DawSimulator::Options{});
        pedal_ = std::make_unique<JackTestClient>(server_.name(), "pedal");
        ASSERT_TRUE(daw_->ok() && pedal_->ok());
        pedalOut_ = pedal_->addOutput("out");
        ASSERT_EQ(pedal_->fullName(pedalOut_), "pedal:out");
    }
    void closeClients() {
        daw_.reset();
        pedal_.reset();
    }
    void wireDaw() {
        // "Strata feedback" appears with "Strata"; retry while the program is still setting up.
        ASSERT_TRUE(waitUntil(
            [&] { return daw_->connectUnit(0, "Strata:Strata", "Strata:Strata feedback"); },
            kPatience, 10ms))
            << app_.output();
    }

    bool waitForMutes(const std::vector<bool>& want, std::chrono::milliseconds timeout) {
        return waitUntil([&] { return daw_->mutes() == want; }, timeout);
    }
    // Presses NEXT on the footswitch; whether the DAW's mutes become those of `section`.
    bool pressNext(int section) {
        pedal_->send(pedalOut_, {0x90, kNextNote, 100});
        pedal_->send(pedalOut_, {0x80, kNextNote, 0});
        return waitForMutes(mutesOf(section), 20s);
    }
    // Cadenzo fires a section; whether the DAW's mutes become those of it.
    bool fire(int section) {
        cadenzo_.send(R"({"type":"FIRE","songIdx":0,"sectionIdx":)" + std::to_string(section) +
                      "}");
        return waitForMutes(mutesOf(section), 20s);
    }

    JackTestServer& server() { return server_; }
    AppProcess& app() { return app_; }
    DawSimulator& daw() { return *daw_; }
    const CueSender& cadenzo() const { return cadenzo_; }
    const AppFixtureFiles& files() const { return files_; }

private:
    TempDir dir_;
    AppFixtureFiles files_{dir_.path()};
    JackTestServer server_;
    AppProcess app_;
    std::unique_ptr<DawSimulator> daw_;
    std::unique_ptr<JackTestClient> pedal_;
    std::size_t pedalOut_ = 0;
    CueSender cadenzo_;
};

void quit(StageRig& rig) {
    EXPECT_EQ(rig.app().stop(SIGTERM, 30s), std::optional<int>(0)) << rig.app().output();
    const auto saved = Store::load(StoreLocation{rig.files().dataHome(), rig.files().home()});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->songs.at(0).sections.size(), static_cast<std::size_t>(kSections));
}

} // namespace

TEST(StrataStage, JackServerGoesAwayAndComesBackWhileThePositionMovesOn) {
    StageRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.start());
    int section = 0;
    ASSERT_TRUE(rig.pressNext(++section)) << rig.app().output();

    for (int outage = 1; outage <= 2; ++outage) {
        SCOPED_TRACE("outage " + std::to_string(outage));
        // Our own clients let go of the server first, so that nothing of ours still maps its
        // shared memory when a server of the same name takes it over; then it stops, by its
        // PID, and the program notices.
        rig.closeClients();
        const std::size_t outputBefore = rig.app().output().size();
        rig.server().stop();
        ASSERT_TRUE(rig.app().waitForLine("[MIDI] JACK server stopped", 20s, outputBefore))
            << rig.app().output();

        // The show goes on without MIDI: Cadenzo moves the position on.
        section += 3;
        ASSERT_TRUE(rig.cadenzo().send(R"({"type":"FIRE","songIdx":0,"sectionIdx":)" +
                                       std::to_string(section) + "}"));
        std::this_thread::sleep_for(300ms);

        // Back under the same name (the program follows the server it was started with).
        std::string error;
        ASSERT_TRUE(rig.server().start(&error)) << error;
        ASSERT_TRUE(rig.app().waitForLine("[MIDI] JACK server is back", 20s, outputBefore))
            << rig.app().output();

        // A DAW that connects now is brought to the position the program holds.
        ASSERT_NO_FATAL_FAILURE(rig.openClients());
        ASSERT_NO_FATAL_FAILURE(rig.wireDaw());
        ASSERT_TRUE(rig.waitForMutes(mutesOf(section), 20s)) << rig.app().output();
        // And the footswitch works again.
        ASSERT_TRUE(rig.pressNext(++section)) << rig.app().output();
    }
    quit(rig);
}

// The footswitch before, during and after the flood, Cadenzo after it and an orderly quit (this one
// runs on PipeWire too).
TEST(StrataStage, CueLinkFloodLeavesPositionStateAndResponsiveness) {
    StageRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.start());
    int section = 0;
    ASSERT_TRUE(rig.pressNext(++section)) << rig.app().output();

    // What the flood sends, in turn: mostly datagrams that cost the decoder its most (16 KB of
    // JSON that breaks at the end, or parses but is no valid message), oversize ones, binary
    // junk, and valid messages that must not move the position.
    std::string padding(16000, 'x');
    const std::vector<std::string> junk = {
        R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"pad":")" + padding,
        R"({"type":"FIRE","songIdx":"zero","sectionIdx":0,"pad":")" + padding + "\"}",
        std::string(16384, '['),
        std::string(20000, '{'),
        std::string("\xff\xfe\x00\x01 binary", 12) + padding.substr(0, 1000),
        R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":3,"playing":false,"bpm":120})",
        R"({"type":"HELLO","host":"Flood"})",
        R"({"type":"MARKER_HIT","name":"m"})",
        R"({"type":"NOT_A_TYPE"})",
        R"({"type":"FIRE","songIdx":0})",
    };
    constexpr long rate = 20000; // datagrams per second
    std::atomic<bool> flooding{true};
    std::atomic<long> sent{0};
    std::thread flood([&] {
        CueSender sender;
        const auto start = SteadyClock::now();
        while (flooding) {
            sender.send(junk[static_cast<std::size_t>(sent % static_cast<long>(junk.size()))]);
            ++sent;
            const auto due = start + std::chrono::microseconds(sent * 1000000 / rate);
            if (due > SteadyClock::now())
                std::this_thread::sleep_until(due);
        }
    });
    for (int press = 0; press < 4; ++press) {
        std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(rig.pressNext(++section)) << "NEXT during the flood did not reach the DAW";
    }
    flooding = false;
    flood.join();

    // A datagram that meets a full receive queue is lost on the way, before the program could do
    // anything about it; Cadenzo's FIRE below is sent once the program has read the backlog.
    const auto drainStart = SteadyClock::now();
    while (cuePortQueuedBytes() > 0) {
        ASSERT_LT(SteadyClock::now(), drainStart + 20s)
            << "the program stopped reading the cue link";
        std::this_thread::sleep_for(1ms);
    }

    // After the flood: Cadenzo's FIRE and the footswitch both get through, from where the
    // position was.
    EXPECT_TRUE(rig.fire(section = 8)) << rig.app().output();
    EXPECT_TRUE(rig.pressNext(++section)) << rig.app().output();
    quit(rig);
}
