// [SECTION] Names
// [SECTION] Rendering
// [SECTION] Bounce
// [SECTION] Revert
#include "project/bounce.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "dsp/limiter.h"
#include "engine/bed_event.h"
#include "engine/clip_event.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "engine/voice_sync.h"
#include "library/bwf_writer.h"
#include "library/file_id.h"
#include "library/id_hashing.h"
#include "library/waveform.h"
#include "playback/offline_mix.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/user_folders.h"
#include "project/app_state.h"
#include "project/event_curves.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"

namespace korvel {

namespace {

bool ProjectBusy(const AppState& state) {
    return state.backgroundJob.active.load(std::memory_order_acquire) ||
           state.exportRunning.load(std::memory_order_acquire);
}

bool FileStatusKnown(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// The duration of the event's first layer, when it has one.
void TakeLayerDuration(Project& project, std::int32_t index) {
    for (const LayerResult& layer : project.results) {
        if (layer.eventIdx != index) continue;
        project.events[static_cast<std::size_t>(index)].duration = layer.duration;
        return;
    }
}

}  // namespace

// [SECTION] Names

std::string BounceFileName(const std::string& automaticName) {
    std::string name;
    for (char c : automaticName)
        if (std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos) name += c;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    return name.empty() ? "Bounce" : name;
}

std::string UniqueBouncePath(const std::string& folder, const std::string& name) {
    if (!FileStatusKnown(folder + "/" + name + ".wav")) return name;
    for (int k = 2; k <= 9999; ++k) {
        const std::string candidate = name + " " + std::to_string(k);
        if (!FileStatusKnown(folder + "/" + candidate + ".wav")) return candidate;
    }
    return {};
}

// [SECTION] Rendering

std::int32_t BounceClipGroup(const PlaybackEngine& engine, const std::set<std::int32_t>& events) {
    std::int32_t shared = -1;
    for (const Voice& voice : engine.voices) {
        if (events.count(voice.eventIndex) == 0 || voice.muted || voice.frameCount < 1) continue;
        const std::int32_t group = std::clamp(voice.group, 0, kTrackGroupCount - 1);
        if (shared >= 0 && group != shared) return 1;
        shared = group;
    }
    // A Clip's layer can sit in group 1 or 2 only.
    return shared == 2 ? 2 : 1;
}

std::string RenderBounce(const PlaybackEngine& engine, const std::set<std::int32_t>& events, const std::string& folder,
                         const std::string& name, float projectEnd, std::int32_t clipGroup, float& startSeconds,
                         float& lengthSeconds) {
    auto bounced = [&](const Voice& voice) {
        return events.count(voice.eventIndex) != 0 && !voice.muted && voice.frameCount >= 1;
    };
    bool any = false;
    float start = 0.0f, end = 0.0f;
    for (const Voice& voice : engine.voices) {
        if (!bounced(voice)) continue;
        start = any ? std::min(start, voice.startTime) : voice.startTime;
        end = any ? std::max(end, voice.startTime + voice.duration) : voice.startTime + voice.duration;
        any = true;
    }
    // Only what is heard: nothing plays before 0 or after the project's end,
    // and a Clip can neither start before 0 nor run past the end.
    start = std::max(start, 0.0f);
    end = std::min(end, projectEnd);
    if (!any || !(end > start)) return {};
    const int rate = engine.sampleRate;
    const double exact = std::ceil(static_cast<double>(end - start) * rate) + 1.0;
    if (rate < 1 || !(exact <= static_cast<double>(rate) * 3600.0)) return {};
    const auto frames = static_cast<std::int64_t>(exact);

    // The Clip plays under its own group's fader: each voice is mixed
    // relative to it, so at unity when they share that group.
    const auto GroupGainOf = [&](std::int32_t group) {
        return engine.groupGain[static_cast<std::size_t>(std::clamp(group, 0, kTrackGroupCount - 1))];
    };
    const float clipFader = GroupGainOf(clipGroup);
    std::vector<float> left(static_cast<std::size_t>(frames), 0.0f), right(static_cast<std::size_t>(frames), 0.0f);
    for (std::size_t k = 0; k < engine.voices.size(); ++k) {
        const Voice& voice = engine.voices[k];
        if (events.count(voice.eventIndex) == 0) continue;
        const float fader = GroupGainOf(voice.group);
        const float gain = clipFader > 0.0f ? fader / clipFader : fader;
        MixVoiceOffline(voice, k, engine, left.data(), right.data(), frames, rate, gain, start);
    }
    LimitStereo(engine.limiter, left.data(), right.data(), frames);
    const std::string path = folder + "/" + name + ".wav";
    if (!WriteBWFStereo(path, left.data(), right.data(), frames, rate, start, name.c_str())) return {};
    startSeconds = start;
    lengthSeconds = static_cast<float>(static_cast<double>(frames) / rate);
    return path;
}

// [SECTION] Bounce

bool BounceSelectionToClip() {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    if (state.selectedEvents.empty() || !project.built || ProjectBusy(state)) return false;
    std::set<std::int32_t> selected;
    for (std::int32_t index : state.selectedEvents)
        if (index >= 0 && static_cast<std::size_t>(index) < project.events.size()) selected.insert(index);
    if (selected.empty()) return false;

    LoadPendingVoices(engine, project.results);
    const std::string folder = BouncesFolder();
    if (folder.empty()) return false;
    const Event& first = project.events[static_cast<std::size_t>(*selected.begin())];
    char automatic[64] = {};
    first.AutoName(automatic, sizeof automatic);
    const std::string name =
        UniqueBouncePath(folder, BounceFileName(automatic[0] != '\0' ? automatic : EventDisplayLabel(project, first)));
    if (name.empty()) return false;
    // A path the Clip cannot hold would be written and then lost.
    if (folder.size() + name.size() + 5 >= sizeof(Event::pinnedFile)) return false;
    float start = 0.0f, length = 0.0f;
    const std::int32_t group = BounceClipGroup(engine, selected);
    const std::string path = RenderBounce(engine, selected, folder, name, project.totalDuration, group, start, length);
    if (path.empty()) return false;

    PushUndo();
    std::vector<Event> sources;
    for (std::int32_t index : selected) {
        sources.push_back(project.events[static_cast<std::size_t>(index)]);
        sources.back().time -= start;
    }
    const auto oldCount = static_cast<std::int32_t>(project.events.size());
    std::vector<std::int32_t> deleted(selected.rbegin(), selected.rend());
    for (std::int32_t index : deleted) {
        project.DeleteEvent(index);
        state.RemoveEventFromSelection(index);
    }
    RemoveEventVoices(deleted, oldCount);

    Event clip;
    clip.time = start;
    clip.shape = KindValue(EventKind::Clip);
    clip.userShapeIdx = -1;
    clip.weightCenter = 0.3f;
    clip.duration = 2.0f;
    clip.spread = 0.0f;
    clip.weight.fill(0.5f);
    clip.intensity.fill(1.0f);
    clip.groupOverride = group;
    clip.stereo = project.trackLayout.groups[static_cast<std::size_t>(group)].stereo;
    CopyText(clip.pinnedFile, path);
    std::uint64_t fingerprint = 0, size = 0;
    if (ComputeFileFingerprint(path, fingerprint, size)) clip.pinnedFileId = AssignFileId(path, fingerprint, size).id;
    clip.usePinnedFile = true;
    clip.locked = true;
    clip.clipFadeIn = 0.0f;
    clip.clipFadeOut = 0.0f;
    clip.bounceSource = std::move(sources);
    project.events.push_back(std::move(clip));
    const auto index = static_cast<std::int32_t>(project.events.size()) - 1;
    {
        LayerStorageEdit edit(project);
        BuildClipEvent(project, index);
    }
    TakeLayerDuration(project, index);
    LoadWaveformOverview(path.c_str());
    AllocateTracks(project);
    RenderEvent(index);
    CheckRenderCacheIntegrity();
    LocatePlayback(engine, state.playhead);

    state.selectedEvents = {index};
    state.selectedEvent = index;
    state.activeTab = 0;
    state.scrollToSelection = true;
    state.audioUpdateRequested.store(true, std::memory_order_release);
    state.unsavedChanges = true;
    return true;
}

// [SECTION] Revert

bool RevertBounce(std::int32_t n) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    // A revert replaces voices and layers a running build or export reads.
    if (ProjectBusy(state) || n < 0 || static_cast<std::size_t>(n) >= project.events.size()) return false;
    if (!IsKind(project.events[static_cast<std::size_t>(n)].shape, EventKind::Clip) ||
        project.events[static_cast<std::size_t>(n)].bounceSource.empty())
        return false;

    PushUndo();
    const Event clip = project.events[static_cast<std::size_t>(n)];
    const float c = clip.time;
    const auto oldCount = static_cast<std::int32_t>(project.events.size());
    project.DeleteEvent(n);
    state.RemoveEventFromSelection(n);
    RemoveEventVoices({n}, oldCount);

    std::vector<std::int32_t> restored;
    for (const Event& stored : clip.bounceSource) {
        Event event = stored;
        event.time = c + stored.time;
        EnsureEventFileIds(event);
        project.events.push_back(std::move(event));
        restored.push_back(static_cast<std::int32_t>(project.events.size()) - 1);
    }
    std::vector<std::int32_t> toBuild;
    for (std::int32_t index : restored) {
        const std::int32_t kind = project.events[static_cast<std::size_t>(index)].shape;
        if (IsKind(kind, EventKind::Clip)) {
            {
                LayerStorageEdit edit(project);
                BuildClipEvent(project, index);
            }
            TakeLayerDuration(project, index);
            RenderEvent(index);
        } else if (IsKind(kind, EventKind::Bed)) {
            LayerStorageEdit edit(project);
            SyncBedEventLayers(project, index);
        } else {
            toBuild.push_back(index);
        }
    }
    AllocateTracks(project);
    CheckRenderCacheIntegrity();
    if (!toBuild.empty()) {
        state.pendingRenderEvents = toBuild;
        state.pendingRenderMode = 4;
    }
    LocatePlayback(LivePlaybackEngine, state.playhead);
    state.audioUpdateRequested.store(true, std::memory_order_release);

    state.selectedEvents = std::set<std::int32_t>(restored.begin(), restored.end());
    state.selectedEvent = restored.front();
    state.activeTab = 0;
    state.unsavedChanges = true;
    return true;
}

}  // namespace korvel
