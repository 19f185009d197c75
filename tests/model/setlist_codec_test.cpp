#include "model/setlist_codec.h"
#include "model/test_setlists.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>

using namespace strata;
using Json = nlohmann::json;
using namespace strata::testing;

namespace {

// Edits one value of a document: `value` nullopt removes the key.
std::string edited(std::string_view document, const std::string& pointer,
                   std::optional<Json> value) {
    Json doc = Json::parse(document);
    const Json::json_pointer ptr(pointer);
    if (value)
        doc[ptr] = *value;
    else
        doc[ptr.parent_pointer()].erase(ptr.back());
    return doc.dump();
}

} // namespace

TEST(SetlistCodec, SampleDocumentLoadsToItsRecordsAndIsWrittenByteForByte) {
    const auto decoded = decodeSetlist(kSample);
    ASSERT_TRUE(decoded);
    Setlist expected;
    expected.name = "Untitled Set";
    expected.controlMode = ControlMode::mackieControl;
    expected.mackiePort = "Strata";
    expected.layers = {Layer{id(1), "Piano", "", 1, 20, {}}};
    Section intro{id(3), "Intro", {SectionStep{id(4), {}, std::nullopt, false}}, {}, {}};
    expected.songs = {Song{id(2), "New Song", {intro}, std::nullopt, std::nullopt}};
    EXPECT_EQ(*decoded, expected);
    EXPECT_EQ(encodeSetlist(*decoded), std::string(kSample));
}

TEST(SetlistCodec, RoundTripKeepsEverythingAndWritesTheSameBytesAgain) {
    const Setlist original = richSetlist();
    const auto bytes = encodeSetlist(original);
    ASSERT_TRUE(bytes);
    const auto decoded = decodeSetlist(*bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, original);
    EXPECT_EQ(encodeSetlist(*decoded), bytes);

    // Optional fields are left out, never written as null; every UUID is upper case.
    EXPECT_EQ(bytes->find("null"), std::string::npos);
    const Setlist fresh = Setlist::empty(); // random ids
    const std::string emptySet = *encodeSetlist(fresh);
    EXPECT_EQ(decodeSetlist(emptySet), fresh);
    const std::regex uuid(
        "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}");
    int uuids = 0;
    for (const auto& text : {*bytes, emptySet})
        for (std::sregex_iterator it(text.begin(), text.end(), uuid), end; it != end; ++it, ++uuids)
            EXPECT_EQ(it->str().find_first_of("abcdef"), std::string::npos) << it->str();
    EXPECT_GT(uuids, 30);
    const auto songs = Json::parse(*bytes)["songs"];
    EXPECT_FALSE(songs[1].contains("tempo"));
    EXPECT_FALSE(songs[1].contains("key"));
    EXPECT_FALSE(Json::parse(*bytes)["layers"][1].contains("muteCC"));

    // Keys come out in ascending order in every object.
    std::vector<std::string> lastKey(64);
    bool sorted = true;
    const Json checked =
        Json::parse(*bytes, [&](int depth, Json::parse_event_t event, Json& parsed) {
            if (event == Json::parse_event_t::object_start)
                lastKey[depth + 1].clear();
            if (event == Json::parse_event_t::key) {
                const auto& k = parsed.get_ref<const std::string&>();
                sorted = sorted && lastKey[depth] < k;
                lastKey[depth] = k;
            }
            return true;
        });
    EXPECT_TRUE(sorted);
    EXPECT_FALSE(checked.is_discarded());
}

TEST(SetlistCodec, WriterReplacesBadUtf8AndLeavesOutAnInfiniteTempo) {
    Setlist s = Setlist::empty();
    s.name = "bad \xC3\x28 \xED\xA0\x80 end";
    s.songs[0].tempo = std::numeric_limits<double>::infinity();
    const auto bytes = encodeSetlist(s);
    ASSERT_TRUE(bytes);
    const auto back = decodeSetlist(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, "bad \uFFFD( \uFFFD\uFFFD\uFFFD end");
    EXPECT_FALSE(back->songs[0].tempo);
}

// Strict records: any of these rejects the whole file. Each row edits the sample document.
TEST(SetlistCodec, StrictFailuresRejectTheWholeFile) {
    const std::string big = "9223372036854775808";
    struct Row {
        std::string pointer;
        std::optional<Json> value;
    };
    const std::vector<Row> rows = {
        {"/name", std::nullopt},
        {"/name", nullptr},
        {"/songs", std::nullopt},
        {"/songs", Json::object()},
        {"/layers", std::nullopt},
        {"/layers/0", "Piano"}, // an element that is not an object fails the whole array
        {"/controlMode", "mackie"},
        {"/controlMode", 1},
        {"/mackiePort", 5},
        {"/mackieTrackOffset", "8"},
        {"/mackieTrackOffset", 8.5},
        {"/mackieTrackOffset", 8.0},
        {"/mackieTrackOffset", Json::parse(big)},
        {"/mackieTrackOffset", Json::parse("-" + big + "1")},
        {"/songs/0/id", std::nullopt},
        {"/songs/0/id", "00000000-0000-0000-0000-00000000000"},
        {"/songs/0/id", "{00000000-0000-0000-0000-000000000002}"},
        {"/songs/0/name", 3},
        {"/songs/0/sections", std::nullopt},
        {"/songs/0/sections/0", Json::array()},
        {"/songs/0/tempo", "120"},
        {"/songs/0/key", false},
        {"/songs/0", 1},
    };
    for (const auto& row : rows) {
        const auto text = edited(kSample, row.pointer, row.value);
        EXPECT_FALSE(decodeSetlist(text)) << text;
    }
    for (std::string_view text : {"", "[]", "null", "\"x\"", "{", "{}", "{} {}"})
        EXPECT_FALSE(decodeSetlist(text)) << text;
}

TEST(SetlistCodec, StrictOptionalsTreatNullAsAbsent) {
    const std::string rich = *encodeSetlist(richSetlist());
    for (const char* key :
         {"/controlMode", "/mackiePort", "/mackieTrackOffset", "/songs/0/tempo", "/songs/0/key"}) {
        const auto withNull = decodeSetlist(edited(rich, key, nullptr));
        ASSERT_TRUE(withNull) << key;
        EXPECT_EQ(*withNull, decodeSetlist(edited(rich, key, std::nullopt)).value()) << key;
        EXPECT_NE(*withNull, richSetlist()) << key;
    }
    // A tempo may be any JSON number.
    const auto s = decodeSetlist(edited(kSample, "/songs/0/tempo", 96));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->songs[0].tempo, 96.0);
    // Unknown keys are ignored anywhere.
    EXPECT_TRUE(decodeSetlist(edited(kSample, "/songs/0/sections/0/colour", {{"deep", {1, 2}}})));
}

// Tolerant records: the damaged key takes its fallback and the rest of the file loads as it was.
// Each row damages one key; read back and written again, the document differs from the undamaged
// one only at `at`, which holds `fallback` (nullopt: left out; kNewId: an id of its own).
TEST(SetlistCodec, TolerantRecordsFallBackKeyByKey) {
    const Json rich = Json::parse(*encodeSetlist(richSetlist()));
    const std::string layer = "/layers/0", rule = "/layers/0/rules/0";
    const std::string section = "/songs/0/sections/0", step = section + "/steps/0";
    const std::string moment = section + "/moments/0";
    const Json big = Json::parse("9223372036854775808"), kNewId = "new id";
    const Json defaultAnchor = {{"barsBeforeSectionEnd", {{"_0", 2}}}};
    struct Row {
        std::string pointer;
        std::optional<Json> value;
        std::string at;
        std::optional<Json> fallback;
    };
    const std::vector<Row> rows = {
        {layer + "/channel", "2", layer + "/channel", 1},
        {layer + "/channel", 2.5, layer + "/channel", 1},
        {layer + "/channel", big, layer + "/channel", 1},
        {layer + "/channel", Json::parse("-9223372036854775808"), layer + "/channel", INT64_MIN},
        {layer + "/muteCC", nullptr, layer + "/muteCC", std::nullopt},
        {layer + "/muteCC", "20", layer + "/muteCC", std::nullopt},
        {layer + "/name", std::nullopt, layer + "/name", "Layer"},
        {layer + "/portName", 5, layer + "/portName", ""},
        {layer + "/id", "nope", layer + "/id", kNewId},
        {layer + "/rules/1", 1, layer + "/rules", Json::array()},
        {rule + "/enabled", "false", rule + "/enabled", true},
        {rule + "/effect", "fadeOut", rule + "/effect", "swellIn"},
        {rule + "/allSections", nullptr, rule + "/allSections", true},
        {rule + "/sectionNames", Json{"Chorus", 1}, rule + "/sectionNames", Json::array()},
        {rule + "/anchor", Json{{"barsAfterStart", {{"_0", 4}}}, {"manual", Json::object()}},
         rule + "/anchor", defaultAnchor},
        {section + "/name", Json::array(), section + "/name", "Section"},
        {section + "/jumpTrigger/kind", std::nullopt, section + "/jumpTrigger", std::nullopt},
        {section + "/jumpTrigger/kind", "pitch", section + "/jumpTrigger", std::nullopt},
        {section + "/moments/2", "x", section + "/moments", Json::array()},
        {step + "/advanceBars", "4", step + "/advanceBars", std::nullopt},
        {step + "/returnToMain", 1, step + "/returnToMain", false},
        {step + "/mutedLayerIDs/1", "not-a-uuid", step + "/mutedLayerIDs", Json::array()},
        {step + "/id", std::nullopt, step + "/id", kNewId},
        {moment + "/programChanges/0/program", std::nullopt, moment + "/programChanges",
         Json::array()},
        {moment + "/ccSends/1/channel", 1.5, moment + "/ccSends", Json::array()},
        {moment + "/name", std::nullopt, moment + "/name", "Moment"},
        {moment + "/anchor", Json{{"x", 1}}, moment + "/anchor", Json{{"manual", Json::object()}}},
        {moment + "/trigger/data1", "64", moment + "/trigger", std::nullopt},
        {moment + "/muteLayerIDs", "x", moment + "/muteLayerIDs", Json::array()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pointer);
        const auto s = decodeSetlist(edited(rich.dump(), row.pointer, row.value));
        ASSERT_TRUE(s);
        Json back = Json::parse(*encodeSetlist(*s));
        const Json::json_pointer at(row.at);
        if (row.fallback == kNewId) {
            const auto newId = Uuid::parse(back.value(at, std::string()));
            ASSERT_TRUE(newId);
            EXPECT_FALSE(newId->isNil());
            EXPECT_NE(back[at], rich[at]);
        } else if (row.fallback) {
            EXPECT_EQ(back.value(at, Json()), *row.fallback);
        } else {
            EXPECT_FALSE(back.contains(at));
        }
        // Everything else is as it was.
        Json expected = rich;
        for (Json* doc : {&back, &expected})
            if (doc->contains(at))
                (*doc)[at.parent_pointer()].erase(at.back());
        EXPECT_EQ(back, expected);
    }
}

TEST(SetlistCodec, LegacySectionForms) {
    const auto a = id(1).string();
    struct Row {
        Json section;
        UuidSet muted;
        std::string name;
    };
    const std::vector<Row> rows = {
        {{{"name", "Verse"}, {"mutedLayerIDs", {a}}}, {id(1)}, "Verse"},
        {{{"name", "Verse"}, {"steps", Json::array()}}, {}, "Verse"},
        {{{"name", "Verse"}, {"steps", Json::array()}, {"mutedLayerIDs", {a}}}, {id(1)}, "Verse"},
        {{{"steps", "x"}, {"mutedLayerIDs", {a, "bad"}}}, {}, "Section"},
        {Json::object(), {}, "Section"},
        // A readable non-empty "steps" wins over a section-level set.
        {{{"steps", {{{"id", id(9).string()}}}}, {"mutedLayerIDs", {a}}}, {}, "Section"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.section.dump());
        const auto s = decodeSetlist(edited(kSample, "/songs/0/sections/0", row.section));
        ASSERT_TRUE(s);
        const Section& section = s->songs[0].sections[0];
        EXPECT_EQ(section.name, row.name);
        ASSERT_EQ(section.steps.size(), 1u);
        EXPECT_EQ(section.steps[0].mutedLayerIDs, row.muted);
        EXPECT_FALSE(section.steps[0].advanceBars);
        EXPECT_FALSE(section.steps[0].returnToMain);
        EXPECT_TRUE(section.moments.empty());
        EXPECT_FALSE(section.jumpTrigger);
        EXPECT_NE(section.id, id(3));
        EXPECT_FALSE(section.id.isNil());
    }
}

TEST(SetlistCodec, FireAnchorForms) {
    const std::string keys = "Invalid number of keys found, expected one.";
    struct Row {
        std::string text;
        std::optional<FireAnchor> anchor;
        std::string error;
    };
    const std::vector<Row> rows = {
        {R"({"manual":{}})", FireAnchor::manual(), ""},
        {R"({"onSectionEnter":{}})", FireAnchor::onSectionEnter(), ""},
        {R"({"barsAfterStart":{"_0":4}})", FireAnchor::barsAfterStart(4), ""},
        {R"({"barsBeforeSectionEnd":{"_0":-1,"x":2}})", FireAnchor::barsBeforeSectionEnd(-1), ""},
        {R"({"manual":{},"x":1})", FireAnchor::manual(), ""},
        {R"({"barsAfterStart":{"_0":4},"manual":{}})", std::nullopt, keys},
        {R"({"x":{}})", std::nullopt, keys},
        {R"({})", std::nullopt, keys},
        {R"({"barsAfterStart":{}})", std::nullopt, ""},
        {R"({"barsAfterStart":{"_0":2.5}})", std::nullopt, ""},
        {R"({"barsAfterStart":{"_0":"2"}})", std::nullopt, ""},
        {R"({"manual":5})", std::nullopt, ""},
        {R"("manual")", std::nullopt, ""},
    };
    for (const auto& row : rows) {
        const auto decoded = decodeFireAnchor(row.text);
        EXPECT_EQ(decoded, row.anchor) << row.text;
        if (!row.error.empty()) {
            EXPECT_EQ(decoded.reason(), row.error) << row.text;
        }
        if (row.anchor) {
            EXPECT_EQ(decodeFireAnchor(encodeFireAnchor(*row.anchor)), row.anchor);
        }
    }
    EXPECT_EQ(encodeFireAnchor(FireAnchor::barsAfterStart(4)),
              "{\n  \"barsAfterStart\" : {\n    \"_0\" : 4\n  }\n}");
    EXPECT_EQ(encodeFireAnchor(FireAnchor::manual()), "{\n  \"manual\" : { }\n}");
}

TEST(SetlistCodec, AdvanceTriggerIsStrict) {
    const AdvanceTrigger t{"FCB1010 \u00B7 port", AdvanceTrigger::Kind::cc, 7};
    EXPECT_EQ(decodeAdvanceTrigger(*encodeAdvanceTrigger(t)), t);
    EXPECT_EQ(decodeAdvanceTrigger(R"({"data1":64,"deviceName":"","kind":"note","x":0})"),
              (AdvanceTrigger{"", AdvanceTrigger::Kind::note, 64}));
    for (const char* bad :
         {R"({"data1":64,"deviceName":""})", R"({"data1":64.0,"deviceName":"","kind":"cc"})",
          R"({"data1":64,"deviceName":null,"kind":"cc"})",
          R"({"data1":64,"deviceName":"","kind":"CC"})", "[]", "garbage"})
        EXPECT_FALSE(decodeAdvanceTrigger(bad)) << bad;
}

TEST(SetlistCodec, DeepNestingIsRejectedWithoutExhaustingTheStack) {
    EXPECT_EQ(decodeSetlist(std::string(100000, '[')).reason(), "nested deeper than 128 levels");
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "{\"a\":";
    EXPECT_FALSE(
        decodeSetlist(edited(kSample, "/x", 1)
                          .replace(1, 0, "\"y\":" + deep + "1" + std::string(100000, '}') + ",")));
    // Moderately nested unknown keys still load (brackets inside strings are the JSON reader's).
    Json nested = 1;
    for (int i = 0; i < kMaxJsonDepth - 2; ++i)
        nested = Json::array({nested});
    EXPECT_TRUE(decodeSetlist(edited(kSample, "/x", nested)));
}

// The set-level choices are optional (the sample has none; the rich set has all of them, where the
// round trip checks their place in the key order). Any value this version cannot read loads as if
// the key were absent.
TEST(SetlistCodec, SetLevelChoicesRoundTripAndUnreadableValuesReadAsAbsent) {
    for (const DawHost host : allDawHosts)
        for (const TimeSource source :
             {TimeSource::cadenzo, TimeSource::midiClock, TimeSource::link}) {
            Setlist set = richSetlist();
            set.dawHost = host;
            set.timeSource = source;
            EXPECT_EQ(decodeSetlist(*encodeSetlist(set)), set);
        }
    const auto plain = decodeSetlist(kSample);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->effectiveDawHost(), DawHost::logic);
    EXPECT_EQ(plain->effectiveTimeSource(), TimeSource::cadenzo);
    const std::vector<std::pair<std::string, Json>> unreadable{
        {"/dawHost", nullptr},           {"/dawHost", "cubase"},
        {"/dawHost", "Ardour"},          {"/dawHost", 1},
        {"/dawHost", Json::array()},     {"/timeSource", "Link"},
        {"/timeSource", "MidiClock"},    {"/timeSource", 3},
        {"/timeSource", nullptr},        {"/clockDevice", 7},
        {"/clockDevice", Json::array()},
    };
    for (const auto& [key, value] : unreadable) {
        const auto s = decodeSetlist(edited(kSample, key, value));
        ASSERT_TRUE(s) << key << value;
        EXPECT_EQ(*s, *plain) << key << value;
    }
    EXPECT_EQ(decodeSetlist(edited(kSample, "/timeSource", "cadenzo"))->timeSource,
              TimeSource::cadenzo);
    EXPECT_EQ(decodeSetlist(edited(kSample, "/timeSource", "link"))->timeSource, TimeSource::link);
}
