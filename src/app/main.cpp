// Strata's entry point: the one place that chooses implementations and wires them together.

#include "backends/memory/memory_midi_system.h"
#include "command_line.h"
#include "common/posix_thread_priority.h"
#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "jack/jack_midi_backend.h"
#include "jack/pipewire_jack.h"
#include "link_beat_session.h"
#include "live/live_coordinator.h"
#include "main_window.h"
#include "midi/midi_service.h"
#include "midi_backend_factory.h"
#include "platform/log.h"
#include "platform/thread_priority.h"
#include "qt_main_loop.h"
#include "qt_settings.h"
#include "remote/remote_hub.h"
#include "remote_server.h"
#include "signal_quitter.h"
#include "test_hooks.h"
#include "ui_models.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <memory>

using namespace strata;

namespace {

const char* signalName(int number) {
    switch (number) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    default:
        return "a signal";
    }
}

} // namespace

int main(int argc, char** argv) {
    // Before the application object, which needs a display: --help and --version work anywhere.
    const CommandLine command = parseCommandLine({argv + 1, argv + argc});
    switch (command.action) {
    case CommandLine::Action::help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case CommandLine::Action::version:
        std::fputs(versionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::error:
        std::fprintf(stderr, "strata: %s\n\n%s", command.error.c_str(), usageText().c_str());
        return 2;
    case CommandLine::Action::run:
        break;
    }

    // While the process still has one thread and nothing open: on a PipeWire desktop without
    // jackd, this returns only in the second start, which runs on PipeWire's JACK library.
    startThroughPipeWireIfNeeded(argv);

    // glibc raises its threshold for mapping a block of its own each time such a block is freed,
    // so after the set's file text is read once, every later buffer that size (the whole set,
    // encoded again for each save) comes from the heap and its pages stay with the process. A
    // fixed threshold (the default's own value) keeps big buffers mapped and returned when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    // Before anything else, so that a stop request during start-up waits for the event loop.
    if (!SignalQuitter::install())
        logLine("[Strata] could not watch SIGTERM/SIGINT; they end the program without saving");
    const bool testHooks = TestHooks::install();

    QGuiApplication application(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Korvel"));
    QGuiApplication::setApplicationName(QStringLiteral("Strata"));
    // The desktop entry it is installed with: window managers take its name and icon from it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.korvel.Strata"));

    QtMainLoop loop;
    QtSettings settings;
    const StoreLocation location = StoreLocation::fromEnvironment();

    // The three long-lived objects, in this order: the set is loaded, then the MIDI endpoints
    // exist, then the cue link listens.
    auto state = std::make_unique<AppState>(location, settings, loop);
    MidiBackendChoice choice = chooseMidiBackend();
    std::unique_ptr<MidiBackend> backend = std::move(choice.backend);
    if (!backend) {
        // Without a MIDI system the program still runs, on an in-memory one that reaches nobody
        // and says so: the MIDI engine publishes it as unavailable.
        auto none = std::make_unique<MemoryMidiSystem>();
        none->setAvailable(false);
        backend = std::move(none);
    }
    auto midi = std::make_unique<MidiService>(*backend, loop, settings,
                                              MidiService::SourceConnection::byCaller);
    // The threads a trigger's mutes pass through run real-time when the system lets them, just
    // below JACK's own process threads (the DAW's audio keeps precedence) and ahead of every
    // ordinary thread, so that a busy machine does not hold a move back behind other work: the
    // MIDI input thread that reads a press and decides the move, the MIDI queue that turns it
    // into bytes, and the cue link's reader that answers a FIRE. Each of them sleeps until work
    // arrives and never spins, which is what makes SCHED_FIFO safe for them. The window's thread
    // and the band remote's stay ordinary: both draw or serve pages, and the remote parses
    // whatever the network sends. Refused, they all run as before, and the log says so once.
    const auto scheduling = std::make_shared<RealTimeThreads>(
        priorityBelow(backend->realTimePriority()),
        [](int priority) { return raiseCurrentThread(priority); },
        [](std::string_view line) { logLine(line); });
    midi->runOnMutePathThreads(
        [scheduling](std::string_view thread) { scheduling->raiseCurrentThread(thread); });
    CadenzoLink::Options linkOptions;
    linkOptions.readerStarted = [scheduling] {
        scheduling->raiseCurrentThread("[CadenzoLink] reader");
    };
    auto link = std::make_unique<CadenzoLink>(loop, std::move(linkOptions));
    auto live = std::make_unique<LiveCoordinator>(*state, *midi, *link, loop, settings, location);
    // Ableton Link: joins the network only while the set takes its time from it.
    auto beats = std::make_unique<LinkBeatSession>(loop);
    live->setBeatSession(beats.get());
    // The band remote: off until the performer turns it on; its servers run on their own thread.
    auto remoteHub = std::make_unique<RemoteHub>(*state, *live, *midi, *link, loop, settings);
    auto remoteServer = std::make_unique<RemoteServer>(*remoteHub);
    // The pairing code is shown on the performer's screen only; a test harness reads it here.
    if (testHooks)
        logLine("[Remote] pairing code " + remoteHub->pairingCode());
    // The DAW is driven from here on, before the window is built: a Mackie surface's first bank
    // moves (one press every other cycle, a few hundred milliseconds) go on on the MIDI side
    // while the main thread loads the window.
    live->start();
    // Then the controllers and other sources: each connection waits for the MIDI system, and the
    // first push does not depend on them.
    midi->connectSources();

    // The display face, for the window only: looking it up reads the system's font list.
    installAppearance();

    int status = 0;
    {
        // The toolbar follows MidiService::midiAvailable, which follows the backend (a JACK
        // server can go away and come back while the program runs).
        UiModels models(*state, *midi, *link, *live, loop, remoteHub.get());
        models.guide.setPipeWire(choice.kind == "jack" && JackMidiBackend::libraryIsPipeWire());
        QQmlApplicationEngine engine;
        const std::string midiKind = choice.kind;
        QQuickWindow* window = openMainWindow(engine, models, [&models, midiKind] {
            models.shell.mainViewAppeared();
            // One line for whoever supervises the program: it now follows triggers, keys and
            // Cadenzo.
            logLine("[Strata] Ready (MIDI: " + midiKind + ")");
            // Decoding the set and building the window leave many small blocks free in the heap;
            // give their pages back once, now that the first push is under way.
            malloc_trim(0);
        });
        if (!window) {
            logLine("[Strata] the main window could not be loaded");
            status = 1;
        } else {
            // Where the window stands, as its view models show it.
            TestHooks hooks([&models] {
                return "song " + std::to_string(models.appState.songIndex()) + " section " +
                       std::to_string(models.appState.sectionIndex());
            });
            SignalQuitter quitter;
            QObject::connect(&quitter, &SignalQuitter::quitRequested, window, [window](int number) {
                logLine(std::string("[Strata] ") + signalName(number) + " received; quitting");
                // The same way out as closing the window.
                window->close();
            });
            status = QGuiApplication::exec();
        }
    }

    // Orderly shutdown: no remote commands, nothing drives the state any more, the last change
    // reaches the file, the cue link leaves the group, MIDI output in flight goes out and the MIDI
    // client closes.
    remoteServer.reset();
    remoteHub.reset();
    live.reset();
    beats.reset();
    state->flush();
    link.reset();
    midi->drain();
    midi.reset();
    backend.reset();
    state.reset();
    return status;
}
