#include "remote_worker.h"

#include "platform/log.h"
#include "remote/osc.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUrlQuery>
#include <algorithm>
#include <chrono>

namespace strata {

namespace {

TimePoint steadyNow() {
    return std::chrono::steady_clock::now();
}

// What one connection may send before the upgrade to a WebSocket and after: a page request is a
// few hundred bytes, a command a few dozen.
constexpr double kBytesPerSecond = 8 * 1024;
constexpr double kByteBurst = 32 * 1024;
// The budget is kept in blocks of this many bytes (one token each), so that a read costs a few
// steps of the gate rather than one a byte.
constexpr qint64 kBudgetBlock = 256;
// Refused messages after which a page's connection is closed.
constexpr int kMaxRefused = 50;
// Bytes waiting to go to one viewer beyond which it is taken to be gone.
constexpr qint64 kMaxUnsentBytes = 64 * 1024;
// Datagrams read in one go before other work gets its turn.
constexpr int kDatagramsPerTurn = 64;

QString plainAddress(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

// Whether the bytes that opened a connection hold a complete opening request for a WebSocket that
// the WebSocket server cannot take: no key, or a protocol version other than 13.
bool unusableUpgrade(const QByteArray& head) {
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    bool upgrade = false, key = false, version13 = false;
    for (const QByteArray& line : head.left(end).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "upgrade")
            upgrade = value.toLower().contains("websocket");
        else if (name == "sec-websocket-key")
            key = !value.isEmpty();
        else if (name == "sec-websocket-version")
            version13 = value == "13";
    }
    return upgrade && !(key && version13);
}

QByteArray pageText() {
    QFile file(QStringLiteral(":/strata/remote/index.html"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

void CappedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Sockets counted as long as they live and are connected. (A WebSocket's upgrade takes the
    // socket over and drops every connection made to its signals, so nothing here relies on them.)
    std::erase_if(open_, [](const QPointer<QTcpSocket>& s) {
        return s.isNull() || s->state() == QAbstractSocket::UnconnectedState;
    });
    if (static_cast<int>(open_.size()) >= cap_) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    open_.emplace_back(socket);
    // Bytes as a budget refilled over time: a sender that pushes more is cut off before its input
    // can pile up (this slot runs before the HTTP reader takes the bytes; after an upgrade the
    // WebSocket's own caps apply).
    auto budget =
        std::make_shared<RateGate>(kBytesPerSecond / kBudgetBlock, kByteBurst / kBudgetBlock);
    connect(socket, &QTcpSocket::readyRead, this, [socket, budget] {
        const qint64 n = socket->bytesAvailable();
        const TimePoint now = steadyNow();
        // Emptied before the HTTP reader's turn and closed after it: a reader that finds its
        // socket closed prints a warning, and a flood of them would fill the program's log. (The
        // reader owns the socket and lets it go once it is closed.)
        const auto drop = [socket] {
            socket->readAll();
            QMetaObject::invokeMethod(
                socket, [socket] { socket->abort(); }, Qt::QueuedConnection);
        };
        for (qint64 k = 0; k < n; k += kBudgetBlock)
            if (!budget->allow(now)) {
                drop();
                return;
            }
        // Handed over, such a request would fail inside Qt's WebSocket server, with a warning.
        if (unusableUpgrade(socket->peek(n)))
            drop();
    });
    addPendingConnection(socket);
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    // A WebSocket's opening request is answered by the WebSocket handshake (the token is checked
    // once the socket is handed over): nothing may be written here.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    const QUrl url = request.url();
    const std::string token = QUrlQuery(url).queryItemValue(QStringLiteral("t")).toStdString();
    if (request.method() != QHttpServerRequest::Method::Get || url.path() != QStringLiteral("/") ||
        !hub_.viewerTokenMatches(token)) {
        missingHandler(request, socket);
        return true;
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(pageText(),
                    {{"Content-Type", "text/html; charset=utf-8"},
                     {"Cache-Control", "no-store"},
                     {"Referrer-Policy", "no-referrer"},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Content-Security-Policy",
                      "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                      "connect-src 'self' ws:; img-src data:"}});
    return true;
}

void PageServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    // The same answer whatever was wrong: nothing tells a guess how close it came.
    makeResponder(request, socket)
        .write(QByteArray("Not found\n"), {{"Content-Type", "text/plain"}},
               QHttpServerResponder::StatusCode::NotFound);
}

RemoteWorker::RemoteWorker(RemoteHub& hub, QHostAddress address)
    : hub_(hub), address_(std::move(address)) {
    paceTimer_.setSingleShot(true);
    paceTimer_.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer_, &QTimer::timeout, this, [this] {
        if (pacer_.due(steadyNow()))
            broadcast();
    });
}

RemoteWorker::~RemoteWorker() = default;

void RemoteWorker::stop() {
    stopWeb();
    stopOsc();
    paceTimer_.stop();
}

void RemoteWorker::apply(const RemoteConfig& config) {
    if (!config.webEnabled || config.webPort != applied_.webPort)
        stopWeb();
    if (config.webEnabled && !page_)
        startWeb(config.webPort);
    if (!config.oscEnabled || config.oscPort != applied_.oscPort)
        stopOsc();
    if (config.oscEnabled && !osc_)
        startOsc(config.oscPort);
    applied_ = config;
}

void RemoteWorker::startWeb(int port) {
    tcp_ = new CappedTcpServer(kMaxConnections, this);
    if (!tcp_->listen(address_, static_cast<quint16>(port))) {
        logLine("[Remote] the web page cannot listen on port " + std::to_string(port) + ": " +
                tcp_->errorString().toStdString());
        delete tcp_;
        tcp_ = nullptr;
        return;
    }
    page_ = new PageServer(hub_, this);
    page_->bind(tcp_);
    connect(page_, &QAbstractHttpServer::newWebSocketConnection, this,
            [this] { acceptWebSockets(); });
    webPort = tcp_->serverPort();
    logLine("[Remote] web page on port " + std::to_string(webPort.load()));
}

void RemoteWorker::stopWeb() {
    for (auto& viewer : viewers_) {
        viewer->socket->disconnect(this);
        viewer->socket->abort();
        viewer->socket->deleteLater();
    }
    viewers_.clear();
    // Binding may have handed the listener to the page server: whichever owns it, it goes once.
    delete page_;
    page_ = nullptr;
    delete tcp_.data();
    tcp_ = nullptr;
    webPort = 0;
}

void RemoteWorker::startOsc(int port) {
    osc_ = new QUdpSocket(this);
    if (!osc_->bind(address_, static_cast<quint16>(port))) {
        logLine("[Remote] OSC cannot listen on port " + std::to_string(port) + ": " +
                osc_->errorString().toStdString());
        delete osc_;
        osc_ = nullptr;
        return;
    }
    connect(osc_, &QUdpSocket::readyRead, this, [this] { readOsc(); });
    oscPort = osc_->localPort();
}

void RemoteWorker::stopOsc() {
    delete osc_;
    osc_ = nullptr;
    subscribers_.clear();
    oscPort = 0;
}

RemoteWorker::Viewer* RemoteWorker::viewerOf(QWebSocket* socket) {
    for (auto& viewer : viewers_)
        if (viewer->socket == socket)
            return viewer.get();
    return nullptr;
}

void RemoteWorker::acceptWebSockets() {
    while (page_ && page_->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> owned = page_->nextPendingWebSocketConnection();
        if (!owned)
            continue;
        QWebSocket* socket = owned.release();
        socket->setParent(this);
        const QUrl url = socket->requestUrl();
        const std::string token = QUrlQuery(url).queryItemValue(QStringLiteral("t")).toStdString();
        if (url.path() != QStringLiteral("/ws") || !hub_.viewerTokenMatches(token)) {
            // Closed once the handshake's own reading is over: closed from inside it (this runs
            // there), the socket is read once more after closing, with a warning each time.
            QMetaObject::invokeMethod(
                socket,
                [socket] {
                    socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
                    socket->deleteLater();
                },
                Qt::QueuedConnection);
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(kMaxPageMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(kMaxPageMessageBytes);
        auto viewer = std::make_unique<Viewer>();
        viewer->socket = socket;
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& text) { pageMessage(socket, text); });
        // Binary frames carry nothing the page sends: one is a refusal.
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket] {
            if (Viewer* v = viewerOf(socket); v && ++v->refused > kMaxRefused)
                socket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported);
        });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            std::erase_if(viewers_, [socket](const auto& v) { return v->socket == socket; });
            socket->deleteLater();
        });
        viewers_.push_back(std::move(viewer));
        sendState(*viewers_.back());
    }
}

void RemoteWorker::pageMessage(QWebSocket* socket, const QString& text) {
    Viewer* viewer = viewerOf(socket);
    if (!viewer)
        return;
    if (!viewer->gate.allow(steadyNow())) {
        if (++viewer->refused > kMaxRefused)
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    const auto message = decodePageMessage(std::string_view(utf8.constData(), utf8.size()));
    if (!message) {
        ++viewer->refused;
        socket->sendTextMessage(QString::fromStdString(encodeErrorJson("unreadable")));
        return;
    }
    if (const auto* key = std::get_if<ControlKey>(&*message)) {
        viewer->control = hub_.controlKeyValid(key->key);
        viewer->key = key->key;
        if (!viewer->control)
            socket->sendTextMessage(QString::fromStdString(encodeErrorJson("not paired")));
        sendState(*viewer);
        return;
    }
    if (const auto* pair = std::get_if<PairRequest>(&*message)) {
        const auto key = hub_.pair(pair->code, pair->device);
        if (!key) {
            socket->sendTextMessage(QString::fromStdString(encodeErrorJson("wrong code")));
            return;
        }
        viewer->control = true;
        viewer->key = *key;
        socket->sendTextMessage(QString::fromStdString(encodePairedJson(*key)));
        sendState(*viewer);
        return;
    }
    const auto& command = std::get<RemoteCommand>(*message);
    // A pairing revoked since is checked at every command.
    if (!viewer->control || !hub_.controlKeyValid(viewer->key)) {
        viewer->control = false;
        socket->sendTextMessage(QString::fromStdString(encodeErrorJson("not paired")));
        return;
    }
    hub_.command(command);
}

void RemoteWorker::sendState(Viewer& viewer) {
    const auto state = hub_.state();
    viewer.socket->sendTextMessage(QString::fromStdString(encodeStateJson(*state, viewer.control)));
}

void RemoteWorker::stateChanged() {
    const Duration wait = pacer_.changed(steadyNow());
    if (wait == Duration::zero()) {
        broadcast();
        return;
    }
    if (!paceTimer_.isActive())
        paceTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(wait));
}

void RemoteWorker::broadcast() {
    const auto state = hub_.state();
    const QString forViewers = QString::fromStdString(encodeStateJson(*state, false));
    const QString forControllers = QString::fromStdString(encodeStateJson(*state, true));
    std::vector<QWebSocket*> stalled;
    for (auto& viewer : viewers_) {
        // A phone that stopped reading is let go rather than queued for without end.
        if (viewer->socket->bytesToWrite() > kMaxUnsentBytes) {
            stalled.push_back(viewer->socket);
            continue;
        }
        viewer->socket->sendTextMessage(viewer->control ? forControllers : forViewers);
    }
    // After the loop: aborting disconnects at once, which takes the viewer out of the list.
    for (QWebSocket* socket : stalled)
        socket->abort();
    if (osc_) {
        const auto& subscribers = subscribers_.current(steadyNow());
        if (subscribers.empty())
            return;
        const auto bytes = osc::encode(oscStateMessage(*state));
        const QByteArray datagram(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<qsizetype>(bytes.size()));
        for (const auto& s : subscribers)
            osc_->writeDatagram(datagram, QHostAddress(QString::fromStdString(s.address)), s.port);
    }
}

void RemoteWorker::readOsc() {
    for (int n = 0; osc_ && osc_->hasPendingDatagrams(); ++n) {
        if (n == kDatagramsPerTurn) {
            // The rest after whatever else waits (a viewer, a new connection).
            QMetaObject::invokeMethod(
                this, [this] { readOsc(); }, Qt::QueuedConnection);
            return;
        }
        const QNetworkDatagram datagram =
            osc_->receiveDatagram(static_cast<qint64>(osc::kMaxPacketBytes) + 4);
        const QByteArray data = datagram.data();
        const std::string sender = plainAddress(datagram.senderAddress()).toStdString();
        if (!hub_.oscSenderAllowed(sender))
            continue;
        if (data.size() > static_cast<qsizetype>(osc::kMaxPacketBytes) ||
            !oscGate_.allow(steadyNow()))
            continue;
        const auto messages = osc::decode(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                          static_cast<std::size_t>(data.size()));
        for (const osc::Message& message : messages) {
            if (message.address == kOscSubscribe) {
                const QHostAddress address = datagram.senderAddress();
                const auto port = static_cast<quint16>(datagram.senderPort());
                // Refused when the list is full: the one reply below is all it gets.
                subscribers_.subscribe(sender, port, steadyNow());
                const auto bytes = osc::encode(oscStateMessage(*hub_.state()));
                osc_->writeDatagram(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<qint64>(bytes.size()), address, port);
            } else if (const auto command = commandFromOsc(message)) {
                hub_.command(*command);
            }
        }
    }
}

} // namespace strata
