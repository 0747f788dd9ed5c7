#include "dsp/pitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace korvel {
namespace {

constexpr float kRate = 48000.0f;

std::vector<float> Tone(double hz, int count, int harmonics = 1) {
    std::vector<float> v(count, 0.0f);
    for (int h = 1; h <= harmonics; ++h)
        for (int i = 0; i < count; ++i)
            v[i] += static_cast<float>(0.5 / h * std::sin(2.0 * M_PI * hz * h * i / kRate));
    return v;
}

TEST(PitchYin, KnownTones) {
    struct Case {
        const char* name;
        double hz;
        int count;
        float expected, tolerance;
    };
    const Case cases[] = {
        // The parabolic step must move toward the true lag: the wrong sign
        // reads 220.4 Hz here.
        {"1 kHz", 1000.0, 2048, 1000.0f, 0.5f},
        {"220 Hz", 220.0, 2048, 220.0f, 0.1f},
        {"440 Hz", 440.0, 4096, 440.0f, 0.1f},
        {"35 Hz needs a long window", 35.0, 8192, 35.0f, 0.2f},
        {"harmonic-rich 110 Hz", 110.0, 4096, 110.0f, 0.5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tone = Tone(c.hz, c.count, c.name[0] == 'h' ? 6 : 1);
        float confidence = -1.0f;
        EXPECT_NEAR(EstimatePitchYin(tone.data(), c.count, kRate, confidence), c.expected, c.tolerance);
        EXPECT_GT(confidence, 0.95f);
        EXPECT_LE(confidence, 1.0f);
    }
}

TEST(PitchYin, NoPitchGivesZeroWithZeroConfidence) {
    struct Case {
        const char* name;
        std::vector<float> samples;
    };
    std::vector<float> noise(4096);
    unsigned seed = 5;
    for (auto& x : noise) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<float>((seed >> 9) & 0xFFFF) / 32768.0f - 1.0f;
    }
    const Case cases[] = {
        {"silence", std::vector<float>(2048, 0.0f)},
        {"too short (W = 50)", Tone(1000.0, 100)},
        {"white noise", noise},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        float confidence = -1.0f;
        EXPECT_EQ(EstimatePitchYin(c.samples.data(), static_cast<int>(c.samples.size()), kRate, confidence), 0.0f);
        EXPECT_EQ(confidence, 0.0f);
        confidence = -1.0f;
        EXPECT_EQ(DetectPitch(c.samples.data(), static_cast<int>(c.samples.size()), kRate, confidence), 0.0f);
        EXPECT_EQ(confidence, 0.0f);
    }
}

TEST(PitchYin, LagRangeEndsBelowHalfTheWindow) {
    // 2,048 samples reach down to 48000 / 1022 = 47 Hz only: a 35 Hz tone's
    // period lies outside the searched lags.
    const auto tone = Tone(35.0, 2048);
    float confidence = 0.0f;
    const float hz = EstimatePitchYin(tone.data(), 2048, kRate, confidence);
    EXPECT_TRUE(hz == 0.0f || hz >= 47.0f) << hz;
}

TEST(PitchRefined, SpectrumRefinesTheEstimate) {
    // Known tones land within 0.05 %; an interpolation step of the wrong
    // sign pushes them away from the peak (998.1 Hz for 1 kHz).
    struct Case {
        const char* name;
        double hz;
        int count;
        int harmonics;
    };
    const Case cases[] = {
        {"pure 220 Hz, short window", 220.0, 2048, 1}, {"pure 220 Hz", 220.0, 8192, 1},
        {"harmonic-rich 220 Hz", 220.0, 8192, 6},      {"pure 440 Hz, short window", 440.0, 2048, 1},
        {"pure 440 Hz", 440.0, 8192, 1},               {"pure 1 kHz, short window", 1000.0, 2048, 1},
        {"pure 1 kHz", 1000.0, 8192, 1},               {"pure 3 kHz, short window", 3000.0, 2048, 1},
        {"pure 3 kHz", 3000.0, 8192, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tone = Tone(c.hz, c.count, c.harmonics);
        float yinConfidence = 0.0f, confidence = 0.0f;
        EstimatePitchYin(tone.data(), c.count, kRate, yinConfidence);
        EXPECT_NEAR(DetectPitch(tone.data(), c.count, kRate, confidence), c.hz, c.hz * 0.0005);
        EXPECT_GE(confidence, yinConfidence);
        EXPECT_LE(confidence, 1.0f);
    }
}

TEST(PitchRefined, AgreeingHarmonicsRaiseTheConfidence) {
    // Noise lowers the YIN confidence below 0.86; harmonics 2 to 6 all agree,
    // so the bonus is the full 0.15 and the total is capped at 1.
    auto tone = Tone(220.0, 8192, 6);
    unsigned seed = 3;
    for (auto& x : tone) {
        seed = seed * 1103515245u + 12345u;
        x += static_cast<float>(0.3 * (((seed >> 9) & 0xFFFF) / 32768.0 - 1.0));
    }
    float yinConfidence = 0.0f, confidence = 0.0f;
    EXPECT_NEAR(EstimatePitchYin(tone.data(), 8192, kRate, yinConfidence), 220.0f, 5.0f);
    ASSERT_LT(yinConfidence, 0.86f);
    ASSERT_GT(yinConfidence, 0.85f);
    EXPECT_NEAR(DetectPitch(tone.data(), 8192, kRate, confidence), 220.0f, 1.0f);
    EXPECT_EQ(confidence, 1.0f);
}

TEST(SpectralPeak, InterpolatesTheStrongestBinNearTheTarget) {
    PitchSpectrum spectrum;
    spectrum.binHz = 2.0f;
    spectrum.magnitudes.assign(8193, 0.0f);
    struct Case {
        const char* name;
        float target, width, expected;
    };
    spectrum.magnitudes[100] = 1.0f;
    spectrum.magnitudes[99] = 0.5f;
    spectrum.magnitudes[101] = 0.25f;
    spectrum.magnitudes[300] = 2.0f;
    spectrum.magnitudes[302] = 2.0f;  // a tie: the first bin wins
    const Case cases[] = {
        // The larger left neighbour pulls the vertex below bin 100.
        {"peak leaning left", 200.0f, 0.06f, 2.0f * (100.0f + (0.25f - 0.5f) / (2.0f * 1.25f))},
        {"target beside the peak", 204.0f, 0.02f, 2.0f * (100.0f + (0.25f - 0.5f) / (2.0f * 1.25f))},
        {"silent neighbourhood", 1000.0f, 0.03f, 0.0f},
        {"tie", 602.0f, 0.01f, 600.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(FindSpectralPeak(spectrum, c.target, c.width), c.expected);
    }
}

}  // namespace
}  // namespace korvel
