#pragma once
// How events get their weight and intensity curves, and how they are named:
// the title the timeline shows (Project::EventTitle), the plain label, and
// the name proposed when an event becomes a recipe or a bounce
// (Event::AutoName); Event::EnsureDefaultIntensityCurve is defined here too.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "project/event.h"
#include "project/project.h"

namespace korvel {

// Raised cosine from lo up to hi at the peak position p (0..1) and back to
// lo; p at either end gives a single falling or rising half.
void ShapeCurve(CurvePoints& curve, float p, float lo, float hi);

// Every point set to `value`.
void FillCurve(CurvePoints& curve, float value);

// About 30 % of the points are spikes between a and b over a floor of a; the
// same seed always gives the same curve.
void RandomSpikeCurve(CurvePoints& curve, float a, float b, uint32_t seed);

// Fills both curves of a new event of `kind` from its weight centre and
// spread; `syncFraction` (0..1) places the Bloom's peak.
void BuildShapeCurves(int32_t kind, float weightCenter, float spread, CurvePoints& weight,
                      CurvePoints& intensity, float syncFraction);

// The user shape's name when `userShapeIdx` names one, else the kind's name.
const char* EventDisplayLabel(const Project& project, const Event& event);

}  // namespace korvel
