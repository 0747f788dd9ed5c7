// Palette summaries: the exact texts the library panel shows.
#include "library/palette_summary.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "library/library.h"

namespace korvel {
namespace {

const std::string kDot = " \xC2\xB7 ";

LibraryFile File(const std::string& name, float duration = 1.0f, int channels = 1,
                 std::array<float, 5> bands = {}) {
    LibraryFile f;
    f.path = "/sfx/" + name + ".wav";
    f.name = name;
    f.duration = duration;
    f.channels = channels;
    f.bandEnergies = bands;
    return f;
}

TEST(PaletteSummary, EmptyPaletteClearsTextsButKeepsItsWords) {
    Palette p;
    p.summary = "old";
    p.layoutSummary = "old";
    p.keywordSummary = "rain";
    SummarizePalette(p);
    EXPECT_EQ(p.summary, "");
    EXPECT_EQ(p.layoutSummary, "");
    EXPECT_EQ(p.keywordSummary, "rain");
}

TEST(PaletteSummary, FileCountsGetThousandsSeparators) {
    struct Case {
        int count;
        const char* text;
    };
    const Case cases[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234, "1,234"},
                          {999999, "999,999"}, {1000000, "1,000,000"}, {1234567, "1,234,567"}};
    for (const Case& c : cases) EXPECT_EQ(FormatFileCount(c.count), c.text) << c.count;
}

TEST(PaletteSummary, SpectralBalanceNamesTheStrongestBand) {
    struct Case {
        const char* name;
        std::array<float, 5> bands;
        std::string part;  // what follows "1 files"
    };
    // Durations of 0 add " · mostly transient" after the balance.
    const std::string tail = kDot + "mostly transient";
    const Case cases[] = {
        {"all close to the strongest", {1, 0.8f, 0.9f, 0.75f, 0.71f}, kDot + "balanced" + tail},
        {"adjacent band never joins", {1, 0.9f, 0.3f, 0.2f, 0.1f}, kDot + "sub-heavy" + tail},
        {"a distant strong band joins", {1, 0.2f, 0.7f, 0.1f, 0.1f}, kDot + "sub-heavy and mid-range" + tail},
        {"only the first distant band joins", {0.1f, 0.1f, 1, 0.1f, 0.9f}, kDot + "mid-range and airy" + tail},
        {"ties go to the lower band", {0, 1, 1, 0, 0}, kDot + "low-end" + tail},
        {"no energy gives no balance", {0, 0, 0, 0, 0}, tail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Palette p;
        p.files.push_back(File("x", 0.0f, 1, c.bands));
        SummarizePalette(p);
        EXPECT_EQ(p.summary, "1 files" + c.part);
    }
}

TEST(PaletteSummary, BandAveragesAreTakenOverTheFiles) {
    Palette p;
    p.files.push_back(File("a", 0.0f, 1, {1, 0, 0, 0, 0}));
    p.files.push_back(File("b", 0.0f, 1, {0, 0, 0, 0, 1}));
    SummarizePalette(p);
    EXPECT_EQ(p.summary, "2 files" + kDot + "sub-heavy and airy" + kDot + "mostly transient");
}

TEST(PaletteSummary, LengthPartOrdersByCount) {
    struct Case {
        const char* name;
        int transient, medium, sustained;
        std::string part;
    };
    const Case cases[] = {
        {"mostly one kind with a second above a quarter", 7, 0, 3, "mostly transient, sustained"},
        {"half is not mostly", 5, 4, 1, "transient, medium"},
        {"second at an eighth is not named", 6, 1, 1, "mostly transient"},
        {"ties keep the order transient, medium, sustained", 0, 5, 5, "medium, sustained"},
        {"all sustained", 0, 0, 4, "mostly sustained"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Palette p;
        for (int i = 0; i < c.transient; ++i) p.files.push_back(File("t", 0.2f));
        for (int i = 0; i < c.medium; ++i) p.files.push_back(File("m", 0.5f));
        for (int i = 0; i < c.sustained; ++i) p.files.push_back(File("s", 3.0f));
        SummarizePalette(p);
        const int n = c.transient + c.medium + c.sustained;
        EXPECT_EQ(p.summary, std::to_string(n) + " files" + kDot + c.part);
    }
}

TEST(PaletteSummary, NotANumberDurationCountsAsSustained) {
    Palette p;
    p.files.push_back(File("x", std::nanf("")));
    SummarizePalette(p);
    EXPECT_EQ(p.summary, "1 files" + kDot + "mostly sustained");
}

TEST(PaletteSummary, SoundWordsNeedTheThreshold) {
    struct Case {
        const char* name;
        int files;
        int rainCount, doorCount;
        std::string keywords;
    };
    const Case cases[] = {
        // 100 files: threshold 5.
        {"hundred files", 100, 5, 4, "rain"},
        // 30 files: threshold 2.
        {"thirty files", 30, 5, 2, "rain, door"},
        {"nothing frequent enough", 100, 4, 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Palette p;
        for (int i = 0; i < c.files; ++i) {
            std::string name = "take";
            if (i < c.rainCount) name = "Rain take";
            else if (i < c.rainCount + c.doorCount) name = "door_take";
            p.files.push_back(File(name, 5.0f));
        }
        SummarizePalette(p);
        EXPECT_EQ(p.keywordSummary, c.keywords);
        const std::string head = std::to_string(c.files) + " files" + kDot + "mostly sustained";
        EXPECT_EQ(p.summary, c.keywords.empty() ? head : head + kDot + c.keywords);
    }
}

TEST(PaletteSummary, DescriptionsCountAndAtMostFourWordsAreListed) {
    Palette p;
    for (const char* word : {"glass", "metal", "wood", "water", "fire"}) {
        for (int i = 0; i < 3; ++i) {
            LibraryFile f = File(std::string(word) + "_01", 5.0f);
            f.description = std::string(word) == "fire" ? "fire fire" : "";
            p.files.push_back(f);
        }
    }
    SummarizePalette(p);
    // fire: 3 names + 6 description words; the rest 3 each, ties alphabetical.
    EXPECT_EQ(p.keywordSummary, "fire, glass, metal, water");
}

TEST(PaletteSummary, LayoutsAreCountedByClass) {
    struct Case {
        const char* name;
        int surroundChannels;
        std::string expected;
    };
    const Case cases[] = {
        {"seven channels have no layout", 7, "13 mono" + kDot + "3 stereo" + kDot + "2 multi"},
        {"six channels are 5.1 by default", 6, "13 mono" + kDot + "3 stereo" + kDot + "2 5.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Palette p;
        for (int i = 0; i < 12; ++i) p.files.push_back(File("m", 1, 1));
        for (int i = 0; i < 3; ++i) p.files.push_back(File("s", 1, 2));
        for (int i = 0; i < 2; ++i) p.files.push_back(File("x", 1, c.surroundChannels));
        p.files.push_back(File("none", 1, 0));
        SummarizePaletteLayouts(p);
        EXPECT_EQ(p.layoutSummary, c.expected);
    }
}

TEST(PaletteSummary, StoredLayoutClassWins) {
    Palette p;
    LibraryFile quad = File("q", 1, 4);
    quad.layoutClass = 10;  // stored as ambisonic
    p.files.push_back(quad);
    LibraryFile odd = File("o", 1, 2);
    odd.layoutClass = 42;  // not a class: not counted
    p.files.push_back(odd);
    SummarizePaletteLayouts(p);
    EXPECT_EQ(p.layoutSummary, "1 ambisonic");
}

}  // namespace
}  // namespace korvel
