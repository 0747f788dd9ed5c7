// The scene lane's edits and selection (this file) and its drawing and
// pointer handling (scene_lane_draw.cpp).
//
// [SECTION] Helpers
// [SECTION] Scene edits
// [SECTION] Selection and view
// [SECTION] Trim and drawing
#include "ui/timeline/scene_lane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>

#include "app/frame_work.h"
#include "engine/voice_sync.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

SceneLaneState SceneLane;

namespace {

// [SECTION] Helpers

constexpr float kSnapPixels = 8.0f;

bool ValidScene(const Project& project, std::int32_t scene) {
    return scene >= 0 && scene < static_cast<std::int32_t>(project.scenes.size());
}

void SeekPicture(float time) {
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Seek(time);
}

void NextSceneName(const Project& project, char (&name)[64]) {
    std::snprintf(name, sizeof(name), "Scene %d", static_cast<int>(project.scenes.size()) + 1);
}

void TakeSceneAsWorkArea(AppState& state, const Scene& scene, std::int32_t index) {
    state.workAreaScene = index;
    state.workAreaIn = scene.inTime;
    state.workAreaOut = scene.outTime;
}

}  // namespace

// [SECTION] Scene edits

std::vector<std::int32_t> SortScenes(Project& project) {
    const auto count = static_cast<std::int32_t>(project.scenes.size());
    std::vector<std::int32_t> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return project.scenes[static_cast<std::size_t>(a)].inTime < project.scenes[static_cast<std::size_t>(b)].inTime;
    });
    std::vector<std::int32_t> newIndex(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) newIndex[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])] = i;
    for (Event& event : project.events) {
        if (ValidScene(project, event.sceneLink)) event.sceneLink = newIndex[static_cast<std::size_t>(event.sceneLink)];
    }
    std::vector<Scene> sorted;
    sorted.reserve(project.scenes.size());
    for (std::int32_t index : order) sorted.push_back(project.scenes[static_cast<std::size_t>(index)]);
    project.scenes = std::move(sorted);
    return newIndex;
}

std::int32_t AppendScene(Project& project, const char* name, float in, float out, const char* keywords) {
    Scene scene;
    CopyText(scene.name, name != nullptr ? name : "");
    if (keywords != nullptr) CopyText(scene.keywords, keywords);
    scene.inTime = in;
    scene.outTime = out;
    project.scenes.push_back(scene);
    const std::vector<std::int32_t> newIndex = SortScenes(project);
    return newIndex.back();
}

void StartSceneRename(AppState& state, const Project& project, std::int32_t scene, bool backgroundAfter) {
    if (!ValidScene(project, scene)) return;
    state.renamingScene = scene;
    CopyText(state.sceneNameBuffer, TextOf(project.scenes[static_cast<std::size_t>(scene)].name));
    state.sceneNameFocus = true;
    state.backgroundAfterRename = backgroundAfter;
}

std::int32_t NewSceneFromWorkArea(AppState& state, Project& project) {
    if (!state.HasWorkArea()) return -1;
    char name[64];
    NextSceneName(project, name);
    const std::int32_t index =
        AppendScene(project, name, state.workAreaIn, state.workAreaOut, state.sceneKeywordTemplate);
    state.workAreaScene = index;
    StartSceneRename(state, project, index, true);
    // Made without an undo snapshot from the ghost, so nothing else would
    // mark it for saving.
    state.unsavedChanges = true;
    return index;
}

bool CanSplitScene(const AppState& state, const Project& project) {
    if (!ValidScene(project, state.workAreaScene)) return false;
    const Scene& scene = project.scenes[static_cast<std::size_t>(state.workAreaScene)];
    const float margin = 2.0f / TimelineFps(project);
    return state.playhead > scene.inTime + margin && state.playhead < scene.outTime - margin;
}

bool SplitSceneAtPlayhead(AppState& state, Project& project) {
    if (!CanSplitScene(state, project) || !UiMayEditProject(state)) return false;
    PushUndo();
    const float t = SnapToFrame(state.playhead, project.fps);
    const std::int32_t split = state.workAreaScene;
    Scene second = project.scenes[static_cast<std::size_t>(split)];
    CopyText(second.name, std::string(TextOf(second.name)) + " (B)");
    second.inTime = t;
    project.scenes[static_cast<std::size_t>(split)].outTime = t;
    project.scenes.push_back(second);
    const std::vector<std::int32_t> newIndex = SortScenes(project);
    const std::int32_t moved = newIndex[static_cast<std::size_t>(split)];
    TakeSceneAsWorkArea(state, project.scenes[static_cast<std::size_t>(moved)], moved);
    return true;
}

bool DeleteWorkAreaScene(AppState& state, Project& project) {
    const std::int32_t d = state.workAreaScene;
    if (!ValidScene(project, d) || !UiMayEditProject(state)) return false;
    PushUndo();
    const auto oldCount = static_cast<std::int32_t>(project.events.size());
    std::vector<std::int32_t> deleted;
    for (std::int32_t i = oldCount - 1; i >= 0; --i) {
        const Event& event = project.events[static_cast<std::size_t>(i)];
        if (!event.sceneFill || event.sceneLink != d) continue;
        project.DeleteEvent(i);
        state.RemoveEventFromSelection(i);
        deleted.push_back(i);
    }
    if (!deleted.empty()) {
        RemoveEventVoices(deleted, oldCount);
        CheckRenderCacheIntegrity();
        LocatePlayback(LivePlaybackEngine, state.playhead);
    }
    for (Event& event : project.events) {
        if (event.sceneLink == d) event.sceneLink = -1;
        else if (event.sceneLink > d) --event.sceneLink;
    }
    project.scenes.erase(project.scenes.begin() + d);
    ClearSceneSelection(state);
    return true;
}

void CommitSceneRename(AppState& state, Project& project) {
    const std::int32_t scene = state.renamingScene;
    state.renamingScene = -1;
    if (!ValidScene(project, scene)) return;
    if (state.sceneNameBuffer[0] != '\0') {
        project.RenameScene(scene, state.sceneNameBuffer);
        // A rename takes no undo snapshot, so it marks the change itself.
        state.unsavedChanges = true;
    }
    if (state.backgroundAfterRename) {
        state.backgroundAfterRename = false;
        state.sceneBackgroundRequest = scene;
    }
}

// [SECTION] Selection and view

void SelectScene(AppState& state, const Project& project, std::int32_t scene) {
    if (!ValidScene(project, scene)) return;
    const Scene& s = project.scenes[static_cast<std::size_t>(scene)];
    TakeSceneAsWorkArea(state, s, scene);
    state.sceneZoomSavedStart = state.sceneZoomSavedSpan = -1.0f;
    if (!state.playing) {
        state.playhead = s.inTime;
        SeekPicture(s.inTime);
    }
    if (s.keywords[0] != '\0') CopyText(state.sceneKeywordTemplate, TextOf(s.keywords));
}

void SelectAndFrameScene(AppState& state, const Project& project, std::int32_t scene) {
    if (!ValidScene(project, scene)) return;
    const float savedStart = state.sceneZoomSavedStart;
    const float savedSpan = state.sceneZoomSavedSpan;
    SelectScene(state, project, scene);
    state.sceneZoomSavedStart = savedStart;
    state.sceneZoomSavedSpan = savedSpan;
    const Scene& s = project.scenes[static_cast<std::size_t>(scene)];
    state.viewStart = s.inTime;
    state.viewEnd = s.outTime;
}

void ToggleSceneZoom(AppState& state, const Project& project, std::int32_t scene) {
    if (!ValidScene(project, scene)) return;
    if (state.sceneZoomSavedStart >= 0.0f) {
        state.viewStart = state.sceneZoomSavedStart;
        state.viewEnd = state.sceneZoomSavedStart + state.sceneZoomSavedSpan;
        state.sceneZoomSavedStart = state.sceneZoomSavedSpan = -1.0f;
        return;
    }
    state.sceneZoomSavedStart = state.viewStart;
    state.sceneZoomSavedSpan = state.ViewSpan();
    const Scene& s = project.scenes[static_cast<std::size_t>(scene)];
    state.viewStart = s.inTime;
    state.viewEnd = s.outTime;
}

void ClearSceneSelection(AppState& state) {
    state.workAreaScene = -1;
    state.workAreaIn = state.workAreaOut = -1.0f;
    state.sceneZoomSavedStart = state.sceneZoomSavedSpan = -1.0f;
}

bool SceneGhostShown(const AppState& state, const Project& project) {
    if (!state.HasWorkArea() || state.workAreaScene >= 0) return false;
    return std::none_of(project.scenes.begin(), project.scenes.end(), [&](const Scene& scene) {
        return std::fabs(scene.inTime - state.workAreaIn) < 0.01f && std::fabs(scene.outTime - state.workAreaOut) < 0.01f;
    });
}

// [SECTION] Trim and drawing

void TrimSceneEdge(AppState& state, Project& project, std::int32_t scene, int edge, float pointerTime) {
    if (!ValidScene(project, scene)) return;
    float p = SnapToFrame(pointerTime, project.fps);
    const float px = TimeToX(p);
    const auto count = static_cast<std::int32_t>(project.scenes.size());
    for (std::int32_t i = 0; i < count; ++i) {
        if (i == scene) continue;
        const Scene& other = project.scenes[static_cast<std::size_t>(i)];
        if (std::fabs(TimeToX(other.inTime) - px) <= kSnapPixels) {
            p = other.inTime;
            break;
        }
        if (std::fabs(TimeToX(other.outTime) - px) <= kSnapPixels) {
            p = other.outTime;
            break;
        }
    }
    const float frame = 1.0f / TimelineFps(project);
    Scene& s = project.scenes[static_cast<std::size_t>(scene)];
    if (edge == 1) s.outTime = std::max(p, s.inTime + frame);
    else s.inTime = std::min(p, s.outTime - frame);
    if (state.workAreaScene == scene) {
        state.workAreaIn = s.inTime;
        state.workAreaOut = s.outTime;
    }
    if (!state.playing) {
        state.playhead = p;
        SeekPicture(p);
    }
}

void BeginSceneDraw(SceneLaneState& lane, const Project& project, float pointerTime) {
    const float p = SnapToFrame(pointerTime, project.fps);
    float lower = 0.0f;
    float upper = project.totalDuration;
    for (const Scene& scene : project.scenes) {
        if (p >= scene.outTime && lower < scene.outTime) lower = scene.outTime;
        if (p <= scene.inTime && upper > scene.inTime) upper = scene.inTime;
    }
    lane.drawLower = lower;
    lane.drawUpper = upper;
    lane.drawAnchor = std::clamp(p, lower, std::max(lower, upper));
    lane.drawActive = true;
}

void SceneDrawRange(const SceneLaneState& lane, const Project& project, float pointerTime, float& a, float& b) {
    const float p = SnapToFrame(pointerTime, project.fps);
    const float e = std::clamp(p, lane.drawLower, std::max(lane.drawLower, lane.drawUpper));
    a = std::min(lane.drawAnchor, e);
    b = std::max(lane.drawAnchor, e);
}

void FinishSceneDraw(SceneLaneState& lane, AppState& state, Project& project, float pointerTime) {
    if (!lane.drawActive) return;
    lane.drawActive = false;
    float a = 0.0f;
    float b = 0.0f;
    SceneDrawRange(lane, project, pointerTime, a, b);
    if (b - a >= 2.0f / TimelineFps(project) && UiMayEditProject(state)) {
        PushUndo();
        char name[64];
        NextSceneName(project, name);
        const std::int32_t index = AppendScene(project, name, a, b, nullptr);
        TakeSceneAsWorkArea(state, project.scenes[static_cast<std::size_t>(index)], index);
        StartSceneRename(state, project, index, true);
        state.sceneDrawArmed = false;
        return;
    }
    if (state.workAreaScene >= 0) ClearSceneSelection(state);
}

}  // namespace korvel
