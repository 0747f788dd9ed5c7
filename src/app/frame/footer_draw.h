#pragma once
// The footer under the timeline: what the program is busy with, or the
// status message, on the left; the project's summary on the right.
#include "app/ui_layout.h"

namespace korvel {

// Draws at the cursor, the full display width and the footer's height, and
// reserves that space with the child "##footer".
void DrawFooter(const UILayout& layout);

}  // namespace korvel
