#include "dsp/pitch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
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

// The estimate written out the plain way: every lag's difference summed
// directly and the normalised curve computed whole before the search.
float DirectYin(const std::vector<float>& x, float rate, float& confidence) {
    confidence = 0;
    const int W = std::min<int>(static_cast<int>(x.size()), 8192) / 2;
    if (W < 64) return 0;
    std::vector<float> norm(W, 1.0f);
    float running = 0;
    for (int tau = 1; tau < W; ++tau) {
        float d = 0;
        for (int j = 0; j < W; ++j) d += (x[j] - x[j + tau]) * (x[j] - x[j + tau]);
        running += d;
        norm[tau] = running > 0 ? static_cast<float>(tau) * d / running : 1.0f;
    }
    const int lo = std::max(2, static_cast<int>(rate / 10000.0f));
    const int hi = std::min(static_cast<int>(rate / 30.0f), W - 1);
    int tau = -1;
    for (int t = lo; t < hi && tau < 0; ++t)
        if (norm[t] < 0.15f) tau = t;
    if (tau >= 0) {
        while (tau + 1 < hi && norm[tau + 1] < norm[tau]) ++tau;
    } else {
        float best = 1;
        for (int t = lo; t < hi; ++t)
            if (norm[t] < best) best = norm[tau = t];
        if (tau < 0 || best > 0.5f) return 0;
    }
    float refined = static_cast<float>(tau);
    const float a = norm[tau - 1], b = norm[tau], c = norm[tau + 1];
    const float v = 2 * b - c - a;
    if (std::fabs(2 * v) > 1e-9f) refined = static_cast<float>(tau) + (c - a) / (2 * v);
    confidence = 1 - std::clamp(b, 0.0f, 1.0f);
    return rate / refined;
}

// The estimate stops computing lags once its answer is settled; over tones,
// noise, silence and clipped signals it gives what the whole direct curve
// gives, within float rounding.
TEST(PitchYin, EqualsTheDirectSumOverEveryLag) {
    const auto noise = [](int count, double amplitude, uint32_t seed) {
        std::vector<float> x(count);
        for (float& v : x) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<float>(amplitude * (static_cast<int32_t>(seed) / 2147483648.0));
        }
        return x;
    };
    const auto clipped = [](std::vector<float> x, float limit) {
        for (float& v : x) v = std::clamp(v * 4.0f, -limit, limit);
        return x;
    };
    std::vector<float> toneInNoise = Tone(330.0, 2048);
    const std::vector<float> hiss = noise(2048, 0.2, 7);
    for (size_t i = 0; i < toneInNoise.size(); ++i) toneInNoise[i] += hiss[i];
    struct Case {
        std::string name;
        std::vector<float> x;
        float rate;
    };
    const Case cases[] = {
        {"1 kHz sine", Tone(1000.0, 2048), kRate},
        {"220 Hz sine", Tone(220.0, 2048), kRate},
        {"55 Hz with harmonics, long window", Tone(55.0, 8192, 6), kRate},
        {"3 kHz sine at 8 kHz", Tone(3000.0 * 6.0, 2048), 8000.0f},
        {"tone in noise", toneInNoise, kRate},
        {"white noise", noise(2048, 0.5, 1), kRate},
        {"quiet noise at 44.1 kHz", noise(4096, 1e-4, 99), 44100.0f},
        {"silence", std::vector<float>(2048, 0.0f), kRate},
        {"clipped 150 Hz", clipped(Tone(150.0, 2048), 1.0f), kRate},
        {"clipped 2 kHz square", clipped(Tone(2000.0, 2048), 0.25f), kRate},
        {"one impulse", [] { std::vector<float> x(2048, 0.0f); x[100] = 1.0f; return x; }(), kRate},
        {"lag range empty at 1 kHz", Tone(100.0, 2048), 1000.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float expectedConfidence = -1, confidence = -1;
        const float expected = DirectYin(c.x, c.rate, expectedConfidence);
        const float f0 = EstimatePitchYin(c.x.data(), static_cast<int>(c.x.size()), c.rate, confidence);
        EXPECT_NEAR(f0, expected, 1e-4f * std::max(1.0f, expected));
        EXPECT_NEAR(confidence, expectedConfidence, 1e-5f);
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
