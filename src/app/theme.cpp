#include "app/theme.h"

#include <algorithm>

namespace korvel {

std::uint32_t WeightColorLow = PackOpaqueRgb(0x44, 0x01, 0x54);
std::uint32_t WeightColorMid = PackOpaqueRgb(0x21, 0x91, 0x8C);
std::uint32_t WeightColorHigh = PackOpaqueRgb(0xFD, 0xE7, 0x25);
std::int32_t ThemeIndex = 0;
ThemeHooks ShellThemeHooks;

void SetTheme(std::int32_t index) {
    ThemeIndex = index;
    if (ShellThemeHooks.fillPalette != nullptr) ShellThemeHooks.fillPalette(index);
}

void ApplyTheme() {
    if (ShellThemeHooks.applyTheme != nullptr) ShellThemeHooks.applyTheme();
}

void SetFontSizePreset(std::int32_t preset, AppState& app) {
    preset = std::clamp(preset, 0, kFontSizePresets - 1);
    app.fontSizePreset = preset;

    FontTable& fonts = app.fonts;
    const auto& set = app.boldFonts ? fonts.bold[preset] : fonts.regular[preset];
    fonts.smallFont = set[0] != nullptr ? set[0] : fonts.bodyFont;
    if (set[1] != nullptr) fonts.bodyFont = set[1];
    fonts.mediumFont = set[2] != nullptr ? set[2] : fonts.bodyFont;
    fonts.largeFont = set[3] != nullptr ? set[3] : fonts.bodyFont;
    if (ShellThemeHooks.setDefaultFont != nullptr && fonts.bodyFont != nullptr)
        ShellThemeHooks.setDefaultFont(fonts.bodyFont);
}

}  // namespace korvel
