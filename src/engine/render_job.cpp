#include "engine/render_job.h"

// [SECTION] Ranges and the post-build passes
// [SECTION] Engine set-up, voices and relocation
// [SECTION] The list, one-event and full-request paths
// [SECTION] The full build
// [SECTION] Smaller job bodies

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>

#include "dsp/alloy_render.h"
#include "dsp/flush_denormals.h"
#include "engine/build_events.h"
#include "engine/layer_deconfliction.h"
#include "engine/layer_render.h"
#include "engine/published_layers.h"
#include "engine/silence_protection.h"
#include "engine/source_region.h"
#include "engine/track_allocation.h"
#include "engine/voice_gain.h"
#include "engine/voice_sync.h"
#include "library/library.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

namespace {

double SteadyMilliseconds() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool EnvironmentSet(const char* name) { return std::getenv(name) != nullptr; }

void SetJobDone() { GlobalAppState.backgroundJob.done.store(true, std::memory_order_release); }

}  // namespace

// [SECTION] Ranges and the post-build passes

bool SpanOverlapsRange(float time, float duration, float start, float end) {
    return !(start >= time + duration || time >= end);
}

bool IsResultInRebuildRange(const LayerResult& layer, const RebuildRange& range) {
    if (range.events == nullptr || layer.eventIdx < 0 ||
        static_cast<std::size_t>(layer.eventIdx) >= range.events->size())
        return false;
    const Event& event = (*range.events)[static_cast<std::size_t>(layer.eventIdx)];
    if (event.locked) return false;
    return !range.active || SpanOverlapsRange(event.time, event.duration, range.start, range.end);
}

void RunPostBuildPasses(Project& project) {
    // The passes rewrite published layers in place: the UI waits for them.
    LayerStorageEdit edit(project);
    if (GlobalAppState.protectSilence) ProtectSilence(project);
    DeconflictLayers(project);
    ApplyDensityDucking(project);
    AllocateTracks(project);
    for (TrackGroupLayout& group : project.trackLayout.groups) group.usedLanes = 0;
    UpdateGroupLaneCounts(project.trackLayout, project.results);
}

// [SECTION] Engine set-up, voices and relocation

namespace {

struct RenderSetup {
    std::vector<float> eventGains;
    std::int32_t sampleRate = 48000;
};

RenderSetup SetUpEngine(PlaybackEngine& engine, const Project& project) {
    RenderSetup setup;
    setup.eventGains = SetUpEngineForProject(engine, project);
    setup.sampleRate = GlobalAppState.projectSampleRate;
    return setup;
}

// The play position at the playhead, with a silent reverb tail.
void RelocatePlayback(PlaybackEngine& engine) { LocatePlayback(engine, GlobalAppState.playhead); }

void RenderPublishedLayer(PlaybackEngine& engine, Project& project, std::size_t index, const RenderSetup& setup) {
    RenderPublishedLayerVoice(engine, project.results, index, setup.sampleRate, setup.eventGains.data(),
                              static_cast<std::int32_t>(project.events.size()), project.events.data(), project.scaleType,
                              project.scaleRoot, false);
}

}  // namespace

// [SECTION] The list, one-event and full-request paths

void RenderJobEntry(const RenderRequest& request) { RunRenderJob(request); }

void RunRenderJob(const RenderRequest& request) {
    const ScopedFlushDenormals flushDenormals;
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    BackgroundJob& job = GlobalAppState.backgroundJob;

    if (request.mode == kRenderEventList && !request.eventList.empty()) {
        const bool timing = EnvironmentSet("KV_RENDER_TIMING");
        const double t0 = timing ? SteadyMilliseconds() : 0.0;
        const auto eventCount = static_cast<std::int32_t>(project.events.size());
        for (const std::int32_t index : request.eventList) {
            if (index < 0 || index >= eventCount) continue;
            project.events[static_cast<std::size_t>(index)].locked = false;
            BuildEvents(project, SoundLibrary.palettes, index, -1.0f, -1.0f, false, false);
            job.jobEventsDone.fetch_add(1);
        }
        RunPostBuildPasses(project);
        const RenderSetup setup = SetUpEngine(engine, project);
        for (const std::int32_t index : request.eventList) {
            if (index < 0 || index >= eventCount) continue;
            RenderEventVoices(engine, index, project.results, setup.sampleRate, setup.eventGains.data(), eventCount,
                              project.events.data(), project.scaleType, project.scaleRoot);
        }
        RemapVoicesToResults();
        CheckRenderCacheIntegrity();
        SyncVoiceTimes();
        NormalizeVoiceGains(engine, true);
        if (timing)
            std::fprintf(stderr, "[RenderTiming] INCREMENTAL | %d event(s) re-rendered, %d total blocks, TOTAL=%.0fms\n",
                         static_cast<int>(request.eventList.size()), static_cast<int>(project.results.size()),
                         SteadyMilliseconds() - t0);
        RelocatePlayback(engine);
        SetJobDone();
        return;
    }

    if (request.full) {
        RenderAll(request.rangeStart, request.rangeEnd);
        SetJobDone();
        return;
    }

    const std::int32_t target = request.mode == kRenderRebuildEvent ? request.eventIndex : -1;
    BuildEvents(project, SoundLibrary.palettes, target, request.rangeStart, request.rangeEnd, false, false);
    RunPostBuildPasses(project);
    if (target == -1) {
        RebuildCache(false);
    } else {
        RenderEvent(target);
        CheckRenderCacheIntegrity();
        SyncVoiceTimes();
        NormalizeVoiceGains(engine, true);
    }
    RelocatePlayback(engine);
    SetJobDone();
}

// [SECTION] The full build

void RenderAll(float rangeStart, float rangeEnd) {
    const ScopedFlushDenormals flushDenormals;
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    BackgroundJob& job = GlobalAppState.backgroundJob;

    const bool singlePass = EnvironmentSet("KV_SINGLE_PASS");
    const bool timing = EnvironmentSet("KV_RENDER_TIMING");
    const double t0 = SteadyMilliseconds();
    const bool rangeActive = rangeStart >= 0.0f && rangeEnd > rangeStart;

    ClearSourceRegionCaches();
    ClearAlloyRenderCache();

    // Locked events and events outside the range keep their layers; layers
    // of events that no longer exist are dropped.
    const auto outsideRange = [&](const Event& event) {
        return rangeActive && !SpanOverlapsRange(event.time, event.duration, rangeStart, rangeEnd);
    };
    {
        LayerStorageEdit edit(project);
        std::vector<LayerResult> kept;
        for (LayerResult& layer : project.results) {
            if (layer.eventIdx < 0 || static_cast<std::size_t>(layer.eventIdx) >= project.events.size()) continue;
            const Event& event = project.events[static_cast<std::size_t>(layer.eventIdx)];
            if (event.locked || outsideRange(event)) kept.push_back(std::move(layer));
        }
        // Room for what the build usually adds, so the storage rarely moves;
        // when it must, the append takes the storage lock.
        std::vector<LayerResult> fresh;
        fresh.reserve(kept.size() + project.events.size() * 48 + 128);
        for (LayerResult& layer : kept) fresh.push_back(std::move(layer));
        project.results.swap(fresh);
        project.builtResultCount.store(static_cast<std::int32_t>(project.results.size()), std::memory_order_release);
    }

    for (const Event& event : project.events)
        if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0')
            LoadWaveformOverview(std::string(event.pinnedFile, strnlen(event.pinnedFile, sizeof event.pinnedFile)).c_str());

    const RenderSetup setup = SetUpEngine(engine, project);
    PrepareVoices(engine, setup.sampleRate,
                  static_cast<int>(std::min<std::size_t>(project.events.size() * 8, INT32_MAX)));

    std::int32_t rendered = 0;
    if (!singlePass) {
        for (std::size_t j = 0; j < project.results.size(); ++j) {
            RenderPublishedLayer(engine, project, j, setup);
            engine.voicesRendered.store(++rendered);
        }
    }

    std::int32_t total = 0;
    for (const Event& event : project.events)
        if (!event.locked && !outsideRange(event)) ++total;
    job.jobEventTotal = total;
    job.jobEventsDone.store(0, std::memory_order_release);

    std::int32_t built = 0;
    std::unordered_set<std::int32_t> before;
    for (std::size_t j = 0; j < project.events.size(); ++j) {
        if (job.cancel.load()) break;
        const Event& event = project.events[j];
        if (event.locked || outsideRange(event)) continue;
        before.clear();
        for (const LayerResult& layer : project.results) before.insert(layer.id);
        BuildEvents(project, SoundLibrary.palettes, static_cast<std::int32_t>(j), -1.0f, -1.0f, true, true);
        job.jobEventsDone.store(++built, std::memory_order_release);
        if (singlePass) continue;
        // The finish reorders the layers, so the new ones are found by id.
        for (std::size_t k = 0; k < project.results.size(); ++k) {
            if (before.count(project.results[k].id) != 0) continue;
            RenderPublishedLayer(engine, project, k, setup);
            engine.voicesRendered.store(++rendered);
        }
    }

    const double t1 = SteadyMilliseconds();
    RunPostBuildPasses(project);
    const double t2 = SteadyMilliseconds();
    // Cleared before the cache rebuild so the same Cancel does not cut it short.
    job.cancel.store(false);
    RebuildCache(false);
    const double t3 = SteadyMilliseconds();
    if (timing)
        std::fprintf(stderr,
                     "[RenderTiming] %-11s | stream(render%s)=%.0fms  postproc=%.0fms  rebuild=%.0fms  TOTAL=%.0fms  (%d blocks)\n",
                     singlePass ? "SINGLE-PASS" : "double-pass", singlePass ? "" : "+cache", t1 - t0, t2 - t1, t3 - t2,
                     t3 - t0, static_cast<int>(project.results.size()));
    RelocatePlayback(engine);
}

// [SECTION] Smaller job bodies

void RunRebuildCacheJob(bool keepPlaceholders) {
    const ScopedFlushDenormals flushDenormals;
    RebuildCache(keepPlaceholders);
    RelocatePlayback(LivePlaybackEngine);
    SetJobDone();
}

void RunRenderEventJob(std::int32_t eventIndex) {
    const ScopedFlushDenormals flushDenormals;
    RenderEvent(eventIndex);
    RelocatePlayback(LivePlaybackEngine);
    SetJobDone();
}

}  // namespace korvel
