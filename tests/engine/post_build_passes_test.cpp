#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "build_fixture.h"
#include "engine/build_routines.h"
#include "engine/layer_deconfliction.h"
#include "engine/silence_protection.h"
#include "engine/track_allocation.h"
#include "project/project.h"

namespace korvel {
namespace {

using test::MakeEvent;

LayerResult Layer(std::int32_t event, float start, float duration, float gain = 1.0f, float weight = 0.5f) {
    LayerResult layer;
    layer.eventIdx = event;
    layer.group = 1;
    layer.startTime = start;
    layer.duration = duration;
    layer.layerGain = gain;
    layer.weight = weight;
    return layer;
}

TEST(ProtectSilence, CutsOrMutesLayersRingingIntoGaps) {
    struct Case {
        const char* name;
        float secondStart;  // the second event
        std::int32_t layerEvent;
        float layerStart, layerDuration;
        float duration;
        bool muted;
    };
    const Case cases[] = {
        {"cut at the gap", 5.0f, 0, 1.0f, 2.0f, 1.0f, false},
        {"too little left: muted", 5.0f, 0, 1.97f, 2.0f, 2.0f, true},
        {"gap of 5 ms: nothing", 2.005f, 0, 1.0f, 2.0f, 2.0f, false},
        {"past the last event: no gap", 5.0f, 1, 5.5f, 3.0f, 3.0f, false},
        {"starting inside the gap", 5.0f, 1, 3.0f, 2.5f, 2.5f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Project project;
        project.events = {MakeEvent(EventKind::Spot, 0.0f, 2.0f), MakeEvent(EventKind::Spot, c.secondStart, 1.0f)};
        if (c.secondStart < 3.0f) project.events[1].duration = 2.0f;
        project.results = {Layer(c.layerEvent, c.layerStart, c.layerDuration)};
        project.results[0].fadeIn = 0.6f;
        project.results[0].fadeOut = 0.01f;
        ProtectSilence(project);
        const LayerResult& layer = project.results[0];
        EXPECT_FLOAT_EQ(layer.duration, c.duration);
        EXPECT_EQ(layer.muted, c.muted);
        if (c.duration != c.layerDuration && !c.muted) {
            EXPECT_FLOAT_EQ(layer.fadeOut, 0.03f);
            EXPECT_FLOAT_EQ(layer.fadeIn, 0.45f);
        }
    }
    // Mutes and drops are left alone; the cut does not repeat.
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 2), MakeEvent(EventKind::Spot, 5, 1)};
    project.results = {Layer(0, 1, 2), Layer(0, 1, 2), Layer(0, 1, 2)};
    project.results[1].muted = true;
    project.results[2].groupTrack = -1;
    ProtectSilence(project);
    ProtectSilence(project);
    EXPECT_FLOAT_EQ(project.results[0].duration, 1.0f);
    EXPECT_FLOAT_EQ(project.results[1].duration, 2.0f);
    EXPECT_FLOAT_EQ(project.results[2].duration, 2.0f);
}

TEST(ProtectSilence, MuteSurvivesTrackAllocation) {
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 2), MakeEvent(EventKind::Spot, 5, 1)};
    project.results = {Layer(0, 1.97f, 2.0f)};
    ProtectSilence(project);
    AllocateTracks(project);
    EXPECT_TRUE(project.results[0].muted);
    EXPECT_EQ(project.results[0].groupTrack, 0);
}

TEST(Deconflict, SpreadsOnsetsOfOneEvent) {
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 1, 2), MakeEvent(EventKind::Spot, 1, 2)};
    project.results = {Layer(0, 1.000f, 1), Layer(0, 1.005f, 1), Layer(0, 1.010f, 1), Layer(1, 1.001f, 1),
                       Layer(0, 1.5f, 1), Layer(0, 1.516f, 1)};
    DeconflictLayers(project);
    EXPECT_FLOAT_EQ(project.results[0].deconOffset, 0.0f);
    EXPECT_NEAR(project.results[1].deconOffset, 1.0 / 3 * 0.01 + 0.005, 1e-6);
    EXPECT_NEAR(project.results[2].deconOffset, -0.6 * (2.0 / 3 * 0.01 + 0.005), 1e-6);
    EXPECT_FLOAT_EQ(project.results[3].deconOffset, 0.0f) << "another event never joins";
    EXPECT_FLOAT_EQ(project.results[4].deconOffset, 0.0f) << "15 ms apart: separate groups";
    EXPECT_FLOAT_EQ(project.results[5].deconOffset, 0.0f);

    // A member at half its group's loudest moves 7.5 ms further.
    Project half;
    half.events = {MakeEvent(EventKind::Spot, 0, 2)};
    half.results = {Layer(0, 1.0f, 1, 1.0f), Layer(0, 1.0f, 1, 0.5f)};
    DeconflictLayers(half);
    EXPECT_NEAR(half.results[1].deconOffset, 0.5 * 0.01 + 0.005 + 0.0075, 1e-6);
}

TEST(Deconflict, CutsCrowdedBandsButNeverHeroes) {
    // Two equally loud layers of one weight: the second sees ratio 2 in each band.
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 2), MakeEvent(EventKind::Spot, 0, 2),
                      MakeEvent(EventKind::Spot, 5, 2)};
    project.results = {Layer(0, 0, 2), Layer(1, 0.1f, 2), Layer(2, 5, 2)};
    DeconflictLayers(project);
    EXPECT_FALSE(project.results[0].hasDeconGain) << "owns every band";
    ASSERT_TRUE(project.results[1].hasDeconGain);
    BandWeights w;
    ToneToBandWeights(0.5f, w);
    const float weights[] = {1.4f, 0.7f, 0.5f, 1.0f, 1.4f};
    float cut = 0.0f;
    for (int k = 0; k < kBandCount; ++k)
        if (w[k] >= 0.05f) cut += 0.25f * 6.0f * w[k] * weights[k];
    EXPECT_NEAR(project.results[1].deconGain[15], std::pow(10.0f, -cut / 20.0f), 1e-5);
    EXPECT_FALSE(project.results[2].hasDeconGain) << "alone in its frames";

    // A hero's layer holds its bands against a louder one and is never cut;
    // a pile of layers is held at 9 dB.
    Project hero;
    hero.events = {MakeEvent(EventKind::Spot, 0, 2), MakeEvent(EventKind::Spot, 0, 2)};
    hero.events[0].hero = true;
    hero.results = {Layer(0, 0, 2, 0.2f), Layer(1, 0, 2, 1.0f)};
    for (int i = 0; i < 30; ++i) hero.results.push_back(Layer(1, 0.02f * i + 0.02f, 2, 1.0f));
    hero.results[0].hasDeconGain = true;
    DeconflictLayers(hero);
    EXPECT_FALSE(hero.results[0].hasDeconGain);
    ASSERT_TRUE(hero.results[1].hasDeconGain);
    EXPECT_LT(hero.results[1].deconGain[16], 0.99f);
    int cutLayers = 0;
    for (const LayerResult& layer : hero.results) {
        if (!layer.hasDeconGain) continue;
        ++cutLayers;
        for (float g : layer.deconGain) EXPECT_GE(g, std::pow(10.0f, -9.0f / 20.0f) - 1e-6f);
    }
    EXPECT_GT(cutLayers, 20);
}

TEST(DensityDucking, CrowdedStretchesAreTurnedDown) {
    struct Case {
        const char* name;
        int layers;
        float quietGain;  // of the last layer
        float expected;   // its points
    };
    const Case cases[] = {
        {"six equally loud", 6, 1.0f, std::pow(10.0f, -0.6f / 20.0f)},
        {"four never duck", 4, 1.0f, 1.0f},
        {"one at half the others", 6, 0.5f, 0.0f},  // computed below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Project project;
        project.events = {MakeEvent(EventKind::Spot, 0, 10)};
        for (int i = 0; i < c.layers; ++i) project.results.push_back(Layer(0, 0, 10, i + 1 == c.layers ? c.quietGain : 1.0f));
        ApplyDensityDucking(project);
        const LayerResult& last = project.results.back();
        float expected = c.expected;
        if (c.quietGain < 1.0f) {
            const float mean = (5.0f + c.quietGain) / 6.0f;
            const float w = std::clamp(1.3f - c.quietGain / mean, 0.3f, 1.0f);
            expected = std::pow(10.0f, -4.0f * 0.5f * w / 20.0f);
        }
        if (expected >= 0.99f) {
            EXPECT_FALSE(last.hasDeconGain);
        } else {
            ASSERT_TRUE(last.hasDeconGain);
            EXPECT_NEAR(last.deconGain[16], expected, 1e-4);
        }
    }
}

TEST(DensityDucking, HeroesUntouchedAndNoCompoundingOverBuilds) {
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 10), MakeEvent(EventKind::Spot, 0, 10)};
    project.events[1].hero = true;
    for (int i = 0; i < 6; ++i) project.results.push_back(Layer(0, 0, 10));
    project.results.push_back(Layer(1, 0, 10));
    std::vector<float> first;
    for (int build = 0; build < 3; ++build) {
        SCOPED_TRACE(build);
        DeconflictLayers(project);
        ApplyDensityDucking(project);
        EXPECT_FALSE(project.results.back().hasDeconGain) << "hero";
        ASSERT_TRUE(project.results[0].hasDeconGain);
        const std::vector<float> now(project.results[0].deconGain.begin(), project.results[0].deconGain.end());
        if (build == 0) first = now;
        EXPECT_EQ(now, first);
    }
}

TEST(PostBuildPasses, DamagedTimesSizeNothingLarge) {
    for (float end : {1e30f, INFINITY, NAN, -1e30f}) {
        SCOPED_TRACE(end);
        Project project;
        project.totalDuration = 10.0f;
        project.events = {MakeEvent(EventKind::Spot, 0, 2), MakeEvent(EventKind::Spot, 5, 1)};
        project.results = {Layer(0, 0, 2), Layer(1, 0.5f, end), Layer(0, end, 1)};
        for (int i = 0; i < 6; ++i) project.results.push_back(Layer(0, 1, 5));
        ProtectSilence(project);
        DeconflictLayers(project);
        ApplyDensityDucking(project);
        AllocateTracks(project);
        EXPECT_LE(PassTimeCeiling(project), 12.0f);
    }
    Project huge;
    huge.totalDuration = 1e30f;
    EXPECT_FLOAT_EQ(PassTimeCeiling(huge), 86400.0f);
}

}  // namespace
}  // namespace korvel
