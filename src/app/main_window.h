#pragma once

#include <functional>

class QQmlApplicationEngine;
class QQuickWindow;

namespace strata {

class UiModels;

// Opens the one window ("Strata", at least 1080×640, dark) with its toolbar, views, sheets and
// keyboard commands over `models`, and calls `firstShown` once, after the event in which the
// window first became visible. Returns the window, or null when the QML could not be loaded.
QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, UiModels& models,
                             std::function<void()> firstShown);

} // namespace strata
