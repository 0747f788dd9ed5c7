// [SECTION] Engine set-up and the full rebuild
// [SECTION] Re-matching by id
// [SECTION] Reloading released voices
// [SECTION] Loading outside the lock
#include "playback/render_cache.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "app/background_job.h"
#include "dsp/alloy_render.h"
#include "dsp/eq.h"
#include "dsp/flush_denormals.h"
#include "dsp/resampler.h"
#include "engine/layer_render.h"
#include "engine/loop_fill.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "engine/voice_gain.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

namespace {

// Set by tests before any loader runs; read by the loading thread.
VoiceDecodeHook DecodeHook = nullptr;

}  // namespace

void SetVoiceDecodeHook(VoiceDecodeHook hook) { DecodeHook = hook; }

// [SECTION] Engine set-up and the full rebuild

std::vector<float> SetUpEngineForProject(PlaybackEngine& engine, const Project& project) {
    engine.normalizeLUFS = project.normalizeLUFS;
    for (std::size_t g = 0; g < engine.groupTargetLUFS.size(); ++g)
        engine.groupTargetLUFS[g] = project.trackLayout.groups[g].targetLUFS;
    std::vector<float> gains;
    gains.reserve(project.events.size());
    for (const Event& event : project.events) gains.push_back(event.gain);
    return gains;
}

void RebuildCache(bool keepPlaceholders) {
    const ScopedFlushDenormals flushDenormals;
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    const BackgroundJob& job = GlobalAppState.backgroundJob;

    for (const Event& event : project.events)
        if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0')
            LoadWaveformOverview(std::string(event.pinnedFile, strnlen(event.pinnedFile, sizeof event.pinnedFile)).c_str());
    {
        // The lane counts may be drawn while a build shows its progress.
        std::lock_guard lock(PublishedLayersMutex);
        for (TrackGroupLayout& group : project.trackLayout.groups) group.usedLanes = 0;
        UpdateGroupLaneCounts(project.trackLayout, project.results);
    }
    const std::vector<float> gains = SetUpEngineForProject(engine, project);
    const std::int32_t rate = GlobalAppState.projectSampleRate;
    PrepareVoices(engine, rate, static_cast<int>(std::min<std::size_t>(project.results.size(), INT32_MAX)));

    const auto eventCount = static_cast<std::int32_t>(project.events.size());
    const float* eventGains = eventCount > 0 ? gains.data() : nullptr;
    const Event* events = eventCount > 0 ? project.events.data() : nullptr;
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        if (job.cancel.load()) break;
        RenderPublishedLayerVoice(engine, project.results, i, rate, eventGains, eventCount, events, project.scaleType,
                                  project.scaleRoot, keepPlaceholders);
        engine.voicesRendered.store(static_cast<std::int32_t>(i + 1));
    }
    NormalizeVoiceGains(engine, true);
}

bool RebuildCacheAsync(const char* label, bool keepPlaceholders) {
    // Only the UI thread starts jobs, so nothing can start between here and
    // the call below; an export or a picture read refuses it too.
    if (!CanStartBackgroundJob()) return false;
    StartBackgroundJob(
        label,
        [keepPlaceholders] {
            RebuildCache(keepPlaceholders);
            LocatePlayback(LivePlaybackEngine, GlobalAppState.playhead);
            GlobalAppState.backgroundJob.done.store(true, std::memory_order_release);
        },
        false, -1.0f);
    return true;
}

// [SECTION] Re-matching by id

void RemapVoicesToResults() {
    const std::vector<LayerResult>& layers = CurrentProject.results;
    std::unordered_map<std::int32_t, std::int32_t> byId;
    byId.reserve(layers.size());
    for (std::size_t i = 0; i < layers.size(); ++i) byId[layers[i].id] = static_cast<std::int32_t>(i);
    PlaybackEngine& engine = LivePlaybackEngine;
    const VoiceListEdit edit(engine);
    for (Voice& voice : engine.voices) {
        const auto it = byId.find(voice.resultId);
        voice.resultIndex = it != byId.end() ? it->second : -1;
    }
}

// [SECTION] Reloading released voices

void LoadVoiceSamples(PlaybackEngine& /*engine*/, Voice& voice, const LayerResult& layer, std::int32_t sampleRate) {
    if (!voice.unloaded || sampleRate < 1) return;
    const ScopedFlushDenormals flushDenormals;
    const float pitch = layer.pitchShift;
    const double ratio = std::fabs(pitch) > 0.01f ? std::pow(2.0, pitch / 12.0) : 1.0;
    bool ok = false;
    if (!layer.isSketch && !layer.filepath.empty()) {
        switch (layer.procMode) {
            case 1:
                if (!layer.fillChunks.empty()) {
                    bool stereo = false;
                    ok = RenderSpliceVoice(layer, sampleRate, voice, nullptr, nullptr, stereo,
                                           static_cast<float>(ratio * layer.duration));
                } else {
                    ok = RenderLoopFill(layer.filepath, layer.sourceOffset, static_cast<float>(ratio * layer.duration),
                                        sampleRate, layer.stereo, voice, layer.groupTrack, false);
                }
                break;
            case 2:
                ok = LoadSegmentIntoVoice(layer.filepath, layer.sourceOffset, layer.sourceDuration, sampleRate,
                                          layer.stereo, voice);
                break;
            case 3:
                ok = RenderAlloyLayer(layer, sampleRate, layer.stereo, voice);
                break;
            default:
                ok = LoadSourceIntoVoice(layer.filepath, layer.sourceOffset, layer.sourceDuration, sampleRate,
                                         layer.stereo, voice);
                break;
        }
    }
    if (!ok) {
        const std::int64_t frames = std::max<std::int64_t>(1, RenderFrames(sampleRate, layer.duration));
        voice.samplesL.assign(static_cast<std::size_t>(frames), 0.0f);
        voice.samplesR.clear();
        voice.stereo = false;
        voice.frameCount = static_cast<std::int32_t>(frames);
    }
    if (layer.hasEq && voice.frameCount > 0) {
        ApplyFiveBandEq(voice.samplesL.data(), voice.frameCount, sampleRate, layer.eqGains.data());
        if (voice.stereo && !voice.samplesR.empty())
            ApplyFiveBandEq(voice.samplesR.data(),
                            std::min<std::int32_t>(voice.frameCount, static_cast<std::int32_t>(voice.samplesR.size())),
                            sampleRate, layer.eqGains.data());
    }
    if (std::fabs(pitch) > 0.01f && voice.frameCount > 64) {
        const double n = std::min(std::trunc(voice.frameCount / ratio + 0.5), static_cast<double>(MaxRenderFrames(sampleRate)));
        if (n > 0.0) {
            ResampleSincToLength(voice.samplesL, static_cast<int>(n), ratio);
            if (voice.stereo && !voice.samplesR.empty()) ResampleSincToLength(voice.samplesR, static_cast<int>(n), ratio);
            voice.frameCount = static_cast<std::int32_t>(n);
            voice.duration = static_cast<float>(n / sampleRate);
        }
    }
    voice.unloaded = false;
}

// [SECTION] Loading outside the lock

namespace {

struct PendingLoad {
    std::size_t voice = 0;
    std::int32_t resultId = 0;
    std::int32_t layer = 0;
    float duration = 0.0f;
};

// Decodes each listed voice into a scratch voice without the lock, then
// swaps its samples in under the lock when the voice is still the same,
// still released. Streaming and the export both run while no edit can
// change the voice list, so the check is only a guard.
void LoadOutsideLock(PlaybackEngine& engine, const std::vector<PendingLoad>& loads, const LayerResult* layers,
                     std::int32_t sampleRate) {
    auto scratch = std::make_unique<Voice>();
    for (const PendingLoad& load : loads) {
        scratch->samplesL.clear();
        scratch->samplesR.clear();
        scratch->stereo = false;
        scratch->frameCount = 0;
        scratch->duration = load.duration;
        scratch->unloaded = true;
        if (DecodeHook != nullptr) DecodeHook(engine);
        LoadVoiceSamples(engine, *scratch, layers[load.layer], sampleRate);
        std::lock_guard lock(engine.voiceMutex);
        if (load.voice >= engine.voices.size()) continue;
        Voice& voice = engine.voices[load.voice];
        if (!voice.unloaded || voice.resultId != load.resultId) continue;
        // What the scratch voice held before (nothing) goes back to it, so
        // no samples are freed under the lock.
        voice.samplesL.swap(scratch->samplesL);
        voice.samplesR.swap(scratch->samplesR);
        voice.stereo = scratch->stereo;
        voice.frameCount = scratch->frameCount;
        voice.duration = scratch->duration;
        voice.unloaded = false;
    }
}

}  // namespace

void LoadPendingVoices(PlaybackEngine& engine, const std::vector<LayerResult>& layers) {
    std::vector<PendingLoad> loads;
    std::int32_t rate = 0;
    {
        std::lock_guard lock(engine.voiceMutex);
        rate = engine.sampleRate;
        for (std::size_t i = 0; i < engine.voices.size(); ++i) {
            const Voice& voice = engine.voices[i];
            if (!voice.unloaded || voice.resultIndex < 0 || static_cast<std::size_t>(voice.resultIndex) >= layers.size())
                continue;
            loads.push_back({i, voice.resultId, voice.resultIndex, voice.duration});
        }
    }
    LoadOutsideLock(engine, loads, layers.data(), rate);
}

void StreamVoicesNearPlayhead(PlaybackEngine& engine, const LayerResult* layers, std::int32_t layerCount) {
    if (!engine.ready.load(std::memory_order_acquire)) return;
    const std::int32_t rate = engine.sampleRate;
    if (rate < 1) return;
    const double t = static_cast<double>(engine.position.load(std::memory_order_acquire)) / rate;
    const double w = engine.streamWindowSeconds;
    std::vector<PendingLoad> loads;
    std::vector<std::vector<float>> released;
    {
        std::lock_guard lock(engine.voiceMutex);
        for (std::size_t i = 0; i < engine.voices.size(); ++i) {
            Voice& voice = engine.voices[i];
            const bool near = t - w < static_cast<double>(voice.startTime) + voice.duration &&
                              t + w > static_cast<double>(voice.startTime);
            if (near) {
                if (voice.unloaded && voice.resultIndex >= 0 && voice.resultIndex < layerCount)
                    loads.push_back({i, voice.resultId, voice.resultIndex, voice.duration});
            } else if (!voice.unloaded) {
                // Moved out, freed once the lock is released.
                released.push_back(std::move(voice.samplesL));
                released.push_back(std::move(voice.samplesR));
                voice.samplesL = {};
                voice.samplesR = {};
                voice.unloaded = true;
            }
        }
    }
    released.clear();
    if (!loads.empty()) LoadOutsideLock(engine, loads, layers, rate);
}

}  // namespace korvel
