// Main-thread time per change of section in the real window, over the large set on the offscreen
// platform: the state change with the view models and the bindings it wakes, the frame, and a
// collection of the QML heap, each timed and in total. The editing layout and the stage view in
// turn. Prints figures; not a test.
//
//   strata_ui_section_change [changes]      default 300

#include "percentile.h"
#include "support/large_set.h"
#include "ui_models.h"
#include "ui_rig.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

Q_IMPORT_QML_PLUGIN(Strata_UiPlugin)

using namespace strata;
using strata::testing::UiRig;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Phases {
    std::vector<double> models, frame, gc, total;
};

void print(const char* view, const Phases& p) {
    const auto line = [&](const char* what, const std::vector<double>& v) {
        std::printf("%-8s %-7s median %8.3f ms   p99 %8.3f ms   max %8.3f ms\n", view, what,
                    bench::percentile(v, 0.5), bench::percentile(v, 0.99),
                    bench::percentile(v, 1.0));
    };
    line("state", p.models);
    line("frame", p.frame);
    line("gc", p.gc);
    line("total", p.total);
}

// Steps through the current song's sections, `changes` times after a warm-up, timing each.
Phases run(UiRig& rig, QQmlApplicationEngine& engine, QQuickWindow& window, int changes) {
    Phases p;
    const auto sections = static_cast<std::int64_t>(rig.app->currentSong()->sections.size());
    std::int64_t at = rig.app->currentSectionIndex();
    for (int i = -20; i < changes; ++i) {
        at = (at + 1) % sections;
        const auto t0 = Clock::now();
        rig.app->setCurrentSectionIndex(at);
        rig.settle();
        QCoreApplication::processEvents();
        const auto t1 = Clock::now();
        // A synchronous render of the whole window, as the next vsync would do.
        const QImage frame = window.grabWindow();
        const auto t2 = Clock::now();
        engine.collectGarbage();
        const auto t3 = Clock::now();
        if (frame.isNull()) {
            std::fprintf(stderr, "no frame rendered\n");
            std::exit(1);
        }
        if (i < 0)
            continue;
        p.models.push_back(msSince(t0, t1));
        p.frame.push_back(msSince(t1, t2));
        p.gc.push_back(msSince(t2, t3));
        p.total.push_back(msSince(t0, t3));
    }
    return p;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    installAppearance();
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

    UiRig rig;
    rig.start(true);
    rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
    rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
    // Every step and all 16 layers on screen.
    rig.app->setSetlist(testing::largeSet());
    rig.app->setMode(StrataMode::pro);
    rig.settle();

    QQmlApplicationEngine engine;
    QQuickWindow* window = rig.loadMainWindow(engine);
    if (!window)
        return 1;
    rig.models->shell.mainViewAppeared();
    rig.advance(seconds(5));

    std::printf("%d section changes, %zu songs x %zu sections, %zu layers\n", changes,
                rig.app->setlist().songs.size(), rig.app->currentSong()->sections.size(),
                rig.app->setlist().layers.size());
    print("editing", run(rig, engine, *window, changes));
    rig.app->setStageMode(true);
    rig.settle();
    print("stage", run(rig, engine, *window, changes));
    return 0;
}
