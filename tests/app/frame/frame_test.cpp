// The whole frame, headless: DrawUI in a UI context without a renderer, the
// clock advanced frame by frame by the test.
#include "app/frame/frame.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppState& s = GlobalAppState;
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;  // the preferences and caches are other tests' business
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        s.statusMessage.clear();
        s.statusTime = 0.0f;
        s.pendingRenderMode = 0;
        CurrentProject.events.clear();
    }
    void TearDown() override {
        BackgroundJob& job = GlobalAppState.backgroundJob;
        job.cancel.store(true);
        EndBackgroundJob(job);
        job.done.store(false);
        GlobalAppState.exportCompleteCallback = nullptr;
        GlobalAppState.exportRunning.store(false);
        GlobalAppState.exportDone.store(false);
        GlobalAppState.exportDoneTime = 0.0;
        SetTheme(0);
    }
    test::UiHarness ui;
};

// A job that has finished is ended at its own step, after the render
// request's step: a render asked for in that frame starts in the next.
TEST_F(FrameTest, RequestsAreServedInTheFramesOrder) {
    AppState& s = GlobalAppState;
    StartBackgroundJob("Updating audio...", [] {
        GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
    }, false, -1.0f);
    ui.RunDrawUI();  // the frame the job's picture is copied from
    ui.RunDrawUI();  // starts the worker
    while (!s.backgroundJob.done.load()) std::this_thread::yield();

    s.pendingRenderMode = 2;
    // The finished job holds its overlay for 0.8 s, then ends.
    for (int i = 0; i < 20 && s.backgroundJob.active.load(); ++i) ui.RunDrawUI(0.1f);
    EXPECT_FALSE(s.backgroundJob.active.load()) << "the finished job ended";
    EXPECT_EQ(s.pendingRenderMode, 2) << "its step came before the job's";
    ui.RunDrawUI();
    EXPECT_EQ(s.pendingRenderMode, 0);
    EXPECT_STREQ(s.backgroundJob.label, "Rebuilding...");
}

TEST_F(FrameTest, ExportCompletesPointEightSecondsAfterItEnded) {
    AppState& s = GlobalAppState;
    int completions = 0;
    s.exportCompleteCallback = [&] { ++completions; };
    s.exportRunning.store(true);
    s.exportDone.store(true);
    int frames = 0;
    while (completions == 0 && frames < 100) {
        ui.RunDrawUI(0.1f);
        ++frames;
    }
    // Seen done in the first frame (clock 0.1), completed at 0.9 at the latest.
    EXPECT_GE(frames, 8);
    EXPECT_LE(frames, 9);
    EXPECT_FALSE(s.exportRunning.load());
}

TEST_F(FrameTest, StatusMessageLivesItsDurationInFrameTime) {
    PostStatus("Undo", 1.5f);
    for (int i = 0; i < 14; ++i) ui.RunDrawUI(0.1f);
    EXPECT_GT(GlobalAppState.statusTime, 0.0f);
    ui.RunDrawUI(0.1f);
    ui.RunDrawUI(0.1f);
    EXPECT_LE(GlobalAppState.statusTime, 0.0f);
    EXPECT_NEAR(UiClockSeconds(), 1.6, 1e-6);
}

TEST_F(FrameTest, EveryFrameTakesTheThemeIntoTheStyle) {
    for (int theme : {0, 1, 4}) {
        SCOPED_TRACE(theme);
        SetTheme(theme);
        ui.RunDrawUI();
        const ImVec4 bg = ImGui::GetStyle().Colors[ImGuiCol_WindowBg];
        EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(bg), ThemePalette.windowBg);
        EXPECT_EQ(ImGui::ColorConvertFloat4ToU32(ImGui::GetStyle().Colors[ImGuiCol_NavHighlight]) >> 24, 0u);
        EXPECT_FLOAT_EQ(ImGui::GetStyle().DisabledAlpha, 0.2f);
    }
}

}  // namespace
}  // namespace korvel
