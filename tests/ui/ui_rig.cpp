#include "ui_rig.h"

#include "cuelink/cue_messages.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace strata::testing {

UiRig::UiRig() {
    start(true);
}

UiRig::~UiRig() {
    stop();
}

void UiRig::stop() {
    models.reset();
    remoteHub.reset();
    CoreStack::stop();
}

void UiRig::start(bool clearSettings, const std::string* storedFile) {
    stop();
    if (clearSettings)
        settings = MemorySettings();
    dir = std::make_unique<TempDir>(); // a launch of its own: nothing left by the last one
    if (storedFile)
        std::ofstream(Store::filePath(location()), std::ios::binary) << *storedFile;
    makeState();
    makeLive();
    remoteHub = std::make_unique<RemoteHub>(*app, *live, *service, *link, loop, settings);
    models = std::make_unique<UiModels>(*app, *service, *link, *live, loop, remoteHub.get());
    settle();
}

void UiRig::settle() {
    for (int i = 0; i < 4; ++i) {
        // Twice: a timed check on the MIDI queue that falls due hands a settle's end on as a job
        // of its own.
        service->drain();
        service->drain();
        if (loop.runPending() == 0)
            break;
    }
}

void UiRig::advance(Duration d) {
    settle();
    loop.advance(d);
    settle();
}

void UiRig::cueHello(const std::string& host) {
    const std::string datagram = R"({"type":"HELLO","host":")" + host + R"("})";
    link->handleDatagram(cueBytes(datagram));
}

void UiRig::pressNote(const std::string& device, int note) {
    MidiRef source = midi.sourceNamed(device);
    if (source == 0) {
        source = midi.addSource(device);
        midi.notifySetupChanged();
        settle();
    }
    const auto n = static_cast<std::uint8_t>(std::clamp(note, 0, 127));
    midi.sendFromSource(source, {{0x90, n, 100}});
    midi.sendFromSource(source, {{0x80, n, 0}});
    settle();
}

void UiRig::unplug(const std::string& device) {
    if (const MidiRef source = midi.sourceNamed(device)) {
        midi.removeEndpoint(source);
        midi.notifySetupChanged();
    }
    settle();
}

void UiRig::addHandFiredMoment(const std::string& name, const std::string& device, int note) {
    const Section* section = app->currentSection();
    if (!section)
        return;
    Moment moment = Moment::fresh();
    moment.name = name;
    moment.anchor = FireAnchor::manual();
    if (!app->setlist().layers.empty())
        moment.muteLayerIDs.insert(app->setlist().layers.front().id);
    if (!device.empty())
        moment.trigger = AdvanceTrigger{device, AdvanceTrigger::Kind::note, note};
    const MomentsBinding moments = app->momentsBinding(section->id);
    auto list = moments.get();
    list.push_back(moment);
    moments.set(std::move(list));
    settle();
}

void UiRig::fireMoment() {
    Moment moment = Moment::fresh();
    moment.name = "Drop the piano";
    if (!app->setlist().layers.empty())
        moment.muteLayerIDs.insert(app->setlist().layers.front().id);
    app->fireManually(moment);
    settle();
}

void UiRig::blockSaving(bool blocked) {
    const auto folder = Store::filePath(location()).parent_path();
    std::error_code ec;
    if (blocked) {
        std::filesystem::remove_all(folder, ec);
        std::ofstream(folder) << "a file where the folder belongs";
    } else {
        std::filesystem::remove(folder, ec);
    }
}

void UiRig::cueDatagram(const std::string& json) {
    link->handleDatagram(cueBytes(json));
    settle();
}

Setlist UiRig::demoSet() {
    Setlist set;
    set.name = "Friday at The Crown";
    set.layers = Layer::defaults();
    for (const char* name : {"Strings", "Choir"}) {
        Layer layer = Layer::fresh();
        layer.name = name;
        layer.channel = static_cast<std::int64_t>(set.layers.size()) + 1;
        layer.muteCC = 20 + static_cast<std::int64_t>(set.layers.size());
        set.layers.push_back(layer);
    }
    auto song = [](std::string name, std::vector<std::string> sections) {
        Song s = Song::fresh();
        s.name = std::move(name);
        for (auto& section : sections)
            s.sections.push_back(Section::named(std::move(section)));
        return s;
    };
    set.songs = {
        song("Northern Lights",
             {"Intro", "Verse 1", "Chorus", "Verse 2", "Chorus", "Bridge", "Outro"}),
        song("Gold Rush", {"Intro", "Verse", "Pre-Chorus", "Chorus", "Tag"}),
        song("Harbour Song", {"Verse", "Chorus", "Verse", "Chorus", "Coda"}),
        song("Slow Burn", {"Intro", "Verse", "Chorus", "Solo", "Chorus"}),
        song("Last Orders", {"Count-in", "Verse", "Chorus", "Breakdown", "Final Chorus"}),
    };
    // The intro is piano alone; the first verse rests the pad and the strings; the chorus is
    // everything.
    auto& first = set.songs[0].sections;
    for (std::size_t i = 1; i < set.layers.size(); ++i)
        first[0].steps[0].mutedLayerIDs.insert(set.layers[i].id);
    first[1].steps[0].mutedLayerIDs = {set.layers[2].id, set.layers[4].id};
    return set;
}

QQuickWindow* UiRig::loadMainWindow(QQmlApplicationEngine& engine) {
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.setInitialProperties(models->properties());
    engine.load(QUrl(QString::fromLatin1(kMainWindowUrl)));
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window) {
        std::fprintf(stderr, "the main window did not load\n");
        return nullptr;
    }
    window->resize(1280, 800);
    return window;
}

} // namespace strata::testing
