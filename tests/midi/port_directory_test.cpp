#include "midi_rig.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

using Names = std::vector<std::string>;

TEST(PortDirectory, StartsWithItsOwnEndpointsUnderTheirNames) {
    MidiRig rig;
    for (const auto& [name, kind] :
         {std::pair{"Strata", 0}, {"Strata Out", 1}, {"Strata In", 1}, {"Strata XT", 0}}) {
        const MidiRef ref = kind == 0 ? rig.midi.sourceNamed(name) : rig.midi.objectNamed(name);
        EXPECT_NE(ref, 0u) << name;
        EXPECT_EQ(rig.midi.ownerOf(ref), rig.service->clientRef()) << name;
    }
    EXPECT_EQ(rig.midi.name(rig.service->clientRef()), "Strata");
    // Without any hardware only the system's own virtual endpoints are listed.
    EXPECT_EQ(rig.service->destinations.get(), (Names{"Strata", "Strata XT"}));
    EXPECT_EQ(rig.service->sources.get(), (Names{"Strata", "Strata XT"}));
    // A system that gives an input and an output one name shows the DAW one port per surface.
    EXPECT_EQ(rig.service->surfacePorts(false), (MidiService::SurfacePorts{"Strata", "Strata"}));
    EXPECT_EQ(rig.service->surfacePorts(true),
              (MidiService::SurfacePorts{"Strata XT", "Strata XT"}));
}

TEST(PortDirectory, AHardwareStrataIsNeitherListedNorReachedAndDuplicatesStay) {
    MidiRig rig(false);
    const MidiRef fake = rig.midi.addDestination("Strata");
    const MidiRef synthA = rig.midi.addDestination("Synth");
    const MidiRef synthB = rig.midi.addDestination("Synth");
    const MidiRef nameless = rig.midi.addDestination("x");
    rig.midi.rename(nameless, std::nullopt, std::nullopt);
    const MidiRef plain = rig.midi.addDestination("y");
    rig.midi.rename(plain, "Plain Name", std::nullopt);
    rig.start();
    EXPECT_EQ(rig.service->destinations.get(),
              (Names{"Strata", "Synth", "Synth", "Unknown", "Plain Name", "Strata XT"}));

    rig.service->sendControlChange(1, 2, 1, "Strata");
    rig.service->sendControlChange(3, 4, 1, "Synth");
    rig.service->sendControlChange(5, 6, 1, "Unknown");
    rig.service->sendControlChange(7, 8, 1, "Nowhere");
    rig.settle();
    EXPECT_TRUE(rig.midi.receivedBy(fake).empty());
    EXPECT_EQ(rig.heard(), (Packets{{0xB0, 1, 2}}));
    EXPECT_EQ(rig.midi.receivedBy(synthA), (Packets{{0xB0, 3, 4}}));
    EXPECT_TRUE(rig.midi.receivedBy(synthB).empty());
    EXPECT_EQ(rig.midi.receivedBy(nameless), (Packets{{0xB0, 5, 6}}));
    EXPECT_EQ(rig.service->systemDestinationRef("Plain Name"), plain);
    EXPECT_FALSE(rig.service->systemDestinationRef("Nowhere"));
}

TEST(PortDirectory, SetupNotificationsRefreshTheListsAndConnectNewSources) {
    MidiRig rig;
    int refreshes = 0;
    Connection c = rig.service->sources.changed.connect([&](const Names&) { ++refreshes; });
    const MidiRef keys = rig.midi.addSource("Keys");
    rig.midi.addDestination("Synth");
    EXPECT_EQ(rig.midi.connectionCount(keys), 0u);
    // The handler only schedules the work on the main thread.
    rig.midi.notifySetupChanged();
    EXPECT_EQ(refreshes, 0);
    rig.loop.runPending();
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(rig.service->sources.get(), (Names{"Strata", "Strata XT", "Keys"}));
    EXPECT_EQ(rig.service->destinations.get(), (Names{"Strata", "Strata XT", "Synth"}));
    EXPECT_EQ(rig.midi.connectionCount(keys), 1u);

    rig.midi.rename(keys, "Keys", "Stage Keys");
    rig.midi.notifySetupChanged();
    rig.loop.runPending();
    EXPECT_EQ(rig.service->sources.get(), (Names{"Strata", "Strata XT", "Stage Keys"}));
}

TEST(ActivityLights, TransmissionIsPublishedAtMostEveryEightyMilliseconds) {
    MidiRig rig;
    std::vector<TimePoint> published;
    Connection c = rig.service->lastTxAt.changed.connect(
        [&](const std::optional<TimePoint>& t) { published.push_back(*t); });
    const TimePoint start = rig.loop.now();
    const auto send = [&] {
        rig.service->sendProgramChange(1, 1, "Nowhere"); // dropped, but still counted
        rig.settle();
    };
    send();
    rig.loop.advance(seconds(0.05));
    send();
    rig.loop.advance(seconds(0.03)); // exactly 0.08 s after the published one: not more than
    send();
    rig.loop.advance(seconds(0.01));
    send();
    EXPECT_EQ(published, (std::vector<TimePoint>{start, start + seconds(0.05) + seconds(0.03) +
                                                            seconds(0.01)}));
}
