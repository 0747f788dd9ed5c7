#pragma once
// The inspector's edits of the selected events, apart from their widgets so
// that each rule holds whatever draws it. Light edits take no undo snapshot;
// each marks the project changed only when it changes a value, so quitting
// never loses one silently and an idle frame marks nothing. UI thread only.
#include <cstdint>
#include <vector>

namespace korvel {

struct AppState;
struct Event;
struct Project;
struct PlaybackEngine;

// The event `index` designates, or null when it is out of range.
Event* FindEvent(Project& project, std::int32_t index);

// Flips `muted` and bumps the project's revision; the event's live voices
// take the event's mute, or their own layer's when it is unmuted.
void ToggleEventMute(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index);
// The live voices of `events` (ascending indices) take their event's mute,
// or their own layer's where the event is unmuted.
void SyncEventVoiceMutes(const Project& project, PlaybackEngine& engine, const std::vector<std::int32_t>& events);
void ToggleEventLock(AppState& state, Event& event);

// Rebuilding one event needs a built project and no background job.
bool CanRebuildEvent(const AppState& state, const Project& project);
// Undo snapshot, unlock, and the one-event render request; false when refused.
bool RequestEventRebuild(AppState& state, Project& project, std::int32_t index);

// Empties the palette filter of every selected event.
void ClearSelectionPaletteFilter(AppState& state, Project& project);
// Unpins every file of the event.
void ClearEventPins(AppState& state, Event& event);

// The editors' vertical drags (dy pixels over an editor eh high) shift the
// weight offset (-1..1) or scale the intensity (0..2), and unlock the event.
void DragWeightOffset(AppState& state, Event& event, float dy, float eh);
void DragIntensityScale(AppState& state, Event& event, float dy, float eh);
// Double clicks put them back to 0 and 1.
void ResetWeightOffset(AppState& state, Event& event);
void ResetIntensityScale(AppState& state, Event& event);

// The sync point at fraction u (clamped 0..1) of the event; every kind but
// Spot re-shapes its default intensity curve around it. While stopped the
// playhead and the picture follow the event.
void MoveSyncPoint(AppState& state, Event& event, float u);

// The gain field shows dB, with silence at its floor.
inline constexpr float kGainFloorDb = -24.0f;
float GainToDb(float gain);
// Stores 10^(dB/20) (never 0: the floor is a level) in the event and its
// live voices.
void SetEventGainDb(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t index, float db);
// `semitones` 0..24 of variation, stored as a fraction; unlocks the event.
void SetPitchVariation(AppState& state, Event& event, float semitones);

// Flips scale tuning between following the project and forced off for the
// selection (undo snapshot), then has the cache rebuilt when layers exist:
// at once, or after the running job.
void ToggleScaleTuning(AppState& state, Project& project, std::int32_t index);

// The fill layer count, 1..24; unlocks the event.
void SetFillLayers(AppState& state, Event& event, std::int32_t layers);

// Links the event to scene `scene` (-1 unlinks); a Bed linked to a scene is
// locked to it.
void LinkEventScene(AppState& state, Event& event, std::int32_t scene);

// The scene crossfade in frames, 0..120.
void SetSceneCrossfade(AppState& state, Event& event, std::int32_t frames);

// Fills both curves from the picture over the event's span. The analysis
// runs on the video's own axis, which starts `videoOffset` seconds into the
// timeline; the span starts at time - syncOffset.
struct TraceAnalysis;
void TraceCurvesFromPicture(AppState& state, Event& event, const TraceAnalysis& analysis, float videoOffset);

// Moves the event to the other FX bus (undo snapshot); every layer takes its
// event's group again and the tracks are reallocated. Refused with the busy
// status while a job or an export reads the layers.
void ToggleEventBus(Project& project, std::int32_t index);
// Every layer takes its event's group; the tracks are reallocated.
void RegroupLayers(Project& project);

}  // namespace korvel
