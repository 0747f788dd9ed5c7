// The trace tab's decisions and imports.
//
// [SECTION] Counting and the suggestion list
// [SECTION] Tab state and sources
// [SECTION] Import extent and the per-frame steps
// [SECTION] Recipe choice and marker import
// [SECTION] Importing events
#include "ui/panels/trace_import.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string_view>

#include "app/frame_work.h"
#include "picture/markers.h"
#include "picture/timecode.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/event_curves.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {

std::int32_t traceRecipeIndex = -1;
bool traceSourcesShown = false;

const EventPreset* ChosenTraceRecipe() {
    if (traceRecipeIndex < 0 || static_cast<std::size_t>(traceRecipeIndex) >= RecipeList.size()) return nullptr;
    return &RecipeList[static_cast<std::size_t>(traceRecipeIndex)];
}

namespace {

// The recipe of exactly this name, else the chosen one, else null.
const EventPreset* RecipeFor(std::string_view name) {
    const EventPreset* named = name.empty() ? nullptr : FindRecipeNamed(name);
    return named != nullptr ? named : ChosenTraceRecipe();
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Counting and the suggestion list
// ---------------------------------------------------------------------------

float TraceCountThreshold(float opticalDetail) {
    const float d = 1.0f - opticalDetail;
    return std::max(0.15f, 0.85f * d * d);
}

float OpticalDetailForLevel(float level) {
    const float v = std::max(0.15f, std::clamp(level, 0.0f, 1.0f));
    return std::clamp(1.0f - std::sqrt(v / 0.85f), 0.0f, 1.0f);
}

bool DetectionCounts(const TraceDetection& detection, float threshold) {
    if (detection.tier == 2) return false;
    return detection.intensity / (1.0f + 0.5f * static_cast<float>(detection.peelLayer)) >= threshold;
}

std::vector<TraceSuggestion> BuildSuggestionList(const AppState& state) {
    std::vector<TraceSuggestion> list;
    if (TraceReadValid(state) && state.traceSourceFilter != 1) {
        const float threshold = TraceCountThreshold(state.opticalDetail);
        const auto& events = state.traceAnalysis.events;
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (DetectionCounts(events[i], threshold))
                list.push_back({0, static_cast<std::int32_t>(i), events[i].time});
        }
    }
    if (state.traceSourceFilter != 0) {
        for (std::size_t i = 0; i < state.markerEvents.size(); ++i)
            list.push_back({1, static_cast<std::int32_t>(i), state.markerEvents[i].time});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const TraceSuggestion& a, const TraceSuggestion& b) { return a.time < b.time; });
    return list;
}

std::int32_t CountImportable(const AppState& state, const std::vector<TraceSuggestion>& suggestions) {
    std::int32_t n = 0;
    for (const TraceSuggestion& s : suggestions) {
        const auto i = static_cast<std::size_t>(s.index);
        if (s.source == 0 && i < state.traceAnalysis.events.size() && state.traceAnalysis.events[i].accepted) ++n;
        if (s.source == 1 && i < state.markerEvents.size() && state.markerEvents[i].enabled) ++n;
    }
    return n;
}

std::int32_t CountCountingDetections(const AppState& state) {
    if (!TraceReadValid(state)) return 0;
    const float threshold = TraceCountThreshold(state.opticalDetail);
    return static_cast<std::int32_t>(
        std::count_if(state.traceAnalysis.events.begin(), state.traceAnalysis.events.end(),
                      [&](const TraceDetection& d) { return DetectionCounts(d, threshold); }));
}

// ---------------------------------------------------------------------------
// [SECTION] Tab state and sources
// ---------------------------------------------------------------------------

bool TraceSourcesPresent(const AppState& state) { return TraceReadValid(state) || !state.markerEvents.empty(); }

TraceTabState DecideTraceTabState(const AppState& state) {
    const bool running = state.traceRunning.load(std::memory_order_acquire);
    if (!TraceSourcesPresent(state)) return running ? TraceTabState::Reading : TraceTabState::Intro;
    if (TraceReadValid(state) && state.markerEvents.empty() && CountCountingDetections(state) == 0)
        return TraceTabState::NothingFound;
    return TraceTabState::Review;
}

bool ClickPicturePill(AppState& state, bool videoLoaded) {
    const bool picture = TraceReadValid(state);
    const bool markers = !state.markerEvents.empty();
    if (picture && markers) {
        if (state.traceSourceFilter == 1) {
            state.traceSourceFilter = -1;
        } else if (state.traceSourceFilter != 0) {
            state.traceSourceFilter = 1;
        }
        return false;
    }
    return !picture && !videoLoaded;
}

bool ClickMarkersPill(AppState& state) {
    const bool picture = TraceReadValid(state);
    const bool markers = !state.markerEvents.empty();
    if (!markers) return true;
    if (picture) {
        if (state.traceSourceFilter == 0) {
            state.traceSourceFilter = -1;
        } else if (state.traceSourceFilter != 1) {
            state.traceSourceFilter = 0;
        }
    }
    return false;
}

void ClearPictureSource(AppState& state) {
    CancelTraceAnalysis(state);
    state.selectedDetections.clear();
    state.traceMarqueeBaseDetections.clear();
    state.traceMenuDetections.clear();
    state.traceImportRequested = false;
    state.activeTraceMarkerKind = state.activeTraceMarkerIndex = -1;
    if (state.traceSourceFilter == 0) state.traceSourceFilter = -1;
}

void ClearMarkerSource(AppState& state, Project& project) {
    state.markerEvents.clear();
    state.markerScenes.clear();
    state.markerSourcePath.clear();
    state.selectedMarkers.clear();
    state.traceMarqueeBaseMarkers.clear();
    state.traceMenuMarkers.clear();
    state.traceImportRequested = false;
    state.activeTraceMarkerKind = state.activeTraceMarkerIndex = -1;
    if (state.traceSourceFilter == 1) state.traceSourceFilter = -1;
    // A job may read the project's length: then the per-frame step gives the
    // view back once the sources are gone and the guard opens.
    if (UiMayEditProject(state)) RestoreViewAfterImport(state, project);
}

// ---------------------------------------------------------------------------
// [SECTION] Import extent and the per-frame steps
// ---------------------------------------------------------------------------

void ExtendProjectForImport(AppState& state, Project& project) {
    float end = 0.0f;
    if (TraceReadValid(state)) {
        for (const TraceDetection& d : state.traceAnalysis.events) end = std::max(end, d.time + d.suggestedDuration);
    }
    for (const MarkerEvent& m : state.markerEvents) end = std::max(end, m.time + m.duration);
    if (!(project.totalDuration < end) || !std::isfinite(end)) return;
    if (state.savedProjectDuration < 0.0f) {
        state.savedViewStart = state.viewStart;
        state.savedViewSpan = state.ViewSpan();
        state.savedProjectDuration = project.totalDuration;
    }
    state.viewStart = 0.0f;
    project.totalDuration = end + 1.0f;
    state.viewEnd = end + 1.0f;
}

void RestoreViewAfterImport(AppState& state, Project& project) {
    if (state.savedProjectDuration < 0.0f) return;
    state.viewStart = state.savedViewStart;
    state.viewEnd = state.savedViewStart + state.savedViewSpan;
    project.totalDuration = state.savedProjectDuration;
    state.savedViewStart = state.savedViewSpan = state.savedProjectDuration = -1.0f;
}

void TraceTabFrameSteps(AppState& state, Project& project) {
    state.hoveredDetection = -1;
    state.hoveredMarker = -1;

    BackgroundJob& job = state.backgroundJob;
    if (GlobalVideoPlayer.loaded) StartTraceRead(state);
    if (!state.traceRunning.load(std::memory_order_acquire) && !job.active.load() && job.worker.joinable())
        job.worker.join();

    // The project's length and events change only where a job reads none of
    // them; meanwhile these steps wait for a later frame.
    if (!UiMayEditProject(state)) return;
    const bool present = TraceSourcesPresent(state);
    if (present && !traceSourcesShown) ExtendProjectForImport(state, project);
    if (!present && traceSourcesShown) RestoreViewAfterImport(state, project);
    traceSourcesShown = present;
    if (state.traceMarkersImported) {
        ExtendProjectForImport(state, project);
        state.traceMarkersImported = false;
    }
    if (state.traceImportRequested) {
        state.traceImportRequested = false;
        ImportTraceMenuTargets(state, project);
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Recipe choice and marker import
// ---------------------------------------------------------------------------

void ChooseTraceRecipe(AppState& state, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= RecipeList.size()) {
        traceRecipeIndex = -1;
        state.traceRecipeKeywords[0] = '\0';
        state.traceRecipeLibFilter[0] = '\0';
        state.traceRecipeNotSpot = false;
        state.traceRecipeGroupOverride = -1;
        return;
    }
    const EventPreset& recipe = RecipeList[static_cast<std::size_t>(index)];
    traceRecipeIndex = index;
    CopyText(state.traceRecipeKeywords, TextOf(recipe.keywords));
    state.traceRecipeWeightCenter = recipe.weightCenter;
    state.traceRecipeNotSpot = !IsKind(recipe.shape, EventKind::Spot);
    CopyText(state.traceRecipeLibFilter, TextOf(recipe.libFilter));
    state.traceRecipeGroupOverride = recipe.groupOverride;
    if (TraceReadValid(state)) {
        const float threshold = TraceCountThreshold(state.opticalDetail);
        for (TraceDetection& d : state.traceAnalysis.events) {
            if (d.accepted && DetectionCounts(d, threshold)) d.suggestedWeightCenter = recipe.weightCenter;
        }
    }
    for (MarkerEvent& m : state.markerEvents) {
        if (m.enabled) m.weightCenter = recipe.weightCenter;
    }
    state.unsavedChanges = true;
}

void ImportTraceMarkers(AppState& state, Project& project, const std::string& path) {
    state.markerSourcePath = path;
    state.markerEvents.clear();
    std::vector<std::string> recipeNames;
    recipeNames.reserve(RecipeList.size());
    for (const EventPreset& recipe : RecipeList) recipeNames.emplace_back(TextOf(recipe.name));
    const float fps = ProjectFrameRate(project.fps);
    MarkerReadReport report;
    ImportProToolsMarkers(path, fps, state.markerEvents, &state.markerScenes, recipeNames, &report);
    const std::string status =
        MarkerImportStatus(report, state.markerEvents.size() + state.markerScenes.size(), path);
    if (!status.empty()) PostStatus(status, kMarkerStatusSeconds);
    for (MarkerEvent& marker : state.markerEvents) marker.enabled = true;
    if (state.markerEvents.empty()) return;
    state.traceSourceFilter = -1;
    if (UiMayEditProject(state)) {
        ExtendProjectForImport(state, project);
    } else {
        state.traceMarkersImported = true;  // the frame lengthens it once the guard opens
    }
}

void ImportTraceMarkersWithDialog(AppState& state, Project& project) {
    if (!state.platformHooks.openFileDialog) return;
    const std::string path = state.platformHooks.openFileDialog("Import Pro Tools Session Text", "txt");
    if (!path.empty()) ImportTraceMarkers(state, project, path);
}

// ---------------------------------------------------------------------------
// [SECTION] Importing events
// ---------------------------------------------------------------------------

void SampleTraceCurve(const TraceAnalysis& analysis, float a, float b, float* out, int count) {
    if (out == nullptr || count <= 0) return;
    const auto& frames = analysis.frames;
    if (frames.size() < 2) {
        std::fill(out, out + count, 1.0f);
        return;
    }
    const float span = std::max(0.001f, b - a);
    float period = frames[1].time - frames[0].time;
    // Frame times come from the project file, which may hold equal or
    // reversed ones: the read's own rate stands in.
    if (!(period > 0.0f) || !std::isfinite(period)) {
        const float fps = analysis.fps > 0.0f && std::isfinite(analysis.fps) ? analysis.fps : 1.0f;
        period = 1.0f / std::max(1.0f, fps);
    }
    const float last = static_cast<float>(frames.size() - 1);
    for (int j = 0; j < count; ++j) {
        const float fraction = count > 1 ? static_cast<float>(j) / static_cast<float>(count - 1) : 0.0f;
        float index = std::trunc((fraction * span + a) / period);
        // Clamped as a float: the conversion of an out-of-range value is undefined.
        index = std::isnan(index) ? 0.0f : std::clamp(index, 0.0f, last);
        out[j] = frames[static_cast<std::size_t>(index)].composite;
    }
}

std::string NextPictureFolderName(const Project& project) {
    std::set<std::string_view> folders;
    for (const Event& e : project.events) {
        const std::string_view folder = TextOf(e.folder);
        if (folder.starts_with("Picture:")) folders.insert(folder);
    }
    return "Picture: Import " + std::to_string(folders.size() + 1);
}

std::string MarkerFolderName(const std::string& markerSourcePath) {
    const std::string stem = std::filesystem::path(markerSourcePath).stem().string();
    return stem.empty() ? std::string("Markers") : "Markers: " + stem;
}

namespace {

struct ImportScope {
    bool thresholdAndRange = true;  // the button's; the menu's import takes neither
    const std::vector<std::int32_t>* detections = nullptr;  // the menu's targets
    const std::vector<std::int32_t>* markers = nullptr;
};

// The settings every imported event shares: the recipe choice's library
// filter, group and keywords, then its curves from the shape values.
void FinishImportedEvent(const AppState& state, Event& event, std::string_view keywords) {
    if (state.traceRecipeLibFilter[0] != '\0') CopyText(event.libFilter, TextOf(state.traceRecipeLibFilter));
    if (state.traceRecipeGroupOverride >= 0) event.groupOverride = state.traceRecipeGroupOverride;
    if (!keywords.empty()) {
        CopyText(event.keywords, keywords);
    } else if (state.traceRecipeKeywords[0] != '\0') {
        CopyText(event.keywords, TextOf(state.traceRecipeKeywords));
    }
    const float syncFraction = event.duration > 0.0f ? event.syncOffset / event.duration : 0.5f;
    BuildShapeCurves(event.shape, event.weightCenter, event.spread, event.weight, event.intensity, syncFraction);
}

void ApplyNamedRecipe(Event& event, std::string_view name) {
    if (const EventPreset* recipe = RecipeFor(name)) {
        const float time = event.time;
        event.ApplyPreset(*recipe);
        event.time = time;
    }
}

// The largest composite within ±0.15 s of `time` (video axis); 1 without frames.
float LocalComposite(const TraceAnalysis& analysis, float time) {
    if (analysis.frames.empty()) return 1.0f;
    float peak = 0.0f;
    for (const FrameMeasures& f : analysis.frames) {
        if (std::fabs(f.time - time) <= 0.15f) peak = std::max(peak, f.composite);
    }
    return peak;
}

// The indices `consider` keeps: of `targets` (each once, those in range)
// when given, else of every one of `count`.
template <typename Consider>
std::vector<std::size_t> ChooseIndices(const std::vector<std::int32_t>* targets, std::size_t count,
                                       Consider consider) {
    std::vector<std::size_t> chosen;
    auto offer = [&](std::size_t i) {
        if (consider(i)) chosen.push_back(i);
    };
    if (targets != nullptr) {
        for (std::int32_t i : *targets) {
            const auto index = static_cast<std::size_t>(i);
            if (i >= 0 && index < count && std::find(chosen.begin(), chosen.end(), index) == chosen.end())
                offer(index);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) offer(i);
    }
    return chosen;
}

std::int32_t ImportDetections(AppState& state, Project& project, const ImportScope& scope, bool hasRange) {
    const TraceAnalysis& analysis = state.traceAnalysis;
    const float offset = GlobalVideoPlayer.timelineOffset;
    const float threshold = TraceCountThreshold(state.opticalDetail);
    const std::vector<std::size_t> chosen =
        ChooseIndices(scope.detections, analysis.events.size(), [&](std::size_t i) {
            const TraceDetection& d = analysis.events[i];
            if (!d.accepted) return false;
            if (!scope.thresholdAndRange) return true;
            const float t = offset + d.time;
            return DetectionCounts(d, threshold) && !(hasRange && (t < state.workAreaIn || t > state.workAreaOut));
        });
    if (chosen.empty()) return 0;

    const std::int32_t kind = state.traceRecipeNotSpot ? KindValue(EventKind::Bloom) : KindValue(EventKind::Spot);
    const bool spot = IsKind(kind, EventKind::Spot);
    std::vector<float> local(chosen.size(), 1.0f);
    float strongest = 0.0f;
    if (spot) {
        for (std::size_t c = 0; c < chosen.size(); ++c) {
            local[c] = LocalComposite(analysis, analysis.events[chosen[c]].time);
            strongest = std::max(strongest, local[c]);
        }
    }
    if (strongest < 0.001f) strongest = 1.0f;

    const std::string folder = NextPictureFolderName(project);
    for (std::size_t c = 0; c < chosen.size(); ++c) {
        const TraceDetection& d = analysis.events[chosen[c]];
        const std::int32_t index = project.AddEvent(offset + d.time, kind, 0.3f);
        if (index < 0) continue;
        Event& e = project.events[static_cast<std::size_t>(index)];
        CopyText(e.folder, folder);
        e.duration = d.suggestedDuration;
        e.syncOffset = d.suggestedSyncOffset;
        e.gain = 1.0f;
        if (spot) {
            e.gain = std::max(0.1f, local[c] / strongest);
            const float start = std::max(0.0f, d.time - d.suggestedSyncOffset);
            CurvePoints curve{};
            SampleTraceCurve(analysis, start, start + std::max(0.001f, d.suggestedDuration), curve.data(),
                             kCurvePoints);
            const float peak = *std::max_element(curve.begin(), curve.end());
            if (peak > 0.001f) {
                for (float& v : curve) v /= peak;
                e.traceGain = curve;
                e.hasTraceGain = true;
            }
        }
        e.weightCenter = d.suggestedWeightCenter;
        e.spread = d.suggestedSpread;
        FinishImportedEvent(state, e, TextOf(d.keywords));
        if (!spot && d.hasIntensityCurve) e.intensity = d.intensityCurve;
        ApplyNamedRecipe(e, TextOf(d.presetName));
    }
    return static_cast<std::int32_t>(chosen.size());
}

std::int32_t ImportMarkers(AppState& state, Project& project, const ImportScope& scope, bool hasRange) {
    const std::vector<std::size_t> chosen =
        ChooseIndices(scope.markers, state.markerEvents.size(), [&](std::size_t i) {
            const MarkerEvent& m = state.markerEvents[i];
            if (!m.enabled) return false;
            return !(scope.thresholdAndRange && hasRange && (m.time < state.workAreaIn || m.time > state.workAreaOut));
        });
    if (chosen.empty()) return 0;

    const std::string folder = MarkerFolderName(state.markerSourcePath);
    for (std::size_t i : chosen) {
        const MarkerEvent& m = state.markerEvents[i];
        const std::int32_t kind = state.traceRecipeNotSpot ? KindValue(EventKind::Bloom) : m.kind;
        const std::int32_t index = project.AddEvent(m.time, kind, 0.3f);
        if (index < 0) continue;
        Event& e = project.events[static_cast<std::size_t>(index)];
        CopyText(e.folder, folder);
        e.duration = m.duration;
        e.gain = m.gain >= 0.0f ? m.gain : 1.0f;
        e.weightCenter = m.weightCenter;
        if (m.spread >= 0.0f) e.spread = m.spread;
        if (m.syncFraction >= 0.0f) e.syncOffset = m.duration * m.syncFraction;
        FinishImportedEvent(state, e, TextOf(m.keywords));
        ApplyNamedRecipe(e, TextOf(m.recipeName));
    }
    return static_cast<std::int32_t>(chosen.size());
}

void ImportScenes(AppState& state, Project& project) {
    std::vector<MarkerScene> scenes = std::move(state.markerScenes);
    state.markerScenes.clear();
    std::stable_sort(scenes.begin(), scenes.end(),
                     [](const MarkerScene& a, const MarkerScene& b) { return a.time < b.time; });
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        Scene scene;
        CopyText(scene.name, TextOf(scenes[i].name));
        CopyText(scene.keywords, TextOf(scenes[i].text));
        scene.inTime = scenes[i].time;
        scene.outTime = i + 1 < scenes.size() ? scenes[i + 1].time : project.totalDuration;
        // A last scene past the project's end would otherwise run backwards.
        scene.outTime = std::max(scene.outTime, scene.inTime);
        project.scenes.push_back(scene);
    }
}

std::int32_t RunImport(AppState& state, Project& project, const ImportScope& scope) {
    if (!UiMayEditProject(state)) return 0;
    const bool hasRange = scope.thresholdAndRange && state.HasWorkArea();
    std::int32_t made = 0;
    if (TraceReadValid(state) && (!scope.thresholdAndRange || state.traceSourceFilter != 1))
        made += ImportDetections(state, project, scope, hasRange);
    if (!state.markerEvents.empty() && (!scope.thresholdAndRange || state.traceSourceFilter != 0))
        made += ImportMarkers(state, project, scope, hasRange);
    ImportScenes(state, project);

    for (const Event& e : project.events) {
        const float end = e.time + e.duration;
        if (end > project.totalDuration && std::isfinite(end)) project.totalDuration = end + 1.0f;
    }
    // The import keeps the lengthened project.
    state.savedViewStart = state.savedViewSpan = state.savedProjectDuration = -1.0f;
    state.traceRecipeKeywords[0] = '\0';
    state.unsavedChanges = true;
    return made;
}

}  // namespace

std::int32_t ImportTraceSuggestions(AppState& state, Project& project) {
    return RunImport(state, project, ImportScope{});
}

std::int32_t ImportTraceMenuTargets(AppState& state, Project& project) {
    ImportScope scope;
    scope.thresholdAndRange = false;
    scope.detections = &state.traceMenuDetections;
    scope.markers = &state.traceMenuMarkers;
    return RunImport(state, project, scope);
}

}  // namespace korvel
