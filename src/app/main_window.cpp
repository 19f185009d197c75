#include "main_window.h"

#include "app_shell.h"
#include "live_view_model.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <memory>

namespace strata {

QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, AppShell& shell, LiveViewModel& view,
                             std::function<void()> firstShown) {
    engine.setInitialProperties(
        {{"shell", QVariant::fromValue(&shell)}, {"live", QVariant::fromValue(&view)}});
    engine.load(QUrl(kMainWindowUrl));
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

void applyDisplayFont() {
    const QString family = QStringLiteral("League Spartan");
    if (QFontDatabase::families().contains(family)) {
        QFont font(family);
        font.setStyleHint(QFont::SansSerif);
        QGuiApplication::setFont(font);
    }
}

} // namespace strata
