// The band remote page's WebSocket messages. Checks: nothing over the size cap is read, a command's
// index is never negative, a device name never exceeds its cap nor ends on a lone lead byte where
// it was cut, and the state sent back is one JSON object whatever text it carries.

#include "fuzz_check.h"
#include "remote/remote_protocol.h"

#include <cstdint>
#include <string_view>

using namespace strata;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto message = decodePageMessage(text);
    if (!message)
        return 0;
    FUZZ_CHECK(size <= kMaxPageMessageBytes);
    if (const auto* command = std::get_if<RemoteCommand>(&*message))
        FUZZ_CHECK(command->index >= 0);
    if (const auto* pair = std::get_if<PairRequest>(&*message)) {
        FUZZ_CHECK(pair->device.size() <= kMaxDeviceNameBytes);
        // A cut name ends before a lead byte, never between a lead byte and its continuation.
        if (!pair->device.empty())
            FUZZ_CHECK((static_cast<unsigned char>(pair->device.back()) & 0xC0) != 0xC0 ||
                       pair->device.size() < kMaxDeviceNameBytes);
    }
    // What a page is told back is always JSON, whatever the bytes.
    RemoteState state;
    state.song = std::string(text.substr(0, 64));
    const std::string json = encodeStateJson(state, true);
    FUZZ_CHECK(!json.empty() && json.front() == '{' && json.back() == '}');
    return 0;
}
