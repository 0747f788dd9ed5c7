#include "dsp/alloy_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "support/signals.h"

namespace korvel {
namespace {

using test::Peak;
using test::Rms;
using test::Sine;
using test::SwellingNoise;

// A broadband, deterministic test signal (sum of inharmonic partials).
std::vector<float> Rich(int frames, float amplitude = 0.2f) {
    return test::Partials({110.0, 347.0, 911.0, 2203.0, 5111.0, 9973.0}, frames, amplitude);
}

TEST(ApplyMicroPitchDrift, DepthZeroCopiesAllButTheLastSample) {
    std::vector<float> x = Rich(5000);
    std::vector<float> y = x;
    ApplyMicroPitchDrift(y, AlloyPathHash("a.wav"), 0.0f, 48000);
    for (size_t i = 0; i + 1 < x.size(); ++i) ASSERT_EQ(y[i], x[i]) << i;
    EXPECT_EQ(y.back(), 0.0f);
}

TEST(ApplyMicroPitchDrift, TheSamePathAlwaysDriftsTheSameWay) {
    const std::vector<float> x = Rich(48000);
    std::vector<float> a = x, b = x, c = x;
    ApplyMicroPitchDrift(a, AlloyPathHash("/s/one.wav"), 0.05f, 48000);
    ApplyMicroPitchDrift(b, AlloyPathHash("/s/one.wav"), 0.05f, 48000);
    ApplyMicroPitchDrift(c, AlloyPathHash("/s/two.wav"), 0.05f, 48000);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

// A drift that reads faster than real time used to reach the end early and
// leave thousands of silent samples, longer than the fade, so sustained
// layers cut off; slowing the whole read instead took the net upward drift
// out of every such path. Every path must keep its read position exactly and
// fill all but at most the last sample.
TEST(ApplyMicroPitchDrift, EveryPathKeepsItsContourAndFillsTheLayer) {
    const int n = 48000;
    const double depth = 0.15f;  // as the drift widens the float setting
    std::vector<float> ramp(n);
    for (int k = 0; k < n; ++k) ramp[static_cast<size_t>(k)] = static_cast<float>(k) / n;
    int ranOut = 0;
    for (int i = 0; i < 64; ++i) {
        const uint32_t hash = AlloyPathHash(("/s/" + std::to_string(i) + ".wav").c_str());
        SCOPED_TRACE(i);
        const double phase1 = static_cast<float>(hash >> 16) / 65535.0f * 6.2832f;
        const double phase2 = static_cast<float>(hash & 0xFFFFu) / 65535.0f * 6.2832f;
        std::vector<double> position(n);
        double q = 0.0;
        for (int k = 0; k < n; ++k) {
            position[static_cast<size_t>(k)] = q;
            const double t = k / 48000.0;
            q += 1.0 + depth * (0.4 * std::sin(0.7 * t + phase1) + 0.6 * std::sin(1.7 * t + phase2));
        }
        const bool runsOut = position[n - 2] >= n - 1;
        ranOut += runsOut;

        // No silent stretch: a steady signal stays steady to the end.
        std::vector<float> y(n, 1.0f);
        ApplyMicroPitchDrift(y, hash, 0.15f, 48000);
        const int filled = runsOut ? n : n - 1;
        for (int k = 0; k < filled; ++k) ASSERT_NEAR(y[static_cast<size_t>(k)], 1.0f, 1e-5f) << k;

        // The contour: the output is the source at the drift's own position
        // wherever the read is inside the source (a path that reads on past
        // the end reads its last 50 ms as the seam into the next pass).
        std::vector<float> a = ramp;
        ApplyMicroPitchDrift(a, hash, 0.15f, 48000);
        const double untiled = runsOut ? n - 2400 : n - 1;
        for (int k = 0; k < n && position[static_cast<size_t>(k)] < untiled; k += 7)
            ASSERT_NEAR(a[static_cast<size_t>(k)], position[static_cast<size_t>(k)] / n, 2e-6) << k;
    }
    EXPECT_GT(ranOut, 0) << "the table must hold paths that read too fast";
    EXPECT_LT(ranOut, 64) << "and paths that do not";
}

TEST(AlloyTransferKernel, WithoutDonorsOrDriftTheCarrierPassesUnchanged) {
    AlloyTransferParams p;
    p.frames = 3000;
    p.driftDepth = 0.001f;  // not above 0.001: no drift
    AlloySlotVectors slots;
    for (auto& s : slots) s.assign(3000, 0.0f);
    slots[1] = Rich(3000);  // no primary: mid is the carrier
    std::array<bool, 4> present = {false, true, false, false};
    p.transferDepth = 0.0f;  // and no transfer from itself
    std::vector<float> out;
    AlloyTransferKernel(p, slots, present, out);
    EXPECT_EQ(out, slots[1]);
}

TEST(AlloyTransferKernel, GraftsTheHighSourcesAttackOnlyWhenLongerThanFourSamples) {
    struct Case {
        const char* name;
        int32_t graftLength;
        bool highPresent;
        bool grafted;
    } cases[] = {
        {"four samples", 4, true, false},
        {"five samples", 5, true, true},
        {"no high source", 1440, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AlloyTransferParams p;
        p.frames = 6000;
        p.driftDepth = 0.0f;
        p.transferDepth = 0.0f;
        p.graftLength = c.graftLength;
        AlloySlotVectors slots;
        for (auto& s : slots) s.assign(6000, 0.0f);
        slots[0] = Rich(6000);
        slots[2].assign(6000, -0.5f);
        const std::array<bool, 4> present = {true, false, c.highPresent, false};
        std::vector<float> out;
        AlloyTransferKernel(p, slots, present, out);
        // The first sample is the donor's alone once the graft runs.
        EXPECT_EQ(out[0], c.grafted ? -0.5f : slots[0][0]);
        EXPECT_EQ(out[static_cast<size_t>(c.graftLength)], slots[0][static_cast<size_t>(c.graftLength)]);
    }
}

TEST(AlloyTransferKernel, TheEdgesStayAtTheInteriorLevel) {
    // A frame's reshaped output divided by its own near-zero window would
    // spike near the ends, and the level match would turn the whole layer
    // down to fit the spikes under its ceiling. The sources are loud enough
    // that the matched interior peaks at 0.5 to 0.8: spikes of twice that
    // would reach the ceiling.
    const int n = 48000;
    struct Case {
        const char* name;
        std::vector<float> carrier, donor;
    } cases[] = {
        {"steady tone, swelling noise donor", Sine(220.0, n, 0.7f), SwellingNoise(n, 0.7f, 2, 5.0)},
        {"swelling noise, tone donor", SwellingNoise(n, 0.5f, 1, 60.0), Sine(300.0, n, 0.5f)},
    };
    LayerResult layer;
    layer.filepath = "/lib/primary.wav";
    AlloyTransferParams p = MakeAlloyTransferParams(layer, 48000, n);
    p.driftDepth = 0.0f;  // the drift's early end would silence the tail
    const std::array<bool, 4> present = {true, true, false, false};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AlloyInputs inputs;
        for (auto& s : inputs.samplesL) s.assign(static_cast<size_t>(n), 0.0f);
        inputs.samplesL[0] = c.carrier;
        inputs.samplesL[1] = c.donor;
        inputs.present = present;
        inputs.frames = n;
        AlloyCacheEntry out;
        AlloyTransferKernel(p, inputs.samplesL, present, out.samplesL);
        const float inner = Peak(out.samplesL, 2048, n - 2048);
        EXPECT_LE(Peak(out.samplesL, 0, 480), 1.5f * inner);
        EXPECT_LE(Peak(out.samplesL, n - 480, n), 1.5f * inner);

        MatchAlloyLevel(inputs, out, n, false);
        const double sourceLevel = std::hypot(Rms(c.carrier, 0, n), Rms(c.donor, 0, n)) / std::sqrt(2.0);
        EXPECT_GT(Rms(out.samplesL, 2048, n - 2048), 0.9 * sourceLevel);
    }
}

TEST(TransferSpectralEnvelope, RebuildsEverySampleWithFullOverlap) {
    // Frames reach before the start and past the end, so an identical donor
    // (gain 1) gives the signal back whole, its first and last samples too.
    struct Case {
        const char* name;
        int frames;
    } cases[] = {{"shorter than a frame", 1500}, {"one second at 48 kHz", 48000}, {"one sample", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> x = Rich(c.frames);
        if (c.frames == 1) x[0] = 0.5f;
        const std::vector<float> original = x;
        ASSERT_TRUE(TransferSpectralEnvelope(x, original, 0.4f, AlloyCurves{}, AlloyGainLaw{}, 48000));
        ASSERT_EQ(x.size(), original.size());
        for (int i = 0; i < c.frames; ++i)
            ASSERT_NEAR(x[static_cast<size_t>(i)], original[static_cast<size_t>(i)], 2e-4f) << i;
    }
}

TEST(TransferSpectralEnvelope, FollowsTheDonorLevelWithinTheGainLaw) {
    const int n = 24000;
    const std::vector<float> carrier = Rich(n, 0.1f);
    struct Case {
        const char* name;
        float donorScale;
        AlloyGainLaw law;
        float expectedRatio;
    } cases[] = {
        {"twice as loud", 2.0f, AlloyGainLaw{}, 1.0f + 0.4f * std::tanh(0.6f)},
        {"silent donor", 0.0f, AlloyGainLaw{}, 1.0f - 0.4f * std::tanh(0.6f)},
        {"graft law, twice as loud", 2.0f, AlloyGainLaw{0.5f, 0.4f, 2.0f}, 1.0f + 0.4f * std::tanh(0.5f)},
        {"clamped at the law's ceiling", 1000.0f, AlloyGainLaw{0.6f, 0.3f, 1.2f}, 1.2f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> donor = carrier;
        for (float& s : donor) s *= c.donorScale;
        std::vector<float> x = carrier;
        ASSERT_TRUE(TransferSpectralEnvelope(x, donor, 0.4f, AlloyCurves{}, c.law, 48000));
        const double ratio = Rms(x, 4096, n - 4096) / Rms(carrier, 4096, n - 4096);
        EXPECT_NEAR(ratio, c.expectedRatio, 2e-3);
    }
}

TEST(TransferSpectralEnvelope, TheToneCurveScalesTheStrength) {
    // k = (1.2·c + 0.4) × depth: a curve at 1 gives 1.6 × depth.
    const int n = 24000;
    const std::vector<float> carrier = Rich(n, 0.1f);
    std::vector<float> donor = carrier;
    for (float& s : donor) s *= 2.0f;
    AlloyCurves curves;
    curves.valid = true;
    curves.tone.fill(1.0f);
    std::vector<float> x = carrier;
    ASSERT_TRUE(TransferSpectralEnvelope(x, donor, 0.25f, curves, AlloyGainLaw{}, 48000));
    const double ratio = Rms(x, 4096, n - 4096) / Rms(carrier, 4096, n - 4096);
    EXPECT_NEAR(ratio, 1.0 + 1.6 * 0.25 * std::tanh(0.6), 2e-3);
}

TEST(GraftAttack, StartsAsTheDonorAndTurnsIntoTheSignalWithConstantPower) {
    std::vector<float> x(100, 1.0f);
    const std::vector<float> donor(100, -1.0f);
    GraftAttack(x, donor, 40);
    EXPECT_EQ(x[0], -1.0f);
    EXPECT_NEAR(x[20], -std::cos(std::numbers::pi_v<float> / 4) + std::sin(std::numbers::pi_v<float> / 4), 1e-6f);
    EXPECT_EQ(x[40], 1.0f);
}

TEST(ImposeSourceEnvelope, LowersTheSignalWhereTheDonorIsQuiet) {
    const int rate = 48000;
    std::vector<float> donor(static_cast<size_t>(rate), 0.0f);
    for (int i = 0; i < rate / 2; ++i) donor[static_cast<size_t>(i)] = 0.5f;  // loud, then silent
    std::vector<float> x(donor.size(), 1.0f);
    ImposeSourceEnvelope(x, donor, rate, 0.7f);
    EXPECT_NEAR(x[static_cast<size_t>(rate / 2 - 1)], 1.0f, 1e-4f);  // at the follower's peak
    // After half a second of silence the 100 ms release has nearly reached
    // 1 − D.
    const double release = std::pow(std::exp(-1.0 / (0.1 * rate)), rate / 2);
    EXPECT_NEAR(x.back(), 1.0 + (release - 1.0) * 0.7, 1e-4);

    std::vector<float> y(100, 0.25f);
    ImposeSourceEnvelope(y, std::vector<float>(100, 0.0f), rate, 0.7f);
    EXPECT_EQ(y, std::vector<float>(100, 0.25f));
}

}  // namespace
}  // namespace korvel
