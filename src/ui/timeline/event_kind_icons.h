#pragma once
// The icon glyph (UTF-8) of each event kind, shared by the timeline, the
// inspector and the events list. A kind outside 0..6 shows Spot's glyph.
#include <cstdint>

namespace korvel {

inline constexpr const char* EventKindIcons[7] = {
    "\xef\x94\xa5",  // Spot U+F525
    "\xee\x94\xad",  // Bloom U+E52D
    "\xef\x9e\xad",  // Contour U+F7AD
    "\xef\x9d\xb3",  // Fill U+F773
    "\xef\x94\xa5",  // Scatter U+F525
    "\xef\x91\xb8",  // Clip U+F478
    "\xef\x80\xb9",  // Bed U+F039
};

constexpr const char* EventKindIcon(std::int32_t kind) {
    return kind >= 0 && kind < 7 ? EventKindIcons[kind] : EventKindIcons[0];
}

}  // namespace korvel
