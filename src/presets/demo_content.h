#pragma once
// One-off fillers of the documents folder: moving the preset folders of the
// old layout below HOME, and copying the demo content that ships beside the
// executable. Neither ever overwrites: an entry that already exists at the
// destination is left alone. File-system failures are not reported; the
// failing entry is skipped and what was done before it stays.
#include <string>

#include "presets/preferences.h"

namespace korvel {

// The stamp that makes the automatic installation a one-time event.
inline constexpr const char* kDemoStampName = ".demo_version";
inline constexpr const char* kDemoStampText = "installed\n";

// Moves (renames) every entry directly inside `source` that `destination`
// lacks, creating `destination` first; removes `source` when it ends empty.
// Nothing happens when `source` is empty or does not exist.
void MoveMissingEntries(const std::string& source, const std::string& destination);

// Copies every entry directly inside the folder `source` that `destination`
// lacks: sub-folders whole, files as plain copies. An entry already present is
// skipped whole, so nothing is added inside an existing sub-folder.
void CopyMissingEntries(const std::string& source, const std::string& destination);

// UI thread, first frame, after LoadPreferences: recipes, chains and recipe
// previews of the old layout below HOME move into the documents folder.
// Nothing happens when HOME is unset or the documents folder is unknown.
void MigrateLegacyPresetFolders();

// UI thread. Copies "<executableFolder>/DemoContent" into the documents
// folder, queues the demo libraries for scanning, lists the demo projects as
// recent ones when the recent list is empty, writes the stamp and saves the
// preferences. Unless `force`, an existing stamp stops it.
void InstallDemoContent(bool force, const PreferenceHomes& homes = {});

}  // namespace korvel
