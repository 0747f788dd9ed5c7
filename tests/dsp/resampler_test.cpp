#include "dsp/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/signals.h"

namespace korvel {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The kernel written out tap by tap, two sines per tap, as the plain
// definition has it; the resampler's faster form must agree with it.
double ReferenceWeight(double x, double ratio) {
    if (std::fabs(x) < 1e-9) return 1.0;
    const double u = x / std::max(ratio, 1.0);
    if (std::fabs(u) >= 8.0) return 0.0;
    const auto sinc = [](double v) { return std::sin(kPi * v) / (kPi * v); };
    return sinc(u) * sinc(u / 8.0);
}

std::vector<float> ReferenceSinc(const std::vector<float>& in, int newLength, double ratio) {
    std::vector<float> out(static_cast<size_t>(newLength));
    const int64_t half = static_cast<int64_t>(std::ceil(8.0 * std::max(ratio, 1.0)));
    for (int i = 0; i < newLength; ++i) {
        const double p = i * ratio;
        const int64_t n = static_cast<int64_t>(std::trunc(p));
        const double f = p - static_cast<double>(n);
        double num = 0, den = 0;
        for (int64_t k = 1 - half; k <= half; ++k) {
            const int64_t idx = n + k;
            if (idx < 0 || idx >= static_cast<int64_t>(in.size())) continue;
            const double w = ReferenceWeight(static_cast<double>(k) - f, ratio);
            num += in[static_cast<size_t>(idx)] * w;
            den += w;
        }
        out[static_cast<size_t>(i)] = den > 1e-12 ? static_cast<float>(num / den) : 0.0f;
    }
    return out;
}

TEST(ResampleSinc, MatchesTheKernelDefinitionWithinFloatRounding) {
    struct Case {
        const char* name;
        double ratio;
        int newLength;
    };
    const Case cases[] = {
        {"44.1 to 48 kHz", 44100.0 / 48000.0, 1088},
        {"upsample x2", 0.5, 2000},
        {"upsample x3, beyond the end", 1.0 / 3.0, 3100},
        {"identity", 1.0, 1000},
        {"odd fractions", 0.7371, 1350},
        {"a hair above 1: read points cross the on-tap threshold", 1.0 + 2e-12, 999},
        {"a hair below 1", 1.0 - 2e-12, 1000},
        {"downsample x2 (stretched kernel)", 2.0, 500},
        {"pitch up a fifth (stretched kernel)", 1.4983070768766815, 667},
        {"48 to 44.1 kHz (stretched kernel)", 48000.0 / 44100.0, 918},
    };
    const std::vector<float> input = test::WhiteNoise(1000, 1.0f, 7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> ours = input;
        ResampleSincToLength(ours, c.newLength, c.ratio);
        const std::vector<float> ref = ReferenceSinc(input, c.newLength, c.ratio);
        ASSERT_EQ(ours.size(), ref.size());
        for (size_t i = 0; i < ref.size(); ++i) {
            ASSERT_NEAR(ours[i], ref[i], 2e-6f) << "output " << i;
        }
    }
}

TEST(ResampleSinc, RatioOneReproducesTheInput) {
    const std::vector<float> input = test::WhiteNoise(4096, 1.0f, 3);
    std::vector<float> out = input;
    ResampleSincToLength(out, static_cast<int>(input.size()), 1.0);
    ASSERT_EQ(out.size(), input.size());
    for (size_t i = 0; i < input.size(); ++i) ASSERT_FLOAT_EQ(out[i], input[i]) << i;
}

TEST(ResampleSinc, ByRatioLengthsAndNoOps) {
    struct Case {
        const char* name;
        size_t inLength;
        double ratio;
        size_t outLength;
        bool untouched;
    };
    const Case cases[] = {
        {"ratio 2 halves, rounding up the half", 1001, 2.0, 501, false},
        {"ratio 0.5 doubles", 300, 0.5, 600, false},
        {"within 1e-9 of 1", 1001, 1.0 + 1e-10, 1001, true},
        {"exactly 1", 64, 1.0, 64, true},
        {"zero ratio", 64, 0.0, 64, true},
        {"negative ratio", 64, -1.0, 64, true},
        {"output rounds to nothing", 1, 4.0, 0, false},
        {"empty input", 0, 2.0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> input = test::WhiteNoise(c.inLength, 1.0f, 11);
        std::vector<float> out = input;
        ResampleSincByRatio(out, c.ratio);
        EXPECT_EQ(out.size(), c.outLength);
        if (c.untouched) {
            EXPECT_EQ(out, input);
        }
    }
}

TEST(ResampleSinc, ToLengthZeroGivesEmpty) {
    std::vector<float> v = test::WhiteNoise(100, 1.0f, 1);
    ResampleSincToLength(v, 0, 0.5);
    EXPECT_TRUE(v.empty());
    v = test::WhiteNoise(100, 1.0f, 1);
    ResampleSincToLength(v, -5, 0.5);
    EXPECT_TRUE(v.empty());
}

TEST(ResampleSinc, ConstantStaysConstantUpToTheEnds) {
    for (double ratio : {0.25, 44100.0 / 48000.0, 1.0, 1.5, 3.0}) {
        SCOPED_TRACE(ratio);
        std::vector<float> v(500, 0.75f);
        const int newLength = static_cast<int>(500 / ratio);
        ResampleSincToLength(v, newLength, ratio);
        ASSERT_EQ(v.size(), static_cast<size_t>(newLength));
        for (size_t i = 0; i < v.size(); ++i) ASSERT_NEAR(v[i], 0.75f, 1e-5f) << i;
    }
}

// Halving the rate of a 96 kHz signal: a 30 kHz component lies above the new
// Nyquist frequency and would fold back to 18 kHz without the lowered
// cutoff, while a 5 kHz component must pass at full level.
TEST(ResampleSinc, DownsamplingRejectsWhatWouldAlias) {
    const size_t n = 9600;
    std::vector<float> high = test::Sine(30000.0, n, 1.0, 96000.0);
    std::vector<float> low = test::Sine(5000.0, n, 1.0, 96000.0);
    ResampleSincByRatio(high, 2.0);
    ResampleSincByRatio(low, 2.0);
    ASSERT_EQ(high.size(), n / 2);
    // Away from the ends, where the kernel is complete.
    const double highRms = test::Rms(high, 200, n / 2 - 200);
    const double lowRms = test::Rms(low, 200, n / 2 - 200);
    EXPECT_NEAR(lowRms, std::sqrt(0.5), 0.01);
    EXPECT_LT(20.0 * std::log10(highRms / std::sqrt(0.5)), -40.0);
}

// Ratios far outside any real use must stay defined: no overflowing tap
// range, no length no buffer could hold, no NaN turned into an index.
TEST(Resample, ExtremeRatiosStayDefined) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        double ratio;
        float sincFirst, sincSecond;  // ResampleSincToLength to 4 outputs
        size_t byRatioLength;         // ResampleSincByRatio of 50 samples
        float linearFirst, linearSecond;
    };
    const Case cases[] = {
        // Position 0 averages the whole input under the widest kernel; the
        // next position lies far beyond the end.
        {"huge", 1e300, 1.0f, 0.0f, 0, 1.0f, 1.0f},
        {"largest double", std::numeric_limits<double>::max(), 1.0f, 0.0f, 0, 1.0f, 1.0f},
        {"infinite", inf, 0.0f, 0.0f, 0, 0.0f, 1.0f},
        {"not a number", nan, 0.0f, 0.0f, 50, 0.0f, 0.0f},
        {"tiny: output too long to hold", 1e-300, 1.0f, 1.0f, 50, 1.0f, 1.0f},
        {"smallest denormal", std::numeric_limits<double>::denorm_min(), 1.0f, 1.0f, 50, 1.0f, 1.0f},
        {"huge negative", -1e300, 1.0f, 0.0f, 50, 1.0f, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> sinc(50, 1.0f);
        ResampleSincToLength(sinc, 4, c.ratio);
        ASSERT_EQ(sinc.size(), 4u);
        EXPECT_NEAR(sinc[0], c.sincFirst, 1e-6f);
        EXPECT_NEAR(sinc[1], c.sincSecond, 1e-6f);

        std::vector<float> byRatio(50, 1.0f);
        ResampleSincByRatio(byRatio, c.ratio);
        EXPECT_EQ(byRatio.size(), c.byRatioLength);

        std::vector<float> linear(50, 1.0f);
        ResampleLinearToLength(linear, 4, c.ratio);
        ASSERT_EQ(linear.size(), 4u);
        EXPECT_EQ(linear[0], c.linearFirst);
        EXPECT_EQ(linear[1], c.linearSecond);
    }
}

TEST(ResampleLinear, InterpolatesAndHoldsTheLastSample) {
    std::vector<float> v = {0.0f, 1.0f, 3.0f};
    ResampleLinearToLength(v, 8, 0.5);
    const std::vector<float> expected = {0.0f, 0.5f, 1.0f, 2.0f, 3.0f, 3.0f, 3.0f, 3.0f};
    EXPECT_EQ(v, expected);

    std::vector<float> empty;
    ResampleLinearToLength(empty, 4, 1.0);
    EXPECT_EQ(empty, std::vector<float>(4, 0.0f));

    std::vector<float> gone = {1.0f};
    ResampleLinearToLength(gone, 0, 1.0);
    EXPECT_TRUE(gone.empty());
}

TEST(SemitonesToRatio, KnownValues) {
    struct Case {
        float semitones;
        double ratio;
    };
    const Case cases[] = {{12.0f, 2.0}, {-12.0f, 0.5}, {0.005f, 1.0}, {-0.01f, 1.0},
                          {0.0f, 1.0},  {7.0f, 1.4983070768766815}, {24.0f, 4.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.semitones);
        EXPECT_NEAR(SemitonesToRatio(c.semitones), c.ratio, 1e-12);
    }
    EXPECT_EQ(SemitonesToRatio(0.005f), 1.0);
}

}  // namespace
}  // namespace korvel
