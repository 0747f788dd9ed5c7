#include "dsp/eq.h"

#include <cmath>

namespace korvel {

void ApplyFiveBandEq(float* samples, int frames, int sampleRate, const float gains[5]) {
    bool flat = true;
    for (int b = 0; b < 5; ++b) flat = flat && std::fabs(gains[b] - 1.0f) <= 0.01f;
    if (flat || frames <= 0 || sampleRate < 1) return;

    // 2 pi times the corners 200, 800, 3,000 and 8,000 Hz.
    constexpr float kAngular[4] = {1256.636f, 5026.544f, 18849.541f, 50265.44f};
    const float rate = static_cast<float>(sampleRate);
    float step[4];
    for (int k = 0; k < 4; ++k) step[k] = 1.0f - std::exp(-kAngular[k] / rate);

    // Each band is the difference of two neighbouring low-passes, so with
    // every gain at 1 the sum is the input again.
    float s[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < frames; ++i) {
        const float x = samples[i];
        for (int k = 0; k < 4; ++k) s[k] += (x - s[k]) * step[k];
        samples[i] = s[0] * gains[0] + (s[1] - s[0]) * gains[1] + (s[2] - s[1]) * gains[2] +
                     (s[3] - s[2]) * gains[3] + (x - s[3]) * gains[4];
    }
}

}  // namespace korvel
