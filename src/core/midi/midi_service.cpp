#include "midi/midi_service.h"

#include "model/setlist_codec.h"

#include <algorithm>
#include <condition_variable>
#include <limits>

namespace strata {

// The liveness token that handlers, jobs and posted tasks hold instead of the service itself.
// Backend handlers enter it for the length of their call; close() refuses new entries at once and
// waits for those inside to leave, so the destructor never runs while a handler is inside the
// service (and a busy input thread cannot hold it off). Queue jobs only check `alive`: the
// destructor stops the queue before any member goes. Main-thread tasks check `alive` too; they
// cannot overlap the destructor, which runs on the same thread.
struct MidiService::Life {
    std::atomic<bool> alive{true};
    std::mutex mutex;
    std::condition_variable left;
    int inside = 0;

    bool enter() {
        std::lock_guard lock(mutex);
        if (!alive.load())
            return false;
        ++inside;
        return true;
    }
    void leave() {
        std::lock_guard lock(mutex);
        if (--inside == 0)
            left.notify_all();
    }
    void close() {
        std::unique_lock lock(mutex);
        alive.store(false);
        left.wait(lock, [this] { return inside == 0; });
    }

    // Keeps a handler inside for its scope.
    struct Entry {
        explicit Entry(Life& l) : life(l), entered(l.enter()) {}
        ~Entry() {
            if (entered)
                life.leave();
        }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        Life& life;
        const bool entered;
    };
};

namespace {

constexpr Duration::rep kNever = std::numeric_limits<Duration::rep>::min();
constexpr Duration kTxThrottle = std::chrono::milliseconds(80);
constexpr Duration kRxThrottle = std::chrono::milliseconds(500);

constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kMuteNote = 0x10;
constexpr std::uint8_t kBankLeft = 0x2E;
constexpr std::uint8_t kBankRight = 0x2F;
constexpr std::uint8_t kChannelRight = 0x31;
constexpr std::uint8_t kControlChange = 0xB0;
// 32 bank-left presses bring any bank of up to 256 tracks back to the first track.
constexpr int kBankLeftPresses = 32;

std::uint8_t clampData(std::int64_t v) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 127));
}
std::uint8_t channelNibble(std::int64_t channel) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(channel, 1, 16) - 1);
}

// The first track a surface shows for an offset: rounded toward zero to a bank of 8, never below
// the first track and never beyond kMaxBankOffset. The upper bound keeps a corrupt offset from
// turning into billions of bank presses that would hold up all output (and the panic, which
// waits for the queue); it lies far beyond any session a 32-press return to the start covers.
std::int64_t bankBase(std::int64_t offset) {
    return std::clamp<std::int64_t>(trunc8(offset), 0, MidiService::kMaxBankOffset);
}

// Stamps `last` with `now` when more than `threshold` has passed; true when this caller won.
bool throttle(std::atomic<Duration::rep>& last, TimePoint now, Duration threshold) {
    const Duration::rep stamp = now.time_since_epoch().count();
    Duration::rep seen = last.load(std::memory_order_relaxed);
    for (;;) {
        if (seen != kNever && Duration(stamp - seen) <= threshold)
            return false;
        if (last.compare_exchange_weak(seen, stamp, std::memory_order_relaxed))
            return true;
    }
}

std::string_view mainSurfacePort(const std::optional<std::string>& mackiePort) {
    return mackiePort && !mackiePort->empty() ? std::string_view(*mackiePort) : kMainSurfacePort;
}

// Copies the packets of one delivery into one buffer with the end of every chunk; the packet
// list is gone once the handler returns. False when there is nothing to copy.
bool copyChunks(const MidiPacketList& packets, std::vector<std::uint8_t>& bytes,
                std::vector<std::size_t>& ends) {
    for (std::size_t p = 0; p < packets.count; ++p) {
        const MidiPacket& packet = packets.packets[p];
        const std::size_t n = std::min(packet.length, MidiService::kMaxPacketBytes);
        if (n == 0 || packet.data == nullptr)
            continue;
        bytes.insert(bytes.end(), packet.data, packet.data + n);
        ends.push_back(bytes.size());
    }
    return !ends.empty();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::string_view trimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Where the first status byte after the one that starts `message` lies (within `size` bytes),
// 0 when every byte after the first is a data byte.
std::size_t statusByteAfter(const std::uint8_t* message, std::size_t size) {
    for (std::size_t j = 1; j < size; ++j)
        if (message[j] & 0x80)
            return j;
    return 0;
}

} // namespace

template <typename F>
void MidiService::onMain(F&& task) {
    loop_.post([life = life_, task = std::forward<F>(task)]() mutable {
        if (life->alive.load())
            task();
    });
}

template <typename F>
void MidiService::onQueue(F&& job) {
    midiQueue_->submit([life = life_, job = std::forward<F>(job)]() mutable {
        if (life->alive.load())
            job();
    });
}

// ---- Start-up and shutdown ---------------------------------------------------------------------

MidiService::MidiService(MidiBackend& backend, MainLoop& loop, Settings& settings)
    : backend_(backend), loop_(loop), settings_(settings), life_(std::make_shared<Life>()),
      lastTxPublish_(kNever), lastRxPublish_(kNever),
      midiQueue_(std::make_unique<SerialQueue>(std::string(kQueueLabel))) {
    q_.lcdBuffer.fill(0x20);
    input_.jumpTriggers = std::make_shared<const JumpTriggerTable>();
    input_.momentTriggers = std::make_shared<const MomentTriggerTable>();
    sourceIdentities_ = std::make_shared<const SourceIdentities>();
    input_.sources = sourceIdentities_;

    // The input threads see the main thread's writes through copies under jumpLock_.
    mirrors_ += isLearningTrigger.changed.connect([this](const bool& learning) {
        std::lock_guard lock(jumpLock_);
        input_.learning = learning;
    });
    mirrors_ += advanceTrigger.changed.connect([this](const std::optional<AdvanceTrigger>& t) {
        auto copy = t ? std::make_shared<const AdvanceTrigger>(*t) : nullptr;
        std::lock_guard lock(jumpLock_);
        input_.advanceTrigger = std::move(copy);
    });

    const auto life = life_;
    client_ = backend_.createClient(kClientName, [this, life] {
        const Life::Entry entry(*life);
        if (!entry.entered)
            return;
        onMain([this] {
            refreshPorts();
            connectSources();
            resolveTriggerSource();
        });
    });
    outPort_ = backend_.createOutputPort(client_, kOutputPortName);
    inPort_ = backend_.createInputPort(
        client_, kInputPortName, [this, life](const MidiPacketList& list, std::uint64_t refCon) {
            const Life::Entry entry(*life);
            if (entry.entered)
                handleIncoming(list, refCon);
        });
    virtualSrc_ = backend_.createVirtualSource(client_, kMainSurfacePort);
    virtualDst_ = backend_.createVirtualDestination(client_, kMainSurfacePort,
                                                    [this, life](const MidiPacketList& list) {
                                                        const Life::Entry entry(*life);
                                                        if (entry.entered)
                                                            handleMackieFeedback(list);
                                                    });
    virtualSrcXT_ = backend_.createVirtualSource(client_, kExtenderPort);
    virtualDstXT_ = backend_.createVirtualDestination(client_, kExtenderPort,
                                                      [this, life](const MidiPacketList& list) {
                                                          const Life::Entry entry(*life);
                                                          if (entry.entered)
                                                              handleExtenderFeedback(list);
                                                      });

    // A DAW that connects to a surface port after we pushed missed the bank moves and the mutes.
    backend_.setSubscriberHandler([this, life](MidiRef source) {
        const Life::Entry entry(*life);
        if (!entry.entered)
            return;
        onQueue([this, source, at = stampNow()] { surfaceConnected(source, at); });
    });
    backend_.setAvailabilityHandler([this, life](bool available) {
        const Life::Entry entry(*life);
        if (entry.entered)
            onMain([this, available] { midiAvailable.set(available); });
    });
    midiAvailable.set(backend_.available());

    refreshPorts();
    connectSources();
    resolveTriggerSource();
    loadAdvanceTrigger();
}

MidiService::~MidiService() {
    life_->close();
    backend_.disposeClient(client_);
    // Jobs still queued see the token cleared and do nothing; the worker stops before any member
    // that jobs use goes away.
    midiQueue_.reset();
}

// ---- Port directory ----------------------------------------------------------------------------

std::string MidiService::endpointName(MidiRef ref) const {
    if (auto name = backend_.displayName(ref))
        return *name;
    if (auto name = backend_.name(ref))
        return *name;
    return "Unknown";
}

// endpointName as of one enumeration.
static std::string listedName(const MidiPortInfo& port) {
    return port.displayName ? *port.displayName : port.name.value_or("Unknown");
}

std::optional<MidiRef> MidiService::systemDestinationRef(std::string_view name) const {
    for (const MidiPortInfo& port : backend_.destinations())
        if (port.ref != 0 && listedName(port) == name)
            return port.ref;
    return std::nullopt;
}

void MidiService::refreshPorts() {
    std::vector<std::string> dests{std::string(kMainSurfacePort)};
    for (const MidiPortInfo& port : backend_.destinations()) {
        if (port.ref == 0)
            continue;
        auto name = listedName(port);
        if (name != kMainSurfacePort)
            dests.push_back(std::move(name));
    }
    // A destination that is listed anew (a DAW started, or restarted, after us) missed what
    // was toggled on it while it was gone.
    std::vector<std::string> appeared;
    for (std::size_t i = 1; i < dests.size(); ++i)
        if (std::find(knownDestinations_.begin(), knownDestinations_.end(), dests[i]) ==
            knownDestinations_.end())
            appeared.push_back(dests[i]);
    knownDestinations_.assign(dests.begin() + 1, dests.end());
    if (!appeared.empty())
        onQueue([this, appeared = std::move(appeared)] { destinationsAppeared(appeared); });
    destinations.set(std::move(dests));

    std::vector<std::string> srcs;
    auto identities = std::make_shared<SourceIdentities>();
    for (const MidiPortInfo& port : backend_.sources()) {
        if (port.ref == 0)
            continue;
        std::string name = listedName(port);
        identities->insert_or_assign(port.ref, deviceIdentity(name, port.aliases));
        srcs.push_back(std::move(name));
    }
    // Before the list is published, so that its observers see the sources as they are now.
    sourceIdentities_ = std::move(identities);
    {
        std::lock_guard lock(jumpLock_);
        input_.sources = sourceIdentities_;
    }
    sources.set(std::move(srcs));
}

bool MidiService::deviceConnected(std::string_view deviceName) const {
    if (deviceName.empty())
        return false;
    const std::string stable = stableDeviceName(deviceName);
    return std::any_of(sourceIdentities_->begin(), sourceIdentities_->end(),
                       [&](const auto& entry) { return entry.second.answersTo(stable); });
}

DeviceIdentity MidiService::identityOf(MidiRef source) const {
    return deviceIdentity(endpointName(source), backend_.aliases(source));
}

void MidiService::connectSources() {
    if (inPort_ == 0)
        return;
    for (const MidiPortInfo& port : backend_.sources()) {
        const MidiRef ref = port.ref;
        // Our own surface output carries Mackie presses (Note On, velocity 127): read back as input
        // they would be learned as triggers or fire a NEXT/jump trigger on every push.
        if (ref == 0 || ref == virtualSrc_ || ref == virtualSrcXT_)
            continue;
        backend_.connectSource(inPort_, ref, ref);
    }
}

void MidiService::noteTx() {
    const TimePoint now = loop_.now();
    if (throttle(lastTxPublish_, now, kTxThrottle))
        onMain([this, now] { lastTxAt.set(now); });
}

void MidiService::noteMackieRx() {
    const TimePoint now = loop_.now();
    if (throttle(lastRxPublish_, now, kRxThrottle))
        onMain([this, now] { lastMackieRxAt.set(now); });
}

void MidiService::deliver(const std::uint8_t* bytes, std::size_t length,
                          std::string_view portName) {
    // A row without a port ("No port") sends nothing, anywhere.
    if (portName.empty())
        return;
    if (portName == kMainSurfacePort) {
        // Our own surface names never fall through to a system destination: a device that happens
        // to carry the name must not receive Mackie traffic meant for the DAW.
        if (virtualSrc_ != 0)
            backend_.received(virtualSrc_, bytes, length);
    } else if (portName == kExtenderPort) {
        if (virtualSrcXT_ != 0)
            backend_.received(virtualSrcXT_, bytes, length);
    } else if (auto dst = systemDestinationRef(portName)) {
        backend_.send(outPort_, *dst, bytes, length);
    }
    noteTx();
}

// ---- Mute output -------------------------------------------------------------------------------

void MidiService::sendSectionState(std::vector<Layer> allLayers, UuidSet mutedIDs, ControlMode mode,
                                   std::optional<std::string> mackiePort,
                                   std::int64_t mackieTrackOffset, DawHost host) {
    onQueue([this, request = SectionRequest{std::move(allLayers), std::move(mutedIDs), mode,
                                            std::move(mackiePort), mackieTrackOffset, false,
                                            host}]() mutable {
        sendSectionStateImpl(std::move(request));
    });
}

void MidiService::resetMackieShadow() {
    // Only the positions: positionBank drops the slots of a unit whose bank goes elsewhere, and
    // keeps them where the strips will show the same tracks again (see the header).
    onQueue([this] {
        q_.mackieBankPositionedAt.reset();
        q_.mackieBankPositionedAtXT.reset();
    });
}

void MidiService::panicAllOn(std::vector<Layer> allLayers, ControlMode mode,
                             std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                             DawHost host) {
    auto work = [&] {
        if (life_->alive.load())
            panicImpl(std::move(allLayers), mode, std::move(mackiePort), mackieTrackOffset, host);
    };
    if (midiQueue_->isCurrent())
        work();
    else
        midiQueue_->submitAndWait(work);
}

void MidiService::resyncCCMutes() {
    onQueue([this] {
        q_.ccMutes.clear();
        q_.ccDeferred.clear();
    });
}

void MidiService::sendProgramChange(std::int64_t program, std::int64_t channel,
                                    std::string portName) {
    onQueue([this, program, channel, portName = std::move(portName)] {
        const std::uint8_t msg[2] = {static_cast<std::uint8_t>(0xC0 | channelNibble(channel)),
                                     clampData(program)};
        deliver(msg, sizeof msg, portName);
    });
}

void MidiService::sendControlChange(std::int64_t cc, std::int64_t value, std::int64_t channel,
                                    std::string portName) {
    onQueue([this, cc, value, channel, portName = std::move(portName)] {
        const std::uint8_t msg[3] = {static_cast<std::uint8_t>(0xB0 | channelNibble(channel)),
                                     clampData(cc), clampData(value)};
        deliver(msg, sizeof msg, portName);
    });
}

void MidiService::sendMackieButton(std::uint8_t noteNumber, std::string_view portName) {
    const std::uint8_t press[3] = {kNoteOn, noteNumber, 0x7F};
    deliver(press, sizeof press, portName);
    const std::uint8_t release[3] = {kNoteOn, noteNumber, 0x00};
    deliver(release, sizeof release, portName);
}

void MidiService::cycleBreak(std::string_view portName) {
    const MidiRef source = surfaceSource(portName);
    if (source == 0)
        return;
    backend_.barrier(source);
    q_.pressedSinceBreak[source == virtualSrc_ ? 0 : 1].reset();
    q_.toggledSinceBreak[source == virtualSrc_ ? 0 : 1].reset();
}

void MidiService::pressButton(std::uint8_t noteNumber, std::string_view portName) {
    // A DAW that reads the surface once per cycle takes two presses of one button in one cycle
    // for one, and a toggle pressed twice would be left as pressed once.
    if (const MidiRef source = surfaceSource(portName); source != 0) {
        auto& pressed = q_.pressedSinceBreak[source == virtualSrc_ ? 0 : 1];
        if (pressed.test(noteNumber & 0x7F))
            cycleBreak(portName);
        pressed.set(noteNumber & 0x7F);
    }
    sendMackieButton(noteNumber, portName);
}

std::optional<std::int64_t>& MidiService::bankPosition(Unit unit) {
    return unit == kExtenderUnit ? q_.mackieBankPositionedAtXT : q_.mackieBankPositionedAt;
}

MidiRef MidiService::surfaceSource(std::string_view portName) const {
    if (portName == kMainSurfacePort)
        return virtualSrc_;
    if (portName == kExtenderPort)
        return virtualSrcXT_;
    return 0;
}

MidiService::Stamp MidiService::stampNow() const {
    return Stamp{loop_.now(), backend_.cycleCount()};
}

bool MidiService::positionBank(std::string_view port, std::int64_t desiredOffset, bool isExtender) {
    const std::int64_t target = bankBase(desiredOffset);
    const Unit unit = isExtender ? kExtenderUnit : kMainUnit;
    auto& position = bankPosition(unit);
    if (position && *position == target)
        return false;
    // Every bank press in a cycle of its own, and a break before whatever depends on the moves.
    for (int i = 0; i < kBankLeftPresses; ++i) {
        pressButton(kBankLeft, port);
        cycleBreak(port);
    }
    if (desiredOffset >= 8) {
        for (std::int64_t i = 0; i < target / 8; ++i) {
            pressButton(kBankRight, port);
            cycleBreak(port);
        }
    }
    // Strips that will show other tracks: their mutes are unknown until the DAW reports them.
    // Where the bank returns to where it was (or where it was never known to be), what we know
    // stays: the DAW resends nothing for bank presses that do not move its bank, and it reports
    // the new tracks' LEDs when they do.
    UnitState& u = q_.units[unit];
    if (u.lastKnownPosition && (*u.lastKnownPosition != target || u.lastKnownPort != port)) {
        const int first = isExtender ? 8 : 0;
        for (int slot = first; slot < first + 8; ++slot)
            q_.mackieMuteState[slot].reset();
    }
    position = target;
    u.lastKnownPosition = target;
    u.lastKnownPort = std::string(port);
    u.pendingChannelRights = 0;
    startSettle(unit, port, kBankLeftPresses + (desiredOffset >= 8 ? target / 8 : 0));
    return true;
}

bool MidiService::positionGroup(std::string_view port, std::int64_t desiredOffset) {
    const std::int64_t target = bankBase(desiredOffset);
    auto& position = q_.mackieBankPositionedAt;
    if (position && *position == target)
        return false;
    // From the main unit alone: the host moves the whole group of 16 strips by 16 per bank press
    // and ignores the extender's bank buttons.
    for (int i = 0; i < kBankLeftPresses; ++i) {
        pressButton(kBankLeft, port);
        cycleBreak(port);
    }
    for (std::int64_t i = 0; i < target / 16; ++i) {
        pressButton(kBankRight, port);
        cycleBreak(port);
    }
    // Both units' strips follow the group; what is known of them stays only where the group
    // returns to where it was (as for a single unit, see positionBank).
    UnitState& u = q_.units[kMainUnit];
    if (u.lastKnownPosition && (*u.lastKnownPosition != target || u.lastKnownPort != port))
        for (auto& slot : q_.mackieMuteState)
            slot.reset();
    position = target;
    u.lastKnownPosition = target;
    u.lastKnownPort = std::string(port);
    // The remaining half of a group goes by channel, after the bank has settled.
    u.pendingChannelRights = target % 16;
    startSettle(kMainUnit, port, kBankLeftPresses + target / 16);
    return true;
}

void MidiService::nudgeGroup(std::string_view port) {
    UnitState& u = q_.units[kMainUnit];
    if (u.settling || u.pendingChannelRights == 0)
        return;
    const std::int64_t presses = std::exchange(u.pendingChannelRights, 0);
    // The strips move on from where the bank moves left them; what the host reported after
    // those is about tracks the strips no longer show.
    for (std::size_t slot = 0; slot < q_.mackieMuteState.size(); ++slot) {
        q_.mackieMuteState[slot].reset();
        q_.holds[slot] = SlotHold{};
    }
    // One press per cycle: the host takes several channel moves in one cycle as fewer.
    for (std::int64_t i = 0; i < presses; ++i) {
        pressButton(kChannelRight, port);
        cycleBreak(port);
    }
    startSettle(kMainUnit, port, presses);
}

void MidiService::sendCCMutes(const std::vector<Layer>& allLayers, const UuidSet* mutedIDs,
                              std::optional<std::string_view> onlyPort) {
    for (std::size_t i = 0; i < allLayers.size(); ++i) {
        const Layer& layer = allLayers[i];
        if (layer.portName.empty() || (onlyPort && layer.portName != *onlyPort))
            continue;
        const std::int64_t number = layer.muteCC.value_or(20 + static_cast<std::int64_t>(i));
        // A number that is no byte at all cannot be sent; the other layers still are.
        if (number < 0 || number > 255)
            continue;
        const bool muted = mutedIDs && mutedIDs->count(layer.id) != 0;
        const std::uint8_t msg[3] = {static_cast<std::uint8_t>(0xB0 | channelNibble(layer.channel)),
                                     static_cast<std::uint8_t>(number & 0x7F),
                                     static_cast<std::uint8_t>(muted ? 0x00 : 0x7F)};
        deliver(msg, sizeof msg, layer.portName);
    }
}

void MidiService::sendSectionStateImpl(SectionRequest request) {
    q_.lastRequest = std::move(request);
    const SectionRequest& r = *q_.lastRequest;
    const bool ardourCC = r.mode == ControlMode::ccMute && r.host == DawHost::ardour;
    sourceEchoes_.store(ardourCC, std::memory_order_relaxed);
    if (ardourCC) {
        // A new state may press again what a contrary host left alone for the last one.
        for (auto& [target, state] : q_.ccMutes)
            state.stuck = state.pressAgain = false;
        sendCCToggles(r.allLayers, r.mutedIDs);
        return;
    }
    if (r.mode == ControlMode::ccMute) {
        sendCCMutes(r.allLayers, &r.mutedIDs);
        return;
    }
    pumpMackie();
}

void MidiService::pump() {
    if (!q_.lastRequest)
        return;
    const SectionRequest& r = *q_.lastRequest;
    if (r.mode == ControlMode::mackieControl)
        pumpMackie();
    else if (r.host == DawHost::ardour)
        sendCCToggles(r.allLayers, r.mutedIDs);
}

void MidiService::pumpMackie() {
    if (!q_.lastRequest || q_.lastRequest->mode != ControlMode::mackieControl)
        return;
    releaseHolds();
    const SectionRequest& r = *q_.lastRequest;
    const std::string_view mainPort = mainSurfacePort(r.mackiePort);
    const std::int64_t base = bankBase(r.mackieTrackOffset);
    const bool ardour = r.host == DawHost::ardour;
    // Ardour banks the main unit and the extender in use as one group (see the class comment).
    const bool grouped = ardour && r.allLayers.size() >= 9;
    // The panic positions the extender however many layers there are; Ardour ignores the
    // extender's bank buttons, so it never gets any.
    const bool extender = !ardour && (r.allOn || r.allLayers.size() >= 9);

    // Banks first; a unit whose bank moves holds its presses until it has settled.
    if (grouped) {
        positionGroup(mainPort, base);
        nudgeGroup(mainPort);
        // A DAW that has just connected to the extender reports its strips shortly.
        UnitState& x = q_.units[kExtenderUnit];
        if (x.connectedAt && !x.settling && !hasPassed(*x.connectedAt, kConnectionSettle))
            startSettle(kExtenderUnit, kExtenderPort, 0);
    } else {
        positionBank(mainPort, base, false);
    }
    if (extender)
        positionBank(kExtenderPort, base + 8, true);

    // Then the mutes that differ from the shadow, in slot order. The panic releases every slot
    // believed muted; a section presses each visible layer's slot whose state differs.
    const std::size_t slots =
        r.allOn ? static_cast<std::size_t>(kMackieSlots)
                : std::min<std::size_t>(extender || grouped ? kMackieSlots : 8, r.allLayers.size());
    for (std::size_t i = 0; i < slots; ++i) {
        if (q_.units[i < 8 ? kMainUnit : kExtenderUnit].settling ||
            (grouped && q_.units[kMainUnit].settling))
            continue;
        const bool wanted = !r.allOn && r.mutedIDs.count(r.allLayers[i].id) != 0;
        auto& believed = q_.mackieMuteState[i];
        if (wanted == believed.value_or(false))
            continue;
        pressButton(static_cast<std::uint8_t>(kMuteNote + i % 8),
                    i <= 7 ? mainPort : kExtenderPort);
        believed = wanted;
        q_.holds[i] = SlotHold{stampNow(), std::nullopt};
    }
}

void MidiService::releaseHolds() {
    const Duration span = answerTime();
    for (std::size_t slot = 0; slot < q_.holds.size(); ++slot) {
        SlotHold& hold = q_.holds[slot];
        if (!hold.pressedAt || !hasPassed(*hold.pressedAt, span))
            continue;
        if (hold.reported)
            q_.mackieMuteState[slot] = *hold.reported;
        hold = SlotHold{};
    }
}

void MidiService::panicImpl(std::vector<Layer> allLayers, ControlMode mode,
                            std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                            DawHost host) {
    // Everything sounding is now the state a DAW that connects later is brought to.
    sendSectionStateImpl(SectionRequest{std::move(allLayers),
                                        {},
                                        mode,
                                        std::move(mackiePort),
                                        mackieTrackOffset,
                                        mode == ControlMode::mackieControl,
                                        host});
}

// ---- Ardour's CC mutes -------------------------------------------------------------------------

std::string MidiService::echoDevice(std::string_view name) {
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

MidiService::CCTarget MidiService::ccTarget(std::string_view portName, std::int64_t channel,
                                            std::int64_t cc) const {
    CCTarget t;
    if (portName == kMainSurfacePort)
        t.surface = 1;
    else if (portName == kExtenderPort)
        t.surface = 2;
    else
        t.device = echoDevice(portName);
    t.channel = channelNibble(channel);
    t.cc = static_cast<std::uint8_t>(cc & 0x7F);
    return t;
}

bool MidiService::ccPortReady(std::string_view portName) {
    const MidiRef source = surfaceSource(portName);
    if (source == 0)
        return true;
    const Unit unit = source == virtualSrc_ ? kMainUnit : kExtenderUnit;
    UnitState& u = q_.units[unit];
    if (u.settling)
        return false;
    if (u.connectedAt && !hasPassed(*u.connectedAt, kConnectionSettle)) {
        // Its echoes of the state it has now are due; toggles wait for them.
        startSettle(unit, portName, 0);
        return false;
    }
    return true;
}

void MidiService::toggleCC(std::uint8_t channel, std::uint8_t cc, std::string_view portName) {
    // As with button presses: two toggles of one CC are never left to one cycle of the host.
    if (const MidiRef source = surfaceSource(portName); source != 0) {
        auto& toggled = q_.toggledSinceBreak[source == virtualSrc_ ? 0 : 1];
        const std::size_t bit = std::size_t{channel} * 128 + cc;
        if (toggled.test(bit))
            cycleBreak(portName);
        toggled.set(bit);
    }
    const std::uint8_t msg[3] = {static_cast<std::uint8_t>(kControlChange | channel), cc, 0x7F};
    deliver(msg, sizeof msg, portName);
}

void MidiService::sendCCToggles(const std::vector<Layer>& allLayers, const UuidSet& mutedIDs,
                                const std::set<CCTarget>* only) {
    const Stamp now = stampNow();
    releaseCCHolds(now);
    // One layer per channel + CC, whatever the port: a CC drives the one track the binding map
    // binds it to, the first layer's. The others are left out, as the map leaves them out.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> seen;
    seen.reserve(allLayers.size());
    bool deferred = false;
    for (std::size_t i = 0; i < allLayers.size(); ++i) {
        const Layer& layer = allLayers[i];
        const std::int64_t number = layer.muteCC.value_or(20 + static_cast<std::int64_t>(i));
        // Without a port nothing is toggled, so the shadow must not believe anything was.
        if (layer.portName.empty() || number < 0 || number > 255)
            continue;
        const std::uint8_t channel = channelNibble(layer.channel);
        const auto cc = static_cast<std::uint8_t>(number & 0x7F);
        if (std::find(seen.begin(), seen.end(), std::pair{channel, cc}) != seen.end())
            continue;
        seen.emplace_back(channel, cc);
        CCTarget target = ccTarget(layer.portName, layer.channel, number);
        if (only && only->count(target) == 0)
            continue;
        if (!ccPortReady(layer.portName))
            continue;
        // A device that is not there hears nothing: nothing may be believed of it.
        if (target.surface == 0 && !systemDestinationRef(layer.portName))
            continue;
        const bool wanted = mutedIDs.count(layer.id) != 0;
        CCState& state = q_.ccMutes[target];
        if (state.muted == wanted || state.stuck) {
            state.pressAgain = false;
            q_.ccDeferred.erase(target);
            continue;
        }
        if (state.toggledAt) {
            // Its answer comes first; then this is looked at again.
            q_.ccDeferred.insert(std::move(target));
            deferred = true;
            continue;
        }
        q_.ccDeferred.erase(target);
        toggleCC(channel, cc, layer.portName);
        state.muted = wanted;
        state.toggledAt = now;
        state.repress = std::exchange(state.pressAgain, false);
    }
    if (deferred) {
        // Should no answer come, the deferred toggles go once the wait for it is over.
        onMain([this] {
            ccRetry_ = loop_.after(kEchoHold, [this] {
                onQueue([this] { pumpCCToggles(std::set<CCTarget>(q_.ccDeferred)); });
            });
        });
    }
}

void MidiService::pumpCCToggles(const std::set<CCTarget>& only) {
    const auto& r = q_.lastRequest;
    if (only.empty() || !r || r->mode != ControlMode::ccMute || r->host != DawHost::ardour)
        return;
    sendCCToggles(r->allLayers, r->mutedIDs, &only);
}

bool MidiService::applyCCEcho(const CCTarget& target, bool muted, const Stamp& arrived) {
    CCState& state = q_.ccMutes[target];
    if (state.toggledAt) {
        // What reached us before our toggle could even go out is about the state before it;
        // the answer to the toggle will tell.
        const bool cycles = backend_.cyclePeriod() > std::chrono::nanoseconds::zero();
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

void MidiService::feedCCEchoes(const std::uint8_t* bytes, std::size_t length, int surface,
                               const std::string& device, const Stamp& arrived) {
    releaseCCHolds(arrived);
    std::set<CCTarget> answered;
    std::size_t i = 0;
    while (i + 2 < length) {
        if ((bytes[i] & 0xF0) != kControlChange || statusByteAfter(bytes + i, 3) != 0) {
            ++i;
            continue;
        }
        CCTarget target;
        target.surface = surface;
        target.device = device;
        target.channel = bytes[i] & 0x0F;
        target.cc = bytes[i + 1];
        if (applyCCEcho(target, bytes[i + 2] >= 0x40, arrived))
            answered.insert(std::move(target));
        i += 3;
    }
    // An answered CC may go on: a re-press, or a state asked for while it waited.
    answered.insert(q_.ccDeferred.begin(), q_.ccDeferred.end());
    if (!answered.empty())
        pumpCCToggles(answered);
}

void MidiService::releaseCCHolds(const Stamp& at) {
    for (auto& [target, state] : q_.ccMutes) {
        if (!state.toggledAt || !hasPassed(*state.toggledAt, kEchoHold, at))
            continue;
        state.toggledAt.reset();
        state.repress = false;
    }
}

void MidiService::destinationsAppeared(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::string device = echoDevice(name);
        const auto onDevice = [&](const CCTarget& t) {
            return t.surface == 0 && t.device == device;
        };
        std::erase_if(q_.ccMutes, [&](const auto& entry) { return onDevice(entry.first); });
        std::erase_if(q_.ccDeferred, onDevice);
    }
    // Brought to the current state, as after a resync.
    const auto& r = q_.lastRequest;
    if (r && r->mode == ControlMode::ccMute && r->host == DawHost::ardour)
        pump();
}

void MidiService::surfaceConnected(MidiRef virtualSource, Stamp at) {
    if (virtualSource == 0 || (virtualSource != virtualSrc_ && virtualSource != virtualSrcXT_))
        return;
    const Unit unit = virtualSource == virtualSrc_ ? kMainUnit : kExtenderUnit;
    const auto& r = q_.lastRequest;
    // With a device as the Mackie port, the main unit's state is about that device, not about
    // whoever listens to "Strata".
    if (unit == kMainUnit && r && r->mode == ControlMode::mackieControl &&
        mainSurfacePort(r->mackiePort) != kMainSurfacePort)
        return;

    // A new listener (a DAW started later, restarted, or wired up by hand) missed the bank moves
    // and the mutes: forget what we knew of this unit. It reports its whole state shortly.
    auto& u = q_.units[unit];
    bankPosition(unit).reset();
    u.lastKnownPosition.reset();
    u.lastKnownPort.clear();
    u.settling = false; // a settle in progress is for a bank the newcomer never saw
    u.connectedAt = at;
    const int first = unit == kExtenderUnit ? 8 : 0;
    for (int slot = first; slot < first + 8; ++slot) {
        q_.mackieMuteState[slot].reset();
        q_.holds[static_cast<std::size_t>(slot)] = SlotHold{};
    }
    // Nor did it hear the CC toggles: it is taken to have every track sounding, as after a
    // resync, until its echoes say otherwise.
    const int surface = unit == kExtenderUnit ? 2 : 1;
    std::erase_if(q_.ccMutes,
                  [surface](const auto& entry) { return entry.first.surface == surface; });
    std::erase_if(q_.ccDeferred, [surface](const CCTarget& t) { return t.surface == surface; });

    // Bring it to the current state. Before the first push there is none: the first push does
    // it, once.
    if (!r)
        return;
    if (r->mode == ControlMode::ccMute && r->host == DawHost::logic) {
        sendCCMutes(r->allLayers, &r->mutedIDs,
                    unit == kExtenderUnit ? kExtenderPort : kMainSurfacePort);
        return;
    }
    // Ardour's CC toggles on that port wait for the DAW's echoes of its state.
    pump();
}

void MidiService::startSettle(Unit unit, std::string_view port, std::int64_t presses) {
    auto& u = q_.units[unit];
    u.settling = true;
    u.settleToken = ++q_.nextSettleToken;
    const Duration period = std::chrono::duration_cast<Duration>(backend_.cyclePeriod());
    // The bank presses go out a cycle apart (see MidiBackend::barrier).
    const TimePoint giveUpAt = loop_.now() + kSettleLimit + 2 * presses * period;
    onMain([this, unit, token = u.settleToken, source = surfaceSource(port), giveUpAt,
            connected = u.connectedAt] { watchSettle(unit, token, source, giveUpAt, connected); });
}

void MidiService::finishSettle(Unit unit, std::uint64_t token) {
    auto& u = q_.units[unit];
    if (!u.settling || u.settleToken != token)
        return; // superseded by a later bank move or a new connection
    u.settling = false;
    u.connectedAt.reset();
    pump();
}

// ---- Settling (main thread) --------------------------------------------------------------------

void MidiService::watchSettle(Unit unit, std::uint64_t token, MidiRef source, TimePoint giveUpAt,
                              std::optional<Stamp> connectedAt) {
    SettleWatch& w = settleWatch_[unit];
    w.token = token;
    w.source = source;
    w.giveUpAt = giveUpAt;
    w.drainedAt.reset();
    w.connectedAt = connectedAt;
    w.timer = loop_.every(kSettlePoll, [this, unit] { pollSettle(unit); });
}

Duration MidiService::answerTime() const {
    const Duration period = std::chrono::duration_cast<Duration>(backend_.cyclePeriod());
    return std::max<Duration>(kSettleTime, kSettleCycles * period);
}

bool MidiService::hasPassed(const Stamp& since, Duration span) const {
    return hasPassed(since, span, stampNow());
}

bool MidiService::hasPassed(const Stamp& since, Duration span, const Stamp& at) const {
    if (at.time - since.time < span)
        return false;
    const Duration period = std::chrono::duration_cast<Duration>(backend_.cyclePeriod());
    if (period <= Duration::zero())
        return true;
    const auto cycles = static_cast<std::uint64_t>((span + period - Duration(1)) / period);
    return at.cycle >= since.cycle + cycles;
}

void MidiService::pollSettle(Unit unit) {
    SettleWatch& w = settleWatch_[unit];
    bool done = loop_.now() >= w.giveUpAt;
    if (!done) {
        // The bank moves go out one per cycle; the DAW's answer to the last one can only come
        // after it has left.
        if (!w.drainedAt) {
            if (w.source != 0 && backend_.outputPending(w.source))
                return;
            w.drainedAt = stampNow();
        }
        done = hasPassed(*w.drainedAt, answerTime()) &&
               (!w.connectedAt || hasPassed(*w.connectedAt, kConnectionSettle));
    }
    if (!done)
        return;
    const std::uint64_t token = w.token;
    w.timer.reset(); // this callback's own timer; nothing of it is used below
    onQueue([this, unit, token] { finishSettle(unit, token); });
}

// ---- Surface feedback --------------------------------------------------------------------------

void MidiService::handleMackieFeedback(const MidiPacketList& packets) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> ends;
    if (!copyChunks(packets, bytes, ends))
        return;
    noteMackieRx();
    onQueue([this, bytes = std::move(bytes), ends = std::move(ends), arrived = stampNow()] {
        std::size_t begin = 0;
        for (std::size_t end : ends) {
            feedSysexBytes(bytes.data() + begin, end - begin);
            feedMuteLEDs(bytes.data() + begin, end - begin);
            feedCCEchoes(bytes.data() + begin, end - begin, 1, {}, arrived);
            begin = end;
        }
    });
}

void MidiService::handleExtenderFeedback(const MidiPacketList& packets) {
    // The extender's own strips report their mute LEDs here; without them, tracks on the
    // extender that the DAW already has muted would be toggled off by the first push.
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> ends;
    if (!copyChunks(packets, bytes, ends))
        return;
    onQueue([this, bytes = std::move(bytes), ends = std::move(ends), arrived = stampNow()] {
        std::size_t begin = 0;
        for (std::size_t end : ends) {
            feedMuteLEDs(bytes.data() + begin, end - begin, 8);
            feedCCEchoes(bytes.data() + begin, end - begin, 2, {}, arrived);
            begin = end;
        }
    });
}

void MidiService::feedSysexBytes(const std::uint8_t* bytes, std::size_t length) {
    auto& acc = q_.sysexAccumulator;
    auto& n = q_.sysexLength;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == 0xF0) {
            acc[0] = 0xF0;
            n = 1;
            continue;
        }
        if (n == 0)
            continue;
        acc[n++] = b;
        if (b == 0xF7) {
            processSysex(acc.data(), n);
            n = 0;
        } else if (n == acc.size()) {
            n = 0;
        }
    }
}

void MidiService::processSysex(const std::uint8_t* message, std::size_t length) {
    if (length < 8 || message[0] != 0xF0 || message[1] != 0x00 || message[2] != 0x00 ||
        message[3] != 0x66 || message[5] != 0x12)
        return;
    std::size_t position = message[6];
    for (std::size_t i = 7; i + 1 < length; ++i) {
        if (position >= kLcdCells)
            break;
        q_.lcdBuffer[position++] = message[i];
    }
    publishSlotNames();
}

std::size_t MidiService::letterCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }));
}

void MidiService::publishSlotNames() {
    const auto cell = [this](std::size_t start) -> std::string_view {
        const auto* p = q_.lcdBuffer.data() + start;
        for (std::size_t i = 0; i < 7; ++i)
            if (p[i] >= 0x80)
                return {};
        return {reinterpret_cast<const char*>(p), 7};
    };
    SlotNames names;
    for (int k = 0; k < 8; ++k) {
        const std::string_view top = cell(7 * static_cast<std::size_t>(k));
        const std::string_view bottom = cell(56 + 7 * static_cast<std::size_t>(k));
        const std::string_view name =
            trimBlanks(letterCount(top) < letterCount(bottom) ? bottom : top);
        if (!name.empty())
            names.emplace(k, std::string(name));
    }
    if (names == q_.lastPublishedNames)
        return;
    q_.lastPublishedNames = names;
    onMain([this, names = std::move(names)]() mutable { mackieSlotNames.set(std::move(names)); });
}

void MidiService::feedMuteLEDs(const std::uint8_t* bytes, std::size_t length, int firstSlot) {
    releaseHolds();
    std::size_t i = 0;
    while (i + 2 < length) {
        if ((bytes[i] & 0xF0) == kNoteOn) {
            // A cut-short message ends where the next status byte begins, as on input.
            if (const std::size_t cut = statusByteAfter(bytes + i, 3)) {
                i += cut;
                continue;
            }
            const std::uint8_t note = bytes[i + 1];
            if (note >= kMuteNote && note < kMuteNote + 8) {
                const int slot = firstSlot + note - kMuteNote;
                const bool muted = bytes[i + 2] >= 0x40;
                if (q_.holds[static_cast<std::size_t>(slot)].pressedAt)
                    q_.holds[static_cast<std::size_t>(slot)].reported = muted;
                else
                    q_.mackieMuteState[static_cast<std::size_t>(slot)] = muted;
            }
            i += 3;
        } else {
            i += 1;
        }
    }
}

// ---- Trigger input and learning ----------------------------------------------------------------

MidiService::InputView MidiService::inputView() const {
    std::lock_guard lock(jumpLock_);
    return input_;
}

void MidiService::handleIncoming(const MidiPacketList& packets, std::uint64_t srcRefCon) {
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
            unlisted = identityOf(src);
            identity = &unlisted;
        }
        isTriggerDevice = src == view.footswitchSrc;
    }
    std::vector<std::uint8_t> echoes; // the CC messages, when they may be echoes
    const bool collectEchoes = src != 0 && sourceEchoes_.load(std::memory_order_relaxed);
    for (std::size_t p = 0; p < packets.count; ++p) {
        const MidiPacket& packet = packets.packets[p];
        const std::size_t n = std::min(packet.length, kMaxPacketBytes);
        if (n == 0 || packet.data == nullptr)
            continue;
        parseInput(packet.data, n, isTriggerDevice, view.learning, identity->learned, *identity,
                   view);
        if (!collectEchoes)
            continue;
        for (std::size_t i = 0; i + 2 < n; ++i)
            if ((packet.data[i] & 0xF0) == kControlChange &&
                statusByteAfter(packet.data + i, 3) == 0) {
                echoes.insert(echoes.end(), packet.data + i, packet.data + i + 3);
                i += 2;
            }
    }
    if (!echoes.empty())
        onQueue([this, echoes = std::move(echoes), device = echoDevice(endpointName(src)),
                 arrived = stampNow()] {
            feedCCEchoes(echoes.data(), echoes.size(), 0, device, arrived);
        });
}

void MidiService::parsePacketBytes(const std::uint8_t* bytes, std::size_t length,
                                   bool isTriggerDevice, bool learning,
                                   std::string_view learnSource, std::string_view srcName) {
    const DeviceIdentity source{std::string(learnSource), {stableDeviceName(srcName)}};
    parseInput(bytes, length, isTriggerDevice, learning, learnSource, source, inputView());
}

void MidiService::parseInput(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                             bool learning, std::string_view learnSource,
                             const DeviceIdentity& source, const InputView& view) {
    length = std::min(length, kMaxPacketBytes);
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
        if (const std::size_t cut = statusByteAfter(bytes + i, std::min(size, length - i))) {
            i += cut;
            continue;
        }
        if (i + size > length)
            return; // a fragment at the end of a packet is dropped
        const std::uint8_t data1 = bytes[i + 1];
        if (size == 2) {
            if (high == 0xC0 && !tryReflex(ReflexTrigger::program, data1, learning))
                onMain([this, program = static_cast<int>(data1)] {
                    sectionAdvanceRequest.notify(program);
                });
            i += 2;
            continue;
        }
        const std::uint8_t data2 = bytes[i + 2];
        const bool notePress = high == 0x90 && data2 > 0;
        const bool ccPress = high == 0xB0 && data2 >= 64;
        if (learning) {
            if (ccPress && data1 == 64) {
                // A sustain pedal cannot become a trigger.
                onMain([this] {
                    isLearningTrigger.set(false);
                    triggerLearned.notify(std::nullopt);
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
                onMain([this, key = jump->first] { jumpRequested.notify(key); });
            continue;
        }
        const auto moment = std::find_if(view.momentTriggers->begin(), view.momentTriggers->end(),
                                         [&](const auto& entry) { return pressed(entry.second); });
        if (moment != view.momentTriggers->end()) {
            onMain([this, id = moment->first] { momentRequested.notify(id); });
            continue;
        }
        if (isTriggerDevice && view.advanceTrigger && view.advanceTrigger->kind == kind &&
            view.advanceTrigger->data1 == data1 && !tryReflex(ReflexTrigger::next, 0, learning))
            onMain([this] { advancePressed.notify(); });
    }
}

void MidiService::finishLearn(AdvanceTrigger trigger) {
    onMain([this, trigger = std::move(trigger)] {
        isLearningTrigger.set(false);
        triggerLearned.notify(trigger);
    });
}

MidiRef MidiService::footswitchSource() const {
    return footswitchSrc_;
}

void MidiService::resolveTriggerSource() {
    MidiRef found = 0;
    const auto& trigger = advanceTrigger.get();
    if (trigger && !trigger->deviceName.empty()) {
        const std::string device = stableDeviceName(trigger->deviceName);
        for (const MidiPortInfo& port : backend_.sources()) {
            if (port.ref == 0)
                continue;
            const auto listed = sourceIdentities_->find(port.ref);
            const bool answers =
                listed != sourceIdentities_->end()
                    ? listed->second.answersTo(device)
                    : deviceIdentity(listedName(port), port.aliases).answersTo(device);
            if (answers) {
                found = port.ref;
                break;
            }
        }
    }
    footswitchSrc_ = found;
    {
        std::lock_guard lock(jumpLock_);
        input_.footswitchSrc = found;
    }
    if (advanceTriggerConnected.get() != (found != 0))
        advanceTriggerConnected.set(found != 0);
}

void MidiService::loadAdvanceTrigger() {
    const auto stored = settings_.bytesValue(kAdvanceTriggerKey);
    if (!stored)
        return;
    const std::string_view json(reinterpret_cast<const char*>(stored->data()), stored->size());
    if (auto trigger = decodeAdvanceTrigger(json)) {
        advanceTrigger.set(std::move(trigger));
        resolveTriggerSource();
    }
}

void MidiService::persistAdvanceTrigger() {
    std::optional<std::string> encoded;
    if (const auto& trigger = advanceTrigger.get())
        encoded = encodeAdvanceTrigger(*trigger);
    if (encoded)
        settings_.setBytes(kAdvanceTriggerKey, Bytes(encoded->begin(), encoded->end()));
    else
        settings_.remove(kAdvanceTriggerKey);
}

void MidiService::setJumpTriggers(JumpTriggerTable triggers) {
    for (auto& [key, trigger] : triggers)
        trigger.deviceName = stableDeviceName(trigger.deviceName);
    auto table = std::make_shared<const JumpTriggerTable>(std::move(triggers));
    std::lock_guard lock(jumpLock_);
    input_.jumpTriggers = std::move(table);
}

void MidiService::setMomentTriggers(MomentTriggerTable triggers) {
    for (auto& [id, trigger] : triggers)
        trigger.deviceName = stableDeviceName(trigger.deviceName);
    auto table = std::make_shared<const MomentTriggerTable>(std::move(triggers));
    std::lock_guard lock(jumpLock_);
    input_.momentTriggers = std::move(table);
}

// ---- The reflex --------------------------------------------------------------------------------

void MidiService::publishReflex(std::shared_ptr<const ReflexSnapshot> snapshot) {
    std::lock_guard lock(reflexLock_);
    reflex_ = std::move(snapshot);
    reflexBasis_ = reflexDelivered_;
}

bool MidiService::tryReflex(ReflexTrigger trigger, std::int64_t argument, bool learning) {
    // A learn takes the next press for itself, whatever it would otherwise do.
    if (learning)
        return false;
    std::lock_guard lock(reflexLock_);
    if (!reflex_)
        return false;
    const ReflexSnapshot& snapshot = *reflex_;
    // The main thread's position is the newer one only once it has taken over every move made
    // here; before that it is the one this side left behind.
    const ReflexPosition from = reflexBasis_ == reflexMoves_ ? snapshot.position : reflexAt_;
    const std::optional<ReflexPosition> to = reflexTarget(snapshot, from, trigger, argument);
    if (!to)
        return false;
    reflexAt_ = *to;
    ++reflexMoves_;
    sendSectionState(snapshot.layers, snapshot.mutesAt(*to), snapshot.mode, snapshot.mackiePort,
                     snapshot.mackieTrackOffset, snapshot.host);
    onMain([this, move = ReflexMove{*to, reflex_}] {
        // Counted before the observers run, so that what they publish while taking the move over
        // counts as describing it.
        ++reflexDelivered_;
        reflexMoved.notify(move);
    });
    return true;
}

// ---- Inspection --------------------------------------------------------------------------------

MidiService::MackieShadow MidiService::mackieShadow() {
    MackieShadow shadow;
    midiQueue_->submitAndWait([&] {
        releaseHolds();
        shadow.muted = q_.mackieMuteState;
        shadow.bankPositionedAt = q_.mackieBankPositionedAt;
        shadow.bankPositionedAtXT = q_.mackieBankPositionedAtXT;
        shadow.lcd = q_.lcdBuffer;
        shadow.sysexPending = q_.sysexLength;
        shadow.settling = {q_.units[kMainUnit].settling, q_.units[kExtenderUnit].settling};
    });
    return shadow;
}

void MidiService::drain() {
    midiQueue_->drain();
}

} // namespace strata
