#include "midi/midi_service.h"

#include "midi/mackie_protocol.h"
#include "midi/midi_message.h"

#include <algorithm>
#include <limits>

namespace strata {

namespace {

constexpr Duration kRxThrottle = std::chrono::milliseconds(500);

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

} // namespace

// ---- Start-up and shutdown ---------------------------------------------------------------------

MidiService::MidiService(MidiBackend& backend, MainLoop& loop, Settings& settings,
                         SourceConnection sources)
    : backend_(backend), loop_(loop), life_(std::make_shared<ServiceLife>()),
      midiQueue_(
          std::make_unique<SerialQueue>(std::string(kQueueLabel), [&loop] { return loop.now(); })),
      tasks_(loop, life_, *midiQueue_), lastRxPublish_(kNeverStamped), ports_(backend),
      out_(backend, ports_, tasks_, lastTxAt), mackie_(out_, [this] { pump(); }),
      cc_(out_, mackie_, lastRequest_), clock_(tasks_, clockChanged),
      input_(*this, ports_, out_, cc_, settings),
      prepared_(out_, mackie_, cc_, lastRequest_, input_) {
    const auto life = life_;
    // Answers prepared ahead are settled before each job that may write and prepared again
    // after every job (prepared_output.h).
    tasks_.setJobHooks([this] { prepared_.settle(); }, [this] { prepared_.prepare(); });
    out_.setBeforeOutput([this] { prepared_.settleForOutput(); });
    client_ = backend_.createClient(kClientName, [this, life] {
        const ServiceLife::Entry entry(*life);
        if (!entry.entered)
            return;
        // At once, not on the main thread: the next delivery by name must not use a port the
        // system has just renamed or replaced.
        ports_.setupChanged();
        tasks_.onMain([this] {
            refreshPorts();
            connectSources();
            resolveTriggerSource();
        });
    });
    outPort_ = backend_.createOutputPort(client_, kOutputPortName);
    inPort_ = backend_.createInputPort(
        client_, kInputPortName, [this, life](const MidiPacketList& list, std::uint64_t refCon) {
            const ServiceLife::Entry entry(*life);
            if (entry.entered)
                handleIncoming(list, refCon);
        });
    virtualSrc_ = backend_.createVirtualSource(client_, kMainSurfacePort);
    virtualDst_ = backend_.createVirtualDestination(client_, kMainSurfacePort,
                                                    [this, life](const MidiPacketList& list) {
                                                        const ServiceLife::Entry entry(*life);
                                                        if (entry.entered)
                                                            handleMackieFeedback(list);
                                                    });
    virtualSrcXT_ = backend_.createVirtualSource(client_, kExtenderPort);
    virtualDstXT_ = backend_.createVirtualDestination(client_, kExtenderPort,
                                                      [this, life](const MidiPacketList& list) {
                                                          const ServiceLife::Entry entry(*life);
                                                          if (entry.entered)
                                                              handleExtenderFeedback(list);
                                                      });
    ports_.setOwnEndpoints(outPort_, virtualSrc_, virtualSrcXT_);

    // A DAW that connects to a surface port after we pushed missed the bank moves and the mutes.
    backend_.setSubscriberHandler([this, life](MidiRef source) {
        const ServiceLife::Entry entry(*life);
        if (!entry.entered)
            return;
        tasks_.onQueue([this, source, at = out_.stampNow()] { surfaceConnected(source, at); });
    });
    // A press the backend answered in its own cycle: its move is taken over, once.
    backend_.setAnsweredHandler([this, life](std::uint64_t generation, std::size_t index) {
        const ServiceLife::Entry entry(*life);
        if (entry.entered)
            input_.answered(generation, index);
    });
    backend_.setAvailabilityHandler([this, life](bool available) {
        const ServiceLife::Entry entry(*life);
        if (entry.entered)
            tasks_.onMain([this, available] { midiAvailable.set(available); });
    });
    midiAvailable.set(backend_.available());

    refreshPorts();
    if (sources == SourceConnection::atConstruction)
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

// ---- Threads -----------------------------------------------------------------------------------

void MidiService::runOnMutePathThreads(std::function<void(std::string_view thread)> job) {
    // A job of the queue's own that writes nothing: it needs no settling of prepared answers.
    midiQueue_->submit([job] { job("[MIDI] queue"); });
    (void)backend_.runOnInputThread([job] { job("[MIDI] input thread"); });
}

// ---- Port directory ----------------------------------------------------------------------------

void MidiService::refreshPorts() {
    STRATA_ASSERT_THREAD(mainThread_);
    std::vector<std::string> dests{std::string(kMainSurfacePort)};
    for (const MidiPortInfo& port : ports_.destinations()) {
        auto name = PortDirectory::endpointName(port);
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
        tasks_.onQueue(
            [this, appeared = std::move(appeared)] { cc_.destinationsAppeared(appeared); });
    destinations.set(std::move(dests));

    std::vector<std::string> srcs;
    auto identities = std::make_shared<TriggerInput::SourceIdentities>();
    sourceIdentities_.clear();
    for (const MidiPortInfo& port : ports_.sources()) {
        DeviceIdentity identity = PortDirectory::identityOf(port);
        identities->insert_or_assign(port.ref, identity);
        srcs.push_back(PortDirectory::endpointName(port));
        sourceIdentities_.emplace_back(srcs.back(), std::move(identity));
    }
    // Before the list is published, so that its observers see the sources as they are now.
    input_.setSources(std::move(identities));
    sources.set(std::move(srcs));
}

std::string MidiService::deviceOfSource(std::string_view name) const {
    STRATA_ASSERT_THREAD(mainThread_);
    for (const auto& [listed, identity] : sourceIdentities_)
        if (listed == name)
            return identity.learned;
    return stableDeviceName(name);
}

std::optional<std::string> MidiService::sourceOfDevice(std::string_view storedDevice) const {
    STRATA_ASSERT_THREAD(mainThread_);
    const std::string stored = stableDeviceName(storedDevice);
    for (const auto& [listed, identity] : sourceIdentities_)
        if (identity.answersTo(stored))
            return listed;
    return std::nullopt;
}

void MidiService::connectSources() {
    STRATA_ASSERT_THREAD(mainThread_);
    if (inPort_ == 0)
        return;
    for (const MidiPortInfo& port : ports_.sources()) {
        const MidiRef ref = port.ref;
        // Our own surface output carries Mackie presses (Note On, velocity 127): read back as input
        // they would be learned as triggers or fire a NEXT/jump trigger on every push.
        if (ref == virtualSrc_ || ref == virtualSrcXT_)
            continue;
        backend_.connectSource(inPort_, ref, ref);
    }
}

void MidiService::noteMackieRx() {
    const TimePoint now = loop_.now();
    if (throttle(lastRxPublish_, now, kRxThrottle))
        tasks_.onMain([this, now] { lastMackieRxAt.set(now); });
}

MidiService::SurfacePorts MidiService::surfacePorts(bool extender) const {
    const std::string logical(extender ? kExtenderPort : kMainSurfacePort);
    auto named = [&](MidiRef ref) {
        std::string external = ref != 0 ? backend_.externalName(ref) : std::string();
        return external.empty() ? logical : external;
    };
    return {named(virtualSourceRef(extender)), named(virtualDestinationRef(extender))};
}

// ---- Mute output -------------------------------------------------------------------------------

void MidiService::sendSectionState(std::vector<Layer> allLayers, UuidSet mutedIDs, ControlMode mode,
                                   std::optional<std::string> mackiePort,
                                   std::int64_t mackieTrackOffset, DawHost host,
                                   std::optional<TimePoint> due) {
    tasks_.onQueue([this,
                    request = SectionRequest{std::move(allLayers), std::move(mutedIDs), mode,
                                             std::move(mackiePort), mackieTrackOffset, false, host},
                    due]() mutable {
        const OutputPath::TimedSends timed(out_, due);
        sendSectionStateImpl(std::move(request));
    });
}

void MidiService::resetMackieShadow() {
    tasks_.onQueue([this] { mackie_.forgetPositions(); });
}

void MidiService::panicAllOn(std::vector<Layer> allLayers, ControlMode mode,
                             std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                             DawHost host) {
    STRATA_ASSERT_THREAD(mainThread_);
    auto work = [&] {
        if (!life_->alive.load())
            return;
        prepared_.settle();
        panicImpl(std::move(allLayers), mode, std::move(mackiePort), mackieTrackOffset, host);
        prepared_.prepare();
    };
    if (midiQueue_->isCurrent())
        work();
    else
        midiQueue_->submitAndWait(work);
}

bool MidiService::answerCueJump(std::int64_t song, std::int64_t section) {
    const ServiceLife::Entry entry(*life_);
    return entry.entered && input_.answerCue(song, section);
}

void MidiService::remoteMove(ReflexTrigger trigger, std::int64_t section) {
    const ServiceLife::Entry entry(*life_);
    if (entry.entered)
        input_.remoteMove(trigger, section);
}

void MidiService::planChanged(std::shared_ptr<const ReflexPlan> plan) {
    tasks_.onQueueQuiet(
        [this, plan = std::move(plan)]() mutable { prepared_.setPlan(std::move(plan)); });
}

void MidiService::resyncCCMutes() {
    tasks_.onQueue([this] { cc_.forget(); });
}

void MidiService::sendProgramChange(std::int64_t program, std::int64_t channel,
                                    std::string portName, std::optional<TimePoint> due) {
    tasks_.onQueue([this, program, channel, portName = std::move(portName), due] {
        const OutputPath::TimedSends timed(out_, due);
        const std::uint8_t msg[2] = {
            static_cast<std::uint8_t>(mackie::kProgramChange | midi::channelNibble(channel)),
            midi::clampData(program)};
        out_.deliver(msg, sizeof msg, portName);
    });
}

void MidiService::sendControlChange(std::int64_t cc, std::int64_t value, std::int64_t channel,
                                    std::string portName, std::optional<TimePoint> due) {
    tasks_.onQueue([this, cc, value, channel, portName = std::move(portName), due] {
        const OutputPath::TimedSends timed(out_, due);
        const std::uint8_t msg[3] = {
            static_cast<std::uint8_t>(mackie::kControlChange | midi::channelNibble(channel)),
            midi::clampData(cc), midi::clampData(value)};
        out_.deliver(msg, sizeof msg, portName);
    });
}

void MidiService::sendSectionStateImpl(SectionRequest request) {
    lastRequest_ = std::move(request);
    const SectionRequest& r = *lastRequest_;
    const bool ardourCC = r.mode == ControlMode::ccMute && r.host == DawHost::ardour;
    cc_.setEchoesWanted(ardourCC);
    if (ardourCC)
        cc_.send(r);
    else if (r.mode == ControlMode::ccMute)
        sendCCMutes(out_, r.allLayers, &r.mutedIDs);
    else
        mackie_.pump(r);
}

void MidiService::pump() {
    if (!lastRequest_)
        return;
    const SectionRequest& r = *lastRequest_;
    if (r.mode == ControlMode::mackieControl)
        mackie_.pump(r);
    else if (r.host == DawHost::ardour)
        cc_.pump();
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

void MidiService::surfaceConnected(MidiRef virtualSource, Stamp at) {
    if (virtualSource == 0 || (virtualSource != virtualSrc_ && virtualSource != virtualSrcXT_))
        return;
    const bool extender = virtualSource == virtualSrcXT_;
    const auto& r = lastRequest_;
    // With a device as the Mackie port, the main unit's state is about that device, not about
    // whoever listens to "Strata".
    if (!extender && r && r->mode == ControlMode::mackieControl &&
        mainSurfacePort(r->mackiePort) != kMainSurfacePort)
        return;

    mackie_.connected(extender ? MackieOutput::kExtenderUnit : MackieOutput::kMainUnit, at);
    // Nor did it hear the CC toggles: it is taken to have every track sounding, as after a
    // resync, until its echoes say otherwise.
    cc_.surfaceConnected(extender ? ArdourCCMutes::kExtender : ArdourCCMutes::kMainSurface);

    // Bring it to the current state. Before the first push there is none: the first push does
    // it, once.
    if (!r)
        return;
    if (r->mode == ControlMode::ccMute && r->host == DawHost::logic) {
        sendCCMutes(out_, r->allLayers, &r->mutedIDs, extender ? kExtenderPort : kMainSurfacePort);
        return;
    }
    // Ardour's CC toggles on that port wait for the DAW's echoes of its state.
    pump();
}

// ---- Surface feedback --------------------------------------------------------------------------

void MidiService::handleMackieFeedback(const MidiPacketList& packets) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> ends;
    if (!copyChunks(packets, bytes, ends))
        return;
    noteMackieRx();
    tasks_.onQueueQuiet(
        [this, bytes = std::move(bytes), ends = std::move(ends), arrived = out_.arrivalStamp()] {
            std::size_t begin = 0;
            for (std::size_t end : ends) {
                feedSurface(bytes.data() + begin, end - begin, false, arrived);
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
    tasks_.onQueueQuiet(
        [this, bytes = std::move(bytes), ends = std::move(ends), arrived = out_.arrivalStamp()] {
            std::size_t begin = 0;
            for (std::size_t end : ends) {
                feedSurface(bytes.data() + begin, end - begin, true, arrived);
                begin = end;
            }
        });
}

void MidiService::feedSurface(const std::uint8_t* bytes, std::size_t length, bool extender,
                              const Stamp& arrived) {
    if (!extender)
        feedback_.feedSysex(bytes, length, [this] { publishSlotNames(); });
    mackie_.feedLeds(bytes, length, extender ? 8 : 0);
    cc_.feedEchoes(bytes, length, extender ? ArdourCCMutes::kExtender : ArdourCCMutes::kMainSurface,
                   {}, arrived);
}

void MidiService::publishSlotNames() {
    SlotNames names = stripNames(feedback_.lcd());
    if (names == lastPublishedNames_)
        return;
    lastPublishedNames_ = names;
    tasks_.onMain(
        [this, names = std::move(names)]() mutable { mackieSlotNames.set(std::move(names)); });
}

// ---- Inspection --------------------------------------------------------------------------------

MidiService::MackieShadow MidiService::mackieShadow() {
    MackieShadow shadow;
    midiQueue_->submitAndWait([&] {
        // A press answered ahead counts as sent.
        prepared_.prepare();
        mackie_.releaseHolds();
        shadow.muted = mackie_.muted();
        shadow.bankPositionedAt = mackie_.position(MackieOutput::kMainUnit);
        shadow.bankPositionedAtXT = mackie_.position(MackieOutput::kExtenderUnit);
        shadow.lcd = feedback_.lcd();
        shadow.sysexPending = feedback_.sysexPending();
        shadow.settling = {mackie_.settling(MackieOutput::kMainUnit),
                           mackie_.settling(MackieOutput::kExtenderUnit)};
    });
    return shadow;
}

void MidiService::drain() {
    midiQueue_->drain();
}

bool MidiService::answersPrepared() {
    bool prepared = false;
    midiQueue_->submitAndWait([&] {
        prepared_.prepare();
        prepared = prepared_.handedOver() != 0;
    });
    return prepared;
}

} // namespace strata
