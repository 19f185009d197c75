#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace strata::osc {

// The few OSC types the remote reads and writes: 32-bit integers, 32-bit floats and strings.
// Every other type tag makes a message unreadable (blobs, 64-bit values and the rest are never
// sent by the control apps we answer, and skipping them would need their sizes anyway).
using Argument = std::variant<std::int32_t, float, std::string>;

struct Message {
    std::string address;
    std::vector<Argument> arguments;
    friend bool operator==(const Message&, const Message&) = default;
};

// A datagram larger than this is not read at all.
inline constexpr std::size_t kMaxPacketBytes = 1024;
// Bundles inside bundles deeper than this are dropped.
inline constexpr int kMaxBundleDepth = 4;
// Messages taken from one datagram at most.
inline constexpr std::size_t kMaxMessages = 16;

// The messages of one datagram: a message, or a bundle's messages in order (time tags are
// ignored: a command runs when it arrives). Whatever is malformed (a size that is not a multiple
// of four, a string without its terminator, a type tag we do not read, a bundle element that
// overruns) ends reading there; what was read before it is kept.
std::vector<Message> decode(const std::uint8_t* bytes, std::size_t length);

// One message as a datagram.
std::vector<std::uint8_t> encode(const Message& message);

// The integer argument at `index`, from an int or a float that holds a whole number.
std::optional<std::int32_t> intArgument(const Message& message, std::size_t index);

} // namespace strata::osc
