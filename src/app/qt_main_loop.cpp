#include "qt_main_loop.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>

namespace strata {
namespace {

// Owns a QObject (timer or notifier) and deletes it when the handle goes. deleteLater keeps it safe
// to drop the handle from inside the object's own signal.
class QtHandle final : public LoopHandle {
public:
    explicit QtHandle(QObject* object) : object_(object) {}
    ~QtHandle() override {
        if (object_) {
            if (auto* timer = qobject_cast<QTimer*>(object_.data()))
                timer->stop();
            if (auto* notifier = qobject_cast<QSocketNotifier*>(object_.data()))
                notifier->setEnabled(false);
            object_->deleteLater();
        }
    }

private:
    QPointer<QObject> object_;
};

int toMilliseconds(Duration d) {
    using namespace std::chrono;
    // Round up so that a timer never fires before its due time.
    auto ms = duration_cast<milliseconds>(d + milliseconds(1) - nanoseconds(1)).count();
    if (ms < 0)
        ms = 0;
    if (ms > std::numeric_limits<int>::max())
        ms = std::numeric_limits<int>::max();
    return static_cast<int>(ms);
}

} // namespace

QtMainLoop::QtMainLoop() = default;
QtMainLoop::~QtMainLoop() = default;

TimePoint QtMainLoop::now() const {
    return Clock::now();
}

void QtMainLoop::post(Task task) {
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

TimerHandle QtMainLoop::after(Duration delay, Task task) {
    auto* timer = new QTimer(&context_);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(task));
    timer->start(toMilliseconds(delay));
    return std::make_unique<QtHandle>(timer);
}

TimerHandle QtMainLoop::every(Duration period, Task task) {
    auto* timer = new QTimer(&context_);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(task));
    timer->start(std::max(1, toMilliseconds(period)));
    return std::make_unique<QtHandle>(timer);
}

TimerHandle QtMainLoop::watchReadable(int fd, Task task) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [task = std::move(task)] { task(); });
    notifier->setEnabled(true);
    return std::make_unique<QtHandle>(notifier);
}

} // namespace strata
