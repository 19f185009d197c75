#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace strata {

// Using PipeWire's JACK without the user knowing about `pw-jack`.
//
// PipeWire offers the JACK API through a libjack of its own, kept out of the library path
// (Debian: /usr/lib/<triplet>/pipewire-0.3/jack/). A program linked against libjack.so.0 gets
// jackd's library, which finds no server on a PipeWire desktop. `pw-jack PROGRAM` only puts
// PipeWire's folder first on LD_LIBRARY_PATH. Strata does the same by itself: when no jackd
// answers but PipeWire runs, it executes itself once more with that folder first on the path,
// first thing in main(), before any thread, window or MIDI client exists. Loading PipeWire's
// library with dlopen() instead would mean calling every JACK function through pointers of our
// own in the backend and the tests; the second start costs a few milliseconds, once.

// The environment variable that marks the second start; it is never done twice.
inline constexpr const char* kPipeWireJackMarker = "STRATA_PIPEWIRE_JACK";

// What the choice looks at.
struct PipeWireJackFacts {
    std::optional<std::string> forcedMidi; // STRATA_MIDI
    bool secondStart = false;              // the marker is set: this is the second start
    bool libraryIsPipeWire = false;        // the JACK library loaded already is PipeWire's
    bool pipeWireRuns = false;
    std::optional<std::filesystem::path> pipeWireJackDir;
    // Asked last and only when everything else says PipeWire: it opens a JACK client.
    std::function<bool()> jackdAnswers;
};

// True when the program should start again with PipeWire's libjack: no MIDI system other than
// JACK is forced, this is the first start, the loaded library is jackd's, PipeWire runs, its
// libjack is installed, and no jackd answers.
bool shouldStartThroughPipeWire(const PipeWireJackFacts& facts);

// Whether a PipeWire daemon runs with the socket `socketName` in `runtimeDir`: it holds a lock on
// "<socketName>.lock" next to the socket while it runs. Looked at in /proc/locks, without
// touching the socket (connecting to a socket-activated one would start the daemon) or the lock.
bool pipeWireRuns(const std::filesystem::path& runtimeDir, const std::string& socketName);

// Where PipeWire's libjack is installed, if it is.
std::optional<std::filesystem::path> findPipeWireJackDir();

// The facts of this process, from its environment and the machine.
PipeWireJackFacts pipeWireJackFactsOfProcess();

// Called first thing in main(), while the process has one thread. When the facts say so, puts
// PipeWire's libjack folder first on LD_LIBRARY_PATH, sets the marker and executes this program
// again with the same arguments; it returns only when it does not (or that failed, which it
// says).
void startThroughPipeWireIfNeeded(char** argv);

} // namespace strata
