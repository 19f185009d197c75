// The MIDI input parser with trigger matching and learning, on the in-memory MIDI system. The
// input is a script: a stored NEXT trigger (as raw settings bytes or as a chosen trigger), a
// jump-trigger table, then a series of deliveries from connected sources, deliveries with any
// connection value, direct calls of the packet parser, learn switches and main-thread turns.
// Checks: every event carries what its stream promises (MIDI data values 0-127, keys of the
// table in force, NEXT presses only while there is a NEXT trigger), and a learn result arrives
// with learning already switched off.

#include "fuzz_check.h"
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/memory_midi_probe.h"

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <set>
#include <string>
#include <vector>

using namespace strata;

namespace {

using Bytes = MemoryMidiProbe::Bytes;

const std::string kDevices[] = {"Pedal", "Keys", "", "Strata", "Unknown"};

std::string pickDevice(FuzzedDataProvider& in) {
    return kDevices[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kDevices) - 1)];
}

// Up to four packets of up to 300 bytes (more than the 256 a packet is read to).
std::vector<Bytes> packets(FuzzedDataProvider& in) {
    std::vector<Bytes> out(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (auto& packet : out)
        packet = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
    return out;
}

AdvanceTrigger trigger(FuzzedDataProvider& in) {
    AdvanceTrigger t;
    t.deviceName = pickDevice(in);
    t.kind = in.ConsumeBool() ? AdvanceTrigger::Kind::cc : AdvanceTrigger::Kind::note;
    t.data1 = in.ConsumeIntegralInRange<std::int64_t>(-1, 200);
    return t;
}

void checkTrigger(const AdvanceTrigger& t) {
    FUZZ_CHECK(t.data1 >= 0 && t.data1 <= 127);
    FUZZ_CHECK(t.kind == AdvanceTrigger::Kind::note || t.kind == AdvanceTrigger::Kind::cc);
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
    if (in.ConsumeBool()) {
        const auto stored = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 96));
        settings.setBytes(MidiService::kAdvanceTriggerKey, stored);
    }
    const MidiRef sources[] = {midi.addSource("Pedal"), midi.addSource("Keys")};
    MidiService service(midi, loop, settings);

    if (in.ConsumeBool()) {
        service.advanceTrigger.set(trigger(in));
        service.resolveTriggerSource();
    }
    JumpTriggerTable table;
    for (auto n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
        table[in.ConsumeIntegralInRange(-2, 40)] = trigger(in);
    service.setJumpTriggers(table);

    ConnectionBag bag;
    bag += service.sectionAdvanceRequest.connect(
        [](int program) { FUZZ_CHECK(program >= 0 && program <= 127); });
    bag += service.jumpRequested.connect([&](int key) { FUZZ_CHECK(table.contains(key)); });
    bag += service.advancePressed.connect([&] {
        // Only presses of the NEXT trigger's own source count, and only while there is one.
        FUZZ_CHECK(service.advanceTrigger.get().has_value());
    });
    bag += service.triggerLearned.connect([&](const std::optional<AdvanceTrigger>& learned) {
        if (learned)
            checkTrigger(*learned);
        FUZZ_CHECK(!service.isLearningTrigger.get());
    });

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            service.isLearningTrigger.set(in.ConsumeBool());
            break;
        case 1:
            midi.sendFromSource(sources[in.ConsumeBool() ? 1 : 0], packets(in));
            break;
        case 2:
            midi.deliverToInputPort(service.inputPortRef(), packets(in),
                                    in.ConsumeIntegral<std::uint64_t>());
            break;
        case 3: {
            const bool isTriggerDevice = in.ConsumeBool();
            const bool learning = in.ConsumeBool();
            const std::string learnSource = pickDevice(in);
            const std::string srcName = pickDevice(in);
            const Bytes bytes =
                in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
            service.parsePacketBytes(bytes.data(), bytes.size(), isTriggerDevice, learning,
                                     learnSource, srcName);
            break;
        }
        default:
            loop.runPending();
            break;
        }
    }
    service.drain();
    loop.runPending();
    return 0;
}
