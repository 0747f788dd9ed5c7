// [SECTION] Shared steps
// [SECTION] One event's voices
// [SECTION] Patching after undo, deconfliction and deletion
// [SECTION] Integrity check
// [SECTION] Bed and Clip layers after analysis
#include "engine/voice_sync.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "engine/bed_event.h"
#include "engine/build_routines.h"
#include "engine/layer_render.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "engine/voice_gain.h"
#include "library/brightness_probe.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

// [SECTION] Shared steps

namespace {

bool ValidEvent(std::int32_t index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

std::unordered_map<std::int32_t, std::int32_t> MapLayerIds(const std::vector<LayerResult>& layers) {
    std::unordered_map<std::int32_t, std::int32_t> byId;
    byId.reserve(layers.size());
    // A later layer with the same id replaces an earlier one.
    for (std::size_t i = 0; i < layers.size(); ++i) byId[layers[i].id] = static_cast<std::int32_t>(i);
    return byId;
}

void RecountLanes(Project& project) {
    std::lock_guard lock(PublishedLayersMutex);
    for (TrackGroupLayout& group : project.trackLayout.groups) group.usedLanes = 0;
    UpdateGroupLaneCounts(project.trackLayout, project.results);
}

std::shared_ptr<const CurvePoints> EventCurve(const Project& project, std::int32_t eventIndex) {
    if (!ValidEvent(eventIndex, project.events.size())) return nullptr;
    return std::make_shared<const CurvePoints>(project.events[static_cast<std::size_t>(eventIndex)].intensity);
}

}  // namespace

// [SECTION] One event's voices

void RenderEvent(std::int32_t eventIndex) {
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    if (ValidEvent(eventIndex, project.events.size())) {
        const Event& event = project.events[static_cast<std::size_t>(eventIndex)];
        if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0')
            LoadWaveformOverview(std::string(event.pinnedFile, strnlen(event.pinnedFile, sizeof event.pinnedFile)).c_str());
    }
    {
        LayerStorageEdit edit(project);
        AllocateTracks(project);
        for (TrackGroupLayout& group : project.trackLayout.groups) group.usedLanes = 0;
        UpdateGroupLaneCounts(project.trackLayout, project.results);
    }
    const std::vector<float> gains = SetUpEngineForProject(engine, project);
    const auto eventCount = static_cast<std::int32_t>(project.events.size());
    RenderEventVoices(engine, eventIndex, project.results, GlobalAppState.projectSampleRate,
                      eventCount > 0 ? gains.data() : nullptr, eventCount,
                      eventCount > 0 ? project.events.data() : nullptr, project.scaleType, project.scaleRoot);
    RemapVoicesToResults();
}

void RenderEventVoices(PlaybackEngine& engine, std::int32_t eventIndex, std::vector<LayerResult>& layers,
                       std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                       const Event* events, std::int32_t scaleType, std::int32_t scaleRoot) {
    engine.ready.store(false, std::memory_order_release);
    {
        const VoiceListEdit edit(engine);
        engine.sampleRate = sampleRate;
        CompactVoicesLocked(engine, [eventIndex](const Voice& voice) { return voice.eventIndex != eventIndex; });
    }
    for (std::size_t j = 0; j < layers.size(); ++j) {
        if (layers[j].eventIdx != eventIndex) continue;
        RenderPublishedLayerVoice(engine, layers, j, sampleRate, eventGains, eventCount, events, scaleType, scaleRoot,
                                  false);
    }
    NormalizeVoiceGains(engine, false);
}

void RerenderLayerEvent(std::int32_t layerIndex) {
    const Project& project = CurrentProject;
    if (layerIndex < 0 || static_cast<std::size_t>(layerIndex) >= project.results.size()) return;
    RenderEvent(project.results[static_cast<std::size_t>(layerIndex)].eventIdx);
    CheckRenderCacheIntegrity();
    LocatePlayback(LivePlaybackEngine, GlobalAppState.playhead);
}

// [SECTION] Patching after undo, deconfliction and deletion

void SyncVoicesToResults() {
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    const std::vector<LayerResult>& layers = project.results;
    const auto byId = MapLayerIds(layers);
    const std::size_t eventCount = project.events.size();

    std::unordered_set<std::int32_t> voiced;
    {
        const VoiceListEdit edit(engine);
        CompactVoicesLocked(engine, [&](const Voice& voice) { return byId.count(voice.resultId) != 0; });
        for (Voice& voice : engine.voices) {
            const std::int32_t i = byId.at(voice.resultId);
            const LayerResult& layer = layers[static_cast<std::size_t>(i)];
            voice.startTime = layer.startTime + layer.deconOffset;
            voice.duration = layer.duration;
            voice.group = layer.group;
            // A layer dropped by track allocation stays silent, as when rendered.
            voice.muted = IsLayerSilenced(layer);
            voice.eventIndex = layer.eventIdx;
            voice.resultIndex = i;
            voice.gain = voice.baseGain = LayerVoiceGain(layer);
            if (ValidEvent(layer.eventIdx, eventCount)) {
                const Event& event = project.events[static_cast<std::size_t>(layer.eventIdx)];
                voice.eventGain = event.gain;
                voice.reverbSend = event.reverbSend;
                if (event.muted) voice.muted = true;
            }
            if (voice.eventCurveLength > 1) voice.eventCurve = EventCurve(project, voice.eventIndex);
            voiced.insert(voice.resultId);
        }
    }

    std::vector<std::int32_t> missing;
    // A layer that gets no voice by rule is not missing one: counting it
    // would render its event again on every undo.
    for (const LayerResult& layer : layers)
        if (layer.eventIdx >= 0 && LayerGetsVoice(layer) && voiced.count(layer.id) == 0)
            missing.push_back(layer.eventIdx);
    std::sort(missing.begin(), missing.end());
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());

    const std::size_t limit = std::max<std::size_t>(10, eventCount / 4);
    if (missing.size() > limit) {
        RebuildCache(false);
    } else {
        for (const std::int32_t event : missing) RenderEvent(event);
        RecountLanes(project);
        {
            std::lock_guard lock(engine.voiceMutex);
            engine.voiceCount.store(static_cast<std::int32_t>(engine.voices.size()), std::memory_order_release);
        }
        NormalizeVoiceGains(engine, false);
        CheckRenderCacheIntegrity();
    }
    LocatePlayback(engine, GlobalAppState.playhead);
}

void SyncVoiceTimes() {
    const std::vector<LayerResult>& layers = CurrentProject.results;
    const auto byId = MapLayerIds(layers);
    PlaybackEngine& engine = LivePlaybackEngine;
    std::lock_guard lock(engine.voiceMutex);
    for (Voice& voice : engine.voices) {
        const auto it = byId.find(voice.resultId);
        if (it == byId.end()) continue;
        const LayerResult& layer = layers[static_cast<std::size_t>(it->second)];
        voice.startTime = layer.startTime + layer.deconOffset;
        voice.hasDeconGain = layer.hasDeconGain;
        if (layer.hasDeconGain) voice.deconGain = layer.deconGain;
    }
}

void RemoveEventVoices(const std::vector<std::int32_t>& deletedEvents, std::int32_t oldEventCount) {
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    const std::int32_t oldCount = std::max(oldEventCount, 0);
    std::vector<std::int32_t> renumber(static_cast<std::size_t>(oldCount), 0);
    for (const std::int32_t e : deletedEvents)
        if (e >= 0 && e < oldCount) renumber[static_cast<std::size_t>(e)] = -1;
    std::int32_t next = 0;
    for (std::int32_t& slot : renumber)
        if (slot != -1) slot = next++;

    const auto mapped = [&](std::int32_t e) { return e >= 0 && e < oldCount ? renumber[static_cast<std::size_t>(e)] : e; };
    {
        const VoiceListEdit edit(engine);
        CompactVoicesLocked(engine, [&](const Voice& voice) {
            return !(voice.eventIndex >= 0 && voice.eventIndex < oldCount && mapped(voice.eventIndex) == -1);
        });
        for (Voice& voice : engine.voices) {
            voice.eventIndex = mapped(voice.eventIndex);
            if (voice.eventCurve) voice.eventCurve = EventCurve(project, voice.eventIndex);
        }
    }
    RemapVoicesToResults();
    RecountLanes(project);
    {
        std::lock_guard lock(engine.voiceMutex);
        engine.voiceCount.store(static_cast<std::int32_t>(engine.voices.size()), std::memory_order_release);
    }
    NormalizeVoiceGains(engine, false);
}

// [SECTION] Integrity check

namespace {

bool RequestRebuild() {
    GlobalAppState.audioUpdateRequested.store(true, std::memory_order_release);
    return false;
}

}  // namespace

bool CheckRenderCacheIntegrity() {
    const Project& project = CurrentProject;
    const std::vector<LayerResult>& layers = project.results;
    const std::size_t eventCount = project.events.size();
    PlaybackEngine& engine = LivePlaybackEngine;
    std::vector<bool> named(layers.size(), false);
    {
        std::lock_guard lock(engine.voiceMutex);
        for (std::size_t i = 0; i < engine.voices.size(); ++i) {
            const Voice& voice = engine.voices[i];
            bool ok = voice.resultIndex >= 0 && static_cast<std::size_t>(voice.resultIndex) < layers.size();
            if (ok) {
                const LayerResult& layer = layers[static_cast<std::size_t>(voice.resultIndex)];
                ok = layer.id == voice.resultId;
                // A layer loaded with no valid event keeps none; no rebuild
                // could give its voice one.
                if (ok && !ValidEvent(voice.eventIndex, eventCount))
                    ok = !ValidEvent(layer.eventIdx, eventCount) && voice.eventIndex == layer.eventIdx;
            }
            if (!ok) {
                std::fprintf(stderr, "[Cache] Integrity check failed at block %d, deferring rebuild\n",
                             static_cast<int>(i));
                return RequestRebuild();
            }
            named[static_cast<std::size_t>(voice.resultIndex)] = true;
        }
    }
    int orphans = 0;
    for (std::size_t j = 0; j < layers.size(); ++j) {
        if (named[j] || !LayerGetsVoice(layers[j])) continue;
        ++orphans;
    }
    if (orphans > 0) {
        std::fprintf(stderr, "[Cache] %d orphaned results, deferring rebuild\n", orphans);
        return RequestRebuild();
    }
    return true;
}

// [SECTION] Bed and Clip layers after analysis

bool RefreshBedAndClipLayers() {
    Project& project = CurrentProject;
    bool changed = false;
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        const Event& event = project.events[i];
        if (IsKind(event.shape, EventKind::Bed)) {
            if (SyncBedEventLayers(project, static_cast<std::int32_t>(i))) changed = true;
        } else if (IsKind(event.shape, EventKind::Clip) && event.clipWeight >= 0.0f) {
            for (LayerResult& layer : project.results)
                if (layer.eventIdx == static_cast<std::int32_t>(i)) layer.weight = event.clipWeight;
        }
    }
    return changed;
}

bool UpdateSourceWeightsAndLayers(double now) {
    if (!UpdateSourceWeights(now)) return false;
    if (RefreshBedAndClipLayers()) GlobalAppState.audioUpdateRequested.store(true, std::memory_order_release);
    return true;
}

}  // namespace korvel
