#pragma once
// Recipes: the build settings of one event saved under a name, one file per
// recipe in the recipes folder, and the list of them that menus and tabs
// show. Copying between a recipe and an event is here too.
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "project/event.h"
#include "project/json.h"

namespace korvel {

struct AppState;

// Plain record, copied by value. Every field but `name` and `sourcePath`
// mirrors the Event field of the same name; `name` is the event's presetName.
struct EventPreset {
    char name[64] = {};
    char keywords[256] = {};
    std::int32_t shape = KindValue(EventKind::Bloom);
    std::int32_t intensityMode = 0;
    float duration = 2.0f;
    float syncOffset = 0.0f;
    float spread = 0.3f;
    float weightCenter = 0.5f;
    float intensityScale = 1.0f;
    float weightOffset = 0.0f;
    float alloyMorph = 1.0f;  // a file without the key reads 0.35
    float pitchVariation = 0.0f;
    float reverbSend = -1.0f;
    float gain = 1.0f;  // read from files, never written; only the preview uses it
    std::int32_t fillLayers = 0;
    std::int32_t groupOverride = -1;
    bool stereo = false;
    char pinnedFile[512] = {};
    std::string pinnedFileId;
    char libFilter[512] = {};
    std::vector<std::string> pinnedFiles;
    std::vector<std::string> pinnedFileIds;  // parallel to pinnedFiles, empty = none yet
    std::vector<std::uint8_t> bedLayerLoop;
    std::vector<float> bedLayerWeight;  // -1 = not measured
    float clipSourceOffset = 0.0f;
    float clipSourceDuration = 0.0f;
    float clipFadeIn = -1.0f;
    float clipFadeOut = -1.0f;
    float clipPitchRate = 1.0f;
    bool clipReverse = false;
    float clipWeight = -1.0f;
    CurvePoints weight = {};     // every path that makes a recipe fills both curves
    CurvePoints intensity = {};
    std::string sourcePath;  // the file it was read from; never written
};

// Every recipe of the recipes folder, sorted by name (ASCII case folded).
// UI thread only, unlocked; indices stay valid until the next reload.
extern std::vector<EventPreset> RecipeList;

// The application's version, written as "createdBy".
extern const char* const AppVersion;

inline constexpr std::int32_t kRecipeFormatVersion = 1;
inline constexpr const char* kRecipeExtension = ".kvrecipe";

// [SECTION] Files

// The file name of a new recipe without folder and extension: blanks, "-",
// "_", ASCII letters and digits and whole UTF-8 characters are kept, other
// bytes dropped; "recipe" when nothing is left.
std::string RecipeFileStem(std::string_view name);

// The file's text in the writer's layout.
std::string FormatRecipe(const EventPreset& preset);

// The record a parsed recipe file describes, without touching the
// file-identity registry (ids stay as the file gives them).
EventPreset ReadRecipeJson(const JsonValue& root);

// Gives pinned files without an id one and registers every id the file
// names with its stored fingerprint and size.
void ResolveRecipeIdentities(const JsonValue& root, EventPreset& preset);

// Never fails: an unreadable file gives the defaults with `sourcePath` set.
// A newer format prints a warning to standard error and reads what it can.
EventPreset ReadRecipeFile(const std::string& path);

// Where a recipe of this name is saved in `folder`: the file that already
// holds a recipe of the same name, else a new stem, with " 2", " 3" ... when
// a recipe of another name holds it.
std::string RecipeSavePath(const std::string& folder, std::string_view name);

// Writes the recipe's file into `folder` (created with its parents). False
// with `error` set when the folder cannot be made or the write fails.
bool SaveRecipeTo(const std::string& folder, const EventPreset& preset, std::error_code& error);
// The same into the recipes folder; false (no error) when there is none.
bool SaveRecipe(const EventPreset& preset, std::error_code& error);

// Every recipe file directly in `folder` (".kvrecipe" or ".json", exact
// case), sorted by name. Empty when the folder is missing or unreadable.
std::vector<EventPreset> LoadRecipesFrom(const std::string& folder);
// Rebuilds RecipeList from the recipes folder and marks the menus dirty.
void ReloadRecipes(AppState& app);
void ReloadRecipes();

// Whether RecipeList holds a recipe of this name (exact bytes): the default
// name check of Event::AutoName.
bool RecipeListHasName(std::string_view name);

// [SECTION] Events

// The event's settings as a recipe with an empty name and gain 1.
EventPreset CapturePresetFromEvent(const Event& event);

}  // namespace korvel
