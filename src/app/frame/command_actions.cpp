// What each command does. UI thread; the frame runs at most one a frame,
// and while a job or an export reads the project only the commands that
// pass the job filter get here.
//
// [SECTION] Helpers
// [SECTION] Transport, history and the clipboard
// [SECTION] Selection, view and editing
// [SECTION] Work area, scenes and new events
// [SECTION] Trace review
// [SECTION] Project files, tabs and dialogs
// [SECTION] Dispatch and audio focus
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "app/background_job.h"
#include "app/commands.h"
#include "app/frame/command_actions.h"
#include "app/frame_work.h"
#include "engine/render_job.h"
#include "engine/track_allocation.h"
#include "engine/voice_sync.h"
#include "picture/markers.h"
#include "picture/timecode.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/chains.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/bounce.h"
#include "project/event_curves.h"
#include "project/event_editing.h"
#include "project/project.h"
#include "project/project_life.h"
#include "project/undo.h"
#include "ui/timeline/event_menu.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

double LastNudgeTime = -1.0e9;

namespace {

// [SECTION] Helpers

// Nudges closer together than this make one undo step.
constexpr double kNudgeJoinSeconds = 0.5;

Event& EventAt(Project& project, std::int32_t index) { return project.events[static_cast<std::size_t>(index)]; }

float ProjectEnd(const Project& project) { return std::max(project.totalDuration, 0.0f); }

void SeekVideo(float t) {
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Seek(t);
}

void StopPlayback(AppState& state) {
    if (!state.playing) return;
    state.playing = false;
    LivePlaybackEngine.playing.store(false);
    if (GlobalVideoPlayer.loaded) GlobalVideoPlayer.Pause();
}

void ClearSelection(AppState& state) {
    state.selectedEvents.clear();
    state.selectedEvent = -1;
}

// [SECTION] Transport, history and the clipboard

void PlayPause(AppState& state) {
    state.playing = !state.playing;
    VideoPlayer& video = GlobalVideoPlayer;
    if (video.loaded) {
        const bool inside =
            state.playhead >= video.timelineOffset && state.playhead < video.timelineOffset + video.duration;
        if (state.playing && inside) video.Play();
        else video.Pause();
    }
    PlaybackEngine& engine = LivePlaybackEngine;
    if (engine.ready.load(std::memory_order_acquire)) {
        LocatePlayback(engine, static_cast<double>(state.playhead));
        engine.playing.exchange(state.playing);
    }
}

void UndoOrRedo(AppState& state, bool redo) {
    if ((redo ? RedoStack : UndoStack).empty()) return;
    if (redo) Redo();
    else Undo();
    ClearSelection(state);
    state.expandedEvent = -1;
    if (CurrentProject.built) SyncVoicesToResults();
    PostStatus(redo ? "Redo" : "Undo", 1.5f);
}

}  // namespace

void CopySelection(bool cut) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const std::vector<std::int32_t> selection = state.ValidSelectedEvents(project.events);
    if (selection.empty()) return;
    if (cut) PushUndo();

    state.clipboardEvents.clear();
    state.clipboardEventIndices.clear();
    state.clipboardLayers.clear();
    state.clipboardVoices.clear();
    state.clipboardBaseTime = EventAt(project, selection.front()).time;
    std::unordered_map<std::int32_t, bool> copiedIds;
    for (std::int32_t index : selection) {
        const Event& event = EventAt(project, index);
        state.clipboardBaseTime = std::min(state.clipboardBaseTime, event.time);
        state.clipboardEvents.push_back(event);
        state.clipboardEventIndices.push_back(index);
        for (const LayerResult& layer : project.results) {
            if (layer.eventIdx != index) continue;
            state.clipboardLayers.push_back(layer);
            copiedIds[layer.id] = true;
        }
    }
    {
        PlaybackEngine& engine = LivePlaybackEngine;
        std::lock_guard lock(engine.voiceMutex);
        for (const Voice& voice : engine.voices) {
            if (copiedIds.count(voice.resultId) != 0) state.clipboardVoices.push_back(voice);
        }
    }
    if (cut) {
        // The undo step was taken above, before the copy: one step in all.
        const auto oldCount = static_cast<std::int32_t>(project.events.size());
        std::vector<std::int32_t> deleted;
        for (auto it = selection.rbegin(); it != selection.rend(); ++it) {
            project.DeleteEvent(*it);
            state.RemoveEventFromSelection(*it);
            deleted.push_back(*it);
        }
        state.selectedEvents.clear();
        const auto count = static_cast<std::int32_t>(project.events.size());
        if (count == 0) state.selectedEvent = -1;
        else state.selectedEvent = std::min(state.selectedEvent, count - 1);
        RemoveEventVoices(deleted, oldCount);
        CheckRenderCacheIntegrity();
        LocatePlayback(LivePlaybackEngine, static_cast<double>(state.playhead));
    }
}

void PasteClipboard() {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    if (state.clipboardEvents.empty()) return;
    PushUndo();
    const float offset = state.playhead - state.clipboardBaseTime;
    ClearSelection(state);

    // Each event keeps its own shift: a time clamped to the project moves
    // that event's layers and voices by the clamped amount, so they stay on
    // it.
    struct Pasted {
        std::int32_t newIndex = -1;
        float shift = 0.0f;
    };
    std::map<std::int32_t, Pasted> byOldIndex;
    const bool withLayers = !state.clipboardLayers.empty();
    for (std::size_t i = 0; i < state.clipboardEvents.size(); ++i) {
        Event copy = state.clipboardEvents[i];
        const float original = copy.time;
        copy.time = std::clamp(original + offset, 0.0f, ProjectEnd(project));
        copy.sceneLink = -1;
        if (withLayers) copy.locked = true;
        project.events.push_back(std::move(copy));
        const auto newIndex = static_cast<std::int32_t>(project.events.size()) - 1;
        const std::int32_t oldIndex =
            i < state.clipboardEventIndices.size() ? state.clipboardEventIndices[i] : -1 - static_cast<std::int32_t>(i);
        byOldIndex[oldIndex] = {newIndex, project.events.back().time - original};
        state.selectedEvents.insert(newIndex);
        if (state.selectedEvent == -1) state.selectedEvent = newIndex;
    }

    struct NewLayer {
        std::int32_t id = 0;
        std::int32_t eventIndex = -1;
        float shift = 0.0f;
        float fadeIn = 0.02f;
        float fadeOut = 0.04f;
    };
    std::unordered_map<std::int32_t, NewLayer> byOldId;
    for (const LayerResult& layer : state.clipboardLayers) {
        const auto it = byOldIndex.find(layer.eventIdx);
        if (it == byOldIndex.end()) continue;
        LayerResult copy = layer;
        copy.id = NextLayerId();
        copy.eventIdx = it->second.newIndex;
        copy.startTime += it->second.shift;
        byOldId[layer.id] = {copy.id, it->second.newIndex, it->second.shift, layer.fadeIn, layer.fadeOut};
        project.results.push_back(std::move(copy));
    }

    PlaybackEngine& engine = LivePlaybackEngine;
    if (!state.clipboardVoices.empty()) {
        for (const Voice& voice : state.clipboardVoices) {
            const auto it = byOldId.find(voice.resultId);
            if (it == byOldId.end()) continue;
            const NewLayer& target = it->second;
            const Event& event = EventAt(project, target.eventIndex);
            Voice copy = voice;
            copy.resultId = target.id;
            copy.startTime += target.shift;
            copy.eventIndex = target.eventIndex;
            copy.eventGain = event.gain;
            copy.reverbSend = event.reverbSend;
            // A voice holds its own copy of its event's curve, never a
            // pointer into the events, which move on every append.
            if (copy.eventCurve) copy.eventCurve = std::make_shared<const CurvePoints>(event.intensity);
            AppendVoice(engine, std::move(copy), target.fadeIn, target.fadeOut);
        }
    }

    RemapVoicesToResults();
    {
        std::lock_guard lock(engine.voiceMutex);
        ++engine.revision;
    }
    AllocateTracks(project);
    UpdateGroupLaneCounts(project.trackLayout, project.results);
    CheckRenderCacheIntegrity();
    LocatePlayback(engine, static_cast<double>(state.playhead));
}

void StepOrNudge(std::int32_t direction) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    StopPlayback(state);
    const std::vector<std::int32_t> selection = state.ValidSelectedEvents(project.events);
    if (!selection.empty()) {
        const double now = UiClockSeconds();
        if (now - LastNudgeTime > kNudgeJoinSeconds) PushUndo();
        LastNudgeTime = now;
        // A rate not above 0 would make the step infinite.
        const float fps = ProjectFrameRate(project.fps);
        const float step = static_cast<float>(direction) / fps;
        std::vector<std::pair<std::int32_t, float>> moves;
        for (std::int32_t index : selection) {
            Event& event = EventAt(project, index);
            const float before = event.time;
            event.time = std::clamp(before + step, 0.0f, ProjectEnd(project));
            const float moved = event.time - before;
            if (moved == 0.0f) continue;
            moves.emplace_back(index, moved);
            for (LayerResult& layer : project.results) {
                if (layer.eventIdx == index) layer.startTime += moved;
            }
        }
        if (!moves.empty()) {
            PlaybackEngine& engine = LivePlaybackEngine;
            std::lock_guard lock(engine.voiceMutex);
            for (Voice& voice : engine.voices) {
                for (const auto& [index, moved] : moves) {
                    if (voice.eventIndex == index) voice.startTime += moved;
                }
            }
        }
        const auto count = static_cast<std::int32_t>(project.events.size());
        if (state.selectedEvent >= 0 && state.selectedEvent < count) {
            state.playhead = EventAt(project, state.selectedEvent).time;
        }
    } else {
        StepPlayheadFrames(state.playhead, project.fps, project.totalDuration, direction);
    }
    SeekVideo(state.playhead);
    LocatePlayback(LivePlaybackEngine, static_cast<double>(state.playhead));
}

namespace {

// [SECTION] Selection, view and editing

void Escape(AppState& state, const Project& project) {
    if (state.eventLaneExpanded) {
        state.eventLaneExpanded = false;
    } else if (state.unsavedPromptState >= 1) {
        state.unsavedPromptState = 0;
    } else if (IsTraceReviewMode(state) && (!state.selectedDetections.empty() || !state.selectedMarkers.empty())) {
        state.selectedDetections.clear();
        state.selectedMarkers.clear();
        state.activeTraceMarkerKind = -1;
        state.activeTraceMarkerIndex = -1;
    } else if (state.curveDrawMode) {
        ToggleCurveDrawMode(state, project);
    } else if (state.workAreaScene >= 0) {
        state.workAreaScene = -1;
        state.workAreaIn = -1.0f;
        state.workAreaOut = -1.0f;
        state.sceneZoomSavedStart = -1.0f;
        state.sceneZoomSavedSpan = -1.0f;
    } else if (!state.selectedEvents.empty()) {
        ClearSelection(state);
    }
}

void DrawMode(AppState& state, const Project& project) {
    if (!state.curveDrawMode) {
        if (state.selectedEvents.size() != 1) return;
        const auto count = static_cast<std::int32_t>(project.events.size());
        if (state.selectedEvent >= 0 && state.selectedEvent < count) {
            const std::int32_t kind = project.events[static_cast<std::size_t>(state.selectedEvent)].shape;
            if (IsKind(kind, EventKind::Spot) || IsKind(kind, EventKind::Clip)) return;
        }
    }
    ToggleCurveDrawMode(state, project);
}

void SelectNeighbour(AppState& state, const Project& project, std::int32_t direction) {
    const auto n = static_cast<std::int32_t>(project.events.size());
    if (n == 0) return;
    std::vector<std::int32_t> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return project.events[static_cast<std::size_t>(a)].time < project.events[static_cast<std::size_t>(b)].time;
    });
    const auto at = std::find(order.begin(), order.end(), state.selectedEvent);
    std::int32_t position = 0;
    if (at == order.end()) {
        position = direction < 0 ? n - 1 : 0;
    } else {
        position = std::clamp(static_cast<std::int32_t>(at - order.begin()) + direction, 0, n - 1);
    }
    const std::int32_t index = order[static_cast<std::size_t>(position)];
    state.SelectEvent(index);
    state.scrollToSelection = true;
    if (state.playing) return;
    const Event& event = project.events[static_cast<std::size_t>(index)];
    state.playhead = std::clamp(event.time, 0.0f, ProjectEnd(project));
    LocatePlayback(LivePlaybackEngine, static_cast<double>(state.playhead));
    SeekVideo(state.playhead);
    const float spanStart = event.time - event.syncOffset;
    const float spanEnd = spanStart + event.duration;
    if (spanStart < state.viewStart || spanEnd > state.viewEnd) {
        const float span = state.ViewSpan();
        state.viewStart = std::clamp(event.time - span / 2.0f, 0.0f, std::max(project.totalDuration - span, 0.0f));
        state.viewEnd = state.viewStart + span;
    }
}

void MuteToggle(AppState& state, Project& project) {
    const std::vector<std::int32_t> selection = state.ValidSelectedEvents(project.events);
    if (selection.empty()) return;
    PushUndo();
    const bool mute = std::any_of(selection.begin(), selection.end(),
                                  [&](std::int32_t index) { return !EventAt(project, index).muted; });
    for (std::int32_t index : selection) EventAt(project, index).muted = mute;

    std::unordered_map<std::int32_t, const LayerResult*> byId;
    for (const LayerResult& layer : project.results) byId[layer.id] = &layer;
    const auto count = static_cast<std::int32_t>(project.events.size());
    PlaybackEngine& engine = LivePlaybackEngine;
    std::lock_guard lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        const bool eventMuted = voice.eventIndex >= 0 && voice.eventIndex < count && EventAt(project, voice.eventIndex).muted;
        const auto layer = byId.find(voice.resultId);
        const bool layerMuted = layer != byId.end() && layer->second->muted;
        voice.muted = eventMuted || layerMuted;
    }
}

void Render(AppState& state, const Project& project) {
    if (project.events.empty() || !UiMayEditProject(state)) return;
    PushUndo();
    state.pendingRenderMode = kRenderBuild;
}

// UI thread: this frame's key command, the command taken, kept between the
// frame's two command steps, and the request to let go of the UI's input.
std::int32_t FrameKeyCommand = 0;
std::int32_t FrameTakenCommand = 0;
bool CommandInputRelease = false;

void RequestCommandInputRelease() { CommandInputRelease = true; }

// [SECTION] Work area, scenes and new events

// The work area is kept in the project file: changing it is a change to
// protect, though not one to undo.
void SetInPoint(AppState& state) {
    if (state.workAreaIn >= 0.0f && std::fabs(state.workAreaIn - state.playhead) < 0.0001f) {
        state.workAreaIn = -1.0f;
    } else {
        state.workAreaIn = state.playhead;
        if (state.workAreaOut >= 0.0f && state.workAreaOut <= state.playhead) state.workAreaOut = -1.0f;
    }
    state.workAreaScene = -1;
    state.unsavedChanges = true;
}

void SetOutPoint(AppState& state) {
    if (state.workAreaOut >= 0.0f && std::fabs(state.workAreaOut - state.playhead) < 0.0001f) {
        state.workAreaOut = -1.0f;
    } else {
        state.workAreaOut = state.playhead;
        if (state.workAreaIn >= 0.0f && state.workAreaIn >= state.playhead) state.workAreaIn = -1.0f;
    }
    state.workAreaScene = -1;
    state.unsavedChanges = true;
}

void ClearWorkArea(AppState& state) {
    if (!state.HasWorkArea()) return;
    state.workAreaIn = -1.0f;
    state.workAreaOut = -1.0f;
    state.workAreaScene = -1;
    state.unsavedChanges = true;
}

void SaveScene(AppState& state, Project& project) {
    if (!state.HasWorkArea()) {
        state.sceneDrawArmed = !state.sceneDrawArmed;
        return;
    }
    if (state.workAreaScene >= 0) return;
    Scene scene;
    std::snprintf(scene.name, sizeof(scene.name), "Scene %d", static_cast<int>(project.scenes.size()) + 1);
    scene.inTime = state.workAreaIn;
    scene.outTime = state.workAreaOut;
    if (state.sceneKeywordTemplate[0] != '\0') {
        std::snprintf(scene.keywords, sizeof(scene.keywords), "%s", state.sceneKeywordTemplate);
    }
    project.scenes.push_back(scene);

    SortScenes(project);
    for (std::size_t i = 0; i < project.scenes.size(); ++i) {
        const Scene& s = project.scenes[i];
        if (s.inTime != state.workAreaIn || s.outTime != state.workAreaOut) continue;
        state.workAreaScene = static_cast<std::int32_t>(i);
        state.renamingScene = state.workAreaScene;
        std::snprintf(state.sceneNameBuffer, sizeof(state.sceneNameBuffer), "%s", s.name);
        state.sceneNameFocus = true;
        state.backgroundAfterRename = true;
        break;
    }
    state.unsavedChanges = true;
}

void CreateEvent(AppState& state, Project& project, std::int32_t kind) {
    const std::int32_t index = project.AddEvent(state.playhead, kind, 0.3f);
    if (index < 0) return;
    Event& event = EventAt(project, index);
    if (state.sceneKeywordTemplate[0] != '\0') {
        std::snprintf(event.keywords, sizeof(event.keywords), "%s", state.sceneKeywordTemplate);
    }
    if (IsKind(kind, EventKind::Fill)) {
        event.intensityMode = state.lastIntensityMode;
        if (event.intensityMode == kIntensityFlat) FillCurve(event.intensity, 0.5f);
    }
    state.SelectEvent(index);
    state.unsavedChanges = true;
}

// [SECTION] Trace review

void TraceSelectAll(AppState& state) {
    state.selectedDetections.clear();
    state.selectedMarkers.clear();
    if (TraceReadValid(state) && state.traceSourceFilter != 1) {
        for (std::size_t i = 0; i < state.traceAnalysis.events.size(); ++i)
            state.selectedDetections.push_back(static_cast<std::int32_t>(i));
    }
    if (!state.markerEvents.empty() && state.traceSourceFilter != 0) {
        for (std::size_t i = 0; i < state.markerEvents.size(); ++i)
            state.selectedMarkers.push_back(static_cast<std::int32_t>(i));
    }
}

void TraceAccept(AppState& state, bool accept) {
    for (std::int32_t i : state.selectedDetections) {
        if (i >= 0 && static_cast<std::size_t>(i) < state.traceAnalysis.events.size())
            state.traceAnalysis.events[static_cast<std::size_t>(i)].accepted = accept;
    }
    for (std::int32_t i : state.selectedMarkers) {
        if (i >= 0 && static_cast<std::size_t>(i) < state.markerEvents.size())
            state.markerEvents[static_cast<std::size_t>(i)].enabled = accept;
    }
}

void TraceImport(AppState& state) {
    if (state.selectedDetections.empty() && state.selectedMarkers.empty()) return;
    state.traceMenuDetections = state.selectedDetections;
    state.traceMenuMarkers = state.selectedMarkers;
    state.traceImportRequested = true;
}

// [SECTION] Project files, tabs and dialogs

bool HasUnsavedWork(const AppState& state) { return state.unsavedChanges && !CurrentProject.events.empty(); }

void NewOrClose(AppState& state) {
    if (HasUnsavedWork(state)) {
        // The prompt's pending action is then a new project.
        state.quitAfterPrompt = false;
        state.parkedOpenPath.clear();
        state.openThroughDialog = false;
        state.unsavedPromptState = 1;
        return;
    }
    NewProject();
}

void Open(AppState& state) {
    if (!state.platformHooks.openFileDialog) return;
    if (HasUnsavedWork(state)) {
        state.quitAfterPrompt = false;
        state.parkedOpenPath.clear();
        state.openThroughDialog = true;
        state.unsavedPromptState = 1;
        return;
    }
    const std::string path = state.platformHooks.openFileDialog("Open Korvel Project", "kvproj");
    if (!path.empty()) OpenProject(path);
}

void OpenRecent(AppState& state, std::int32_t position) {
    if (position < 0 || static_cast<std::size_t>(position) >= state.recentProjects.size()) return;
    const std::string path = state.recentProjects[static_cast<std::size_t>(position)];
    if (HasUnsavedWork(state)) {
        state.quitAfterPrompt = false;
        state.openThroughDialog = false;
        state.parkedOpenPath = path;
        state.unsavedPromptState = 1;
        return;
    }
    OpenProject(path);
}

void Save(AppState& state, bool askForPath) {
    if (!state.platformHooks.saveFileDialog) return;
    if (!askForPath) {
        if (CurrentProject.events.empty()) return;
        if (!state.projectPath.empty()) {
            SaveProject(state.projectPath);
            RequestCommandInputRelease();
            return;
        }
    }
    const std::string path =
        state.platformHooks.saveFileDialog(askForPath ? "Save Korvel Project As" : "Save Korvel Project", "kvproj");
    if (!path.empty()) SaveProject(path);
    RequestCommandInputRelease();
}

void UserGuide(AppState& state) {
    if (!state.platformHooks.openDocument) return;
    const std::string path = state.executableFolder + "/Korvel User Guide.pdf";
    std::error_code error;
    if (std::filesystem::exists(path, error)) state.platformHooks.openDocument(path);
}

void ImportVideo(AppState& state) {
    if (!state.platformHooks.openVideoDialog) return;
    const std::string path = state.platformHooks.openVideoDialog();
    if (!path.empty()) state.dropState.droppedVideo = path;
}

void ImportMarkers(AppState& state) {
    if (!state.platformHooks.openFileDialog) return;
    const std::string path = state.platformHooks.openFileDialog("Import Pro Tools Session Text", "txt");
    if (path.empty()) return;
    state.markerSourcePath = path;
    state.markerEvents.clear();
    std::vector<std::string> recipeNames;
    recipeNames.reserve(RecipeList.size());
    for (const EventPreset& recipe : RecipeList) recipeNames.emplace_back(recipe.name);
    const float fps = ProjectFrameRate(CurrentProject.fps);
    MarkerReadReport report;
    ImportProToolsMarkers(path, fps, state.markerEvents, &state.markerScenes, recipeNames, &report);
    const std::string status =
        MarkerImportStatus(report, state.markerEvents.size() + state.markerScenes.size(), path);
    if (!status.empty()) PostStatus(status, kMarkerStatusSeconds);
    for (MarkerEvent& marker : state.markerEvents) marker.enabled = true;
    if (!state.markerEvents.empty()) {
        state.traceSourceFilter = -1;
        state.traceMarkersImported = true;
    }
    state.activeTab = 1;
}

}  // namespace

// [SECTION] Dispatch and audio focus

void PerformCommand(std::int32_t command) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const bool hasSelection = !state.ValidSelectedEvents(project.events).empty();
    switch (command) {
        case CmdPlayPause: PlayPause(state); break;
        case CmdEscape: Escape(state, project); break;
        case CmdUndo: UndoOrRedo(state, false); break;
        case CmdRedo: UndoOrRedo(state, true); break;
        case CmdCut: CopySelection(true); break;
        case CmdCopy: CopySelection(false); break;
        case CmdPaste: PasteClipboard(); break;
        case CmdDelete:
            if (hasSelection) DeleteSelection(state, project);
            break;
        case CmdSelectAll:
            for (std::int32_t i = 0; i < static_cast<std::int32_t>(project.events.size()); ++i)
                state.selectedEvents.insert(i);
            if (state.selectedEvent == -1 && !project.events.empty()) state.selectedEvent = 0;
            break;
        case CmdSave: Save(state, false); break;
        case CmdDrawMode: DrawMode(state, project); break;
        case CmdStepBack: StepOrNudge(-1); break;
        case CmdStepForward: StepOrNudge(1); break;
        case CmdZoomIn: state.ZoomViewAbout(0.7f, state.playhead, project.totalDuration); break;
        case CmdZoomOut: state.ZoomViewAbout(1.4f, state.playhead, project.totalDuration); break;
        case CmdAudioFocus:
            if (!state.audioFocusActive) {
                state.audioFocusSavedStart = state.viewStart;
                state.audioFocusSavedEnd = state.viewEnd;
            } else if (state.audioFocusEvents == state.selectedEvents) {
                state.viewStart = state.audioFocusSavedStart;
                state.viewEnd = state.audioFocusSavedEnd;
                state.audioFocusActive = false;
                state.audioFocusEvents.clear();
                break;
            }
            if (ZoomToFitSelection(state, project)) {
                state.audioFocusActive = true;
                state.audioFocusEvents = state.selectedEvents;
            }
            break;
        case CmdToggleEventLanes: state.eventLaneExpanded = !state.eventLaneExpanded; break;
        case CmdSelectPrevious: SelectNeighbour(state, project, -1); break;
        case CmdSelectNext: SelectNeighbour(state, project, 1); break;
        case CmdMuteToggle: MuteToggle(state, project); break;
        case CmdGroup:
            if (hasSelection) GroupSelection(state, project);
            break;
        case CmdUngroup:
            if (hasSelection) UngroupSelection(state, project);
            break;
        case CmdRender: Render(state, project); break;
        case CmdSetInPoint: SetInPoint(state); break;
        case CmdSetOutPoint: SetOutPoint(state); break;
        case CmdClearWorkArea: ClearWorkArea(state); break;
        case CmdSaveScene: SaveScene(state, project); break;
        case CmdLockToggle:
            if (hasSelection) ToggleLockSelection(state, project);
            break;
        case CmdCreateSpot:
        case CmdCreateBloom:
        case CmdCreateContour:
        case CmdCreateFill: CreateEvent(state, project, command - CmdCreateSpot); break;
        case CmdTraceSelectAll: TraceSelectAll(state); break;
        case CmdTraceAccept: TraceAccept(state, true); break;
        case CmdTraceReject: TraceAccept(state, false); break;
        case CmdTraceImport: TraceImport(state); break;
        case CmdPlaceClip: PlaceAudioFileAtPlayhead(); break;
        case CmdPlaceBed: InsertBedAtPlayhead(); break;
        case CmdBounceToClip: BounceSelectionToClip(); break;
        case CmdNewProject:
        case CmdCloseProject: NewOrClose(state); break;
        case CmdOpenProject: Open(state); break;
        case CmdSaveAs: Save(state, true); break;
        case CmdExport:
        case CmdShowExport: state.activeTab = 4; break;
        case CmdSettings:
        case CmdShowSettings: state.activeTab = 5; break;
        case CmdShowEvents: state.activeTab = 0; break;
        case CmdShowTrace: state.activeTab = 1; break;
        case CmdShowLibrary: state.activeTab = 2; break;
        case CmdShowMixer: state.activeTab = 3; break;
        case CmdAbout: state.aboutOpen = !state.aboutOpen; break;
        case CmdUserGuide: UserGuide(state); break;
        case CmdProjectLauncher:
            state.launcherOpen = true;
            state.launcherDismissed = false;
            break;
        case CmdZoomToFit:
            state.viewStart = 0.0f;
            state.viewEnd = project.totalDuration;
            break;
        case CmdImportVideo: ImportVideo(state); break;
        case CmdImportMarkers: ImportMarkers(state); break;
        default:
            if (command >= CmdOpenRecent && command < CmdOpenRecent + 100) OpenRecent(state, command - CmdOpenRecent);
            else if (command >= CmdPlaceRecipe && command < CmdPlaceChain) PlaceRecipeAtPlayhead(command - CmdPlaceRecipe);
            else if (command >= CmdPlaceChain && command < CmdPlaceChain + 1000) PlaceChainAtPlayhead(command - CmdPlaceChain);
            break;
    }
}

void SetFrameKeyCommand(std::int32_t command) { FrameKeyCommand = command; }

void FrameCommands() {
    AppState& state = GlobalAppState;
    FrameTakenCommand = TakeMenuCommand(state, std::exchange(FrameKeyCommand, 0));
    if (FrameTakenCommand != 0 && !IsSecondGroupCommand(FrameTakenCommand)) {
        PerformCommand(std::exchange(FrameTakenCommand, 0));
    }
    FollowAudioFocus(state, CurrentProject);
}

void FrameCommandsSecondGroup() {
    const std::int32_t command = std::exchange(FrameTakenCommand, 0);
    if (command != 0) PerformCommand(command);
}

void InstallFrameCommandSteps() {
    FrameCommandSteps.first = FrameCommands;
    FrameCommandSteps.second = FrameCommandsSecondGroup;
}

bool TakeCommandInputRelease() { return std::exchange(CommandInputRelease, false); }

void FollowAudioFocus(AppState& state, const Project& project) {
    if (!state.audioFocusActive || state.selectedEvents == state.audioFocusEvents) return;
    if (!state.audioFocusLatched || state.selectedEvents.empty()) {
        state.viewStart = state.audioFocusSavedStart;
        state.viewEnd = state.audioFocusSavedEnd;
        state.audioFocusActive = false;
        state.audioFocusEvents.clear();
        return;
    }
    if (ZoomToFitSelection(state, project)) {
        state.audioFocusEvents = state.selectedEvents;
    }
}

}  // namespace korvel
