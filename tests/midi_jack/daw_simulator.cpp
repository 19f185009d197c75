#include "daw_simulator.h"

#include "jack_test_client.h"
#include "midi/mackie_protocol.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <regex>
#include <utility>

namespace strata::testing {
namespace {

using mackie::kBankLeft;
using mackie::kBankRight;
using mackie::kChannelLeft;
using mackie::kChannelRight;
constexpr const char* kPortNames[3][2] = {
    {"mackie in", "mackie out"}, {"xt in", "xt out"}, {"generic in", "generic out"}};

struct ReceivedRecord {
    std::uint32_t unit;
    std::uint32_t length;
    std::uint64_t cycle;
    std::uint32_t frame;
};

int unitIndex(int unit) {
    return unit >= 0 && unit < 3 ? unit : 0;
}

} // namespace

std::vector<DawSimulator::CCBinding> DawSimulator::bindingsFromMap(const std::string& xml) {
    static const std::regex binding(
        R"re(<Binding channel="(\d+)" ctl="(\d+)" uri="/route/mute (\d+)"/>)re");
    std::vector<CCBinding> out;
    for (std::sregex_iterator it(xml.begin(), xml.end(), binding), end; it != end; ++it)
        out.push_back({std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]) - 1});
    return out;
}

DawSimulator::DawSimulator(const std::string& serverName, const std::string& clientName,
                           Options options)
    : options_(std::move(options)) {
    options_.tracks = std::clamp(options_.tracks, 1, kMaxTracks);
    for (int t = 0; t < kMaxTracks; ++t)
        std::snprintf(names_[t], sizeof names_[t], "Trk%d", t + 1);
    for (int t : options_.mutedAtStart)
        if (t >= 0 && t < options_.tracks)
            muted_[t].store(true);
    units_[0].bank.store(std::clamp(options_.mainBank / 8 * 8, 0, maxBank()));
    units_[1].bank.store(grouped() ? units_[0].bank.load() + 8
                                   : std::clamp(options_.extenderBank / 8 * 8, 0, maxBank()));
    for (const CCBinding& b : options_.ccBindings)
        if (bindingCount_ < kMaxBindings && b.channel >= 1 && b.channel <= 16 && b.cc >= 0 &&
            b.cc < 128 && b.track >= 0 && b.track < options_.tracks)
            bindings_[static_cast<std::size_t>(bindingCount_++)] = b;

    client_ = openJackClient(serverName, clientName);
    if (!client_)
        return;
    for (int u = 0; u < kUnits; ++u) {
        units_[u].in.store(jack_port_register(client_, kPortNames[u][0], JACK_DEFAULT_MIDI_TYPE,
                                              JackPortIsInput, 0));
        units_[u].out.store(jack_port_register(client_, kPortNames[u][1], JACK_DEFAULT_MIDI_TYPE,
                                               JackPortIsOutput, 0));
    }
    jack_set_process_callback(client_, processCallback, this);
    jack_set_port_connect_callback(client_, onConnect, this);
    // Ready once it takes part in cycles (PipeWire adds a client to its graph a little after
    // activation).
    const bool running = jack_activate(client_) == 0 &&
                         waitUntil([&] { return cycle_.load(std::memory_order_acquire) != 0; });
    if (!running) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

DawSimulator::~DawSimulator() {
    if (client_)
        jack_client_close(client_);
}

std::string DawSimulator::inputName(int unit) const {
    jack_port_t* port = units_[unitIndex(unit)].in.load();
    return port ? jack_port_name(port) : "";
}

std::string DawSimulator::outputName(int unit) const {
    jack_port_t* port = units_[unitIndex(unit)].out.load();
    return port ? jack_port_name(port) : "";
}

bool DawSimulator::connectUnit(int unit, const std::string& strataSource,
                               const std::string& strataFeedback, bool surfaceFirst) {
    // A simulator that never came up fails the wiring instead of handing JACK a null client.
    if (!client_)
        return false;
    const auto surface = [&] { return connectPorts(client_, strataSource, inputName(unit)); };
    const auto feedback = [&] { return connectPorts(client_, outputName(unit), strataFeedback); };
    const bool first = surfaceFirst ? surface() : feedback();
    return (surfaceFirst ? feedback() : surface()) && first;
}

bool DawSimulator::disconnectUnit(int unit, const std::string& strataSource,
                                  const std::string& strataFeedback) {
    if (!client_)
        return false;
    const int a = jack_disconnect(client_, strataSource.c_str(), inputName(unit).c_str());
    const int b = jack_disconnect(client_, outputName(unit).c_str(), strataFeedback.c_str());
    return a == 0 && b == 0;
}

std::vector<bool> DawSimulator::mutes() const {
    std::vector<bool> out(static_cast<std::size_t>(options_.tracks));
    for (int t = 0; t < options_.tracks; ++t)
        out[static_cast<std::size_t>(t)] = muted_[t].load();
    return out;
}

int DawSimulator::bank(int unit) const {
    return units_[unitIndex(unit)].bank.load();
}

void DawSimulator::userToggle(int track) {
    clicks_.write(&track, sizeof track);
}

std::vector<DawSimulator::Received> DawSimulator::takeReceived() {
    ReceivedRecord record{};
    while (received_.peek(&record, sizeof record)) {
        Received r;
        r.unit = static_cast<int>(record.unit);
        r.cycle = record.cycle;
        r.frame = record.frame;
        r.bytes.resize(record.length);
        received_.peek(r.bytes.data(), record.length, sizeof record);
        received_.skip(sizeof record + record.length);
        collected_.push_back(std::move(r));
    }
    return std::exchange(collected_, {});
}

int DawSimulator::maxBank() const {
    return (options_.tracks - 1) / 8 * 8;
}

bool DawSimulator::toggle(int track) {
    if (track < 0 || track >= options_.tracks)
        return false;
    muted_[track].store(!muted_[track].load());
    // Every unit that shows the track lights or darkens its LED a cycle later, and a CC bound to
    // it reports the new state.
    for (int u = 0; u < 2; ++u) {
        const int strip = track - units_[u].bank.load();
        if (strip >= 0 && strip < 8)
            units_[u].ledsDue |= 1u << strip;
    }
    feedbackDue_[static_cast<std::size_t>(track)] = true;
    return true;
}

bool DawSimulator::moveBank(int u, int by) {
    Unit& unit = units_[u];
    const int from = unit.bank.load();
    int to = 0;
    if (options_.host == Host::ardour) {
        // Strip 1 may show any track, but not beyond the last one.
        to = std::max(0, from + by);
        if (to >= options_.tracks)
            to = from;
    } else {
        to = std::clamp(from + by, 0, maxBank());
    }
    if (to == from)
        return false;
    unit.bank.store(to);
    if (grouped())
        units_[1].bank.store(to + 8);
    return true;
}

void DawSimulator::onConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* self) {
    auto* sim = static_cast<DawSimulator*>(self);
    if (!connected || !sim->client_)
        return;
    jack_port_t* pa = jack_port_by_id(sim->client_, a);
    jack_port_t* pb = jack_port_by_id(sim->client_, b);
    for (Unit& unit : sim->units_) {
        jack_port_t* in = unit.in.load();
        if (in && (pa == in || pb == in))
            unit.connected.store(true);
    }
}

int DawSimulator::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<DawSimulator*>(self)->process(frames);
}

void DawSimulator::record(int unit, const std::uint8_t* bytes, std::size_t size,
                          std::uint64_t cycle) {
    const ReceivedRecord record{static_cast<std::uint32_t>(unit), static_cast<std::uint32_t>(size),
                                cycle, cycleFrame_};
    received_.write(&record, sizeof record, bytes, size);
}

void DawSimulator::readUnit(int u, void* buffer, std::uint64_t cycle, int bankAtStart) {
    Unit& unit = units_[u];
    const bool ardour = options_.host == Host::ardour;
    // The surface is read once per cycle: each button counts once, in the order first seen.
    std::array<bool, 128> seen{};
    std::array<std::uint8_t, 128> order{};
    int count = 0;
    bool bankPress = false;
    bool mutePress = false;
    const std::uint32_t events = jack_midi_get_event_count(buffer);
    for (std::uint32_t e = 0; e < events; ++e) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, e) != 0 || event.size == 0)
            continue;
        record(u, event.buffer, event.size, cycle);
        if (event.size != 3 || (event.buffer[0] & 0xF0) != mackie::kNoteOn || event.buffer[2] == 0)
            continue;
        const std::uint8_t note = event.buffer[1] & 0x7F;
        const bool lastCycle =
            ardour && unit.pressedAt[note] != 0 && unit.pressedAt[note] + 1 == cycle;
        if (seen[note] || lastCycle) {
            merged_.fetch_add(1);
            continue;
        }
        unit.pressedAt[note] = cycle;
        seen[note] = true;
        order[count++] = note;
        const bool move = note == kBankLeft || note == kBankRight ||
                          (ardour && (note == kChannelLeft || note == kChannelRight));
        bankPress = bankPress || move;
        mutePress =
            mutePress || (note >= mackie::kMuteNote && note < mackie::kMuteNote + mackie::kStrips);
    }
    // In a group, a move of the main unit comes too late for the extender's presses as well.
    const bool groupMove = grouped() && u == 1 && units_[0].bankReportAt == cycle + 1;
    if ((bankPress && mutePress) || (groupMove && mutePress))
        mutesBesideBankMoves_.fetch_add(1);
    bool moved = false;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t note = order[i];
        if (note >= mackie::kMuteNote && note < mackie::kMuteNote + mackie::kStrips) {
            toggle(bankAtStart + note - mackie::kMuteNote);
            continue;
        }
        const bool bank = note == kBankLeft || note == kBankRight;
        const bool channel = ardour && (note == kChannelLeft || note == kChannelRight);
        if (!bank && !channel)
            continue;
        if (ardour && u == 1) {
            extenderMoves_.fetch_add(1); // Ardour ignores them
            continue;
        }
        const int strips = grouped() ? 16 : 8;
        const int by = note == kBankLeft      ? -strips
                       : note == kBankRight   ? strips
                       : note == kChannelLeft ? -1
                                              : 1;
        moved = moveBank(u, by) || moved;
    }
    if (moved) {
        unit.bankReportAt = cycle + 1;
        if (grouped())
            units_[1].bankReportAt = cycle + 1;
    }
}

void DawSimulator::readGeneric(void* buffer, std::uint64_t cycle) {
    // Every event on its own: a bound CC of 64 or more toggles its track, lower values do
    // nothing.
    const std::uint32_t events = jack_midi_get_event_count(buffer);
    for (std::uint32_t e = 0; e < events; ++e) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, e) != 0 || event.size == 0)
            continue;
        record(kGeneric, event.buffer, event.size, cycle);
        if (event.size != 3 || (event.buffer[0] & 0xF0) != mackie::kControlChange ||
            event.buffer[2] < mackie::kOnThreshold)
            continue;
        const int channel = (event.buffer[0] & 0x0F) + 1;
        std::uint64_t& toggled =
            toggledAt_[static_cast<std::size_t>(channel - 1) * 128 + (event.buffer[1] & 0x7F)];
        if (toggled != 0 && toggled + 1 >= cycle) {
            mergedToggles_.fetch_add(1);
            continue;
        }
        toggled = cycle;
        for (int b = 0; b < bindingCount_; ++b)
            if (bindings_[b].channel == channel && bindings_[b].cc == event.buffer[1])
                toggle(bindings_[b].track);
    }
}

void DawSimulator::writeGeneric(void* buffer) {
    for (int b = 0; b < bindingCount_; ++b) {
        const CCBinding& binding = bindings_[b];
        if (!feedbackNow_[static_cast<std::size_t>(binding.track)])
            continue;
        const std::uint8_t msg[3] = {
            static_cast<std::uint8_t>(mackie::kControlChange | (binding.channel - 1)),
            static_cast<std::uint8_t>(binding.cc),
            static_cast<std::uint8_t>(muted_[binding.track] ? 127 : 0)};
        jack_midi_event_write(buffer, 0, msg, sizeof msg);
    }
}

void DawSimulator::writeUnit(int u, void* buffer, std::uint64_t cycle) {
    Unit& unit = units_[u];
    const int bank = unit.bank.load();
    const auto led = [&](int strip) {
        const int track = bank + strip;
        const bool lit = track < options_.tracks && muted_[track].load();
        const std::uint8_t msg[3] = {mackie::kNoteOn, mackie::muteNote(strip),
                                     lit ? mackie::kPressVelocity : mackie::kReleaseVelocity};
        jack_midi_event_write(buffer, 0, msg, sizeof msg);
    };
    bool whole = false;
    if (unit.bankReportAt != 0 && cycle >= unit.bankReportAt) {
        unit.bankReportAt = 0;
        whole = true;
    }
    if (unit.fullStateAt != 0 && cycle >= unit.fullStateAt) {
        unit.fullStateAt = 0;
        whole = true;
    }
    if (whole) {
        // The display: the bank's track names on the top row, seven cells per strip.
        std::uint8_t lcd[7 + mackie::kLcdRowCells + 1] = {};
        std::copy(mackie::kSysexHeader.begin(), mackie::kSysexHeader.end(), lcd);
        lcd[4] = u == 0 ? mackie::kMainDevice : mackie::kExtenderDevice;
        lcd[5] = mackie::kLcdWrite;
        lcd[6] = 0; // from the first cell
        std::memset(lcd + 7, ' ', mackie::kLcdRowCells);
        for (int strip = 0; strip < 8; ++strip) {
            const int track = bank + strip;
            if (track < options_.tracks)
                std::memcpy(lcd + 7 + mackie::kCellsPerStrip * strip, names_[track],
                            std::min<std::size_t>(6, std::strlen(names_[track])));
        }
        lcd[sizeof lcd - 1] = mackie::kSysexEnd;
        jack_midi_event_write(buffer, 0, lcd, sizeof lcd);
        for (int strip = 0; strip < 8; ++strip)
            led(strip);
    } else {
        for (int strip = 0; strip < 8; ++strip)
            if (unit.ledsNow & (1u << strip))
                led(strip);
    }
}

int DawSimulator::process(jack_nframes_t frames) {
    const std::uint64_t cycle = cycle_.fetch_add(1, std::memory_order_acq_rel) + 1;
    cycleFrame_ = jack_last_frame_time(client_);
    for (Unit& unit : units_) {
        unit.ledsNow = unit.ledsDue;
        unit.ledsDue = 0;
        if (unit.connected.exchange(false))
            unit.fullStateAt = cycle + kFullStateCycles;
    }
    feedbackNow_ = feedbackDue_;
    feedbackDue_.fill(false);
    int track = 0;
    while (clicks_.read(&track, sizeof track))
        toggle(track);
    // Mute presses act on the bank each unit showed when the cycle began.
    const int banks[2] = {units_[0].bank.load(), units_[1].bank.load()};
    for (int u = 0; u < 2; ++u)
        if (jack_port_t* in = units_[u].in.load())
            readUnit(u, jack_port_get_buffer(in, frames), cycle, banks[u]);
    if (jack_port_t* in = units_[kGeneric].in.load())
        readGeneric(jack_port_get_buffer(in, frames), cycle);
    for (int u = 0; u < kUnits; ++u) {
        jack_port_t* out = units_[u].out.load();
        if (!out)
            continue;
        void* buffer = jack_port_get_buffer(out, frames);
        jack_midi_clear_buffer(buffer);
        if (u == kGeneric)
            writeGeneric(buffer);
        else
            writeUnit(u, buffer, cycle);
    }
    return 0;
}

} // namespace strata::testing
