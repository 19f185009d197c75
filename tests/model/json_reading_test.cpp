#include "json/json_reading.h"
#include <gtest/gtest.h>
#include <string>

using namespace strata;
using json::IntegralFloats;
using json::Json;

// The nesting gate and the refusal of NUL bytes: the CueMessages envelope table and the setlist
// codec's nesting test. Without the refusal the parser stops at a NUL and takes what came before.
TEST(JsonReading, WithoutTheRefusalOfNulTheParserTakesWhatCameBeforeIt) {
    const auto lenient = json::parse(std::string("{\"a\":1}") + '\0' + "garbage", {.maxDepth = 4});
    ASSERT_TRUE(lenient);
    EXPECT_EQ(*lenient, Json({{"a", 1}}));
}

TEST(JsonReading, IntegersFollowTheRuleForIntegralFloats) {
    struct Row {
        const char* text;
        std::optional<std::int64_t> refused, accepted;
    };
    const Row rows[] = {
        {"3", 3, 3},
        {"-9223372036854775808", INT64_MIN, INT64_MIN},
        {"9223372036854775807", INT64_MAX, INT64_MAX},
        {"9223372036854775808", std::nullopt, std::nullopt}, // beyond the signed range
        {"3.0", std::nullopt, 3},
        {"1e2", std::nullopt, 100},
        {"-2.0", std::nullopt, -2},
        {"2.5", std::nullopt, std::nullopt},
        {"9.3e18", std::nullopt, std::nullopt},
        {"-9.3e18", std::nullopt, std::nullopt},
        {"\"2\"", std::nullopt, std::nullopt},
        {"true", std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const Json value = Json::parse(row.text);
        EXPECT_EQ(json::readInteger(value, IntegralFloats::refused), row.refused);
        EXPECT_EQ(json::readInteger(value, IntegralFloats::accepted), row.accepted);
    }
    EXPECT_EQ(
        json::readInteger(Json::parse("9223372036854775808"), IntegralFloats::refused).reason(),
        "integer out of range");
    EXPECT_EQ(json::readInteger(Json::parse("2.5"), IntegralFloats::accepted).reason(),
              "expected an integer");
}

TEST(JsonReading, FieldsKeepTheFirstFailureAndTolerantReadsNeverFail) {
    const Json object = Json::parse(R"({"n":1,"s":"x","bad":"y","nothing":null})");
    {
        json::Fields f(object);
        EXPECT_EQ(
            f.required("n",
                       [](const Json& v) { return json::readInteger(v, IntegralFloats::refused); }),
            1);
        EXPECT_EQ(f.optional("nothing", json::readString), std::nullopt); // null is absent
        EXPECT_TRUE(f.ok());
        EXPECT_EQ(f.tolerant("bad", json::readBool), std::nullopt);
        EXPECT_TRUE(f.ok());
        EXPECT_EQ(f.optional("bad", json::readBool), std::nullopt);
        EXPECT_EQ(f.reason(), "expected a boolean");
        // Once failed, later reads are skipped and the first reason stays.
        EXPECT_EQ(f.required("s", json::readString), "");
        f.required("missing", json::readString);
        EXPECT_EQ(f.finish(0).reason(), "expected a boolean");
    }
    {
        json::Fields f(object);
        f.required("missing", json::readString);
        EXPECT_EQ(f.reason(), "\"missing\" is missing");
    }
    {
        json::Fields f(Json::array());
        EXPECT_FALSE(f.ok());
        EXPECT_EQ(f.reason(), "expected an object");
    }
}
