#include "dsp/pan.h"

#include <algorithm>
#include <cmath>

namespace korvel {
namespace {

constexpr float kHalfPi = 1.5707964f;
constexpr float kQuarterPi = 0.7853982f;

// p = 1 is fully left, -1 fully right, 0 centre at -3 dB on both sides.
inline void PanPosition(float p, float& toLeft, float& toRight) {
    const float theta = (1.0f - p) * kQuarterPi;
    toLeft = std::cos(theta);
    toRight = std::sin(theta);
}

}  // namespace

void ComputePanGains(float panAngle, float halfWidth, bool stereoSource, float amount,
                     float& leftToLeft, float& leftToRight, float& rightToLeft, float& rightToRight) {
    const float a = std::clamp(amount, 0.0f, 1.0f);
    if (!stereoSource) {
        const float p = std::clamp(a * panAngle / kHalfPi, -1.0f, 1.0f);
        PanPosition(p, leftToLeft, leftToRight);
        rightToLeft = 0.0f;
        rightToRight = 0.0f;
        return;
    }
    // A stereo source never gets narrower than full left to full right.
    const float w = std::max(kHalfPi, (1.0f - a) * kHalfPi + a * halfWidth);
    const float pLeft = std::clamp((w + a * panAngle) / kHalfPi, -1.0f, 1.0f);
    const float pRight = std::clamp((a * panAngle - w) / kHalfPi, -1.0f, 1.0f);
    PanPosition(pLeft, leftToLeft, leftToRight);
    PanPosition(pRight, rightToLeft, rightToRight);
}

}  // namespace korvel
