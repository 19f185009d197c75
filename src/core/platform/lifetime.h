#pragma once

#include <memory>

namespace strata {

// An object's lifetime, for callbacks that may run after it is gone: a task posted to the main
// loop, a timer, a slot that may destroy its own emitter. The owner holds a `Lifetime<T>` as a
// member; a callback captures `lifetime.watch()` and asks it for the object when it runs, getting
// nullptr once the owner is destroyed. Main-loop objects only: a watcher says whether the object
// lives now, and nothing but the loop's own thread may destroy it in between.
template <typename T>
class Lifetime {
public:
    class Watch {
    public:
        Watch() = default;
        T* get() const {
            const auto self = self_.lock();
            return self ? *self : nullptr;
        }
        bool expired() const { return self_.expired(); }

    private:
        friend class Lifetime;
        explicit Watch(std::weak_ptr<T* const> self) : self_(std::move(self)) {}
        std::weak_ptr<T* const> self_;
    };

    explicit Lifetime(T* self) : self_(std::make_shared<T* const>(self)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    Watch watch() const { return Watch(self_); }

private:
    std::shared_ptr<T* const> self_;
};

} // namespace strata
