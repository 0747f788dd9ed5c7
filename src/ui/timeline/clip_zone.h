#pragma once
// The timeline's closing layers and the input catcher of its group area:
// the clip box, the dimming outside the work area, the empty-timeline
// texts, scene brackets with the scene-edge grab, the playhead or drop
// marker, the seek strip, and "##tlzone", where Clip layers are trimmed and
// their fades dragged, a layer is auditioned alone, clips are selected and
// box-selected, and the event menu opens. The edits and hit tests are plain
// functions over the project and the frame's geometry, tested headless;
// DrawClipZone feeds them the pointer.
//
// [SECTION] Trims and fades
// [SECTION] Hit testing
// [SECTION] Empty states
// [SECTION] The step
#include <cstdint>
#include <span>
#include <string>

#include "project/layer.h"

struct ImDrawList;
struct ImFont;

namespace korvel {

struct AppState;
struct GroupAreaGeometry;
struct Library;
struct Project;

// [SECTION] Trims and fades

// Seconds of source a trim may reach when the file's length is not known.
inline constexpr float kUnknownSourceLength = 300.0f;
// Trimming stops this far before the clip's other end.
inline constexpr float kMinClipLength = 0.01f;
// A fade grows to this fraction of its clip.
inline constexpr float kMaxFadeFraction = 0.45f;

// The length of `path` from the waveform cache, or -1 when it is not cached
// or not above 0.
float CachedSourceLength(const std::string& path);

// One frame of a trim of Clip layer `layer`, edge 1 (left) or 2 (right), to
// `pointerTime`, with the source `sourceLength` long (-1: not known, bounded
// by kUnknownSourceLength). Writes the layer and its event, the automatic
// fades, and deals the lanes again. False (nothing written) when the layer
// or its Clip event is gone.
bool TrimClipLayer(Project& project, std::int32_t layer, int edge, float pointerTime, float sourceLength);

// One frame of a fade drag: side 1 the fade-in, 2 the fade-out, held within
// [0, 45 % of the clip]. False (nothing written) when the layer or its Clip
// event is gone.
bool DragClipFade(Project& project, std::int32_t layer, int side, float pointerTime);

// [SECTION] Hit testing

// A layer's rectangle on its lane, unclipped; `valid` false when it is not
// drawn on a lane (dropped, or its group hidden).
struct ClipRect {
    bool valid = false;
    float x0 = 0.0f, y0 = 0.0f, x1 = 0.0f, y1 = 0.0f;
};
ClipRect LayerClipRect(const AppState& state, const Project& project, const GroupAreaGeometry& area,
                       const LayerResult& layer);

// The first of `layers` (index order) whose rectangle holds (x, y), or -1.
std::int32_t LayerAtPoint(const AppState& state, const Project& project, const GroupAreaGeometry& area,
                          std::span<const LayerResult> layers, float x, float y);

enum class ClipHandle { None, FadeIn, FadeOut, LeftEdge, RightEdge };

struct ClipHandleHit {
    std::int32_t layer = -1;
    ClipHandle handle = ClipHandle::None;
    // A fade under 14 px is grabbed at the clip's top corner; this is that
    // corner's triangle to draw (valid only for such a fade).
    bool corner = false;
    float cornerX = 0.0f, cornerY = 0.0f, cornerSide = 0.0f;  // side < 0 points left
};

// The handle of the first Clip layer (index order) on the pointer's lane row
// that offers one at (x, y); clips 12 px wide or less offer none.
ClipHandleHit FindClipHandle(const AppState& state, const Project& project, const GroupAreaGeometry& area,
                             std::span<const LayerResult> layers, float x, float y);

// Ends a clip box from (x1, y1) to (x2, y2): more than 5 px in x or y selects
// the events of the clips it touches (linked groups too unless `alt`) and
// brings the events tab forward; a smaller box, or one touching nothing,
// clears the selection.
void FinishClipBox(AppState& state, const Project& project, const GroupAreaGeometry& area,
                   std::span<const LayerResult> layers, float x1, float y1, float x2, float y2, bool alt);

// [SECTION] Empty states

enum class TimelineEmptyState { NoEvents, NoPalette, Ready };
TimelineEmptyState ChooseEmptyState(const Project& project, const Library& library);

// Where the texts of an empty timeline go: the heading and the line below
// it, each centred in the lane area, the pair centred in the group area;
// the line's middle piece (the "Library" link) has its own rectangle.
struct EmptyStateLayout {
    TimelineEmptyState kind = TimelineEmptyState::Ready;
    const char* heading = "";
    const char* before = "";  // the line, or the part before the link
    const char* link = "";    // empty unless the line has one
    const char* after = "";
    float headingX = 0.0f, headingY = 0.0f;
    float lineX = 0.0f, lineY = 0.0f;
    float linkX = 0.0f, linkWidth = 0.0f, linkHeight = 0.0f;
    float afterX = 0.0f;
};
// Text sizes come from the heading's and the line's fonts at their sizes.
EmptyStateLayout LayOutEmptyState(const Project& project, const Library& library, const ImFont& headingFont,
                                  const ImFont& lineFont);

// [SECTION] The step

// The closing steps of DrawTimeline, after the group area (the timeline's
// geometry and Timeline.groupArea are this frame's).
void DrawClipZone(ImDrawList* drawList, bool traceView);

}  // namespace korvel
