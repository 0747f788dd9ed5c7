#include "dsp/limiter.h"

#include <cmath>

namespace korvel {
namespace {

constexpr float kSoftClipKnee = 0.84f;
constexpr float kSoftClipRange = 0.051f;
// Envelopes this small are denormal territory and carry no information.
constexpr float kEnvelopeFloor = 1e-15f;

inline float SoftClip(float x) {
    const float magnitude = std::fabs(x);
    if (magnitude <= kSoftClipKnee) return x;
    const float bent = kSoftClipKnee + kSoftClipRange * std::tanh(10.0f * (magnitude - kSoftClipKnee));
    return x < 0.0f ? -bent : bent;
}

inline float FollowEnvelope(const LimiterSettings& settings, float envelope, float peak) {
    const float coefficient = envelope < peak ? settings.attack : settings.release;
    envelope += (peak - envelope) * coefficient;
    return envelope < kEnvelopeFloor ? 0.0f : envelope;
}

inline float GainFor(const LimiterSettings& settings, float envelope) {
    return envelope > settings.threshold ? settings.threshold / envelope : 1.0f;
}

}  // namespace

void PrepareLimiterSettings(LimiterSettings& settings, int sampleRate) {
    if (sampleRate < 1) {
        settings.attack = 0.0f;
        settings.release = 0.0f;
        return;
    }
    const float rate = static_cast<float>(sampleRate);
    settings.attack = 1.0f - std::exp(-1.0f / (0.002f * rate));
    settings.release = 1.0f - std::exp(-1.0f / (0.2f * rate));
}

void LimitStereoRunning(const LimiterSettings& settings, float& envelope, float* left, float* right,
                        int64_t frames) {
    if (!std::isfinite(envelope)) envelope = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        const float peak = std::fmax(std::fabs(left[i]), std::fabs(right[i]));
        envelope = FollowEnvelope(settings, envelope, peak);
        const float gain = GainFor(settings, envelope);
        left[i] = SoftClip(left[i] * gain);
        right[i] = SoftClip(right[i] * gain);
    }
}

void LimitStereo(const LimiterSettings& settings, float* left, float* right, int64_t frames) {
    float envelope = 0.0f;
    LimitStereoRunning(settings, envelope, left, right, frames);
}

void LimitChannels(const LimiterSettings& settings, std::vector<std::vector<float>>& channels,
                   int64_t frames) {
    if (channels.empty()) return;
    float envelope = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float peak = 0.0f;
        for (const auto& channel : channels) peak = std::fmax(peak, std::fabs(channel[i]));
        envelope = FollowEnvelope(settings, envelope, peak);
        const float gain = GainFor(settings, envelope);
        for (auto& channel : channels) channel[i] = SoftClip(channel[i] * gain);
    }
}

}  // namespace korvel
