#pragma once

#include "platform/main_loop.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// The control apps that asked for the state over OSC. OSC has no connections, so nothing tells
// us when an app goes away: a subscription holds for a while and is renewed by subscribing
// again (the apps we answer resend theirs every few seconds), and there is a cap, so that
// neither a departed app nor a sender cycling through source ports keeps us sending for ever.
// When the list is full a newcomer is refused rather than one already listening dropped: a burst
// of subscriptions must not cut off the app the band relies on. Times come from the caller (a
// steady clock in the server, virtual time in tests).
class OscSubscribers {
public:
    static constexpr Duration kHold = std::chrono::seconds(60);
    static constexpr std::size_t kMaxSubscribers = 16;

    struct Subscriber {
        std::string address; // as plain text, the way the allowed senders are listed
        std::uint16_t port = 0;
        TimePoint until{};
    };

    explicit OscSubscribers(Duration hold = kHold, std::size_t cap = kMaxSubscribers)
        : hold_(hold), cap_(cap) {}

    // Subscribes `address`:`port` from `now` on, or renews its subscription. False when it is
    // new and the list is full of subscriptions that still hold.
    bool subscribe(std::string_view address, std::uint16_t port, TimePoint now);
    // The subscriptions that hold at `now` (the others are forgotten).
    const std::vector<Subscriber>& current(TimePoint now);
    void clear() { subscribers_.clear(); }

private:
    void expire(TimePoint now);

    Duration hold_;
    std::size_t cap_;
    std::vector<Subscriber> subscribers_;
};

} // namespace strata
