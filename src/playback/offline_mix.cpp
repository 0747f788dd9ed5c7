// [SECTION] Voice envelope
// [SECTION] Stereo
// [SECTION] Spatial: source channels
// [SECTION] Spatial: gains
// [SECTION] Spatial: mixing
// [SECTION] Loudness
#include "playback/offline_mix.h"

#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "dsp/loudness.h"
#include "dsp/pan.h"
#include "dsp/resampler.h"
#include "library/audio_file.h"
#include "library/channel_layout.h"
#include "library/channel_map.h"
#include "playback/playback_engine.h"
#include "playback/reverb_bus.h"
#include "playback/source_region.h"
#include "playback/voice_mix.h"

namespace korvel {

// [SECTION] Voice envelope

namespace {

constexpr float kSilentLevel = 0.000001f;

// What the envelope of one voice needs, prepared once per voice.
struct EnvelopeRule {
    VoiceFades fades;
    VoiceCurves curves;
    float duration = 0.0f;
    float level = 0.0f;
    float rate = 1.0f;

    float At(std::int64_t i) const {
        return VoiceEnvelopeGain(fades, curves, duration, level, static_cast<float>(i) / rate);
    }
};

EnvelopeRule MakeRule(const Voice& voice, std::size_t index, const PlaybackEngine& engine, float gain,
                      int sampleRate) {
    return {EngineVoiceFades(engine, index, voice), PrepareVoiceCurves(voice), voice.duration,
            VoiceBaseLevel(voice) * gain, static_cast<float>(sampleRate)};
}

// The output frame of voice frame 0, in single precision truncated toward
// zero; false when it is no number a buffer could be indexed by.
bool StartFrame(const Voice& voice, double startSeconds, int sampleRate, std::int64_t& s0) {
    const float start = (voice.startTime - static_cast<float>(startSeconds)) * static_cast<float>(sampleRate);
    if (!std::isfinite(start) || std::fabs(start) > 4.0e18f) return false;
    s0 = static_cast<std::int64_t>(start);
    return true;
}

std::int64_t UsableFrames(const Voice& voice) {
    return std::min<std::int64_t>(static_cast<std::int64_t>(voice.samplesL.size()), voice.frameCount);
}

}  // namespace

VoiceEnvelope RenderVoiceForExport(const Voice& voice, std::size_t index, const PlaybackEngine& engine,
                                   float gain, int sampleRate, double startSeconds) {
    VoiceEnvelope envelope;
    if (voice.muted || voice.frameCount < 1 || sampleRate < 1) return envelope;
    if (!StartFrame(voice, startSeconds, sampleRate, envelope.startFrame)) {
        envelope.startFrame = 0;
        return envelope;
    }
    const EnvelopeRule rule = MakeRule(voice, index, engine, gain, sampleRate);
    if (!(rule.level >= kSilentLevel)) return envelope;
    envelope.gains.resize(static_cast<std::size_t>(voice.frameCount));
    for (std::int64_t i = 0; i < voice.frameCount; ++i) envelope.gains[static_cast<std::size_t>(i)] = rule.At(i);
    return envelope;
}

// [SECTION] Stereo

void MixVoiceOffline(const Voice& voice, std::size_t index, const PlaybackEngine& engine, float* outL,
                     float* outR, std::int64_t totalFrames, int sampleRate, float gain, double startSeconds) {
    if (voice.muted || voice.frameCount < 1 || sampleRate < 1) return;
    const EnvelopeRule rule = MakeRule(voice, index, engine, gain, sampleRate);
    if (!(rule.level >= kSilentLevel)) return;
    std::int64_t s0 = 0;
    if (!StartFrame(voice, startSeconds, sampleRate, s0)) return;
    const bool stereo = VoiceMixesStereo(voice);
    float ll = 0.0f, lr = 0.0f, rl = 0.0f, rr = 0.0f;
    ComputePanGains(voice.azimuth, voice.width, stereo, 0.0f, ll, lr, rl, rr);

    // Only the frames that land inside the range are computed.
    const std::int64_t first = std::max<std::int64_t>(0, -s0);
    const std::int64_t last = std::min(UsableFrames(voice), totalFrames - s0);
    const float* samplesL = voice.samplesL.data();
    const float* samplesR = stereo ? voice.samplesR.data() : nullptr;
    for (std::int64_t i = first; i < last; ++i) {
        const float e = rule.At(i);
        const float sL = samplesL[i];
        float oL = sL * ll;
        float oR = sL * lr;
        if (samplesR != nullptr) {
            oL += samplesR[i] * rl;
            oR += samplesR[i] * rr;
        }
        outL[s0 + i] += e * oL;
        outR[s0 + i] += e * oR;
    }
}

// [SECTION] Spatial: source channels

namespace {

struct SourceChannels {
    std::vector<std::vector<float>> samples;
    ChannelMap map;
};

// The layer's file re-read as separate channels; false when it has no known
// speaker layout or cannot be read.
bool ReadLayerChannels(const LayerResult& layer, const Voice& voice, int sampleRate, int channelOrder,
                       SourceChannels& source) {
    if (layer.procMode == kProcModeLoopFill) {
        if (voice.spliceCount < 1) return false;
        return ReadResultSourceChannels(layer, voice, sampleRate, channelOrder, source.samples, source.map);
    }
    SF_INFO info{};
    // Only the header is needed: its channels and their map.
    SoundFilePtr file = OpenSoundFileHeader(layer.filepath, info);
    const int count = file != nullptr ? info.channels : 0;
    const ChannelInterpretation interpretation = GetChannelInterpretation(layer.filepath);
    source.map = BuildChannelMap(file.get(), count, channelOrder, interpretation);
    file.reset();
    if (count < 1 || !source.map.positional) return false;
    int channelsRead = 0, preHandle = 0;
    if (!ReadSourceRegionChannels(layer.filepath, layer.sourceOffset, layer.sourceDuration, 0.0, 0.0, sampleRate,
                                  source.samples, channelsRead, preHandle) ||
        source.samples.empty())
        return false;
    if (source.samples.size() != source.map.roles.size())
        source.map = BuildChannelMap(nullptr, static_cast<int>(source.samples.size()), channelOrder, kInterpretAuto);
    return true;
}

SourceChannels GatherSource(const Voice& voice, const std::vector<LayerResult>& results, int sampleRate,
                            int channelOrder, std::size_t n, const LayerResult*& result) {
    SourceChannels source;
    result = nullptr;
    if (voice.resultIndex >= 0 && static_cast<std::size_t>(voice.resultIndex) < results.size())
        result = &results[static_cast<std::size_t>(voice.resultIndex)];
    bool read = false;
    if (result != nullptr && result->procMode != kProcModeAlloy && !result->filepath.empty()) {
        read = ReadLayerChannels(*result, voice, sampleRate, channelOrder, source);
        if (read && std::fabs(result->pitchShift) > 0.01f) {
            const double ratio = std::pow(2.0, static_cast<double>(result->pitchShift) / 12.0);
            for (std::vector<float>& channel : source.samples) ResampleSincByRatio(channel, ratio);
        }
    }
    if (!read) {
        source = {};
        source.samples.push_back(voice.samplesL);
        source.map.roles = {ChannelRole::C};
        if (voice.stereo && !voice.samplesR.empty()) {
            source.samples.push_back(voice.samplesR);
            source.map.roles = {ChannelRole::L, ChannelRole::R};
        }
    }
    for (std::vector<float>& channel : source.samples) channel.resize(n, 0.0f);
    return source;
}

// [SECTION] Spatial: gains

// Per source channel, one gain per output channel (W, Y, Z, X for AmbiX).
using GainTable = std::vector<std::vector<float>>;

struct SpatialGains {
    GainTable gains;
    GainTable low;  // the unblended role gains; empty when there was no blend
};

std::vector<float> ToVector(const AmbiXGains& g) { return {g[0], g[1], g[2], g[3]}; }

SpatialGains ComputeGains(const SourceChannels& source, bool simple, const Voice& voice, const OutputLayout& layout,
                          float f) {
    const std::size_t c = source.samples.size();
    const std::size_t outputs = layout.roles.size();
    const float az = voice.azimuth, el = voice.height, w = voice.width;
    const bool blend = f > 0.0f && simple;
    SpatialGains result;
    result.gains.assign(c, std::vector<float>(outputs, 0.0f));
    if (layout.ambisonic) {
        std::vector<AmbiXGains> role(c, AmbiXGains{});
        EncodeAmbiXByRole(static_cast<int>(c), simple, source.map.roles, role);
        for (std::size_t i = 0; i < c; ++i) {
            const std::vector<float> roleGains = ToVector(role[i]);
            result.gains[i] = roleGains;
            result.gains[i].resize(outputs, 0.0f);
            if (!blend) continue;
            const AmbiXGains d = c == 1 ? AmbiXDirectionGains(az, el) : AmbiXDirectionGains(i == 0 ? az + w : az - w, el);
            for (std::size_t j = 0; j < outputs && j < 4; ++j) result.gains[i][j] = f * d[j] + (1.0f - f) * roleGains[j];
        }
        if (blend) {
            result.low.resize(c);
            for (std::size_t i = 0; i < c; ++i) {
                result.low[i] = ToVector(role[i]);
                result.low[i].resize(outputs, 0.0f);
            }
        }
        return result;
    }
    for (std::size_t i = 0; i < c; ++i) {
        const ChannelRole role = i < source.map.roles.size() ? source.map.roles[i] : ChannelRole::None;
        const std::vector<float> roleGains = ChannelRoleGains(role, layout);
        result.gains[i] = roleGains;
        if (!blend) continue;
        result.low.push_back(roleGains);
        const std::vector<float> pan =
            c == 1 ? PanSourceSpatial(az, el, layout) : PanSourceSpatial(i == 0 ? az + w : az - w, el, layout);
        float e0 = 0.0f, e1 = 0.0f;
        for (std::size_t j = 0; j < outputs; ++j) {
            result.gains[i][j] = f * pan[j] + (1.0f - f) * roleGains[j];
            e0 += roleGains[j] * roleGains[j];
            e1 += result.gains[i][j] * result.gains[i][j];
        }
        // Blending moves the sound without changing its total power.
        if (e0 > 1e-9f && e1 > 1e-9f) {
            const float scale = std::sqrt(e0 / e1);
            for (float& g : result.gains[i]) g *= scale;
        }
    }
    return result;
}

// [SECTION] Spatial: mixing

// Adds e(k) × x[k] × g to channel j over the frames inside the range.
void AddScaled(const std::vector<float>& envelope, const float* x, float g, std::int64_t s0, float* out,
               std::int64_t outFrames) {
    if (g == 0.0f) return;
    const std::int64_t first = std::max<std::int64_t>(0, -s0);
    const std::int64_t last = std::min(static_cast<std::int64_t>(envelope.size()), outFrames - s0);
    for (std::int64_t k = first; k < last; ++k) out[s0 + k] += envelope[static_cast<std::size_t>(k)] * x[k] * g;
}

// A second-order Butterworth low-pass, transposed direct form II.
void LowPass250(const std::vector<float>& x, int sampleRate, std::vector<float>& low) {
    const double omega = 2.0 * M_PI * 250.0 / sampleRate;
    const double alpha = std::sin(omega) / std::sqrt(2.0);
    const double cosw = std::cos(omega);
    const double norm = 1.0 + alpha;
    const double b0 = (1.0 - cosw) / 2.0 / norm, b1 = (1.0 - cosw) / norm, b2 = b0;
    const double a1 = -2.0 * cosw / norm, a2 = (1.0 - alpha) / norm;
    double z1 = 0.0, z2 = 0.0;
    low.resize(x.size());
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double in = x[k];
        const double y = b0 * in + z1;
        z1 = b1 * in - a1 * y + z2;
        z2 = b2 * in - a2 * y;
        low[k] = static_cast<float>(y);
    }
}

float SpreadGroupFactor(int group) {
    if (group == 0) return 1.0f;
    if (group == 2) return 0.6f;
    return 0.25f;
}

std::vector<float> SideGains(float az, float el, const OutputLayout& layout) {
    return layout.ambisonic ? ToVector(AmbiXDirectionGains(az, el)) : PanSourceSpatial(az, el, layout);
}

}  // namespace

void MixVoiceSpatial(const Voice& voice, std::size_t index, const PlaybackEngine& engine,
                     const std::vector<LayerResult>& results, const OutputLayout& layout,
                     std::vector<std::vector<float>>& channels, std::int64_t totalFrames, int sampleRate,
                     float gain, double startSeconds, int channelOrder, float spatialBlend, bool extendedSpread) {
    const VoiceEnvelope envelope = RenderVoiceForExport(voice, index, engine, gain, sampleRate, startSeconds);
    if (envelope.gains.empty()) return;
    const std::size_t n = envelope.gains.size();
    const std::int64_t s0 = envelope.startFrame;
    // Nothing of the voice lands in the range: skip the file reads.
    if (s0 >= totalFrames || s0 + static_cast<std::int64_t>(n) <= 0) return;

    const LayerResult* result = nullptr;
    const SourceChannels source = GatherSource(voice, results, sampleRate, channelOrder, n, result);
    const std::size_t c = source.samples.size();
    const bool simple = c == 1 || (c == 2 && (source.map.roles.size() != 2 ||
                                              (source.map.roles[0] == ChannelRole::L &&
                                               source.map.roles[1] == ChannelRole::R)));
    const SpatialGains table = ComputeGains(source, simple, voice, layout, spatialBlend);
    const std::size_t outputs = std::min(layout.roles.size(), channels.size());
    std::int64_t outFrames = totalFrames;
    for (std::size_t j = 0; j < outputs; ++j) outFrames = std::min(outFrames, static_cast<std::int64_t>(channels[j].size()));

    if (!extendedSpread || table.low.empty()) {
        for (std::size_t i = 0; i < c; ++i)
            for (std::size_t j = 0; j < outputs; ++j)
                AddScaled(envelope.gains, source.samples[i].data(), table.gains[i][j], s0, channels[j].data(), outFrames);
        return;
    }

    const float weight = result != nullptr ? std::clamp(result->weight, 0.0f, 1.0f) : 0.5f;
    const float a = 0.5f * (std::isnan(weight) ? 0.5f : weight) * SpreadGroupFactor(voice.group);
    const float direct = std::sqrt(1.0f - 2.0f * a * a);
    const bool sides = a > 0.001f;
    constexpr float kSideAngle = 110.0f * 0.017453292f;
    constexpr float kSideLift = 15.0f * 0.017453292f;
    std::vector<float> gainA, gainB;
    if (sides) {
        gainA = SideGains(voice.azimuth + kSideAngle, voice.height + kSideLift, layout);
        gainB = SideGains(voice.azimuth - kSideAngle, voice.height + kSideLift, layout);
    }
    std::vector<float> low, high, copyA, copyB;
    for (std::size_t i = 0; i < c; ++i) {
        const std::vector<float>& x = source.samples[i];
        LowPass250(x, sampleRate, low);
        high.resize(n);
        for (std::size_t k = 0; k < n; ++k) high[k] = x[k] - low[k];
        for (std::size_t j = 0; j < outputs; ++j) {
            AddScaled(envelope.gains, low.data(), table.low[i][j], s0, channels[j].data(), outFrames);
            AddScaled(envelope.gains, high.data(), direct * table.gains[i][j], s0, channels[j].data(), outFrames);
        }
        if (!sides) continue;
        // The envelope follows the diffusion, so the copies fade with the voice.
        const std::uint32_t k32 = static_cast<std::uint32_t>(i);
        AllpassDiffuser diffuserA(0xDAA66D2Bu + k32 * 0x9E3779B9u);
        AllpassDiffuser diffuserB(0x9D9AF453u - k32 * 0x7A143589u);
        copyA.resize(n);
        copyB.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            copyA[k] = diffuserA.Process(high[k]);
            copyB[k] = diffuserB.Process(high[k]);
        }
        for (std::size_t j = 0; j < outputs; ++j) {
            AddScaled(envelope.gains, copyA.data(), a * gainA[j], s0, channels[j].data(), outFrames);
            AddScaled(envelope.gains, copyB.data(), a * gainB[j], s0, channels[j].data(), outFrames);
        }
    }
}

// [SECTION] Loudness

float LoudnessNormalizeGain(const float* left, const float* right, std::int64_t frames, int sampleRate,
                            float targetLUFS) {
    if (frames <= 0 || left == nullptr) return 1.0f;
    const int measured = static_cast<int>(std::min<std::int64_t>(frames, INT_MAX));
    const float m = MeasureLoudness(left, right, measured, sampleRate);
    if (!(m > -100.0f)) return 1.0f;
    if (!std::isfinite(targetLUFS)) return 1.0f;
    const float d = std::clamp(targetLUFS - m, -30.0f, 30.0f);
    std::printf("[ExportWAV] LUFS normalise: %.1f \u2192 %.1f LUFS (%.1f dB)\n", m, targetLUFS, d);
    std::fflush(stdout);
    return std::pow(10.0f, d / 20.0f);
}

}  // namespace korvel
