#pragma once

#include <QObject>

class QSocketNotifier;

namespace strata {

// Turns SIGTERM and SIGINT into a Qt signal on the main thread, so that a session manager or a
// service supervisor stopping the program gets the same orderly quit as closing the window (the
// set saved, the cue link and MIDI closed). The handler only writes the signal's number into a
// pipe; everything else happens in the event loop.
//
// install() sets up the pipe and the handlers and can run before the application object exists,
// so that a signal arriving during start-up is not lost: it waits in the pipe until the event
// loop runs. One instance per process.
class SignalQuitter : public QObject {
    Q_OBJECT
public:
    // Creates the pipe and installs the handlers; returns false (and leaves the default
    // behaviour) when that fails.
    static bool install();

    // Watches the pipe; needs the application object.
    explicit SignalQuitter(QObject* parent = nullptr);
    ~SignalQuitter() override;

Q_SIGNALS:
    // The number of the signal that asked the program to quit.
    void quitRequested(int signal);

private:
    void readPipe();
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace strata
