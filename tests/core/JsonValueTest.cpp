#include "core/JsonValue.h"
#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <limits>

namespace vantrel {
namespace {

TEST(JsonValue, ParseLeadingIntegerFollowsTheLenientRule)
{
    struct Case {
        std::string_view text;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"9", 9}, {"  42abc", 42}, {"-7", -7}, {"+5", 5}, {"abc", 0}, {"", 0}, {"- 1", 0},
        {"99999999999999999999", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseLeadingInteger(c.text), c.expected) << c.text;
    }
}

TEST(JsonValue, IntegerAndBooleanReadingsOfEachKind)
{
    EXPECT_EQ(integerValueOf(Json(3.9)), 3);
    EXPECT_EQ(integerValueOf(Json(true)), 1);
    EXPECT_EQ(integerValueOf(Json("12 ports")), 12);
    EXPECT_EQ(integerValueOf(Json::array({1})), 0);
    EXPECT_EQ(integerValueOf(Json()), 0);
    EXPECT_TRUE(boolValueOf(Json(1)));
    EXPECT_FALSE(boolValueOf(Json("0")));
    EXPECT_FALSE(boolValueOf(Json()));
}

TEST(JsonValue, ParseRefusesInvalidTextAndHostileNesting)
{
    EXPECT_FALSE(parseJson("{\"a\":"));
    EXPECT_FALSE(parseJson(""));
    EXPECT_FALSE(parseJson(std::string(100000, '[') + std::string(100000, ']')));
    const std::string deepestAccepted = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    EXPECT_TRUE(parseJson(deepestAccepted));
    EXPECT_EQ(parseJson(R"({"a": [1, "b"]})"), Json::parse(R"({"a": [1, "b"]})"));
}

TEST(JsonValue, WritingNeverThrowsOnInvalidUtf8)
{
    const Json value = {{"text", std::string("ok\xff")}};
    EXPECT_NO_THROW(toCompactJson(value));
    EXPECT_EQ(toCompactJson(Json{{"a", 1}, {"b", "x"}}), R"({"a":1,"b":"x"})");
}

TEST(Utf8, AcceptsWellFormedAndRejectsMalformedSequences)
{
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("Årebo \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));         // truncated
}

} // namespace
} // namespace vantrel
