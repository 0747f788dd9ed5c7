// The trace view inside the whole frame, headless, with the trace tab
// installed as it is in the program: pointer input written between frames
// drags the threshold, clicks heads and stems, draws boxes and opens the
// marker menu; the provisional reading is read back from the draw list.
#include "ui/timeline/trace_view.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cmath>
#include <string>

#include "app/background_job.h"
#include "app/frame/title_bar.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"
#include "ui/panels/trace_fixture.h"
#include "ui/panels/trace_tab.h"

namespace korvel {
namespace {

using test::Detection;
using test::MakeRead;
using test::Marker;

class TraceViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        test::TraceReviewState::Reset();
        FrameWork = FrameWorkState{};
        FrameWork.firstFrameDone = true;
        FrameWork.launcherChecked = true;
        SetUiClockSeconds(0.0);
        MainTabPanels[1] = DrawTraceTab;
        p.totalDuration = 60.0f;
        s.viewStart = 0.0f;
        s.viewEnd = 30.0f;
        s.activeTab = 1;
        MakeRead(300);  // 30 s of picture
        s.traceAnalysis.events = {Detection(5.0f, 0.9f), Detection(10.0f, 0.9f), Detection(25.0f, 0.9f)};
        s.markerEvents = {Marker(7.0f), Marker(12.0f)};
        Frame(5.0f, 5.0f, false);  // lays the strip out
        ASSERT_GT(Timeline.groupArea.areaHeight, 50.0f);
    }
    void TearDown() override {
        ui.SetMouseButton(0, false);
        ui.SetMouseButton(1, false);
        ui.SetShift(false);
        MainTabPanels[1] = nullptr;
        s.traceRunning.store(false);
        test::TraceReviewState::Reset();
    }
    void Frame(float x, float y, bool down, int button = 0) {
        ui.MoveMouse(x, y);
        ui.SetMouseButton(button, down);
        ui.RunDrawUI();
    }
    void Click(float x, float y, int button = 0) {
        Frame(x, y, true, button);
        Frame(x, y, false, button);
    }
    float Top() const { return Timeline.groupArea.areaTop; }
    float Bottom() const { return Timeline.groupArea.AreaBottom(); }
    float HeadY() const { return Top() + 6.0f; }
    float StemY() const { return Top() + 0.3f * Timeline.groupArea.areaHeight; }
    float LineY() const {
        return Top() + (1.0f - TraceCountThreshold(s.opticalDetail)) * Timeline.groupArea.areaHeight;
    }
    bool MenuOpen() const { return ImGui::GetCurrentContext()->OpenPopupStack.Size > 0; }

    test::TraceReviewState review;
    test::UiHarness ui;
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

TEST_F(TraceViewTest, ThresholdDragsToBothEndsAndDoubleClickResets) {
    s.opticalDetail = 0.7f;
    const float x = TimeToX(15.0f);  // no marker here
    Frame(x, LineY(), true);
    EXPECT_TRUE(s.thresholdDragging);
    Frame(x, Bottom() + 40.0f, true);
    EXPECT_NEAR(s.opticalDetail, 1.0f - std::sqrt(0.15f / 0.85f), 1e-4f) << "the bottom is the 0.15 floor";
    Frame(x, Top() - 30.0f, true);
    EXPECT_NEAR(s.opticalDetail, 0.0f, 1e-5f);
    EXPECT_NEAR(TraceCountThreshold(s.opticalDetail), 0.85f, 1e-5f);
    Frame(x, Top() - 30.0f, false);
    EXPECT_FALSE(s.thresholdDragging);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty()) << "the threshold is no undo step";

    Click(x, LineY());
    Frame(x, LineY(), true);  // the second press of a double click
    Frame(x, LineY(), false);
    EXPECT_FLOAT_EQ(s.opticalDetail, 0.35f);
    EXPECT_FALSE(s.thresholdDragging);
}

TEST_F(TraceViewTest, HeadAndStemClicks) {
    struct Case {
        const char* name;
        bool marker;
        bool head;
        bool playing;
        float time;
        bool toggled;
        std::int32_t activeKind;  // -1 none
        float playhead;
    };
    const Case cases[] = {
        {"suggestion head, stopped", false, true, false, 10.0f, true, -1, 0.0f},
        {"suggestion head, playing", false, true, true, 10.0f, true, -1, 0.0f},
        {"suggestion stem, stopped", false, false, false, 10.0f, false, 0, 10.0f},
        {"suggestion stem, playing", false, false, true, 10.0f, false, 0, 0.0f},
        {"marker head, stopped", true, true, false, 12.0f, true, -1, 0.0f},
        {"marker stem, stopped", true, false, false, 12.0f, false, 1, 12.0f},
        {"marker stem, playing", true, false, true, 12.0f, false, 1, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto& d : s.traceAnalysis.events) d.accepted = true;
        for (auto& m : s.markerEvents) m.enabled = true;
        s.activeTraceMarkerKind = s.activeTraceMarkerIndex = -1;
        s.selectedDetections = {0};
        s.selectedMarkers = {0};
        s.playhead = 0.0f;
        s.playing = c.playing;
        Click(TimeToX(c.time), c.head ? HeadY() : StemY());
        const bool on = c.marker ? s.markerEvents[1].enabled : s.traceAnalysis.events[1].accepted;
        EXPECT_EQ(on, !c.toggled);
        EXPECT_EQ(s.activeTraceMarkerKind, c.activeKind);
        if (c.activeKind >= 0) {
            EXPECT_EQ(s.activeTraceMarkerIndex, 1);
        }
        EXPECT_NEAR(s.playhead, c.playhead, 0.1f) << "playing, the transport moves it on by itself";
        EXPECT_TRUE(s.selectedDetections.empty() && s.selectedMarkers.empty()) << "a marker click clears the selection";
    }
    s.playing = false;
}

TEST_F(TraceViewTest, SourceFilterHidesMarkersFromThePointer) {
    struct Case {
        const char* name;
        std::int32_t filter;
        bool suggestionToggles;
        bool markerToggles;
    };
    const Case cases[] = {
        {"both", -1, true, true},
        {"suggestions only", 0, true, false},
        {"markers only", 1, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.traceSourceFilter = c.filter;
        s.traceAnalysis.events[1].accepted = true;
        s.markerEvents[1].enabled = true;
        Click(TimeToX(10.0f), HeadY());
        Click(TimeToX(12.0f), HeadY());
        EXPECT_EQ(!s.traceAnalysis.events[1].accepted, c.suggestionToggles);
        EXPECT_EQ(!s.markerEvents[1].enabled, c.markerToggles);
    }
}

TEST_F(TraceViewTest, BoxSelection) {
    const float y = StemY();
    // A plain box from 4 to 11 s: suggestions at 5 and 10, the marker at 7.
    Frame(TimeToX(4.0f), y, true);
    Frame(TimeToX(11.0f), y, true);
    Frame(TimeToX(11.0f), y, false);
    EXPECT_EQ(s.selectedDetections, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(s.selectedMarkers, std::vector<std::int32_t>{0});
    EXPECT_FALSE(s.traceMarqueeActive);

    // With Shift a second box adds the marker at 12 and the suggestion at 25.
    ui.SetShift(true);
    Frame(TimeToX(11.5f), y, true);
    Frame(TimeToX(26.0f), y, true);
    Frame(TimeToX(26.0f), y, false);
    EXPECT_EQ(s.selectedDetections, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(s.selectedMarkers, (std::vector<std::int32_t>{0, 1}));

    // A narrow box with Shift keeps the selection; without, it clears it.
    Frame(TimeToX(20.0f), y, true);
    Frame(TimeToX(20.0f) + 2.0f, y, true);
    Frame(TimeToX(20.0f) + 2.0f, y, false);
    EXPECT_EQ(s.selectedDetections.size(), 3u);
    ui.SetShift(false);
    s.activeTraceMarkerKind = 0;
    s.activeTraceMarkerIndex = 1;
    Frame(TimeToX(20.0f), y, true);
    Frame(TimeToX(20.0f) + 2.0f, y, true);
    Frame(TimeToX(20.0f) + 2.0f, y, false);
    EXPECT_TRUE(s.selectedDetections.empty());
    EXPECT_TRUE(s.selectedMarkers.empty());
    EXPECT_EQ(s.activeTraceMarkerKind, -1);

    // Hidden suggestions are not boxed.
    s.traceSourceFilter = 1;
    Frame(TimeToX(4.0f), y, true);
    Frame(TimeToX(13.0f), y, true);
    Frame(TimeToX(13.0f), y, false);
    EXPECT_TRUE(s.selectedDetections.empty());
    EXPECT_EQ(s.selectedMarkers, (std::vector<std::int32_t>{0, 1}));
}

TEST_F(TraceViewTest, MarkersAloneStillReview) {
    s.traceAnalysis.valid = false;  // no read: no curves, no threshold line
    s.traceAnalysis.frames.clear();
    s.traceAnalysis.events.clear();
    s.opticalDetail = 0.35f;
    Frame(TimeToX(15.0f), LineY(), true);  // where the line would be, a box starts instead
    EXPECT_FALSE(s.thresholdDragging);
    EXPECT_TRUE(s.traceMarqueeActive);
    Frame(TimeToX(13.0f), LineY(), true);
    Frame(TimeToX(6.0f), LineY(), true);
    Frame(TimeToX(6.0f), LineY(), false);
    EXPECT_FLOAT_EQ(s.opticalDetail, 0.35f);
    EXPECT_EQ(s.selectedMarkers, (std::vector<std::int32_t>{0, 1}));
    Click(TimeToX(7.0f), HeadY());
    EXPECT_FALSE(s.markerEvents[0].enabled);
    EXPECT_TRUE(s.selectedMarkers.empty());
}

TEST_F(TraceViewTest, MenuTargets) {
    // Nothing selected, nothing under the pointer: no menu.
    Click(TimeToX(20.0f), StemY(), 1);
    EXPECT_FALSE(MenuOpen());

    // The hovered marker becomes the target.
    Click(TimeToX(12.0f), StemY(), 1);
    EXPECT_TRUE(MenuOpen());
    EXPECT_TRUE(s.traceMenuDetections.empty());
    EXPECT_EQ(s.traceMenuMarkers, std::vector<std::int32_t>{1});
    Click(5.0f, 5.0f);  // a click elsewhere closes it
    EXPECT_FALSE(MenuOpen());

    // A selection wins over the hovered marker.
    s.selectedDetections = {0, 2};
    s.selectedMarkers = {};
    Click(TimeToX(12.0f), StemY(), 1);
    EXPECT_TRUE(MenuOpen());
    EXPECT_EQ(s.traceMenuDetections, (std::vector<std::int32_t>{0, 2}));
    EXPECT_TRUE(s.traceMenuMarkers.empty());
}

TEST_F(TraceViewTest, MenuActionsOnTheTargets) {
    s.traceMenuDetections = {0, 2, 9};  // 9 no longer exists
    s.traceMenuMarkers = {1};
    SetTraceMenuTargetsOn(s, false);
    EXPECT_FALSE(s.traceAnalysis.events[0].accepted);
    EXPECT_TRUE(s.traceAnalysis.events[1].accepted);
    EXPECT_FALSE(s.markerEvents[1].enabled);
    EXPECT_FALSE(TraceMenuImportEnabled(s)) << "Import is off when every target is off";
    s.markerEvents[1].enabled = true;
    EXPECT_TRUE(TraceMenuImportEnabled(s));

    const std::string longName(80, 'r');
    SetTraceMenuTargetsRecipe(s, longName.c_str());
    EXPECT_EQ(std::string(s.traceAnalysis.events[2].presetName), longName.substr(0, 63));
    EXPECT_EQ(std::string(s.markerEvents[1].recipeName), longName.substr(0, 63));
    SetTraceMenuTargetsRecipe(s, "");
    EXPECT_STREQ(s.traceAnalysis.events[0].presetName, "");
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(UndoStack.empty());
}

TEST_F(TraceViewTest, LookupsAndHover) {
    s.selectedDetections = {2};
    s.selectedMarkers = {0};
    EXPECT_TRUE(IsDetectionSelected(2));
    EXPECT_FALSE(IsDetectionSelected(0));
    EXPECT_TRUE(IsMarkerSelected(0));
    EXPECT_FALSE(IsMarkerSelected(2));

    Frame(TimeToX(10.0f), StemY(), false);
    EXPECT_EQ(s.hoveredDetection, 1);
    Frame(TimeToX(12.0f), StemY(), false);
    EXPECT_EQ(s.hoveredDetection, -1) << "the tab clears the hover each frame";
    EXPECT_EQ(s.hoveredMarker, 1);
}

TEST_F(TraceViewTest, ProvisionalReadingReadsOnlyPublishedFrames) {
    // A read in progress: 10 frames published of 100; the records behind
    // them hold what a half-written frame could.
    test::TraceReviewState::Reset();
    s.activeTab = 1;
    TraceAnalysis& a = s.traceAnalysis;
    a.fps = 10.0f;
    a.frames.assign(100, FrameMeasures{});
    for (int i = 0; i < 100; ++i) {
        a.frames[static_cast<std::size_t>(i)].time = static_cast<float>(i) / 10.0f;
        a.frames[static_cast<std::size_t>(i)].motion = i < 10 ? 1.0f : 1000.0f;
    }
    a.framesDone.store(10);
    s.traceRunning.store(true);
    Frame(5.0f, 5.0f, false);
    Frame(5.0f, 5.0f, false);
    ASSERT_GT(Timeline.groupArea.areaHeight, 50.0f);

    // The motion outline, flat at its maximum, reaches the area's top only
    // when the unpublished frames stayed out of the scale.
    const std::uint32_t outline = ColorWithAlpha(ThemePalette.amberMark, 140);
    int atTop = 0;
    int pastPublished = 0;
    for (ImGuiWindow* window : ImGui::GetCurrentContext()->Windows) {
        if (std::string(window->Name).find("##timeline") == std::string::npos) continue;
        for (const ImDrawVert& v : window->DrawList->VtxBuffer) {
            if (v.col != outline) continue;
            if (std::fabs(v.pos.y - Top()) < 2.0f) ++atTop;
            if (v.pos.x > TimeToX(1.0f) + 3.0f) ++pastPublished;
        }
    }
    EXPECT_GT(atTop, 0);
    EXPECT_EQ(pastPublished, 0) << "the curve stops at the last published frame";
}

}  // namespace
}  // namespace korvel
