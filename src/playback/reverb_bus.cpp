// [SECTION] Allpass diffuser
// [SECTION] Reverb bus
// [SECTION] Spread over a layout
#include "playback/reverb_bus.h"

#include <algorithm>
#include <cmath>

#include "dsp/pan.h"
#include "dsp/reverb.h"
#include "playback/playback_engine.h"
#include "playback/voice_mix.h"

namespace korvel {

// [SECTION] Allpass diffuser

AllpassDiffuser::AllpassDiffuser(std::uint32_t seed) {
    constexpr std::uint32_t kBase[kStages] = {43, 67, 97, 131};
    for (int s = 0; s < kStages; ++s) {
        const std::uint32_t length = kBase[s] + 7u * static_cast<std::uint32_t>(s) + ((seed >> (5 * s)) & 31u);
        stages_[static_cast<std::size_t>(s)].line.assign(std::max<std::uint32_t>(length, 8u), 0.0f);
    }
}

// [SECTION] Reverb bus

namespace {

constexpr int kBusBlockFrames = 2048;

// The sends of one voice into sendL/sendR (each `frames` long).
void AddVoiceSend(const PlaybackEngine& engine, const ReverbSettings& settings, const std::array<float, 3>& groupGain,
                  const Voice& voice, std::size_t index, int sampleRate, float startSeconds, std::int64_t frames,
                  float* sendL, float* sendR) {
    if (voice.muted || voice.frameCount < 1) return;
    const int g = VoiceGroupIndex(voice);
    const float send = VoiceReverbSend(voice, settings, g);
    if (!(send >= 0.000001f)) return;
    const float level = VoiceBaseLevel(voice) * groupGain[static_cast<std::size_t>(g)];
    const VoiceFades fades = EngineVoiceFades(engine, index, voice);
    const VoiceCurves curves = PrepareVoiceCurvesOverDuration(voice);
    const bool stereo = VoiceMixesStereo(voice);
    float ll = 0.0f, lr = 0.0f, rl = 0.0f, rr = 0.0f;
    ComputePanGains(voice.azimuth, voice.width, stereo, 0.0f, ll, lr, rl, rr);

    const float start = (voice.startTime - startSeconds) * static_cast<float>(sampleRate);
    if (!std::isfinite(start) || std::fabs(start) > 4.0e18f) return;
    const std::int64_t s0 = static_cast<std::int64_t>(start);
    const std::int64_t usable =
        std::min<std::int64_t>(static_cast<std::int64_t>(voice.samplesL.size()), voice.frameCount);
    const std::int64_t first = std::max<std::int64_t>(0, -s0);
    const std::int64_t last = std::min(usable, frames - s0);
    const float rate = static_cast<float>(sampleRate);
    for (std::int64_t i = first; i < last; ++i) {
        const float t = static_cast<float>(i) / rate;
        const float e = VoiceEnvelopeGain(fades, curves, voice.duration, level, t);
        const float sL = voice.samplesL[static_cast<std::size_t>(i)];
        float oL = sL * ll;
        float oR = sL * lr;
        if (stereo) {
            const float sR = voice.samplesR[static_cast<std::size_t>(i)];
            oL += sR * rl;
            oR += sR * rr;
        }
        sendL[s0 + i] += e * oL * send;
        sendR[s0 + i] += e * oR * send;
    }
}

}  // namespace

bool RenderReverbBusOffline(const PlaybackEngine& engine, const ReverbSettings& settings, int sampleRate,
                            double seconds, double startSeconds, std::vector<float>& outL,
                            std::vector<float>& outR) {
    return RenderReverbBusOffline(engine, settings, engine.groupGain, sampleRate, seconds, startSeconds, outL, outR);
}

bool RenderReverbBusOffline(const PlaybackEngine& engine, const ReverbSettings& settings,
                            const std::array<float, 3>& groupGain, int sampleRate, double seconds,
                            double startSeconds, std::vector<float>& outL, std::vector<float>& outR) {
    const float product = static_cast<float>(sampleRate) * static_cast<float>(seconds);
    if (!(product >= 1.0f) || !engine.ready.load(std::memory_order_acquire)) return false;
    // Checked before anything is allocated: a damaged duration must not ask
    // for gigabytes that no writer would accept.
    if (product > static_cast<float>(static_cast<std::int64_t>(sampleRate) * 3600)) return false;
    const std::int64_t frames = static_cast<std::int64_t>(product);

    std::vector<float> sendL(static_cast<std::size_t>(frames), 0.0f);
    std::vector<float> sendR(static_cast<std::size_t>(frames), 0.0f);
    const float start = static_cast<float>(startSeconds);
    for (std::size_t k = 0; k < engine.voices.size(); ++k)
        AddVoiceSend(engine, settings, groupGain, engine.voices[k], k, sampleRate, start, frames, sendL.data(),
                     sendR.data());

    outL.assign(static_cast<std::size_t>(frames), 0.0f);
    outR.assign(static_cast<std::size_t>(frames), 0.0f);
    // A private state for this render only, on the stack: the export thread
    // is started with room for it, and nothing of the live reverb changes.
    ReverbState state;
    ResetReverb(state, sampleRate);
    ConfigureReverb(state, settings);
    alignas(32) float inBlockL[kBusBlockFrames];
    alignas(32) float inBlockR[kBusBlockFrames];
    alignas(32) float outBlockL[kBusBlockFrames];
    alignas(32) float outBlockR[kBusBlockFrames];
    for (std::int64_t offset = 0; offset < frames; offset += kBusBlockFrames) {
        const int n = static_cast<int>(std::min<std::int64_t>(kBusBlockFrames, frames - offset));
        std::copy_n(sendL.data() + offset, n, inBlockL);
        std::copy_n(sendR.data() + offset, n, inBlockR);
        ProcessReverb(state, inBlockL, inBlockR, outBlockL, outBlockR, n);
        std::copy_n(outBlockL, n, outL.data() + offset);
        std::copy_n(outBlockR, n, outR.data() + offset);
    }
    return true;
}

// [SECTION] Spread over a layout

namespace {

constexpr float kDegree = 0.017453292f;

struct SpreadRole {
    float azimuth = 0.0f;
    float weight = 0.0f;  // 0: the channel receives nothing
};

SpreadRole SpreadOf(ChannelRole role) {
    switch (role) {
        case ChannelRole::L: return {30.0f * kDegree, 0.55f};
        case ChannelRole::R: return {-30.0f * kDegree, 0.55f};
        case ChannelRole::C: return {0.0f, 0.4f};
        case ChannelRole::Ls: return {110.0f * kDegree, 0.9f};
        case ChannelRole::Rs: return {-110.0f * kDegree, 0.9f};
        case ChannelRole::Lrs: return {150.0f * kDegree, 0.8f};
        case ChannelRole::Rrs: return {-150.0f * kDegree, 0.8f};
        case ChannelRole::Ltf: return {45.0f * kDegree, 0.4f};
        case ChannelRole::Rtf: return {-45.0f * kDegree, 0.4f};
        case ChannelRole::Ltr: return {135.0f * kDegree, 0.4f};
        case ChannelRole::Rtr: return {-135.0f * kDegree, 0.4f};
        default: return {};
    }
}

void SpreadAmbiX(const float* inL, const float* inR, std::int64_t frames, std::vector<std::vector<float>>& channels) {
    struct Source {
        float azimuth;
        bool fromLeft;
        std::uint32_t seed;
    };
    constexpr Source kSources[4] = {{55.0f * kDegree, true, 0x5384540Fu},
                                    {-55.0f * kDegree, false, 0xF1BBCDC8u},
                                    {125.0f * kDegree, true, 0x8FF34781u},
                                    {-125.0f * kDegree, false, 0x2E2AC13Au}};
    std::vector<AllpassDiffuser> diffusers;
    std::array<AmbiXGains, 4> gains{};
    for (int k = 0; k < 4; ++k) {
        diffusers.emplace_back(kSources[k].seed);
        gains[static_cast<std::size_t>(k)] = AmbiXDirectionGains(kSources[k].azimuth, 15.0f * kDegree);
    }
    float* w = channels[0].data();
    float* y = channels[1].data();
    float* z = channels[2].data();
    float* x = channels[3].data();
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int k = 0; k < 4; ++k) {
            const float d = 0.5f * diffusers[static_cast<std::size_t>(k)].Process(kSources[k].fromLeft ? inL[i] : inR[i]);
            const AmbiXGains& g = gains[static_cast<std::size_t>(k)];
            w[i] += d;
            y[i] += d * g[1];
            z[i] += d * g[2];
            x[i] += d * g[3];
        }
    }
}

}  // namespace

void SpreadReverbToLayout(const std::vector<float>& returnL, const std::vector<float>& returnR,
                          std::int64_t frames, const OutputLayout& layout,
                          std::vector<std::vector<float>>& channels) {
    frames = std::min({frames, static_cast<std::int64_t>(returnL.size()), static_cast<std::int64_t>(returnR.size())});
    for (const std::vector<float>& channel : channels)
        frames = std::min(frames, static_cast<std::int64_t>(channel.size()));
    if (frames < 1) return;
    if (layout.ambisonic) {
        if (channels.size() >= 4) SpreadAmbiX(returnL.data(), returnR.data(), frames, channels);
        return;
    }

    const std::size_t count = std::min(layout.roles.size(), channels.size());
    std::vector<SpreadRole> spread(count);
    float sumL = 0.0f, sumR = 0.0f;
    for (std::size_t j = 0; j < count; ++j) {
        spread[j] = SpreadOf(layout.roles[j]);
        (spread[j].azimuth >= 0.0f ? sumL : sumR) += spread[j].weight * spread[j].weight;
    }
    const float normL = sumL > 1e-9f ? 1.0f / std::sqrt(sumL) : 0.0f;
    const float normR = sumR > 1e-9f ? 1.0f / std::sqrt(sumR) : 0.0f;
    for (std::size_t j = 0; j < count; ++j) {
        if (!(spread[j].weight > 0.0f)) continue;
        const bool left = spread[j].azimuth >= 0.0f;
        const float* in = left ? returnL.data() : returnR.data();
        const float scale = spread[j].weight * (left ? normL : normR);
        AllpassDiffuser diffuser(static_cast<std::uint32_t>(j + 1) * 0x9E3779B9u);
        float* out = channels[j].data();
        // Each channel's diffuser sees only its own frames in order, so a
        // channel at a time gives the same samples as a frame at a time.
        for (std::int64_t i = 0; i < frames; ++i) out[i] += diffuser.Process(in[i]) * scale;
    }
}

}  // namespace korvel
