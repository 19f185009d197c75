#include "midi/output_path.h"

#include "midi/mackie_protocol.h"
#include "platform/thread_check.h"

#include <limits>

namespace strata {

namespace {
constexpr Duration kTxThrottle = std::chrono::milliseconds(80);
}

std::string_view mainSurfacePort(const std::optional<std::string>& mackiePort) {
    return mackiePort && !mackiePort->empty() ? std::string_view(*mackiePort) : kMainSurfacePort;
}

bool throttle(std::atomic<Duration::rep>& last, TimePoint now, Duration threshold) {
    const Duration::rep stamp = now.time_since_epoch().count();
    Duration::rep seen = last.load(std::memory_order_relaxed);
    for (;;) {
        if (seen != kNeverStamped && Duration(stamp - seen) <= threshold)
            return false;
        if (last.compare_exchange_weak(seen, stamp, std::memory_order_relaxed))
            return true;
    }
}

OutputPath::OutputPath(MidiBackend& backend, PortDirectory& ports, ServiceTasks& tasks,
                       Published<std::optional<TimePoint>>& txLight)
    : backend_(backend), ports_(ports), tasks_(tasks), txLight_(txLight),
      lastTxPublish_(kNeverStamped) {}

void OutputPath::deliver(const std::uint8_t* bytes, std::size_t length, std::string_view portName) {
    STRATA_ASSERT_THREAD(tasks_.queue());
    if (beforeOutput_)
        beforeOutput_();
    if (ports_.deliver(bytes, length, portName))
        noteTx();
}

void OutputPath::noteTx() {
    const TimePoint now = tasks_.loop().now();
    if (throttle(lastTxPublish_, now, kTxThrottle))
        tasks_.onMain([this, now] { txLight_.set(now); });
}

void OutputPath::cycleBreak(std::string_view portName) {
    STRATA_ASSERT_THREAD(tasks_.queue());
    const MidiRef source = ports_.surfaceSource(portName);
    if (source == 0)
        return;
    if (beforeOutput_)
        beforeOutput_();
    backend_.barrier(source);
    pressedSinceBreak_[surfaceIndex(source)].reset();
    toggledSinceBreak_[surfaceIndex(source)].reset();
}

void OutputPath::notePressed(std::uint8_t noteNumber, std::string_view portName) {
    if (const MidiRef source = ports_.surfaceSource(portName); source != 0)
        pressedSinceBreak_[surfaceIndex(source)].set(noteNumber & 0x7F);
}

void OutputPath::pressButton(std::uint8_t noteNumber, std::string_view portName) {
    STRATA_ASSERT_THREAD(tasks_.queue());
    // A toggle pressed twice in one cycle would be left as pressed once.
    if (const MidiRef source = ports_.surfaceSource(portName); source != 0) {
        auto& pressed = pressedSinceBreak_[surfaceIndex(source)];
        if (pressed.test(noteNumber & 0x7F))
            cycleBreak(portName);
        pressed.set(noteNumber & 0x7F);
    }
    const std::uint8_t press[3] = {mackie::kNoteOn, noteNumber, mackie::kPressVelocity};
    deliver(press, sizeof press, portName);
    const std::uint8_t release[3] = {mackie::kNoteOn, noteNumber, mackie::kReleaseVelocity};
    deliver(release, sizeof release, portName);
}

void OutputPath::toggleCC(std::uint8_t channel, std::uint8_t cc, std::string_view portName) {
    STRATA_ASSERT_THREAD(tasks_.queue());
    if (const MidiRef source = ports_.surfaceSource(portName); source != 0) {
        auto& toggled = toggledSinceBreak_[surfaceIndex(source)];
        const std::size_t bit = std::size_t{channel} * 128 + cc;
        if (toggled.test(bit))
            cycleBreak(portName);
        toggled.set(bit);
    }
    const std::uint8_t msg[3] = {static_cast<std::uint8_t>(mackie::kControlChange | channel), cc,
                                 0x7F};
    deliver(msg, sizeof msg, portName);
}

OutputPath::TimedSends::TimedSends(OutputPath& path, std::optional<TimePoint> due)
    : path_(path), timed_(due.has_value()) {
    STRATA_ASSERT_THREAD(path_.tasks_.queue());
    if (!timed_)
        return;
    path_.sendDue_ = due;
    path_.backend_.setDueTime(*due);
}

OutputPath::TimedSends::~TimedSends() {
    if (!timed_)
        return;
    path_.sendDue_.reset();
    path_.backend_.setDueTime(std::nullopt);
}

Stamp OutputPath::sendStamp() const {
    STRATA_ASSERT_THREAD(tasks_.queue());
    Stamp at = stampNow();
    if (!sendDue_ || *sendDue_ <= at.time)
        return at;
    const Duration period = cyclePeriod();
    if (period > Duration::zero())
        at.cycle += static_cast<std::uint64_t>((*sendDue_ - at.time) / period);
    at.time = *sendDue_;
    return at;
}

Duration OutputPath::sendLead() const {
    return std::chrono::duration_cast<Duration>(backend_.sendLead());
}

Stamp OutputPath::stampNow() const {
    return Stamp{tasks_.loop().now(), backend_.cycleCount()};
}

Stamp OutputPath::arrivalStamp() const {
    return Stamp{tasks_.loop().now(), backend_.deliveringCycle()};
}

Duration OutputPath::cyclePeriod() const {
    return std::chrono::duration_cast<Duration>(backend_.cyclePeriod());
}

bool OutputPath::hasPassed(const Stamp& since, Duration span) const {
    return hasPassed(since, span, stampNow());
}

bool OutputPath::inputHasPassed(const Stamp& since, Duration span) const {
    return hasPassed(since, span, Stamp{tasks_.loop().now(), backend_.deliveredCycle()});
}

bool OutputPath::hasPassed(const Stamp& since, Duration span, const Stamp& at) const {
    if (at.time - since.time < span)
        return false;
    const Duration period = cyclePeriod();
    if (period <= Duration::zero())
        return true;
    const auto cycles = static_cast<std::uint64_t>((span + period - Duration(1)) / period);
    return at.cycle >= since.cycle + cycles;
}

} // namespace strata
