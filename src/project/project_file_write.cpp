#include "project/project_file_write.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string_view>

#include "library/file_id.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project_file_format.h"

namespace korvel {

// Index
// [SECTION] Layout helpers
// [SECTION] Events
// [SECTION] Layers
// [SECTION] Document
// [SECTION] Writing the file

namespace fs = std::filesystem;

namespace {

// [SECTION] Layout helpers


void WriteNumberArray(JsonWriter& writer, std::string_view key, std::span<const float> values) {
    writer.WriteKey(key);
    writer.BeginArray();
    for (float value : values) {
        AppendJsonNumber(BeginJsonArrayItem(writer), value, 6);
        writer.needsComma = true;
    }
    writer.EndArray();
}

template <typename Remap>
void WriteStringArray(JsonWriter& writer, std::string_view key, const std::vector<std::string>& values,
                      Remap remap) {
    writer.WriteKey(key);
    writer.BeginArray();
    for (const std::string& value : values) {
        BeginJsonArrayItem(writer);
        WriteJsonString(writer, remap(value));
    }
    writer.EndArray();
}

// The layout of the document's four top-level string lists: the bracket on
// the key's line, one entry per line, the closing bracket at line start.
void WriteInlineStringList(JsonWriter& writer, std::string_view key, const auto& values) {
    writer.WriteKey(key) << '[';
    bool first = true;
    for (const std::string& value : values) {
        writer.stream << (first ? "\n  " : ",\n  ");
        WriteJsonString(writer, value);
        first = false;
    }
    writer.stream << "\n]";
    writer.needsComma = true;
}

void WriteText(JsonWriter& writer, std::string_view key, std::string_view text) { writer.WriteString(key, text); }

}  // namespace

// [SECTION] Events

void WriteEventJson(JsonWriter& writer, const Event& event, const CollectedAudioMap& map) {
    auto remap = [&map](const std::string& path) { return RemapCollectedPath(map, path); };

    writer.WriteFloat("time", event.time);
    writer.WriteFloat("duration", event.duration);
    writer.WriteFloat("spread", event.spread);
    writer.WriteFloat("weightCenter", event.weightCenter);
    writer.WriteFloat("intensityScale", event.intensityScale);
    writer.WriteFloat("weightOffset", event.weightOffset);
    writer.WriteFloat("syncOffset", event.syncOffset);
    writer.WriteInt("shape", event.shape);
    writer.WriteInt("intensityMode", event.intensityMode);
    writer.WriteInt("userShapeIdx", event.userShapeIdx);
    writer.WriteBool("locked", event.locked);
    if (event.muted) writer.WriteBool("muted", true);
    writer.WriteBool("hero", event.hero);
    writer.WriteBool("stereo", event.stereo);
    writer.WriteFloat("gain", event.gain);
    writer.WriteBool("alloy", event.alloy);
    writer.WriteFloat("alloyMorph", event.alloyMorph);
    if (event.pitchVariation > 0.001f) writer.WriteFloat("pitchVariation", event.pitchVariation);
    if (event.scaleTuneOverride != 0) writer.WriteInt("scaleTuneOverride", event.scaleTuneOverride);
    if (event.fillLayers > 0) writer.WriteInt("fillLayers", event.fillLayers);
    if (event.reverbSend >= 0.0f) writer.WriteFloat("reverbSend", event.reverbSend);
    writer.WriteInt("groupOverride", event.groupOverride);
    if (event.sceneLink >= 0) {
        writer.WriteInt("sceneLink", event.sceneLink);
        writer.WriteInt("sceneCrossfade", event.sceneCrossfade);
    }
    if (event.sceneFill) writer.WriteInt("sceneFill", 1);
    WriteText(writer, "keywords", TextOf(event.keywords));

    const bool writesPinnedFile = event.usePinnedFile && event.pinnedFile[0] != '\0';
    if (writesPinnedFile) {
        writer.WriteString("pinnedFile", remap(std::string(TextOf(event.pinnedFile))));
        if (!event.pinnedFileId.empty()) writer.WriteString("pinnedFileId", event.pinnedFileId);
    }
    if (!event.pinnedFiles.empty()) {
        WriteStringArray(writer, "pinnedFiles", event.pinnedFiles, remap);
        if (!event.pinnedFileIds.empty()) {
            WriteStringArray(writer, "pinnedFileIds", event.pinnedFileIds, [](const std::string& id) { return id; });
        }
        if (!event.bedLayerLoop.empty()) {
            std::vector<float> loops(event.bedLayerLoop.begin(), event.bedLayerLoop.end());
            WriteNumberArray(writer, "bedLayerLoop", loops);
        }
        if (!event.bedLayerWeight.empty()) WriteNumberArray(writer, "bedLayerWeight", event.bedLayerWeight);
    }

    if (IsKind(event.shape, EventKind::Clip)) {
        if (event.clipWeight >= 0.0f) writer.WriteFloat("clipWeight", event.clipWeight);
        writer.WriteFloat("clipSourceOffset", event.clipSourceOffset);
        writer.WriteFloat("clipSourceDuration", event.clipSourceDuration);
        writer.WriteFloat("clipFadeIn", event.clipFadeIn);
        writer.WriteFloat("clipFadeOut", event.clipFadeOut);
    }
    if (event.folder[0] != '\0') WriteText(writer, "folder", TextOf(event.folder));
    if (event.libFilter[0] != '\0') WriteText(writer, "libFilter", TextOf(event.libFilter));
    if (event.presetName[0] != '\0') WriteText(writer, "presetName", TextOf(event.presetName));
    writer.WriteCurve("weight", event.weight);
    writer.WriteCurve("intensity", event.intensity);
    if (event.hasTraceGain) {
        writer.WriteBool("hasTraceGain", true);
        writer.WriteCurve("traceGain", event.traceGain);
    }
    if (!event.bounceSource.empty()) {
        writer.WriteKey("bounceSource");
        writer.BeginArray();
        for (const Event& source : event.bounceSource) {
            writer.BeginObject();
            WriteEventJson(writer, source, map);
            writer.EndObject();
        }
        writer.EndArray();
    }
}

namespace {

// [SECTION] Layers

void WriteSourceRef(JsonWriter& writer, std::string_view key, const LayerSourceRef& source,
                    const CollectedAudioMap& map) {
    writer.WriteKey(key);
    writer.BeginObject();
    writer.WriteString("filepath", RemapCollectedPath(map, source.filepath));
    if (!source.fileId.empty()) writer.WriteString("fileId", source.fileId);
    writer.WriteFloat("offset", source.offset);
    writer.WriteFloat("duration", source.duration);
    writer.WriteString("name", source.name);
    writer.EndObject();
}

void WriteLayerJson(JsonWriter& writer, const LayerResult& layer, const CollectedAudioMap& map) {
    writer.WriteString("name", layer.name);
    writer.WriteString("filepath", RemapCollectedPath(map, layer.filepath));
    if (!layer.fileId.empty()) writer.WriteString("fileId", layer.fileId);
    writer.WriteFloat("sourceOffset", layer.sourceOffset);
    writer.WriteFloat("sourceDuration", layer.sourceDuration);
    writer.WriteFloat("startTime", layer.startTime);
    writer.WriteFloat("duration", layer.duration);
    writer.WriteFloat("weight", layer.weight);
    writer.WriteInt("eventIdx", layer.eventIdx);
    writer.WriteInt("track", layer.track);
    writer.WriteInt("group", layer.group);
    writer.WriteInt("groupTrack", layer.groupTrack);
    writer.WriteInt("procMode", layer.procMode);
    writer.WriteFloat("fadeIn", layer.fadeIn);
    writer.WriteFloat("fadeOut", layer.fadeOut);
    writer.WriteFloat("audioSyncOffset", layer.audioSyncOffset);
    writer.WriteBool("stereo", layer.stereo);
    writer.WriteBool("muted", layer.muted);
    if (layer.fillLoop) writer.WriteBool("fillLoop", true);
    writer.WriteFloat("layerGain", layer.layerGain);
    if (std::fabs(layer.userVolume - 1.0f) > 0.001f) writer.WriteFloat("userVolume", layer.userVolume);
    if (std::fabs(layer.normGain - 1.0f) > 0.001f) writer.WriteFloat("normGain", layer.normGain);
    if (std::fabs(layer.pitchShift) > 0.001f) writer.WriteFloat("pitchShift", layer.pitchShift);
    if (std::fabs(layer.pitchVarShift) > 0.001f) writer.WriteFloat("pitchVarShift", layer.pitchVarShift);
    if (std::fabs(layer.deconOffset) > 0.0001f) writer.WriteFloat("deconOffset", layer.deconOffset);
    if (layer.hasIntGain) WriteNumberArray(writer, "intGain", layer.intGain);
    if (layer.hasFillGain) WriteNumberArray(writer, "fillGain", layer.fillGain);
    if (layer.hasDeconGain) WriteNumberArray(writer, "deconGain", layer.deconGain);
    if (layer.hasEq) WriteNumberArray(writer, "eqGains", layer.eqGains);
    if (layer.procMode == kProcModeLoopFill && !layer.fillChunks.empty()) {
        writer.WriteKey("fillChunks");
        writer.BeginArray();
        for (const FillChunk& chunk : layer.fillChunks) {
            writer.BeginObject();
            writer.WriteInt("s", chunk.s);
            writer.WriteInt("l", chunk.l);
            writer.WriteInt("x", chunk.x);
            writer.EndObject();
        }
        writer.EndArray();
    }
    if (layer.procMode == kProcModeAlloy) {
        writer.WriteFloat("alloyMorph", layer.alloyMorph);
        writer.WriteInt("alloyAlgo", layer.alloyAlgo);
        WriteSourceRef(writer, "alloyMid", layer.alloyMid, map);
        WriteSourceRef(writer, "alloyHigh", layer.alloyHigh, map);
        WriteSourceRef(writer, "alloyEnv", layer.alloyEnv, map);
    }
}

// [SECTION] Document

void WriteTrackLayout(JsonWriter& writer, const TrackLayout& layout) {
    writer.WriteKey("trackLayout");
    writer.BeginObject();
    writer.WriteBool("budgetMode", layout.budgetMode);
    for (int g = 0; g < kTrackGroupCount; ++g) {
        const TrackGroupLayout& group = layout.groups[static_cast<std::size_t>(g)];
        char key[8];
        std::snprintf(key, sizeof key, "group%d", g);
        writer.WriteKey(key);
        writer.BeginObject();
        WriteText(writer, "name", TextOf(group.name));
        writer.WriteInt("trackCount", group.trackCount);
        writer.WriteBool("stereo", group.stereo);
        writer.WriteFloat("targetLUFS", group.targetLUFS);
        writer.EndObject();
    }
    writer.EndObject();
}

void GatherEventIds(std::set<std::string>& ids, const Event& event) {
    ids.insert(event.pinnedFileId);
    ids.insert(event.pinnedFileIds.begin(), event.pinnedFileIds.end());
}

void WriteFileRefs(JsonWriter& writer, const Project& project, const CollectedAudioMap& map) {
    std::set<std::string> ids;
    for (const LayerResult& layer : project.results) {
        ids.insert(layer.fileId);
        ids.insert(layer.alloyMid.fileId);
        ids.insert(layer.alloyHigh.fileId);
        ids.insert(layer.alloyEnv.fileId);
    }
    // Bounce sources are left out: their files are found again by path.
    for (const Event& event : project.events) GatherEventIds(ids, event);
    ids.insert(project.bannedFileIds.begin(), project.bannedFileIds.end());
    ids.erase(std::string());
    if (ids.empty()) return;

    writer.WriteKey("fileRefs");
    writer.BeginArray();
    for (const std::string& id : ids) {
        FileIdResult known;
        const bool found = LookupFileId(id, known);
        writer.BeginObject();
        writer.WriteString("id", id);
        if (found && known.fingerprint != 0) writer.WriteString("hash", FormatHexId(known.fingerprint));
        if (found && known.size != 0) writer.WriteString("size", std::to_string(known.size));
        writer.WriteString("path", found ? RemapCollectedPath(map, known.path) : std::string());
        writer.EndObject();
    }
    writer.EndArray();
}

void WriteUserShapes(JsonWriter& writer, const std::vector<UserShape>& shapes) {
    writer.WriteKey("userShapes");
    writer.BeginArray();
    for (const UserShape& shape : shapes) {
        writer.BeginObject();
        WriteText(writer, "name", TextOf(shape.name));
        WriteText(writer, "keywords", TextOf(shape.keywords));
        writer.WriteFloat("defaultDuration", shape.defaultDuration);
        writer.WriteFloat("spread", shape.spread);
        writer.WriteFloat("weightCenter", shape.weightCenter);
        writer.WriteFloat("intensityScale", shape.intensityScale);
        writer.WriteFloat("weightOffset", shape.weightOffset);
        writer.WriteFloat("syncOffset", shape.syncOffset);
        writer.WriteCurve("weight", shape.weight);
        writer.WriteCurve("intensity", shape.intensity);
        writer.EndObject();
    }
    writer.EndArray();
}

void WriteScenes(JsonWriter& writer, const std::vector<Scene>& scenes) {
    writer.WriteKey("scenes");
    writer.BeginArray();
    for (const Scene& scene : scenes) {
        writer.BeginObject();
        WriteText(writer, "name", TextOf(scene.name));
        writer.WriteFloat("inTime", scene.inTime);
        writer.WriteFloat("outTime", scene.outTime);
        WriteText(writer, "keywords", TextOf(scene.keywords));
        writer.EndObject();
    }
    writer.EndArray();
}

void WriteReverb(JsonWriter& writer, const ReverbSettings& reverb) {
    writer.WriteKey("reverb");
    writer.BeginObject();
    writer.WriteBool("enabled", reverb.enabled);
    writer.WriteFloat("size", reverb.size);
    writer.WriteFloat("decay", reverb.decay);
    writer.WriteFloat("damping", reverb.damping);
    writer.WriteFloat("preDelay", reverb.preDelay);
    writer.WriteFloat("diffusion", reverb.diffusion);
    writer.WriteFloat("modulation", reverb.modulation);
    WriteNumberArray(writer, "groupSends", reverb.groupSends);
    writer.EndObject();
}

void WriteDetection(JsonWriter& writer, const TraceDetection& detection) {
    writer.BeginObject();
    writer.WriteFloat("time", detection.time);
    writer.WriteInt("type", detection.type);
    writer.WriteFloat("confidence", detection.confidence);
    writer.WriteInt("tier", detection.tier);
    writer.WriteFloat("suggestedDuration", detection.suggestedDuration);
    writer.WriteInt("suggestedShape", detection.suggestedShape);
    writer.WriteFloat("intensity", detection.intensity);
    writer.WriteFloat("suggestedGain", detection.suggestedGain);
    writer.WriteFloat("suggestedSyncOffset", detection.suggestedSyncOffset);
    writer.WriteFloat("suggestedWeightCenter", detection.suggestedWeightCenter);
    writer.WriteFloat("suggestedSpread", detection.suggestedSpread);
    if (detection.hasIntensityCurve) WriteNumberArray(writer, "intensityCurve", detection.intensityCurve);
    if (detection.keywords[0] != '\0') WriteText(writer, "keywords", TextOf(detection.keywords));
    if (detection.presetName[0] != '\0') WriteText(writer, "presetName", TextOf(detection.presetName));
    writer.WriteBool("accepted", detection.accepted);
    writer.WriteInt("peelLayer", detection.peelLayer);
    writer.EndObject();
}

void WriteOptical(JsonWriter& writer, const TraceAnalysis& analysis, float opticalDetail) {
    writer.WriteKey("optical");
    writer.BeginObject();
    writer.WriteFloat("duration", analysis.duration);
    writer.WriteFloat("fps", analysis.fps);
    writer.WriteInt("numFrames", analysis.numFrames);
    writer.WriteFloat("maxCompositeEnergy", analysis.maxCompositeEnergy);
    writer.WriteFloat("opticalDetail", opticalDetail);
    writer.WriteInt("frameStride", kFrameMeasureCount);
    writer.WriteKey("frames");
    writer.BeginArray();
    for (const FrameMeasures& frame : analysis.frames) {
        const float values[kFrameMeasureCount] = {
            frame.time,   frame.luma,   frame.lumaDelta,      frame.motion,    frame.histogramChange, frame.warmth,
            frame.saturation, frame.energy, frame.smoothedMotion, frame.composite, frame.threshold};
        std::string& text = BeginJsonArrayItem(writer);
        for (int i = 0; i < kFrameMeasureCount; ++i) {
            if (i > 0) text.push_back(',');
            AppendJsonNumber(text, values[i], 4);
        }
        writer.needsComma = true;
    }
    writer.EndArray();
    writer.WriteKey("events");
    writer.BeginArray();
    for (const TraceDetection& detection : analysis.events) WriteDetection(writer, detection);
    writer.EndArray();
    writer.EndObject();
}

// The stored video path: relative when the video lies inside the project
// folder, so that a moved project folder still finds it.
std::string VideoPathToStore(const std::string& videoPath, const std::string& projectFolder) {
    if (videoPath.empty()) return videoPath;
    std::error_code ec;
    const std::string video = fs::weakly_canonical(videoPath, ec).string();
    if (ec) return videoPath;
    const std::string folder = fs::weakly_canonical(projectFolder, ec).string();
    if (ec || folder.empty()) return videoPath;
    if (video.size() > folder.size() + 1 && video.compare(0, folder.size(), folder) == 0 &&
        (video[folder.size()] == '/' || video[folder.size()] == '\\')) {
        return video.substr(folder.size() + 1);
    }
    return videoPath;
}

}  // namespace

std::string FormatProjectText(const ProjectSaveRequest& request, const std::string& projectFolder,
                              const CollectedAudioMap& map) {
    const Project& project = request.project;
    JsonWriter writer;
    writer.stream.text.reserve(4096 + project.events.size() * 6144 + project.results.size() * 1024);
    writer.stream << '{';
    writer.depth = 1;

    writer.WriteString("format", kProjectFormatTag);
    writer.WriteInt("version", kProjectFormatVersion);
    writer.WriteInt("minReaderVersion", kProjectMinReaderVersion);
    writer.WriteString("savedBy", BuildVersion);

    writer.WriteString("videoPath", VideoPathToStore(request.videoPath, projectFolder));
    writer.WriteFloat("videoStartTime", request.videoStartTime);
    writer.WriteFloat("totalDuration", project.totalDuration);
    writer.WriteFloat("fps", project.fps);
    writer.WriteInt("projectSampleRate", request.projectSampleRate);
    writer.WriteFloat("startTC", project.startTC);
    writer.WriteFloat("masterGain", request.masterGain);
    writer.WriteFloat("refGain", request.refGain);
    writer.WriteFloat("groupGain0", request.groupGain0);
    writer.WriteFloat("groupGain1", request.groupGain1);
    writer.WriteFloat("groupGain2", request.groupGain2);
    if (!request.projectDescription.empty()) writer.WriteString("projectDescription", request.projectDescription);
    writer.WriteFloat("maxEventDuration", project.maxEventDuration);
    writer.WriteInt("scaleType", project.scaleType);
    writer.WriteInt("scaleRoot", project.scaleRoot);
    writer.WriteInt("pitchShiftProb", project.pitchShiftProb);
    writer.WriteInt("freqShiftIntensity", project.freqShiftIntensity);
    writer.WriteInt("reverseProb", project.reverseProb);
    writer.WriteBool("normalizeLUFS", project.normalizeLUFS);
    writer.WriteInt("alloyAlgorithm", project.alloyAlgorithm);
    writer.WriteFloat("alloyTransferDepth", project.alloyTransferDepth);
    writer.WriteFloat("alloyAttackGraft", project.alloyAttackGraft);
    writer.WriteFloat("alloyMicroPitch", project.alloyMicroPitch);
    writer.WriteInt("alloyFilterBands", project.alloyFilterBands);

    WriteInlineStringList(writer, "libraryPaths", request.libraryPaths);
    WriteTrackLayout(writer, project.trackLayout);
    WriteInlineStringList(writer, "bannedFiles", project.bannedFiles);
    if (!project.bannedFileIds.empty()) WriteInlineStringList(writer, "bannedFileIds", project.bannedFileIds);
    WriteFileRefs(writer, project, map);
    if (!request.linkedGroups.empty()) WriteInlineStringList(writer, "linkedGroups", request.linkedGroups);

    WriteUserShapes(writer, project.userShapes);
    writer.WriteKey("events");
    writer.BeginArray();
    for (const Event& event : project.events) {
        writer.BeginObject();
        WriteEventJson(writer, event, map);
        writer.EndObject();
    }
    writer.EndArray();
    writer.WriteKey("results");
    writer.BeginArray();
    for (const LayerResult& layer : project.results) {
        writer.BeginObject();
        WriteLayerJson(writer, layer, map);
        writer.EndObject();
    }
    writer.EndArray();

    writer.WriteBool("exportWithHandles", true);
    writer.WriteFloat("handleDuration", request.exportSettings.handleDuration);
    writer.WriteBool("handleFullSource", request.exportSettings.handleFullSource);
    writer.WriteFloat("fadeInDuration", request.exportSettings.fadeInDuration);
    writer.WriteFloat("fadeOutDuration", request.exportSettings.fadeOutDuration);
    writer.WriteBool("snapToFrames", false);
    writer.WriteBool("exportAAFMarkers", request.exportSettings.exportAAFMarkers);
    writer.WriteBool("exportAAFVolAuto", request.exportSettings.exportAAFVolAuto);
    writer.WriteBool("exportFillVirtual", true);
    writer.WriteBool("exportFormatAAF", request.exportSettings.exportFormatAAF);
    writer.WriteBool("exportFormatWAV", request.exportSettings.exportFormatWAV);
    writer.WriteBool("exportWavMixdown", request.exportSettings.exportWavMixdown);
    writer.WriteBool("exportWavStems", request.exportSettings.exportWavStems);
    writer.WriteBool("exportWavTracks", request.exportSettings.exportWavTracks);
    writer.WriteBool("exportWavClips", request.exportSettings.exportWavClips);
    writer.WriteBool("exportReverbStem", request.exportSettings.exportReverbStem);
    writer.WriteBool("exportAAFSourceChannels", request.exportSettings.exportAAFSourceChannels);

    writer.WriteFloat("workAreaIn", request.workAreaIn);
    writer.WriteFloat("workAreaOut", request.workAreaOut);
    WriteScenes(writer, request.scenes);
    WriteReverb(writer, request.reverb);
    if (request.traceAnalysis.valid && !request.traceAnalysis.frames.empty()) {
        WriteOptical(writer, request.traceAnalysis, request.opticalDetail);
    }
    writer.stream << "\n}";
    return std::move(writer.stream.text);
}

// [SECTION] Writing the file

std::string KeepDamagedOriginal(const std::string& path) {
    const std::string original = ResolveLinkTarget(path);
    for (int n = 1; n < 1000; ++n) {
        char suffix[32];
        if (n == 1) std::snprintf(suffix, sizeof suffix, ".damaged");
        else std::snprintf(suffix, sizeof suffix, ".damaged-%d", n);
        const std::string kept = original + suffix;
        if (link(original.c_str(), kept.c_str()) == 0) return kept;
        if (errno == EEXIST) continue;
        std::error_code ec;
        if (CopyFileAtomic(original, kept, false, ec)) return kept;
        if (ec != std::errc::file_exists) return {};
    }
    return {};
}

bool WriteProjectFile(const std::string& path, const ProjectSaveRequest& request) {
    const fs::path target(path);
    const std::string folder = target.parent_path().string();
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);  // a failure shows when the temporary is made

    const CollectedAudioMap map = CollectProjectAudio(request.project, folder);
    // Formatted whole before the file is opened, so it is open for one write.
    const std::string text = FormatProjectText(request, folder, map);

    // A temporary of its own, so an auto-save and a save of the same project
    // never write into each other's file.
    const std::string tempPath = WriteTempFileBeside(path, text);
    if (tempPath.empty()) return false;
    if (request.keepDamagedOriginal && fs::exists(fs::symlink_status(path, ec)) && !ec) {
        const std::string kept = KeepDamagedOriginal(path);
        if (kept.empty()) {
            // Replacing it would lose what the lenient read left out.
            std::printf("[Project] Could not keep the damaged original of %s\n", path.c_str());
            unlink(tempPath.c_str());
            return false;
        }
        std::printf("[Project] Kept the damaged original as %s\n", kept.c_str());
    }
    std::error_code renameError;
    if (!CommitTempFile(tempPath, path, renameError)) {
        std::printf("[Project] Rename failed: %s\n", renameError.message().c_str());
        return false;
    }

    int collected = 0;
    for (const auto& [source, stored] : map) {
        if (stored.starts_with("Audio/")) ++collected;
    }
    std::printf("[Project] Saved %s \xE2\x80\x94 %d audio files collected\n", path.c_str(), collected);
    return true;
}

}  // namespace korvel
