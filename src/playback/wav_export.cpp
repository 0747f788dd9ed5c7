// [SECTION] Names, folders and limits
// [SECTION] Reverb stem
// [SECTION] Mixdown
// [SECTION] Stems
// [SECTION] Tracks
// [SECTION] Clips
// [SECTION] ExportWAV
#include "playback/wav_export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "dsp/limiter.h"
#include "dsp/loudness.h"
#include "engine/track_allocation.h"
#include "library/bwf_writer.h"
#include "playback/offline_mix.h"
#include "playback/playback_engine.h"
#include "playback/reverb_bus.h"
#include "playback/voice_mix.h"
#include "project/app_state.h"
#include "project/layer.h"
#include "project/project.h"

namespace korvel {

namespace fs = std::filesystem;

// [SECTION] Names, folders and limits

std::string SanitizeExportName(const std::string& name) {
    std::string safe = name;
    for (char& c : safe)
        if (c == '/' || c == ':' || c == '\\') c = '_';
    return safe;
}

std::vector<float> LayoutLoudnessWeights(const OutputLayout& layout) {
    std::vector<float> weights;
    for (ChannelRole role : layout.roles) {
        if (role == ChannelRole::LFE) weights.push_back(0.0f);
        else if (role == ChannelRole::Ls || role == ChannelRole::Rs) weights.push_back(1.41f);
        else weights.push_back(1.0f);
    }
    return weights;
}

namespace {

// What every part of one call shares.
struct ExportCall {
    std::string out;  // the output folder as given
    const std::vector<LayerResult>& results;
    const PlaybackEngine& engine;
    int rate = 48000;
    const ExportWavOptions& options;
    double offset = 0.0;       // timeline seconds of frame 0
    double length = 0.0;       // seconds
    std::int64_t frames = 0;
    float master = 1.0f;
    std::array<float, kTrackGroupCount> groupGain;  // taken once: the faders may move meanwhile
    double tc = 0.0;           // start timecode, seconds
    std::string base;          // sanitised, for paths
    std::string description;   // as given, for the BEXT descriptions
    ExportRollback& rollback;
    std::int32_t count = 0;
    // The "written" lines, printed only once the files are in place.
    std::vector<std::string> written;
};

// Creates `folder` with its parents; a folder that did not exist is
// recorded so that a failed call removes it again.
bool EnsureFolder(const std::string& folder, ExportRollback& rollback) {
    std::error_code ec;
    const bool existed = fs::is_directory(folder, ec);
    if (existed) return true;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        std::printf("[Export] Could not create the folder %s: %s\n", folder.c_str(),
                    ec ? ec.message().c_str() : "a file is in the way");
        std::fflush(stdout);
        return false;
    }
    rollback.AddFolder(folder);
    return true;
}

// The writers' own limits, checked before a buffer of `frames` frames is
// made: a long or damaged project must not allocate gigabytes first.
bool FitsWriter(const char* writer, std::int64_t frames, int channels, int rate, const std::string& path) {
    const std::int64_t hour = static_cast<std::int64_t>(rate) * 3600;
    if (frames > hour) {
        std::printf("[Export] %s: numFrames %lld exceeds 1hr limit (%lld) \u2014 %s\n", writer,
                    static_cast<long long>(frames), static_cast<long long>(hour), path.c_str());
        std::fflush(stdout);
        return false;
    }
    if (frames > BwfMaxFrames(channels)) {
        std::printf("[Export] %s: numFrames %lld exceeds 4 GiB RIFF limit (%lld) \u2014 %s\n", writer,
                    static_cast<long long>(frames), static_cast<long long>(BwfMaxFrames(channels)), path.c_str());
        std::fflush(stdout);
        return false;
    }
    return true;
}

float GroupGain(const ExportCall& call, int group) {
    return call.groupGain[static_cast<std::size_t>(std::clamp(group, 0, kTrackGroupCount - 1))];
}

bool WriteStereoFile(ExportCall& call, const std::string& path, const float* left, const float* right,
                     std::int64_t frames, double startSeconds, const std::string& description) {
    const std::string temporary = ExportRollback::TemporaryPath(path);
    if (!WriteBWFStereo(temporary, left, right, frames, call.rate, startSeconds, description.c_str())) return false;
    call.rollback.AddFile(temporary, path);
    return true;
}

bool WriteMultiFile(ExportCall& call, const std::string& path, const std::vector<std::vector<float>>& channels,
                    const OutputLayout& layout, const std::string& description) {
    const std::string temporary = ExportRollback::TemporaryPath(path);
    if (!WriteBWFMulti(temporary, channels, layout.channelMask, call.rate, call.tc + call.offset, description.c_str(),
                       layout.ambisonic, layout.extensible))
        return false;
    call.rollback.AddFile(temporary, path);
    return true;
}

// [SECTION] Reverb stem

// A failed reverb stem does not stop the call; it is only reported.
void WriteReverbStem(ExportCall& call) {
    const ReverbSettings* reverb = call.options.reverb;
    if (call.options.kind == ExportWavKind::Mix || !call.options.writeReverbStem || reverb == nullptr ||
        !reverb->enabled)
        return;
    std::vector<float> left, right;
    if (!RenderReverbBusOffline(call.engine, *reverb, call.groupGain, call.rate, call.length, call.offset, left, right)) return;
    const std::string path = call.out + "/" + call.base + " - Reverb.wav";
    const std::int64_t frames = std::min<std::int64_t>(call.frames, static_cast<std::int64_t>(left.size()));
    if (WriteStereoFile(call, path, left.data(), right.data(), frames, call.tc + call.offset,
                        call.description + " - Reverb")) {
        call.count = 1;
        call.written.push_back("[ExportWAV] Reverb stem written to " + path + "\n");
    } else {
        std::printf("[ExportWAV] Reverb stem could not be written to %s\n", path.c_str());
    }
    std::fflush(stdout);
}

// [SECTION] Mixdown

bool ExportStereoMix(ExportCall& call) {
    const std::string path = call.out + "/" + call.base + ".wav";
    if (!FitsWriter("WriteBWFStereo", call.frames, 2, call.rate, path)) return false;
    const PlaybackEngine& engine = call.engine;
    std::vector<float> left(static_cast<std::size_t>(call.frames), 0.0f);
    std::vector<float> right(static_cast<std::size_t>(call.frames), 0.0f);
    for (std::size_t k = 0; k < engine.voices.size(); ++k)
        MixVoiceOffline(engine.voices[k], k, engine, left.data(), right.data(), call.frames, call.rate,
                        call.master * GroupGain(call, engine.voices[k].group), call.offset);
    const ReverbSettings* reverb = call.options.reverb;
    if (reverb != nullptr && reverb->enabled) {
        std::vector<float> returnL, returnR;
        if (RenderReverbBusOffline(engine, *reverb, call.groupGain, call.rate, call.length, call.offset, returnL, returnR)) {
            const std::int64_t n = std::min<std::int64_t>(call.frames, static_cast<std::int64_t>(returnL.size()));
            for (std::int64_t p = 0; p < n; ++p) left[p] += returnL[p], right[p] += returnR[p];
        }
    }
    if (call.options.normalize) {
        const float g = LoudnessNormalizeGain(left.data(), right.data(), call.frames, call.rate, call.options.targetLUFS);
        if (std::fabs(g - 1.0f) >= 0.0001f)
            for (std::int64_t p = 0; p < call.frames; ++p) left[p] *= g, right[p] *= g;
    }
    LimitStereo(engine.limiter, left.data(), right.data(), call.frames);
    if (!WriteStereoFile(call, path, left.data(), right.data(), call.frames, call.tc + call.offset, call.description))
        return false;
    call.written.push_back("[ExportWAV] Mixdown written to " + path + "\n");
    ++call.count;
    return true;
}

std::vector<std::vector<float>> MixLayout(ExportCall& call, const OutputLayout& layout, int group) {
    const PlaybackEngine& engine = call.engine;
    std::vector<std::vector<float>> channels(layout.roles.size(), std::vector<float>(static_cast<std::size_t>(call.frames)));
    const int order = GlobalAppState.channelOrderFallback.load();
    for (std::size_t k = 0; k < engine.voices.size(); ++k) {
        const Voice& voice = engine.voices[k];
        if (group >= 0 && voice.group != group) continue;
        MixVoiceSpatial(voice, k, engine, call.results, layout, channels, call.frames, call.rate,
                        call.master * GroupGain(call, voice.group), call.offset, order, call.options.spatialBlend,
                        call.options.extendedSpread);
    }
    return channels;
}

// The loudness gain of a layout mixdown: every speaker by its position
// weight (a centred 5.1 mix reads as loud as the same mix in stereo); AmbiX
// on W and Y.
float LayoutNormalizeGain(const std::vector<std::vector<float>>& channels, const OutputLayout& layout,
                          std::int64_t frames, int rate, float target) {
    if (layout.ambisonic || channels.size() < 3) {
        const float* right = channels.size() > 1 ? channels[1].data() : nullptr;
        return LoudnessNormalizeGain(channels[0].data(), right, frames, rate, target);
    }
    if (frames <= 0) return 1.0f;
    const std::vector<float> weights = LayoutLoudnessWeights(layout);
    std::vector<const float*> measured;
    std::vector<float> measuredWeights;
    for (std::size_t j = 0; j < channels.size() && j < weights.size(); ++j) {
        if (weights[j] <= 0.0f) continue;
        measured.push_back(channels[j].data());
        measuredWeights.push_back(weights[j]);
    }
    const int n = static_cast<int>(std::min<std::int64_t>(frames, 0x7FFFFFFF));
    const float m = MeasureLoudnessWeighted(measured, measuredWeights, n, rate);
    if (!(m > -100.0f) || !std::isfinite(target)) return 1.0f;
    const float d = std::clamp(target - m, -30.0f, 30.0f);
    std::printf("[ExportWAV] LUFS normalise: %.1f \u2192 %.1f LUFS (%.1f dB)\n", m, target, d);
    return std::pow(10.0f, d / 20.0f);
}

bool ExportLayoutMix(ExportCall& call, const OutputLayout& layout) {
    const std::string path = call.out + "/" + call.base + ".wav";
    if (!FitsWriter("WriteBWFMulti", call.frames, static_cast<int>(layout.roles.size()), call.rate, path)) return false;
    std::vector<std::vector<float>> channels = MixLayout(call, layout, -1);
    const ReverbSettings* reverb = call.options.reverb;
    if (reverb != nullptr && reverb->enabled) {
        std::vector<float> returnL, returnR;
        if (RenderReverbBusOffline(call.engine, *reverb, call.groupGain, call.rate, call.length, call.offset, returnL, returnR))
            SpreadReverbToLayout(returnL, returnR, std::min<std::int64_t>(call.frames, static_cast<std::int64_t>(returnL.size())),
                                 layout, channels);
    }
    if (call.options.normalize) {
        const float g = LayoutNormalizeGain(channels, layout, call.frames, call.rate, call.options.targetLUFS);
        if (std::fabs(g - 1.0f) >= 0.0001f)
            for (std::vector<float>& channel : channels)
                for (float& v : channel) v *= g;
    }
    LimitChannels(call.engine.limiter, channels, call.frames);
    if (!WriteMultiFile(call, path, channels, layout, call.description)) return false;
    call.written.push_back("[ExportWAV] " + std::string(layout.name) + " mixdown written to " + path + "\n");
    ++call.count;
    return true;
}

// [SECTION] Stems

bool ExportStems(ExportCall& call, const TrackLayout& trackLayout) {
    const PlaybackEngine& engine = call.engine;
    const OutputLayout layout = GetOutputLayout(call.options.layoutIndex);
    const bool stereo = call.options.layoutIndex < 1 || call.options.layoutIndex >= kOutputLayoutCount;
    const int channelCount = static_cast<int>(layout.roles.size());
    for (int g = 0; g < kTrackGroupCount; ++g) {
        const bool heard = std::any_of(engine.voices.begin(), engine.voices.end(), [&](const Voice& v) {
            return v.group == g && !v.muted && v.frameCount > 0;
        });
        if (!heard) continue;
        const std::string groupName = trackLayout.groups[static_cast<std::size_t>(g)].name;
        const std::string path = call.out + "/" + call.base + " - " + SanitizeExportName(groupName) + ".wav";
        const std::string description = call.description + " - " + groupName;
        if (!FitsWriter(stereo ? "WriteBWFStereo" : "WriteBWFMulti", call.frames, channelCount, call.rate, path))
            return false;
        bool written = false;
        if (stereo) {
            std::vector<float> left(static_cast<std::size_t>(call.frames), 0.0f);
            std::vector<float> right(static_cast<std::size_t>(call.frames), 0.0f);
            const float gain = GroupGain(call, g) * call.master;
            for (std::size_t k = 0; k < engine.voices.size(); ++k)
                if (engine.voices[k].group == g)
                    MixVoiceOffline(engine.voices[k], k, engine, left.data(), right.data(), call.frames, call.rate, gain,
                                    call.offset);
            written = WriteStereoFile(call, path, left.data(), right.data(), call.frames, call.tc + call.offset, description);
        } else {
            std::vector<std::vector<float>> channels = MixLayout(call, layout, g);
            LimitChannels(engine.limiter, channels, call.frames);
            written = WriteMultiFile(call, path, channels, layout, description);
        }
        if (!written) return false;
        ++call.count;
    }
    // The stems lie in the output folder itself; the line names that folder.
    call.written.push_back("[ExportWAV] " + std::to_string(call.count) + " stems written to " + call.out + "/\n");
    return true;
}

// [SECTION] Tracks

bool ExportTracks(ExportCall& call, const TrackLayout& trackLayout) {
    const std::string folder = call.out + "/Tracks";
    if (!EnsureFolder(folder, call.rollback)) return false;
    const PlaybackEngine& engine = call.engine;
    auto trackOf = [&](const Voice& voice) {
        if (voice.resultIndex < 0 || static_cast<std::size_t>(voice.resultIndex) >= call.results.size()) return -1;
        return call.results[static_cast<std::size_t>(voice.resultIndex)].track;
    };
    for (int g = 0; g < kTrackGroupCount; ++g) {
        const TrackGroupLayout& group = trackLayout.groups[static_cast<std::size_t>(g)];
        const std::int32_t base = TrackBase(trackLayout, g);
        const std::int32_t n = group.usedLanes != 0 ? std::max(group.trackCount, group.usedLanes) : 0;
        for (std::int32_t k = 1; k <= n; ++k) {
            const std::int32_t t = base + k - 1;
            const bool heard = std::any_of(engine.voices.begin(), engine.voices.end(),
                                           [&](const Voice& v) { return !v.muted && trackOf(v) == t; });
            if (!heard) continue;
            char name[64];
            std::snprintf(name, sizeof name, "%s %02d", group.name, k);
            const std::string path = folder + "/" + call.base + " - " + SanitizeExportName(name) + ".wav";
            if (!FitsWriter(group.stereo ? "WriteBWFStereo" : "WriteBWFClipMono", call.frames, group.stereo ? 2 : 1,
                            call.rate, path))
                return false;
            std::vector<float> left(static_cast<std::size_t>(call.frames), 0.0f);
            std::vector<float> right(static_cast<std::size_t>(call.frames), 0.0f);
            for (std::size_t v = 0; v < engine.voices.size(); ++v)
                if (trackOf(engine.voices[v]) == t)
                    MixVoiceOffline(engine.voices[v], v, engine, left.data(), right.data(), call.frames, call.rate,
                                    GroupGain(call, g), call.offset);
            bool written = false;
            if (group.stereo) {
                written = WriteStereoFile(call, path, left.data(), right.data(), call.frames, call.tc + call.offset, name);
            } else {
                const std::string temporary = ExportRollback::TemporaryPath(path);
                written = WriteBWFClipMono(temporary, left.data(), static_cast<int>(call.frames), call.rate,
                                           call.tc + call.offset, name);
                if (written) call.rollback.AddFile(temporary, path);
            }
            if (!written) return false;
            ++call.count;
        }
    }
    call.written.push_back("[ExportWAV] " + std::to_string(call.count) + " tracks written to " + call.out + "/Tracks/\n");
    return true;
}

// [SECTION] Clips

// A name no earlier clip of the call has: Door, Door_2, Door_3, and a layer
// already named Door_2 after them becomes Door_2_2 rather than replacing one.
std::string UniqueClipName(const std::string& wanted, std::map<std::string, int>& counts, std::set<std::string>& used) {
    int& count = counts[wanted];
    ++count;
    std::string name = count > 1 ? wanted + "_" + std::to_string(count) : wanted;
    while (used.count(name) != 0) {
        ++count;
        name = wanted + "_" + std::to_string(count);
    }
    used.insert(name);
    return name;
}

// The clip's own fades (2 ms floor, no 15 ms floor, cap or joint scaling)
// with the curves of the send path.
void RenderClip(const ExportCall& call, const Voice& voice, std::size_t k, std::vector<float>& left,
                std::vector<float>& right) {
    const PlaybackEngine& engine = call.engine;
    const int rate = call.rate;
    const float fadeIn = std::max(0.002f, k < engine.voiceFadeIns.size() ? engine.voiceFadeIns[k] : kDefaultVoiceFadeIn);
    const float fadeOut = std::max(0.002f, k < engine.voiceFadeOuts.size() ? engine.voiceFadeOuts[k] : kDefaultVoiceFadeOut);
    const VoiceFades fades{fadeIn, fadeOut};
    const VoiceCurves curves = PrepareVoiceCurvesOverDuration(voice);
    const bool known = voice.group >= 0 && voice.group < kTrackGroupCount;
    const float level = VoiceBaseLevel(voice) * (known ? call.groupGain[static_cast<std::size_t>(voice.group)] : 1.0f);
    left.assign(static_cast<std::size_t>(voice.frameCount), 0.0f);
    right.assign(static_cast<std::size_t>(voice.frameCount), 0.0f);
    const std::size_t n = std::min(voice.samplesL.size(), static_cast<std::size_t>(voice.frameCount));
    for (std::size_t j = 0; j < n; ++j) {
        const float e = VoiceEnvelopeGain(fades, curves, voice.duration, level, static_cast<float>(j) / static_cast<float>(rate));
        left[j] = e * voice.samplesL[j];
        right[j] = e * (voice.stereo && j < voice.samplesR.size() ? voice.samplesR[j] : voice.samplesL[j]);
    }
}

bool ExportClips(ExportCall& call, bool rangeInForce, float rangeStart, float rangeEnd) {
    const std::string folder = call.out + "/Clips";
    if (!EnsureFolder(folder, call.rollback)) return false;
    const PlaybackEngine& engine = call.engine;
    std::map<std::string, int> counts;
    std::set<std::string> used;
    std::vector<float> left, right;
    for (std::size_t k = 0; k < engine.voices.size(); ++k) {
        const Voice& voice = engine.voices[k];
        if (voice.muted || voice.frameCount < 1) continue;
        if (voice.resultIndex < 0 || static_cast<std::size_t>(voice.resultIndex) >= call.results.size()) continue;
        if (rangeInForce && (rangeStart >= voice.startTime + voice.duration || rangeEnd <= voice.startTime)) continue;
        const std::string& own = call.results[static_cast<std::size_t>(voice.resultIndex)].name;
        const std::string name = UniqueClipName(SanitizeExportName(own.empty() ? "clip" : own), counts, used);
        const std::string path = folder + "/" + call.base + " - " + name + ".wav";
        RenderClip(call, voice, k, left, right);
        if (!WriteStereoFile(call, path, left.data(), right.data(), voice.frameCount,
                             call.tc + static_cast<double>(voice.startTime), name))
            return false;
        ++call.count;
    }
    call.written.push_back("[ExportWAV] " + std::to_string(call.count) + " clips written to " + call.out + "/Clips/\n");
    return true;
}

std::string DefaultBaseName(const std::string& outputFolder) {
    std::string trimmed = outputFolder;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    return fs::path(trimmed).filename().string();
}

}  // namespace

// [SECTION] ExportWAV

std::int32_t ExportWAV(const std::string& outputFolder, const std::vector<LayerResult>& results,
                       const PlaybackEngine& engine, int sampleRate, const TrackLayout& trackLayout, float duration,
                       const ExportWavOptions& options, float rangeStart, float rangeEnd, bool* rolledBack) {
    if (rolledBack != nullptr) *rolledBack = false;
    ExportRollback rollback;
    if (!EnsureFolder(outputFolder, rollback)) {
        if (rolledBack != nullptr) *rolledBack = true;
        return 0;
    }

    const bool rangeInForce = rangeStart >= 0.0f && rangeStart < rangeEnd;
    const double offset = rangeInForce ? rangeStart : 0.0;
    const double length = rangeInForce ? static_cast<double>(rangeEnd) - rangeStart : static_cast<double>(duration);
    const double product = static_cast<double>(sampleRate) * length;
    const std::int64_t frames = product >= 1.0 && product < 9.0e18 ? static_cast<std::int64_t>(product) : 0;
    if (!engine.ready.load(std::memory_order_acquire) || !(length > 0.0) || frames < 1) {
        std::printf("[Export] Nothing to write to %s: %s\n", outputFolder.c_str(),
                    engine.ready.load() ? "the range is empty" : "the voices are not rendered");
        std::fflush(stdout);
        return 0;
    }

    std::string base = options.baseName.empty() ? DefaultBaseName(outputFolder) : options.baseName;
    if (base.empty()) base = "Korvel";
    // The faders once, for the whole call: the mixer tab may move them meanwhile.
    const ExportMix mix = options.mix != nullptr ? *options.mix : ExportMix{engine.masterGain, engine.groupGain, {}};
    ExportCall call{outputFolder, results, engine, sampleRate, options, offset, length, frames,
                    options.applyMasterGain ? mix.masterGain : 1.0f, mix.groupGain, options.startTimecodeSeconds,
                    SanitizeExportName(base), base, rollback, 0, {}};

    WriteReverbStem(call);
    bool ok = false;
    switch (options.kind) {
        case ExportWavKind::Mix: {
            const OutputLayout layout = GetOutputLayout(options.layoutIndex);
            ok = layout.roles.size() == 2 && !layout.ambisonic ? ExportStereoMix(call) : ExportLayoutMix(call, layout);
            break;
        }
        case ExportWavKind::Stems: ok = ExportStems(call, trackLayout); break;
        case ExportWavKind::Tracks: ok = ExportTracks(call, trackLayout); break;
        case ExportWavKind::Clips: ok = ExportClips(call, rangeInForce, rangeStart, rangeEnd); break;
    }
    // A file that cannot be moved into place fails the call like a failed
    // write: the rollback takes back what it moved.
    if (ok) ok = rollback.Commit();
    if (!ok) {
        std::fflush(stdout);
        if (rolledBack != nullptr) *rolledBack = true;
        return 0;
    }
    for (const std::string& line : call.written) std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    return call.count;
}

}  // namespace korvel
