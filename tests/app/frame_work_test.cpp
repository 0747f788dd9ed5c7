#include "app/frame_work.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "app/background_job.h"
#include "app/theme.h"
#include "app/transport.h"
#include "library/folder_scan.h"
#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "playback/audio_output.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/chains.h"
#include "presets/recipes.h"
#include "presets/user_folders.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/temp_dir.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

// Each test starts from an idle application: no job, no export, an empty
// project, and leaves it so.
class FrameWorkTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset() {
        AppState& s = GlobalAppState;
        BackgroundJob& job = s.backgroundJob;
        job.cancel.store(true);
        EndBackgroundJob(job);
        job.done.store(false);
        JoinExportThread(s.exportThread);
        s.exportRunning.store(false);
        s.exportDone.store(false);
        s.exportDoneTime = 0.0;
        s.exportCompleteCallback = nullptr;
        s.exportProgress.store(-1.0f);
        s.CloseRequested = false;
        s.unsavedChanges = false;
        s.unsavedPromptState = 0;
        s.quitAfterPrompt = false;
        s.PendingOpenPath.clear();
        s.parkedOpenPath.clear();
        s.playing = false;
        s.playhead = 0.0f;
        s.statusMessage.clear();
        s.statusTime = 0.0f;
        s.platformHooks = PlatformHooks{};
        s.pendingRenderMode = 0;
        s.pendingRenderEvents.clear();
        s.audioUpdateRequested.store(false);
        s.pendingBedLayout = -1;
        s.activeTab = 0;
        s.launcherOpen = false;
        s.launcherDismissed = false;
        s.showLauncherOnStartup = true;
        s.pendingDeleteEvent = -1;
        s.selectedEvents.clear();
        s.selectedEvent = -1;
        s.soloLayer = -1;
        s.videoChangePending = false;
        s.pendingVideoPath.clear();
        s.pendingVideoStart = 0.0f;
        s.videoPath.clear();
        s.dropState = DropState{};
        s.traceRunning.store(false);
        s.traceAnalysis = TraceAnalysis{};
        s.markerEvents.clear();
        CurrentProject = Project{};
        CurrentProject.totalDuration = 30.0f;
        UndoStack.clear();
        RedoStack.clear();
        PendingLibraryFolders.clear();
        GlobalVideoPlayer.Close();
        GlobalVideoPlayer.timelineOffset = 0.0f;
        LivePlaybackEngine.soloVoice = -1;
        LiveAudioOutput.statusText.clear();
        LivePlaybackEngine.ready.store(false);
        LivePlaybackEngine.playing.store(false);
        FrameWork = FrameWorkState{};
        SetUiClockSeconds(0.0);
    }

    // A job that runs until it is cancelled.
    static void StartWaitingJob() {
        StartBackgroundJob("Building...", [] {
            BackgroundJob& job = GlobalAppState.backgroundJob;
            while (!job.cancel.load()) std::this_thread::yield();
            job.done.store(true, std::memory_order_release);
        }, true, -1.0f);
        LaunchBackgroundJobWorker(GlobalAppState.backgroundJob);
    }
};

TEST_F(FrameWorkTest, EditGuardRefusesWhileAJobOrAnExportRuns) {
    EXPECT_TRUE(UiMayEditProject());
    GlobalAppState.exportRunning.store(true);
    EXPECT_FALSE(UiMayEditProject());
    GlobalAppState.exportRunning.store(false);
    StartWaitingJob();
    EXPECT_FALSE(UiMayEditProject());
}

// A project path given at start while the launcher is on: the launcher is
// raised in the first frame, and a later frame never raises it again.
// A chain file far larger than any real one (sparse) in the Chains folder:
// the first frame's loading completes, once, with one line about it.
TEST_F(FrameWorkTest, AnOverLimitChainLeavesTheFirstFrameCompleteWithOneLine) {
    test::TempDir dir;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"XDG_DOCUMENTS_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        setenv(name, dir.file(name).c_str(), 1);
    }
    const std::string chain = ChainsFolder() + "/Huge" + kChainExtension;
    ASSERT_TRUE(test::WriteBytes(chain, "{\"name\": \"Huge\", \"events\": ["));
    ASSERT_EQ(truncate(chain.c_str(), static_cast<off_t>(kChainFileLimit) * 10), 0);
    GlobalAppState.updateCheckEnabled = false;

    testing::internal::CaptureStdout();
    FrameFirstFrameWork();
    FrameFirstFrameWork();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(FrameWork.firstFrameDone);
    std::size_t lines = 0;
    for (std::size_t at = log.find("[Chains] Not read: "); at != std::string::npos;
         at = log.find("[Chains] Not read: ", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << log;
    EXPECT_NE(log.find(chain), std::string::npos) << log;
    ASSERT_EQ(ChainList.size(), 1u) << "listed, with an empty name";
    EXPECT_STREQ(ChainList[0].name, "");

    for (const auto& [name, value] : saved) {
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ChainList.clear();
    RecipeList.clear();
    GlobalAppState.updateCheckEnabled = true;
}

TEST_F(FrameWorkTest, LauncherIsDecidedOnceOnTheFirstFrame) {
    struct Case {
        const char* name;
        bool show;
        bool dismissed;
        bool open;
    };
    const Case cases[] = {
        {"shown", true, false, true},
        {"turned off", false, false, false},
        {"dismissed", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameWork = FrameWorkState{};
        GlobalAppState.launcherOpen = false;
        GlobalAppState.showLauncherOnStartup = c.show;
        GlobalAppState.launcherDismissed = c.dismissed;
        FrameWork.firstFrameDone = true;  // the first frame's loading done
        FrameLauncherDecision();
        EXPECT_EQ(GlobalAppState.launcherOpen, c.open);
        GlobalAppState.launcherOpen = false;
        FrameLauncherDecision();
        EXPECT_FALSE(GlobalAppState.launcherOpen) << "only once";
    }
}

TEST_F(FrameWorkTest, SceneLinksFollowTheirScenes) {
    Project& p = CurrentProject;
    p.scenes.resize(2);
    p.scenes[0].inTime = 4.0f;
    p.scenes[0].outTime = 9.5f;
    p.scenes[1].inTime = 12.0f;
    p.scenes[1].outTime = 13.0f;
    p.events.resize(3);
    p.events[0].sceneLink = 0;
    p.events[0].time = 1.0f;
    p.events[0].syncOffset = 0.3f;
    p.events[1].sceneLink = 5;  // the scene is gone
    p.events[1].time = 2.0f;
    p.events[2].time = 7.0f;  // not linked
    FrameSceneLinks();
    EXPECT_FLOAT_EQ(p.events[0].time, 4.0f);
    EXPECT_FLOAT_EQ(p.events[0].duration, 5.5f);
    EXPECT_FLOAT_EQ(p.events[0].syncOffset, 0.0f);
    EXPECT_EQ(p.events[1].sceneLink, -1);
    EXPECT_FLOAT_EQ(p.events[1].time, 2.0f);
    EXPECT_FLOAT_EQ(p.events[2].time, 7.0f);
}

// Requests made while a job or an export runs wait, untouched, and are
// served in the first frame after.
TEST_F(FrameWorkTest, HeldStepsWaitForTheJobAndTheExport) {
    AppState& s = GlobalAppState;
    for (const char* blocker : {"job", "export"}) {
        SCOPED_TRACE(blocker);
        Reset();
        if (std::string(blocker) == "job") {
            StartWaitingJob();
        } else {
            s.exportRunning.store(true);
        }
        s.audioUpdateRequested.store(true);
        s.pendingRenderMode = 1;
        s.pendingBedLayout = 0;
        CurrentProject.events.resize(1);
        s.unsavedChanges = true;
        s.PendingOpenPath = "/films/a.kvproj";

        FrameCacheRebuild();
        FrameBedLoading();
        FrameRenderRequest();
        FrameProjectToOpen();
        EXPECT_TRUE(s.audioUpdateRequested.load());
        EXPECT_EQ(s.pendingRenderMode, 1);
        EXPECT_EQ(s.pendingBedLayout, 0);
        EXPECT_EQ(s.PendingOpenPath, "/films/a.kvproj");
        EXPECT_EQ(s.unsavedPromptState, 0);

        // Unblocked: the open is parked behind the unsaved-changes prompt.
        s.backgroundJob.cancel.store(true);
        EndBackgroundJob(s.backgroundJob);
        s.exportRunning.store(false);
        FrameProjectToOpen();
        EXPECT_EQ(s.parkedOpenPath, "/films/a.kvproj");
        EXPECT_TRUE(s.PendingOpenPath.empty());
        EXPECT_EQ(s.unsavedPromptState, 1);

        // The rebuild starts as a job; the render waits for that job.
        FrameCacheRebuild();
        EXPECT_FALSE(s.audioUpdateRequested.load());
        EXPECT_TRUE(s.backgroundJob.active.load());
        EXPECT_STREQ(s.backgroundJob.label, "Updating audio...");
        FrameRenderRequest();
        EXPECT_EQ(s.pendingRenderMode, 1);
        s.backgroundJob.cancel.store(true);
        EndBackgroundJob(s.backgroundJob);
    }
}

TEST_F(FrameWorkTest, AudioUpdateRefusedWhileThePictureAnalysisRunsIsKept) {
    AppState& s = GlobalAppState;
    s.audioUpdateRequested.store(true);
    s.traceRunning.store(true);
    FrameCacheRebuild();
    EXPECT_TRUE(s.audioUpdateRequested.load()) << "tried again next frame";
    EXPECT_FALSE(s.backgroundJob.active.load());
    s.traceRunning.store(false);
    FrameCacheRebuild();
    EXPECT_FALSE(s.audioUpdateRequested.load());
    EXPECT_TRUE(s.backgroundJob.active.load());
    EXPECT_STREQ(s.backgroundJob.label, "Updating audio...");
    s.backgroundJob.cancel.store(true);
    s.backgroundJob.work = nullptr;
    s.backgroundJob.done.store(true);
    EndBackgroundJob(s.backgroundJob);
}

// Build pressed while the picture is read: nothing starts until the read
// ends, then the build starts without a second press.
TEST_F(FrameWorkTest, BuildWaitsForThePictureReadThenStartsByItself) {
    AppState& s = GlobalAppState;
    s.pendingRenderMode = 1;
    s.traceRunning.store(true);
    for (int frame = 0; frame < 3; ++frame) FrameRenderRequest();
    EXPECT_EQ(s.pendingRenderMode, 1);
    EXPECT_FALSE(s.backgroundJob.active.load());
    s.traceRunning.store(false);
    FrameRenderRequest();
    EXPECT_EQ(s.pendingRenderMode, 0);
    BackgroundJob& job = s.backgroundJob;
    EXPECT_TRUE(job.active.load());
    EXPECT_STREQ(job.label, "Building...");
    job.work = nullptr;
    job.cancel.store(true);
    EndBackgroundJob(job);
}

// A Bed recipe placed while the picture is read: kept until the read ends,
// then loaded without another placement. A cache rebuild asked for during an
// export is refused, not reported as started.
TEST_F(FrameWorkTest, BedLoadingAndCacheRebuildWaitUntilAJobCanStart) {
    AppState& s = GlobalAppState;
    CurrentProject.events.resize(1);
    s.pendingBedLayout = 0;
    s.traceRunning.store(true);
    for (int frame = 0; frame < 3; ++frame) FrameBedLoading();
    EXPECT_EQ(s.pendingBedLayout, 0) << "the request waits";
    EXPECT_FALSE(s.backgroundJob.active.load());
    s.traceRunning.store(false);
    FrameBedLoading();
    EXPECT_EQ(s.pendingBedLayout, -1);
    BackgroundJob& job = s.backgroundJob;
    EXPECT_TRUE(job.active.load());
    EXPECT_STREQ(job.label, "Loading bed\u2026");
    job.work = nullptr;
    job.cancel.store(true);
    EndBackgroundJob(job);

    s.exportRunning.store(true);
    EXPECT_FALSE(RebuildCacheAsync("Rebuilding...", false));
    EXPECT_FALSE(job.active.load());
    s.exportRunning.store(false);
}

TEST_F(FrameWorkTest, RenderRequestLabelsAndFlags) {
    AppState& s = GlobalAppState;
    struct Case {
        std::int32_t mode;
        const char* label;
        bool reveal;
        bool byLayers;
    };
    const Case cases[] = {
        {1, "Building...", true, false},
        {2, "Rebuilding...", true, false},
        {3, "Rebuilding event...", false, false},
        {4, "Rebuilding event...", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Reset();
        CurrentProject.events.resize(2);
        CurrentProject.events[0].locked = true;
        s.activeTab = 1;
        s.pendingRenderMode = c.mode;
        s.pendingRenderEvents = {1};
        // The job must not run: the worker starts only in FrameRunningJob.
        FrameRenderRequest();
        BackgroundJob& job = s.backgroundJob;
        EXPECT_TRUE(job.active.load());
        EXPECT_STREQ(job.label, c.label);
        EXPECT_TRUE(job.cancellable);
        EXPECT_EQ(job.revealBuildProgress, c.reveal);
        EXPECT_EQ(job.revealByBuiltLayers, c.byLayers);
        EXPECT_EQ(s.pendingRenderMode, 0);
        EXPECT_TRUE(s.pendingRenderEvents.empty());
        EXPECT_EQ(s.activeTab, 0) << "a render leaves the trace tab";
        EXPECT_EQ(CurrentProject.events[0].locked, c.mode != 2) << "rebuild all unlocks";
        if (c.mode == 4) {
            EXPECT_EQ(job.jobEventTotal, 1);
        }
        job.work = nullptr;
        job.cancel.store(true);
        EndBackgroundJob(job);
    }
}

TEST_F(FrameWorkTest, FinishedExportHoldsThenCompletesOnce) {
    AppState& s = GlobalAppState;
    int completions = 0;
    s.exportCompleteCallback = [&] { ++completions; };
    s.exportProgress.store(0.6f);
    s.exportRunning.store(true);
    ASSERT_TRUE(StartExportThread(s.exportThread, [] {}));
    s.exportDone.store(true);

    SetUiClockSeconds(10.0);
    FrameExportFinished();
    EXPECT_FALSE(s.exportThread.joinable) << "joined at once";
    EXPECT_FLOAT_EQ(s.exportProgress.load(), 1.0f);
    EXPECT_TRUE(s.exportRunning.load());
    AdvanceUiClock(0.79);
    FrameExportFinished();
    EXPECT_EQ(completions, 0);
    EXPECT_TRUE(s.exportRunning.load());
    AdvanceUiClock(0.02);
    FrameExportFinished();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(s.exportRunning.load());
    EXPECT_FALSE(s.exportDone.load());
    FrameExportFinished();
    EXPECT_EQ(completions, 1);
}

TEST_F(FrameWorkTest, CloseRequests) {
    AppState& s = GlobalAppState;
    int closes = 0;
    s.platformHooks.closeWindow = [&] { ++closes; };

    // Unsaved changes but no events: closes at once.
    s.unsavedChanges = true;
    s.CloseRequested = true;
    FrameCloseRequest();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(s.CloseRequested);

    // With events: the prompt decides.
    CurrentProject.events.resize(1);
    s.CloseRequested = true;
    FrameCloseRequest();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(s.unsavedPromptState, 1);
    EXPECT_TRUE(s.quitAfterPrompt);

    // During an export the close waits until the export has ended.
    s.unsavedChanges = false;
    s.exportRunning.store(true);
    s.CloseRequested = true;
    FrameCloseRequest();
    EXPECT_TRUE(s.CloseRequested);
    EXPECT_EQ(closes, 1);
    s.exportRunning.store(false);
    FrameCloseRequest();
    EXPECT_EQ(closes, 2);
}

TEST_F(FrameWorkTest, PlaybackReachingTheEndStopsAndRewinds) {
    AppState& s = GlobalAppState;
    CurrentProject.totalDuration = 2.0f;
    s.playing = true;
    s.playhead = 1.9f;
    FrameTransport(0.05);
    EXPECT_TRUE(s.playing);
    EXPECT_NEAR(s.playhead, 1.95f, 1e-6f);
    FrameTransport(0.06);
    EXPECT_FALSE(s.playing);
    EXPECT_FLOAT_EQ(s.playhead, 0.0f);
    EXPECT_FALSE(LivePlaybackEngine.playing.load());
}

// No stream is open in the tests: Play moves the playhead at the frame's
// clock and keeps the engine located with it.
TEST_F(FrameWorkTest, PlayWithNoOutputOpenFollowsTheFrameClock) {
    AppState& s = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    ASSERT_FALSE(LiveAudioOutput.open);
    PrepareVoices(engine, 48000, 4);
    engine.ready.store(true);
    s.playhead = 1.0f;
    TransportPlayPause(s, engine, GlobalVideoPlayer);
    ASSERT_TRUE(engine.playing.load());
    for (int frame = 0; frame < 4; ++frame) FrameTransport(0.25);
    EXPECT_NEAR(s.playhead, 2.0f, 1e-5f);
    EXPECT_NEAR(GetPlaybackTime(engine), 2.0, 1e-3);
    // A stream that failed is no clock either.
    LiveAudioOutput.open = true;
    LiveAudioOutput.streamFailed.store(true);
    FrameTransport(0.5);
    EXPECT_NEAR(s.playhead, 2.5f, 1e-5f);
    LiveAudioOutput.open = false;
    LiveAudioOutput.streamFailed.store(false);
    TransportPlayPause(s, engine, GlobalVideoPlayer);
    PrepareVoices(engine, 48000, 0);
}

TEST_F(FrameWorkTest, StatusLine) {
    struct Colour {
        const char* text;
        std::uint32_t rgb;
    };
    const Colour colours[] = {
        {"Project saved", 0xB4DCB4},
        {"Save failed", 0xFF7864},
        {"Error: couldn't decode this video", 0xFF7864},
        {"Export FAILED: disk full", 0xFF7864},
        {"Opened (some files missing)", 0xFFC864},
        {"Some files unreadable \u2014 2 placeholder clips", 0xFFC864},
        {"error in lower case is not an error", 0xB4DCB4},
    };
    for (const Colour& c : colours) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StatusTextColor(c.text), Rgb(c.rgb));
    }

    // An "Undo" of 1.5 s: 200 until its last half second, then fading.
    EXPECT_EQ(StatusTextAlpha(1.5f), 200);
    EXPECT_EQ(StatusTextAlpha(0.5f), 200);
    EXPECT_EQ(StatusTextAlpha(0.25f), 100);
    EXPECT_EQ(StatusTextAlpha(0.0f), 0);
    EXPECT_EQ(StatusTextAlpha(-0.01f), 0);

    AppState& s = GlobalAppState;
    PostStatus("Undo", 1.5f);
    PostStatus("Redo", 1.5f);  // the later one replaces it
    for (int frame = 0; frame < 29; ++frame) TickStatusLine(0.05);
    EXPECT_EQ(s.statusMessage, "Redo");
    EXPECT_GT(s.statusTime, 0.0f);
    TickStatusLine(0.05);
    TickStatusLine(0.05);
    EXPECT_LE(s.statusTime, 0.0f);

    // The audio output's own text comes in for 5 s and is emptied.
    LiveAudioOutput.statusText = "Could not open audio device";
    TickStatusLine(0.016);
    EXPECT_EQ(s.statusMessage, "Could not open audio device");
    EXPECT_FLOAT_EQ(s.statusTime, 5.0f);
    EXPECT_TRUE(LiveAudioOutput.statusText.empty());
}

TEST_F(FrameWorkTest, QueuedLibraryFoldersWaitTwoFrames) {
    PendingLibraryFolders.push_back({"/nowhere/Rain", true, -1});
    FrameLibraryFolders();
    FrameLibraryFolders();
    EXPECT_EQ(PendingLibraryFolders.size(), 1u) << "the first two frames draw before any scan";
    FrameLibraryFolders();
    EXPECT_TRUE(PendingLibraryFolders.empty());
}

// The timeline's background picker asks for a delete: held while a job or
// an export reads the events, then one undo step and the selection kept on
// the same events.
TEST_F(FrameWorkTest, PendingDeleteWaitsThenDeletesWithOneUndoStep) {
    AppState& s = GlobalAppState;
    for (const char* blocker : {"job", "export"}) {
        SCOPED_TRACE(blocker);
        Reset();
        CurrentProject.events.resize(3);
        CurrentProject.events[2].time = 7.0f;
        s.selectedEvents = {0, 2};
        s.selectedEvent = 2;
        s.pendingDeleteEvent = 1;
        if (std::string(blocker) == "job") {
            StartWaitingJob();
        } else {
            s.exportRunning.store(true);
        }
        FramePendingDelete();
        EXPECT_EQ(s.pendingDeleteEvent, 1);
        EXPECT_EQ(CurrentProject.events.size(), 3u);
        EXPECT_TRUE(UndoStack.empty());

        s.backgroundJob.cancel.store(true);
        EndBackgroundJob(s.backgroundJob);
        s.exportRunning.store(false);
        FramePendingDelete();
        EXPECT_EQ(s.pendingDeleteEvent, -1);
        ASSERT_EQ(CurrentProject.events.size(), 2u);
        EXPECT_FLOAT_EQ(CurrentProject.events[1].time, 7.0f);
        EXPECT_EQ(s.selectedEvents, (std::set<std::int32_t>{0, 1}));
        EXPECT_EQ(s.selectedEvent, 1);
        EXPECT_EQ(UndoStack.size(), 1u);
        EXPECT_TRUE(s.unsavedChanges);
        EXPECT_TRUE(s.audioUpdateRequested.load());
    }

    // An index past the list is dropped without an edit.
    Reset();
    CurrentProject.events.resize(1);
    s.pendingDeleteEvent = 4;
    FramePendingDelete();
    EXPECT_EQ(s.pendingDeleteEvent, -1);
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_FALSE(s.audioUpdateRequested.load());
}

// Auditioning one layer: playback stops 0.1 s after the layer's end, and
// once stopped the audition is over.
TEST_F(FrameWorkTest, AuditionStopsJustAfterItsLayer) {
    AppState& s = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    LayerResult layer;
    layer.startTime = 1.0f;
    layer.duration = 0.5f;
    CurrentProject.results = {layer};
    struct Case {
        const char* name;
        std::int32_t soloLayer;
        bool ready;
        bool stops;
    };
    const Case cases[] = {
        {"the layer", 0, true, true},
        {"engine not ready", 0, false, false},
        {"no such layer", 3, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine.ready.store(c.ready);
        engine.soloVoice = 0;
        s.soloLayer = c.soloLayer;
        s.playing = true;
        s.playhead = 1.0f;
        for (int frame = 0; frame < 20 && s.playing; ++frame) FrameTransport(0.05);
        EXPECT_EQ(s.playing, !c.stops);
        if (c.stops) {
            // In the first frame past the layer's end plus 0.1 s.
            EXPECT_GT(s.playhead, 1.6f);
            EXPECT_LT(s.playhead, 1.66f);
            EXPECT_FALSE(engine.playing.load());
        }
        s.playing = false;
        FrameTransport(0.1);
        EXPECT_EQ(s.soloLayer, -1);
        EXPECT_EQ(engine.soloVoice, -1);
    }
    engine.ready.store(false);
}

// A sink in memory stands in for the display texture.
struct NullSink : VideoFrameSink {
    unsigned long CreateTarget(int, int) override { return 0; }
    void ReleaseTarget() override {}
    void Upload(const std::uint8_t*, int, int) override {}
    void* View() override { return this; }
};

class FrameVideoTest : public FrameWorkTest {
protected:
    void SetUp() override {
        FrameWorkTest::SetUp();
        GlobalVideoPlayer.device = &sink_;
        test::TestVideoSpec spec;  // 3 s at 10 fps
        video_ = dir_.file("shot.mkv");
        ASSERT_TRUE(test::WriteTestVideo(video_, spec));
        notVideo_ = dir_.file("notes.mkv");
        ASSERT_TRUE(test::WriteBytes(notVideo_, "this is not a video"));
        ::testing::internal::CaptureStdout();  // the loader's "[Video]" lines
    }
    void TearDown() override {
        // The capture also holds the failures' own messages: give them back.
        const std::string out = ::testing::internal::GetCapturedStdout();
        if (HasFailure()) std::fputs(out.c_str(), stdout);
        FrameWorkTest::TearDown();
        GlobalVideoPlayer.device = nullptr;
    }
    static TraceAnalysis ValidRead() {
        TraceAnalysis read;
        read.valid = true;
        read.frames.resize(4);
        return read;
    }

    NullSink sink_;
    test::TempDir dir_;
    std::string video_;
    std::string notVideo_;
};

TEST_F(FrameVideoTest, TheProjectsVideoLoadsAtItsOffset) {
    AppState& s = GlobalAppState;
    const std::string error =
        "Error: couldn't decode the project's video (codec not supported on this system) \u2014 use an H.264 "
        ".mp4 proxy";
    struct Case {
        const char* name;
        std::string path;
        bool loads;
        std::string status;
    };
    const Case cases[] = {
        {"a video", video_, true, ""},
        {"a missing file is passed over quietly", dir_.file("gone.mkv"), false, ""},
        {"a file that does not decode", notVideo_, false, error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        s.pendingVideoPath = c.path;
        s.pendingVideoStart = 2.5f;
        FrameProjectVideo();
        EXPECT_EQ(GlobalVideoPlayer.loaded, c.loads);
        EXPECT_EQ(s.videoPath, c.loads ? c.path : "");
        if (c.loads) EXPECT_FLOAT_EQ(GlobalVideoPlayer.timelineOffset, 2.5f);
        EXPECT_EQ(s.statusMessage, c.status);
        if (!c.status.empty()) EXPECT_FLOAT_EQ(s.statusTime, 8.0f);
        EXPECT_TRUE(s.pendingVideoPath.empty());
        EXPECT_FLOAT_EQ(s.pendingVideoStart, 0.0f);
    }
}

// A dropped (or chosen) video lengthens the project but never shortens it,
// takes its rate, shows the whole project and drops the old picture's read.
TEST_F(FrameVideoTest, ADroppedVideoSetsLengthRateAndView) {
    AppState& s = GlobalAppState;
    struct Case {
        const char* name;
        float projectDuration;
        float offset;  // kept from the video before
        float duration;
    };
    const Case cases[] = {
        {"longer project kept", 30.0f, 0.0f, 30.0f},
        {"shorter project lengthened", 2.0f, 0.0f, 3.0f},
        {"the offset counts", 3.5f, 1.0f, 4.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        CurrentProject.totalDuration = c.projectDuration;
        CurrentProject.fps = 25.0f;
        GlobalVideoPlayer.timelineOffset = c.offset;
        s.viewStart = 1.0f;
        s.viewEnd = 2.0f;
        s.playhead = 1.5f;
        s.traceAnalysis = ValidRead();
        s.dropState.droppedVideo = video_;
        FrameDroppedVideo();
        EXPECT_TRUE(GlobalVideoPlayer.loaded);
        EXPECT_EQ(s.videoPath, video_);
        EXPECT_TRUE(s.dropState.droppedVideo.empty());
        EXPECT_FLOAT_EQ(CurrentProject.totalDuration, c.duration);
        EXPECT_FLOAT_EQ(CurrentProject.fps, 10.0f);
        EXPECT_FLOAT_EQ(s.viewStart, 0.0f);
        EXPECT_FLOAT_EQ(s.viewEnd, c.duration);
        EXPECT_FLOAT_EQ(s.playhead, 0.0f);
        EXPECT_FALSE(s.traceAnalysis.valid) << "the read was of the old picture";
    }
}

// One that does not open or decode leaves the working video, its read, its
// path and the project as they were; the message says which for 8 s.
TEST_F(FrameVideoTest, AFailedImportKeepsTheWorkingVideo) {
    AppState& s = GlobalAppState;
    test::TestVideoSpec soundOnly;
    soundOnly.frames = 0;
    soundOnly.toneRate = 48000;
    soundOnly.toneSeconds = 0.5;
    const std::string sound = dir_.file("sound.mkv");
    ASSERT_TRUE(test::WriteTestVideo(sound, soundOnly));
    struct Case {
        const char* name;
        std::string path;
        std::string status;
    };
    const Case cases[] = {
        {"a text file named as a video", notVideo_, "Error: not a video file"},
        {"a missing file", dir_.file("gone.mp4"), "Error: not a video file"},
        {"a container without a picture", sound,
         "Error: couldn't decode this video (codec not supported on this system) \u2014 use an H.264 .mp4 proxy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        s.dropState.droppedVideo = video_;
        FrameDroppedVideo();
        ASSERT_TRUE(GlobalVideoPlayer.loaded);
        s.traceAnalysis = ValidRead();
        s.selectedDetections = {1};
        s.playhead = 1.5f;
        // A seek decodes within a time budget: on a loaded machine it may
        // take a few frames to land.
        for (int frame = 0; frame < 200 && std::abs(GlobalVideoPlayer.currentFrameTime - 1.5f) > 1e-4f; ++frame)
            GlobalVideoPlayer.Seek(1.5f);
        ASSERT_FLOAT_EQ(GlobalVideoPlayer.currentFrameTime, 1.5f);
        s.dropState.droppedVideo = c.path;
        FrameDroppedVideo();
        EXPECT_TRUE(GlobalVideoPlayer.loaded);
        EXPECT_FLOAT_EQ(GlobalVideoPlayer.currentFrameTime, 1.5f) << "the picture shown stays";
        EXPECT_EQ(s.videoPath, video_);
        EXPECT_TRUE(TraceReadValid(s));
        EXPECT_EQ(s.selectedDetections.size(), 1u);
        EXPECT_FLOAT_EQ(CurrentProject.totalDuration, 30.0f);
        EXPECT_FLOAT_EQ(s.playhead, 1.5f);
        EXPECT_EQ(s.statusMessage, c.status);
        EXPECT_FLOAT_EQ(s.statusTime, 8.0f);
        EXPECT_TRUE(s.dropState.droppedVideo.empty());
    }
}

// The review's selections point into the read of the picture that goes: a
// new video and an unloaded one both clear them.
TEST_F(FrameVideoTest, ANewOrResetVideoClearsThePictureReview) {
    AppState& s = GlobalAppState;
    const auto review = [&](std::int32_t sourceFilter) {
        s.selectedDetections = {0, 2};
        s.traceMarqueeBaseDetections = {1};
        s.traceMenuDetections = {2};
        s.activeTraceMarkerKind = 0;
        s.activeTraceMarkerIndex = 2;
        s.traceSourceFilter = sourceFilter;
        s.traceImportRequested = true;
    };
    const auto expectCleared = [&](std::int32_t sourceFilter) {
        EXPECT_TRUE(s.selectedDetections.empty());
        EXPECT_TRUE(s.traceMarqueeBaseDetections.empty());
        EXPECT_TRUE(s.traceMenuDetections.empty());
        EXPECT_EQ(s.activeTraceMarkerKind, -1);
        EXPECT_EQ(s.activeTraceMarkerIndex, -1);
        EXPECT_EQ(s.traceSourceFilter, sourceFilter);
        EXPECT_FALSE(s.traceImportRequested);
    };
    struct Case {
        const char* name;
        bool reset;  // else a dropped video
        std::int32_t filterBefore;
        std::int32_t filterAfter;
    };
    const Case cases[] = {
        {"dropped, suggestions only shown", false, 0, -1},
        {"dropped, markers only shown", false, 1, 1},
        {"reset, suggestions only shown", true, 0, -1},
        {"reset, both shown", true, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        ASSERT_TRUE(GlobalVideoPlayer.Load(video_.c_str()));
        s.videoPath = video_;
        review(c.filterBefore);
        if (c.reset) {
            s.videoChangePending = true;
            FrameVideoReset();
        } else {
            s.dropState.droppedVideo = video_;
            FrameDroppedVideo();
            ASSERT_TRUE(GlobalVideoPlayer.loaded);
        }
        expectCleared(c.filterAfter);
    }
}

TEST_F(FrameVideoTest, ADroppedVideoWaitsForTheJobAndTheExport) {
    AppState& s = GlobalAppState;
    CurrentProject.totalDuration = 1.0f;
    s.dropState.droppedVideo = video_;
    StartWaitingJob();
    FrameDroppedVideo();
    s.backgroundJob.cancel.store(true);
    EndBackgroundJob(s.backgroundJob);
    s.exportRunning.store(true);
    FrameDroppedVideo();
    EXPECT_FALSE(GlobalVideoPlayer.loaded);
    EXPECT_EQ(s.dropState.droppedVideo, video_);
    EXPECT_FLOAT_EQ(CurrentProject.totalDuration, 1.0f);
    s.exportRunning.store(false);
    FrameDroppedVideo();
    EXPECT_TRUE(GlobalVideoPlayer.loaded);
    EXPECT_FLOAT_EQ(CurrentProject.totalDuration, 3.0f);
}

// Unloading the video closes it with its read; a project just opened keeps
// the read it brought for the video it names.
TEST_F(FrameVideoTest, VideoReset) {
    AppState& s = GlobalAppState;
    struct Case {
        const char* name;
        std::string openedVideo;  // pendingVideoPath left by an open
        bool markers;
        bool readKept;
        std::int32_t tab;
    };
    const Case cases[] = {
        {"unloaded", "", false, false, 0},
        {"unloaded with markers imported", "", true, false, 1},
        {"a project opened with its read", "/films/reel2.mov", false, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        ASSERT_TRUE(GlobalVideoPlayer.Load(video_.c_str()));
        s.videoPath = video_;
        s.traceAnalysis = ValidRead();
        s.activeTab = 1;
        if (c.markers) s.markerEvents.resize(1);
        s.pendingVideoPath = c.openedVideo;
        s.videoChangePending = true;
        FrameVideoReset();
        EXPECT_FALSE(s.videoChangePending);
        EXPECT_FALSE(GlobalVideoPlayer.loaded);
        EXPECT_TRUE(s.videoPath.empty());
        EXPECT_EQ(TraceReadValid(s), c.readKept);
        EXPECT_EQ(s.activeTab, c.tab);
    }
}

// The picture plays while the playhead is inside its span, pauses outside
// it, and is parked at its start when playback reaches the project's end.
TEST_F(FrameVideoTest, PlaybackCarriesThePicture) {
    AppState& s = GlobalAppState;
    VideoPlayer& video = GlobalVideoPlayer;
    ASSERT_TRUE(video.Load(video_.c_str()));
    video.timelineOffset = 1.0f;  // shows from 1 s to 4 s
    CurrentProject.totalDuration = 4.5f;
    s.playing = true;
    s.playhead = 0.5f;
    FrameTransport(0.25);
    EXPECT_FALSE(video.decoder->playing) << "before its span";
    FrameTransport(0.25);
    FrameTransport(0.25);  // 1.25
    EXPECT_TRUE(video.decoder->playing);
    while (s.playhead < 4.0f) FrameTransport(0.25);
    EXPECT_FALSE(video.decoder->playing) << "past its end";
    EXPECT_TRUE(s.playing);
    FrameTransport(0.25);
    FrameTransport(0.25);  // 4.5: the end
    EXPECT_FALSE(s.playing);
    EXPECT_FLOAT_EQ(s.playhead, 0.0f);
    EXPECT_FALSE(video.decoder->playing);
    EXPECT_NEAR(video.currentFrameTime, 0.0f, 1e-4f);
}

}  // namespace
}  // namespace korvel
