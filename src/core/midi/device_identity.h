#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strata {

// Recognising a MIDI device again after a replug or a reboot.
//
// On Linux the names of hardware MIDI ports carry numbers that the MIDI system hands out afresh
// whenever a device appears: the ALSA client number a bridge puts in brackets
// ("a2j:FCB1010 [24] (capture): FCB1010 MIDI 1"), ALSA addresses ("24:0"), sound card numbers
// ("hw:1,0,0"; JACK's raw-MIDI aliases "system:2-1 FCB1010 MIDI 1 1 in"), and JACK's numbered
// system ports ("system:midi_capture_3"), whose names say nothing of the device at all. JACK lists
// those with aliases that do ("alsa_pcm:FCB1010/midi_capture_1", "FCB1010:midi/capture_1").
//
// A learned trigger therefore stores the device's stable name (its first alias where the port has
// aliases, else its own name, with the volatile numbers dropped), and a source answers to a stored
// device when the stable form of the stored text equals the stable form of the source's name or of
// one of its aliases. Triggers stored before, under a full port name, still match: the same
// normalisation applies to them, and a name without volatile numbers (a software port, an ALSA
// "client:port" name) is compared exactly as before. Two identical devices answer alike.

// `name` without the numbers listed above; a name without them comes back unchanged, and so does
// a name that would be left empty.
std::string stableDeviceName(std::string_view name);

// How one source is recognised.
struct DeviceIdentity {
    // What a trigger learned from the source stores.
    std::string learned;
    // The stable forms the source answers to: of its name, then of each alias.
    std::vector<std::string> keys;

    // Whether a stored device, already in stable form, names this source.
    bool answersTo(std::string_view stableStoredDevice) const;
};

DeviceIdentity deviceIdentity(std::string_view name, const std::vector<std::string>& aliases);

} // namespace strata
