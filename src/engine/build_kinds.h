#pragma once
// The layer builders of each event kind, called by BuildEvents after it has
// planned the event, with the random variations they share.
#include "engine/build_events.h"

namespace korvel {

// One draw when pitchVariation >= 0.001: the tone moved by at most
// ±15 % of the range at full variation, limited to 0..1.
float JitterTone(float weight, float pitchVariation, BuildRandom& random);

// One draw when pitchVariation >= 0.001: detunes the layer by up to ±24
// semitones at full variation, keeping its sync point in place.
void ApplyPitchVariation(LayerResult& layer, float pitchVariation, BuildRandom& random);

// Spot without alloy; Scatter with or without.
void BuildSpotLayers(BuildContext& build, EventPlan& plan);
void BuildScatterLayers(BuildContext& build, EventPlan& plan);
// Bloom and Contour without alloy.
void BuildWashLayers(BuildContext& build, EventPlan& plan);
// Fill with or without alloy.
void BuildFillLayers(BuildContext& build, EventPlan& plan);
// Spot, Bloom and Contour with alloy.
void BuildAlloyLayers(BuildContext& build, EventPlan& plan);

}  // namespace korvel
