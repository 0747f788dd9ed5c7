#include "library/channel_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/content_hash.h"
#include "library/library.h"

namespace korvel {
namespace {

TEST(ClassifyChannelLayout, ByMapAndCount) {
    struct Case {
        const char* name;
        int channels;
        int interpretation;
        ChannelLayoutClass expected;
    };
    const Case cases[] = {
        {"none", 0, kInterpretAuto, kLayoutUnknown},
        {"mono", 1, kInterpretAuto, kLayoutMono},
        {"stereo", 2, kInterpretAuto, kLayoutStereo},
        {"stereo discrete is still stereo", 2, kInterpretDiscrete, kLayoutStereo},
        {"stereo ambisonic", 2, kInterpretAmbisonic, kLayoutAmbisonic},
        {"LCR", 3, kInterpretAuto, kLayoutLcr},
        {"quad", 4, kInterpretAuto, kLayoutQuad},
        {"5.0", 5, kInterpretAuto, kLayout50},
        {"5.1", 6, kInterpretAuto, kLayout51},
        {"5.1 discrete", 6, kInterpretDiscrete, kLayoutUnknown},
        {"seven", 7, kInterpretAuto, kLayoutUnknown},
        {"7.1", 8, kInterpretAuto, kLayout71},
        {"nine automatic is ambisonic", 9, kInterpretAuto, kLayoutAmbisonic},
        {"nine as surround", 9, kInterpretSurround, kLayoutUnknown},
        {"7.1.2", 10, kInterpretAuto, kLayout712},
        {"7.1.4", 12, kInterpretAuto, kLayout714},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ChannelMap map = BuildChannelMap(nullptr, c.channels, kChannelOrderSmpte, c.interpretation);
        EXPECT_EQ(ClassifyChannelLayout(c.channels, map), c.expected);
    }
}

TEST(ChannelLayoutName, NamesAndCounts) {
    struct Case {
        int layoutClass, channels;
        const char* expected;
    };
    const Case cases[] = {
        {0, 7, "7ch"},    {0, 0, "0ch"},    {0, -2, "0ch"},    {1, 1, "mono"},    {2, 2, "stereo"},
        {3, 3, "LCR"},    {4, 4, "quad"},   {5, 5, "5.0"},     {6, 6, "5.1"},     {7, 8, "7.1"},
        {8, 10, "7.1.2"}, {9, 12, "7.1.4"}, {10, 4, "ambisonic"}, {11, 5, "5ch"}, {-1, 6, "6ch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(ChannelLayoutName(c.layoutClass, c.channels), c.expected);
    }
}

TEST(ParseChannelSuffix, Suffixes) {
    struct Case {
        const char* stem;
        int index;
        const char* base;  // expected base when index >= 0
    };
    const Case cases[] = {
        {"Rain_L", 0, "Rain"},        {"Rain.R", 1, "Rain"},       {"Rain-C", 2, "Rain"},
        {"Rain_LFE", 3, "Rain"},      {"rain_ls", 4, "rain"},      {"Rain_Rs", 5, "Rain"},
        {"Rain_LRS", 6, "Rain"},      {"Rain_rrs", 7, "Rain"},     {"Rain_Ltf", 8, "Rain"},
        {"Rain_RTF", 9, "Rain"},      {"Rain_ltr", 10, "Rain"},    {"Rain_Rtr", 11, "Rain"},
        {"Heavy_Rain-02_L", 0, "Heavy_Rain-02"},
        {"Rain_L.1", -1, ""},         {"L", -1, ""},               {"_L", -1, ""},
        {"Rain_", -1, ""},            {"", -1, ""},                {"RainL", -1, ""},
        {"Rain_Left", -1, ""},        {"Rain_LL", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stem);
        std::string base = "untouched";
        EXPECT_EQ(ParseChannelSuffix(c.stem, base), c.index);
        EXPECT_EQ(base, c.index >= 0 ? std::string(c.base) : std::string("untouched"));
    }
}

LibraryFile Mono(const std::string& folder, const std::string& name, float rate = 48000.0f,
                 float duration = 2.0f) {
    LibraryFile f;
    f.path = folder + "/" + name + ".wav";
    f.name = name;
    f.channels = 1;
    f.sampleRate = rate;
    f.duration = duration;
    return f;
}

TEST(GroupMultiMonoFiles, GroupsSuffixedMonoFilesByFolderAndBase) {
    std::vector<LibraryFile> files = {
        Mono("/sfx/rain", "Rain_L"), Mono("/sfx/rain", "Rain_R"), Mono("/sfx/rain", "Rain_C"),
        Mono("/sfx/other", "Rain_L"),  // another folder: no partner
        Mono("/sfx/rain", "Wind.L"), Mono("/sfx/rain", "Wind_R"),  // mixed separators
    };
    files[0].mmGroup = 77;  // stale values are replaced
    GroupMultiMonoFiles(files);

    const uint64_t rain = ContentHash("/sfx/rain\nRain");
    const uint64_t wind = ContentHash("/sfx/rain\nWind");
    EXPECT_NE(rain, wind);
    struct Expect {
        uint64_t group;
        int member;
    };
    const Expect expected[] = {{rain, 0}, {rain, 1}, {rain, 2}, {0, -1}, {wind, 0}, {wind, 1}};
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].path);
        EXPECT_EQ(files[i].mmGroup, expected[i].group);
        EXPECT_EQ(files[i].mmMember, expected[i].member);
    }
}

TEST(GroupMultiMonoFiles, InvalidGroupsStayUngrouped) {
    struct Case {
        const char* name;
        std::vector<LibraryFile> files;
    };
    LibraryFile stereo = Mono("/a", "Rain_R");
    stereo.channels = 2;
    const std::vector<Case> cases = {
        {"a lone member", {Mono("/a", "Rain_L")}},
        {"the same channel twice", {Mono("/a", "Rain_L"), Mono("/a", "Rain_l"), Mono("/a", "Rain_R")}},
        {"a suffix that names no channel", {Mono("/a", "Rain_L"), Mono("/a", "Rain_L.1")}},
        {"lengths one sample apart",
         {Mono("/a", "Rain_L", 48000.0f, 1.0f), Mono("/a", "Rain_R", 48000.0f, 1.0f + 1.0f / 48000.0f)}},
        {"different rates", {Mono("/a", "Rain_L", 48000.0f), Mono("/a", "Rain_R", 44100.0f)}},
        {"a rate of 0", {Mono("/a", "Rain_L", 0.0f), Mono("/a", "Rain_R", 0.0f)}},
        {"a stereo file named like a channel", {Mono("/a", "Rain_L"), stereo}},
        {"no length", {Mono("/a", "Rain_L", 48000.0f, 0.0f), Mono("/a", "Rain_R", 48000.0f, 0.0f)}},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        GroupMultiMonoFiles(c.files);
        for (const LibraryFile& f : c.files) {
            EXPECT_EQ(f.mmGroup, 0u) << f.name;
            EXPECT_EQ(f.mmMember, -1) << f.name;
        }
    }
}

TEST(GroupMultiMonoFiles, FolderKeyIgnoresTrailingSeparatorsAndKeepsTheRoot) {
    std::vector<LibraryFile> files = {Mono("/x//", "Rain_L"), Mono("/x", "Rain_R"), Mono("", "Top_L"),
                                      Mono("", "Top_R")};
    GroupMultiMonoFiles(files);
    EXPECT_EQ(files[0].mmGroup, ContentHash("/x\nRain"));
    EXPECT_EQ(files[1].mmGroup, files[0].mmGroup);
    // "/Top_L.wav": the root folder stays whole.
    EXPECT_EQ(files[2].mmGroup, ContentHash("/\nTop"));
    EXPECT_EQ(files[3].mmMember, 1);
}

TEST(GroupPaletteMultiMonoFiles, GroupsUnlessThePaletteTurnsGroupingOff) {
    Palette palette;
    palette.files = {Mono("/a", "Rain_L"), Mono("/a", "Rain_R")};
    GroupPaletteMultiMonoFiles(palette);
    EXPECT_EQ(palette.files[1].mmGroup, ContentHash("/a\nRain"));
    EXPECT_EQ(palette.files[1].mmMember, 1);

    // Groups from before the switch do not survive it.
    palette.mmDisableGrouping = true;
    GroupPaletteMultiMonoFiles(palette);
    for (const LibraryFile& f : palette.files) {
        EXPECT_EQ(f.mmGroup, 0u) << f.name;
        EXPECT_EQ(f.mmMember, -1) << f.name;
    }
}

TEST(ChannelInterpretationMap, FileWinsOverPaletteAndRebuildReplaces) {
    Library library;
    Palette surround;
    surround.paletteInterpret = kInterpretDiscrete;
    LibraryFile deferring = Mono("/a", "x");
    LibraryFile own = Mono("/a", "y");
    own.interpretation = kInterpretAmbisonic;
    surround.files = {deferring, own};
    Palette later;
    LibraryFile again = Mono("/a", "y");
    again.interpretation = kInterpretSurround;
    LibraryFile plain = Mono("/b", "z");
    later.files = {again, plain};
    library.palettes = {surround, later};

    RebuildChannelInterpretationMap(library);
    EXPECT_EQ(GetChannelInterpretation("/a/x.wav"), kInterpretDiscrete);
    EXPECT_EQ(GetChannelInterpretation("/a/y.wav"), kInterpretSurround);  // later palette wins
    EXPECT_EQ(GetChannelInterpretation("/b/z.wav"), kInterpretAuto);
    EXPECT_EQ(GetChannelInterpretation(""), kInterpretAuto);

    library.palettes[0].paletteInterpret = kInterpretAuto;
    RebuildChannelInterpretationMap(library);
    EXPECT_EQ(GetChannelInterpretation("/a/x.wav"), kInterpretAuto);

    library.palettes.clear();
    RebuildChannelInterpretationMap(library);
    EXPECT_EQ(GetChannelInterpretation("/a/y.wav"), kInterpretAuto);
}

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

TEST(GetChannelLayoutLabel, FollowsTheInterpretation) {
    Library library;
    Palette palette;
    LibraryFile quad;
    quad.path = "/sfx/quad.wav";
    quad.channels = 4;  // layout class not computed
    LibraryFile stored;
    stored.path = "/sfx/stored.wav";
    stored.channels = 6;
    stored.layoutClass = kLayout51;
    palette.files = {quad, stored};
    library.palettes.push_back(palette);

    struct Case {
        const char* name;
        std::string path;
        int interpretation;
        const char* label;
    };
    const Case cases[] = {
        {"automatic from the count", quad.path, kInterpretAuto, "quad"},
        {"discrete names the count", quad.path, kInterpretDiscrete, "4ch"},
        {"ambisonic", quad.path, kInterpretAmbisonic, "ambisonic"},
        {"surround recomputes", quad.path, kInterpretSurround, "quad"},
        {"a stored class is used", stored.path, kInterpretAuto, "5.1"},
        {"not in the library", "/sfx/other.wav", kInterpretAuto, ""},
        {"empty path", "", kInterpretAuto, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library.palettes[0].files[0].interpretation = c.interpretation;
        library.palettes[0].files[1].interpretation = c.interpretation;
        RebuildChannelInterpretationMap(library);
        EXPECT_EQ(GetChannelLayoutLabel(library, c.path), c.label);
    }
    Library none;
    RebuildChannelInterpretationMap(none);
}

}  // namespace
}  // namespace korvel
