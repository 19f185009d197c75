// Everything in this file may run on JACK's real-time process thread: no allocation, no locks,
// no system calls, nothing that can block. Only atomics, the lock-free rings and JACK's port
// buffer functions. Keep anything else out of this file.
#include "jack/jack_process.h"

#include <algorithm>
#include <jack/jack.h>
#include <jack/midiport.h>

namespace strata {
namespace {

// PipeWire's libjack turns each cycle's MIDI port buffer into a control sequence of its own
// (measured on 0.3.65: at most 32768 bytes, counting 16 for the sequence and, per event, 16 plus
// its bytes rounded up to 8). A cycle whose events do not fit is dropped whole, and an event near
// the largest size jack_midi_max_event_size() reports crashes the reading client. So one port
// writes at most half that per cycle, counted PipeWire's way, and no piece longer than
// kMaxEventPiece; a longer system-exclusive message goes out in pieces over several cycles, as
// it does when jackd's smaller buffers are full. jackd's buffers hold far less than these limits,
// so they change nothing there.
constexpr std::size_t kCycleBudget = 16384;
constexpr std::size_t kMaxEventPiece = 8192;

// Messages up to this length go out whole or wait for the next cycle; longer ones may be cut.
constexpr std::size_t kShortestCut = 256;
constexpr std::size_t sequenceCost(std::size_t eventBytes) {
    return 16 + ((eventBytes + 7) & ~std::size_t{7});
}

} // namespace

int JackProcess::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<JackProcess*>(self)->process(frames);
}

int JackProcess::bufferSizeCallback(jack_nframes_t frames, void* self) {
    static_cast<JackProcess*>(self)->periodFrames.store(frames, std::memory_order_relaxed);
    return 0;
}

int JackProcess::xrunCallback(void* self) {
    // Reported on a notification thread, some time after the cycle it is about, and without
    // saying which one: whether our output of that cycle was lost cannot be told from here.
    static_cast<JackProcess*>(self)->xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackProcess::shutdownCallback(void* self) {
    static_cast<JackProcess*>(self)->shutdownSignalled.store(true, std::memory_order_release);
}

void JackProcess::resetStreams() {
    for (OutputChannel& channel : outputs) {
        channel.ring.clear();
        channel.sentOfCurrent = 0;
        channel.gateCycle.store(0, std::memory_order_relaxed);
    }
    incoming.clear();
}

void JackProcess::forgetPorts() {
    for (OutputChannel& channel : outputs)
        channel.port.store(nullptr);
    for (InputChannel& channel : inputs)
        channel.port.store(nullptr);
}

void JackProcess::drainOutput(OutputChannel& channel, void* buffer, const CycleFrames& now) {
    const std::uint64_t cycle = now.cycle;
    // The largest event an empty buffer takes; longer ones go out in pieces of this size.
    const std::size_t pieceLimit = std::min(jack_midi_max_event_size(buffer), kMaxEventPiece);
    std::size_t budget = kCycleBudget - 16;
    bool wroteThisCycle = false;
    // Where in the cycle the next event goes. It never moves back: a port buffer takes its events
    // in time order only.
    std::uint32_t offset = 0;
    JackOutRecord record;
    while (channel.ring.peek(&record, sizeof record)) {
        if (record.kind == kJackOutBarrier) {
            // What follows goes out with a cycle between it and what came before: a host may
            // take presses of one button in adjacent cycles for one.
            if (wroteThisCycle ||
                (channel.lastWriteCycle != 0 && cycle < channel.lastWriteCycle + 2))
                return;
            channel.ring.skip(sizeof record);
            continue;
        }
        if (record.kind == kJackOutNotBefore) {
            if (cycle < record.cycle)
                return;
            channel.ring.skip(sizeof record);
            continue;
        }
        if (record.kind == kJackOutAtFrame) {
            if (now.frameKnown) {
                // Frame times wrap around (after a day at 48 kHz); the difference does not.
                const auto ahead = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(record.cycle) - now.firstFrame);
                const auto limit = static_cast<std::int32_t>(
                    jackMaxFramesAhead(sampleRate.load(std::memory_order_relaxed),
                                       periodFrames.load(std::memory_order_relaxed)));
                if (ahead >= static_cast<std::int32_t>(now.frames) && ahead <= limit)
                    return; // due in a later cycle: this and everything behind it waits
                if (ahead > 0 && ahead < static_cast<std::int32_t>(now.frames))
                    offset = std::max(offset, static_cast<std::uint32_t>(ahead));
                // Past, or too far ahead to be trusted: at once.
            }
            channel.ring.skip(sizeof record);
            continue;
        }
        if (record.kind == kJackOutGate) {
            if (cycle < channel.gateCycle.load(std::memory_order_acquire))
                return;
            channel.ring.skip(sizeof record);
            continue;
        }
        const std::size_t remaining = record.length - channel.sentOfCurrent;
        std::size_t piece = std::min(remaining, pieceLimit);
        if (piece == 0) {
            if (remaining == 0) { // an empty event: nothing to send
                channel.ring.skip(sizeof record);
                continue;
            }
            return;
        }
        const std::size_t room = budget >= 16 ? (budget - 16) & ~std::size_t{7} : 0;
        if (piece > room) {
            if (record.length <= kShortestCut || room < kShortestCut)
                return; // the rest of this cycle's share is too small: next cycle, in order
            piece = room;
        }
        jack_midi_data_t* target = jack_midi_event_reserve(buffer, offset, piece);
        if (!target)
            return; // this cycle's buffer is full: the rest goes out next cycle, in order
        budget -= sequenceCost(piece);
        channel.ring.peek(target, piece, sizeof record + channel.sentOfCurrent);
        channel.sentOfCurrent += piece;
        wroteThisCycle = true;
        channel.lastWriteCycle = cycle;
        if (channel.sentOfCurrent == record.length) {
            channel.ring.skip(sizeof record + record.length);
            channel.sentOfCurrent = 0;
            writtenOutgoing.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

int JackProcess::process(jack_nframes_t frames) {
    // JACK's clock is a vDSO read, no system call.
    const std::uint64_t startedMicros = jack_get_time();
    const std::uint64_t current = cycle.load(std::memory_order_relaxed) + 1;
    cycle.store(current, std::memory_order_release);
    CycleFrames now{current, frames, 0, false};
    if (jack_client_t* self = client.load(std::memory_order_acquire)) {
        now.firstFrame = jack_last_frame_time(self);
        now.frameKnown = true;
    }

    for (OutputChannel& channel : outputs) {
        jack_port_t* port = channel.port.load(std::memory_order_acquire);
        if (!port)
            continue;
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        drainOutput(channel, buffer, now);
    }

    for (std::size_t endpoint = 0; endpoint < inputs.size(); ++endpoint) {
        jack_port_t* port = inputs[endpoint].port.load(std::memory_order_acquire);
        if (!port)
            continue;
        void* buffer = jack_port_get_buffer(port, frames);
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
                continue;
            const JackInRecord record{static_cast<std::uint32_t>(endpoint),
                                      static_cast<std::uint32_t>(event.size), current};
            // PipeWire's libjack hands its reader every Note On of velocity 0 as a Note Off of
            // velocity 64 (its "jack.fix-midi-events", on by default). A Mackie host sends a
            // dark LED as Note On velocity 0, and the feedback reader knows only that form; both
            // mean the same to MIDI, so turn the rewrite back.
            const std::uint8_t* bytes = event.buffer;
            std::uint8_t noteOff[3];
            if (onPipeWire_ && event.size == 3 && (bytes[0] & 0xF0) == 0x80 && bytes[2] == 0x40) {
                noteOff[0] = static_cast<std::uint8_t>(0x90 | (bytes[0] & 0x0F));
                noteOff[1] = bytes[1];
                noteOff[2] = 0;
                bytes = noteOff;
            }
            if (!incoming.write(&record, sizeof record, bytes, event.size))
                droppedIncoming.fetch_add(1, std::memory_order_relaxed);
        }
    }
    finishedCycle.store(current, std::memory_order_release);
    lastProcessMicros.store(startedMicros, std::memory_order_release);
    return 0;
}

} // namespace strata
