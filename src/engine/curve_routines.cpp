#include "engine/curve_routines.h"

namespace korvel {

// Filled in with the curve routines; until then layers keep their defaults.
FadeLengths CurveFadeLengths(const Event& /*event*/, float /*from*/, float /*to*/, float /*threshold*/,
                             float /*length*/) {
    return {};
}

void BuildIntensityGain(const Event& /*event*/, LayerResult& /*layer*/) {}

}  // namespace korvel
