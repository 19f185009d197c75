#pragma once

#include "platform/signal.h"

#include <QHostAddress>
#include <memory>

class QThread;

namespace strata {

class RemoteHub;
class RemoteWorker;

// The band remote's network side: the web page with its WebSocket and the OSC port, served from a
// thread of their own so that neither a slow phone nor a flood of bad input ever waits on, or
// holds up, the main thread. It follows the hub's configuration (each server runs only while
// turned on) and passes the hub's state on to viewers and OSC subscribers at most ten times a
// second. Commands go to RemoteHub::command, from the server thread.
//
// Made and destroyed on the main thread, before the hub goes (the destructor stops the thread).
class RemoteServer {
public:
    // `address`: where to listen; tests give loopback.
    explicit RemoteServer(RemoteHub& hub, QHostAddress address = QHostAddress::AnyIPv4);
    ~RemoteServer();
    RemoteServer(const RemoteServer&) = delete;
    RemoteServer& operator=(const RemoteServer&) = delete;

    // The ports listened on now (0 while off or when the port could not be had). Any thread.
    quint16 webPort() const;
    quint16 oscPort() const;

private:
    void applyConfig();

    RemoteHub& hub_;
    std::unique_ptr<QThread> thread_;
    RemoteWorker* worker_ = nullptr; // lives on thread_
    Connection connection_;
};

} // namespace strata
