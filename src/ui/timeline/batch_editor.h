#pragma once
// The inspector's form for two or more selected events: one set of controls
// whose changes go to every valid selected event (indices in range, in
// ascending order). The edits are apart from their widgets so that each
// rule holds whatever draws it. UI thread only.
#include <cstdint>
#include <vector>

namespace korvel {

struct AppState;
struct InspectorMetrics;
struct PlaybackEngine;
struct Project;

// What the form shows, read from the valid selected events each frame.
// With none valid every "all" holds, the mean gain is 1 and the mean pitch
// variation 0.
struct BatchFacts {
    std::vector<std::int32_t> valid;  // ascending
    bool allMuted = true;
    bool allLocked = true;
    bool anyNonClip = false;
    bool builtAndIdle = false;
    bool allOnB = true;  // every one's effective group is FX B
    std::int32_t tuneFollow = 0;  // scaleTuneOverride 0
    std::int32_t tuneOff = 0;     // scaleTuneOverride 2
    float meanGain = 1.0f;
    float meanPitch = 0.0f;  // pitchVariation, 0..1
    // The scale-tuning toggle follows the project while fewer are forced off
    // than follow.
    bool TuningFollows() const { return tuneOff < tuneFollow; }
};
BatchFacts ReadBatchFacts(const AppState& state, const Project& project);

// Undo snapshot, then every valid selected event muted (unmuted when all
// were), the revision bumped and their live voices updated.
void BatchToggleMute(AppState& state, Project& project, PlaybackEngine& engine);
// Undo snapshot, then every one locked (unlocked when all were).
void BatchToggleLock(AppState& state, Project& project);
// Undo snapshot, every non-Clip unlocked and asked to build as a list.
// False (nothing done) without a non-Clip or while rebuilding is refused.
bool BatchRequestRebuild(AppState& state, Project& project);
// Undo snapshot; the whole keyword buffer into every one, unlocked; the
// buffer is emptied.
void BatchApplyKeywords(AppState& state, Project& project, char (&keywords)[256]);
// Undo snapshot; the filter text into every non-Clip.
void BatchApplyPaletteFilter(AppState& state, Project& project, const char* filter);
// Undo snapshot; forced off where the toggle follows, else following; the
// cache is rebuilt when there are layers, at once or after the running job.
void BatchToggleScaleTuning(AppState& state, Project& project);
// Moves every one's gain by `deltaDb` from its own level (silence counts as
// the floor), within the floor and 0 dB; live voices follow. No snapshot.
void BatchShiftGainDb(AppState& state, Project& project, PlaybackEngine& engine, float deltaDb);
// Sets every one's pitch variation to `semitones` (0..24) and unlocks it.
void BatchSetPitchVariation(AppState& state, Project& project, float semitones);
// Undo snapshot; all to FX A when all were on FX B, else all to FX B; the
// override stays only against the kind's default; layers regroup and the
// tracks are reallocated. Refused (false) while a job or export reads them.
bool BatchToggleBus(AppState& state, Project& project);

// The form, in the inspector's scroll child.
void DrawBatchEditor(AppState& state, Project& project, const InspectorMetrics& m);

}  // namespace korvel
