#include "cuelink/cadenzo_link.h"

#include "platform/log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
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
    if (options.adoptSocket >= 0)
        fd_ = options.adoptSocket;
    else if (options.openSocket)
        openSocket();
    if (fd_ >= 0)
        startReading(std::move(options.readerStarted));
    startDiscoveryPing();
}

CadenzoLink::~CadenzoLink() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        // An eventfd write of 1 cannot block or fail short of an overflow of its counter.
        (void)!::write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    if (stopFd_ >= 0)
        ::close(std::exchange(stopFd_, -1));
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
    groupSocket_ = true;
}

void CadenzoLink::startReading(std::function<void()> started) {
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ >= 0) {
        reader_ = std::thread([this, started = std::move(started)] {
            if (started)
                started();
            readLoop();
        });
        return;
    }
    logLine("[CadenzoLink] eventfd() failed; reading on the main thread");
    readBuffer_.resize(cue_link::kReadSize);
    // The watch belongs to the link and ends with it, so the callback never outlives `this`.
    source_ = loop_.watchReadable(fd_, [this] { receive(); });
}

void CadenzoLink::readLoop() {
    std::vector<std::uint8_t> buffer(cue_link::kReadSize);
    pollfd watched[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        watched[0].revents = watched[1].revents = 0;
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            logLine("[CadenzoLink] poll() failed errno=" + std::to_string(err));
            return;
        }
        if (watched[1].revents != 0)
            return;
        // An error report (an ICMP error queued on the socket, say) is cleared by the read, which
        // then comes back empty.
        if (watched[0].revents != 0)
            readOne(buffer);
    }
}

void CadenzoLink::readOne(std::vector<std::uint8_t>& buffer) {
    // MSG_DONTWAIT: a readiness report can be spurious (a datagram dropped for a bad checksum),
    // and a blocking read would then not see the stop request. MSG_TRUNC reports the datagram's
    // real length, so that a cut-off part of an oversize datagram is never decoded.
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 1 || static_cast<std::size_t>(n) > buffer.size())
        return;
    auto decoded = decodeDatagram(CueBytes(buffer.data(), static_cast<std::size_t>(n)));
    if (!decoded)
        return;
    // A FIRE is answered here when the reflex can, so that the jump's mutes never wait for the
    // main thread; the main thread still learns of the datagram (traffic, in order) afterwards.
    bool answered = false;
    if (const Fire* fire = std::get_if<Fire>(&decoded->message)) {
        std::lock_guard lock(reflexLock_);
        answered = fireReflex_ && fireReflex_(*fire);
    }
    loop_.post([alive = lifetime_.watch(), datagram = std::move(*decoded), answered] {
        if (CadenzoLink* self = alive.get())
            self->apply(datagram, answered);
    });
}

void CadenzoLink::setFireReflex(FireReflex reflex) {
    std::lock_guard lock(reflexLock_);
    fireReflex_ = std::move(reflex);
}

void CadenzoLink::receive() {
    STRATA_ASSERT_THREAD(thread_);
    if (fd_ < 0)
        return;
    // One read per readiness report; never blocking (see readOne).
    const ssize_t n = ::recv(fd_, readBuffer_.data(), readBuffer_.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 1 || static_cast<std::size_t>(n) > readBuffer_.size())
        return;
    handleDatagram(CueBytes(readBuffer_.data(), static_cast<std::size_t>(n)));
}

void CadenzoLink::handleDatagram(CueBytes bytes) {
    STRATA_ASSERT_THREAD(thread_);
    const auto decoded = decodeDatagram(bytes);
    if (decoded)
        apply(*decoded, false);
}

void CadenzoLink::apply(const DecodedDatagram& decoded, bool answered) {
    STRATA_ASSERT_THREAD(thread_);
    // Discovery datagrams are what Strata sends, never Cadenzo: our own comes back over loopback
    // every few seconds, and another Strata on the network sends its own. Neither says anything
    // about Cadenzo, so neither may keep a link alive whose Cadenzo has gone. Every other
    // well-formed envelope is traffic from Cadenzo, whatever its type and whether or not the typed
    // message turns out valid.
    if (decoded.envelope.type == cue_type::kStrataHello)
        return;
    lastHeartbeat_ = loop_.now();

    const auto alive = lifetime_.watch();
    std::visit(Overloaded{
                   [&](std::monostate) {
                       if (decoded.envelope.type == cue_type::kGoodbye)
                           disconnect();
                   },
                   [&](const Hello& m) {
                       watchHeartbeat();
                       connection.set(ConnectionState::connected(m.host));
                   },
                   [&](const SetlistSnapshot& m) { snapshot.notify(m); },
                   [&](const LiveState& m) {
                       if (!connection.get().isConnected()) {
                           watchHeartbeat();
                           connection.set(
                               ConnectionState::connected(std::string(cue_link::kFallbackHost)));
                           if (alive.expired())
                               return;
                       }
                       liveState_ = m;
                       liveTick.notify(m);
                   },
                   [&](const Fire& m) {
                       if (!answered)
                           fire.notify(m);
                   },
                   [&](const MarkerHit& m) { markerHit.notify(m); },
               },
               decoded.message);
}

void CadenzoLink::disconnect() {
    STRATA_ASSERT_THREAD(thread_);
    // Nothing to watch until Cadenzo is heard again (this may run inside the watchdog's own
    // round, which a loop allows).
    heartbeatTimer_.reset();
    const auto alive = lifetime_.watch();
    connection.set(ConnectionState::disconnected());
    if (alive.expired())
        return;
    liveState_.reset();
}

void CadenzoLink::watchHeartbeat() {
    // Only while connected: a program that hears no Cadenzo has nothing to give up, and should
    // not wake every two seconds to find that out.
    if (!heartbeatTimer_)
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
    if (fd_ < 0 || !groupSocket_)
        return;
    static const sockaddr_in group = groupEndpoint();
    // From the link's own socket, so the source port is the cue-link port. A failed send is
    // not reported; the next period tries again. Never wait for buffer space on the main thread.
    (void)::sendto(fd_, kDiscoveryDatagram.data(), kDiscoveryDatagram.size(), MSG_DONTWAIT,
                   reinterpret_cast<const sockaddr*>(&group), sizeof group);
}

} // namespace strata
