#pragma once

#include "remote/osc_subscribers.h"
#include "remote/rate_gate.h"
#include "remote/remote_hub.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>
#include <atomic>
#include <memory>
#include <vector>

namespace strata {

// Accepts TCP connections up to a cap; beyond it a connection is closed at once.
class CappedTcpServer : public QTcpServer {
public:
    CappedTcpServer(int cap, QObject* parent) : QTcpServer(parent), cap_(cap) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int cap_;
    std::vector<QPointer<QTcpSocket>> open_;
};

// Serves the page to a request that carries the viewer token; anything else is "not found".
class PageServer : public QAbstractHttpServer {
public:
    PageServer(RemoteHub& hub, QObject* parent) : QAbstractHttpServer(parent), hub_(hub) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    RemoteHub& hub_;
};

// Everything on the server thread: the listeners, the viewers' sockets, the OSC subscribers.
class RemoteWorker : public QObject {
public:
    // Messages one page may send each second on average, and at once.
    static constexpr double kPageRate = 10;
    static constexpr double kPageBurst = 10;
    // OSC datagrams taken each second from all allowed senders together.
    static constexpr double kOscRate = 50;
    static constexpr double kOscBurst = 20;
    // Simultaneous TCP connections (page loads and WebSockets together).
    static constexpr int kMaxConnections = 96;

    RemoteWorker(RemoteHub& hub, QHostAddress address);
    ~RemoteWorker() override;

    // Server thread.
    void apply(const RemoteConfig& config);
    void stateChanged();
    void stop();

    std::atomic<quint16> webPort{0};
    std::atomic<quint16> oscPort{0};

private:
    struct Viewer {
        QWebSocket* socket = nullptr;
        bool control = false;
        std::string key;
        RateGate gate{kPageRate, kPageBurst};
        int refused = 0;
    };

    void startWeb(int port);
    void stopWeb();
    void startOsc(int port);
    void stopOsc();
    void acceptWebSockets();
    void pageMessage(QWebSocket* socket, const QString& text);
    void sendState(Viewer& viewer);
    void broadcast();
    void readOsc();
    Viewer* viewerOf(QWebSocket* socket);

    RemoteHub& hub_;
    QHostAddress address_;
    RemoteConfig applied_;
    PageServer* page_ = nullptr;
    QPointer<CappedTcpServer> tcp_;
    QUdpSocket* osc_ = nullptr;
    std::vector<std::unique_ptr<Viewer>> viewers_;
    OscSubscribers subscribers_;
    RateGate oscGate_{kOscRate, kOscBurst};
    UpdatePacer pacer_{std::chrono::milliseconds(100)};
    QTimer paceTimer_{this}; // a child, so that it moves to the server thread with the worker
};

} // namespace strata
