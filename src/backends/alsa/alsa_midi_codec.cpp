#include "alsa/alsa_midi_codec.h"

namespace strata {

AlsaMidiCodec::AlsaMidiCodec(std::size_t sysexChunk) {
    if (snd_midi_event_new(sysexChunk, &encoder_) < 0)
        encoder_ = nullptr;
    // The decoder's buffer only ever holds one short message; SYSEX events are copied directly.
    if (snd_midi_event_new(16, &decoder_) < 0)
        decoder_ = nullptr;
    if (decoder_)
        snd_midi_event_no_status(decoder_, 1);
}

AlsaMidiCodec::~AlsaMidiCodec() {
    if (encoder_)
        snd_midi_event_free(encoder_);
    if (decoder_)
        snd_midi_event_free(decoder_);
}

void AlsaMidiCodec::resetEncoder() {
    if (encoder_)
        snd_midi_event_reset_encode(encoder_);
}

void AlsaMidiCodec::encode(const std::uint8_t* data, std::size_t length,
                           const std::function<void(snd_seq_event_t&)>& sink) {
    if (!encoder_ || !data)
        return;
    while (length > 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long used = snd_midi_event_encode(encoder_, data, static_cast<long>(length), &event);
        if (used <= 0)
            return;
        data += used;
        length -= static_cast<std::size_t>(used);
        if (event.type != SND_SEQ_EVENT_NONE)
            sink(event);
    }
}

bool AlsaMidiCodec::decode(const snd_seq_event_t& event, std::vector<std::uint8_t>& out) {
    if (event.type == SND_SEQ_EVENT_SYSEX) {
        if ((event.flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_VARIABLE ||
            !event.data.ext.ptr)
            return false;
        const auto* bytes = static_cast<const std::uint8_t*>(event.data.ext.ptr);
        out.insert(out.end(), bytes, bytes + event.data.ext.len);
        return event.data.ext.len > 0;
    }
    if (!decoder_)
        return false;
    unsigned char buffer[16];
    const long n = snd_midi_event_decode(decoder_, buffer, sizeof buffer, &event);
    if (n <= 0)
        return false;
    out.insert(out.end(), buffer, buffer + n);
    return true;
}

} // namespace strata
