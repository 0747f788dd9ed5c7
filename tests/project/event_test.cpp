#include "project/event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "project/fixed_text.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

Event MakeEvent(EventKind kind, std::int32_t groupOverride) {
    Event event;
    event.shape = KindValue(kind);
    event.groupOverride = groupOverride;
    return event;
}

// Fill ignores every override, 1 and 2 move other kinds, and no override can
// put a non-background kind into "BG".
TEST(EffectiveGroup, OverridesAndKinds) {
    struct Case {
        const char* name;
        EventKind kind;
        std::int32_t groupOverride;
        std::int32_t group;
    };
    const Case cases[] = {
        {"fill ignores override 2", EventKind::Fill, 2, 0},
        {"fill ignores override 1", EventKind::Fill, 1, 0},
        {"spot forced to FX B", EventKind::Spot, 2, 2},
        {"bed forced to FX A", EventKind::Bed, 1, 1},
        {"contour override 0 stays FX B", EventKind::Contour, 0, 2},
        {"scatter override 0 is not BG", EventKind::Scatter, 0, 1},
        {"bloom automatic", EventKind::Bloom, -1, 2},
        {"bed automatic", EventKind::Bed, -1, 0},
        {"clip automatic", EventKind::Clip, -1, 1},
        {"override 3 is automatic", EventKind::Bloom, 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EffectiveGroup(MakeEvent(c.kind, c.groupOverride)), c.group);
    }

    Event unknown;
    unknown.shape = 9;
    EXPECT_EQ(EffectiveGroup(unknown), 1);
}

TEST(DefaultGroupForKind, EveryKindAndOutOfRange) {
    struct Case {
        std::int32_t kind;
        std::int32_t group;
    };
    const Case cases[] = {{0, 1}, {1, 2}, {2, 2}, {3, 0}, {4, 1}, {5, 1}, {6, 0}, {7, 1}, {-1, 1}, {1000, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(DefaultGroupForKind(c.kind), c.group);
    }
}

TEST(EventKindTables, NamesAndDefaultsPerKind) {
    EXPECT_STREQ(EventKindNames[KindValue(EventKind::Spot)], "Spot");
    EXPECT_STREQ(EventKindNames[KindValue(EventKind::Bed)], "Bed");
    EXPECT_FLOAT_EQ(EventKindDefaults.duration[KindValue(EventKind::Fill)], 8.0f);
    EXPECT_FLOAT_EQ(EventKindDefaults.duration[KindValue(EventKind::Clip)], 2.0f);
    EXPECT_FLOAT_EQ(EventKindDefaults.spread[KindValue(EventKind::Scatter)], 0.5f);
    EXPECT_FLOAT_EQ(EventKindDefaults.spread[KindValue(EventKind::Fill)], 0.1f);
}

// Paths are matched as exact bytes, and an id list shorter than the path list
// (older files) must not shift ids onto the wrong paths.
TEST(EventPinnedFiles, RemoveMatchesExactBytesAndKeepsIdsAligned) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::string> ids;
        std::string remove;
        std::vector<std::string> filesAfter;
        std::vector<std::string> idsAfter;
        bool useAfter;
    };
    const Case cases[] = {
        {"pinned twice goes twice", {"/a.wav", "/b.wav", "/a.wav"}, {"1", "2", "3"}, "/a.wav", {"/b.wav"}, {"2"}, true},
        {"ids shorter than files", {"/a.wav", "/b.wav", "/a.wav"}, {"1"}, "/a.wav", {"/b.wav"}, {}, true},
        {"ids shorter, later match only", {"/b.wav", "/c.wav", "/a.wav"}, {"1", "2"}, "/a.wav",
         {"/b.wav", "/c.wav"}, {"1", "2"}, true},
        {"case differs", {"/A.wav"}, {"1"}, "/a.wav", {"/A.wav"}, {"1"}, true},
        {"no normalisation", {"/x/../a.wav"}, {"1"}, "/a.wav", {"/x/../a.wav"}, {"1"}, true},
        {"last entry clears the flag", {"/a.wav"}, {"1"}, "/a.wav", {}, {}, false},
        {"not listed", {}, {}, "/a.wav", {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event event;
        event.pinnedFiles = c.files;
        event.pinnedFileIds = c.ids;
        event.usePinnedFile = !c.files.empty();
        event.bedLayerLoop = {1, 0, 1};
        event.RemovePinnedFile(c.remove);
        EXPECT_EQ(event.pinnedFiles, c.filesAfter);
        EXPECT_EQ(event.pinnedFileIds, c.idsAfter);
        EXPECT_EQ(event.usePinnedFile, c.useAfter);
        EXPECT_EQ(event.bedLayerLoop.size(), 3u) << "bed lists are kept by the bed operations";
    }
}

// The given id wins; without one the registry names a readable file and an
// unreadable one is pinned without identity. A path pinned again changes
// neither list but the flag is still recomputed.
TEST(EventPinnedFiles, AddTakesGivenOrRegistryIdOnce) {
    test::TempDir dir;
    const std::string readable = dir.file("a.wav");
    ASSERT_TRUE(test::WriteBytes(readable, "RIFF some bytes"));
    const std::string missing = dir.file("gone.wav");

    Event event;
    event.AddPinnedFile(readable, "");
    event.AddPinnedFile(missing, "");
    event.AddPinnedFile("/given.wav", "00112233aabbccdd");
    ASSERT_EQ(event.pinnedFiles.size(), 3u);
    ASSERT_EQ(event.pinnedFileIds.size(), 3u);
    EXPECT_EQ(event.pinnedFileIds[0].size(), 16u);
    EXPECT_EQ(event.pinnedFileIds[0].find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(event.pinnedFileIds[1], "");
    EXPECT_EQ(event.pinnedFileIds[2], "00112233aabbccdd");
    EXPECT_TRUE(event.usePinnedFile);

    event.usePinnedFile = false;
    event.AddPinnedFile("/given.wav", "ffffffffffffffff");
    EXPECT_EQ(event.pinnedFiles.size(), 3u);
    EXPECT_EQ(event.pinnedFileIds[2], "00112233aabbccdd");
    EXPECT_TRUE(event.usePinnedFile) << "flag recomputed even when nothing was added";
}

// Data from older files may carry fewer ids than paths; a new id must still
// sit at its own path's index.
TEST(EventPinnedFiles, AddAfterShortIdListKeepsIndicesAligned) {
    Event event;
    event.pinnedFiles = {"/a.wav", "/b.wav"};
    event.pinnedFileIds = {"1111111111111111"};
    event.AddPinnedFile("/c.wav", "2222222222222222");
    ASSERT_EQ(event.pinnedFileIds.size(), 3u);
    EXPECT_EQ(event.pinnedFileIds[1], "");
    EXPECT_EQ(event.pinnedFileIds[2], "2222222222222222");
}

TEST(EventPinnedFiles, HasPinnedFileIsExact) {
    Event event;
    event.pinnedFiles = {"/s/a.wav"};
    EXPECT_TRUE(event.HasPinnedFile("/s/a.wav"));
    EXPECT_FALSE(event.HasPinnedFile("/s/a.wa"));
    EXPECT_FALSE(event.HasPinnedFile("/s/a.wav "));
    EXPECT_FALSE(event.HasPinnedFile("/S/a.wav"));
}

// A copy must be deep, nested bounce sources included, or undo snapshots
// would share state with the live project.
TEST(EventRecord, CopiesDeeplyIncludingBounceSources) {
    Event inner;
    inner.pinnedFiles = {"/inner.wav"};
    Event outer;
    outer.bounceSource.push_back(inner);
    outer.bounceSource[0].bounceSource.push_back(inner);
    Event copy = outer;
    outer.bounceSource[0].bounceSource[0].pinnedFiles[0] = "/changed.wav";
    EXPECT_EQ(copy.bounceSource[0].bounceSource[0].pinnedFiles[0], "/inner.wav");
}

TEST(EventRecord, Defaults) {
    Event event;
    EXPECT_FLOAT_EQ(event.intensityScale, 1.0f);
    EXPECT_FLOAT_EQ(event.gain, 1.0f);
    EXPECT_FLOAT_EQ(event.alloyMorph, 1.0f);
    EXPECT_FLOAT_EQ(event.reverbSend, -1.0f);
    EXPECT_EQ(event.groupOverride, -1);
    EXPECT_EQ(event.sceneLink, -1);
    EXPECT_EQ(event.sceneCrossfade, 1);
    EXPECT_EQ(event.userShapeIdx, -1);
    EXPECT_FLOAT_EQ(event.clipFadeIn, -1.0f);
    EXPECT_FLOAT_EQ(event.clipFadeOut, -1.0f);
    EXPECT_FLOAT_EQ(event.clipPitchRate, 1.0f);
    EXPECT_FLOAT_EQ(event.clipWeight, -1.0f);
    EXPECT_EQ(TextOf(event.keywords), "");
    EXPECT_FALSE(event.hasTraceGain);
}

TEST(HexId, FormatAndParse) {
    EXPECT_EQ(FormatHexId(255), "00000000000000ff");
    EXPECT_EQ(FormatHexId(0), "0000000000000000");
    EXPECT_EQ(FormatHexId(0xFEDCBA9876543210ull), "fedcba9876543210");

    struct Case {
        const char* text;
        std::uint64_t value;
    };
    // strtoull semantics: stops at the first non-digit, 0 when none.
    const Case cases[] = {
        {"", 0},
        {"00000000000000ff", 255},
        {"FEDCBA9876543210", 0xFEDCBA9876543210ull},
        {"1fzz", 0x1f},
        {"zz", 0},
        {"0x10", 16},
        {"  a", 10},
        {"ffffffffffffffffff", ~0ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseHexId(c.text), c.value);
    }
}

TEST(FixedText, CutsToBufferSizeLessOne) {
    char buffer[8];
    CopyText(buffer, "abc");
    EXPECT_EQ(TextOf(buffer), "abc");
    CopyText(buffer, "abcdefghijk");
    EXPECT_EQ(TextOf(buffer), "abcdefg");
    CopyText(buffer, "");
    EXPECT_EQ(TextOf(buffer), "");
}

}  // namespace
}  // namespace korvel
