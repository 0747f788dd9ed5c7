#pragma once
// What the inspector draws for a Bed event: the list of its layer files
// with reordering by drag, the per-layer menu (loop, replace, remove, show
// in the file browser), the add-layer button and the empty state. A Bed is
// always locked against building, so every change lays its layers out at
// once and asks for the audio update. The edits are apart from their
// widgets so that each rule holds whatever draws it. UI thread only.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct ImVec2;

namespace korvel {

struct AppState;
struct Event;
struct Project;

// [SECTION] List helpers

// Takes the element at `from` out and inserts it again at `to`, clamped to
// the shortened list's end (a target past the end appends it). Nothing
// when `from` is past the end.
template <typename T>
void MoveListItem(std::vector<T>& list, std::size_t from, std::size_t to) {
    if (from >= list.size()) return;
    T item = std::move(list[from]);
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(from));
    to = std::min(to, list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(to), std::move(item));
}

// "mono", "stereo", "quad", "5.1", "7.1"; "?" for 0 or less, else "multi".
const char* ChannelCountName(std::int32_t channels);

// Where a dragged row lands: the gap nearest the pointer, 0..count.
std::int32_t BedDropIndex(float pointerY, float childY, float scrollY, float rowHeight, std::int32_t count);

// Whether layer `layer` of the bed cannot be found: by its identity when it
// has one, else by its path on disk.
bool IsBedLayerMissing(const Event& bed, std::size_t layer);

// [SECTION] Edits
// Each takes an undo snapshot, lays the bed's layers out again, asks for
// the audio update and marks the project changed; each is refused with the
// busy status while a job or an export reads the layers, and does nothing
// for an index that designates no Bed or no layer.

// Drops dragged layer `from` on gap `drop` (0..count): the layer lands
// before the layer that was at `drop`. Dropping it on its own gap changes
// nothing (false).
bool MoveBedLayer(AppState& state, Project& project, std::int32_t index, std::int32_t from, std::int32_t drop);
// Flips the layer between looping and shuffling.
bool ToggleBedLayerLoop(AppState& state, Project& project, std::int32_t index, std::int32_t layer);
// Removes the layer from the bed's lists.
bool RemoveBedLayer(AppState& state, Project& project, std::int32_t index, std::int32_t layer);
// Asks the open-file hook for a "wav" file and puts it in the layer's place
// with its identity and brightness. A cancelled dialog keeps the files but
// still takes the snapshot and lays the bed out. Nothing without the hook.
bool ReplaceBedLayer(AppState& state, Project& project, std::int32_t index, std::int32_t layer);
// Asks the open-file hook for a "wav" file and adds it as a layer. Nothing
// without the hook or a chosen file.
bool AddBedLayerFromDialog(AppState& state, Project& project, std::int32_t index);

// [SECTION] Drawing

// The layer list "##bedfiles" at `pos` in the inspector's child, `size` big.
void DrawBedLayerList(AppState& state, Project& project, std::int32_t index, const ImVec2& pos, const ImVec2& size,
                      float frameHeight);
// The right column's add-layer button at (x, y).
void DrawBedAddButton(AppState& state, Project& project, std::int32_t index, float x, float y, float frameHeight);

// The layer being dragged and its bed (both -1 when none).
std::pair<std::int32_t, std::int32_t> BedDragState();

}  // namespace korvel
