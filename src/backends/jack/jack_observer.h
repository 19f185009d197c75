#pragma once

#include "common/setup_coalescer.h"
#include "jack/jack_worker_wake.h"
#include "platform/midi_backend.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace strata {

// What JACK tells about the graph: ports and clients coming and going, ports renamed, ports
// connected and disconnected. JACK's notification threads only record a notice and return; the
// worker thread collects them and learns what they mean for the engine.
class JackObserver {
public:
    // What one look at the notices found.
    struct News {
        // Some connection changed: sources may have become, or stopped being, a surface output.
        bool connectionChanged = false;
        // Our virtual sources that a consumer (a DAW) connected to.
        std::vector<MidiRef> subscribed;
        // A setup notification is due now (bursts are coalesced into one).
        bool setupDue = false;
    };
    // Which of our ports a connection notice may be about.
    struct OwnPorts {
        // Our virtual sources: their port (null when none) and ref.
        std::array<std::pair<jack_port_t*, MidiRef>, 2> virtualSources{};
        // Whether a port is one whose connections we make ourselves (no news).
        std::function<bool(jack_port_t*)> ownPlumbing;
    };

    // `wake` is posted whenever a notice is recorded (the worker collects them).
    JackObserver(std::chrono::milliseconds setupCoalesce, JackWorkerWake& wake);

    // Installs the notification callbacks on a client that is not active yet.
    void install(jack_client_t* client);
    // Forgets every recorded notice (they are about a client that is gone).
    void clearNotices();
    // Forgets a pending setup notification (one was sent by other means).
    void cancelSetup() { setup_.cancel(); }
    // The Linux thread id of the thread that delivers JACK's notices (0 until one came).
    int noticeThread() const { return noticeThread_.load(std::memory_order_acquire); }
    // Worker thread: when the pending setup notification comes due; none when none is pending.
    std::optional<std::chrono::steady_clock::time_point> setupDueAt() const {
        return setup_.dueAt();
    }
    // Worker thread, with the backend's control lock held when `client` is not null.
    News collect(jack_client_t* client, const OwnPorts& own,
                 std::chrono::steady_clock::time_point now);

private:
    struct Notice {
        enum class Type { registration, connection } type;
        std::uint32_t portA = 0;
        std::uint32_t portB = 0;
        bool connected = false;
    };

    static void onPortRegistration(std::uint32_t port, int registered, void* self);
    static void onClientRegistration(const char* name, int registered, void* self);
    static void onPortConnect(std::uint32_t a, std::uint32_t b, int connected, void* self);
    static void onPortRename(std::uint32_t port, const char* oldName, const char* newName,
                             void* self);
    void record(Notice notice);

    JackWorkerWake& wake_;
    std::atomic<int> noticeThread_{0};
    std::mutex mutex_;
    std::vector<Notice> notices_;
    // Worker thread only.
    SetupCoalescer setup_;
};

} // namespace strata
