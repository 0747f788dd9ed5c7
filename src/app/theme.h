#pragma once
// The look the preferences keep: the theme index, the weight-ramp colours and
// the font size preset. The values live here so the headless core can read
// and write them; the window half installs ShellThemeHooks at start-up to
// turn them into the UI library's style and fonts.
#include <cstdint>

#include "project/app_state.h"

struct ImFont;

namespace korvel {

// Packed as the UI library packs colours: A << 24 | B << 16 | G << 8 | R.
constexpr std::uint32_t PackOpaqueRgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | (b & 0xFFu) << 16 | (g & 0xFFu) << 8 | (r & 0xFFu);
}

// The three points of the weight colour ramp. UI thread only: the
// preferences and the settings tab write them, drawing code reads them.
extern std::uint32_t WeightColorLow;   // #440154
extern std::uint32_t WeightColorMid;   // #21918C
extern std::uint32_t WeightColorHigh;  // #FDE725

// The index SetTheme was last given, whatever its range; the preferences
// write it back as "theme". UI thread only.
extern std::int32_t ThemeIndex;

// What only the window half can do. Each entry may be empty (headless runs,
// tests); the callers then change only the values above.
struct ThemeHooks {
    // Fills the theme palette with theme `index`; the shell decides what an
    // index outside its themes gives.
    void (*fillPalette)(std::int32_t index) = nullptr;
    // Copies the theme palette into the UI library's style.
    void (*applyTheme)() = nullptr;
    // Makes `font` the UI library's default font.
    void (*setDefaultFont)(ImFont* font) = nullptr;
};

// Set once by the shell at start-up, before the first frame; UI thread only.
extern ThemeHooks ShellThemeHooks;

// Keeps the index and fills the palette with that theme.
void SetTheme(std::int32_t index);

// Copies the palette into the UI library's style.
void ApplyTheme();

// Stores the preset clamped to 0..2 in `fontSizePreset` and points the four
// current font slots at that preset's set (the bold one when `boldFonts` is
// set). A missing slot falls back to the body font; a missing body font keeps
// the current one.
void SetFontSizePreset(std::int32_t preset, AppState& app = GlobalAppState);

}  // namespace korvel
