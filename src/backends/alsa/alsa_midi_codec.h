#pragma once

#include <alsa/asoundlib.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace strata {

// MIDI bytes to sequencer events and back, through alsa-lib's own parser (snd_midi_event).
// System-exclusive messages longer than the chunk size become several consecutive SYSEX events
// whose data concatenate to the message; that is how the sequencer carries them.
class AlsaMidiCodec {
public:
    static constexpr std::size_t kDefaultSysexChunk = 256;

    explicit AlsaMidiCodec(std::size_t sysexChunk = kDefaultSysexChunk);
    ~AlsaMidiCodec();
    AlsaMidiCodec(const AlsaMidiCodec&) = delete;
    AlsaMidiCodec& operator=(const AlsaMidiCodec&) = delete;

    bool ok() const { return encoder_ != nullptr && decoder_ != nullptr; }

    // Calls `sink` once per complete event, in order. A message left incomplete at the end is
    // kept and completed by the next call (a system-exclusive message sent in pieces), until
    // resetEncoder().
    void encode(const std::uint8_t* data, std::size_t length,
                const std::function<void(snd_seq_event_t&)>& sink);
    void resetEncoder();

    // Appends the bytes of one event to `out`, always with its status byte (no running
    // status). False for events that carry no MIDI bytes (announcements, timers, ...).
    bool decode(const snd_seq_event_t& event, std::vector<std::uint8_t>& out);

private:
    snd_midi_event_t* encoder_ = nullptr;
    snd_midi_event_t* decoder_ = nullptr;
};

} // namespace strata
