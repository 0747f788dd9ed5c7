#include "presets/chains.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <new>
#include <sstream>
#include <stdexcept>

#include "app/frame_work.h"
#include "engine/clip_event.h"
#include "engine/layer_render.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "engine/voice_gain.h"
#include "engine/voice_sync.h"
#include "library/file_id.h"
#include "library/id_hashing.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/user_folders.h"
#include "project/app_state.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/project_file_read.h"
#include "project/project_json_read.h"
#include "project/undo.h"

namespace korvel {

// Index
// [SECTION] Process-wide state
// [SECTION] Writer
// [SECTION] Reader
// [SECTION] Saving and the list
// [SECTION] Placing

namespace fs = std::filesystem;

// [SECTION] Process-wide state

std::vector<Chain> ChainList;  // UI thread only

// [SECTION] Writer

namespace {

bool IsIndex(std::int32_t index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

void WriteChainEvent(JsonWriter& writer, const Event& event, float t0) {
    writer.BeginObject();
    writer.WriteFloat("relTime", event.time - t0);
    writer.WriteFloat("syncOffset", event.syncOffset);
    writer.WriteString("keywords", TextOf(event.keywords));
    writer.WriteInt("shape", event.shape);
    writer.WriteInt("intensityMode", event.intensityMode);
    writer.WriteFloat("duration", event.duration);
    writer.WriteFloat("spread", event.spread);
    writer.WriteFloat("weightCenter", event.weightCenter);
    writer.WriteFloat("intensityScale", event.intensityScale);
    writer.WriteFloat("weightOffset", event.weightOffset);
    writer.WriteFloat("alloyMorph", event.alloyMorph);
    if (event.pitchVariation > 0.001f) writer.WriteFloat("pitchVariation", event.pitchVariation);
    writer.WriteFloat("reverbSend", event.reverbSend);
    writer.WriteFloat("gain", event.gain);
    writer.WriteInt("fillLayers", event.fillLayers);
    writer.WriteInt("groupOverride", event.groupOverride);
    writer.WriteBool("stereo", event.stereo);
    writer.WriteBool("hero", event.hero);
    writer.WriteBool("alloy", event.alloy);
    if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0') {
        writer.WriteString("pinnedFile", TextOf(event.pinnedFile));
        if (!event.pinnedFileId.empty()) writer.WriteString("pinnedFileId", event.pinnedFileId);
        writer.WriteFloat("clipSourceOffset", event.clipSourceOffset);
        writer.WriteFloat("clipSourceDuration", event.clipSourceDuration);
        writer.WriteFloat("clipFadeIn", event.clipFadeIn);
        writer.WriteFloat("clipFadeOut", event.clipFadeOut);
        if (std::fabs(event.clipPitchRate - 1.0f) > 0.001f) writer.WriteFloat("clipPitchRate", event.clipPitchRate);
        if (event.clipReverse) writer.WriteBool("clipReverse", true);
    }
    if (IsKind(event.shape, EventKind::Bed) && !event.pinnedFiles.empty()) {
        WriteStringList(writer, "pinnedFiles", event.pinnedFiles);
        WriteIdentityLists(writer, event.pinnedFileIds);
        if (!event.bedLayerLoop.empty()) WriteNumberList(writer, "bedLayerLoop", event.bedLayerLoop);
        if (!event.bedLayerWeight.empty()) WriteNumberList(writer, "bedLayerWeight", event.bedLayerWeight);
    }
    if (event.libFilter[0] != '\0') writer.WriteString("libFilter", TextOf(event.libFilter));
    writer.WriteCurve("weight", event.weight);
    writer.WriteCurve("intensity", event.intensity);
    writer.EndObject();
}

}  // namespace

std::string FormatChain(std::string_view name, const std::vector<Event>& events,
                        const std::vector<std::int32_t>& indices) {
    float t0 = FLT_MAX;
    for (std::int32_t index : indices)
        if (IsIndex(index, events.size())) t0 = std::min(t0, events[static_cast<std::size_t>(index)].time);

    JsonWriter writer;
    writer.stream << '{';
    writer.depth = 1;
    writer.WriteString("format", "KorvelChain");
    writer.WriteInt("formatVersion", kChainFormatVersion);
    writer.WriteString("createdBy", AppVersion);
    writer.WriteString("name", name);
    writer.WriteKey("events");
    // The list opens on the key's line; its events start one level deeper.
    writer.stream.text.push_back('[');
    ++writer.depth;
    writer.needsComma = false;
    for (std::int32_t index : indices)
        if (IsIndex(index, events.size())) WriteChainEvent(writer, events[static_cast<std::size_t>(index)], t0);
    writer.EndArray();
    writer.stream << "\n}";
    return std::move(writer.stream.text);
}

// [SECTION] Reader

namespace {

bool ReadBool(const JsonValue& value) { return value.type == JsonType::Bool && value.boolean; }

ChainEntry ReadChainEntry(const JsonValue& object) {
    ChainEntry entry;
    EventPreset& preset = entry.preset;
    entry.relTime = ReadJsonFloat(object.Get("relTime"), 0.0f);
    entry.syncOffset = ReadJsonFloat(object.Get("syncOffset"), 0.0f);
    CopyText(preset.keywords, ReadJsonText(object.Get("keywords")));
    preset.shape = ReadClampedInt(object.Get("shape"), KindValue(EventKind::Bloom), 0, kEventKindCount - 1);
    preset.intensityMode = ReadClampedInt(object.Get("intensityMode"), 0, 0, 2);
    preset.duration = ReadJsonFloat(object.Get("duration"), 2.0f);
    preset.spread = ReadJsonFloat(object.Get("spread"), 0.3f);
    preset.weightCenter = ReadJsonFloat(object.Get("weightCenter"), 0.5f);
    preset.intensityScale = ReadJsonFloat(object.Get("intensityScale"), 1.0f);
    preset.weightOffset = ReadJsonFloat(object.Get("weightOffset"), 0.0f);
    preset.alloyMorph = ReadJsonFloat(object.Get("alloyMorph"), 0.35f);
    preset.pitchVariation = ReadJsonFloat(object.Get("pitchVariation"), 0.0f, 0.0f, 1.0f);
    preset.reverbSend = ReadJsonFloat(object.Get("reverbSend"), -1.0f);
    preset.gain = ReadJsonFloat(object.Get("gain"), 1.0f);
    preset.fillLayers = ReadClampedInt(object.Get("fillLayers"), 0, 0, 24);
    preset.groupOverride = ReadJsonInt(object.Get("groupOverride"), -1);
    preset.stereo = ReadBool(object.Get("stereo"));
    entry.hero = ReadBool(object.Get("hero"));
    entry.alloy = ReadBool(object.Get("alloy"));
    if (IsKind(preset.shape, EventKind::Clip)) {
        CopyText(preset.pinnedFile, ReadJsonText(object.Get("pinnedFile")));
        preset.pinnedFileId = std::string(ReadJsonText(object.Get("pinnedFileId")));
        preset.clipSourceOffset = ReadJsonFloat(object.Get("clipSourceOffset"), 0.0f);
        preset.clipSourceDuration = ReadJsonFloat(object.Get("clipSourceDuration"), 0.0f);
        preset.clipFadeIn = ReadJsonFloat(object.Get("clipFadeIn"), -1.0f);
        preset.clipFadeOut = ReadJsonFloat(object.Get("clipFadeOut"), -1.0f);
        preset.clipPitchRate = ReadJsonFloat(object.Get("clipPitchRate"), 1.0f);
        preset.clipReverse = ReadBool(object.Get("clipReverse"));
    }
    if (IsKind(preset.shape, EventKind::Bed)) ReadPinnedFileLists(object, preset);
    CopyText(preset.libFilter, ReadJsonText(object.Get("libFilter")));
    preset.weight.fill(0.5f);
    preset.intensity.fill(0.5f);
    ReadCurveJson(object.Get("weight"), preset.weight);
    ReadCurveJson(object.Get("intensity"), preset.intensity);
    return entry;
}

}  // namespace

Chain ReadChainJson(const JsonValue& root) {
    Chain chain;
    CopyText(chain.name, ReadJsonText(root.Get("name")));
    const JsonValue& events = root.Get("events");
    if (events.type != JsonType::Array) return chain;
    chain.entries.reserve(events.array.size());
    for (const JsonValue& object : events.array) chain.entries.push_back(ReadChainEntry(object));
    return chain;
}

void ResolveChainIdentities(const JsonValue& root, Chain& chain) {
    const JsonValue& events = root.Get("events");
    for (std::size_t i = 0; i < chain.entries.size() && i < events.array.size(); ++i) {
        EventPreset& preset = chain.entries[i].preset;
        if (IsKind(preset.shape, EventKind::Clip) && preset.pinnedFileId.empty() && preset.pinnedFile[0] != '\0')
            preset.pinnedFileId = ComputeFileId(std::string(TextOf(preset.pinnedFile))).id;
        // A bed's ids are registered as stored; missing ones stay missing
        // until the bed is placed.
        if (IsKind(preset.shape, EventKind::Bed)) RegisterPinnedFileIds(events.array[i], preset, false);
    }
}

Chain ReadChainFile(const std::string& path) {
    static constexpr PresetFileKind kChainFile{"Chain", "Chains", kChainFileLimit, kChainFormatVersion};
    Chain chain;
    const bool read = ReadPresetJsonFile(path, kChainFile, [&chain](const JsonValue& root) {
        chain = ReadChainJson(root);
        ResolveChainIdentities(root, chain);
    });
    if (!read) chain = Chain{};
    chain.sourcePath = path;
    return chain;
}

// [SECTION] Saving and the list

bool SaveChainTo(const std::string& folder, std::string_view name, const std::vector<Event>& events,
                 const std::vector<std::int32_t>& indices, std::error_code& error) {
    error.clear();
    if (std::none_of(indices.begin(), indices.end(), [&](std::int32_t i) { return IsIndex(i, events.size()); }))
        return false;
    fs::create_directories(folder, error);
    if (error) return false;
    const std::string path = PresetSavePath(folder, name, kChainExtension, "group");
    errno = 0;
    if (!WriteFileAtomic(path, FormatChain(name, events, indices))) {
        error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        return false;
    }
    return true;
}

bool SaveChain(std::string_view name, const std::vector<Event>& events, const std::vector<std::int32_t>& indices,
               std::error_code& error) {
    error.clear();
    const std::string folder = ChainsFolder();
    if (folder.empty()) return false;
    return SaveChainTo(folder, name, events, indices, error);
}

void ScanChainFolder(const std::string& folder, std::vector<Chain>& chains) {
    if (folder.empty()) return;
    std::vector<std::string> paths;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string extension = it->path().extension().string();
        if (extension == kChainExtension || extension == ".json") paths.push_back(it->path().string());
    }
    // Directory order varies: sorted paths keep equal names in one order.
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) chains.push_back(ReadChainFile(path));
}

void ReloadChains(AppState& app) {
    app.PresetMenusDirty = true;
    ChainList.clear();
    ScanChainFolder(ChainsFolder(), ChainList);
    auto folded = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    std::stable_sort(ChainList.begin(), ChainList.end(), [&](const Chain& a, const Chain& b) {
        return folded(TextOf(a.name)) < folded(TextOf(b.name));
    });
}

void ReloadChains() { ReloadChains(GlobalAppState); }

// [SECTION] Placing

namespace {

constexpr std::size_t kFolderBytes = sizeof(Event::folder) - 1;

// At most `bytes` of `text`, never ending inside a UTF-8 character.
std::string_view CutUtf8(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

Event EventFromEntry(const ChainEntry& entry, float time, const std::string& folder) {
    const EventPreset& preset = entry.preset;
    Event event;
    event.userShapeIdx = -1;
    event.traceGain.fill(0.0f);
    event.hasTraceGain = false;
    event.time = time + entry.relTime;
    event.syncOffset = entry.syncOffset;
    event.duration = preset.duration;
    CopyText(event.keywords, TextOf(preset.keywords));
    event.shape = preset.shape;
    event.intensityMode = preset.intensityMode;
    event.spread = preset.spread;
    event.weightCenter = preset.weightCenter;
    event.intensityScale = preset.intensityScale;
    event.weightOffset = preset.weightOffset;
    event.alloyMorph = preset.alloyMorph;
    event.pitchVariation = preset.pitchVariation;
    event.reverbSend = preset.reverbSend;
    event.gain = preset.gain;
    event.fillLayers = preset.fillLayers;
    event.groupOverride = preset.groupOverride;
    event.stereo = preset.stereo;
    CopyText(event.libFilter, TextOf(preset.libFilter));
    event.weight = preset.weight;
    event.intensity = preset.intensity;
    event.hero = entry.hero;
    event.alloy = entry.alloy;
    CopyText(event.folder, folder);
    event.muted = false;
    event.locked = false;
    if (IsKind(preset.shape, EventKind::Clip)) {
        CopyText(event.pinnedFile, TextOf(preset.pinnedFile));
        // The id finds the file again after it moved.
        event.pinnedFileId = preset.pinnedFileId;
        event.clipSourceOffset = preset.clipSourceOffset;
        event.clipSourceDuration = preset.clipSourceDuration;
        event.clipFadeIn = preset.clipFadeIn;
        event.clipFadeOut = preset.clipFadeOut;
        event.clipPitchRate = preset.clipPitchRate;
        event.clipReverse = preset.clipReverse;
        event.clipWeight = -1.0f;
        event.usePinnedFile = true;
        event.locked = true;
    } else if (IsKind(preset.shape, EventKind::Bed)) {
        // A saved bed comes back with its files; the next sync lays them out.
        event.pinnedFiles = preset.pinnedFiles;
        event.pinnedFileIds = preset.pinnedFileIds;
        event.bedLayerLoop = preset.bedLayerLoop;
        event.bedLayerWeight = preset.bedLayerWeight;
        event.usePinnedFile = !event.pinnedFiles.empty();
    }
    if (IsKind(preset.shape, EventKind::Clip) || IsKind(preset.shape, EventKind::Bed)) EnsureEventFileIds(event);
    return event;
}

// The new Clip layers into the live engine, as RenderEvent prepares one
// event, with the scale tuning off.
void RenderNewClips(AppState& state, Project& project, const std::vector<std::int32_t>& clips) {
    PlaybackEngine& engine = LivePlaybackEngine;
    {
        LayerStorageEdit edit(project);
        AllocateTracks(project);
        for (TrackGroupLayout& group : project.trackLayout.groups) group.usedLanes = 0;
        UpdateGroupLaneCounts(project.trackLayout, project.results);
    }
    const std::vector<float> gains = SetUpEngineForProject(engine, project);
    engine.ready.store(false, std::memory_order_release);
    const auto eventCount = static_cast<std::int32_t>(project.events.size());
    for (std::int32_t clip : clips) {
        for (std::size_t i = 0; i < project.results.size(); ++i) {
            if (project.results[i].eventIdx != clip) continue;
            RenderLayerVoice(engine, project.results[i], static_cast<std::int32_t>(i), state.projectSampleRate,
                             gains.data(), eventCount, project.events.data(), 0, 0, false);
        }
    }
    NormalizeVoiceGains(engine, false);
    CheckRenderCacheIntegrity();
    LocatePlayback(engine, state.playhead);
}

}  // namespace

std::string ChainFolderName(std::string_view name, const std::vector<Event>& events) {
    const std::string_view base = CutUtf8(name, kFolderBytes);
    if (base.empty()) return {};
    std::set<std::string, std::less<>> taken;
    for (const Event& event : events)
        if (event.folder[0] != '\0') taken.emplace(TextOf(event.folder));
    if (taken.count(base) == 0) return std::string(base);
    // The suffix always fits: the name gives way to it, so the search ends.
    for (int n = 2;; ++n) {
        const std::string suffix = " " + std::to_string(n);
        const std::string candidate = std::string(CutUtf8(base, kFolderBytes - suffix.size())) + suffix;
        if (taken.count(candidate) == 0) return candidate;
    }
}

void Project::InstantiateChain(AppState& state, const Chain& chain, float time) {
    const std::string folder = ChainFolderName(TextOf(chain.name), events);
    const auto first = static_cast<std::int32_t>(events.size());
    for (const ChainEntry& entry : chain.entries) events.push_back(EventFromEntry(entry, time, folder));
    if (state.chainsImportAsGroup && !folder.empty()) state.linkedGroups.insert(folder);

    std::vector<std::int32_t> clips;
    for (auto index = first; index < static_cast<std::int32_t>(events.size()); ++index) {
        const Event& event = events[static_cast<std::size_t>(index)];
        if (!IsKind(event.shape, EventKind::Clip) || event.pinnedFile[0] == '\0') continue;
        {
            LayerStorageEdit edit(*this);
            BuildClipEvent(*this, index);
        }
        LoadWaveformOverview(std::string(TextOf(event.pinnedFile)).c_str());
        for (const LayerResult& layer : results) {
            if (layer.eventIdx != index) continue;
            events[static_cast<std::size_t>(index)].duration = layer.duration;
            break;
        }
        clips.push_back(index);
    }
    if (!clips.empty()) RenderNewClips(state, *this, clips);

    state.selectedEvents.clear();
    state.selectedEvent = -1;
    for (auto index = first; index < static_cast<std::int32_t>(events.size()); ++index)
        state.selectedEvents.insert(index);
    if (!chain.entries.empty()) state.selectedEvent = first;
}

bool PlaceChainAtPlayhead(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= ChainList.size()) return false;
    AppState& state = GlobalAppState;
    // A build or an export reads the events and layers this would add to.
    if (!UiMayEditProject(state)) {
        PostStatus(kBusyEditStatus, 3.0f);
        return false;
    }
    PushUndo();
    CurrentProject.InstantiateChain(state, ChainList[static_cast<std::size_t>(index)], state.playhead);
    return true;
}

}  // namespace korvel
