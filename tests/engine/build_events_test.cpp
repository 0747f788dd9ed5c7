#include "engine/build_events.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "engine/build_kinds.h"
#include "engine/build_routines.h"
#include "library/library.h"
#include "project/project.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;
using test::ScopedBuildSeed;

TEST(BuildRandom, FirstDrawsMatchTheGeneratorByHand) {
    // state = state * 1103515245 + 12345 (mod 2^32); u = (state >> 16) / 65535.
    BuildRandom random{1};
    EXPECT_FLOAT_EQ(random.Next(), 16838.0f / 65535.0f);
    EXPECT_EQ(random.state, 1103527590u);
    EXPECT_FLOAT_EQ(random.Next(), 38526.0f / 65535.0f);
    EXPECT_EQ(random.state, 2524885223u);
    EXPECT_FLOAT_EQ(random.Next(), 10113.0f / 65535.0f);
    // The top 16 bits all set read as exactly 1.
    BuildRandom top{0};
    top.state = 286434947u;  // steps to 0xFFFF0000
    EXPECT_EQ(top.Next(), 1.0f);
}

TEST(BuildRandom, SeedSourceIsReplaceable) {
    {
        const ScopedBuildSeed seed([] { return std::uint32_t{42}; });
        EXPECT_EQ(TakeBuildSeed(), 42u);
    }
    EXPECT_NEAR(static_cast<double>(TakeBuildSeed()), static_cast<double>(CalendarTimeSeed()), 2.0);
}

TEST(DrawWeighted, SortsThenDrawsOnlyWhenThereIsAChoice) {
    LibraryFile a = MakeFile("a"), b = MakeFile("b"), c = MakeFile("c");
    {
        std::vector<ScoredCandidate> one = {{&a, 3.0f}};
        BuildRandom random{7};
        EXPECT_EQ(DrawWeighted(one, random), 0u);
        EXPECT_EQ(random.state, 7u);  // no draw
    }
    {
        std::vector<ScoredCandidate> zeros = {{&a, 0.0f}, {&b, 0.0f}};
        BuildRandom random{7};
        EXPECT_EQ(DrawWeighted(zeros, random), 0u);
        EXPECT_EQ(random.state, 7u);
    }
    {
        // Sorted to c 2, a 1, b 1; u = 38526/65535 gives target 2.35, which
        // the running sum reaches at the second candidate.
        std::vector<ScoredCandidate> three = {{&a, 1.0f}, {&b, 1.0f}, {&c, 2.0f}};
        BuildRandom random{1103527590u};
        const std::size_t pick = DrawWeighted(three, random);
        EXPECT_EQ(three[0].file, &c);
        EXPECT_EQ(pick, 1u);
        EXPECT_EQ(random.state, 2524885223u);
    }
}

class PlanEventTest : public ::testing::Test {
protected:
    Project project;
    std::vector<Palette> palettes = {MakePalette("Beds", {MakeFile("bed")}, 0),
                                     MakePalette("Hits", {MakeFile("hit")}, 1),
                                     MakePalette("Any", {MakeFile("any")}, -1)};

    EventPlan Plan(const Event& event) {
        project.events = {event};
        BuildContext build(project, palettes);
        for (std::int32_t g = 0; g < kTrackGroupCount; ++g)
            build.groupPools[static_cast<std::size_t>(g)] = GatherCandidateFiles(palettes, g, nullptr);
        build.anyGroupPool = GatherCandidateFiles(palettes, -1, nullptr);
        return PlanEvent(build, 0);
    }
};

TEST_F(PlanEventTest, PlannedLayerCounts) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        EventKind kind;
        float spread;
        float intensity;
        float scale;
        bool hero;
        std::int32_t fillLayers;
        std::int32_t planned;
        std::int32_t cap;
    };
    const std::vector<Case> cases = {
        {"calm, no spread", EventKind::Spot, 0.0f, 0.5f, 1.0f, false, 0, 3, 8},
        {"half spread rounds up", EventKind::Spot, 0.5f, 0.5f, 1.0f, false, 0, 5, 8},
        {"full spread and a strong peak", EventKind::Spot, 1.0f, 0.9f, 1.0f, false, 0, 7, 8},
        {"the peak counts after the scale", EventKind::Spot, 1.0f, 0.5f, 2.0f, false, 0, 7, 8},
        {"hero, capped", EventKind::Spot, 1.0f, 0.9f, 1.0f, true, 0, 8, 8},
        {"calm hero", EventKind::Bloom, 0.0f, 0.5f, 1.0f, true, 0, 5, 8},
        {"spread outside 0..1", EventKind::Spot, 7.0f, 0.5f, 1.0f, false, 0, 6, 8},
        {"spread not a number", EventKind::Spot, nan, 0.5f, 1.0f, false, 0, 3, 8},
        {"fill with fillLayers", EventKind::Fill, 0.1f, 0.5f, 1.0f, false, 12, 12, 12},
        {"fill without fillLayers", EventKind::Fill, 0.1f, 0.5f, 1.0f, false, 0, 3, 8},
        {"fill with two layers", EventKind::Fill, 1.0f, 0.9f, 1.0f, false, 2, 2, 2},
        {"fillLayers beyond the file's limit", EventKind::Fill, 0.0f, 0.5f, 1.0f, false, 99, 24, 24},
        {"fillLayers on a Spot is ignored", EventKind::Spot, 0.0f, 0.5f, 1.0f, false, 12, 3, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event event = MakeEvent(c.kind, 1.0f, 2.0f, c.intensity);
        event.spread = c.spread;
        event.intensityScale = c.scale;
        event.hero = c.hero;
        event.fillLayers = c.fillLayers;
        const EventPlan plan = Plan(event);
        EXPECT_EQ(plan.plannedLayers, c.planned);
        EXPECT_EQ(plan.layerCap, c.cap);
    }
}

TEST_F(PlanEventTest, PoolByFilterThenGroupThenAnyGroup) {
    struct Case {
        const char* name;
        EventKind kind;
        const char* filter;
        std::vector<std::string> pool;
    };
    const std::vector<Case> cases = {
        {"group pool (FX A)", EventKind::Spot, "", {"hit", "any"}},
        {"group pool (BG)", EventKind::Fill, "", {"bed", "any"}},
        {"filter within the group", EventKind::Spot, "Hits", {"hit"}},
        {"filter outside the group falls back to every group", EventKind::Spot, "Beds", {"bed"}},
        {"no palette", EventKind::Spot, "~none~", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event event = MakeEvent(c.kind, 0.0f, 1.0f);
        std::snprintf(event.libFilter, sizeof event.libFilter, "%s", c.filter);
        std::vector<std::string> names;
        for (const LibraryFile* file : Plan(event).pool) names.push_back(file->name);
        EXPECT_EQ(names, c.pool);
    }
    // A group with no palette of its own takes the any-group pool.
    palettes = {MakePalette("Hits", {MakeFile("hit")}, 1)};
    const EventPlan plan = Plan(MakeEvent(EventKind::Bloom, 0.0f, 1.0f));
    ASSERT_EQ(plan.pool.size(), 1u);
    EXPECT_EQ(plan.pool[0]->name, "hit");
}

TEST_F(PlanEventTest, BandProfileMakesRoomForHeroes) {
    Event hero = MakeEvent(EventKind::Bloom, 2.0f, 4.0f);
    hero.hero = true;
    hero.weightCenter = 0.0f;
    Event plain = MakeEvent(EventKind::Spot, 0.0f, 4.0f);
    LayerResult sounding;
    sounding.eventIdx = 1;
    sounding.startTime = 0.0f;
    sounding.duration = 4.0f;
    sounding.weight = 1.0f;
    project.results = {sounding};
    project.events = {plain, hero};

    BuildContext build(project, palettes);
    const EventPlan forPlain = PlanEvent(build, 0);
    BandWeights heroBands, layerBands;
    ToneToBandWeights(0.0f, heroBands);
    ToneToBandWeights(1.0f, layerBands);
    for (int b = 0; b < kBandCount; ++b)
        EXPECT_NEAR(forPlain.bandProfile[b], layerBands[b] + 0.5f * 1.5f * heroBands[b], 1e-5f) << b;
    const EventPlan forHero = PlanEvent(build, 1);
    for (float v : forHero.bandProfile) EXPECT_EQ(v, 0.0f);
}

// [SECTION] Whole builds

class BuildEventsTest : public ::testing::Test {
protected:
    Project project;
    std::vector<Palette> palettes;
    ScopedBuildSeed seed;

    void SetUp() override {
        LibraryFile a = MakeFile("a");
        a.fileId = "00000000000000a1";
        palettes = {MakePalette("All", {a, MakeFile("b"), MakeFile("c")})};
    }

    Event Pinned(EventKind kind, float time, float duration, std::vector<std::string> paths) {
        // Calm: a Spot plans a single layer, so only the pinned files sound.
        Event event = MakeEvent(kind, time, duration, 0.2f);
        event.pinnedFiles = std::move(paths);
        return event;
    }

    LayerResult OldLayer(std::int32_t event) {
        LayerResult layer;
        layer.eventIdx = event;
        layer.name = "old";
        layer.filepath = "/old.wav";
        return layer;
    }

    std::vector<std::string> LayerNames(std::int32_t event) {
        std::vector<std::string> names;
        for (const LayerResult& layer : project.results)
            if (layer.eventIdx == event) names.push_back(layer.name);
        return names;
    }
};

TEST_F(BuildEventsTest, RangeSelectsEventsAndLockedOnesKeepTheirLayers) {
    project.events = {
        Pinned(EventKind::Spot, 8.0f, 4.0f, {"/lib/a.wav"}),   // overlaps [10, 20)
        Pinned(EventKind::Spot, 20.0f, 1.0f, {"/lib/b.wav"}),  // starts at the range's end
        Pinned(EventKind::Spot, 12.0f, 1.0f, {"/lib/c.wav"}),  // locked
        Pinned(EventKind::Spot, 0.0f, 1.0f, {"/lib/c.wav"}),   // before the range
    };
    project.events[2].locked = true;
    project.results = {OldLayer(0), OldLayer(1), OldLayer(2), OldLayer(3), OldLayer(99)};

    BuildEvents(project, palettes, -1, 10.0f, 20.0f, false, false);
    EXPECT_EQ(LayerNames(0), std::vector<std::string>{"a"});
    EXPECT_EQ(LayerNames(1), std::vector<std::string>{"old"});
    EXPECT_EQ(LayerNames(2), std::vector<std::string>{"old"});
    EXPECT_EQ(LayerNames(3), std::vector<std::string>{"old"});
    EXPECT_EQ(LayerNames(99), std::vector<std::string>{"old"});
    EXPECT_EQ(project.builtResultCount.load(), static_cast<std::int32_t>(project.results.size()));
    EXPECT_TRUE(project.built);

    // Without a range every unlocked event is rebuilt; the layer of an event
    // that does not exist stays.
    BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
    EXPECT_EQ(LayerNames(1), std::vector<std::string>{"b"});
    EXPECT_EQ(LayerNames(2), std::vector<std::string>{"old"});
    EXPECT_EQ(LayerNames(3), std::vector<std::string>{"c"});
    EXPECT_EQ(LayerNames(99), std::vector<std::string>{"old"});

    // One event: only its layers are replaced, locked or not.
    BuildEvents(project, palettes, 2, -1.0f, -1.0f, false, false);
    EXPECT_EQ(LayerNames(2), std::vector<std::string>{"c"});
    EXPECT_EQ(LayerNames(0), std::vector<std::string>{"a"});
    EXPECT_EQ(project.results.size(), 5u);

    // Keeping what exists adds beside it.
    BuildEvents(project, palettes, 0, -1.0f, -1.0f, true, true);
    EXPECT_EQ(LayerNames(0), (std::vector<std::string>{"a", "a"}));
}

TEST_F(BuildEventsTest, PinnedFilesFoundByIdOrPathAndMissingOnes) {
    Event event = Pinned(EventKind::Spot, 5.0f, 1.0f, {"/moved/away.wav", "/lib/b.wav", "/gone/x.wav"});
    event.pinnedFileIds = {"00000000000000a1"};  // shorter than the paths
    project.events = {event};
    BuildEvents(project, palettes, 0, -1.0f, -1.0f, false, false);

    ASSERT_EQ(project.results.size(), 3u);
    const LayerResult& byId = project.results[0];
    EXPECT_EQ(byId.filepath, "/lib/a.wav");
    EXPECT_EQ(byId.fileId, "00000000000000a1");
    EXPECT_EQ(byId.track, 0);
    EXPECT_EQ(byId.procMode, 2);
    EXPECT_EQ(project.results[1].filepath, "/lib/b.wav");
    EXPECT_EQ(project.results[1].track, 1);
    // An unreadable file gives the start of the file for the event's length
    // plus 15 %; on the event's time, cut 0.12 s past its end, with fades of
    // 12 % and 18 % of that.
    EXPECT_FLOAT_EQ(byId.startTime, 5.0f);
    EXPECT_FLOAT_EQ(byId.sourceDuration, 1.15f);
    EXPECT_FLOAT_EQ(byId.duration, 1.12f);
    EXPECT_FLOAT_EQ(byId.fadeIn, 0.12f * 1.12f);
    EXPECT_FLOAT_EQ(byId.fadeOut, 0.18f * 1.12f);

    const LayerResult& missing = project.results[2];
    EXPECT_EQ(missing.name, "x.wav");
    EXPECT_EQ(missing.filepath, "/gone/x.wav");
    EXPECT_TRUE(missing.fileId.empty());
    EXPECT_FLOAT_EQ(missing.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(missing.sourceDuration, 0.0f);
    EXPECT_FLOAT_EQ(missing.startTime, 5.0f);
    EXPECT_FLOAT_EQ(missing.duration, 1.0f);
    EXPECT_FLOAT_EQ(missing.fadeIn, 0.01f);
    EXPECT_FLOAT_EQ(missing.fadeOut, 0.05f);
    EXPECT_EQ(missing.track, 2);
}

TEST_F(BuildEventsTest, PinnedFilesNeedAPoolAndTheLegacyFileIsTaken) {
    Event legacy = MakeEvent(EventKind::Fill, 0.0f, 3.0f);
    legacy.usePinnedFile = true;
    std::snprintf(legacy.pinnedFile, sizeof legacy.pinnedFile, "%s", "/lib/c.wav");
    Event noPool = Pinned(EventKind::Spot, 0.0f, 1.0f, {"/lib/a.wav"});
    std::snprintf(noPool.libFilter, sizeof noPool.libFilter, "%s", "~none~");
    project.events = {legacy, noPool};
    BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);

    EXPECT_EQ(project.events[0].pinnedFiles, std::vector<std::string>{"/lib/c.wav"});
    // The pinned layer comes first; the Fill's own layers follow it.
    ASSERT_EQ(LayerNames(0).front(), "c");
    // A Fill's pinned layer spans the event without fades.
    EXPECT_FLOAT_EQ(project.results[0].duration, 3.0f);
    EXPECT_FLOAT_EQ(project.results[0].fadeIn, 0.0f);
    EXPECT_FLOAT_EQ(project.results[0].fadeOut, 0.0f);
    // Without a pool the pinned file is skipped and the plan is sketched.
    EXPECT_EQ(LayerNames(1), std::vector<std::string>{"[Sketch] Spot"});
    EXPECT_TRUE(project.results.back().isSketch);
}

TEST_F(BuildEventsTest, AFixedSeedRepeatsTheBuildApartFromIds) {
    Event event = Pinned(EventKind::Spot, 5.0f, 1.0f, {"/lib/a.wav", "/lib/b.wav"});
    event.pitchVariation = 0.8f;
    project.events = {event, event};
    project.events[1].time = 9.0f;

    BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
    const std::vector<LayerResult> first = project.results;
    BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
    ASSERT_EQ(project.results.size(), first.size());
    ASSERT_EQ(first.size(), 4u);
    for (std::size_t i = 0; i < first.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(project.results[i].id, first[i].id);
        EXPECT_EQ(project.results[i].filepath, first[i].filepath);
        EXPECT_EQ(project.results[i].pitchVarShift, first[i].pitchVarShift);
        EXPECT_EQ(project.results[i].sourceDuration, first[i].sourceDuration);
        EXPECT_EQ(project.results[i].startTime, first[i].startTime);
    }
    // Each layer draws its own detune: the sequence runs on across layers.
    EXPECT_NE(first[0].pitchVarShift, first[1].pitchVarShift);
    EXPECT_NE(first[0].pitchVarShift, 0.0f);

    const ScopedBuildSeed other([] { return std::uint32_t{999}; });
    BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
    EXPECT_NE(project.results[0].pitchVarShift, first[0].pitchVarShift);
}

// The finish gave every layer its level by position within its event, so a
// Scatter's 90th grain played at 1 / (1 + 0.3 × 89), 29 dB down, whatever the
// intensity. The grains keep the level the intensity where they fall gave
// them; the stacked kinds beside them still fall off by position.
TEST_F(BuildEventsTest, ScatterGrainsKeepTheirOwnLevelThroughTheFinish) {
    struct Case {
        const char* name;
        float from, to;  // the intensity curve, a ramp over the event
        float scale;
    };
    const Case cases[] = {
        {"flat and soft", 0.3f, 0.3f, 1.0f},
        {"flat and loud, scaled", 0.9f, 0.9f, 0.8f},
        {"rising", 0.2f, 1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event scatter = MakeEvent(EventKind::Scatter, 2.0f, 6.0f);
        for (int i = 0; i < kCurvePoints; ++i)
            scatter.intensity[static_cast<std::size_t>(i)] = c.from + (c.to - c.from) * static_cast<float>(i) / 255.0f;
        scatter.intensityScale = c.scale;
        project.events = {scatter, Pinned(EventKind::Spot, 2.0f, 1.0f, {"/lib/a.wav", "/lib/b.wav"}),
                          Pinned(EventKind::Fill, 2.0f, 3.0f, {"/lib/c.wav", "/lib/a.wav"})};
        project.results.clear();
        BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);

        // A grain reads the intensity at its slot's middle: half a slot
        // (0.005 of the event) from where it starts, 0.015 for the last
        // slots' grains, which start no later than 98 % of the event.
        const float tolerance = 0.6f * std::fabs(c.to - c.from) * c.scale * 0.015f + 1e-5f;
        int grains = 0;
        std::vector<float> spot, fill;
        for (const LayerResult& layer : project.results) {
            if (layer.eventIdx == 1) spot.push_back(layer.layerGain);
            if (layer.eventIdx == 2) fill.push_back(layer.layerGain);
            if (layer.eventIdx != 0) continue;
            ++grains;
            const float p = (layer.startTime - 2.0f) / 6.0f;
            EXPECT_NEAR(layer.layerGain, 0.4f + 0.6f * SampleCurve256(scatter.intensity, p) * c.scale, tolerance)
                << "grain " << grains << " at " << layer.startTime << " s";
        }
        EXPECT_GE(grains, 20) << "enough grains that position would have faded them";
        ASSERT_GE(spot.size(), 2u);
        EXPECT_FLOAT_EQ(spot[0], 1.0f);
        EXPECT_FLOAT_EQ(spot[1], 1.0f / 1.3f);
        ASSERT_GE(fill.size(), 2u);
        EXPECT_FLOAT_EQ(fill[0], 1.0f);
        EXPECT_FLOAT_EQ(fill[1], 1.0f / 1.12f);
    }
}

TEST_F(BuildEventsTest, BadEventsBuildWithoutHarm) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float duration : {0.0f, -4.0f, 1e30f, nan}) {
        SCOPED_TRACE(duration);
        Event event = Pinned(EventKind::Contour, 1.0f, duration, {"/lib/a.wav"});
        event.spread = -3.0f;
        event.syncOffset = 2.0f;
        event.pitchVariation = 1.0f;
        Event scatter = Pinned(EventKind::Scatter, 0.0f, duration, {"/lib/b.wav"});
        scatter.intensity.fill(0.0f);  // no grains: only the pinned layer
        project.events = {event, scatter};
        project.results.clear();
        BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
        EXPECT_EQ(project.results.size(), 2u);
    }
}

}  // namespace
}  // namespace korvel
