#include "playback/audio_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace korvel {
namespace {

TEST(AudioOutput, StreamRateChoice) {
    struct Case {
        std::vector<std::uint32_t> rates;
        std::uint32_t preferred, requested, want;
    };
    const Case cases[] = {
        {{44100, 48000}, 48000, 48000, 48000},  // listed: taken as it is
        {{44100}, 44100, 48000, 44100},         // the preferred rate
        {{44100, 96000}, 0, 48000, 96000},      // the last listed
        {{}, 0, 48000, 48000},                  // nothing known: as asked
        // The sound server's list: 88,200 is missing, its preferred rate is 48,000.
        {{8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000}, 48000, 88200, 48000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseStreamRate(c.rates, c.preferred, c.requested), c.want) << c.requested;
}

// A render function that plays a sine at requestedRate and counts what it
// was asked for.
struct SineSource {
    double frequency = 1000.0;
    double rate = 48000.0;
    std::uint64_t rendered = 0;
    std::uint32_t largestRequest = 0;
    void Render(float* left, float* right, std::uint32_t frames) {
        largestRequest = std::max(largestRequest, frames);
        for (std::uint32_t k = 0; k < frames; ++k) {
            const double t = static_cast<double>(rendered + k) / rate;
            left[k] = static_cast<float>(std::sin(2.0 * M_PI * frequency * t));
            right[k] = -left[k];
        }
        rendered += frames;
    }
};

std::unique_ptr<AudioOutput> MakeOutput(SineSource& source, std::uint32_t requested, std::uint32_t actual) {
    auto output = std::make_unique<AudioOutput>();
    output->render = [&source](float* l, float* r, std::uint32_t n) { source.Render(l, r, n); };
    PrepareOutputBuffers(*output, requested, actual);
    return output;
}

TEST(AudioOutput, DifferentRatesRenderWhatTheDeviceConsumesAndStayContinuous) {
    SineSource source;
    auto output = MakeOutput(source, 48000, 44100);
    const float* buffer = output->bufL.data();
    constexpr std::uint32_t kFrames = 512;
    constexpr int kCallbacks = 2000;
    const double ratio = 48000.0 / 44100.0;
    std::vector<float> out(2 * kFrames);
    double worst = 0.0;
    for (int c = 0; c < kCallbacks; ++c) {
        OutputStreamCallback(out.data(), nullptr, kFrames, 0.0, 0, output.get());
        for (std::uint32_t k = 0; k < kFrames; ++k) {
            // Output frame j sits j × ratio frames into the source.
            const double j = static_cast<double>(c) * kFrames + k;
            const double want = std::sin(2.0 * M_PI * 1000.0 * j * ratio / 48000.0);
            worst = std::max(worst, std::fabs(out[2 * k] - want));
            ASSERT_FLOAT_EQ(out[2 * k + 1], -out[2 * k]);
        }
        const double consumed = (static_cast<double>(c) + 1) * kFrames * ratio;
        ASSERT_LE(std::fabs(static_cast<double>(source.rendered) - consumed), 4.0) << "callback " << c;
    }
    EXPECT_LT(worst, 2e-3) << "a click or a drift across callbacks";
    EXPECT_EQ(output->bufL.data(), buffer) << "the callback never reallocates";
}

TEST(AudioOutput, LongCallbacksAreRenderedInPiecesAtEitherRate) {
    for (std::uint32_t actual : {48000u, 32000u}) {
        SineSource source;
        auto output = MakeOutput(source, 48000, actual);
        const std::size_t capacity = output->bufL.size();
        std::vector<float> out(2 * 10000);
        OutputStreamCallback(out.data(), nullptr, 10000, 0.0, 0, output.get());
        EXPECT_LE(source.largestRequest, capacity) << actual;
        EXPECT_EQ(output->bufL.size(), capacity);
        const double ratio = 48000.0 / actual;
        for (std::uint32_t k = 0; k < 10000; k += 997)
            EXPECT_NEAR(out[2 * k], std::sin(2.0 * M_PI * 1000.0 * k * ratio / 48000.0), 3e-3) << actual << " " << k;
    }
}

TEST(AudioOutput, SilenceWithoutARenderFunctionOrAfterTheStreamFailed) {
    SineSource source;
    auto output = MakeOutput(source, 48000, 48000);
    std::vector<float> out(2 * 256, 1.0f);
    output->streamFailed.store(true);
    OutputStreamCallback(out.data(), nullptr, 256, 0.0, 0, output.get());
    for (float v : out) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(source.rendered, 0u);

    AudioOutput empty;
    std::fill(out.begin(), out.end(), 1.0f);
    OutputStreamCallback(out.data(), nullptr, 256, 0.0, 0, &empty);
    for (float v : out) ASSERT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace korvel
