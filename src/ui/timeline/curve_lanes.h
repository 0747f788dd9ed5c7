#pragma once
// Event curves on screen: the filled curve strip, the curve editor widget
// the inspector uses, and the timeline's weight and intensity lanes under
// the event row with the row's expand toggle.
#include <cstdint>

#include "project/event.h"

struct ImDrawList;
struct ImVec2;

namespace korvel {

struct AppState;
struct Project;

// The curve over the screen span x1..x2 as a filled area down to the strip's
// bottom (top + height), clipped to clipLeft..clipRight. Nothing for a span
// under 2 px.
void DrawCurveStrip(ImDrawList* drawList, const CurvePoints& curve, float x1, float x2, float top, float height,
                    float clipLeft, float clipRight, std::uint32_t colour, bool highlight, float scale, float offset,
                    bool colourByValue, float opacity);

// How the five band names (and frequency marks) of a curve area `height`
// high fit text `textSize` high: all five, shrunk to the band spacing down to
// 3/4 of the size; else every other one (Air, Mid, Sub), at most twice the
// spacing high; else none (`every` 0).
struct BandLabelFit {
    float size = 0.0f;
    int every = 0;
};
BandLabelFit FitBandLabels(float height, float textSize);

// The inspector's curve editor at `position`, `size`. Paints the pointer's
// height into `curve` while held with Alt (or `paintWithoutAlt`) unless
// `paintingDisabled`; `verticalDragOut` (may be null) receives the frame's
// vertical mouse movement while held without Alt (nothing in the press
// frame: a drag starts where it was pressed). True in a frame it painted.
bool DrawCurveEditor(const char* id, CurvePoints& curve, const ImVec2& position, const ImVec2& size,
                     std::uint32_t colour, ImDrawList* drawList, float offset, float scale, bool paintingDisabled,
                     bool bandGuides, float* verticalDragOut, bool paintWithoutAlt, float opacity);

// A stroke in a curve lane: the event it paints (the first selected one,
// not a Clip nor a Bed for weight; for intensity not a Clip, and with a
// drawn intensity) whose span holds time t, or -1.
std::int32_t CurveLaneTarget(const AppState& state, const Project& project, float t, bool intensity);
// Paints the pointer (x, y) into the target's curve in the lane at
// laneTop, laneHeight, starting the lane's stroke when none runs. False when
// nothing was painted (no target, a span under 2 px).
bool PaintCurveLane(AppState& state, Project& project, bool intensity, float mouseX, float mouseY, float laneTop,
                    float laneHeight);
// Ends the lane's stroke: smooths the touched range and marks the project
// changed (the curves are saved with it; strokes take no undo snapshot).
void EndCurveLaneStroke(AppState& state, bool intensity);

// The event row's header and the two curve lanes, from the line under the
// marker lane; returns the y below them.
float DrawCurveLanes(ImDrawList* drawList, AppState& state, Project& project, bool traceView);

}  // namespace korvel
