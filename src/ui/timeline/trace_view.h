#pragma once
// The trace view: while the trace tab is the active tab, the timeline's
// group area shows the picture read (a provisional reading while it runs,
// then its curves and the draggable threshold line) and one marker per
// suggestion and per imported marker, which the designer clicks, toggles,
// box-selects, gives a recipe and sends to the trace tab's import. The
// "##traceBlock" input catcher takes the clip zone's place. UI thread only.
#include <cstdint>

struct ImDrawList;

namespace korvel {

struct AppState;
struct Project;

// Whether the index is in `selectedDetections` / `selectedMarkers`.
bool IsDetectionSelected(const AppState& state, std::int32_t index);
bool IsMarkerSelected(const AppState& state, std::int32_t index);
bool IsDetectionSelected(std::int32_t index);
bool IsMarkerSelected(std::int32_t index);

// What the marker menu does to its targets (`traceMenuDetections`,
// `traceMenuMarkers`): turn them on or off, give them a recipe's name (empty:
// none), and whether Import is offered (a target is on). Each edit marks the
// project changed and takes no undo step.
void SetTraceMenuTargetsOn(AppState& state, bool on);
void SetTraceMenuTargetsRecipe(AppState& state, const char* name);
bool TraceMenuImportEnabled(AppState& state);

// The trace-view step of DrawTimeline, after the group area (whose geometry
// it draws into) is laid out. Draws the provisional reading whenever the
// trace tab is active and a read runs; everything else only in the trace
// view (`traceView`).
void DrawTraceView(ImDrawList* drawList, AppState& state, const Project& project, bool traceView);

}  // namespace korvel
