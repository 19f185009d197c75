#pragma once

#include "json/result.h"
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace strata {

// The datagrams Cadenzo multicasts to the cue-link group. Every datagram is one JSON object whose
// "type" selects which of the messages below is read from the very same object (all fields sit at
// the top level, next to "type"). Optional keys may be absent or null; a key present with a value
// of the wrong JSON type, or a missing required key, makes the whole message invalid. Keys a
// message does not know are ignored.

// Read first from every datagram.
struct Envelope {
    std::string type;

    friend bool operator==(const Envelope&, const Envelope&) = default;
};

// Cadenzo greets the group.
struct Hello {
    std::string host;
    std::optional<std::string> version; // carried, not checked

    friend bool operator==(const Hello&, const Hello&) = default;
};

// Cadenzo's setlist; the consumer uses only the first song (the one loaded in Cadenzo).
struct SetlistSnapshot {
    struct Song {
        std::string name;
        std::vector<std::string> sections;
        std::optional<double> tempo;
        std::optional<std::string> key;

        friend bool operator==(const Song&, const Song&) = default;
    };
    std::vector<Song> songs;

    friend bool operator==(const SetlistSnapshot&, const SetlistSnapshot&) = default;
};

// Cadenzo's transport position, sent repeatedly while it runs.
struct LiveState {
    std::int64_t songIdx = 0;
    std::int64_t sectionIdx = 0;
    std::optional<std::string> nextSection;
    std::optional<std::int64_t> barsToNext;
    std::optional<bool> playing;
    std::optional<double> bpm;

    friend bool operator==(const LiveState&, const LiveState&) = default;
};

// Cadenzo commands a jump to a song and a section of it.
struct Fire {
    std::int64_t songIdx = 0;
    std::int64_t sectionIdx = 0;

    friend bool operator==(const Fire&, const Fire&) = default;
};

// Cadenzo's playhead passed a marker.
struct MarkerHit {
    std::string name;
    std::optional<std::string> kind;

    friend bool operator==(const MarkerHit&, const MarkerHit&) = default;
};

// The type strings, compared exactly and case-sensitively.
namespace cue_type {
inline constexpr std::string_view kHello = "HELLO";
inline constexpr std::string_view kSetlistSnapshot = "SETLIST_SNAPSHOT";
inline constexpr std::string_view kLiveState = "LIVE_STATE";
inline constexpr std::string_view kFire = "FIRE";
inline constexpr std::string_view kMarkerHit = "MARKER_HIT";
inline constexpr std::string_view kGoodbye = "GOODBYE";
inline constexpr std::string_view kStrataHello = "STRATA_HELLO";
} // namespace cue_type

// What this system sends to the group so that a Cadenzo can discover it: a fixed text, never
// formatted at run time.
inline constexpr std::string_view kDiscoveryDatagram = R"({"type":"STRATA_HELLO"})";
static_assert(kDiscoveryDatagram.size() == 23);

// Largest datagram the link reads; anything longer is not a cue-link message.
inline constexpr std::size_t kMaxDatagramSize = 16384;

// Deepest nesting of arrays and objects a datagram may have. The messages themselves need four
// levels (object, "songs", song, "sections"); the rest leaves room for structured values under
// keys a newer Cadenzo may add, while keeping work on hostile input small and bounded.
inline constexpr int kMaxJsonNesting = 16;

using CueBytes = std::span<const std::uint8_t>;

// Views a text as datagram bytes (tests and the link's own constant).
inline CueBytes cueBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One datagram as the link consumes it: the envelope, and the typed message its type selects,
// both read from a single parse of the bytes. `message` is empty (monostate) when the type
// carries nothing ("GOODBYE", "STRATA_HELLO", unknown types) or when the typed message is
// invalid; the envelope alone still counts as traffic from Cadenzo, unless it is a discovery
// datagram ("STRATA_HELLO", which only Strata sends).
struct DecodedDatagram {
    using Message =
        std::variant<std::monostate, Hello, SetlistSnapshot, LiveState, Fire, MarkerHit>;
    Envelope envelope;
    Message message;
};
// Decoding from the raw bytes of one datagram. Each call parses the bytes afresh and keeps no
// state. Every failure (not JSON, nested too deeply, not an object, no text "type") is an empty
// result that carries the reason (for diagnostics; the wording is not stable) and nothing else:
// no exception, no log line.
Result<DecodedDatagram> decodeDatagram(CueBytes bytes);

} // namespace strata
