#include "library/name_words.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace korvel {
namespace {

std::vector<std::string> Words(std::string_view text, size_t maxLength = kIndexWordMaxLength) {
    std::vector<std::string> words;
    ForEachNameWord(text, maxLength, [&](std::string_view w) { words.emplace_back(w); });
    return words;
}

TEST(NameWords, SplitsFileNamesIntoWordsAsWritten) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> words;
    };
    const std::string thirty(30, 'x');
    const std::string thirtyOne(31, 'y');
    const std::vector<Case> cases = {
        {"separators, case change and an all-digit word", "GlassBreak_Big-01.wav",
         {"Glass", "Break", "Big", "wav"}},
        {"blank and brackets", "UI click (soft)", {"UI", "click", "soft"}},
        {"only lower-to-upper splits", "SFXPack", {"SFXPack"}},
        {"upper-to-lower does not split", "BARbaz fooBar", {"BARbaz", "foo", "Bar"}},
        {"single letters are too short", "a", {}},
        {"single letters after a case split", "aB xYz", {"Yz"}},
        {"upper-case word then underscore", "ACTION_Door", {"ACTION", "Door"}},
        {"lower then upper run", "doorSLAM", {"door", "SLAM"}},
        {"digits inside a word keep it", "Door2", {"Door2"}},
        {"digits only", "2024", {}},
        {"every separator", "aa(bb)cc,dd-ee.ff/gg;hh[ii\\jj]kk_ll",
         {"aa", "bb", "cc", "dd", "ee", "ff", "gg", "hh", "ii", "jj", "kk", "ll"}},
        {"other punctuation stays inside words", "it's+ok!", {"it's+ok!"}},
        {"byte 0 separates", std::string("ab\0cd", 5), {"ab", "cd"}},
        {"bytes from 128 stay inside words", "Caf\xC3\xA9_\xC3\x89" "cole",
         {"Caf\xC3\xA9", "\xC3\x89" "cole"}},
        {"a UTF-8 byte never makes a case change", "\xC3\xA9T\xC3\xA9", {"\xC3\xA9T\xC3\xA9"}},
        {"30 letters are indexed, 31 are not", thirty + " " + thirtyOne, {thirty}},
        {"runs of separators", "__--..", {}},
        {"empty", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Words(c.text), c.words);
    }
}

TEST(NameWords, VocabularyCountsLowerCasedVocabularyWordsOnly) {
    std::unordered_map<std::string, int32_t> counter;
    const std::string name = "GlassBreak_GLASS-big.wav";
    CountVocabularyWords(counter, name.data(), name.size());
    const std::string description = "Glass shatter, cloth rustle; wav";
    CountVocabularyWords(counter, description.data(), description.size());
    const std::unordered_map<std::string, int32_t> expected = {
        {"glass", 3}, {"break", 1}, {"big", 1}, {"shatter", 1}, {"cloth", 1}, {"rustle", 1}};
    EXPECT_EQ(counter, expected);

    // A vocabulary word glued into a longer word is not counted.
    counter.clear();
    const std::string glued = "glassy woodwork";
    CountVocabularyWords(counter, glued.data(), glued.size());
    EXPECT_TRUE(counter.empty());
    CountVocabularyWords(counter, nullptr, 0);
    EXPECT_TRUE(counter.empty());
}

TEST(NameWords, VocabularyHoldsItsFixedWords) {
    const auto& words = SoundVocabulary();
    EXPECT_EQ(words.size(), 234u);
    EXPECT_EQ(std::set<std::string_view>(words.begin(), words.end()).size(), 233u);
    for (std::string_view w : words) {
        SCOPED_TRACE(std::string(w));
        EXPECT_LE(w.size(), kVocabularyWordMaxLength);
        EXPECT_TRUE(IsVocabularyWord(w));
    }
    EXPECT_FALSE(IsVocabularyWord("Glass"));  // the set holds lower case only
    EXPECT_FALSE(IsVocabularyWord("wav"));
}

TEST(GuessCategory, ScoresTermsAgainstTheCategoryTable) {
    struct Case {
        const char* name;
        std::vector<KeywordTerm> terms;
        const char* code;
    };
    const std::vector<Case> cases = {
        {"no terms", {}, "DSGNMisc"},
        {"optional glass", {{"glass", 0}}, "CRASH"},
        {"required metal", {{"metal", 1}}, "META"},
        {"nothing matches", {{"ice", 0}}, "DSGNMisc"},
        {"term inside two keywords", {{"door", 0}}, "AMBExt"},
        {"tie goes to the earlier rule", {{"rain", 0}}, "STRN"},
        {"short term inside many keywords", {{"fi", 0}}, "SCI"},
        {"excluded terms never score", {{"fire", 2}, {"gun", 0}}, "GUN"},
        {"only excluded terms", {{"glass", 2}}, "DSGNMisc"},
        {"terms are lower-cased", {{"GLASS", 0}}, "CRASH"},
        {"keyword inside a longer term", {{"gunshots", 0}}, "GUN"},
        {"keyword with a hyphen", {{"sci-fi", 0}}, "SCI"},
        {"two-letter keyword", {{"BG", 1}}, "AMBExt"},
        {"required outweighs optional", {{"+wood", 0}, {"wood", 1}, {"splash", 0}}, "WOOD"},
        {"optional loses to required", {{"wood", 0}, {"splash", 1}}, "WATR"},
        {"scores add over terms", {{"splash", 0}, {"drip", 0}, {"wood", 1}}, "WATR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GuessCategory(c.terms), c.code);
    }
}

// Codes are the first part of designed-sound names; order decides ties.
TEST(GuessCategory, TableHoldsFifteenRulesInTieBreakOrder) {
    const std::vector<std::string> codes = {"AMBExt", "CRASH", "DSGN", "EXPL", "FIRE",
                                            "FOL",    "GUN",   "HIT",  "MECH", "META",
                                            "MVMT",   "SCI",   "STRN", "WATR", "WOOD"};
    const auto& rules = CategoryRules();
    ASSERT_EQ(rules.size(), codes.size());
    for (size_t i = 0; i < codes.size(); ++i) {
        SCOPED_TRACE(codes[i]);
        EXPECT_EQ(rules[i].code, codes[i]);
        // Each rule's first keyword alone must land on that rule.
        std::string first(rules[i].keywords);
        first = first.substr(0, first.find('|'));
        EXPECT_EQ(GuessCategory({{first, 1}}), codes[i]);
    }
}

}  // namespace
}  // namespace korvel
