#pragma once

#include "platform/main_loop.h"

#include <QObject>

namespace strata {

// The application's main loop on Qt's event loop. Timers are Qt::PreciseTimer: musical delays
// (auto-advance, Moments) must not be coalesced, and a coarse timer can be off by 5%.
class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;

    TimePoint now() const override;
    void post(Task task) override;
    TimerHandle after(Duration delay, Task task) override;
    TimerHandle every(Duration period, Task task) override;
    TimerHandle watchReadable(int fd, Task task) override;

private:
    // Lives on the main thread; posted tasks are queued to it.
    QObject context_;
};

} // namespace strata
