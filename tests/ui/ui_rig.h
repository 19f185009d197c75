#pragma once

#include "remote/remote_hub.h"
#include "support/core_stack.h"
#include "ui_models.h"

#include <memory>
#include <string>

class QQmlApplicationEngine;
class QQuickWindow;

namespace strata::testing {

// The main window's objects as the application builds them: the core stack and the view models
// over it. Tests (and the screenshot renderer) play the main thread.
class UiRig : public CoreStack {
public:
    UiRig();
    ~UiRig();
    UiRig(const UiRig&) = delete;
    UiRig& operator=(const UiRig&) = delete;

    // Builds the objects afresh; the preferences survive (a new launch), unless `clearSettings`.
    // With `storedFile`, the setlist file holds those bytes when the set is loaded.
    void start(bool clearSettings = false, const std::string* storedFile = nullptr);
    void stop();

    // The real main window on `engine`, bound to these models, at 1280 x 800; none (and a line on
    // stderr) when it did not load.
    QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine);

    // Lets the MIDI queue finish, then runs what it handed to the main thread.
    void settle();
    // Moves virtual time on (the queue settled first and after).
    void advance(Duration d);

    // Cadenzo greets the group from `host`.
    void cueHello(const std::string& host);

    // An external controller plugged in, sending one note on (velocity 100) and its note off.
    void pressNote(const std::string& device, int note);
    // The controller of that name taken out of the system.
    void unplug(const std::string& device);

    // Adds a hand-fired Moment that mutes the first layer to the current section, with a note
    // trigger from `device` unless it is empty.
    void addHandFiredMoment(const std::string& name, const std::string& device = {}, int note = 0);

    // Fires a Moment by hand that mutes the first layer.
    void fireMoment();

    // Every write of the set fails (a file stands where its folder belongs), or works again.
    void blockSaving(bool blocked);
    // A datagram from Cadenzo.
    void cueDatagram(const std::string& json);

    // A set to look at: named songs and sections and six layers.
    static Setlist demoSet();

    std::unique_ptr<RemoteHub> remoteHub;
    std::unique_ptr<UiModels> models;
};

} // namespace strata::testing
