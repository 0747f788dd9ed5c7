#pragma once
// The project launcher: a card over the dimmed window, drawn after "##main"
// ends. UI thread.
#include "app/ui_layout.h"

namespace korvel {

// The card of recent projects with New, Open and the start-up checkbox,
// while `launcherOpen` is set and it was not dismissed.
void DrawLauncher(const UILayout& layout);

// Screen rectangles (UI units) of the card and its controls in the last
// frame the launcher was drawn, for tests that click them. UI thread.
struct LauncherRect {
    float x0 = 0.0f, y0 = 0.0f, x1 = 0.0f, y1 = 0.0f;
    float CentreX() const { return (x0 + x1) * 0.5f; }
    float CentreY() const { return (y0 + y1) * 0.5f; }
};
struct LauncherRects {
    LauncherRect card, firstRow, newButton, openButton;
};
extern LauncherRects LastLauncherRects;

}  // namespace korvel
