#include "cuelink/cue_messages.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace strata;
using namespace std::string_literals;

namespace {

// What the link reads from one datagram: its envelope, and the message of type T it carries.
std::optional<Envelope> envelopeOf(CueBytes bytes) {
    const auto datagram = decodeDatagram(bytes);
    return datagram ? std::optional(datagram->envelope) : std::nullopt;
}

template <typename T>
std::optional<T> messageOf(CueBytes bytes) {
    const auto datagram = decodeDatagram(bytes);
    if (!datagram)
        return std::nullopt;
    if (const T* message = std::get_if<T>(&datagram->message))
        return *message;
    return std::nullopt;
}

template <typename T>
struct Case {
    const char* name;
    std::string text;
    std::optional<T> expected;
};

template <typename T, typename Decode>
void runTable(const std::vector<Case<T>>& cases, Decode decode) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(cueBytes(c.text)), c.expected) << c.text;
    }
}

std::string nested(int depth) {
    return R"({"type":"HELLO","host":"h","x":)" + std::string(depth - 1, '[') +
           std::string(depth - 1, ']') + "}";
}

} // namespace

TEST(CueMessages, Envelope) {
    runTable<Envelope>(
        {
            {"known type", R"({"type":"HELLO"})", Envelope{"HELLO"}},
            {"unknown type is well formed", R"({"type":"live_state"})", Envelope{"live_state"}},
            {"empty type", R"({"type":""})", Envelope{""}},
            {"whitespace around", " \n{ \"type\" : \"FIRE\" }\r\n\t", Envelope{"FIRE"}},
            {"unknown keys of any shape", R"({"a":{"b":[1,null,{"c":true}]},"type":"X","z":-1e5})",
             Envelope{"X"}},
            {"escaped text", R"({"type":"A\u00e9\"\\"})", Envelope{"A\u00e9\"\\"}},
            {"empty datagram", "", std::nullopt},
            {"not JSON", "hello", std::nullopt},
            {"truncated", R"({"type":"HELLO")", std::nullopt},
            {"array", R"([{"type":"HELLO"}])", std::nullopt},
            {"bare string", R"("HELLO")", std::nullopt},
            {"key case differs", R"({"Type":"HELLO"})", std::nullopt},
            {"no type", R"({"host":"h"})", std::nullopt},
            {"type null", R"({"type":null})", std::nullopt},
            {"type number", R"({"type":1})", std::nullopt},
            {"type array", R"({"type":["HELLO"]})", std::nullopt},
            {"trailing data", R"({"type":"HELLO"} {})", std::nullopt},
            {"trailing NUL and data", "{\"type\":\"HELLO\"}\0{}"s, std::nullopt},
            {"NUL inside", "{\"type\":\"HE\0LLO\"}"s, std::nullopt},
            {"trailing comma", R"({"type":"HELLO",})", std::nullopt},
            {"comment", R"({"type":"HELLO"} // hi)", std::nullopt},
            {"single quotes", R"({'type':'HELLO'})", std::nullopt},
            {"invalid UTF-8", "{\"type\":\"\xff\xfe\"}", std::nullopt},
            {"number beyond double range", R"({"type":"X","n":1e400})", std::nullopt},
            {"nesting at the limit", nested(kMaxJsonNesting), Envelope{"HELLO"}},
            {"nesting beyond the limit", nested(kMaxJsonNesting + 1), std::nullopt},
            {"brackets inside strings, after an escaped quote too, do not nest",
             R"({"type":"[[[[[[[[[[[[[[[[[[[[\"{{{{{{{{{{{{{{{{{{{{"})",
             Envelope{R"([[[[[[[[[[[[[[[[[[[["{{{{{{{{{{{{{{{{{{{{)"}},
            {"closing brackets bring the nesting down",
             R"({"type":"X","x":[[],[],[],[],[],[],[],[],[],[],[],[],[],[],[],[],[]]})",
             Envelope{"X"}},
            {"longer than any datagram",
             R"({"type":"X","p":")" + std::string(kMaxDatagramSize, 'a') + R"("})", std::nullopt},
        },
        envelopeOf);
}

TEST(CueMessages, Hello) {
    runTable<Hello>(
        {
            {"host only", R"({"type":"HELLO","host":"FOH Mac"})", Hello{"FOH Mac", std::nullopt}},
            {"with version", R"({"type":"HELLO","host":"h","version":"2.1"})", Hello{"h", "2.1"}},
            {"version null", R"({"type":"HELLO","host":"h","version":null})",
             Hello{"h", std::nullopt}},
            {"unknown keys", R"({"type":"HELLO","host":"h","port":5,"x":{}})",
             Hello{"h", std::nullopt}},
            {"known name nested under an unknown key",
             R"({"type":"HELLO","x":{"host":"no"},"host":"yes"})", Hello{"yes", std::nullopt}},
            {"known name only nested", R"({"type":"HELLO","x":[{"host":"no"}]})", std::nullopt},
            {"text with escapes and non-ASCII letters",
             R"({"type":"HELLO","host":"a\"b\\ \u00dcn\u00efc\u00f8d\u00e9 \u2713\n\t","version":"[{not json"})",
             Hello{"a\"b\\ \u00dcn\u00efc\u00f8d\u00e9 \u2713\n\t", "[{not json"}},
            {"version number", R"({"type":"HELLO","host":"h","version":2})", std::nullopt},
            {"host missing", R"({"type":"HELLO"})", std::nullopt},
            {"host null", R"({"type":"HELLO","host":null})", std::nullopt},
            {"host number", R"({"type":"HELLO","host":7})", std::nullopt},
            {"not an object", R"(["HELLO"])", std::nullopt},
        },
        messageOf<Hello>);
}

TEST(CueMessages, SetlistSnapshot) {
    using Song = SetlistSnapshot::Song;
    runTable<SetlistSnapshot>(
        {
            {"no songs", R"({"type":"SETLIST_SNAPSHOT","songs":[]})", SetlistSnapshot{}},
            {"full song",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"Oceans","sections":["Intro","V1"],"tempo":96.5,"key":"Em"}]})",
             SetlistSnapshot{{Song{"Oceans", {"Intro", "V1"}, 96.5, "Em"}}}},
            {"minimal songs, integral tempo",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":[]},{"name":"B","sections":["C"],"tempo":120,"key":null,"bars":8}]})",
             SetlistSnapshot{{Song{"A", {}, std::nullopt, std::nullopt},
                              Song{"B", {"C"}, 120.0, std::nullopt}}}},
            {"song keys elsewhere are not songs",
             R"({"type":"SETLIST_SNAPSHOT","x":[{"name":1,"sections":2}],"songs":[{"name":"A","sections":["V"],"m":{"name":3}}]})",
             SetlistSnapshot{{Song{"A", {"V"}, std::nullopt, std::nullopt}}}},
            {"songs missing", R"({"type":"SETLIST_SNAPSHOT"})", std::nullopt},
            {"songs object", R"({"type":"SETLIST_SNAPSHOT","songs":{}})", std::nullopt},
            {"song not an object", R"({"type":"SETLIST_SNAPSHOT","songs":[1]})", std::nullopt},
            {"song without name", R"({"type":"SETLIST_SNAPSHOT","songs":[{"sections":[]}]})",
             std::nullopt},
            {"song without sections", R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A"}]})",
             std::nullopt},
            {"section not text",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":["V",1]}]})",
             std::nullopt},
            {"section null",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":[null]}]})",
             std::nullopt},
            {"sections text",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":"V"}]})", std::nullopt},
            {"tempo text",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":[],"tempo":"120"}]})",
             std::nullopt},
            {"second song invalid",
             R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":[]},{"name":2,"sections":[]}]})",
             std::nullopt},
        },
        messageOf<SetlistSnapshot>);
}

TEST(CueMessages, LiveState) {
    const auto minimal = [](std::int64_t song, std::int64_t section) {
        return LiveState{song, section, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    };
    const std::string head = R"({"type":"LIVE_STATE","songIdx":1,"sectionIdx":2)";
    runTable<LiveState>(
        {
            {"only the required keys", head + "}", minimal(1, 2)},
            {"every key",
             head + R"(,"nextSection":"Chorus","barsToNext":4,"playing":true,"bpm":128.5})",
             LiveState{1, 2, "Chorus", 4, true, 128.5}},
            {"integral bpm is a tempo", head + R"(,"bpm":120})",
             LiveState{1, 2, std::nullopt, std::nullopt, std::nullopt, 120.0}},
            {"null is absent",
             head + R"(,"barsToNext":null,"playing":null,"bpm":null,"nextSection":null})",
             minimal(1, 2)},
            {"pretty-printed across lines",
             "{\n  \"bpm\": -2.5e5,\n  \"playing\": false,\n  \"sectionIdx\": 0,\n"
             "  \"songIdx\": 300,\n  \"nextSection\": \"\",\n  \"type\": \"LIVE_STATE\"\n}",
             LiveState{300, 0, "", std::nullopt, false, -2.5e5}},
            {"integral value written as a fraction", head + R"(,"barsToNext":3.0})",
             LiveState{1, 2, std::nullopt, 3, std::nullopt, std::nullopt}},
            {"negative indices are carried",
             R"({"type":"LIVE_STATE","songIdx":-1,"sectionIdx":-7})", minimal(-1, -7)},
            {"largest integer",
             R"({"type":"LIVE_STATE","songIdx":9223372036854775807,"sectionIdx":-9223372036854775808})",
             minimal(INT64_MAX, INT64_MIN)},
            {"unknown keys", head + R"(,"beat":3,"meta":{"a":[1]}})", minimal(1, 2)},
            {"fractional bars", head + R"(,"barsToNext":2.5})", std::nullopt},
            {"integer just beyond 64 bits",
             R"({"type":"LIVE_STATE","songIdx":9223372036854775808,"sectionIdx":0})", std::nullopt},
            {"integer far beyond 64 bits", R"({"type":"LIVE_STATE","songIdx":1e19,"sectionIdx":0})",
             std::nullopt},
            {"negative integer far beyond 64 bits",
             R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":-9.3e18})", std::nullopt},
            {"negative integer written as a fraction",
             R"({"type":"LIVE_STATE","songIdx":-2.0,"sectionIdx":-1e1})", minimal(-2, -10)},
            {"huge digit string",
             R"({"type":"LIVE_STATE","songIdx":)" + std::string(400, '9') + R"(,"sectionIdx":0})",
             std::nullopt},
            {"index as text", R"({"type":"LIVE_STATE","songIdx":"1","sectionIdx":2})",
             std::nullopt},
            {"section index missing", R"({"type":"LIVE_STATE","songIdx":1})", std::nullopt},
            {"playing as number", head + R"(,"playing":1})", std::nullopt},
            {"bpm as text", head + R"(,"bpm":"120"})", std::nullopt},
            {"next section as number", head + R"(,"nextSection":5})", std::nullopt},
        },
        messageOf<LiveState>);
}

TEST(CueMessages, Fire) {
    runTable<Fire>(
        {
            {"both indices", R"({"type":"FIRE","songIdx":2,"sectionIdx":0})", Fire{2, 0}},
            {"negative", R"({"type":"FIRE","songIdx":-3,"sectionIdx":-1})", Fire{-3, -1}},
            {"integral fraction", R"({"type":"FIRE","songIdx":2.0,"sectionIdx":1e1})", Fire{2, 10}},
            {"unknown keys", R"({"sectionIdx":1,"songIdx":1,"type":"FIRE","at":"now"})",
             Fire{1, 1}},
            {"section index missing", R"({"type":"FIRE","songIdx":2})", std::nullopt},
            {"section index null", R"({"type":"FIRE","songIdx":2,"sectionIdx":null})",
             std::nullopt},
            {"fractional", R"({"type":"FIRE","songIdx":1.5,"sectionIdx":0})", std::nullopt},
            {"text", R"({"type":"FIRE","songIdx":"1","sectionIdx":"0"})", std::nullopt},
            {"boolean", R"({"type":"FIRE","songIdx":true,"sectionIdx":0})", std::nullopt},
        },
        messageOf<Fire>);
}

TEST(CueMessages, MarkerHit) {
    runTable<MarkerHit>(
        {
            {"name and kind", R"({"type":"MARKER_HIT","name":"Drop","kind":"cue"})",
             MarkerHit{"Drop", "cue"}},
            {"name only", R"({"type":"MARKER_HIT","name":""})", MarkerHit{"", std::nullopt}},
            {"kind null", R"({"type":"MARKER_HIT","name":"A","kind":null})",
             MarkerHit{"A", std::nullopt}},
            {"kind number", R"({"type":"MARKER_HIT","name":"A","kind":3})", std::nullopt},
            {"name missing", R"({"type":"MARKER_HIT","kind":"cue"})", std::nullopt},
            {"name object", R"({"type":"MARKER_HIT","name":{}})", std::nullopt},
        },
        messageOf<MarkerHit>);
}

TEST(CueMessages, DatagramSelectsTheTypedMessageByExactType) {
    struct Row {
        const char* text;
        std::optional<std::string> type; // none: not even an envelope
        DecodedDatagram::Message message;
    };
    // (Each valid typed message: the tables above, through the same decoding.)
    const std::vector<Row> rows{
        {R"({"type":"FIRE","songIdx":3,"sectionIdx":4})", "FIRE", Fire{3, 4}},
        {R"({"type":"GOODBYE","host":"h"})", "GOODBYE", std::monostate{}},
        {kDiscoveryDatagram.data(), "STRATA_HELLO", std::monostate{}},
        // A valid envelope whose typed message is invalid still decodes as an envelope.
        {R"({"type":"FIRE","songIdx":3})", "FIRE", std::monostate{}},
        {R"({"type":"HELLO"})", "HELLO", std::monostate{}},
        // Type strings are exact: the fields of a FIRE under another spelling carry nothing.
        {R"({"type":"fire","songIdx":3,"sectionIdx":4})", "fire", std::monostate{}},
        {R"({"type":"FIRE ","songIdx":3,"sectionIdx":4})", "FIRE ", std::monostate{}},
        {R"({"type":5,"songIdx":3,"sectionIdx":4})", std::nullopt, std::monostate{}},
        {R"(nonsense)", std::nullopt, std::monostate{}},
    };
    EXPECT_EQ(std::string(kDiscoveryDatagram), R"({"type":"STRATA_HELLO"})"); // the fixed bytes
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto decoded = decodeDatagram(cueBytes(row.text));
        ASSERT_EQ(decoded.has_value(), row.type.has_value());
        if (!decoded)
            continue;
        EXPECT_EQ(decoded->envelope.type, *row.type);
        EXPECT_EQ(decoded->message, row.message);
    }
}
