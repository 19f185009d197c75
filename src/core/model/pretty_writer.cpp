#include "model/pretty_writer.h"

#include "model/utf8.h"

#include <charconv>

namespace strata {

namespace {

// Appends `text` as a JSON string literal.
void appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    appendValidUtf8(out, text, [](std::string& o, unsigned char c) {
        static constexpr char hex[] = "0123456789abcdef";
        switch (c) {
        case '"':
            o += "\\\"";
            break;
        case '\\':
            o += "\\\\";
            break;
        case '\b':
            o += "\\b";
            break;
        case '\f':
            o += "\\f";
            break;
        case '\n':
            o += "\\n";
            break;
        case '\r':
            o += "\\r";
            break;
        case '\t':
            o += "\\t";
            break;
        default:
            if (c < 0x20) {
                o += "\\u00";
                o.push_back(hex[c >> 4]);
                o.push_back(hex[c & 0x0F]);
            } else {
                o.push_back(static_cast<char>(c));
            }
        }
    });
    out.push_back('"');
}

} // namespace

void PrettyWriter::key(std::string_view name) {
    startItem();
    appendQuoted(out_, name);
    out_ += " : ";
    afterKey_ = true;
}

void PrettyWriter::string(std::string_view value) {
    beforeValue();
    appendQuoted(out_, value);
}

void PrettyWriter::integer(std::int64_t value) {
    beforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void PrettyWriter::number(double value) {
    beforeValue();
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void PrettyWriter::boolean(bool value) {
    beforeValue();
    out_ += value ? "true" : "false";
}

void PrettyWriter::uuid(const Uuid& id) {
    beforeValue();
    out_.push_back('"');
    out_ += id.string();
    out_.push_back('"');
}

void PrettyWriter::newline() {
    out_.push_back('\n');
    out_.append(2 * open_.size(), ' ');
}

void PrettyWriter::startItem() {
    if (open_.empty())
        return;
    if (open_.back())
        out_.push_back(',');
    open_.back() = true;
    newline();
}

void PrettyWriter::beforeValue() {
    if (afterKey_)
        afterKey_ = false;
    else
        startItem();
}

void PrettyWriter::beginContainer(char bracket) {
    beforeValue();
    out_.push_back(bracket);
    open_.push_back(false);
}

void PrettyWriter::endContainer(char bracket) {
    const bool hadItems = open_.back();
    open_.pop_back();
    if (hadItems)
        newline();
    else
        out_.push_back(' ');
    out_.push_back(bracket);
}

} // namespace strata
