#pragma once
// The layer rows under the unfolded event of the events list: audition one
// layer alone, mute it, step through its earlier sounds or draw another,
// like (pin) or dislike (ban) its file, set its volume and how its file's
// channels are read. The edits are plain functions over the project, the
// engine and the application state, tested headless; DrawLayerRows feeds
// them the clicks.
//
// [SECTION] Layer edits
// [SECTION] Audition
// [SECTION] Sound changes
// [SECTION] Drawing
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace korvel {

struct AppState;
struct Library;
struct LayerResult;
struct PlaybackEngine;
struct Project;
struct VideoPlayer;

// [SECTION] Layer edits
// Each takes a result index; a stale one, or a layer whose event index is
// stale where the event is needed, changes nothing. None runs while the edit
// guard is closed. Voice fields are written under the engine's voice lock.

// Whether the layer's file is banned from the project.
bool IsLayerBanned(const Project& project, std::int32_t layer);
// A banned layer is held muted: mutes it (and its voices) when it is not,
// counting the revision. True when it changed.
bool HoldBannedLayerMuted(Project& project, PlaybackEngine& engine, std::int32_t layer);
// The mute button: one undo step; a banned layer's does nothing.
void ToggleLayerMute(Project& project, PlaybackEngine& engine, std::int32_t layer);
// Like: unpins a pinned file; otherwise pins it, unbanning (and unmuting
// the layer) first when it was banned. One undo step.
void ToggleLayerLike(Project& project, PlaybackEngine& engine, std::int32_t layer);
// Dislike: unbans a banned file (the layer unmuted); otherwise unpins it,
// bans it and mutes every voice playing the same file. One undo step.
void ToggleLayerDislike(Project& project, PlaybackEngine& engine, std::int32_t layer);

inline constexpr float kLayerVolumeFloorDb = -60.0f;
inline constexpr float kLayerVolumeMinDb = -24.0f;
inline constexpr float kLayerVolumeMaxDb = 6.0f;
// The volume field's value: 20·log10(userVolume), the floor for silence.
float LayerVolumeDb(const LayerResult& layer);
// Sets the layer's volume from `db` (held in -24..+6) and its voices' gains;
// no undo step, but the project is marked changed.
void SetLayerVolumeDb(AppState& state, Project& project, PlaybackEngine& engine, std::int32_t layer, float db);

// The channel interpretation of a library file (its first record), 0 (Auto)
// when the library does not hold it.
std::int32_t FileChannelInterpretation(const Library& library, const std::string& path);
// The layer menu's choice: a new interpretation for the file asks for a
// full rebuild. True when it changed anything.
bool ChooseChannelInterpretation(AppState& state, Library& library, const std::string& path,
                                 std::int32_t value);

// [SECTION] Audition

// The name click: stops the layer's audition, or starts it when a voice
// plays the layer (solo voice, position and playing flag in the engine,
// playhead and picture moved to the layer's start). True when it started.
bool ToggleLayerRowAudition(AppState& state, const Project& project, PlaybackEngine& engine, VideoPlayer& video,
                         std::int32_t layer);
// Ends an audition, if any; the engine keeps playing.
void EndLayerAudition(AppState& state, PlaybackEngine& engine);

// [SECTION] Sound changes

// What the rows asked for in one frame: a result index each, -1 none.
struct SoundChangeRequests {
    std::int32_t previous = -1;
    std::int32_t next = -1;     // next from the history
    std::int32_t another = -1;  // a newly drawn sound
};
// Starts at most one of the requests (previous, then next, then another)
// as a background job, with its undo step taken only when the job will
// start. Returns the result index started, or -1.
std::int32_t StartSoundChange(const Project& project, const SoundChangeRequests& requests);

// [SECTION] Drawing

// A layer name cut from its end, a whole character at a time, until it plus
// "..." fits `width` (names shorter than four bytes are left whole); at most
// 63 bytes.
std::string FitLayerName(std::string_view name, float width, const std::function<float(std::string_view)>& measure);

// Draws the layer rows of event `event` at the window cursor, under an event
// row starting at screen x `rowLeft`, `rowWidth` wide, and starts a recorded
// sound change after the last row. F is the layout's font size.
void DrawLayerRows(std::int32_t event, float rowLeft, float rowWidth, float fontSize);

}  // namespace korvel
