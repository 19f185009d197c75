#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

typedef struct _jack_client jack_client_t;

namespace strata {

class JackObserver;
class JackProcess;

// The one JACK client of a backend: opening it (under a free name), installing the callbacks,
// activating it, and closing it when the server goes away or the backend does. The client
// pointer is guarded by the backend's control lock, which `open` and `drop` take themselves.
class JackSession {
public:
    struct Settings {
        std::string clientName;
        std::optional<std::string> serverName; // none: the default server
    };

    JackSession(Settings settings, bool onPipeWire, std::mutex& controlMutex, JackProcess& process,
                JackObserver& observer);

    // Whether the JACK library this process loaded is PipeWire's (else jackd's).
    static bool libraryIsPipeWire();

    // With the control lock held: the client, null while no server answers.
    jack_client_t* client() const { return client_; }
    bool available() const { return available_.load(std::memory_order_acquire); }
    // Whether a server ever answered (worker thread and destructor only).
    bool everConnected() const { return everConnected_; }

    // Opens and activates a client unless there is one. `registerPorts` is called with the
    // control lock held, before activation, with every port forgotten and every ring empty: it
    // registers the ports that existed with the previous client. False when no server answers.
    bool open(const std::function<void(jack_client_t*)>& registerPorts);
    // Closes the client; false when there was none (a late, repeated shutdown notice).
    bool drop();
    // For the backend's destructor, once the worker has stopped.
    void close();

private:
    jack_client_t* openClient(const std::string& name) const;

    const Settings settings_;
    const bool onPipeWire_;
    std::mutex& controlMutex_;
    JackProcess& process_;
    JackObserver& observer_;
    jack_client_t* client_ = nullptr;
    std::atomic<bool> available_{false};
    bool everConnected_ = false;
};

} // namespace strata
