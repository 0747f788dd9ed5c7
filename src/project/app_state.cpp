#include "project/app_state.h"

namespace korvel {

AppState GlobalAppState;

void AppState::ResetTraceState() {
    markerEvents.clear();
    markerScenes.clear();
    markerSourcePath.clear();
}

}  // namespace korvel
