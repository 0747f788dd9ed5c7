#pragma once
// Loading and managing palettes: the cache folder and its files at start,
// palettes made from chosen files, relinking, removal, renaming, per-file
// channel interpretations, and palette names in events' palette lists.
// Everything here runs on the UI thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct Library;
struct Project;

// A palette name becomes a file name in the cache folder as it is, so a name
// holding '/' (which would reach outside the folder) or NUL (which would cut
// it short onto another palette's file) is refused; so is an empty name.
bool IsValidPaletteName(std::string_view name);

// The last component of a folder path, and its stem (the palette name a
// scanned folder gets). Trailing separators are ignored: "…/Doors.Wood/"
// has the last component "Doors.Wood", not "". Any thread.
std::string FolderLastComponent(const std::string& folder);
std::string PaletteNameForFolder(const std::string& folder);

// Seconds since 1970: the clock of a palette's scan time. Any thread.
int64_t NowSeconds();

// Sets the cache folder (created when missing) and loads every cache file.
void InitLibraryCache(Library& library);
void LoadPaletteFiles(Library& library);

std::string MakeUniquePaletteName(const Library& library, const std::string& name);

// A saved palette of the chosen files; the number of files in it, 0 when
// none could be taken or the name is refused.
int32_t CreatePaletteFromFiles(Library& library, const std::vector<std::string>& paths,
                               const std::string& folder, const std::string& name);

// Points a palette at the folder its files moved to; the number of files
// kept. Does nothing (0) while a background job is busy.
int32_t RelinkPaletteFolder(Library& library, int32_t paletteIndex, const std::string& newFolder,
                            bool busy);

void RemovePalette(Library& library, int32_t paletteIndex, bool busy);

// Whether palette `paletteIndex` may take `newName`: a valid name without
// ',' that no other palette has.
enum class PaletteNameCheck { Ok, Invalid, HasComma, Taken };
PaletteNameCheck CheckPaletteRename(const Library& library, int32_t paletteIndex, std::string_view newName);

// Gives a palette a new name: its cache file is written under the new name
// and the old file deleted only after that succeeded; the old name goes to
// `previousNames`. False (nothing changed) for an invalid index, a name
// CheckPaletteRename refuses, or a cache file that could not be written.
// The palette lists of events and recipes are the caller's to update with
// RenamePaletteInList.
bool RenamePalette(Library& library, int32_t paletteIndex, const std::string& newName);
// True when any record changed.
bool SetFileChannelInterpretation(Library& library, const std::string& path, int32_t value);

// Rewrites a comma-separated palette list in place, replacing `oldName`.
void RenamePaletteInList(char* list, int32_t capacity, const std::string& oldName,
                         const std::string& newName);

// Brings the palette lists of a project's events up to the palettes' current
// names through their previous names.
void ApplyPaletteRenames(const Library& library, Project& project);

// The cache file of a palette name: `cacheFolder` + "/" + name + ".kvlib".
std::string PaletteCachePath(const Library& library, const std::string& name);

}  // namespace korvel
