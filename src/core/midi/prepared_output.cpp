#include "midi/prepared_output.h"

#include "midi/mackie_protocol.h"
#include "midi/midi_message.h"
#include "midi/trigger_input.h"

#include <algorithm>

namespace strata {

PreparedOutput::PreparedOutput(OutputPath& out, MackieOutput& mackie, ArdourCCMutes& cc,
                               std::optional<SectionRequest>& lastRequest, TriggerInput& input)
    : out_(out), mackie_(mackie), cc_(cc), lastRequest_(lastRequest), input_(input),
      handed_(std::make_unique<Prepared>()), scratch_(std::make_unique<Prepared>()) {}

PreparedOutput::~PreparedOutput() = default;

SectionRequest PreparedOutput::requestFor(const ReflexPlan& plan, std::size_t index) const {
    const ReflexSnapshot& s = *plan.snapshot;
    return SectionRequest{s.layers,
                          s.mutesAt(plan.entries[index].target),
                          s.mode,
                          s.mackiePort,
                          s.mackieTrackOffset,
                          false,
                          s.host};
}

bool PreparedOutput::fill(PreparedAnswer& answer, const SectionRequest& r,
                          std::vector<int>& presses) const {
    const auto append = [&](std::size_t output, std::initializer_list<std::uint8_t> bytes) {
        if (answer.length[output] + bytes.size() > PreparedAnswer::kMaxBytes)
            return false;
        for (std::uint8_t b : bytes)
            answer.bytes[output][answer.length[output]++] = b;
        return true;
    };
    const auto outputOf = [](std::string_view port) -> int {
        if (port == kMainSurfacePort)
            return 0;
        if (port == kExtenderPort)
            return 1;
        return -1;
    };
    if (r.mode == ControlMode::mackieControl) {
        const std::string_view mainPort = mainSurfacePort(r.mackiePort);
        if (mainPort != kMainSurfacePort)
            return false;
        auto planned = mackie_.plannedPresses(r);
        if (!planned)
            return false;
        for (int slot : *planned) {
            const std::uint8_t note = mackie::muteNote(slot % 8);
            if (!append(slot < 8 ? 0 : 1, {mackie::kNoteOn, note, mackie::kPressVelocity,
                                           mackie::kNoteOn, note, mackie::kReleaseVelocity}))
                return false;
        }
        presses = std::move(*planned);
        return true;
    }
    // Ardour's CC toggles wait for the host's echoes: the queued path's.
    if (r.host == DawHost::ardour)
        return false;
    // As sendCCMutes sends them: every layer's CC with its state.
    for (std::size_t i = 0; i < r.allLayers.size(); ++i) {
        const Layer& layer = r.allLayers[i];
        if (layer.portName.empty())
            continue;
        const std::int64_t number = layer.muteCC.value_or(20 + static_cast<std::int64_t>(i));
        if (number < 0 || number > 255)
            continue;
        const int output = outputOf(layer.portName);
        if (output < 0)
            return false;
        const bool muted = r.mutedIDs.count(layer.id) != 0;
        if (!append(static_cast<std::size_t>(output),
                    {static_cast<std::uint8_t>(mackie::kControlChange |
                                               midi::channelNibble(layer.channel)),
                     static_cast<std::uint8_t>(number & 0x7F),
                     static_cast<std::uint8_t>(muted ? 0x00 : 0x7F)}))
            return false;
    }
    return true;
}

SectionRequest& PreparedOutput::baseFor(const std::shared_ptr<const ReflexSnapshot>& snapshot) {
    if (baseSnapshot_ != snapshot) {
        const ReflexSnapshot& s = *snapshot;
        base_ =
            SectionRequest{s.layers, {}, s.mode, s.mackiePort, s.mackieTrackOffset, false, s.host};
        baseSnapshot_ = snapshot;
    }
    return base_;
}

void PreparedOutput::build(Prepared& into) {
    into.plan = plan_;
    into.set.count = 0;
    into.presses.clear();
    if (!plan_ || !plan_->snapshot)
        return;
    into.set.outputs = {out_.ports().surfaceSource(false), out_.ports().surfaceSource(true)};
    const std::size_t count = std::min(plan_->entries.size(), PreparedAnswerSet::kMaxAnswers);
    into.presses.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const ReflexPlan::Entry& entry = plan_->entries[i];
        PreparedAnswer& answer = into.set.answers[i];
        answer = PreparedAnswer{};
        answer.status = entry.status;
        answer.data1 = entry.data1;
        answer.anySource = entry.anySource;
        answer.sourceCount =
            static_cast<std::uint8_t>(std::min(entry.sources.size(), PreparedAnswer::kMaxSources));
        std::copy_n(entry.sources.begin(), answer.sourceCount, answer.sources.begin());
        // One that cannot be prepared still names its trigger: its press takes the queued path.
        SectionRequest& request = baseFor(plan_->snapshot);
        request.mutedIDs = plan_->snapshot->mutesAt(entry.target);
        if (!fill(answer, request, into.presses[i])) {
            answer.answerable = false;
            answer.length = {};
            into.presses[i].clear();
        }
    }
    into.set.count = count;
}

bool PreparedOutput::resolve(bool withdraw, bool takeRequest) {
    if (generation_ == 0)
        return false;
    MidiBackend& backend = out_.backend();
    const PreparedOutcome outcome =
        withdraw ? backend.withdrawAnswers(generation_) : backend.preparedOutcome(generation_);
    if (outcome.kind == PreparedOutcome::armed)
        return false;
    generation_ = 0;
    if (outcome.kind != PreparedOutcome::claimed || !handed_->plan ||
        outcome.index >= handed_->presses.size())
        return false;
    // Those bytes went out: the shadows and the state a newly connected DAW is brought to are
    // what they would be had this queue sent them.
    SectionRequest request = requestFor(*handed_->plan, outcome.index);
    if (request.mode == ControlMode::mackieControl)
        mackie_.pressedElsewhere(request, handed_->presses[outcome.index]);
    if (takeRequest) {
        cc_.setEchoesWanted(false);
        lastRequest_ = std::move(request);
    }
    out_.noteTx();
    return true;
}

void PreparedOutput::prepare() {
    if (!out_.backend().takesPreparedAnswers() || !out_.backend().available()) {
        resolve(true);
        return;
    }
    // A press may have claimed what is out there: take it in before looking at the shadows.
    resolve(false);
    build(*scratch_);
    if (generation_ != 0 && handed_->plan == scratch_->plan &&
        handed_->set.count == scratch_->set.count &&
        std::equal(handed_->set.answers.begin(), handed_->set.answers.begin() + handed_->set.count,
                   scratch_->set.answers.begin()) &&
        handed_->set.outputs == scratch_->set.outputs)
        return; // still armed and still right
    if (resolve(true))
        build(*scratch_);
    if (std::none_of(scratch_->set.answers.begin(),
                     scratch_->set.answers.begin() + scratch_->set.count,
                     [](const PreparedAnswer& answer) { return answer.live(); }))
        return;
    const std::uint64_t generation = ++nextGeneration_;
    switch (input_.handOverPrepared(plan_->id, generation, scratch_->set)) {
    case TriggerInput::PreparedHandOver::handed:
        generation_ = generation;
        std::swap(handed_, scratch_);
        break;
    case TriggerInput::PreparedHandOver::stale:
        break; // the new plan is on its way to this queue
    case TriggerInput::PreparedHandOver::refused:
        scheduleRetry(); // no table free until the process callback has moved on
        break;
    }
}

void PreparedOutput::scheduleRetry() {
    if (retryPending_)
        return;
    retryPending_ = true;
    ServiceTasks& tasks = out_.tasks();
    const Duration delay = std::max<Duration>(std::chrono::milliseconds(2), out_.cyclePeriod());
    // On this queue's own clock: a busy main thread does not hold the answers back. The retry
    // itself is a job of its own, so that the answers are prepared again after it.
    tasks.onQueueAt(tasks.loop().now() + delay,
                    [this, &tasks] { tasks.onQueueQuiet([this] { retryPending_ = false; }); });
}

} // namespace strata
