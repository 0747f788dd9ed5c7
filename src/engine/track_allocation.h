#pragma once
// Lanes for every layer within its track group's budget, and the global
// track numbers they give.
//
// A layer no lane can take is dropped: its groupTrack and track become −1.
// The drop mark is kept apart from `muted`, which carries only the
// designer's and silence protection's mutes; whatever decides whether a
// layer sounds reads both (IsLayerSilenced, build_routines.h).
#include <cstdint>
#include <vector>

#include "project/layer.h"
#include "project/project.h"

namespace korvel {

// A layer may start this long before the previous layer on its lane ends.
inline constexpr float kLaneTolerance = 0.001f;

// One group's lane dealing in progress.
struct LaneAllocator {
    Project* project = nullptr;
    std::vector<float> laneEnds;  // latest end of the layers on each open lane
    std::int32_t budget = kUnbudgetedTracks;
    std::int32_t laneCount = 0;  // lanes in use so far
};

// The layers of one event within one group, in result order.
struct LaneEventEntries {
    std::int32_t eventIndex = -1;  // −1 for layers without a valid event
    std::vector<std::int32_t> entries;  // result indices
};

// Deals all lanes of groups 0, 1 and 2 anew, then refreshes the lane counts
// and every layer's global track. Leaves `muted` alone.
void AllocateTracks(Project& project);

// Places one layer: the first lane it fits, else a new lane under the budget
// (always for a Bed's layer), else dropped. True when placed; then
// groupTrack is the lane and track −1.
bool AllocateLane(LaneAllocator& allocator, std::int32_t resultIndex);

// The first global track of a group; groups stack as FX A, FX B, BG, and a
// group with no lanes in use takes no tracks. Any other group: all three.
std::int32_t TrackBase(const TrackLayout& layout, std::int32_t group);

// Each group's usedLanes = 1 + the largest lane its layers hold, counting
// only lanes that can exist (0 ≤ groupTrack < the group's layer count): a
// damaged stored lane is re-dealt by the next allocation, not counted.
void UpdateGroupLaneCounts(TrackLayout& layout, const std::vector<LayerResult>& results);

// The event orderings; each returns whether `a` goes before `b`.
// Budget survival: hero events first, then more layers.
bool CompareEventsForBudget(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b);
// Budget placement: earlier earliest start among layers not dropped.
bool CompareEntriesByFirstStart(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b);
// The build's dealing: hero first, more layers, then earlier earliest start.
bool CompareEventsForLanes(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b);
// The build's placement: earlier earliest start among sounding layers.
bool CompareEventsByFirstStart(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b);

// Orders one event's entries loudest first: larger layerGain when the two
// differ by more than 0.001, else the earlier start.
void SortEntriesLoudestFirst(const Project& project, std::vector<std::int32_t>& entries);

// Groups a list of result indices by event, in first-seen order.
std::vector<LaneEventEntries> GroupEntriesByEvent(const Project& project, const std::vector<std::int32_t>& entries);

// Deals one group's layers in budget mode: survival turns, then placement
// in time order. Shared by the allocation and the build's finish; the
// allocator's lanes are whatever the caller prepared.
void DealBudgetedGroup(LaneAllocator& allocator, std::vector<LaneEventEntries>& events,
                       bool (*survivalOrder)(const Project&, const LaneEventEntries&, const LaneEventEntries&),
                       bool (*placementOrder)(const Project&, const LaneEventEntries&, const LaneEventEntries&),
                       bool skipSilencedInPlacement);

}  // namespace korvel
