// The backend's worker thread: hands what the process callback received to the handlers, turns
// JACK's notifications into setup and subscriber notifications, and reconnects when the server
// comes back.
#include "jack/jack_midi_backend.h"
#include "platform/log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <jack/jack.h>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>

namespace strata {
namespace {

// Packets handed to the engine hold at most this many bytes; longer events (system-exclusive
// dumps) are cut into consecutive packets of one delivery.
constexpr std::size_t kMaxPacketBytes = 256;

} // namespace

// ---------------------------------------------------------------------------------------------
// Worker thread

void JackMidiBackend::deliver(std::uint32_t endpoint, const MidiPacketList& list) {
    std::lock_guard lock(handlerMutex_);
    if (endpoint < kVirtualEndpoints) {
        if (destinationHandlers_[endpoint])
            destinationHandlers_[endpoint](list);
        return;
    }
    const JackProcess::InputChannel& channel = process_.inputs[endpoint];
    if (channel.suppressed.load(std::memory_order_acquire))
        return;
    if (readHandler_)
        readHandler_(list, channel.refCon.load(std::memory_order_acquire));
}

void JackMidiBackend::dispatchIncoming() {
    // Read before the ring: all that the callbacks up to this cycle read is in it, and has been
    // handed over once the ring has been emptied below.
    const std::uint64_t finished = process_.finishedCycle.load(std::memory_order_acquire);
    // One delivery is what one port received in one cycle.
    SpscByteRing& incoming = process_.incoming;
    JackInRecord record;
    while (incoming.peek(&record, sizeof record)) {
        const std::uint32_t endpoint = record.endpoint;
        const std::uint64_t cycle = record.cycle;
        if (record.answer != 0) {
            // A press the process callback answered already: its move is taken over, and the
            // press is not read again as a trigger.
            incoming.skip(sizeof record + record.length);
            deliveringCycle_.store(cycle, std::memory_order_release);
            std::lock_guard lock(handlerMutex_);
            if (answeredHandler_)
                answeredHandler_(record.generation, record.answer - 1);
            continue;
        }
        dispatchBytes_.clear();
        struct Piece {
            std::size_t offset;
            std::size_t length;
            std::optional<std::uint32_t> frame;
        };
        std::vector<Piece> pieces;
        while (incoming.peek(&record, sizeof record) && record.endpoint == endpoint &&
               record.cycle == cycle && record.answer == 0) {
            const std::size_t offset = dispatchBytes_.size();
            dispatchBytes_.resize(offset + record.length);
            incoming.peek(dispatchBytes_.data() + offset, record.length, sizeof record);
            incoming.skip(sizeof record + record.length);
            const auto frame =
                record.framed ? std::optional<std::uint32_t>(record.frame) : std::nullopt;
            for (std::size_t p = 0; p < record.length; p += kMaxPacketBytes)
                pieces.push_back({offset + p, std::min(kMaxPacketBytes, record.length - p), frame});
        }
        // Each event's age, against one reading of JACK's clock and one mapping of frames to it
        // for the whole delivery (a missed cycle re-bases JACK's mapping; two readings of it
        // around one would disagree). Only this thread opens and closes the client, so it stays
        // valid here.
        jack_client_t* client = process_.client.load(std::memory_order_acquire);
        const jack_time_t jackNow = jack_get_time();
        jack_nframes_t cycleFrame = 0;
        jack_time_t cycleMicros = 0;
        jack_time_t nextMicros = 0;
        float periodMicros = 0;
        const std::uint32_t periodFrames = process_.periodFrames.load(std::memory_order_relaxed);
        const bool mapped = client && periodFrames > 0 &&
                            jack_get_cycle_times(client, &cycleFrame, &cycleMicros, &nextMicros,
                                                 &periodMicros) == 0 &&
                            nextMicros > cycleMicros;
        const double microsPerFrame =
            mapped ? static_cast<double>(nextMicros - cycleMicros) / periodFrames : 0.0;
        // From a client that also listens to us, the frames run a period late for an answer to
        // it: aged by as much more, an answer timed by them reaches it on the event's frame.
        const auto loopDelay =
            endpoint < process_.inputs.size() &&
                    process_.inputs[endpoint].loopsBack.load(std::memory_order_acquire)
                ? std::chrono::duration_cast<std::chrono::microseconds>(cyclePeriod())
                : std::chrono::microseconds(0);
        dispatchPackets_.clear();
        for (const Piece& piece : pieces) {
            MidiPacket packet{dispatchBytes_.data() + piece.offset, piece.length};
            if (piece.frame && mapped) {
                const double at =
                    static_cast<double>(cycleMicros) +
                    static_cast<std::int32_t>(*piece.frame - cycleFrame) * microsPerFrame;
                packet.age =
                    std::chrono::microseconds(std::llround(static_cast<double>(jackNow) - at)) +
                    loopDelay;
            }
            dispatchPackets_.push_back(packet);
        }
        deliveringCycle_.store(cycle, std::memory_order_release);
        if (endpoint < process_.inputs.size())
            deliver(endpoint, MidiPacketList{dispatchPackets_.data(), dispatchPackets_.size()});
    }
    if (finished > deliveredCycle_.load(std::memory_order_relaxed)) {
        deliveredCycle_.store(finished, std::memory_order_release);
        process_.handedOnCycle.store(finished, std::memory_order_release);
    }
}

void JackMidiBackend::runWorkerJobs() {
    if (!workerJobsPending_.load(std::memory_order_acquire))
        return;
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard lock(workerJobsMutex_);
        jobs.swap(workerJobs_);
        workerJobsPending_.store(false, std::memory_order_relaxed);
    }
    for (auto& job : jobs)
        job();
}

void JackMidiBackend::handleNotifications(std::chrono::steady_clock::time_point now) {
    JackObserver::News news;
    std::vector<std::string> feedback;
    {
        std::lock_guard lock(controlMutex_);
        JackObserver::OwnPorts own;
        for (std::size_t k = 0; k < kVirtualEndpoints; ++k)
            own.virtualSources[k] = {process_.outputs[k].port.load(), virtualSourceRefs_[k]};
        own.ownPlumbing = [this](jack_port_t* port) { return pool_.owns(port); };
        news = observer_.collect(session_.client(), own, now);
        // A connection can be reported before the server's graph, which connection queries
        // read, holds it: the graph takes it at the start of a cycle, and a loaded machine can
        // hold that cycle back. Judge again once two of our cycles have begun since the news,
        // or a DAW's surface output wired to our feedback input stays read as a controller.
        const std::uint64_t cycle = process_.cycle.load(std::memory_order_acquire);
        if (news.connectionChanged) {
            pool_.refreshSuppression(session_.client(), feedbackPorts());
            suppressionRecheckAt_ = cycle + 2;
        } else if (suppressionRecheckAt_ != 0 && cycle >= suppressionRecheckAt_) {
            pool_.refreshSuppression(session_.client(), feedbackPorts());
            suppressionRecheckAt_ = 0;
        }
    }
    if (!news.subscribed.empty()) {
        std::lock_guard lock(handlerMutex_);
        for (MidiRef ref : news.subscribed)
            if (subscriberHandler_)
                subscriberHandler_(ref);
        subscriptionsReported_.fetch_add(news.subscribed.size(), std::memory_order_release);
    }
    if (news.setupDue) {
        std::lock_guard lock(handlerMutex_);
        if (setupHandler_)
            setupHandler_();
    }
}

void JackMidiBackend::logDropsIfAny(std::chrono::steady_clock::time_point now) {
    for (const std::string& line : report_.take(now, droppedSoFar(), process_.xruns.load()))
        logLine(line);
}

std::uint64_t JackMidiBackend::droppedSoFar() const {
    return process_.droppedOutgoing.load() + process_.droppedIncoming.load();
}

namespace {

// Whether the thread with Linux thread id `thread` of this process still runs.
bool threadRuns(int thread) {
    return thread != 0 && syscall(SYS_tgkill, getpid(), thread, 0) == 0;
}

} // namespace

bool JackMidiBackend::shutdownDue(std::chrono::steady_clock::time_point now) {
    if (!process_.shutdownSignalled.load(std::memory_order_acquire))
        return false;
    if (!shutdownSeenAt_)
        shutdownSeenAt_ = now;
    if (onPipeWire_ || now - *shutdownSeenAt_ >= kShutdownReportWait)
        return true;
    // jackd's libjack stops its notification thread wherever it is when the client is closed.
    // In the middle of a notice that a client left, the thread holds a lock of libjack's, which
    // the close then waits for for ever; and the server sends such notices as it shuts down,
    // before and after it reports the shutdown. Once the server has gone, the thread reads the
    // end of its socket, reports the shutdown and ends: the client is closed after that.
    int thread = process_.shutdownReporter.load(std::memory_order_acquire);
    if (thread == 0)
        thread = observer_.noticeThread();
    return !threadRuns(thread);
}

std::chrono::microseconds JackMidiBackend::untilNextCycle(std::uint64_t lastProcessMicros) const {
    using std::chrono::microseconds;
    const microseconds closely = std::max(microseconds{50}, options_.pollInterval / 4);
    const auto period = std::chrono::duration_cast<microseconds>(cyclePeriod());
    if (lastProcessMicros == 0 || period.count() <= 0)
        return options_.pollInterval;
    // Our next process callback is due one period after the latest began.
    const auto due = static_cast<std::int64_t>(lastProcessMicros + period.count());
    const auto now = static_cast<std::int64_t>(jack_get_time());
    if (due > now)
        return std::max(microseconds{due - now} + closely / 4, closely);
    if (now - due < options_.pollInterval.count() + period.count())
        return closely;           // due: look closely until it has run
    return options_.pollInterval; // a late or stalled graph (an xrun): the steady poll
}

std::chrono::steady_clock::time_point
JackMidiBackend::nextLook(std::chrono::steady_clock::time_point now,
                          std::uint64_t lastProcessMicros, bool followCycles) const {
    auto at = now + options_.idleLook;
    // Drops and xruns wake the worker as they are counted; a report held back by the spacing
    // between reports is made when it comes due.
    if (const auto reportDue = report_.dueAt(droppedSoFar(), process_.xruns.load()))
        at = std::min(at, std::max(*reportDue, now));
    if (!available()) {
        // No cycles and no notifications without a server: only the next retry and a report
        // matter (the destructor wakes the worker to stop).
        if (options_.waitForServer)
            at = std::min(at, std::max(nextRetry_, now));
        return at;
    }
    if (shutdownSeenAt_) // until the notice thread has ended
        at = std::min({at, *shutdownSeenAt_ + kShutdownReportWait, now + kShutdownLook});
    if (const auto setupDue = observer_.setupDueAt())
        at = std::min(at, *setupDue);
    // A cycle that read input is being published right now (its input is in the ring or about
    // to be counted as finished): look again in a moment rather than spin.
    if (followCycles || process_.lastInputCycle.load(std::memory_order_acquire) >
                            deliveredCycle_.load(std::memory_order_relaxed))
        at = std::min(at, now + untilNextCycle(lastProcessMicros));
    return at;
}

void JackMidiBackend::workerLoop() {
    JackWorkerWake& wake = process_.workerWake;
    while (!stopping_.load(std::memory_order_acquire)) {
        const auto now = std::chrono::steady_clock::now();
        // Read before the ring: everything the callback that finished then wrote is read below.
        const std::uint64_t lastProcess =
            process_.lastProcessMicros.load(std::memory_order_acquire);
        runWorkerJobs();
        dispatchIncoming();

        if (shutdownDue(now)) {
            process_.shutdownSignalled.store(false, std::memory_order_release);
            shutdownSeenAt_.reset();
            dispatchIncoming();
            if (session_.drop()) {
                if (!lossAnnounced_)
                    logLine("[MIDI] JACK server stopped; MIDI is unavailable until it is back");
                lossAnnounced_ = true;
                nextRetry_ = now + options_.retryInterval;
                observer_.cancelSetup();
                std::lock_guard handlers(handlerMutex_);
                if (availabilityHandler_)
                    availabilityHandler_(false);
                if (setupHandler_)
                    setupHandler_();
            }
        } else if (!shutdownSeenAt_) {
            handleNotifications(now);
        }

        if (!available() && options_.waitForServer && now >= nextRetry_) {
            nextRetry_ = now + options_.retryInterval;
            const bool wasEverConnected = session_.everConnected();
            if (session_.open([this](jack_client_t* client) { registerPorts(client); })) {
                logLine(wasEverConnected ? "[MIDI] JACK server is back"
                                         : "[MIDI] JACK server answered; MIDI is available");
                lossAnnounced_ = false;
                std::lock_guard handlers(handlerMutex_);
                if (availabilityHandler_)
                    availabilityHandler_(true);
                if (setupHandler_)
                    setupHandler_();
            }
        }
        bool gatesPending = false;
        {
            std::lock_guard control(controlMutex_);
            gatesPending = pool_.openLinkGates(session_.client(), now);
        }
        logDropsIfAny(now);

        // Announce the sleep, then look once more at what the real-time side may have handed
        // over meanwhile (see JackWorkerWake): input, a shutdown.
        const auto until = nextLook(now, lastProcess, gatesPending || suppressionRecheckAt_ != 0);
        wake.announceSleep();
        // A cycle that finished after this pass read the finished count, with its input already
        // taken from the ring above, may have looked for a sleeping worker before the
        // announcement: it is handed on as read now, not after the whole look.
        const std::uint64_t input = process_.lastInputCycle.load(std::memory_order_acquire);
        const bool inputToHandOn = input > deliveredCycle_.load(std::memory_order_relaxed) &&
                                   process_.finishedCycle.load(std::memory_order_acquire) >= input;
        if (inputToHandOn || !process_.incoming.empty() ||
            workerJobsPending_.load(std::memory_order_acquire) ||
            (!shutdownSeenAt_ && process_.shutdownSignalled.load(std::memory_order_acquire)) ||
            stopping_.load(std::memory_order_acquire)) {
            wake.cancelSleep();
            continue;
        }
        wake.sleepUntil(until);
    }
}

} // namespace strata
