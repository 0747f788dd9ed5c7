// [SECTION] Silence protection
// [SECTION] Density ducking
#include "engine/silence_protection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/build_routines.h"
#include "engine/layer_deconfliction.h"
#include "project/project.h"

namespace korvel {

namespace {

const Event* EventOf(const Project& project, std::int32_t eventIndex) {
    if (eventIndex < 0 || static_cast<std::size_t>(eventIndex) >= project.events.size()) return nullptr;
    return &project.events[static_cast<std::size_t>(eventIndex)];
}

struct Span {
    float start = 0.0f;
    float end = 0.0f;
};

}  // namespace

// [SECTION] Silence protection

namespace {

// Where the timeline falls silent: the ends of the merged event spans that a
// gap longer than 10 ms follows, in time order. None before the first event
// or after the last.
std::vector<float> SilenceGapStarts(const Project& project) {
    std::vector<float> gaps;
    if (project.events.empty()) return gaps;
    std::vector<Span> spans;
    spans.reserve(project.events.size());
    for (const Event& event : project.events) {
        const float start = event.time - event.syncOffset;
        spans.push_back({start, start + event.duration});
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    std::vector<Span> merged{spans.front()};
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, spans[i].end);
        } else {
            merged.push_back(spans[i]);
        }
    }
    for (std::size_t i = 1; i < merged.size(); ++i) {
        if (merged[i].start - merged[i - 1].end > 0.01f) gaps.push_back(merged[i - 1].end);
    }
    return gaps;
}

// The first gap a layer from `start` for `duration` crosses into once its
// event (ending at `eventEnd`) has ended; false when there is none.
bool FindCuttingGap(const std::vector<float>& gaps, float start, float duration, float eventEnd, float& gap) {
    for (float g : gaps) {
        if (start < g && g < start + duration && eventEnd - 0.01f <= g) {
            gap = g;
            return true;
        }
    }
    return false;
}

float EventEnd(const Event& event) { return event.time - event.syncOffset + event.duration; }

}  // namespace

void CapFadesAtSilence(float duration, float& fadeIn, float& fadeOut) {
    const float most = 0.45f * duration;
    fadeIn = std::min(fadeIn, most);
    fadeOut = std::min(std::max(fadeOut, 0.03f), most);
}

void ProtectSilence(Project& project) {
    if (project.events.empty() || project.results.empty()) return;
    const std::vector<float> gaps = SilenceGapStarts(project);
    for (LayerResult& layer : project.results) {
        // A dropped layer counts as muted, as the allocation before left it.
        const Event* event = EventOf(project, layer.eventIdx);
        if (IsLayerSilenced(layer) || !event) continue;
        float g = 0.0f;
        if (!FindCuttingGap(gaps, layer.startTime, layer.duration, EventEnd(*event), g)) continue;
        if (g - layer.startTime < 0.05f) {
            layer.muted = true;
        } else {
            layer.duration = g - layer.startTime;
            CapFadesAtSilence(layer.duration, layer.fadeIn, layer.fadeOut);
        }
    }
}

float SilenceProtectedLength(const Project& project, std::int32_t eventIndex, float start, float duration) {
    const Event* event = EventOf(project, eventIndex);
    if (!event) return duration;
    float g = 0.0f;
    if (!FindCuttingGap(SilenceGapStarts(project), start, duration, EventEnd(*event), g) || g - start < 0.05f)
        return duration;
    return g - start;
}

// [SECTION] Density ducking

void ApplyDensityDucking(Project& project) {
    if (project.events.empty() || project.results.empty()) return;
    const float ceiling = PassTimeCeiling(project);
    float end = 0.0f;
    for (const LayerResult& layer : project.results) {
        if (IsLayerSilenced(layer)) continue;
        const float e = std::min(layer.startTime + layer.duration, ceiling);
        if (e > end) end = e;
    }
    if (!(end > 0.0f)) return;

    // Quarter-second bins, sized from the clamped end in 64 bits.
    const std::int64_t binCount = 1 + static_cast<std::int64_t>(std::floor(4.0 * static_cast<double>(end)));
    auto binOf = [binCount](double t) -> std::int64_t {
        const double b = std::floor(4.0 * t);
        if (!(b > 0.0)) return 0;
        return static_cast<std::int64_t>(std::min(b, static_cast<double>(binCount - 1)));
    };
    std::vector<std::int32_t> count(static_cast<std::size_t>(binCount), 0);
    std::vector<float> sum(static_cast<std::size_t>(binCount), 0.0f);
    for (const LayerResult& layer : project.results) {
        if (IsLayerSilenced(layer)) continue;
        const double from = 4.0 * static_cast<double>(layer.startTime);
        const double to = 4.0 * (static_cast<double>(layer.startTime) + layer.duration);
        if (!(std::trunc(to) >= std::max(0.0, std::trunc(from)))) continue;  // ends before it starts, or NaN
        const std::int64_t first = binOf(layer.startTime);
        const std::int64_t last = binOf(static_cast<double>(layer.startTime) + layer.duration);
        const float level = layer.userVolume * layer.layerGain;
        for (std::int64_t b = first; b <= last; ++b) {
            ++count[static_cast<std::size_t>(b)];
            sum[static_cast<std::size_t>(b)] += level;
        }
    }
    // About ±1 s of neighbours, by a running window sum.
    std::vector<float> smoothed(static_cast<std::size_t>(binCount));
    {
        std::int64_t window = 0;
        for (std::int64_t b = 0; b < std::min<std::int64_t>(4, binCount); ++b) window += count[static_cast<std::size_t>(b)];
        for (std::int64_t k = 0; k < binCount; ++k) {
            if (k + 4 < binCount) window += count[static_cast<std::size_t>(k + 4)];
            if (k - 5 >= 0) window -= count[static_cast<std::size_t>(k - 5)];
            const std::int64_t lo = std::max<std::int64_t>(0, k - 4), hi = std::min(binCount - 1, k + 4);
            smoothed[static_cast<std::size_t>(k)] = static_cast<float>(window) / static_cast<float>(hi - lo + 1);
        }
    }

    for (LayerResult& layer : project.results) {
        if (IsLayerSilenced(layer)) continue;
        const Event* event = EventOf(project, layer.eventIdx);
        if (event && event->hero) continue;
        const float level = layer.userVolume * layer.layerGain;
        std::array<float, kDeconGainPoints> points{};
        bool any = false;
        for (int j = 0; j < kDeconGainPoints; ++j) {
            const double t = layer.startTime + static_cast<double>(j) / 31.0 * layer.duration;
            const auto b = static_cast<std::size_t>(binOf(t));
            const float s = smoothed[b];
            points[j] = 1.0f;
            if (!(s > 4.0f)) continue;
            const float f = std::clamp((s - 4.0f) * 0.25f, 0.0f, 1.0f);
            const float mean = count[b] > 0 ? sum[b] / static_cast<float>(count[b]) : 0.0f;
            const float r = mean > 0.001f ? level / mean : 1.0f;
            const float w = std::clamp(1.3f - r, 0.3f, 1.0f);
            points[j] = std::pow(10.0f, -4.0f * f * w / 20.0f);
            any = any || points[j] < 0.99f;
        }
        if (!any) continue;
        for (int j = 0; j < kDeconGainPoints; ++j) {
            const int from = std::max(0, j - 2), to = std::min(kDeconGainPoints - 1, j + 2);
            float total = 0.0f;
            for (int m = from; m <= to; ++m) total += points[m];
            const float duck = total / static_cast<float>(to - from + 1);
            layer.deconGain[j] = layer.hasDeconGain ? layer.deconGain[j] * duck : duck;
        }
        layer.hasDeconGain = true;
    }
}

}  // namespace korvel
