#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strata::testing {

// Plays Cadenzo's side of the cue link in tests and harnesses: one UDP socket that sends
// datagrams to the cue-link multicast group. Only inside a private network namespace.
class CueSender {
public:
    CueSender();
    ~CueSender();
    CueSender(const CueSender&) = delete;
    CueSender& operator=(const CueSender&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Sends one datagram; false when it did not go out whole.
    bool send(std::string_view datagram) const;

private:
    int fd_ = -1;
};

// A "SETLIST_SNAPSHOT" whose first song has these section names.
std::string snapshotDatagram(const std::string& songName, const std::vector<std::string>& sections);

} // namespace strata::testing
