// The DAW's side of the browser test, for its driver in another language: a private JACK server,
// a DAW with a Mackie Control surface on it, and the set the program is to play.
//
//   strata_remote_browser_daw <folder>   writes the set where the program started with
//                                        XDG_DATA_HOME=<folder>/data loads it from
//
// Prints one line each:
//   jack <server name>     the server answers: start the program on it
//   connected              Strata's surface port is wired to the DAW's input
//   mutes <0 or 1 a track> the DAW's mutes, once when connected and after every change
// Runs until its standard input closes or SIGTERM, then stops the server.

#include "app_process.h"
#include "daw_simulator.h"
#include "jack_test_client.h"
#include "jack_test_server.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <jack/jack.h>
#include <poll.h>
#include <string>
#include <unistd.h>

using namespace strata;
using namespace strata::testing;

namespace {

std::atomic<bool> stopping{false};
extern "C" void onTerm(int) {
    stopping = true;
}

// One song whose sections each mute a layer of their own: every move changes the DAW's mutes.
Setlist browserSet() {
    Setlist set;
    set.name = "Browser";
    set.controlMode = ControlMode::mackieControl;
    set.layers = {Layer::fresh(), Layer::fresh(), Layer::fresh()};
    Song song = Song::fresh();
    song.name = "New Song";
    for (const char* name : {"Intro", "Verse 1", "Chorus"})
        song.sections.push_back(Section::named(name));
    for (std::size_t k = 0; k < 3; ++k)
        song.sections[k].steps[0].mutedLayerIDs = {set.layers[k].id};
    set.songs = {song};
    return set;
}

std::string mutesLine(const std::vector<bool>& mutes) {
    std::string line = "mutes ";
    for (bool m : mutes)
        line += m ? '1' : '0';
    return line;
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: strata_remote_browser_daw <folder>\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = onTerm; // no SA_RESTART: poll() below returns
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    AppFixtureFiles{argv[1]}.writeSet(browserSet());
    JackTestServer server;
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "strata_remote_browser_daw: %s\n", error.c_str());
        return 1;
    }
    DawSimulator::Options host;
    host.tracks = 8;
    DawSimulator daw(server.name(), "daw", host);
    JackTestClient wiring(server.name(), "wiring");
    if (!daw.ok() || !wiring.ok()) {
        std::fprintf(stderr, "strata_remote_browser_daw: the DAW could not open\n");
        return 1;
    }
    say("jack " + server.name());

    bool connected = false;
    std::string shown;
    while (!stopping) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 10) > 0) {
            char byte;
            if (::read(STDIN_FILENO, &byte, 1) <= 0)
                break; // the driver is done
        }
        // The DAW reads "Strata" from the moment it exists, as a DAW set up for it would.
        if (!connected && jack_port_by_name(wiring.handle(), "Strata:Strata")) {
            if (!connectPorts(wiring.handle(), "Strata:Strata", daw.inputName(0))) {
                std::fprintf(stderr, "strata_remote_browser_daw: could not wire Strata\n");
                return 1;
            }
            connected = true;
            say("connected");
        }
        daw.takeReceived();
        if (const std::string now = mutesLine(daw.mutes()); connected && now != shown) {
            shown = now;
            say(now);
        }
    }
    return 0;
}
