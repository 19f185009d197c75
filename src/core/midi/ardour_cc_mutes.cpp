#include "midi/ardour_cc_mutes.h"

#include "midi/mackie_protocol.h"
#include "midi/midi_message.h"
#include "midi/surface_feedback.h"

#include <algorithm>
#include <utility>

namespace strata {

namespace {

// A layer's CC: its own, else 20 + its position. Not always a byte.
std::int64_t layerCC(const Layer& layer, std::size_t index) {
    return layer.muteCC.value_or(20 + static_cast<std::int64_t>(index));
}

} // namespace

void sendCCMutes(OutputPath& out, const std::vector<Layer>& allLayers, const UuidSet* mutedIDs,
                 std::optional<std::string_view> onlyPort) {
    for (std::size_t i = 0; i < allLayers.size(); ++i) {
        const Layer& layer = allLayers[i];
        if (layer.portName.empty() || (onlyPort && layer.portName != *onlyPort))
            continue;
        const std::int64_t number = layerCC(layer, i);
        // A number that is no byte at all cannot be sent; the other layers still are.
        if (number < 0 || number > 255)
            continue;
        const bool muted = mutedIDs && mutedIDs->count(layer.id) != 0;
        const std::uint8_t msg[3] = {
            static_cast<std::uint8_t>(mackie::kControlChange | midi::channelNibble(layer.channel)),
            static_cast<std::uint8_t>(number & 0x7F),
            static_cast<std::uint8_t>(muted ? 0x00 : 0x7F)};
        out.deliver(msg, sizeof msg, layer.portName);
    }
}

ArdourCCMutes::ArdourCCMutes(OutputPath& out, MackieOutput& mackie,
                             const std::optional<SectionRequest>& lastRequest)
    : out_(out), mackie_(mackie), lastRequest_(lastRequest) {}

std::string ArdourCCMutes::echoDevice(std::string_view name) {
    using midi::equalsIgnoringCase;
    using midi::trimBlanks;
    std::string_view stem = trimBlanks(name);
    if (stem.size() >= 2 && stem.front() != '(' && stem.back() == ')') {
        // "... (capture)" / "... (playback)"
        const auto open = stem.rfind('(');
        if (open != std::string_view::npos) {
            const std::string_view word = stem.substr(open + 1, stem.size() - open - 2);
            if (equalsIgnoringCase(word, "capture") || equalsIgnoringCase(word, "playback"))
                return std::string(trimBlanks(stem.substr(0, open)));
        }
    }
    for (std::string_view word : {"input", "output", "in", "out"}) {
        if (stem.size() <= word.size() + 1)
            continue;
        const std::string_view tail = stem.substr(stem.size() - word.size());
        const char before = stem[stem.size() - word.size() - 1];
        if (equalsIgnoringCase(tail, word) &&
            (before == ' ' || before == '_' || before == '-' || before == ':'))
            return std::string(trimBlanks(stem.substr(0, stem.size() - word.size() - 1)));
    }
    return std::string(stem);
}

bool ArdourCCMutes::lastIsArdourCC() const {
    const auto& r = lastRequest_;
    return r && r->mode == ControlMode::ccMute && r->host == DawHost::ardour;
}

ArdourCCMutes::CCTarget ArdourCCMutes::target(std::string_view portName, std::int64_t channel,
                                              std::int64_t cc) const {
    CCTarget t;
    if (portName == kMainSurfacePort)
        t.surface = kMainSurface;
    else if (portName == kExtenderPort)
        t.surface = kExtender;
    else
        t.device = echoDevice(portName);
    t.channel = midi::channelNibble(channel);
    t.cc = static_cast<std::uint8_t>(cc & 0x7F);
    return t;
}

bool ArdourCCMutes::portReady(std::string_view portName) {
    const MidiRef source = out_.ports().surfaceSource(portName);
    if (source == 0)
        return true;
    // A DAW that has just connected to one of our surface ports may still be echoing the state
    // it has now; toggles wait for that.
    return mackie_.ready(source == out_.ports().surfaceSource(false) ? MackieOutput::kMainUnit
                                                                     : MackieOutput::kExtenderUnit,
                         portName);
}

void ArdourCCMutes::send(const SectionRequest& r) {
    // A new state may press again what a contrary host left alone for the last one.
    for (auto& [t, state] : states_)
        state.stuck = state.pressAgain = false;
    sendToggles(r.allLayers, r.mutedIDs);
}

void ArdourCCMutes::pump() {
    if (lastRequest_)
        sendToggles(lastRequest_->allLayers, lastRequest_->mutedIDs);
}

void ArdourCCMutes::forget() {
    states_.clear();
    deferred_.clear();
}

void ArdourCCMutes::sendToggles(const std::vector<Layer>& allLayers, const UuidSet& mutedIDs,
                                const std::set<CCTarget>* only) {
    const Stamp now = out_.stampNow();
    releaseHolds(now);
    // A toggle timed for later goes out then; an echo before that is about the state before it.
    const Stamp sentAt = out_.sendStamp();
    // One layer per channel + CC, whatever the port: a CC drives the one track the binding map
    // binds it to, the first layer's. The others are left out, as the map leaves them out.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> seen;
    seen.reserve(allLayers.size());
    bool deferred = false;
    for (std::size_t i = 0; i < allLayers.size(); ++i) {
        const Layer& layer = allLayers[i];
        const std::int64_t number = layerCC(layer, i);
        // Without a port nothing is toggled, so the shadow must not believe anything was.
        if (layer.portName.empty() || number < 0 || number > 255)
            continue;
        const std::uint8_t channel = midi::channelNibble(layer.channel);
        const auto cc = static_cast<std::uint8_t>(number & 0x7F);
        if (std::find(seen.begin(), seen.end(), std::pair{channel, cc}) != seen.end())
            continue;
        seen.emplace_back(channel, cc);
        CCTarget t = target(layer.portName, layer.channel, number);
        if (only && only->count(t) == 0)
            continue;
        if (!portReady(layer.portName))
            continue;
        // A device that is not there hears nothing: nothing may be believed of it.
        if (t.surface == kDevice && !out_.ports().destinationRef(layer.portName))
            continue;
        const bool wanted = mutedIDs.count(layer.id) != 0;
        CCState& state = states_[t];
        if (state.muted == wanted || state.stuck) {
            state.pressAgain = false;
            deferred_.erase(t);
            continue;
        }
        if (state.toggledAt) {
            // Its answer comes first; then this is looked at again.
            deferred_.insert(std::move(t));
            deferred = true;
            continue;
        }
        deferred_.erase(t);
        out_.toggleCC(channel, cc, layer.portName);
        state.muted = wanted;
        state.toggledAt = sentAt;
        state.repress = std::exchange(state.pressAgain, false);
    }
    if (deferred) {
        // Should no answer come, the deferred toggles go once the wait for it is over.
        // Kept on the MIDI queue's own clock, so that they never wait for the main thread; the
        // toggles go as a job of their own, behind the echoes handed on meanwhile.
        ServiceTasks& tasks = out_.tasks();
        tasks.onQueueAt(tasks.loop().now() + kEchoHold, [this, &tasks, round = ++retryRound_] {
            if (round == retryRound_)
                tasks.onQueue([this] { pumpOnly(std::set<CCTarget>(deferred_)); });
        });
    }
}

void ArdourCCMutes::pumpOnly(const std::set<CCTarget>& only) {
    if (only.empty() || !lastIsArdourCC())
        return;
    sendToggles(lastRequest_->allLayers, lastRequest_->mutedIDs, &only);
}

bool ArdourCCMutes::applyEcho(const CCTarget& t, bool muted, const Stamp& arrived) {
    CCState& state = states_[t];
    if (state.toggledAt) {
        // What reached us before our toggle could even go out is about the state before it;
        // the answer to the toggle will tell.
        const bool cycles = out_.cyclePeriod() > Duration::zero();
        if (arrived.time < state.toggledAt->time ||
            (cycles && arrived.cycle <= state.toggledAt->cycle))
            return false;
    } else {
        // A change by hand in the DAW (or a state it reports by itself): it stands.
        state.muted = muted;
        return false;
    }
    const bool asked = state.muted;
    const bool wasRepress = std::exchange(state.repress, false);
    state.toggledAt.reset();
    state.muted = muted;
    if (muted != asked) {
        // The track was not what we believed before our toggle. Once more, but only once.
        if (wasRepress)
            state.stuck = true;
        else
            state.pressAgain = true;
    }
    return true;
}

void ArdourCCMutes::feedEchoes(const std::uint8_t* bytes, std::size_t length, Surface surface,
                               const std::string& device, const Stamp& arrived) {
    releaseHolds(arrived);
    std::set<CCTarget> answered;
    forEachControlChange(bytes, length,
                         [&](std::uint8_t channel, std::uint8_t cc, std::uint8_t value) {
                             CCTarget t{surface, device, channel, cc};
                             if (applyEcho(t, value >= mackie::kOnThreshold, arrived))
                                 answered.insert(std::move(t));
                         });
    // An answered CC may go on: a re-press, or a state asked for while it waited.
    answered.insert(deferred_.begin(), deferred_.end());
    if (!answered.empty())
        pumpOnly(answered);
}

void ArdourCCMutes::releaseHolds(const Stamp& at) {
    for (auto& [t, state] : states_) {
        if (!state.toggledAt || !out_.hasPassed(*state.toggledAt, kEchoHold, at))
            continue;
        state.toggledAt.reset();
        state.repress = false;
    }
}

void ArdourCCMutes::destinationsAppeared(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::string device = echoDevice(name);
        const auto onDevice = [&](const CCTarget& t) {
            return t.surface == kDevice && t.device == device;
        };
        std::erase_if(states_, [&](const auto& entry) { return onDevice(entry.first); });
        std::erase_if(deferred_, onDevice);
    }
    // Brought to the current state, as after a resync.
    if (lastIsArdourCC())
        pump();
}

void ArdourCCMutes::surfaceConnected(Surface surface) {
    std::erase_if(states_, [surface](const auto& entry) { return entry.first.surface == surface; });
    std::erase_if(deferred_, [surface](const CCTarget& t) { return t.surface == surface; });
}

} // namespace strata
