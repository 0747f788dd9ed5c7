#pragma once
// Peak limiters that end the mixdown and the bounce: an envelope follower
// with 2 ms attack and 200 ms release, gain reduction above the threshold
// and a soft clip above 0.84 so that no output exceeds 0.891.
#include <cstdint>
#include <vector>

namespace korvel {

// Owned by the playback engine. The coefficients stay 0 until the engine
// prepares its voices for a sample rate (PrepareLimiterSettings).
struct LimiterSettings {
    float threshold = 0.85f;  // linear
    float attack = 0.0f;      // one-pole coefficient, 2 ms
    float release = 0.0f;     // one-pole coefficient, 200 ms
};

// Sets the attack and release coefficients for `sampleRate`; the threshold
// is left as it is. A rate below 1 leaves both coefficients 0.
void PrepareLimiterSettings(LimiterSettings& settings, int sampleRate);

// In place, carrying `envelope` from one call to the next (the live mix's
// blocks). A non-finite envelope starts again from 0.
void LimitStereoRunning(const LimiterSettings& settings, float& envelope, float* left, float* right,
                        int64_t frames);

// In place. The envelope starts at 0 on every call.
void LimitStereo(const LimiterSettings& settings, float* left, float* right, int64_t frames);

// In place, any number of channels; every vector holds at least `frames`
// samples. No channels: nothing happens.
void LimitChannels(const LimiterSettings& settings, std::vector<std::vector<float>>& channels,
                   int64_t frames);

}  // namespace korvel
