#pragma once
// Fill layers: long looped beds, each tuned to a tone, that together cover
// the event's weight curve.
#include <cstdint>
#include <vector>

#include "engine/candidate_pool.h"
#include "project/event.h"
#include "project/layer.h"

namespace korvel {

// Picks among the best eight of `candidates` (sorted best first) with a
// seed of its own from the project's draw counter (counted up), the clock
// and `perLayer`; never touches the build's generator.
std::size_t FillDraw(const std::vector<ScoredCandidate>& candidates, std::int32_t& drawCounter, std::uint32_t perLayer);

// The layer's 128-point fillGain: near 1 where the event's weight passes
// its tone, lifted at the outer tones, smoothed over the event.
void BuildFillGain(const Event& event, float tone, float gainWidth, LayerResult& layer);

}  // namespace korvel
