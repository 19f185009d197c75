#include "remote/osc_subscribers.h"

#include <algorithm>

namespace strata {

void OscSubscribers::expire(TimePoint now) {
    std::erase_if(subscribers_, [now](const Subscriber& s) { return s.until <= now; });
}

bool OscSubscribers::subscribe(std::string_view address, std::uint16_t port, TimePoint now) {
    expire(now);
    const auto known =
        std::find_if(subscribers_.begin(), subscribers_.end(),
                     [&](const Subscriber& s) { return s.address == address && s.port == port; });
    if (known != subscribers_.end()) {
        known->until = std::max(known->until, now + hold_);
        return true;
    }
    if (subscribers_.size() >= cap_)
        return false;
    subscribers_.push_back(Subscriber{std::string(address), port, now + hold_});
    return true;
}

const std::vector<OscSubscribers::Subscriber>& OscSubscribers::current(TimePoint now) {
    expire(now);
    return subscribers_;
}

} // namespace strata
