#include "dsp/alloy_stft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace korvel {
namespace {

// Half-widths as the spectral transfer derives them: half the bin's
// frequency in bins, 2 … 256.
std::array<int, kAlloyBins> HalfWidths(float sampleRate, float minHz) {
    const float binHz = sampleRate / kAlloyFftSize;
    std::array<int, kAlloyBins> r{};
    for (int b = 0; b < kAlloyBins; ++b)
        r[static_cast<size_t>(b)] =
            std::clamp(static_cast<int>(std::max(minHz, static_cast<float>(b) * binHz) * 0.5f / binHz), 2, 256);
    return r;
}

AlloyMagnitudes TestSpectrum(uint32_t seed, float dynamicRange) {
    AlloyMagnitudes m{};
    uint32_t state = seed;
    for (size_t b = 0; b < kAlloyBins; ++b) {
        state = state * 1664525u + 1013904223u;
        const float unit = static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
        // Loud lows falling to very quiet highs, with spiky detail.
        m[b] = std::pow(10.0f, -dynamicRange * static_cast<float>(b) / kAlloyBins) * (0.05f + unit) * 100.0f;
    }
    m[3] = 5000.0f;  // one strong partial
    return m;
}

TEST(TriangularSmoother, MatchesTheDirectWeightedSum) {
    struct Case {
        const char* name;
        float sampleRate;
        float dynamicRange;  // decades from the lowest bin to the highest
    } cases[] = {{"48 kHz", 48000.0f, 2.0f}, {"44.1 kHz", 44100.0f, 4.0f}, {"96 kHz, steep", 96000.0f, 6.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = HalfWidths(c.sampleRate, 20.0f);
        const AlloyMagnitudes in = TestSpectrum(7, c.dynamicRange);
        AlloyMagnitudes fast{};
        TriangularSmoother smoother(r);
        smoother.Smooth(in, fast);
        for (int b = 0; b < kAlloyBins; ++b) {
            const int rb = r[static_cast<size_t>(b)];
            double sum = 0.0, weights = 0.0;
            for (int q = -rb; q <= rb; ++q) {
                const double u = 1.0 - std::abs(q) / (rb + 1.0);
                sum += u * in[static_cast<size_t>(std::clamp(b + q, 0, kAlloyBins - 1))];
                weights += u;
            }
            const double expected = sum / weights;
            ASSERT_NEAR(fast[static_cast<size_t>(b)], expected, 1e-4 * expected + 1e-7) << "bin " << b;
        }
    }
}

TEST(BoxSmoother, MatchesThePlainMeanOverTheClippedRange) {
    const auto r = HalfWidths(48000.0f, 0.0f);
    const AlloyMagnitudes in = TestSpectrum(11, 3.0f);
    AlloyMagnitudes fast{};
    BoxSmoother smoother(r);
    smoother.Smooth(in, fast);
    for (int b = 0; b < kAlloyBins; ++b) {
        const int lo = std::max(0, b - r[static_cast<size_t>(b)]);
        const int hi = std::min(kAlloyBins - 1, b + r[static_cast<size_t>(b)]);
        double sum = 0.0;
        for (int k = lo; k <= hi; ++k) sum += in[static_cast<size_t>(k)];
        const double expected = sum / (hi - lo + 1);
        ASSERT_NEAR(fast[static_cast<size_t>(b)], expected, 1e-4 * expected + 1e-7) << "bin " << b;
    }
}

TEST(AlloyFft, AnalysisAndSynthesisRebuildTheSignalWhereFramesOverlap) {
    AlloyFft fft;
    ASSERT_TRUE(fft.ok());
    const int n = 8192;
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) x[static_cast<size_t>(i)] = std::sin(0.01f * static_cast<float>(i)) + 0.3f;
    std::vector<float> acc(static_cast<size_t>(n) + kAlloyFftSize), norm(acc.size()), out;
    AlloySpectrum spectrum;
    for (int s = 0; s + kAlloyFftSize <= n; s += 256) {
        fft.Analyse(x, s, spectrum);
        fft.Synthesise(spectrum, s, acc, norm);
    }
    FinishOverlapAdd(acc, norm, n, out);
    ASSERT_EQ(out.size(), x.size());
    for (int i = 0; i <= 20; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], 0.0f);
    for (int i = 100; i < n - 100; ++i) ASSERT_NEAR(out[static_cast<size_t>(i)], x[static_cast<size_t>(i)], 1e-4f) << i;
}

TEST(AlloyFft, AnalysisPastTheEndReadsZeros) {
    AlloyFft fft;
    ASSERT_TRUE(fft.ok());
    const std::vector<float> x(100, 1.0f);
    AlloySpectrum spectrum;
    fft.Analyse(x, 4096, spectrum);
    for (const auto& bin : spectrum) {
        EXPECT_EQ(bin.r, 0.0f);
        EXPECT_EQ(bin.i, 0.0f);
    }
}

}  // namespace
}  // namespace korvel
