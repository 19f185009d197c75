#pragma once

#include <QString>
#include <functional>

class QQmlApplicationEngine;
class QQuickWindow;

namespace strata {

class AppShell;
class LiveViewModel;

// Where the window's QML lives (compiled into the program as a resource).
inline const QString kMainWindowUrl = QStringLiteral("qrc:/qt/qml/Strata/App/Main.qml");

// Opens the one window ("Strata", at least 1080×640, dark) with its keyboard commands, and calls
// `firstShown` once, after the event in which the window first became visible. Returns the window,
// or null when the QML could not be loaded.
QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, AppShell& shell, LiveViewModel& view,
                             std::function<void()> firstShown);

// The display face: League Spartan when the system has it, else the default sans. Plain Text items
// do not inherit a window's font, so this is set application-wide before any QML loads.
void applyDisplayFont();

} // namespace strata
