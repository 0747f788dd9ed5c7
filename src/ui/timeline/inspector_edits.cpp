#include "ui/timeline/inspector_edits.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "app/frame_work.h"
#include "engine/build_routines.h"
#include "engine/render_job.h"
#include "engine/track_allocation.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "playback/render_cache.h"
#include "playback/playback_engine.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"

namespace korvel {

Event* FindEvent(Project& project, std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(project.events.size())) return nullptr;
    return &project.events[static_cast<std::size_t>(index)];
}

void ToggleEventMute(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index) {
    Event* event = FindEvent(project, index);
    if (event == nullptr) return;
    event->muted = !event->muted;
    ++project.revision;
    state.unsavedChanges = true;
    SyncEventVoiceMutes(project, engine, {index});
}

void SyncEventVoiceMutes(const Project& project, PlaybackEngine& engine, const std::vector<std::int32_t>& events) {
    const auto layers = static_cast<std::int32_t>(project.results.size());
    // The mixer reads voice flags only while it holds this lock, as it does
    // for their start times.
    std::lock_guard<std::mutex> lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        if (voice.resultIndex < 0 || voice.resultIndex >= layers) continue;
        if (!std::binary_search(events.begin(), events.end(), voice.eventIndex)) continue;
        const Event* event = voice.eventIndex < static_cast<std::int32_t>(project.events.size())
                                 ? &project.events[static_cast<std::size_t>(voice.eventIndex)]
                                 : nullptr;
        if (event == nullptr) continue;
        // The voice syncs' rule: a layer dropped by track allocation stays
        // silent when its event is unmuted.
        voice.muted = event->muted || IsLayerSilenced(project.results[static_cast<std::size_t>(voice.resultIndex)]);
    }
}

void ToggleEventLock(AppState& state, Event& event) {
    event.locked = !event.locked;
    state.unsavedChanges = true;
}

bool CanRebuildEvent(const AppState& state, const Project& project) {
    return project.built && !state.backgroundJob.active.load();
}

bool RequestEventRebuild(AppState& state, Project& project, std::int32_t index) {
    Event* event = FindEvent(project, index);
    if (event == nullptr || !CanRebuildEvent(state, project)) return false;
    PushUndo();
    event->locked = false;
    state.pendingRenderMode = kRenderRebuildEvent;
    state.pendingRenderEvents = {index};
    return true;
}

void ClearSelectionPaletteFilter(AppState& state, Project& project) {
    for (std::int32_t index : state.selectedEvents) {
        Event* event = FindEvent(project, index);
        if (event == nullptr || event->libFilter[0] == '\0') continue;
        event->libFilter[0] = '\0';
        state.unsavedChanges = true;
    }
}

void ClearEventPins(AppState& state, Event& event) {
    if (event.pinnedFiles.empty() && event.pinnedFileIds.empty()) return;
    event.pinnedFiles.clear();
    event.pinnedFileIds.clear();
    state.unsavedChanges = true;
}

namespace {

// Stores `value` and marks the project changed when it differs.
template <typename T>
void Store(AppState& state, T& field, T value) {
    if (field == value) return;
    field = value;
    state.unsavedChanges = true;
}

}  // namespace

void DragWeightOffset(AppState& state, Event& event, float dy, float eh) {
    if (dy == 0.0f || eh <= 0.0f) return;
    Store(state, event.weightOffset, std::clamp(event.weightOffset - dy / eh, -1.0f, 1.0f));
    Store(state, event.locked, false);
}

void DragIntensityScale(AppState& state, Event& event, float dy, float eh) {
    if (dy == 0.0f || eh <= 0.0f) return;
    Store(state, event.intensityScale, std::clamp(event.intensityScale - 2.0f * dy / eh, 0.0f, 2.0f));
    Store(state, event.locked, false);
}

void ResetWeightOffset(AppState& state, Event& event) { Store(state, event.weightOffset, 0.0f); }

void ResetIntensityScale(AppState& state, Event& event) { Store(state, event.intensityScale, 1.0f); }

void MoveSyncPoint(AppState& state, Event& event, float u) {
    event.syncOffset = std::clamp(u, 0.0f, 1.0f) * event.duration;
    if (!IsKind(event.shape, EventKind::Spot)) event.EnsureDefaultIntensityCurve();
    if (!state.playing) {
        state.playhead = event.time;
        GlobalVideoPlayer.Seek(event.time);
    }
}

float GainToDb(float gain) { return gain <= 0.001f ? kGainFloorDb : 20.0f * std::log10(gain); }

void SetEventGainDb(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index, float db) {
    Event* event = FindEvent(project, index);
    if (event == nullptr) return;
    const float gain = std::clamp(std::pow(10.0f, std::clamp(db, kGainFloorDb, 0.0f) / 20.0f), 0.0f, 1.0f);
    if (gain == event->gain) return;
    event->gain = gain;
    state.unsavedChanges = true;
    std::lock_guard<std::mutex> lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        if (voice.eventIndex == index) voice.eventGain = gain;
    }
}

void SetPitchVariation(AppState& state, Event& event, float semitones) {
    Store(state, event.pitchVariation, std::clamp(semitones / 24.0f, 0.0f, 1.0f));
    Store(state, event.locked, false);
}

void ToggleScaleTuning(AppState& state, Project& project, std::int32_t index) {
    Event* event = FindEvent(project, index);
    if (event == nullptr) return;
    PushUndo();
    const std::int32_t value = event->scaleTuneOverride < 2 ? 2 : 0;
    event->scaleTuneOverride = value;
    for (std::int32_t other : state.selectedEvents) {
        if (Event* e = FindEvent(project, other)) e->scaleTuneOverride = value;
    }
    if (project.results.empty()) return;
    // A refused start (a job or the picture read runs) leaves the request
    // to the frame, which retries.
    if (state.backgroundJob.active.load() || !RebuildCacheAsync("Updating scale tuning...", false)) {
        state.audioUpdateRequested.store(true);
    }
}

void SetFillLayers(AppState& state, Event& event, std::int32_t layers) {
    Store(state, event.fillLayers, std::clamp(layers, 1, 24));
    Store(state, event.locked, false);
}

void LinkEventScene(AppState& state, Event& event, std::int32_t scene) {
    Store(state, event.sceneLink, scene < 0 ? -1 : scene);
    if (scene >= 0) Store(state, event.locked, IsKind(event.shape, EventKind::Bed));
}

void SetSceneCrossfade(AppState& state, Event& event, std::int32_t frames) {
    Store(state, event.sceneCrossfade, std::clamp(frames, 0, 120));
}

void TraceCurvesFromPicture(AppState& state, Event& event, const TraceAnalysis& analysis, float videoOffset) {
    const float start = event.time - event.syncOffset - videoOffset;
    for (int i = 0; i < kCurvePoints; ++i) {
        const float t = start + static_cast<float>(i) * event.duration / 255.0f;
        event.intensity[static_cast<std::size_t>(i)] = std::clamp(2.0f * analysis.CompositeAt(t), 0.05f, 1.0f);
        event.weight[static_cast<std::size_t>(i)] = std::clamp(0.5f * analysis.LumaAt(t) + 0.3f, 0.05f, 0.95f);
    }
    event.locked = false;
    state.unsavedChanges = true;
}

void ToggleEventBus(Project& project, std::int32_t index) {
    Event* event = FindEvent(project, index);
    if (event == nullptr) return;
    // Regrouping and reallocating rewrite layers a job or export reads.
    if (!UiMayEditProject()) {
        PostStatus(kBusyEditStatus, 3.0f);
        return;
    }
    PushUndo();
    const std::int32_t group = EffectiveGroup(*event) == 2 ? 1 : 2;
    event->groupOverride = group == DefaultGroupForKind(event->shape) ? -1 : group;
    event->stereo = project.trackLayout.groups[static_cast<std::size_t>(group)].stereo;
    event->locked = false;
    RegroupLayers(project);
}

void RegroupLayers(Project& project) {
    const auto count = static_cast<std::int32_t>(project.events.size());
    for (LayerResult& layer : project.results) {
        if (layer.eventIdx >= 0 && layer.eventIdx < count) {
            layer.group = EffectiveGroup(project.events[static_cast<std::size_t>(layer.eventIdx)]);
        }
    }
    AllocateTracks(project);
}

}  // namespace korvel
