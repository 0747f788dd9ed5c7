#include "engine/keyword_query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

struct Term {
    std::string text;
    int32_t mode;
};

void ExpectTerms(const std::vector<KeywordTerm>& got, const std::vector<Term>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].text, want[i].text);
        EXPECT_EQ(got[i].mode, want[i].mode);
    }
}

TEST(ParseKeywordQuery, SplitsSignsAndKeepsWordsAsTyped) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<Term> terms;
    };
    const std::vector<Case> cases = {
        {"mixed separators, runs and a trailing tab", "  +metal, -rain;;wood\t",
         {{"metal", 1}, {"rain", 2}, {"wood", 0}}},
        {"lone plus is an optional word", "+", {{"+", 0}}},
        {"lone minus is an optional word", "-", {{"-", 0}}},
        {"single letter", "a", {{"a", 0}}},
        {"required single letter", "+a", {{"a", 1}}},
        {"only one sign is removed", "++metal -+door", {{"+metal", 1}, {"+door", 2}}},
        {"only separators", " ,;\t ", {}},
        {"empty", "", {}},
        {"line breaks belong to the word", "Door\nSlam", {{"Door\nSlam", 0}}},
        {"duplicates, case and stars stay", "Door door *wood* -metal*",
         {{"Door", 0}, {"door", 0}, {"*wood*", 0}, {"metal*", 2}}},
        {"sign inside a word is kept", "sci-fi a+b", {{"sci-fi", 0}, {"a+b", 0}}},
        {"bytes above 127 belong to words", "caf\xC3\xA9 \xC3\xA9t\xC3\xA9",
         {{"caf\xC3\xA9", 0}, {"\xC3\xA9t\xC3\xA9", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectTerms(ParseKeywordQuery(std::string_view(c.text)), c.terms);
        ExpectTerms(ParseKeywordQuery(c.text.c_str()), c.terms);
    }
}

TEST(ParseKeywordQuery, NullTextHasNoTerms) {
    EXPECT_TRUE(ParseKeywordQuery(static_cast<const char*>(nullptr)).empty());
}

TEST(MatchKeyword, MatchesWholeWordsUnlessStarsOpenASide) {
    struct Case {
        const char* subject;
        const char* term;
        bool match;
    };
    const std::vector<Case> cases = {
        {"Door_Slam_01", "door", true},
        {"car door", "door", true},
        {"door2", "door", true},
        {"DOOR", "door", true},
        {"door", "dooR", true},
        {"doorbell", "door", false},
        {"Indoor", "door", false},
        {"doorbell", "door*", true},
        {"Indoor", "*door", true},
        {"Indoors", "*door*", true},
        {"Indoors", "door*", false},
        {"slab", "*ab", true},
        {"Lab_02", "*ab", true},
        {"labs", "*ab", false},
        // The first occurrence fails on its right; the later one counts.
        {"sfx/Hits/hit_03", "hit", true},
        {"sfx/Hits/x", "hit", false},
        {"doors door", "door", true},
        // The search resumes one byte after a failed start, not after its end.
        {"aaa", "aa", false},
        {"aaa", "*aa", true},
        {"aaa", "aa*", true},
        // Only ASCII letters join words: digits, punctuation and UTF-8 bytes separate.
        {"caf\xC3\xA9", "caf", true},
        {"x.metal-hit", "metal", true},
        {"9metal9", "metal", true},
        {"metal*hit", "metal*hit", true},
        {"metal_hit", "metal*hit", false},
        {"anything", "*", false},
        {"anything", "**", false},
        {"anything", "", false},
        {"a b", "a", false},
        {"+ -", "+", false},
        {"x*", "**x", false},
        {"a", "ab", false},
        {"", "ab", false},
        {"ab", "*ab*", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.term) + " in " + c.subject);
        KeywordTerm term{c.term, kKeywordOptional};
        EXPECT_EQ(MatchKeyword(c.subject, term), c.match);
    }
}

// The caller applies the mode; matching must not depend on it.
TEST(MatchKeyword, IgnoresTheTermsMode) {
    for (int32_t mode : {kKeywordOptional, kKeywordRequired, kKeywordExcluded}) {
        SCOPED_TRACE(mode);
        EXPECT_TRUE(MatchKeyword("Glass_Break", KeywordTerm{"glass", mode}));
    }
}

// What a query does to real file names, end to end.
TEST(KeywordQuery, ParsedTermsAgainstFileNames) {
    const auto terms = ParseKeywordQuery("+door -creak wood*");
    ASSERT_EQ(terms.size(), 3u);
    struct Case {
        const char* name;
        bool door, creak, wood;
    };
    const std::vector<Case> cases = {
        {"Door_Wooden_Slam_01.wav", true, false, true},
        {"DoorCreak_Old.wav", false, false, false},  // "DoorCreak" is one word to the matcher
        {"door creak wood.wav", true, true, true},
        {"Indoor_Ambience.wav", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MatchKeyword(c.name, terms[0]), c.door);
        EXPECT_EQ(MatchKeyword(c.name, terms[1]), c.creak);
        EXPECT_EQ(MatchKeyword(c.name, terms[2]), c.wood);
    }
}

}  // namespace
}  // namespace korvel
