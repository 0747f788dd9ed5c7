#pragma once
// Recipes: the build settings of one event saved under a name, one file per
// recipe in the recipes folder, and the list of them that menus and tabs
// show. Copying between a recipe and an event is here too.
#include <cstdint>
#include <functional>
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
    std::int32_t intensityMode = kIntensityFollowsSync;
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

// The largest recipe and chain files read: a recipe is kilobytes, a chain a
// few dozen recipes; a larger file is refused before it can exhaust memory.
inline constexpr std::uint64_t kRecipeFileLimit = 1u << 20;
inline constexpr std::uint64_t kChainFileLimit = 4u << 20;

// Never fails: an unreadable file gives the defaults with `sourcePath` set.
// A newer format prints a warning to standard error and reads what it can;
// a file over kRecipeFileLimit, or one that runs out of memory, is refused
// with one bracketed line.
EventPreset ReadRecipeFile(const std::string& path);

// Where a recipe of this name is saved in `folder`: the file that already
// holds a recipe of the same name, else a new stem, with " 2", " 3" ... when
// a recipe of another name holds it.
std::string RecipeSavePath(const std::string& folder, std::string_view name);

// Writes the recipe's file into `folder` (created with its parents). False
// with `error` set when the folder cannot be made or the write fails. The
// file's path goes to `writtenPath` when given.
bool SaveRecipeTo(const std::string& folder, const EventPreset& preset, std::error_code& error,
                  std::string* writtenPath = nullptr);
// The same into the recipes folder; false (no error) when there is none.
// Only a written file starts the bake of its preview.
bool SaveRecipe(const EventPreset& preset, std::error_code& error);

// [SECTION] Shared with chain files

// RecipeFileStem's rule with another name for an empty stem.
std::string PresetFileStem(std::string_view name, std::string_view fallback);
// RecipeSavePath's rule among the files of `extension` (and ".json").
std::string PresetSavePath(const std::string& folder, std::string_view name, std::string_view extension,
                           std::string_view fallbackStem);
// "formatVersion", else the older "version", else 0.
std::int32_t ReadFormatNumber(const JsonValue& root);

// What tells recipe and chain files apart when they are read.
struct PresetFileKind {
    const char* name;     // "Recipe", "Chain": the newer-format warning
    const char* section;  // the bracketed lines' section
    std::uint64_t limit;  // the largest file read, in bytes
    std::int32_t formatVersion;
};

// Reads the JSON file at `path` within the kind's size limit and hands its
// root to `read`, catching allocation failure in the parse and in `read`.
// False, after one bracketed line for a file refused or out of memory (none
// for one that does not open), when `read` did not complete.
bool ReadPresetJsonFile(const std::string& path, const PresetFileKind& kind,
                        const std::function<void(const JsonValue&)>& read);
// Clamped before truncation; `fallback` for anything but a number.
std::int32_t ReadClampedInt(const JsonValue& value, std::int32_t fallback, std::int32_t low, std::int32_t high);
// The pinned files (empty paths skipped), their ids cut or padded to them,
// and the loop flags and weights of the first files.
void ReadPinnedFileLists(const JsonValue& object, EventPreset& preset);
// Registers every non-empty id with the stored fingerprint and size; with
// `computeMissing`, files without an id get one when they can be read.
void RegisterPinnedFileIds(const JsonValue& object, EventPreset& preset, bool computeMissing);
// A list with "[" on the line after the key and one element per line.
void WriteStringList(JsonWriter& writer, std::string_view key, const std::vector<std::string>& values);
void WriteNumberList(JsonWriter& writer, std::string_view key, const std::vector<std::uint8_t>& values);
void WriteNumberList(JsonWriter& writer, std::string_view key, const std::vector<float>& values);
// "pinnedFileIds" with the registry's "pinnedFileHashes" and "pinnedFileSizes".
void WriteIdentityLists(JsonWriter& writer, const std::vector<std::string>& ids);

// Every recipe file directly in `folder` (".kvrecipe" or ".json", exact
// case), sorted by name. Empty when the folder is missing or unreadable.
std::vector<EventPreset> LoadRecipesFrom(const std::string& folder);
// Rebuilds RecipeList from the recipes folder, marks the menus dirty and
// prunes previews no recipe owns any more.
void ReloadRecipes(AppState& app);
void ReloadRecipes();

// Whether RecipeList holds a recipe of this name (exact bytes): the default
// name check of Event::AutoName.
bool RecipeListHasName(std::string_view name);
// The RecipeList entry of this name (exact bytes), else null; valid until
// the next reload.
const EventPreset* FindRecipeNamed(std::string_view name);

// [SECTION] Events

// The event's settings as a recipe with an empty name and gain 1.
EventPreset CapturePresetFromEvent(const Event& event);

// What the status line says when an edit of the project waits for a running
// job or export.
inline constexpr const char* kBusyEditStatus = "Busy: wait for the running job or export to finish";

// Adds RecipeList entry `index` at the playhead as a new selected event,
// after one undo step. A Clip is built and rendered at once; a Bed gets its
// weights and layers and asks the frame to load it. Nothing for an index
// out of range; refused (false, the busy status posted) while a background
// job or an export reads the project. UI thread.
bool PlaceRecipeAtPlayhead(std::int32_t index);

}  // namespace korvel
