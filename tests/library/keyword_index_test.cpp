#include "library/keyword_index.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "library/library.h"

namespace korvel {
namespace {

LibraryFile MakeFile(std::string path, std::string name, std::string description = {}) {
    LibraryFile f;
    f.path = std::move(path);
    f.name = std::move(name);
    f.description = std::move(description);
    return f;
}

class KeywordIndexTest : public ::testing::Test {
protected:
    Palette& AddPalette(std::vector<LibraryFile> files, bool enabled = true) {
        Palette p;
        p.name = std::to_string(library.palettes.size());
        p.files = std::move(files);
        p.enabled = enabled;
        library.palettes.push_back(std::move(p));
        return library.palettes.back();
    }

    // word -> {count, commonForm}
    std::map<std::string, std::pair<int32_t, std::string>> Rebuild() {
        RebuildKeywordIndex(library.keywordIndex, library);
        std::map<std::string, std::pair<int32_t, std::string>> words;
        for (const auto& e : library.keywordIndex.entries) words[e.word] = {e.count, e.commonForm};
        return words;
    }

    Library library;
};

TEST_F(KeywordIndexTest, CountsNamePathTailAndDescriptionOfEnabledPalettes) {
    AddPalette({MakeFile("root/lib/Impacts/Hard/GlassBreak.wav", "GlassBreak", "Big glass")});
    AddPalette({MakeFile("/other/Ignored.wav", "Ignored")}, /*enabled=*/false);
    const auto words = Rebuild();
    // The name's words count twice: once from the name, once from the path.
    // Only three components are taken, so "lib" and "root" are not indexed.
    const std::map<std::string, std::pair<int32_t, std::string>> expected = {
        {"big", {1, "Big"}},         {"break", {2, "Break"}},  {"glass", {3, "Glass"}},
        {"hard", {1, "Hard"}},       {"impacts", {1, "Impacts"}}, {"wav", {1, "wav"}},
    };
    EXPECT_EQ(words, expected);
    EXPECT_FALSE(library.keywordIndex.dirty);
}

TEST_F(KeywordIndexTest, PathComponentsFollowTheSlashRules) {
    struct Case {
        const char* name;
        std::string path;
        std::vector<std::string> words;
    };
    const std::vector<Case> cases = {
        {"no slash adds nothing", "Door.wav", {}},
        {"text before the first slash is never indexed", "drive/Door.wav", {"door", "wav"}},
        {"leading slash", "/sfx/Door.wav", {"door", "sfx", "wav"}},
        {"trailing slash is skipped but counts as a component", "/aa/bb/cc/", {"bb", "cc"}},
        {"double slash", "/aa//bb.wav", {"aa", "bb", "wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library.palettes.clear();
        AddPalette({MakeFile(c.path, "")});
        std::vector<std::string> got;
        for (const auto& [word, info] : Rebuild()) got.push_back(word);
        EXPECT_EQ(got, c.words);
    }
}

TEST_F(KeywordIndexTest, CommonFormIsTheMostFrequentSpellingFirstMetOnATie) {
    AddPalette({MakeFile("a", "Door"), MakeFile("b", "DOOR"), MakeFile("c", "DOOR"),
                MakeFile("d", "Slam"), MakeFile("e", "slam"), MakeFile("f", "SLAM")});
    const auto words = Rebuild();
    EXPECT_EQ(words.at("door"), std::make_pair(3, std::string("DOOR")));
    EXPECT_EQ(words.at("slam"), std::make_pair(3, std::string("Slam")));
}

TEST_F(KeywordIndexTest, EntriesAreSortedInByteOrder) {
    AddPalette({MakeFile("", "glow glass gl caf\xC3\xA9 cafe caf zebra")});
    RebuildKeywordIndex(library.keywordIndex, library);
    std::vector<std::string> order;
    for (const auto& e : library.keywordIndex.entries) order.push_back(e.word);
    // Bytes from 128 sort after ASCII; a prefix sorts before its extensions.
    EXPECT_EQ(order, (std::vector<std::string>{"caf", "cafe", "caf\xC3\xA9", "gl", "glass", "glow",
                                                "zebra"}));
}

TEST_F(KeywordIndexTest, RebuildReplacesTheOldEntries) {
    AddPalette({MakeFile("", "Thunder")});
    Rebuild();
    library.palettes.front().enabled = false;
    library.keywordIndex.dirty = true;
    EXPECT_TRUE(Rebuild().empty());
    EXPECT_FALSE(library.keywordIndex.dirty);
}

KeywordIndex MakeIndex(std::vector<KeywordEntry> entries) {
    KeywordIndex index;
    index.entries = std::move(entries);
    index.dirty = false;
    return index;
}

std::vector<std::pair<std::string, int32_t>> Suggest(const KeywordIndex& index,
                                                     std::string_view prefix, int32_t n) {
    std::vector<KeywordSuggestion> out = {{"stale", 1}};
    SuggestKeywords(index, prefix, out, n);
    std::vector<std::pair<std::string, int32_t>> got;
    for (const auto& s : out) got.emplace_back(std::string(s.commonForm), s.count);
    return got;
}

TEST(SuggestKeywords, CompletesPrefixesMostFrequentFirst) {
    const KeywordIndex index = MakeIndex({{"door", "Door", 4},
                                          {"gl", "GL", 50},
                                          {"glass", "Glass", 5},
                                          {"glint", "glint", 5},
                                          {"glow", "Glow", 9},
                                          {"go", "go", 99}});
    using Got = std::vector<std::pair<std::string, int32_t>>;
    struct Case {
        const char* name;
        std::string prefix;
        int32_t n;
        Got got;
    };
    const std::vector<Case> cases = {
        {"the word equal to the prefix is passed over", "gl", 8,
         {{"Glow", 9}, {"Glass", 5}, {"glint", 5}}},
        {"upper-case prefix", "GL", 8, {{"Glow", 9}, {"Glass", 5}, {"glint", 5}}},
        {"n limits the answer", "gl", 2, {{"Glow", 9}, {"Glass", 5}}},
        {"n of 0", "gl", 0, {}},
        {"negative n", "gl", -3, {}},
        {"single match", "do", 8, {{"Door", 4}}},
        {"no match", "x", 8, {}},
        {"past the last entry", "zz", 8, {}},
        {"empty prefix", "", 8, {}},
        {"63-byte prefix is still looked up", std::string(63, 'g'), 8, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Suggest(index, c.prefix, c.n), c.got);
    }
}

TEST(SuggestKeywords, LongPrefixesAndEmptyIndexGiveNothing) {
    const std::string word63(63, 'w');
    const KeywordIndex index = MakeIndex({{word63 + "x", word63 + "X", 1}});
    EXPECT_EQ(Suggest(index, word63, 8).size(), 1u);
    EXPECT_TRUE(Suggest(index, word63 + "x", 8).empty());  // 64 bytes
    EXPECT_TRUE(Suggest(KeywordIndex{}, "gl", 8).empty());
}

// With more than 64 matches only the alphabetically first 64 are ranked, so a
// frequent word late in the alphabet is not offered.
TEST(SuggestKeywords, RanksOnlyTheFirst64Matches) {
    std::vector<KeywordEntry> entries;
    for (int i = 0; i < 70; ++i) {
        std::string word = "wa";
        word += static_cast<char>('a' + i / 26);
        word += static_cast<char>('a' + i % 26);
        entries.push_back({word, word, i == 69 ? 1000 : i == 63 ? 500 : 1});
    }
    const KeywordIndex index = MakeIndex(entries);
    const auto got = Suggest(index, "wa", 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, entries[63].commonForm);
    // Equal counts come back in alphabetical order.
    const auto many = Suggest(index, "wa", 3);
    ASSERT_EQ(many.size(), 3u);
    EXPECT_EQ(many[1].first, "waaa");
    EXPECT_EQ(many[2].first, "waab");
}

TEST_F(KeywordIndexTest, SuggestionsFromARebuiltIndex) {
    AddPalette({MakeFile("/sfx/Glass/GlassBreak.wav", "GlassBreak"),
                MakeFile("/sfx/Glow/GlowPulse.wav", "GlowPulse")});
    Rebuild();
    EXPECT_EQ(Suggest(library.keywordIndex, "gL", 8),
              (std::vector<std::pair<std::string, int32_t>>{{"Glass", 3}, {"Glow", 3}}));
}

TEST_F(KeywordIndexTest, FileIndexHoldsEveryPaletteLaterOnesWinning) {
    LibraryFile a = MakeFile("/x/a.wav", "a");
    a.channels = 2;
    a.layoutClass = 3;
    LibraryFile b = MakeFile("/x/b.wav", "b");
    b.channels = 1;
    b.mmGroup = 77;
    b.mmMember = 1;
    LibraryFile aAgain = a;
    aAgain.channels = 6;
    AddPalette({a, b});
    AddPalette({aAgain}, /*enabled=*/false);

    RebuildFileIndex(library);
    EXPECT_FALSE(library.fileIndexDirty);
    ASSERT_EQ(library.fileIndex.size(), 2u);
    const LibraryFileFacts& fa = library.fileIndex.find(std::string_view("/x/a.wav"))->second;
    EXPECT_EQ(fa.channels, 6);
    EXPECT_EQ(fa.layoutClass, 3);
    const LibraryFileFacts& fb = library.fileIndex.at("/x/b.wav");
    EXPECT_EQ(fb.channels, 1);
    EXPECT_EQ(fb.layoutClass, -1);
    EXPECT_EQ(fb.mmGroup, 77u);
    EXPECT_EQ(fb.mmMember, 1);

    // A clean flag leaves the index alone; setting it rebuilds from scratch.
    library.palettes.pop_back();
    RebuildFileIndex(library);
    EXPECT_EQ(library.fileIndex.at("/x/a.wav").channels, 6);
    library.fileIndexDirty = true;
    RebuildFileIndex(library);
    EXPECT_EQ(library.fileIndex.at("/x/a.wav").channels, 2);
    library.palettes.clear();
    library.fileIndexDirty = true;
    RebuildFileIndex(library);
    EXPECT_TRUE(library.fileIndex.empty());
}

}  // namespace
}  // namespace korvel
