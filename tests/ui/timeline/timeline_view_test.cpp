// The timeline's view: zoom about an anchor, fitting the selection, group
// lane offsets, tick steps, ruler labels, playhead following, curve draw
// mode's saved view.
#include "ui/timeline/timeline_view.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <string>

#include "timeline_fixture.h"
#include "ui/timeline/timeline_edit.h"

namespace korvel {
namespace {

class TimelineViewTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetTimelineState(); }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(TimelineViewTest, ZoomAboutAnAnchor) {
    struct Case {
        const char* name;
        float start, span, factor, anchor, duration;
        float drawFrom, drawTo;  // curve draw range; equal = not drawing
        float wantStart, wantSpan;
    };
    const Case cases[] = {
        {"zoom in from 0.6 s", 0, 0.6f, 0.85f, 0, 60, 0, 0, 0, 0.51f},
        {"never below 0.5 s", 0, 0.51f, 0.85f, 0, 60, 0, 0, 0, 0.5f},
        {"zoom out stops at the project", 0, 30, 1.4f, 15, 20, 0, 0, 0, 20},
        {"a short project still shows 0.5 s", 0, 0.5f, 1.4f, 0, 0.3f, 0, 0, 0, 0.5f},
        {"anchor near the right end stays inside", 50, 10, 1.4f, 59, 60, 0, 0, 46, 14},
        {"anchor keeps its screen place", 10, 10, 0.5f, 12, 60, 0, 0, 11, 5},
        {"zero span anchors at the middle", 5, 0, 2, 5, 60, 0, 0, 4.75f, 0.5f},
        {"draw mode: span stops at 110 % of the range", 10, 10, 2, 15, 60, 10, 20, 9.5f, 11},
        {"draw mode: start held 5 % before the range", 9.5f, 5, 1.1f, 9.5f, 60, 10, 20, 9.5f, 5.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.viewStart = c.start;
        s.viewEnd = c.start + c.span;
        s.curveDrawMode = s.drawSavedViewValid = c.drawTo > c.drawFrom;
        s.drawRangeStart = c.drawFrom;
        s.drawRangeEnd = c.drawTo;
        s.ZoomViewAbout(c.factor, c.anchor, c.duration);
        EXPECT_NEAR(s.viewStart, c.wantStart, 1e-4f);
        EXPECT_NEAR(s.ViewSpan(), c.wantSpan, 1e-4f);
    }
}

TEST_F(TimelineViewTest, FitSelection) {
    p.events = {test::MakeEvent(5.0f, 0.1f), test::MakeEvent(40.0f, 10.0f, 2.0f)};
    s.selectedEvents = {0};
    ASSERT_TRUE(ZoomToFitSelection(s, p));
    EXPECT_NEAR(s.viewStart, 4.85f, 1e-4f) << "pad 0.15 s, span 0.5 s rather than 0.4 s";
    EXPECT_NEAR(s.ViewSpan(), 0.5f, 1e-4f);

    s.selectedEvents.clear();  // everything: 5 .. 50 s, pad 3.6 s
    ASSERT_TRUE(ZoomToFitSelection(s, p));
    EXPECT_NEAR(s.viewStart, 1.4f, 1e-3f);
    EXPECT_NEAR(s.ViewSpan(), 52.2f, 1e-3f);

    p.totalDuration = 45.0f;  // the span is held to the project, the start kept inside it
    s.selectedEvents = {1};
    ASSERT_TRUE(ZoomToFitSelection(s, p));
    EXPECT_NEAR(s.ViewSpan(), 11.6f, 1e-3f);
    EXPECT_NEAR(s.viewStart, 33.4f, 1e-3f);

    s.viewStart = 7.0f;
    s.viewEnd = 8.0f;
    s.selectedEvents = {-1, 9};
    EXPECT_FALSE(ZoomToFitSelection(s, p)) << "only invalid indices";
    p.events.clear();
    s.selectedEvents.clear();
    EXPECT_FALSE(ZoomToFitSelection(s, p)) << "no events";
    EXPECT_EQ(s.viewStart, 7.0f);
    EXPECT_EQ(s.viewEnd, 8.0f);
}

TEST_F(TimelineViewTest, GroupLaneOffsetsFollowTheDisplayOrder) {
    struct Case {
        bool visible[3];
        int lanes[3];  // BG, FX A, FX B
        int want[3];   // offsets from first row 10, or -1
    };
    const Case cases[] = {
        {{true, false, true}, {2, 4, 3}, {13, -1, 10}},
        {{true, true, true}, {4, 2, 0}, {12, 10, -1}},
        {{true, true, true}, {1, 2, 3}, {15, 10, 12}},
        {{false, false, false}, {1, 2, 3}, {-1, -1, -1}},
    };
    for (const Case& c : cases) {
        for (int g = 0; g < 3; ++g) {
            s.groupVisible[static_cast<std::size_t>(g)] = c.visible[g];
            p.trackLayout.groups[static_cast<std::size_t>(g)].usedLanes = c.lanes[g];
        }
        for (int g = 0; g < 3; ++g) EXPECT_EQ(GetGroupLaneOffset(s, p, g, 10), c.want[g]) << "group " << g;
        EXPECT_EQ(GetGroupLaneOffset(s, p, 3, 10), -1);
        EXPECT_EQ(GetGroupLaneOffset(s, p, -1, 10), -1);
    }
    EXPECT_EQ(GetGroupColour(1), IM_COL32(80, 140, 210, 200));
    EXPECT_EQ(GetGroupColour(7), IM_COL32(150, 150, 150, 200));
}

TEST_F(TimelineViewTest, RulerTickStepsAndLabels) {
    EXPECT_FLOAT_EQ(RulerTickStep(800.0f, 1.0f), 0.1f);
    EXPECT_FLOAT_EQ(RulerTickStep(800.0f, 30.0f), 5.0f);
    EXPECT_FLOAT_EQ(RulerTickStep(800.0f, 20.0f * 3600.0f), 3600.0f) << "past the table";
    EXPECT_FLOAT_EQ(RulerTickStep(0.0f, 10.0f), 3600.0f) << "no lane width: no endless walk";
    EXPECT_FLOAT_EQ(RulerTickStep(800.0f, 0.0f), 3600.0f);

    struct Case {
        float fps, startTC, t;
        const char* want;
    };
    const Case cases[] = {
        {25, 3600, 0, "01:00:00:00"},
        {0, 0, 1.48f, "00:00:01:12"},        // a rate of 0 counts 25 frames
        {23.976f, 0, 1.0f, "00:00:01:00"},  // frames split by the nominal 24
        {-5, 0, 2.0f, "00:00:02:00"},
    };
    for (const Case& c : cases) {
        p.fps = c.fps;
        p.startTC = c.startTC;
        char label[32];
        RulerLabel(p, c.t, label, sizeof(label));
        EXPECT_STREQ(label, c.want) << "fps " << c.fps << " t " << c.t;
    }
}

TEST_F(TimelineViewTest, TimeAndXAndFrameSnapping) {
    test::SetLaneView(10.0f, 20.0f);
    EXPECT_FLOAT_EQ(TimeToX(20.0f), 500.0f);
    EXPECT_FLOAT_EQ(XToTime(500.0f), 20.0f);
    EXPECT_FLOAT_EQ(PointerTime(0.0f, 60.0f), 7.5f);
    test::SetLaneView(0.0f, 20.0f);
    EXPECT_FLOAT_EQ(PointerTime(0.0f, 60.0f), 0.0f) << "clamped to the project's start";
    EXPECT_FLOAT_EQ(PointerTime(900.0f, 15.0f), 15.0f) << "and its end";
    EXPECT_FLOAT_EQ(PointerTime(500.0f, -1.0f), 0.0f);
    EXPECT_FLOAT_EQ(SnapToFrame(1.03f, 25.0f), 1.04f);
    EXPECT_FLOAT_EQ(SnapToFrame(1.01f, 0.0f), 1.0f) << "rate 0 snaps at 25";
}

TEST_F(TimelineViewTest, PlayheadFollowingPagesTheView) {
    struct Case {
        bool playing;
        float start, playhead, wantStart;
    };
    const Case cases[] = {
        {true, 0, 12, 3},     // right: the playhead at 90 %
        {true, 20, 15, 14},   // left: at 10 %
        {true, 45, 59.5f, 50},   // never past the project's end
        {true, 20, 25, 20},   // inside: nothing
        {false, 0, 12, 0},    // stopped: nothing
    };
    for (const Case& c : cases) {
        s.playing = c.playing;
        s.viewStart = c.start;
        s.viewEnd = c.start + 10.0f;
        s.playhead = c.playhead;
        FollowPlayhead(s, 60.0f);
        EXPECT_NEAR(s.viewStart, c.wantStart, 1e-4f) << c.start << " " << c.playhead;
        EXPECT_NEAR(s.ViewSpan(), 10.0f, 1e-4f);
    }
}

TEST_F(TimelineViewTest, CurveDrawModeSavesAndRestoresTheView) {
    p.events = {test::MakeEvent(10.0f, 10.0f), test::MakeEvent(30.0f, 2.0f)};
    s.viewStart = 2.0f;
    s.viewEnd = 32.0f;
    s.timelineView = 1;
    s.selectedEvents = {0};
    s.selectedEvent = 0;
    ToggleCurveDrawMode(s, p);
    EXPECT_TRUE(s.curveDrawMode);
    EXPECT_EQ(s.timelineView, 2);
    EXPECT_NEAR(s.viewStart, 9.5f, 1e-4f);
    EXPECT_NEAR(s.ViewSpan(), 11.0f, 1e-4f);

    s.ZoomViewAbout(3.0f, 15.0f, p.totalDuration);
    EXPECT_NEAR(s.ViewSpan(), 11.0f, 1e-4f) << "zooming out stops at the drawn range";

    s.selectedEvents = {0, 1};  // the guard ends the mode and restores the view
    CurveDrawGuard(s);
    EXPECT_FALSE(s.curveDrawMode);
    EXPECT_FALSE(s.drawSavedViewValid);
    EXPECT_EQ(s.timelineView, 1);
    EXPECT_NEAR(s.viewStart, 2.0f, 1e-4f);
    EXPECT_NEAR(s.ViewSpan(), 30.0f, 1e-4f);
}

// The lanes and the draw-mode outline share this rule: the intensity lane
// starts 2 px below the weight lane, so both lanes end at top + 2 lanes + 2.
TEST_F(TimelineViewTest, CurveLaneTopsLeaveTwoPixelsBetweenTheLanes) {
    for (int view = 0; view < 3; ++view) {
        const float h = CurveLaneHeight(view);
        EXPECT_EQ(CurveLaneTop(100.0f, h, false), 100.0f);
        EXPECT_EQ(CurveLaneTop(100.0f, h, true) + h, 100.0f + 2.0f * h + 2.0f);
    }
}

}  // namespace
}  // namespace korvel
