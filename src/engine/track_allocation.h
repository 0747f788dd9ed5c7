#pragma once
// Lanes for every layer within its track group's budget, and the global
// track numbers they give.
#include <vector>

#include "project/layer.h"

namespace korvel {

struct Project;
struct TrackLayout;

void AllocateTracks(Project& project);
// Each group's usedLanes from the lanes its layers hold.
void UpdateGroupLaneCounts(TrackLayout& layout, const std::vector<LayerResult>& results);

}  // namespace korvel
