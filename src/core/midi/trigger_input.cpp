#include "midi/trigger_input.h"

#include "midi/midi_message.h"
#include "midi/midi_service.h"
#include "midi/surface_feedback.h"
#include "model/setlist_codec.h"
#include "platform/prepared_answers.h"

#include <algorithm>
#include <array>
#include <limits>
#include <tuple>
#include <utility>

namespace strata {
namespace {
// Entries a plan holds for Cadenzo's FIREs alone, beyond what the triggers' entries reach.
constexpr std::size_t kCueEntries = 16;
} // namespace

TriggerInput::TriggerInput(MidiService& service, PortDirectory& ports, OutputPath& out,
                           ArdourCCMutes& cc, Settings& settings)
    : service_(service), ports_(ports), out_(out), cc_(cc), settings_(settings),
      tasks_(out.tasks()) {
    view_.jumpTriggers = std::make_shared<const JumpTriggerTable>();
    view_.momentTriggers = std::make_shared<const MomentTriggerTable>();
    sources_ = std::make_shared<const SourceIdentities>();
    view_.sources = sources_;

    // The input threads see the main thread's writes through copies under lock_.
    mirrors_ += service_.isLearningTrigger.changed.connect([this](const bool& learning) {
        {
            std::lock_guard lock(lock_);
            view_.learning = learning;
        }
        replan();
    });
    mirrors_ +=
        service_.advanceTrigger.changed.connect([this](const std::optional<AdvanceTrigger>& t) {
            auto copy = t ? std::make_shared<const AdvanceTrigger>(*t) : nullptr;
            {
                std::lock_guard lock(lock_);
                view_.advanceTrigger = std::move(copy);
            }
            replan();
        });
}

TriggerInput::InputView TriggerInput::inputView() const {
    std::lock_guard lock(lock_);
    return view_;
}

void TriggerInput::setSources(std::shared_ptr<const SourceIdentities> sources) {
    sources_ = std::move(sources);
    {
        std::lock_guard lock(lock_);
        view_.sources = sources_;
    }
    replan();
}

bool TriggerInput::deviceConnected(std::string_view deviceName) const {
    if (deviceName.empty())
        return false;
    const std::string stable = stableDeviceName(deviceName);
    return std::any_of(sources_->begin(), sources_->end(),
                       [&](const auto& entry) { return entry.second.answersTo(stable); });
}

void TriggerInput::handleIncoming(const MidiPacketList& packets, std::uint64_t srcRefCon) {
    // The connection value is the source's own reference; anything else is input without one.
    const MidiRef src =
        srcRefCon <= std::numeric_limits<MidiRef>::max() ? static_cast<MidiRef>(srcRefCon) : 0;
    const InputView view = inputView();
    // Input without a source has the empty name; a source the last listing did not have yet is
    // asked for its names now.
    static const DeviceIdentity kNoSource{{}, {std::string()}};
    const DeviceIdentity* identity = &kNoSource;
    DeviceIdentity unlisted;
    bool isTriggerDevice = false;
    if (src != 0) {
        if (const auto it = view.sources->find(src); it != view.sources->end()) {
            identity = &it->second;
        } else {
            unlisted = ports_.identityOf(src);
            identity = &unlisted;
        }
        isTriggerDevice = src == view.footswitchSrc;
    }
    std::vector<std::uint8_t> echoes; // the CC messages, when they may be echoes
    const bool collectEchoes = src != 0 && cc_.echoesWanted();
    // One reading for the whole delivery: the packets' ages are all against the same instant.
    const TimePoint deliveredAt = tasks_.loop().now();
    for (std::size_t p = 0; p < packets.count; ++p) {
        const MidiPacket& packet = packets.packets[p];
        const std::size_t n = std::min(packet.length, kMaxPacketBytes);
        if (n == 0 || packet.data == nullptr)
            continue;
        service_.clockInput().handle(*identity, packet.data, n, deliveredAt, packet.age);
        parseInput(packet.data, n, isTriggerDevice, view.learning, identity->learned, *identity,
                   view);
        if (collectEchoes)
            forEachControlChange(
                packet.data, n, [&](std::uint8_t channel, std::uint8_t cc, std::uint8_t value) {
                    echoes.insert(
                        echoes.end(),
                        {static_cast<std::uint8_t>(mackie::kControlChange | channel), cc, value});
                });
    }
    if (!echoes.empty())
        tasks_.onQueue([this, echoes = std::move(echoes),
                        device = ArdourCCMutes::echoDevice(ports_.endpointName(src)),
                        arrived = out_.arrivalStamp()] {
            cc_.feedEchoes(echoes.data(), echoes.size(), ArdourCCMutes::kDevice, device, arrived);
        });
}

void TriggerInput::parsePacketBytes(const std::uint8_t* bytes, std::size_t length,
                                    bool isTriggerDevice, bool learning,
                                    std::string_view learnSource, std::string_view srcName) {
    const DeviceIdentity source{std::string(learnSource), {stableDeviceName(srcName)}};
    parseInput(bytes, length, isTriggerDevice, learning, learnSource, source, inputView());
}

void TriggerInput::parseInput(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                              bool learning, std::string_view learnSource,
                              const DeviceIdentity& source, const InputView& view) {
    length = std::min(length, kMaxPacketBytes);
    // Realtime bytes (a DAW's clock, Start, Stop) may sit anywhere, even inside another message,
    // and are no part of it: without them a note split by a clock is still that note.
    std::array<std::uint8_t, kMaxPacketBytes> kept;
    if (std::any_of(bytes, bytes + length, [](std::uint8_t b) { return b >= 0xF8; })) {
        const auto end = std::copy_if(bytes, bytes + length, kept.begin(),
                                      [](std::uint8_t b) { return b < 0xF8; });
        length = static_cast<std::size_t>(end - kept.begin());
        bytes = kept.data();
    }
    std::size_t i = 0;
    while (i < length) {
        const std::uint8_t status = bytes[i];
        const std::uint8_t high = status & 0xF0;
        std::size_t size = 0;
        switch (high) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            size = 3;
            break;
        case 0xC0:
        case 0xD0:
            size = 2;
            break;
        default: // data bytes and system messages
            i += 1;
            continue;
        }
        // A status byte where a data byte belongs means the message was cut short: it is dropped
        // and reading goes on from that status byte. Taken as data it would turn into a note,
        // controller or program number above 127 and hide the message it starts.
        if (const std::size_t cut = midi::statusByteAfter(bytes + i, std::min(size, length - i))) {
            i += cut;
            continue;
        }
        if (i + size > length)
            return; // a fragment at the end of a packet is dropped
        const std::uint8_t data1 = bytes[i + 1];
        if (size == 2) {
            if (high == 0xC0 && !tryReflex(ReflexTrigger::program, data1, learning))
                tasks_.onMain([this, program = static_cast<int>(data1)] {
                    service_.sectionAdvanceRequest.notify(program);
                });
            i += 2;
            continue;
        }
        const std::uint8_t data2 = bytes[i + 2];
        const bool press = isTriggerPress(high, data2);
        const bool notePress = press && high == 0x90;
        const bool ccPress = press && high == 0xB0;
        if (learning) {
            if (ccPress && data1 == 64) {
                // A sustain pedal cannot become a trigger.
                tasks_.onMain([this] {
                    service_.isLearningTrigger.set(false);
                    service_.triggerLearned.notify(std::nullopt);
                });
                return;
            }
            if (ccPress || notePress) {
                finishLearn(AdvanceTrigger{
                    std::string(learnSource),
                    ccPress ? AdvanceTrigger::Kind::cc : AdvanceTrigger::Kind::note, data1});
                return;
            }
            i += 3;
            continue;
        }
        if (!notePress && !ccPress) {
            i += 3;
            continue;
        }
        const auto kind = ccPress ? AdvanceTrigger::Kind::cc : AdvanceTrigger::Kind::note;
        const auto pressed = [&](const AdvanceTrigger& trigger) {
            return trigger.kind == kind && trigger.data1 == data1 &&
                   source.answersTo(trigger.deviceName);
        };
        i += 3;
        const auto jump = std::find_if(view.jumpTriggers->begin(), view.jumpTriggers->end(),
                                       [&](const auto& entry) { return pressed(entry.second); });
        if (jump != view.jumpTriggers->end()) {
            if (!tryReflex(ReflexTrigger::jump, jump->first, learning))
                tasks_.onMain([this, key = jump->first] { service_.jumpRequested.notify(key); });
            continue;
        }
        const auto moment = std::find_if(view.momentTriggers->begin(), view.momentTriggers->end(),
                                         [&](const auto& entry) { return pressed(entry.second); });
        if (moment != view.momentTriggers->end()) {
            tasks_.onMain([this, id = moment->first] { service_.momentRequested.notify(id); });
            continue;
        }
        if (isTriggerDevice && view.advanceTrigger && view.advanceTrigger->kind == kind &&
            view.advanceTrigger->data1 == data1 && !tryReflex(ReflexTrigger::next, 0, learning))
            tasks_.onMain([this] { service_.advancePressed.notify(); });
    }
}

void TriggerInput::finishLearn(AdvanceTrigger trigger) {
    tasks_.onMain([this, trigger = std::move(trigger)] {
        service_.isLearningTrigger.set(false);
        service_.triggerLearned.notify(trigger);
    });
}

void TriggerInput::resolveTriggerSource() {
    MidiRef found = 0;
    const auto& trigger = service_.advanceTrigger.get();
    if (trigger && !trigger->deviceName.empty()) {
        const std::string device = stableDeviceName(trigger->deviceName);
        for (const MidiPortInfo& port : ports_.sources()) {
            const auto listed = sources_->find(port.ref);
            const bool answers = listed != sources_->end()
                                     ? listed->second.answersTo(device)
                                     : PortDirectory::identityOf(port).answersTo(device);
            if (answers) {
                found = port.ref;
                break;
            }
        }
    }
    footswitchSrc_ = found;
    {
        std::lock_guard lock(lock_);
        view_.footswitchSrc = found;
    }
    replan();
    if (service_.advanceTriggerConnected.get() != (found != 0))
        service_.advanceTriggerConnected.set(found != 0);
}

void TriggerInput::loadAdvanceTrigger() {
    const auto stored = settings_.bytesValue(kAdvanceTriggerKey);
    if (!stored)
        return;
    const std::string_view json(reinterpret_cast<const char*>(stored->data()), stored->size());
    if (auto trigger = decodeAdvanceTrigger(json)) {
        service_.advanceTrigger.set(std::move(trigger));
        resolveTriggerSource();
    }
}

void TriggerInput::persistAdvanceTrigger() {
    std::optional<std::string> encoded;
    if (const auto& trigger = service_.advanceTrigger.get())
        encoded = encodeAdvanceTrigger(*trigger);
    if (encoded)
        settings_.setBytes(kAdvanceTriggerKey, Bytes(encoded->begin(), encoded->end()));
    else
        settings_.remove(kAdvanceTriggerKey);
}

namespace {
// A trigger table as the input thread matches it: device names in their stable form, shared.
template <typename Table>
std::shared_ptr<const Table> matchable(Table triggers) {
    for (auto& entry : triggers)
        entry.second.deviceName = stableDeviceName(entry.second.deviceName);
    return std::make_shared<const Table>(std::move(triggers));
}
} // namespace

void TriggerInput::setJumpTriggers(JumpTriggerTable triggers) {
    auto table = matchable(std::move(triggers));
    {
        std::lock_guard lock(lock_);
        view_.jumpTriggers = std::move(table);
    }
    replan();
}

void TriggerInput::setMomentTriggers(MomentTriggerTable triggers) {
    auto table = matchable(std::move(triggers));
    {
        std::lock_guard lock(lock_);
        view_.momentTriggers = std::move(table);
    }
    replan();
}

void TriggerInput::publishReflex(std::shared_ptr<const ReflexSnapshot> snapshot) {
    std::lock_guard lock(reflexLock_);
    // A press that claimed an answer of the last snapshot's was made before this one: its move
    // is taken over first, as if the input thread had decided it a moment before.
    settleClaimLocked();
    reflex_ = std::move(snapshot);
    reflexBasis_ = reflexDelivered_;
    replanLocked();
}

bool TriggerInput::answerCue(std::int64_t song, std::int64_t section) {
    return tryReflex(ReflexTrigger::cue, section, false, song, true);
}

void TriggerInput::remoteMove(ReflexTrigger trigger, std::int64_t section) {
    if (trigger == ReflexTrigger::next) {
        if (!tryReflex(ReflexTrigger::next, 0, false, -1, true))
            tasks_.onMain([this] { service_.advancePressed.notify(); });
        return;
    }
    if (!tryReflex(ReflexTrigger::jump, section, false, -1, true))
        tasks_.onMain(
            [this, key = static_cast<int>(section)] { service_.jumpRequested.notify(key); });
}

bool TriggerInput::tryReflex(ReflexTrigger trigger, std::int64_t argument, bool learning,
                             std::int64_t song, bool ordinaryThread) {
    // A learn takes the next press for itself, whatever it would otherwise do.
    if (learning)
        return false;
    std::lock_guard lock(reflexLock_);
    if (ordinaryThread && sendPreparedLocked(trigger, argument, song))
        return true;
    // A prepared answer claimed meanwhile moved the position first; none is claimed from the
    // position this move leaves behind.
    settleClaimLocked();
    if (!reflex_)
        return false;
    const ReflexSnapshot& snapshot = *reflex_;
    const std::optional<ReflexPosition> to = targetLocked(trigger, argument, song);
    if (!to)
        return false;
    reflexAt_ = *to;
    ++reflexMoves_;
    service_.sendSectionState(snapshot.layers, snapshot.mutesAt(*to), snapshot.mode,
                              snapshot.mackiePort, snapshot.mackieTrackOffset, snapshot.host);
    tasks_.onMain([this, move = ReflexMove{*to, reflex_}] {
        // Counted before the observers run, so that what they publish while taking the move over
        // counts as describing it.
        ++reflexDelivered_;
        service_.reflexMoved.notify(move);
    });
    replanLocked();
    return true;
}

// ---- Prepared answers --------------------------------------------------------------------------

void TriggerInput::replan() {
    std::lock_guard lock(reflexLock_);
    settleClaimLocked();
    replanLocked();
}

void TriggerInput::replanLocked() {
    auto plan = std::make_shared<ReflexPlan>();
    plan->id = ++nextPlanId_;
    const InputView view = inputView();
    if (reflex_ && !view.learning) {
        const ReflexSnapshot& snapshot = *reflex_;
        plan->snapshot = reflex_;
        const ReflexPosition from = reflexBasis_ == reflexMoves_ ? snapshot.position : reflexAt_;
        const auto statusOf = [](const AdvanceTrigger& t) -> std::uint8_t {
            return t.kind == AdvanceTrigger::Kind::cc ? 0xB0 : 0x90;
        };
        const auto answering = [&](const AdvanceTrigger& t) {
            std::vector<std::uint32_t> refs;
            for (const auto& [ref, identity] : *view.sources)
                if (identity.answersTo(t.deviceName))
                    refs.push_back(ref);
            return refs;
        };
        const auto add = [&](std::uint8_t status, std::uint8_t data1, bool anySource,
                             std::vector<std::uint32_t> sources, ReflexPosition target) {
            if (plan->entries.size() < PreparedAnswerSet::kMaxAnswers)
                plan->entries.push_back({status, data1, anySource, std::move(sources), target});
        };
        // A press fires one thing: the first jump trigger it matches, else a Moment's, else
        // NEXT. A jump the snapshot cannot answer still takes its presses (to the main thread).
        std::vector<std::tuple<std::uint8_t, std::uint8_t, std::uint32_t>> taken;
        const auto isTaken = [&](std::uint8_t status, std::uint8_t data1, std::uint32_t ref) {
            return std::find(taken.begin(), taken.end(), std::tuple{status, data1, ref}) !=
                   taken.end();
        };
        for (const auto& [section, trigger] : *view.jumpTriggers) {
            const std::uint8_t status = statusOf(trigger);
            std::vector<std::uint32_t> refs;
            for (std::uint32_t ref : answering(trigger))
                if (!isTaken(status, trigger.data1, ref)) {
                    refs.push_back(ref);
                    taken.emplace_back(status, trigger.data1, ref);
                }
            const auto to = reflexTarget(snapshot, from, ReflexTrigger::jump, section);
            if (to && !refs.empty() && trigger.data1 <= 0x7F)
                add(status, static_cast<std::uint8_t>(trigger.data1), false, std::move(refs), *to);
        }
        for (const auto& [id, trigger] : *view.momentTriggers)
            for (std::uint32_t ref : answering(trigger))
                taken.emplace_back(statusOf(trigger), trigger.data1, ref);
        if (view.advanceTrigger && view.footswitchSrc != 0 && view.advanceTrigger->data1 <= 0x7F) {
            const std::uint8_t status = statusOf(*view.advanceTrigger);
            const auto to = reflexTarget(snapshot, from, ReflexTrigger::next, 0);
            if (to && !isTaken(status, view.advanceTrigger->data1, view.footswitchSrc))
                add(status, static_cast<std::uint8_t>(view.advanceTrigger->data1), false,
                    {view.footswitchSrc}, *to);
        }
        const auto sections = static_cast<std::int64_t>(snapshot.sections.size());
        // Cadenzo's FIRE may name any section of the song, and takes any entry that leads there.
        // The sections nearest the position that no trigger above reaches get an entry of their
        // own that no press fires (status 0), so that the cue link's reader finds their bytes
        // prepared instead of waiting for the MIDI queue to compute them. Before the program
        // changes, which fill the rest: in a long song they stop short of the position, and from
        // a later step (which a program change keeps) they lead elsewhere anyway.
        const auto reached = [&](const ReflexPosition& to) {
            return std::any_of(plan->entries.begin(), plan->entries.end(),
                               [&](const ReflexPlan::Entry& e) { return e.target == to; });
        };
        std::size_t cueEntries = 0;
        for (std::int64_t distance = 1; distance < sections && cueEntries < kCueEntries; ++distance)
            for (const std::int64_t section : {from.section - distance, from.section + distance}) {
                const auto to = reflexTarget(snapshot, from, ReflexTrigger::cue, section);
                if (to && cueEntries < kCueEntries && !reached(*to)) {
                    add(0, 0, false, {}, *to);
                    ++cueEntries;
                }
            }
        for (std::int64_t k = 0; k < std::min<std::int64_t>(sections, 128); ++k)
            if (const auto to = reflexTarget(snapshot, from, ReflexTrigger::program, k))
                add(0xC0, static_cast<std::uint8_t>(k), true, {}, *to);
    }
    plan_ = plan;
    service_.planChanged(std::move(plan));
}

bool TriggerInput::sendPreparedLocked(ReflexTrigger trigger, std::int64_t argument,
                                      std::int64_t song) {
    if (preparedGeneration_ == 0 || !preparedPlan_ || preparedPlan_ != plan_ || !reflex_ ||
        preparedPlan_->snapshot != reflex_)
        return false;
    // A press that claimed meanwhile moves first: the ordinary way settles it.
    if (out_.backend().preparedOutcome(preparedGeneration_).kind != PreparedOutcome::armed)
        return false;
    const std::optional<ReflexPosition> to = targetLocked(trigger, argument, song);
    if (!to)
        return false;
    // Any entry that leads there carries the same bytes.
    const auto& entries = preparedPlan_->entries;
    const auto entry = std::find_if(entries.begin(), entries.end(),
                                    [&](const ReflexPlan::Entry& e) { return e.target == *to; });
    if (entry == entries.end())
        return false;
    const auto index = static_cast<std::size_t>(entry - entries.begin());
    const std::uint64_t generation = preparedGeneration_;
    if (!out_.backend().sendPrepared(generation, index))
        return false;
    preparedGeneration_ = 0;
    absorbLocked(generation, index, *preparedPlan_);
    replanLocked();
    return true;
}

std::optional<ReflexPosition>
TriggerInput::targetLocked(ReflexTrigger trigger, std::int64_t argument, std::int64_t song) const {
    const ReflexSnapshot& snapshot = *reflex_;
    // The main thread's position is the newer one only once it has taken over every move made
    // here; before that it is the one this side left behind.
    const ReflexPosition from = reflexBasis_ == reflexMoves_ ? snapshot.position : reflexAt_;
    return reflexTarget(snapshot, from, trigger, argument, song);
}

void TriggerInput::settleClaimLocked() {
    if (preparedGeneration_ == 0)
        return;
    const std::uint64_t generation = std::exchange(preparedGeneration_, 0);
    const PreparedOutcome outcome = out_.backend().withdrawAnswers(generation);
    if (outcome.kind == PreparedOutcome::claimed && preparedPlan_ &&
        generation > absorbedGeneration_) {
        absorbLocked(generation, outcome.index, *preparedPlan_);
        replanLocked(); // from where the claimed press led
    }
}

void TriggerInput::absorbLocked(std::uint64_t generation, std::size_t index,
                                const ReflexPlan& plan) {
    if (generation <= absorbedGeneration_ || index >= plan.entries.size() || !plan.snapshot)
        return;
    absorbedGeneration_ = generation;
    const ReflexPosition to = plan.entries[index].target;
    reflexAt_ = to;
    ++reflexMoves_;
    tasks_.onMain([this, move = ReflexMove{to, plan.snapshot}] {
        ++reflexDelivered_;
        service_.reflexMoved.notify(move);
    });
}

TriggerInput::PreparedHandOver TriggerInput::handOverPrepared(std::uint64_t planId,
                                                              std::uint64_t generation,
                                                              const PreparedAnswerSet& set) {
    std::lock_guard lock(reflexLock_);
    // The answers before these may have been claimed: that move comes first, and the plan these
    // were prepared for is then out of date.
    settleClaimLocked();
    if (!plan_ || plan_->id != planId)
        return PreparedHandOver::stale;
    if (!out_.backend().prepareAnswers(set, generation))
        return PreparedHandOver::refused;
    preparedGeneration_ = generation;
    preparedPlan_ = plan_;
    return PreparedHandOver::handed;
}

void TriggerInput::answered(std::uint64_t generation, std::size_t index) {
    std::lock_guard lock(reflexLock_);
    if (generation <= absorbedGeneration_)
        return; // taken over already, by a thread that withdrew the answers before a move
    if (generation == preparedGeneration_ && preparedPlan_) {
        preparedGeneration_ = 0;
        absorbLocked(generation, index, *preparedPlan_);
        replanLocked();
    }
}

} // namespace strata
