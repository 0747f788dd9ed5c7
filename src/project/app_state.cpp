#include "project/app_state.h"

#include <algorithm>

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

void AppState::AddRecentProject(const std::string& path) {
    if (path.empty() || !IsValidRecentProjectPath(path)) return;
    std::erase(recentProjects, path);
    recentProjects.insert(recentProjects.begin(), path);
    if (recentProjects.size() > kMaxRecentProjects) recentProjects.resize(kMaxRecentProjects);
    recentMenuDirty = true;
}

void AppState::ResetTraceState() {
    markerEvents.clear();
    markerScenes.clear();
    markerSourcePath.clear();
    selectedDetections.clear();
    selectedMarkers.clear();
    traceMenuDetections.clear();
    traceMenuMarkers.clear();
    traceMarqueeBaseDetections.clear();
    traceMarqueeBaseMarkers.clear();
    traceImportRequested = false;
    traceMarkersImported = false;
    traceMarqueeActive = false;
    traceMarqueeAdditive = false;
    thresholdDragging = false;
    traceRecipeKeywords[0] = '\0';
    savedViewStart = savedViewSpan = savedProjectDuration = -1.0f;
    activeTraceMarkerKind = -1;
    activeTraceMarkerIndex = -1;
    traceSourceFilter = -1;
}

}  // namespace korvel
