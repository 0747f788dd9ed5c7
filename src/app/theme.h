#pragma once
// The look of the program: the palette of colours that seven themes fill and
// the colour functions the timeline and the panels share, and what the
// preferences keep: the theme index, the weight-ramp colours and the font
// size preset. The values live here so the headless core can read
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

inline constexpr int kThemeCount = 7;

// Packed as the UI library packs colours: A << 24 | B << 16 | G << 8 | R.
constexpr std::uint32_t Rgba(std::uint32_t rrggbb, std::uint32_t alpha) {
    return (alpha & 0xFFu) << 24 | (rrggbb & 0xFFu) << 16 | (rrggbb & 0xFF00u) | (rrggbb >> 16 & 0xFFu);
}
constexpr std::uint32_t Rgb(std::uint32_t rrggbb) { return Rgba(rrggbb, 0xFF); }

// One member per palette entry, named as every drawing routine names it.
struct ThemeColors {
    std::uint32_t windowBg = 0;  // window background (UI library WindowBg); mixer and timeline backdrops
    std::uint32_t barBg = 0;  // title bar, footer, launcher card, panel header strips
    std::uint32_t surfaceHover = 0;  // hovered rows, raised faces, mute/solo off face
    std::uint32_t inspectorBg = 0;  // inspector and card backgrounds inside tabs
    std::uint32_t overlayBg = 0;  // translucent overlay fills (timeline, mixer, waveform strip)
    std::uint32_t laneBg = 0;  // timeline lane and curve-editor backgrounds
    std::uint32_t transportBg = 0;  // transport bar background
    std::uint32_t videoBg = 0;  // video area background
    std::uint32_t popupBg = 0;  // popups, menus and tooltips (UI library PopupBg)
    std::uint32_t busyBg = 0;  // busy overlay panel
    std::uint32_t timelineShade1 = 0;  // timeline ruler band
    std::uint32_t timelineShade2 = 0;  // timeline lane column (expanded lanes)
    std::uint32_t timelineShade3 = 0;  // timeline lane fill
    std::uint32_t timelineShade4 = 0;  // collapsed timeline lanes and shaded regions
    std::uint32_t border = 0;  // borders, separators, scrollbar grab
    std::uint32_t borderSoft = 0;  // softer borders (events tab)
    std::uint32_t textPrimary = 0;  // main text (UI library Text)
    std::uint32_t textSecondary = 0;  // secondary text
    std::uint32_t textMuted = 0;  // muted text (UI library TextDisabled)
    std::uint32_t textOnAccent = 0;  // text on accent-coloured buttons
    std::uint32_t accent = 0;  // theme accent: slider grab, active header, active tab underline, focus outlines
    std::uint32_t accentDim = 0;  // darker accent: pressed buttons, active slider grab, hovered accent buttons
    std::uint32_t accentBright = 0;  // brighter accent: hovered Build button, glows
    std::uint32_t accentMuted = 0;  // muted accent (timeline, events tab)
    std::uint32_t frameBg = 0;  // input and slider frames; toolbar button face; meter trough
    std::uint32_t frameBgHovered = 0;  // hovered frames
    std::uint32_t frameBgActive = 0;  // active frames
    std::uint32_t buttonBg = 0;  // buttons and headers (UI library Button, Header)
    std::uint32_t buttonHovered = 0;  // hovered buttons and headers
    std::uint32_t checkMark = 0;  // check marks
    std::uint32_t scrollbarBg = 0;  // scrollbar background
    std::uint32_t actionButtonBg = 0;  // action-button face
    std::uint32_t actionButtonHovered = 0;  // hovered action button
    std::uint32_t actionButtonText = 0;  // action-button text
    std::uint32_t muteOnBg = 0;  // mute button face when muted
    std::uint32_t muteOnHovered = 0;  // hovered mute button when muted
    std::uint32_t muteOnActive = 0;  // pressed mute button when muted
    std::uint32_t muteOffHovered = 0;  // hovered mute button when not muted
    std::uint32_t muteOnText = 0;  // mute button text when muted
    std::uint32_t soloOnBg = 0;  // solo button face when soloed
    std::uint32_t soloOnHovered = 0;  // hovered solo button when soloed
    std::uint32_t soloOnActive = 0;  // pressed solo button when soloed
    std::uint32_t soloOffHovered = 0;  // hovered solo button when not soloed
    std::uint32_t soloOnText = 0;  // solo button text when soloed
    std::uint32_t danger = 0;  // destructive actions (delete rows)
    std::uint32_t dangerHoverBg = 0;  // hover background of destructive rows
    std::uint32_t warning = 0;  // warnings
    std::uint32_t positive = 0;  // positive state (assigned palettes)
    std::uint32_t highlight = 0;  // playhead line and marker (timeline), white highlights
    std::uint32_t curveLine = 0;  // intensity curve lines (curve editor, curve strips)
    std::uint32_t curveLineAlt = 0;  // second curve colour (events tab)
    std::uint32_t eventAccent = 0;  // selection and range fills on the timeline
    std::uint32_t meterLow = 0;  // level meter below 0.7
    std::uint32_t meterMid = 0;  // level meter 0.7 to 0.9
    std::uint32_t meterHigh = 0;  // level meter above 0.9
    std::uint32_t attention = 0;  // missing sources, title-bar badges
    std::uint32_t amberMark = 0;  // motion curve of the picture read (timeline)
    std::uint32_t redMark = 0;  // threshold line (timeline)
    std::uint32_t yellowMark = 0;  // marker glyphs (timeline)
    std::uint32_t pictureSource = 0;  // picture-read items (trace tab, timeline)
    std::uint32_t markerSource = 0;  // imported-marker items (trace tab, timeline)
    std::uint32_t accentPale = 0;  // drag indicator (timeline)
    std::uint32_t selectionFill = 0;  // video-span strip on the ruler
    std::uint32_t neutralMark = 0;  // muted events and dimmed layers (timeline)
    std::uint32_t reverbSend = 0;  // reverb send (mixer)
    std::uint32_t reverbTrack = 0;  // reverb send track (mixer)
    std::uint32_t reverbDeep = 0;  // reverb accent (mixer)
};

// The palette every drawing routine reads. Holds the start-up values until
// SetTheme first runs. UI thread only.
extern ThemeColors ThemePalette;

// Entries in table order, so tests and tools can walk them.
inline constexpr int kThemeEntryCount = 67;
std::uint32_t ThemeColors::*ThemeEntry(int index);
// The start-up value of entry `index`, or its value in `theme` (0..6).
std::uint32_t ThemeStartupValue(int index);
std::uint32_t ThemeValue(int theme, int index);

// The kind's colour (its RGB) with `alpha` (0..255) in the top byte.
std::uint32_t GetEventKindColor(int kind, int alpha);

// The weight's colour on the three-point ramp, alpha 200. Weights outside
// 0..1 are clamped; NaN reads as 0.
std::uint32_t GetWeightColor(float weight);

std::uint32_t ColorWithAlpha(std::uint32_t color, int alpha);

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
    // Told after SetTheme has filled the palette with theme `index`.
    void (*fillPalette)(std::int32_t index) = nullptr;
    // Copies the theme palette into the UI library's style.
    void (*applyTheme)() = nullptr;
    // Makes `font` the UI library's default font.
    void (*setDefaultFont)(ImFont* font) = nullptr;
};

// Set once by the shell at start-up, before the first frame; UI thread only.
extern ThemeHooks ShellThemeHooks;

// Keeps the index; an index in 0..6 overwrites every palette entry with that
// theme's values, any other changes no colour. Then the shell's fillPalette
// hook, when set, hears of the change.
void SetTheme(std::int32_t index);

// Copies the palette into the UI library's style.
void ApplyTheme();

// Stores the preset clamped to 0..2 in `fontSizePreset` and points the four
// current font slots at that preset's set (the bold one when `boldFonts` is
// set). A missing slot falls back to the body font; a missing body font keeps
// the current one.
void SetFontSizePreset(std::int32_t preset, AppState& app = GlobalAppState);

}  // namespace korvel
