#pragma once
// The library tab's save mode: the sound files the open project uses,
// offered in groups (one per recipe the events came from, one for files of
// no recipe), ticked and saved as a new palette. Gathering, naming and
// saving are plain functions beside the drawing. UI thread only.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace korvel {

struct Project;

inline constexpr const char* kUnassignedGroup = "Unassigned";

// Parallel lists, one entry per group in the order the groups were made.
struct SaveGroups {
    std::vector<std::string> groupNames;
    std::vector<std::vector<std::string>> groupPaths;
    std::vector<std::int32_t> groupCounts;
    std::vector<bool> groupChecked;
};

// While the groups are made: each path joins one group, once.
struct SaveGroupBuild {
    const Project* project = nullptr;  // names the groups through the events' recipes
    SaveGroups groups;
    std::unordered_set<std::string> added;
    std::unordered_map<std::string, std::int32_t> groupIndex;
};

// What the mode keeps between frames. UI thread only.
struct SavePaletteModeState {
    bool savePaletteRequested = false;  // "Save Palette" pressed; taken next frame
    SaveGroups groups;
};
extern SavePaletteModeState SavePaletteMode;

// Adds `path` to the group of the recipe event `eventIndex` came from, or to
// "Unassigned"; an empty path or one already added is ignored.
void AddFileToRecipeGroup(SaveGroupBuild& build, const std::string& path, std::int32_t eventIndex);

// The groups of a project: its layers' sources (a layer standing in for a
// missing file brings only its alloy sources), then its events' pinned
// files; "Unassigned" renamed from the words of its file names.
SaveGroups BuildSaveGroups(const Project& project);

// The up to three sound words most often found in the file names, most
// frequent first (ties in the order first found), joined with " · ";
// "Project Sounds" when none is found.
std::string NameFromFileWords(const std::vector<std::string>& paths);

// The files of the checked groups, and the name proposed for them: one
// group's name, "A + B", or "A + n more"; commas, slashes and control
// characters in group names become spaces, since a palette filter splits at
// commas and a cache file name cannot hold a slash.
std::int32_t CheckedFileCount(const SaveGroups& groups);
std::vector<std::string> CheckedFiles(const SaveGroups& groups);
std::string ProposedPaletteName(const SaveGroups& groups);

// The footer button's request, taken at the start of the next frame that
// draws the tab in normal mode (and only while the edit guard is open, since
// the groups are read from the project's layers): the mode starts, or the
// notice "No audio files to save." shows.
void RequestSavePaletteMode();
void TakeSavePaletteRequest();
void CancelSavePaletteMode();
// Makes the palette of the checked groups and ends the mode; on success the
// new palette's name opens for editing. The number of files saved.
std::int32_t SaveCheckedGroups();

// The mode's header (with Cancel and Save), group list and footer count,
// drawn in the tab's places.
void DrawSavePaletteHeader();
void DrawSavePaletteList();
void DrawSavePaletteFooter();

}  // namespace korvel
