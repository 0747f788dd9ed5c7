#include "engine/build_kinds.h"

#include <algorithm>
#include <cmath>

namespace korvel {

float JitterTone(float weight, float pitchVariation, BuildRandom& random) {
    if (pitchVariation < 0.001f) return weight;
    const float u = random.Next();
    return std::clamp(weight + (u - 0.5f) * 2.0f * 0.15f * pitchVariation, 0.0f, 1.0f);
}

void ApplyPitchVariation(LayerResult& layer, float pitchVariation, BuildRandom& random) {
    if (pitchVariation < 0.001f) return;
    const float u = random.Next();
    const float semitones = (2.0f * u - 1.0f) * pitchVariation * 24.0f;
    layer.pitchVarShift = semitones;
    layer.pitchShift += semitones;
    const float ratio = std::pow(2.0f, semitones / 12.0f);
    if (std::fabs(ratio - 1.0f) < 0.001f) return;
    layer.sourceDuration *= ratio;
    const float offset = layer.sourceOffset - layer.audioSyncOffset * (ratio - 1.0f);
    if (offset >= 0.0f) {
        layer.sourceOffset = offset;
        return;
    }
    // The file cannot start earlier: move the layer instead so that its sync
    // point still lands where it did.
    const float sync = (layer.audioSyncOffset + layer.sourceOffset) / ratio;
    layer.sourceOffset = 0.0f;
    layer.startTime += layer.audioSyncOffset - sync;
    layer.audioSyncOffset = sync;
}

// The Spot and Scatter builders come with the region choice they need.
void BuildSpotLayers(BuildContext& /*build*/, EventPlan& /*plan*/) {}
void BuildScatterLayers(BuildContext& /*build*/, EventPlan& /*plan*/) {}

}  // namespace korvel
