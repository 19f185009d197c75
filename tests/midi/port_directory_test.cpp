#include "midi_rig.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

using Names = std::vector<std::string>;

TEST(PortDirectory, StartsWithItsOwnEndpointsUnderTheirNames) {
    MidiRig rig;
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

// Sends to a named port resolve through a cache of the system's destinations. Whatever the system
// did to its ports, once it has said so (or, for a port it has not announced yet, at once) a send
// reaches the port that carries the name now, and only that one.
TEST(PortDirectory, ASendReachesThePortThatCarriesTheNameAfterTheSetupChanges) {
    struct Case {
        const char* what;
        // Changes the system around the destination "Synth" that was sent to before; returns the
        // destinations that carry the names "Synth" and "Other" now (0 for none).
        std::function<std::pair<MidiRef, MidiRef>(MemoryMidiProbe&, MidiRef synth)> change;
        bool notify = true;
    };
    const Case cases[] = {
        {"renamed, and another port takes its name",
         [](MemoryMidiProbe& midi, MidiRef synth) {
             midi.rename(synth, "Old Synth", std::nullopt);
             return std::pair{midi.addDestination("Synth"), MidiRef{0}};
         }},
        {"gone, and back under the same name",
         [](MemoryMidiProbe& midi, MidiRef synth) {
             midi.removeEndpoint(synth);
             return std::pair{midi.addDestination("Synth"), MidiRef{0}};
         }},
        {"renamed, and nothing carries its name",
         [](MemoryMidiProbe& midi, MidiRef synth) {
             midi.rename(synth, "Old Synth", std::nullopt);
             return std::pair{MidiRef{0}, MidiRef{0}};
         }},
        {"given a display name, which is its name from now on",
         [](MemoryMidiProbe& midi, MidiRef synth) {
             midi.rename(synth, "Synth", "Stage Synth");
             return std::pair{MidiRef{0}, MidiRef{0}};
         }},
        {"the first of two of that name gone: the second carries it",
         [](MemoryMidiProbe& midi, MidiRef synth) {
             const MidiRef second = midi.addDestination("Synth");
             midi.removeEndpoint(synth);
             return std::pair{second, MidiRef{0}};
         }},
        {"a port renamed to a name that was sent to before, unannounced",
         [](MemoryMidiProbe& midi, MidiRef synth) {
             const MidiRef other = midi.addDestination("x");
             midi.rename(other, "Other", std::nullopt);
             return std::pair{synth, other};
         },
         false},
    };
    for (const Case& c : cases) {
        MidiRig rig;
        const MidiRef synth = rig.midi.addDestination("Synth");
        rig.midi.notifySetupChanged();
        rig.settle();
        rig.service->sendControlChange(1, 1, 1, "Synth");
        rig.service->sendControlChange(1, 1, 1, "Other"); // not there yet: no one hears it
        rig.settle();
        ASSERT_EQ(rig.midi.receivedBy(synth), (Packets{{0xB0, 1, 1}})) << c.what;

        const auto [synthNow, otherNow] = c.change(rig.midi, synth);
        if (c.notify)
            rig.midi.notifySetupChanged();
        rig.settle();
        rig.service->sendControlChange(2, 2, 1, "Synth");
        rig.service->sendControlChange(3, 3, 1, "Other");
        rig.settle();

        if (synthNow != 0) {
            EXPECT_EQ(rig.midi.receivedBy(synthNow), synthNow == synth
                                                         ? (Packets{{0xB0, 1, 1}, {0xB0, 2, 2}})
                                                         : (Packets{{0xB0, 2, 2}}))
                << c.what;
        }
        if (synthNow != synth) {
            // (A port that is gone has nothing recorded.)
            const Packets old = rig.midi.receivedBy(synth);
            EXPECT_EQ(std::count(old.begin(), old.end(), Bytes{0xB0, 2, 2}), 0) << c.what;
        }
        if (otherNow != 0) {
            EXPECT_EQ(rig.midi.receivedBy(otherNow), (Packets{{0xB0, 3, 3}})) << c.what;
        }
    }
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
