#include "dsp/limiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/signals.h"

namespace korvel {
namespace {

using test::Peak;
using test::Sine;

constexpr int kRate = 48000;

LimiterSettings Prepared() {
    LimiterSettings settings;
    PrepareLimiterSettings(settings, kRate);
    return settings;
}

TEST(LimiterSettings, DefaultsAndPreparedCoefficients) {
    LimiterSettings settings;
    EXPECT_EQ(settings.threshold, 0.85f);
    EXPECT_EQ(settings.attack, 0.0f);
    EXPECT_EQ(settings.release, 0.0f);
    PrepareLimiterSettings(settings, kRate);
    EXPECT_NEAR(settings.attack, 1.0 - std::exp(-1.0 / 96.0), 1e-6);
    EXPECT_NEAR(settings.release, 1.0 - std::exp(-1.0 / 9600.0), 1e-7);
    EXPECT_EQ(settings.threshold, 0.85f);
}

TEST(Limiter, FullScaleSineSettlesNearTheThresholdAndNeverPassesTheCeiling) {
    const LimiterSettings settings = Prepared();
    auto left = Sine(1000.0, kRate, 1.0);
    auto right = left;
    LimitStereo(settings, left.data(), right.data(), static_cast<int64_t>(left.size()));
    EXPECT_LE(Peak(left, 0, left.size()), 0.891f);
    EXPECT_LE(Peak(right, 0, right.size()), 0.891f);
    // Settled within some tens of milliseconds, and it stays there.
    EXPECT_NEAR(Peak(left, kRate / 20, left.size()), 0.86f, 0.005f);
    EXPECT_NEAR(Peak(left, kRate / 2, left.size()), 0.86f, 0.002f);
}

TEST(Limiter, QuietSignalPassesButTheSoftClipStillBends) {
    const LimiterSettings settings = Prepared();
    // Peaks of 0.845: above the soft-clip knee, below the threshold.
    auto left = Sine(440.0, 4800, 0.845);
    auto right = Sine(440.0, 4800, 0.5);
    const auto originalL = left;
    const auto originalR = right;
    LimitStereo(settings, left.data(), right.data(), 4800);
    for (size_t i = 0; i < left.size(); ++i) {
        const float x = originalL[i];
        const float expected = std::fabs(x) > 0.84f
            ? std::copysign(0.84f + 0.051f * std::tanh(10.0f * (std::fabs(x) - 0.84f)), x)
            : x;
        ASSERT_FLOAT_EQ(left[i], expected) << i;
        ASSERT_EQ(right[i], originalR[i]) << i;
    }
}

TEST(Limiter, ChannelsShareOneEnvelope) {
    const LimiterSettings settings = Prepared();
    std::vector<std::vector<float>> channels = {Sine(1000.0, kRate, 1.0), Sine(200.0, kRate, 0.2),
                                                std::vector<float>(kRate + 10, 0.1f)};
    LimitChannels(settings, channels, kRate);
    EXPECT_LE(Peak(channels[0], 0, kRate), 0.891f);
    // The quiet channels are turned down with the loud one.
    EXPECT_LT(Peak(channels[1], kRate / 2, kRate), 0.2f * 0.9f);
    EXPECT_LT(channels[2][kRate - 1], 0.1f * 0.9f);
    // Samples past `frames` are not touched.
    EXPECT_EQ(channels[2][kRate], 0.1f);

    // The stereo and the multichannel limiter agree on two channels.
    auto left = Sine(1000.0, 4800, 1.0);
    auto right = Sine(300.0, 4800, 0.7);
    std::vector<std::vector<float>> pair = {left, right};
    LimitStereo(settings, left.data(), right.data(), 4800);
    LimitChannels(settings, pair, 4800);
    EXPECT_EQ(pair[0], left);
    EXPECT_EQ(pair[1], right);

    std::vector<std::vector<float>> none;
    LimitChannels(settings, none, 100);  // must not crash
}

}  // namespace
}  // namespace korvel
