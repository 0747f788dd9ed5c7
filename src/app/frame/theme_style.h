#pragma once
// The UI library's style, derived from the theme palette.

namespace korvel {

// Writes the UI library's sizes and colour slots from ThemePalette. Needs a
// UI context. Installed at start-up as the theme hook that ApplyTheme calls
// (at start-up, at the start of every frame, after the preferences set a
// theme).
void ApplyThemeToStyle();

}  // namespace korvel
