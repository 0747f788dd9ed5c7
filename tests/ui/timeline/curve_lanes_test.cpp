// Curve lanes' strokes through the events' display offset and scale, and the
// curve editor widget's painting, disabled painting and vertical drag.
#include "ui/timeline/curve_lanes.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

class CurveLanesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        test::SetLaneView(0.0f, 80.0f);  // 10 px a second from x = 100
    }
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// The lane is 100 px high from y = 0: pointer y = 100 (1 - height).
TEST_F(CurveLanesTest, LaneStrokesWriteThroughOffsetAndScale) {
    struct Case {
        const char* name;
        bool intensity;
        EventKind kind;
        std::int32_t intensityMode;
        float weightOffset, intensityScale, duration, height;
        bool painted;
        float written;  // at the event's middle, point 128
    };
    const Case cases[] = {
        {"weight minus its offset", false, EventKind::Fill, 0, 0.3f, 1.0f, 4.0f, 0.8f, true, 0.5f},
        {"weight held at 0", false, EventKind::Fill, 0, 0.3f, 1.0f, 4.0f, 0.2f, true, 0.0f},
        {"intensity over its scale", true, EventKind::Fill, 2, 0.0f, 0.5f, 4.0f, 0.4f, true, 0.8f},
        {"intensity held at 1", true, EventKind::Fill, 2, 0.0f, 0.5f, 4.0f, 0.9f, true, 1.0f},
        {"a zero scale writes the height", true, EventKind::Fill, 2, 0.0f, 0.0f, 4.0f, 0.4f, true, 0.4f},
        {"intensity not drawn: ignored", true, EventKind::Fill, 0, 0.0f, 1.0f, 4.0f, 0.4f, false, 0.0f},
        {"a Bed has no weight lane stroke", false, EventKind::Bed, 0, 0.0f, 1.0f, 4.0f, 0.4f, false, 0.0f},
        {"a Clip has no intensity stroke", true, EventKind::Clip, 2, 0.0f, 1.0f, 4.0f, 0.4f, false, 0.0f},
        {"a span under 2 px", false, EventKind::Fill, 0, 0.0f, 1.0f, 0.1f, 0.5f, false, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event e = test::MakeEvent(10.0f, c.duration, 0.0f, c.kind);
        e.intensityMode = c.intensityMode;
        e.weightOffset = c.weightOffset;
        e.intensityScale = c.intensityScale;
        p.events = {e};
        s.selectedEvents = {0};
        s.unsavedChanges = false;
        const float x = TimeToX(10.0f + c.duration * (128.0f / 256.0f));
        EXPECT_EQ(PaintCurveLane(s, p, c.intensity, x, 100.0f * (1.0f - c.height), 0.0f, 100.0f), c.painted);
        const CurvePoints& curve = c.intensity ? p.events[0].intensity : p.events[0].weight;
        if (c.painted) EXPECT_NEAR(curve[128], c.written, 1e-5f);
        else EXPECT_EQ(curve, c.intensity ? e.intensity : e.weight);
        EndCurveLaneStroke(s, c.intensity);
        EXPECT_EQ(s.unsavedChanges, c.painted) << "a stroke's end marks the project changed";
        EXPECT_FALSE(Timeline.weightStrokeActive || Timeline.intensityStrokeActive);
    }
}

TEST_F(CurveLanesTest, TargetIsTheFirstSelectedEventUnderThePointer) {
    p.events = {test::MakeEvent(0, 4), test::MakeEvent(2, 4), test::MakeEvent(3, 4)};
    s.selectedEvents = {1, 2, 9};
    EXPECT_EQ(CurveLaneTarget(s, p, 3.5f, false), 1);
    EXPECT_EQ(CurveLaneTarget(s, p, 6.5f, false), 2);
    EXPECT_EQ(CurveLaneTarget(s, p, 1.0f, false), -1) << "event 0 is not selected";
}

class CurveEditorTest : public ::testing::Test {
protected:
    // One frame with the editor at (100, 100), 200 x 100, in a window.
    bool Frame(CurvePoints& curve, bool disabled, bool withoutAlt, float* drag, const char* id = "##curve",
               ImVec2 at = ImVec2(100.0f, 100.0f)) {
        ui.BeginFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(800, 600));
        ImGui::Begin("host", nullptr, ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoTitleBar);
        const bool painted = DrawCurveEditor(id, curve, at, ImVec2(200.0f, 100.0f), 0xFFFFFFFFu,
                                             ImGui::GetWindowDrawList(), 0.0f, 1.0f, disabled, true, drag,
                                             withoutAlt, 1.0f);
        ImGui::End();
        ui.EndFrame();
        return painted;
    }
    test::UiHarness ui;
};

TEST_F(CurveEditorTest, DisabledPaintingStillReportsTheVerticalDrag) {
    CurvePoints curve{};
    float drag = 0.0f;
    ui.MoveMouse(200.0f, 120.0f);
    Frame(curve, true, true, &drag);
    ui.SetMouseButton(0, true);
    Frame(curve, true, true, &drag);
    ui.MoveMouse(200.0f, 130.0f);
    EXPECT_FALSE(Frame(curve, true, true, &drag));
    EXPECT_FLOAT_EQ(drag, 10.0f);
    EXPECT_EQ(curve, CurvePoints{}) << "painting disabled";
    ui.SetMouseButton(0, false);
    Frame(curve, true, true, &drag);
}

TEST_F(CurveEditorTest, PaintsThePointersHeightAndSmoothsAtRelease) {
    CurvePoints a{};
    CurvePoints b{};
    GlobalAppState.unsavedChanges = false;
    ui.MoveMouse(200.0f, 120.0f);  // x = 0.5, value 0.8
    Frame(a, false, true, nullptr);
    ui.SetMouseButton(0, true);
    EXPECT_TRUE(Frame(a, false, true, nullptr));
    EXPECT_NEAR(a[128], 0.8f, 1e-5f);
    EXPECT_EQ(a[120], 0.0f);
    EXPECT_FALSE(GlobalAppState.unsavedChanges) << "not while the stroke runs";
    ui.SetMouseButton(0, false);
    EXPECT_FALSE(Frame(a, false, true, nullptr));
    EXPECT_TRUE(GlobalAppState.unsavedChanges) << "the stroke's end marks the project changed";
    EXPECT_LT(a[128], 0.8f) << "smoothed at the stroke's end";
    EXPECT_GT(a[126], 0.0f);

    const CurvePoints before = a;
    ui.SetMouseButton(0, true);
    EXPECT_FALSE(Frame(b, false, false, nullptr, "##other")) << "Alt is needed without paintWithoutAlt";
    ui.io().KeyAlt = true;
    EXPECT_TRUE(Frame(b, false, false, nullptr, "##other"));
    EXPECT_NEAR(b[128], 0.8f, 1e-5f);
    EXPECT_EQ(a, before) << "another curve's stroke leaves this one alone";
    ui.io().KeyAlt = false;
    ui.SetMouseButton(0, false);
    Frame(b, false, false, nullptr, "##other");
}

// The band names never overlap: five lines of text fit only where the bands
// are at least 3/4 of a line high; a shorter editor shows every other name.
TEST(BandLabels, FitTheBandSpacing) {
    struct Case {
        const char* name;
        float height, textSize;
        float wantSize;
        int wantEvery;
    };
    const Case cases[] = {
        {"tall: full size, all five", 120.0f, 16.0f, 16.0f, 1},
        {"a little short: shrunk to the spacing", 70.0f, 16.0f, 14.0f, 1},
        {"short: every other at full size", 50.0f, 16.0f, 16.0f, 2},
        {"shorter: every other, shrunk", 32.0f, 16.0f, 12.8f, 2},
        {"too short for any", 20.0f, 16.0f, 0.0f, 0},
        {"no height", 0.0f, 16.0f, 0.0f, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BandLabelFit fit = FitBandLabels(c.height, c.textSize);
        EXPECT_FLOAT_EQ(fit.size, c.wantSize);
        EXPECT_EQ(fit.every, c.wantEvery);
        if (fit.every > 0) EXPECT_LE(fit.size, 0.2f * c.height * static_cast<float>(fit.every)) << "lines overlap";
    }
}

}  // namespace
}  // namespace korvel
