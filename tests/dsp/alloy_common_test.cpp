#include "dsp/alloy_common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/signals.h"

namespace korvel {
namespace {

std::array<float, kAlloyCurvePoints> Ramp() {
    std::array<float, kAlloyCurvePoints> curve{};
    for (int i = 0; i < kAlloyCurvePoints; ++i) curve[static_cast<size_t>(i)] = static_cast<float>(i);
    return curve;
}

TEST(SampleAlloyCurve, InterpolatesAndClampsTheSegment) {
    const auto ramp = Ramp();
    struct Case {
        const char* name;
        float position;
        float expected;
    } cases[] = {
        {"start", 0.0f, 0.0f},
        {"end reads the last point", 1.0f, 31.0f},
        {"between points", 0.5f, 15.5f},
        {"before the start extrapolates the first segment", -0.1f, -3.1f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(SampleAlloyCurve(ramp, c.position), c.expected, 1e-4f);
    }
}

TEST(AlloyPathHash, IsDjb2) {
    EXPECT_EQ(AlloyPathHash(""), 5381u);
    EXPECT_EQ(AlloyPathHash("a"), 5381u * 33u + 'a');
    // Bytes above 127 count unsigned.
    EXPECT_EQ(AlloyPathHash("\xff"), 5381u * 33u + 255u);
}

TEST(LoopFitSource, CutsLongSourcesAndLeavesEmptyOnes) {
    std::vector<float> v = {1, 2, 3, 4, 5};
    LoopFitSource(v, 3, 48000);
    EXPECT_EQ(v, (std::vector<float>{1, 2, 3}));
    std::vector<float> empty;
    LoopFitSource(empty, 10, 48000);
    EXPECT_TRUE(empty.empty());
}

TEST(LoopFitSource, TilesWithAPeriodOfTheSourceLessItsSeam) {
    // n = 1000 at 48 kHz: seam = max(64, min(2400, 250)) = 250, period 750.
    std::vector<float> source(1000);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<float>(i * i % 997);
    std::vector<float> v = source;
    LoopFitSource(v, 2600, 48000);
    ASSERT_EQ(v.size(), 2600u);
    const int seam = 250, period = 750;
    for (size_t i = 0; i < period; ++i) ASSERT_EQ(v[i], source[i]) << i;
    // The end of every pass fades the tail into the head...
    for (int r : {0, 100, 249}) {
        SCOPED_TRACE(r);
        const float d = static_cast<float>(r) / seam;
        const float expected = (1 - d) * source[static_cast<size_t>(period + r)] + d * source[static_cast<size_t>(r)];
        for (int pass = 1; pass <= 3; ++pass) EXPECT_FLOAT_EQ(v[static_cast<size_t>(pass * period + r)], expected);
    }
    // ...and the next pass goes on after the head it faded into.
    for (int pass = 1; pass <= 2; ++pass)
        for (int r = seam; r < period; ++r)
            ASSERT_EQ(v[static_cast<size_t>(pass * period + r)], source[static_cast<size_t>(r)]) << pass << " " << r;
}

// Restarting each pass at the head jumped from the last sample to an
// earlier one: a 0.5 tone at 233 Hz stepped by 0.79 at every seam where its
// own largest step is 0.015.
TEST(LoopFitSource, ATiledToneIsContinuousAcrossItsSeams) {
    const int rate = 48000;
    struct Case {
        const char* name;
        int sourceLength;
    } cases[] = {
        {"seam a quarter of the source", 1000},
        {"seam of 50 ms", 30011},
        {"short source, seam half of it", 100},
        {"seam of 64", 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> v = test::Sine(233.0, c.sourceLength, 0.5, rate);
        float ownStep = 0.0f;
        for (size_t i = 1; i < v.size(); ++i) ownStep = std::max(ownStep, std::fabs(v[i] - v[i - 1]));
        LoopFitSource(v, 5 * c.sourceLength + 17, rate);
        float largest = 0.0f;
        for (size_t i = 1; i < v.size(); ++i) largest = std::max(largest, std::fabs(v[i] - v[i - 1]));
        EXPECT_LE(largest, 1.5f * ownStep);
    }
}

TEST(LoopFitSource, OneSampleRepeats) {
    std::vector<float> v = {0.25f};
    LoopFitSource(v, 5, 48000);
    EXPECT_EQ(v, (std::vector<float>(5, 0.25f)));
}

AlloyInputs InputsWithPrimary(float amplitude, int frames) {
    AlloyInputs in;
    in.frames = frames;
    for (auto& v : in.samplesL) v.assign(static_cast<size_t>(frames), 0.0f);
    in.present[0] = true;
    for (int i = 0; i < frames; ++i) in.samplesL[0][static_cast<size_t>(i)] = (i % 2 ? amplitude : -amplitude);
    return in;
}

AlloyCacheEntry ConstantOutput(float value, int frames, bool stereo) {
    AlloyCacheEntry out;
    out.samplesL.assign(static_cast<size_t>(frames), value);
    if (stereo) out.samplesR.assign(static_cast<size_t>(frames), value);
    return out;
}

TEST(MatchAlloyLevel, BringsTheOutputToTheInputLevelWithinLimits) {
    struct Case {
        const char* name;
        float inputAmplitude;
        float outputValue;
        bool stereo;
        float expected;
    } cases[] = {
        {"matched", 0.2f, 0.1f, false, 0.2f},
        {"stereo counts both channels", 0.3f, 0.1f, true, 0.3f},
        {"raised at most tenfold", 0.5f, 0.01f, false, 0.1f},
        {"never above a peak of 0.98", 0.9f, 0.5f, false, 0.9f},
        {"peak limit", 2.0f, 0.5f, false, 0.98f},
        {"too quiet to touch", 0.5f, 1e-9f, false, 1e-9f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AlloyInputs in = InputsWithPrimary(c.inputAmplitude, 64);
        AlloyCacheEntry out = ConstantOutput(c.outputValue, 64, c.stereo);
        MatchAlloyLevel(in, out, 64, c.stereo);
        EXPECT_NEAR(out.samplesL[10], c.expected, 1e-5f);
        if (c.stereo) {
            EXPECT_NEAR(out.samplesR[10], c.expected, 1e-5f);
        }
    }
}

TEST(MatchAlloyLevel, WithoutSoundSourcesTheInputLevelIsATenth) {
    AlloyInputs in = InputsWithPrimary(0.5f, 64);
    in.present[0] = false;
    in.present[3] = true;  // the envelope slot never counts
    in.samplesL[3] = in.samplesL[0];
    AlloyCacheEntry out = ConstantOutput(0.4f, 64, false);
    MatchAlloyLevel(in, out, 64, false);
    EXPECT_NEAR(out.samplesL[0], 0.1f, 1e-6f);
}

TEST(ShapeAlloyOutput, FadesTheEdgesAndAppliesTheGainCurve) {
    const int frames = 4800;
    AlloyCurves curves;
    AlloyCacheEntry plain = ConstantOutput(1.0f, frames, true);
    ShapeAlloyOutput(curves, 48000, plain, frames, true);
    // Fade length min(1200, 480) = 480.
    EXPECT_EQ(plain.samplesL.front(), 0.0f);
    EXPECT_EQ(plain.samplesL.back(), 0.0f);
    EXPECT_EQ(plain.samplesR.back(), 0.0f);
    EXPECT_NEAR(plain.samplesL[240], 0.5f, 1e-5f);
    EXPECT_NEAR(plain.samplesL[frames - 1 - 240], 0.5f, 1e-5f);
    EXPECT_EQ(plain.samplesL[480], 1.0f);
    EXPECT_EQ(plain.samplesL[frames - 481], 1.0f);

    curves.valid = true;
    curves.gain.fill(0.25f);
    AlloyCacheEntry shaped = ConstantOutput(1.0f, frames, false);
    ShapeAlloyOutput(curves, 48000, shaped, frames, false);
    EXPECT_NEAR(shaped.samplesL[frames / 2], 0.5f, 1e-6f);

    curves.gain.fill(4.0f);  // clamped to 1 before the square root
    AlloyCacheEntry loud = ConstantOutput(1.0f, frames, false);
    ShapeAlloyOutput(curves, 48000, loud, frames, false);
    EXPECT_EQ(loud.samplesL[frames / 2], 1.0f);
}

TEST(ShapeAlloyOutput, FewerThanFourFramesGetNoFades) {
    AlloyCacheEntry out = ConstantOutput(0.7f, 3, false);
    ShapeAlloyOutput(AlloyCurves{}, 48000, out, 3, false);
    EXPECT_EQ(out.samplesL, (std::vector<float>{0.7f, 0.7f, 0.7f}));
}

}  // namespace
}  // namespace korvel
