#pragma once
// The scene lane's tests: a clean scene state, and headless frames that run
// only the scene-lane step (with its picker) in a window covering the
// display. The lane is 800 px from x = 100; its top is at y = 25 and it is
// 20 px high, so presses at y = 35 land on it.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/temp_dir.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/scene_picker.h"
#include "ui/timeline/timeline_view.h"

namespace korvel::test {

inline constexpr float kLaneY = 35.0f;

inline void ResetSceneState() {
    ResetTimelineState();
    AppState& s = GlobalAppState;
    s.sceneDrawArmed = false;
    s.sceneKeywordTemplate[0] = '\0';
    s.sceneZoomSavedStart = s.sceneZoomSavedSpan = -1.0f;
    s.renamingScene = -1;
    s.sceneNameBuffer[0] = '\0';
    s.sceneNameFocus = false;
    s.backgroundAfterRename = false;
    s.sceneBackgroundRequest = -1;
    s.pendingDeleteEvent = -1;
    s.dropState = DropState{};
    s.backgroundJob.active.store(false);
    s.audioUpdateRequested.store(false);
    SceneLane = SceneLaneState{};
    ScenePickerOpenedFor = -1;
}

inline Scene MakeScene(const char* name, float in, float out, const char* keywords = "") {
    Scene scene;
    std::snprintf(scene.name, sizeof(scene.name), "%s", name);
    std::snprintf(scene.keywords, sizeof(scene.keywords), "%s", keywords);
    scene.inTime = in;
    scene.outTime = out;
    return scene;
}

// An event linked to `scene`; a background when `background`.
inline Event Linked(std::int32_t scene, bool background, EventKind kind = EventKind::Fill) {
    Event e = MakeEvent(0.0f, 1.0f, 0.0f, kind);
    e.sceneLink = scene;
    e.sceneFill = background;
    return e;
}

class SceneLaneUi {
public:
    SceneLaneUi() { Frame(); }  // the window exists before the first press

    // One frame of the lane step, the view taken from the state as
    // DrawTimeline takes it.
    void Frame(float seconds = 1.0f / 60.0f) {
        ui.BeginFrame(seconds);
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(ImVec2(1000.0f, 600.0f));
        ImGui::Begin("##lanetest", nullptr,
                     ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                         ImGuiWindowFlags_NoBringToFrontOnFocus);
        // Logged to a file: the first popup's end stops the log, and a
        // buffer would be emptied then.
        const std::string logPath = logDir.file("frame.txt");
        if (log) {
            std::filesystem::remove(logPath);
            ImGui::LogToFile(-1, logPath.c_str());
        }
        TimelineState& tl = Timeline;
        tl.x0 = tl.y0 = 0.0f;
        tl.headerLeft = 8.0f;
        tl.headerWidth = 92.0f;
        tl.laneLeft = 100.0f;
        tl.laneWidth = 800.0f;
        tl.sceneLaneHeight = 20.0f;
        tl.viewStart = GlobalAppState.viewStart;
        tl.viewSpan = GlobalAppState.ViewSpan();
        DrawSceneLane(ImGui::GetWindowDrawList(), traceView, 1000.0f, 600.0f, 18.0f);
        menuOpen = ImGui::IsPopupOpen("##sceneCtx");
        pickerOpen = ImGui::IsPopupOpen("##sceneRecipe");
        ImGui::End();
        if (log) {
            if (GImGui->LogEnabled) ImGui::LogFinish();
            std::ifstream in(logPath, std::ios::binary);
            logged.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ui.EndFrame();
    }

    // The x of time t in the state's current view.
    static float X(float t) {
        const AppState& s = GlobalAppState;
        return 100.0f + (t - s.viewStart) / s.ViewSpan() * 800.0f;
    }

    void Move(float x, float y = kLaneY) {
        ui.MoveMouse(x, y);
        Frame();
    }
    void Press(float x, float y = kLaneY, int button = 0) {
        ui.MoveMouse(x, y);
        ui.SetMouseButton(button, true);
        Frame();
    }
    void Release(int button = 0) {
        ui.SetMouseButton(button, false);
        Frame();
    }
    void Click(float x, float y = kLaneY, int button = 0) {
        Press(x, y, button);
        Release(button);
    }
    void Key(ImGuiKey key) {
        ui.SetKey(key, true);
        Frame();
        ui.SetKey(key, false);
        Frame();
    }
    void Type(const char* text) {
        ui.io().AddInputCharactersUTF8(text);
        Frame();
    }

    // Where the open popup shows the item of identity `id` (searched by
    // hovering down a column at `x` past the popup's left edge; x < 0
    // measures from its right edge). False when no such item is found.
    bool FindInPopup(ImGuiID id, float x, ImVec2& at) {
        if (GImGui->OpenPopupStack.empty() || GImGui->OpenPopupStack.back().Window == nullptr) return false;
        const ImGuiWindow* popup = GImGui->OpenPopupStack.back().Window;
        const float px = x >= 0.0f ? popup->Pos.x + x : popup->Pos.x + popup->Size.x + x;
        for (float y = popup->Pos.y + 1.0f; y < popup->Pos.y + popup->Size.y; y += 2.0f) {
            Move(px, y);
            if (GImGui->HoveredId == id) {
                at = ImVec2(px, y);
                return true;
            }
        }
        return false;
    }
    // The identity of `label` in the open popup, under the pushed ints.
    static ImGuiID PopupItemId(const char* label, std::initializer_list<int> pushed = {}) {
        ImGuiID seed = GImGui->OpenPopupStack.back().Window->ID;
        for (int n : pushed) seed = ImHashData(&n, sizeof(n), seed);
        return ImHashStr(label, 0, seed);
    }

    UiHarness ui{1000.0f, 600.0f};
    bool traceView = false;
    bool log = false;
    std::string logged;  // the text of the last frame's widgets, while `log`
    TempDir logDir;
    bool menuOpen = false;
    bool pickerOpen = false;
};

}  // namespace korvel::test
