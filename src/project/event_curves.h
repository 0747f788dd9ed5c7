#pragma once
// How events get their weight and intensity curves, and how they are named:
// the title the timeline shows, the plain label, and the name proposed when
// an event becomes a recipe or a bounce.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "project/event.h"
#include "project/project.h"

namespace korvel {

// Raised cosine from lo up to hi at the peak position p (0..1) and back to
// lo; p at either end gives a single falling or rising half.
void ShapeCurve(CurvePoints& curve, float p, float lo, float hi);

// About 30 % of the points are spikes between a and b over a floor of a; the
// same seed always gives the same curve.
void RandomSpikeCurve(CurvePoints& curve, float a, float b, uint32_t seed);

// Fills both curves of a new event of `kind` from its weight centre and
// spread; `syncFraction` (0..1) places the Bloom's peak.
void BuildShapeCurves(int32_t kind, float weightCenter, float spread, CurvePoints& weight,
                      CurvePoints& intensity, float syncFraction);

// Keeps an automatic intensity curve on the sync point after timing edits;
// user shapes and drawn curves (intensityMode != 0) are left alone.
void EnsureDefaultIntensityCurve(Event& event);

// The user shape's name when `userShapeIdx` names one, else the kind's name.
const char* EventDisplayLabel(const Project& project, const Event& event);

// Up to three keyword words with capitals (signed '+'/'-' words skipped), or
// the display label when no word remains. UI thread only: the text lives in
// one of four rotating buffers and stays valid until four more titles.
const char* EventTitle(const Project& project, const Event& event);

// True when a recipe already has this name.
using RecipeNameTaken = std::function<bool(std::string_view)>;

// Proposes a name such as "Body Spot" or "Rain Forest Bed", made unique
// against the recipe names with " 2" to " 99"; writes at most size - 1
// characters.
void AutoNameEvent(const Event& event, char* out, std::size_t size, const RecipeNameTaken& recipeNameTaken);

}  // namespace korvel
