#pragma once

#include "model/uuid.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// Writes JSON text in the stored setlist's layout, element by element. It is written by hand,
// not with a JSON library's printer, because the stored file must stay byte-identical from
// version to version and across library updates: the layout below (spacing, escapes, number
// forms) is part of the file format, and files are compared and kept under version control by
// their users.
//
// The layout: two-space indentation, "key" : value, keys in the order the caller gives them (the
// encoders give the sorted order), empty containers as "[ ]" and "{ }", no trailing newline.
// Strings that are not valid UTF-8 are written with U+FFFD in place of the bad bytes, so that the
// output is always a valid document; "/" is not escaped.
class PrettyWriter {
public:
    PrettyWriter() { open_.reserve(16); }

    void beginObject() { beginContainer('{'); }
    void endObject() { endContainer('}'); }
    void beginArray() { beginContainer('['); }
    void endArray() { endContainer(']'); }

    void key(std::string_view name);
    void string(std::string_view value);
    void integer(std::int64_t value);
    // Shortest text that reads back as the same double. Callers pass finite values only.
    void number(double value);
    void boolean(bool value);
    void uuid(const Uuid& id);

    std::string take() { return std::move(out_); }

private:
    void newline();
    // Separator and line break before an object key or an array element.
    void startItem();
    void beforeValue();
    void beginContainer(char bracket);
    void endContainer(char bracket);

    std::string out_;
    std::vector<bool> open_; // one entry per open container: has it got an item yet?
    bool afterKey_ = false;
};

} // namespace strata
