#include "model/setlist_codec.h"
#include "model/test_setlists.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace strata;
using namespace strata::testing;

namespace {

std::string withKey(const std::string& key, const nlohmann::json& value) {
    nlohmann::json doc = nlohmann::json::parse(kSample);
    doc[key] = value;
    return doc.dump();
}

TEST(TimeSourceCodec, AbsentMeansCadenzoAndStaysOutOfTheFile) {
    const auto plain = decodeSetlist(kSample);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->timeSource);
    EXPECT_FALSE(plain->clockDevice);
    EXPECT_EQ(plain->effectiveTimeSource(), TimeSource::cadenzo);
    EXPECT_EQ(encodeSetlist(*plain), std::string(kSample));

    // Set, then cleared again: the older file's bytes come back exactly.
    Setlist set = *plain;
    set.timeSource = TimeSource::midiClock;
    set.clockDevice = "FCB1010";
    set.timeSource.reset();
    set.clockDevice.reset();
    EXPECT_EQ(encodeSetlist(set), std::string(kSample));
}

TEST(TimeSourceCodec, ChosenSourceAndDeviceRoundTripInKeyOrder) {
    Setlist set = *decodeSetlist(kSample);
    set.timeSource = TimeSource::midiClock;
    set.clockDevice = "Ardour Clock Out";
    const auto bytes = encodeSetlist(set);
    ASSERT_TRUE(bytes);
    const auto device = bytes->find("\"clockDevice\" : \"Ardour Clock Out\"");
    const auto control = bytes->find("\"controlMode\"");
    const auto songs = bytes->find("\"songs\"");
    const auto source = bytes->find("\"timeSource\" : \"midiClock\"");
    ASSERT_NE(device, std::string::npos) << *bytes;
    ASSERT_NE(source, std::string::npos) << *bytes;
    EXPECT_LT(device, control);
    EXPECT_LT(songs, source);
    const auto back = decodeSetlist(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, set);
    EXPECT_EQ(encodeSetlist(*back), bytes);
}

TEST(TimeSourceCodec, UnreadableValuesLoadAsAbsent) {
    const auto plain = decodeSetlist(kSample);
    ASSERT_TRUE(plain);
    const std::vector<std::pair<std::string, nlohmann::json>> cases = {
        {"timeSource", "Link"}, {"timeSource", "MidiClock"},
        {"timeSource", 3},      {"timeSource", nullptr},
        {"clockDevice", 7},     {"clockDevice", nlohmann::json::array()},
    };
    for (const auto& [key, value] : cases) {
        const auto s = decodeSetlist(withKey(key, value));
        ASSERT_TRUE(s) << key << value;
        EXPECT_EQ(*s, *plain) << key << value;
    }
    const auto cadenzo = decodeSetlist(withKey("timeSource", "cadenzo"));
    ASSERT_TRUE(cadenzo);
    EXPECT_EQ(cadenzo->timeSource, TimeSource::cadenzo);
    const auto link = decodeSetlist(withKey("timeSource", "link"));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->timeSource, TimeSource::link);
    EXPECT_NE(encodeSetlist(*link)->find("\"timeSource\" : \"link\""), std::string::npos);
}

} // namespace
