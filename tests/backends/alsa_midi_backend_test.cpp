#include "alsa/alsa_midi_backend.h"
#include "alsa/alsa_midi_codec.h"
#include "alsa/alsa_port_info.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<snd_seq_event_t> encodeAll(AlsaMidiCodec& codec, const Bytes& bytes,
                                       std::vector<Bytes>* sysexChunks = nullptr) {
    std::vector<snd_seq_event_t> events;
    codec.encode(bytes.data(), bytes.size(), [&](snd_seq_event_t& e) {
        // A SYSEX event points into the parser's buffer: copy what it carries right away.
        if (e.type == SND_SEQ_EVENT_SYSEX && sysexChunks) {
            const auto* p = static_cast<const std::uint8_t*>(e.data.ext.ptr);
            sysexChunks->emplace_back(p, p + e.data.ext.len);
        }
        events.push_back(e);
    });
    return events;
}

// Each packet handed to the engine starts with its status byte: the decoder must not use running
// status, whatever came in.
TEST(AlsaMidiCodec, ChannelMessagesBecomeEventsAndComeBackByteForByte) {
    AlsaMidiCodec codec;
    ASSERT_TRUE(codec.ok());
    const struct {
        Bytes bytes;
        std::vector<snd_seq_event_type_t> types;
        Bytes back{}; // empty: the bytes themselves
    } cases[] = {
        {{0x90, 0x10, 0x7F}, {SND_SEQ_EVENT_NOTEON}}, // Mackie mute press
        {{0x90, 0x10, 0x00}, {SND_SEQ_EVENT_NOTEON}}, // its release stays a note-on
        {{0x93, 0x2E, 0x7F}, {SND_SEQ_EVENT_NOTEON}}, // another channel
        {{0x80, 0x3C, 0x40}, {SND_SEQ_EVENT_NOTEOFF}},
        {{0xBF, 0x7F, 0x00}, {SND_SEQ_EVENT_CONTROLLER}}, // clamped CC on channel 16
        {{0xC4, 0x05}, {SND_SEQ_EVENT_PGMCHANGE}},
        {{0xE0, 0x00, 0x40}, {SND_SEQ_EVENT_PITCHBEND}},
        {{0xD2, 0x33}, {SND_SEQ_EVENT_CHANPRESS}},
        {{0x90, 0x10, 0x7F, 0x90, 0x10, 0x00}, {SND_SEQ_EVENT_NOTEON, SND_SEQ_EVENT_NOTEON}},
        // Running status on the way in is understood.
        {{0xB0, 0x07, 0x10, 0x07, 0x20},
         {SND_SEQ_EVENT_CONTROLLER, SND_SEQ_EVENT_CONTROLLER},
         {0xB0, 0x07, 0x10, 0xB0, 0x07, 0x20}},
    };
    for (const auto& c : cases) {
        const auto events = encodeAll(codec, c.bytes);
        ASSERT_EQ(events.size(), c.types.size());
        Bytes back;
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].type, c.types[i]);
            ASSERT_TRUE(codec.decode(events[i], back));
        }
        EXPECT_EQ(back, c.back.empty() ? c.bytes : c.back);
    }
}

TEST(AlsaMidiCodec, SystemExclusiveGoesInChunksThatJoinToTheMessage) {
    AlsaMidiCodec codec(256);
    for (std::size_t length : {8u, 120u, 256u, 700u}) {
        Bytes message(length);
        message.front() = 0xF0;
        for (std::size_t i = 1; i + 1 < length; ++i)
            message[i] = static_cast<std::uint8_t>(i & 0x7F);
        message.back() = 0xF7;
        std::vector<Bytes> chunks;
        const auto events = encodeAll(codec, message, &chunks);
        ASSERT_FALSE(events.empty());
        Bytes joined;
        for (const Bytes& c : chunks) {
            EXPECT_LE(c.size(), 256u);
            joined.insert(joined.end(), c.begin(), c.end());
        }
        EXPECT_EQ(joined, message) << length;
        EXPECT_EQ(events.size(), (length + 255) / 256) << length;
    }
}

TEST(AlsaMidiCodec, AnIncompleteMessageWaitsForItsRest) {
    AlsaMidiCodec codec;
    EXPECT_TRUE(encodeAll(codec, {0x90, 0x10}).empty());
    const auto events = encodeAll(codec, {0x7F});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].data.note.note, 0x10);
    codec.resetEncoder();
    EXPECT_TRUE(encodeAll(codec, {0x90, 0x11}).empty());
    codec.resetEncoder();
    EXPECT_TRUE(encodeAll(codec, {0x7F}).empty()) << "a stray data byte after a reset is no event";
}

TEST(AlsaMidiCodec, EventsWithoutMidiBytesDecodeToNothing) {
    AlsaMidiCodec codec;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    event.type = SND_SEQ_EVENT_PORT_START;
    Bytes out;
    EXPECT_FALSE(codec.decode(event, out));
    EXPECT_TRUE(out.empty());
}

TEST(AlsaPortSelection, ListsSubscribablePortsOfOtherClientsByFullName) {
    const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    const int own = 128;
    const struct {
        AlsaPortInfo port;
        bool source;
        bool destination;
    } cases[] = {
        {{20, 0, "FCB1010", "FCB1010 MIDI 1", readable | writable, 0}, true, true},
        {{24, 0, "Keystation", "Keystation MIDI 1", readable, 0}, true, false},
        {{14, 0, "Midi Through", "Midi Through Port-0", readable | writable, 0}, true, true},
        {{0, 1, "System", "Announce", readable, 0}, false, false},
        {{own, 0, "Strata", "Strata", readable | writable, 0}, false, false},
        {{30, 2, "Synth", "private", readable | writable | SND_SEQ_PORT_CAP_NO_EXPORT, 0},
         false,
         false},
        {{31, 0, "Synth", "direct only", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE, 0},
         false,
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isListedSource(c.port, own), c.source) << c.port.fullName();
        EXPECT_EQ(isListedDestination(c.port, own), c.destination) << c.port.fullName();
    }
    EXPECT_EQ(cases[0].port.fullName(), "FCB1010:FCB1010 MIDI 1");
}

TEST(AlsaPortSelection, ADawSurfaceOutputIsOneThatFeedsOnlyOurFeedbackPorts) {
    const std::vector<AlsaAddress> feedback = {{128, 0}, {128, 1}};
    const AlsaAddress input{128, 3};
    EXPECT_TRUE(isSurfaceOutput({{128, 0}}, feedback, input));
    EXPECT_TRUE(isSurfaceOutput({{128, 3}, {128, 1}}, feedback, input));
    EXPECT_FALSE(isSurfaceOutput({}, feedback, input));
    EXPECT_FALSE(isSurfaceOutput({{128, 3}}, feedback, input));
    EXPECT_FALSE(isSurfaceOutput({{128, 0}, {40, 0}}, feedback, input));
}

TEST(AlsaMidiBackend, WithoutTheSequencerDeviceItFailsCleanly) {
    // This machine's kernel has no sequencer; elsewhere, a device name that does not exist.
    testing::LogCapture log;
    AlsaMidiBackend::Options options;
    if (std::filesystem::exists("/dev/snd/seq"))
        options.device = "strata-no-such-device";
    AlsaMidiBackend backend(options);
    EXPECT_FALSE(backend.available());
    EXPECT_EQ(backend.kind(), "alsa");
    const MidiRef client = backend.createClient("Strata", [] {});
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(backend.createVirtualSource(client, "Strata"), 0u);
    EXPECT_EQ(backend.createInputPort(client, "Strata In", {}), 0u);
    const Bytes note = {0x90, 0x10, 0x7F};
    backend.received(1, note.data(), note.size());
    backend.send(1, 2, note.data(), note.size());
    EXPECT_FALSE(backend.connectSource(1, 2, 3));
    EXPECT_TRUE(backend.sources().empty());
    EXPECT_TRUE(backend.destinations().empty());
    EXPECT_EQ(backend.name(1), std::nullopt);
    const auto lines = log.linesStartingWith("[MIDI] ALSA sequencer unavailable");
    EXPECT_EQ(lines.size(), 1u);
}

} // namespace
} // namespace strata
