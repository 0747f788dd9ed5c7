#pragma once
// The window half of the commands: the frame's key decoding read from the
// UI library, and the menu drawn as a popup under the title bar's menu
// button.
#include <cstdint>

namespace korvel {

// Where a key code sits on the keyboard (the UI library's key index, an SDL
// scancode), following the keyboard layout. SDL's own lookup by default;
// tests put a layout of their own here. UI thread.
using ScancodeLookupFn = std::int32_t (*)(std::int32_t key);
extern ScancodeLookupFn CommandScancodeLookup;

// The command the keys make in this frame, or 0: none while a text field
// wants the keyboard, a background job runs or the menu is open.
std::int32_t DecodeFrameKeys();

// Opens the menu when the title bar asked for it, and draws it while open;
// a chosen entry goes to HandleMenuChoice, Escape closes it. Called once a
// frame outside any window.
void DrawAppMenu();

}  // namespace korvel
