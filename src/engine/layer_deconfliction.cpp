// [SECTION] Time ceiling
// [SECTION] Onset spreading
// [SECTION] Collision frames and cut curves
#include "engine/layer_deconfliction.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/build_routines.h"
#include "project/project.h"

namespace korvel {

// [SECTION] Time ceiling

float PassTimeCeiling(const Project& project) {
    constexpr float kDay = 86400.0f;
    float longest = 0.0f;
    for (const Event& event : project.events) {
        if (event.duration > longest) longest = event.duration;  // NaN never wins
    }
    const float total = project.totalDuration > 0.0f ? project.totalDuration : 0.0f;
    const float ceiling = total + longest;
    return ceiling < kDay ? ceiling : kDay;
}

namespace {

constexpr float kFrameSeconds = 0.05f;
constexpr std::array<float, kBandCount> kCollisionWeight = {1.4f, 0.7f, 0.5f, 1.0f, 1.4f};

bool IsHeroLayer(const Project& project, const LayerResult& layer) {
    return layer.eventIdx >= 0 && static_cast<std::size_t>(layer.eventIdx) < project.events.size() &&
           project.events[static_cast<std::size_t>(layer.eventIdx)].hero;
}

float Level(const LayerResult& layer) { return layer.userVolume * layer.layerGain; }

// A frame index of time t, within 0 .. last.
std::int64_t FrameOf(float t, std::int64_t last) {
    const double f = std::floor(static_cast<double>(t) / kFrameSeconds);
    if (!(f > 0.0)) return 0;
    return std::min(static_cast<std::int64_t>(std::min(f, 9.0e15)), last);
}

// [SECTION] Onset spreading

struct OnsetGroup {
    std::int32_t eventIndex = 0;
    float start = 0.0f;
    std::vector<std::size_t> members;
};

void SpreadOnsets(Project& project) {
    std::vector<OnsetGroup> groups;
    std::unordered_map<std::int32_t, std::vector<std::size_t>> groupsOfEvent;  // in opening order
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        LayerResult& layer = project.results[i];
        if (IsLayerSilenced(layer)) continue;
        layer.deconOffset = 0.0f;
        std::vector<std::size_t>& open = groupsOfEvent[layer.eventIdx];
        auto it = std::find_if(open.begin(), open.end(), [&](std::size_t g) {
            return std::fabs(groups[g].start - layer.startTime) < 0.015f;
        });
        std::size_t g;
        if (it == open.end()) {
            g = groups.size();
            groups.push_back({layer.eventIdx, layer.startTime, {}});
            open.push_back(g);
        } else {
            g = *it;
        }
        groups[g].members.push_back(i);
    }
    for (OnsetGroup& g : groups) {
        const std::size_t n = g.members.size();
        if (n < 2) continue;
        std::stable_sort(g.members.begin(), g.members.end(), [&](std::size_t a, std::size_t b) {
            return Level(project.results[a]) > Level(project.results[b]);
        });
        const float loudest = Level(project.results[g.members[0]]);
        for (std::size_t i = 1; i < n; ++i) {
            LayerResult& layer = project.results[g.members[i]];
            const float rel = loudest > 0.001f ? Level(layer) / loudest : 1.0f;
            const float t = static_cast<float>(i) / static_cast<float>(n) * 0.01f + 0.005f + (1.0f - rel) * 0.015f;
            layer.deconOffset = i % 2 == 1 ? t : -0.6f * t;
        }
    }
}

// [SECTION] Collision frames and cut curves

struct CollisionFrame {
    std::array<float, kBandCount> bandSum{};
    std::array<std::int32_t, kBandCount> bandOwner{-1, -1, -1, -1, -1};
    std::array<float, kBandCount> ownerLevel{};
    std::int32_t layerCount = 0;
};

}  // namespace

void DeconflictLayers(Project& project) {
    if (project.results.empty()) return;
    const float ceiling = PassTimeCeiling(project);
    float end = 0.0f;
    for (const LayerResult& layer : project.results) {
        if (IsLayerSilenced(layer)) continue;
        const float e = std::min(layer.startTime + layer.duration + layer.deconOffset, ceiling);
        if (e > end) end = e;
    }
    if (!(end > 0.0f)) return;

    SpreadOnsets(project);

    const std::int64_t frameCount = 1 + static_cast<std::int64_t>(std::floor(end / kFrameSeconds));
    const std::int64_t last = frameCount - 1;
    std::vector<CollisionFrame> frames(static_cast<std::size_t>(frameCount));
    std::vector<BandWeights> bands(project.results.size());
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        const LayerResult& layer = project.results[i];
        if (IsLayerSilenced(layer)) continue;
        ToneToBandWeights(layer.weight, bands[i]);
        const bool hero = IsHeroLayer(project, layer);
        const float level = Level(layer);
        const float at = layer.deconOffset + layer.startTime;
        const std::int64_t first = FrameOf(at, last);
        const std::int64_t lastFrame = FrameOf(at + layer.duration, last);
        if (!(at + layer.duration >= 0.0f)) continue;  // ends before 0, or not a number
        for (std::int64_t f = first; f <= lastFrame; ++f) {
            CollisionFrame& frame = frames[static_cast<std::size_t>(f)];
            ++frame.layerCount;
            for (int k = 0; k < kBandCount; ++k) {
                const float d = level * bands[i][k];
                frame.bandSum[k] += d;
                const std::int32_t owner = frame.bandOwner[k];
                const bool ownerHero = owner >= 0 && IsHeroLayer(project, project.results[static_cast<std::size_t>(owner)]);
                const bool takes = hero ? (owner < 0 || d > frame.ownerLevel[k] || !ownerHero)
                                        : (d > frame.ownerLevel[k] && !ownerHero);
                if (takes) {
                    frame.bandOwner[k] = static_cast<std::int32_t>(i);
                    frame.ownerLevel[k] = d;
                }
            }
        }
    }

    for (std::size_t i = 0; i < project.results.size(); ++i) {
        LayerResult& layer = project.results[i];
        if (IsLayerSilenced(layer)) continue;
        if (IsHeroLayer(project, layer)) {
            layer.hasDeconGain = false;
            continue;
        }
        std::array<float, kDeconGainPoints> points{};
        bool any = false;
        for (int j = 0; j < kDeconGainPoints; ++j) {
            const float t = layer.startTime + layer.deconOffset + static_cast<float>(j) / 31.0f * layer.duration;
            const CollisionFrame& frame = frames[static_cast<std::size_t>(FrameOf(t, last))];
            points[j] = 1.0f;
            if (frame.layerCount <= 1) continue;
            float cut = 0.0f;
            for (int k = 0; k < kBandCount; ++k) {
                if (bands[i][k] < 0.05f || frame.bandOwner[k] == static_cast<std::int32_t>(i) || frame.bandSum[k] < 0.01f)
                    continue;
                const float ratio = frame.bandSum[k] / std::max(0.01f, frame.ownerLevel[k]);
                if (ratio > 1.5f) cut += std::min(1.0f, (ratio - 1.5f) * 0.5f) * 6.0f * bands[i][k] * kCollisionWeight[k];
            }
            points[j] = std::pow(10.0f, -std::min(cut, 9.0f) / 20.0f);
            any = any || points[j] < 0.99f;
        }
        if (!any) {
            layer.hasDeconGain = false;
            continue;
        }
        for (int j = 0; j < kDeconGainPoints; ++j) {
            const int from = std::max(0, j - 1), to = std::min(kDeconGainPoints - 1, j + 1);
            float sum = 0.0f;
            for (int m = from; m <= to; ++m) sum += points[m];
            layer.deconGain[j] = sum / static_cast<float>(to - from + 1);
        }
        layer.hasDeconGain = true;
    }
}

}  // namespace korvel
