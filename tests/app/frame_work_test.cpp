#include "app/frame_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/background_job.h"
#include "app/theme.h"
#include "playback/audio_output.h"
#include "playback/playback_engine.h"
#include "project/project.h"

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
        CurrentProject.events.clear();
        CurrentProject.scenes.clear();
        CurrentProject.totalDuration = 30.0f;
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

}  // namespace
}  // namespace korvel
