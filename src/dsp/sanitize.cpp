#include "dsp/sanitize.h"

#include <cmath>

namespace korvel {

void SanitizeSamples(float* samples, int count) {
    for (int i = 0; i < count; ++i) {
        const float x = samples[i];
        if (!std::isfinite(x)) samples[i] = 0.0f;
        else if (x > 1.0f) samples[i] = 1.0f;
        else if (x < -1.0f) samples[i] = -1.0f;
    }
}

}  // namespace korvel
