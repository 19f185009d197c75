// The real window, offscreen, over the real core objects: it opens as specified, runs the
// appearance steps once it is shown, and its keyboard commands move the performer.

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "main_window.h"
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "qt_main_loop.h"
#include "spin_until.h"
#include "support/memory_midi_probe.h"
#include "support/test_support.h"
#include "ui_models.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

using namespace strata;

using strata::testing::spinUntil;

namespace {

// Every text shown in the window.
void collectTexts(QQuickItem* item, QStringList& out) {
    if (!item)
        return;
    const QVariant text = item->property("text");
    if (item->isVisible() && text.isValid())
        out << text.toString();
    for (QQuickItem* child : item->childItems())
        collectTexts(child, out);
}

struct WindowRig {
    strata::testing::TempDir dir;
    strata::testing::LogCapture log;
    QtMainLoop loop;
    MemorySettings settings;
    MemoryMidiProbe midi;
    std::unique_ptr<AppState> app;
    std::unique_ptr<MidiService> service;
    std::unique_ptr<CadenzoLink> link;
    std::unique_ptr<LiveCoordinator> live;
    std::unique_ptr<UiModels> models;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;

    // `chooser`: the mode chooser comes up at start, as on a first launch.
    explicit WindowRig(bool midiAvailable, bool chooser = true) {
        if (!chooser) {
            settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
            settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        }
        app = std::make_unique<AppState>(StoreLocation::under(dir.path()), settings, loop);
        Setlist set = Setlist::empty();
        set.songs.at(0).sections = {Section::named("Verse"), Section::named("Chorus")};
        set.songs[0].sections[0].steps.push_back(SectionStep::fresh());
        app->setSetlist(set);
        app->setMode(StrataMode::pro);
        // As the program runs without a MIDI system: an in-memory one that says it is not there.
        midi.setAvailable(midiAvailable);
        service = std::make_unique<MidiService>(midi, loop, settings);
        link = std::make_unique<CadenzoLink>(loop, CadenzoLink::Options{.openSocket = false});
        live = std::make_unique<LiveCoordinator>(*app, *service, *link, loop, settings,
                                                 StoreLocation::under(dir.path()));
        models = std::make_unique<UiModels>(*app, *service, *link, *live, loop);
        engine = std::make_unique<QQmlApplicationEngine>();
        window = openMainWindow(*engine, *models, [this] { models->shell.mainViewAppeared(); });
    }
    ~WindowRig() {
        engine.reset();
        models.reset();
        live.reset();
    }
    QStringList texts() {
        QStringList out;
        collectTexts(window->contentItem(), out);
        return out;
    }
};

} // namespace

TEST(MainWindow, OpensAtLeast1080By640AndAppearsOnce) {
    WindowRig rig(true);
    ASSERT_NE(rig.window, nullptr);
    EXPECT_EQ(rig.window->title(), "Strata");
    EXPECT_EQ(rig.window->minimumSize(), QSize(1080, 640));
    EXPECT_FALSE(rig.live->hasAppeared()); // not inside the event that showed it
    ASSERT_TRUE(spinUntil([&] { return rig.live->hasAppeared(); }));
    // The first-run flow ran with it: no stored preference shows the mode chooser.
    EXPECT_TRUE(rig.models->shell.showModeChooser());
    EXPECT_TRUE(rig.texts().contains("Verse"));
    EXPECT_FALSE(rig.texts().contains("MIDI UNAVAILABLE"));
}

TEST(MainWindow, KeysReachTheSectionMenuCommands) {
    // A returning user: no sheet is up (a modal sheet takes the keys while it is open).
    WindowRig rig(false, false);
    ASSERT_NE(rig.window, nullptr);
    rig.window->requestActivate();
    ASSERT_TRUE(spinUntil([&] { return rig.live->hasAppeared() && rig.window->isActive(); }));
    EXPECT_TRUE(rig.texts().contains("MIDI UNAVAILABLE"));

    // The keys reach the view's commands through the real window (the QML tests cover each key).
    QTest::keyClick(rig.window, Qt::Key_Right);
    QTest::keyClick(rig.window, Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.app->currentSectionIndex(), 1);
    EXPECT_TRUE(rig.app->stageMode());
    EXPECT_TRUE(rig.texts().contains("Chorus")); // the view follows: NEXT after Verse
}
