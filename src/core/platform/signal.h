#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace strata {

// Keeps one slot connected for as long as it lives; destroying or resetting it disconnects.
class Connection {
public:
    Connection() = default;
    explicit Connection(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&& other) noexcept : disconnect_(std::exchange(other.disconnect_, {})) {}
    Connection& operator=(Connection&& other) noexcept {
        if (this != &other) {
            disconnect();
            disconnect_ = std::exchange(other.disconnect_, {});
        }
        return *this;
    }
    ~Connection() { disconnect(); }

    void disconnect() {
        if (auto fn = std::exchange(disconnect_, {}))
            fn();
    }
    bool connected() const { return static_cast<bool>(disconnect_); }

private:
    std::function<void()> disconnect_;
};

// A bag of connections that all end together (an object's subscriptions).
class ConnectionBag {
public:
    void add(Connection c) { connections_.push_back(std::move(c)); }
    ConnectionBag& operator+=(Connection c) {
        add(std::move(c));
        return *this;
    }
    void clear() { connections_.clear(); }
    std::size_t size() const { return connections_.size(); }

private:
    std::vector<Connection> connections_;
};

// Single-threaded multicast signal: every connected slot is called synchronously, in connection
// order. Slots may connect or disconnect (themselves or others) while a signal is being emitted;
// a slot disconnected during an emission is not called afterwards, a slot connected during an
// emission is first called by the next one. Connections may outlive the signal.
template <typename... Args>
class Signal {
public:
    using Slot = std::function<void(Args...)>;

    Signal() : state_(std::make_shared<State>()) {}
    // A pass that is still running (a slot destroyed the signal's owner) calls no further slot.
    ~Signal() { state_->handlers.clear(); }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Connection connect(Slot slot) {
        const std::uint64_t id = ++state_->nextId;
        state_->handlers.push_back(Entry{id, std::make_shared<Slot>(std::move(slot))});
        std::weak_ptr<State> weak = state_;
        return Connection([weak, id] {
            if (auto state = weak.lock())
                state->remove(id);
        });
    }

    void notify(Args... args) const {
        // Hold the state, so that a slot may even destroy the signal's owner during the pass.
        const auto state = state_;
        // Snapshot the ids so that changes made by handlers do not disturb this pass.
        const auto snapshot = state->handlers;
        for (const auto& entry : snapshot) {
            if (!state->contains(entry.id))
                continue;
            (*entry.slot)(args...);
        }
    }

    void operator()(Args... args) const { notify(std::forward<Args>(args)...); }

    std::size_t slotCount() const { return state_->handlers.size(); }

private:
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<Slot> slot;
    };
    struct State {
        std::uint64_t nextId = 0;
        std::vector<Entry> handlers;
        void remove(std::uint64_t id) {
            std::erase_if(handlers, [id](const Entry& e) { return e.id == id; });
        }
        bool contains(std::uint64_t id) const {
            for (const auto& e : handlers)
                if (e.id == id)
                    return true;
            return false;
        }
    };
    std::shared_ptr<State> state_;
};

// A published field: a value whose every write notifies observers (after the write, with the new
// value). Writes of an unchanged value notify too, as observers of published fields expect.
template <typename T>
class Published {
public:
    Published() = default;
    explicit Published(T initial) : value_(std::move(initial)) {}

    const T& get() const { return value_; }
    const T& operator()() const { return value_; }
    void set(T value) {
        value_ = std::move(value);
        changed.notify(value_);
    }

    Signal<const T&> changed;

private:
    T value_{};
};

} // namespace strata
