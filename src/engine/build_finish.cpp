// [SECTION] Gains, fades and groups
// [SECTION] Lanes
// [SECTION] Finish
#include "engine/build_finish.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "project/project.h"

namespace korvel {

namespace {

const Event* EventOf(const Project& project, std::int32_t eventIndex) {
    if (eventIndex < 0 || static_cast<std::size_t>(eventIndex) >= project.events.size()) return nullptr;
    return &project.events[static_cast<std::size_t>(eventIndex)];
}

// [SECTION] Gains, fades and groups

// Later layers of an event play softer; a Fill's layers fall off gently. A
// Scatter's grains keep the level their build gave them from the intensity
// where they fall: they are a spray, not a stack, and by position the 90th
// grain would play 29 dB down whatever the intensity.
void SetLayerGains(Project& project) {
    std::unordered_map<std::int32_t, std::int32_t> earlier;
    for (LayerResult& layer : project.results) {
        const Event* event = EventOf(project, layer.eventIdx);
        if (event && IsKind(event->shape, EventKind::Scatter)) continue;
        const std::int32_t k = earlier[layer.eventIdx]++;
        const float f = event && IsKind(event->shape, EventKind::Fill) ? 0.12f : 0.3f;
        layer.layerGain = 1.0f / (1.0f + static_cast<float>(k) * f);
    }
}

void LimitFades(LayerResult& layer) {
    if (!(layer.duration > 0.0f)) {
        layer.fadeIn = 0.0f;
        layer.fadeOut = 0.0f;
        return;
    }
    const float most = 0.45f * layer.duration;
    layer.fadeIn = std::clamp(layer.fadeIn, 0.0f, most);
    layer.fadeOut = std::clamp(layer.fadeOut, 0.0f, most);
    const float room = 0.9f * layer.duration;
    const float sum = layer.fadeIn + layer.fadeOut;
    if (sum > room) {
        layer.fadeIn *= room / sum;
        layer.fadeOut *= room / sum;
    }
}

// [SECTION] Lanes

void DealGroupLanes(Project& project, std::int32_t group) {
    TrackGroupLayout& layout = project.trackLayout.groups[static_cast<std::size_t>(group)];
    const bool budgetMode = project.trackLayout.budgetMode;
    LaneAllocator allocator;
    allocator.project = &project;
    allocator.budget = budgetMode ? layout.trackCount : kUnbudgetedTracks;
    const std::int32_t preset = std::clamp(std::min(allocator.budget, 2 * layout.trackCount), 0, kUnbudgetedTracks);
    allocator.laneEnds.assign(static_cast<std::size_t>(preset), 0.0f);

    std::vector<std::int32_t> entries;
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        if (project.results[i].group == group) entries.push_back(static_cast<std::int32_t>(i));
    }
    std::vector<LaneEventEntries> events = GroupEntriesByEvent(project, entries);
    if (budgetMode) {
        DealBudgetedGroup(allocator, events, CompareEventsForLanes, CompareEventsByFirstStart, true);
    } else {
        std::stable_sort(events.begin(), events.end(), [&](const LaneEventEntries& a, const LaneEventEntries& b) {
            return CompareEventsForLanes(project, a, b);
        });
        for (LaneEventEntries& e : events) {
            SortEntriesLoudestFirst(project, e.entries);
            for (std::int32_t i : e.entries) AllocateLane(allocator, i);
        }
    }
    layout.usedLanes = allocator.laneCount;
}

}  // namespace

// [SECTION] Finish

void FinishBuild(Project& project) {
    KORVEL_CHECK_LAYER_WRITER();
    SetLayerGains(project);
    for (LayerResult& layer : project.results) {
        LimitFades(layer);
        if (const Event* event = EventOf(project, layer.eventIdx)) layer.group = EffectiveGroup(*event);
    }
    // Layers are large records: order their indices, then move each once.
    std::vector<std::size_t> order(project.results.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return project.results[a].startTime < project.results[b].startTime;
    });
    // In place, cycle by cycle: no second copy of the layers' storage.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start) continue;
        LayerResult held = std::move(project.results[start]);
        std::size_t at = start;
        while (order[at] != start) {
            const std::size_t from = order[at];
            project.results[at] = std::move(project.results[from]);
            order[at] = at;
            at = from;
        }
        project.results[at] = std::move(held);
        order[at] = at;
    }
    for (std::int32_t g = 0; g < kTrackGroupCount; ++g) DealGroupLanes(project, g);
    for (LayerResult& layer : project.results) {
        if (layer.group >= 0 && layer.group < kTrackGroupCount) {
            layer.track = layer.groupTrack < 0 ? -1 : TrackBase(project.trackLayout, layer.group) + layer.groupTrack;
        }
        layer.pitchShift = layer.pitchVarShift;
    }
    // Stored last, once every layer is final.
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
    project.built = true;
    ++project.revision;
}

}  // namespace korvel
