#include "jack/jack_observer.h"

#include <jack/jack.h>
#include <unistd.h>

namespace strata {

JackObserver::JackObserver(std::chrono::milliseconds setupCoalesce, JackWorkerWake& wake)
    : wake_(wake), setup_(setupCoalesce) {}

void JackObserver::install(jack_client_t* client) {
    jack_set_port_registration_callback(client, onPortRegistration, this);
    jack_set_client_registration_callback(client, onClientRegistration, this);
    jack_set_port_connect_callback(client, onPortConnect, this);
    jack_set_port_rename_callback(client, onPortRename, this);
}

void JackObserver::record(Notice notice) {
    noticeThread_.store(static_cast<int>(gettid()), std::memory_order_release);
    {
        std::lock_guard lock(mutex_);
        notices_.push_back(notice);
    }
    wake_.post();
}

void JackObserver::onPortRegistration(jack_port_id_t, int, void* self) {
    static_cast<JackObserver*>(self)->record({Notice::Type::registration});
}

void JackObserver::onClientRegistration(const char*, int, void* self) {
    static_cast<JackObserver*>(self)->record({Notice::Type::registration});
}

void JackObserver::onPortConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* self) {
    static_cast<JackObserver*>(self)->record({Notice::Type::connection, a, b, connected != 0});
}

void JackObserver::onPortRename(jack_port_id_t, const char*, const char*, void* self) {
    static_cast<JackObserver*>(self)->record({Notice::Type::registration});
}

void JackObserver::clearNotices() {
    std::lock_guard lock(mutex_);
    notices_.clear();
    // The next client has a notice thread of its own.
    noticeThread_.store(0, std::memory_order_release);
}

JackObserver::News JackObserver::collect(jack_client_t* client, const OwnPorts& own,
                                         std::chrono::steady_clock::time_point now) {
    std::vector<Notice> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(notices_);
    }
    News news;
    bool setupChanged = false;
    for (const Notice& n : batch) {
        if (n.type == Notice::Type::registration) {
            setupChanged = true;
            continue;
        }
        if (!client)
            continue;
        news.connectionChanged = true;
        jack_port_t* a = jack_port_by_id(client, n.portA);
        jack_port_t* b = jack_port_by_id(client, n.portB);
        for (const auto& [ours, ref] : own.virtualSources)
            if (ours && n.connected && (a == ours || b == ours) && ref)
                news.subscribed.push_back(ref);
        // Our own input and output slots are wired by us; those changes are no news.
        if (!own.ownPlumbing(a) && !own.ownPlumbing(b))
            setupChanged = true;
    }
    // JACK reports a client appearing as a burst of registrations and connections; wait for a
    // short quiet spell (bounded) and report them as one change.
    if (setupChanged)
        setup_.changed(now);
    news.setupDue = setup_.takeDue(now);
    return news;
}

} // namespace strata
