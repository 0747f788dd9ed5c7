// The events list's per-frame cache: the time order and, keyed on the event
// count, layer count and revision, each event's clip count and weight summary.
#include <algorithm>

#include "project/app_state.h"

namespace korvel {

void AppState::RefreshEventListCache(std::span<const Event> events, std::span<const LayerResult> results,
                                     std::int32_t revision) {
    const auto n = static_cast<std::int32_t>(events.size());
    // Re-sorted every call: times change while events are dragged, without
    // any of the keys changing.
    eventListOrder.resize(events.size());
    for (std::int32_t i = 0; i < n; ++i) eventListOrder[static_cast<std::size_t>(i)] = i;
    std::sort(eventListOrder.begin(), eventListOrder.end(), [&](std::int32_t a, std::int32_t b) {
        return events[static_cast<std::size_t>(a)].time < events[static_cast<std::size_t>(b)].time;
    });

    const auto layers = static_cast<std::int32_t>(results.size());
    if (n == listCacheEventCount && layers == listCacheResultCount && revision == listCacheRevision) return;
    listCacheEventCount = n;
    listCacheResultCount = layers;
    listCacheRevision = revision;

    eventClipCounts.assign(events.size(), 0);
    eventWeightSummary.assign(events.size(), {});
    eventWeightSummaryCount.assign(events.size(), 0);
    std::vector<std::vector<float>> weights(events.size());
    for (const LayerResult& layer : results) {
        if (layer.eventIdx < 0 || layer.eventIdx >= n) continue;
        const auto e = static_cast<std::size_t>(layer.eventIdx);
        ++eventClipCounts[e];
        if (!layer.muted) weights[e].push_back(layer.weight);
    }
    for (std::size_t e = 0; e < weights.size(); ++e) {
        std::vector<float>& v = weights[e];
        std::sort(v.begin(), v.end());
        const std::size_t g = v.size();
        std::array<float, 5>& summary = eventWeightSummary[e];
        if (g > 5) {
            summary = {v[0], v[g / 4], v[g / 2], v[3 * g / 4], v[g - 1]};
            eventWeightSummaryCount[e] = 5;
        } else {
            std::copy(v.begin(), v.end(), summary.begin());
            eventWeightSummaryCount[e] = static_cast<std::int32_t>(g);
        }
    }
}

}  // namespace korvel
