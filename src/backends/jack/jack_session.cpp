#include "jack/jack_session.h"

#include "jack/jack_observer.h"
#include "jack/jack_process.h"

#include <cstring>
#include <jack/jack.h>

namespace strata {
namespace {

void silentJackMessage(const char*) {}

// libjack prints to stderr on every failed attempt to reach a server. Reconnection tries once a
// second, so its chatter would flood the terminal; we report the state ourselves instead.
void quietLibjack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(silentJackMessage);
        jack_set_info_function(silentJackMessage);
    });
}

bool clientNameTaken(jack_client_t* client) {
    // Asked before this client has ports: any port under its name is another program's.
    std::string pattern = "^";
    for (const char c : std::string(jack_get_client_name(client))) {
        if (std::strchr(".[]()*+?{}|^$\\", c))
            pattern += '\\';
        pattern += c;
    }
    pattern += ':';
    const char** ports = jack_get_ports(client, pattern.c_str(), nullptr, 0);
    const bool taken = ports && ports[0];
    if (ports)
        jack_free(ports);
    return taken;
}

} // namespace

bool JackSession::libraryIsPipeWire() {
    // PipeWire's libjack says so in its version ("3.0.0.0 (using PipeWire 0.3.65)"); jackd's
    // gives a bare number.
    const char* version = jack_get_version_string();
    return version && std::string_view(version).find("PipeWire") != std::string_view::npos;
}

JackSession::JackSession(Settings settings, bool onPipeWire, std::mutex& controlMutex,
                         JackProcess& process, JackObserver& observer)
    : settings_(std::move(settings)), onPipeWire_(onPipeWire), controlMutex_(controlMutex),
      process_(process), observer_(observer) {
    quietLibjack();
}

jack_client_t* JackSession::openClient(const std::string& name) const {
    jack_status_t status{};
    if (settings_.serverName)
        return jack_client_open(name.c_str(),
                                static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                &status, settings_.serverName->c_str());
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

bool JackSession::open(const std::function<void(jack_client_t*)>& registerPorts) {
    std::lock_guard lock(controlMutex_);
    if (client_)
        return true;
    jack_client_t* client = openClient(settings_.clientName);
    // PipeWire lets a second client take a name in use and then names both clients' ports alike
    // (the second sees its own as "Strata:…", the others see them as "Strata-<id>:…"), so names
    // no longer tell the two programs apart. Take the next free name, as jackd does by itself.
    for (int n = 1; client && onPipeWire_ && clientNameTaken(client) && n < 100; ++n) {
        jack_client_close(client);
        client = openClient(settings_.clientName + (n < 10 ? "-0" : "-") + std::to_string(n));
    }
    if (!client)
        return false;

    // Callbacks must be in place before activation.
    jack_set_process_callback(client, JackProcess::processCallback, &process_);
    jack_set_buffer_size_callback(client, JackProcess::bufferSizeCallback, &process_);
    jack_set_xrun_callback(client, JackProcess::xrunCallback, &process_);
    observer_.install(client);
    jack_on_info_shutdown(
        client, [](jack_status_t, const char*, void* self) { JackProcess::shutdownCallback(self); },
        &process_);
    // PipeWire's libjack calls only this one when its daemon goes away (jackd calls only the
    // one above when both are set).
    jack_on_shutdown(client, JackProcess::shutdownCallback, &process_);
    client_ = client;
    process_.client.store(client, std::memory_order_release);
    process_.shutdownSignalled.store(false);
    process_.shutdownReporter.store(0);

    // The process callback is not running: this thread may act as the rings' consumer and
    // drop whatever was queued before the server went away.
    process_.resetStreams();
    registerPorts(client);

    if (jack_activate(client) != 0) {
        client_ = nullptr;
        process_.client.store(nullptr, std::memory_order_release);
        process_.forgetPorts();
        jack_client_close(client);
        return false;
    }
    process_.periodFrames.store(jack_get_buffer_size(client), std::memory_order_relaxed);
    process_.sampleRate.store(jack_get_sample_rate(client), std::memory_order_relaxed);
    everConnected_ = true;
    available_.store(true, std::memory_order_release);
    return true;
}

bool JackSession::drop() {
    jack_client_t* client = nullptr;
    {
        std::lock_guard lock(controlMutex_);
        client = client_;
        client_ = nullptr;
        available_.store(false, std::memory_order_release);
        process_.forgetPorts();
    }
    if (client)
        jack_client_close(client);
    // Only now: the process callback reads it until the close has stopped it.
    process_.client.store(nullptr, std::memory_order_release);
    // A client's shutdown can be reported twice (once per kind of shutdown callback, from two of
    // its threads); whatever arrived until the close returned is about the client just dropped.
    process_.shutdownSignalled.store(false, std::memory_order_release);
    process_.shutdownReporter.store(0, std::memory_order_release);
    observer_.clearNotices();
    return client != nullptr;
}

void JackSession::close() {
    jack_client_t* client = nullptr;
    {
        std::lock_guard lock(controlMutex_);
        client = client_;
        client_ = nullptr;
        available_.store(false);
    }
    if (client)
        jack_client_close(client);
    // Only now: the process callback reads it until the close has stopped it.
    process_.client.store(nullptr, std::memory_order_release);
}

} // namespace strata
