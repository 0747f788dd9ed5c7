#include "project/project_file_read.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <span>
#include <unordered_map>

#include "library/file_id.h"
#include "library/id_hashing.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project_json_read.h"
#include "project/project_settings.h"

namespace korvel {

// Index
// [SECTION] Paths and identities
// [SECTION] Curves and events
// [SECTION] Layers
// [SECTION] Document settings, track layout, user shapes
// [SECTION] Picture analysis
// [SECTION] ReadProjectFile

namespace fs = std::filesystem;

// [SECTION] Paths and identities

bool ReadWholeTextFile(const std::string& path, std::string& text) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    // Sized once: growing by doubling copies and faults in a large project
    // several times over.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && info.st_size > 0) {
        text.reserve(text.size() + static_cast<std::size_t>(info.st_size));
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
    return !std::ferror(file.get());
}

std::string ResolveProjectPath(const std::string& stored, const std::string& projectFolder) {
    if (stored.empty()) return {};
    const fs::path storedPath(stored);
    if (storedPath.is_absolute()) return stored;
    const fs::path joined = fs::path(projectFolder) / storedPath;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(joined, ec)) || ec) return joined.string();
    fs::path canonical = fs::weakly_canonical(joined, ec);
    return ec ? joined.string() : canonical.string();
}

namespace {

// Resolves the stored paths of one read. A project names the same few
// hundred files from thousands of layers; each distinct text touches the file
// system once.
class PathResolver {
public:
    explicit PathResolver(const std::string& projectFolder) : folder_(projectFolder) {}

    std::string Resolve(const JsonValue& value) {
        const std::string_view stored = ReadJsonText(value);
        if (stored.empty()) return {};
        if (stored.front() == '/') return std::string(stored);  // absolute: nothing to look up
        auto [entry, added] = cache_.try_emplace(std::string(stored));
        if (added) entry->second = ResolveProjectPath(entry->first, folder_);
        return entry->second;
    }

private:
    const std::string& folder_;
    std::unordered_map<std::string, std::string> cache_;
};

// The id the registry gives a file's content; empty when it cannot be read.
FileId IdFromContent(const std::string& path) {
    if (path.empty()) return {};
    return ComputeFileId(path).id;
}

// Leading decimal digits; 0 when there are none or they overflow.
std::uint64_t ParseDecimalSize(const std::string& text) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() ? value : 0;
}

// [SECTION] Curves and events

// A point that is not a finite number reads as the neutral 0.5.
float CurvePoint(const JsonValue& value) { return ReadJsonFloat(value, 0.5f); }

// The older names of the clip keys are read when the current one is not a number.
float ReadClipValue(const JsonValue& event, const char* key, const char* olderKey, float fallback) {
    const JsonValue& current = event.Get(key);
    if (current.type == JsonType::Number) return ReadJsonFloat(current, fallback);
    return ReadJsonFloat(event.Get(olderKey), fallback);
}

void ReadPinnedFiles(Event& event, const JsonValue& value, PathResolver& paths) {
    const std::string pinned = paths.Resolve(value.Get("pinnedFile"));
    if (!pinned.empty()) {
        CopyText(event.pinnedFile, pinned);
        event.usePinnedFile = true;
        event.pinnedFileId = std::string(ReadJsonText(value.Get("pinnedFileId")));
    }
    for (const JsonValue& entry : value.Get("pinnedFiles").array) {
        std::string path = paths.Resolve(entry);
        if (!path.empty()) event.pinnedFiles.push_back(std::move(path));
    }
    const std::size_t count = event.pinnedFiles.size();
    const auto& ids = value.Get("pinnedFileIds").array;
    for (std::size_t i = 0; i < ids.size() && i < count; ++i) {
        event.pinnedFileIds.emplace_back(ReadJsonText(ids[i]));
    }
    const auto& loops = value.Get("bedLayerLoop").array;
    for (std::size_t i = 0; i < loops.size() && i < count; ++i) {
        event.bedLayerLoop.push_back(loops[i].AsInt(0) != 0 ? 1 : 0);
    }
    if (count == 0) return;
    const auto& weights = value.Get("bedLayerWeight").array;
    for (std::size_t i = 0; i < weights.size() && i < count; ++i) {
        // 0.5 was once written for weights never measured; it reads as unknown.
        const float weight = ReadJsonFloat(weights[i], -1.0f);
        event.bedLayerWeight.push_back(weight < 0.0f || weight == 0.5f ? -1.0f : std::min(weight, 1.0f));
    }
}

}  // namespace

void ReadCurveJson(const JsonValue& value, CurvePoints& curve) {
    if (value.type != JsonType::Array) {
        curve.fill(0.5f);
        return;
    }
    const std::size_t count = std::min(value.array.size(), curve.size());
    for (std::size_t i = 0; i < count; ++i) curve[i] = CurvePoint(value.array[i]);
}

namespace {

// `sceneIndex` holds, for each scene of the file, its index among the scenes
// kept (-1 for a dropped one).
void ReadEvent(Event& event, const JsonValue& value, PathResolver& paths, bool legacy, std::int32_t userShapeCount,
               const std::vector<std::int32_t>& sceneIndex) {
    event.time = ReadJsonFloat(value.Get("time"), 0.0f);
    event.duration = ReadJsonFloat(value.Get("duration"), 1.0f);
    event.spread = ReadJsonFloat(value.Get("spread"), 0.3f);
    event.weightCenter = ReadJsonFloat(value.Get("weightCenter"), 0.3f);
    event.intensityScale = ReadJsonFloat(value.Get("intensityScale"), 1.0f);
    event.weightOffset = ReadJsonFloat(value.Get("weightOffset"), 0.0f);
    event.syncOffset = ReadJsonFloat(value.Get("syncOffset"), 0.0f);

    const std::int32_t shape = ReadJsonInt(value.Get("shape"), 0);
    bool alloy = false;
    if (legacy && shape == KindValue(EventKind::Contour)) {
        // Old files had alloy as a kind of its own; it is now a Bloom with alloy.
        event.shape = KindValue(EventKind::Bloom);
        alloy = true;
    } else {
        event.shape = std::clamp(shape, 0, kEventKindCount - 1);
    }
    event.intensityMode = ReadJsonInt(value.Get("intensityMode"), 0, 0, 2);
    event.userShapeIdx = ReadJsonInt(value.Get("userShapeIdx"), -1);

    event.locked = ReadJsonBool(value.Get("locked"), false);
    event.muted = ReadJsonBool(value.Get("muted"), false);
    event.hero = ReadJsonBool(value.Get("hero"), false);
    event.stereo = ReadJsonBool(value.Get("stereo"), false);
    event.gain = ReadJsonFloat(value.Get("gain"), 1.0f, 0.0f, 1.0f);
    event.alloy = ReadJsonBool(value.Get("alloy"), alloy);
    event.alloyMorph = ReadJsonFloat(value.Get("alloyMorph"), 1.0f);
    event.pitchVariation = ReadJsonFloat(value.Get("pitchVariation"), 0.0f, 0.0f, 1.0f);
    event.scaleTuneOverride = ReadJsonInt(value.Get("scaleTuneOverride"), 0, 0, 2);
    event.fillLayers = ReadJsonInt(value.Get("fillLayers"), 0, 0, 24);
    event.reverbSend = ReadJsonFloat(value.Get("reverbSend"), -1.0f);
    event.groupOverride = ReadJsonInt(value.Get("groupOverride"), -1);
    // The file's position of a scene; a link to a scene the file does not
    // hold, or one it holds but that is dropped, is no link.
    const std::int32_t sceneLink = ReadJsonInt(value.Get("sceneLink"), -1);
    event.sceneLink = sceneLink >= 0 && static_cast<std::size_t>(sceneLink) < sceneIndex.size()
                          ? sceneIndex[static_cast<std::size_t>(sceneLink)]
                          : -1;
    event.sceneCrossfade = ReadJsonInt(value.Get("sceneCrossfade"), 1, 0, 120);
    const JsonValue& sceneFill = value.Get("sceneFill");
    event.sceneFill = sceneFill.type == JsonType::Number && sceneFill.number != 0.0;
    CopyText(event.keywords, ReadJsonText(value.Get("keywords")));

    ReadPinnedFiles(event, value, paths);
    if (!event.pinnedFiles.empty()) {
        event.usePinnedFile = true;
    } else if (event.usePinnedFile && event.pinnedFile[0] != '\0' && !IsKind(event.shape, EventKind::Clip)) {
        event.pinnedFiles.emplace_back(TextOf(event.pinnedFile));
    }
    EnsureEventFileIds(event);

    CopyText(event.folder, ReadJsonText(value.Get("folder")));
    CopyText(event.libFilter, ReadJsonText(value.Get("libFilter")));
    CopyText(event.presetName, ReadJsonText(value.Get("presetName")));
    event.clipSourceOffset = ReadClipValue(value, "clipSourceOffset", "placeSourceOffset", 0.0f);
    event.clipSourceDuration = ReadClipValue(value, "clipSourceDuration", "placeSourceDuration", 0.0f);
    event.clipFadeIn = ReadClipValue(value, "clipFadeIn", "placeFadeIn", -1.0f);
    event.clipFadeOut = ReadClipValue(value, "clipFadeOut", "placeFadeOut", -1.0f);
    event.clipWeight = ReadJsonFloat(value.Get("clipWeight"), -1.0f);

    ReadCurveJson(value.Get("weight"), event.weight);
    ReadCurveJson(value.Get("intensity"), event.intensity);
    event.hasTraceGain = ReadJsonBool(value.Get("hasTraceGain"), false);
    if (event.hasTraceGain) ReadCurveJson(value.Get("traceGain"), event.traceGain);

    for (const JsonValue& entry : value.Get("bounceSource").array) {
        Event source;
        ReadEvent(source, entry, paths, legacy, userShapeCount, sceneIndex);
        event.bounceSource.push_back(std::move(source));
    }

    // The index names a user shape of this file, or none.
    if (event.userShapeIdx < 0 || event.userShapeIdx >= userShapeCount) event.userShapeIdx = -1;
}

void ReadSourceRef(PathResolver& paths, const JsonValue& value, LayerSourceRef& source) {
    if (value.type != JsonType::Object) return;
    source.filepath = paths.Resolve(value.Get("filepath"));
    source.fileId = std::string(ReadJsonText(value.Get("fileId")));
    source.offset = ReadJsonFloat(value.Get("offset"), 0.0f);
    source.duration = ReadJsonFloat(value.Get("duration"), 0.0f);
    source.name = std::string(ReadJsonText(value.Get("name")));
    if (source.fileId.empty() && !source.filepath.empty()) source.fileId = IdFromContent(source.filepath);
}

}  // namespace

Event& ReadEventJson(Event& event, const JsonValue& value, const std::string& projectFolder, bool legacy,
                     std::int32_t userShapeCount, std::int32_t sceneCount) {
    PathResolver paths(projectFolder);
    std::vector<std::int32_t> sceneIndex(static_cast<std::size_t>(std::max(sceneCount, 0)));
    for (std::size_t i = 0; i < sceneIndex.size(); ++i) sceneIndex[i] = static_cast<std::int32_t>(i);
    ReadEvent(event, value, paths, legacy, userShapeCount, sceneIndex);
    return event;
}

void ReadLayerSourceRef(const std::string& projectFolder, const JsonValue& value, LayerSourceRef& source) {
    PathResolver paths(projectFolder);
    ReadSourceRef(paths, value, source);
}

namespace {

// [SECTION] Layers

// Entry `index` of a gain curve, clamped; 1 (unity) for a non-number or an
// index past the end.
float GainPoint(const std::vector<JsonValue>& entries, std::size_t index, float low, float high) {
    if (index >= entries.size()) return 1.0f;
    return ReadJsonFloat(entries[index], 1.0f, low, high);
}

// Older builds stored shorter intensity gains; any length is stretched over
// the full curve.
bool ReadIntGain(const JsonValue& value, CurvePoints& curve) {
    const auto& entries = value.array;
    const std::size_t n = entries.size();
    if (value.type != JsonType::Array || n == 0) return false;
    if (n >= curve.size()) {
        for (std::size_t i = 0; i < curve.size(); ++i) curve[i] = GainPoint(entries, i, 0.0f, 1.0f);
        return true;
    }
    const std::size_t lastStart = n >= 2 ? n - 2 : 0;
    for (std::size_t j = 0; j < curve.size(); ++j) {
        const double p = static_cast<double>(j) / 255.0 * static_cast<double>(n - 1);
        const std::size_t k = std::min(static_cast<std::size_t>(p), lastStart);
        const float a = GainPoint(entries, k, -HUGE_VALF, HUGE_VALF);
        const float b = GainPoint(entries, k + 1, -HUGE_VALF, HUGE_VALF);
        const float point = a + static_cast<float>(p - static_cast<double>(k)) * (b - a);
        curve[j] = std::isnan(point) ? 1.0f : std::clamp(point, 0.0f, 1.0f);
    }
    return true;
}

// Taken only from an array that covers the whole curve.
bool ReadGainArray(const JsonValue& value, std::span<float> curve, float low, float high) {
    if (value.array.size() < curve.size()) return false;
    for (std::size_t i = 0; i < curve.size(); ++i) curve[i] = GainPoint(value.array, i, low, high);
    return true;
}

void ReadLayer(LayerResult& layer, const JsonValue& value, PathResolver& paths) {
    layer.name = std::string(ReadJsonText(value.Get("name")));
    layer.filepath = paths.Resolve(value.Get("filepath"));
    layer.fileId = std::string(ReadJsonText(value.Get("fileId")));
    layer.sourceOffset = ReadJsonFloat(value.Get("sourceOffset"), 0.0f);
    layer.sourceDuration = ReadJsonFloat(value.Get("sourceDuration"), 0.0f);
    layer.startTime = ReadJsonFloat(value.Get("startTime"), 0.0f);
    layer.duration = ReadJsonFloat(value.Get("duration"), 0.0f);
    layer.weight = ReadJsonFloat(value.Get("weight"), 0.0f);
    layer.eventIdx = ReadJsonInt(value.Get("eventIdx"), 0);
    layer.track = ReadJsonInt(value.Get("track"), 0);
    // Indexes the three track groups' gains, sends and layouts.
    layer.group = ReadJsonInt(value.Get("group"), 0, 0, kTrackGroupCount - 1);
    layer.groupTrack = ReadJsonInt(value.Get("groupTrack"), 0);
    layer.procMode = ReadJsonInt(value.Get("procMode"), 0, 0, 3);
    layer.fadeIn = ReadJsonFloat(value.Get("fadeIn"), 0.01f);
    layer.fadeOut = ReadJsonFloat(value.Get("fadeOut"), 0.05f);
    layer.audioSyncOffset = ReadJsonFloat(value.Get("audioSyncOffset"), 0.0f);
    layer.stereo = ReadJsonBool(value.Get("stereo"), false);
    layer.muted = ReadJsonBool(value.Get("muted"), false);
    layer.fillLoop = ReadJsonBool(value.Get("fillLoop"), false);
    layer.layerGain = ReadJsonFloat(value.Get("layerGain"), 1.0f);
    layer.userVolume = ReadJsonFloat(value.Get("userVolume"), 1.0f, 0.0f, 2.0f);
    layer.normGain = ReadJsonFloat(value.Get("normGain"), 1.0f, 0.001f, 8.0f);
    layer.pitchShift = ReadJsonFloat(value.Get("pitchShift"), 0.0f, -24.0f, 24.0f);
    layer.pitchVarShift = ReadJsonFloat(value.Get("pitchVarShift"), 0.0f, -24.0f, 24.0f);
    layer.deconOffset = ReadJsonFloat(value.Get("deconOffset"), 0.0f);
    layer.hasIntGain = ReadIntGain(value.Get("intGain"), layer.intGain);
    layer.hasFillGain = ReadGainArray(value.Get("fillGain"), layer.fillGain, 0.0f, 2.8f);
    layer.hasDeconGain = ReadGainArray(value.Get("deconGain"), layer.deconGain, 0.0f, 1.0f);
    layer.hasEq = ReadGainArray(value.Get("eqGains"), layer.eqGains, 0.1f, 1.0f);

    const JsonValue& chunks = value.Get("fillChunks");
    if (layer.procMode == kProcModeLoopFill && chunks.type == JsonType::Array) {
        layer.fillChunks.reserve(chunks.array.size());
        for (const JsonValue& entry : chunks.array) {
            // Sample positions and lengths index the source: never negative,
            // a chunk's end (s + l) still a 32-bit position, and a crossfade
            // never longer than its chunk.
            FillChunk chunk;
            chunk.s = std::max(entry.Get("s").AsInt(0), 0);
            chunk.l = std::clamp(entry.Get("l").AsInt(0), 0, std::numeric_limits<std::int32_t>::max() - chunk.s);
            chunk.x = std::clamp(entry.Get("x").AsInt(0), 0, chunk.l);
            layer.fillChunks.push_back(chunk);
        }
    }
    if (layer.procMode == kProcModeAlloy) {
        layer.alloyMorph = ReadJsonFloat(value.Get("alloyMorph"), 1.0f);
        layer.alloyAlgo = ReadJsonInt(value.Get("alloyAlgo"), 3, 0, 3);
        ReadSourceRef(paths, value.Get("alloyMid"), layer.alloyMid);
        ReadSourceRef(paths, value.Get("alloyHigh"), layer.alloyHigh);
        ReadSourceRef(paths, value.Get("alloyEnv"), layer.alloyEnv);
    }
}

// A layer's file found again by its identity, or given one from its content.
void ResolveLayerFile(LayerResult& layer, ProjectLoadResult& result) {
    if (!layer.fileId.empty()) {
        RegisterFileId({layer.fileId, layer.filepath, 0, 0});
        std::string current = ResolvePathById(layer.fileId);
        if (!current.empty()) {
            layer.filepath = std::move(current);
        } else {
            result.missingFiles.push_back(layer.filepath);
        }
    } else if (!layer.filepath.empty()) {
        if (IsFileReadable(layer.filepath)) {
            layer.fileId = IdFromContent(layer.filepath);
        } else {
            result.missingFiles.push_back(layer.filepath);
        }
    }
}

// [SECTION] Document settings, track layout, user shapes

void ReadDocumentSettings(Project& project, const JsonValue& root) {
    project.totalDuration = ReadJsonFloat(root.Get("totalDuration"), 30.0f);
    // Every conversion between time and frames divides by it.
    project.fps = ReadJsonFloat(root.Get("fps"), 24.0f, kMinFrameRate, kMaxFrameRate);
    project.startTC = ReadJsonFloat(root.Get("startTC"), 0.0f);
    project.maxEventDuration = ReadJsonFloat(root.Get("maxEventDuration"), 30.0f);
    project.scaleType = ReadJsonInt(root.Get("scaleType"), 0, 0, 16);
    project.scaleRoot = ReadJsonInt(root.Get("scaleRoot"), 0, 0, 11);
    project.pitchShiftProb = ReadJsonInt(root.Get("pitchShiftProb"), 0, 0, 100);
    project.freqShiftIntensity = ReadJsonInt(root.Get("freqShiftIntensity"), 0, 0, 100);
    project.reverseProb = ReadJsonInt(root.Get("reverseProb"), 0, 0, 100);
    project.normalizeLUFS = ReadJsonBool(root.Get("normalizeLUFS"), true);
    project.alloyAlgorithm = ReadJsonInt(root.Get("alloyAlgorithm"), 2, 0, 3);
    project.alloyTransferDepth = ReadJsonFloat(root.Get("alloyTransferDepth"), 0.2f, 0.0f, 1.0f);
    project.alloyAttackGraft = ReadJsonFloat(root.Get("alloyAttackGraft"), 0.03f, 0.0f, 0.2f);
    project.alloyMicroPitch = ReadJsonFloat(root.Get("alloyMicroPitch"), 0.03f, 0.0f, 0.15f);
    project.alloyFilterBands = ReadJsonInt(root.Get("alloyFilterBands"), 10, 4, 24);
}

std::int32_t ReadSampleRate(const JsonValue& value) {
    const std::int32_t rate = value.AsInt(kDefaultProjectSampleRate);
    for (std::int32_t accepted : kProjectSampleRates) {
        if (rate == accepted) return rate;
    }
    return kDefaultProjectSampleRate;
}

// Only what the file names changes: a project opened after another keeps the
// layout values this file leaves out.
void ReadTrackLayout(TrackLayout& layout, const JsonValue& value) {
    if (value.Has("budgetMode")) layout.budgetMode = value.Get("budgetMode").AsBool(false);
    for (int g = 0; g < kTrackGroupCount; ++g) {
        char key[8];
        std::snprintf(key, sizeof key, "group%d", g);
        const JsonValue& object = value.Get(key);
        if (object.type != JsonType::Object) continue;
        TrackGroupLayout& group = layout.groups[static_cast<std::size_t>(g)];
        const std::string_view name = ReadJsonText(object.Get("name"));
        if (!name.empty()) CopyText(group.name, name);
        if (object.Has("trackCount")) group.trackCount = ReadJsonInt(object.Get("trackCount"), 4, 1, 32);
        if (object.Has("stereo")) group.stereo = object.Get("stereo").AsBool(false);
        if (object.Has("targetLUFS")) group.targetLUFS = ReadJsonFloat(object.Get("targetLUFS"), -24.0f, -60.0f, -6.0f);
    }
}

void ReadFileRefs(const JsonValue& refs, PathResolver& paths) {
    for (const JsonValue& entry : refs.array) {
        FileIdResult identity;
        identity.id = std::string(ReadJsonText(entry.Get("id")));
        if (identity.id.empty()) continue;
        identity.path = paths.Resolve(entry.Get("path"));
        identity.fingerprint = ParseHexId(std::string(ReadJsonText(entry.Get("hash"))));
        identity.size = ParseDecimalSize(std::string(ReadJsonText(entry.Get("size"))));
        RegisterFileId(identity);
    }
}

void ReadBannedFiles(Project& project, const JsonValue& root) {
    for (const JsonValue& entry : root.Get("bannedFiles").array) {
        const std::string_view path = ReadJsonText(entry);
        if (!path.empty()) project.bannedFiles.emplace_back(path);
    }
    for (const JsonValue& entry : root.Get("bannedFileIds").array) {
        project.bannedFileIds.emplace_back(ReadJsonText(entry));
    }
    // Files banned by older builds have no id yet: give them one from their
    // content so that a moved file stays banned.
    while (project.bannedFileIds.size() < project.bannedFiles.size()) {
        const std::string& path = project.bannedFiles[project.bannedFileIds.size()];
        std::uint64_t fingerprint = 0;
        std::uint64_t size = 0;
        if (ComputeFileFingerprint(path, fingerprint, size)) {
            project.bannedFileIds.push_back(AssignFileId(path, fingerprint, size).id);
        } else {
            project.bannedFileIds.emplace_back();
        }
    }
    project.bannedFileIds.resize(project.bannedFiles.size());
}

void ReadUserShapes(Project& project, const JsonValue& shapes) {
    for (const JsonValue& entry : shapes.array) {
        UserShape shape;
        CopyText(shape.name, ReadJsonText(entry.Get("name")));
        CopyText(shape.keywords, ReadJsonText(entry.Get("keywords")));
        shape.defaultDuration = ReadJsonFloat(entry.Get("defaultDuration"), 2.0f);
        shape.spread = ReadJsonFloat(entry.Get("spread"), 0.3f);
        shape.weightCenter = ReadJsonFloat(entry.Get("weightCenter"), 0.3f);
        shape.intensityScale = ReadJsonFloat(entry.Get("intensityScale"), 1.0f);
        shape.weightOffset = ReadJsonFloat(entry.Get("weightOffset"), 0.0f);
        shape.syncOffset = ReadJsonFloat(entry.Get("syncOffset"), 0.0f);
        ReadCurveJson(entry.Get("weight"), shape.weight);
        ReadCurveJson(entry.Get("intensity"), shape.intensity);
        project.userShapes.push_back(shape);
    }
}

// [SECTION] Picture analysis

void ReadDetection(TraceDetection& detection, const JsonValue& value) {
    detection.time = ReadJsonFloat(value.Get("time"), 0.0f);
    detection.type = ReadJsonInt(value.Get("type"), 0, 0, 2);
    detection.confidence = ReadJsonFloat(value.Get("confidence"), 0.0f);
    detection.tier = ReadJsonInt(value.Get("tier"), 0, 0, 2);
    detection.suggestedDuration = ReadJsonFloat(value.Get("suggestedDuration"), 1.0f);
    // Becomes an event's kind when the suggestion is accepted.
    detection.suggestedShape = ReadJsonInt(value.Get("suggestedShape"), 0, 0, kEventKindCount - 1);
    detection.intensity = ReadJsonFloat(value.Get("intensity"), 1.0f);
    detection.suggestedGain = ReadJsonFloat(value.Get("suggestedGain"), 1.0f);
    detection.suggestedSyncOffset = ReadJsonFloat(value.Get("suggestedSyncOffset"), 0.0f);
    detection.suggestedWeightCenter = ReadJsonFloat(value.Get("suggestedWeightCenter"), 0.3f);
    detection.suggestedSpread = ReadJsonFloat(value.Get("suggestedSpread"), 0.3f);
    const auto& curve = value.Get("intensityCurve").array;
    detection.hasIntensityCurve = curve.size() >= detection.intensityCurve.size();
    for (std::size_t i = 0; i < detection.intensityCurve.size(); ++i) {
        detection.intensityCurve[i] = detection.hasIntensityCurve ? ReadJsonFloat(curve[i], 0.0f) : 0.0f;
    }
    CopyText(detection.keywords, ReadJsonText(value.Get("keywords")));
    CopyText(detection.presetName, ReadJsonText(value.Get("presetName")));
    detection.accepted = ReadJsonBool(value.Get("accepted"), true);
    detection.peelLayer = ReadJsonInt(value.Get("peelLayer"), 0);
}

void ReadOptical(ProjectLoadResult& result, const JsonValue& value) {
    TraceAnalysis& analysis = result.traceAnalysis;
    analysis.duration = ReadJsonFloat(value.Get("duration"), 0.0f);
    // Frame times divide by it.
    analysis.fps = ReadJsonFloat(value.Get("fps"), 10.0f, kMinFrameRate, kMaxFrameRate);
    analysis.numFrames = ReadJsonInt(value.Get("numFrames"), 0);
    analysis.maxCompositeEnergy = ReadJsonFloat(value.Get("maxCompositeEnergy"), 0.0f);
    result.opticalDetail = ReadJsonFloat(value.Get("opticalDetail"), 0.35f, 0.0f, 1.0f);
    const std::size_t stride =
        static_cast<std::size_t>(std::max(ReadJsonInt(value.Get("frameStride"), kFrameMeasureCount), kFrameMeasureCount));

    const auto& numbers = value.Get("frames").array;
    const std::size_t frameCount = numbers.size() / stride;
    analysis.frames.resize(frameCount);
    for (std::size_t j = 0; j < frameCount; ++j) {
        const JsonValue* v = &numbers[j * stride];
        auto at = [v](int i) { return ReadJsonFloat(v[i], 0.0f); };
        analysis.frames[j] = {at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9), at(10)};
    }
    for (const JsonValue& entry : value.Get("events").array) {
        TraceDetection detection;
        ReadDetection(detection, entry);
        analysis.events.push_back(detection);
    }
    analysis.valid = frameCount > 0;
}

}  // namespace

// [SECTION] ReadProjectFile

namespace {

std::string DamageText(const JsonDamage& damage) {
    // A zero byte or the depth bound ends the text early too: the cause is named.
    if (damage.zeroByte) return "it holds a zero byte";
    if (damage.tooDeep) return "it nests too deep";
    if (damage.endedEarly) return "it ends early";
    return {};
}

// The elements of a large array member: read one at a time from the text
// when the parse deferred it, so the tree never holds them all.
template <typename Visit>
void ForEachRootElement(const JsonValue& root, const JsonDeferredArray& deferred, Visit&& visit) {
    if (deferred.start != nullptr) {
        ForEachJsonElement(deferred, visit);
        return;
    }
    for (const JsonValue& entry : root.Get(deferred.key).array) visit(entry);
}

std::size_t RootElementCount(const JsonValue& root, const JsonDeferredArray& deferred) {
    return deferred.start != nullptr ? deferred.count : root.Get(deferred.key).array.size();
}

// The lists the reader replaces, moved out of a project and back again, so
// the project can be copied without them and is restored even when the copy
// fails.
struct ReadListsSet {
    std::vector<Event> events;
    std::vector<LayerResult> results;
    std::vector<UserShape> userShapes;
    std::vector<std::string> bannedFiles;
    std::vector<std::string> bannedFileIds;

    void Take(Project& p) {
        events = std::move(p.events);
        results = std::move(p.results);
        userShapes = std::move(p.userShapes);
        bannedFiles = std::move(p.bannedFiles);
        bannedFileIds = std::move(p.bannedFileIds);
    }
    void Give(Project& p) {
        p.events = std::move(events);
        p.results = std::move(results);
        p.userShapes = std::move(userShapes);
        p.bannedFiles = std::move(bannedFiles);
        p.bannedFileIds = std::move(bannedFileIds);
    }
};

// A copy of the project's single settings and track layout, with the read
// lists empty.
Project CopyWithoutReadLists(Project& project) {
    struct Restore {
        Project& project;
        ReadListsSet lists;
        ~Restore() { lists.Give(project); }
    } restore{project, {}};
    restore.lists.Take(project);
    return project;
}

ProjectLoadResult ReadIntoProject(const std::string& text, const std::string& projectFolder, Project& project);

}  // namespace

std::string DamagedProjectStatus(const ProjectLoadResult& result) {
    return "Opened a damaged file (" + result.damage + "); the original is kept at the next save";
}

ProjectLoadResult ReadProjectText(const std::string& text, const std::string& projectFolder, Project& project) {
    // Read into a copy: a file too large for memory fails with a status,
    // and the open project stays as it was whatever step ran out.
    try {
        Project staged = CopyWithoutReadLists(project);
        ProjectLoadResult result = ReadIntoProject(text, projectFolder, staged);
        if (result.ok) project = std::move(staged);
        return result;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    ProjectLoadResult result;
    result.error = kProjectOutOfMemory;
    return result;
}

namespace {

ProjectLoadResult ReadIntoProject(const std::string& text, const std::string& projectFolder, Project& project) {
    ProjectLoadResult result;
    if (text.empty()) {
        result.error = "Empty file";
        return result;
    }
    // Events and layers are most of a project: each is read from the text,
    // used and dropped, so opening costs the text, the project and one
    // element's tree rather than the whole tree besides.
    JsonDeferredArray deferred[2] = {{.key = "events"}, {.key = "results"}};
    JsonDamage damage;
    const JsonValue root = ParseJsonDeferring(text, deferred, damage);
    if (root.type != JsonType::Object) {
        result.error = "Invalid JSON";
        return result;
    }
    const JsonValue& format = root.Get("format");
    if (format.type != JsonType::String || format.string != kProjectFormatTag) {
        result.error = "Not a Korvel project file";
        return result;
    }

    const std::int32_t version = root.Get("version").AsInt(1);
    const std::int32_t minReaderVersion = root.Get("minReaderVersion").AsInt(1);
    if (minReaderVersion > kProjectFormatVersion) {
        result.warning = "Newer version project";
        const std::string_view savedBy = ReadJsonText(root.Get("savedBy"));
        if (!savedBy.empty()) {
            result.warning += " (saved by v";
            result.warning += savedBy;
            result.warning += ")";
        }
        result.warning += " \xE2\x80\x94 some data may be lost if you save";
    }
    const bool legacy = version < kProjectLegacyBoundary;

    // The scenes, track layout and single settings are not reset: the file
    // rewrites what it names.
    project.events.clear();
    project.results.clear();
    project.userShapes.clear();
    project.bannedFiles.clear();
    project.bannedFileIds.clear();
    project.built = false;

    PathResolver paths(projectFolder);
    ReadDocumentSettings(project, root);
    result.projectSampleRate = ReadSampleRate(root.Get("projectSampleRate"));
    result.videoPath = paths.Resolve(root.Get("videoPath"));
    result.videoStartTime = ReadJsonFloat(root.Get("videoStartTime"), 0.0f);
    result.projectDescription = std::string(ReadJsonText(root.Get("projectDescription")));
    for (const JsonValue& entry : root.Get("libraryPaths").array) {
        result.libraryPaths.emplace_back(ReadJsonText(entry));
    }
    const JsonValue& layout = root.Get("trackLayout");
    if (layout.type == JsonType::Object) ReadTrackLayout(project.trackLayout, layout);
    ReadFileRefs(root.Get("fileRefs"), paths);
    ReadBannedFiles(project, root);
    for (const JsonValue& entry : root.Get("linkedGroups").array) {
        const std::string_view name = ReadJsonText(entry);
        if (!name.empty()) result.linkedGroups.emplace(name);
    }
    ReadUserShapes(project, root.Get("userShapes"));

    // The scenes themselves arrive with the session settings, which drop
    // empty ones: the events' links follow their scene to its new index.
    const std::vector<std::int32_t> sceneIndex = KeptSceneIndices(root.Get("scenes"));
    const auto userShapeCount = static_cast<std::int32_t>(project.userShapes.size());
    // Reserved from the elements the text really holds, so a file of more
    // than memory takes fails at once rather than after reading half.
    project.events.reserve(RootElementCount(root, deferred[0]));
    ForEachRootElement(root, deferred[0], [&](const JsonValue& entry) {
        project.events.emplace_back();
        ReadEvent(project.events.back(), entry, paths, legacy, userShapeCount, sceneIndex);
    });

    const auto eventCount = static_cast<std::int32_t>(project.events.size());
    // A layer belongs to an event: without events none can be kept.
    if (eventCount > 0) {
        project.results.reserve(RootElementCount(root, deferred[1]));
        ForEachRootElement(root, deferred[1], [&](const JsonValue& entry) {
            LayerResult layer;
            ReadLayer(layer, entry, paths);
            if (layer.eventIdx < 0 || layer.eventIdx >= eventCount) layer.eventIdx = 0;
            ResolveLayerFile(layer, result);
            project.results.push_back(std::move(layer));
        });
    }
    project.built = !project.results.empty();

    if (!result.videoPath.empty() && !IsFileReadable(result.videoPath)) {
        result.missingFiles.push_back(result.videoPath);
    }
    const JsonValue& optical = root.Get("optical");
    if (optical.type == JsonType::Object) ReadOptical(result, optical);
    result.damage = DamageText(damage);
    result.ok = true;
    return result;
}

}  // namespace

ProjectLoadResult ReadProjectFile(const std::string& path, Project& project) {
    std::string text;
    return ReadProjectFile(path, project, text);
}

ProjectLoadResult ReadProjectFile(const std::string& path, Project& project, std::string& text) {
    text.clear();
    bool read = false;
    try {
        read = !path.empty() && ReadWholeTextFile(path, text);
    } catch (const std::bad_alloc&) {
        text = std::string();
        ProjectLoadResult result;
        result.error = kProjectOutOfMemory;
        return result;
    }
    if (!read) {
        text.clear();
        ProjectLoadResult result;
        result.error = "Could not open file: " + path;
        return result;
    }
    return ReadProjectText(text, fs::path(path).parent_path().string(), project);
}

}  // namespace korvel
