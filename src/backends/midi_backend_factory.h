#pragma once

#include "platform/midi_backend.h"

#include <memory>
#include <optional>
#include <string>

namespace strata {

// Which MIDI system to use, from what the machine offers.
struct MidiBackendEnvironment {
    // STRATA_MIDI: "jack", "alsa" or "none" forces that choice; anything else is ignored.
    std::optional<std::string> forced;
    // The JACK server to ask; none means libjack's default (JACK_DEFAULT_SERVER or "default").
    std::optional<std::string> jackServer;
    // The ALSA sequencer device node.
    std::string sequencerDevice = "/dev/snd/seq";

    // Read from the process environment.
    static MidiBackendEnvironment fromProcess();
};

struct MidiBackendChoice {
    std::unique_ptr<MidiBackend> backend; // null: no MIDI system; the caller uses the in-memory one
    std::string kind;                     // "jack", "alsa" or "none"
};

// JACK when a server answers (a server is never started for this), else the ALSA sequencer when
// its device exists, else none. Says on one stdout line which it chose. A forced JACK backend
// without a server waits for one to appear; a forced ALSA backend without the device is none.
MidiBackendChoice chooseMidiBackend(const MidiBackendEnvironment& environment);
MidiBackendChoice chooseMidiBackend();

} // namespace strata
