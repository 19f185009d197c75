// The real window, offscreen, over the real core objects: it opens as specified, runs the
// appearance steps once it is shown, and its keyboard commands move the performer.

#include "main_window.h"
#include "ui_rig.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

using namespace strata;

TEST(MainWindow, OpensAtLeast1080By640AppearsAfterItIsShownAndTakesTheSectionKeys) {
    // A returning user: no sheet is up (a modal sheet takes the keys while it is open).
    strata::testing::UiRig rig;
    rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
    rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
    rig.app->setSetlist(strata::testing::UiRig::demoSet());
    rig.settle();
    QQmlApplicationEngine engine;
    QQuickWindow* window =
        openMainWindow(engine, *rig.models, [&] { rig.models->shell.mainViewAppeared(); });
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title(), "Strata");
    EXPECT_EQ(window->minimumSize(), QSize(1080, 640));
    EXPECT_FALSE(rig.live->hasAppeared()); // not inside the event that showed it
    window->requestActivate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.live->hasAppeared() && window->isActive(); }));

    // The keys reach the view's commands through the real window (the QML tests cover each key).
    QTest::keyClick(window, Qt::Key_Right);
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.app->currentSectionIndex(), 1);
    EXPECT_TRUE(rig.app->stageMode());
    const auto* now = window->findChild<QObject*>("stageNow");
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->property("text").toString(), "Verse 1"); // the view follows
}
