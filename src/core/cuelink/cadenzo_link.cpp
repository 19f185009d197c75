#include "cuelink/cadenzo_link.h"

#include "platform/log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace strata {
namespace {

sockaddr_in groupEndpoint() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(cue_link::kPort);
    ::inet_pton(AF_INET, std::string(cue_link::kGroupAddress).c_str(), &addr.sin_addr);
    return addr;
}

template <typename... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <typename... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

} // namespace

CadenzoLink::CadenzoLink(MainLoop& loop) : CadenzoLink(loop, Options{}) {}

CadenzoLink::CadenzoLink(MainLoop& loop, Options options) : loop_(loop) {
    if (options.openSocket)
        openSocket();
    startHeartbeatWatcher();
    startDiscoveryPing();
}

CadenzoLink::~CadenzoLink() {
    source_.reset();
    heartbeatTimer_.reset();
    discoveryTimer_.reset();
    for (auto& send : earlyDiscovery_)
        send.reset();
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

void CadenzoLink::openSocket() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        logLine("[CadenzoLink] socket() failed");
        return;
    }
    // Both, so that another instance on this machine can bind the port and hear the group too.
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(cue_link::kPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int err = errno;
        logLine("[CadenzoLink] bind() failed errno=" + std::to_string(err));
        ::close(s);
        return;
    }

    ip_mreq membership{};
    membership.imr_multiaddr = groupEndpoint().sin_addr;
    membership.imr_interface.s_addr = htonl(INADDR_ANY); // the system's default interface
    if (::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        const int err = errno;
        logLine("[CadenzoLink] IP_ADD_MEMBERSHIP failed errno=" + std::to_string(err));
        ::close(s);
        return;
    }

    // A Cadenzo on this computer, and our own discovery datagram, reach the socket as well.
    const unsigned char loopBack = 1;
    ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &loopBack, sizeof loopBack);

    fd_ = s;
    readBuffer_.resize(cue_link::kReadSize);
    // The watch belongs to the link and ends with it, so the callback never outlives `this`.
    source_ = loop_.watchReadable(fd_, [this] { receive(); });
}

void CadenzoLink::receive() {
    STRATA_ASSERT_THREAD(thread_);
    if (fd_ < 0)
        return;
    // One read per readiness report. The socket stays blocking, but a readiness report can be
    // spurious (a datagram dropped for a bad checksum, say), and a blocking read would then stall
    // the main thread mid-show; MSG_DONTWAIT turns that into an empty read. MSG_TRUNC reports the
    // datagram's real length, so that a cut-off part of an oversize datagram is never decoded.
    const ssize_t n = ::recv(fd_, readBuffer_.data(), readBuffer_.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 1 || static_cast<std::size_t>(n) > readBuffer_.size())
        return;
    handleDatagram(CueBytes(readBuffer_.data(), static_cast<std::size_t>(n)));
}

void CadenzoLink::handleDatagram(CueBytes bytes) {
    STRATA_ASSERT_THREAD(thread_);
    auto decoded = decodeDatagram(bytes);
    if (!decoded)
        return;
    // Discovery datagrams are what Strata sends, never Cadenzo: our own comes back over loopback
    // every few seconds, and another Strata on the network sends its own. Neither says anything
    // about Cadenzo, so neither may keep a link alive whose Cadenzo has gone. Every other
    // well-formed envelope is traffic from Cadenzo, whatever its type and whether or not the typed
    // message turns out valid.
    if (decoded->envelope.type == cue_type::kStrataHello)
        return;
    lastHeartbeat_ = loop_.now();

    const auto alive = lifetime_.watch();
    std::visit(Overloaded{
                   [&](std::monostate) {
                       if (decoded->envelope.type == cue_type::kGoodbye)
                           disconnect();
                   },
                   [&](const Hello& m) { connection.set(ConnectionState::connected(m.host)); },
                   [&](const SetlistSnapshot& m) { snapshot.notify(m); },
                   [&](const LiveState& m) {
                       if (!connection.get().isConnected()) {
                           connection.set(
                               ConnectionState::connected(std::string(cue_link::kFallbackHost)));
                           if (alive.expired())
                               return;
                       }
                       liveState_ = m;
                       liveTick.notify(m);
                   },
                   [&](const Fire& m) { fire.notify(m); },
                   [&](const MarkerHit& m) { markerHit.notify(m); },
               },
               decoded->message);
}

void CadenzoLink::disconnect() {
    STRATA_ASSERT_THREAD(thread_);
    const auto alive = lifetime_.watch();
    connection.set(ConnectionState::disconnected());
    if (alive.expired())
        return;
    liveState_.reset();
}

void CadenzoLink::startHeartbeatWatcher() {
    heartbeatTimer_ = loop_.every(cue_link::kWatchdogPeriod, [this] { checkHeartbeat(); });
}

void CadenzoLink::checkHeartbeat() {
    if (!lastHeartbeat_)
        return;
    if (loop_.now() - *lastHeartbeat_ <= cue_link::kSilenceLimit)
        return;
    if (!connection.get().isConnected())
        return;
    disconnect(); // lastHeartbeat keeps its value
}

void CadenzoLink::startDiscoveryPing() {
    for (std::size_t i = 0; i < earlyDiscovery_.size(); ++i)
        earlyDiscovery_[i] =
            loop_.after(seconds(cue_link::kEarlyDiscoverySeconds[i]), [this] { sendDiscovery(); });
    discoveryTimer_ = loop_.every(cue_link::kDiscoveryPeriod, [this] { sendDiscovery(); });
}

void CadenzoLink::sendDiscovery() {
    if (fd_ < 0)
        return;
    static const sockaddr_in group = groupEndpoint();
    // From the link's own socket, so the source port is the cue-link port. A failed send is
    // not reported; the next period tries again. Never wait for buffer space on the main thread.
    (void)::sendto(fd_, kDiscoveryDatagram.data(), kDiscoveryDatagram.size(), MSG_DONTWAIT,
                   reinterpret_cast<const sockaddr*>(&group), sizeof group);
}

} // namespace strata
