#include "engine/build_routines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "build_fixture.h"
#include "library/library.h"
#include "project/project.h"

namespace korvel {
namespace {

TEST(IntensityToLevel, Thresholds) {
    struct Case {
        float x;
        std::int32_t level;
    };
    for (const Case& c : std::vector<Case>{{-1.0f, 1}, {0.2499f, 1}, {0.25f, 2}, {0.5f, 3}, {0.7499f, 3},
                                           {0.75f, 4}, {0.9999f, 4}, {1.0f, 5}, {7.0f, 5}}) {
        EXPECT_EQ(IntensityToLevel(c.x), c.level) << c.x;
    }
}

TEST(SampleCurve256, InterpolatesAndExtrapolatesFromTheEndSegments) {
    CurvePoints ramp;
    for (int i = 0; i < kCurvePoints; ++i) ramp[i] = static_cast<float>(i);
    struct Case {
        float t;
        float value;
    };
    for (const Case& c : std::vector<Case>{{0.0f, 0.0f}, {1.0f, 255.0f}, {0.5f, 127.5f}, {-0.1f, -25.5f}, {1.2f, 306.0f}}) {
        EXPECT_NEAR(SampleCurve256(ramp, c.t), c.value, 1e-3f) << c.t;
    }
    Event event = test::MakeEvent(EventKind::Spot, 0.0f, 1.0f, 0.5f, 0.9f);
    event.weightOffset = 0.3f;
    EXPECT_EQ(SampleWeightCurve(event, 0.5f), 1.0f);
    event.weightOffset = -1.5f;
    EXPECT_EQ(SampleWeightCurve(event, 0.5f), 0.0f);
}

TEST(ToneToBandWeights, SumsToOneAndPeaksAtTheTone) {
    BandWeights mid, low, high;
    ToneToBandWeights(0.5f, mid);
    ToneToBandWeights(0.0f, low);
    ToneToBandWeights(1.0f, high);
    EXPECT_NEAR(mid[0], mid[4], 1e-6f);
    EXPECT_NEAR(mid[1], mid[3], 1e-6f);
    EXPECT_EQ(std::max_element(low.begin(), low.end()) - low.begin(), 0);
    EXPECT_EQ(std::max_element(high.begin(), high.end()) - high.begin(), 4);
    float sum = 0.0f;
    for (float v : mid) sum += v;
    EXPECT_NEAR(sum, 1.0f, 1e-6f);
    // The worked scoring example's tone 0.5.
    EXPECT_NEAR(mid[0], 0.0458f, 1e-4f);
    EXPECT_NEAR(mid[2], 0.4361f, 1e-4f);
}

TEST(NoisinessIndex, ToneAndNoiseEnds) {
    LibraryFile tonal;
    tonal.harmonicity = 1.0f;
    tonal.pitchConfidence = 0.9f;
    LibraryFile noise;
    noise.spectralFlatness = 1.0f;
    noise.zeroCrossingRate = 4.0f;  // clamped to 1
    EXPECT_NEAR(NoisinessIndex(tonal), 0.05f, 1e-6f);
    EXPECT_NEAR(NoisinessIndex(noise), 0.95f, 1e-6f);
}

TEST(MeasureSpectralOccupancy, WeightsOverlapAndSkipsSilencedLayers) {
    Project project;
    auto layer = [](std::int32_t event, float start, float duration) {
        LayerResult l;
        l.eventIdx = event;
        l.startTime = start;
        l.duration = duration;
        l.weight = 0.5f;
        return l;
    };
    project.results.push_back(layer(0, 0.0f, 10.0f));  // excluded event
    project.results.push_back(layer(1, 5.0f, 10.0f));  // covers half of [0, 10)
    project.results.push_back(layer(2, 0.0f, 10.0f));
    project.results.back().muted = true;
    project.results.push_back(layer(3, 0.0f, 10.0f));
    project.results.back().groupTrack = -1;  // dropped by track allocation
    project.results.push_back(layer(4, 10.0f, 2.0f));  // touches the end only
    project.results.push_back(layer(5, 2.0f, 1.0f));
    project.results.back().layerGain = 0.5f;
    project.results.back().userVolume = 2.0f;

    BandWeights out;
    MeasureSpectralOccupancy(project, 0.0f, 10.0f, 0, out);
    BandWeights tone;
    ToneToBandWeights(0.5f, tone);
    for (int b = 0; b < kBandCount; ++b) EXPECT_NEAR(out[b], (0.5f + 0.1f) * tone[b], 1e-6f) << b;
}

}  // namespace
}  // namespace korvel
