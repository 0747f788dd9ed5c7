#include "dsp/alloy_bands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "support/signals.h"

namespace korvel {
namespace {

using test::Rms;
using test::Sine;

TEST(AlloyBandEdges, AreLogarithmicFromTheBaseToTheTop) {
    LayerResult layer;
    layer.alloyFilterBands = 10;
    const AlloyBandsParams p48 = MakeAlloyBandsParams(layer, 48000, 48000);
    const double expected[] = {310, 480, 745, 1154, 1789, 2773, 4297, 6660, 10323};
    ASSERT_EQ(p48.edges.size(), 9u);
    for (size_t k = 0; k < 9; ++k) EXPECT_NEAR(p48.edges[k], expected[k], 1.0) << k;
    EXPECT_EQ(p48.window, 2400);
    EXPECT_EQ(p48.crossfade, 240);

    // 0.9 × Nyquist is the top below 35.6 kHz: the last edge sits one band
    // below it.
    const AlloyBandsParams p22 = MakeAlloyBandsParams(layer, 22050, 22050);
    EXPECT_NEAR(p22.edges.back(), 200.0 * std::pow(9922.5 / 200.0, 0.9), 1e-6);

    struct Case {
        const char* name;
        int bands;
        int frames;
        int expectedBands;
        int expectedCrossfade;
    } cases[] = {
        {"too few bands", 2, 48000, 4, 240},
        {"too many bands", 30, 48000, 24, 240},
        {"short layer shortens the crossfade", 10, 1000, 10, 125},
        {"never below 32 samples", 10, 100, 10, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        layer.alloyFilterBands = c.bands;
        const AlloyBandsParams p = MakeAlloyBandsParams(layer, 48000, c.frames);
        EXPECT_EQ(p.bandCount, c.expectedBands);
        EXPECT_EQ(static_cast<int>(p.edges.size()), c.expectedBands - 1);
        EXPECT_EQ(p.crossfade, c.expectedCrossfade);
    }
}

TEST(FilterBand, CornerGainsAreThoseOfAFourthOrderLinkwitzRiley) {
    const int rate = 48000;
    const int n = rate;
    struct Case {
        const char* name;
        AlloyBandPosition position;
        double lo, hi, probeHz, expectedGain, tolerance;
    } cases[] = {
        {"low band passes its lows", AlloyBandPosition::First, 0, 1000, 100, 1.0, 0.01},
        {"low band at its corner", AlloyBandPosition::First, 0, 1000, 1000, 0.5, 0.01},
        {"low band an octave up", AlloyBandPosition::First, 0, 1000, 2000, 0.0588, 0.005},
        {"high band at its corner", AlloyBandPosition::Last, 4000, 24000, 4000, 0.5, 0.01},
        {"high band passes its highs", AlloyBandPosition::Last, 4000, 24000, 16000, 1.0, 0.01},
        {"high band an octave down", AlloyBandPosition::Last, 4000, 24000, 2000, 0.0588, 0.005},
        {"middle band at its lower corner", AlloyBandPosition::Middle, 500, 8000, 500, 0.5, 0.02},
        {"middle band at its upper corner", AlloyBandPosition::Middle, 500, 8000, 8000, 0.5, 0.02},
        {"middle band centre", AlloyBandPosition::Middle, 500, 8000, 2000, 1.0, 0.02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> in = Sine(c.probeHz, n, 1.0f, rate);
        const std::vector<float> out = FilterBand(in, c.lo, c.hi, c.position, rate);
        ASSERT_EQ(out.size(), in.size());
        const double gain = Rms(out, n / 2, n) / Rms(in, n / 2, n);
        EXPECT_NEAR(gain, c.expectedGain, c.tolerance);
    }
}

struct BandsFixture : ::testing::Test {
    static constexpr int kRate = 48000;
    static constexpr int kFrames = 24000;
    AlloySlotVectors slots;
    std::array<bool, 4> present{};
    AlloyBandsParams params;

    void SetUp() override {
        for (auto& s : slots) s.assign(kFrames, 0.0f);
        LayerResult layer;
        params = MakeAlloyBandsParams(layer, kRate, kFrames);
    }
    std::vector<float> Render() {
        std::vector<float> out;
        AlloyFilterBandsKernel(params, slots, present, out);
        return out;
    }
    // The band signals of a slot, as the kernel filters them.
    std::vector<std::vector<float>> BandsOf(const std::vector<float>& x) const {
        return AlloyCrossoverBands(x, params.edges, kRate);
    }
};

// Separate band-pass filters left a 20 dB scoop between neighbouring bands,
// so one flat source came back hollow. Through the crossover tree the bands
// of one source sum back to it at every frequency and band count, and each
// band keeps its own corners.
TEST_F(BandsFixture, TheBandsOfOneNeutralSourceSumBackToIt) {
    present[0] = true;
    const double probes[] = {40, 200, 310, 390, 480, 745, 1000, 1154, 1500, 2773, 3500, 5000, 10323, 15000, 20000};
    for (const int bands : {4, 10, 24}) {
        LayerResult layer;
        layer.alloyFilterBands = bands;
        params = MakeAlloyBandsParams(layer, kRate, kFrames);
        for (const double hz : probes) {
            SCOPED_TRACE(testing::Message() << bands << " bands at " << hz << " Hz");
            slots[0] = Sine(hz, kFrames, 0.5f, kRate);
            const std::vector<float> out = Render();
            const double db = 20.0 * std::log10(Rms(out, kFrames / 2, kFrames) / Rms(slots[0], kFrames / 2, kFrames));
            EXPECT_NEAR(db, 0.0, 0.05);
        }
    }

    // White noise, every frequency at once.
    slots[0] = test::WhiteNoise(kFrames, 0.3f, 11);
    const std::vector<float> out = Render();
    // An all-pass changes only the phase: the energies match.
    EXPECT_NEAR(Rms(out, 4096, kFrames) / Rms(slots[0], 4096, kFrames), 1.0, 0.01);

    // Each band keeps the corners and about the level of its own band filter:
    // the all-passes leave levels alone, and the high-passes of the lower
    // crossovers, the nearest 0.63 octave away, take at most 2 dB.
    LayerResult layer;
    params = MakeAlloyBandsParams(layer, kRate, kFrames);
    const int m = params.bandCount;
    for (const int a : {0, 3, m - 1}) {
        const double lo = a == 0 ? 0.0 : params.edges[static_cast<size_t>(a) - 1];
        const double hi = a == m - 1 ? kRate * 0.5 : params.edges[static_cast<size_t>(a)];
        const auto pos = a == 0 ? AlloyBandPosition::First : a == m - 1 ? AlloyBandPosition::Last : AlloyBandPosition::Middle;
        for (const double hz : {lo, std::sqrt(std::max(lo, 20.0) * std::min(hi, 20000.0)), hi}) {
            if (hz <= 0.0 || hz >= kRate * 0.5) continue;
            SCOPED_TRACE(testing::Message() << "band " << a << " at " << hz << " Hz");
            const auto tone = Sine(hz, kFrames, 1.0f, kRate);
            const double own = Rms(FilterBand(tone, lo, hi, pos, kRate), kFrames / 2, kFrames);
            const double tree = Rms(BandsOf(tone)[static_cast<size_t>(a)], kFrames / 2, kFrames);
            EXPECT_NEAR(20.0 * std::log10(tree / own), 0.0, 2.0);
        }
    }
}

TEST_F(BandsFixture, OneSourcePlaysEveryBandWithTheToneTilt) {
    present[1] = true;  // only the mid source
    for (int i = 0; i < kFrames; ++i)
        slots[1][static_cast<size_t>(i)] = 0.3f * std::sin(0.05f * static_cast<float>(i)) +
                                           0.2f * std::sin(0.9f * static_cast<float>(i));
    const auto bands = BandsOf(slots[1]);
    const int m = params.bandCount;
    struct Case {
        const char* name;
        float tone;
        float lowGain, highGain;
    } cases[] = {{"neutral", 0.5f, 1.0f, 1.0f}, {"bright", 1.0f, 0.25f, 1.75f}, {"dark", 0.0f, 1.75f, 0.25f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        params.tilt.assign(kFrames, c.tone);
        const std::vector<float> out = Render();
        for (size_t j = 0; j < out.size(); j += 97) {
            double expected = 0.0;
            for (int a = 0; a < m; ++a) {
                const float p = static_cast<float>(a) / static_cast<float>(m - 1) * 2.0f - 1.0f;
                const float gain = (c.tone - 0.5f) * 1.5f * p + 1.0f;
                expected += gain * bands[static_cast<size_t>(a)][j];
            }
            ASSERT_NEAR(out[j], expected, 1e-5) << j;
        }
        const float pLow = -1.0f, pHigh = 1.0f;
        EXPECT_NEAR((c.tone - 0.5f) * 1.5f * pLow + 1.0f, c.lowGain, 1e-6f);
        EXPECT_NEAR((c.tone - 0.5f) * 1.5f * pHigh + 1.0f, c.highGain, 1e-6f);
    }
}

// Band signals summed over every band: what the output is when one slot
// plays them all.
std::vector<double> SumOfBands(const std::vector<std::vector<float>>& bands) {
    std::vector<double> sum(bands.front().size(), 0.0);
    for (const auto& b : bands)
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += b[i];
    return sum;
}

double Rms(const std::vector<double>& v, size_t begin, size_t end) {
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i) sum += v[i] * v[i];
    return std::sqrt(sum / static_cast<double>(end - begin));
}

TEST_F(BandsFixture, ASourceMustBeMoreThanOnePointFourTimesLouderToTakeABandOver) {
    // Both sources play a 1 kHz tone; the mid one enters after the first
    // window. The primary keeps the bands unless the mid is clearly louder.
    present[0] = present[1] = true;
    slots[0] = Sine(1000.0, kFrames, 0.2f);
    const double primaryLevel = Rms(SumOfBands(BandsOf(slots[0])), kFrames / 2, kFrames);
    struct Case {
        const char* name;
        float midAmplitude;
        double expectedRatio;
    } cases[] = {{"1.3 times louder stays out", 0.26f, 1.0}, {"1.5 times louder takes over", 0.3f, 1.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        slots[1] = Sine(1000.0, kFrames, c.midAmplitude);
        for (int i = 0; i < params.window; ++i) slots[1][static_cast<size_t>(i)] = 0.0f;
        const std::vector<float> out = Render();
        // Bands far from 1 kHz may follow the mid's onset click; they hold
        // little of the level.
        EXPECT_NEAR(Rms(out, kFrames / 2, kFrames) / primaryLevel, c.expectedRatio, 0.06);
    }
}

TEST_F(BandsFixture, AChangeOfChoiceCrossfadesWithEqualPower) {
    // A steady primary, and from the second window on a mid source five
    // times louder: every band changes over at the window's start.
    present[0] = present[1] = true;
    slots[0] = Sine(1000.0, kFrames, 0.1f);
    slots[1] = Sine(1000.0, kFrames, 0.5f);
    const int w = params.window;
    const int x = params.crossfade;
    for (int i = 0; i < w; ++i) slots[1][static_cast<size_t>(i)] = 0.0f;
    const std::vector<float> out = Render();
    const auto primary = SumOfBands(BandsOf(slots[0]));
    const auto mid = SumOfBands(BandsOf(slots[1]));
    for (int j = w - 50; j < w + x + 50; ++j) {
        double expected = primary[static_cast<size_t>(j)];
        if (j >= w + x) {
            expected = mid[static_cast<size_t>(j)];
        } else if (j >= w) {
            // The first sample of the crossfade is still entirely the primary.
            const double theta = (1.0 - static_cast<double>(x - (j - w)) / x) * std::numbers::pi / 2;
            expected = std::cos(theta) * primary[static_cast<size_t>(j)] + std::sin(theta) * mid[static_cast<size_t>(j)];
        }
        ASSERT_NEAR(out[static_cast<size_t>(j)], expected, 1e-5) << j;
    }
}

}  // namespace
}  // namespace korvel
