#include "cuelink/cue_messages.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace strata {
namespace {

using Json = nlohmann::json;

// Cheap gate in front of the parser for input from an unauthenticated network: bounds the size
// and the nesting depth, and refuses NUL bytes. A JSON text can never contain a raw NUL, and the
// parser would take one as the end of the input and silently accept whatever trails it.
bool passesGate(CueBytes bytes) {
    if (bytes.size() > maxDatagramSize)
        return false;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const std::uint8_t b : bytes) {
        if (b == 0)
            return false;
        if (inString) {
            if (escaped)
                escaped = false;
            else if (b == '\\')
                escaped = true;
            else if (b == '"')
                inString = false;
            continue;
        }
        switch (b) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > maxJsonNesting)
                return false;
            break;
        case ']':
        case '}':
            --depth; // unbalanced input is the parser's to reject
            break;
        default:
            break;
        }
    }
    return true;
}

bool isMessageKey(std::string_view key) {
    static constexpr std::string_view keys[] = {
        "type",        "host",       "version", "songs", "songIdx", "sectionIdx",
        "nextSection", "barsToNext", "playing", "bpm",   "name",    "kind"};
    return std::find(std::begin(keys), std::end(keys), key) != std::end(keys);
}

bool isSongKey(std::string_view key) {
    return key == "name" || key == "sections" || key == "tempo" || key == "key";
}

// The parsed document, or a discarded value. Default settings: strict JSON, no comments.
//
// The whole text is checked as JSON, but only what a message can use is built: the values of keys
// no message defines, at the top level or in a song of "songs", are skipped without being stored,
// so a datagram of thousands of unknown values costs a scan rather than thousands of allocations.
// Keys elsewhere can only sit in an object where every message expects text, a number or a list
// of text, and that object makes the message invalid whatever its keys hold.
Json parseDocument(CueBytes bytes) {
    if (!passesGate(bytes))
        return Json(Json::value_t::discarded);
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
    const auto* first = reinterpret_cast<const char*>(bytes.data());
    return Json::parse(first, first + bytes.size(), keepOnlyMessageKeys,
                       /*allow_exceptions=*/false, /*ignore_comments=*/false);
}

// ---- Values of one JSON type
// --------------------------------------------------------------------- Each returns no value when
// the JSON value is not of the declared type.

template <typename T>
struct As;

template <>
struct As<std::string> {
    static std::optional<std::string> from(const Json& v) {
        if (!v.is_string())
            return std::nullopt;
        return v.get_ref<const std::string&>();
    }
};

template <>
struct As<bool> {
    static std::optional<bool> from(const Json& v) {
        if (!v.is_boolean())
            return std::nullopt;
        return v.get<bool>();
    }
};

// Integers are signed 64-bit. A number written with a fraction or an exponent is accepted when
// its value is integral and fits (3.0 is 3); 2.5 and anything beyond the 64-bit range are not.
template <>
struct As<std::int64_t> {
    static std::optional<std::int64_t> from(const Json& v) {
        switch (v.type()) {
        case Json::value_t::number_integer:
            return v.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            const auto u = v.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return std::nullopt;
            return static_cast<std::int64_t>(u);
        }
        case Json::value_t::number_float: {
            const double d = v.get<double>();
            // 2^63 is exactly representable; the valid range is [-2^63, 2^63).
            constexpr double limit = 9223372036854775808.0;
            if (!std::isfinite(d) || std::trunc(d) != d || d < -limit || d >= limit)
                return std::nullopt;
            return static_cast<std::int64_t>(d);
        }
        default:
            return std::nullopt;
        }
    }
};

// Floating point accepts any JSON number ("bpm": 120 is 120.0), as long as it is finite.
template <>
struct As<double> {
    static std::optional<double> from(const Json& v) {
        if (!v.is_number())
            return std::nullopt;
        const double d = v.get<double>();
        if (!std::isfinite(d))
            return std::nullopt;
        return d;
    }
};

template <typename T>
struct As<std::vector<T>> {
    static std::optional<std::vector<T>> from(const Json& v) {
        if (!v.is_array())
            return std::nullopt;
        std::vector<T> out;
        out.reserve(v.size());
        for (const auto& element : v) {
            auto item = As<T>::from(element);
            if (!item)
                return std::nullopt;
            out.push_back(std::move(*item));
        }
        return out;
    }
};

// ---- Reading the keys of one object
// ----------------------------------------------------------------

// Reads keys of one JSON object; the first missing required key or mistyped value marks the
// whole read as failed.
class Fields {
public:
    explicit Fields(const Json& object) : object_(object), ok_(object.is_object()) {}

    bool ok() const { return ok_; }

    template <typename T>
    void required(std::string_view key, T& out) {
        const Json* v = lookup(key);
        if (!v) {
            ok_ = false;
            return;
        }
        read(*v, out);
    }

    template <typename T>
    void optional(std::string_view key, std::optional<T>& out) {
        const Json* v = lookup(key);
        if (!v) {
            out.reset();
            return;
        }
        T value{};
        if (read(*v, value))
            out = std::move(value);
    }

private:
    // The value of `key`; none when absent or null (null is the same as absent).
    const Json* lookup(std::string_view key) const {
        if (!ok_)
            return nullptr;
        const auto it = object_.find(key);
        if (it == object_.end() || it->is_null())
            return nullptr;
        return &*it;
    }

    template <typename T>
    bool read(const Json& v, T& out) {
        if (!ok_)
            return false;
        auto value = As<T>::from(v);
        if (!value) {
            ok_ = false;
            return false;
        }
        out = std::move(*value);
        return true;
    }

    const Json& object_;
    bool ok_;
};

template <>
struct As<SetlistSnapshot::Song> {
    static std::optional<SetlistSnapshot::Song> from(const Json& v) {
        SetlistSnapshot::Song song;
        Fields f(v);
        f.required("name", song.name);
        f.required("sections", song.sections);
        f.optional("tempo", song.tempo);
        f.optional("key", song.key);
        if (!f.ok())
            return std::nullopt;
        return song;
    }
};

std::optional<Envelope> envelopeFrom(const Json& doc) {
    Envelope e;
    Fields f(doc);
    f.required("type", e.type);
    if (!f.ok())
        return std::nullopt;
    return e;
}

std::optional<Hello> helloFrom(const Json& doc) {
    Hello m;
    Fields f(doc);
    f.required("host", m.host);
    f.optional("version", m.version);
    if (!f.ok())
        return std::nullopt;
    return m;
}

std::optional<SetlistSnapshot> setlistSnapshotFrom(const Json& doc) {
    SetlistSnapshot m;
    Fields f(doc);
    f.required("songs", m.songs);
    if (!f.ok())
        return std::nullopt;
    return m;
}

std::optional<LiveState> liveStateFrom(const Json& doc) {
    LiveState m;
    Fields f(doc);
    f.required("songIdx", m.songIdx);
    f.required("sectionIdx", m.sectionIdx);
    f.optional("nextSection", m.nextSection);
    f.optional("barsToNext", m.barsToNext);
    f.optional("playing", m.playing);
    f.optional("bpm", m.bpm);
    if (!f.ok())
        return std::nullopt;
    return m;
}

std::optional<Fire> fireFrom(const Json& doc) {
    Fire m;
    Fields f(doc);
    f.required("songIdx", m.songIdx);
    f.required("sectionIdx", m.sectionIdx);
    if (!f.ok())
        return std::nullopt;
    return m;
}

std::optional<MarkerHit> markerHitFrom(const Json& doc) {
    MarkerHit m;
    Fields f(doc);
    f.required("name", m.name);
    f.optional("kind", m.kind);
    if (!f.ok())
        return std::nullopt;
    return m;
}

template <typename T, typename Reader>
std::optional<T> decodeWith(CueBytes bytes, Reader reader) {
    const Json doc = parseDocument(bytes);
    if (doc.is_discarded())
        return std::nullopt;
    return reader(doc);
}

} // namespace

std::optional<Envelope> decodeEnvelope(CueBytes bytes) {
    return decodeWith<Envelope>(bytes, envelopeFrom);
}
std::optional<Hello> decodeHello(CueBytes bytes) {
    return decodeWith<Hello>(bytes, helloFrom);
}
std::optional<SetlistSnapshot> decodeSetlistSnapshot(CueBytes bytes) {
    return decodeWith<SetlistSnapshot>(bytes, setlistSnapshotFrom);
}
std::optional<LiveState> decodeLiveState(CueBytes bytes) {
    return decodeWith<LiveState>(bytes, liveStateFrom);
}
std::optional<Fire> decodeFire(CueBytes bytes) {
    return decodeWith<Fire>(bytes, fireFrom);
}
std::optional<MarkerHit> decodeMarkerHit(CueBytes bytes) {
    return decodeWith<MarkerHit>(bytes, markerHitFrom);
}

std::optional<DecodedDatagram> decodeDatagram(CueBytes bytes) {
    const Json doc = parseDocument(bytes);
    if (doc.is_discarded())
        return std::nullopt;
    auto envelope = envelopeFrom(doc);
    if (!envelope)
        return std::nullopt;

    DecodedDatagram out{std::move(*envelope), std::monostate{}};
    const std::string_view type = out.envelope.type;
    auto take = [&out](auto message) {
        if (message)
            out.message = std::move(*message);
    };
    // Compared in a fixed order; "GOODBYE" and every other type carry nothing beyond the envelope.
    if (type == cue_type::hello)
        take(helloFrom(doc));
    else if (type == cue_type::setlistSnapshot)
        take(setlistSnapshotFrom(doc));
    else if (type == cue_type::liveState)
        take(liveStateFrom(doc));
    else if (type == cue_type::fire)
        take(fireFrom(doc));
    else if (type == cue_type::markerHit)
        take(markerHitFrom(doc));
    return out;
}

} // namespace strata
