#include "json/json_reading.h"
#include <gtest/gtest.h>
#include <string>

using namespace strata;
using json::IntegralFloats;
using json::Json;

// The nesting gate and the refusal of NUL bytes: the CueMessages envelope table and the setlist
// codec's nesting test; integers with either rule for integral floats: the CueMessages LiveState
// and Fire tables and the setlist codec's strict and tolerant tables. Without the refusal the
// parser stops at a NUL and takes what came before.
TEST(JsonReading, WithoutTheRefusalOfNulTheParserTakesWhatCameBeforeIt) {
    const auto lenient = json::parse(std::string("{\"a\":1}") + '\0' + "garbage", {.maxDepth = 4});
    ASSERT_TRUE(lenient);
    EXPECT_EQ(*lenient, Json({{"a", 1}}));
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
