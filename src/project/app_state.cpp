#include "project/app_state.h"

namespace korvel {

AppState GlobalAppState;

bool IsValidRecentProjectPath(std::string_view path) {
    if (path.find_first_of("/\\") == std::string_view::npos) return false;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 && c != '\t') return false;
    }
    return true;
}

void AppState::ResetTraceState() {
    markerEvents.clear();
    markerScenes.clear();
    markerSourcePath.clear();
}

}  // namespace korvel
