#include "remote/osc.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace strata::osc {

namespace {

constexpr std::size_t padded(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t length) : bytes_(bytes), length_(length) {}

    bool atEnd() const { return at_ >= length_; }

    std::optional<std::string_view> string() {
        const auto* start = bytes_ + at_;
        const void* nul = std::memchr(start, 0, length_ - at_);
        if (nul == nullptr)
            return std::nullopt;
        const auto size = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - start);
        const std::size_t next = at_ + padded(size + 1);
        if (next > length_)
            return std::nullopt;
        at_ = next;
        return std::string_view(reinterpret_cast<const char*>(start), size);
    }

    std::optional<std::uint32_t> word() {
        if (length_ - at_ < 4)
            return std::nullopt;
        const std::uint8_t* p = bytes_ + at_;
        at_ += 4;
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    }

    std::optional<Reader> take(std::size_t n) {
        if (length_ - at_ < n)
            return std::nullopt;
        Reader inner(bytes_ + at_, n);
        at_ += n;
        return inner;
    }

    bool skip(std::size_t n) {
        if (length_ - at_ < n)
            return false;
        at_ += n;
        return true;
    }

private:
    const std::uint8_t* bytes_;
    std::size_t length_;
    std::size_t at_ = 0;
};

std::optional<Message> readMessage(Reader reader) {
    const auto address = reader.string();
    if (!address || address->empty() || address->front() != '/')
        return std::nullopt;
    Message message{std::string(*address), {}};
    // Some old senders leave the type tags out: a message without arguments then.
    if (reader.atEnd())
        return message;
    const auto tags = reader.string();
    if (!tags || tags->empty() || tags->front() != ',')
        return std::nullopt;
    for (const char tag : tags->substr(1)) {
        switch (tag) {
        case 'i': {
            const auto w = reader.word();
            if (!w)
                return std::nullopt;
            message.arguments.emplace_back(static_cast<std::int32_t>(*w));
            break;
        }
        case 'f': {
            const auto w = reader.word();
            if (!w)
                return std::nullopt;
            message.arguments.emplace_back(std::bit_cast<float>(*w));
            break;
        }
        case 's': {
            const auto s = reader.string();
            if (!s)
                return std::nullopt;
            message.arguments.emplace_back(std::string(*s));
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return message;
}

void readPacket(Reader reader, int depth, std::vector<Message>& out) {
    if (out.size() >= kMaxMessages)
        return;
    Reader probe = reader;
    const auto head = probe.string();
    if (head && *head == "#bundle") {
        if (depth >= kMaxBundleDepth || !probe.skip(8)) // the time tag
            return;
        while (!probe.atEnd() && out.size() < kMaxMessages) {
            const auto size = probe.word();
            if (!size || *size % 4 != 0)
                return;
            const auto element = probe.take(*size);
            if (!element)
                return;
            readPacket(*element, depth + 1, out);
        }
        return;
    }
    if (auto message = readMessage(reader))
        out.push_back(std::move(*message));
}

void putString(std::vector<std::uint8_t>& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
    out.resize(out.size() + (padded(s.size() + 1) - s.size()), 0);
}

void putWord(std::vector<std::uint8_t>& out, std::uint32_t w) {
    out.insert(out.end(), {static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16),
                           static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)});
}

} // namespace

std::vector<Message> decode(const std::uint8_t* bytes, std::size_t length) {
    std::vector<Message> out;
    if (bytes == nullptr || length == 0 || length > kMaxPacketBytes || length % 4 != 0)
        return out;
    readPacket(Reader(bytes, length), 0, out);
    return out;
}

std::vector<std::uint8_t> encode(const Message& message) {
    std::vector<std::uint8_t> out;
    putString(out, message.address);
    std::string tags = ",";
    for (const Argument& argument : message.arguments)
        tags += std::holds_alternative<std::int32_t>(argument) ? 'i'
                : std::holds_alternative<float>(argument)      ? 'f'
                                                               : 's';
    putString(out, tags);
    for (const Argument& argument : message.arguments) {
        if (const auto* i = std::get_if<std::int32_t>(&argument))
            putWord(out, static_cast<std::uint32_t>(*i));
        else if (const auto* f = std::get_if<float>(&argument))
            putWord(out, std::bit_cast<std::uint32_t>(*f));
        else
            putString(out, std::get<std::string>(argument));
    }
    return out;
}

std::optional<std::int32_t> intArgument(const Message& message, std::size_t index) {
    if (index >= message.arguments.size())
        return std::nullopt;
    const Argument& argument = message.arguments[index];
    if (const auto* i = std::get_if<std::int32_t>(&argument))
        return *i;
    if (const auto* f = std::get_if<float>(&argument)) {
        // Faders and buttons of control apps send floats; only whole numbers name an index.
        if (!std::isfinite(*f) || *f != std::floor(*f) || std::fabs(*f) > 1.0e6f)
            return std::nullopt;
        return static_cast<std::int32_t>(*f);
    }
    return std::nullopt;
}

} // namespace strata::osc
