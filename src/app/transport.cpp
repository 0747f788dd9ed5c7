#include "app/transport.h"

#include <algorithm>
#include <cmath>

#include "app/frame_work.h"
#include "picture/timecode.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "platform/thread_checks.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"

// [SECTION] Display state
// [SECTION] Transport
// [SECTION] Left group
// [SECTION] Master volume and meters
// [SECTION] Unlock all and Build

namespace korvel {

// [SECTION] Display state

float transportLabelBlend = 1.0f;
float buildGlow = 0.0f;
float transportMeterLevel[2] = {0.0f, 0.0f};

// [SECTION] Transport

float TransportStepFps(float fps) { return ProjectFrameRate(fps); }

std::string TransportTimecodeText(float startTC, float playhead, float fps) {
    char text[32];
    FormatTimecode(fps, startTC + playhead, text, sizeof text);
    return text;
}

void TransportPlayPause(AppState& state, PlaybackEngine& engine, VideoPlayer& video) {
    state.playing = !state.playing;
    if (video.loaded) {
        const float start = video.timelineOffset;
        const bool inside = state.playhead >= start && state.playhead <= start + video.duration;
        if (state.playing && inside) video.Play();
        else video.Pause();
    }
    if (engine.ready.load(std::memory_order_acquire)) {
        LocatePlayback(engine, static_cast<double>(state.playhead));
        engine.playing.exchange(state.playing);
    }
}

void TransportStop(AppState& state, PlaybackEngine& engine, VideoPlayer& video) {
    state.playing = false;
    state.playhead = 0.0f;
    engine.playing.exchange(false);
    LocatePlayback(engine, 0.0);
    if (video.loaded) {
        video.Pause();
        video.Seek(0.0f);
    }
}

void TransportFrameStep(AppState& state, const Project& project, int direction) {
    StepPlayheadFrames(state.playhead, TransportStepFps(project.fps), project.totalDuration, direction < 0 ? -1 : 1);
}

// [SECTION] Left group

bool TransportLeftGroupDisabled(const AppState& state) {
    if (!UiMayEditProject(state)) return true;
    return state.activeTab == 1 && (TraceReadValid(state) || !state.markerEvents.empty());
}

bool TransportLabelsFit(float displayWidth, float fontSize, float labelWidth, float square, float transportWidth) {
    const float needed = 4.0f * labelWidth + 0.75f * fontSize + fontSize + 2.0f * square + 12.0f + 24.0f;
    const float room = displayWidth / 2.0f - transportWidth / 2.0f;
    return needed <= room;
}

std::int32_t AddShapeEventAtPlayhead(AppState& state, Project& project, std::int32_t kind) {
    const std::int32_t index = project.AddEvent(state.playhead, kind, 0.3f);
    if (index < 0) return -1;
    const std::string_view keywords = TextOf(state.sceneKeywordTemplate);
    if (!keywords.empty()) CopyText(project.events[static_cast<std::size_t>(index)].keywords, keywords);
    state.SelectEvent(index);
    // No undo step for a single added event, but the prompt and the
    // auto-save must still know the project changed.
    state.unsavedChanges = true;
    return index;
}

// [SECTION] Master volume and meters

float DragMasterGain(float gain, float mouseDeltaX) {
    const float next = gain + 0.008f * mouseDeltaX;
    if (std::isnan(next)) return std::clamp(std::isnan(gain) ? 1.0f : gain, 0.0f, kMaxMasterGain);
    return std::clamp(next, 0.0f, kMaxMasterGain);
}

float MasterGainDb(float gain) { return gain <= 0.001f ? -60.0f : 20.0f * std::log10(gain); }

void SetMasterGain(PlaybackEngine& engine, float gain) {
    KORVEL_CHECK_THREAD(ui);
    if (engine.masterGain == gain) return;
    engine.masterGain = gain;
    PublishMixerSettings(engine);
}

float FollowTransportMeter(float level, float target, float dt) {
    if (!(dt > 0.0f)) return level;
    if (!std::isfinite(target)) target = 0.0f;
    const float tau = target > level ? 0.015f : 0.18f;
    return level + (target - level) * (1.0f - std::exp(-dt / tau));
}

float TransportMeterFill(float level, float width) {
    if (!(level >= 0.004f)) return 0.0f;
    return width * std::clamp((20.0f * std::log10(level) + 48.0f) / 48.0f, 0.0f, 1.0f);
}

int TransportMeterZone(float level) {
    if (level > 0.9f) return 2;
    if (level > 0.7f) return 1;
    return 0;
}

void UpdateTransportMeters(const PlaybackEngine& engine, float dt) {
    const bool playing = engine.playing.load(std::memory_order_acquire);
    const float peaks[2] = {engine.peakL.load(std::memory_order_relaxed), engine.peakR.load(std::memory_order_relaxed)};
    for (int c = 0; c < 2; ++c) {
        const float target = playing ? std::fabs(peaks[c]) : 0.0f;
        transportMeterLevel[c] = FollowTransportMeter(transportMeterLevel[c], target, dt);
    }
}

// [SECTION] Unlock all and Build

int CountLockedEvents(const Project& project) {
    return static_cast<int>(std::count_if(project.events.begin(), project.events.end(),
                                          [](const Event& e) { return e.locked; }));
}

void UnlockAllEvents(Project& project) {
    if (CountLockedEvents(project) == 0) return;
    PushUndo();
    for (Event& event : project.events) event.locked = false;
}

BuildButtonView GetBuildButtonView(int eventCount, int lockedCount, bool hasPalettes, bool jobActive,
                                   bool pictureReading) {
    BuildButtonView view;
    const bool allLocked = eventCount > 0 && lockedCount >= eventCount;
    view.caption = hasPalettes ? "Build" : "Add Sounds";
    view.enabled = eventCount > 0 && !allLocked && hasPalettes && !jobActive && !pictureReading;
    if (!view.enabled && !allLocked && !pictureReading) return view;
    if (!hasPalettes) view.tooltip = "No sounds loaded \xe2\x80\x94 scan a folder in Library";
    else if (pictureReading)
        view.tooltip = "Reading the picture\xe2\x80\xa6 \xe2\x80\x94 Build is available once the picture is read";
    else if (allLocked) view.tooltip = "All events are locked \xe2\x80\x94 unlock to build";
    else if (lockedCount > 0) view.tooltip = "Build all unlocked events";
    else view.tooltip = "Build all events";
    return view;
}

void RequestBuild(AppState& state, const Project& project) {
    PushUndo();
    state.pendingRenderEvents.clear();
    if (CountLockedEvents(project) == 0) {
        state.pendingRenderMode = 1;
        return;
    }
    for (std::size_t i = 0; i < project.events.size(); ++i)
        if (!project.events[i].locked) state.pendingRenderEvents.push_back(static_cast<std::int32_t>(i));
    state.pendingRenderMode = state.pendingRenderEvents.empty() ? 1 : 4;
}

}  // namespace korvel
