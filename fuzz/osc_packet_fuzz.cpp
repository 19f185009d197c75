// The OSC decoder and the remote's reading of what it decodes. Checks: what decodes encodes back
// to a datagram that decodes to the same messages, the caps hold (messages per datagram, datagram
// size), and mapping a message to a command never yields an index below zero.

#include "fuzz_check.h"
#include "remote/osc.h"
#include "remote/remote_protocol.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace strata;

namespace {

bool sameArgument(const osc::Argument& a, const osc::Argument& b) {
    // NaN floats are equal to themselves bit for bit only.
    if (const auto* x = std::get_if<float>(&a))
        if (const auto* y = std::get_if<float>(&b))
            return std::bit_cast<std::uint32_t>(*x) == std::bit_cast<std::uint32_t>(*y);
    return a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<osc::Message> messages = osc::decode(data, size);
    FUZZ_CHECK(messages.size() <= osc::kMaxMessages);
    FUZZ_CHECK(messages.empty() || (size <= osc::kMaxPacketBytes && size % 4 == 0));
    for (const osc::Message& message : messages) {
        FUZZ_CHECK(!message.address.empty() && message.address.front() == '/');
        const std::vector<std::uint8_t> again = osc::encode(message);
        const std::vector<osc::Message> back = osc::decode(again.data(), again.size());
        if (again.size() <= osc::kMaxPacketBytes) {
            FUZZ_CHECK(back.size() == 1);
            FUZZ_CHECK(back[0].address == message.address);
            FUZZ_CHECK(back[0].arguments.size() == message.arguments.size());
            for (std::size_t i = 0; i < message.arguments.size(); ++i)
                FUZZ_CHECK(sameArgument(back[0].arguments[i], message.arguments[i]));
        }
        if (const auto command = commandFromOsc(message))
            FUZZ_CHECK(command->index >= 0);
    }
    return 0;
}
