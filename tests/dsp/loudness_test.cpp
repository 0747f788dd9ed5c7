#include "dsp/loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/audio_fixture.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;

std::vector<float> Sine(double seconds, double amplitude, double hz = 997.0, int rate = kRate) {
    return test::MakeSine(hz, seconds, rate, 1, amplitude);
}

TEST(KWeighting, MatchesTheStandardFiltersAt48k) {
    BiquadCoefficients shelf, highPass;
    DesignKWeighting(kRate, shelf, highPass);
    // The coefficients tabulated in ITU-R BS.1770 for 48 kHz; the shelf's
    // gain here is a round 4 dB, a hair above the standard's 3.99984 dB.
    EXPECT_NEAR(shelf.b0, 1.53512485958697, 1e-4);
    EXPECT_NEAR(shelf.b1, -2.69169618940638, 1e-4);
    EXPECT_NEAR(shelf.b2, 1.19839281085285, 1e-4);
    EXPECT_NEAR(shelf.a1, -1.69065929318241, 1e-9);
    EXPECT_NEAR(shelf.a2, 0.73248077421585, 1e-9);
    EXPECT_NEAR(highPass.a1, -1.99004745483398, 1e-9);
    EXPECT_NEAR(highPass.a2, 0.99007225036621, 1e-9);
    // Numerator divided by a0, not the plain 1, -2, 1.
    EXPECT_NEAR(highPass.b0, 0.995, 0.001);
    EXPECT_DOUBLE_EQ(highPass.b1, -2.0 * highPass.b0);
    EXPECT_DOUBLE_EQ(highPass.b2, highPass.b0);
}

TEST(Loudness, SineReferenceLevels) {
    struct Case {
        const char* name;
        double seconds, amplitude;
        bool stereo;
        float lufs;
    };
    const Case cases[] = {
        {"full scale, both channels", 2.0, 1.0, true, -0.04f},
        {"full scale, one channel", 2.0, 1.0, false, -3.05f},
        {"half scale, one channel", 2.0, 0.5, false, -9.07f},
        {"shorter than one block", 0.2, 1.0, true, -0.04f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto sine = Sine(c.seconds, c.amplitude);
        const float lufs = MeasureLoudness(sine.data(), c.stereo ? sine.data() : nullptr,
                                           static_cast<int>(sine.size()), kRate);
        EXPECT_NEAR(lufs, c.lufs, 0.01f);
    }
}

TEST(Loudness, NothingMeasurableIsMinus100) {
    const std::vector<float> silence(kRate, 0.0f);
    const auto whisper = Sine(2.0, 1e-4);  // about -83 LUFS
    const auto sine = Sine(1.0, 1.0);
    EXPECT_EQ(MeasureLoudness(silence.data(), silence.data(), kRate, kRate), -100.0f);
    EXPECT_EQ(MeasureLoudness(whisper.data(), whisper.data(), static_cast<int>(whisper.size()), kRate), -100.0f);
    EXPECT_EQ(MeasureLoudness(sine.data(), sine.data(), 0, kRate), -100.0f);
    EXPECT_EQ(MeasureLoudness(sine.data(), sine.data(), kRate, 0), -100.0f);
}

TEST(Loudness, QuietPassagesFallUnderTheRelativeGate) {
    const auto loud = Sine(1.0, 1.0);
    auto program = Sine(10.0, std::pow(10.0, -30.0 / 20.0));
    std::copy(loud.begin(), loud.end(), program.begin());
    const float alone = MeasureLoudness(loud.data(), loud.data(), static_cast<int>(loud.size()), kRate);
    const float gated = MeasureLoudness(program.data(), program.data(), static_cast<int>(program.size()), kRate);
    EXPECT_NEAR(gated, alone, 1.0f);
    // Without the relative gate the quiet nine seconds would pull it far down.
    EXPECT_GT(gated, alone - 1.0f);
}

TEST(Loudness, OtherSampleRatesAgree) {
    for (int rate : {44100, 96000}) {
        SCOPED_TRACE(rate);
        const auto sine = Sine(2.0, 1.0, 997.0, rate);
        const float lufs = MeasureLoudness(sine.data(), sine.data(), static_cast<int>(sine.size()), rate);
        EXPECT_NEAR(lufs, 0.0f, 0.1f);
    }
}

}  // namespace
}  // namespace korvel
