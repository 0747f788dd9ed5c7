#include "engine/voice_gain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "playback/playback_engine.h"

namespace korvel {

namespace {

constexpr double kStepSeconds = 0.02;
// Times are clamped as the post-build passes clamp theirs.
constexpr double kLatestTime = 86400.0;

double ClampTime(double t) { return std::isnan(t) ? 0.0 : std::clamp(t, -kLatestTime, kLatestTime); }

void ScalePerEvent(std::vector<Voice>& voices) {
    std::unordered_map<std::int32_t, double> squares;
    for (const Voice& v : voices) {
        if (v.eventIndex >= 0 && !v.muted) squares[v.eventIndex] += static_cast<double>(v.gain) * v.gain;
    }
    for (Voice& v : voices) {
        if (v.eventIndex < 0) continue;
        const auto it = squares.find(v.eventIndex);
        if (it != squares.end() && it->second > 1.0) v.gain = static_cast<float>(v.gain / std::sqrt(it->second));
    }
}

// The worst case of the summed voice peaks, sampled every 20 ms from the
// first start to the last end, held below 0.7 / master gain.
void HoldMixCeiling(PlaybackEngine& engine) {
    std::vector<Voice>& voices = engine.voices;
    double t0 = 0.0, t1 = 0.0;
    bool any = false;
    for (const Voice& v : voices) {
        if (v.muted) continue;
        const double start = ClampTime(v.startTime);
        const double end = ClampTime(static_cast<double>(v.startTime) + v.duration);
        t0 = any ? std::min(t0, start) : start;
        t1 = any ? std::max(t1, end) : end;
        any = true;
    }
    if (!any || !(t0 < t1)) return;
    // An integer number of steps: a float time would stop advancing far out.
    const auto steps = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil((t1 - t0) / kStepSeconds)));

    // Each voice adds its peak to the steps it covers; the largest sum is
    // found by sweeping the steps where a voice starts or stops.
    std::vector<std::pair<std::int64_t, double>> changes;
    changes.reserve(voices.size() * 2);
    for (const Voice& v : voices) {
        if (v.muted) continue;
        const double start = ClampTime(v.startTime);
        const double end = ClampTime(static_cast<double>(v.startTime) + v.duration);
        const auto first = static_cast<std::int64_t>(std::ceil((start - t0) / kStepSeconds));
        const std::int64_t last = std::min(steps - 1, static_cast<std::int64_t>(std::ceil((end - t0) / kStepSeconds)) - 1);
        if (last < first) continue;
        const float peak = std::max(0.001f, *std::max_element(v.overviewPeak.begin(), v.overviewPeak.end()));
        const std::int32_t group = std::clamp(v.group, 0, kTrackGroupCount - 1);
        const double level = static_cast<double>(v.gain) * v.normGain * v.eventGain *
                             engine.groupGain[static_cast<std::size_t>(group)] * peak;
        changes.emplace_back(first, level);
        changes.emplace_back(last + 1, -level);
    }
    std::sort(changes.begin(), changes.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    double sum = 0.0, worst = 0.0;
    for (std::size_t i = 0; i < changes.size();) {
        const std::int64_t at = changes[i].first;
        for (; i < changes.size() && changes[i].first == at; ++i) sum += changes[i].second;
        worst = std::max(worst, sum);
    }
    const double limit = 0.7 / std::max(0.1f, engine.masterGain);
    if (worst > limit) {
        const auto scale = static_cast<float>(limit / worst);
        for (Voice& v : voices) v.gain *= scale;
    }
}

}  // namespace

void NormalizeVoiceGains(PlaybackEngine& engine, bool full) {
    {
        std::lock_guard lock(engine.voiceMutex);
        if (full) {
            for (Voice& v : engine.voices) v.gain = v.baseGain;
        }
        ScalePerEvent(engine.voices);
        if (full) HoldMixCeiling(engine);
        ++engine.revision;
    }
    engine.ready.store(true, std::memory_order_release);
}

}  // namespace korvel
