#pragma once
// The event context menu shared by the events list, the marker lane and the
// track lanes: lock, hero, rebuild, bounce and revert, group, ungroup and
// delete on the current selection. Each action is its own function so the
// menu's rules are tested without drawing it.
#include <cstdint>
#include <functional>
#include <string>

namespace korvel {

struct AppState;
struct Project;

// Bouncing a selection to one Clip and reverting a bounced Clip belong to the
// project's life cycle; it installs them here. Each returns true when the
// events changed. Without them the two entries are disabled. UI thread only.
struct EventMenuHooks {
    std::function<bool()> bounceSelectionToClip;
    std::function<bool(std::int32_t)> revertBounce;
};
extern EventMenuHooks EventMenuServices;

// What the menu shows, derived from the selection each frame.
struct EventMenuFacts {
    bool mayEdit = false;   // the edit guard is open
    bool canBuild = false;  // built, and no background job
    std::int32_t single = -1;
    bool allLocked = true;
    bool allHero = true;
    bool hasClip = false;
    bool hasNonClip = false;
    bool anyFolder = false;
};
EventMenuFacts ReadEventMenuFacts(const AppState& state, const Project& project);

// The actions, each with its own undo snapshot. None runs while the edit
// guard is closed (they return without a change).
void ToggleLockSelection(AppState& state, Project& project);
void ToggleHeroSelection(AppState& state, Project& project);
// Places selected Clips again at once (a Clip that cannot be placed keeps
// its duration) and queues the other kinds for a rebuild.
void RebuildSelection(AppState& state, Project& project);
// Files the selection under the first free "Group %d" name; returns it.
std::string GroupSelection(AppState& state, Project& project);
void UngroupSelection(AppState& state, Project& project);
// Deletes the selected events with their layers and voices and renumbers
// the selection; true when the event list changed.
bool DeleteSelection(AppState& state, Project& project);

// Draws the popup `popupId` while it is open and runs the chosen entry;
// true in a frame in which the events vector changed.
bool ShowEventContextMenu(const char* popupId);

}  // namespace korvel
