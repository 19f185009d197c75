#pragma once

#include <optional>
#include <string>
#include <utility>

namespace strata {

// Whether Cadenzo is being heard, and under which host name: `connected(host)` or
// `disconnected`. Equal when both are disconnected, or both connected with equal host texts.
class ConnectionState {
public:
    // Default: disconnected.
    ConnectionState() = default;

    static ConnectionState disconnected() { return ConnectionState(); }
    static ConnectionState connected(std::string host) {
        ConnectionState s;
        s.host_ = std::move(host);
        return s;
    }

    bool isConnected() const { return host_.has_value(); }
    // The host of a connected state; none when disconnected.
    const std::optional<std::string>& host() const { return host_; }

    friend bool operator==(const ConnectionState&, const ConnectionState&) = default;

private:
    std::optional<std::string> host_;
};

} // namespace strata
