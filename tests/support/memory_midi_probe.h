#pragma once

#include "backends/memory/memory_midi_system.h"
#include "platform/prepared_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

namespace strata {

// The in-memory MIDI system with the other applications played by the test: it adds external
// sources that send packet lists, external destinations that record what reaches them, DAW
// listeners that record what our virtual sources emit, sends surface feedback into our virtual
// destinations, renames and removes endpoints and fires setup-change notifications.
//
// Header-only, so that the benchmarks and fuzz targets use it without the test support library.
class MemoryMidiProbe final : public MemoryMidiSystem {
public:
    using Bytes = std::vector<std::uint8_t>;
    using ListenerId = std::uint32_t;

    // ---- What our side does, recorded ----------------------------------------------------------

    void received(MidiRef virtualSource, const std::uint8_t* data, std::size_t length) override {
        std::shared_ptr<DeliveryHook> hook;
        {
            std::lock_guard lock(mutex_);
            if (!isOwnSourceLocked(virtualSource))
                return;
            if (recordTimed_)
                timed_.push_back(Timed{virtualSource, Bytes(data, data + length), due_});
            hearLocked(virtualSource, Bytes(data, data + length));
            hook = deliveryHook_;
        }
        if (hook)
            (*hook)(virtualSource, data, length);
        MemoryMidiSystem::received(virtualSource, data, length);
    }

    void send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
              std::size_t length) override {
        std::shared_ptr<DeliveryHook> hook;
        {
            std::lock_guard lock(mutex_);
            if (!canSendLocked(outputPort, destination))
                return;
            if (recordTimed_)
                timed_.push_back(Timed{destination, Bytes(data, data + length), due_});
            if (findLocked(destination)->owner == 0)
                receivedBy_[destination].emplace_back(data, data + length);
            hook = deliveryHook_;
        }
        if (hook)
            (*hook)(destination, data, length);
        MemoryMidiSystem::send(outputPort, destination, data, length);
    }

    // ---- Prepared answers, with the test as the real-time side ----------------------------------

    // From now on answers prepared ahead are taken (as a JACK server's callback takes them).
    void takePreparedAnswers() { preparedOn_.store(true); }
    bool takesPreparedAnswers() const override { return preparedOn_.load(); }
    bool prepareAnswers(const PreparedAnswerSet& set, std::uint64_t generation) override {
        if (!preparedOn_.load())
            return false;
        std::lock_guard lock(preparedMutex_);
        // Every hand-over runs a cycle here, so retired tables come free again.
        finished_.store(cycle_.fetch_add(1) + 1);
        return prepared_.publish(set, {0, 1}, generation, cycle_, finished_);
    }
    PreparedOutcome withdrawAnswers(std::uint64_t generation) override {
        std::lock_guard lock(preparedMutex_);
        return prepared_.withdraw(generation);
    }
    PreparedOutcome preparedOutcome(std::uint64_t generation) const override {
        std::lock_guard lock(preparedMutex_);
        return prepared_.outcome(generation);
    }
    void setAnsweredHandler(AnsweredHandler handler) override {
        std::lock_guard lock(mutex_);
        answered_ = std::move(handler);
    }
    // A press from `source` read by the real-time side: when an armed answer fires for it, it is
    // claimed and its bytes are heard at once (one packet per message), as the callback writes
    // them; the input thread is told later (handAnswered).
    std::optional<PreparedPool::Claim> pressPrepared(MidiRef source, const Bytes& press) {
        const PreparedPool::Table* table = prepared_.armed();
        if (!table || press.size() < 2)
            return std::nullopt;
        for (std::size_t i = 0; i < table->set.count; ++i)
            if (table->set.answers[i].fires(press[0], press[1], press.size() > 2 ? press[2] : 0,
                                            source))
                return claimAndHear(*table, i);
        return std::nullopt;
    }
    bool sendPrepared(std::uint64_t generation, std::size_t index) override {
        std::lock_guard lock(preparedMutex_);
        const PreparedPool::Table* table = prepared_.armedTable(generation);
        if (!table || index >= table->set.count || !claimAndHear(*table, index))
            return false;
        preparedSends_.fetch_add(1);
        return true;
    }
    // Answers sent through sendPrepared so far.
    int preparedSends() const { return preparedSends_.load(); }
    // The claimed press reaches the input thread (this thread plays it).
    void handAnswered(const PreparedPool::Claim& claimed) {
        AnsweredHandler handler;
        {
            std::lock_guard lock(mutex_);
            handler = answered_;
        }
        if (handler)
            handler(claimed.generation, claimed.index);
    }

    void disposeClient(MidiRef client) override {
        {
            std::lock_guard lock(mutex_);
            std::erase_if(listeners_, [&](const auto& entry) {
                const Object* source = findLocked(entry.second.source);
                return source && source->owner == client;
            });
        }
        MemoryMidiSystem::disposeClient(client);
    }

    // ---- The other applications ----------------------------------------------------------------

    // An external source or destination, appended to the system order, with `name` as its name
    // and display name (rename() gives it other names or none).
    MidiRef addSource(std::string_view name) {
        std::lock_guard lock(mutex_);
        return addObject(Object::named(Object::Type::source, name));
    }
    MidiRef addDestination(std::string_view name) {
        std::lock_guard lock(mutex_);
        return addObject(Object::named(Object::Type::destination, name));
    }

    // Gives an endpoint the aliases a JACK system port carries.
    void setAliases(MidiRef endpoint, std::vector<std::string> aliases) {
        std::lock_guard lock(mutex_);
        if (Object* o = findLocked(endpoint))
            o->aliases = std::move(aliases);
    }

    // Takes any endpoint out of the system (its connections and listeners go with it).
    void removeEndpoint(MidiRef endpoint) {
        std::lock_guard lock(mutex_);
        const Object* o = findLocked(endpoint);
        if (!o || (o->type != Object::Type::source && o->type != Object::Type::destination))
            return;
        std::erase_if(listeners_,
                      [endpoint](const auto& entry) { return entry.second.source == endpoint; });
        receivedBy_.erase(endpoint);
        removeLocked(endpoint);
    }

    // Changes both names of any object.
    void rename(MidiRef object, std::optional<std::string> name,
                std::optional<std::string> displayName) {
        std::lock_guard lock(mutex_);
        if (Object* o = findLocked(object)) {
            o->name = std::move(name);
            o->displayName = std::move(displayName);
        }
    }

    // Calls every client's setup handler on the calling thread.
    void notifySetupChanged() {
        std::vector<std::shared_ptr<SetupHandler>> handlers;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [ref, o] : objects_)
                if (o->type == Object::Type::client && o->onSetup)
                    handlers.push_back(o->onSetup);
        }
        for (const auto& h : handlers)
            (*h)();
    }

    // `source` sends one packet list: every input port connected to it receives it, with the
    // connection's value.
    void sendFromSource(MidiRef source, const std::vector<Bytes>& packets) {
        Targets targets;
        {
            std::lock_guard lock(mutex_);
            targets = targetsOfLocked(source);
        }
        const auto list = packetsOf(packets);
        deliverToPorts(targets, MidiPacketList{list.data(), list.size()});
    }

    // Delivers a packet list to an input port with any connection value (0: none), as a platform
    // would for input it cannot attribute.
    void deliverToInputPort(MidiRef inputPort, const std::vector<Bytes>& packets,
                            std::uint64_t refCon) {
        std::shared_ptr<ReadHandler> handler;
        {
            std::lock_guard lock(mutex_);
            const Object* port = findLocked(inputPort);
            if (!port || !port->onRead)
                return;
            handler = port->onRead;
        }
        const auto list = packetsOf(packets);
        (*handler)(MidiPacketList{list.data(), list.size()}, refCon);
    }

    // Another application (the DAW's surface feedback) sends one packet list to one of our virtual
    // destinations: its handler receives it.
    void sendToDestination(MidiRef destination, const std::vector<Bytes>& packets) {
        std::shared_ptr<DestinationHandler> handler;
        {
            std::lock_guard lock(mutex_);
            const Object* dst = findLocked(destination);
            if (!dst || dst->type != Object::Type::destination)
                return;
            handler = dst->onDestination;
        }
        if (!handler)
            return;
        const auto list = packetsOf(packets);
        (*handler)(MidiPacketList{list.data(), list.size()});
    }

    // Each packet an external destination has received, in order.
    std::vector<Bytes> receivedBy(MidiRef destination) const {
        std::lock_guard lock(mutex_);
        auto it = receivedBy_.find(destination);
        return it == receivedBy_.end() ? std::vector<Bytes>{} : it->second;
    }

    // A DAW connects to one of the virtual sources (the subscriber handler is told) and from then
    // on records what it emits.
    ListenerId listen(MidiRef virtualSource) {
        ListenerId id = 0;
        std::shared_ptr<SubscriberHandler> handler;
        {
            std::lock_guard lock(mutex_);
            if (!isOwnSourceLocked(virtualSource))
                return 0;
            id = nextListener_++;
            listeners_.emplace(id, Listener{virtualSource, {}});
            handler = subscriberHandler_;
        }
        if (handler)
            (*handler)(virtualSource);
        return id;
    }
    std::vector<Bytes> heardPackets(ListenerId listener) const {
        std::lock_guard lock(mutex_);
        auto it = listeners_.find(listener);
        return it == listeners_.end() ? std::vector<Bytes>{} : it->second.heard;
    }
    void clearHeard() {
        std::lock_guard lock(mutex_);
        for (auto& [id, l] : listeners_)
            l.heard.clear();
        for (auto& [ref, packets] : receivedBy_)
            packets.clear();
    }

    // The first source (in system order) whose display name, else name, equals `name`; 0 when
    // there is none.
    MidiRef sourceNamed(std::string_view name) const {
        std::lock_guard lock(mutex_);
        return firstNamed(sources_, name);
    }
    // How many input connections exist from `source`.
    std::size_t connectionCount(MidiRef source) const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(
            std::count_if(connections_.begin(), connections_.end(),
                          [source](const Connection& c) { return c.source == source; }));
    }

    // Called with every packet handed over through received() or send() (after it was recorded),
    // on the calling thread. For latency measurements.
    using DeliveryHook = std::function<void(MidiRef endpoint, const std::uint8_t*, std::size_t)>;
    void setDeliveryHook(DeliveryHook hook) {
        std::lock_guard lock(mutex_);
        deliveryHook_ = hook ? std::make_shared<DeliveryHook>(std::move(hook)) : nullptr;
    }

    // ---- Timed sends ---------------------------------------------------------------------------

    // From the last recordTimedSends() on, every packet emitted or sent, with the due time it was
    // handed over under (the calling thread's or not: the MIDI queue is the only one that times
    // its sends).
    struct Timed {
        MidiRef endpoint = 0;
        Bytes bytes;
        std::optional<std::chrono::steady_clock::time_point> due;
    };
    void setDueTime(std::optional<std::chrono::steady_clock::time_point> due) override {
        std::lock_guard lock(mutex_);
        due_ = due;
    }
    void recordTimedSends() {
        std::lock_guard lock(mutex_);
        recordTimed_ = true;
        timed_.clear();
    }
    std::vector<Timed> timedSends() const {
        std::lock_guard lock(mutex_);
        return timed_;
    }
    // Plays a system that times its sends and wants them `lead` ahead.
    void setSendLead(std::chrono::nanoseconds lead) { sendLead_.store(lead.count()); }
    std::chrono::nanoseconds sendLead() const override {
        return std::chrono::nanoseconds(sendLead_.load());
    }

    // ---- A system that runs in cycles -----------------------------------------------------------

    // Plays a MIDI system whose cycles last `period`: the test says how many cycles have run, up
    // to which one their input has been handed to the handlers (an input thread the machine
    // holds back lags behind), and in which cycle the input it hands over next was read (0: the
    // latest). Deliveries still run at once, as the test makes them.
    void runInCycles(std::chrono::nanoseconds period) { cyclePeriod_.store(period.count()); }
    void setCycles(std::uint64_t count, std::uint64_t delivered, std::uint64_t readIn = 0) {
        cycleCount_.store(count);
        deliveredCycle_.store(delivered);
        readCycle_.store(readIn);
    }
    std::chrono::nanoseconds cyclePeriod() const override {
        return std::chrono::nanoseconds(cyclePeriod_.load());
    }
    std::uint64_t cycleCount() const override { return cycleCount_.load(); }
    std::uint64_t deliveredCycle() const override { return deliveredCycle_.load(); }
    // What our virtual sources emit waits for cycles that do not come (a stalled server); it is
    // recorded as heard all the same.
    void holdOutput(bool held) { outputHeld_.store(held); }
    bool outputPending(MidiRef) const override { return outputHeld_.load(); }
    std::uint64_t deliveringCycle() const override {
        const std::uint64_t read = readCycle_.load();
        return read != 0 ? read : cycleCount_.load();
    }

private:
    // Claims an answerable answer; its bytes, one packet per three-byte message, are heard.
    std::optional<PreparedPool::Claim> claimAndHear(const PreparedPool::Table& table,
                                                    std::size_t index) {
        const PreparedAnswer& answer = table.set.answers[index];
        PreparedPool::Claim claim;
        if (!answer.answerable || !prepared_.claim(table, index, claim))
            return std::nullopt;
        std::lock_guard lock(mutex_);
        for (std::size_t k = 0; k < PreparedAnswer::kOutputs; ++k)
            for (std::size_t at = 0; at + 3 <= answer.length[k]; at += 3)
                hearLocked(table.set.outputs[k],
                           Bytes(&answer.bytes[k][at], &answer.bytes[k][at] + 3));
        return claim;
    }
    // Every listener of `source` hears `packet`. Callers hold mutex_.
    void hearLocked(MidiRef source, const Bytes& packet) {
        for (auto& [id, l] : listeners_)
            if (l.source == source)
                l.heard.push_back(packet);
    }

    struct Listener {
        MidiRef source;
        std::vector<Bytes> heard;
    };

    static std::vector<MidiPacket> packetsOf(const std::vector<Bytes>& packets) {
        std::vector<MidiPacket> out;
        out.reserve(packets.size());
        for (const auto& p : packets)
            out.push_back(MidiPacket{p.data(), p.size()});
        return out;
    }

    MidiRef firstNamed(const std::vector<MidiRef>& order, std::string_view name) const {
        for (MidiRef ref : order) {
            const Object* o = findLocked(ref);
            if (!o || !(o->displayName || o->name))
                continue;
            if ((o->displayName ? *o->displayName : *o->name) == name)
                return ref;
        }
        return 0;
    }

    std::map<ListenerId, Listener> listeners_;
    ListenerId nextListener_ = 1;
    std::map<MidiRef, std::vector<Bytes>> receivedBy_;
    std::shared_ptr<DeliveryHook> deliveryHook_;
    std::atomic<std::chrono::nanoseconds::rep> cyclePeriod_{0};
    std::atomic<std::uint64_t> cycleCount_{0};
    std::atomic<std::uint64_t> deliveredCycle_{0};
    std::atomic<std::uint64_t> readCycle_{0};
    std::atomic<bool> outputHeld_{false};
    std::optional<std::chrono::steady_clock::time_point> due_;
    std::vector<Timed> timed_;
    bool recordTimed_ = false;
    std::atomic<std::chrono::nanoseconds::rep> sendLead_{0};
    std::atomic<bool> preparedOn_{false};
    mutable std::mutex preparedMutex_;
    PreparedPool prepared_;
    std::atomic<std::uint64_t> cycle_{0};
    std::atomic<std::uint64_t> finished_{0};
    AnsweredHandler answered_;
    std::atomic<int> preparedSends_{0};
};

} // namespace strata
