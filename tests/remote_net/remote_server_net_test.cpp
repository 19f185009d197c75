// The band remote over real sockets on loopback: the page only with the viewer token, live state
// over the WebSocket, control only once paired, NEXT from a phone reaching the DAW by the reflex,
// a second phone seeing the change, oversized input cut off, and OSC from allowed senders only.

#include "live/live_rig.h"
#include "remote/osc.h"
#include "remote/remote_hub.h"
#include "remote_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>

using namespace strata;
using namespace strata::testing;

namespace {

constexpr quint16 kWebPort = 18750;
constexpr quint16 kOscPort = 18751;

class RemoteServerTest : public LiveTest {
protected:
    void SetUp() override {
        Setlist set =
            makeSet({{"One", "Intro", "Verse", "Chorus"}, {"Two", "Start"}}, ControlMode::ccMute);
        muteAt(set, 0, 1, 0, {1});
        start(std::move(set));
        live->appear();
        hub = std::make_unique<RemoteHub>(*app, *live, *service, *link, loop, settings);
        server = std::make_unique<RemoteServer>(*hub, QHostAddress::LocalHost);
        settle();
        synthHeard();
    }
    void TearDown() override {
        server.reset();
        hub.reset();
    }

    // Runs the Qt events of this thread (the clients) and the virtual main loop until `done`, or
    // a generous real-time limit; nothing asserts how long it took.
    template <typename Pred>
    bool spin(Pred done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            settle();
        }
        return done();
    }

    void turnOn(bool web, bool osc, std::vector<std::string> allowed = {}) {
        RemoteConfig config = hub->config();
        config.webEnabled = web;
        config.webPort = kWebPort;
        config.oscEnabled = osc;
        config.oscPort = kOscPort;
        config.oscAllowed = std::move(allowed);
        hub->setConfig(config);
        ASSERT_TRUE(spin([&] {
            return (!web || server->webPort() == kWebPort) &&
                   (!osc || server->oscPort() == kOscPort);
        }));
    }

    // One HTTP exchange on a raw socket: the status line and the body.
    std::pair<std::string, std::string> get(const std::string& target) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, kWebPort);
        EXPECT_TRUE(spin([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        socket.write(QByteArray::fromStdString(
            "GET " + target + " HTTP/1.1\r\nHost: stage\r\nConnection: close\r\n\r\n"));
        QByteArray reply;
        spin([&] {
            reply += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState ||
                   reply.contains("</html>") || reply.contains("Not found");
        });
        const std::string text = reply.toStdString();
        const auto lineEnd = text.find("\r\n");
        const auto bodyAt = text.find("\r\n\r\n");
        return {text.substr(0, lineEnd),
                bodyAt == std::string::npos ? std::string() : text.substr(bodyAt + 4)};
    }

    // A phone's WebSocket and everything it received.
    struct Phone {
        QWebSocket socket;
        std::vector<nlohmann::json> received;
        bool closed = false;
        Phone() {
            QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& t) {
                received.push_back(nlohmann::json::parse(t.toStdString(), nullptr, false));
            });
            QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        }
        void send(const std::string& text) { socket.sendTextMessage(QString::fromStdString(text)); }
        // The latest state received, or null.
        nlohmann::json state() const {
            for (auto it = received.rbegin(); it != received.rend(); ++it)
                if (it->contains("now"))
                    return *it;
            return nullptr;
        }
        bool saw(const char* key, const std::string& value) const {
            for (const auto& m : received)
                if (m.contains(key) && (*m.find(key)) == value)
                    return true;
            return false;
        }
    };
    std::unique_ptr<Phone> openPhone(const std::string& token) {
        auto phone = std::make_unique<Phone>();
        phone->socket.open(QUrl(QString::fromStdString(
            "ws://127.0.0.1:" + std::to_string(kWebPort) + "/ws?t=" + token)));
        return phone;
    }

    std::unique_ptr<RemoteHub> hub;
    std::unique_ptr<RemoteServer> server;
};

// Qt's warnings, from any thread, while an instance lives.
class WarningCatcher {
public:
    WarningCatcher() { previous_ = qInstallMessageHandler(&WarningCatcher::handle); }
    ~WarningCatcher() { qInstallMessageHandler(previous_); }
    static std::vector<std::string> caught() {
        std::lock_guard lock(mutex_);
        return caught_;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        std::lock_guard lock(mutex_);
        caught_.push_back(text.toStdString());
    }
    QtMessageHandler previous_ = nullptr;
    static inline std::mutex mutex_;
    static inline std::vector<std::string> caught_;
};

TEST_F(RemoteServerTest, APhoneSeesTheSetAndMovesItOnlyOncePairedAndBadOpeningsAreShutOutQuietly) {
    // Off until turned on.
    EXPECT_EQ(server->webPort(), 0);
    turnOn(true, false);
    const std::string token = hub->viewerToken();

    // Nothing without the token; the page with it, with nothing fetched from elsewhere.
    for (const std::string& target : {std::string("/"), "/?t=" + token.substr(0, 31),
                                      "/etc/passwd?t=" + token, "/index.html?t=" + token}) {
        SCOPED_TRACE(target);
        EXPECT_NE(get(target).first.find("404"), std::string::npos);
    }
    const auto [status, body] = get("/?t=" + token);
    EXPECT_NE(status.find("200"), std::string::npos);
    EXPECT_NE(body.find("<title>Strata</title>"), std::string::npos);
    EXPECT_EQ(body.find("http://"), std::string::npos);
    EXPECT_EQ(body.find("https://"), std::string::npos);

    // Bad openings, each on a socket of its own, are closed without a word in the log; so is a
    // WebSocket without the token. With it, the set arrives.
    WarningCatcher warnings;
    const std::string head = "GET /ws?t=" + token +
                             " HTTP/1.1\r\nHost: stage\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\n";
    const std::string openings[] = {
        head + "Sec-WebSocket-Version: 13\r\n\r\n", // no key
        head + "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 99\r\n\r\n",
        "GET / HTTP/1.1\r\nX-Long: " + std::string(40000, 'a'), // beyond the byte budget
    };
    for (const std::string& opening : openings) {
        SCOPED_TRACE(opening.substr(0, 120));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, kWebPort);
        ASSERT_TRUE(spin([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        socket.write(QByteArray::fromStdString(opening));
        EXPECT_TRUE(spin([&] {
            socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        }));
    }
    auto stranger = openPhone(std::string(32, '0'));
    ASSERT_TRUE(spin([&] { return stranger->closed; }));
    EXPECT_TRUE(stranger->received.empty());
    auto phone = openPhone(token);
    auto second = openPhone(token);
    ASSERT_TRUE(spin([&] { return !phone->state().is_null() && !second->state().is_null(); }));
    EXPECT_EQ(phone->state()["songs"], nlohmann::json({"One", "Two"}));
    EXPECT_EQ(phone->state()["now"], "Intro");
    EXPECT_EQ(phone->state()["next"], "Verse");
    EXPECT_EQ(phone->state()["control"], false);
    EXPECT_EQ(WarningCatcher::caught(), std::vector<std::string>{});

    // Not paired: NEXT is refused and nothing moves.
    phone->send(R"({"cmd":"next"})");
    ASSERT_TRUE(spin([&] { return phone->saw("error", "not paired"); }));
    phone->send(R"({"pair":"000000x","device":"Drums"})");
    ASSERT_TRUE(spin([&] { return phone->saw("error", "wrong code"); }));
    EXPECT_EQ(position(), (Position{0, 0, 0}));
    EXPECT_EQ(synthHeard(), Packets{});

    // Paired: NEXT reaches the synth's mutes, and the other phone sees the new section.
    phone->send(R"({"pair":")" + hub->pairingCode() + R"(","device":"Drums"})");
    ASSERT_TRUE(spin([&] { return phone->state()["control"] == true; }));
    phone->send(R"({"cmd":"next"})");
    ASSERT_TRUE(spin([&] { return second->state()["now"] == "Verse"; }));
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    EXPECT_EQ(synthHeard(), ccRound({1}));
    EXPECT_EQ(second->state()["control"], false);
    ASSERT_EQ(hub->pairings().size(), 1U);
    EXPECT_EQ(hub->pairings()[0].device, "Drums");

    // A revoked pairing controls no more.
    hub->revoke(hub->pairings()[0].id);
    phone->received.clear();
    phone->send(R"({"cmd":"next"})");
    ASSERT_TRUE(spin([&] { return phone->saw("error", "not paired"); }));
    EXPECT_EQ(position(), (Position{0, 1, 0}));

    // An oversized message ends the connection; the other phone stays.
    phone->send(std::string(kMaxPageMessageBytes * 4, 'x'));
    ASSERT_TRUE(spin([&] { return phone->closed; }));
    EXPECT_FALSE(second->closed);

    // Turned off: the phones are let go.
    turnOn(false, false);
    ASSERT_TRUE(spin([&] { return second->closed && server->webPort() == 0; }));
}

TEST_F(RemoteServerTest, OscIsObeyedFromAllowedSendersOnly) {
    turnOn(false, true, {"127.0.0.1"});
    QUdpSocket allowed;
    ASSERT_TRUE(allowed.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    QUdpSocket refused;
    ASSERT_TRUE(refused.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    const auto send = [](QUdpSocket& socket, const osc::Message& message) {
        const auto bytes = osc::encode(message);
        socket.writeDatagram(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qint64>(bytes.size()), QHostAddress::LocalHost, kOscPort);
    };
    std::vector<osc::Message> replies;
    const auto readReplies = [&] {
        while (allowed.hasPendingDatagrams()) {
            const QByteArray data = allowed.receiveDatagram().data();
            for (auto& m : osc::decode(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                       static_cast<std::size_t>(data.size())))
                replies.push_back(std::move(m));
        }
        return !replies.empty();
    };

    // The refused sender's commands go first; the subscription's answer shows they were read.
    send(refused, {"/strata/next", {}});
    send(refused, {"/strata/subscribe", {}});
    send(allowed, {"/strata/subscribe", {}});
    ASSERT_TRUE(spin(readReplies));
    EXPECT_EQ(position(), (Position{0, 0, 0}));
    EXPECT_FALSE(refused.hasPendingDatagrams());
    EXPECT_EQ(replies.back().address, "/strata/state");
    EXPECT_EQ(std::get<std::string>(replies.back().arguments.at(4)), "Intro");

    // Allowed: NEXT by the reflex, then the subscriber hears the change.
    replies.clear();
    send(allowed, {"/strata/next", {}});
    ASSERT_TRUE(spin([&] {
        readReplies();
        return !replies.empty() && std::get<std::string>(replies.back().arguments.at(4)) == "Verse";
    }));
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    EXPECT_EQ(synthHeard(), ccRound({1}));

    // A song by a float argument, as control apps send; garbage in between changes nothing.
    const QByteArray garbage("\x2f\x00\x01", 3);
    allowed.writeDatagram(garbage, QHostAddress::LocalHost, kOscPort);
    send(allowed, {"/strata/song", {1.0f}});
    ASSERT_TRUE(spin([&] { return position() == Position{1, 0, 0}; }));
    EXPECT_FALSE(refused.hasPendingDatagrams());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
