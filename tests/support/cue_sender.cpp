#include "support/cue_sender.h"

#include "cuelink/cadenzo_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>

namespace strata::testing {

CueSender::CueSender() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

CueSender::~CueSender() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool CueSender::send(std::string_view datagram) const {
    if (fd_ < 0)
        return false;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(cue_link::kPort);
    ::inet_pton(AF_INET, std::string(cue_link::kGroupAddress).c_str(), &group.sin_addr);
    const auto n = ::sendto(fd_, datagram.data(), datagram.size(), 0,
                            reinterpret_cast<const sockaddr*>(&group), sizeof group);
    return n == static_cast<ssize_t>(datagram.size());
}

std::string snapshotDatagram(const std::string& songName,
                             const std::vector<std::string>& sections) {
    nlohmann::json song = {{"name", songName}, {"sections", sections}};
    return nlohmann::json{{"type", "SETLIST_SNAPSHOT"}, {"songs", {song}}}.dump();
}

} // namespace strata::testing
