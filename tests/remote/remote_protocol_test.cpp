// The band remote's wire formats: OSC datagrams and the page's WebSocket messages.

#include "remote/osc.h"
#include "remote/remote_hub.h"
#include "remote/remote_protocol.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace strata;

namespace {

using Kind = RemoteCommand::Kind;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}
Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<osc::Message> decode(const Bytes& bytes) {
    return osc::decode(bytes.data(), bytes.size());
}

TEST(OscCodec, MessagesSurviveTheRoundTrip) {
    const std::vector<osc::Message> messages{
        {"/strata/next", {}},
        {"/strata/section", {std::int32_t{3}}},
        {"/strata/state", {std::int32_t{-1}, 2.5f, std::string("Verse"), std::string("")}},
        {"/abc", {std::string("four")}}, // a string filling its word exactly gets a whole pad
    };
    for (const auto& message : messages) {
        SCOPED_TRACE(message.address);
        const Bytes wire = osc::encode(message);
        EXPECT_EQ(wire.size() % 4, 0U);
        EXPECT_EQ(decode(wire), std::vector<osc::Message>{message});
    }
    // The layout other OSC programs read: address, tags, a big-endian integer.
    EXPECT_EQ(osc::encode({"/a", {std::int32_t{258}}}),
              cat({text("/a"), bytesOf({0, 0}), text(",i"), bytesOf({0, 0, 0, 0, 1, 2})}));
}

TEST(OscCodec, BundlesAreOpenedAndMalformedInputEndsReading) {
    const Bytes next = osc::encode({"/strata/next", {}});
    const Bytes song = osc::encode({"/strata/song", {std::int32_t{1}}});
    const auto sized = [](const Bytes& element) {
        const auto n = static_cast<int>(element.size());
        return cat({bytesOf({0, 0, n >> 8, n & 0xFF}), element});
    };
    const Bytes timeTag = bytesOf({0, 0, 0, 0, 0, 0, 0, 1});
    const Bytes bundle = cat({text("#bundle"), bytesOf({0}), timeTag, sized(next), sized(song)});
    EXPECT_EQ(decode(bundle).size(), 2U);
    EXPECT_EQ(decode(bundle)[1].address, "/strata/song");

    // Nested beyond the depth limit: nothing.
    Bytes nested = bundle;
    for (int i = 0; i < osc::kMaxBundleDepth; ++i)
        nested = cat({text("#bundle"), bytesOf({0}), timeTag, sized(nested)});
    EXPECT_TRUE(decode(nested).empty());

    struct Bad {
        const char* name;
        Bytes bytes;
    };
    const std::vector<Bad> bad{
        {"empty", {}},
        {"length not a multiple of four", cat({next, bytesOf({0})})},
        {"no leading slash", osc::encode({"strata", {}})},
        {"address without terminator", text("/abcdefg")},
        {"integer cut short", cat({text("/a"), bytesOf({0, 0}), text(",i"), bytesOf({0, 0})})},
        {"unknown type tag", cat({text("/a"), bytesOf({0, 0}), text(",b"), bytesOf({0, 0})})},
        {"bundle element overruns",
         cat({text("#bundle"), bytesOf({0}), timeTag, bytesOf({0, 0, 1, 0}), next})},
        {"oversized", Bytes(osc::kMaxPacketBytes + 4, 0x2F)},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        EXPECT_TRUE(decode(b.bytes).empty());
    }
}

TEST(RemoteProtocol, OscAddressesAndPageMessagesMapToCommands) {
    struct OscCase {
        osc::Message message;
        std::optional<RemoteCommand> command;
    };
    const std::vector<OscCase> oscCases{
        {{"/strata/next", {}}, RemoteCommand{Kind::next, 0}},
        {{"/strata/prev", {}}, RemoteCommand{Kind::prev, 0}},
        {{"/strata/allon", {}}, RemoteCommand{Kind::allOn, 0}},
        {{"/strata/section", {std::int32_t{2}}}, RemoteCommand{Kind::section, 2}},
        {{"/strata/song", {3.0f}}, RemoteCommand{Kind::song, 3}},
        {{"/strata/song", {3.5f}}, std::nullopt},
        {{"/strata/section", {}}, std::nullopt},
        {{"/strata/section", {std::int32_t{-1}}}, std::nullopt},
        {{"/strata/section", {std::string("2")}}, std::nullopt},
        {{"/strata/nextx", {}}, std::nullopt},
    };
    for (const auto& c : oscCases) {
        SCOPED_TRACE(c.message.address);
        EXPECT_EQ(commandFromOsc(c.message), c.command);
    }

    struct PageCase {
        std::string text;
        std::optional<PageMessage> message;
    };
    const std::vector<PageCase> pageCases{
        {R"({"cmd":"next"})", RemoteCommand{Kind::next, 0}},
        {R"({"cmd":"prev"})", RemoteCommand{Kind::prev, 0}},
        {R"({"cmd":"allon"})", RemoteCommand{Kind::allOn, 0}},
        {R"({"cmd":"section","index":4})", RemoteCommand{Kind::section, 4}},
        {R"({"cmd":"song","index":0})", RemoteCommand{Kind::song, 0}},
        {R"({"cmd":"song","index":1.5})", std::nullopt},
        {R"({"cmd":"song","index":-2})", std::nullopt},
        {R"({"cmd":"song","index":99999999999})", std::nullopt},
        {R"({"cmd":"song"})", std::nullopt},
        {R"({"cmd":"dance"})", std::nullopt},
        {R"({"pair":"123456","device":"Drums"})", PairRequest{"123456", "Drums"}},
        {R"({"pair":"1","device":")" + std::string(100, 'x') + "\"}",
         PairRequest{"1", std::string(kMaxDeviceNameBytes, 'x')}},
        {R"({"key":"abc"})", ControlKey{"abc"}},
        {R"({"key":5})", std::nullopt},
        {R"(["cmd","next"])", std::nullopt},
        {R"({"cmd":"next")", std::nullopt},
        {"", std::nullopt},
        {std::string(kMaxPageMessageBytes + 1, ' ') + R"({"cmd":"next"})", std::nullopt},
        {std::string(200, '[') + std::string(200, ']'), std::nullopt},
    };
    for (const auto& c : pageCases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        EXPECT_EQ(decodePageMessage(c.text), c.message);
    }
}

TEST(RemoteProtocol, StateReachesThePageAndOscSubscribers) {
    RemoteState state;
    state.setName = "Friday";
    state.songs = {"One", "Two"};
    state.currentSong = 1;
    state.song = "Two";
    state.now = "Verse";
    state.next = "Chorus";
    state.section = 1;
    state.sections = {"Intro", "Verse", "Chorus"};
    state.step = 2;
    state.steps = 3;
    state.cueConnected = true;
    // (The set, the sections and control: what a phone receives from the real server.)
    const auto json = nlohmann::json::parse(encodeStateJson(state, false));
    EXPECT_EQ(json["song"], "Two");
    EXPECT_EQ(json["step"], 2);
    EXPECT_EQ(json["steps"], 3);
    EXPECT_EQ(json["cue"], true);
    EXPECT_EQ(json["midi"], false);
    // Broken UTF-8 in a name is replaced rather than thrown over.
    state.song = "\xC3";
    nlohmann::json reparsed;
    EXPECT_NO_THROW(reparsed = nlohmann::json::parse(encodeStateJson(state, true)));
    EXPECT_TRUE(reparsed.is_object());

    const osc::Message message = oscStateMessage(state);
    EXPECT_EQ(message.address, "/strata/state");
    EXPECT_EQ(message.arguments.size(), 6U);
    EXPECT_EQ(osc::intArgument(message, 0), 1);
    EXPECT_EQ(osc::intArgument(message, 2), 2);
    EXPECT_EQ(std::get<std::string>(message.arguments[4]), "Verse");
}

TEST(RemoteProtocol, SecretsMatchOnlyWhenEqual) {
    EXPECT_TRUE(sameSecret("0123abcd", "0123abcd"));
    EXPECT_FALSE(sameSecret("0123abcd", "0123abce"));
    EXPECT_FALSE(sameSecret("0123abcd", "0123abc"));
    EXPECT_FALSE(sameSecret("0123abc", "0123abcd"));
    EXPECT_FALSE(sameSecret("", "")); // an empty secret is no secret
}

} // namespace

#include "remote/rate_gate.h"

namespace {

using std::chrono::milliseconds;

TEST(RemotePacing, ClientsAreHeldToTheirRateAndUpdatesToTenASecond) {
    const TimePoint t0{};
    RateGate gate(10, 3);
    int passed = 0;
    for (int i = 0; i < 10; ++i) // a burst: only the bucket's worth passes
        passed += gate.allow(t0) ? 1 : 0;
    EXPECT_EQ(passed, 3);
    EXPECT_FALSE(gate.allow(t0 + milliseconds(50)));
    EXPECT_TRUE(gate.allow(t0 + milliseconds(100)));
    // A second at a steady 100 per second lets ten through (nine when rounding falls short).
    passed = 0;
    for (int i = 1; i <= 100; ++i)
        passed += gate.allow(t0 + milliseconds(100 + 10 * i)) ? 1 : 0;
    EXPECT_GE(passed, 9);
    EXPECT_LE(passed, 10);

    UpdatePacer pacer(milliseconds(100));
    EXPECT_EQ(pacer.changed(t0), Duration::zero());
    EXPECT_EQ(pacer.changed(t0 + milliseconds(30)), milliseconds(70));
    EXPECT_EQ(pacer.changed(t0 + milliseconds(60)), milliseconds(40));
    EXPECT_FALSE(pacer.due(t0 + milliseconds(99)));
    EXPECT_TRUE(pacer.due(t0 + milliseconds(100)));  // the two changes go out together
    EXPECT_FALSE(pacer.due(t0 + milliseconds(300))); // nothing waits
    EXPECT_EQ(pacer.changed(t0 + milliseconds(150)), milliseconds(50));
    EXPECT_EQ(pacer.changed(t0 + milliseconds(400)), Duration::zero());
}

} // namespace
