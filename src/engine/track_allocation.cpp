// [SECTION] Helpers
// [SECTION] Placing one layer
// [SECTION] Event orderings
// [SECTION] Budgeted dealing
// [SECTION] Whole allocation and track numbers
#include "engine/track_allocation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <unordered_map>

#include "engine/build_routines.h"

namespace korvel {

// [SECTION] Helpers

namespace {

const Event* EventOf(const Project& project, std::int32_t eventIndex) {
    if (eventIndex < 0 || static_cast<std::size_t>(eventIndex) >= project.events.size()) return nullptr;
    return &project.events[static_cast<std::size_t>(eventIndex)];
}

bool IsHero(const Project& project, std::int32_t eventIndex) {
    const Event* event = EventOf(project, eventIndex);
    return event && event->hero;
}

const LayerResult& Layer(const Project& project, std::int32_t index) {
    return project.results[static_cast<std::size_t>(index)];
}

LayerResult& Layer(Project& project, std::int32_t index) { return project.results[static_cast<std::size_t>(index)]; }

constexpr float kNoStart = 1e30f;

template <typename Counts>
float EarliestStart(const Project& project, const LaneEventEntries& e, Counts counts) {
    float earliest = kNoStart;
    for (std::int32_t i : e.entries) {
        const LayerResult& layer = Layer(project, i);
        if (counts(layer)) earliest = std::min(earliest, layer.startTime);
    }
    return earliest;
}

}  // namespace

// [SECTION] Placing one layer

bool AllocateLane(LaneAllocator& allocator, std::int32_t resultIndex) {
    LayerResult& layer = Layer(*allocator.project, resultIndex);
    const float start = layer.startTime;
    const float end = layer.startTime + layer.duration;
    std::int32_t lane = -1;
    for (std::size_t k = 0; k < allocator.laneEnds.size(); ++k) {
        if (allocator.laneEnds[k] <= start + kLaneTolerance) {
            lane = static_cast<std::int32_t>(k);
            break;
        }
    }
    if (lane < 0) {
        const Event* event = EventOf(*allocator.project, layer.eventIdx);
        const bool bed = event && IsKind(event->shape, EventKind::Bed);
        if (static_cast<std::int64_t>(allocator.laneEnds.size()) < allocator.budget || bed) {
            lane = static_cast<std::int32_t>(allocator.laneEnds.size());
            allocator.laneEnds.push_back(end);
        }
    }
    layer.track = -1;
    if (lane < 0) {
        layer.groupTrack = -1;
        return false;
    }
    float& laneEnd = allocator.laneEnds[static_cast<std::size_t>(lane)];
    laneEnd = std::max(laneEnd, end);
    layer.groupTrack = lane;
    allocator.laneCount = std::max(allocator.laneCount, lane + 1);
    return true;
}

// [SECTION] Event orderings

bool CompareEventsForBudget(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b) {
    const bool heroA = IsHero(project, a.eventIndex), heroB = IsHero(project, b.eventIndex);
    if (heroA != heroB) return heroA;
    return a.entries.size() > b.entries.size();
}

bool CompareEntriesByFirstStart(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b) {
    auto notDropped = [](const LayerResult& layer) { return layer.groupTrack >= 0; };
    return EarliestStart(project, a, notDropped) < EarliestStart(project, b, notDropped);
}

bool CompareEventsForLanes(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b) {
    const bool heroA = IsHero(project, a.eventIndex), heroB = IsHero(project, b.eventIndex);
    if (heroA != heroB) return heroA;
    if (a.entries.size() != b.entries.size()) return a.entries.size() > b.entries.size();
    auto all = [](const LayerResult&) { return true; };
    return EarliestStart(project, a, all) < EarliestStart(project, b, all);
}

bool CompareEventsByFirstStart(const Project& project, const LaneEventEntries& a, const LaneEventEntries& b) {
    auto sounding = [](const LayerResult& layer) { return !IsLayerSilenced(layer); };
    return EarliestStart(project, a, sounding) < EarliestStart(project, b, sounding);
}

void SortEntriesLoudestFirst(const Project& project, std::vector<std::int32_t>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [&](std::int32_t a, std::int32_t b) {
        const LayerResult& la = Layer(project, a);
        const LayerResult& lb = Layer(project, b);
        if (std::abs(la.layerGain - lb.layerGain) > 0.001f) return la.layerGain > lb.layerGain;
        return la.startTime < lb.startTime;
    });
}

std::vector<LaneEventEntries> GroupEntriesByEvent(const Project& project, const std::vector<std::int32_t>& entries) {
    std::vector<LaneEventEntries> events;
    std::unordered_map<std::int32_t, std::size_t> slot;
    for (std::int32_t i : entries) {
        std::int32_t key = Layer(project, i).eventIdx;
        if (!EventOf(project, key)) key = -1;
        const auto [it, added] = slot.try_emplace(key, events.size());
        if (added) events.push_back({key, {}});
        events[it->second].entries.push_back(i);
    }
    return events;
}

// [SECTION] Budgeted dealing

void DealBudgetedGroup(LaneAllocator& allocator, std::vector<LaneEventEntries>& events,
                       bool (*survivalOrder)(const Project&, const LaneEventEntries&, const LaneEventEntries&),
                       bool (*placementOrder)(const Project&, const LaneEventEntries&, const LaneEventEntries&),
                       bool skipSilencedInPlacement) {
    const Project& project = *allocator.project;
    std::stable_sort(events.begin(), events.end(),
                     [&](const LaneEventEntries& a, const LaneEventEntries& b) { return survivalOrder(project, a, b); });
    std::size_t turns = 0;
    for (LaneEventEntries& e : events) {
        SortEntriesLoudestFirst(project, e.entries);
        turns = std::max(turns, e.entries.size());
    }
    // Survival: every event's loudest layer first, then every second one...
    for (std::size_t turn = 0; turn < turns; ++turn) {
        for (const LaneEventEntries& e : events) {
            if (turn < e.entries.size()) AllocateLane(allocator, e.entries[turn]);
        }
    }
    // Placement: the survivors packed again in time order.
    allocator.laneEnds.clear();
    allocator.laneCount = 0;
    std::stable_sort(events.begin(), events.end(),
                     [&](const LaneEventEntries& a, const LaneEventEntries& b) { return placementOrder(project, a, b); });
    for (const LaneEventEntries& e : events) {
        for (std::int32_t i : e.entries) {
            LayerResult& layer = Layer(*allocator.project, i);
            if (skipSilencedInPlacement ? IsLayerSilenced(layer) : layer.groupTrack < 0) continue;
            layer.groupTrack = -1;
            layer.track = -1;
            AllocateLane(allocator, i);
        }
    }
}

// [SECTION] Whole allocation and track numbers

void AllocateTracks(Project& project) {
    TrackLayout& layout = project.trackLayout;
    for (std::int32_t g = 0; g < kTrackGroupCount; ++g) {
        std::vector<std::int32_t> entries;
        for (std::size_t i = 0; i < project.results.size(); ++i) {
            if (project.results[i].group == g) entries.push_back(static_cast<std::int32_t>(i));
        }
        if (entries.empty()) continue;
        LaneAllocator allocator;
        allocator.project = &project;
        allocator.budget = layout.budgetMode ? layout.groups[static_cast<std::size_t>(g)].trackCount : kUnbudgetedTracks;
        // Every layer is readmitted: a layer dropped once comes back when
        // there is room. Only the drop mark is cleared, never `muted`.
        for (std::int32_t i : entries) Layer(project, i).groupTrack = 0;
        if (!layout.budgetMode) {
            std::stable_sort(entries.begin(), entries.end(), [&](std::int32_t a, std::int32_t b) {
                return Layer(project, a).startTime < Layer(project, b).startTime;
            });
            for (std::int32_t i : entries) AllocateLane(allocator, i);
        } else {
            std::vector<LaneEventEntries> events = GroupEntriesByEvent(project, entries);
            DealBudgetedGroup(allocator, events, CompareEventsForBudget, CompareEntriesByFirstStart, false);
        }
    }
    UpdateGroupLaneCounts(layout, project.results);
    for (LayerResult& layer : project.results) {
        if (layer.group < 0 || layer.group >= kTrackGroupCount) continue;
        layer.track = layer.groupTrack < 0 ? -1 : layer.groupTrack + TrackBase(layout, layer.group);
    }
}

std::int32_t TrackBase(const TrackLayout& layout, std::int32_t group) {
    static constexpr std::int32_t kStackOrder[kTrackGroupCount] = {1, 2, 0};
    std::int32_t base = 0;
    for (std::int32_t g : kStackOrder) {
        if (g == group) return base;
        const TrackGroupLayout& before = layout.groups[static_cast<std::size_t>(g)];
        if (before.usedLanes > 0) base += std::max(before.trackCount, before.usedLanes);
    }
    return base;
}

void UpdateGroupLaneCounts(TrackLayout& layout, const std::vector<LayerResult>& results) {
    std::int64_t layersInGroup[kTrackGroupCount] = {};
    for (const LayerResult& layer : results) {
        if (layer.group >= 0 && layer.group < kTrackGroupCount) ++layersInGroup[layer.group];
    }
    std::int32_t lanes[kTrackGroupCount] = {};
    for (const LayerResult& layer : results) {
        if (layer.group < 0 || layer.group >= kTrackGroupCount) continue;
        if (layer.groupTrack < 0 || layer.groupTrack >= layersInGroup[layer.group]) continue;
        lanes[layer.group] = std::max(lanes[layer.group], layer.groupTrack + 1);
    }
    for (std::int32_t g = 0; g < kTrackGroupCount; ++g) layout.groups[static_cast<std::size_t>(g)].usedLanes = lanes[g];
}

}  // namespace korvel
