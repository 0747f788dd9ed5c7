#pragma once
// The top of "##main": the title bar with its tab strip and the
// unsaved-changes prompt, the video area, and the active tab's panel.
#include <array>

#include "app/ui_layout.h"

struct ImDrawList;

namespace korvel {

// The tab labels' blend, 1 = full labels, 0 = icons only. UI thread.
extern float tabLabelBlend;

// Draws the title bar and runs the per-frame services (status countdown,
// device check, auto-save).
void DrawTitleBar(const UILayout& layout);

// The reference picture, or the button that loads one.
void DrawVideoArea(const UILayout& layout);

// The right-hand panel of the active tab, at (videoWidth, titleBarHeight),
// after the drop-hover flags are worked out.
void DrawMainPanel(const UILayout& layout);

// The six tabs' panels, events (0) to settings (5). Each panel's folder
// installs its own; an empty slot draws nothing. UI thread.
using MainPanelFn = void (*)(ImDrawList* drawList, const UILayout& layout);
extern std::array<MainPanelFn, 6> MainTabPanels;

// The title's text: the logo glyph and the name, or the name alone when the
// font lacks the logo.
const char* TitleText(bool fontHasLogo);

}  // namespace korvel
