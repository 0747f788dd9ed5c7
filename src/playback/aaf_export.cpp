// [SECTION] Names, range and snapping
// [SECTION] The call's context
// [SECTION] Clip entries
// [SECTION] Track layout
// [SECTION] Essence rules
// [SECTION] Markers and reverb return
// [SECTION] ExportAAF
#include "playback/aaf_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "dsp/resampler.h"
#include "library/audio_file.h"
#include "library/bwf_writer.h"
#include "playback/playback_engine.h"
#include "playback/reverb_bus.h"
#include "playback/source_region.h"
#include "playback/wav_export.h"
#include "project/app_state.h"
#include "project/event.h"
#include "project/layer.h"
#include "project/project.h"

namespace korvel {

namespace fs = std::filesystem;

// [SECTION] Names, range and snapping

namespace {

constexpr std::size_t kMaxFileNameBytes = 255;
// Handles of this many seconds stand for "the whole source file".
constexpr double kWholeSourceSeconds = 999999.0;

void PrintLine(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// The longest prefix of `text` of at most `bytes` bytes that does not end
// inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string AAFExportBaseName(const ExportRequest& request) {
    std::string base = request.baseName;
    if (base.empty()) {
        std::string folder = request.outputFolder;
        while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
        base = fs::path(folder).filename().string();
        if (base == "/" || base == "." || base == "..") base.clear();
    }
    if (base.empty()) base = "Korvel";
    return SanitizeExportName(base);
}

bool IsInExportRange(const LayerResult& layer, float rangeStart, float rangeEnd) {
    if (!(rangeStart >= 0.0f && rangeEnd > rangeStart)) return true;
    return rangeStart < layer.startTime + layer.duration && layer.startTime < rangeEnd;
}

std::int64_t SnapToVideoFrame(std::int64_t s, bool snapToFrames, std::int32_t sampleRate, float fps) {
    if (!snapToFrames) return s;
    const float samplesPerFrame = fps > 0.0f ? static_cast<float>(sampleRate) / fps : 0.0f;
    const float rounded = samplesPerFrame + 0.5f;
    if (!(rounded >= 1.0f && rounded < 9.0e18f)) return s;
    const auto frame = static_cast<std::int64_t>(rounded);
    const std::int64_t half = s + frame / 2;
    return half - half % frame;
}

std::string ChannelRoleSuffix(const ChannelMap& map, int channel) {
    static constexpr const char* kSuffixes[12] = {".L",   ".R",   ".C",   ".LFE", ".Ls",  ".Rs",
                                                  ".Lrs", ".Rrs", ".Ltf", ".Rtf", ".Ltr", ".Rtr"};
    if (map.roles.size() <= 1) return {};
    if (channel < 0 || static_cast<std::size_t>(channel) >= map.roles.size())
        return "." + std::to_string(static_cast<std::int64_t>(channel) + 1);
    const auto role = static_cast<std::int32_t>(map.roles[static_cast<std::size_t>(channel)]);
    if (role >= 0 && role < 12) return kSuffixes[role];
    return "." + std::to_string(channel + 1);
}

std::string AAFClipName(const std::string& layerName) {
    std::string name = layerName;
    for (char& c : name) {
        switch (c) {
        case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
            c = '_';
            break;
        default:
            break;
        }
    }
    return name;
}

std::string AAFEssenceName(const std::string& trackTag, std::int32_t layerIndex, bool wholeSource,
                           const std::string& clipName, const std::string& suffix) {
    // The temporary an essence file is written under is longer than its
    // final name; both must fit the file system.
    static const std::size_t tempExtra = fs::path(ExportRollback::TemporaryPath("x")).filename().string().size() - 1;
    const std::size_t limit = kMaxFileNameBytes - tempExtra;
    char number[16];
    std::snprintf(number, sizeof number, "_%03d_", static_cast<int>(layerIndex));
    const std::string middle = std::string(number) + (wholeSource ? "src_" : "");
    const std::string tail = suffix + ".wav";
    std::string tag = trackTag;
    const std::size_t fixed = middle.size() + tail.size();
    if (tag.size() + fixed > limit) tag = CutUtf8(tag, limit > fixed ? limit - fixed : 0);
    const std::size_t room = limit - std::min(limit, tag.size() + fixed);
    return tag + middle + CutUtf8(clipName, room) + tail;
}

// [SECTION] The call's context

namespace {

// Essence files written under temporary names and not yet handed to the
// rollback; removed when the call ends before they are.
struct PendingEssence {
    struct File {
        std::string temporary;
        std::string final;
    };
    std::vector<File> files;

    PendingEssence() = default;
    PendingEssence(const PendingEssence&) = delete;
    PendingEssence& operator=(const PendingEssence&) = delete;
    ~PendingEssence() { RemoveFrom(0); }

    // Removes the files written since `mark` (a failed rule's).
    void RemoveFrom(std::size_t mark) {
        std::error_code ec;
        for (std::size_t k = mark; k < files.size(); ++k) fs::remove(files[k].temporary, ec);
        if (mark < files.size()) files.resize(mark);
    }
};

// What one layer's clips share (step 6 of the layer loop).
struct LayerClip {
    const LayerResult* layer = nullptr;
    const Voice* voice = nullptr;
    std::int32_t index = 0;
    std::int32_t fadeIn = 0;
    std::int32_t fadeOut = 0;
    ClipGainEnvelope envelope;
    float gain = 1.0f;
    double ratio = 1.0;
    std::vector<FillChunk> chunks;  // loop fills: the layer's whole splice list
};

struct AAFExportCall {
    explicit AAFExportCall(const ExportRequest& r) : request(r) {}
    const ExportRequest& request;
    std::int32_t rate = 48000;
    std::int64_t startOffset = 0;  // S: the start timecode in samples
    double timecode = 0.0;         // the start timecode in seconds
    std::string essenceFolder;
    AAFClipList clips;
    PendingEssence pending;

    std::int64_t Snap(std::int64_t s) const {
        return SnapToVideoFrame(s, request.snapToFrames, rate, request.fps);
    }

    // Writes one essence file under its temporary name.
    bool WriteEssence(const std::string& path, const std::vector<float>& samples, std::size_t frames,
                      double timeReference, const char* description) {
        if (frames > samples.size()) frames = samples.size();
        if (frames > static_cast<std::size_t>(INT32_MAX)) return false;
        const std::string temporary = ExportRollback::TemporaryPath(path);
        if (!WriteBWFClipMono(temporary, samples.data(), static_cast<int>(frames), rate, timeReference,
                              description))
            return false;
        pending.files.push_back({temporary, path});
        return true;
    }

    std::string EssencePath(const std::string& name) const { return essenceFolder + "/" + name; }

    void Append(const std::string& path, const std::string& name, std::int64_t position, std::int64_t length,
                std::int64_t sourceOffset, std::int64_t sourceLength, std::int32_t track, std::int32_t fadeIn,
                std::int32_t fadeOut, const ClipGainEnvelope& envelope, float gain) {
        clips.essencePaths.push_back(path);
        clips.clipNames.push_back(name);
        clips.positions.push_back(position);
        clips.lengths.push_back(length);
        clips.sourceOffsets.push_back(sourceOffset);
        clips.sourceLengths.push_back(sourceLength);
        clips.tracks.push_back(track);
        clips.fadeIns.push_back(fadeIn);
        clips.fadeOuts.push_back(fadeOut);
        clips.envelopes.push_back(envelope);
        clips.gains.push_back(gain);
    }

    // Drops the clips added since `mark` (a failed rule's).
    void TruncateClips(std::size_t mark) {
        if (mark >= clips.clipNames.size()) return;
        clips.essencePaths.resize(mark);
        clips.clipNames.resize(mark);
        clips.positions.resize(mark);
        clips.lengths.resize(mark);
        clips.sourceOffsets.resize(mark);
        clips.sourceLengths.resize(mark);
        clips.tracks.resize(mark);
        clips.fadeIns.resize(mark);
        clips.fadeOuts.resize(mark);
        clips.envelopes.resize(mark);
        clips.gains.resize(mark);
    }
};

// [SECTION] Clip entries

void AddAAFClipEntry(AAFExportCall& call, const LayerClip& lc, const std::string& path, const std::string& name,
                     std::int64_t sourceLength, std::int64_t sourceOffset, std::int32_t track) {
    const LayerResult& layer = *lc.layer;
    const float start = (layer.deconOffset + layer.startTime) * static_cast<float>(call.rate);
    const std::int64_t position = call.Snap(call.startOffset + static_cast<std::int64_t>(start));
    const std::int64_t length = call.Snap(lc.voice->frameCount);
    call.Append(path, name, position, length, sourceOffset, sourceLength, track, lc.fadeIn, lc.fadeOut, lc.envelope,
                lc.gain);
}

// One clip per splice of a loop fill, each playing its chunk of the whole
// source file; consecutive clips overlap by their crossfade.
void AddAAFSpliceEntries(AAFExportCall& call, const LayerClip& lc, const std::string& path, const std::string& name,
                         std::int64_t sourceLength, std::int32_t track) {
    const LayerResult& layer = *lc.layer;
    const std::int64_t frameCount = lc.voice->frameCount;
    const double q = 1.0 / lc.ratio;
    const std::int64_t p0 =
        call.Snap(static_cast<std::int64_t>(static_cast<float>(call.rate) * layer.startTime) + call.startOffset);
    const std::int64_t p1 = p0 + call.Snap(frameCount);
    // The first and last splices that play carry the layer's fades; the
    // last one ends at the layer's end.
    std::int64_t first = -1, last = -1;
    for (std::size_t i = 0; i < lc.chunks.size(); ++i) {
        if (lc.chunks[i].l <= 0) continue;
        if (first < 0) first = static_cast<std::int64_t>(i);
        last = static_cast<std::int64_t>(i);
    }
    std::int64_t cursor = 0;
    bool emitted = false;
    for (std::size_t i = 0; i < lc.chunks.size(); ++i) {
        const FillChunk& chunk = lc.chunks[i];
        if (chunk.l <= 0) continue;
        const std::int64_t len = std::llround(chunk.l * q);
        const std::int64_t xf = std::llround(chunk.x * q);
        const std::int64_t src = std::llround(chunk.s * q);
        const std::int64_t x = emitted ? xf : 0;
        const bool isLast = static_cast<std::int64_t>(i) == last;
        const std::int64_t position = call.Snap(p0 + cursor - x);
        const std::int64_t length = isLast ? p1 - position : call.Snap(len);
        const std::int64_t sourceOffset = std::clamp<std::int64_t>(src, 0, std::max<std::int64_t>(0, sourceLength - length));
        ClipGainEnvelope envelope = lc.envelope;
        if (lc.envelope.present && frameCount > 0) {
            for (int k = 0; k < 64; ++k) {
                const double at = (k / 63.0 * static_cast<double>(len) + static_cast<double>(cursor - x)) /
                                  static_cast<double>(frameCount);
                const double u = std::clamp(at, 0.0, 1.0) * 63.0;
                const int idx = std::min(static_cast<int>(u), 62);
                const double frac = u - idx;
                envelope.points[static_cast<std::size_t>(k)] = static_cast<float>(
                    lc.envelope.points[static_cast<std::size_t>(idx)] +
                    (lc.envelope.points[static_cast<std::size_t>(idx + 1)] - lc.envelope.points[static_cast<std::size_t>(idx)]) * frac);
            }
            envelope.present = true;
        }
        call.Append(path, name, position, length, sourceOffset, sourceLength, track,
                    static_cast<std::int64_t>(i) == first ? lc.fadeIn : 0, isLast ? lc.fadeOut : 0, envelope, lc.gain);
        cursor += len - x;
        emitted = true;
    }
}

// The layer's clip gain automation (step 6.6 of the layer loop).
ClipGainEnvelope LayerEnvelope(const LayerResult& layer, bool volumeAutomation) {
    ClipGainEnvelope envelope;
    auto read = [](const float* curve, int points, double x) {
        const int idx = std::clamp(static_cast<int>(x), 0, points - 2);
        const double frac = x - idx;
        return curve[idx] + (curve[idx + 1] - curve[idx]) * frac;
    };
    if (volumeAutomation && layer.hasIntGain) {
        envelope.present = true;
        for (int k = 0; k < 64; ++k) {
            const double v = read(layer.intGain.data(), static_cast<int>(layer.intGain.size()), k / 63.0 * 255.0);
            envelope.points[static_cast<std::size_t>(k)] = static_cast<float>(std::clamp(v, 0.0, 1.0));
        }
    }
    if (volumeAutomation && layer.hasFillGain) {
        if (!envelope.present) {
            envelope.present = true;
            envelope.points.fill(1.0f);
        }
        for (int k = 0; k < 64; ++k) {
            const double v = read(layer.fillGain.data(), kFillGainPoints, k / 63.0 * 127.0);
            envelope.points[static_cast<std::size_t>(k)] *= static_cast<float>(std::max(0.0, v));
        }
    }
    if (layer.hasDeconGain) {
        if (!envelope.present) {
            envelope.present = true;
            envelope.points.fill(1.0f);
        }
        for (int k = 0; k < 64; ++k)
            envelope.points[static_cast<std::size_t>(k)] *=
                static_cast<float>(read(layer.deconGain.data(), kDeconGainPoints, k / 63.0 * 31.0));
    }
    return envelope;
}

// [SECTION] Track layout

// Muted by the designer, by silence protection, or dropped by track
// allocation (which leaves the layer without a lane).
bool LayerMuted(const LayerResult& layer) { return layer.muted || layer.groupTrack < 0; }

std::string GroupName(const ExportRequest& request, std::int32_t group, const char* fallback) {
    if (group >= 0 && static_cast<std::size_t>(group) < request.groupNames.size())
        return request.groupNames[static_cast<std::size_t>(group)];
    return fallback;
}

struct AAFTrackLayout {
    std::map<std::int32_t, std::int32_t> remap;  // layer track to its first AAF track
    std::vector<std::string> names;              // by AAF track
};

void SetTrackName(std::vector<std::string>& names, std::int32_t index, const std::string& name) {
    if (index < 0) return;
    if (names.size() <= static_cast<std::size_t>(index)) names.resize(static_cast<std::size_t>(index) + 1);
    names[static_cast<std::size_t>(index)] = name;
}

AAFTrackLayout LayOutTracks(const ExportRequest& request, const std::vector<LayerResult>& results,
                         const std::vector<std::int32_t>& voiceOf, const PlaybackEngine& engine) {
    std::map<std::int32_t, std::string> display;
    for (const LayerResult& layer : results) {
        if (layer.filepath.empty() || LayerMuted(layer) || display.count(layer.track)) continue;
        display[layer.track] = GroupName(request, layer.group, "Track") + " " + std::to_string(layer.groupTrack + 1);
    }
    auto displayName = [&](std::int32_t track) {
        const auto it = display.find(track);
        return it != display.end() ? it->second : "Track " + std::to_string(static_cast<std::int64_t>(track) + 1);
    };
    auto counted = [&](const LayerResult& layer) {
        return !layer.filepath.empty() && !LayerMuted(layer) &&
               IsInExportRange(layer, request.rangeStart, request.rangeEnd);
    };

    AAFTrackLayout layout;
    std::int32_t next = 0;
    if (!request.exportSettings.exportAAFSourceChannels) {
        std::map<std::int32_t, bool> stereo;
        for (std::size_t i = 0; i < results.size(); ++i) {
            const LayerResult& layer = results[i];
            if (!counted(layer) || voiceOf[i] < 0) continue;
            const Voice& voice = engine.voices[static_cast<std::size_t>(voiceOf[i])];
            if (voice.frameCount <= 0) continue;
            const bool isStereo = layer.stereo || (voice.stereo && !voice.samplesR.empty());
            stereo[layer.track] = stereo[layer.track] || isStereo;
        }
        for (const auto& [track, isStereo] : stereo) {
            layout.remap[track] = next;
            if (isStereo) {
                SetTrackName(layout.names, next, displayName(track) + ".L");
                SetTrackName(layout.names, next + 1, displayName(track) + ".R");
                next += 2;
            } else {
                SetTrackName(layout.names, next++, displayName(track));
            }
        }
        return layout;
    }

    struct Channels {
        int count = 0;
        ChannelMap map;
    };
    std::map<std::int32_t, Channels> channels;
    const int order = GlobalAppState.channelOrderFallback.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const LayerResult& layer = results[i];
        if (!counted(layer)) continue;
        SF_INFO info{};
        SoundFilePtr file = OpenSoundFile(layer.filepath, info);
        int count = file ? std::max(1, info.channels) : 1;
        ChannelMap map = BuildChannelMap(file.get(), count, order, kInterpretAuto);
        // A stereo layer that no per-channel rule writes (an alloy, a loop
        // fill without its whole source, a source that cannot be opened)
        // becomes a rendered ".L"/".R" pair, whatever its source's channels:
        // its track takes both, so the ".R" clip never lands on the next
        // track's lane.
        const Voice* voice = voiceOf[i] >= 0 ? &engine.voices[static_cast<std::size_t>(voiceOf[i])] : nullptr;
        const bool splices = !layer.fillChunks.empty() || (voice && voice->spliceCount > 0);
        bool perChannel = false;
        if (file) perChannel = layer.procMode == 1 ? splices && request.exportFillVirtual : layer.procMode != 3;
        if (layer.stereo && !perChannel && count < 2) {
            count = 2;
            map = ChannelMap{};
            map.roles = {ChannelRole::L, ChannelRole::R};
            map.positional = true;
        }
        Channels& entry = channels[layer.track];
        if (count > entry.count) {
            entry.count = count;
            entry.map = std::move(map);
        }
    }
    for (const auto& [track, entry] : channels) {
        layout.remap[track] = next;
        for (int j = 0; j < entry.count; ++j) SetTrackName(layout.names, next++, displayName(track) + ChannelRoleSuffix(entry.map, j));
    }
    return layout;
}

// [SECTION] Essence rules

void Resample(std::vector<float>& samples, double ratio) {
    if (ratio != 1.0) ResampleSincByRatio(samples, ratio);
}

int ScaledPreHandle(int p, double ratio) {
    return ratio != 1.0 ? static_cast<int>(p / ratio + 0.5) : p;
}

// A: every source channel as a whole file, one clip per splice.
bool RuleWholeSourceChannels(AAFExportCall& call, const LayerClip& lc, const std::string& tag,
                             const std::string& name, std::int32_t track) {
    const LayerResult& layer = *lc.layer;
    std::vector<std::vector<float>> channels;
    int count = 0, preHandle = 0;
    if (!ReadSourceRegionChannels(layer.filepath, 0.0, kWholeSourceSeconds, 0.0, 0.0, call.rate, channels, count,
                                  preHandle) ||
        channels.empty() || channels[0].empty())
        return false;
    for (std::vector<float>& channel : channels) Resample(channel, lc.ratio);
    const ChannelMap map = GetFileChannelMap(layer.filepath);
    const std::size_t fileMark = call.pending.files.size();
    const std::size_t clipMark = call.clips.clipNames.size();
    const double timeReference = layer.startTime + call.timecode;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const std::string file =
            AAFEssenceName(tag, lc.index, true, name, ChannelRoleSuffix(map, static_cast<int>(c)));
        const std::string path = call.EssencePath(file);
        if (!call.WriteEssence(path, channels[c], channels[c].size(), timeReference, nullptr)) {
            // Passed on to the next rule: what this one added must not stay.
            call.TruncateClips(clipMark);
            call.pending.RemoveFrom(fileMark);
            return false;
        }
        AddAAFSpliceEntries(call, lc, path, file, static_cast<std::int64_t>(channels[c].size()),
                            track + static_cast<std::int32_t>(c));
    }
    return true;
}

// B: every source channel of the layer's region with its handles.
bool RuleChannelHandles(AAFExportCall& call, const LayerClip& lc, const std::string& tag, const std::string& name,
                        std::int32_t track, double handle) {
    const LayerResult& layer = *lc.layer;
    std::vector<std::vector<float>> channels;
    int count = 0, preHandle = 0;
    if (!ReadSourceRegionChannels(layer.filepath, layer.sourceOffset, layer.sourceDuration, handle, handle,
                                  call.rate, channels, count, preHandle) ||
        channels.empty() || channels[0].empty())
        return false;
    for (std::vector<float>& channel : channels) Resample(channel, lc.ratio);
    preHandle = ScaledPreHandle(preHandle, lc.ratio);
    ChannelMap map;
    {
        SF_INFO info{};
        SoundFilePtr file = OpenSoundFile(layer.filepath, info);
        map = BuildChannelMap(file.get(), std::max(1, file ? info.channels : count),
                              GlobalAppState.channelOrderFallback.load(std::memory_order_relaxed), kInterpretAuto);
    }
    const double timeReference = std::max(
        0.0, static_cast<double>(layer.deconOffset) + layer.startTime + call.timecode - static_cast<double>(preHandle) / call.rate);
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const std::string file =
            AAFEssenceName(tag, lc.index, false, name, ChannelRoleSuffix(map, static_cast<int>(c)));
        const std::string path = call.EssencePath(file);
        if (call.WriteEssence(path, channels[c], channels[c].size(), timeReference, nullptr))
            AddAAFClipEntry(call, lc, path, file, static_cast<std::int64_t>(channels[c].size()), preHandle,
                            track + static_cast<std::int32_t>(c));
    }
    return true;
}

// C: the whole source file, mono or as a stereo pair, one clip per splice.
bool RuleWholeSource(AAFExportCall& call, const LayerClip& lc, const std::string& tag, const std::string& name,
                     std::int32_t track) {
    const LayerResult& layer = *lc.layer;
    std::vector<float> left, right;
    int preHandle = 0;
    if (layer.stereo) {
        bool stereo = false;
        if (!ReadSourceRegionStereo(layer.filepath, 0.0, kWholeSourceSeconds, 0.0, 0.0, call.rate, left, right,
                                    stereo, preHandle))
            return false;
        if (right.empty()) right = left;
    } else if (!ReadSourceRegion(layer.filepath, 0.0, kWholeSourceSeconds, 0.0, 0.0, call.rate, left, preHandle)) {
        return false;
    }
    if (left.empty()) return false;
    Resample(left, lc.ratio);
    if (layer.stereo) Resample(right, lc.ratio);
    const double timeReference = layer.startTime + call.timecode;
    const std::size_t fileMark = call.pending.files.size();
    if (!layer.stereo) {
        const std::string file = AAFEssenceName(tag, lc.index, true, name, "");
        const std::string path = call.EssencePath(file);
        if (!call.WriteEssence(path, left, left.size(), timeReference, nullptr)) return false;
        AddAAFSpliceEntries(call, lc, path, file, static_cast<std::int64_t>(left.size()), track);
        return true;
    }
    const std::string fileL = AAFEssenceName(tag, lc.index, true, name, ".L");
    const std::string fileR = AAFEssenceName(tag, lc.index, true, name, ".R");
    const std::string pathL = call.EssencePath(fileL), pathR = call.EssencePath(fileR);
    if (!call.WriteEssence(pathL, left, left.size(), timeReference, nullptr) ||
        !call.WriteEssence(pathR, right, right.size(), timeReference, nullptr)) {
        call.pending.RemoveFrom(fileMark);
        return false;
    }
    AddAAFSpliceEntries(call, lc, pathL, fileL, static_cast<std::int64_t>(left.size()), track);
    AddAAFSpliceEntries(call, lc, pathR, fileR, static_cast<std::int64_t>(right.size()), track + 1);
    return true;
}

// D: the voice's own rendered samples.
void RuleRenderedVoice(AAFExportCall& call, const LayerClip& lc, const std::string& tag, const std::string& name,
                       std::int32_t track) {
    const LayerResult& layer = *lc.layer;
    const Voice& voice = *lc.voice;
    const auto frames = static_cast<std::size_t>(voice.frameCount);
    const double timeReference = static_cast<double>(layer.deconOffset) + layer.startTime + call.timecode;
    const char* description = layer.procMode == kProcModeAlloy ? layer.name.c_str() : nullptr;
    if (!layer.stereo) {
        const std::string file = AAFEssenceName(tag, lc.index, false, name, "");
        const std::string path = call.EssencePath(file);
        if (call.WriteEssence(path, voice.samplesL, frames, timeReference, description))
            AddAAFClipEntry(call, lc, path, file, voice.frameCount, 0, track);
        return;
    }
    const std::vector<float>& right = voice.stereo && !voice.samplesR.empty() ? voice.samplesR : voice.samplesL;
    const std::string fileL = AAFEssenceName(tag, lc.index, false, name, ".L");
    const std::string fileR = AAFEssenceName(tag, lc.index, false, name, ".R");
    if (call.WriteEssence(call.EssencePath(fileL), voice.samplesL, frames, timeReference, description))
        AddAAFClipEntry(call, lc, call.EssencePath(fileL), fileL, voice.frameCount, 0, track);
    if (call.WriteEssence(call.EssencePath(fileR), right, frames, timeReference, description))
        AddAAFClipEntry(call, lc, call.EssencePath(fileR), fileR, voice.frameCount, 0, track + 1);
}

// E: the layer's region with its handles, mono or as a stereo pair.
void RuleHandles(AAFExportCall& call, const LayerClip& lc, const std::string& tag, const std::string& name,
                 std::int32_t track, double handle) {
    const LayerResult& layer = *lc.layer;
    std::vector<float> left, right;
    int preHandle = 0;
    if (layer.stereo) {
        bool stereo = false;
        if (!ReadSourceRegionStereo(layer.filepath, layer.sourceOffset, layer.sourceDuration, handle, handle,
                                    call.rate, left, right, stereo, preHandle))
            return;
        if (right.empty()) right = left;
    } else if (!ReadSourceRegion(layer.filepath, layer.sourceOffset, layer.sourceDuration, handle, handle, call.rate,
                                 left, preHandle)) {
        return;
    }
    Resample(left, lc.ratio);
    if (layer.stereo) Resample(right, lc.ratio);
    preHandle = ScaledPreHandle(preHandle, lc.ratio);
    const double timeReference = std::max(
        0.0, static_cast<double>(layer.deconOffset) + layer.startTime + call.timecode - static_cast<double>(preHandle) / call.rate);
    if (!layer.stereo) {
        const std::string file = AAFEssenceName(tag, lc.index, false, name, "");
        const std::string path = call.EssencePath(file);
        if (call.WriteEssence(path, left, left.size(), timeReference, nullptr))
            AddAAFClipEntry(call, lc, path, file, static_cast<std::int64_t>(left.size()), preHandle, track);
        return;
    }
    const std::string fileL = AAFEssenceName(tag, lc.index, false, name, ".L");
    const std::string fileR = AAFEssenceName(tag, lc.index, false, name, ".R");
    if (call.WriteEssence(call.EssencePath(fileL), left, left.size(), timeReference, nullptr))
        AddAAFClipEntry(call, lc, call.EssencePath(fileL), fileL, static_cast<std::int64_t>(left.size()), preHandle,
                        track);
    if (call.WriteEssence(call.EssencePath(fileR), right, right.size(), timeReference, nullptr))
        AddAAFClipEntry(call, lc, call.EssencePath(fileR), fileR, static_cast<std::int64_t>(right.size()), preHandle,
                        track + 1);
}

void ExportLayer(AAFExportCall& call, const LayerClip& lc, std::int32_t track) {
    const ExportRequest& request = call.request;
    const LayerResult& layer = *lc.layer;
    const std::string name = AAFClipName(layer.name);
    // The tag names files too: a group name is made as safe as a layer's.
    const std::string tag =
        AAFClipName(GroupName(request, layer.group, "T") + std::to_string(layer.groupTrack + 1));
    const ExportSettings& settings = request.exportSettings;
    const double handle = !request.exportWithHandles                                    ? 0.0
                          : settings.handleFullSource || settings.handleDuration < 0.0f ? kWholeSourceSeconds
                                                                                        : settings.handleDuration;
    const bool loopFill = layer.procMode == kProcModeLoopFill && !lc.chunks.empty();
    if (request.exportSettings.exportAAFSourceChannels && request.exportFillVirtual && loopFill &&
        RuleWholeSourceChannels(call, lc, tag, name, track))
        return;
    if (request.exportSettings.exportAAFSourceChannels && layer.procMode != kProcModeLoopFill &&
        layer.procMode != kProcModeAlloy && RuleChannelHandles(call, lc, tag, name, track, handle))
        return;
    if (request.exportFillVirtual && loopFill && RuleWholeSource(call, lc, tag, name, track)) return;
    if (!request.exportWithHandles || layer.procMode == kProcModeAlloy || layer.procMode == kProcModeLoopFill) {
        RuleRenderedVoice(call, lc, tag, name, track);
        return;
    }
    RuleHandles(call, lc, tag, name, track, handle);
}

// [SECTION] Markers and reverb return

std::vector<AAFMarker> EventMarkers(const AAFExportCall& call, const std::vector<Event>& events,
                                    const std::vector<UserShape>& userShapes) {
    std::vector<AAFMarker> markers;
    for (const Event& event : events) {
        std::string comment;
        if (event.userShapeIdx >= 0 && static_cast<std::size_t>(event.userShapeIdx) < userShapes.size()) {
            const UserShape& shape = userShapes[static_cast<std::size_t>(event.userShapeIdx)];
            comment.assign(shape.name, strnlen(shape.name, sizeof shape.name));
        } else if (event.shape >= 0 && event.shape < kEventKindCount) {
            comment = EventKindNames[static_cast<std::size_t>(event.shape)];
        }
        char duration[64];
        std::snprintf(duration, sizeof duration, ",%.1f", static_cast<double>(event.duration));
        comment += duration;
        const std::string keywords(event.keywords, strnlen(event.keywords, sizeof event.keywords));
        if (!keywords.empty()) comment += "," + keywords;
        const auto at = static_cast<std::int64_t>(static_cast<float>(call.rate) * event.time);
        markers.push_back({call.Snap(at + call.startOffset), std::move(comment)});
    }
    return markers;
}

void AddReverbReturn(AAFExportCall& call, const PlaybackEngine& engine, const ReverbSettings& reverb,
                     const std::array<float, kTrackGroupCount>& groupGain, std::vector<std::string>& trackNames) {
    const ExportRequest& request = call.request;
    const bool rangeOnly = request.rangeStart >= 0.0f && request.rangeEnd > request.rangeStart;
    const double start = rangeOnly ? request.rangeStart : 0.0;
    const double length = rangeOnly ? static_cast<double>(request.rangeEnd) - request.rangeStart : request.totalDuration;
    std::vector<float> left, right;
    if (!RenderReverbBusOffline(engine, reverb, groupGain, call.rate, length, start, left, right) || left.empty())
        return;
    std::int32_t track = 0;
    for (std::int32_t t : call.clips.tracks) track = std::max(track, t + 1);
    const std::int64_t position =
        call.Snap(static_cast<std::int64_t>(static_cast<float>(call.rate) * static_cast<float>(start)) + call.startOffset);
    const auto frames = static_cast<std::int64_t>(left.size());
    const double timeReference = start + call.timecode;
    if (trackNames.size() < static_cast<std::size_t>(track) + 2) trackNames.resize(static_cast<std::size_t>(track) + 2);
    struct Side {
        const char* file;
        const char* description;
        const char* trackName;
        const std::vector<float>* samples;
    };
    const Side sides[2] = {{"Reverb.L.wav", "Reverb L", "Reverb.L", &left}, {"Reverb.R.wav", "Reverb R", "Reverb.R", &right}};
    for (int s = 0; s < 2; ++s) {
        const std::string path = call.EssencePath(sides[s].file);
        if (!call.WriteEssence(path, *sides[s].samples, sides[s].samples->size(), timeReference, sides[s].description))
            continue;
        call.Append(path, sides[s].file, position, frames, 0, frames, track + s, 0, 0, ClipGainEnvelope{}, 1.0f);
        trackNames[static_cast<std::size_t>(track + s)] = sides[s].trackName;
    }
}

}  // namespace

// [SECTION] ExportAAF

bool ExportAAF(const ExportRequest& request, const std::vector<LayerResult>& results, const PlaybackEngine& engine,
               const std::vector<Event>& events, const std::vector<UserShape>& userShapes,
               const ReverbSettings& reverb, AAFExportOutput* output,
               const std::array<float, kTrackGroupCount>* groupGain) {
    // Declared first so that it ends last: the pending essence files are
    // gone before it removes the folders it created.
    ExportRollback rollback;
    AAFExportCall call(request);
    call.rate = request.sampleRate;
    if (call.rate < 1) {
        PrintLine("[AAF] no sample rate: nothing written\n");
        return false;
    }

    const std::string base = AAFExportBaseName(request);
    const std::string aafFolder = request.outputFolder + "/" + base;
    call.essenceFolder = aafFolder + "/Audio Files";
    const std::string aafPath = aafFolder + "/" + base + ".aaf";
    for (const std::string& folder : {request.outputFolder, aafFolder, call.essenceFolder}) {
        std::error_code ec;
        if (fs::is_directory(folder, ec)) continue;
        fs::create_directories(folder, ec);
        if (ec || !fs::is_directory(folder, ec)) {
            std::printf("[AAF] could not create the folder '%s'\n", folder.c_str());
            std::fflush(stdout);
            return false;
        }
        rollback.AddFolder(folder);
    }

    call.timecode = static_cast<double>(request.startTimecodeSeconds);
    call.startOffset = static_cast<std::int64_t>(static_cast<float>(call.rate) * static_cast<float>(request.startTimecodeSeconds));

    // Each layer's voice: the first one that stands for it, only while the
    // voice list is complete.
    std::vector<std::int32_t> voiceOf(results.size(), -1);
    if (engine.ready.load(std::memory_order_acquire)) {
        for (std::size_t v = engine.voices.size(); v-- > 0;) {
            const std::int32_t index = engine.voices[v].resultIndex;
            if (index >= 0 && static_cast<std::size_t>(index) < results.size())
                voiceOf[static_cast<std::size_t>(index)] = static_cast<std::int32_t>(v);
        }
    }

    AAFTrackLayout layout = LayOutTracks(request, results, voiceOf, engine);

    for (std::size_t i = 0; i < results.size(); ++i) {
        const LayerResult& layer = results[i];
        if (layer.filepath.empty() || LayerMuted(layer) || !IsInExportRange(layer, request.rangeStart, request.rangeEnd))
            continue;
        if (layer.eventIdx >= 0 && static_cast<std::size_t>(layer.eventIdx) < events.size() &&
            events[static_cast<std::size_t>(layer.eventIdx)].muted)
            continue;
        if (voiceOf[i] < 0) continue;
        const Voice& voice = engine.voices[static_cast<std::size_t>(voiceOf[i])];
        if (voice.frameCount <= 0) continue;
        const auto remapped = layout.remap.find(layer.track);
        const std::int32_t track = remapped != layout.remap.end() ? remapped->second : layer.track;

        LayerClip lc;
        lc.layer = &layer;
        lc.voice = &voice;
        lc.index = static_cast<std::int32_t>(i);
        lc.fadeIn = static_cast<std::int32_t>(
            call.Snap(static_cast<std::int64_t>(static_cast<float>(call.rate) * layer.fadeIn)));
        lc.fadeOut = static_cast<std::int32_t>(
            call.Snap(static_cast<std::int64_t>(static_cast<float>(call.rate) * layer.fadeOut)));
        lc.envelope = LayerEnvelope(layer, request.exportSettings.exportAAFVolAuto);
        lc.gain = voice.normGain * voice.gain * voice.eventGain;
        lc.ratio = SemitonesToRatio(layer.pitchShift);
        // The layer keeps the whole splice list; a voice only its first 65.
        if (!layer.fillChunks.empty()) lc.chunks = layer.fillChunks;
        else lc.chunks.assign(voice.splices.begin(), voice.splices.begin() + std::clamp(voice.spliceCount, 0, kVoiceMaxSplices));
        ExportLayer(call, lc, track);
    }

    if (call.clips.clipNames.empty()) {
        PrintLine("[AAF] no layer gave a clip: no AAF file written\n");
        return false;
    }

    std::vector<AAFMarker> markers;
    if (request.exportSettings.exportAAFMarkers) markers = EventMarkers(call, events, userShapes);
    if (request.exportSettings.exportReverbStem && reverb.enabled && request.totalDuration > 0.0f)
        AddReverbReturn(call, engine, reverb, groupGain != nullptr ? *groupGain : engine.groupGain, layout.names);

    // Every essence file now goes to the rollback, which moves it into place
    // with the AAF file or removes it.
    std::set<std::string> registered;
    for (const PendingEssence::File& file : call.pending.files)
        if (registered.insert(file.final).second) rollback.AddFile(file.temporary, file.final);
    call.pending.files.clear();

    const std::string temporaryAaf = ExportRollback::TemporaryPath(aafPath);
    std::error_code ec;
    fs::remove(temporaryAaf, ec);  // left by an export that was killed
    std::printf("[AAF] writing '%s'  (essence clips=%d, handles=%d, fillVirtual=%d, aafDir exists=%d)\n",
                aafPath.c_str(), static_cast<int>(call.clips.clipNames.size()), request.exportWithHandles ? 1 : 0,
                request.exportFillVirtual ? 1 : 0, fs::is_directory(aafFolder, ec) ? 1 : 0);
    std::fflush(stdout);
    const bool shared = request.exportWithHandles || request.exportFillVirtual;
    if (output != nullptr) {
        output->aafPath = aafPath;
        output->essenceFolder = call.essenceFolder;
        output->clips = call.clips;
        output->trackNames = layout.names;
        output->markers = markers;
        output->sharedWriter = shared;
    }
    const bool written = shared ? WriteAAFSessionShared(temporaryAaf, call.clips, layout.names, call.rate, markers)
                                : WriteAAFSession(temporaryAaf, call.clips, layout.names, call.rate, markers);
    if (!written) {
        fs::remove(temporaryAaf, ec);
        return false;
    }
    rollback.AddFile(temporaryAaf, aafPath);
    return rollback.Commit();
}

bool ExportAAFForJob(const ExportRequest& request, const ExportMix& mix) {
    return ExportAAF(request, CurrentProject.results, LivePlaybackEngine, CurrentProject.events,
                     CurrentProject.userShapes, mix.reverb, nullptr, &mix.groupGain);
}

}  // namespace korvel
