// [SECTION] Index
// - Adding events by kind, scene backgrounds
// - Deleting events and renaming scenes
// - Bed layer files
// - Commands at the playhead
#include "project/event_editing.h"

#include <algorithm>
#include <cstddef>

#include "engine/bed_event.h"
#include "engine/clip_event.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "library/brightness_probe.h"
#include "library/file_id.h"
#include "library/library.h"
#include "library/waveform.h"
#include "project/app_state.h"
#include "project/event_curves.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"

namespace korvel {

namespace {

constexpr float kMinimumClipDuration = 0.1f;  // seconds

bool InRange(std::int32_t index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// The flat curves of a background or a placed file.
Event FlatEvent(const Project& project, float time, EventKind kind, float weightCenter, float duration,
                std::int32_t group) {
    Event event;
    event.time = time;
    event.shape = KindValue(kind);
    event.userShapeIdx = -1;
    event.weightCenter = weightCenter;
    event.duration = duration;
    event.spread = 0.0f;
    event.weight.fill(0.5f);
    event.intensity.fill(1.0f);
    event.stereo = project.trackLayout.groups[static_cast<std::size_t>(group)].stereo;
    return event;
}

void SelectAlone(AppState& state, std::int32_t index) {
    state.selectedEvents.clear();
    state.selectedEvents.insert(index);
    state.selectedEvent = index;
    state.scrollToSelection = true;
    state.activeTab = 0;
    state.unsavedChanges = true;
}

}  // namespace

// [SECTION] Adding events by kind, scene backgrounds

std::int32_t Project::AddEvent(float time, std::int32_t kind, float weightCenter) {
    // The default tables have one entry per kind; anything else would read
    // past them.
    if (!InRange(kind, kEventKindCount)) return -1;
    const auto k = static_cast<std::size_t>(kind);
    Event event;
    event.time = time;
    event.shape = kind;
    event.userShapeIdx = -1;
    event.weightCenter = weightCenter;
    event.duration = EventKindDefaults.duration[k];
    event.spread = EventKindDefaults.spread[k];
    switch (static_cast<EventKind>(kind)) {
        case EventKind::Bloom:
            event.intensityMode = kIntensityFollowsSync;
            event.syncOffset = event.duration * 0.5f;
            break;
        case EventKind::Contour:
            event.intensityMode = kIntensityDrawn;
            event.syncOffset = 0.0f;
            break;
        case EventKind::Fill:
        case EventKind::Bed:
            event.intensityMode = kIntensityDrawn;
            break;
        default:
            break;
    }
    const float syncFraction = event.duration > 0.0f ? event.syncOffset / event.duration : 0.5f;
    BuildShapeCurves(kind, weightCenter, event.spread, event.weight, event.intensity, syncFraction);
    event.stereo = trackLayout.groups[static_cast<std::size_t>(DefaultGroupForKind(kind))].stereo;
    events.push_back(std::move(event));
    return static_cast<std::int32_t>(events.size()) - 1;
}

std::int32_t Project::AddSceneFill(std::int32_t sceneIndex) {
    if (!InRange(sceneIndex, scenes.size())) return -1;
    const Scene& scene = scenes[static_cast<std::size_t>(sceneIndex)];
    const std::int32_t index = AddEvent(scene.inTime, KindValue(EventKind::Fill), 0.5f);
    Event& event = events[static_cast<std::size_t>(index)];
    event.sceneLink = sceneIndex;
    event.sceneFill = true;
    event.sceneCrossfade = 1;
    event.syncOffset = 0.0f;
    event.intensityMode = kIntensityFlat;
    event.duration = scene.outTime - scene.inTime;
    event.intensity.fill(1.0f);
    if (!TextOf(scene.keywords).empty()) CopyText(event.keywords, TextOf(scene.keywords));
    CopyText(event.folder, TextOf(scene.name));
    return index;
}

std::int32_t Project::AddSceneBed(std::int32_t sceneIndex) {
    if (!InRange(sceneIndex, scenes.size())) return -1;
    const Scene& scene = scenes[static_cast<std::size_t>(sceneIndex)];
    Event event = FlatEvent(*this, scene.inTime, EventKind::Bed, 0.5f, 8.0f, 0);
    event.intensityMode = kIntensityDrawn;
    event.sceneLink = sceneIndex;
    event.sceneFill = true;
    event.sceneCrossfade = 1;
    event.duration = scene.outTime - scene.inTime;
    event.syncOffset = 0.0f;
    event.locked = true;
    // A bed plays chosen files, so the scene's keywords are not copied.
    CopyText(event.folder, TextOf(scene.name));
    events.push_back(std::move(event));
    return static_cast<std::int32_t>(events.size()) - 1;
}

// [SECTION] Deleting events and renaming scenes

void Project::DeleteEvent(std::int32_t index) {
    if (!InRange(index, events.size())) return;
    {
        // The layers move, so the published count is cut under the lock.
        LayerStorageEdit edit(*this);
        std::erase_if(results, [index](const LayerResult& layer) { return layer.eventIdx == index; });
        for (LayerResult& layer : results) {
            if (layer.eventIdx > index) --layer.eventIdx;
        }
    }
    events.erase(events.begin() + index);
}

void Project::RenameScene(std::int32_t sceneIndex, const char* name) {
    if (name == nullptr || !InRange(sceneIndex, scenes.size())) return;
    Scene& scene = scenes[static_cast<std::size_t>(sceneIndex)];
    CopyText(scene.name, name);
    for (Event& event : events) {
        if (event.sceneFill && event.sceneLink == sceneIndex) CopyText(event.folder, TextOf(scene.name));
    }
}

// [SECTION] Bed layer files

std::int32_t AddBedLayerFiles(Project& project, std::int32_t eventIndex, const std::vector<std::string>& paths,
                              const std::vector<Palette>* palettes) {
    if (!InRange(eventIndex, project.events.size())) return 0;
    Event& bed = project.events[static_cast<std::size_t>(eventIndex)];
    if (!IsKind(bed.shape, EventKind::Bed)) return 0;

    const std::size_t count = bed.pinnedFiles.size();
    bed.pinnedFileIds.resize(count);
    bed.bedLayerLoop.resize(count, 0);
    bed.bedLayerWeight.resize(count, -1.0f);

    std::int32_t added = 0;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        const FileId id = ComputeFileId(path).id;
        bool duplicate = false;
        for (std::size_t i = 0; i < bed.pinnedFiles.size() && !duplicate; ++i) {
            duplicate = bed.pinnedFiles[i] == path || (!id.empty() && bed.pinnedFileIds[i] == id);
        }
        if (duplicate) continue;
        bed.pinnedFiles.push_back(path);
        bed.pinnedFileIds.push_back(id);
        bed.bedLayerLoop.push_back(0);
        bed.bedLayerWeight.push_back(GetFileBrightness(path, id, palettes));
        ++added;
    }
    if (added > 0) {
        LayerStorageEdit edit(project);
        SyncBedEventLayers(project, eventIndex);
    }
    return added;
}

// [SECTION] Commands at the playhead

void InsertBedAtPlayhead() {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    PushUndo();
    Event bed = FlatEvent(project, state.playhead, EventKind::Bed, 0.3f, 8.0f, 0);
    bed.intensityMode = kIntensityDrawn;
    bed.locked = true;
    project.events.push_back(std::move(bed));
    SelectAlone(state, static_cast<std::int32_t>(project.events.size()) - 1);
}

PlaceFileResult PlaceAudioFileAt(const std::string& path) {
    if (path.empty()) return PlaceFileResult::Cancelled;
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    // A cut path would name a different or missing file.
    if (path.size() >= sizeof(Event::pinnedFile)) {
        state.statusMessage = "Path too long to place: " + path.substr(path.find_last_of('/') + 1);
        state.statusTime = 5.0f;
        return PlaceFileResult::PathTooLong;
    }
    PushUndo();
    Event clip = FlatEvent(project, state.playhead, EventKind::Clip, 0.3f, 2.0f, 1);
    CopyText(clip.pinnedFile, path);
    clip.pinnedFileId = ComputeFileId(path).id;
    clip.usePinnedFile = true;
    clip.locked = true;
    project.events.push_back(std::move(clip));
    const auto index = static_cast<std::int32_t>(project.events.size()) - 1;
    {
        LayerStorageEdit edit(project);
        BuildClipEvent(project, index);
    }
    LoadWaveformOverview(path.c_str());
    Event& placed = project.events[static_cast<std::size_t>(index)];
    placed.duration = std::max(kMinimumClipDuration, placed.duration);
    for (const LayerResult& layer : project.results) {
        if (layer.eventIdx == index) {
            placed.duration = std::max(kMinimumClipDuration, layer.duration);
            break;
        }
    }
    AllocateTracks(project);
    SelectAlone(state, index);
    state.audioUpdateRequested.store(true, std::memory_order_release);
    return PlaceFileResult::Placed;
}

void PlaceAudioFileAtPlayhead() {
    const auto& openFile = GlobalAppState.platformHooks.openFileDialog;
    if (!openFile) return;
    PlaceAudioFileAt(openFile("Place Audio File", "wav"));
}

}  // namespace korvel
