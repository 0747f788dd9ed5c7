#pragma once
// The scale of the user interface: the desktop's font DPI over 96.
#include <string>

namespace korvel {

// The value of "Xft.dpi" in an X resource-manager string ("name:\tvalue"
// lines); 0 when it is absent or not a number.
float ParseXftDpi(const std::string& resources);

// dpi / 96, or 1 when the DPI is not above 0 (or not finite).
float UiScaleFromDpi(float dpi);

}  // namespace korvel
