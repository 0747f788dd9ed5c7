// The timeline inside the whole frame, headless: pointer input written
// between frames drives the ruler, the marker lane and the bottom strip.
#include <gtest/gtest.h>

#include <cmath>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"
#include "ui/timeline/timeline_edit.h"

namespace korvel {
namespace {

class TimelineFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        ui.RunDrawUI();  // lays the strip out
        ASSERT_GT(Timeline.laneWidth, 100.0f);
    }
    void TearDown() override { s.exportRunning.store(false); }
    // One frame with the pointer at (x, y) and the left button as given.
    void Frame(float x, float y, bool down) {
        ui.MoveMouse(x, y);
        ui.SetMouseButton(0, down);
        ui.RunDrawUI();
    }
    float RulerY() const { return Timeline.y0 + 14.0f; }
    float MarkerY() const { return Timeline.markerTop + 12.0f; }

    test::UiHarness ui;
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(TimelineFrameTest, RulerPressClearsTheSelectionAndScrubs) {
    p.events = {test::MakeEvent(1, 1)};
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    Frame(TimeToX(10.0f), RulerY(), true);
    EXPECT_TRUE(s.selectedEvents.empty());
    EXPECT_EQ(s.selectedEvent, -1);
    EXPECT_NEAR(s.playhead, 10.0f, 0.05f);
    Frame(TimeToX(12.0f), RulerY(), true);
    EXPECT_NEAR(s.playhead, 12.0f, 0.05f) << "the playhead follows while held";
    EXPECT_NEAR(s.playhead * 25.0f, std::round(s.playhead * 25.0f), 1e-3f) << "on the frame grid";
    Frame(TimeToX(12.0f), RulerY(), false);

    s.playing = true;  // during playback a press only clears the selection
    s.selectedEvents = {0};
    Frame(TimeToX(20.0f), RulerY(), true);
    Frame(TimeToX(20.0f), RulerY(), false);
    EXPECT_TRUE(s.selectedEvents.empty());
    EXPECT_NEAR(s.playhead, 12.0f, 0.05f);
}

TEST_F(TimelineFrameTest, WorkAreaEdgeDragEndsWhenTheGuardCloses) {
    s.workAreaIn = 5.0f;
    s.workAreaOut = 15.0f;
    Frame(TimeToX(15.0f) + 3.0f, RulerY(), true);
    Frame(TimeToX(20.0f), RulerY(), true);
    EXPECT_NEAR(s.workAreaOut, 20.0f, 0.05f);
    EXPECT_TRUE(s.unsavedChanges);
    s.exportRunning.store(true);
    Frame(TimeToX(25.0f), RulerY(), true);
    EXPECT_NEAR(s.workAreaOut, 20.0f, 0.05f) << "no writes once an export runs";
    s.exportRunning.store(false);
    Frame(TimeToX(26.0f), RulerY(), true);
    EXPECT_NEAR(s.workAreaOut, 20.0f, 0.05f) << "the drag has ended";
    Frame(TimeToX(26.0f), RulerY(), false);
}

TEST_F(TimelineFrameTest, ClickSelectsThenASecondPressMovesPastThreePixels) {
    p.events = {test::MakeEvent(10, 2), test::MakeEvent(20, 2)};
    const float x = TimeToX(10.0f);
    Frame(x, MarkerY(), true);
    Frame(x, MarkerY(), false);
    EXPECT_EQ(s.selectedEvents, std::set<std::int32_t>{0});
    EXPECT_EQ(p.events[0].time, 10.0f) << "the first click only selects";

    Frame(x, MarkerY(), true);
    Frame(x + 2.0f, MarkerY(), true);
    EXPECT_EQ(p.events[0].time, 10.0f) << "a 2 px wobble does not move";
    EXPECT_EQ(UndoStack.size(), 1u) << "one snapshot at the press";
    const float pxPerSecond = Timeline.laneWidth / Timeline.viewSpan;
    Frame(x + 1.0f * pxPerSecond, MarkerY(), true);
    EXPECT_NEAR(p.events[0].time, 11.0f, 0.05f);
    EXPECT_NEAR(s.playhead, p.events[0].time, 1e-4f);

    s.exportRunning.store(true);
    Frame(x + 3.0f * pxPerSecond, MarkerY(), true);
    EXPECT_NEAR(p.events[0].time, 11.0f, 0.05f) << "the guard closed: the move writes no more";
    Frame(x, MarkerY(), false);
    EXPECT_EQ(p.events[1].time, 20.0f);
}

TEST_F(TimelineFrameTest, MarqueeOnEmptyLaneSelects) {
    p.events = {test::MakeEvent(10, 2), test::MakeEvent(20, 2)};
    s.selectedEvents = {1};
    Frame(TimeToX(8.0f), MarkerY(), true);
    Frame(TimeToX(15.0f), MarkerY(), true);
    Frame(TimeToX(15.0f), MarkerY(), false);
    EXPECT_EQ(s.selectedEvents, std::set<std::int32_t>{0});
    EXPECT_EQ(s.selectedEvent, 0);

    Frame(TimeToX(16.0f), MarkerY(), true);  // a click on nothing clears
    Frame(TimeToX(16.0f), MarkerY(), false);
    EXPECT_TRUE(s.selectedEvents.empty());
}

TEST_F(TimelineFrameTest, ScrollBarDragMovesByTheWholeProject) {
    s.viewStart = 0.0f;
    s.viewEnd = 10.0f;
    ui.RunDrawUI();
    const float y = Timeline.y0 + Timeline.height - kBottomStripHeight + 9.0f;
    const float x = Timeline.laneLeft + 2.0f;
    Frame(x, y, true);
    // The bar's width is not known here; half the lane moves the view by
    // more than the thumb's share would, and stays inside the project.
    Frame(x + Timeline.laneWidth * 0.25f, y, true);
    Frame(x + Timeline.laneWidth * 0.25f, y, false);
    EXPECT_GT(s.viewStart, 0.25f * p.totalDuration);
    EXPECT_LE(s.viewStart, p.totalDuration - s.ViewSpan());
    EXPECT_NEAR(s.ViewSpan(), 10.0f, 1e-4f);
}

}  // namespace
}  // namespace korvel
