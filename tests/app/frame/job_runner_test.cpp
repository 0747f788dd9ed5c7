// The job runner and its overlays in whole frames, headless: the test's
// job body waits on a latch the test opens, and the clock moves only with
// the frames the test draws.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <atomic>
#include <thread>

#include "app/background_job.h"
#include "app/frame/frame.h"
#include "app/frame/job_overlays.h"
#include "app/frame/title_bar.h"
#include "app/frame_work.h"
#include "library/library.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

class JobRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        GlobalAppState.statusMessage.clear();
        GlobalAppState.statusTime = 0.0f;
        GlobalAppState.lockAfterBuild = false;
        GlobalAppState.pendingRenderMode = 0;
        CurrentProject.events.clear();
        CurrentProject.results.clear();
    }
    void TearDown() override {
        release_.store(true);
        BackgroundJob& job = GlobalAppState.backgroundJob;
        job.cancel.store(true);
        EndBackgroundJob(job);
        job.done.store(false);
        job.progress.store(-1.0f);
        CurrentProject.results.clear();
    }
    // A body that waits for the test, then ends as every body must.
    void Start(const char* label, bool cancellable, bool live, float progress = 0.0f) {
        release_.store(false);
        StartBackgroundJob(
            label,
            [this] {
                BackgroundJob& job = GlobalAppState.backgroundJob;
                while (!release_.load() && !job.cancel.load()) std::this_thread::yield();
                job.done.store(true, std::memory_order_release);
            },
            cancellable, progress);
        GlobalAppState.backgroundJob.revealBuildProgress = live;
    }
    void FinishBody() {
        release_.store(true);
        while (!GlobalAppState.backgroundJob.done.load()) std::this_thread::yield();
    }
    std::atomic<bool> release_{false};
    test::UiHarness ui;
};

TEST_F(JobRunnerTest, LiveJobEndsInTheFrameThatSeesDone) {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    Start("Building...", true, true);
    ui.RunDrawUI();
    EXPECT_TRUE(job.threadStarted) << "a live job starts in its own frame";
    FinishBody();
    ui.RunDrawUI();
    EXPECT_FALSE(job.active.load());
}

TEST_F(JobRunnerTest, FrozenJobHoldsItsFullBarForPointEightSeconds) {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    Start("Updating audio...", false, false, 0.3f);
    ui.RunDrawUI(0.1f);
    EXPECT_FALSE(job.threadStarted) << "it waits for the copy of the frame it started in";
    ui.RunDrawUI(0.1f);
    EXPECT_TRUE(job.threadStarted);
    FinishBody();
    int frames = 0;
    while (job.active.load() && frames < 50) {
        ui.RunDrawUI(0.1f);
        if (job.active.load()) {
            EXPECT_EQ(job.progress.load(), 1.0f) << "the full bar shows while held";
        }
        ++frames;
    }
    EXPECT_GE(frames, 8);
    EXPECT_LE(frames, 10);
}

TEST_F(JobRunnerTest, EscapeCancelsOnlyACancellableJob) {
    struct Case {
        const char* label;
        bool cancellable;
        bool live;
    };
    const Case cases[] = {{"Building...", true, true}, {"Rebuilding event...", true, false},
                          {"Updating audio...", false, false}};
    BackgroundJob& job = GlobalAppState.backgroundJob;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Start(c.label, c.cancellable, c.live);
        ui.RunDrawUI();
        ui.RunDrawUI();
        ui.SetKey(ImGuiKey_Escape, true);
        ui.RunDrawUI();
        ui.SetKey(ImGuiKey_Escape, false);
        EXPECT_EQ(job.cancel.load(), c.cancellable);
        FinishBody();
        for (int i = 0; i < 60 && job.active.load(); ++i) ui.RunDrawUI(0.1f);
        ASSERT_FALSE(job.active.load());
    }
}

TEST_F(JobRunnerTest, EndingReportsPlaceholdersAndLocksAfterABuild) {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    CurrentProject.events.resize(3);
    CurrentProject.results.resize(4);
    CurrentProject.results[1].isSketch = true;
    CurrentProject.results[3].isSketch = true;
    GlobalAppState.lockAfterBuild = true;
    Start("Building...", true, true);
    ui.RunDrawUI();
    FinishBody();
    ui.RunDrawUI();
    ASSERT_FALSE(job.active.load());
    for (const Event& e : CurrentProject.events) EXPECT_TRUE(e.locked);
    EXPECT_FALSE(GlobalAppState.lockAfterBuild);
    const bool palettes = !SoundLibrary.palettes.empty();
    EXPECT_EQ(GlobalAppState.statusMessage, PlaceholderMessage(2, palettes));
    EXPECT_NEAR(GlobalAppState.statusTime, 8.0f, 0.05f);
}

TEST(JobMessages, PlaceholderCountsAndLiveLine) {
    EXPECT_EQ(PlaceholderMessage(0, true), "");
    EXPECT_EQ(PlaceholderMessage(1, false), "No palette \xe2\x80\x94 1 placeholder clip");
    EXPECT_EQ(PlaceholderMessage(3, false), "No palette \xe2\x80\x94 3 placeholder clips");
    EXPECT_EQ(PlaceholderMessage(1, true), "Some files unreadable \xe2\x80\x94 1 placeholder clip");
    EXPECT_EQ(PlaceholderMessage(12, true), "Some files unreadable \xe2\x80\x94 12 placeholder clips");
    EXPECT_EQ(LiveBlockText("Building...", 40, 0, 0), "Building...  40 clips");
    EXPECT_EQ(LiveBlockText("Rebuilding event...", 7, 2, 5), "Rebuilding event...  event 2 / 5  \xc2\xb7  7 clips");
}

TEST(JobOverlay, FadesInAfterAFifthOfASecondAndRingsSkipWhenFaint) {
    struct Case {
        double t;
        float alpha;
    };
    const Case cases[] = {{0.0, 0.0f}, {0.19, 0.0f}, {0.2, 0.0f}, {0.35, 0.5f}, {0.5, 1.0f}, {3.0, 1.0f}};
    for (const Case& c : cases) EXPECT_NEAR(JobOverlayAlpha(c.t), c.alpha, 1e-5f) << c.t;

    // At UI time 0 the first ring has no radius and is skipped; the second
    // (s = 0.5) is drawn at full alpha; the third (s ≈ 0.866) fades.
    EXPECT_EQ(JobOverlayRing(0, 0.0, 220).alpha, 0);
    const OverlayRing second = JobOverlayRing(1, 0.0, 220);
    EXPECT_NEAR(second.radius, 50.0f, 1e-3f);
    EXPECT_EQ(second.alpha, 220);
    const OverlayRing third = JobOverlayRing(2, 0.0, 220);
    EXPECT_NEAR(third.radius, 86.6025f, 1e-2f);
    EXPECT_EQ(third.alpha, static_cast<int>(220.0f * (2.0f - 2.0f * 0.8660254f)));
    EXPECT_EQ(JobOverlayRing(1, 0.0, 1).alpha, 0) << "alpha below 2 is skipped";
}

// A panel that keeps a menu open from frame to frame, as a context menu does.
bool MenuWanted = false;
void PanelWithMenu(ImDrawList*, const UILayout&) {
    if (MenuWanted) ImGui::OpenPopup("menu");
    MenuWanted = false;
    if (ImGui::BeginPopup("menu")) {
        ImGui::TextUnformatted("Delete");
        ImGui::EndPopup();
    }
}

TEST_F(JobRunnerTest, APopupOpenWhenAJobStartsIsClosed) {
    MainTabPanels[0] = PanelWithMenu;
    GlobalAppState.activeTab = 0;
    MenuWanted = true;
    ui.RunDrawUI();
    ui.RunDrawUI();
    const bool openBefore = !GImGui->OpenPopupStack.empty();
    Start("Building...", true, true);
    ui.RunDrawUI();
    const bool openAfter = !GImGui->OpenPopupStack.empty();
    MainTabPanels[0] = nullptr;
    ASSERT_TRUE(openBefore);
    EXPECT_FALSE(openAfter) << "no menu acts on the project under the job";
}

TEST_F(JobRunnerTest, EndingTellsTheUiNothingIsHeld) {
    Start("Updating audio...", false, false);
    ui.RunDrawUI();
    ui.RunDrawUI();
    ui.SetMouseButton(0, true);
    ui.SetKey(ImGuiKey_A, true);
    FinishBody();
    for (int i = 0; i < 20 && GlobalAppState.backgroundJob.active.load(); ++i) ui.RunDrawUI(0.1f);
    EXPECT_FALSE(ui.io().MouseDown[0]);
    EXPECT_FALSE(ui.io().KeysDown[ImGuiKey_A]);
}

TEST(SnapshotCopy, AFailedCopyLetsTheJobRunWithoutAPicture) {
    BackgroundJob job;
    job.snapshotRequested = true;
    int picture = 0;
    SnapshotCopyFinished(job, true, &picture);
    EXPECT_EQ(job.snapshotView, &picture);
    job.snapshotRequested = true;
    SnapshotCopyFinished(job, false, &picture);
    EXPECT_FALSE(job.snapshotRequested) << "the worker may start";
    EXPECT_EQ(job.snapshotView, nullptr) << "the overlay draws without the picture";
}

}  // namespace
}  // namespace korvel
