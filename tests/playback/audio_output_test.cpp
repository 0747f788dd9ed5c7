#include "playback/audio_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/sound_server.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::PrivateSoundServer;
using test::ScopedEnv;

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


// [SECTION] The device, through a private sound server


// A render function the device pulls: counts the frames it was asked for.
struct CountingSource {
    std::atomic<std::uint64_t> frames{0};
    AudioRenderFunction Function() {
        return [this](float* left, float* right, std::uint32_t n) {
            std::fill(left, left + n, 0.0f);
            std::fill(right, right + n, 0.0f);
            frames.fetch_add(n, std::memory_order_relaxed);
        };
    }
    // True once the device has pulled more frames than `after`.
    bool PulledPast(std::uint64_t after, double seconds = 5.0) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (frames.load() > after) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

class AudioDevice : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!server.Start(why)) GTEST_SKIP() << "no private sound server: " << why;
    }
    void TearDown() override { ShutDownAudioOutput(output); }

    // Waits until the stream has reported a failure or stopped.
    bool StreamFails(double seconds = 5.0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (output.streamFailed.load()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    PrivateSoundServer server;
    AudioOutput output;
    CountingSource source;
    std::atomic<bool> playing{true};
};

TEST_F(AudioDevice, ListsStereoOutputsOnlyAndOpensTheDefault) {
    ASSERT_GE(server.LoadNullSink("Main"), 0);
    ASSERT_GE(server.LoadNullSink("Mono", 1), 0);
    ASSERT_GE(server.LoadNullSink("Spare"), 0);
    ASSERT_TRUE(server.SetDefaultSink("Main"));

    StartAudioOutput(output, source.Function(), &playing, 48000);
    ASSERT_TRUE(output.open) << output.statusText;
    EXPECT_TRUE(output.statusText.empty());
    // The monitors and the one-channel sink are not outputs we can use.
    std::vector<std::string> names;
    for (const AudioDeviceEntry& d : output.devices) names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Main", "Spare"}));
    ASSERT_LT(static_cast<std::size_t>(output.selectedDevice), output.devices.size());
    const AudioDeviceEntry& selected = output.devices[output.selectedDevice];
    EXPECT_EQ(selected.name, "Main");
    EXPECT_TRUE(selected.isDefault);
    EXPECT_EQ(selected.id, output.deviceId);
    EXPECT_EQ(output.requestedRate, 48000u);
    EXPECT_EQ(output.actualRate, 48000u);
    EXPECT_TRUE(source.PulledPast(0)) << "the stream runs and pulls the render function";
}

TEST_F(AudioDevice, ReopensAtAnotherRateWithThePlayingFlagKeptAndStops) {
    ASSERT_GE(server.LoadNullSink("Main"), 0);
    StartAudioOutput(output, source.Function(), &playing, 44100);
    ASSERT_TRUE(output.open) << output.statusText;
    EXPECT_EQ(output.actualRate, 44100u);
    ASSERT_TRUE(source.PulledPast(0));

    struct Case {
        std::uint32_t rate, actual;
    };
    // 88,200 is not among the server's rates: its preferred rate is taken
    // and the output converts.
    const Case cases[] = {{96000, 96000}, {88200, 48000}, {44100, 44100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        SetOutputSampleRate(output, c.rate);
        EXPECT_TRUE(output.open);
        EXPECT_TRUE(playing.load()) << "the transport is restored after the reopen";
        EXPECT_EQ(output.requestedRate, c.rate);
        EXPECT_EQ(output.actualRate, c.actual);
        EXPECT_TRUE(source.PulledPast(source.frames.load()));
    }

    ShutDownAudioOutput(output);
    EXPECT_FALSE(output.open);
    EXPECT_EQ(output.rtaudio, nullptr);
    const std::uint64_t after = source.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(source.frames.load(), after) << "nothing pulls after the shutdown";
}

TEST_F(AudioDevice, AStreamTheServerMovesIsLeftAlone) {
    const int main = server.LoadNullSink("Main");
    ASSERT_GE(main, 0);
    ASSERT_GE(server.LoadNullSink("Spare"), 0);
    ASSERT_TRUE(server.SetDefaultSink("Main"));
    StartAudioOutput(output, source.Function(), &playing, 48000);
    ASSERT_TRUE(output.open) << output.statusText;

    // The server moves the stream to the other sink: it never stops.
    ASSERT_TRUE(server.Unload(main));
    ASSERT_TRUE(source.PulledPast(source.frames.load()));
    RecoverAudioDevice(output);
    EXPECT_TRUE(output.open);
    EXPECT_TRUE(output.statusText.empty());
    EXPECT_FALSE(output.streamFailed.load());
}

TEST_F(AudioDevice, AVanishedServerIsReopenedWhenItComesBack) {
    ASSERT_GE(server.LoadNullSink("Main"), 0);
    StartAudioOutput(output, source.Function(), &playing, 48000);
    ASSERT_TRUE(output.open) << output.statusText;
    ASSERT_TRUE(source.PulledPast(0));

    server.Stop();
    ASSERT_TRUE(StreamFails()) << "the library only warns; the warning marks the stream failed";
    // The failed stream may keep calling back: silence, no rendering.
    const std::uint64_t frozen = source.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(source.frames.load(), frozen);

    std::string why;
    ASSERT_TRUE(server.Start(why)) << why;
    ASSERT_GE(server.LoadNullSink("Again"), 0);
    RecoverAudioDevice(output);
    EXPECT_EQ(output.statusText, "Audio device disconnected \u2014 switched to default");
    EXPECT_TRUE(output.open);
    EXPECT_FALSE(output.streamFailed.load());
    EXPECT_EQ(output.requestedRate, 48000u);
    ASSERT_LT(static_cast<std::size_t>(output.selectedDevice), output.devices.size());
    EXPECT_EQ(output.devices[output.selectedDevice].name, "Again");
    EXPECT_EQ(output.devices[output.selectedDevice].id, output.deviceId);
    EXPECT_TRUE(source.PulledPast(frozen)) << "the new stream plays";
}

TEST_F(AudioDevice, ALostServerLeavesTheOutputClosedUntilSomethingReopens) {
    ASSERT_GE(server.LoadNullSink("Main"), 0);
    StartAudioOutput(output, source.Function(), &playing, 48000);
    ASSERT_TRUE(output.open) << output.statusText;
    ASSERT_TRUE(source.PulledPast(0));

    server.Stop();
    ASSERT_TRUE(StreamFails());
    RecoverAudioDevice(output);
    EXPECT_EQ(output.statusText, "Audio device lost \u2014 could not reopen");
    EXPECT_FALSE(output.open);

    // The check stays quiet while the output is closed, even with a server back.
    std::string why;
    ASSERT_TRUE(server.Start(why)) << why;
    ASSERT_GE(server.LoadNullSink("Back"), 0);
    output.statusText.clear();
    RecoverAudioDevice(output);
    EXPECT_TRUE(output.statusText.empty());
    EXPECT_FALSE(output.open);

    // The settings view's way back: list the devices and pick one.
    RefreshOutputDevices(output);
    ASSERT_EQ(output.devices.size(), 1u);
    ASSERT_TRUE(OpenOutputStream(output, output.devices[0].id, output.requestedRate));
    EXPECT_TRUE(output.open);
    EXPECT_TRUE(source.PulledPast(source.frames.load()));
}

// Every query of the audio library's PulseAudio back end crashes on a
// server without a sink; such a server reads as one with no device.
TEST_F(AudioDevice, AServerWithoutASinkHasNoDevice) {
    StartAudioOutput(output, source.Function(), &playing, 48000);
    EXPECT_FALSE(output.open);
    EXPECT_EQ(output.statusText, "Could not open audio device");
    EXPECT_TRUE(output.devices.empty());

    const int module = server.LoadNullSink("Main");
    ASSERT_GE(module, 0);
    RefreshOutputDevices(output);
    ASSERT_EQ(output.devices.size(), 1u);
    ASSERT_TRUE(OpenOutputStream(output, output.devices[0].id, 48000));
    ASSERT_TRUE(source.PulledPast(0));

    // The last sink goes: the stream has nowhere to move and dies.
    ASSERT_TRUE(server.Unload(module));
    ASSERT_TRUE(StreamFails());
    RecoverAudioDevice(output);
    EXPECT_EQ(output.statusText, "Audio device lost \u2014 could not reopen");
    EXPECT_FALSE(output.open);
    EXPECT_TRUE(output.devices.empty());
}

TEST(AudioDeviceAbsent, WithoutASoundServerTheOutputStaysClosedAndSaysSo) {
    test::TempDir dir;
    ScopedEnv server("PULSE_SERVER", "unix:" + dir.file("absent.sock"));
    // An empty ALSA configuration: no card is found even on a machine with one.
    test::WriteBytes(dir.file("asound.conf"), "");
    ScopedEnv alsa("ALSA_CONFIG_PATH", dir.file("asound.conf"));

    AudioOutput output;
    CountingSource source;
    std::atomic<bool> playing{true};
    StartAudioOutput(output, source.Function(), &playing, 48000);
    EXPECT_FALSE(output.open);
    EXPECT_EQ(output.statusText, "Could not open audio device");

    output.statusText.clear();
    RecoverAudioDevice(output);
    EXPECT_TRUE(output.statusText.empty()) << "a closed output is not checked";
    SetOutputSampleRate(output, 44100);
    EXPECT_FALSE(output.open);
    EXPECT_TRUE(playing.load()) << "the transport is restored when the reopen fails";
    EXPECT_FALSE(OpenOutputStream(output, 0, 48000));
    EXPECT_EQ(source.frames.load(), 0u);
    ShutDownAudioOutput(output);
    EXPECT_EQ(output.rtaudio, nullptr);
}

}  // namespace
}  // namespace korvel
