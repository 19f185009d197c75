#include "jack/pipewire_jack.h"

#include "jack/jack_midi_backend.h"
#include "platform/log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <jack/jack.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace strata {
namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

void ignoreJackMessage(const char*) {}

// Whether jackd answers: a client opened without starting a server, closed at once. The JACK
// server name comes from JACK_DEFAULT_SERVER, as libjack reads it.
bool jackdAnswersNow() {
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Strata probe", JackNoStartServer, &status);
    if (!client)
        return false;
    jack_client_close(client);
    return true;
}

} // namespace

bool shouldStartThroughPipeWire(const PipeWireJackFacts& facts) {
    if (facts.forcedMidi == "alsa" || facts.forcedMidi == "none")
        return false;
    if (facts.secondStart || facts.libraryIsPipeWire || !facts.pipeWireRuns ||
        !facts.pipeWireJackDir)
        return false;
    return !(facts.jackdAnswers && facts.jackdAnswers());
}

bool pipeWireRuns(const std::filesystem::path& runtimeDir, const std::string& socketName) {
    struct stat lock {};
    const std::string lockPath = (runtimeDir / (socketName + ".lock")).string();
    if (::stat(lockPath.c_str(), &lock) != 0)
        return false;
    // Lines like "1: FLOCK  ADVISORY  WRITE 5282 fe:00:10961115 0 EOF" (device numbers in hex);
    // a waiting request is marked "->" and is no holder.
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(lock.st_dev), minor(lock.st_dev),
                  static_cast<unsigned long long>(lock.st_ino));
    std::ifstream locks("/proc/locks");
    if (!locks)
        return true; // cannot look: the lock file alone says a daemon ran and did not clean up
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos)
            continue;
        std::istringstream fields(line);
        std::string field;
        while (fields >> field)
            if (field == device)
                return true;
    }
    return false;
}

std::optional<std::filesystem::path> findPipeWireJackDir() {
    const std::filesystem::path candidates[] = {
#ifdef STRATA_LIBRARY_ARCHITECTURE
        "/usr/lib/" STRATA_LIBRARY_ARCHITECTURE "/pipewire-0.3/jack",
#endif
        "/usr/lib64/pipewire-0.3/jack",
        "/usr/lib/pipewire-0.3/jack",
    };
    std::error_code ec;
    for (const auto& dir : candidates)
        if (std::filesystem::exists(dir / "libjack.so.0", ec))
            return dir;
    return std::nullopt;
}

PipeWireJackFacts pipeWireJackFactsOfProcess() {
    PipeWireJackFacts facts;
    facts.forcedMidi = environment("STRATA_MIDI");
    facts.secondStart = environment(kPipeWireJackMarker).has_value();
    facts.libraryIsPipeWire = JackMidiBackend::libraryIsPipeWire();
    // Where PipeWire's libjack will look: its runtime folder, and the socket named after the JACK
    // server Strata asks for (JACK_DEFAULT_SERVER, which the backend passes on), else the remote
    // PipeWire clients use by default.
    const auto runtimeDir = environment("PIPEWIRE_RUNTIME_DIR").has_value()
                                ? environment("PIPEWIRE_RUNTIME_DIR")
                                : environment("XDG_RUNTIME_DIR");
    std::string socket = environment("PIPEWIRE_REMOTE").value_or("pipewire-0");
    if (const auto server = environment("JACK_DEFAULT_SERVER"); server && *server != "default")
        socket = *server;
    facts.pipeWireRuns = runtimeDir && pipeWireRuns(*runtimeDir, socket);
    facts.pipeWireJackDir = findPipeWireJackDir();
    facts.jackdAnswers = jackdAnswersNow;
    return facts;
}

void startThroughPipeWireIfNeeded(char** argv) {
    const PipeWireJackFacts facts = pipeWireJackFactsOfProcess();
    if (!shouldStartThroughPipeWire(facts))
        return;
    const std::string dir = facts.pipeWireJackDir->string();
    std::string path = dir;
    const auto previous = environment("LD_LIBRARY_PATH");
    if (previous)
        path += ":" + *previous;
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    setenv(kPipeWireJackMarker, "1", 1);
    logLine("[MIDI] No JACK server answers but PipeWire runs: starting again with PipeWire's JACK "
            "library (" +
            dir + ")");
    ::execv("/proc/self/exe", argv);
    const int error = errno;
    if (previous)
        setenv("LD_LIBRARY_PATH", previous->c_str(), 1);
    else
        unsetenv("LD_LIBRARY_PATH");
    logLine(std::string("[MIDI] Could not start again with PipeWire's JACK library: ") +
            std::strerror(error));
}

} // namespace strata
