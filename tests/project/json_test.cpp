#include "project/json.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <locale.h>

namespace korvel {
namespace {

// A compact rendering of a tree, so a case's expected tree is one string.
// Strings show bytes outside printable ASCII as \xNN.
std::string Dump(const JsonValue& v) {
    switch (v.type) {
        case JsonType::Null: return "null";
        case JsonType::Bool: return v.boolean ? "true" : "false";
        case JsonType::Number: {
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, "%.17g", v.number);
            return buffer;
        }
        case JsonType::String: {
            std::string out = "\"";
            for (unsigned char c : v.string) {
                if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
                    out.push_back(static_cast<char>(c));
                } else {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                }
            }
            return out + "\"";
        }
        case JsonType::Array: {
            std::string out = "[";
            for (std::size_t i = 0; i < v.array.size(); ++i) {
                if (i) out += ',';
                out += Dump(v.array[i]);
            }
            return out + "]";
        }
        case JsonType::Object: {
            std::string out = "{";
            for (std::size_t i = 0; i < v.members.size(); ++i) {
                if (i) out += ',';
                out += '"';
                out += v.members[i].key;
                out += "\":";
                out += Dump(v.members[i].value);
            }
            return out + "}";
        }
    }
    return "?";
}

struct ParseCase {
    const char* name;
    std::string text;
    std::string expected;  // Dump of the result
    std::size_t consumed;  // where ParseJsonValue leaves the cursor
};

void CheckParses(const ParseCase* begin, const ParseCase* end) {
    for (auto c = begin; c != end; ++c) {
        SCOPED_TRACE(c->name);
        const char* cursor = c->text.c_str();
        JsonValue value = ParseJsonValue(cursor);
        EXPECT_EQ(Dump(value), c->expected);
        EXPECT_EQ(static_cast<std::size_t>(cursor - c->text.c_str()), c->consumed);
    }
}

TEST(JsonParse, LiteralsNumbersAndBlanks) {
    const ParseCase cases[] = {
        {"empty text", "", "null", 0},
        {"only blanks", " \t\r\n", "null", 4},
        {"vertical tab is no blank", "\v1", "null", 0},
        {"null literal", "null", "null", 4},
        {"partial literal", "tru", "null", 0},
        {"true followed by a letter", "truex", "true", 4},
        {"false", " false", "false", 6},
        {"integer", "42", "42", 2},
        {"negative fraction", "-0.25", "-0.25", 5},
        {"negative zero", "-0", "-0", 2},
        {"exponent", "1.5E+3", "1500", 6},
        {"lone minus is zero", "-", "0", 1},
        {"exponent without digits", "1.5e", "1.5", 4},
        {"exponent sign without digits", "2e-x", "2", 3},
        {"leading plus is no value", "+1", "null", 0},
        {"leading point is no value", ".5", "null", 0},
        {"minus point digits", "-.5", "-0.5", 3},
        {"hex read by strtod, span stops", "0x1A", "26", 1},
        {"negative hex", "-0x1A", "-26", 2},
        {"minus inf read by strtod", "-inf", "-inf", 1},
        {"overflow is infinite", "1e400", "inf", 5},
        {"underflow", "1e-400", "0", 6},
        {"many digits", "12345678901234567890123", "1.2345678901234568e+22", 23},
        {"trailing text ignored", "{} xyz", "{}", 2},
    };
    CheckParses(std::begin(cases), std::end(cases));
}

TEST(JsonParse, Strings) {
    const ParseCase cases[] = {
        {"plain", "\"abc\"", "\"abc\"", 5},
        {"unterminated runs to the end", "\"abc", "\"abc\"", 4},
        {"simple escapes", R"("\"\\\/\n\r\t")", R"("\x22\x5C/\x0A\x0D\x09")", 14},
        {"b and f stand for themselves", R"("\b\f\q")", "\"bfq\"", 8},
        {"u escape two bytes", R"("\u00e9")", R"("\xC3\xA9")", 8},
        {"u escape one byte", R"("\u0041")", "\"A\"", 8},
        {"u escape three bytes", R"("\u20AC")", R"("\xE2\x82\xAC")", 8},
        {"surrogates stay unpaired", R"("\ud83d\ude00")", R"("\xED\xA0\xBD\xED\xB8\x80")", 14},
        {"short escape eats the quote", R"("\u12"ab")", R"("\xE1\x88\x8Ab")", 9},
        {"u at end of text", "\"\\u4", "\"\\x04\"", 4},
        {"u zero appends a zero byte", R"("a\u0000b")", R"("a\x00b")", 10},
        {"backslash at the end", "\"ab\\", "\"ab\"", 4},
        {"control and high bytes kept", "\"\x01\x7F\xC3\xA9\"", R"("\x01\x7F\xC3\xA9")", 6},
    };
    CheckParses(std::begin(cases), std::end(cases));

    const char* unquoted = "abc";
    const char* cursor = unquoted;
    EXPECT_EQ(ParseJsonString(cursor), "");
    EXPECT_EQ(cursor, unquoted) << "a key without quotes consumes nothing";
}

TEST(JsonParse, ArraysAndObjects) {
    const ParseCase cases[] = {
        {"empty array", "[ ]", "[]", 3},
        {"commas optional", "[1 2 3]", "[1,2,3]", 7},
        {"trailing comma dropped", "[1,2,]", "[1,2]", 6},
        {"blank after trailing comma is an element", "[1, ]", "[1,null]", 5},
        {"empty position is null", "[1,,2]", "[1,null,2]", 6},
        {"unterminated array keeps elements", "[1,2", "[1,2]", 4},
        {"array cut after comma", "[1,", "[1]", 3},
        {"nested", "[[1],{\"a\":[]}]", "[[1],{\"a\":[]}]", 14},
        {"empty object", "{}", "{}", 2},
        {"duplicate keys kept", R"({"a":1,"a":2})", R"({"a":1,"a":2})", 13},
        {"blank instead of colon", R"({"a" 1})", R"({"a":1})", 7},
        {"missing commas", R"({"a":1 "b":2})", R"({"a":1,"b":2})", 13},
        {"cut after member and comma", R"({"a":1,)", R"({"a":1})", 7},
        {"blank before closing brace", R"({"a":1, })", R"({"a":1,"":null})", 9},
        {"cut after colon", R"({"a":)", R"({"a":null})", 5},
        {"unterminated object", R"({"a":{"b":true)", R"({"a":{"b":true}})", 14},
    };
    CheckParses(std::begin(cases), std::end(cases));
}

TEST(JsonParse, MixedAndSiblingContainers) {
    // Arrays that start with numbers and then hold something else, and
    // containers side by side at one depth, which share their reading space.
    const ParseCase cases[] = {
        {"numbers then a string", R"([1,2,"a",3])", R"([1,2,"a",3])", 11},
        {"numbers then literals", "[1 true,null false]", "[1,true,null,false]", 19},
        {"numbers then a nested array", "[1,[2,3],4]", "[1,[2,3],4]", 11},
        {"numbers then a cut string", R"([1,"a)", R"([1,"a"])", 5},
        {"numbers then a stray blank and end", "[1, ", "[1,null]", 4},
        {"sibling mixed arrays", R"([[1,"a"],["b",2],[3]])", R"([[1,"a"],["b",2],[3]])", 21},
        {"sibling objects", R"({"a":{"x":1},"b":{"y":[2]}})", R"({"a":{"x":1},"b":{"y":[2]}})", 27},
        {"objects in an array", R"([{"a":[1,2]},{"b":[3,{"c":4}]}])", R"([{"a":[1,2]},{"b":[3,{"c":4}]}])", 31},
        {"cut inside a nested object", R"([1,{"a":[2,{"b":)", R"([1,{"a":[2,{"b":null}]}])", 16},
    };
    CheckParses(std::begin(cases), std::end(cases));

    // Each container is one allocation of its own size: a document the size
    // of a project would otherwise hold up to twice the memory.
    const JsonValue doc = ParseJson(R"({"a":[1,2,3,4,5],"b":[1,"x",3],"c":{"d":1,"e":2,"f":3},"g":true,"h":4})");
    const JsonValue* containers[] = {&doc, &doc.Get("a"), &doc.Get("b"), &doc.Get("c")};
    for (const JsonValue* value : containers) {
        EXPECT_EQ(value->array.capacity(), value->array.size());
        EXPECT_EQ(value->members.capacity(), value->members.size());
    }
}

TEST(JsonParse, StrayCharactersAreSkipped) {
    // Without progress on these the element and member loops never end.
    const ParseCase cases[] = {
        {"letter between elements", "[1 x]", "[1]", 5},
        {"letters between numbers", "[1 xy 2]", "[1,2]", 8},
        {"broken literal in array", "[tru]", "[]", 5},
        {"unquoted key", "{a:1}", R"({"":1})", 5},
        {"wrong closing bracket in array", "[1}]", "[1]", 4},
        {"wrong closing bracket in object", "{]}", "{}", 3},
        {"hex leftovers", "[0x1F]", "[31,1]", 6},
        {"stray at end of text", "[1 x", "[1]", 4},
    };
    CheckParses(std::begin(cases), std::end(cases));
}

TEST(JsonParse, NestingDepthIsBounded) {
    auto nested = [](int depth, const std::string& inner) {
        return std::string(static_cast<std::size_t>(depth), '[') + inner +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    auto depthOf = [](const JsonValue& root, const JsonValue** innermost) {
        int depth = 0;
        const JsonValue* v = &root;
        while (v->type == JsonType::Array) {
            ++depth;
            if (v->array.empty() || v->array[0].type != JsonType::Array) break;
            v = &v->array[0];
        }
        *innermost = v;
        return depth;
    };
    const JsonValue* innermost = nullptr;

    JsonValue full = ParseJson(nested(kJsonMaxDepth, "1"));
    EXPECT_EQ(depthOf(full, &innermost), kJsonMaxDepth);
    EXPECT_EQ(Dump(*innermost), "[1]");

    // One level more: the extra bracket reads as the end of the text.
    JsonValue deeper = ParseJson(nested(kJsonMaxDepth + 1, "1"));
    EXPECT_EQ(depthOf(deeper, &innermost), kJsonMaxDepth);
    EXPECT_EQ(Dump(*innermost), "[]");

    // A member whose value would be too deep reads as if the text ended
    // after its colon.
    JsonValue member = ParseJson(std::string(kJsonMaxDepth - 1, '[') + R"({"a":[1]})");
    const JsonValue* v = &member;
    for (int i = 0; i < kJsonMaxDepth - 1; ++i) v = &v->At(0);
    EXPECT_EQ(Dump(*v), R"({"a":null})");

    // Far deeper than any stack would take: ends quickly, no crash.
    JsonValue hostile = ParseJson(std::string(1'000'000, '['));
    EXPECT_EQ(depthOf(hostile, &innermost), kJsonMaxDepth);
    JsonValue hostileObjects = ParseJson(std::string(500'000, '{'));
    EXPECT_EQ(hostileObjects.type, JsonType::Object);
}

// The lenient parser reads damaged text without a word; the damage report
// is what tells a cut or overwritten file from a small whole one.
TEST(JsonParse, DamageIsReportedBesideTheLenientResult) {
    struct Case {
        const char* name;
        std::string text;
        bool endedEarly, zeroByte, tooDeep;
    };
    const Case cases[] = {
        {"whole object", R"({"a": [1, 2], "b": {"c": "d"}})", false, false, false},
        {"whole scalar", "12", false, false, false},
        {"text after the value is not damage", "{} trailing", false, false, false},
        {"open object", R"({"a": 1)", true, false, false},
        {"open array of numbers", "[1, 2", true, false, false},
        {"open array of objects", "[{}, {}", true, false, false},
        {"open bracket at the end", "[", true, false, false},
        {"open string value", R"({"a": "unterminated)", true, false, false},
        {"open key", R"({"ke)", true, false, false},
        {"escape at the end", "\"a\\", true, false, false},
        {"zero byte inside", std::string("{\"a\": [1,\0 2]}", 14), true, true, false},
        {"zero byte after the end", std::string("{}\0", 3), false, true, false},
        {"past the depth bound", std::string(300, '[') + std::string(300, ']'), false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JsonDamage damage;
        const JsonValue value = ParseJson(c.text, damage);
        EXPECT_EQ(damage.endedEarly, c.endedEarly);
        EXPECT_EQ(damage.zeroByte, c.zeroByte);
        EXPECT_EQ(damage.tooDeep, c.tooDeep);
        EXPECT_EQ(damage.Any(), c.endedEarly || c.zeroByte || c.tooDeep);
        EXPECT_EQ(Dump(value), Dump(ParseJson(c.text))) << "the value read is the same";
    }
}

// Deferred arrays are read element by element; what the reader sees must be
// exactly what the whole tree would have held, odd texts included.
TEST(JsonParse, DeferredArraysReadExactlyAsTheWholeTree) {
    const std::string cases[] = {
        R"({"events": [{"a": 1}, 2, "x", [3], null], "other": 1})",
        R"({"events": [1, 2.5, -3, {"after": "numbers"}, 4]})",
        R"({"events": [1, x 2, , {}, ]})",
        R"({"events": 5, "events": [1, 2]})",
        R"({"events": [1], "events": [2, 3], "results": [{"r": 1}]})",
        R"({"results": [{"eventIdx": 0}], "events": [{}, {"time": 2}]})",
        R"({"events": [{"deep": )" + std::string(300, '[') + "]}], \"after\": 1}",
        R"({"events": [{"a": 1}, {"b": )",
        R"({"events": [])",
        R"({"nested": {"events": [1, 2]}, "events": ["top"]})",
        R"([{"events": [1]}])",
        R"({"events" [7, 8], "results": [9]})",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        JsonDamage wholeDamage, deferredDamage;
        const JsonValue whole = ParseJson(text, wholeDamage);
        JsonDeferredArray deferred[2] = {{.key = "events"}, {.key = "results"}};
        const JsonValue root = ParseJsonDeferring(text, deferred, deferredDamage);
        EXPECT_EQ(deferredDamage.endedEarly, wholeDamage.endedEarly);
        EXPECT_EQ(deferredDamage.tooDeep, wholeDamage.tooDeep);
        for (const JsonDeferredArray& array : deferred) {
            SCOPED_TRACE(std::string(array.key));
            const JsonValue& expected = whole.Get(array.key);
            std::vector<std::string> read;
            if (array.start) {
                EXPECT_EQ(root.Get(array.key).type, JsonType::Array);
                ForEachJsonElement(array, [&](JsonValue& element) { read.push_back(Dump(element)); });
                EXPECT_EQ(array.count, read.size());
            } else {
                EXPECT_EQ(Dump(root.Get(array.key)), Dump(expected));
                for (const JsonValue& element : root.Get(array.key).array) read.push_back(Dump(element));
            }
            std::vector<std::string> wanted;
            for (const JsonValue& element : expected.array) wanted.push_back(Dump(element));
            EXPECT_EQ(read, wanted);
        }
        // Everything else is in the tree as before.
        for (const JsonMember& member : whole.members) {
            if (member.key == "events" || member.key == "results") continue;
            EXPECT_EQ(Dump(root.Get(member.key)), Dump(member.value)) << member.key;
        }
    }
}

TEST(JsonParse, NumbersEqualStrtod) {
    // The decimal fast path must give strtod's exact result, including at
    // the limits of exact doubles.
    std::vector<std::string> texts = {
        "0.1",       "0.3",         "1e22",   "1e23",   "9007199254740992", "9007199254740993",
        "123456789012345678", "1234567890123456789", "2.2250738585072014e-308", "4.9e-324",
        "1.7976931348623157e308", "0.000001", "1e-22", "1e-23", "00012", "0.0000000000000000000000000001",
        "3.14159265358979323846", "-1.5e-7", "5e-324", "17976931348623157e292", "0e999999", "1e-999999",
    };
    std::mt19937_64 engine(12345);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        if (engine() & 1) text += '-';
        int intDigits = static_cast<int>(engine() % 12);
        int fracDigits = static_cast<int>(engine() % 12);
        for (int d = 0; d < intDigits; ++d) text += static_cast<char>('0' + engine() % 10);
        if (intDigits == 0) text += '0';
        if (fracDigits > 0) {
            text += '.';
            for (int d = 0; d < fracDigits; ++d) text += static_cast<char>('0' + engine() % 10);
        }
        if (engine() % 3 == 0) {
            text += (engine() & 1) ? 'e' : 'E';
            int exponent = static_cast<int>(engine() % 70) - 35;
            text += std::to_string(exponent);
        }
        texts.push_back(text);
    }
    for (const auto& text : texts) {
        const char* cursor = text.c_str();
        double ours = ParseJsonNumber(cursor);
        double reference = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&ours, &reference, sizeof ours), 0) << text << " -> " << ours << " vs " << reference;
        EXPECT_EQ(cursor, text.c_str() + text.size()) << text;
    }
}

TEST(JsonParse, NumbersIgnoreTheThreadLocale) {
    locale_t comma = static_cast<locale_t>(nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        comma = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
        if (comma) break;
    }
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";
    locale_t previous = uselocale(comma);
    EXPECT_EQ(ParseJson("[0.123456789012345678901]").At(0).number, 0.123456789012345678901);
    JsonWriter writer;
    writer.WriteFloat("x", 0.5f);
    uselocale(previous);
    freelocale(comma);
    EXPECT_EQ(writer.stream.text, "\n\"x\": 0.5");
}

TEST(JsonValueAccess, MissingAndMistypedReadAsDefaults) {
    JsonValue doc = ParseJson(R"({"a":1,"a":2,"s":"text","n":0,"arr":[5,6],"t":true})");
    const JsonValue& arr = doc.Get("arr");
    const JsonValue& number = doc.Get("n");

    EXPECT_EQ(doc.Get("a").number, 1.0) << "the first of duplicate keys wins";
    EXPECT_TRUE(doc.Has("s"));
    EXPECT_FALSE(doc.Has("missing"));
    EXPECT_FALSE(arr.Has("0"));

    struct Case {
        const char* name;
        const JsonValue& value;
    };
    const Case nulls[] = {
        {"missing key", doc.Get("missing")},
        {"key on an array", arr.Get("a")},
        {"key on a number", number.Get("a")},
        {"index -1", arr.At(-1)},
        {"index == count", arr.At(2)},
        {"index on an object", doc.At(0)},
        {"prefix of a key", doc.Get("ar")},
    };
    for (const auto& c : nulls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.type, JsonType::Null);
        EXPECT_EQ(c.value.AsFloat(0.5f), 0.5f);
        EXPECT_EQ(c.value.AsInt(7), 7);
        EXPECT_TRUE(c.value.AsBool(true));
        EXPECT_TRUE(c.value.string.empty());
        EXPECT_TRUE(c.value.array.empty());
        EXPECT_TRUE(c.value.members.empty());
    }
    EXPECT_EQ(arr.At(1).AsInt(0), 6);
    EXPECT_EQ(doc.Get("s").AsInt(7), 7);
    EXPECT_TRUE(number.AsBool(true)) << "a number is not a boolean";
    EXPECT_TRUE(doc.Get("t").AsBool(false));
    EXPECT_EQ(doc.Get("t").AsFloat(2.0f), 2.0f);

    // Deep copy: changing the copy leaves the original alone.
    JsonValue copy = doc;
    copy.members[0].value.number = 99;
    EXPECT_EQ(doc.Get("a").number, 1.0);
}

TEST(JsonValueAccess, AsIntRange) {
    struct Case {
        const char* name;
        double number;
        std::int32_t expected;
    };
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const Case cases[] = {
        {"truncates toward zero", 2.9, 2},
        {"negative truncates toward zero", -2.9, -2},
        {"largest", 2147483647.9, 2147483647},
        {"smallest", -2147483648.9, kMin},
        {"just above range", 2147483648.0, kMin},
        {"far above range", 3e9, kMin},
        {"far below range", -3e9, kMin},
        {"infinite", std::numeric_limits<double>::infinity(), kMin},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), kMin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JsonValue v;
        v.type = JsonType::Number;
        v.number = c.number;
        EXPECT_EQ(v.AsInt(5), c.expected);
    }
    JsonValue huge = ParseJson("1e300");
    EXPECT_EQ(huge.AsFloat(0), std::numeric_limits<float>::infinity());
}

// [SECTION] Writer

TEST(JsonWrite, ExactBytes) {
    struct Case {
        const char* name;
        void (*write)(JsonWriter&);
        const char* expected;
    };
    const Case cases[] = {
        {"int then float",
         [](JsonWriter& w) {
             w.WriteInt("a", 1);
             w.WriteFloat("b", 0.1f);
         },
         "\n  \"a\": 1,\n  \"b\": 0.1"},
        {"key then object after a completed value",
         [](JsonWriter& w) {
             w.needsComma = true;
             w.WriteString("name", "x");
             w.WriteKey("trackLayout");
             w.BeginObject();
             w.WriteBool("budgetMode", false);
             w.EndObject();
         },
         ",\n  \"name\": \"x\",\n  \"trackLayout\": \n  {\n    \"budgetMode\": false\n  }"},
        {"empty object after a key",
         [](JsonWriter& w) {
             w.WriteKey("k");
             w.BeginObject();
             w.EndObject();
         },
         "\n  \"k\": \n  {\n  }"},
        {"array of anonymous objects",
         [](JsonWriter& w) {
             w.WriteKey("events");
             w.BeginArray();
             w.BeginObject();
             w.WriteInt("kind", -3);
             w.EndObject();
             w.BeginObject();
             w.EndObject();
             w.EndArray();
             w.WriteBool("after", true);
         },
         "\n  \"events\": \n  [\n    {\n      \"kind\": -3\n    },\n    {\n    }\n  ],\n  \"after\": true"},
        {"string escapes",
         [](JsonWriter& w) { w.WriteString("s", "\t\x01\xC3\xA9\"\\/\n\r\x1F\x7F"); },
         "\n  \"s\": \"\\t\\u0001\xC3\xA9\\\"\\\\/\\n\\r\\u001f\x7F\""},
        {"key written unescaped", [](JsonWriter& w) { w.WriteInt("a\"b", 0); }, "\n  \"a\"b\": 0"},
        {"int extremes",
         [](JsonWriter& w) {
             w.WriteInt("lo", std::numeric_limits<std::int32_t>::min());
             w.WriteInt("hi", std::numeric_limits<std::int32_t>::max());
         },
         "\n  \"lo\": -2147483648,\n  \"hi\": 2147483647"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JsonWriter writer;
        writer.depth = 1;
        c.write(writer);
        EXPECT_EQ(writer.stream.text, c.expected);
    }
}

TEST(JsonWrite, FloatFormats) {
    struct Case {
        const char* name;
        float value;
        const char* expected;
    };
    const Case cases[] = {
        {"large uses exponent", 1234567.0f, "1.23457e+06"},
        {"small plain", 0.0001f, "0.0001"},
        {"smaller uses exponent", 0.00001f, "1e-05"},
        {"six digits plain", 100000.0f, "100000"},
        {"seven digits exponent", 1000000.0f, "1e+06"},
        {"float widened", 0.1f, "0.1"},
        {"negative zero", -0.0f, "-0"},
        {"zero", 0.0f, "0"},
        {"rounds", 2.0f / 3.0f, "0.666667"},
        {"denormal", 1e-40f, "9.99995e-41"},
        {"max", std::numeric_limits<float>::max(), "3.40282e+38"},
        {"nan written as 0", std::numeric_limits<float>::quiet_NaN(), "0"},
        {"infinity written as 0", std::numeric_limits<float>::infinity(), "0"},
        {"minus infinity written as 0", -std::numeric_limits<float>::infinity(), "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JsonWriter writer;
        writer.WriteFloat("v", c.value);
        EXPECT_EQ(writer.stream.text, std::string("\n\"v\": ") + c.expected);
    }
}

TEST(JsonWrite, NumbersMatchPrintfG) {
    // The writer's own digit generation must agree with printf everywhere,
    // including exact ties, carries into a new power of ten and values
    // next to powers of ten.
    std::vector<double> values = {0.5,      1.5,     2.5,      1.0625,   0.00012345, 9.9995,  99.995,  999999.5,
                                  9999995,  0.0001,  0.000099999, 1e-5,  123456789, 1e15,    1e22,    1e23,
                                  1e-300,   1e300,   5e-324,   0.1,      1.0 / 3.0,  2.0 / 3.0, 100000, 1e21};
    for (int k = -30; k <= 30; ++k) {
        double power = std::pow(10.0, k);
        values.push_back(power);
        values.push_back(std::nextafter(power, 0.0));
        values.push_back(std::nextafter(power, 1e308));
    }
    std::mt19937_64 engine(777);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-45, 40);
    for (int i = 0; i < 30000; ++i) {
        double value = mantissa(engine) * std::pow(10.0, exponent(engine));
        if (i % 3 == 0 && std::fabs(value) < 3e38) value = static_cast<float>(value);
        values.push_back(value);
        // Short binary fractions land exactly on decimal ties.
        values.push_back(static_cast<double>(engine() % 200000) / 1024.0);
        std::uint64_t bits = engine();
        double raw;
        std::memcpy(&raw, &bits, sizeof raw);
        if (std::isfinite(raw)) values.push_back(raw);
    }
    for (double value : values) {
        for (int precision : {4, 6, 1, 9}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.*g", precision, value);
            std::string ours;
            AppendJsonNumber(ours, value, precision);
            ASSERT_EQ(ours, expected) << "precision " << precision << " value " << value;
        }
    }
}

TEST(JsonWrite, CurveOnOneLine) {
    std::array<float, 256> curve{};
    for (std::size_t i = 0; i < curve.size(); ++i) curve[i] = static_cast<float>(i) / 255.0f * 3.0f - 1.0f;
    curve[7] = std::numeric_limits<float>::quiet_NaN();
    JsonWriter writer;
    writer.depth = 2;
    writer.needsComma = true;
    writer.WriteCurve("weight", curve);
    std::string expected = ",\n    \"weight\": [";
    for (std::size_t i = 0; i < curve.size(); ++i) {
        char point[16];
        std::snprintf(point, sizeof point, "%.4g", i == 7 ? 0.0 : static_cast<double>(curve[i]));
        if (i) expected += ',';
        expected += point;
    }
    expected += "]";
    EXPECT_EQ(writer.stream.text, expected);
    EXPECT_TRUE(writer.needsComma);
}

TEST(JsonRoundTrip, WriterOutputReadsBack) {
    std::string allBytes;
    for (int c = 1; c < 256; ++c) allBytes.push_back(static_cast<char>(c));
    const float floats[] = {0.1f, -1234567.0f, 1e-30f, 3.4e38f, 0.0f, 1.0f / 3.0f};

    JsonWriter w;
    w.stream << "{";
    w.depth = 1;
    w.WriteString("bytes", allBytes);
    w.WriteString("empty", "");
    w.WriteBool("yes", true);
    w.WriteInt("min", std::numeric_limits<std::int32_t>::min());
    for (std::size_t i = 0; i < std::size(floats); ++i) w.WriteFloat(std::string("f").append(std::to_string(i)), floats[i]);
    w.WriteFloat("nan", std::numeric_limits<float>::quiet_NaN());
    w.WriteFloat("inf", std::numeric_limits<float>::infinity());
    std::array<float, 256> curve{};
    for (std::size_t i = 0; i < curve.size(); ++i) curve[i] = std::sin(static_cast<float>(i) * 0.1f);
    w.WriteCurve("curve", curve);
    w.WriteKey("list");
    w.BeginArray();
    w.BeginObject();
    w.WriteInt("k", 1);
    w.EndObject();
    w.EndArray();
    w.WriteString("last", "after the non-finite values");
    w.stream << "\n}";

    JsonValue doc = ParseJson(w.stream.text);
    ASSERT_EQ(doc.type, JsonType::Object);
    EXPECT_EQ(doc.Get("bytes").string, allBytes);
    EXPECT_EQ(doc.Get("empty").type, JsonType::String);
    EXPECT_TRUE(doc.Get("yes").AsBool(false));
    EXPECT_EQ(doc.Get("min").AsInt(0), std::numeric_limits<std::int32_t>::min());
    for (std::size_t i = 0; i < std::size(floats); ++i) {
        SCOPED_TRACE(i);
        char printed[32];
        std::snprintf(printed, sizeof printed, "%.6g", static_cast<double>(floats[i]));
        EXPECT_EQ(doc.Get(std::string("f").append(std::to_string(i))).number, std::strtod(printed, nullptr));
    }
    EXPECT_EQ(doc.Get("nan").number, 0.0);
    EXPECT_EQ(doc.Get("inf").number, 0.0);
    const JsonValue& points = doc.Get("curve");
    ASSERT_EQ(points.array.size(), 256u);
    for (std::size_t i = 0; i < curve.size(); ++i) {
        char printed[32];
        std::snprintf(printed, sizeof printed, "%.4g", static_cast<double>(curve[i]));
        ASSERT_EQ(points.At(static_cast<std::int64_t>(i)).number, std::strtod(printed, nullptr)) << i;
    }
    EXPECT_EQ(doc.Get("list").At(0).Get("k").AsInt(0), 1);
    EXPECT_EQ(doc.Get("last").string, "after the non-finite values");
    EXPECT_EQ(doc.members.size(), std::size(floats) + 9u);
}

}  // namespace
}  // namespace korvel
