#include "project/strict_json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

namespace korvel {
namespace {

std::string Nested(int depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

// A wrong depth count either lets hostile nesting recurse further or rejects
// legitimate manifests one level early.
TEST(StrictJson, NestingLimitIsThirtyTwoLevels) {
    StrictJsonValue value;
    EXPECT_TRUE(ParseStrictJson(Nested(32, ""), value));
    EXPECT_FALSE(ParseStrictJson(Nested(32, "1"), value)) << "the number is the 33rd level";
    EXPECT_TRUE(ParseStrictJson(Nested(31, "1"), value));
    EXPECT_FALSE(ParseStrictJson(Nested(10000, ""), value));
    EXPECT_TRUE(ParseStrictJson("{\"a\":" + Nested(31, "") + "}", value));
    EXPECT_FALSE(ParseStrictJson("{\"a\":" + Nested(32, "") + "}", value));
    EXPECT_TRUE(ParseStrictJson("{\"a\":" + Nested(30, "{}") + "}", value));
}

TEST(StrictJson, GrammarAcceptsAndRejects) {
    struct Case {
        const char* name;
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {"object", R"({"a": 1, "b": [true, false, null], "c": {}})", true},
        {"blanks around everything", " \t\r\n{ \"a\" : [ 1 , 2 ] } ", true},
        {"object trailing comma", R"({"a": 1,})", false},
        {"array trailing comma", "[1, 2,]", false},
        {"unquoted key", "{a: 1}", false},
        {"missing comma", R"({"a": 1 "b": 2})", false},
        {"missing colon", R"({"a" 1})", false},
        {"ends inside a string", "\"abc", false},
        {"ends inside an array", "[1, 2", false},
        {"ends inside an object", R"({"a": 1)", false},
        {"ends after a key", R"({"a")", false},
        {"only blanks", " \t\r\n", false},
        {"empty", "", false},
        {"literal followed by a letter at top level", "truex", true},
        {"literal followed by a letter in an array", "[truex]", false},
        {"truncated literal", "[tru", false},
        {"not a value", "]", false},
        {"text after the value is ignored", "{} garbage", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StrictJsonValue value;
        EXPECT_EQ(ParseStrictJson(c.text, value), c.ok);
    }
}

TEST(StrictJson, StringEscapes) {
    struct Case {
        const char* name;
        std::string text;
        bool ok;
        std::string expected;
    };
    const Case cases[] = {
        {"e acute", R"("\u00e9")", true, "\xC3\xA9"},
        {"one byte", R"("\u0041")", true, "A"},
        {"three bytes", R"("\u20AC")", true, "\xE2\x82\xAC"},
        {"surrogate pair gives two question marks", R"("\ud83d\ude00")", true, "??"},
        {"three hex digits then the quote", R"("\u00e")", false, ""},
        {"non-hex digit", R"("\u00g9")", false, ""},
        {"control escapes", R"("\b\f\n\r\t")", true, "\b\f\n\r\t"},
        {"escaped characters stand for themselves", R"("\"\\\/\q")", true, "\"\\/q"},
        {"raw control characters kept", "\"a\tb\x01\"", true, "a\tb\x01"},
        {"backslash as the last byte", "\"ab\\", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StrictJsonValue value;
        ASSERT_EQ(ParseStrictJson(c.text, value), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(value.tag, 3);
        EXPECT_EQ(value.string, c.expected);
    }
}

TEST(StrictJson, NumbersAreWhatStrtodTakes) {
    struct Case {
        const char* name;
        std::string text;
        double expected;
    };
    const Case cases[] = {
        {"plus sign", "+5", 5.0},
        {"exponent", "-2.5e3", -2500.0},
        {"leading point", ".5", 0.5},
        {"trailing point", "5.", 5.0},
        {"hexadecimal", "0x10", 16.0},
        {"overflow is infinite", "1e400", HUGE_VAL},
        {"long mantissa", "1." + std::string(400, '0') + "1", 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StrictJsonValue value;
        ASSERT_TRUE(ParseStrictJson(c.text, value));
        EXPECT_EQ(value.tag, 2);
        EXPECT_DOUBLE_EQ(value.number, c.expected);
    }
    StrictJsonValue value;
    ASSERT_TRUE(ParseStrictJson("nan", value));
    EXPECT_TRUE(std::isnan(value.number));
    EXPECT_FALSE(ParseStrictJson("-", value));
}

// The received bytes are not terminated: a number at the very end must stop
// there even when the memory behind it continues with more digits.
TEST(StrictJson, NumberStopsAtTheEndOfTheText) {
    const std::string buffer = "[12]34567";
    StrictJsonParser parser;
    StrictJsonValue value;
    parser.cursor = buffer.data() + 1;
    parser.end = buffer.data() + 3;
    ASSERT_TRUE(parser.ParseValue(value));
    EXPECT_EQ(value.number, 12.0);
    EXPECT_EQ(parser.cursor, parser.end);
}

// A decimal comma locale must not change what the update manifest says.
TEST(StrictJson, NumbersIgnoreTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
    StrictJsonValue value;
    const bool ok = ParseStrictJson("1.5", value);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(ok);
    EXPECT_EQ(value.number, 1.5);
}

TEST(StrictJson, MembersKeepOrderAndFindTakesTheFirst) {
    StrictJsonValue value;
    ASSERT_TRUE(ParseStrictJson(R"({"v": "2026.9.0", "n": [1, 2], "v": "old"})", value));
    ASSERT_EQ(value.tag, 5);
    ASSERT_EQ(value.members.size(), 3u);
    EXPECT_EQ(value.members[2].value.string, "old");
    const StrictJsonValue* version = value.Find("v");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->string, "2026.9.0");
    ASSERT_NE(value.Find("n"), nullptr);
    EXPECT_EQ(value.Find("n")->array.size(), 2u);
    EXPECT_EQ(value.Find("missing"), nullptr);
    EXPECT_EQ(value.Find("n")->Find("v"), nullptr) << "arrays have no members";
}

}  // namespace
}  // namespace korvel
