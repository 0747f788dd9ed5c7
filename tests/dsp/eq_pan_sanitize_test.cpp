#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dsp/eq.h"
#include "dsp/pan.h"
#include "dsp/sanitize.h"
#include "support/signals.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;

using test::Sine;

TEST(FiveBandEq, NearlyFlatGainsLeaveTheBufferBitExact) {
    struct Case {
        const char* name;
        float gains[5];
        bool touched;
    };
    const Case cases[] = {
        {"all unity", {1, 1, 1, 1, 1}, false},
        {"inside the tolerance", {1, 1, 1.005f, 1, 1}, false},
        {"edge of the tolerance", {0.99f, 1.01f, 1, 1, 1}, false},
        {"outside the tolerance", {1, 1, 1.02f, 1, 1}, true},
    };
    const auto original = Sine(1000.0, 4800);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto buffer = original;
        ApplyFiveBandEq(buffer.data(), static_cast<int>(buffer.size()), kRate, c.gains);
        EXPECT_EQ(buffer != original, c.touched);
    }
}

TEST(FiveBandEq, BandsSumBackToTheInput) {
    // Equal gains on every band scale the signal: the bands add up to it.
    const float gains[5] = {2, 2, 2, 2, 2};
    const auto original = Sine(440.0, 4800);
    auto buffer = original;
    ApplyFiveBandEq(buffer.data(), static_cast<int>(buffer.size()), kRate, gains);
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_NEAR(buffer[i], 2.0f * original[i], 1e-5f) << i;
}

TEST(FiveBandEq, EachBandKeepsItsOwnRange) {
    struct Case {
        const char* name;
        float gains[5];
        double passHz, stopHz;
    };
    const Case cases[] = {
        {"low band only", {1, 0, 0, 0, 0}, 50.0, 12000.0},
        {"top band only", {0, 0, 0, 0, 1}, 18000.0, 100.0},
        {"presence band only", {0, 0, 0, 1, 0}, 5000.0, 60.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto pass = Sine(c.passHz, kRate / 2);
        auto stop = Sine(c.stopHz, kRate / 2);
        ApplyFiveBandEq(pass.data(), static_cast<int>(pass.size()), kRate, c.gains);
        ApplyFiveBandEq(stop.data(), static_cast<int>(stop.size()), kRate, c.gains);
        EXPECT_GT(test::Rms(pass, 4800, pass.size()), 3.0 * test::Rms(stop, 4800, stop.size()));
    }
}

TEST(FiveBandEq, FiltersStartAtRestOnEveryCall) {
    const float gains[5] = {0, 0, 0, 0, 1};
    auto first = Sine(100.0, 480);
    auto second = first;
    ApplyFiveBandEq(first.data(), 480, kRate, gains);
    ApplyFiveBandEq(second.data(), 480, kRate, gains);
    EXPECT_EQ(first, second);
    ApplyFiveBandEq(nullptr, 0, kRate, gains);  // 0 frames: nothing to touch
}

TEST(Sanitize, NonFiniteBecomeZeroAndTheRestIsClamped) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1.5f, -1.5f, 0.25f, 1.0f, -1.0f};
    SanitizeSamples(v.data(), static_cast<int>(v.size()));
    EXPECT_EQ(v, (std::vector<float>{0, 0, 0, 1, -1, 0.25f, 1, -1}));
}

TEST(PanLaw, ConstantPowerPositions) {
    constexpr float kHalfPi = 1.5707964f;
    struct Case {
        const char* name;
        float angle, halfWidth;
        bool stereo;
        float amount;
        float ll, lr, rl, rr;
    };
    const Case cases[] = {
        {"mono centre", 0, 0, false, 1, 0.70710677f, 0.70710677f, 0, 0},
        {"mono full left", kHalfPi, 0, false, 1, 1, 0, 0, 0},
        {"mono full right", -kHalfPi, 0, false, 1, 0, 1, 0, 0},
        {"mono beyond left is clamped", 3.0f, 0, false, 1, 1, 0, 0, 0},
        {"amount 0 centres a mono source", kHalfPi, 0, false, 0, 0.70710677f, 0.70710677f, 0, 0},
        {"amount above 1 is clamped", kHalfPi, 0, false, 4, 1, 0, 0, 0},
        {"stereo centre, narrow", 0, 0.2f, true, 1, 1, 0, 0, 1},
        {"stereo centre, wide", 0, 3.0f, true, 0.5f, 1, 0, 0, 1},
        {"stereo centre, no amount", 0, 1.0f, true, 0, 1, 0, 0, 1},
        // Both inputs move left; the left one is already at the edge, the
        // right one goes from full right to half way (p = -0.5).
        {"stereo half left", kHalfPi / 2, 0, true, 1, 1, 0, 0.38268343f, 0.9238795f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        float ll = -1, lr = -1, rl = -1, rr = -1;
        ComputePanGains(c.angle, c.halfWidth, c.stereo, c.amount, ll, lr, rl, rr);
        EXPECT_NEAR(ll, c.ll, 1e-6f);
        EXPECT_NEAR(lr, c.lr, 1e-6f);
        EXPECT_NEAR(rl, c.rl, 1e-6f);
        EXPECT_NEAR(rr, c.rr, 1e-6f);
        EXPECT_NEAR(ll * ll + lr * lr, 1.0f, 1e-6f);  // constant power
    }
}

}  // namespace
}  // namespace korvel
