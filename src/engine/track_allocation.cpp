#include "engine/track_allocation.h"

namespace korvel {

// Not built yet: lanes and lane counts stay as they are.
void AllocateTracks(Project& /*project*/) {}
void UpdateGroupLaneCounts(TrackLayout& /*layout*/, const std::vector<LayerResult>& /*results*/) {}

}  // namespace korvel
