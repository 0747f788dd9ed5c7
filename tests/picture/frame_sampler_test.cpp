// Frame sampling over small generated videos: which frame each step gets,
// stopping, steps without a frame, and a read beside a player that seeks and
// plays at the same time.
#include "picture/frame_sampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

using test::TestVideoSpec;

// Keeps the frame index of the last picture uploaded.
struct IndexSink : VideoFrameSink {
    std::atomic<int> shown{-1};
    unsigned long CreateTarget(int, int) override { return 0; }
    void ReleaseTarget() override {}
    void Upload(const std::uint8_t* rgba, int w, int h) override { shown.store(test::ReadFrameIndex(rgba, w, h)); }
    void* View() override { return this; }
};

struct Delivery {
    int step;
    float time;
    int shown;  // frame index read from the picture; -1 for an empty picture
    int width, height;
};

struct Collector {
    std::vector<Delivery> frames;
    int progressCalls = 0;
    float lastFraction = 0.0f;
    int stopAfter = -1;          // progress calls before a stop; -1 never
    int sleepMicroseconds = 0;   // per frame, to keep a read running
};

void OnFrame(int step, float time, const std::uint8_t* rgba, int w, int h, void* user) {
    auto* c = static_cast<Collector*>(user);
    c->frames.push_back({step, time, h > 0 ? test::ReadFrameIndex(rgba, w, h) : -1, w, h});
    if (c->sleepMicroseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(c->sleepMicroseconds));
}

float OnProgress(float fraction, void* user) {
    auto* c = static_cast<Collector*>(user);
    ++c->progressCalls;
    c->lastFraction = fraction;
    return c->stopAfter >= 0 && c->progressCalls >= c->stopAfter ? -1.0f : fraction;
}

class FrameSamplerTest : public ::testing::Test {
protected:
    std::string Write(const TestVideoSpec& spec) {
        const std::string path = dir.file(std::to_string(++written) + ".mkv");
        EXPECT_TRUE(test::WriteTestVideo(path, spec));
        return path;
    }
    void SetUp() override { player.device = &sink; }
    void TearDown() override { player.Close(); }

    test::TempDir dir;
    int written = 0;
    IndexSink sink;
    VideoPlayer player;
};

// Step k shows the first frame at or after k / rate less half a frame (none
// of these videos has a frame exactly on that boundary); a step past the
// last frame shows none. The stripes hold the index's low 8 bits.
int ExpectedFrame(int step, float rate, int fps) {
    const double target = step / std::max(1.0, static_cast<double>(rate)) - 0.5 / fps;
    return std::max(0, static_cast<int>(std::ceil(target * fps - 1e-9)));
}

TEST_F(FrameSamplerTest, EachStepGetsItsFrame) {
    struct Case {
        const char* name;
        int fps, frames, keyInterval;
        float rate;
        int steps;
    } cases[] = {
        {"3.05 s at 20 fps read at 10", 20, 61, 10, 10.0f, 30},
        // The last step (2.9 s) falls after the last frame (2.75 s) less half a frame.
        {"a video slower than the rate repeats its frames", 4, 12, 4, 10.0f, 30},
        {"key frames 5 s apart: decoding runs on across them", 40, 480, 200, 10.0f, 120},
        {"a rate below 1 reads one frame a second", 20, 61, 10, 0.25f, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestVideoSpec spec;
        spec.fps = c.fps;
        spec.frames = c.frames;
        spec.keyInterval = c.keyInterval;
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(player.Load(Write(spec).c_str()));
        ::testing::internal::GetCapturedStdout();
        std::vector<std::pair<int, int>> expected;  // step, frame
        for (int k = 0; k < c.steps; ++k) {
            const int frame = ExpectedFrame(k, c.rate, c.fps);
            if (frame < c.frames) expected.emplace_back(k, frame);
        }
        Collector got;
        const int delivered = player.SampleFrames(c.rate, 160, OnFrame, &got, OnProgress, &got);
        EXPECT_EQ(delivered, static_cast<int>(expected.size()));
        ASSERT_EQ(got.frames.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const Delivery& d = got.frames[i];
            const auto [k, frame] = expected[i];
            EXPECT_EQ(d.step, k);
            EXPECT_NEAR(d.time, k / std::max(1.0f, c.rate), 1e-5f);
            EXPECT_EQ(d.shown, frame % 256) << "step " << k;
            EXPECT_EQ(d.width, 64) << "narrower than 160: the video's own size";
            EXPECT_EQ(d.height, 32);
        }
        EXPECT_EQ(got.progressCalls, c.steps);
        EXPECT_FLOAT_EQ(got.lastFraction, 1.0f);
        EXPECT_EQ(sink.shown.load(), 0) << "the player's picture is untouched";
        EXPECT_FLOAT_EQ(player.currentFrameTime, 0.0f);
    }
}

TEST_F(FrameSamplerTest, WideVideosAreScaledTo160KeepingTheAspect) {
    struct Case {
        int width, height, outWidth, expectW, expectH;
    } cases[] = {
        {320, 180, 160, 160, 90},
        {2560, 1440, 160, 160, 90},  // limited to 1280 × 720 first
        {1280, 4, 160, 160, 0},      // too flat: delivered with no rows
        {320, 180, 0, 320, 180},     // no width asked: the video's size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        TestVideoSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.frames = 5;
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(player.Load(Write(spec).c_str()));
        ::testing::internal::GetCapturedStdout();
        Collector got;
        EXPECT_EQ(player.SampleFrames(10.0f, c.outWidth, OnFrame, &got, nullptr, nullptr), 5);
        ASSERT_FALSE(got.frames.empty());
        EXPECT_EQ(got.frames[3].width, c.expectW);
        EXPECT_EQ(got.frames[3].height, c.expectH);
        if (c.expectH > 0) {
            EXPECT_EQ(got.frames[3].shown, 3);
        }
    }
}

TEST_F(FrameSamplerTest, StopsAtANegativeProgress) {
    TestVideoSpec spec;
    spec.fps = 20;
    spec.frames = 61;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(player.Load(Write(spec).c_str()));
    ::testing::internal::GetCapturedStdout();
    Collector got;
    got.stopAfter = 1;
    EXPECT_EQ(player.SampleFrames(10.0f, 160, OnFrame, &got, OnProgress, &got), 1);
    EXPECT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.progressCalls, 1);
}

// A file whose sound runs on after its picture: the steps past the last
// frame deliver nothing, and progress still reaches the end.
TEST_F(FrameSamplerTest, StepsWithoutAFrameAreSkipped) {
    TestVideoSpec spec;
    spec.fps = 20;
    spec.frames = 20;
    spec.toneRate = 8000;
    spec.toneSeconds = 2.0;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(player.Load(Write(spec).c_str()));
    ::testing::internal::GetCapturedStdout();
    ASSERT_NEAR(player.duration, 2.0f, 0.05f);
    Collector got;
    EXPECT_EQ(player.SampleFrames(10.0f, 160, OnFrame, &got, OnProgress, &got), 10);
    ASSERT_EQ(got.frames.size(), 10u);
    EXPECT_EQ(got.frames.back().step, 9);
    EXPECT_EQ(got.frames.back().shown, 18);
    EXPECT_EQ(got.progressCalls, 20);
}

TEST_F(FrameSamplerTest, NothingWithoutAVideoOrACallback) {
    Collector got;
    EXPECT_EQ(player.SampleFrames(10.0f, 160, OnFrame, &got, OnProgress, &got), 0);
    TestVideoSpec spec;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(player.Load(Write(spec).c_str()));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(player.SampleFrames(10.0f, 160, nullptr, &got, OnProgress, &got), 0);
    EXPECT_EQ(got.progressCalls, 0);
}

// The read decodes on its own: while it runs, seeks and playback show the
// frames they ask for, and the read still gets every step's frame.
TEST_F(FrameSamplerTest, AReadBesideSeekingAndPlaying) {
    TestVideoSpec spec;
    spec.fps = 40;
    spec.frames = 480;
    spec.keyInterval = 40;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(player.Load(Write(spec).c_str()));
    ::testing::internal::GetCapturedStdout();

    Collector got;
    got.sleepMicroseconds = 1500;
    std::atomic<bool> reading{true};
    std::thread read([&] {
        player.SampleFrames(10.0f, 160, OnFrame, &got, OnProgress, &got);
        reading.store(false);
    });
    std::mt19937 random(3);
    std::uniform_int_distribution<int> frame(0, 479);
    int seeks = 0;
    bool right = true;  // no assertion may leave the read's thread running
    while (right && (reading.load() || seeks < 20)) {
        const int target = frame(random);
        player.Seek(static_cast<float>(target) / 40.0f);
        for (int i = 0; i < 500 && player.decoder->pendingTarget >= 0.0f; ++i) player.Tick();
        EXPECT_EQ(sink.shown.load(), target % 256) << "seek " << seeks;
        EXPECT_NEAR(player.currentFrameTime, target / 40.0f, 1e-4f);
        right = sink.shown.load() == target % 256;
        ++seeks;
        if (seeks % 5 == 0) {
            player.Play();
            for (int i = 0; i < 5 && right; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                player.Tick();
                const int counted = static_cast<int>(std::lround(player.currentFrameTime * 40.0f)) % 256;
                EXPECT_EQ(sink.shown.load(), counted) << "the picture shown is the frame the player counts";
                right = sink.shown.load() == counted;
            }
            player.Pause();
        }
    }
    read.join();
    ASSERT_EQ(got.frames.size(), 120u);
    for (int k = 0; k < 120; ++k) EXPECT_EQ(got.frames[k].shown, 4 * k % 256) << "step " << k;
}

}  // namespace
}  // namespace korvel
