// The surface-feedback parser: SysEx assembly across packets and packet lists, LCD text and track
// names, mute LEDs, interleaved with mute output, shadow resets and panics on the same queue. The
// input is a script of those actions on the in-memory MIDI system; the main surface's feedback is
// also fed to a parser of its own. Checks: the accumulator stays bounded; the parser reports
// exactly the LED messages an independent reading finds, and the service's LCD mirror is the
// parser's; the published names are exactly what the LCD mirror shows (an independent reading of
// the cells); every name is short, trimmed ASCII; with feedback alone, the mute shadow of the main
// surface's strips (0-7) is what its LED messages said, and the extender's feedback touches
// neither them nor the LCD.

#include "fuzz_check.h"
#include "midi/mackie_protocol.h"
#include "midi/midi_service.h"
#include "midi/surface_feedback.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/memory_midi_probe.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace strata;

namespace {

using Bytes = MemoryMidiProbe::Bytes;
using Lcd = std::array<std::uint8_t, MidiService::kLcdCells>;

std::vector<Bytes> packets(FuzzedDataProvider& in) {
    std::vector<Bytes> out(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (auto& packet : out) {
        // Mostly LCD-shaped traffic, so that the parser's deeper paths are reached often.
        if (in.ConsumeBool()) {
            packet.assign(mackie::kSysexHeader.begin(), mackie::kSysexHeader.end());
            packet.push_back(in.ConsumeIntegral<std::uint8_t>());
            packet.push_back(mackie::kLcdWrite);
            packet.push_back(in.ConsumeIntegral<std::uint8_t>());
        }
        const auto tail =
            in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
        packet.insert(packet.end(), tail.begin(), tail.end());
    }
    return out;
}

// Track offsets: the ordinary ones, and the extremes (which cost hundreds of bank presses, so
// they are picked less often than arbitrary numbers would be).
std::int64_t offset(FuzzedDataProvider& in) {
    constexpr std::int64_t kOffsets[] = {0,
                                         0,
                                         8,
                                         13,
                                         16,
                                         -9,
                                         24,
                                         40,
                                         2056,
                                         std::numeric_limits<std::int64_t>::min(),
                                         std::numeric_limits<std::int64_t>::max()};
    return in.PickValueInArray(kOffsets);
}

std::string_view cell(const Lcd& lcd, std::size_t start) {
    for (std::size_t i = start; i < start + 7; ++i)
        if (lcd[i] >= 0x80)
            return {};
    return {reinterpret_cast<const char*>(lcd.data() + start), 7};
}

std::size_t letters(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text)
        n += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return n;
}

// The strip names an LCD shows: per strip the row with more letters (row 1 on a tie), trimmed.
SlotNames namesOn(const Lcd& lcd) {
    SlotNames names;
    for (std::size_t k = 0; k < 8; ++k) {
        const auto top = cell(lcd, 7 * k);
        const auto bottom = cell(lcd, 56 + 7 * k);
        std::string_view name = letters(top) < letters(bottom) ? bottom : top;
        const auto first = name.find_first_not_of(" \t");
        if (first == std::string_view::npos)
            continue;
        name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
        names.emplace(static_cast<int>(k), std::string(name));
    }
    return names;
}

// What the LED messages of the chunks say about strips 0-7: complete 0x9n messages only, a status
// byte where a data byte belongs cuts a message short and starts the next.
void applyLeds(const Bytes& chunk, std::array<std::optional<bool>, 8>& muted) {
    const std::size_t n = std::min(chunk.size(), MidiService::kMaxPacketBytes);
    std::size_t i = 0;
    while (i + 2 < n) {
        if ((chunk[i] & 0xF0) != mackie::kNoteOn) {
            ++i;
        } else if (chunk[i + 1] >= 0x80) {
            i += 1;
        } else if (chunk[i + 2] >= 0x80) {
            i += 2;
        } else {
            if (chunk[i + 1] >= mackie::kMuteNote && chunk[i + 1] < mackie::kMuteNote + 8)
                muted[chunk[i + 1] - mackie::kMuteNote] = chunk[i + 2] >= 0x40;
            i += 3;
        }
    }
}

// Feeds one main-surface chunk, as the service reads it, to the parser alone, and checks its LED
// reports against the independent reading.
void parseAlone(SurfaceFeedbackParser& parser, const Bytes& chunk) {
    const std::size_t n = std::min(chunk.size(), MidiService::kMaxPacketBytes);
    if (n == 0)
        return;
    parser.feedSysex(chunk.data(), n, [] {});
    FUZZ_CHECK(parser.sysexPending() <= SurfaceFeedbackParser::kMaxSysexBytes);
    std::array<std::optional<bool>, 8> said{};
    applyLeds(chunk, said);
    std::array<std::optional<bool>, 8> parsed{};
    forEachMuteLed(chunk.data(), n, [&](int strip, bool lit) {
        FUZZ_CHECK(strip >= 0 && strip < 8);
        parsed[static_cast<std::size_t>(strip)] = lit;
    });
    FUZZ_CHECK(parsed == said);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    MemoryMidiProbe midi;
    VirtualMainLoop loop;
    MemorySettings settings;
    MidiService service(midi, loop, settings);
    const MidiRef surface = service.virtualDestinationRef(false);
    const MidiRef extender = service.virtualDestinationRef(true);

    std::vector<Layer> layers(20);
    bool feedbackOnly = true;  // no output, reset or panic touched the shadow
    bool mainFeedback = false; // something reached the main surface's destination
    std::array<std::optional<bool>, 8> expectedMutes{};
    SurfaceFeedbackParser parser;

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0: {
            const auto list = packets(in);
            for (const auto& chunk : list) {
                applyLeds(chunk, expectedMutes);
                parseAlone(parser, chunk);
            }
            mainFeedback = mainFeedback || !list.empty();
            midi.sendToDestination(surface, list);
            break;
        }
        case 1:
            midi.sendToDestination(extender, packets(in));
            break;
        case 2: {
            // Straight into the handler, with packets the platform could hand over: empty ones,
            // ones without data, ones longer than a packet is read to.
            const auto list = packets(in);
            std::vector<MidiPacket> raw;
            for (const auto& chunk : list) {
                raw.push_back({chunk.data(), chunk.size()});
                applyLeds(chunk, expectedMutes);
                parseAlone(parser, chunk);
                mainFeedback = true;
            }
            raw.push_back({nullptr, in.ConsumeIntegralInRange<std::size_t>(0, 3)});
            service.handleMackieFeedback({raw.data(), raw.size()});
            break;
        }
        case 3: {
            const auto count = in.ConsumeIntegralInRange<std::size_t>(0, layers.size());
            UuidSet muted;
            for (std::size_t i = 0; i < count; ++i)
                if (in.ConsumeBool())
                    muted.insert(layers[i].id);
            service.sendSectionState(
                {layers.begin(), layers.begin() + static_cast<std::ptrdiff_t>(count)},
                std::move(muted), ControlMode::mackieControl, std::nullopt, offset(in));
            feedbackOnly = false;
            break;
        }
        case 4:
            service.resetMackieShadow();
            feedbackOnly = false;
            break;
        case 5:
            service.panicAllOn(layers, ControlMode::mackieControl, std::nullopt, offset(in));
            feedbackOnly = false;
            break;
        default:
            service.drain();
            loop.runPending();
            break;
        }
    }
    service.drain();
    loop.runPending();

    const auto shadow = service.mackieShadow();
    FUZZ_CHECK(shadow.sysexPending <= MidiService::kMaxSysexBytes);
    FUZZ_CHECK(shadow.lcd == parser.lcd());
    FUZZ_CHECK(shadow.sysexPending == parser.sysexPending());
    const SlotNames& names = service.mackieSlotNames.get();
    FUZZ_CHECK(names == namesOn(shadow.lcd));
    for (const auto& [strip, name] : names) {
        FUZZ_CHECK(strip >= 0 && strip < 8);
        FUZZ_CHECK(!name.empty() && name.size() <= 7);
        FUZZ_CHECK(name.front() != ' ' && name.front() != '\t');
        FUZZ_CHECK(name.back() != ' ' && name.back() != '\t');
        for (const char c : name)
            FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80);
    }
    if (!mainFeedback) {
        Lcd blank;
        blank.fill(0x20);
        FUZZ_CHECK(shadow.lcd == blank);
    }
    if (feedbackOnly)
        for (std::size_t slot = 0; slot < expectedMutes.size(); ++slot)
            FUZZ_CHECK(shadow.muted[slot] == expectedMutes[slot]);
    return 0;
}
