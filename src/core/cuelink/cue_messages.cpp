#include "cuelink/cue_messages.h"

#include "json/json_reading.h"
#include <algorithm>

namespace strata {
namespace {

using json::Fields;
using json::Json;
using json::readArray;
using json::readBool;
using json::readNumber;
using json::readString;

bool isMessageKey(std::string_view key) {
    static constexpr std::string_view keys[] = {
        "type",        "host",       "version", "songs", "songIdx", "sectionIdx",
        "nextSection", "barsToNext", "playing", "bpm",   "name",    "kind"};
    return std::find(std::begin(keys), std::end(keys), key) != std::end(keys);
}

bool isSongKey(std::string_view key) {
    return key == "name" || key == "sections" || key == "tempo" || key == "key";
}

// The parsed document, behind a cheap gate for input from an unauthenticated network: the size,
// the nesting depth and NUL bytes are checked before the parser runs.
//
// The whole text is checked as JSON, but only what a message can use is built: the values of keys
// no message defines, at the top level or in a song of "songs", are skipped without being stored,
// so a datagram of thousands of unknown values costs a scan rather than thousands of allocations.
// Keys elsewhere can only sit in an object where every message expects text, a number or a list
// of text, and that object makes the message invalid whatever its keys hold.
Result<Json> parseDocument(CueBytes bytes) {
    if (bytes.size() > kMaxDatagramSize)
        return Result<Json>::failure("larger than " + std::to_string(kMaxDatagramSize) + " bytes");
    bool inSongs = false;
    const Json::parser_callback_t keepOnlyMessageKeys =
        [&inSongs](int depth, Json::parse_event_t event, Json& parsed) {
            if (event != Json::parse_event_t::key)
                return true;
            const std::string_view key = parsed.get_ref<const std::string&>();
            if (depth == 1) {
                inSongs = key == "songs";
                return isMessageKey(key);
            }
            return depth == 3 && inSongs && isSongKey(key);
        };
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return json::parse(text, {.maxDepth = kMaxJsonNesting, .refuseNul = true}, keepOnlyMessageKeys);
}

// Another program's integers may be written with a fraction or an exponent when their value is
// integral (3.0 is 3); 2.5 and anything beyond the signed 64-bit range are not integers.
Result<std::int64_t> readCueInteger(const Json& value) {
    return json::readInteger(value, json::IntegralFloats::accepted);
}

Result<std::vector<std::string>> readStrings(const Json& value) {
    return readArray(value, readString);
}

Result<SetlistSnapshot::Song> readSnapshotSong(const Json& value) {
    Fields f(value);
    SetlistSnapshot::Song song;
    song.name = f.required("name", readString);
    song.sections = f.required("sections", readStrings);
    song.tempo = f.optional("tempo", readNumber);
    song.key = f.optional("key", readString);
    return f.finish(std::move(song));
}

Result<Envelope> envelopeFrom(const Json& doc) {
    Fields f(doc);
    Envelope e;
    e.type = f.required("type", readString);
    return f.finish(std::move(e));
}

Result<Hello> helloFrom(const Json& doc) {
    Fields f(doc);
    Hello m;
    m.host = f.required("host", readString);
    m.version = f.optional("version", readString);
    return f.finish(std::move(m));
}

Result<SetlistSnapshot> setlistSnapshotFrom(const Json& doc) {
    Fields f(doc);
    SetlistSnapshot m;
    m.songs = f.required("songs", [](const Json& v) { return readArray(v, readSnapshotSong); });
    return f.finish(std::move(m));
}

Result<LiveState> liveStateFrom(const Json& doc) {
    Fields f(doc);
    LiveState m;
    m.songIdx = f.required("songIdx", readCueInteger);
    m.sectionIdx = f.required("sectionIdx", readCueInteger);
    m.nextSection = f.optional("nextSection", readString);
    m.barsToNext = f.optional("barsToNext", readCueInteger);
    m.playing = f.optional("playing", readBool);
    m.bpm = f.optional("bpm", readNumber);
    return f.finish(std::move(m));
}

Result<Fire> fireFrom(const Json& doc) {
    Fields f(doc);
    Fire m;
    m.songIdx = f.required("songIdx", readCueInteger);
    m.sectionIdx = f.required("sectionIdx", readCueInteger);
    return f.finish(m);
}

Result<MarkerHit> markerHitFrom(const Json& doc) {
    Fields f(doc);
    MarkerHit m;
    m.name = f.required("name", readString);
    m.kind = f.optional("kind", readString);
    return f.finish(std::move(m));
}

} // namespace

Result<DecodedDatagram> decodeDatagram(CueBytes bytes) {
    using R = Result<DecodedDatagram>;
    const auto doc = parseDocument(bytes);
    if (!doc)
        return R::failure(doc);
    auto envelope = envelopeFrom(*doc);
    if (!envelope)
        return R::failure(envelope);

    DecodedDatagram out{std::move(*envelope), std::monostate{}};
    const std::string_view type = out.envelope.type;
    auto take = [&out](auto message) {
        if (message)
            out.message = std::move(*message);
    };
    // Compared in a fixed order; "GOODBYE" and every other type carry nothing beyond the envelope.
    if (type == cue_type::kHello)
        take(helloFrom(*doc));
    else if (type == cue_type::kSetlistSnapshot)
        take(setlistSnapshotFrom(*doc));
    else if (type == cue_type::kLiveState)
        take(liveStateFrom(*doc));
    else if (type == cue_type::kFire)
        take(fireFrom(*doc));
    else if (type == cue_type::kMarkerHit)
        take(markerHitFrom(*doc));
    return out;
}

} // namespace strata
