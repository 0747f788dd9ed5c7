#pragma once
// Shared set-up of the trace review tests: a clean review state, a finished
// picture read made by the test (frames at 10 per second with a chosen
// composite), suggestions and markers, and the recipe list put back after.
#include <functional>
#include <string>
#include <vector>

#include "picture/markers.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/trace_import.h"

namespace korvel::test {

class TraceReviewState {
public:
    TraceReviewState() : savedRecipes_(RecipeList) { Reset(); }
    ~TraceReviewState() {
        Reset();
        RecipeList = savedRecipes_;
    }
    TraceReviewState(const TraceReviewState&) = delete;
    TraceReviewState& operator=(const TraceReviewState&) = delete;

    static void Reset() {
        AppState& s = GlobalAppState;
        s.traceRunning.store(false);
        s.traceAnalysis.valid = false;
        s.traceAnalysis.frames.clear();
        s.traceAnalysis.events.clear();
        s.traceAnalysis.fps = 10.0f;
        s.traceAnalysis.framesDone.store(0);
        s.traceAnalysis.maxCompositeEnergy = 1.0f;
        s.ResetTraceState();
        s.selectedDetections.clear();
        s.selectedMarkers.clear();
        s.hoveredDetection = s.hoveredMarker = -1;
        s.opticalDetail = 0.35f;
        s.traceRecipeLibFilter[0] = '\0';
        s.traceRecipeNotSpot = false;
        s.traceRecipeGroupOverride = -1;
        s.workAreaIn = s.workAreaOut = -1.0f;
        s.unsavedChanges = false;
        s.backgroundJob.active.store(false);
        s.exportRunning.store(false);
        s.playing = false;
        s.playhead = 0.0f;
        s.activeTab = 0;
        s.viewStart = 0.0f;
        s.viewEnd = 30.0f;
        s.platformHooks.openFileDialog = nullptr;
        s.platformHooks.openVideoDialog = nullptr;
        s.dropState.droppedVideo.clear();
        GlobalVideoPlayer.loaded = false;
        GlobalVideoPlayer.timelineOffset = 0.0f;
        GlobalVideoPlayer.duration = 0.0f;
        Project& p = CurrentProject;
        p.events.clear();
        p.results.clear();
        p.scenes.clear();
        p.totalDuration = 60.0f;
        p.fps = 25.0f;
        p.built = false;
        traceRecipeIndex = -1;
        traceSourcesShown = false;
        RecipeList.clear();
        ClearUndoHistory();
    }

private:
    std::vector<EventPreset> savedRecipes_;
};

// A finished read of `count` frames at 10 per second; frame i's composite
// is composite(i).
inline void MakeRead(int count, const std::function<float(int)>& composite = [](int) { return 0.5f; }) {
    TraceAnalysis& a = GlobalAppState.traceAnalysis;
    a.frames.assign(static_cast<std::size_t>(count), FrameMeasures{});
    for (int i = 0; i < count; ++i) {
        FrameMeasures& f = a.frames[static_cast<std::size_t>(i)];
        f.time = static_cast<float>(i) / 10.0f;
        f.composite = composite(i);
        f.smoothedMotion = 0.3f;
        f.threshold = 0.2f;
    }
    a.fps = 10.0f;
    a.duration = static_cast<float>(count) / 10.0f;
    a.numFrames = count;
    a.framesDone.store(count);
    a.maxCompositeEnergy = 1.0f;
    a.valid = true;
}

inline TraceDetection Detection(float time, float intensity, int peelLayer = 0, int tier = 0, bool accepted = true) {
    TraceDetection d;
    d.time = time;
    d.intensity = intensity;
    d.peelLayer = peelLayer;
    d.tier = tier;
    d.type = tier == 2 ? 2 : 0;
    d.accepted = accepted;
    d.suggestedDuration = 1.0f;
    d.suggestedWeightCenter = 0.6f;
    d.suggestedSpread = 0.2f;
    return d;
}

inline MarkerEvent Marker(float time, bool enabled = true, const char* recipe = "") {
    MarkerEvent m;
    m.time = time;
    m.enabled = enabled;
    CopyText(m.recipeName, recipe);
    return m;
}

inline EventPreset Recipe(const char* name, EventKind kind, float weightCenter = 0.5f) {
    EventPreset r;
    CopyText(r.name, name);
    r.shape = KindValue(kind);
    r.weightCenter = weightCenter;
    r.duration = 2.0f;
    return r;
}

}  // namespace korvel::test
