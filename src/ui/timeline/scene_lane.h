#pragma once
// The scene lane of the timeline: scenes drawn as labelled blocks, made by
// drawing or from the work area, selected (which makes their range the work
// area), zoomed into, stepped through, trimmed, renamed inline, split and
// deleted. The edits are plain functions over the project and the
// application state, tested headless; DrawSceneLane feeds them the pointer.
//
// [SECTION] Lane state
// [SECTION] Scene edits
// [SECTION] Selection and view
// [SECTION] Trim and drawing
// [SECTION] Drawing the lane
#include <cstdint>
#include <vector>

struct ImDrawList;

namespace korvel {

struct AppState;
struct Project;

// [SECTION] Lane state

// The gestures the lane keeps from frame to frame. UI thread only.
struct SceneLaneState {
    std::int32_t trimScene = -1;  // -1 none
    std::int32_t trimEdge = 0;    // 0 in, 1 out
    bool drawActive = false;
    float drawAnchor = 0.0f;  // seconds, on the frame grid
    float drawLower = 0.0f;   // the drawn scene is held within these
    float drawUpper = 0.0f;
    float hintFade = 0.0f;  // 0..1, "Drag to create a scene"
};
extern SceneLaneState SceneLane;

// [SECTION] Scene edits

// Reorders the scenes by start time and moves every event's in-range
// sceneLink with its scene. Returns the new index of each old index.
std::vector<std::int32_t> SortScenes(Project& project);
// Appends a scene over [in, out] (name and keywords cut to their fields; a
// null or empty keyword text leaves none), sorts, and returns its index.
std::int32_t AppendScene(Project& project, const char* name, float in, float out, const char* keywords);
// Starts the inline rename of `scene` with its name in the field; the
// background picker follows when `backgroundAfter`.
void StartSceneRename(AppState& state, const Project& project, std::int32_t scene, bool backgroundAfter);
// A new scene "Scene N" over the work area with the keyword template, made
// the work-area scene and renamed, the picker to follow. No undo snapshot
// (the menu takes one first); marks the project changed. -1 without a
// work area.
std::int32_t NewSceneFromWorkArea(AppState& state, Project& project);
// Whether the work-area scene exists and the playhead lies more than two
// frames inside both of its edges.
bool CanSplitScene(const AppState& state, const Project& project);
// Cuts the work-area scene at the playhead (on the frame grid); the second
// half is a copy named "<name> (B)". The work area keeps the first half.
bool SplitSceneAtPlayhead(AppState& state, Project& project);
// Deletes the work-area scene with its background events (voices dropped,
// cache checked, playback relocated); other links to it are cleared and
// later ones renumbered. Clears the work area and the saved zoom.
bool DeleteWorkAreaScene(AppState& state, Project& project);
// Ends an inline rename: a non-empty field renames the scene and its
// background folders and marks the project changed; a pending background
// choice opens the picker.
void CommitSceneRename(AppState& state, Project& project);

// [SECTION] Selection and view

// Makes `scene` the work-area scene: the work area takes its range, the
// saved zoom is dropped, the playhead (when stopped) and the picture go to
// its start, and its keywords, when it has any, become the template.
void SelectScene(AppState& state, const Project& project, std::int32_t scene);
// As SelectScene, but the view frames the scene and the saved zoom stays
// (the previous and next arrows).
void SelectAndFrameScene(AppState& state, const Project& project, std::int32_t scene);
// Second press on the work-area scene: zooms the view onto it, saving the
// view, or returns to the saved view.
void ToggleSceneZoom(AppState& state, const Project& project, std::int32_t scene);
// Forgets the work-area scene, the work area and the saved zoom.
void ClearSceneSelection(AppState& state);
// Whether the lane offers the work area as a new scene: a valid work area
// that no scene owns or matches.
bool SceneGhostShown(const AppState& state, const Project& project);

// [SECTION] Trim and drawing

// Moves edge 0 (in) or 1 (out) of `scene` to `pointerTime` on the frame
// grid, snapping to another scene's edge within 8 px and keeping at least
// one frame; the work area and the stopped playhead follow.
void TrimSceneEdge(AppState& state, Project& project, std::int32_t scene, int edge, float pointerTime);
// Starts drawing at `pointerTime`: the anchor on the frame grid, held
// between the scenes before and after it.
void BeginSceneDraw(SceneLaneState& lane, const Project& project, float pointerTime);
// The drawn range [a, b] with its free end at `pointerTime`.
void SceneDrawRange(const SceneLaneState& lane, const Project& project, float pointerTime, float& a, float& b);
// Release: a range of two frames or more becomes a new scene (selected,
// renamed, the picker to follow; drawing disarmed); a shorter one creates
// nothing and clears the scene selection. The draw ends either way.
void FinishSceneDraw(SceneLaneState& lane, AppState& state, Project& project, float pointerTime);

// [SECTION] Drawing the lane

// The scene lane and then the background picker, for one frame of
// DrawTimeline (the timeline's geometry is set). Display size and body font
// size place the picker.
void DrawSceneLane(ImDrawList* drawList, bool traceView, float displayWidth, float displayHeight, float fontSize);

}  // namespace korvel
