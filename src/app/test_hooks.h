#pragma once

#include <QObject>
#include <functional>
#include <string>

class QSocketNotifier;

namespace strata {

// Hooks for the performance harness, off unless the environment holds STRATA_TEST_HOOKS=1: then
// SIGUSR1 holds the main thread busy for two seconds, as a long frame or a slow collection
// would, to show that what the MIDI side decides does not wait for the window. Each hold is
// announced on the log when it begins and, once the queued work has caught up, when it is over,
// with where the window stands. SIGUSR2 arms a stop for the crash tests: the next save stops the
// whole program (SIGSTOP) after its temporary file is written and before it replaces the set's
// file, so that a kill lands exactly inside a save. Never active in a normal run: without the
// variable no handler is installed.
class TestHooks : public QObject {
    Q_OBJECT
public:
    // Installs the SIGUSR1 and SIGUSR2 handlers when the variable asks for it; whether it did.
    static bool install();

    // `describe` tells where the window stands ("song 0 section 5"). Does nothing unless
    // install() did.
    explicit TestHooks(std::function<std::string()> describe, QObject* parent = nullptr);
    ~TestHooks() override;

private:
    void onSignal();
    void hold();

    std::function<std::string()> describe_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace strata
