// Waiting on the Qt event loop in the app layer's tests.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

namespace strata::testing {

// Runs the Qt event loop until `done` or a generous real-time limit (waiting on the loop is the
// point of these tests; nothing asserts how long it took).
template <typename Pred>
bool spinUntil(Pred done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace strata::testing
