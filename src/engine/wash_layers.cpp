#include "engine/build_kinds.h"

// [SECTION] Occupancy and the layer budget
// [SECTION] Cutting the intensity curve into segments
// [SECTION] Shaping the segments
// [SECTION] One layer per segment

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/curve_routines.h"
#include "engine/published_layers.h"
#include "engine/source_region.h"
#include "engine/wash_layers.h"
#include "library/library.h"

namespace korvel {

// [SECTION] Occupancy and the layer budget

void MarkOccupancy(WashOccupancy& occupancy, float from, float to) {
    const double bins = kWashBins;
    const double firstAt = std::floor(bins * from);
    const double lastAt = std::floor(bins * to - 0.001);
    const int first = firstAt > 0.0 ? static_cast<int>(std::min(firstAt, bins - 1.0)) : 0;
    if (!(lastAt >= first)) return;
    const int last = static_cast<int>(std::min(lastAt, bins - 1.0));
    for (int k = first; k <= last; ++k) ++occupancy[static_cast<std::size_t>(k)];
}

namespace {

struct Segment {
    float from = 0.0f;  // fractions of the event
    float to = 0.0f;
    float level = 0.0f;  // the intensity threshold that made it
    float centre = 0.0f;
    float tonePosition = -1.0f;  // -1: not set
};

constexpr std::size_t kMaxSegments = 32;
constexpr float kShortestSegment = 0.08f;  // seconds

float Unit(float x) { return x >= 0.0f ? std::min(x, 1.0f) : 0.0f; }

// [SECTION] Cutting the intensity curve into segments

// Each threshold, low to high, finds the runs of the curve above it; the
// stretches of a run that still have room become segments. Quiet stretches
// get one layer, loud ones up to their intensity level.
std::vector<Segment> CutSegments(const Event& event, float peak, std::int32_t budget) {
    WashOccupancy occupancy = {};
    std::array<std::int32_t, kWashBins> cap;
    for (int k = 0; k < kWashBins; ++k) {
        const float level = SampleCurve256(event.intensity, (static_cast<float>(k) + 0.5f) / kWashBins) * event.intensityScale;
        cap[static_cast<std::size_t>(k)] = std::min(budget, IntensityToLevel(level));
    }
    const float duration = event.duration;
    std::vector<Segment> segments;
    const float lo = 0.03f * peak;
    const std::int32_t thresholds = 4 * budget;
    for (std::int32_t l = 0; l < thresholds; ++l) {
        const float threshold =
            lo + static_cast<float>(l) / static_cast<float>(std::max(1, thresholds - 1)) * (0.92f * peak - lo);
        if (segments.size() >= kMaxSegments || threshold > peak) break;
        int m = 0;
        while (m < kCurvePoints && segments.size() < kMaxSegments) {
            const auto value = [&](int i) { return i < kCurvePoints ? event.intensity[i] * event.intensityScale : 0.0f; };
            if (!(value(m) >= threshold)) {
                ++m;
                continue;
            }
            int end = m + 1;
            // A threshold of 0 (a silent curve) is met past the curve's end too.
            while (end < kCurvePoints && value(end) >= threshold) ++end;
            const float start = static_cast<float>(m) / kCurvePoints;
            const float stop = static_cast<float>(end) / kCurvePoints;
            m = end;
            if (!((stop - start) * duration >= kShortestSegment)) continue;
            const int firstBin = std::clamp(static_cast<int>(std::floor(kWashBins * start)), 0, kWashBins - 1);
            const int lastBin =
                std::clamp(static_cast<int>(std::floor(kWashBins * stop - 0.001f)), firstBin, kWashBins - 1);
            int f = -1;
            for (int k = firstBin; k <= lastBin + 1; ++k) {
                const bool free = k <= lastBin && occupancy[static_cast<std::size_t>(k)] < cap[static_cast<std::size_t>(k)];
                if (free) {
                    if (f < 0) f = k;
                    continue;
                }
                if (f >= 0 && static_cast<float>(k - f) / kWashBins * duration >= kShortestSegment &&
                    segments.size() < kMaxSegments) {
                    Segment segment;
                    segment.from = static_cast<float>(f) / kWashBins;
                    segment.to = static_cast<float>(k) / kWashBins;
                    segment.level = threshold;
                    segment.centre = (segment.from + segment.to) / 2.0f;
                    segments.push_back(segment);
                    MarkOccupancy(occupancy, segment.from, segment.to);
                }
                f = -1;
            }
        }
    }
    return segments;
}

// [SECTION] Shaping the segments

void ShapeSegments(std::vector<Segment>& segments) {
    if (segments.empty()) return;
    for (Segment& s : segments) {
        const float pad = std::min(0.2f * (s.to - s.from), 0.05f);
        s.from = std::max(0.0f, s.from - pad);
        s.to = std::min(1.0f, s.to + pad);
        s.centre = (s.from + s.to) / 2.0f;
    }
    // The quietest layers reach both ends, so the wash covers the event.
    float lowest = segments[0].level;
    for (const Segment& s : segments) lowest = std::min(lowest, s.level);
    std::size_t earliest = segments.size();
    std::size_t latest = segments.size();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (!(segments[i].level <= 1.01f * lowest)) continue;
        if (earliest == segments.size() || segments[i].from < segments[earliest].from) earliest = i;
        if (latest == segments.size() || segments[i].to > segments[latest].to) latest = i;
    }
    if (earliest < segments.size()) {
        segments[earliest].from = 0.0f;
        segments[earliest].centre = segments[earliest].to / 2.0f;
    }
    if (latest < segments.size()) {
        segments[latest].to = 1.0f;
        segments[latest].centre = (segments[latest].from + 1.0f) / 2.0f;
    }
}

// A segment whose tone moves gets a second layer for the other extreme.
std::vector<Segment> SplitTones(const Event& event, const std::vector<Segment>& segments) {
    std::vector<Segment> split;
    const double duration = event.duration > 0.0f ? std::min<double>(event.duration, kMaxCountedSeconds) : 0.0;
    for (const Segment& s : segments) {
        split.push_back(s);
        const double seconds = (s.to - s.from) * duration;
        if (!(seconds >= 0.3) || split.size() >= kMaxSegments) continue;
        int n = static_cast<int>(std::floor(4.0 * seconds));
        if (n < 5) n = 4;
        float lowest = 2.0f, highest = -1.0f, lowAt = s.from, highAt = s.from;
        const float atStart = SampleWeightCurve(event, s.from);
        for (int j = 0; j <= n; ++j) {
            const float p = s.from + static_cast<float>(j) / static_cast<float>(n) * (s.to - s.from);
            const float w = SampleWeightCurve(event, p);
            if (w < lowest) {
                lowest = w;
                lowAt = p;
            }
            if (w > highest) {
                highest = w;
                highAt = p;
            }
        }
        if (!(highest - lowest > 0.2f)) continue;
        Segment copy = s;
        copy.tonePosition = std::fabs(lowest - atStart) <= std::fabs(highest - atStart) ? highAt : lowAt;
        split.push_back(copy);
    }
    return split;
}

}  // namespace

// [SECTION] One layer per segment

void BuildWashLayers(BuildContext& build, EventPlan& plan) {
    Project& project = build.project;
    const Event& event = project.events[static_cast<std::size_t>(plan.eventIndex)];
    const float peak = std::max(0.0f, plan.peakIntensity);
    const float s = SyncFraction(event);
    const std::int32_t budget = std::min(plan.plannedLayers, IntensityToLevel(peak)) - plan.pinnedLayers;
    if (budget < 1) {
        PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
        return;
    }
    std::vector<Segment> segments = CutSegments(event, peak, budget);
    ShapeSegments(segments);
    segments = SplitTones(event, segments);

    const std::int32_t kind = event.shape;
    std::vector<UsedSound> usedThisEvent;
    std::int32_t drawn = 0;
    float noisinessSum = 0.0f;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& segment = segments[i];
        const float u = build.random.Next();
        const float start = segment.from <= 0.001f ? 0.0f : std::clamp(segment.from + (u - 0.5f) * 0.05f, 0.0f, 0.95f);
        const float u2 = build.random.Next();
        const float end = segment.to >= 0.999f ? 1.0f : std::clamp(segment.to + (u2 - 0.5f) * 0.05f, start + 0.05f, 1.0f);
        const float layerStart = plan.eventStart + start * event.duration;
        const float length = (end - start) * event.duration;
        if (!(length >= kShortestSegment)) continue;
        const float I = SampleCurve256(event.intensity, segment.centre) * event.intensityScale;

        // Overlapping layers fan out across their segment's tones.
        float tonePosition = segment.tonePosition;
        if (tonePosition < 0.0f) {
            tonePosition = segment.centre;
            if (segments.size() >= 2) {
                std::size_t covering = 0, before = 0;
                for (std::size_t k = 0; k < segments.size(); ++k) {
                    if (segments[k].from <= segment.centre && segment.centre <= segments[k].to) {
                        ++covering;
                        if (k < i) ++before;
                    }
                }
                if (covering > 1)
                    tonePosition = segment.from + static_cast<float>(before) / static_cast<float>(covering - 1) *
                                                      (segment.to - segment.from);
            }
        }
        const float w = SampleWeightCurve(event, tonePosition);

        LayerResult layer;
        layer.startTime = layerStart;
        layer.duration = length;
        layer.weight = w;
        layer.eventIdx = plan.eventIndex;
        layer.track = plan.pinnedLayers + static_cast<std::int32_t>(i);
        layer.procMode = i < 2 ? 0 : 2;

        if (plan.pool.empty()) {
            layer.name = "[Sketch] Wash";
            layer.isSketch = true;
        } else {
            bool useProfile = false;
            for (float band : plan.bandProfile) useProfile = useProfile || band > 0.01f;
            LayerRequest request;
            request.target = JitterTone(w, event.pitchVariation, build.random);
            request.duration = length;
            request.kind = kind;
            request.intensity = I;
            request.profile = useProfile ? &plan.bandProfile : nullptr;
            request.meanNoisiness = drawn > 0 ? noisinessSum / static_cast<float>(drawn) : -1.0f;
            request.layersSoFar = drawn;
            std::vector<ScoredCandidate> candidates = RunAttemptLadder(build, plan, request, usedThisEvent);
            std::stable_sort(candidates.begin(), candidates.end(),
                             [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
            if (candidates.size() >= 2) {
                // Only files whose spectral weight is near the closest one's.
                const float wanted = 0.8f * request.target + 0.1f;
                float closest = 1.0f;
                for (const ScoredCandidate& c : candidates)
                    closest = std::min(closest, std::fabs(c.file->spectralWeight - wanted));
                std::erase_if(candidates, [&](const ScoredCandidate& c) {
                    return std::fabs(c.file->spectralWeight - wanted) > closest + 0.15f;
                });
            }
            if (candidates.empty()) continue;  // the segment gets no layer

            const std::size_t pick = DrawWeighted(candidates, build.random);
            const LibraryFile& file = *candidates[pick].file;
            layer.name = file.name;
            layer.filepath = file.path;
            layer.fileId = file.fileId;
            const float ns = NoiseSustainValue(file);
            layer.sustainAmount = ns;

            const TargetProfile profile16 = TargetEnvelopeProfile(event, w, start, end);
            const std::vector<UsedSound> used = JoinUsed(usedThisEvent, build.usedInBuild);
            const SourceRegion region = ChooseSourceRegion(file, length, kind, segment.centre, build.random,
                                                           &event.intensity, event.intensityScale, s, &used,
                                                           profile16.data());
            layer.sourceOffset = region.sourceOffset;
            layer.sourceDuration = region.length;
            layer.audioSyncOffset = region.syncPoint;
            ApplyPitchVariation(layer, event.pitchVariation, build.random);
            float len = region.length;
            if (std::fabs(layer.pitchVarShift) > 0.01f) len /= std::pow(2.0f, layer.pitchVarShift / 12.0f);

            FadeLengths curve = CurveFadeLengths(event, start, end, segment.level, length);
            curve.fadeIn *= 1.5f * ns + 2.0f;
            curve.fadeOut *= 1.5f * ns + 2.0f;
            // A sustained, noisy sound rings on after its segment, up to
            // 0.8 s, but never past the end of its region.
            const float L = std::min(length + std::min(0.8f, (0.25f * ns + 0.18f) * length), len);
            const FadeLengths match = MatchCurveToEnvelope(event, plan.eventStart, file, w, layerStart, L);
            layer.fadeIn = std::max(match.fadeIn, curve.fadeIn);
            layer.fadeOut = std::max(match.fadeOut, curve.fadeOut);
            const float fadeBudget = (0.12f * ns + 0.8f) * L;
            if (layer.fadeIn + layer.fadeOut > fadeBudget) {
                const float scale = fadeBudget / (layer.fadeIn + layer.fadeOut);
                layer.fadeIn *= scale;
                layer.fadeOut *= scale;
            }
            layer.startTime = layerStart;
            layer.duration = L;
            NoteUse(build, usedThisEvent, file, region.sourceOffset, region.length, plan.eventStart);
            for (int b = 0; b < kBandCount; ++b) plan.bandProfile[b] += file.bandEnergies[b];
            noisinessSum += NoisinessIndex(file);
            ++drawn;
        }
        layer.stereo = event.stereo;
        BuildIntensityGain(event, layer);
        // Quieter where the event's weight moves away from the layer's tone.
        const float span = std::max(0.001f, event.duration);
        for (int k = 0; k < kCurvePoints; ++k) {
            const float p = Unit((static_cast<float>(k) / 255.0f * layer.duration + layer.startTime - plan.eventStart) / span);
            const float d = std::fabs(layer.weight - SampleWeightCurve(event, p));
            layer.intGain[k] = std::max(0.03f, std::max(0.05f, std::exp(-5.0f * d * d)) * layer.intGain[k]);
        }
        AppendEventLayer(build, std::move(layer));
    }
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
}

}  // namespace korvel
