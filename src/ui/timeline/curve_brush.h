#pragma once
// Drawing event curves by hand: the brush that paints a pointer stroke into
// a 256-point curve and the smoothing of the touched range when a stroke
// ends. Shared by the timeline's curve lanes and the inspector's editor.
#include <cstdint>

#include "project/event.h"

namespace korvel {

// Paints the sample (x, value) into `curve`, in steps from the previous
// sample (prevX < 0: none) so a fast stroke leaves no gaps. x is a fraction
// 0..1 of the curve. Widens [minIndex, maxIndex] to the touched points and
// returns the new maxIndex.
std::int32_t PaintCurveStroke(CurvePoints& curve, float x, float value, float prevX, float prevValue,
                              std::int32_t& minIndex, std::int32_t& maxIndex);

// Two passes of a 7-point Gaussian mean over points first..last (clamped to
// the curve; neighbours past the ends repeat the end points).
void SmoothCurveRange(CurvePoints& curve, std::int32_t first, std::int32_t last);

}  // namespace korvel
