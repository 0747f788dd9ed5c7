// Drops from the desktop.
//
// [SECTION] Sorting dropped names
// [SECTION] Receiving a drop
// [SECTION] Dropped sound files
#include "app/drops.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "app/frame_work.h"
#include "engine/clip_event.h"
#include "engine/layer_render.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "engine/voice_gain.h"
#include "library/file_id.h"
#include "library/library.h"
#include "library/palettes.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/event_editing.h"
#include "project/project.h"
#include "project/undo.h"

namespace korvel {

// [SECTION] Sorting dropped names

namespace {

constexpr std::array<std::string_view, 7> kVideoExtensions = {"mp4", "mov", "m4v", "avi", "mkv", "webm", "mxf"};
constexpr std::array<std::string_view, 8> kSoundExtensions = {"wav", "aif", "aiff", "flac",
                                                               "ogg", "mp3", "w64", "caf"};

constexpr float kClipWeightCenter = 0.3f;
constexpr float kMinimumClipDuration = 0.1f;  // seconds: an unreadable file still makes a visible clip

}  // namespace

std::string DroppedNameExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    const std::size_t separator = name.find_last_of("/\\");
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) return {};
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

bool IsVideoExtension(std::string_view lowerExtension) {
    return std::find(kVideoExtensions.begin(), kVideoExtensions.end(), lowerExtension) != kVideoExtensions.end();
}

bool IsSoundExtension(std::string_view lowerExtension) {
    return std::find(kSoundExtensions.begin(), kSoundExtensions.end(), lowerExtension) != kSoundExtensions.end();
}

DroppedKind ClassifyDroppedName(const std::string& name) {
    // The folder test comes first: a folder called "takes.wav" or "cut.mov"
    // is scanned, never loaded as a file it is not.
    std::error_code error;
    if (!name.empty() && std::filesystem::is_directory(std::filesystem::path(name), error)) {
        return DroppedKind::Folder;
    }
    const std::string extension = DroppedNameExtension(name);
    if (IsVideoExtension(extension)) return DroppedKind::Video;
    if (IsSoundExtension(extension)) return DroppedKind::Sound;
    return DroppedKind::Ignored;
}

// [SECTION] Receiving a drop

void BeginDrop(DropState& drop) {
    drop.receivingNames.clear();
    drop.receiving = true;
}

void AddDroppedName(DropState& drop, std::string name) {
    if (!name.empty()) drop.receivingNames.push_back(std::move(name));
}

bool CompleteDrop(DropState& drop, float x, float y, bool altHeld) {
    drop.receiving = false;
    drop.dropX = x;
    drop.dropY = y;
    drop.hoverFolder = drop.hoverAudio = drop.hoverVideo = false;
    bool tookSound = false;
    for (std::string& name : drop.receivingNames) {
        switch (ClassifyDroppedName(name)) {
            case DroppedKind::Video:
                drop.droppedVideo = std::move(name);  // a later video replaces an earlier one
                drop.hoverVideo = true;
                break;
            case DroppedKind::Folder:
                drop.droppedFolderPaths.push_back(std::move(name));
                drop.hoverFolder = true;
                break;
            case DroppedKind::Sound:
                drop.arrivingAudio.push_back(std::move(name));
                drop.hoverAudio = tookSound = true;
                break;
            case DroppedKind::Ignored:
                break;
        }
    }
    drop.receivingNames.clear();
    // Sounds joining a drop that is still held follow that drop's Alt.
    if (tookSound && drop.droppedAudio.empty()) drop.altAtDrop = altHeld;
    drop.dragAltHeld = altHeld;
    return drop.hoverFolder || drop.hoverAudio || drop.hoverVideo;
}

void EndDropHoverFrame(DropState& drop) {
    if (!drop.arrivingAudio.empty()) {
        if (drop.droppedAudio.empty()) {
            drop.heldOverLibrary = drop.dropOverLibrary;
            drop.heldTargetScene = drop.dropTargetScene;
            drop.heldOverInspector = drop.dropOverInspector;
        }
        drop.droppedAudio.insert(drop.droppedAudio.end(), drop.arrivingAudio.begin(), drop.arrivingAudio.end());
        drop.arrivingAudio.clear();
    }
    // The panels set these again in the frame of the next drop.
    drop.hoverFolder = drop.hoverAudio = drop.hoverVideo = false;
    drop.dragAltHeld = false;
    drop.dropOverLibrary = false;
    drop.dropOverInspector = false;
    drop.dropTargetScene = -1;
}

// [SECTION] Dropped sound files

namespace {

bool IsBedEvent(const Project& project, std::int32_t index) {
    return index >= 0 && index < static_cast<std::int32_t>(project.events.size()) &&
           IsKind(project.events[static_cast<std::size_t>(index)].shape, EventKind::Bed);
}

// The selection is exactly one event, a Bed.
bool SelectedBedOnly(const AppState& state, const Project& project) {
    return state.selectedEvents.size() == 1 && IsBedEvent(project, *state.selectedEvents.begin());
}

bool IsEventIndex(const Project& project, std::int32_t index) {
    return index >= 0 && index < static_cast<std::int32_t>(project.events.size());
}

void MakePaletteOfDrop(AppState& state, Library& library, const std::vector<std::string>& files) {
    if (CreatePaletteFromFiles(library, files, std::string(), std::string()) < 1 || library.palettes.empty()) return;
    state.renamingPaletteIndex = static_cast<std::int32_t>(library.palettes.size()) - 1;
    CopyText(state.paletteRenameBuffer, library.palettes.back().name);
    state.paletteRenameFocus = true;
}

void AddLayersToBed(AppState& state, Project& project, Library& library, std::int32_t bed,
                    const std::vector<std::string>& files, const DropOperations& operations) {
    if (operations.addBedLayerFiles) operations.addBedLayerFiles(project, bed, files, &library);
    state.unsavedChanges = true;
    state.pendingBedLayout = bed;
}

void PlaceClips(AppState& state, Project& project, PlaybackEngine& engine, const std::vector<std::string>& files,
                const DropOperations& operations) {
    state.selectedEvents.clear();
    state.selectedEvent = -1;
    for (const std::string& path : files) {
        const std::int32_t index = operations.addEvent ? operations.addEvent(project, state.playhead,
                                                                             KindValue(EventKind::Clip),
                                                                             kClipWeightCenter)
                                                       : -1;
        if (!IsEventIndex(project, index)) continue;
        {
            Event& clip = project.events[static_cast<std::size_t>(index)];
            CopyText(clip.pinnedFile, path);
            clip.pinnedFileId = ComputeFileId(path).id;
            clip.usePinnedFile = true;
            clip.locked = true;
        }
        {
            // The one writer of layers while no job runs, but the layer
            // storage is only ever moved under its lock.
            LayerStorageEdit edit(project);
            BuildClipEvent(project, index);
        }
        LoadWaveformOverview(path.c_str());
        Event& clip = project.events[static_cast<std::size_t>(index)];
        clip.duration = std::max(kMinimumClipDuration, clip.duration);
        for (const LayerResult& layer : project.results) {
            if (layer.eventIdx == index) clip.duration = std::max(kMinimumClipDuration, layer.duration);
        }
        state.selectedEvents.insert(index);
        state.selectedEvent = index;
    }

    AllocateTracks(project);
    UpdateGroupLaneCounts(project.trackLayout, project.results);
    engine.normalizeLUFS = project.normalizeLUFS;
    for (std::size_t group = 0; group < engine.groupTargetLUFS.size(); ++group) {
        engine.groupTargetLUFS[group] = project.trackLayout.groups[group].targetLUFS;
    }
    std::vector<float> gains;
    gains.reserve(project.events.size());
    for (const Event& event : project.events) gains.push_back(event.gain);

    engine.ready.store(false, std::memory_order_release);
    const auto eventCount = static_cast<std::int32_t>(project.events.size());
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        LayerResult& layer = project.results[i];
        if (state.selectedEvents.count(layer.eventIdx) == 0) continue;
        RenderLayerVoice(engine, layer, static_cast<std::int32_t>(i), state.projectSampleRate, gains.data(),
                         eventCount, project.events.data(), 0, 0, false);
    }
    NormalizeVoiceGains(engine, false);  // marks the engine ready again
    LocatePlayback(engine, state.playhead);
}

}  // namespace

DropOperations FrameDropOperations = {
    .addEvent = [](Project& project, float time, std::int32_t kind, float weightCenter) {
        return project.AddEvent(time, kind, weightCenter);
    },
    .addSceneBed = [](Project& project, std::int32_t scene) { return project.AddSceneBed(scene); },
    .addBedLayerFiles =
        [](Project& project, std::int32_t event, const std::vector<std::string>& paths, Library* library) {
            return AddBedLayerFiles(project, event, paths, library != nullptr ? &library->palettes : nullptr);
        },
};

DropRule ChooseDropRule(const AppState& state, const Project& project) {
    const DropState& drop = state.dropState;
    if (drop.droppedAudio.empty()) return DropRule::Idle;
    if (drop.heldOverLibrary) return DropRule::NewPalette;
    if (drop.heldTargetScene >= 0 && drop.heldTargetScene < static_cast<std::int32_t>(project.scenes.size())) {
        return DropRule::SceneBed;
    }
    if (drop.heldOverInspector && IsBedEvent(project, state.selectedEvent)) return DropRule::InspectorBed;
    if (drop.altAtDrop) return DropRule::AltBed;
    return DropRule::Clips;
}

DropRule HandleDroppedAudio(AppState& state, Project& project, Library& library, PlaybackEngine& engine,
                            const DropOperations& operations) {
    DropState& drop = state.dropState;
    if (drop.droppedAudio.empty()) return DropRule::Idle;
    // Jobs and the export read the project and the voices: the drop waits.
    if (!UiMayEditProject(state)) return DropRule::Idle;
    DropRule rule = ChooseDropRule(state, project);
    // A rule whose project operation is not handed in makes no edit at all,
    // not even an empty undo step.
    if ((rule == DropRule::SceneBed && (!operations.addSceneBed || !operations.addBedLayerFiles)) ||
        ((rule == DropRule::InspectorBed || rule == DropRule::AltBed) && !operations.addBedLayerFiles) ||
        (rule == DropRule::Clips && !operations.addEvent) ||
        (rule == DropRule::AltBed && !operations.addEvent && !SelectedBedOnly(state, project))) {
        rule = DropRule::Idle;
    }
    const std::vector<std::string> files = std::move(drop.droppedAudio);
    drop.droppedAudio.clear();

    switch (rule) {
        case DropRule::NewPalette:
            MakePaletteOfDrop(state, library, files);
            break;
        case DropRule::SceneBed: {
            PushUndo();
            const std::int32_t bed =
                operations.addSceneBed ? operations.addSceneBed(project, drop.heldTargetScene) : -1;
            if (IsEventIndex(project, bed)) {
                AddLayersToBed(state, project, library, bed, files, operations);
                state.SelectEvent(bed);
            }
            break;
        }
        case DropRule::InspectorBed:
            PushUndo();
            AddLayersToBed(state, project, library, state.selectedEvent, files, operations);
            break;
        case DropRule::AltBed: {
            PushUndo();
            std::int32_t bed = -1;
            if (SelectedBedOnly(state, project)) {
                bed = *state.selectedEvents.begin();
            } else if (operations.addEvent) {
                bed = operations.addEvent(project, state.playhead, KindValue(EventKind::Bed), kClipWeightCenter);
                if (IsEventIndex(project, bed)) project.events[static_cast<std::size_t>(bed)].locked = true;
            }
            if (IsEventIndex(project, bed)) {
                AddLayersToBed(state, project, library, bed, files, operations);
                state.SelectEvent(bed);
            }
            break;
        }
        case DropRule::Clips:
            PushUndo();
            PlaceClips(state, project, engine, files, operations);
            break;
        case DropRule::Idle:
            break;
    }

    drop.altAtDrop = false;
    drop.dropTargetScene = -1;
    drop.heldOverLibrary = false;
    drop.heldTargetScene = -1;
    drop.heldOverInspector = false;
    return rule;
}

}  // namespace korvel
