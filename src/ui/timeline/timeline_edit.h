#pragma once
// What the ruler and the marker lane do to the project and the view, apart
// from the UI library: tick steps, the in and out points, the event rows,
// hit testing, moves, resizes and the marquee. DrawTimeline feeds them the
// pointer; tests call them directly.
//
// [SECTION] Ruler and work area
// [SECTION] Marker lane
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvel {

struct AppState;
struct Event;
struct Project;
struct PlaybackEngine;

// [SECTION] Ruler and work area

// The major tick step (seconds) for a lane `laneWidth` px wide showing
// `viewSpan` seconds: the first of the fixed steps that covers 80 px.
float RulerTickStep(float laneWidth, float viewSpan);
// The label of time `t` on the ruler: timecode from the project's start.
void RulerLabel(const Project& project, float t, char* buffer, std::size_t size);

// The In and Out buttons: set the point at the playhead or clear it; the
// work area stops following a scene. Marks the project changed.
void ToggleWorkAreaIn(AppState& state);
void ToggleWorkAreaOut(AppState& state);
// Drags edge 1 (in) or 2 (out) to `pointerTime`, held 0.01 s from the other
// edge; a scene owning the work area follows. Marks the project changed.
void DragWorkAreaEdge(AppState& state, Project& project, int edge, float pointerTime);
// Which edge a press at `mouseX` grabs: 1 or 2 within 8 px, else 0.
int WorkAreaEdgeAt(const AppState& state, float mouseX);

// [SECTION] Marker lane

// Start and end of an event's block.
float EventBlockStart(const Event& event);
float EventBlockEnd(const Event& event);

// The expanded lane's rows: events by time, each in the first row free at
// its start. `row` has one entry per event.
struct EventRows {
    std::vector<std::int32_t> row;
    std::int32_t count = 0;
};
EventRows LayOutEventRows(const std::vector<Event>& events);
// Event indices sorted by time.
std::vector<std::int32_t> EventsByTime(const std::vector<Event>& events);

// The event a press at `mouseX` hits among those in `pointerRow` (every
// event when `rows` is null): a sync marker within 10 px first, then the
// primary event's block (when `preferPrimary`), then the last block in index
// order under the pointer. -1 when none.
std::int32_t HitEventAt(const std::vector<Event>& events, const EventRows* rows, std::int32_t pointerRow,
                        float mouseX, std::int32_t primary, bool preferPrimary);
// The selected event whose end a press at `mouseX` grabs (within 6 px, the
// nearest; muted and linked-group events excluded), or -1.
std::int32_t ResizeCandidateAt(const AppState& state, const std::vector<Event>& events, const EventRows* rows,
                               std::int32_t pointerRow, float mouseX);

// Shortens `delta` so every selected event's time stays in [0, duration].
float ClampSelectionMove(const AppState& state, const Project& project, float delta);
// Moves the selected events, their layers and their live voices (under the
// engine's voice lock) by `delta` seconds; false when something is linked
// to a scene (nothing moves).
bool MoveSelectedEvents(AppState& state, Project& project, PlaybackEngine& engine, float delta);
// Sets event `index`'s end to `pointerTime` within its limits (one frame,
// the project's end, a Clip's source), keeping its sync point in proportion;
// returns the new end, or -1 when refused (scene-linked or no such event).
float ResizeEventTo(Project& project, std::int32_t index, float pointerTime);
// Ends a marquee over [t1, t2]: selects the events overlapping it, pulling
// in linked groups unless `alt`.
void SelectMarquee(AppState& state, const Project& project, float t1, float t2, bool alt);

}  // namespace korvel
