#include "engine/autosave.h"

#include "platform/log.h"

namespace strata {

Autosave::Autosave(StoreLocation location, MainLoop& loop, Current current,
                   FailureChanged onFailure)
    : location_(std::move(location)), loop_(loop), current_(std::move(current)),
      onFailure_(std::move(onFailure)) {}

void Autosave::schedule() {
    dirty_ = true;
    // Every change restarts the wait, so a burst of edits gives one write after the last.
    timer_ = loop_.after(kDebounce, [this] {
        Autosave* self = this; // resetting the handle destroys this closure
        self->timer_.reset();
        self->saveNow();
    });
}

bool Autosave::saveNow() {
    std::string error;
    std::error_code code;
    if (Store::write(location_, current_(), &error, &code)) {
        dirty_ = false;
        if (failedSaves_ > 0) {
            logLine("[Store] saving works again: the setlist is saved with every change (after " +
                    std::to_string(failedSaves_) + " failed attempts)");
            failedSaves_ = 0;
            onFailure_(std::nullopt);
        }
        return true;
    }
    // The episode is announced once, with the reason of its first attempt (later attempts name
    // other temporary files, and the window must not flicker every retry).
    if (failedSaves_++ == 0) {
        logLine("[Store] could not save the setlist: " + error +
                "; changes are kept in memory and saved as soon as writing works again");
        onFailure_(SaveFailure{error, code});
    }
    // Space may be freed or the folder made writable without any further edit.
    timer_ = loop_.after(kRetry, [this] {
        Autosave* self = this;
        self->timer_.reset();
        self->saveNow();
    });
    return false;
}

bool Autosave::flush() {
    if (!dirty_)
        return true;
    timer_.reset();
    return saveNow();
}

} // namespace strata
