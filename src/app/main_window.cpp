#include "main_window.h"

#include "ui_models.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <memory>

// The window's QML module is linked in as a static plugin.
Q_IMPORT_QML_PLUGIN(Strata_UiPlugin)

namespace strata {

QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, UiModels& models,
                             std::function<void()> firstShown) {
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.setInitialProperties(models.properties());
    engine.load(QUrl(QString::fromLatin1(kMainWindowUrl)));
    const auto roots = engine.rootObjects();
    auto* window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (!window)
        return nullptr;

    // "Appears" means shown: the appearance steps run right after the event that showed it.
    auto once = std::make_shared<std::function<void()>>(std::move(firstShown));
    auto fire = [once] {
        if (auto action = std::exchange(*once, nullptr))
            QTimer::singleShot(0, qApp, action);
    };
    if (window->isVisible()) {
        fire();
    } else {
        QObject::connect(window, &QWindow::visibleChanged, window, [fire](bool visible) {
            if (visible)
                fire();
        });
    }
    return window;
}

} // namespace strata
