// The transport bar in whole frames, headless: the pointer moved and clicked
// by the test over the controls' rectangles of the frame before.
#include "app/frame/transport_bar.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include "app/background_job.h"
#include "app/frame/frame.h"
#include "app/frame_work.h"
#include "app/transport.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/ui/ui_harness.h"

namespace korvel {
namespace {

void ResetState() {
    AppState& s = GlobalAppState;
    FrameWork = FrameWorkState{};
    FrameWork.firstFrameDone = true;
    FrameWork.launcherChecked = true;
    SetUiClockSeconds(0.0);
    s.activeTab = 0;
    s.markerEvents.clear();
    s.pendingRenderMode = 0;
    s.pendingRenderEvents.clear();
    s.unsavedChanges = false;
    s.playhead = 0.0f;
    s.playing = false;
    CurrentProject.events.clear();
    CurrentProject.fps = 24.0f;
    CurrentProject.totalDuration = 30.0f;
    UndoStack.clear();
    SetMasterGain(LivePlaybackEngine, 1.0f);
    transportLabelBlend = 1.0f;
}

class TransportBarTest : public ::testing::Test {
protected:
    void SetUp() override { ResetState(); }
    void TearDown() override {
        ResetState();
        SoundLibrary.palettes.clear();
    }
    void Click(const TransportRect& r) {
        ui.MoveMouse(r.CentreX(), r.CentreY());
        ui.RunDrawUI();
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    }
    test::UiHarness ui;
};

TEST(TransportBarLayout, ShapeButtonsShrinkToIconsInANarrowWindow) {
    struct Case {
        const char* name;
        float width;
        float blend;
        bool square;
    };
    const Case cases[] = {{"wide window", 1600.0f, 1.0f, false}, {"narrow window", 640.0f, 0.0f, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetState();
        test::UiHarness ui(c.width, 720.0f);
        for (int i = 0; i < 40; ++i) ui.RunDrawUI(0.025f);
        EXPECT_EQ(transportLabelBlend, c.blend);
        const TransportRect& r = LastTransportBarRects.shapes[2];
        const float w = r.x1 - r.x0;
        const float h = r.y1 - r.y0;
        if (c.square) EXPECT_NEAR(w, h, 0.5f);
        else EXPECT_GT(w, 2.0f * h);
        // Everything stays on the bar, left of the transport.
        EXPECT_LT(LastTransportBarRects.presets.x1, LastTransportBarRects.play.x0);
    }
    ResetState();
}

TEST_F(TransportBarTest, AShapeButtonAddsAnEventUnlessTheLeftGroupIsDisabled) {
    AppState& s = GlobalAppState;
    s.playhead = 3.0f;
    ui.RunDrawUI();
    Click(LastTransportBarRects.shapes[1]);
    ASSERT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_EQ(CurrentProject.events[0].shape, 1);
    EXPECT_FLOAT_EQ(CurrentProject.events[0].time, 3.0f);
    EXPECT_TRUE(s.unsavedChanges);

    s.activeTab = 1;
    s.markerEvents.emplace_back();
    Click(LastTransportBarRects.shapes[0]);
    EXPECT_EQ(CurrentProject.events.size(), 1u) << "disabled on the trace tab with markers";
}

TEST_F(TransportBarTest, FrameStepsAtZeroFpsMoveOneTwentyFifth) {
    AppState& s = GlobalAppState;
    CurrentProject.fps = 0.0f;
    s.playhead = 2.0f;
    ui.RunDrawUI();
    Click(LastTransportBarRects.frameForward);
    EXPECT_NEAR(s.playhead, 2.04f, 1e-5f);
    Click(LastTransportBarRects.frameBack);
    Click(LastTransportBarRects.frameBack);
    EXPECT_NEAR(s.playhead, 1.96f, 1e-5f);
}

TEST_F(TransportBarTest, VolumeDragClampsAndADoubleClickResets) {
    PlaybackEngine& engine = LivePlaybackEngine;
    ui.RunDrawUI();
    const TransportRect r = LastTransportBarRects.volume;
    ui.MoveMouse(r.CentreX(), r.CentreY());
    ui.RunDrawUI();
    ui.SetMouseButton(0, true);
    ui.RunDrawUI();
    for (int i = 1; i <= 10; ++i) {
        ui.MoveMouse(r.CentreX() + 20.0f * static_cast<float>(i), r.CentreY());
        ui.RunDrawUI();
    }
    EXPECT_FLOAT_EQ(engine.masterGain, 1.5f) << "+200 units would be 2.6";
    for (int i = 1; i <= 30; ++i) {
        ui.MoveMouse(r.CentreX() + 200.0f - 20.0f * static_cast<float>(i), r.CentreY());
        ui.RunDrawUI();
    }
    EXPECT_FLOAT_EQ(engine.masterGain, 0.0f);
    ui.SetMouseButton(0, false);
    ui.MoveMouse(r.CentreX(), r.CentreY());
    ui.RunDrawUI();
    for (int click = 0; click < 2; ++click) {
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    }
    EXPECT_FLOAT_EQ(engine.masterGain, 1.0f);
}

TEST_F(TransportBarTest, BuildAsksForExactlyTheUnlockedEvents) {
    AppState& s = GlobalAppState;
    for (int i = 0; i < 3; ++i) CurrentProject.AddEvent(static_cast<float>(i), 0, 0.5f);
    CurrentProject.events[1].locked = true;

    ui.RunDrawUI();
    Click(LastTransportBarRects.build);
    EXPECT_EQ(s.pendingRenderMode, 0) << "no palettes: the button reads Add Sounds and is disabled";

    SoundLibrary.palettes.emplace_back();
    ui.RunDrawUI();
    const TransportRect r = LastTransportBarRects.build;
    ui.MoveMouse(r.CentreX(), r.CentreY());
    ui.RunDrawUI();
    ui.SetMouseButton(0, true);
    ui.RunDrawUI();
    ui.SetMouseButton(0, false);
    ui.RunDrawUI();  // released: the click asks for the build
    EXPECT_EQ(s.pendingRenderMode, 4);
    EXPECT_EQ(s.pendingRenderEvents, (std::vector<std::int32_t>{0, 2}));
    EXPECT_EQ(UndoStack.size(), 1u);
    s.pendingRenderMode = 0;  // no build runs in this test
    s.pendingRenderEvents.clear();
}

}  // namespace
}  // namespace korvel
