#include "ui/timeline/curve_brush.h"

#include <algorithm>
#include <cmath>

namespace korvel {

std::int32_t PaintCurveStroke(CurvePoints& curve, float x, float value, float prevX, float prevValue,
                              std::int32_t& minIndex, std::int32_t& maxIndex) {
    const bool fromPrevious = prevX >= 0.0f;
    const int count = fromPrevious ? std::max(1, static_cast<int>(std::fabs(x - prevX) * 256.0f * 2.0f)) : 1;
    for (int k = 1; k <= count; ++k) {
        float xk = x;
        float vk = value;
        if (fromPrevious && count > 1) {
            const float f = static_cast<float>(k) / static_cast<float>(count);
            xk = prevX + (x - prevX) * f;
            vk = prevValue + (value - prevValue) * f;
        }
        // Points outside 0..1 are held at the ends: the centre may lie past
        // the last point (x = 1 gives 256), the touched range never does.
        const int centre = static_cast<int>(std::clamp(xk, -1.0f, 2.0f) * 256.0f);
        const int lo = std::max(0, centre - 3);
        const int hi = std::min(kCurvePoints - 1, centre + 3);
        for (int j = lo; j <= hi; ++j) {
            const float d = static_cast<float>(std::abs(j - centre)) / 3.0f;
            const float w = 1.0f - d * d;
            float& point = curve[static_cast<std::size_t>(j)];
            point = (1.0f - w) * point + w * vk;
        }
        if (lo <= hi) {
            minIndex = std::min(minIndex, lo);
            maxIndex = std::max(maxIndex, hi);
        }
    }
    return maxIndex;
}

void SmoothCurveRange(CurvePoints& curve, std::int32_t first, std::int32_t last) {
    const int from = std::max(first, 0);
    const int to = std::min(last, kCurvePoints - 1);
    if (from > to) return;
    float weights[7];
    float total = 0.0f;
    for (int o = -3; o <= 3; ++o) {
        const float r = static_cast<float>(o) / 3.0f;
        weights[o + 3] = std::exp(-2.0f * r * r);
        total += weights[o + 3];
    }
    for (int pass = 0; pass < 2; ++pass) {
        const CurvePoints copy = curve;
        for (int i = from; i <= to; ++i) {
            float sum = 0.0f;
            for (int o = -3; o <= 3; ++o) {
                const int j = std::clamp(i + o, 0, kCurvePoints - 1);
                sum += weights[o + 3] * copy[static_cast<std::size_t>(j)];
            }
            curve[static_cast<std::size_t>(i)] = sum / total;
        }
    }
}

}  // namespace korvel
