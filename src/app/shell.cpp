#include "app/shell.h"

#include "library/library.h"

namespace korvel {

float UiScale = 1.0f;
bool MainLoopRunning = false;
MenuPopupRequest PendingMenuPopup;

bool MainLoopBusy(const AppState& state, const Library& library, const LoopInputState& input) {
    const DropState& drop = state.dropState;
    // The timeline's event moves and resizes join this list with the timeline.
    return state.playing || state.backgroundJob.active.load() || state.traceRunning.load() ||
           state.windowChrome.animating || state.statusTime > 0.0f || library.scanning.load() ||
           state.exportRunning.load() || drop.hoverFolder || drop.hoverAudio || drop.hoverVideo ||
           input.wantsTextInput || input.popupOpen || input.widgetActive || input.queuedInput;
}

}  // namespace korvel
