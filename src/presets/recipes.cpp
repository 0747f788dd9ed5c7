#include "presets/recipes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <stdexcept>

#include "app/frame_work.h"
#include "engine/bed_event.h"
#include "engine/clip_event.h"
#include "engine/published_layers.h"
#include "engine/voice_sync.h"
#include "library/brightness_probe.h"
#include "library/file_id.h"
#include "library/id_hashing.h"
#include "library/library.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "presets/recipe_previews.h"
#include "presets/user_folders.h"
#include "project/app_state.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project_file_format.h"
#include "project/project_file_read.h"
#include "project/project_json_read.h"
#include "project/undo.h"

namespace korvel {

// Index
// [SECTION] Process-wide state
// [SECTION] File stem
// [SECTION] Writer
// [SECTION] Reader
// [SECTION] Saving and the list
// [SECTION] Capture and apply
// [SECTION] Placing

namespace fs = std::filesystem;

// [SECTION] Process-wide state

std::vector<EventPreset> RecipeList;  // UI thread only
const char* const AppVersion = BuildVersion;

// [SECTION] File stem

namespace {

// Length of the well-formed multi-byte UTF-8 character at `at`, 0 when the
// bytes there are not one.
std::size_t Utf8CharLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

std::string RecipeFileStem(std::string_view name) { return PresetFileStem(name, "recipe"); }

std::string PresetFileStem(std::string_view name, std::string_view fallback) {
    std::string stem;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            if (c == ' ' || c == '-' || c == '_' || std::isalnum(c) != 0) stem.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        // Names in other scripts keep their letters, so they do not all
        // fall onto one "recipe" file.
        const std::size_t length = Utf8CharLength(name, i);
        if (length == 0) {
            ++i;
            continue;
        }
        stem.append(name.substr(i, length));
        i += length;
    }
    return stem.empty() ? std::string(fallback) : stem;
}

// [SECTION] Writer

void WriteStringList(JsonWriter& writer, std::string_view key, const std::vector<std::string>& values) {
    writer.WriteKey(key);
    writer.BeginArray();
    for (const std::string& value : values) {
        BeginJsonArrayItem(writer);
        WriteJsonString(writer, value);
    }
    writer.EndArray();
}

namespace {

template <typename Number>
void WriteNumbers(JsonWriter& writer, std::string_view key, const std::vector<Number>& values) {
    writer.WriteKey(key);
    writer.BeginArray();
    for (Number value : values) {
        AppendJsonNumber(BeginJsonArrayItem(writer), static_cast<double>(value), 6);
        writer.needsComma = true;
    }
    writer.EndArray();
}

}  // namespace

void WriteNumberList(JsonWriter& writer, std::string_view key, const std::vector<std::uint8_t>& values) {
    WriteNumbers(writer, key, values);
}

void WriteNumberList(JsonWriter& writer, std::string_view key, const std::vector<float>& values) {
    WriteNumbers(writer, key, values);
}

void WriteIdentityLists(JsonWriter& writer, const std::vector<std::string>& ids) {
    WriteStringList(writer, "pinnedFileIds", ids);
    // The registry's fingerprint and size let another machine match the
    // files by content; an unknown id is written as 0 and 0.
    std::vector<std::string> hashes;
    std::vector<std::string> sizes;
    for (const std::string& id : ids) {
        FileIdResult known;
        if (id.empty() || !LookupFileId(id, known)) known = {};
        hashes.push_back(FormatHexId(known.fingerprint));
        sizes.push_back(std::to_string(known.size));
    }
    WriteStringList(writer, "pinnedFileHashes", hashes);
    WriteStringList(writer, "pinnedFileSizes", sizes);
}

std::string FormatRecipe(const EventPreset& preset) {
    JsonWriter writer;
    writer.stream << '{';
    writer.depth = 1;
    writer.WriteString("format", "KorvelRecipe");
    writer.WriteInt("formatVersion", kRecipeFormatVersion);
    writer.WriteString("createdBy", AppVersion);
    writer.WriteString("name", TextOf(preset.name));
    writer.WriteString("keywords", TextOf(preset.keywords));
    writer.WriteInt("shape", preset.shape);
    writer.WriteInt("intensityMode", preset.intensityMode);
    writer.WriteFloat("duration", preset.duration);
    writer.WriteFloat("syncOffset", preset.syncOffset);
    writer.WriteFloat("spread", preset.spread);
    writer.WriteFloat("weightCenter", preset.weightCenter);
    writer.WriteFloat("intensityScale", preset.intensityScale);
    writer.WriteFloat("weightOffset", preset.weightOffset);
    writer.WriteFloat("alloyMorph", preset.alloyMorph);
    if (preset.pitchVariation > 0.001f) writer.WriteFloat("pitchVariation", preset.pitchVariation);
    writer.WriteFloat("reverbSend", preset.reverbSend);
    writer.WriteInt("fillLayers", preset.fillLayers);
    writer.WriteInt("groupOverride", preset.groupOverride);
    writer.WriteBool("stereo", preset.stereo);

    if (IsKind(preset.shape, EventKind::Clip) && preset.pinnedFile[0] != '\0') {
        writer.WriteString("pinnedFile", TextOf(preset.pinnedFile));
        if (!preset.pinnedFileId.empty()) writer.WriteString("pinnedFileId", preset.pinnedFileId);
        writer.WriteFloat("clipSourceOffset", preset.clipSourceOffset);
        writer.WriteFloat("clipSourceDuration", preset.clipSourceDuration);
        writer.WriteFloat("clipFadeIn", preset.clipFadeIn);
        writer.WriteFloat("clipFadeOut", preset.clipFadeOut);
        if (std::fabs(preset.clipPitchRate - 1.0f) > 0.001f) writer.WriteFloat("clipPitchRate", preset.clipPitchRate);
        if (preset.clipReverse) writer.WriteBool("clipReverse", true);
        if (preset.clipWeight >= 0.0f) writer.WriteFloat("clipWeight", preset.clipWeight);
    }
    if (preset.libFilter[0] != '\0') writer.WriteString("libFilter", TextOf(preset.libFilter));

    if (!preset.pinnedFiles.empty()) {
        WriteStringList(writer, "pinnedFiles", preset.pinnedFiles);
        if (!preset.pinnedFileIds.empty()) WriteIdentityLists(writer, preset.pinnedFileIds);
        if (!preset.bedLayerLoop.empty()) WriteNumberList(writer, "bedLayerLoop", preset.bedLayerLoop);
        if (!preset.bedLayerWeight.empty()) WriteNumberList(writer, "bedLayerWeight", preset.bedLayerWeight);
    }
    writer.WriteCurve("weight", preset.weight);
    writer.WriteCurve("intensity", preset.intensity);
    writer.stream << "\n}";
    return std::move(writer.stream.text);
}

// [SECTION] Reader

// Integer fields: the number is clamped before truncation, so a huge value
// lands on the nearer bound rather than wrapping.
std::int32_t ReadClampedInt(const JsonValue& value, std::int32_t fallback, std::int32_t low, std::int32_t high) {
    if (value.type != JsonType::Number || std::isnan(value.number)) return fallback;
    return static_cast<std::int32_t>(std::clamp(value.number, static_cast<double>(low), static_cast<double>(high)));
}

namespace {

float ReadClipFloat(const JsonValue& root, const char* key, const char* olderKey, float fallback) {
    const JsonValue& current = root.Get(key);
    if (current.type == JsonType::Number) return ReadJsonFloat(current, fallback);
    return ReadJsonFloat(root.Get(olderKey), fallback);
}

std::uint64_t ParseDecimal(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

std::int32_t ReadFormatNumber(const JsonValue& root) {
    const JsonValue& current = root.Get("formatVersion");
    if (current.type == JsonType::Number) return current.AsInt(0);
    const JsonValue& older = root.Get("version");
    if (older.type == JsonType::Number) return older.AsInt(0);
    return 0;
}

void ReadPinnedFileLists(const JsonValue& object, EventPreset& preset) {
    for (const JsonValue& file : object.Get("pinnedFiles").array) {
        const std::string_view path = ReadJsonText(file);
        if (!path.empty()) preset.pinnedFiles.emplace_back(path);
    }
    const std::size_t count = preset.pinnedFiles.size();
    const JsonValue& ids = object.Get("pinnedFileIds");
    for (std::size_t i = 0; i < std::min(count, ids.array.size()); ++i)
        preset.pinnedFileIds.emplace_back(ReadJsonText(ids.array[i]));
    preset.pinnedFileIds.resize(count);

    const JsonValue& loops = object.Get("bedLayerLoop");
    for (std::size_t i = 0; i < std::min(count, loops.array.size()); ++i) {
        const JsonValue& loop = loops.array[i];
        preset.bedLayerLoop.push_back(loop.type == JsonType::Number && std::trunc(loop.number) != 0.0 ? 1 : 0);
    }
    // 0.5 was what older builds wrote for a weight they never measured.
    const JsonValue& weights = object.Get("bedLayerWeight");
    for (std::size_t i = 0; i < std::min(count, weights.array.size()); ++i) {
        const float weight = ReadJsonFloat(weights.array[i], -1.0f);
        preset.bedLayerWeight.push_back(weight < 0.0f || weight == 0.5f ? -1.0f : std::min(weight, 1.0f));
    }
}

void RegisterPinnedFileIds(const JsonValue& object, EventPreset& preset, bool computeMissing) {
    const JsonValue& hashes = object.Get("pinnedFileHashes");
    const JsonValue& sizes = object.Get("pinnedFileSizes");
    for (std::size_t i = 0; i < preset.pinnedFiles.size(); ++i) {
        const std::string& path = preset.pinnedFiles[i];
        std::string& id = preset.pinnedFileIds[i];
        if (id.empty()) {
            if (!computeMissing) continue;
            std::uint64_t fingerprint = 0;
            std::uint64_t size = 0;
            if (ComputeFileFingerprint(path, fingerprint, size)) id = AssignFileId(path, fingerprint, size).id;
            continue;  // AssignFileId registered it with what it measured
        }
        FileIdResult identity;
        identity.id = id;
        identity.path = path;
        identity.fingerprint = ParseHexId(std::string(ReadJsonText(hashes.At(static_cast<std::int64_t>(i)))));
        identity.size = ParseDecimal(std::string(ReadJsonText(sizes.At(static_cast<std::int64_t>(i)))));
        RegisterFileId(identity);
    }
}

EventPreset ReadRecipeJson(const JsonValue& root) {
    EventPreset preset;
    CopyText(preset.name, ReadJsonText(root.Get("name")));
    CopyText(preset.keywords, ReadJsonText(root.Get("keywords")));
    preset.shape = ReadClampedInt(root.Get("shape"), KindValue(EventKind::Bloom), 0, kEventKindCount - 1);
    preset.intensityMode = ReadClampedInt(root.Get("intensityMode"), 0, 0, 2);
    preset.duration = ReadJsonFloat(root.Get("duration"), 2.0f);
    preset.syncOffset = ReadJsonFloat(root.Get("syncOffset"), preset.duration * 0.5f);
    preset.spread = ReadJsonFloat(root.Get("spread"), 0.3f);
    preset.weightCenter = ReadJsonFloat(root.Get("weightCenter"), 0.5f);
    preset.intensityScale = ReadJsonFloat(root.Get("intensityScale"), 1.0f);
    preset.weightOffset = ReadJsonFloat(root.Get("weightOffset"), 0.0f);
    preset.alloyMorph = ReadJsonFloat(root.Get("alloyMorph"), 0.35f);
    preset.pitchVariation = ReadJsonFloat(root.Get("pitchVariation"), 0.0f, 0.0f, 1.0f);
    preset.reverbSend = ReadJsonFloat(root.Get("reverbSend"), -1.0f);
    preset.gain = ReadJsonFloat(root.Get("gain"), 1.0f);
    preset.fillLayers = ReadClampedInt(root.Get("fillLayers"), 0, 0, 24);
    preset.groupOverride = ReadJsonInt(root.Get("groupOverride"), -1);
    preset.stereo = root.Get("stereo").type == JsonType::Bool && root.Get("stereo").boolean;

    if (IsKind(preset.shape, EventKind::Clip)) {
        CopyText(preset.pinnedFile, ReadJsonText(root.Get("pinnedFile")));
        preset.pinnedFileId = std::string(ReadJsonText(root.Get("pinnedFileId")));
        preset.clipSourceOffset = ReadClipFloat(root, "clipSourceOffset", "placeSourceOffset", 0.0f);
        preset.clipSourceDuration = ReadClipFloat(root, "clipSourceDuration", "placeSourceDuration", 0.0f);
        preset.clipFadeIn = ReadClipFloat(root, "clipFadeIn", "placeFadeIn", -1.0f);
        preset.clipFadeOut = ReadClipFloat(root, "clipFadeOut", "placeFadeOut", -1.0f);
        preset.clipPitchRate = ReadJsonFloat(root.Get("clipPitchRate"), 1.0f);
        preset.clipReverse = root.Get("clipReverse").type == JsonType::Bool && root.Get("clipReverse").boolean;
        preset.clipWeight = ReadJsonFloat(root.Get("clipWeight"), -1.0f);
    }
    CopyText(preset.libFilter, ReadJsonText(root.Get("libFilter")));

    ReadPinnedFileLists(root, preset);

    preset.weight.fill(0.5f);
    preset.intensity.fill(0.5f);
    ReadCurveJson(root.Get("weight"), preset.weight);
    ReadCurveJson(root.Get("intensity"), preset.intensity);
    return preset;
}

void ResolveRecipeIdentities(const JsonValue& root, EventPreset& preset) {
    if (IsKind(preset.shape, EventKind::Clip) && preset.pinnedFileId.empty() && preset.pinnedFile[0] != '\0')
        preset.pinnedFileId = ComputeFileId(std::string(TextOf(preset.pinnedFile))).id;
    RegisterPinnedFileIds(root, preset, true);
}

bool ReadPresetJsonFile(const std::string& path, const PresetFileKind& kind,
                        const std::function<void(const JsonValue&)>& read) {
    std::string text;
    std::uint64_t size = 0;
    if (!ReportLimitedRead(ReadFileWithin(path, kind.limit, text, &size), kind.section, path, size, kind.limit))
        return false;
    try {
        const JsonValue root = ParseJson(text);
        const std::int32_t format = ReadFormatNumber(root);
        if (format > kind.formatVersion) {
            std::fprintf(stderr,
                         "%s '%s' was saved by a newer version (format %d, this build supports %d). Loading "
                         "what we can.\n",
                         kind.name, path.c_str(), format, kind.formatVersion);
        }
        read(root);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    ReportLimitedRead(LimitedRead::OutOfMemory, kind.section, path, size, kind.limit);
    return false;
}

EventPreset ReadRecipeFile(const std::string& path) {
    static constexpr PresetFileKind kRecipeFile{"Recipe", "Recipes", kRecipeFileLimit, kRecipeFormatVersion};
    EventPreset preset;
    const bool read = ReadPresetJsonFile(path, kRecipeFile, [&preset](const JsonValue& root) {
        preset = ReadRecipeJson(root);
        ResolveRecipeIdentities(root, preset);
    });
    if (!read) preset = EventPreset{};
    preset.sourcePath = path;
    return preset;
}

// [SECTION] Saving and the list

namespace {

bool IsRecipeFileName(const fs::path& path) {
    const std::string extension = path.extension().string();
    return extension == kRecipeExtension || extension == ".json";
}

// The name stored in a recipe or chain file, without the identity work of a
// full read.
std::string StoredPresetName(const fs::path& path) {
    // Quiet: the list has already said which files it could not read.
    std::string text;
    if (ReadFileWithin(path.string(), kChainFileLimit, text) != LimitedRead::Ok) return {};
    try {
        EventPreset preset;
        CopyText(preset.name, ReadJsonText(ParseJson(text).Get("name")));
        return std::string(TextOf(preset.name));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return {};
}

}  // namespace

std::string RecipeSavePath(const std::string& folder, std::string_view name) {
    return PresetSavePath(folder, name, kRecipeExtension, "recipe");
}

std::string PresetSavePath(const std::string& folder, std::string_view name, std::string_view extension,
                           std::string_view fallbackStem) {
    EventPreset named;
    CopyText(named.name, name);
    const std::string_view stored = TextOf(named.name);
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string fileExtension = it->path().extension().string();
        if (fileExtension != extension && fileExtension != ".json") continue;
        if (StoredPresetName(it->path()) == stored) return it->path().string();
    }
    const std::string stem = PresetFileStem(stored, fallbackStem);
    for (int n = 1;; ++n) {
        const std::string candidate =
            folder + "/" + (n == 1 ? stem : stem + " " + std::to_string(n)) + std::string(extension);
        std::error_code existsError;
        if (!fs::exists(candidate, existsError)) return candidate;
    }
}

bool SaveRecipeTo(const std::string& folder, const EventPreset& preset, std::error_code& error,
                  std::string* writtenPath) {
    error.clear();
    fs::create_directories(folder, error);
    if (error) return false;
    const std::string path = RecipeSavePath(folder, TextOf(preset.name));
    errno = 0;
    if (!WriteFileAtomic(path, FormatRecipe(preset))) {
        error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        return false;
    }
    if (writtenPath != nullptr) *writtenPath = path;
    return true;
}

bool SaveRecipe(const EventPreset& preset, std::error_code& error) {
    error.clear();
    const std::string folder = RecipesFolder();
    if (folder.empty()) return false;
    EventPreset saved = preset;
    if (!SaveRecipeTo(folder, preset, error, &saved.sourcePath)) return false;
    // The preview takes the stem of the file just written, which may be an
    // older one or carry a suffix.
    StartRecipePreviewBake(saved);
    return true;
}

std::vector<EventPreset> LoadRecipesFrom(const std::string& folder) {
    std::vector<EventPreset> recipes;
    if (folder.empty()) return recipes;
    std::vector<std::string> paths;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (IsRecipeFileName(it->path())) paths.push_back(it->path().string());
    // Directory order varies: sorting the paths first keeps equal names in a
    // stable order from run to run.
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) recipes.push_back(ReadRecipeFile(path));
    auto folded = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    std::stable_sort(recipes.begin(), recipes.end(), [&](const EventPreset& a, const EventPreset& b) {
        return folded(TextOf(a.name)) < folded(TextOf(b.name));
    });
    return recipes;
}

void ReloadRecipes(AppState& app) {
    app.PresetMenusDirty = true;
    RecipeList = LoadRecipesFrom(RecipesFolder());
    PruneRecipePreviews();
}

void ReloadRecipes() { ReloadRecipes(GlobalAppState); }

bool RecipeListHasName(std::string_view name) { return FindRecipeNamed(name) != nullptr; }

const EventPreset* FindRecipeNamed(std::string_view name) {
    const auto found = std::find_if(RecipeList.begin(), RecipeList.end(),
                                    [&](const EventPreset& recipe) { return TextOf(recipe.name) == name; });
    return found != RecipeList.end() ? &*found : nullptr;
}

// [SECTION] Capture and apply

EventPreset CapturePresetFromEvent(const Event& event) {
    EventPreset preset;
    CopyText(preset.keywords, TextOf(event.keywords));
    preset.shape = event.shape;
    preset.intensityMode = event.intensityMode;
    preset.duration = event.duration;
    preset.syncOffset = event.syncOffset;
    preset.spread = event.spread;
    preset.weightCenter = event.weightCenter;
    preset.intensityScale = event.intensityScale;
    preset.weightOffset = event.weightOffset;
    preset.alloyMorph = event.alloyMorph;
    preset.pitchVariation = event.pitchVariation;
    preset.reverbSend = event.reverbSend;
    preset.fillLayers = event.fillLayers;
    preset.groupOverride = event.groupOverride;
    preset.stereo = event.stereo;
    CopyText(preset.libFilter, TextOf(event.libFilter));
    preset.pinnedFiles = event.pinnedFiles;
    preset.pinnedFileIds = event.pinnedFileIds;
    preset.bedLayerLoop = event.bedLayerLoop;
    preset.bedLayerWeight = event.bedLayerWeight;
    preset.weight = event.weight;
    preset.intensity = event.intensity;
    if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0') {
        CopyText(preset.pinnedFile, TextOf(event.pinnedFile));
        preset.pinnedFileId = event.pinnedFileId;
        preset.clipSourceOffset = event.clipSourceOffset;
        preset.clipSourceDuration = event.clipSourceDuration;
        preset.clipFadeIn = event.clipFadeIn;
        preset.clipFadeOut = event.clipFadeOut;
        preset.clipPitchRate = event.clipPitchRate;
        preset.clipReverse = event.clipReverse;
        preset.clipWeight = event.clipWeight;
    }
    return preset;
}

void Event::ApplyPreset(const EventPreset& preset) {
    CopyText(presetName, TextOf(preset.name));
    CopyText(keywords, TextOf(preset.keywords));
    shape = preset.shape;
    intensityMode = preset.intensityMode;
    duration = preset.duration;
    syncOffset = preset.syncOffset;
    spread = preset.spread;
    weightCenter = preset.weightCenter;
    intensityScale = preset.intensityScale;
    weightOffset = preset.weightOffset;
    alloyMorph = preset.alloyMorph;
    pitchVariation = preset.pitchVariation;
    reverbSend = preset.reverbSend;
    fillLayers = preset.fillLayers;
    groupOverride = preset.groupOverride;
    stereo = preset.stereo;
    CopyText(libFilter, TextOf(preset.libFilter));
    pinnedFiles = preset.pinnedFiles;
    pinnedFileIds = preset.pinnedFileIds;
    bedLayerLoop = preset.bedLayerLoop;
    bedLayerWeight = preset.bedLayerWeight;
    EnsureEventFileIds(*this);
    usePinnedFile = !pinnedFiles.empty();
    weight = preset.weight;
    intensity = preset.intensity;
    if (IsKind(preset.shape, EventKind::Clip)) {
        if (preset.pinnedFile[0] != '\0') {
            CopyText(pinnedFile, TextOf(preset.pinnedFile));
            pinnedFileId = preset.pinnedFileId;
        }
        usePinnedFile = true;
        locked = true;
        clipSourceOffset = preset.clipSourceOffset;
        clipSourceDuration = preset.clipSourceDuration;
        clipFadeIn = preset.clipFadeIn;
        clipFadeOut = preset.clipFadeOut;
        clipPitchRate = preset.clipPitchRate;
        clipReverse = preset.clipReverse;
        clipWeight = preset.clipWeight;
    } else {
        locked = false;
    }
}

// [SECTION] Placing

namespace {

// Clip: its layer now, the event as long as the layer, heard at once.
void MakeClipAudible(AppState& state, Project& project, std::int32_t index) {
    {
        LayerStorageEdit edit(project);
        BuildClipEvent(project, index);
    }
    Event& clip = project.events[static_cast<std::size_t>(index)];
    LoadWaveformOverview(std::string(TextOf(clip.pinnedFile)).c_str());
    for (const LayerResult& layer : project.results) {
        if (layer.eventIdx != index) continue;
        clip.duration = layer.duration;
        break;
    }
    RenderEvent(index);
    CheckRenderCacheIntegrity();
    LocatePlayback(LivePlaybackEngine, state.playhead);
}

// Bed: weights the library knows, its layers now, and the frame's loading
// job (which waits for any other job) renders it.
void MakeBedAudible(AppState& state, Project& project, std::int32_t index) {
    Event& bed = project.events[static_cast<std::size_t>(index)];
    if (bed.bedLayerWeight.empty()) {
        for (std::size_t i = 0; i < bed.pinnedFiles.size(); ++i) {
            const FileId id = i < bed.pinnedFileIds.size() ? bed.pinnedFileIds[i] : FileId();
            bed.bedLayerWeight.push_back(GetFileBrightness(bed.pinnedFiles[i], id, &SoundLibrary.palettes));
        }
    }
    bed.locked = true;
    {
        LayerStorageEdit edit(project);
        SyncBedEventLayers(project, index);
    }
    state.pendingBedLayout = index;
}

}  // namespace

bool PlaceRecipeAtPlayhead(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= RecipeList.size()) return false;
    AppState& state = GlobalAppState;
    // A build or an export reads the events and layers this would add to.
    if (!UiMayEditProject(state)) {
        PostStatus(kBusyEditStatus, 3.0f);
        return false;
    }
    Project& project = CurrentProject;
    const EventPreset& recipe = RecipeList[static_cast<std::size_t>(index)];
    PushUndo();
    const std::int32_t placed = project.AddEvent(state.playhead, recipe.shape, recipe.weightCenter);
    if (placed < 0) return false;
    Event& event = project.events[static_cast<std::size_t>(placed)];
    event.ApplyPreset(recipe);
    event.time = state.playhead;
    state.SelectEvent(placed);

    if (IsKind(event.shape, EventKind::Clip)) {
        if (event.pinnedFile[0] != '\0') MakeClipAudible(state, project, placed);
    } else if (IsKind(event.shape, EventKind::Bed)) {
        if (!event.pinnedFiles.empty()) MakeBedAudible(state, project, placed);
    }
    return true;
}

}  // namespace korvel
