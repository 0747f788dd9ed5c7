#pragma once
// Process-wide values of the application shell that headless code reads:
// the UI scale, whether the main loop runs, and the loop's rule for when to
// keep drawing and when to sleep until input.
#include "project/app_state.h"

namespace korvel {

struct Library;

// The desktop's DPI / 96, taken once at start-up (1 when unknown). UI units
// are window pixels divided by it. Written by the start-up, read anywhere on
// the UI thread.
extern float UiScale;

// True while the main loop runs; frames are drawn only then. UI thread.
extern bool MainLoopRunning;

// What the UI library and the host know about input this pass.
struct LoopInputState {
    bool wantsTextInput = false;  // a text field has the keyboard
    bool popupOpen = false;
    bool widgetActive = false;
    bool queuedInput = false;  // events held back for the next frame
};

// The loop draws continuously while this holds, and otherwise waits up to
// 50 ms for input: playback, a job, the picture analysis, an animation, a
// status message counting down, a library scan, an export, a desktop drag
// over the window, or UI input in progress.
bool MainLoopBusy(const AppState& state, const Library& library, const LoopInputState& input);

// The title bar's menu button asks for the menu here, at a point in window
// pixels below the button; the frame that shows the menu takes it.
struct MenuPopupRequest {
    bool requested = false;
    int x = 0;
    int y = 0;
};

// UI thread.
extern MenuPopupRequest PendingMenuPopup;

}  // namespace korvel
