#include "remote_load.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace strata::bench {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::string;

sockaddr_in loopback(std::uint16_t port, const char* address = "127.0.0.1") {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    return to;
}

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & events) != 0;
}

// A non-blocking TCP connection to loopback `port`, or -1 when it is not made within the time.
int connectTo(std::uint16_t port, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        int error = errno;
        if (error == EINPROGRESS && waitFor(fd, POLLOUT, timeoutMs)) {
            socklen_t size = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
        if (error != 0) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

// Sends all of `bytes` unless the peer closes or it takes longer than `timeoutMs`.
bool sendAll(int fd, std::string_view bytes, int timeoutMs = 200) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT, timeoutMs))
            continue;
        return false;
    }
    return true;
}

// One client frame: masked, as a client's must be, unless `masked` is false.
Bytes frame(std::uint8_t first, std::string_view payload, bool masked = true) {
    Bytes out;
    out += static_cast<char>(first);
    const std::uint8_t mask = masked ? 0x80 : 0x00;
    if (payload.size() < 126) {
        out += static_cast<char>(mask | payload.size());
    } else {
        out += static_cast<char>(mask | 126);
        out += static_cast<char>(payload.size() >> 8);
        out += static_cast<char>(payload.size() & 0xFF);
    }
    const char key[4] = {0x12, 0x34, 0x56, 0x78};
    if (masked)
        out.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        out += static_cast<char>(payload[i] ^ (masked ? key[i % 4] : 0));
    return out;
}

// The bad frames a broken or hostile page might send once its WebSocket is open.
Bytes badFrame(int kind) {
    switch (kind % 11) {
    case 0:
        return frame(0x81, "not masked", false);
    case 1:
        return frame(0x83, ""); // a reserved opcode
    case 2: {
        // A length of a terabyte announced, a few bytes sent.
        Bytes out = "\x82\xFF";
        for (int shift = 56; shift >= 0; shift -= 8)
            out += static_cast<char>((std::uint64_t{1} << 40) >> shift);
        return out + "\x12\x34\x56\x78" + "abcd";
    }
    case 3:
        return frame(0x81, "\xC3\x28\xFF\xFE"); // text that is not UTF-8
    case 4:
        return frame(0x81, "{{{{ not json");
    case 5:
        return frame(0x82, Bytes(16, '\x01'));
    case 6:
        return frame(0x80, "a continuation of nothing");
    case 7:
        return frame(0xC1, "{\"cmd\":\"prev\"}"); // a reserved bit set
    case 8:
        return frame(0x81, Bytes(600, 'a')); // longer than a page message may be
    case 9:
        return frame(0x89, Bytes(200, 'p')); // a ping longer than a control frame may be
    default:
        return frame(0x01, "{\"cmd\":"); // the start of a message that never ends
    }
}

// Garbage a web client might send instead of a page request.
Bytes badRequest(int kind, std::mt19937& random, const std::string& token) {
    switch (kind % 7) {
    case 0: {
        Bytes out(1 + random() % 400, '\0');
        for (char& c : out)
            c = static_cast<char>(random());
        return out;
    }
    case 1:
        return "GET /?t=0000000000000000 HTTP/1.1\r\nHost: x\r\n\r\n";
    case 2:
        return "GET / HTTP/1.1\r\nX-Long: " + Bytes(40000, 'a'); // a header without end
    case 3:
        return "POST /?t=" + token + " HTTP/1.1\r\nContent-Length: 99999999\r\n\r\nabc";
    case 4:
        return "GET /";
    case 5:
        return "\r\n\r\n\r\n\r\n";
    default:
        return "GET /ws?t=" + token +
               " HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Version: 99\r\n\r\n"; // an upgrade without a key
    }
}

Bytes padded(std::string_view text) {
    Bytes out(text);
    out += '\0';
    while (out.size() % 4 != 0)
        out += '\0';
    return out;
}

// Malformed OSC datagrams. None is a command, whatever part of it is read.
Bytes badDatagram(int kind, std::mt19937& random) {
    switch (kind % 10) {
    case 0: {
        Bytes out(random() % 1400, '\0');
        for (char& c : out)
            c = static_cast<char>(random());
        return out;
    }
    case 1:
        return "/strata/nxtx"; // an address without its terminator
    case 2:
        return padded("/junk") + padded(",i") + "\x01\x02"; // the integer overruns
    case 3:
        return padded("/junk") + padded(",b") + Bytes(8, '\x01'); // a type we do not read
    case 4: // a bundle whose element claims more than there is
        return padded("#bundle") + Bytes(8, '\0') + "\x7F\xFF\xFF\xFF" + "abcd";
    case 5: { // bundles nested deeper than read
        Bytes inner = padded("/junk") + padded(",");
        for (int depth = 0; depth < 8; ++depth) {
            const auto size = static_cast<std::uint32_t>(inner.size());
            Bytes length(4, '\0');
            for (int i = 0; i < 4; ++i)
                length[i] = static_cast<char>(size >> (24 - 8 * i));
            inner = padded("#bundle") + Bytes(8, '\0') + length + inner;
        }
        return inner;
    }
    case 6: { // more messages than are taken from one datagram
        Bytes out = padded("#bundle") + Bytes(8, '\0');
        const Bytes element = padded("/junk") + padded(",");
        for (int i = 0; i < 40; ++i)
            out += Bytes{'\0', '\0', '\0', static_cast<char>(element.size())} + element;
        return out;
    }
    case 7:
        return padded("/junk") + "\x01"; // not a multiple of four
    case 8:
        return padded("/junk") + padded(",s") + Bytes(1100, 's'); // longer than read at all
    default:
        return {};
    }
}

int udpSocket(const char* address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in local = loopback(0, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendDatagram(int fd, std::uint16_t port, std::string_view bytes) {
    const sockaddr_in to = loopback(port);
    return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(bytes.size());
}

// Paces a loop at one turn per `interval`; a loop that fell far behind starts afresh rather than
// catching up in a burst.
class Pace {
public:
    explicit Pace(std::chrono::microseconds interval) : interval_(interval), next_(Clock::now()) {}
    void wait() {
        next_ += interval_;
        const auto now = Clock::now();
        if (now > next_ + std::chrono::milliseconds(50))
            next_ = now;
        std::this_thread::sleep_until(next_);
    }

private:
    std::chrono::microseconds interval_;
    Clock::time_point next_;
};

} // namespace

int openWebSocket(const RemoteEndpoint& remote, const std::string& token, std::string* rest,
                  int timeoutMs) {
    const int fd = connectTo(remote.webPort, timeoutMs);
    if (fd < 0)
        return -1;
    const Bytes request = "GET /ws?t=" + token +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n";
    Bytes answer;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (sendAll(fd, request, timeoutMs)) {
        char buffer[4096];
        while (answer.find("\r\n\r\n") == Bytes::npos && Clock::now() < deadline) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0)
                answer.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                break;
            else
                waitFor(fd, POLLIN, 20);
        }
    }
    const auto end = answer.find("\r\n\r\n");
    if (end == Bytes::npos || answer.rfind("HTTP/1.1 101", 0) != 0) {
        ::close(fd);
        return -1;
    }
    if (rest)
        *rest = answer.substr(end + 4);
    return fd;
}

bool ViewerCrowd::open(const RemoteEndpoint& remote, int count, std::string* error) {
    for (int i = 0; i < count; ++i) {
        Viewer viewer;
        viewer.fd = openWebSocket(remote, remote.token, &viewer.buffer, 5000);
        if (viewer.fd < 0) {
            *error = "viewer " + std::to_string(i + 1) + " of " + std::to_string(count) +
                     " could not open its WebSocket";
            for (Viewer& v : viewers_)
                ::close(v.fd);
            viewers_.clear();
            return false;
        }
        viewers_.push_back(std::move(viewer));
    }
    connected_ = count;
    reader_ = std::thread([this] { run(); });
    return true;
}

void ViewerCrowd::stop() {
    stopping_ = true;
    if (reader_.joinable())
        reader_.join();
    for (Viewer& v : viewers_)
        if (v.fd >= 0)
            ::close(v.fd);
    viewers_.clear();
}

// Takes the complete frames out of the viewer's buffer; false once the server closed.
bool ViewerCrowd::takeFrames(Viewer& viewer) {
    Bytes& b = viewer.buffer;
    for (;;) {
        if (b.size() < 2)
            return true;
        const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(b[i]); };
        std::uint64_t length = at(1) & 0x7F;
        std::size_t header = 2;
        if (length == 126) {
            if (b.size() < 4)
                return true;
            length = (std::uint64_t{at(2)} << 8) | at(3);
            header = 4;
        } else if (length == 127) {
            if (b.size() < 10)
                return true;
            length = 0;
            for (std::size_t i = 2; i < 10; ++i)
                length = (length << 8) | at(i);
            header = 10;
        }
        if ((at(1) & 0x80) != 0)
            header += 4; // a server never masks; skipped all the same
        if (length > (16U << 20))
            return false; // no state is that large: the stream is broken
        if (b.size() < header + length)
            return true;
        const int opcode = at(0) & 0x0F;
        if (opcode == 0x1 && (at(0) & 0x80) != 0)
            ++viewer.messages;
        if (opcode == 0x8)
            return false;
        if (opcode == 0x9) // ping: the answer a page's browser would give
            sendAll(viewer.fd, frame(0x8A, std::string_view(b).substr(header, length)));
        b.erase(0, header + length);
    }
}

void ViewerCrowd::run() {
    std::vector<pollfd> polls;
    std::vector<Viewer*> polled;
    char buffer[65536];
    while (!stopping_) {
        polls.clear();
        polled.clear();
        for (Viewer& v : viewers_)
            if (v.open) {
                polls.push_back({v.fd, POLLIN, 0});
                polled.push_back(&v);
            }
        if (polls.empty())
            break;
        if (::poll(polls.data(), polls.size(), 50) <= 0)
            continue;
        for (std::size_t i = 0; i < polls.size(); ++i) {
            if (polls[i].revents == 0)
                continue;
            Viewer& v = *polled[i];
            const ssize_t n = ::recv(v.fd, buffer, sizeof buffer, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            const std::uint64_t before = v.messages;
            if (n > 0)
                v.buffer.append(buffer, static_cast<std::size_t>(n));
            if (n <= 0 || !takeFrames(v)) {
                v.open = false;
                --connected_;
            }
            messages_ += v.messages - before;
        }
        std::uint64_t fewest = std::numeric_limits<std::uint64_t>::max();
        for (const Viewer& v : viewers_)
            fewest = std::min(fewest, v.messages);
        fewest_ = fewest;
    }
}

bool MalformedFlood::start(const RemoteEndpoint& remote, std::string* error) {
    remote_ = remote;
    allowedFd_ = udpSocket("127.0.0.1");
    refusedFd_ = udpSocket("127.0.0.2");
    if (allowedFd_ < 0 || refusedFd_ < 0) {
        *error = "the flood's datagram senders could not bind to 127.0.0.1 and 127.0.0.2";
        return false;
    }
    stopping_ = false;
    tcp_ = std::thread([this] { runTcp(); });
    osc_ = std::thread([this] { runOsc(); });
    return true;
}

void MalformedFlood::stop() {
    stopping_ = true;
    if (tcp_.joinable())
        tcp_.join();
    if (osc_.joinable())
        osc_.join();
    for (int* fd : {&allowedFd_, &refusedFd_})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

MalformedFlood::Counts MalformedFlood::counts() const {
    return Counts{http_.load(),       frames_.load(),     wsRefused_.load(),
                  oscAllowed_.load(), oscRefused_.load(), subscribes_.load()};
}

// 500 garbage requests and 500 WebSockets with a bad frame each second (when the program keeps
// up: each WebSocket waits for its handshake's answer).
void MalformedFlood::runTcp() {
    std::mt19937 random(7);
    Pace pace(std::chrono::microseconds(2000));
    for (int turn = 0; !stopping_; ++turn) {
        if (const int fd = connectTo(remote_.webPort, 200); fd >= 0) {
            sendAll(fd, badRequest(turn, random, remote_.token));
            ::close(fd);
            ++http_;
        }
        // Every eleventh with a wrong token (refused after the handshake), the rest with the
        // link's token, so that the bad frames reach the page's own reading.
        const bool wrongToken = turn % 11 == 10;
        const int ws =
            openWebSocket(remote_, wrongToken ? Bytes(32, '0') : remote_.token, nullptr, 200);
        if (ws >= 0) {
            sendAll(ws, badFrame(turn));
            ::close(ws);
            ++frames_;
        } else {
            ++wsRefused_;
        }
        pace.wait();
    }
}

// 2000 malformed datagrams each second from each sender; now and then a subscription from a new
// port of the allowed sender, which closes at once (a control app that went away).
void MalformedFlood::runOsc() {
    std::mt19937 random(11);
    Pace pace(std::chrono::microseconds(1000));
    for (int turn = 0; !stopping_; ++turn) {
        for (int k = 0; k < 2; ++k) {
            const Bytes bad = badDatagram(2 * turn + k, random);
            oscAllowed_ += sendDatagram(allowedFd_, remote_.oscPort, bad) ? 1 : 0;
            oscRefused_ += sendDatagram(refusedFd_, remote_.oscPort, bad) ? 1 : 0;
        }
        if (turn % 100 == 0) {
            if (const int fd = udpSocket("127.0.0.1"); fd >= 0) {
                subscribes_ +=
                    sendDatagram(fd, remote_.oscPort, padded("/strata/subscribe") + padded(","))
                        ? 1
                        : 0;
                ::close(fd);
            }
        }
        pace.wait();
    }
}

} // namespace strata::bench
