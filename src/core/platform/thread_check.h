#pragma once

#include <cassert>
#include <thread>

namespace strata {

// The thread an object belongs to, fixed when it is made. Entry points whose comment names a
// thread assert it in debug builds (`STRATA_ASSERT_THREAD`): a call from the wrong thread is a
// race the sanitizers only catch when the timing happens to expose it; the assertion catches it
// on every call.
class ThreadCheck {
public:
    ThreadCheck() : owner_(std::this_thread::get_id()) {}
    bool onOwnerThread() const { return std::this_thread::get_id() == owner_; }

private:
    std::thread::id owner_;
};

} // namespace strata

#define STRATA_ASSERT_THREAD(check)                                                                \
    assert((check).onOwnerThread() && "called from the wrong thread")
