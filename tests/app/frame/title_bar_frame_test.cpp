// The title bar and the panel dispatch in whole frames, headless: the
// label blend as the window narrows and widens, tab clicks through the
// pointer, the draggable caption and the drop-hover flags.
#include <gtest/gtest.h>
#include <imgui.h>

#include "app/background_job.h"
#include "app/frame/frame.h"
#include "app/frame/title_bar.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

class TitleBarFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppState& s = GlobalAppState;
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        s.activeTab = 0;
        s.unsavedPromptState = 0;
        s.projectPath.clear();
        s.dropState = DropState{};
        s.selectedEvent = -1;
        s.selectedEvents.clear();
        CurrentProject.events.clear();
        tabLabelBlend = 1.0f;
    }
    void TearDown() override {
        GlobalAppState.unsavedPromptState = 0;
        GlobalAppState.windowChrome.animating = false;
        tabLabelBlend = 1.0f;
    }
    // Frames until the blend rests (at most 2 s of frames).
    int Settle() {
        int frames = 0;
        do {
            ui.RunDrawUI();
            ++frames;
        } while (GlobalAppState.windowChrome.animating && frames < 120);
        return frames;
    }
    // The width below which the full labels no longer fit, measured with
    // the harness's font as the title bar measures.
    float FitWidth(bool prompt) {
        ui.BeginFrame();
        const float f = ImGui::GetFontSize();
        const char* labels[] = {"\xef\x87\x9e  Settings", "\xee\x82\x9a  Export", "\xee\x94\x9e  Library",
                                "\xef\x80\xa8  Mixer",    "\xef\x85\x80  Trace",  "\xef\x97\xbd  Events"};
        float needed = 0.0f;
        for (const char* l : labels) needed += 1.8f * f + ImGui::CalcTextSize(l).x;
        const float x = ImGui::CalcTextSize("Korvel").x + 24.0f + GlobalAppState.windowChrome.titleLeftPad;
        ui.EndFrame();
        return needed + 12.0f + GlobalAppState.windowChrome.captionButtonsWidth + x + 16.0f +
               (prompt ? 210.0f : 0.0f);
    }
    test::UiHarness ui;
};

TEST_F(TitleBarFrameTest, NarrowWindowBlendsToIconsAndBack) {
    const float fit = FitWidth(false);
    ui.io().DisplaySize = ImVec2(fit - 20.0f, 720.0f);
    ui.RunDrawUI();
    EXPECT_TRUE(GlobalAppState.windowChrome.animating) << "the loop keeps drawing while it moves";
    EXPECT_GT(tabLabelBlend, 0.0f);
    const int frames = Settle();
    EXPECT_EQ(tabLabelBlend, 0.0f);
    EXPECT_FALSE(GlobalAppState.windowChrome.animating);
    EXPECT_GT(frames, 5) << "a short animation";

    ui.io().DisplaySize = ImVec2(fit + 20.0f, 720.0f);
    Settle();
    EXPECT_EQ(tabLabelBlend, 1.0f) << "widening restores the labels";
}

TEST_F(TitleBarFrameTest, ThePromptTakesRoomFromTheLabels) {
    const float width = FitWidth(false) + 100.0f;
    ASSERT_LT(width, FitWidth(true));
    ui.io().DisplaySize = ImVec2(width, 720.0f);
    Settle();
    EXPECT_EQ(tabLabelBlend, 1.0f);
    GlobalAppState.unsavedPromptState = 1;
    Settle();
    EXPECT_EQ(tabLabelBlend, 0.0f);
}

TEST_F(TitleBarFrameTest, TabClicksAndTheDraggableCaption) {
    AppState& s = GlobalAppState;
    ui.RunDrawUI();
    const WindowChrome& chrome = s.windowChrome;
    EXPECT_EQ(chrome.titleHeight, 32.0f) << "no caption buttons in the harness";
    EXPECT_GT(chrome.dragRight, chrome.dragLeft);
    EXPECT_LT(chrome.dragRight, 1280.0f - 12.0f - chrome.captionButtonsWidth);

    // The rightmost tab is Settings, just left of the caption buttons.
    const float settingsX = 1280.0f - 12.0f - chrome.captionButtonsWidth - 10.0f;
    const auto click = [&](float x, float y) {
        ui.MoveMouse(x, y);
        ui.RunDrawUI();
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    };
    click(settingsX, 10.0f);
    EXPECT_EQ(s.activeTab, 5);
    click(settingsX, 10.0f);
    EXPECT_EQ(s.activeTab, 0) << "the active tab returns to events";

    // The title toggles the about box.
    click(s.windowChrome.titleLeftPad + 8.0f, 10.0f);
    EXPECT_TRUE(s.aboutOpen);
    s.aboutOpen = false;
}

TEST_F(TitleBarFrameTest, DropHoverFlagsFollowTabAndPointer) {
    // 1280 × 720 at the harness font: title 32, top area 273.6, video
    // 672.64, the inspector half 303.68 wide.
    struct Case {
        const char* name;
        int tab;
        bool bed;
        float x, y;
        bool overLibrary, overInspector;
    };
    const Case cases[] = {
        {"library panel", 2, false, 900, 100, true, false},
        {"library tab, over the video", 2, false, 600, 100, false, false},
        {"library tab, over the timeline", 2, false, 900, 320, false, false},
        {"library tab, over the title bar", 2, false, 900, 20, false, false},
        {"inspector of a bed", 0, true, 700, 100, false, true},
        {"events list beside it", 0, true, 1000, 100, false, false},
        {"inspector without a bed", 0, false, 700, 100, false, false},
        {"bed selected on another tab", 3, true, 700, 100, false, false},
    };
    AppState& s = GlobalAppState;
    CurrentProject.events.resize(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.activeTab = c.tab;
        CurrentProject.events[0].shape = KindValue(c.bed ? EventKind::Bed : EventKind::Spot);
        s.selectedEvent = 0;
        // A sound arriving in this frame keeps the targets the panel found.
        s.dropState = DropState{};
        s.dropState.arrivingAudio = {"/sounds/a.wav"};
        s.dropState.hoverAudio = true;
        s.dropState.dropX = c.x;
        s.dropState.dropY = c.y;
        ui.RunDrawUI();
        EXPECT_EQ(s.dropState.heldOverLibrary, c.overLibrary);
        EXPECT_EQ(s.dropState.heldOverInspector, c.overInspector);
    }
    s.dropState = DropState{};
}

TEST_F(TitleBarFrameTest, OnlyTheActiveTabsPanelDraws) {
    static int drawn[6];
    for (int& d : drawn) d = 0;
    MainTabPanels = {[](ImDrawList*, const UILayout&) { ++drawn[0]; }, [](ImDrawList*, const UILayout&) { ++drawn[1]; },
                     [](ImDrawList*, const UILayout&) { ++drawn[2]; }, [](ImDrawList*, const UILayout&) { ++drawn[3]; },
                     [](ImDrawList*, const UILayout&) { ++drawn[4]; }, [](ImDrawList*, const UILayout&) { ++drawn[5]; }};
    for (int tab : {4, 9, -1}) {
        GlobalAppState.activeTab = tab;
        ui.RunDrawUI();
    }
    MainTabPanels = {};
    EXPECT_EQ(drawn[4], 1);
    EXPECT_EQ(drawn[0], 2) << "any other value draws the events tab";
    EXPECT_EQ(drawn[1] + drawn[2] + drawn[3] + drawn[5], 0);
}

}  // namespace
}  // namespace korvel
