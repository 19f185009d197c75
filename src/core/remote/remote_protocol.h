#pragma once

#include "remote/osc.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace strata {

// What a bandmate's phone or a control app sees of the set: a value, built on the main thread
// after each change and read by the remote's servers on their own thread.
struct RemoteState {
    std::string setName;
    std::vector<std::string> songs;
    std::int64_t currentSong = -1; // -1 without a song
    std::string song;
    std::string now;  // the current section's name
    std::string next; // the following section of the song; empty on the last
    std::int64_t section = -1;
    std::vector<std::string> sections; // the current song's
    std::int64_t step = 0;             // 1-based; 0 without a section
    std::int64_t steps = 0;
    bool cueConnected = false;
    bool midiAvailable = false;
    bool allOn = false;
    friend bool operator==(const RemoteState&, const RemoteState&) = default;
};

// A move asked for from the remote. Indices are 0-based, as everywhere in the core.
struct RemoteCommand {
    enum class Kind { next, prev, section, song, allOn };
    Kind kind = Kind::next;
    std::int64_t index = 0; // section and song only
    friend bool operator==(const RemoteCommand&, const RemoteCommand&) = default;
};

// What a page sends over its WebSocket: a command, a pairing request with the code shown on the
// performer's screen, or the device key a paired page received before.
struct PairRequest {
    std::string code;
    std::string device; // a name for the pairing list, as the phone calls itself
    friend bool operator==(const PairRequest&, const PairRequest&) = default;
};
struct ControlKey {
    std::string key;
    friend bool operator==(const ControlKey&, const ControlKey&) = default;
};
using PageMessage = std::variant<RemoteCommand, PairRequest, ControlKey>;

// A page message larger than this is not read (the connection is closed by the server).
inline constexpr std::size_t kMaxPageMessageBytes = 512;
// Texts taken from a page (device names) are cut to this many bytes.
inline constexpr std::size_t kMaxDeviceNameBytes = 40;

// Reads one page message: a JSON object {"cmd": "next"|"prev"|"allon"}, {"cmd": "section" |
// "song", "index": n}, {"pair": "<code>", "device": "<name>"} or {"key": "<key>"}. Anything else
// (too large, not JSON, unknown, an index that is no integer) is none.
std::optional<PageMessage> decodePageMessage(std::string_view text);

// The state as the page receives it (one JSON object), with whether this page may control.
std::string encodeStateJson(const RemoteState& state, bool canControl);
// A short reply to a page: {"paired": key} or {"error": reason}.
std::string encodePairedJson(std::string_view key);
std::string encodeErrorJson(std::string_view reason);

// OSC: the command an address asks for (/strata/next, /strata/prev, /strata/section i,
// /strata/song i, /strata/allon); none for anything else or a missing index.
std::optional<RemoteCommand> commandFromOsc(const osc::Message& message);
inline constexpr std::string_view kOscSubscribe = "/strata/subscribe";
// /strata/state: song index, section index, step (1-based), song name, section name, next
// section name.
osc::Message oscStateMessage(const RemoteState& state);

} // namespace strata
