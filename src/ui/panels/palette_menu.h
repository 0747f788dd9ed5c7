#pragma once
// The context menu of one palette row of the library tab, its rename field
// and the two-step removal settled after the rows. Each action is its own
// function so the rules are tested without drawing the menu. Every palette
// edit here is refused while the edit guard is closed: build jobs read the
// palettes without a lock. UI thread only.
#include <cstdint>
#include <string>

namespace korvel {

struct AppState;
struct Library;
struct LibraryTabState;
struct Palette;
struct Project;

// "Rescan" and "Deep Rescan": a folder palette whose folder is present,
// while no scan runs.
bool PaletteOffersRescan(const Library& library, const Palette& palette);

// "In this project": this palette only, whatever else is selected.
bool TogglePaletteInProject(AppState& state, Library& library, std::int32_t index);

// Starts the rename of palette `index` with its name in the rename buffer
// (cut at a character boundary when too long).
void BeginPaletteRename(AppState& state, const Library& library, std::int32_t index);

// Ends the rename under way with the buffer's text: an empty or unchanged
// text only ends it; a refused name or a cache file that cannot be written
// leaves the palette as it was and says why in the tab's notice; a rename
// rewrites the palette lists of events (marking the project changed) and of
// recipes. True when the palette was renamed.
bool CommitPaletteRename(AppState& state, Library& library, Project& project);

// Sets the palette's interpretation, writes its file, swaps the channel
// interpretation map and asks for a full rebuild; the current value changes
// nothing (false).
bool SetPaletteChannelLayout(AppState& state, Library& library, std::int32_t index, std::int32_t value);

// Turns multi-mono grouping of the palette's files off or back on.
bool TogglePaletteGrouping(AppState& state, Library& library, std::int32_t index);

// Points a missing palette at `folder` and moves the project's layer
// sources under the old folder along with it.
bool RelinkPaletteToFolder(AppState& state, Library& library, Project& project, std::int32_t index,
                           const std::string& folder);

// After all rows: disarms a removal whose menu closed, and removes the
// confirmed palette, renumbering the selection, anchor and rename index
// only when the library removed it.
void SettlePaletteRemoval(AppState& state, Library& library, LibraryTabState& tab);

// The row's menu "##libctx" (drawn in the row's id scope) and its rename
// field "##libren" in the name's place.
void ShowPaletteContextMenu(std::int32_t index);
void DrawPaletteRenameField(std::int32_t index, float width);

}  // namespace korvel
