#pragma once
// The about box: the logo, the name and version over a dimmed window,
// drawn after "##main" ends. UI thread.
#include "app/ui_layout.h"

namespace korvel {

// While `aboutOpen` is set; a click on the box or around it closes it.
void DrawAboutBox(const UILayout& layout);

// The box's own lines.
inline constexpr const char* kAboutTagline = "SOUND DESIGN TO PICTURE";
inline constexpr const char* kAboutMotto = "Your library, cut to the picture.";
inline constexpr const char* kAboutNotice = "Made for sound designers who work to the frame.";

}  // namespace korvel
