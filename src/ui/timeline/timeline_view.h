#pragma once
// The timeline strip: its per-frame geometry, the mapping between time and
// x, the view's zoom, scroll and playhead following, and the operations the
// lanes and panels share. Gesture logic lives in timeline_edit.h, the event
// menu in event_menu.h; DrawTimeline draws and handles it all once a frame.
//
// [SECTION] Geometry and gesture state
// [SECTION] Time and x
// [SECTION] View operations
// [SECTION] Drawing
#include <array>
#include <cmath>
#include <cstdint>

#include "app/ui_layout.h"
#include "project/event.h"

struct ImDrawList;

namespace korvel {

struct AppState;
struct Project;

// [SECTION] Geometry and gesture state

inline constexpr float kRulerHeight = 20.0f;
inline constexpr float kCollapsedMarkerLaneHeight = 24.0f;
inline constexpr float kBottomStripHeight = 22.0f;

// The group area's vertical layout, which the clip zone hit-tests against.
// Offsets are from areaTop + 2; a group with no lanes keeps the running
// offset of the groups before it.
struct GroupAreaGeometry {
    float areaTop = 0.0f;
    float areaHeight = 0.0f;
    float headerHeight = 0.0f;
    float laneHeight = 64.0f;
    std::array<float, 3> groupTop = {};
    bool focusMode = false;  // audio focus rows fill the area
    // Leading layers the area shows: all of them, or those a running build
    // has revealed.
    std::int32_t drawnLayerCount = 0;

    float AreaBottom() const { return areaTop + areaHeight; }
    // Top of lane `lane` of group `group` (0..2).
    float LaneTop(int group, int lane) const {
        return std::floor(areaTop + 2.0f + groupTop[static_cast<std::size_t>(group)] +
                          static_cast<float>(lane) * (laneHeight + 1.0f));
    }
};

// The frame's geometry (computed at the start of DrawTimeline) and the
// gestures that last over several frames. UI thread only.
struct TimelineState {
    float x0 = 0.0f;  // the child window's top-left corner
    float y0 = 0.0f;
    float width = 0.0f;   // displayWidth
    float height = 0.0f;  // timelineHeight
    float headerLeft = 8.0f;
    float headerWidth = 56.0f;
    float laneLeft = 64.0f;
    float laneWidth = 800.0f;
    float viewStart = 0.0f;  // the view as this frame draws it
    float viewSpan = 30.0f;
    float sceneLaneHeight = 20.0f;
    float markerTop = 0.0f;  // the marker lane
    float markerHeight = kCollapsedMarkerLaneHeight;

    std::int32_t workAreaDrag = 0;  // 0 none, 1 the in point, 2 the out point
    std::int32_t resizeEvent = -1;
    bool movingEvents = false;
    bool moveStarted = false;  // past the 3 px threshold
    float pressTime = 0.0f;    // seconds
    float grabOffset = 0.0f;   // pressTime minus the primary event's time
    bool marqueeActive = false;
    float marqueeStartX = 0.0f;
    float marqueeEndX = 0.0f;
    float marqueeStartY = 0.0f;
    float marqueeEndY = 0.0f;
    bool marqueeInClipZone = false;  // began in the group area's clip zone

    // A stroke in the curve lanes; the previous sample, range and curve are
    // shared by the two lanes.
    bool weightStrokeActive = false;
    bool intensityStrokeActive = false;
    float strokePrevPos = -1.0f;
    float strokePrevValue = -1.0f;
    std::int32_t strokeMinIndex = 256;
    std::int32_t strokeMaxIndex = -1;
    // The event whose curve is stroked (-1 none): an index, not a pointer
    // into the events, which an undo during the stroke may replace.
    std::int32_t strokeEvent = -1;

    GroupAreaGeometry groupArea;  // this frame's; empty while the event lane is expanded

    float LaneRight() const { return laneLeft + laneWidth; }
};
extern TimelineState Timeline;

// Lays out the strip for a window of `width` x `height` at (x0, y0) with the
// header column `headerWidth` wide, and takes the view from `state`.
void SetTimelineGeometry(TimelineState& timeline, const AppState& state, float x0, float y0, float width,
                         float height, float headerWidth, float smallFontSize);

// [SECTION] Time and x

// Both read the current frame's geometry (Timeline).
float TimeToX(float t);
float XToTime(float x);
// The project's frame rate, 25 when it is not above 0.
float TimelineFps(const Project& project);
// t rounded to the nearest frame at `fps` (25 when not above 0).
float SnapToFrame(float t, float fps);
// XToTime of `mouseX`, clamped to [0, max(0, duration)].
float PointerTime(float mouseX, float duration);

// [SECTION] View operations

// Frames the selected events (all events without a selection); false when
// there is nothing to frame.
bool ZoomToFitSelection(AppState& state, const Project& project);
bool ZoomToFitSelection();
// The row at which `group`'s lanes start (display order FX A, FX B, BG) when
// the first shown group starts at `firstRow`; -1 when hidden or empty.
int GetGroupLaneOffset(const AppState& state, const Project& project, int group, int firstRow);
int GetGroupLaneOffset(int group, int firstRow);
// Track group colour, packed for the UI library, alpha 200.
std::uint32_t GetGroupColour(int group);
// While playing, pages the view so the playhead stays in it.
void FollowPlayhead(AppState& state, float duration);
// Moves the view start by `seconds`, kept in [lo, hi] (hi below lo reads lo).
void PanView(AppState& state, float seconds, float lo, float hi);
// Curve lane height for a lane view 0..2 (clamped): 24, 64 or 120 px.
float CurveLaneHeight(int laneView);
// Top of the weight lane (intensity false) or of the intensity lane below it,
// from the weight lane's top; one rule for the lanes and the draw-mode outline.
float CurveLaneTop(float weightTop, float laneHeight, bool intensity);
// The draw button: turns curve draw mode on (saving the view and framing the
// selection) or off (restoring it).
void ToggleCurveDrawMode(AppState& state, const Project& project);
// Ends curve draw mode unless exactly one event is selected.
void CurveDrawGuard(AppState& state);

// [SECTION] Drawing

// Draws and handles the whole timeline for one frame, into the main window.
void DrawTimeline(ImDrawList* drawList, const UILayout& layout);

}  // namespace korvel
