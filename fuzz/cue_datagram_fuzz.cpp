// The cue-link datagram decoder and the link's datagram handler. The whole input is one datagram
// for the decoders; split at NUL bytes (which no JSON text contains) it is a stream of datagrams
// for a link without a socket, an empty piece standing for three seconds of silence. Checks: the
// decoder agrees with a plain parse of the text, the link's state and events
// follow each datagram, and a link destroyed from inside one of its notifications is never touched
// again.

#include "cuelink/cadenzo_link.h"
#include "cuelink/cue_messages.h"
#include "fuzz_check.h"
#include "platform/virtual_main_loop.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

using namespace strata;
using Json = nlohmann::json;

namespace {

int depthOf(const Json& value) {
    int deepest = 0;
    if (value.is_structured())
        for (const auto& element : value)
            deepest = std::max(deepest, depthOf(element));
    return value.is_structured() ? deepest + 1 : 0;
}

// The envelope as a plain, unfiltered parse sees it, for datagrams inside the size and nesting
// bounds: an object whose "type" is text.
std::optional<std::string> referenceType(CueBytes bytes) {
    if (bytes.size() > kMaxDatagramSize)
        return std::nullopt;
    for (const std::uint8_t b : bytes)
        if (b == 0)
            return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(bytes.data());
    const Json doc = Json::parse(text, text + bytes.size(), nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded() || !doc.is_object() || depthOf(doc) > kMaxJsonNesting)
        return std::nullopt;
    const auto it = doc.find("type");
    if (it == doc.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

// The decoder agrees with a plain parse on whether the datagram is one and on its type, and only
// the types that carry a message can have one.
void checkDecoder(CueBytes bytes) {
    const auto datagram = decodeDatagram(bytes);
    const auto expectedType = referenceType(bytes);
    FUZZ_CHECK(expectedType.has_value() == datagram.has_value());
    if (!datagram)
        return;
    FUZZ_CHECK(datagram->envelope.type == *expectedType);
    const std::string_view type = datagram->envelope.type;
    const DecodedDatagram::Message& message = datagram->message;
    if (std::holds_alternative<std::monostate>(message))
        return;
    FUZZ_CHECK(
        (type == cue_type::kHello && std::holds_alternative<Hello>(message)) ||
        (type == cue_type::kSetlistSnapshot && std::holds_alternative<SetlistSnapshot>(message)) ||
        (type == cue_type::kLiveState && std::holds_alternative<LiveState>(message)) ||
        (type == cue_type::kFire && std::holds_alternative<Fire>(message)) ||
        (type == cue_type::kMarkerHit && std::holds_alternative<MarkerHit>(message)));
}

std::vector<CueBytes> splitAtNul(CueBytes bytes) {
    std::vector<CueBytes> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == 0) {
            pieces.push_back(bytes.subspan(start, i - start));
            start = i + 1;
        }
    }
    return pieces;
}

// Feeds the pieces to a link without a socket. With `destroyAfter`, the link is destroyed by
// whichever notification is that number (counted from 1), and nothing is fed after that.
void runLink(const std::vector<CueBytes>& pieces, std::optional<int> destroyAfter) {
    VirtualMainLoop loop;
    auto link = std::make_unique<CadenzoLink>(loop, CadenzoLink::Options{.openSocket = false});
    int notifications = 0;
    int events = 0;
    std::optional<LiveState> lastTick;
    const auto notified = [&] {
        ++notifications;
        if (destroyAfter && notifications == *destroyAfter)
            link.reset();
    };
    ConnectionBag bag;
    bag += link->connection.changed.connect([&](const ConnectionState&) { notified(); });
    bag += link->liveTick.connect([&](const LiveState& m) {
        ++events;
        lastTick = m;
        notified();
    });
    bag += link->fire.connect([&](const Fire&) {
        ++events;
        notified();
    });
    bag += link->snapshot.connect([&](const SetlistSnapshot&) {
        ++events;
        notified();
    });
    bag += link->markerHit.connect([&](const MarkerHit&) {
        ++events;
        notified();
    });

    for (const CueBytes piece : pieces) {
        if (!link)
            return;
        if (piece.empty()) {
            loop.advance(seconds(3.0));
            continue;
        }
        const ConnectionState before = link->connection.get();
        const int eventsBefore = events;
        lastTick.reset();
        link->handleDatagram(piece);
        if (!link)
            return;
        const auto decoded = decodeDatagram(piece);
        if (!decoded) {
            FUZZ_CHECK(link->connection.get() == before);
            FUZZ_CHECK(events == eventsBefore);
            continue;
        }
        FUZZ_CHECK(link->lastHeartbeat() == loop.now());
        if (const auto* live = std::get_if<LiveState>(&decoded->message)) {
            FUZZ_CHECK(link->connection.get().isConnected());
            FUZZ_CHECK(lastTick == *live);
            FUZZ_CHECK(link->liveState() == *live);
        } else if (const auto* hello = std::get_if<Hello>(&decoded->message)) {
            FUZZ_CHECK(link->connection.get() == ConnectionState::connected(hello->host));
        } else if (decoded->envelope.type == cue_type::kGoodbye) {
            FUZZ_CHECK(!link->connection.get().isConnected());
            FUZZ_CHECK(!link->liveState());
        }
        const bool carriesEvent = std::holds_alternative<LiveState>(decoded->message) ||
                                  std::holds_alternative<Fire>(decoded->message) ||
                                  std::holds_alternative<SetlistSnapshot>(decoded->message) ||
                                  std::holds_alternative<MarkerHit>(decoded->message);
        FUZZ_CHECK(events == eventsBefore + (carriesEvent ? 1 : 0));
        loop.advance(seconds(0.1));
    }
    // Long silence gives the connection up.
    if (link) {
        loop.advance(cue_link::kSilenceLimit + cue_link::kWatchdogPeriod);
        if (link)
            FUZZ_CHECK(!link->connection.get().isConnected());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const CueBytes bytes(data, size);
    checkDecoder(bytes);

    const auto pieces = splitAtNul(bytes);
    if (pieces.size() > 1)
        for (const CueBytes piece : pieces)
            checkDecoder(piece);
    runLink(pieces, std::nullopt);
    if (size > 0)
        runLink(pieces, 1 + data[size - 1] % 6);
    return 0;
}
