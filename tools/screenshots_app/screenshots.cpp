// Renders the main window in its states, each sheet and the toolbar's states to PNG files, on the
// offscreen platform, over the same objects the UI tests use. tools/screenshots runs it.

#include "support/timeline_session.h"
#include "ui_models.h"
#include "ui_rig.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(Strata_UiPlugin)

using namespace strata;
using strata::testing::UiRig;

namespace {

class Renderer {
public:
    Renderer(QQuickWindow& window, QString outDir) : window_(window), outDir_(std::move(outDir)) {}

    // Lets bindings, polish and timers (tooltips) run for a while of real time.
    void wait(int ms = 80) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    void shot(const QString& name, std::optional<QRect> crop = std::nullopt) {
        wait();
        QImage image = window_.grabWindow();
        if (crop)
            image = image.copy(*crop);
        const QString path = outDir_ + "/" + name + ".png";
        if (image.isNull() || !image.save(path))
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        else
            std::printf("%s\n", qPrintable(path));
    }

    QObject* find(const char* objectName) {
        const QString name = QString::fromLatin1(objectName);
        QObject* object = window_.findChild<QObject*>(name);
        // Items made by a Repeater are children of their item only, not of the window's objects.
        if (!object)
            object = findItem(window_.contentItem(), name);
        if (!object)
            std::fprintf(stderr, "no object named %s\n", objectName);
        return object;
    }

    void click(const char* objectName) {
        if (QObject* object = find(objectName))
            QMetaObject::invokeMethod(object, "clicked");
    }

    // Rests the pointer on an item, long enough for its hover help.
    void hover(const char* objectName) {
        auto* item = qobject_cast<QQuickItem*>(find(objectName));
        if (!item)
            return;
        const QPointF at = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QMouseEvent move(QEvent::MouseMove, at, at, window_.mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window_, &move);
        wait(700);
    }

    void unhover() {
        const QPointF away(window_.width() / 2.0, window_.height() - 4.0);
        QMouseEvent move(QEvent::MouseMove, away, away, window_.mapToGlobal(away), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window_, &move);
        wait();
    }

    void closePopups() {
        for (const char* name : {"triggerMenu", "controlMenu", "helpMenu"})
            if (QObject* menu = find(name))
                QMetaObject::invokeMethod(menu, "close");
        wait();
    }

    // The toolbar's strip of the window.
    QRect toolbarRect() { return itemRect("toolbar"); }

    // Where an item is in the window.
    QRect itemRect(const char* objectName) {
        auto* item = qobject_cast<QQuickItem*>(find(objectName));
        if (!item)
            return {};
        const QPointF topLeft = item->mapToScene(QPointF(0, 0));
        return QRect(topLeft.toPoint(), QSize(int(item->width()), int(item->height())));
    }

    // Row i of the setlist pane (delegates are no QObject children of the window).
    QObject* songRow(int i) {
        QQuickItem* row = nullptr;
        if (QObject* list = find("songList"))
            QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row),
                                      Q_ARG(int, i));
        if (!row)
            std::fprintf(stderr, "no song row %d\n", i);
        return row;
    }

    void set(const char* objectName, const char* property, const QVariant& value) {
        if (QObject* object = find(objectName))
            object->setProperty(property, value);
    }

private:
    static QQuickItem* findItem(QQuickItem* item, const QString& name) {
        if (!item)
            return nullptr;
        if (item->objectName() == name)
            return item;
        for (QQuickItem* child : item->childItems())
            if (QQuickItem* found = findItem(child, name))
                return found;
        return nullptr;
    }

    QQuickWindow& window_;
    QString outDir_;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    installAppearance();

    const QString outDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outDir);

    UiRig rig;
    // The stored file is damaged: the window opens with the notice that says where it was kept.
    const std::string damaged = "{ \"name\": \"half a fi";
    rig.start(true, &damaged);
    // A returning user: no chooser, quick start seen; the sheets are opened one by one below.
    rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
    rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
    rig.app->setSetlist(UiRig::demoSet());
    rig.app->setCurrentSectionIndex(1);
    rig.settle();

    QQmlApplicationEngine engine;
    QQuickWindow* window = rig.loadMainWindow(engine);
    if (!window)
        return 1;
    Renderer r(*window, outDir);
    auto& models = *rig.models;
    auto& state = *rig.app;

    // The window is on screen: the coordinator sends the first mute state; its light goes dark.
    models.shell.mainViewAppeared();
    rig.advance(seconds(5));

    // Notices under the toolbar: each alone, then all three at once.
    const auto noticesArea = [&] {
        QRect area = r.toolbarRect().united(r.itemRect("noticeBar"));
        area.setHeight(area.height() + 120); // and the top of what they push down
        return area;
    };
    const auto dismissAll = [&] {
        for (const QVariant& notice : models.notices.notices())
            models.notices.dismiss(notice.toMap()["id"].toInt());
        rig.settle();
    };
    r.shot("notice-kept-aside", noticesArea());
    dismissAll();
    rig.blockSaving(true);
    state.renameSet("Friday at The Crown (late)");
    rig.advance(AppState::kSaveDebounce);
    r.shot("notice-save-failing", noticesArea());
    r.hover("noticeText");
    r.shot("help-notice-detail");
    r.unhover();
    dismissAll();
    const auto snapshot = [&](const char* sections) {
        rig.cueDatagram(
            std::string(R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"N","sections":[)") +
            sections + "]}]}");
    };
    snapshot(R"("Intro","Verse 1","Chorus","Verse 2")");
    r.shot("notice-sections-dropped", noticesArea());
    rig.blockSaving(false);
    rig.advance(AppState::kSaveRetry); // saving works again: that notice clears itself
    rig.blockSaving(true);
    state.renameSet("Friday at The Crown");
    rig.advance(AppState::kSaveDebounce);
    r.shot("notices-stacked", noticesArea());
    state.setStageMode(true);
    r.shot("stage-save-failing");
    r.hover("saveFailingMark");
    r.shot("help-stage-save-failing");
    r.unhover();
    state.setStageMode(false);
    rig.blockSaving(false);
    rig.advance(AppState::kSaveRetry);
    for (const QVariant& notice : models.notices.notices())
        models.notices.undo(notice.toMap()["id"].toInt());
    rig.settle();
    r.wait();

    // Editing layout and toolbar states.
    r.shot("main-editing");
    r.shot("toolbar-idle", r.toolbarRect());

    models.midi.learnNextTrigger();
    r.shot("toolbar-learning", r.toolbarRect());
    r.click("triggerControl");
    r.shot("menu-trigger-learning");
    r.closePopups();
    rig.pressNote("FCB1010", 64);
    rig.cueHello("FOH-MacBook");
    models.live.setPro(true);
    models.live.setControlMode("mackieControl");
    rig.service->noteTx();
    rig.service->noteMackieRx();
    rig.settle();
    r.shot("main-editing-pro-mackie");
    r.shot("toolbar-live", r.toolbarRect());

    // The footswitch unplugged: the trigger says so until it is back.
    rig.unplug("FCB1010");
    r.shot("toolbar-trigger-not-connected", r.toolbarRect());
    r.click("triggerControl");
    r.shot("menu-trigger-not-connected");
    r.closePopups();
    window->resize(1080, 640);
    r.shot("toolbar-trigger-not-connected-compact", r.toolbarRect());
    window->resize(1280, 800);
    rig.pressNote("FCB1010", 70);

    for (int i = 0; i < 31; ++i)
        models.live.stepBank(1);
    r.shot("toolbar-bank-top", r.toolbarRect());
    rig.advance(seconds(3.5));
    r.shot("toolbar-lights-dark", r.toolbarRect());

    rig.midi.setAvailable(false);
    rig.settle();
    r.shot("toolbar-midi-unavailable", r.toolbarRect());
    rig.midi.setAvailable(true);
    rig.settle();

    // Menus and hover help.
    r.click("triggerControl");
    r.shot("menu-trigger");
    r.closePopups();
    r.click("controlModeMenu");
    r.shot("menu-control-mode");
    r.closePopups();
    models.live.setDawHost("ardour");
    r.click("controlModeMenu");
    r.shot("menu-control-mode-ardour");
    r.closePopups();
    models.live.setDawHost("logic");
    // The set takes its time from the DAW's MIDI clock, which plays at 124 BPM.
    {
        const MidiRef clock = rig.midi.addSource("DAW Clock");
        rig.midi.notifySetupChanged();
        rig.settle();
        models.cue.setTimeSource("midiClock");
        models.cue.setClockDevice("DAW Clock");
        rig.settle();
        rig.midi.sendFromSource(clock, {{0xFA}});
        for (int i = 0; i < 30; ++i) {
            rig.advance(std::chrono::microseconds(20161));
            rig.midi.sendFromSource(clock, {{0xF8}});
        }
        rig.settle();
        r.shot("toolbar-clock", r.toolbarRect());
        r.click("controlModeMenu");
        r.shot("menu-control-mode-clock");
        r.closePopups();
        models.cue.setTimeSource("cadenzo");
        rig.settle();
    }
    // The set takes its time from an Ableton Link session with three other peers at 120 BPM.
    {
        testing::TimelineSession session(rig.loop);
        rig.live->setBeatSession(&session);
        models.cue.setTimeSource("link");
        session.setPeers(3);
        session.startAt(0);
        rig.settle();
        r.shot("toolbar-link", r.toolbarRect());
        r.click("controlModeMenu");
        r.shot("menu-control-mode-link");
        r.closePopups();
        models.cue.setTimeSource("cadenzo");
        rig.settle();
        rig.live->setBeatSession(nullptr);
    }
    r.click("helpButton");
    r.shot("menu-help");
    r.closePopups();
    if (QObject* menu = r.find("sectionMenu")) {
        QMetaObject::invokeMethod(menu, "open");
        r.shot("menu-section");
        QMetaObject::invokeMethod(menu, "close");
    }
    r.hover("allOnButton");
    r.shot("help-all-on");
    r.hover("modeSwitch");
    r.shot("help-mode-switch");
    r.unhover();

    // Stage view, with two hand-fired Moments in the section.
    state.setStageMode(true);
    r.shot("stage");
    rig.addHandFiredMoment("Lead patch", "FCB1010", 40);
    rig.addHandFiredMoment("Choir swell", "Nord Stage", 12);
    rig.addHandFiredMoment("");
    r.shot("stage-moment-buttons");
    if (QObject* button = r.find("stageMoment_0"))
        QMetaObject::invokeMethod(button, "clicked");
    rig.settle();
    r.shot("stage-moment-button-fired");
    window->resize(1080, 640);
    r.shot("stage-moment-buttons-compact");
    window->resize(1280, 800);
    models.live.allOn();
    state.updateSetlist([&](Setlist& set) {
        set.songs[static_cast<std::size_t>(state.currentSongIndex())]
            .sections[static_cast<std::size_t>(state.currentSectionIndex())]
            .moments.clear();
        return true;
    });
    state.setCurrentSectionIndex(6);
    rig.fireMoment();
    r.shot("stage-moment-last-section");
    models.live.allOn();
    state.setCurrentSectionIndex(0);
    models.live.setPro(false);
    state.updateSetlist([](Setlist& set) {
        for (const Layer& layer : set.layers)
            set.songs[0].sections[0].steps[0].mutedLayerIDs.insert(layer.id);
        return true;
    });
    rig.settle();
    r.shot("stage-silent");
    models.live.allOn();
    rig.settle();
    r.shot("stage-all-on");
    window->resize(1080, 640);
    state.setCurrentSectionIndex(2);
    rig.settle(); // the section's own mix goes out: ALL ON no longer holds
    r.shot("stage-compact");
    window->resize(1280, 800);
    state.setStageMode(false);

    // The setlist pane: a current row, renaming in place, a row's menu, the footer's help, the
    // new-set question and the import sheet.
    state.selectSong(1);
    r.wait(); // the window's size settles before the pane is measured
    r.shot("pane-current-row", r.itemRect("setlistPane"));
    if (QObject* row = r.songRow(3)) {
        QMetaObject::invokeMethod(row, "rename");
        if (QObject* field = row->findChild<QObject*>(QStringLiteral("nameField")))
            QMetaObject::invokeMethod(field, "deselect");
        r.shot("pane-renaming", r.itemRect("setlistPane"));
        if (QObject* field = row->findChild<QObject*>(QStringLiteral("nameField")))
            QMetaObject::invokeMethod(field, "leave");
    }
    if (QObject* row = r.songRow(2)) {
        QMetaObject::invokeMethod(row, "openMenu", Q_ARG(QVariant, 150), Q_ARG(QVariant, 30));
        r.shot("pane-song-menu");
        if (QObject* menu = row->findChild<QObject*>(QStringLiteral("songMenu")))
            QMetaObject::invokeMethod(menu, "close");
    }
    if (QObject* row = r.songRow(0)) {
        QMetaObject::invokeMethod(row, "openMenu", Q_ARG(QVariant, 150), Q_ARG(QVariant, 30));
        r.shot("pane-song-menu-first-row");
        if (QObject* menu = row->findChild<QObject*>(QStringLiteral("songMenu")))
            QMetaObject::invokeMethod(menu, "close");
    }
    r.hover("importButton");
    r.shot("help-import");
    r.hover("newSetButton");
    r.shot("help-new-set");
    r.unhover();
    r.set("setlistPane", "confirmNewSet", true);
    r.shot("sheet-new-set-confirmation");
    r.set("setlistPane", "confirmNewSet", false);
    r.set("setlistPane", "showImport", true);
    r.shot("sheet-import-empty");
    r.set("setlistImport", "text",
          QStringLiteral("Encore\nIntro\nVerse\nChorus\nOutro\n\n# Goodnight\nVerse\nChorus"));
    r.shot("sheet-import-with-text");
    r.set("setlistPane", "showImport", false);
    state.renameSong(4, "Last Orders (encore)");
    if (QObject* menu = r.find("editMenu")) {
        QMetaObject::invokeMethod(menu, "open");
        r.shot("menu-edit");
        QMetaObject::invokeMethod(menu, "close");
    }

    // Sheets.
    if (QObject* remote = r.find("remoteSheet")) {
        models.remote.setWebEnabled(true);
        QMetaObject::invokeMethod(remote, "open");
        r.shot("sheet-band-remote");
        QMetaObject::invokeMethod(remote, "close");
        models.remote.setWebEnabled(false);
    }
    models.shell.setShowModeChooser(true);
    r.shot("sheet-mode-chooser");
    models.shell.setShowModeChooser(false);

    models.shell.setShowSetup(true);
    r.shot("sheet-setup-guide-logic-cc-mute");
    models.guide.setHost(1);
    models.guide.setMode(1);
    r.shot("sheet-setup-guide-mainstage-mackie");
    models.guide.setHost(2);
    r.shot("sheet-setup-guide-ardour-mackie");
    models.guide.setMode(0);
    r.shot("sheet-setup-guide-ardour-cc-mute");
    // The end of the guide: how the DAW sends MIDI clock.
    if (QObject* steps = r.find("guideSteps")) {
        steps->setProperty("contentY", steps->property("contentHeight").toReal() -
                                           steps->property("height").toReal());
        r.shot("sheet-setup-guide-ardour-clock-and-link");
        steps->setProperty("contentY", 0);
    }
    models.shell.setShowSetup(false);

    models.shell.setShowQuickStart(true);
    r.shot("sheet-quick-start-first");
    for (int i = 0; i < 4; ++i)
        r.click("forwardButton");
    r.shot("sheet-quick-start-last");
    models.shell.setShowQuickStart(false);
    r.wait();

    // The section grid and its editors, on the first song.
    for (int i = 0; i < 31; ++i)
        models.live.stepBank(-1);
    models.live.setControlMode("ccMute");
    models.live.setPro(false);
    state.selectSong(0); // the pane's shots above left another song current
    state.setCurrentSectionIndex(0);
    state.updateSetlist([](Setlist& set) {
        auto& sections = set.songs[0].sections;
        sections[0].steps[0].mutedLayerIDs.clear();
        sections[0].steps[0].mutedLayerIDs.insert(set.layers[3].id);
        AdvanceTrigger trigger;
        trigger.kind = AdvanceTrigger::Kind::cc;
        trigger.data1 = 7;
        trigger.deviceName = "FCB1010";
        sections[2].jumpTrigger = trigger;
        Moment swell = Moment::fresh();
        swell.name = "Pad swell";
        swell.anchor = FireAnchor::barsBeforeSectionEnd(2);
        swell.unmuteLayerIDs = {set.layers[2].id};
        sections[1].moments.push_back(swell);
        Moment patch = Moment::fresh();
        patch.name = "Lead patch";
        patch.anchor = FireAnchor::manual();
        patch.muteLayerIDs = {set.layers[4].id, set.layers[5].id};
        patch.programChanges.push_back(PatchChange::fresh());
        patch.programChanges.back().portName = "Strata";
        patch.programChanges.back().program = 12;
        patch.ccSends.push_back(CCSend::fresh());
        patch.ccSends.back().portName = "Strata";
        patch.ccSends.back().cc = 91;
        patch.ccSends.back().value = 100;
        sections[1].moments.push_back(patch);
        return true;
    });
    rig.settle();
    r.shot("grid-essentials");
    // A layer's port menu: "No port" first, then what is plugged in.
    rig.midi.addDestination("Keys");
    rig.midi.notifySetupChanged();
    rig.settle();
    if (QObject* picker = r.find("layerPort")) {
        QMetaObject::invokeMethod(picker, "clicked");
        r.shot("menu-layer-port");
        // Delegates of the layer list are no QObject children of the window: asked of the picker.
        if (QObject* menu = picker->findChild<QObject*>(QStringLiteral("portMenu")))
            QMetaObject::invokeMethod(menu, "close");
    }
    models.live.allOn();
    rig.settle();
    r.shot("grid-all-on");
    r.hover("allOnTag");
    r.shot("help-grid-all-on");
    r.unhover();
    state.setCurrentSectionIndex(1);
    state.setCurrentSectionIndex(0);
    rig.settle();

    models.live.setPro(true);
    {
        const Uuid intro = state.currentSong()->sections[0].id;
        state.addStep(intro);
        state.addStep(intro);
        state.addStep(intro);
    }
    auto introSection = [&] { return state.currentSong()->sections[0].id; };
    state.setAdvanceBars(4, introSection(), 0);
    state.toggleMomentary(introSection(), 1);
    state.setAdvanceBars(2, introSection(), 1);
    state.setAdvanceBars(8, introSection(), 2);
    state.toggleLayer(state.setlist().layers[0].id, introSection(), 1);
    state.toggleLayer(state.setlist().layers[5].id, introSection(), 2);
    state.setCurrentStepIndex(1);
    models.grid.jumpChipClicked(1);
    rig.settle();
    r.shot("grid-pro-steps");
    r.hover("stepBadge");
    r.shot("help-step-badge");
    r.unhover();
    models.grid.jumpChipClicked(1);

    if (QObject* grid = r.find("sectionGrid"))
        if (QObject* row = r.find("row_0_1")) {
            QMetaObject::invokeMethod(grid, "openRowMenu", Q_ARG(QVariant, 0), Q_ARG(QVariant, 1),
                                      Q_ARG(QVariant, QVariant::fromValue(row)),
                                      Q_ARG(QVariant, 300), Q_ARG(QVariant, 20));
            r.shot("menu-row");
            if (QObject* menu = r.find("rowMenu"))
                QMetaObject::invokeMethod(menu, "close");
        }

    models.grid.editMoments(1);
    r.shot("sheet-moments");
    // The hand-fired Moment's trigger control, listening and then learned.
    for (const Moment& moment : state.currentSong()->sections[1].moments)
        if (moment.anchor.kind == FireAnchor::Kind::manual) {
            models.grid.momentsEditor()->triggerClicked(QString::fromStdString(moment.id.string()));
            rig.settle();
            r.shot("sheet-moments-trigger-learning");
            rig.pressNote("FCB1010", 40);
            r.shot("sheet-moments-trigger-learned");
            break;
        }
    models.grid.momentsEditor()->close();
    models.grid.editMoments(3);
    r.shot("sheet-moments-empty");
    models.grid.momentsEditor()->close();

    const QString padID = QString::fromStdString(state.setlist().layers[2].id.string());
    auto* rules = models.layerEditor.rulesEditor();
    rules->openFor(padID);
    r.shot("sheet-layer-rules-empty");
    rules->addRule();
    rules->addRule();
    {
        const QString second = rules->rules()->value(1, "id").toString();
        rules->setEffect(second, "muteOut");
        rules->setAnchor(second, "barsAfterStart");
        rules->setBars(second, 4);
        rules->setAllSections(second, false);
        rules->toggleSection(second, "Chorus");
        rules->toggleSection(second, "Bridge");
    }
    r.shot("sheet-layer-rules");
    rules->close();

    models.live.setControlMode("mackieControl");
    rig.settle();
    r.shot("grid-pro-mackie-layers");
    models.live.setControlMode("ccMute");

    // Every layer Pro drives, in the smallest window.
    while (state.setlist().layers.size() < 16)
        models.layerEditor.addLayer();
    window->resize(1080, 640);
    r.shot("grid-pro-16-layers-compact");
    window->resize(1280, 800);

    // A long song with the performer far down it: the grid shows the current section.
    while (state.currentSong()->sections.size() < 60)
        state.addSection();
    state.setCurrentSectionIndex(45);
    rig.settle();
    r.shot("grid-long-song-scrolled");

    // A song without sections.
    state.updateSetlist([](Setlist& set) {
        Song empty = Song::fresh();
        empty.name = "New Song";
        set.songs.push_back(empty);
        return true;
    });
    state.setCurrentSongIndex(static_cast<std::int64_t>(state.setlist().songs.size()) - 1);
    rig.settle();
    r.shot("grid-empty");
    r.wait();
    return 0;
}
