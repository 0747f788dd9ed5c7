#pragma once
// The frame: its work in a fixed order, then the window's drawing.

namespace korvel {

// Called by RenderFrame between the UI library's new frame and its render.
void DrawUI();

}  // namespace korvel
