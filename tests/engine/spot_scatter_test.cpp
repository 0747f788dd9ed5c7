#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "engine/build_events.h"
#include "engine/build_kinds.h"
#include "library/library.h"

namespace korvel {
namespace {

using test::MakeEvent;
using test::MakeFile;
using test::MakePalette;

constexpr std::uint32_t kSeed = 2024;

// Builds one event with a known generator state and reports what it made.
// The pool's files do not exist, so every region takes its fallback and
// draws nothing: the draws counted are the branch's own.
class KindHarness : public ::testing::Test {
protected:
    Project project;
    std::vector<Palette> palettes;
    std::uint32_t stateAfter = 0;

    void SetUp() override {
        std::vector<LibraryFile> files;
        for (int i = 0; i < 8; ++i) {
            std::string name = "f";
            name += std::to_string(i);
            files.push_back(MakeFile(name, 2.0f, "/nowhere"));
        }
        palettes = {MakePalette("All", files)};
    }

    std::vector<LayerResult> Build(const Event& event, bool emptyPool = false) {
        stateAfter = test::BuildOneEvent(project, palettes, kSeed, event, emptyPool, [&](BuildContext& build, EventPlan& plan) {
            if (IsKind(event.shape, EventKind::Scatter)) BuildScatterLayers(build, plan);
            else BuildSpotLayers(build, plan);
        });
        return project.results;
    }

    static std::uint32_t StateAfterDraws(int draws) {
        BuildRandom random{kSeed};
        for (int i = 0; i < draws; ++i) random.Next();
        return random.state;
    }
};

TEST_F(KindHarness, SpotLayerCountFollowsTheIntensityLevel) {
    struct Case {
        float intensity;
        float spread;
        std::size_t layers;
    };
    for (const Case& c : std::vector<Case>{{0.1f, 1.0f, 1}, {0.3f, 1.0f, 2}, {0.6f, 1.0f, 3}, {0.8f, 1.0f, 4},
                                           {1.0f, 1.0f, 5}, {1.0f, 0.0f, 4}}) {
        SCOPED_TRACE(c.intensity);
        Event event = MakeEvent(EventKind::Spot, 5.0f, 1.0f, c.intensity);
        event.spread = c.spread;
        const std::vector<LayerResult> layers = Build(event);
        ASSERT_EQ(layers.size(), c.layers);
        for (std::size_t i = 0; i < layers.size(); ++i) EXPECT_EQ(layers[i].track, static_cast<std::int32_t>(i));
        // Each layer a different file: a file already in the event scores 0.
        for (std::size_t i = 1; i < layers.size(); ++i) EXPECT_NE(layers[i].filepath, layers[0].filepath);
    }
}

TEST_F(KindHarness, SpotTonesFanOutAndDrawsFollowThePitchVariation) {
    Event event = MakeEvent(EventKind::Spot, 5.0f, 1.0f, 0.3f, 0.5f);
    event.spread = 0.2f;
    std::vector<LayerResult> layers = Build(event);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_FLOAT_EQ(layers[0].weight, 0.45f);  // w ± 0.25 × spread
    EXPECT_FLOAT_EQ(layers[1].weight, 0.55f);
    // Without variation only the weighted draw of each layer steps the
    // generator, and nothing is detuned.
    EXPECT_EQ(stateAfter, StateAfterDraws(2));
    for (const LayerResult& layer : layers) {
        EXPECT_EQ(layer.pitchShift, 0.0f);
        EXPECT_EQ(layer.pitchVarShift, 0.0f);
    }
    event.pitchVariation = 0.5f;
    layers = Build(event);
    EXPECT_EQ(stateAfter, StateAfterDraws(6));  // jitter, draw and detune per layer
    EXPECT_NE(layers[0].pitchVarShift, 0.0f);
}

TEST_F(KindHarness, SpotPlacementOnTheSyncPointCutAtTheEdges) {
    // The fallback region is 1.15 s from the file's start with its sync point
    // at 0: the layer starts on the event's time and is cut 0.12 s after its end.
    Event event = MakeEvent(EventKind::Spot, 5.0f, 1.0f, 0.1f);
    const std::vector<LayerResult> layers = Build(event);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_FLOAT_EQ(layers[0].startTime, 5.0f);
    EXPECT_FLOAT_EQ(layers[0].duration, 1.12f);
    EXPECT_FLOAT_EQ(layers[0].sourceDuration, 1.15f);
    EXPECT_EQ(layers[0].procMode, 2);
    EXPECT_TRUE(layers[0].hasIntGain);
    // A sync offset puts the event's start before its time; the layer may
    // start 0.12 s before that start at most.
    event.syncOffset = 0.5f;
    event.duration = 0.2f;
    const std::vector<LayerResult> early = Build(event);
    ASSERT_EQ(early.size(), 1u);
    EXPECT_FLOAT_EQ(early[0].startTime, 5.0f);
    EXPECT_FLOAT_EQ(early[0].duration, 0.1f);  // 4.5 + 0.2 + 0.12 − 5 is below the 0.1 floor
}

TEST_F(KindHarness, EmptyPoolsAndPinnedLayers) {
    Event event = MakeEvent(EventKind::Spot, 5.0f, 1.0f, 0.6f);  // plan 3, level 3
    std::vector<LayerResult> layers = Build(event, true);
    ASSERT_EQ(layers.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(layers[i].name, "[Sketch] Spot");
        EXPECT_TRUE(layers[i].isSketch);
        EXPECT_EQ(layers[i].track, static_cast<std::int32_t>(i));
        EXPECT_FLOAT_EQ(layers[i].duration, 1.0f);
    }
    // Two pinned files and a plan of three: one drawn layer, numbered after
    // them, that is not one of them.
    event.pinnedFiles = {"/nowhere/f0.wav", "/nowhere/f1.wav"};
    project.events = {event};
    project.results.clear();
    const test::ScopedBuildSeed seed;
    BuildEvents(project, palettes, 0, -1.0f, -1.0f, false, false);
    ASSERT_EQ(project.results.size(), 3u);
    EXPECT_EQ(project.results[2].track, 2);
    EXPECT_NE(project.results[2].filepath, "/nowhere/f0.wav");
    EXPECT_NE(project.results[2].filepath, "/nowhere/f1.wav");
}

TEST(PitchVariation, BoundsAndTheSyncPointKeptInPlace) {
    BuildRandom random{1};
    for (int i = 0; i < 1000; ++i) {
        const float tone = JitterTone(0.5f, 1.0f, random);
        ASSERT_GE(tone, 0.35f - 1e-6f);
        ASSERT_LE(tone, 0.65f + 1e-6f);
    }
    BuildRandom untouched{1};
    EXPECT_EQ(JitterTone(0.4f, 0.0009f, untouched), 0.4f);
    LayerResult plain;
    ApplyPitchVariation(plain, 0.0f, untouched);
    EXPECT_EQ(untouched.state, 1u);
    EXPECT_EQ(plain.pitchVarShift, 0.0f);

    // u = 1: +24 semitones, ratio 4. The file cannot start 1.4 s early, so
    // the layer moves to keep its sync point on the same moment.
    LayerResult layer;
    layer.sourceOffset = 0.1f;
    layer.audioSyncOffset = 0.5f;
    layer.sourceDuration = 1.0f;
    layer.startTime = 3.0f;
    layer.pitchShift = 1.0f;
    BuildRandom top{286434947u};
    ApplyPitchVariation(layer, 1.0f, top);
    EXPECT_FLOAT_EQ(layer.pitchVarShift, 24.0f);
    EXPECT_FLOAT_EQ(layer.pitchShift, 25.0f);
    EXPECT_FLOAT_EQ(layer.sourceDuration, 4.0f);
    EXPECT_FLOAT_EQ(layer.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(layer.audioSyncOffset, 0.15f);
    EXPECT_FLOAT_EQ(layer.startTime, 3.35f);

    // u near 0.5: almost no detune, the offset moves back along the sync point.
    LayerResult near;
    near.sourceOffset = 1.0f;
    near.audioSyncOffset = 0.5f;
    near.sourceDuration = 1.0f;
    BuildRandom mid{0};
    for (std::uint32_t s = 0; s < 100000; ++s) {
        BuildRandom probe{s};
        const float u = probe.Next();
        if (u > 0.6f && u < 0.62f) {
            mid.state = s;
            break;
        }
    }
    ApplyPitchVariation(near, 0.1f, mid);
    const float ratio = std::pow(2.0f, near.pitchVarShift / 12.0f);
    EXPECT_NEAR(near.sourceOffset, 1.0f - 0.5f * (ratio - 1.0f), 1e-6f);
    EXPECT_NEAR(near.sourceDuration, ratio, 1e-6f);
}

TEST_F(KindHarness, ScatterSlotsGrainsAndLimits) {
    struct Case {
        const char* name;
        float duration;
        float intensity;
        bool emptyPool;
        int slots;  // draws when no grain is made: one per slot
    };
    const std::vector<Case> silent = {
        {"a Scatter of 0.05 s has one slot", 0.05f, 0.0f, true, 1},
        {"a Scatter of 6 s has 100 slots", 6.0f, 0.0f, true, 100},
        {"no grains at zero intensity, even with files", 6.0f, 0.0f, false, 100},
        {"a negative length has one empty slot", -3.0f, 1.0f, false, 1},
    };
    for (const Case& c : silent) {
        SCOPED_TRACE(c.name);
        const std::vector<LayerResult> layers = Build(MakeEvent(EventKind::Scatter, 1.0f, c.duration, c.intensity), c.emptyPool);
        EXPECT_TRUE(layers.empty());
        EXPECT_EQ(stateAfter, StateAfterDraws(c.slots));
    }

    // Full intensity over 6 s expects 1.8 grains a slot and stops at 12 × 8.
    Event full = MakeEvent(EventKind::Scatter, 1.0f, 6.0f, 1.0f);
    full.spread = 0.5f;
    std::vector<LayerResult> grains = Build(full);
    ASSERT_EQ(grains.size(), 96u);
    // A file sounds once per event: eight files give eight grains a file,
    // the rest keep their place without one.
    std::set<std::string> files;
    for (const LayerResult& g : grains)
        if (!g.filepath.empty()) files.insert(g.filepath);
    EXPECT_EQ(files.size(), 8u);
    EXPECT_EQ(std::count_if(grains.begin(), grains.end(), [](const LayerResult& g) { return g.name == "(no match)"; }), 88);
    for (std::size_t i = 0; i < grains.size(); ++i) {
        const LayerResult& g = grains[i];
        EXPECT_EQ(g.track, static_cast<std::int32_t>(i % 8));
        EXPECT_FLOAT_EQ(g.layerGain, 1.0f);
        EXPECT_FALSE(g.hasIntGain);
        EXPECT_GE(g.startTime, 1.0f);
        EXPECT_LE(g.startTime, 1.0f + 0.98f * 6.0f);
        EXPECT_GE(g.duration, 0.04f);
    }

    grains = Build(full, true);
    ASSERT_EQ(grains.size(), 96u);
    EXPECT_EQ(grains[0].name, "[Sketch] Scatter");
    EXPECT_TRUE(grains[0].isSketch);

    // Nothing scores (every file banned): the grains stay, named, fileless.
    for (const LibraryFile& file : palettes[0].files) project.bannedFiles.push_back(file.path);
    grains = Build(full);
    ASSERT_EQ(grains.size(), 96u);
    EXPECT_EQ(grains[5].name, "(no match)");
    EXPECT_TRUE(grains[5].filepath.empty());
    EXPECT_FALSE(grains[5].isSketch);
}

TEST_F(KindHarness, AnEndlessScatterAtZeroIntensityStillEnds) {
    // Counted as 24 hours of 0.06 s slots, each drawing once.
    const std::vector<LayerResult> layers = Build(MakeEvent(EventKind::Scatter, 0.0f, 1e30f, 0.0f), true);
    EXPECT_TRUE(layers.empty());
    EXPECT_EQ(stateAfter, StateAfterDraws(1440000));
}

}  // namespace
}  // namespace korvel
