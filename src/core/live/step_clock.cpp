#include "live/step_clock.h"

#include <utility>

namespace strata {

struct StepClock::Work {
    Task action;
    TimePoint due;
    TimerHandle timer;
    bool ran = false;
    bool cancelled = false;
};

StepClock::StepClock(MainLoop& loop) : loop_(loop) {}

StepClock::~StepClock() {
    cancel();
}

void StepClock::schedule(double seconds, Task action) {
    cancel();
    auto work = std::make_shared<Work>();
    work->action = std::move(action);
    const Duration delay = strata::seconds(seconds > 0 ? seconds : 0.0);
    work->due = loop_.now() + delay;
    std::weak_ptr<Work> weak = work;
    work->timer = loop_.after(delay, [weak] {
        const auto item = weak.lock();
        if (!item || item->cancelled || item->ran)
            return;
        item->ran = true;
        // A copy: the action may schedule again, which drops this item.
        const Task action = item->action;
        action();
    });
    work_ = std::move(work);
}

void StepClock::cancel() {
    if (!work_)
        return;
    work_->cancelled = true;
    work_->timer.reset();
    work_.reset();
}

bool StepClock::armed() const {
    return work_ && !work_->ran && !work_->cancelled;
}

std::optional<TimePoint> StepClock::dueAt() const {
    if (!armed())
        return std::nullopt;
    return work_->due;
}

} // namespace strata
