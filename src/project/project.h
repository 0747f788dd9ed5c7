#pragma once
// The open project document: settings, events, layers, user shapes, the
// three track groups, banned files and scenes.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/copyable_atomic.h"
#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct AppState;
struct Chain;

// A named span of the timeline that scene-linked events follow.
struct Scene {
    char name[64] = {};
    float inTime = 0.0f;   // seconds
    float outTime = 0.0f;  // seconds
    char keywords[128] = {};
};

// A custom event shape the designer saved; events refer to it by index.
struct UserShape {
    char name[64] = {};
    char keywords[256] = {};
    float defaultDuration = 0.0f;
    float spread = 0.0f;
    float weightCenter = 0.0f;
    float intensityScale = 0.0f;
    float weightOffset = 0.0f;
    float syncOffset = 0.0f;
    CurvePoints weight = {};
    CurvePoints intensity = {};
};

// One track group. The per-group values live in TrackLayout's defaults.
struct TrackGroupLayout {
    char name[32] = {};
    std::int32_t trackCount = 8;  // 1..32
    bool stereo = true;           // new events of this group's kinds are stereo
    float targetLUFS = -16.0f;    // -60..-6
    std::int32_t usedLanes = 0;   // computed by track allocation, never saved
};

// Tracks per group when the budget is off.
inline constexpr int kUnbudgetedTracks = 48;

struct TrackLayout {
    bool budgetMode = false;  // limit each group to its trackCount
    std::array<TrackGroupLayout, kTrackGroupCount> groups = {{
        {.name = "BG", .targetLUFS = -48.0f},
        {.name = "FX A", .targetLUFS = -16.0f},
        {.name = "FX B", .targetLUFS = -25.0f},
    }};
};

struct Project {
    float totalDuration = 30.0f;  // seconds
    float fps = 24.0f;
    float startTC = 0.0f;  // seconds
    float maxEventDuration = 30.0f;
    std::int32_t scaleType = 0;  // 0 = none
    std::int32_t scaleRoot = 0;  // semitones 0..11
    // Kept, saved and loaded; no build step reads these three.
    std::int32_t pitchShiftProb = 0;
    std::int32_t freqShiftIntensity = 0;
    std::int32_t reverseProb = 0;
    bool normalizeLUFS = true;
    std::int32_t alloyAlgorithm = 2;
    float alloyTransferDepth = 0.2f;
    float alloyAttackGraft = 0.03f;  // seconds
    float alloyMicroPitch = 0.03f;
    std::int32_t alloyFilterBands = 10;
    // Event indices are the event numbers used everywhere.
    std::vector<Event> events;
    std::vector<LayerResult> results;
    // Layers a running build has finished: stored by the build thread with
    // release order; the UI thread draws that many leading `results` while
    // it holds PublishedLayersMutex (engine/published_layers.h), under which
    // every move of the layers happens.
    CopyableAtomic<std::int32_t> builtResultCount{0};
    std::int32_t revision = 0;  // bumped by edits in the events tab
    std::int32_t rerollCounter = 0;  // counted up by every re-roll, part of its seed; never saved
    bool built = false;
    std::vector<UserShape> userShapes;
    TrackLayout trackLayout;
    // Parallel lists; the ids may be shorter in data from older files.
    std::vector<std::string> bannedFiles;
    std::vector<std::string> bannedFileIds;
    std::vector<Scene> scenes;
    // Mixed into each re-draw's seed. Counted up by the Fill draw on the build
    // thread and by re-rolls; the UI reads it only while no job runs.
    std::int32_t drawCounter = 0;

    // Exact byte comparison.
    bool IsFileBanned(std::string_view path) const;
    // Bans the path once (with `fileId`, else the identity the registry gives
    // the file) and mutes every layer playing it, also when already banned.
    void BanFile(const std::string& path, const std::string& fileId);
    // Removes every entry equal to the path; muted layers stay muted.
    void UnbanFile(std::string_view path);

    // Up to three keyword words with capitals (signed '+'/'-' words skipped),
    // or the display label when no word remains. UI thread only: the text
    // lives in one of four rotating buffers and stays valid until four more
    // titles (event_curves.cpp).
    const char* EventTitle(const Event& event) const;

    // [SECTION] Event editing (event_editing.cpp). None of these pushes an
    // undo step: their callers do. Invalid indices return -1 or do nothing.

    // Appends an event of `kind` (0..6) with that kind's defaults and curves.
    std::int32_t AddEvent(float time, std::int32_t kind, float weightCenter);
    // A Fill or a locked Bed spanning the scene, filed under its name; -1 for
    // an invalid scene index.
    std::int32_t AddSceneFill(std::int32_t scene);
    std::int32_t AddSceneBed(std::int32_t scene);
    // Removes the event and its layers and renumbers the later events'
    // layers. The selection and the voices are renumbered by the caller.
    void DeleteEvent(std::int32_t index);
    // Renames the scene (63 bytes kept) and the folder of its backgrounds.
    void RenameScene(std::int32_t scene, const char* name);

    // Appends the chain's events from `time` on, in one new folder (linked
    // when `state.chainsImportAsGroup`), renders its Clips into the live
    // engine and selects the new events (presets/chains.cpp).
    void InstantiateChain(AppState& state, const Chain& chain, float time);
};

// The open project. Owned by the UI thread, which alone edits it. A running
// background job reads and writes `events` and `results` while the UI starts
// no edit (the job's active flag); the layers a build has published are the
// one part the UI reads meanwhile (see `builtResultCount`). The build also
// writes relinked pinned paths into `events`, read again once the job ends.
// Live voices never point into `events`: they hold their own copies of the
// curves they play.
extern Project CurrentProject;

}  // namespace korvel
