#pragma once
// The palette filter of an event: a chip that opens a popup with one
// checkbox per usable palette, "All" and "None". The filter text is empty
// for every palette, "~none~" for none, else palette names joined with ",".
// UI thread only.
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct Library;
struct Palette;

inline constexpr std::string_view kPaletteFilterNone = "~none~";

// Palettes the picker lists: enabled and with their folder present.
bool IsListedPalette(const Palette& palette);

// The names of a list, without empty items and the blanks around names.
std::vector<std::string_view> ReadPaletteFilterItems(std::string_view filter);

// Whether a palette's box is ticked under the filter: every box for the
// empty text, none for "~none~", else the named ones.
bool PaletteFilterTicks(std::string_view filter, std::string_view name);

// The filter after palette `changedIndex`'s box became `ticked`: the listed
// palettes counted as ticked, in library order, joined with ","; empty when
// that is every listed palette (or none). Only whole names are written: a
// name that would pass `capacity` - 1 characters is left out.
struct PaletteFilterResult {
    std::string text;
    int ticked = 0;   // listed palettes counted as ticked
    int written = 0;  // names that fit
    bool everyListed = false;
};
PaletteFilterResult RebuildPaletteFilter(const Library& library, std::string_view filter, int changedIndex,
                                         bool ticked, int capacity);

// "%s  (%d)", or "%s  (%.1fk)" from 1,000 files.
std::string PaletteCheckboxLabel(const std::string& name, std::size_t fileCount);

// The chip and its popup; true when the filter text changed this frame.
// `chipSize` above 0 makes the chip a square of that side. The checkboxes
// take the ids idBase + palette index.
bool DrawPaletteFilterPicker(const char* popupId, char* filter, int capacity, const Library& library,
                             float chipSize, int idBase);

}  // namespace korvel
