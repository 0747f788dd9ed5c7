#include "ui/panels/settings_tab.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <string>

#include "app/ui_layout.h"
#include "app/update_check.h"
#include "panels_fixture.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

// The process-wide records the tab writes, put back after each test.
class SettingsTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project{};
        AppState& state = GlobalAppState;
        state.unsavedChanges = false;
        state.projectSampleRate = 48000;
        state.audioUpdateRequested.store(false);
        state.backgroundJob.active.store(false);
        state.updateInfo = UpdateInfo{};
        state.dismissedUpdateVersion.clear();
        state.maxBackups = 5;
        GlobalVideoPlayer.loaded = false;
        GlobalVideoPlayer.duration = 0.0f;
        GlobalVideoPlayer.timelineOffset = 0.0f;
        LivePlaybackEngine.reverbRequests.resetSampleRate.store(0);
    }
    void TearDown() override {
        GlobalAppState.backgroundJob.active.store(false);
        GlobalVideoPlayer.loaded = false;
        CurrentProject = Project{};
        SetPlaybackSampleRate(LivePlaybackEngine, 48000);
    }
    static void AddLayer(std::int32_t group, float start) {
        if (CurrentProject.events.empty()) CurrentProject.events.resize(1);
        LayerResult layer;
        layer.eventIdx = 0;
        layer.group = group;
        layer.startTime = start;
        layer.duration = 2.0f;
        CurrentProject.results.push_back(layer);
    }
};

TEST_F(SettingsTabTest, ComboEntriesFallBackToTheirDefaults) {
    EXPECT_EQ(SampleRateIndex(44000), 1);  // shows "48000 Hz"
    EXPECT_EQ(SampleRateIndex(192000), 4);
    EXPECT_EQ(FrameRateIndex(23.976f), 0);
    EXPECT_EQ(FrameRateIndex(23.98f), 0);
    EXPECT_EQ(FrameRateIndex(23.99f), 1);  // "24"
    EXPECT_EQ(FrameRateIndex(59.94f), 7);
    EXPECT_EQ(AutoSaveIntervalIndex(60.0f), 0);
    EXPECT_EQ(AutoSaveIntervalIndex(600.9f), 3);
    EXPECT_EQ(AutoSaveIntervalIndex(602.0f), 2);  // "5 min"
    EXPECT_STREQ(ScaleName(13), "Dom7");          // shown though not offered
    EXPECT_STREQ(ScaleName(99), "Off");
}

TEST_F(SettingsTabTest, ARateNotInTheListChangesWhenChosen) {
    GlobalAppState.projectSampleRate = 44000;
    ChooseProjectSampleRate(kSettingsSampleRates[SampleRateIndex(44000)]);
    EXPECT_EQ(GlobalAppState.projectSampleRate, 48000);
    EXPECT_EQ(LivePlaybackEngine.sampleRate, 48000);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
}

TEST_F(SettingsTabTest, RateChangeDuringAJobAsksForTheRebuild) {
    struct Case {
        const char* name;
        bool layers;
        bool jobRunning;
        bool expectRequest;
    } cases[] = {
        {"job running", true, true, true},
        {"no layers", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.layers) AddLayer(0, 0.0f);
        GlobalAppState.backgroundJob.active.store(c.jobRunning);
        ChooseProjectSampleRate(96000);
        EXPECT_EQ(GlobalAppState.projectSampleRate, 96000);
        EXPECT_EQ(LivePlaybackEngine.sampleRate, 96000);
        // The reverb reset goes to the audio thread, not into its state.
        EXPECT_EQ(LivePlaybackEngine.reverbRequests.resetSampleRate.load(), 96000);
        EXPECT_EQ(GlobalAppState.audioUpdateRequested.load(), c.expectRequest);
        GlobalAppState.backgroundJob.active.store(false);
        SetPlaybackSampleRate(LivePlaybackEngine, 48000);
    }
}

TEST_F(SettingsTabTest, TimecodeFieldsRoundTripAndClamp) {
    struct Case {
        float fps;
        const char* typed;
        const char* shown;
    } cases[] = {
        {23.976f, "01:02:03:23", "01:02:03:23"},
        {29.97f, "00:10:00:29", "00:10:00:29"},
        {59.94f, "12:34:56:59", "12:34:56:59"},
        {25.0f, "25:70:70:99", "23:59:59:24"},
        {25.0f, "1:2:3", "01:02:03:00"},
        {0.0f, "00:00:01:24", "00:00:01:24"},  // no rate reads as 25
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " at " + std::to_string(c.fps));
        CurrentProject.fps = c.fps;
        ASSERT_TRUE(SetStartTimecode(c.typed));
        EXPECT_EQ(TimecodeFieldText(CurrentProject.startTC), c.shown);
    }
    const float before = CurrentProject.startTC;
    EXPECT_FALSE(SetStartTimecode("1:2"));
    EXPECT_FALSE(SetTimelineDuration(""));
    EXPECT_EQ(CurrentProject.startTC, before);
}

TEST_F(SettingsTabTest, DurationAndVideoStart) {
    CurrentProject.fps = 25.0f;
    ASSERT_TRUE(SetTimelineDuration("00:00:00:00"));
    EXPECT_EQ(CurrentProject.totalDuration, 1.0f);

    CurrentProject.totalDuration = 30.0f;
    GlobalVideoPlayer.loaded = true;
    GlobalVideoPlayer.duration = 20.0f;
    ASSERT_TRUE(SetVideoStart("00:00:15:00"));
    EXPECT_EQ(GlobalVideoPlayer.timelineOffset, 15.0f);
    EXPECT_EQ(CurrentProject.totalDuration, 35.0f);
    ASSERT_TRUE(SetVideoStart("00:00:05:00"));  // earlier: the timeline keeps its length
    EXPECT_EQ(CurrentProject.totalDuration, 35.0f);
}

TEST_F(SettingsTabTest, BudgetRecountDealsTheLanesAgain) {
    AddLayer(1, 0.0f);
    AddLayer(1, 0.5f);  // overlaps the first
    AddLayer(0, 0.0f);
    CurrentProject.trackLayout.budgetMode = true;
    CurrentProject.trackLayout.groups[1].trackCount = 1;
    GlobalAppState.backgroundJob.active.store(true);  // the rebuild is dropped, the recount is not
    RecountTracks();
    EXPECT_EQ(CurrentProject.results[0].groupTrack, 0);
    EXPECT_EQ(CurrentProject.results[1].groupTrack, -1);  // over the budget
    EXPECT_EQ(CurrentProject.trackLayout.groups[1].usedLanes, 1);
    // BG's lanes come after FX A's one lane.
    EXPECT_EQ(CurrentProject.results[2].track, 1);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
    EXPECT_FALSE(GlobalAppState.audioUpdateRequested.load());
}

TEST_F(SettingsTabTest, BackupsToKeepClampAtOnce) {
    for (const auto& [typed, kept] : {std::pair{0, 1}, {-5, 1}, {7, 7}, {50, 50}, {51, 50}, {1000000, 50}}) {
        SetMaxBackups(typed);
        EXPECT_EQ(GlobalAppState.maxBackups, kept) << typed;
    }
}

TEST_F(SettingsTabTest, UpdateTexts) {
    struct Case {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "Last checked just now."},        {59, "Last checked just now."},
        {60, "Last checked 1 min ago."},      {3599, "Last checked 59 min ago."},
        {3600, "Last checked 1 hr ago."},     {86399, "Last checked 23 hr ago."},
        {86400, "Last checked 1 day ago."},   {172799, "Last checked 1 day ago."},
        {172800, "Last checked 2 days ago."},
    };
    for (const Case& c : cases) EXPECT_EQ(LastCheckedText(c.seconds), c.text);

    EXPECT_EQ(UpdatePageUrl("https://releases.example/2027"), "https://releases.example/2027");
    for (const char* url : {"", "http://releases.example/2027", "file:///etc/passwd", "javascript:x"})
        EXPECT_EQ(UpdatePageUrl(url), kReleaseNotesPage) << url;
}

TEST_F(SettingsTabTest, DismissHidesThatVersionOnly) {
    GlobalAppState.updateInfo.updateAvailable = true;
    GlobalAppState.updateInfo.version = "2027.1";
    EXPECT_TRUE(UpdatePending(GlobalAppState));
    DismissUpdate();
    EXPECT_EQ(GlobalAppState.dismissedUpdateVersion, "2027.1");
    EXPECT_FALSE(UpdatePending(GlobalAppState));
    GlobalAppState.updateInfo.version = "2027.2";
    EXPECT_TRUE(UpdatePending(GlobalAppState));
}

TEST_F(SettingsTabTest, ProjectSettingsMarkTheProjectChanged) {
    CurrentProject.fps = 25.0f;
    GlobalVideoPlayer.duration = 1.0f;
    const std::pair<const char*, std::function<void()>> edits[] = {
        {"rate", [] { ChooseProjectSampleRate(88200); }},
        {"start", [] { SetStartTimecode("00:00:01:00"); }},
        {"duration", [] { SetTimelineDuration("00:01:00:00"); }},
        {"video start", [] { SetVideoStart("00:00:02:00"); }},
        {"budget", [] { RecountTracks(); }},
    };
    for (const auto& [name, edit] : edits) {
        GlobalAppState.unsavedChanges = false;
        edit();
        EXPECT_TRUE(GlobalAppState.unsavedChanges) << name;
    }
}

// Drawn headless in every state that shows other rows: every push is popped
// and the tab ends where it began.
TEST_F(SettingsTabTest, DrawsEveryStateWithBalancedStyles) {
    test::UiHarness harness;
    test::PanelFrames frames(harness);
    UILayoutInputs inputs;
    inputs.displayWidth = 1280.0f;
    inputs.displayHeight = 720.0f;
    const UILayout layout = ComputeUILayout(inputs);
    struct Case {
        const char* name;
        std::function<void()> setUp;
    } cases[] = {
        {"defaults", [] {}},
        {"video, budget, loudness, scale",
         [] {
             GlobalVideoPlayer.loaded = true;
             CurrentProject.trackLayout.budgetMode = true;
             CurrentProject.normalizeLUFS = true;
             CurrentProject.scaleType = 13;
         }},
        {"update pending, checked, checking",
         [] {
             GlobalAppState.updateInfo.updateAvailable = true;
             GlobalAppState.updateInfo.version = "2027.1";
             GlobalAppState.updateInfo.notes = {"One", "Two"};
             GlobalAppState.updateInfo.lastUpdateCheck = 1;
             GlobalAppState.updateCheckRunning.store(true);
             GlobalAppState.autoSaveEnabled = false;
             GlobalAppState.updateCheckEnabled = false;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        GlobalAppState.projectDescription = "A rainy street";
        for (int frame = 0; frame < 3; ++frame) {
            frames.Run([&] {
                ImGuiContext& g = *GImGui;
                const int colors = g.ColorStack.Size;
                const int vars = g.StyleVarStack.Size;
                const int fonts = g.FontStack.Size;
                const ImGuiWindow* window = g.CurrentWindow;
                DrawSettingsTab(ImGui::GetWindowDrawList(), layout);
                EXPECT_EQ(g.ColorStack.Size, colors);
                EXPECT_EQ(g.StyleVarStack.Size, vars);
                EXPECT_EQ(g.FontStack.Size, fonts);
                EXPECT_EQ(g.CurrentWindow, window);
            });
        }
        EXPECT_EQ(GlobalAppState.projectDescription, "A rainy street");
        EXPECT_FALSE(GlobalAppState.unsavedChanges);  // drawing alone edits nothing
    }
    GlobalAppState.updateCheckRunning.store(false);
    GlobalAppState.autoSaveEnabled = true;
    GlobalAppState.updateCheckEnabled = true;
}

}  // namespace
}  // namespace korvel
