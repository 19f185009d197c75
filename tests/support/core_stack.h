#pragma once

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/memory_midi_probe.h"
#include "support/test_support.h"

#include <memory>

namespace strata::testing {

// The core objects as the program builds them, in its order: the state, the MIDI engine on the
// in-memory MIDI system, the cue link without a socket (datagrams are handed in) and the live
// coordinator, on virtual time with in-memory preferences and a store folder of its own. A DAW
// listens to the main surface. The coordinator and UI rigs build on it; tests play the main
// thread.
struct CoreStack {
    CoreStack() = default;
    CoreStack(const CoreStack&) = delete;
    CoreStack& operator=(const CoreStack&) = delete;
    ~CoreStack() { stop(); }

    StoreLocation location() const { return StoreLocation::under(dir->path()); }

    void makeState() { app = std::make_unique<AppState>(location(), settings, loop); }
    // The engine, the link and the coordinator over the state made before.
    void makeLive() {
        service = std::make_unique<MidiService>(midi, loop, settings);
        daw = midi.listen(service->virtualSourceRef(false));
        link = std::make_unique<CadenzoLink>(loop, CadenzoLink::Options{.openSocket = false});
        live = std::make_unique<LiveCoordinator>(*app, *service, *link, loop, settings, location());
    }
    // Takes everything down in reverse order; the preferences and the MIDI system stay.
    void stop() {
        live.reset();
        link.reset();
        daw = 0;
        service.reset();
        app.reset();
    }

    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
    MemoryMidiProbe midi;
    VirtualMainLoop loop;
    MemorySettings settings;
    std::unique_ptr<AppState> app;
    std::unique_ptr<MidiService> service;
    std::unique_ptr<CadenzoLink> link;
    std::unique_ptr<LiveCoordinator> live;
    MemoryMidiProbe::ListenerId daw = 0;
};

} // namespace strata::testing
