#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
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

// Keeps the last frame in memory, as the display texture would, and the
// index of every frame uploaded.
struct MemorySink : VideoFrameSink {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    std::vector<int> uploads;
    int targets = 0;
    unsigned long failWith = 0;

    unsigned long CreateTarget(int w, int h) override {
        if (failWith != 0) return failWith;
        ++targets;
        width = w;
        height = h;
        pixels.assign(static_cast<std::size_t>(w) * h * 4, 0);
        return 0;
    }
    void ReleaseTarget() override { --targets; }
    void Upload(const std::uint8_t* rgba, int w, int h) override {
        pixels.assign(rgba, rgba + static_cast<std::size_t>(w) * h * 4);
        uploads.push_back(test::ReadFrameIndex(rgba, w, h));
    }
    void* View() override { return this; }
    int Shown() const { return test::ReadFrameIndex(pixels.data(), width, height); }
};

class VideoPlayerTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const TestVideoSpec& spec) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::WriteTestVideo(path, spec)) << name;
        return path;
    }
    // 10 s at 10 fps, a key frame every second.
    std::string TenSeconds() {
        TestVideoSpec spec;
        spec.frames = 100;
        return Write("ten.mkv", spec);
    }
    void SetUp() override { player.device = &sink; }
    void TearDown() override {
        player.Close();
        EXPECT_EQ(sink.targets, 0);
    }
    int ShownIndex() const { return static_cast<int>(std::lround(player.currentFrameTime * player.fps)); }

    TempDir dir;
    MemorySink sink;
    VideoPlayer player;
};

TEST(VideoSize, LongerSideLimitedTo1280) {
    struct Case {
        int w, h, expectW, expectH;
    } cases[] = {
        {3840, 2160, 1280, 720}, {1920, 1080, 1280, 720}, {1280, 720, 1280, 720}, {64, 32, 64, 32},
        {1300, 600, 1280, 590},  {600, 1300, 590, 1280},  {1281, 1, 1280, 0},
    };
    for (const Case& c : cases) {
        int w = c.w, h = c.h;
        LimitVideoSize(w, h);
        EXPECT_EQ(w, c.expectW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.expectH) << c.w << "x" << c.h;
    }
}

TEST_F(VideoPlayerTest, LoadShowsFirstFrameAndReportsItsMeasures) {
    TestVideoSpec spec;
    spec.width = 2000;
    spec.height = 500;
    spec.frames = 5;
    const std::string path = Write("wide.mkv", spec);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(player.Load(path.c_str()));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[Video] loaded via FFmpeg (mpeg4) 1280x320 10.00fps 0.50s (" + path + ")\n"), std::string::npos)
        << out;
    EXPECT_TRUE(player.loaded);
    EXPECT_EQ(player.width, 1280);
    EXPECT_EQ(player.height, 320);
    EXPECT_EQ(sink.width, 1280);
    EXPECT_FLOAT_EQ(player.fps, 10.0f);
    EXPECT_NEAR(player.duration, 0.5f, 0.001f);
    EXPECT_EQ(player.frameView, &sink);
    EXPECT_FLOAT_EQ(player.currentFrameTime, 0.0f);
    EXPECT_EQ(sink.Shown(), 0);

    player.timelineOffset = 3.0f;
    player.Close();
    EXPECT_FALSE(player.loaded);
    EXPECT_EQ(player.decoder, nullptr);
    EXPECT_EQ(player.frameView, nullptr);
    EXPECT_FLOAT_EQ(player.currentFrameTime, -1.0f);
    EXPECT_EQ(player.width, 0);
    EXPECT_FLOAT_EQ(player.timelineOffset, 3.0f);  // kept across loads
}

TEST_F(VideoPlayerTest, BadFilesLeaveThePlayerClosedWithTheirLine) {
    TestVideoSpec soundOnly;
    soundOnly.frames = 0;
    soundOnly.toneRate = 48000;
    soundOnly.toneSeconds = 0.5;
    const std::string audioOnly = Write("sound.mkv", soundOnly);
    const std::string good = TenSeconds();
    const std::string bytes = test::ReadBytes(good);
    ASSERT_TRUE(test::WriteBytes(dir.file("empty.mkv"), ""));
    ASSERT_TRUE(test::WriteBytes(dir.file("text.mkv"), "just some words, not a video at all\n"));
    ASSERT_TRUE(test::WriteBytes(dir.file("head.mkv"), bytes.substr(0, 40)));
    // A playlist that would open another file: its demuxer is not allowed.
    ASSERT_TRUE(test::WriteBytes(dir.file("list.mkv"), "ffconcat version 1.0\nfile '" + good + "'\n"));
    ASSERT_TRUE(test::WriteBytes(dir.file("hls.mp4"), "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nfile://" + good +
                                                          "\n#EXT-X-ENDLIST\n"));
    struct Case {
        std::string path;
        const char* line;
    } cases[] = {
        {dir.file("missing.mkv"), "[Video] FFmpeg: cannot open container"},
        {dir.file("empty.mkv"), "[Video] FFmpeg: cannot open container"},
        {dir.file("text.mkv"), "[Video] FFmpeg: cannot open container"},
        {dir.file("head.mkv"), "[Video] FFmpeg: "},
        {dir.file("list.mkv"), "[Video] FFmpeg: cannot open container"},
        {dir.file("hls.mp4"), "[Video] FFmpeg: cannot open container"},
        {audioOnly, "[Video] FFmpeg: no decodable video stream"},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(player.Load(c.path.c_str())) << c.path;
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind(c.line, 0), 0u) << c.path << ": " << out;
        EXPECT_NE(out.find(c.path), std::string::npos) << out;
        EXPECT_FALSE(player.loaded);
        EXPECT_EQ(player.decoder, nullptr);
        EXPECT_EQ(player.frameView, nullptr);
        EXPECT_EQ(sink.targets, 0);
    }
}

TEST_F(VideoPlayerTest, LoadNeedsADeviceAndATarget) {
    const std::string path = TenSeconds();
    player.device = nullptr;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(player.Load(path.c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[Video] load failed: no GPU device (" + path + ")\n");

    player.device = &sink;
    sink.failWith = 0x502;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(player.Load(path.c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[Video] CreateTexture2D failed hr=0x00000502\n");
    EXPECT_FALSE(player.loaded);
    EXPECT_EQ(player.decoder, nullptr);
}

TEST_F(VideoPlayerTest, ForcedFfmpegSwitchChangesNothing) {
    const std::string path = TenSeconds();
    ::setenv("KV_FORCE_FFMPEG", "1", 1);
    ::testing::internal::CaptureStdout();
    const bool loaded = player.Load(path.c_str());
    const std::string out = ::testing::internal::GetCapturedStdout();
    ::unsetenv("KV_FORCE_FFMPEG");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(out.rfind("[Video] loaded via FFmpeg", 0), 0u) << out;
    EXPECT_EQ(out.find("Media Foundation"), std::string::npos);
    EXPECT_EQ(out.find("MF "), std::string::npos);
}

TEST_F(VideoPlayerTest, SeeksShowTheFrameAskedForAndRepositionOnlyWhenNeeded) {
    const std::string path = TenSeconds();
    struct Case {
        const char* name;
        float from;  // video time shown before the seek
        float to;
        bool repositions;
        int shown;
    } cases[] = {
        {"the frame already shown", 3.0f, 3.0f, false, 30},
        {"within the same frame", 3.0f, 3.03f, false, 30},
        {"a short jump ahead decodes forward", 3.0f, 5.0f, false, 50},
        {"just under the window", 3.0f, 7.9f, false, 79},
        {"a long jump ahead", 3.0f, 9.0f, true, 90},
        {"backwards by one frame", 3.0f, 2.9f, true, 29},
        {"backwards far", 9.0f, 0.5f, true, 5},
        {"past the end clamps", 3.0f, 50.0f, true, 99},
        {"before the start clamps", 3.0f, -4.0f, true, 0},
    };
    ASSERT_TRUE(player.Load(path.c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        player.Seek(c.from);
        while (player.decoder->pendingTarget >= 0.0f) player.Tick();
        ASSERT_EQ(ShownIndex(), static_cast<int>(std::lround(c.from * 10.0f)));
        const int repositions = player.decoder->repositions;
        const std::size_t uploads = sink.uploads.size();
        player.Seek(c.to);
        while (player.decoder->pendingTarget >= 0.0f) player.Tick();
        EXPECT_EQ(player.decoder->repositions - repositions, c.repositions ? 1 : 0);
        EXPECT_EQ(ShownIndex(), c.shown);
        EXPECT_EQ(sink.Shown(), c.shown);  // the pixels match the time
        if (c.from == c.to) {
            EXPECT_EQ(sink.uploads.size(), uploads);
        }
    }
}

TEST_F(VideoPlayerTest, TimelineOffsetShiftsSeekAndTick) {
    const std::string path = TenSeconds();
    ASSERT_TRUE(player.Load(path.c_str()));
    player.timelineOffset = 2.0f;
    player.Seek(6.5f);
    while (player.decoder->pendingTarget >= 0.0f) player.Tick();
    EXPECT_EQ(sink.Shown(), 45);
    EXPECT_NEAR(player.Tick(), 6.5f, 1e-4f);
    player.Seek(1.0f);  // before the video: its first frame
    while (player.decoder->pendingTarget >= 0.0f) player.Tick();
    EXPECT_EQ(sink.Shown(), 0);
}

TEST_F(VideoPlayerTest, QuickBackwardScrubShowsOnlyLandingsAndTargets) {
    const std::string path = TenSeconds();
    ASSERT_TRUE(player.Load(path.c_str()));
    player.Seek(9.5f);
    while (player.decoder->pendingTarget >= 0.0f) player.Tick();
    for (float t : {8.7f, 7.4f, 6.1f, 4.8f}) {
        const std::size_t before = sink.uploads.size();
        player.Seek(t);  // well under 0.3 s after the previous one
        EXPECT_TRUE(player.decoder->fastBackwardScrub);
        while (player.decoder->pendingTarget >= 0.0f) player.Tick();
        const int target = static_cast<int>(std::lround(t * 10.0f));
        const int landing = target / 10 * 10;  // the key frame before it
        for (std::size_t i = before; i < sink.uploads.size(); ++i) {
            EXPECT_TRUE(sink.uploads[i] == landing || sink.uploads[i] == target)
                << "frame " << sink.uploads[i] << " shown while scrubbing to " << target;
        }
        EXPECT_EQ(sink.uploads.front() >= 0, true);
        EXPECT_EQ(sink.Shown(), target);
        EXPECT_NEAR(player.decoder->lastLandingTime, landing / 10.0f, 1e-4f);
    }
}

TEST_F(VideoPlayerTest, PausedTicksFinishAPendingSeek) {
    // Larger frames and one key frame only, so a far seek needs many
    // decodes and may outlast a seek's budget.
    TestVideoSpec spec;
    spec.width = 480;
    spec.height = 272;
    spec.frames = 120;
    spec.keyInterval = 1000;
    const std::string path = Write("long_gop.mkv", spec);
    ASSERT_TRUE(player.Load(path.c_str()));
    player.Seek(11.5f);
    int ticks = 0;
    float last = player.currentFrameTime;
    while (player.decoder->pendingTarget >= 0.0f && ticks < 1000) {
        player.Tick();
        EXPECT_GE(player.currentFrameTime, last);  // forward progress is shown, never a step back
        last = player.currentFrameTime;
        ++ticks;
    }
    EXPECT_LT(ticks, 1000);
    EXPECT_EQ(sink.Shown(), 115);
    EXPECT_EQ(ShownIndex(), 115);
}

TEST_F(VideoPlayerTest, PlayingFollowsTheClockAndStopsAtTheEnd) {
    const std::string path = TenSeconds();
    ASSERT_TRUE(player.Load(path.c_str()));
    player.timelineOffset = 1.0f;
    player.Seek(3.0f);  // video 2.0
    player.Play();
    EXPECT_TRUE(player.decoder->playing);
    EXPECT_FLOAT_EQ(player.decoder->playStartPosition, 2.0f);
    player.decoder->playStartClock -= 1.0;  // a second has passed
    // A loaded machine can spend a tick's decode budget before the target:
    // later ticks go on from there.
    const double tickStart = ClockSeconds();
    float shown = player.Tick();
    for (int i = 0; i < 50 && shown < 3.9f; ++i) shown = player.Tick();
    const float ticking = static_cast<float>(ClockSeconds() - tickStart);
    EXPECT_GE(shown, 3.9f);
    EXPECT_LE(shown, 4.0f + ticking + 0.1f);
    EXPECT_NEAR(sink.Shown(), 30 + std::lround((shown - 4.0f) * 10.0f), 1);

    // Far behind: each tick catches up at most 16 frames.
    player.decoder->playStartClock -= 100.0;
    const int before = ShownIndex();
    player.Tick();
    EXPECT_GE(ShownIndex() - before, 1);
    EXPECT_LE(ShownIndex() - before, 16);
    int ticks = 0;
    while (player.decoder->playing && ticks++ < 100) player.Tick();
    EXPECT_FALSE(player.decoder->playing);
    EXPECT_EQ(ShownIndex(), 99);
    EXPECT_EQ(sink.Shown(), 99);

    player.Pause();
    EXPECT_FALSE(player.decoder->playing);
}

// Frames off the rate's grid: a WebM whose stream starts 7 ms late and a
// file of varying frame lengths. A paused frame asks for the same playhead
// every UI frame; after the first landing nothing is decoded again.
TEST_F(VideoPlayerTest, APausedVideoOffTheGridRests) {
    TestVideoSpec late;
    late.vp9 = true;
    late.fps = 25;
    late.frames = 75;
    late.keyInterval = 25;
    late.startMs = 7;
    TestVideoSpec variable;
    variable.fps = 25;
    variable.frames = 60;
    variable.frameMs = {40, 120, 40, 80, 33};
    struct Case {
        const char* name;
        const TestVideoSpec* spec;
        float target;
    };
    const Case cases[] = {
        {"stream starting at 7 ms, on a frame", &late, 1.0f},
        {"stream starting at 7 ms, between frames", &late, 1.3f},
        {"variable rate, at 1 s", &variable, 1.0f},
        {"variable rate, inside a long frame", &variable, 0.4f},  // the frame at 0.353 s lasts 120 ms
        {"variable rate, after a backward seek", &variable, 0.25f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + (c.spec->vp9 ? ".webm" : ".mkv"));
        if (!test::WriteTestVideo(path, *c.spec)) {
            ASSERT_TRUE(c.spec->vp9) << "the Matroska fixture is always written";
            GTEST_SKIP() << "this FFmpeg has no VP9 encoder";
        }
        ASSERT_TRUE(player.Load(path.c_str()));
        player.Seek(2.0f);  // somewhere else first, so the rest starts from a seek
        while (player.decoder->pendingTarget >= 0.0f) player.Tick();
        player.Seek(c.target);
        while (player.decoder->pendingTarget >= 0.0f) player.Tick();
        const float shown = player.currentFrameTime;
        EXPECT_NEAR(shown, c.target, 0.15f);  // the frame a seek lands on
        const int repositions = player.decoder->repositions;
        const long decoded = player.decoder->framesDecoded;
        const std::size_t uploads = sink.uploads.size();
        for (int frame = 0; frame < 100; ++frame) {
            player.Seek(c.target);
            player.Tick();
        }
        EXPECT_EQ(player.decoder->repositions, repositions);
        EXPECT_EQ(player.decoder->framesDecoded, decoded);
        EXPECT_EQ(sink.uploads.size(), uploads);
        EXPECT_FLOAT_EQ(player.currentFrameTime, shown);
        player.Close();
    }
}

// A file whose frames are stated 1 ms long ends right after its last frame:
// the clock reaching that end stops playback as running out of frames does.
TEST_F(VideoPlayerTest, AVariableRateVideoStopsPlayingAtItsEnd) {
    TestVideoSpec spec;
    spec.fps = 25;
    spec.frames = 20;
    spec.frameMs = {40, 120, 40, 80, 33};
    const std::string path = Write("variable.mkv", spec);
    ASSERT_TRUE(player.Load(path.c_str()));
    player.Play();
    player.decoder->playStartClock -= 100.0;
    int ticks = 0;
    while (player.decoder->playing && ticks < 100) {
        player.Tick();
        ++ticks;
    }
    EXPECT_FALSE(player.decoder->playing);
    EXPECT_LT(ticks, 100);
    EXPECT_EQ(sink.Shown(), 19);
    EXPECT_NEAR(player.currentFrameTime, player.duration, 0.05f);
}

TEST_F(VideoPlayerTest, PlayStartsFromAPendingTarget) {
    const std::string path = TenSeconds();
    ASSERT_TRUE(player.Load(path.c_str()));
    player.Seek(6.0f);
    player.decoder->pendingTarget = 6.0f;  // as if the seek's budget ran out
    player.Play();
    EXPECT_FLOAT_EQ(player.decoder->playStartPosition, 6.0f);
    EXPECT_LT(player.decoder->pendingTarget, 0.0f);
}

TEST_F(VideoPlayerTest, DecodeErrorWhilePlayingStopsOnTheLastGoodFrame) {
    const std::string good = TenSeconds();
    const std::string bytes = test::ReadBytes(good);
    const std::string cut = dir.file("cut.mkv");
    ASSERT_TRUE(test::WriteBytes(cut, bytes.substr(0, bytes.size() / 2)));
    if (!player.Load(cut.c_str())) GTEST_SKIP() << "the cut file does not open";
    player.Play();
    player.decoder->playStartClock -= 100.0;
    int ticks = 0;
    while (player.decoder->playing && ticks++ < 100) player.Tick();
    EXPECT_FALSE(player.decoder->playing);
    EXPECT_GT(ShownIndex(), 0);
    EXPECT_LT(ShownIndex(), 99);
    EXPECT_EQ(sink.Shown(), ShownIndex());  // the picture is the frame the time names
}

TEST(VideoPlayerClosed, CallsWithoutAVideoDoNothing) {
    VideoPlayer player;
    player.timelineOffset = 4.0f;
    EXPECT_FLOAT_EQ(player.Tick(), 3.0f);
    player.Seek(2.0f);
    player.Play();
    player.Pause();
    EXPECT_FALSE(player.loaded);
    EXPECT_FLOAT_EQ(player.currentFrameTime, -1.0f);
}

}  // namespace
}  // namespace korvel
