#include "engine/curve_routines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "build_fixture.h"
#include "library/library.h"

namespace korvel {
namespace {

using test::MakeEvent;

TEST(CurveFadeLengths, RisesFallsAndLimits) {
    // Intensity 0 for the first quarter, 1 after, 0 over the last quarter.
    Event shaped = MakeEvent(EventKind::Contour, 0.0f, 4.0f, 0.0f);
    for (int i = 64; i < 192; ++i) shaped.intensity[i] = 1.0f;
    struct Case {
        const char* name;
        Event event;
        float from, to, length;
        float fadeIn, fadeOut;
    };
    const std::vector<Case> cases = {
        {"already above the level at both ends", MakeEvent(EventKind::Contour, 0.0f, 4.0f, 0.9f), 0.0f, 1.0f, 4.0f,
         0.01f, 0.02f},
        // The level 0.406 is crossed just before the quarter marks.
        {"a rise and a fall, each a quarter of 4 s (capped at 40 %)", shaped, 0.0f, 1.0f, 4.0f, 0.98f, 0.98f},
        {"never reaching the level: capped at 40 % of the length", MakeEvent(EventKind::Contour, 0.0f, 4.0f, 0.1f),
         0.0f, 1.0f, 2.0f, 0.8f, 0.8f},
        {"a short layer keeps the floors", MakeEvent(EventKind::Contour, 0.0f, 4.0f, 0.1f), 0.0f, 1.0f, 0.01f, 0.01f,
         0.02f},
        {"from after to", shaped, 0.8f, 0.2f, 4.0f, 0.01f, 0.02f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FadeLengths fades = CurveFadeLengths(c.event, c.from, c.to, 0.01f, c.length);
        EXPECT_NEAR(fades.fadeIn, c.fadeIn, 0.02f);
        EXPECT_NEAR(fades.fadeOut, c.fadeOut, 0.02f);
        EXPECT_LE(fades.fadeIn, std::max(0.01f, 0.4f * c.length) + 1e-6f);
        EXPECT_LE(fades.fadeOut, std::max(0.02f, 0.4f * c.length) + 1e-6f);
    }
    // Damaged positions end the scan instead of running for ever.
    const FadeLengths wild = CurveFadeLengths(shaped, -1e30f, 1e30f, 0.01f, 2.0f);
    EXPECT_TRUE(std::isfinite(wild.fadeIn) && std::isfinite(wild.fadeOut));
}

TEST(MatchCurveToEnvelope, FadesFollowTheWeightCurve) {
    LibraryFile noise;
    noise.spectralFlatness = 1.0f;
    noise.spectralFlux = 0.0f;
    const float ns = NoiseSustainValue(noise);
    EXPECT_FLOAT_EQ(ns, 0.85f);  // 0.7 + 0.15 × (1 − flux)

    // The layer's weight far from the whole curve.
    const Event low = MakeEvent(EventKind::Bloom, 0.0f, 2.0f, 0.5f, 0.0f);
    const FadeLengths far = MatchCurveToEnvelope(low, 0.0f, noise, 1.0f, 0.0f, 2.0f);
    EXPECT_FLOAT_EQ(far.fadeIn, 0.8f);
    EXPECT_FLOAT_EQ(far.fadeOut, 0.8f);

    // A perfect fit still keeps the minimum fades.
    const FadeLengths fit = MatchCurveToEnvelope(low, 0.0f, noise, 0.0f, 0.0f, 2.0f);
    EXPECT_FLOAT_EQ(fit.fadeIn, 0.2f * ns + 0.04f);
    EXPECT_FLOAT_EQ(fit.fadeOut, 0.2f * ns + 0.06f);

    // Weight moving away at the layer's start: a longer fade-in than -out.
    Event moving = low;
    for (int i = 0; i < 128; ++i) moving.weight[i] = 1.0f;
    const FadeLengths fadesIn = MatchCurveToEnvelope(moving, 0.0f, noise, 0.0f, 0.0f, 2.0f);
    EXPECT_GT(fadesIn.fadeIn, fadesIn.fadeOut);
    EXPECT_LE(fadesIn.fadeIn + fadesIn.fadeOut, (0.12f * ns + 0.8f) * 2.0f + 1e-5f);
}

TEST(SmoothCurveZeroPhase, ConstantsShortCurvesAndSteps) {
    std::vector<float> flat(256, 0.7f);
    SmoothCurveZeroPhase(flat.data(), 256, 3.0f);
    for (float v : flat) EXPECT_NEAR(v, 0.7f, 1e-6f);
    float two[2] = {0.0f, 1.0f};
    SmoothCurveZeroPhase(two, 2, 3.0f);
    EXPECT_EQ(two[1], 1.0f);
    std::vector<float> step(256, 0.0f);
    for (int i = 128; i < 256; ++i) step[i] = 1.0f;
    std::vector<float> unchanged = step;
    SmoothCurveZeroPhase(unchanged.data(), 256, 0.0f);
    EXPECT_EQ(unchanged, step);
    SmoothCurveZeroPhase(step.data(), 256, 10.0f);
    // Both passes soften the edge on both sides, within the step's range.
    EXPECT_GT(step[120], 0.0f);
    EXPECT_LT(step[135], 1.0f);
    for (int i = 1; i < 256; ++i) EXPECT_GE(step[i] + 1e-6f, step[i - 1]) << i;
    EXPECT_GE(step[0], 0.0f);
    EXPECT_LE(step[255], 1.0f);
}

TEST(BuildIntensityGain, ReadsTheEventUnderTheLayer) {
    Event event = MakeEvent(EventKind::Bloom, 10.0f, 4.0f, 0.0f);
    for (int i = 0; i < kCurvePoints; ++i) event.intensity[i] = static_cast<float>(i) / 255.0f;
    event.intensityScale = 2.0f;
    LayerResult layer;
    layer.startTime = 8.0f;  // 2 s before the event
    layer.duration = 0.01f;  // short: the smoothing barely touches it
    BuildIntensityGain(event, layer);
    EXPECT_TRUE(layer.hasIntGain);
    EXPECT_NEAR(layer.intGain[0], 0.0f, 1e-6f);  // before the event: its first point

    // Scaled, then traced, then limited to 1.
    event.intensity.fill(0.8f);
    layer.startTime = 12.0f;
    layer.duration = 2.0f;
    BuildIntensityGain(event, layer);
    for (float g : layer.intGain) EXPECT_FLOAT_EQ(g, 1.0f);
    event.hasTraceGain = true;
    event.traceGain.fill(0.25f);
    BuildIntensityGain(event, layer);
    for (float g : layer.intGain) EXPECT_NEAR(g, 0.4f, 1e-6f);
}

TEST(TargetEnvelopeProfile, LoudnessDampedAwayFromTheTone) {
    Event event = MakeEvent(EventKind::Bloom, 0.0f, 2.0f, 1.0f, 0.0f);
    for (int i = 128; i < 256; ++i) event.weight[i] = 1.0f;
    const TargetProfile profile = TargetEnvelopeProfile(event, 0.0f, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(profile[0], 1.0f);
    EXPECT_NEAR(profile[15], 0.05f, 1e-4f);  // max(0.05, exp(−5)) = 0.05
    const Event silent = MakeEvent(EventKind::Bloom, 0.0f, 2.0f, 0.0f);
    for (float v : TargetEnvelopeProfile(silent, 0.5f, 0.0f, 1.0f)) EXPECT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace korvel
