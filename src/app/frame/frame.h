#pragma once
// The frame: its work in a fixed order, then the window's drawing.

namespace korvel {

// Set by a widget whose own list takes the arrow keys, Enter and Escape (the
// keyword completion list) so the next frame starts without keyboard
// navigation; cleared at the start of every DrawUI. UI thread only.
extern bool SuppressKeyboardNav;

// The UI library's new frame, with keyboard navigation switched off for this
// one call while SuppressKeyboardNav is set: navigation reads its keys there.
void NewUiFrame();

// Called by RenderFrame between the UI library's new frame and its render.
void DrawUI();

}  // namespace korvel
