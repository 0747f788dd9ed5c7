#include "dsp/reverb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace korvel {
namespace {

constexpr int kRate = 48000;

// The state is 1.4 MiB: keep it off the test thread's stack.
class ReverbTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_unique<ReverbState>();
        ResetReverb(*state, kRate);
    }

    // Runs `frames` frames, configuring once per 512-frame block as the mixer does.
    void Run(const std::vector<float>& left, const std::vector<float>& right, std::vector<float>& outL,
             std::vector<float>& outR, const ReverbSettings& settings, bool configure = true) {
        outL.assign(left.size(), 0.0f);
        outR.assign(right.size(), 0.0f);
        const int frames = static_cast<int>(left.size());
        for (int start = 0; start < frames; start += 512) {
            const int n = std::min(512, frames - start);
            if (configure) ConfigureReverb(*state, settings);
            ProcessReverb(*state, left.data() + start, right.data() + start, outL.data() + start,
                          outR.data() + start, n);
        }
    }

    void Settle(const ReverbSettings& settings, int frames = kRate) {
        std::vector<float> silence(frames, 0.0f), outL, outR;
        Run(silence, silence, outL, outR, settings);
    }

    std::unique_ptr<ReverbState> state;
};

std::vector<float> Noise(int frames, unsigned seed = 1) {
    std::vector<float> v(frames);
    for (auto& x : v) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<float>((seed >> 8) & 0xFFFF) / 32768.0f - 1.0f;
    }
    return v;
}

TEST_F(ReverbTest, ConfigurationGivesTheWorkedNetwork) {
    struct Case {
        const char* name;
        float size, decay;
        float feedback, outputGain;
    };
    const Case cases[] = {
        {"medium room", 0.5f, 0.5f, std::pow(10.0f, -3.0f * 0.12375f / 5.15f), 3.0f / std::sqrt(0.65f * 0.6f)},
        {"largest, longest", 1.0f, 1.0f, std::pow(10.0f, -3.0f * 0.225f / 10.0f), 3.0f},
        {"smallest gain is capped", 0.0f, 0.0f, std::pow(10.0f, -3.0f * 0.0225f / 0.3f), 5.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReverbSettings settings;
        settings.size = c.size;
        settings.decay = c.decay;
        EXPECT_NEAR(ConfigureReverb(*state, settings), c.outputGain, 1e-4f);
        EXPECT_NEAR(state->target.outputGain, c.outputGain, 1e-4f);
        EXPECT_NEAR(state->target.feedback, c.feedback, 1e-4f);
    }

    ReverbSettings medium;
    ConfigureReverb(*state, medium);
    EXPECT_NEAR(state->target.lineDelay[0], 3960.0f, 65.0f);
    EXPECT_NEAR(state->target.lineDelay[7], 7263.0f, 66.0f);
    for (int k = 1; k < 8; ++k) EXPECT_GT(state->target.lineDelay[k], state->target.lineDelay[k - 1]);
    EXPECT_NEAR(state->target.feedback, 0.847f, 0.001f);
    EXPECT_NEAR(state->target.outputGain, 4.80f, 0.01f);
}

TEST_F(ReverbTest, DiffuserDelaysFallInTheirEighthAndPolaritiesAreSigns) {
    ReverbSettings settings;
    ConfigureReverb(*state, settings);
    float ms = 130.0f * settings.size + 30.0f;
    for (int s = 0; s < 3; ++s) {
        ms /= 2.0f;
        const float h = ms * 0.001f * kRate;
        for (int o = 0; o < 8; ++o) {
            EXPECT_GE(state->target.diffuserDelay[s][o], o * h / 8.0f);
            EXPECT_LT(state->target.diffuserDelay[s][o], (o + 1) * h / 8.0f);
            EXPECT_EQ(std::abs(state->diffuserPolarity[s][o]), 1);
        }
    }
}

TEST_F(ReverbTest, PreDelayAndDampingLimits) {
    ReverbSettings settings;
    settings.preDelay = 0.5f;
    settings.damping = 0.0f;
    ConfigureReverb(*state, settings);
    EXPECT_EQ(state->target.preDelaySamples, 19199.0f);
    const float twoPi = 6.2831855f;
    EXPECT_NEAR(state->target.lineDamping, 1.0f - std::exp(-twoPi * 18000.0f / kRate), 1e-6f);
    EXPECT_NEAR(state->target.inputDamping, 1.0f - std::exp(-twoPi * 16000.0f / kRate), 1e-6f);

    settings.damping = 1.0f;
    ConfigureReverb(*state, settings);
    EXPECT_NEAR(state->target.lineDamping, 1.0f - std::exp(-twoPi * 543.6f / kRate), 1e-4f);
    EXPECT_NEAR(state->target.inputDamping, 1.0f - std::exp(-twoPi * 3570.0f / kRate), 1e-4f);
}

TEST_F(ReverbTest, SameSettingsGiveTheSameNetwork) {
    ReverbSettings settings;
    settings.size = 0.37f;
    ConfigureReverb(*state, settings);
    const ReverbParameters first = state->target;
    ConfigureReverb(*state, settings);
    EXPECT_EQ(std::memcmp(&first, &state->target, sizeof first), 0);
}

TEST_F(ReverbTest, NonFiniteControlsCountAsTheirDefaults) {
    // A NaN or infinite control would make delay lengths that the audio
    // thread cannot turn into whole samples.
    ReverbSettings defaults;
    ConfigureReverb(*state, defaults);
    const ReverbParameters expected = state->target;

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ReverbSettings broken;
    broken.size = inf;
    broken.decay = nan;
    broken.damping = -inf;
    broken.preDelay = nan;
    broken.diffusion = inf;
    broken.modulation = nan;
    ConfigureReverb(*state, broken);
    EXPECT_EQ(std::memcmp(&expected, &state->target, sizeof expected), 0);

    const auto noise = Noise(kRate / 10);
    std::vector<float> outL, outR;
    Run(noise, noise, outL, outR, broken);
    for (size_t i = 0; i < outL.size(); ++i) ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
}

TEST_F(ReverbTest, SilentBeforeTheFirstConfiguration) {
    const auto noise = Noise(4096);
    std::vector<float> outL, outR;
    Run(noise, noise, outL, outR, ReverbSettings{}, /*configure=*/false);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(outL[i], 0.0f) << i;
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(outR[i], 0.0f) << i;
}

TEST_F(ReverbTest, ClearedStateWithSilenceStaysExactlySilent) {
    ReverbSettings settings;
    const auto noise = Noise(kRate / 2);
    std::vector<float> outL, outR;
    Run(noise, noise, outL, outR, settings);
    ClearReverbState(*state);
    const std::vector<float> silence(kRate, 0.0f);
    Run(silence, silence, outL, outR, settings);
    for (int i = 0; i < kRate; ++i) {
        ASSERT_EQ(outL[i], 0.0f) << i;
        ASSERT_EQ(outR[i], 0.0f) << i;
    }
}

TEST_F(ReverbTest, NothingComesOutBeforeThePreDelayHasPassed) {
    ReverbSettings settings;
    settings.preDelay = 0.015f;  // 720 samples
    Settle(settings);            // let the pre-delay glide to its target
    ClearReverbState(*state);

    std::vector<float> impulse(4096, 0.0f);
    impulse[0] = 1.0f;
    std::vector<float> outL, outR;
    Run(impulse, impulse, outL, outR, settings);
    int first = -1;
    for (int i = 0; i < 4096 && first < 0; ++i)
        if (outL[i] != 0.0f || outR[i] != 0.0f) first = i;
    EXPECT_GE(first, 720);
    EXPECT_LT(first, 720 + 600);  // three short diffusion steps at most
}

TEST_F(ReverbTest, FirstSampleAfterAClearIsZeroWhateverTheInput) {
    ReverbSettings settings;
    settings.preDelay = 0.0f;
    Settle(settings);
    const auto noise = Noise(8192);
    std::vector<float> outL, outR;
    Run(noise, noise, outL, outR, settings);
    ClearReverbState(*state);
    const float loud[1] = {1.0f};
    float l = 1.0f, r = 1.0f;
    ProcessReverb(*state, loud, loud, &l, &r, 1);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(r, 0.0f);
}

TEST_F(ReverbTest, LeftImpulseReachesBothSides) {
    ReverbSettings settings;
    Settle(settings);
    std::vector<float> left(kRate, 0.0f), right(kRate, 0.0f), outL, outR;
    left[0] = 1.0f;
    Run(left, right, outL, outR, settings);
    double energyL = 0.0, energyR = 0.0;
    for (int i = 0; i < kRate; ++i) {
        energyL += outL[i] * outL[i];
        energyR += outR[i] * outR[i];
    }
    EXPECT_GT(energyL, 1e-6);
    EXPECT_GT(energyR, 1e-6);
}

TEST_F(ReverbTest, ConstantInputDecaysToZero) {
    ReverbSettings settings;
    const std::vector<float> dc(6 * kRate, 0.5f);
    std::vector<float> outL, outR;
    Run(dc, dc, outL, outR, settings);
    float early = 0.0f, late = 0.0f;
    for (int i = 0; i < kRate; ++i) early = std::max(early, std::fabs(outL[i]));
    for (size_t i = dc.size() - kRate / 10; i < dc.size(); ++i)
        late = std::max({late, std::fabs(outL[i]), std::fabs(outR[i])});
    EXPECT_GT(early, 0.01f);
    EXPECT_LT(late, early * 1e-3f);
}

// Without flushing, an impulse's tail decays into tens of thousands of
// subnormal values that stay in the lines for good: the output sticks near
// 1e-42 and every sample costs far more. Flushed, the tail reaches exact zero
// and the whole state is zero again.
TEST_F(ReverbTest, ALongSilentTailReachesExactZero) {
    ReverbSettings settings;
    std::vector<float> impulse(kRate, 0.0f);
    impulse[0] = 1.0f;
    std::vector<float> outL, outR;
    Run(impulse, impulse, outL, outR, settings);
    ASSERT_GT(*std::max_element(outL.begin(), outL.end()), 1e-4f);

    const std::vector<float> silence(100 * kRate, 0.0f);
    Run(silence, silence, outL, outR, settings);
    for (size_t i = silence.size() - kRate; i < silence.size(); ++i) {
        ASSERT_EQ(outL[i], 0.0f) << i;
        ASSERT_EQ(outR[i], 0.0f) << i;
    }
    size_t subnormal = 0, nonZero = 0;
    for (const auto& line : state->lines)
        for (const float v : line) {
            nonZero += v != 0.0f;
            subnormal += std::fpclassify(v) == FP_SUBNORMAL;
        }
    EXPECT_EQ(subnormal, 0u);
    EXPECT_EQ(nonZero, 0u);
}

TEST_F(ReverbTest, NonFiniteInputIsSilenceAndTheReverbKeepsWorking) {
    ReverbSettings settings;
    Settle(settings);
    auto left = Noise(kRate / 4, 7);
    auto right = Noise(kRate / 4, 9);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int i = 100; i < 200; ++i) left[i] = nan;
    right[300] = inf;
    right[301] = -inf;
    std::vector<float> outL, outR;
    Run(left, right, outL, outR, settings);
    for (size_t i = 0; i < outL.size(); ++i) {
        ASSERT_TRUE(std::isfinite(outL[i])) << i;
        ASSERT_TRUE(std::isfinite(outR[i])) << i;
    }
    for (const auto& line : state->lines)
        for (float v : line) ASSERT_FALSE(std::isnan(v));

    // A NaN kept in the input filter or the DC blocker would silence the
    // reverb from here on; a tone after it must still come out.
    std::vector<float> tone(kRate / 4);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * i / kRate);
    Run(tone, tone, outL, outR, settings);
    float loudest = 0.0f;
    for (size_t i = tone.size() / 2; i < tone.size(); ++i) {
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
        loudest = std::max({loudest, std::fabs(outL[i]), std::fabs(outR[i])});
    }
    EXPECT_GT(loudest, 0.01f);
}

TEST_F(ReverbTest, DiffusersInterpolateAgainWhileANewSizeGlides) {
    ReverbSettings settings;
    Settle(settings, 2 * kRate);
    EXPECT_TRUE(state->settled);
    for (const auto& step : state->diffuserDelayFraction)
        for (float f : step) EXPECT_EQ(f, 0.0f);

    settings.size = 0.9f;
    ConfigureReverb(*state, settings);
    std::vector<float> silence(32, 0.0f), outL(32), outR(32);
    ProcessReverb(*state, silence.data(), silence.data(), outL.data(), outR.data(), 32);
    EXPECT_FALSE(state->settled);
}

TEST_F(ReverbTest, WritePositionWrapsWithoutOverflow) {
    ReverbSettings settings;
    Settle(settings);
    // Close to the end of the 32-bit range, as after a day of playback.
    state->lineWrite = 0xFFFFFFE0u;
    const auto noise = Noise(128);
    std::vector<float> outL, outR;
    Run(noise, noise, outL, outR, settings);
    EXPECT_EQ(state->lineWrite, 0x60u);
    for (size_t i = 0; i < outL.size(); ++i) ASSERT_TRUE(std::isfinite(outL[i]));
}

TEST_F(ReverbTest, RequestsFromOtherThreadsApplyAtTheNextBlock) {
    ReverbSettings settings;
    const auto noise = Noise(kRate / 2);
    std::vector<float> outL, outR;
    Run(noise, noise, outL, outR, settings);

    ReverbRequests requests;
    EXPECT_FALSE(ApplyReverbRequests(*state, requests));

    RequestReverbClear(requests);
    // Until the audio thread takes the request, the tails are untouched.
    bool anyTail = false;
    for (float v : state->lines[0]) anyTail |= v != 0.0f;
    EXPECT_TRUE(anyTail);
    EXPECT_TRUE(ApplyReverbRequests(*state, requests));
    for (const auto& line : state->lines)
        for (float v : line) ASSERT_EQ(v, 0.0f);
    EXPECT_FALSE(ApplyReverbRequests(*state, requests));

    RequestReverbClear(requests);
    RequestReverbReset(requests, 44100);
    EXPECT_TRUE(ApplyReverbRequests(*state, requests));
    EXPECT_EQ(state->sampleRate, 44100);
    EXPECT_EQ(state->lineWrite, 0u);
    EXPECT_EQ(state->current.outputGain, 0.0f);
    EXPECT_FALSE(ApplyReverbRequests(*state, requests));
}

}  // namespace
}  // namespace korvel
