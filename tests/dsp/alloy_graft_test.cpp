#include "dsp/alloy_graft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/alloy_bands.h"
#include "support/signals.h"

namespace korvel {
namespace {

using test::Peak;
using test::Rms;
using test::Sine;
using test::SwellingNoise;

std::vector<float> Rich(int frames) { return test::Partials({90.0, 700.0, 2500.0, 7000.0, 15000.0}, frames, 0.1); }

TEST(AlloyGraftParams, UseTheirOwnConstants) {
    LayerResult layer;
    layer.alloyMorph = 1.0f;
    const AlloyGraftParams p = MakeAlloyGraftParams(layer, 48000, 48000);
    EXPECT_FLOAT_EQ(p.transfer.transferDepth, 0.35f);
    EXPECT_FLOAT_EQ(p.transfer.envelopeDepth, 0.6f);
    EXPECT_FLOAT_EQ(p.tiltAmount, 0.35f);
    EXPECT_EQ(p.transfer.graftLength, 1440);
    layer.alloyMorph = -3.0f;  // clamped to 0
    const AlloyGraftParams q = MakeAlloyGraftParams(layer, 48000, 48000);
    EXPECT_FLOAT_EQ(q.transfer.envelopeDepth, 0.25f);
    EXPECT_FLOAT_EQ(q.tiltAmount, 0.15f);
}

TEST(AddHighBandTilt, AddsEveryOtherBandWithTheToneTilt) {
    const int rate = 48000, n = 12000;
    const std::vector<float> high = Rich(n);
    struct Case {
        const char* name;
        int filterBands;
        std::vector<int> added;  // band indices
        std::vector<float> positions;
    } cases[] = {
        {"ten bands give five, three added", 10, {0, 2, 4}, {-1.0f, 0.0f, 1.0f}},
        {"eight bands give four; the top one never plays", 8, {0, 2}, {-1.0f, 1.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int m = std::max(4, c.filterBands / 2);
        const auto edges = AlloyBandEdges(m, 300.0, 14000.0);
        for (float tone : {0.5f, 1.0f}) {
            SCOPED_TRACE(tone);
            AlloyCurves curves;
            curves.valid = true;
            curves.tone.fill(tone);
            std::vector<float> signal(static_cast<size_t>(n), 0.0f);
            AddHighBandTilt(signal, high, 0.35f, c.filterBands, curves, rate);
            std::vector<double> expected(static_cast<size_t>(n), 0.0);
            for (size_t k = 0; k < c.added.size(); ++k) {
                const int a = c.added[k];
                const double lo = a == 0 ? 0.0 : edges[static_cast<size_t>(a) - 1];
                const double hi = a == m - 1 ? rate * 0.5 : edges[static_cast<size_t>(a)];
                const auto pos = a == 0 ? AlloyBandPosition::First
                                 : a == m - 1 ? AlloyBandPosition::Last
                                              : AlloyBandPosition::Middle;
                const auto band = FilterBand(high, lo, hi, pos, rate);
                const float gain = (tone - 0.5f) * 1.5f * c.positions[k] + 1.0f;
                for (int i = 0; i < n; ++i) expected[static_cast<size_t>(i)] += 0.35f * gain * band[static_cast<size_t>(i)];
            }
            for (int i = 0; i < n; i += 31) ASSERT_NEAR(signal[static_cast<size_t>(i)], expected[static_cast<size_t>(i)], 1e-5) << i;
        }
    }
}

TEST(AlloyGraftKernel, WithOnlyThePrimaryItIsTheDriftedPrimaryShapedByTheEnvelope) {
    LayerResult layer;
    layer.filepath = "/lib/primary.wav";
    const int n = 9600;
    AlloyGraftParams p = MakeAlloyGraftParams(layer, 48000, n);
    AlloySlotVectors slots;
    for (auto& s : slots) s.assign(static_cast<size_t>(n), 0.0f);
    slots[0] = Rich(n);
    std::array<bool, 4> present = {true, false, false, false};

    std::vector<float> expected = slots[0];
    ApplyMicroPitchDrift(expected, AlloyPathHash(layer.filepath), p.transfer.driftDepth, 48000);
    std::vector<float> out;
    AlloyGraftKernel(p, slots, present, out);
    EXPECT_EQ(out, expected);

    // Drift runs even at depth 0: the copy loses its last sample.
    p.transfer.driftDepth = 0.0f;
    AlloyGraftKernel(p, slots, present, out);
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(out[100], slots[0][100]);

    present[3] = true;
    for (int i = 0; i < n / 2; ++i) slots[3][static_cast<size_t>(i)] = 0.5f;
    std::vector<float> shaped;
    AlloyGraftKernel(p, slots, present, shaped);
    std::vector<float> reference = out;
    ImposeSourceEnvelope(reference, slots[3], 48000, p.transfer.envelopeDepth);
    EXPECT_EQ(shaped, reference);
}

TEST(AlloyGraftKernel, TheEdgesStayAtTheInteriorLevel) {
    // Spikes the spectral transfer left near the ends would make the level
    // match turn the whole layer down to fit them under its ceiling. The
    // sources are loud enough that the matched interior peaks at 0.5 to 0.8.
    const int n = 48000;
    const std::vector<float> zero(static_cast<size_t>(n), 0.0f);
    std::vector<float> loudRich = Rich(n);
    for (float& s : loudRich) s *= 2.0f;
    struct Case {
        const char* name;
        std::vector<float> carrier, mid, high;
        std::array<bool, 4> present;
    } cases[] = {
        {"swelling noise mid as donor", Sine(220.0, n, 0.7f), SwellingNoise(n, 0.7f, 2, 5.0), zero,
         {true, true, false, false}},
        {"swelling noise high as donor and tilt", Sine(220.0, n, 0.6f), zero, SwellingNoise(n, 0.6f, 2, 5.0),
         {true, false, true, false}},
        {"swelling noise mid as donor, tone mix tilt", Sine(220.0, n, 0.6f), SwellingNoise(n, 0.6f, 2, 5.0),
         loudRich, {true, true, true, false}},
    };
    LayerResult layer;
    layer.filepath = "/lib/primary.wav";
    AlloyGraftParams p = MakeAlloyGraftParams(layer, 48000, n);
    p.transfer.driftDepth = 0.0f;  // the drift's early end would silence the tail
    p.transfer.graftLength = 0;    // the start would take on the donor's level
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AlloyInputs inputs;
        inputs.samplesL = {c.carrier, c.mid, c.high, zero};
        inputs.present = c.present;
        inputs.frames = n;
        AlloyCacheEntry out;
        AlloyGraftKernel(p, inputs.samplesL, c.present, out.samplesL);
        const float inner = Peak(out.samplesL, 2048, n - 2048);
        EXPECT_LE(Peak(out.samplesL, 0, 480), 1.5f * inner);
        EXPECT_LE(Peak(out.samplesL, n - 480, n), 1.5f * inner);

        MatchAlloyLevel(inputs, out, n, false);
        double sum = 0.0;
        int count = 0;
        for (size_t l = 0; l < 3; ++l) {
            if (!c.present[l]) continue;
            const double level = Rms(inputs.samplesL[l], 0, n);
            sum += level * level;
            ++count;
        }
        const double sourceLevel = std::sqrt(sum / count);
        EXPECT_GT(Rms(out.samplesL, 2048, n - 2048), 0.9 * sourceLevel);
    }
}

}  // namespace
}  // namespace korvel
