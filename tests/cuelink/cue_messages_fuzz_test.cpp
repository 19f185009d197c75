// Randomised checks of the decoder: generated messages whose validity is known by construction,
// and random or mutated bytes that must be dropped quietly. Seeds are fixed so that a failure
// reproduces; the seed and the datagram are printed with it.

#include "cuelink/cadenzo_link.h"
#include "cuelink/cue_messages.h"
#include "platform/virtual_main_loop.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

using namespace strata;
using Json = nlohmann::json;

namespace {

// What a generated field turned out to be.
enum class Shape { absent, null, good, wrong };

class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    int below(std::size_t n) { return below(static_cast<int>(n)); }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(int percent) { return below(100) < percent; }

    Shape shape() {
        const int r = below(100);
        return r < 25 ? Shape::absent : r < 35 ? Shape::null : r < 85 ? Shape::good : Shape::wrong;
    }

    std::string text() {
        static const std::vector<std::string> pool{"",       "Verse", "Chorus 2",   "Ünïcødé ✓",
                                                   "a\"b\\", "\n\t",  "[{not json", "HELLO"};
        return pool[below(static_cast<int>(pool.size()))];
    }

    // Good integers: (JSON value, the value it stands for).
    std::pair<Json, std::int64_t> integer() {
        switch (below(5)) {
        case 0:
            return {INT64_MAX, INT64_MAX};
        case 1:
            return {INT64_MIN, INT64_MIN};
        case 2: {
            const auto v = std::uniform_int_distribution<int>(-1000, 1000)(rng_);
            return {static_cast<double>(v), v}; // written as a number with a fraction part
        }
        default: {
            const auto v = std::uniform_int_distribution<std::int64_t>(-100000, 100000)(rng_);
            return {v, v};
        }
        }
    }
    std::pair<Json, double> floating() {
        if (chance(30)) {
            const auto v = std::uniform_int_distribution<int>(0, 300)(rng_);
            return {v, static_cast<double>(v)};
        }
        const double v = std::uniform_real_distribution<double>(-1e6, 1e6)(rng_);
        return {v, v};
    }

    Json wrongFor(const char* kind) {
        std::vector<Json> pool{Json("7"), Json(true), Json::array({1}), Json::object({{"a", 1}})};
        const std::string k = kind;
        if (k != "int" && k != "double")
            pool.push_back(Json(3));
        if (k == "int") {
            pool.push_back(Json(2.5));
            pool.push_back(Json(std::uint64_t(9223372036854775808u)));
            pool.push_back(Json(-1e19));
        }
        if (k == "strings") {
            pool.push_back(Json::array({"a", 1}));
            pool.push_back(Json::array({nullptr}));
        }
        if (k == "string")
            pool.erase(pool.begin()); // "7" is a good string
        if (k == "bool")
            pool.erase(pool.begin() + 1); // true is a good boolean
        return pool[below(static_cast<int>(pool.size()))];
    }

    // Random unknown keys with values of any shape, nested a little.
    Json anyValue(int depth) {
        switch (below(depth > 2 ? 4 : 6)) {
        case 0:
            return nullptr;
        case 1:
            return chance(50);
        case 2:
            return std::uniform_real_distribution<double>(-1e9, 1e9)(rng_);
        case 3:
            return text();
        case 4: {
            Json a = Json::array();
            for (int i = below(4); i > 0; --i)
                a.push_back(anyValue(depth + 1));
            return a;
        }
        default: {
            Json o = Json::object();
            for (int i = below(4); i > 0; --i)
                o["k" + std::to_string(below(10))] = anyValue(depth + 1);
            return o;
        }
        }
    }
    void addUnknownKeys(Json& object) {
        static const std::vector<std::string> names{"extra", "Host", "SONGIDX", "payload", "ts"};
        for (int i = below(3); i > 0; --i)
            object[names[below(static_cast<int>(names.size()))]] = anyValue(0);
    }

    std::mt19937& rng() { return rng_; }

private:
    std::mt19937 rng_;
};

// Builds one field into `object` and into `out`, tracking whether the message stays valid.
struct Builder {
    Generator& g;
    Json& object;
    bool valid = true;

    template <typename T, typename Make>
    void field(const char* key, bool required, const char* kind, std::optional<T>& out, Make make) {
        switch (g.shape()) {
        case Shape::absent:
            valid = valid && !required;
            break;
        case Shape::null:
            object[key] = nullptr;
            valid = valid && !required;
            break;
        case Shape::good: {
            auto [json, value] = make();
            object[key] = json;
            out = value;
            break;
        }
        case Shape::wrong:
            object[key] = g.wrongFor(kind);
            valid = false;
            break;
        }
    }
    template <typename T, typename Make>
    void required(const char* key, const char* kind, T& out, Make make) {
        std::optional<T> v;
        field(key, true, kind, v, make);
        if (v)
            out = *v;
    }
};

struct Generated {
    std::string type;
    std::string text;
    DecodedDatagram::Message expected;
};

SetlistSnapshot::Song makeSong(Generator& g, Json& object, bool& valid) {
    SetlistSnapshot::Song song;
    Builder b{g, object};
    b.required("name", "string", song.name, [&] {
        auto t = g.text();
        return std::pair{Json(t), t};
    });
    b.required("sections", "strings", song.sections, [&] {
        std::vector<std::string> names;
        for (int i = g.below(4); i > 0; --i)
            names.push_back(g.text());
        return std::pair{Json(names), names};
    });
    b.field("tempo", false, "double", song.tempo, [&] { return g.floating(); });
    b.field("key", false, "string", song.key, [&] {
        auto t = g.text();
        return std::pair{Json(t), t};
    });
    g.addUnknownKeys(object);
    valid = valid && b.valid;
    return song;
}

Generated generate(Generator& g) {
    static const std::vector<std::string> types{"HELLO", "SETLIST_SNAPSHOT", "LIVE_STATE", "FIRE",
                                                "MARKER_HIT"};
    Generated out;
    out.type = types[g.below(static_cast<int>(types.size()))];
    Json object = Json::object();
    object["type"] = out.type;
    Builder b{g, object};
    auto text = [&] {
        auto t = g.text();
        return std::pair{Json(t), t};
    };
    auto integer = [&] { return g.integer(); };
    auto boolean = [&] {
        const bool v = g.chance(50);
        return std::pair{Json(v), v};
    };
    auto floating = [&] { return g.floating(); };

    if (out.type == "HELLO") {
        Hello m;
        b.required("host", "string", m.host, text);
        b.field("version", false, "string", m.version, text);
        if (b.valid)
            out.expected = m;
    } else if (out.type == "SETLIST_SNAPSHOT") {
        SetlistSnapshot m;
        bool valid = true;
        switch (g.shape()) {
        case Shape::absent:
            valid = false;
            break;
        case Shape::null:
            object["songs"] = nullptr;
            valid = false;
            break;
        case Shape::wrong:
            object["songs"] = g.chance(50) ? Json::object() : Json::array({1});
            valid = false;
            break;
        case Shape::good:
            object["songs"] = Json::array();
            for (int i = g.below(3); i > 0; --i) {
                Json song = Json::object();
                m.songs.push_back(makeSong(g, song, valid));
                object["songs"].push_back(song);
            }
            break;
        }
        if (valid)
            out.expected = m;
    } else if (out.type == "LIVE_STATE") {
        LiveState m;
        b.required("songIdx", "int", m.songIdx, integer);
        b.required("sectionIdx", "int", m.sectionIdx, integer);
        b.field("nextSection", false, "string", m.nextSection, text);
        b.field("barsToNext", false, "int", m.barsToNext, integer);
        b.field("playing", false, "bool", m.playing, boolean);
        b.field("bpm", false, "double", m.bpm, floating);
        if (b.valid)
            out.expected = m;
    } else if (out.type == "FIRE") {
        Fire m;
        b.required("songIdx", "int", m.songIdx, integer);
        b.required("sectionIdx", "int", m.sectionIdx, integer);
        if (b.valid)
            out.expected = m;
    } else {
        MarkerHit m;
        b.required("name", "string", m.name, text);
        b.field("kind", false, "string", m.kind, text);
        if (b.valid)
            out.expected = m;
    }
    g.addUnknownKeys(object);
    object["type"] = out.type; // an unknown key may not replace the type
    out.text = object.dump(g.chance(20) ? 2 : -1);
    return out;
}

template <typename T>
std::optional<T> typed(const DecodedDatagram::Message& m) {
    if (const auto* v = std::get_if<T>(&m))
        return *v;
    return std::nullopt;
}

// Every per-type decoder agrees with the one-parse decoding of the datagram.
void expectDecodersAgree(const std::string& text) {
    const auto bytes = cueBytes(text);
    const auto datagram = decodeDatagram(bytes);
    const auto envelope = decodeEnvelope(bytes);
    ASSERT_EQ(datagram.has_value(), envelope.has_value());
    if (!datagram)
        return;
    EXPECT_EQ(datagram->envelope, *envelope);
    const auto& type = datagram->envelope.type;
    const auto& m = datagram->message;
    if (type == "HELLO")
        EXPECT_EQ(typed<Hello>(m), decodeHello(bytes));
    else if (type == "SETLIST_SNAPSHOT")
        EXPECT_EQ(typed<SetlistSnapshot>(m), decodeSetlistSnapshot(bytes));
    else if (type == "LIVE_STATE")
        EXPECT_EQ(typed<LiveState>(m), decodeLiveState(bytes));
    else if (type == "FIRE")
        EXPECT_EQ(typed<Fire>(m), decodeFire(bytes));
    else if (type == "MARKER_HIT")
        EXPECT_EQ(typed<MarkerHit>(m), decodeMarkerHit(bytes));
    else
        EXPECT_TRUE(std::holds_alternative<std::monostate>(m));
}

std::string mutate(Generator& g, std::string s) {
    static const std::string punctuation = std::string("[]{}\",:\\0e-.") + '\0';
    for (int n = 1 + g.below(4); n > 0; --n) {
        const auto size = static_cast<int>(s.size());
        const int at = size ? g.below(size) : 0;
        switch (g.below(7)) {
        case 0: // flip a bit
            if (size)
                s[at] = static_cast<char>(s[at] ^ (1 << g.below(8)));
            break;
        case 1: // drop a range
            s.erase(at, 1 + g.below(8));
            break;
        case 2: // insert a random byte
            s.insert(s.begin() + at, static_cast<char>(g.below(256)));
            break;
        case 3: // insert JSON punctuation
            s.insert(at, std::string(1 + g.below(40), punctuation[g.below(punctuation.size())]));
            break;
        case 4: // truncate
            s.resize(at);
            break;
        case 5: // duplicate a range
            if (size)
                s.insert(at, s.substr(g.below(size), 1 + g.below(16)));
            break;
        default: // swap a digit for something numeric but odd
            s.insert(at, std::vector<std::string>{"1e400", "-0", "2.5", "99999999999999999999",
                                                  "NaN", "null", "true"}[g.below(7)]);
            break;
        }
    }
    return s;
}

} // namespace

TEST(CueMessagesFuzz, GeneratedMessagesDecodeExactlyWhenValid) {
    constexpr std::uint32_t seed = 20240611;
    Generator g(seed);
    int valid = 0;
    for (int i = 0; i < 6000; ++i) {
        const auto gen = generate(g);
        SCOPED_TRACE("seed " + std::to_string(seed) + " #" + std::to_string(i) + ": " + gen.text);
        const auto decoded = decodeDatagram(cueBytes(gen.text));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->envelope.type, gen.type);
        EXPECT_EQ(decoded->message, gen.expected);
        expectDecodersAgree(gen.text);
        valid += !std::holds_alternative<std::monostate>(gen.expected);
        if (::testing::Test::HasFailure())
            return;
    }
    // The generator must exercise both outcomes in earnest.
    EXPECT_GT(valid, 1000);
    EXPECT_LT(valid, 5000);
}

TEST(CueMessagesFuzz, RandomAndMutatedBytesAreDroppedQuietly) {
    strata::testing::LogCapture log;
    VirtualMainLoop loop;
    CadenzoLink link(loop, {.openSocket = false});
    int events = 0;
    ConnectionBag bag;
    bag += link.fire.connect([&](const Fire&) { ++events; });
    bag += link.snapshot.connect([&](const SetlistSnapshot&) { ++events; });
    bag += link.markerHit.connect([&](const MarkerHit&) { ++events; });
    bag += link.liveTick.connect([&](const LiveState&) { ++events; });

    constexpr std::uint32_t seed = 77;
    Generator g(seed);
    int envelopes = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string bytes;
        if (i % 4 == 0) {
            bytes.resize(g.below(static_cast<int>(maxDatagramSize) + 1));
            for (auto& c : bytes)
                c = static_cast<char>(g.below(256));
        } else {
            bytes = mutate(g, generate(g).text);
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + " #" + std::to_string(i));
        expectDecodersAgree(bytes);
        envelopes += decodeEnvelope(cueBytes(bytes)).has_value();
        link.handleDatagram(cueBytes(bytes));
        if (::testing::Test::HasFailure())
            return;
    }
    // Mutation keeps some datagrams well formed, so both paths of the handler ran.
    EXPECT_GT(envelopes, 1000);
    EXPECT_GT(events, 0);
    EXPECT_TRUE(log.lines().empty());
}
