#pragma once
// The font set: Roboto in three size presets, regular and bold, each font
// with the icon glyphs and the logo glyph merged in, baked once at start-up.
// UI thread; needs a UI context.
#include <cstdint>
#include <span>
#include <string>

#include "project/app_state.h"

struct ImFont;

namespace korvel {

// "<folder>/Fonts/<name>.ttf" when a regular file is there, else empty.
std::string FindFontFile(const std::string& executableFolder, const std::string& name);

// The slot sizes in UI units, [preset][slot].
inline constexpr float kFontSlotSizes[kFontSizePresets][kFontSlots] = {
    {15.0f, 17.0f, 17.0f, 21.0f},
    {16.0f, 18.0f, 18.0f, 22.0f},
    {18.0f, 20.0f, 20.0f, 26.0f},
};
inline constexpr float kAboutTitleFontSize = 42.0f;

// The logo font's one glyph.
inline constexpr std::uint16_t kLogoGlyph = 0xE400;
// Drawn for a character no baked font holds (a box with the built-in font).
inline constexpr std::uint16_t kReplacementGlyph = 0xFFFD;

// Every icon the program draws. Only these are baked: the icon font's two
// whole private-use ranges, merged into 25 fonts at 3 × 2 oversampling,
// make an atlas larger than a GL texture may be.
std::span<const std::uint16_t> IconCodePoints();

// Loads every font file found beside the program into the UI library's
// atlas at size × uiScale (the UI library then draws at 1 / uiScale, so text
// stays sharp on dense displays while layout works in UI units), fills
// `app.fonts`, and selects the automatic preset (Medium). The text fonts hold
// Latin with its extensions, Greek, Cyrillic and the general punctuation,
// and U+FFFD for what they lack. With no text font the built-in font fills
// the four current slots, with a box for what it lacks. Also installs the hook
// through which SetFontSizePreset sets the UI library's default font.
void LoadFonts(const std::string& executableFolder, float uiScale, AppState& app = GlobalAppState);

// Whether `font` has the logo glyph of its own (not the missing-glyph box).
bool FontHasLogoGlyph(const ImFont* font);

}  // namespace korvel
