// Renders the main window in its states, each sheet and the toolbar's states to PNG files, on the
// offscreen platform, over the same objects the UI tests use. tools/screenshots runs it.

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
        QObject* object = window_.findChild<QObject*>(QString::fromLatin1(objectName));
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
    QRect toolbarRect() {
        auto* toolbar = qobject_cast<QQuickItem*>(find("toolbar"));
        if (!toolbar)
            return {};
        const QPointF topLeft = toolbar->mapToScene(QPointF(0, 0));
        return QRect(topLeft.toPoint(), QSize(int(toolbar->width()), int(toolbar->height())));
    }

private:
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
    // A returning user: no chooser, quick start seen; the sheets are opened one by one below.
    rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
    rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
    rig.state->setSetlist(UiRig::demoSet());
    rig.state->setCurrentSectionIndex(1);
    rig.settle();

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.setInitialProperties(rig.models->properties());
    engine.load(QUrl(QString::fromLatin1(kMainWindowUrl)));
    auto* window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window) {
        std::fprintf(stderr, "the main window did not load\n");
        return 1;
    }
    window->resize(1280, 800);
    Renderer r(*window, outDir);
    auto& models = *rig.models;
    auto& state = *rig.state;

    // The window is on screen: the coordinator sends the first mute state; its light goes dark.
    models.shell.mainViewAppeared();
    rig.advance(seconds(5));

    // Editing layout and toolbar states.
    r.shot("main-editing");
    r.shot("toolbar-idle", r.toolbarRect());

    models.midi.learnNextTrigger();
    r.shot("toolbar-learning", r.toolbarRect());
    rig.pressNote("FCB1010", 64);
    rig.cueHello("FOH-MacBook");
    models.live.setPro(true);
    models.live.setControlMode("mackieControl");
    rig.service->noteTx();
    rig.service->noteMackieRx();
    rig.settle();
    r.shot("main-editing-pro-mackie");
    r.shot("toolbar-live", r.toolbarRect());

    for (int i = 0; i < 31; ++i)
        models.live.stepBank(1);
    r.shot("toolbar-bank-top", r.toolbarRect());
    rig.advance(seconds(3.5));
    r.shot("toolbar-lights-dark", r.toolbarRect());

    models.midi.setAvailable(false);
    r.shot("toolbar-midi-unavailable", r.toolbarRect());
    models.midi.setAvailable(true);

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

    // Stage view.
    state.setStageMode(true);
    r.shot("stage");
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
    r.shot("stage-silent");
    window->resize(1080, 640);
    state.setCurrentSectionIndex(2);
    r.shot("stage-compact");
    window->resize(1280, 800);
    state.setStageMode(false);

    // Sheets.
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
    models.shell.setShowSetup(false);

    models.shell.setShowQuickStart(true);
    r.shot("sheet-quick-start-first");
    for (int i = 0; i < 4; ++i)
        r.click("forwardButton");
    r.shot("sheet-quick-start-last");
    models.shell.setShowQuickStart(false);
    r.wait();
    return 0;
}
