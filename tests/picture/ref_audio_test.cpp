#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "picture/ref_audio.h"
#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

using test::TempDir;
using test::TestVideoSpec;

struct NullSink : VideoFrameSink {
    unsigned long CreateTarget(int, int) override { return 0; }
    void ReleaseTarget() override {}
    void Upload(const std::uint8_t*, int, int) override {}
    void* View() override { return this; }
};

// Publishes `frames` stereo frames: left k, right -k.
std::shared_ptr<VideoRefAudio> Ramp(std::size_t frames) {
    auto record = std::make_shared<VideoRefAudio>();
    for (std::size_t k = 0; k < frames; ++k) {
        record->samples.push_back(static_cast<std::int16_t>(k));
        record->samples.push_back(static_cast<std::int16_t>(-static_cast<int>(k)));
    }
    record->frameCount = frames;
    return record;
}

class RefAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        player.device = &sink;
        SetRefAudioGain(1.0f);
    }
    void TearDown() override {
        player.Close();
        ClearRefAudio();
        RefAudioCapBytes = kRefAudioCapBytes;
        SetRefAudioGain(1.0f);
        EXPECT_TRUE(RefAudioWorker.retired.empty());
    }
    std::string Write(const std::string& name, const TestVideoSpec& spec) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::WriteTestVideo(path, spec));
        return path;
    }
    // Loads and waits for the sound; returns what the worker printed.
    std::string LoadAndWait(const std::string& path) {
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(player.Load(path.c_str()));
        WaitRefAudio();
        return ::testing::internal::GetCapturedStdout();
    }

    TempDir dir;
    NullSink sink;
    VideoPlayer player;
};

TEST_F(RefAudioTest, VideoWithoutSoundPublishesNothing) {
    TestVideoSpec spec;
    const std::string out = LoadAndWait(Write("silent.mkv", spec));
    EXPECT_EQ(CurrentRefAudio.load(), nullptr);
    EXPECT_EQ(out.find("reference audio"), std::string::npos);
}

TEST_F(RefAudioTest, SoundIsDecodedTo48kStereoAndClearedOnClose) {
    struct Case {
        int rate;
        int channels;
    } cases[] = {{48000, 2}, {44100, 1}, {22050, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        TestVideoSpec spec;
        spec.frames = 20;  // 2 s
        spec.toneRate = c.rate;
        spec.toneChannels = c.channels;
        const std::string path = Write("tone.mkv", spec);
        const std::string out = LoadAndWait(path);
        EXPECT_NE(out.find("[Video] reference audio: 2.0s stereo 48kHz (" + path + ")\n"), std::string::npos) << out;
        const auto audio = CurrentRefAudio.load();
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->sampleRate, 48000);
        EXPECT_EQ(audio->samples.size(), audio->frameCount * 2);
        EXPECT_NEAR(static_cast<double>(audio->frameCount), 96000.0, 100.0);
        // A 440 Hz tone: both channels carry it at about its level.
        int peak = 0;
        for (std::size_t i = 4800; i < 9600; ++i) {
            peak = std::max(peak, std::abs(static_cast<int>(audio->samples[2 * i])));
            EXPECT_NEAR(audio->samples[2 * i], audio->samples[2 * i + 1], 2);
        }
        EXPECT_GT(peak, 3000);
        player.Close();
        EXPECT_EQ(CurrentRefAudio.load(), nullptr);
    }
}

TEST_F(RefAudioTest, TheCapStopsDecodingOnceWithItsLine) {
    RefAudioCapBytes = 48000 * 4;  // one second
    TestVideoSpec spec;
    spec.frames = 30;
    spec.toneRate = 48000;
    const std::string path = Write("long.mkv", spec);
    const std::string out = LoadAndWait(path);
    const std::string line = "[Video] reference audio capped at 60 min (" + path + ")\n";
    ASSERT_NE(out.find(line), std::string::npos) << out;
    EXPECT_EQ(out.find(line, out.find(line) + 1), std::string::npos);  // once
    const auto audio = CurrentRefAudio.load();
    ASSERT_NE(audio, nullptr);
    EXPECT_GE(audio->frameCount, 48000u);
    EXPECT_LT(audio->frameCount, 48000u + 4096u);  // at most one decoded frame past it
}

TEST_F(RefAudioTest, MixAddsInterpolatedSoundOnlyWithinTheTrack) {
    CurrentRefAudio.store(Ramp(1000));
    struct Case {
        const char* name;
        double seconds;
        int outRate;
        float gain;
        float first;  // expected left value added at the first output frame; NaN = nothing added anywhere
        float second;
    } cases[] = {
        {"equal rates add the samples unchanged", 100.0 / 48000, 48000, 1.0f, 100.0f, 101.0f},
        {"gain scales", 100.0 / 48000, 48000, 0.5f, 50.0f, 50.5f},
        {"44.1 kHz output steps 48000/44100", 100.0 / 48000, 44100, 1.0f, 100.0f, 100.0f + 48000.0f / 44100.0f},
        {"half-way between two frames", 100.5 / 48000, 48000, 1.0f, 100.5f, 101.5f},
        {"gain 0.00005 mutes", 100.0 / 48000, 48000, 0.00005f, NAN, NAN},
        {"gain 0.0002 does not", 100.0 / 48000, 48000, 0.0002f, 0.02f, 0.0202f},
        {"a block before the video adds nothing", -1.0, 48000, 1.0f, NAN, NAN},
        {"a block past the end adds nothing", 1.0, 48000, 1.0f, NAN, NAN},
        {"no output rate", 0.0, 0, 1.0f, NAN, NAN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetRefAudioGain(c.gain);
        std::vector<float> left(8, 1.0f), right(8, 1.0f);
        MixRefAudio(left.data(), right.data(), 8, c.seconds, c.outRate);
        if (std::isnan(c.first)) {
            for (int i = 0; i < 8; ++i) {
                EXPECT_EQ(left[i], 1.0f);
                EXPECT_EQ(right[i], 1.0f);
            }
            continue;
        }
        const float unit = 1.0f / 32768.0f;
        EXPECT_NEAR(left[0], 1.0f + c.first * unit, 1e-6f);
        EXPECT_NEAR(left[1], 1.0f + c.second * unit, 1e-6f);
        EXPECT_NEAR(right[0], 1.0f - c.first * unit, 1e-6f);  // added to what was there
    }
}

TEST_F(RefAudioTest, MixStopsAtTheLastFramePair) {
    CurrentRefAudio.store(Ramp(10));
    std::vector<float> left(16, 0.0f), right(16, 0.0f);
    MixRefAudio(left.data(), right.data(), 16, 0.0, 48000);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(left[i], i / 32768.0f, 1e-7f) << i;
    for (int i = 9; i < 16; ++i) EXPECT_EQ(left[i], 0.0f) << i;
}

TEST_F(RefAudioTest, OutputHookReadsAtTheVideosTimelineOffset) {
    CurrentRefAudio.store(Ramp(48000));
    player.timelineOffset = 10.0f;
    GlobalVideoPlayer.timelineOffset = 10.0f;
    std::vector<float> left(2, 0.0f), right(2, 0.0f);
    RefAudioOutputHook(left.data(), right.data(), 2, 10.0 + 200.0 / 48000, 48000);
    GlobalVideoPlayer.timelineOffset = 0.0f;
    EXPECT_NEAR(left[0], 200.0f / 32768.0f, 1e-6f);
}

TEST_F(RefAudioTest, AReplacedTrackIsFreedOnTheUiThreadNotByTheBlockReadingIt) {
    CurrentRefAudio.store(Ramp(100));
    // The audio thread is in the middle of a block with its copy.
    std::shared_ptr<const VideoRefAudio> block = CurrentRefAudio.load();
    ClearRefAudio();
    EXPECT_EQ(CurrentRefAudio.load(), nullptr);
    ASSERT_EQ(RefAudioWorker.retired.size(), 1u);
    block.reset();  // the block ends: its reference was not the last one
    EXPECT_EQ(RefAudioWorker.retired.front().use_count(), 1);
    player.Tick();  // the UI thread's next frame frees it
    EXPECT_TRUE(RefAudioWorker.retired.empty());
}

TEST_F(RefAudioTest, LoadsWhileTheAudioThreadMixes) {
    TestVideoSpec spec;
    spec.frames = 10;
    spec.toneRate = 48000;
    const std::string path = Write("tone.mkv", spec);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> left(256), right(256);
        double t = 0.0;
        while (!stop.load()) {
            MixRefAudio(left.data(), right.data(), 256, t, 44100);
            t = t > 0.9 ? 0.0 : t + 256.0 / 44100;
        }
    });
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(player.Load(path.c_str()));
        if (i % 2 == 0) WaitRefAudio();
        player.Tick();
    }
    ::testing::internal::GetCapturedStdout();
    stop.store(true);
    audio.join();
    player.Close();
    EXPECT_EQ(CurrentRefAudio.load(), nullptr);
}

}  // namespace
}  // namespace korvel
