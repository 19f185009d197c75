#include "midi_backend_factory.h"

#include "alsa/alsa_midi_backend.h"
#include "jack/jack_midi_backend.h"
#include "platform/log.h"

#include <cstdlib>
#include <filesystem>

namespace strata {
namespace {

std::unique_ptr<JackMidiBackend> openJack(const MidiBackendEnvironment& environment,
                                          bool waitForServer) {
    JackMidiBackend::Options options;
    options.serverName = environment.jackServer;
    options.waitForServer = waitForServer;
    return std::make_unique<JackMidiBackend>(options);
}

std::string jackServerLabel(const MidiBackendEnvironment& environment) {
    return environment.jackServer ? *environment.jackServer : std::string("default");
}

// Which server the loaded JACK library talks to.
std::string jackServerKind() {
    return JackMidiBackend::libraryIsPipeWire() ? "PipeWire" : "jackd";
}

MidiBackendChoice none(const std::string& why) {
    logLine("[MIDI] No MIDI system" + why + "; running without MIDI");
    return {nullptr, "none"};
}

} // namespace

MidiBackendEnvironment MidiBackendEnvironment::fromProcess() {
    MidiBackendEnvironment environment;
    if (const char* forced = std::getenv("STRATA_MIDI"); forced && *forced)
        environment.forced = forced;
    if (const char* server = std::getenv("JACK_DEFAULT_SERVER"); server && *server)
        environment.jackServer = server;
    return environment;
}

MidiBackendChoice chooseMidiBackend(const MidiBackendEnvironment& environment) {
    std::string forced = environment.forced.value_or("");
    if (!forced.empty() && forced != "jack" && forced != "alsa" && forced != "none") {
        logLine("[MIDI] STRATA_MIDI=" + forced + " is not jack, alsa or none; choosing by itself");
        forced.clear();
    }
    if (forced == "none")
        return none(" (STRATA_MIDI=none)");

    if (forced.empty() || forced == "jack") {
        auto jack = openJack(environment, forced == "jack");
        if (jack->available()) {
            logLine("[MIDI] Using JACK (" + jackServerKind() + ", server \"" +
                    jackServerLabel(environment) + "\")");
            return {std::move(jack), "jack"};
        }
        if (forced == "jack") {
            logLine("[MIDI] Using JACK (STRATA_MIDI=jack, " + jackServerKind() +
                    "); no server answers yet, waiting for one");
            return {std::move(jack), "jack"};
        }
    }

    std::error_code ec;
    const bool sequencer = std::filesystem::exists(environment.sequencerDevice, ec);
    if (sequencer || forced == "alsa") {
        if (!sequencer)
            return none(" (STRATA_MIDI=alsa, but " + environment.sequencerDevice +
                        " does not exist)");
        auto alsa = std::make_unique<AlsaMidiBackend>();
        if (alsa->available()) {
            logLine("[MIDI] Using the ALSA sequencer");
            return {std::move(alsa), "alsa"};
        }
        return none(" (the ALSA sequencer did not open)");
    }
    return none(" (no JACK server answers and " + environment.sequencerDevice + " does not exist)");
}

MidiBackendChoice chooseMidiBackend() {
    return chooseMidiBackend(MidiBackendEnvironment::fromProcess());
}

} // namespace strata
