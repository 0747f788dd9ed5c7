#pragma once
// The layer builders of each event kind, called by BuildEvents after it has
// planned the event, with the random variations they share.
#include <vector>

#include "engine/build_events.h"

namespace korvel {

// One draw when pitchVariation >= 0.001: the tone moved by at most
// ±15 % of the range at full variation, limited to 0..1.
float JitterTone(float weight, float pitchVariation, BuildRandom& random);

// One draw when pitchVariation >= 0.001: detunes the layer by up to ±24
// semitones at full variation, keeping its sync point in place.
void ApplyPitchVariation(LayerResult& layer, float pitchVariation, BuildRandom& random);

// [SECTION] Steps the builders share

// Seconds of the longest event whose counts are derived from its length: a
// stored duration of 1e30 must neither overflow a count nor loop forever.
inline constexpr double kMaxCountedSeconds = 86400.0;

// What one layer asks of the pool: the tone (already jittered), length,
// kind and intensity of the first two requests of the attempt ladder.
struct LayerRequest {
    float target = 0.5f;
    float duration = 0.0f;
    std::int32_t kind = 0;
    float intensity = 0.0f;
    const BandWeights* profile = nullptr;
    float meanNoisiness = -1.0f;
    std::int32_t layersSoFar = 0;
};

// Looser and looser requests until one leaves a candidate (at most five):
// the event's keywords at the tone, then 0.15 above or below it, then any
// file at a middle tone, then that without files the event already plays
// unless they are long enough for another stretch, then anything. Scores
// carry the repeat penalty; none is 0 or less.
std::vector<ScoredCandidate> RunAttemptLadder(const BuildContext& build, const EventPlan& plan,
                                              const LayerRequest& request, const std::vector<UsedSound>& usedThisEvent);

// The event's own sounds first, then the build's.
std::vector<UsedSound> JoinUsed(const std::vector<UsedSound>& usedThisEvent, const std::vector<UsedSound>& usedInBuild);

// Records a drawn sound in the event's and the build's used lists.
void NoteUse(BuildContext& build, std::vector<UsedSound>& usedThisEvent, const LibraryFile& file, float offset,
             float length, float eventStart);

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
