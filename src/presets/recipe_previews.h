#pragma once
// Recipe previews: each saved recipe built once from the library on a
// thread of its own, mixed to mono and kept as a short 16-bit WAV beside the
// recipe files ("<file stem>_preview.wav"), so the designer can hear what a
// recipe tends to give without placing it.
//
// [SECTION] Process-wide state
// [SECTION] Paths and pruning
// [SECTION] Baking
// [SECTION] Playing
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "presets/recipes.h"

namespace korvel {

struct Palette;
struct PlaybackEngine;

// [SECTION] Process-wide state

// True from just before a bake to just after it. Written by the bake thread,
// read by the UI thread's pruning, which then leaves temporaries and
// previews alone.
extern std::atomic<bool> RecipePreviewBusy;

// The most recent bake thread. UI thread only: SaveRecipe joins it before
// starting the next bake, StopWorkers joins it at quit. A jthread, so an
// exit() from a library (a lost display) joins a finished bake, not aborts.
extern std::jthread RecipePreviewWorker;

inline constexpr int kPreviewSampleRate = 48000;
inline constexpr const char* kPreviewSuffix = "_preview";

// [SECTION] Paths and pruning

// Beside the file the recipe was read from (or saved to), named by that
// file's own stem; for a recipe without a file, the name's stem in the
// recipes folder. Empty when neither is known.
std::string RecipePreviewPath(const EventPreset& recipe);
bool RecipePreviewExists(const EventPreset& recipe);
// Removes the preview; a failure is ignored.
void DeleteRecipePreview(const EventPreset& recipe);

// The stem (without ".wav") the recipe's preview file has.
std::string RecipePreviewStem(const EventPreset& recipe);

// Removes previews no recipe of RecipeList owns any more. Nothing while a
// bake runs. UI thread, after the list was rebuilt.
void PruneRecipePreviews();
// In `folder` (no recursion), only names ending in "_preview.wav" whose
// stem is not kept, and their ".tmp" temporaries unless a bake runs. Every
// other file is the designer's and stays.
void DeleteStalePreviews(const std::set<std::string>& keptStems, const std::string& folder);

// [SECTION] Baking

// The event the bake builds: the recipe's settings with its duration held
// to 0.3..30 s, starting at the recipe's sync offset (its own sync offset
// 0). Clip settings only for a Clip recipe with a file; no Bed lists.
Event MakePreviewEvent(const EventPreset& recipe);

// Mixes the engine's unmuted voices to mono at 48 kHz: N = (min(d + 1, the
// last voice end)) seconds of samples, each voice with its fades, level and
// curves. Empty when N < 1.
std::vector<float> MixPreviewVoices(const PlaybackEngine& engine, float eventDuration);

// Scales a mix that peaks above 0.001 to a peak of 0.708, then cuts the
// silent tail (below 0.00001) behind a 480-sample linear fade-out.
void FinishPreviewSamples(std::vector<float>& samples);

// Writes mono 16-bit 48 kHz through path + ".tmp", moved over `path` once
// complete; on failure nothing is left at the temporary and an earlier
// preview stays.
bool WritePreviewWav(const std::string& path, std::vector<float> samples);

// The whole bake on the calling thread, into a project and an engine of its
// own, from `palettes` (a copy the caller owns for the bake's length). False
// with nothing written while the library scans, without a path, or when the
// build or the render gives nothing.
bool BakeRecipePreview(const EventPreset& recipe, const std::vector<Palette>& palettes);

// The bake thread's body: RecipePreviewBusy around one bake.
void RecipePreviewThread(std::shared_ptr<const EventPreset> recipe,
                         std::shared_ptr<const std::vector<Palette>> palettes);

// UI thread: joins the previous bake, copies the library's enabled palettes
// (scans, relinks and palette edits change them only on this thread) and
// starts the bake of `recipe`.
void StartRecipePreviewBake(const EventPreset& recipe);

// Joins the bake thread when there is one. UI thread (StopWorkers).
void JoinRecipePreviewWorker();

// [SECTION] Playing

// Reads the whole preview file and hands it to the engine's audition
// preview at its own rate. False when there is no file or no frame in it.
bool PlayRecipePreview(const EventPreset& recipe, PlaybackEngine& engine);

}  // namespace korvel
