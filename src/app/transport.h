#pragma once
// What the transport bar does, apart from drawing it: the timecode text,
// play, stop and frame steps, adding events of a kind at the playhead, the
// master volume and its meters, unlocking every event, and the Build
// button's state and request. No UI library calls: tested headless.
//
// [SECTION] Display state
// [SECTION] Transport
// [SECTION] Left group
// [SECTION] Master volume and meters
// [SECTION] Unlock all and Build
#include <cstdint>
#include <string>

#include "project/app_state.h"

namespace korvel {

struct Project;
struct PlaybackEngine;
struct VideoPlayer;

// [SECTION] Display state
// UI thread: the bar's own animation and meter state, kept across frames.

extern float transportLabelBlend;    // 1 = shape buttons with names, 0 = icons only
extern float buildGlow;              // 0..1, the Build button's hover glow
extern float transportMeterLevel[2];  // smoothed peaks, left and right

// [SECTION] Transport

// The rate frame steps use: a rate not above 0 (or not a number) reads as
// 25, the project's rule, so a step never divides by zero.
float TransportStepFps(float fps);

// "HH:MM:SS:FF" of startTC + playhead through the shared formatter, so
// fractional rates split frames the way every other timecode does.
std::string TransportTimecodeText(float startTC, float playhead, float fps);

// Play/pause: toggles `playing`; a loaded video plays only when playback
// starts inside its span, else it pauses; a ready engine is located to the
// playhead and follows the new state.
void TransportPlayPause(AppState& state, PlaybackEngine& engine, VideoPlayer& video);
// Stop: not playing, playhead and engine at 0, the video paused at 0.
void TransportStop(AppState& state, PlaybackEngine& engine, VideoPlayer& video);
// One frame back (-1) or forward (+1), kept within 0 .. max(duration, 0).
void TransportFrameStep(AppState& state, const Project& project, int direction);

// [SECTION] Left group

// The shape, material and preset buttons are disabled on the trace tab
// while a picture read or imported markers exist, and whenever the edit
// guard refuses (a job or an export reads the project).
bool TransportLeftGroupDisabled(const AppState& state);

// Whether the shape buttons show their names: the four widest labels, both
// small buttons and the gaps fit left of the centred transport.
// `labelWidth` is bw (the Contour label with padding), `square` s,
// `transportWidth` P + g1 + S + g1 + B + g2 + Wt + g2 + B.
bool TransportLabelsFit(float displayWidth, float fontSize, float labelWidth, float square, float transportWidth);

// Adds an event of `kind` at the playhead with weight centre 0.3, the scene
// keyword template as its keywords when set, selects it and marks the
// project changed (no undo step is taken for it). Returns its index, or -1.
std::int32_t AddShapeEventAtPlayhead(AppState& state, Project& project, std::int32_t kind);

// [SECTION] Master volume and meters

inline constexpr float kMaxMasterGain = 1.5f;  // +3.5 dB

// The gain after a drag of `mouseDeltaX` units: 0.008 per unit, 0..1.5.
float DragMasterGain(float gain, float mouseDeltaX);
// 20 log10(gain), or -60 at or below 0.001.
float MasterGainDb(float gain);
// Stores the gain and hands it to the mixer.
void SetMasterGain(PlaybackEngine& engine, float gain);

// One frame of a meter's ballistics: toward `target` with a 15 ms rise and
// a 180 ms fall over `dt` seconds.
float FollowTransportMeter(float level, float target, float dt);
// The meter's fill over `width`: -48 dB to 0 dB; nothing below 0.004.
float TransportMeterFill(float level, float width);
// 2 high (above 0.9), 1 mid (above 0.7), else 0 low.
int TransportMeterZone(float level);
// Both meters, once per frame: the engine's peaks while it plays, else 0.
void UpdateTransportMeters(const PlaybackEngine& engine, float dt);

// [SECTION] Unlock all and Build

int CountLockedEvents(const Project& project);
// One undo step, then every event unlocked; nothing when none is locked.
void UnlockAllEvents(Project& project);

struct BuildButtonView {
    bool enabled = false;
    const char* caption = "Build";
    // The hover tooltip, or null when none shows (a disabled button explains
    // itself only when all events are locked or the picture is being read).
    const char* tooltip = nullptr;
};
BuildButtonView GetBuildButtonView(int eventCount, int lockedCount, bool hasPalettes, bool jobActive,
                                   bool pictureReading);

// A click on the enabled button: one undo step, then a build of every event
// when none is locked, else a list render of the unlocked ones in order.
void RequestBuild(AppState& state, const Project& project);

}  // namespace korvel
