// The launcher and the about box in whole frames, headless: what closes
// them, that the launcher stays closed until the menu opens it again, and
// its actions refused while an export reads the project.
#include "app/frame/launcher_draw.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include "app/frame/frame.h"
#include "app/frame_work.h"
#include "app/launcher.h"
#include "project/app_state.h"
#include "project/file_io.h"
#include "project/project.h"
#include "support/temp_dir.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

class LauncherFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppState& s = GlobalAppState;
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = false;  // the start-up rule runs
        SetUiClockSeconds(0.0);
        s.showLauncherOnStartup = true;
        s.launcherOpen = false;
        s.launcherDismissed = false;
        s.aboutOpen = false;
        s.recentProjects.clear();
        s.unsavedChanges = false;
        s.unsavedPromptState = 0;
        s.PendingOpenPath.clear();
        s.statusMessage.clear();
        CurrentProject.events.clear();
        ClearLauncherCaches();
    }
    void TearDown() override {
        SetUp();
        GlobalAppState.exportRunning.store(false);
        FrameWork.launcherChecked = true;
    }
    void Click(float x, float y) {
        ui.MoveMouse(x, y);
        ui.RunDrawUI();
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    }
    test::UiHarness ui;
};

TEST_F(LauncherFrameTest, EscapeOrAClickAroundTheCardClosesItForGood) {
    AppState& s = GlobalAppState;
    enum Way { Escape, ClickOutside, ClickNew };
    for (const Way way : {Escape, ClickOutside, ClickNew}) {
        SCOPED_TRACE(static_cast<int>(way));
        SetUp();
        ui.RunDrawUI();
        ASSERT_TRUE(s.launcherOpen) << "opened on the first frame";
        const LauncherRects r = LastLauncherRects;
        Click(r.card.CentreX(), r.card.y0 + 10.0f);
        ASSERT_TRUE(s.launcherOpen) << "a click on the card itself keeps it";
        if (way == Escape) {
            ui.SetKey(ImGuiKey_Escape, true);
            ui.RunDrawUI();
            ui.SetKey(ImGuiKey_Escape, false);
        } else if (way == ClickOutside) {
            Click(r.card.x0 - 20.0f, r.card.y0 - 20.0f);
        } else {
            Click(r.newButton.CentreX(), r.newButton.CentreY());
        }
        EXPECT_FALSE(s.launcherOpen);
        EXPECT_TRUE(s.launcherDismissed);
        FrameWork.launcherChecked = false;  // even the start-up rule again
        for (int i = 0; i < 3; ++i) ui.RunDrawUI();
        EXPECT_FALSE(s.launcherOpen) << "only the menu command reopens it";
    }
}

TEST_F(LauncherFrameTest, ActionsWaitWhileAnExportReadsTheProject) {
    AppState& s = GlobalAppState;
    test::TempDir dir;
    const std::string path = dir.file("Chase.kvproj");
    ASSERT_TRUE(WriteFileAtomic(path, R"({"projectDescription": "Reel 2"})"));
    s.recentProjects = {path};
    CurrentProject.AddEvent(1.0f, 0, 0.5f);
    s.unsavedChanges = true;
    s.exportRunning.store(true);
    ui.RunDrawUI();
    const LauncherRects r = LastLauncherRects;
    Click(r.newButton.CentreX(), r.newButton.CentreY());
    for (int click = 0; click < 2; ++click) {
        ui.MoveMouse(r.firstRow.CentreX(), r.firstRow.CentreY());
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    }
    EXPECT_TRUE(s.launcherOpen);
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_TRUE(s.PendingOpenPath.empty());

    s.exportRunning.store(false);
    ui.RunDrawUI(0.5f);  // the next two clicks make a double click of their own
    for (int click = 0; click < 2; ++click) {
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    }
    EXPECT_FALSE(s.launcherOpen);
    EXPECT_TRUE(s.PendingOpenPath.empty()) << "the frame took it";
    EXPECT_EQ(s.parkedOpenPath, path) << "parked for the unsaved-changes prompt";
    EXPECT_EQ(s.unsavedPromptState, 1);
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    s.parkedOpenPath.clear();
}

TEST_F(LauncherFrameTest, AnUnreadableRowIsDroppedOnADoubleClick) {
    AppState& s = GlobalAppState;
    test::TempDir dir;
    s.recentProjects = {dir.file("gone.kvproj")};
    ui.RunDrawUI();
    const LauncherRects r = LastLauncherRects;
    ui.MoveMouse(r.firstRow.CentreX(), r.firstRow.CentreY());
    for (int click = 0; click < 2; ++click) {
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    }
    EXPECT_TRUE(s.recentProjects.empty());
    EXPECT_EQ(s.statusMessage, "File not found \xe2\x80\x94 removed from recent");
    EXPECT_TRUE(s.launcherOpen);
}

TEST_F(LauncherFrameTest, TheAboutBoxClosesOnAnyClick) {
    AppState& s = GlobalAppState;
    s.showLauncherOnStartup = false;
    for (const bool onTheBox : {true, false}) {
        SCOPED_TRACE(onTheBox ? "on the box" : "around it");
        s.aboutOpen = true;
        ui.RunDrawUI();
        const ImVec2 display = ui.io().DisplaySize;
        Click(display.x * 0.5f, onTheBox ? display.y * 0.5f : 10.0f);
        EXPECT_FALSE(s.aboutOpen);
    }
}

}  // namespace
}  // namespace korvel
