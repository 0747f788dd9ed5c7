#pragma once
// The events list beside the inspector: every event in folders, one row per
// event, the unfolded event's layer rows (layer_rows.h), the scene bar that
// filters it, folder headers that select, link, rename and collapse, the
// folder menu with its save-as-chain popup, and dropping events into
// folders. What the clicks do is plain functions over the project and the
// application state, tested headless; DrawEventList feeds them the pointer.
//
// [SECTION] Folders
// [SECTION] Folder headers
// [SECTION] Folder edits
// [SECTION] Event rows
// [SECTION] Scene bar
// [SECTION] Drawing
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

struct AppState;
struct PlaybackEngine;
struct Project;
struct UILayout;

// [SECTION] Folders

// One group of the list: a folder, or the one unnamed group of events
// without a folder; its events in list order.
struct EventFolder {
    std::string name;
    std::vector<std::int32_t> events;
    float firstTime = 0.0f;  // the time of its first event
};

// The groups of the events in `state.eventListOrder` (the list's cache),
// only those inside the selected scene when one is selected, ordered by
// their first event's time; equal times keep the order met.
std::vector<EventFolder> GroupEventFolders(const AppState& state, const Project& project);
// Every event of the group selected (an empty group counts as all).
bool FolderAllSelected(const AppState& state, const EventFolder& folder);

// [SECTION] Folder headers

// Where a press on a header landed, and how.
struct FolderHeaderClick {
    bool pressed = false;
    bool doubleClicked = false;
    bool onLink = false;
    bool onMore = false;
    bool ctrl = false;
};
enum class FolderHeaderAction {
    None,
    ToggleLink,
    OpenMenu,
    StartRename,
    Deselect,        // Ctrl with all selected
    AddToSelection,  // Ctrl with some selected
    ToggleCollapse,  // plain click with all selected
    SelectFolder,    // plain click otherwise
};
// The link icon first, then the more icon, a double-click, and a plain
// press with or without Ctrl.
FolderHeaderAction DecideFolderHeaderClick(const FolderHeaderClick& click, bool allSelected);
// Carries out every action but OpenMenu (the caller's popup).
void ApplyFolderHeaderAction(AppState& state, const Project& project, const EventFolder& folder,
                             FolderHeaderAction action);

// [SECTION] Folder edits
// Each takes one undo step; none runs while the edit guard is closed.

void StartFolderRename(AppState& state, const std::string& name);
// Ends the rename: a buffer that is not empty and differs from the old name
// renames the group's events, forgets the old collapsed state and carries a
// link to the new name. True when it renamed.
bool CommitFolderRename(AppState& state, Project& project, const EventFolder& folder);
void CancelFolderRename(AppState& state);
// A drop of dragged events: every selected event goes into `folder`; the
// empty name takes them out of their folders.
void MoveSelectionToFolder(AppState& state, Project& project, const std::string& folder);
// Takes the group's events out of the folder and forgets its link.
void UngroupFolder(AppState& state, Project& project, const EventFolder& folder);
// Deletes the group's events with their layers and voices, keeps the
// selection on the remaining events and relocates playback (its reverb
// clear reaches the audio thread between blocks). True when anything went.
bool DeleteFolderEvents(AppState& state, Project& project, PlaybackEngine& engine, const EventFolder& folder);
// Saves the group as a chain named `name` and reloads the chains; an empty
// name saves nothing.
bool SaveFolderAsChain(const std::string& name, const Project& project, const EventFolder& folder);

// [SECTION] Event rows

// A left click on row `index` away from its more zone: Shift selects by
// time order, Ctrl toggles, a click on the only selected event folds or
// unfolds its layers, any other selects it (with its linked groups unless
// `alt`). Draw mode then follows the selection and an audition ends.
void ClickEventRow(AppState& state, const Project& project, PlaybackEngine& engine, std::int32_t index, bool shift,
                   bool ctrl, bool alt);
// Before the event menu or a drag: selects the event unless it is selected.
void SelectRowUnlessSelected(AppState& state, const Project& project, std::int32_t index, bool alt);

// [SECTION] Scene bar

// "All": no scene, no work area, the whole project in view.
void ChooseAllScenes(AppState& state, const Project& project);
// A scene of the picker: its range becomes the work area and the view.
void ChooseListScene(AppState& state, const Project& project, std::int32_t scene);
// Why the add button is disabled, or null when it is enabled.
const char* SceneAddRefusal(const AppState& state, const Project& project);
// The add button: the work area as a new scene, selected and renamed on
// the timeline. Returns its index, -1 when refused.
std::int32_t AddSceneFromBar(AppState& state, Project& project);
// The rename button: starts (with the scene's name in the field) or ends
// the bar's rename.
void ToggleSceneBarRename(AppState& state, const Project& project);
// Each frame of the rename: the field's text goes to the scene and its
// backgrounds' folder while it is not empty; the rename ends when the
// scene is no longer selected.
void CarrySceneBarRename(AppState& state, Project& project);
// The delete button: the selected scene with its background events.
bool DeleteSceneFromBar(AppState& state, Project& project);

// [SECTION] Drawing

// The list child "##eventlist", right of the inspector, for one frame.
void DrawEventList(const UILayout& layout);

}  // namespace korvel
