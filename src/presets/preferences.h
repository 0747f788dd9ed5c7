#pragma once
// The preferences file: the designer's application settings from one run to
// the next. There is no preferences record: each key is read into, and
// written from, the field that holds the setting: the application state, the
// open project, the live reverb, the theme and colours, the palettes.
//
// Plain text, one "key=value" line each; the writer writes every key in one
// fixed order, the reader takes any order and subset and skips what it does
// not know.
#include <string>
#include <string_view>
#include <vector>

#include "library/folder_scan.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

// The records the preferences read and write: the process-wide ones unless
// a caller (a test, a benchmark) hands in its own. The theme index and the
// weight colours are always the process-wide ones (app/theme.h).
struct PreferenceHomes {
    AppState* app = &GlobalAppState;
    Project* project = &CurrentProject;
    PlaybackEngine* engine = &LivePlaybackEngine;
    Library* library = &SoundLibrary;
    std::vector<PendingLibraryFolder>* pendingFolders = &PendingLibraryFolders;
};

// $XDG_CONFIG_HOME/Korvel/com.korvel.prefs, else $HOME/.config/Korvel/
// com.korvel.prefs; empty (nothing is read or written) when neither is set.
// Creates the folder on every call, ignoring a failure.
std::string PreferencesFilePath();

// UI thread, once, in the first frame after the library caches are loaded.
// Reads the file into the settings' homes, with the side effects of the keys
// (theme, fonts, the reverb handed to the mixer); library lines update their
// palettes or become pending folders; recent projects whose files are gone
// are dropped and the file is rewritten at once. No file: nothing changes.
void LoadPreferences(const PreferenceHomes& homes = {});

// UI thread. Writes every setting through a temporary file moved over the
// old one; a failed write keeps the old file and leaves no temporary file,
// and the first failure after a good save (or the start) says so in one
// bracketed line and in the status line.
// Reads UpdateInfo, which the update thread must have finished writing
// before it asks for a save.
void SavePrefs(const PreferenceHomes& homes = {});

inline constexpr const char* kPrefsSaveFailedStatus = "Error: the settings could not be saved";

// The steps of the two, for tests, benchmarks and the fuzz target.

// Applies the lines of a preferences file in order; the library lines are
// collected into `libraryEntries` instead, to be merged once the whole file
// is read.
void ApplyPreferencesText(std::string_view text, const PreferenceHomes& homes,
                          std::vector<PendingLibraryFolder>& libraryEntries);

// Gives each entry's flags to the palette of the same folder, or makes it a
// pending folder (the last entry for a folder wins). Entries without a path
// go to the saved selections (palettes without a folder) in order.
void MergeLibraryEntries(const std::vector<PendingLibraryFolder>& libraryEntries,
                         const PreferenceHomes& homes);

// The whole file for the current settings, in the writer's key order.
std::string FormatPreferences(const PreferenceHomes& homes);

// A "libraryEx" value "folder|enabled|group". A folder name may itself hold
// "|", so with two or more the last two separate the flags; with one, only
// the text before it is taken; a group outside -1..2 reads as -1.
PendingLibraryFolder ParseLibraryExValue(std::string_view value);

}  // namespace korvel
