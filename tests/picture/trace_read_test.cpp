// The picture read on the analysis thread: starting it, a whole read of a
// generated video, and cancelling while it samples, while it detects and
// while the slot holds a running background job.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include "app/background_job.h"
#include "picture/trace_analysis.h"
#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "project/app_state.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

struct NullSink : VideoFrameSink {
    unsigned long CreateTarget(int, int) override { return 0; }
    void ReleaseTarget() override {}
    void Upload(const std::uint8_t*, int, int) override {}
    void* View() override { return this; }
};

// Waits (bounded) for a condition another thread makes true.
template <typename Condition>
bool WaitFor(Condition condition) {
    for (int i = 0; i < 20000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class TraceReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        GlobalVideoPlayer.device = &sink;
    }
    void TearDown() override {
        CancelTraceAnalysis(GlobalAppState);
        GlobalVideoPlayer.Close();
        GlobalVideoPlayer.device = nullptr;
        Reset();
    }
    static void Reset() {
        AppState& s = GlobalAppState;
        s.traceRunning.store(false);
        s.traceAnalysis = TraceAnalysis{};
        BackgroundJob& job = s.backgroundJob;
        if (job.worker.joinable()) job.worker.join();
        job.active.store(false);
        job.cancel.store(false);
        job.done.store(false);
        job.progress.store(-1.0f);
    }
    void Load(int fps, int frames) {
        test::TestVideoSpec spec;
        spec.fps = fps;
        spec.frames = frames;
        const std::string path = dir.file("v.mkv");
        ASSERT_TRUE(test::WriteTestVideo(path, spec));
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(GlobalVideoPlayer.Load(path.c_str()));
        ::testing::internal::GetCapturedStdout();
    }
    static bool Finished() { return !GlobalAppState.traceRunning.load(std::memory_order_acquire); }

    test::TempDir dir;
    NullSink sink;
};

TEST_F(TraceReadTest, AWholeRead) {
    Load(20, 61);  // 3.05 s
    AppState& s = GlobalAppState;
    ASSERT_TRUE(StartTraceRead(s));
    ASSERT_TRUE(WaitFor(Finished));
    const TraceAnalysis& a = s.traceAnalysis;
    EXPECT_TRUE(TraceReadValid(s));
    EXPECT_EQ(a.numFrames, 30);
    ASSERT_EQ(a.frames.size(), 30u);
    EXPECT_FLOAT_EQ(a.fps, 10.0f);
    EXPECT_NEAR(a.duration, 3.05f, 1e-3f);
    for (int k = 0; k < 30; ++k) EXPECT_NEAR(a.frames[k].time, k / 10.0f, 1e-5f);
    // The stripes change every frame.
    EXPECT_GT(a.frames[5].histogramChange + a.frames[5].motion, 0.0f);
    EXPECT_GT(a.frames[5].threshold, 0.0f) << "the detector ran";
    EXPECT_FLOAT_EQ(s.backgroundJob.progress.load(), 1.0f);
    EXPECT_FALSE(StartTraceRead(s)) << "a valid read exists";
}

TEST_F(TraceReadTest, AReadStartsOnlyWhenNothingElseRuns) {
    struct Case {
        const char* name;
        bool loadVideo;
        void (*arrange)(AppState&);
    } cases[] = {
        {"no video", false, [](AppState&) {}},
        {"a valid read exists", true, [](AppState& s) { s.traceAnalysis.valid = true; }},
        {"a read runs", true, [](AppState& s) { s.traceRunning.store(true); }},
        {"a job is active", true, [](AppState& s) { s.backgroundJob.active.store(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (c.loadVideo) Load(10, 10);
        AppState& s = GlobalAppState;
        s.traceAnalysis.frames.resize(3);
        c.arrange(s);
        const bool running = s.traceRunning.load();
        EXPECT_FALSE(StartTraceRead(s));
        EXPECT_EQ(s.traceRunning.load(), running);
        EXPECT_EQ(s.traceAnalysis.frames.size(), 3u) << "nothing reset";
        EXPECT_FALSE(s.backgroundJob.worker.joinable());
        GlobalVideoPlayer.Close();
    }
}

// The detector runs with the settings of the moment the read started: the
// trace tab may change them while the read runs.
TEST_F(TraceReadTest, AReadKeepsTheSettingsItStartedWith) {
    Load(20, 61);
    AppState& s = GlobalAppState;
    const auto thresholds = [&] {
        std::vector<float> values;
        for (const FrameMeasures& f : s.traceAnalysis.frames) values.push_back(f.threshold);
        return values;
    };
    const auto readWith = [&](float windowAtStart, float windowAfter) {
        CancelTraceAnalysis(s);
        s.traceSettings = TraceSettings{};
        s.traceSettings.window = windowAtStart;
        EXPECT_TRUE(StartTraceRead(s));
        s.traceSettings.window = windowAfter;
        EXPECT_TRUE(WaitFor(Finished));
        return thresholds();
    };
    const std::vector<float> wide = readWith(4.0f, 4.0f);
    const std::vector<float> narrow = readWith(0.5f, 0.5f);
    ASSERT_NE(wide, narrow) << "the window changes the thresholds of this video";
    EXPECT_EQ(readWith(4.0f, 0.5f), wide);
    s.traceSettings = TraceSettings{};
}

// Stopped by the shared flag: the frames delivered so far stay in records
// sized before the read (floor(10 × 30) + 2), and nothing is detected.
TEST_F(TraceReadTest, ACancelledReadLeavesNoDetections) {
    Load(40, 1200);
    AppState& s = GlobalAppState;
    ASSERT_TRUE(StartTraceRead(s));
    s.backgroundJob.cancel.store(true);
    ASSERT_TRUE(WaitFor(Finished));
    EXPECT_FALSE(s.traceAnalysis.valid);
    EXPECT_TRUE(s.traceAnalysis.events.empty());
    EXPECT_EQ(s.traceAnalysis.frames.size(), 302u);
    EXPECT_LT(s.traceAnalysis.framesDone.load(), 300);
}

TEST_F(TraceReadTest, CancelWhileSampling) {
    Load(40, 1200);  // 30 s
    AppState& s = GlobalAppState;
    ASSERT_TRUE(StartTraceRead(s));
    ASSERT_TRUE(WaitFor([] { return GlobalAppState.traceAnalysis.framesDone.load(std::memory_order_acquire) > 0; }));
    CancelTraceAnalysis(s);
    EXPECT_FALSE(s.traceRunning.load());
    EXPECT_FALSE(s.backgroundJob.worker.joinable()) << "the read's thread was joined";
    EXPECT_FALSE(s.traceAnalysis.valid);
    EXPECT_TRUE(s.traceAnalysis.frames.empty());
    EXPECT_TRUE(s.traceAnalysis.events.empty());
    EXPECT_TRUE(s.backgroundJob.cancel.load()) << "stays set until the next start";
    // A new read may start after it.
    ASSERT_TRUE(StartTraceRead(s));
    EXPECT_FALSE(s.backgroundJob.cancel.load());
}

// Detection does not look at the cancel flag: a cancel waits for it to end
// and then clears what it made.
TEST_F(TraceReadTest, CancelWhileDetecting) {
    AppState& s = GlobalAppState;
    TraceAnalysis& a = s.traceAnalysis;
    a.fps = 10.0f;
    a.frames.assign(12000, FrameMeasures{});
    for (int i = 0; i < 12000; ++i) {
        a.frames[i].time = i / 10.0f;
        a.frames[i].motion = static_cast<float>((i * 7919) % 101) / 100.0f;
    }
    a.framesDone.store(12000);
    std::atomic<bool> started{false};
    std::atomic<bool> detected{false};
    s.traceRunning.store(true);
    s.backgroundJob.worker = std::thread([&] {
        started.store(true);
        DetectTraceEvents(GlobalAppState.traceAnalysis, TraceSettings{});
        detected.store(true);
        GlobalAppState.traceRunning.store(false, std::memory_order_release);
    });
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    CancelTraceAnalysis(s);
    EXPECT_TRUE(detected.load()) << "returned only after the detector ended";
    EXPECT_FALSE(s.backgroundJob.worker.joinable());
    EXPECT_FALSE(a.valid);
    EXPECT_TRUE(a.frames.empty());
    EXPECT_TRUE(a.events.empty());
    EXPECT_FLOAT_EQ(a.maxCompositeEnergy, 0.0f);
}

// The slot holds a build's thread: cancelling the picture read neither
// waits for it nor sets the build's cancel flag.
TEST_F(TraceReadTest, CancelBesideARunningJobReturnsAtOnce) {
    AppState& s = GlobalAppState;
    std::atomic<bool> release{false};
    std::atomic<bool> waitedOut{false};
    StartBackgroundJob("Building...", [&] {
        const bool released = WaitFor([&] { return release.load(); });
        waitedOut.store(!released);
        GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
    }, true, 0.0f);
    ASSERT_TRUE(LaunchBackgroundJobWorker(s.backgroundJob));
    s.traceAnalysis.valid = true;
    CancelTraceAnalysis(s);
    EXPECT_TRUE(s.backgroundJob.worker.joinable()) << "the job's thread is the job's to join";
    EXPECT_FALSE(s.backgroundJob.cancel.load());
    EXPECT_FALSE(s.traceAnalysis.valid) << "the result is cleared all the same";
    release.store(true);
    ASSERT_TRUE(WaitFor([] { return GlobalAppState.backgroundJob.done.load(std::memory_order_acquire); }));
    EndBackgroundJob(s.backgroundJob);
    EXPECT_FALSE(waitedOut.load()) << "the cancel returned before the job was released";
}

// A 30-frame AVI whose headers claim 2^31 frames is refused at open with
// the open-failure line; a read that cannot size its records is never left
// marked running, so a cancel after either returns.
TEST_F(TraceReadTest, AnImplausibleDurationIsRefusedAndACancelReturns) {
    test::TestVideoSpec spec;
    spec.fps = 25;
    spec.container = "avi";
    const std::string path = dir.file("claims.avi");
    ASSERT_TRUE(test::WriteTestVideo(path, spec));
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(GlobalVideoPlayer.Load(path.c_str())) << "the honest file opens";
    ::testing::internal::GetCapturedStdout();
    GlobalVideoPlayer.Close();

    std::string bytes = test::ReadBytes(path);
    const auto patch = [&bytes](const char* chunk, std::size_t offset) {
        const std::size_t at = bytes.find(chunk);
        ASSERT_NE(at, std::string::npos) << chunk;
        const std::uint32_t frames = 0x80000000u;
        for (int b = 0; b < 4; ++b) bytes[at + 8 + offset + b] = static_cast<char>((frames >> (8 * b)) & 0xFF);
    };
    patch("avih", 16);  // dwTotalFrames
    patch("strh", 32);  // dwLength
    ASSERT_TRUE(test::WriteBytes(path, bytes));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(GlobalVideoPlayer.Load(path.c_str()));
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Video] FFmpeg: zero/unknown duration (" + path + ")"), std::string::npos) << log;
    EXPECT_FALSE(GlobalVideoPlayer.loaded);
    EXPECT_FALSE(StartTraceRead(GlobalAppState)) << "nothing to read";
    CancelTraceAnalysis(GlobalAppState);

    // A loaded video whose length has no room in memory for its records.
    Load(10, 10);
    GlobalVideoPlayer.duration = 3.0e38f;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(StartTraceRead(GlobalAppState));
    EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("[Video] picture read could not start", 0), 0u);
    EXPECT_FALSE(GlobalAppState.traceRunning.load());
    CancelTraceAnalysis(GlobalAppState);
    EXPECT_FALSE(TraceReadValid(GlobalAppState));
}

// Durations a file can and cannot hold.
TEST(VideoDuration, PlausibleOnlyWhenTheFileCanHoldIt) {
    struct Case {
        double seconds;
        float fps;
        std::int64_t bytes;
        bool plausible;
    };
    const Case cases[] = {
        {1.2, 25.0f, 20000, true},
        {85899345.92, 25.0f, 20000, false},    // 2^31 frames
        {3600.0, 25.0f, 90000, false},         // one byte a frame
        {3600.0, 25.0f, -1, true},             // size unknown
        {24.0 * 3600.0 + 1.0, 1.0f, -1, false},  // longer than a day
        {0.0, 25.0f, 20000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(PlausibleVideoDuration(c.seconds, c.fps, c.bytes), c.plausible);
    }
}

}  // namespace
}  // namespace korvel
