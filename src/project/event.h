#pragma once
// Timeline events, their kinds with the per-kind defaults, the rule that
// places an event in a track group, and the event's pinned-file list.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Points of every event and shape curve, spread evenly over the event:
// point i stands for time + duration * i / 255.
inline constexpr int kCurvePoints = 256;
using CurvePoints = std::array<float, kCurvePoints>;

// Stored as a plain int in `Event::shape`, since files may hold any value.
enum class EventKind : std::int32_t {
    Spot = 0,
    Bloom = 1,
    Contour = 2,
    Fill = 3,
    Scatter = 4,
    Clip = 5,
    Bed = 6,
};
inline constexpr int kEventKindCount = 7;

constexpr std::int32_t KindValue(EventKind kind) { return static_cast<std::int32_t>(kind); }
constexpr bool IsKind(std::int32_t shape, EventKind kind) { return shape == KindValue(kind); }

// Display names, indexed by kind.
inline constexpr std::array<const char*, kEventKindCount> EventKindNames = {
    "Spot", "Bloom", "Contour", "Fill", "Scatter", "Clip", "Bed"};

struct EventKindDefaultTables {
    std::array<float, kEventKindCount> duration;  // seconds
    std::array<float, kEventKindCount> spread;
};
inline constexpr EventKindDefaultTables EventKindDefaults = {
    {1.5f, 4.0f, 4.0f, 8.0f, 4.0f, 2.0f, 8.0f},
    {0.0f, 0.3f, 0.3f, 0.1f, 0.5f, 0.0f, 0.0f},
};

// Track groups: 0 "BG", 1 "FX A", 2 "FX B".
inline constexpr int kTrackGroupCount = 3;

struct EventPreset;

// True when a recipe already has this name.
using RecipeNameTaken = std::function<bool(std::string_view)>;

// How an event's intensity curve is edited; a project file stores the
// numbers.
inline constexpr std::int32_t kIntensityFollowsSync = 0;  // the curve follows the sync point
inline constexpr std::int32_t kIntensityFlat = 1;         // a scene's Fill: flat until drawn
inline constexpr std::int32_t kIntensityDrawn = 2;        // drawn freely (Fill, Bed, Contour)

// Fields without a meaningful default are zeroed (and userShapeIdx is -1,
// "none") so that a half-filled event never holds indeterminate values;
// every creator sets them.
struct Event {
    float time = 0.0f;      // start, seconds
    float duration = 0.0f;  // seconds
    float spread = 0.0f;
    float weightCenter = 0.0f;
    float intensityScale = 1.0f;
    float weightOffset = 0.0f;
    float syncOffset = 0.0f;  // seconds from `time` to the sync point
    std::int32_t shape = KindValue(EventKind::Spot);
    std::int32_t userShapeIdx = -1;
    bool locked = false;
    bool muted = false;
    bool stereo = false;
    bool hero = false;
    float gain = 1.0f;
    bool alloy = false;
    float alloyMorph = 1.0f;
    float pitchVariation = 0.0f;
    std::int32_t scaleTuneOverride = 0;  // 2 = scale tuning off; 0 and 1 follow the project
    float reverbSend = -1.0f;            // negative: the group's send
    std::int32_t fillLayers = 0;         // 0 = chosen by the build, at most 24
    std::int32_t groupOverride = -1;     // 1 or 2 force that group; see EffectiveGroup
    std::int32_t sceneLink = -1;
    std::int32_t sceneCrossfade = 1;  // frames, 0..120
    bool sceneFill = false;
    char keywords[256] = {};
    char pinnedFile[512] = {};
    std::string pinnedFileId;
    bool usePinnedFile = false;
    // Parallel lists; the ids may be shorter in data from older files.
    std::vector<std::string> pinnedFiles;
    std::vector<std::string> pinnedFileIds;
    // Bed only, parallel to pinnedFiles.
    std::vector<std::uint8_t> bedLayerLoop;
    std::vector<float> bedLayerWeight;  // negative = not yet known
    float clipSourceOffset = 0.0f;
    float clipSourceDuration = 0.0f;  // 0 = to the end of the file
    float clipFadeIn = -1.0f;         // negative = automatic
    float clipFadeOut = -1.0f;
    float clipPitchRate = 1.0f;
    bool clipReverse = false;
    float clipWeight = -1.0f;  // negative = not yet measured
    std::vector<Event> bounceSource;
    char folder[64] = {};
    char libFilter[512] = {};
    char presetName[64] = {};
    std::int32_t intensityMode = kIntensityFollowsSync;  // a kIntensity value, stored as its number
    CurvePoints weight = {};
    CurvePoints intensity = {};
    CurvePoints traceGain = {};
    bool hasTraceGain = false;

    // Exact byte comparison: no case folding, no path normalisation.
    bool HasPinnedFile(std::string_view path) const;
    // Appends the path unless already pinned, with `fileId` or, when that is
    // empty, the identity the registry gives the file (empty if unreadable).
    void AddPinnedFile(const std::string& path, const std::string& fileId);
    // Removes every entry equal to `path`, with its id where one exists.
    void RemovePinnedFile(std::string_view path);

    // Keeps an automatic intensity curve on the sync point after timing
    // edits; user shapes and other curves (not kIntensityFollowsSync) are left alone.
    void EnsureDefaultIntensityCurve();
    // Writes a recipe's settings onto the event (its name becomes the
    // presetName); time, gain, flags, folder, scene link and bounce sources
    // stay. Undo, layer builds and rendering are the caller's.
    void ApplyPreset(const EventPreset& preset);

    // Proposes a name such as "Body Spot" or "Rain Forest Bed", made unique
    // against the recipe names with " 2" to " 99" (against RecipeList when no
    // `recipeNameTaken` is given); writes at most size - 1 characters.
    void AutoName(char* out, std::size_t size, const RecipeNameTaken& recipeNameTaken = {}) const;
};

// The group whose tracks, gain and reverb send the event's layers use.
std::int32_t EffectiveGroup(const Event& event);
// The group of a kind when nothing overrides it; unknown kinds go to "FX A".
std::int32_t DefaultGroupForKind(std::int32_t kind);

// Exactly 16 lower-case hex digits.
std::string FormatHexId(std::uint64_t value);
// strtoull in base 16; 0 for empty text or text without leading hex digits.
std::uint64_t ParseHexId(const std::string& text);

}  // namespace korvel
