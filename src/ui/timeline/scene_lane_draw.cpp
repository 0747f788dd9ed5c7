// DrawSceneLane: the scene lane's drawing and pointer handling, its menu,
// trim, drawing and inline rename, then the background picker.
//
// [SECTION] Helpers
// [SECTION] Blocks, preview, arrows and ghost
// [SECTION] Header
// [SECTION] Pointer
// [SECTION] Menu
// [SECTION] Gestures and rename
// [SECTION] The step
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/scene_picker.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

namespace {

// [SECTION] Helpers

constexpr const char* kMenuGlyph = "\xef\x85\x82";  // U+F142
constexpr const char* kPrevGlyph = "\xef\x84\xb7";  // U+F137
constexpr const char* kNextGlyph = "\xef\x84\xb8";  // U+F138
constexpr const char* kArmGlyph = "\xee\x84\xb1";   // U+E131
constexpr float kEdgeGrab = 5.0f;                   // px either side of the work-area scene's edges
constexpr float kMinRenameWidth = 20.0f;

ImFont* SmallFont() {
    ImFont* font = GlobalAppState.fonts.smallFont;
    return font != nullptr ? font : ImGui::GetFont();
}

bool ValidScene(const Project& project, std::int32_t scene) {
    return scene >= 0 && scene < static_cast<std::int32_t>(project.scenes.size());
}

bool Inside(ImVec2 p, float x1, float y1, float x2, float y2) { return p.x >= x1 && p.x <= x2 && p.y >= y1 && p.y <= y2; }

// A scene a file gave no length is neither drawn nor hit.
bool HasLength(const Scene& scene) { return scene.outTime > scene.inTime; }

// The first scene (index order) whose unclamped range holds `x`.
std::int32_t SceneAtX(const Project& project, float x) {
    const auto count = static_cast<std::int32_t>(project.scenes.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const Scene& scene = project.scenes[static_cast<std::size_t>(i)];
        if (HasLength(scene) && x >= TimeToX(scene.inTime) && x <= TimeToX(scene.outTime)) return i;
    }
    return -1;
}

// Edge 0 (in, tested first) or 1 of the work-area scene within reach of x; -1 none.
int WorkAreaSceneEdgeAt(const AppState& state, const Project& project, float x) {
    if (!ValidScene(project, state.workAreaScene)) return -1;
    const Scene& scene = project.scenes[static_cast<std::size_t>(state.workAreaScene)];
    if (std::fabs(x - TimeToX(scene.inTime)) <= kEdgeGrab) return 0;
    if (std::fabs(x - TimeToX(scene.outTime)) <= kEdgeGrab) return 1;
    return -1;
}

struct LaneFrame {
    float top = 0.0f;     // T
    float height = 0.0f;  // H
    float right = 0.0f;
    float fs = 0.0f;  // the small font's size
    ImFont* font = nullptr;
    bool ghostShown = false;
    bool ghostHovered = false;
    float ghostX1 = 0.0f;
    float ghostX2 = 0.0f;
};

// [SECTION] Blocks, preview, arrows and ghost

void DrawSceneBlocks(ImDrawList* dl, AppState& state, const Project& project, const LaneFrame& f) {
    const TimelineState& tl = Timeline;
    const ThemeColors& c = ThemePalette;
    DropState& drop = state.dropState;
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    // The desktop reports no pointer while it drags: the drop's own point.
    const ImVec2 dropPoint(drop.dropX, drop.dropY);
    const bool strong = ThemeIndex == 5 || ThemeIndex == 6;
    const float menuWidth = ImGui::CalcTextSize(kMenuGlyph).x;
    const float y = f.top + (f.height - f.fs) / 2.0f;
    const auto count = static_cast<std::int32_t>(project.scenes.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const Scene& scene = project.scenes[static_cast<std::size_t>(i)];
        if (!HasLength(scene)) continue;
        float x1 = TimeToX(scene.inTime);
        float x2 = TimeToX(scene.outTime);
        if (x2 < tl.laneLeft || x1 > f.right) continue;
        x1 = std::max(x1, tl.laneLeft);
        x2 = std::min(x2, f.right);
        const float bottom = f.top + f.height;
        if (drop.hoverAudio && Inside(dropPoint, x1, f.top, x2, bottom)) drop.dropTargetScene = i;

        const bool active = i == state.workAreaScene;
        std::uint32_t fill = 0;
        std::uint32_t border = 0;
        if (strong) {
            fill = active ? ColorWithAlpha(c.accentMuted, 110) : ColorWithAlpha(c.surfaceHover, 90);
            border = active ? ColorWithAlpha(c.accentMuted, 180) : ColorWithAlpha(c.textMuted, 70);
        } else {
            fill = active ? ColorWithAlpha(c.accentMuted, 30) : ColorWithAlpha(c.surfaceHover, 40);
            border = active ? ColorWithAlpha(c.accentMuted, 100) : ColorWithAlpha(c.textMuted, 40);
        }
        dl->AddRectFilled(ImVec2(x1, f.top), ImVec2(x2, bottom), fill);
        dl->AddRect(ImVec2(x1, f.top), ImVec2(x2, bottom), border, 0.0f, 0, 1.0f);
        if (drop.hoverAudio && drop.dropTargetScene == i) {
            dl->AddRect(ImVec2(x1 + 1.0f, f.top + 1.0f), ImVec2(x2 - 1.0f, bottom - 1.0f),
                        ColorWithAlpha(c.accent, 200), 4.0f, 0, 2.0f);
        }
        if (i == state.renamingScene) continue;

        const float w = ImGui::CalcTextSize(scene.name).x;
        const float x = std::max(x1 + 3.0f, (x1 + x2 - w) / 2.0f);
        if (x + w < x2 - 2.0f) {
            std::uint32_t colour = 0;
            if (strong) colour = active ? ColorWithAlpha(c.textOnAccent, 240) : ColorWithAlpha(c.textPrimary, 200);
            else if (ThemeIndex == 0) colour = active ? c.textPrimary : ColorWithAlpha(c.textPrimary, 180);
            else colour = active ? ColorWithAlpha(c.accentBright, 200) : ColorWithAlpha(c.textMuted, 120);
            dl->AddText(ImVec2(x, y), colour, scene.name);
        }
        if (Inside(mouse, x1, f.top, x2, bottom)) {
            const float gx = x2 - menuWidth - 8.0f;
            dl->AddText(ImVec2(gx, y), mouse.x >= gx - 4.0f ? c.textPrimary : ColorWithAlpha(c.textMuted, 160),
                        kMenuGlyph);
        }
    }
}

void DrawDrawPreview(ImDrawList* dl, const Project& project, const LaneFrame& f) {
    const SceneLaneState& lane = SceneLane;
    const ImGuiIO& io = ImGui::GetIO();
    if (!lane.drawActive || !io.MouseDown[0]) return;
    float a = 0.0f;
    float b = 0.0f;
    SceneDrawRange(lane, project, PointerTime(io.MousePos.x, project.totalDuration), a, b);
    if (b - a < 1.0f / TimelineFps(project)) return;
    const ImVec2 p1(std::max(TimeToX(a), Timeline.laneLeft), f.top);
    const ImVec2 p2(std::min(TimeToX(b), f.right), f.top + f.height);
    dl->AddRectFilled(p1, p2, ColorWithAlpha(ThemePalette.accent, 40));
    dl->AddRect(p1, p2, ColorWithAlpha(ThemePalette.accentBright, 180), 0.0f, 0, 1.0f);
}

void DrawSceneArrows(ImDrawList* dl, AppState& state, const Project& project, const LaneFrame& f) {
    const TimelineState& tl = Timeline;
    const ThemeColors& c = ThemePalette;
    const auto count = static_cast<std::int32_t>(project.scenes.size());
    if (state.sceneZoomSavedStart < 0.0f || !ValidScene(project, state.workAreaScene) || count < 2) return;
    const std::int32_t prev = state.workAreaScene - 1;
    const std::int32_t next = state.workAreaScene + 1 < count ? state.workAreaScene + 1 : -1;
    const float y = f.top + (f.height - f.fs) / 2.0f;

    auto arrow = [&](std::int32_t target, const char* glyph, float glyphX, float buttonX, const char* id) {
        dl->AddText(ImVec2(glyphX, y), target >= 0 ? ColorWithAlpha(c.textPrimary, 160) : ColorWithAlpha(c.textMuted, 40),
                    glyph);
        if (target < 0) return false;
        ImGui::SetCursorScreenPos(ImVec2(buttonX, f.top));
        const bool pressed = ImGui::InvisibleButton(id, ImVec2(f.height + 24.0f, f.height));
        if (ImGui::IsItemHovered()) {
            dl->AddText(ImVec2(glyphX, y), c.textPrimary, glyph);
            ShowTooltip("%s", project.scenes[static_cast<std::size_t>(target)].name);
        }
        if (pressed) SelectAndFrameScene(state, project, target);
        return pressed;
    };
    if (arrow(prev, kPrevGlyph, tl.laneLeft + 12.0f, tl.laneLeft, "##scPrev")) return;
    const float w = ImGui::CalcTextSize(kNextGlyph).x;
    arrow(next, kNextGlyph, f.right - w - 12.0f, f.right - (f.height + 24.0f), "##scNext");
}

void DrawGhost(ImDrawList* dl, const AppState& state, const Project& project, LaneFrame& f) {
    if (!SceneGhostShown(state, project)) return;
    const TimelineState& tl = Timeline;
    const ThemeColors& c = ThemePalette;
    const float x1 = std::clamp(TimeToX(state.workAreaIn), tl.laneLeft, f.right);
    const float x2 = std::clamp(TimeToX(state.workAreaOut), tl.laneLeft, f.right);
    if (x2 - x1 <= 20.0f) return;
    f.ghostShown = true;
    f.ghostX1 = x1;
    f.ghostX2 = x2;
    f.ghostHovered = Inside(ImGui::GetIO().MousePos, x1, f.top, x2, f.top + f.height);
    const ImVec2 p1(x1, f.top);
    const ImVec2 p2(x2, f.top + f.height);
    if (f.ghostHovered) dl->AddRectFilled(p1, p2, ColorWithAlpha(c.accent, 15));
    dl->AddRect(p1, p2, f.ghostHovered ? ColorWithAlpha(c.accentBright, 140) : ColorWithAlpha(c.accent, 60), 0.0f, 0,
                1.0f);
    const ImVec2 plus = ImGui::CalcTextSize("+");
    dl->AddText(ImVec2((x1 + x2 - plus.x) / 2.0f, f.top + (f.height - plus.y) / 2.0f),
                f.ghostHovered ? ColorWithAlpha(c.accentBright, 240) : ColorWithAlpha(c.accent, 140), "+");
}

// [SECTION] Header

void DrawSceneHeader(ImDrawList* dl, AppState& state, const LaneFrame& f) {
    const TimelineState& tl = Timeline;
    const ThemeColors& c = ThemePalette;
    const float labelSize = f.font->FontSize * 0.9f;
    const ImVec2 label = f.font->CalcTextSizeA(labelSize, FLT_MAX, 0.0f, "Scenes");
    const float lx = tl.headerLeft + 4.0f;
    dl->AddText(f.font, labelSize, ImVec2(lx, f.top + (f.height - label.y) / 2.0f), c.textSecondary, "Scenes");

    const float w = ImGui::CalcTextSize(kArmGlyph).x;
    const float x = lx + label.x + 6.0f;
    const bool near = Inside(ImGui::GetIO().MousePos, x - 2.0f, f.top, x + w + 4.0f, f.top + f.height);
    const std::uint32_t colour = state.sceneDrawArmed ? c.accentBright
                                 : near                ? ColorWithAlpha(c.textSecondary, 200)
                                                       : ColorWithAlpha(c.textMuted, 100);
    dl->AddText(ImVec2(x, f.top + (f.height - f.fs) / 2.0f), colour, kArmGlyph);
    ImGui::SetCursorScreenPos(ImVec2(x - 2.0f, f.top));
    if (ImGui::InvisibleButton("##scArm", ImVec2(w + 6.0f, f.height))) state.sceneDrawArmed = !state.sceneDrawArmed;
    if (ImGui::IsItemHovered()) ShowTooltip("%s", state.sceneDrawArmed ? "Disarm scene drawing" : "Arm scene drawing");
    if (state.sceneDrawArmed) {
        dl->AddRect(ImVec2(tl.laneLeft - 1.0f, f.top - 1.0f), ImVec2(f.right + 1.0f, f.top + f.height + 1.0f),
                    ColorWithAlpha(c.accent, 140), 3.0f, 0, 2.0f);
    }
}

// [SECTION] Pointer

void HandleLanePointer(ImDrawList* dl, AppState& state, Project& project, const LaneFrame& f) {
    TimelineState& tl = Timeline;
    SceneLaneState& lane = SceneLane;
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, f.top));
    ImGui::InvisibleButton("##scenelane", ImVec2(std::max(1.0f, tl.laneWidth), f.height),
                           ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight);
    const bool renaming = ValidScene(project, state.renamingScene);
    // The rename field lies over the lane and must take its own clicks.
    if (renaming) ImGui::SetItemAllowOverlap();
    const bool hovered = ImGui::IsItemHovered();
    const bool mayEdit = UiMayEditProject(state);
    const float x = io.MousePos.x;

    if (hovered && !renaming && lane.trimScene < 0 && !lane.drawActive) {
        if (WorkAreaSceneEdgeAt(state, project, x) >= 0) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        else if (state.sceneDrawArmed) ImGui::SetMouseCursor(ImGuiMouseCursor_TextInput);
    }

    const bool showHint = project.scenes.empty() && hovered && state.sceneDrawArmed;
    lane.hintFade = std::clamp(lane.hintFade + (showHint ? 4.0f : -4.0f) * io.DeltaTime, 0.0f, 1.0f);
    if (lane.hintFade > 0.01f) {
        const char* hint = "Drag to create a scene";
        const ImVec2 size = f.font->CalcTextSizeA(f.fs, FLT_MAX, 0.0f, hint);
        dl->AddText(f.font, f.fs, ImVec2((tl.laneLeft + f.right - size.x) / 2.0f, f.top + (f.height - size.y) / 2.0f),
                    ColorWithAlpha(ThemePalette.textMuted, static_cast<int>(lane.hintFade * 120.0f)), hint);
    }

    if (renaming || !hovered) return;
    if (ImGui::IsMouseClicked(0)) {
        // The ghost's press makes the scene and then acts on it like any
        // press: framing it, trimming it or opening its menu.
        if (f.ghostShown && f.ghostHovered && x >= f.ghostX1 && x <= f.ghostX2 && mayEdit) {
            NewSceneFromWorkArea(state, project);
        }
        const int edge = mayEdit ? WorkAreaSceneEdgeAt(state, project, x) : -1;
        const std::int32_t hit = SceneAtX(project, x);
        if (edge >= 0) {
            PushUndo();
            lane.trimScene = state.workAreaScene;
            lane.trimEdge = edge;
        } else if (hit >= 0) {
            const Scene& scene = project.scenes[static_cast<std::size_t>(hit)];
            const float xr = std::min(TimeToX(scene.outTime), f.right);
            const float menuWidth = ImGui::CalcTextSize(kMenuGlyph).x;
            if (x >= xr - menuWidth - 12.0f && x <= xr) {
                state.workAreaScene = hit;
                state.workAreaIn = scene.inTime;
                state.workAreaOut = scene.outTime;
                ImGui::OpenPopup("##sceneCtx");
            } else if (hit == state.workAreaScene) {
                ToggleSceneZoom(state, project, hit);
            } else {
                SelectScene(state, project, hit);
            }
        } else if (state.sceneDrawArmed) {
            if (mayEdit) {
                BeginSceneDraw(lane, project, PointerTime(x, project.totalDuration));
                state.renamingScene = -1;
            }
        } else if (state.workAreaScene >= 0) {
            ClearSceneSelection(state);
        }
    }
    if (ImGui::IsMouseClicked(1)) {
        const std::int32_t hit = SceneAtX(project, x);
        if (hit >= 0) {
            const Scene& scene = project.scenes[static_cast<std::size_t>(hit)];
            state.workAreaScene = hit;
            state.workAreaIn = scene.inTime;
            state.workAreaOut = scene.outTime;
        }
        ImGui::OpenPopup("##sceneCtx");
    }
}

// [SECTION] Menu

void SceneContextMenu(AppState& state, Project& project) {
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##sceneCtx")) {
        const bool mayEdit = UiMayEditProject(state);
        const bool valid = ValidScene(project, state.workAreaScene);
        if (ImGui::MenuItem("New Scene from Work Area", nullptr, false, state.HasWorkArea() && mayEdit)) {
            PushUndo();
            NewSceneFromWorkArea(state, project);
        }
        if (ImGui::MenuItem("Split Scene at Playhead", nullptr, false, CanSplitScene(state, project) && mayEdit)) {
            SplitSceneAtPlayhead(state, project);
        }
        if (ImGui::MenuItem("Rename", nullptr, false, valid)) StartSceneRename(state, project, state.workAreaScene, false);
        if (ImGui::MenuItem("Set Background\xe2\x80\xa6", nullptr, false, valid)) {
            state.sceneBackgroundRequest = state.workAreaScene;
        }
        ImGui::Separator();
        ImGui::PushStyleColor(ImGuiCol_Text, ThemePalette.danger);
        const bool remove = ImGui::MenuItem("Delete Scene", nullptr, false, valid && mayEdit);
        ImGui::PopStyleColor();
        if (remove) DeleteWorkAreaScene(state, project);
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

// [SECTION] Gestures and rename

void RunGestures(AppState& state, Project& project) {
    SceneLaneState& lane = SceneLane;
    const ImGuiIO& io = ImGui::GetIO();
    const float pointer = PointerTime(io.MousePos.x, project.totalDuration);
    if (lane.trimScene >= 0) {
        // A trim still held when the edit guard closes writes no more.
        const bool go = io.MouseDown[0] && UiMayEditProject(state);
        if (go) {
            TrimSceneEdge(state, project, lane.trimScene, lane.trimEdge, pointer);
            ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        } else {
            lane.trimScene = -1;
        }
    }
    if (lane.drawActive) {
        if (io.MouseDown[0]) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        else FinishSceneDraw(lane, state, project, pointer);
    }
}

void InlineRename(AppState& state, Project& project, const LaneFrame& f) {
    if (!ValidScene(project, state.renamingScene)) return;
    const TimelineState& tl = Timeline;
    const Scene& scene = project.scenes[static_cast<std::size_t>(state.renamingScene)];
    const float x1 = std::max(tl.laneLeft, TimeToX(scene.inTime));
    const float x2 = std::min(f.right, TimeToX(scene.outTime));
    const float w = x2 - x1 - 4.0f;
    if (w <= kMinRenameWidth) {
        state.renamingScene = -1;
        return;
    }
    ImGui::PushFont(f.font);
    ImGui::SetCursorScreenPos(ImVec2(x1 + 2.0f, f.top + 1.0f));
    ImGui::SetNextItemWidth(w);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(2.0f, (f.height - f.fs) / 2.0f - 1.0f));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, IM_COL32(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_Text, ThemePalette.textPrimary);
    // Taking focus while a popup is open would close that popup.
    if (state.sceneNameFocus && !ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel)) {
        ImGui::SetKeyboardFocusHere();
    }
    const bool enter = ImGui::InputText("##sceneNameInline", state.sceneNameBuffer, sizeof(state.sceneNameBuffer),
                                        ImGuiInputTextFlags_AutoSelectAll | ImGuiInputTextFlags_EnterReturnsTrue);
    const bool active = ImGui::IsItemActive();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar();
    ImGui::PopFont();
    if (active) state.sceneNameFocus = false;
    if (enter || (!active && !state.sceneNameFocus)) CommitSceneRename(state, project);
}

}  // namespace

// [SECTION] The step

void DrawSceneLane(ImDrawList* dl, bool traceView, float displayWidth, float displayHeight, float fontSize) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const TimelineState& tl = Timeline;
    LaneFrame f;
    f.top = tl.y0 + 25.0f;
    f.height = tl.sceneLaneHeight;
    f.right = tl.LaneRight();
    f.font = SmallFont();
    ImGui::PushFont(f.font);
    f.fs = ImGui::GetFontSize();
    dl->AddRectFilled(ImVec2(tl.laneLeft, f.top), ImVec2(f.right, f.top + f.height), ThemePalette.timelineShade3);
    // Found again in every frame of an audio drag; none otherwise.
    state.dropState.dropTargetScene = -1;
    if (traceView) {
        ImGui::PopFont();
        return;
    }
    DrawSceneBlocks(dl, state, project, f);
    DrawDrawPreview(dl, project, f);
    DrawSceneArrows(dl, state, project, f);
    DrawGhost(dl, state, project, f);
    DrawSceneHeader(dl, state, f);
    ImGui::PopFont();

    HandleLanePointer(dl, state, project, f);
    SceneContextMenu(state, project);
    RunGestures(state, project);
    InlineRename(state, project, f);
    DrawSceneBackgroundPicker(displayWidth, displayHeight, fontSize);
}

}  // namespace korvel
