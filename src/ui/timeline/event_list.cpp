// The events list: grouping, the folder and row clicks, the scene bar and
// the list's drawing.
//
// [SECTION] Helpers
// [SECTION] Folders
// [SECTION] Folder headers
// [SECTION] Folder edits
// [SECTION] Event rows
// [SECTION] Scene bar
// [SECTION] Drawing: scene bar
// [SECTION] Drawing: folder header and its menus
// [SECTION] Drawing: event row
// [SECTION] Drawing: the list
#include "ui/timeline/event_list.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <system_error>

#include "app/frame/icon_glyphs.h"
#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "engine/published_layers.h"
#include "engine/voice_sync.h"
#include "picture/timecode.h"
#include "playback/playback_engine.h"
#include "presets/chains.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/event_menu.h"
#include "ui/timeline/layer_rows.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

// [SECTION] Helpers

namespace {

constexpr const char* kEventToFolder = "EVENT_TO_FOLDER";

bool ValidEvent(const Project& project, std::int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < project.events.size();
}

bool ValidScene(const Project& project, std::int32_t scene) {
    return scene >= 0 && static_cast<std::size_t>(scene) < project.scenes.size();
}

}  // namespace

// [SECTION] Folders

std::vector<EventFolder> GroupEventFolders(const AppState& state, const Project& project) {
    std::vector<EventFolder> folders;
    const Scene* scene =
        ValidScene(project, state.workAreaScene) ? &project.scenes[static_cast<std::size_t>(state.workAreaScene)] : nullptr;
    for (std::int32_t index : state.eventListOrder) {
        if (!ValidEvent(project, index)) continue;
        const Event& event = project.events[static_cast<std::size_t>(index)];
        if (scene != nullptr && !(scene->inTime <= event.time && event.time <= scene->outTime)) continue;
        const std::string_view name = TextOf(event.folder);
        auto found = std::find_if(folders.begin(), folders.end(), [&](const EventFolder& f) { return f.name == name; });
        if (found == folders.end()) {
            folders.push_back(EventFolder{std::string(name), {}, event.time});
            found = folders.end() - 1;
        }
        found->events.push_back(index);
    }
    std::stable_sort(folders.begin(), folders.end(),
                     [](const EventFolder& a, const EventFolder& b) { return a.firstTime < b.firstTime; });
    return folders;
}

bool FolderAllSelected(const AppState& state, const EventFolder& folder) {
    return std::all_of(folder.events.begin(), folder.events.end(),
                       [&](std::int32_t index) { return state.selectedEvents.contains(index); });
}

// [SECTION] Folder headers

FolderHeaderAction DecideFolderHeaderClick(const FolderHeaderClick& click, bool allSelected) {
    if (!click.pressed) return FolderHeaderAction::None;
    if (click.onLink) return FolderHeaderAction::ToggleLink;
    if (click.onMore) return FolderHeaderAction::OpenMenu;
    if (click.doubleClicked) return FolderHeaderAction::StartRename;
    if (click.ctrl) return allSelected ? FolderHeaderAction::Deselect : FolderHeaderAction::AddToSelection;
    return allSelected ? FolderHeaderAction::ToggleCollapse : FolderHeaderAction::SelectFolder;
}

void ApplyFolderHeaderAction(AppState& state, const Project& project, const EventFolder& folder,
                             FolderHeaderAction action) {
    switch (action) {
    case FolderHeaderAction::ToggleLink:
        if (!state.linkedGroups.erase(folder.name)) state.linkedGroups.insert(folder.name);
        // Saved with the project, without an undo step.
        state.unsavedChanges = true;
        break;
    case FolderHeaderAction::StartRename:
        StartFolderRename(state, folder.name);
        break;
    case FolderHeaderAction::Deselect:
        for (std::int32_t index : folder.events) state.selectedEvents.erase(index);
        break;
    case FolderHeaderAction::AddToSelection:
        for (std::int32_t index : folder.events) state.selectedEvents.insert(index);
        break;
    case FolderHeaderAction::ToggleCollapse:
        if (!state.collapsedFolders.erase(folder.name)) state.collapsedFolders.insert(folder.name);
        break;
    case FolderHeaderAction::SelectFolder:
        state.selectedEvents.clear();
        for (std::int32_t index : folder.events)
            if (ValidEvent(project, index)) state.selectedEvents.insert(index);
        state.selectedEvent = folder.events.empty() ? -1 : folder.events.front();
        break;
    case FolderHeaderAction::None:
    case FolderHeaderAction::OpenMenu:
        break;
    }
}

// [SECTION] Folder edits

void StartFolderRename(AppState& state, const std::string& name) {
    state.renamingFolder = name;
    CopyText(state.folderNameBuffer, name);
    state.focusFolderRename = true;
}

bool CommitFolderRename(AppState& state, Project& project, const EventFolder& folder) {
    const std::string oldName = state.renamingFolder;
    state.renamingFolder.clear();
    const std::string_view newName = TextOf(state.folderNameBuffer);
    if (newName.empty() || newName == oldName || !UiMayEditProject(state)) return false;
    PushUndo();
    for (std::int32_t index : folder.events)
        if (ValidEvent(project, index)) CopyText(project.events[static_cast<std::size_t>(index)].folder, newName);
    state.collapsedFolders.erase(oldName);
    if (state.linkedGroups.erase(oldName)) state.linkedGroups.insert(std::string(newName));
    return true;
}

void CancelFolderRename(AppState& state) { state.renamingFolder.clear(); }

void MoveSelectionToFolder(AppState& state, Project& project, const std::string& folder) {
    if (!UiMayEditProject(state)) return;
    PushUndo();
    for (std::int32_t index : state.ValidSelectedEvents(project.events))
        CopyText(project.events[static_cast<std::size_t>(index)].folder, folder);
}

void UngroupFolder(AppState& state, Project& project, const EventFolder& folder) {
    if (!UiMayEditProject(state)) return;
    PushUndo();
    for (std::int32_t index : folder.events)
        if (ValidEvent(project, index)) project.events[static_cast<std::size_t>(index)].folder[0] = '\0';
    state.linkedGroups.erase(folder.name);
}

bool DeleteFolderEvents(AppState& state, Project& project, PlaybackEngine& engine, const EventFolder& folder) {
    if (!UiMayEditProject(state)) return false;
    std::vector<std::int32_t> doomed;
    for (std::int32_t index : folder.events)
        if (ValidEvent(project, index)) doomed.push_back(index);
    if (doomed.empty()) return false;
    PushUndo();
    // From the highest index down, so the lower ones still name their events.
    std::sort(doomed.begin(), doomed.end(), std::greater<>());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    const auto oldCount = static_cast<std::int32_t>(project.events.size());
    for (std::int32_t index : doomed) {
        project.DeleteEvent(index);
        state.RemoveEventFromSelection(index);
    }
    const auto count = static_cast<std::int32_t>(project.events.size());
    if (count == 0) state.selectedEvent = -1;
    else if (state.selectedEvent >= count) state.selectedEvent = count - 1;
    RemoveEventVoices(doomed, oldCount);
    CheckRenderCacheIntegrity();
    LocatePlayback(engine, static_cast<double>(state.playhead));
    return true;
}

bool SaveFolderAsChain(const std::string& name, const Project& project, const EventFolder& folder) {
    if (name.empty()) return false;
    std::error_code error;
    const bool saved = SaveChain(name, project.events, folder.events, error);
    ReloadChains();
    return saved;
}

// [SECTION] Event rows

namespace {

// Draw mode follows a new selection: the drawn range and the view frame it,
// unless the primary is a Spot or a Clip, which have no curves to draw.
void FollowDrawMode(AppState& state, const Project& project) {
    if (!state.curveDrawMode || !state.drawSavedViewValid || state.selectedEvents.empty()) return;
    if (ValidEvent(project, state.selectedEvent)) {
        const std::int32_t kind = project.events[static_cast<std::size_t>(state.selectedEvent)].shape;
        if (IsKind(kind, EventKind::Spot) || IsKind(kind, EventKind::Clip)) {
            // Draw mode is on with a saved view: the toggle leaves it and
            // restores that view.
            ToggleCurveDrawMode(state, project);
            return;
        }
    }
    float lo = 1e30f;
    float hi = -1e30f;
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) {
        const Event& event = project.events[static_cast<std::size_t>(index)];
        lo = std::min(lo, event.time - event.syncOffset);
        hi = std::max(hi, event.time - event.syncOffset + event.duration);
    }
    if (!(hi > lo)) return;
    state.drawRangeStart = lo;
    state.drawRangeEnd = hi;
    const float range = hi - lo;
    state.viewStart = std::max(0.0f, lo - 0.05f * range);
    const float span = std::max(0.5f, std::min(range * 1.1f, project.totalDuration));
    state.viewEnd = state.viewStart + span;
}

}  // namespace

void ClickEventRow(AppState& state, const Project& project, PlaybackEngine& engine, std::int32_t index, bool shift,
                   bool ctrl, bool alt) {
    if (!ValidEvent(project, index)) return;
    if (shift) {
        state.SelectEventRange(index, state.eventListOrder);
    } else if (ctrl) {
        state.ToggleEventSelection(index);
    } else if (state.selectedEvents.size() == 1 && state.selectedEvents.contains(index)) {
        state.expandedEvent = state.expandedEvent == index ? -1 : index;
    } else {
        state.SelectEventWithLinks(index, project.events, alt);
    }
    FollowDrawMode(state, project);
    EndLayerAudition(state, engine);
}

void SelectRowUnlessSelected(AppState& state, const Project& project, std::int32_t index, bool alt) {
    if (!ValidEvent(project, index) || state.selectedEvents.contains(index)) return;
    state.SelectEventWithLinks(index, project.events, alt);
}

// [SECTION] Scene bar

void ChooseAllScenes(AppState& state, const Project& project) {
    ClearSceneSelection(state);
    state.viewStart = 0.0f;
    state.viewEnd = std::max(project.totalDuration, 1.0f);
}

void ChooseListScene(AppState& state, const Project& project, std::int32_t scene) {
    if (!ValidScene(project, scene)) return;
    SelectScene(state, project, scene);
    const Scene& s = project.scenes[static_cast<std::size_t>(scene)];
    state.viewStart = s.inTime;
    state.viewEnd = s.outTime;
}

const char* SceneAddRefusal(const AppState& state, const Project& project) {
    if (ValidScene(project, state.workAreaScene)) return "Detach first (adjust I/O)";
    if (!state.HasWorkArea()) return "Set work area first (I/O keys)";
    return nullptr;
}

std::int32_t AddSceneFromBar(AppState& state, Project& project) {
    if (SceneAddRefusal(state, project) != nullptr || !UiMayEditProject(state)) return -1;
    return NewSceneFromWorkArea(state, project);
}

void ToggleSceneBarRename(AppState& state, const Project& project) {
    if (state.sceneRenameActive || !ValidScene(project, state.workAreaScene)) {
        state.sceneRenameActive = false;
        return;
    }
    state.sceneRenameActive = true;
    state.sceneRenameFocus = true;
    state.sceneRenameScene = state.workAreaScene;
    CopyText(state.sceneRenameBuffer, TextOf(project.scenes[static_cast<std::size_t>(state.workAreaScene)].name));
}

void CarrySceneBarRename(AppState& state, Project& project) {
    if (!state.sceneRenameActive) return;
    if (!ValidScene(project, state.workAreaScene) || state.workAreaScene != state.sceneRenameScene) {
        state.sceneRenameActive = false;
        return;
    }
    // An emptied field is carried nowhere, so the scene keeps its last name.
    const std::string_view name = TextOf(state.sceneRenameBuffer);
    const Scene& scene = project.scenes[static_cast<std::size_t>(state.workAreaScene)];
    if (name.empty() || name == TextOf(scene.name) || !UiMayEditProject(state)) return;
    project.RenameScene(state.workAreaScene, state.sceneRenameBuffer);
    state.unsavedChanges = true;
}

bool DeleteSceneFromBar(AppState& state, Project& project) {
    if (!DeleteWorkAreaScene(state, project)) return false;
    state.sceneRenameActive = false;
    return true;
}

// [SECTION] Drawing: scene bar

namespace {

using panels::ColourVec;

// The list's sizes for one frame (F the layout's font size).
struct ListMetrics {
    float f = 16.0f;
    float rowHeight = 32.0f;     // R
    float headerHeight = 27.2f;  // 0.85 R
    float h2 = 22.0f;
    float gap = 2.0f;  // G
    float moreWidth = 18.0f;
};

void DrawSceneBar(AppState& state, Project& project, float width) {
    const ThemeColors& t = ThemePalette;
    const bool selected = ValidScene(project, state.workAreaScene);
    const bool mayEdit = UiMayEditProject(state);
    if (!selected) state.sceneRenameActive = false;
    const int buttons = selected ? 4 : 3;
    const float pickerWidth = std::max(20.0f, width - 22.0f * static_cast<float>(buttons));
    const float barX = ImGui::GetCursorPosX();
    const float y = ImGui::GetCursorPosY();
    bool fieldActive = false;

    if (state.sceneRenameActive) {
        ImGui::SetNextItemWidth(pickerWidth);
        ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ColorWithAlpha(t.accentDim, 35)));
        ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ColorWithAlpha(t.accentBright, 240)));
        if (state.sceneRenameFocus) {
            ImGui::SetKeyboardFocusHere();
            state.sceneRenameFocus = false;
        }
        const bool enter = ImGui::InputText("##scnren", state.sceneRenameBuffer, sizeof state.sceneRenameBuffer,
                                            ImGuiInputTextFlags_EnterReturnsTrue);
        fieldActive = ImGui::IsItemActive();
        ImGui::PopStyleColor(2);
        CarrySceneBarRename(state, project);
        if (enter) state.sceneRenameActive = false;
    } else {
        const char* preview = selected ? project.scenes[static_cast<std::size_t>(state.workAreaScene)].name : "All";
        ImGui::SetNextItemWidth(pickerWidth);
        ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(t.barBg));
        ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(selected ? ColorWithAlpha(t.accentBright, 220) : t.textMuted));
        ImGui::BeginDisabled(project.scenes.empty());
        PushPopupStyle();
        const bool open = ImGui::BeginCombo("##scenes", preview);
        ImGui::PopStyleColor(2);
        if (open) {
            if (ImGui::Selectable("All", !selected)) ChooseAllScenes(state, project);
            ImGui::Separator();
            for (std::size_t i = 0; i < project.scenes.size(); ++i) {
                const Scene& scene = project.scenes[i];
                ImGui::PushID(static_cast<int>(i) + 8000);
                if (ImGui::Selectable(scene.name, static_cast<std::int32_t>(i) == state.workAreaScene))
                    ChooseListScene(state, project, static_cast<std::int32_t>(i));
                if (ImGui::IsItemHovered()) {
                    const int in = static_cast<int>(scene.inTime);
                    const int out = static_cast<int>(scene.outTime);
                    ShowTooltip("%d:%02d \xe2\x80\x93 %d:%02d", in / 60, in % 60, out / 60, out % 60);
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
        PopColors3Vars3();
        ImGui::EndDisabled();
    }

    const float buttonY = y + std::max(0.0f, (ImGui::GetFrameHeight() - 20.0f) * 0.5f);
    float x = barX + pickerWidth + 2.0f;
    const ImVec2 size(20.0f, 20.0f);
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
    auto place = [&] {
        ImGui::SetCursorPos(ImVec2(x, buttonY));
        x += 22.0f;
    };

    char label[32];
    place();
    const char* refusal = SceneAddRefusal(state, project);
    ImGui::BeginDisabled(refusal != nullptr || !mayEdit);
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ColorWithAlpha(t.accent, 200)));
    std::snprintf(label, sizeof label, "%s##scadd", icon::kPlus);
    if (ImGui::Button(label, size)) AddSceneFromBar(state, project);
    ImGui::PopStyleColor();
    ImGui::EndDisabled();
    ShowItemTooltip("%s", refusal != nullptr ? refusal : "Save work area as scene (Cmd+B)");

    place();
    ImGui::BeginDisabled(!selected);
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ColorWithAlpha(t.textSecondary, 140)));
    if (ImGui::Button("...##scren", size)) ToggleSceneBarRename(state, project);
    const bool renameHovered = ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled);
    ImGui::PopStyleColor();
    ImGui::EndDisabled();
    ShowItemTooltip("%s", selected ? "Rename" : "Select a scene first");

    place();
    ImGui::BeginDisabled(!selected || !mayEdit);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.4f, 0.1f, 0.1f, 0.6f));
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.5f, 0.5f, 0.5f, 0.6f));
    std::snprintf(label, sizeof label, "%s##scdel", icon::kClose);
    if (ImGui::Button(label, size)) DeleteSceneFromBar(state, project);
    ImGui::PopStyleColor(2);
    ImGui::EndDisabled();
    ShowItemTooltip("%s", selected ? "Delete scene" : "Select a scene first");

    if (selected) {
        place();
        ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ColorWithAlpha(t.accent, 140)));
        std::snprintf(label, sizeof label, "%s##addbg", icon::kPlus);
        if (ImGui::Button(label, size)) state.sceneBackgroundRequest = state.workAreaScene;
        ImGui::PopStyleColor();
        ShowItemTooltip("Add a background (Fill or Bed) to this scene");
    }
    ImGui::PopStyleVar();
    ImGui::PopStyleColor();

    // A click anywhere but in the field (or on the button that toggles it)
    // ends the rename.
    if (state.sceneRenameActive && !fieldActive && !renameHovered && !state.sceneRenameFocus &&
        ImGui::IsMouseClicked(ImGuiMouseButton_Left))
        state.sceneRenameActive = false;
    ImGui::SetCursorPos(ImVec2(barX, y + std::max(ImGui::GetFrameHeight(), 20.0f)));
}

// [SECTION] Drawing: folder header and its menus

// The fold mark of a header or row centred on `c`: pointing down when open,
// right when folded.
void DrawFoldTriangle(ImDrawList* dl, ImVec2 c, float r, bool open, std::uint32_t colour) {
    if (open) {
        dl->AddTriangleFilled(ImVec2(c.x - r, c.y - r * 0.6f), ImVec2(c.x + r, c.y - r * 0.6f), ImVec2(c.x, c.y + r),
                              colour);
    } else {
        dl->AddTriangleFilled(ImVec2(c.x - r * 0.6f, c.y - r), ImVec2(c.x - r * 0.6f, c.y + r), ImVec2(c.x + r, c.y),
                              colour);
    }
}

// The chain name of the save-as-chain popup. UI thread only.
char ChainNameBuffer[64] = {};

// Draws the header of a named group; true when its menu deleted events (the
// rest of the list is skipped this frame).
bool DrawFolderHeader(AppState& state, Project& project, const EventFolder& folder, float width,
                      const ListMetrics& m, bool collapsed) {
    const ThemeColors& t = ThemePalette;
    const bool mayEdit = UiMayEditProject(state);
    const bool all = FolderAllSelected(state, folder);
    ImDrawList* dl = ImGui::GetWindowDrawList();
    const ImVec2 p0 = ImGui::GetCursorScreenPos();
    const ImVec2 p1(p0.x + width, p0.y + m.headerHeight);
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const float fontSize = ImGui::GetFontSize();
    const float textY = p0.y + (m.headerHeight - fontSize) * 0.5f;
    ImGui::PushID(folder.name.c_str());

    dl->AddRectFilled(p0, p1, all ? ColorWithAlpha(t.accent, 25) : ColorWithAlpha(t.surfaceHover, 60), 3.0f);
    dl->AddRectFilled(p0, ImVec2(p0.x + 3.0f, p1.y), ColorWithAlpha(t.accent, 120));
    const float cx = p0.x + 12.0f;
    const float cy = p0.y + m.headerHeight * 0.5f;
    const float r = std::max(3.0f, fontSize * 0.22f);
    DrawFoldTriangle(dl, ImVec2(cx, cy), r, !collapsed, ColorWithAlpha(t.textMuted, 140));

    const bool renaming = state.renamingFolder == folder.name;
    float x = p0.x + 22.0f;
    if (!renaming) {
        dl->AddText(ImVec2(x, textY), t.textPrimary, folder.name.c_str());
        x += ImGui::CalcTextSize(folder.name.c_str()).x + 6.0f;
    }
    char count[24];
    std::snprintf(count, sizeof count, "(%d)", static_cast<int>(folder.events.size()));
    if (!renaming) {
        dl->AddText(ImVec2(x, textY), t.textMuted, count);
        x += ImGui::CalcTextSize(count).x + 6.0f;
    }
    const float linkX = x;
    const bool inHeader = mouse.y >= p0.y && mouse.y < p1.y && mouse.x >= p0.x && mouse.x < p1.x;
    const bool onLink = !renaming && inHeader && mouse.x >= linkX - 2.0f && mouse.x < linkX + 14.0f;
    const bool linked = state.IsLinkedGroup(folder.name);
    if (!renaming) {
        const std::uint32_t linkColour = linked ? ColorWithAlpha(t.accent, onLink ? 255 : 180)
                                                : ColorWithAlpha(t.textMuted, onLink ? 140 : 60);
        dl->AddText(ImVec2(linkX, textY), linkColour, linked ? icon::kLinked : icon::kUnlink);
    }
    const float moreX = p1.x - 14.0f;
    const bool onMore = inHeader && mouse.x >= moreX - 6.0f;
    dl->AddText(ImVec2(moreX, textY), onMore ? t.textPrimary : ColorWithAlpha(t.textMuted, 80), icon::kEllipsis);

    ImGui::InvisibleButton("##fhdr", ImVec2(width, m.headerHeight));
    const bool hovered = ImGui::IsItemHovered();
    if (ImGui::BeginDragDropTarget()) {
        if (ImGui::AcceptDragDropPayload(kEventToFolder) != nullptr) MoveSelectionToFolder(state, project, folder.name);
        ImGui::EndDragDropTarget();
    }
    FolderHeaderClick click;
    click.pressed = hovered && !renaming && ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    click.doubleClicked = hovered && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left);
    click.onLink = onLink;
    click.onMore = onMore;
    click.ctrl = ImGui::GetIO().KeyCtrl;
    const FolderHeaderAction action = DecideFolderHeaderClick(click, all);
    if (action == FolderHeaderAction::OpenMenu) ImGui::OpenPopup("##groupCtxMenu");
    else ApplyFolderHeaderAction(state, project, folder, action);
    if (hovered && !renaming) {
        if (onLink) {
            ShowTooltip("%s", linked ? "Linked \xe2\x80\x94 select/move as unit\nClick to unlink"
                                     : "Unlinked \xe2\x80\x94 independent events\nClick to link");
        } else if (onMore) {
            ShowTooltip("Group options");
        } else if (all) {
            ShowTooltip("Click to %s  |  Double-click to rename", collapsed ? "expand" : "collapse");
        } else {
            ShowTooltip("Click to select  |  Double-click to rename");
        }
    }

    if (renaming) {
        ImGui::SetCursorScreenPos(ImVec2(p0.x + 22.0f, p0.y + (m.headerHeight - ImGui::GetFrameHeight()) * 0.5f));
        ImGui::SetNextItemWidth(std::max(20.0f, width - 44.0f));
        const bool firstFrame = state.focusFolderRename;
        if (firstFrame) {
            ImGui::SetKeyboardFocusHere();
            state.focusFolderRename = false;
        }
        const bool enter = ImGui::InputText("##fedit", state.folderNameBuffer, sizeof state.folderNameBuffer,
                                            ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
        const bool escape = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false);
        if (escape && (ImGui::IsItemActive() || ImGui::IsItemDeactivated())) {
            CancelFolderRename(state);
        } else if (enter || (!firstFrame && ImGui::IsItemDeactivated())) {
            CommitFolderRename(state, project, folder);
        }
    }

    bool deleted = false;
    bool openSave = false;
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##groupCtxMenu")) {
        if (IconMenuItem(icon::kSave, "Save as Chain", 1)) {
            CopyText(ChainNameBuffer, folder.name);
            openSave = true;
        }
        if (IconMenuItem(icon::kPen, "Rename", 2)) StartFolderRename(state, folder.name);
        ImGui::BeginDisabled(!mayEdit);
        if (IconMenuItem(icon::kClose, "Ungroup", 3)) UngroupFolder(state, project, folder);
        ImGui::Separator();
        ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(t.danger));
        if (IconMenuItem(icon::kTrash, "Delete Group", 4))
            deleted = DeleteFolderEvents(state, project, LivePlaybackEngine, folder);
        ImGui::PopStyleColor();
        ImGui::EndDisabled();
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
    if (openSave) ImGui::OpenPopup("##saveGroupPreset");
    if (ImGui::BeginPopup("##saveGroupPreset")) {
        const float saveWidth = 0.8f * m.f + ImGui::CalcTextSize("Save").x;
        ImGui::SetNextItemWidth(std::max(20.0f, 150.0f - saveWidth - 6.0f));
        if (ImGui::IsWindowAppearing()) ImGui::SetKeyboardFocusHere();
        bool save = ImGui::InputText("##gpname", ChainNameBuffer, sizeof ChainNameBuffer,
                                     ImGuiInputTextFlags_EnterReturnsTrue);
        ImGui::SameLine();
        PushActionButtonStyle();
        save = ImGui::Button("Save##gps", ImVec2(saveWidth, 0.0f)) || save;
        PopColors4Vars1();
        if (save) {
            SaveFolderAsChain(ChainNameBuffer, project, folder);
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    ImGui::PopID();
    ImGui::SetCursorScreenPos(ImVec2(p0.x, p1.y + 2.0f));
    return deleted;
}

// [SECTION] Drawing: event row

float RowEstimate(const AppState& state, std::int32_t index, const ListMetrics& m) {
    float estimate = m.rowHeight;
    if (state.expandedEvent == index && static_cast<std::size_t>(index) < state.eventClipCounts.size())
        estimate += (m.h2 + 38.0f) * static_cast<float>(state.eventClipCounts[static_cast<std::size_t>(index)]);
    return estimate;
}

void DrawRowContents(const AppState& state, const Project& project, std::int32_t index, ImVec2 p0, float width,
                     const ListMetrics& m, bool selected, bool rowHovered) {
    const ThemeColors& t = ThemePalette;
    const Event& event = project.events[static_cast<std::size_t>(index)];
    ImDrawList* dl = ImGui::GetWindowDrawList();
    ImFont* font = ImGui::GetFont();
    const float fs = ImGui::GetFontSize();
    const float f = m.f;
    const float g = std::max(0.25f * f, 4.0f);
    const float mid = p0.y + m.rowHeight * 0.5f;
    const std::size_t i = static_cast<std::size_t>(index);
    const std::int32_t clips = i < state.eventClipCounts.size() ? state.eventClipCounts[i] : 0;

    if (clips > 0) {
        const float cx = p0.x + 10.0f;
        const float r = std::max(3.0f, 0.2f * fs);
        const bool open = state.expandedEvent == index;
        DrawFoldTriangle(dl, ImVec2(cx, mid), r, open, ColorWithAlpha(t.textMuted, open ? 120 : 80));
    }
    float x = p0.x + 16.0f + g;
    const float lockSize = 0.7f * f;
    const std::uint32_t lockColour = event.sceneLink >= 0 ? ColorWithAlpha(t.accentMuted, 160)
                                     : event.locked       ? ColorWithAlpha(t.accent, 140)
                                                          : ColorWithAlpha(t.textMuted, 50);
    dl->AddText(font, lockSize, ImVec2(x, mid - lockSize * 0.5f), lockColour,
                event.locked ? icon::kLocked : icon::kUnlocked);
    x += std::max(0.6f * f, 10.0f) + g;
    const float kindSize = 0.85f * f;
    const std::int32_t kind = std::clamp(event.shape, 0, 6);
    dl->AddText(font, kindSize, ImVec2(x, mid - kindSize * 0.5f), GetEventKindColor(kind, event.muted ? 50 : 200),
                EventKindIcon(event.shape < 0 ? 0 : kind));
    x += std::max(0.9f * f, 14.0f) + g;

    const float lineGap = std::max(0.08f * f, 1.0f);
    const float upper = mid - (2.0f * fs + lineGap) * 0.5f;
    const float lower = upper + fs + lineGap;
    const char* title = project.EventTitle(event);
    const std::uint32_t titleColour = event.muted ? ColorWithAlpha(t.textMuted, 80)
                                      : selected  ? t.textPrimary
                                                  : ColorWithAlpha(t.textPrimary, 170);
    dl->AddText(ImVec2(x, upper), titleColour, title);
    float after = x + ImGui::CalcTextSize(title).x + 4.0f;
    if (event.sceneFill && event.presetName[0] == '\0') {
        dl->AddText(ImVec2(after, upper), ColorWithAlpha(t.textMuted, 100), "(no sound)");
        after += ImGui::CalcTextSize("(no sound)").x + 4.0f;
    }
    if (event.muted) dl->AddText(ImVec2(after, upper), ColorWithAlpha(t.textMuted, 80), icon::kVolumeMute);

    char timecode[32];
    FormatTimecode(project.fps, project.startTC + event.time, timecode, sizeof timecode);
    dl->AddText(ImVec2(x, lower), t.textMuted, timecode);
    float sx = x + ImGui::CalcTextSize(timecode).x + 6.0f;
    const float side = 0.55f * f;
    const float limit = p0.x + width - 18.0f;
    const std::int32_t values = i < state.eventWeightSummaryCount.size() ? state.eventWeightSummaryCount[i] : 0;
    const float sy = lower + (fs - side) * 0.5f;
    for (std::int32_t v = 0; v < values && sx + side <= limit; ++v) {
        const float w = std::clamp(state.eventWeightSummary[i][static_cast<std::size_t>(v)], 0.0f, 1.0f);
        dl->AddRectFilled(ImVec2(sx, sy), ImVec2(sx + side, sy + side), GetWeightColor(w), 1.5f);
        sx += side + 1.0f;
    }

    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const float zoneLeft = p0.x + width - m.moreWidth;
    const bool inZone = rowHovered && mouse.x >= zoneLeft;
    const std::uint32_t more = inZone       ? ColorWithAlpha(t.textPrimary, 200)
                               : rowHovered ? ColorWithAlpha(t.textMuted, 100)
                                            : ColorWithAlpha(t.textMuted, 40);
    const float moreWidth = ImGui::CalcTextSize(icon::kEllipsis).x;
    dl->AddText(ImVec2(zoneLeft + (m.moreWidth - moreWidth) * 0.5f, mid - fs * 0.5f), more, icon::kEllipsis);
}

// Draws (or spaces) one event row and, when unfolded, its layer rows.
void DrawEventRow(AppState& state, Project& project, std::int32_t index, float width, const ListMetrics& m,
                  ImGuiID menuId) {
    const float top = ImGui::GetCursorPosY();
    const float estimate = RowEstimate(state, index, m);
    const bool selected = state.selectedEvents.contains(index);
    const bool scrollHere = selected && state.selectedEvent == index && state.scrollToSelection;
    const float scroll = ImGui::GetScrollY();
    const float visible = ImGui::GetWindowHeight();
    if (!scrollHere && (top + estimate + m.gap < scroll - 20.0f || top > scroll + visible + 20.0f)) {
        ImGui::Dummy(ImVec2(width, estimate + m.gap));
        ImGui::SetCursorPosY(top + estimate + m.gap);
        return;
    }
    const ThemeColors& t = ThemePalette;
    ImDrawList* dl = ImGui::GetWindowDrawList();
    const ImVec2 p0 = ImGui::GetCursorScreenPos();
    const ImVec2 p1(p0.x + width, p0.y + m.rowHeight);
    if (selected) {
        dl->AddRectFilled(p0, p1, ColorWithAlpha(t.accent, 45), 2.0f);
        dl->AddRect(p0, p1, ColorWithAlpha(t.accent, 120), 2.0f, 0, 1.0f);
        dl->AddRectFilled(p0, ImVec2(p0.x + 3.0f, p1.y), ColorWithAlpha(t.accent, 200));
    } else {
        dl->AddRectFilled(p0, p1, ColorWithAlpha(t.surfaceHover, state.selectedEvents.empty() ? 100 : 50), 2.0f);
    }

    ImGui::PushID(index);
    ImGui::InvisibleButton("##row", ImVec2(width, m.rowHeight));
    const bool hovered = ImGui::IsItemHovered();
    const ImGuiIO& io = ImGui::GetIO();
    if (ImGui::IsItemClicked(ImGuiMouseButton_Left)) {
        if (io.MousePos.x >= p1.x - m.moreWidth) {
            SelectRowUnlessSelected(state, project, index, io.KeyAlt);
            ImGui::OpenPopup(menuId);
        } else {
            ClickEventRow(state, project, LivePlaybackEngine, index, io.KeyShift, io.KeyCtrl, io.KeyAlt);
        }
    }
    if (ImGui::IsItemClicked(ImGuiMouseButton_Right)) {
        SelectRowUnlessSelected(state, project, index, io.KeyAlt);
        ImGui::OpenPopup(menuId);
    }
    if (ImGui::BeginDragDropSource(ImGuiDragDropFlags_SourceAllowNullID)) {
        SelectRowUnlessSelected(state, project, index, io.KeyAlt);
        ImGui::SetDragDropPayload(kEventToFolder, &index, sizeof index);
        const auto n = static_cast<int>(state.selectedEvents.size());
        ImGui::Text("Move %d event%s", n, n >= 2 ? "s" : "");
        ImGui::EndDragDropSource();
    }
    DrawRowContents(state, project, index, p0, width, m, selected, hovered);
    ImGui::PopID();

    if (scrollHere) {
        ImGui::SetCursorScreenPos(ImVec2(p0.x, p0.y + m.rowHeight * 0.5f));
        ImGui::SetScrollHereY(0.5f);
        state.scrollToSelection = false;
    }
    ImGui::SetCursorScreenPos(ImVec2(p0.x, p1.y + m.gap));
    if (state.expandedEvent == index) {
        DrawLayerRows(index, p0.x, width, m.f);
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 2.0f);
    } else {
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 1.0f);
    }
}

}  // namespace

// [SECTION] Drawing: the list

void DrawEventList(const UILayout& layout) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const float width = layout.panelOtherWidth;
    const float height = layout.topAreaHeight;
    if (!panels::BeginTabPanel("##eventlist", width, height)) return;
    ImFont* small = state.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);

    ListMetrics m;
    m.f = layout.fontSize;
    m.rowHeight = std::max(2.0f * m.f, 32.0f);
    m.headerHeight = 0.85f * m.rowHeight;
    m.h2 = std::max(1.3f * m.f, 22.0f);
    m.gap = std::max(0.12f * m.f, 2.0f);
    m.moreWidth = std::max(1.1f * m.f, 18.0f);

    {
        // A running build may move the layers: read those it has published.
        // The vector itself is read only where no job runs: a build swaps it.
        std::optional<PublishedLayersView> published;
        std::span<const LayerResult> layers;
        if (state.backgroundJob.active.load(std::memory_order_acquire)) {
            published.emplace(project);
            layers = published->layers();
        } else {
            layers = project.results;
        }
        state.RefreshEventListCache(project.events, layers, project.revision);
    }

    ImGui::SetCursorPos(ImVec2(8.0f, 8.0f));
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ThemePalette.textSecondary));
    ImGui::Text("EVENTS (%d)", static_cast<int>(project.events.size()));
    ImGui::PopStyleColor();
    ImGui::SetCursorPos(ImVec2(8.0f, ImGui::GetCursorPosY() - ImGui::GetStyle().ItemSpacing.y + 2.0f));
    DrawSceneBar(state, project, width - 16.0f);
    const float scrollTop = ImGui::GetCursorPosY() + 4.0f;
    ImGui::SetCursorPos(ImVec2(8.0f, scrollTop));
    ImGui::BeginChild("##evscroll", ImVec2(width - 16.0f, std::max(1.0f, height - scrollTop - 8.0f)), false);
    {
        const float rowWidth = ImGui::GetContentRegionAvail().x;
        // The event menu first: an edit it makes (a delete) is then never
        // met by rows grouped before it.
        const ImGuiID menuId = ImGui::GetID("##eventCtx");
        const bool changed = ShowEventContextMenu("##eventCtx");
        if (!changed) {
            const std::vector<EventFolder> folders = GroupEventFolders(state, project);
            bool skip = false;
            for (const EventFolder& folder : folders) {
                bool collapsed = false;
                if (!folder.name.empty()) {
                    collapsed = state.collapsedFolders.contains(folder.name);
                    if (collapsed && state.scrollToSelection && state.selectedEvents.contains(state.selectedEvent) &&
                        std::find(folder.events.begin(), folder.events.end(), state.selectedEvent) !=
                            folder.events.end()) {
                        state.collapsedFolders.erase(folder.name);
                        collapsed = false;
                    }
                    if (DrawFolderHeader(state, project, folder, rowWidth, m, collapsed)) {
                        skip = true;
                        break;
                    }
                }
                if (collapsed) continue;
                for (std::int32_t index : folder.events) {
                    if (!ValidEvent(project, index)) {
                        skip = true;
                        break;
                    }
                    DrawEventRow(state, project, index, rowWidth, m, menuId);
                }
                if (skip) break;
            }
        }
        const float remaining = std::max(30.0f, ImGui::GetContentRegionAvail().y);
        ImGui::InvisibleButton("##dropzone", ImVec2(std::max(1.0f, rowWidth), remaining));
        if (ImGui::BeginDragDropTarget()) {
            if (ImGui::AcceptDragDropPayload(kEventToFolder) != nullptr) MoveSelectionToFolder(state, project, "");
            ImGui::EndDragDropTarget();
        }
    }
    ImGui::EndChild();
    if (small != nullptr) ImGui::PopFont();
    ImGui::EndChild();
}

}  // namespace korvel
