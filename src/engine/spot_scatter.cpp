#include "engine/build_kinds.h"

// [SECTION] Random variations of tone and pitch
// [SECTION] Spot
// [SECTION] Scatter

#include <algorithm>
#include <cmath>

#include "engine/curve_routines.h"
#include "engine/published_layers.h"
#include "engine/source_region.h"
#include "library/library.h"

namespace korvel {

// [SECTION] Random variations of tone and pitch

float JitterTone(float weight, float pitchVariation, BuildRandom& random) {
    if (!(pitchVariation >= 0.001f)) return weight;
    const float u = random.Next();
    return std::clamp(weight + (u - 0.5f) * 2.0f * 0.15f * pitchVariation, 0.0f, 1.0f);
}

void ApplyPitchVariation(LayerResult& layer, float pitchVariation, BuildRandom& random) {
    if (!(pitchVariation >= 0.001f)) return;
    const float u = random.Next();
    const float semitones = (2.0f * u - 1.0f) * pitchVariation * 24.0f;
    layer.pitchVarShift = semitones;
    layer.pitchShift += semitones;
    const float ratio = std::pow(2.0f, semitones / 12.0f);
    if (std::fabs(ratio - 1.0f) < 0.001f) return;
    layer.sourceDuration *= ratio;
    const float offset = layer.sourceOffset - layer.audioSyncOffset * (ratio - 1.0f);
    if (offset >= 0.0f) {
        layer.sourceOffset = offset;
        return;
    }
    // The file cannot start earlier: move the layer instead so that its sync
    // point still lands where it did.
    const float sync = (layer.audioSyncOffset + layer.sourceOffset) / ratio;
    layer.sourceOffset = 0.0f;
    layer.startTime += layer.audioSyncOffset - sync;
    layer.audioSyncOffset = sync;
}

namespace {

float Unit(float x) { return x >= 0.0f ? std::min(x, 1.0f) : 0.0f; }

// Multiplies every score by the repeat penalty.
void ApplyRepetition(std::vector<ScoredCandidate>& candidates, const std::vector<UsedSound>& usedThisEvent,
                     const std::vector<UsedSound>& usedInBuild, float startTime) {
    for (ScoredCandidate& c : candidates)
        c.score *= RepetitionFactor(c.file->path, usedThisEvent, usedInBuild, startTime, c.file->mmGroup);
}

void DropUnwanted(std::vector<ScoredCandidate>& candidates) {
    std::erase_if(candidates, [](const ScoredCandidate& c) { return !(c.score > 0.0f); });
}

void SetFromFile(LayerResult& layer, const LibraryFile& file, const SourceRegion& region) {
    layer.name = file.name;
    layer.filepath = file.path;
    layer.fileId = file.fileId;
    layer.sourceOffset = region.sourceOffset;
    layer.sourceDuration = region.length;
    layer.audioSyncOffset = region.syncPoint;
}

}  // namespace

std::vector<UsedSound> JoinUsed(const std::vector<UsedSound>& usedThisEvent, const std::vector<UsedSound>& usedInBuild) {
    std::vector<UsedSound> used;
    used.reserve(usedThisEvent.size() + usedInBuild.size());
    used.insert(used.end(), usedThisEvent.begin(), usedThisEvent.end());
    used.insert(used.end(), usedInBuild.begin(), usedInBuild.end());
    return used;
}

void NoteUse(BuildContext& build, std::vector<UsedSound>& usedThisEvent, const LibraryFile& file, float offset,
             float length, float eventStart) {
    const UsedSound use{file.path, offset, length, eventStart, file.mmGroup};
    usedThisEvent.push_back(use);
    build.usedInBuild.push_back(use);
}

std::vector<ScoredCandidate> RunAttemptLadder(const BuildContext& build, const EventPlan& plan,
                                              const LayerRequest& request, const std::vector<UsedSound>& usedThisEvent) {
    const Project& project = build.project;
    const auto score = [&](float weight, const std::vector<KeywordTerm>& terms, std::int32_t maxResults,
                           float intensity, const BandWeights* bands, float noisiness, std::int32_t soFar) {
        return ScoreCandidates(project, plan.pool, weight, request.duration, request.kind, terms, maxResults, intensity,
                               bands, noisiness, soFar);
    };
    const auto penalise = [&](std::vector<ScoredCandidate>& candidates) {
        ApplyRepetition(candidates, usedThisEvent, build.usedInBuild, plan.eventStart);
    };
    const std::vector<KeywordTerm> none;
    std::vector<ScoredCandidate> candidates;
    for (int attempt = 1; attempt <= 5 && candidates.empty(); ++attempt) {
        switch (attempt) {
            case 1:
                candidates = score(request.target, plan.terms, 12, request.intensity, request.profile,
                                   request.meanNoisiness, request.layersSoFar);
                penalise(candidates);
                break;
            case 2:
                candidates = score(std::clamp(request.target + 0.15f, 0.0f, 1.0f), plan.terms, 16, request.intensity,
                                   request.profile, request.meanNoisiness, request.layersSoFar);
                penalise(candidates);
                DropUnwanted(candidates);
                if (candidates.empty()) {
                    candidates = score(std::clamp(request.target - 0.15f, 0.0f, 1.0f), plan.terms, 16,
                                       request.intensity, request.profile, request.meanNoisiness, request.layersSoFar);
                    penalise(candidates);
                }
                break;
            case 3:
                candidates = score(0.5f, none, 20, 0.5f, nullptr, -1.0f, 0);
                penalise(candidates);
                break;
            case 4:
                candidates = score(0.5f, none, 20, 0.5f, nullptr, -1.0f, 0);
                // A file this event already plays only when it is long enough
                // to give another stretch.
                for (ScoredCandidate& c : candidates) {
                    for (const UsedSound& used : usedThisEvent) {
                        if (used.path != c.file->path) continue;
                        if (!(c.file->duration > 1.5f * used.sourceDuration)) c.score = 0.0f;
                        break;
                    }
                }
                break;
            default:
                candidates = score(0.5f, none, 30, 0.5f, nullptr, -1.0f, 0);
                break;
        }
        DropUnwanted(candidates);
    }
    return candidates;
}

// [SECTION] Spot

void BuildSpotLayers(BuildContext& build, EventPlan& plan) {
    Project& project = build.project;
    const Event& event = project.events[static_cast<std::size_t>(plan.eventIndex)];
    const std::int32_t m =
        std::clamp(IntensityToLevel(plan.peakIntensity), 1, std::max(1, std::min(plan.plannedLayers, plan.layerCap)));
    if (plan.pinnedLayers >= m) return;

    const float w = SampleWeightCurve(event, SyncFraction(event));
    const float spread = Unit(event.spread);
    const std::int32_t spot = KindValue(EventKind::Spot);
    std::vector<UsedSound> usedThisEvent;
    std::int32_t drawn = 0;
    float noisinessSum = 0.0f;

    for (std::int32_t i = plan.pinnedLayers; i < m; ++i) {
        // The layers fan out around the centre tone, at most ±0.25.
        float tone = w;
        if (m > 1 && spread > 0.01f)
            tone = std::clamp((static_cast<float>(i) / static_cast<float>(m - 1) - 0.5f) * spread * 0.5f + w, 0.0f, 1.0f);
        LayerResult layer;
        layer.startTime = plan.eventStart;
        layer.duration = event.duration;
        layer.weight = tone;
        layer.eventIdx = plan.eventIndex;
        layer.track = i;
        layer.procMode = kProcModeSegment;

        if (plan.pool.empty()) {
            layer.name = "[Sketch] Spot";
            layer.isSketch = true;
        } else {
            bool useProfile = false;
            for (float band : plan.bandProfile) useProfile = useProfile || band > 0.01f;
            const BandWeights* profile = useProfile ? &plan.bandProfile : nullptr;
            const float meanNoisiness = drawn > 0 ? noisinessSum / static_cast<float>(drawn) : -1.0f;
            const float target = JitterTone(tone, event.pitchVariation, build.random);

            LayerRequest request;
            request.target = target;
            request.duration = event.duration;
            request.kind = spot;
            request.intensity = plan.peakIntensity;
            request.profile = profile;
            request.meanNoisiness = meanNoisiness;
            request.layersSoFar = drawn;
            std::vector<ScoredCandidate> candidates = RunAttemptLadder(build, plan, request, usedThisEvent);
            if (!event.pinnedFiles.empty())
                std::erase_if(candidates, [&](const ScoredCandidate& c) { return event.HasPinnedFile(c.file->path); });
            if (candidates.empty()) continue;  // the layer is left out

            const std::size_t pick = DrawWeighted(candidates, build.random);
            const LibraryFile& file = *candidates[pick].file;
            const std::vector<UsedSound> used = JoinUsed(usedThisEvent, build.usedInBuild);
            const SourceRegion region = ChooseSourceRegion(file, event.duration, spot, 0.0f, build.random, nullptr,
                                                           1.0f, 0.5f, &used, nullptr);
            SetFromFile(layer, file, region);

            // On the sync point, reaching at most 0.12 s past the event's ends.
            const float d = event.time - region.syncPoint;
            const float start = std::max(plan.eventStart - 0.12f, d);
            const float dur = std::max(0.1f, std::min(plan.eventStart + event.duration + 0.12f, d + region.length) - start);
            if (d < start) layer.sourceOffset = region.sourceOffset + (start - d);
            layer.startTime = start;
            layer.duration = dur;
            layer.fadeIn = std::max({0.02f * dur, 0.01f, region.fadeIn});
            layer.fadeOut = std::max({0.04f * dur, 0.03f, region.fadeOut});
            if (layer.fadeIn + layer.fadeOut > 0.8f * dur) {
                const float scale = 0.8f * dur / (layer.fadeIn + layer.fadeOut);
                layer.fadeIn *= scale;
                layer.fadeOut *= scale;
            }
            ApplyPitchVariation(layer, event.pitchVariation, build.random);
            NoteUse(build, usedThisEvent, file, region.sourceOffset, region.length, plan.eventStart);
            for (int b = 0; b < kBandCount; ++b) plan.bandProfile[b] += file.bandEnergies[b];
            noisinessSum += NoisinessIndex(file);
            ++drawn;
        }
        layer.stereo = event.stereo;
        BuildIntensityGain(event, layer);
        AppendEventLayer(build, std::move(layer));
    }
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
}

// [SECTION] Scatter

void BuildScatterLayers(BuildContext& build, EventPlan& plan) {
    Project& project = build.project;
    const Event& event = project.events[static_cast<std::size_t>(plan.eventIndex)];
    const float spread = Unit(event.spread);
    const double counted = event.duration > 0.0f ? std::min<double>(event.duration, kMaxCountedSeconds) : 0.0;
    const double slots = std::max(1.0, std::floor(counted / 0.06));
    const double slotLength = counted / slots;
    const float grainBase = std::clamp(static_cast<float>(0.08 * counted), 0.05f, 0.4f);
    const std::int32_t grainLimit = 12 * plan.layerCap;
    const std::int32_t scatter = KindValue(EventKind::Scatter);
    std::vector<UsedSound> usedThisEvent;
    std::int32_t drawn = 0;
    float noisinessSum = 0.0f;
    std::int32_t grains = 0;

    for (double k = 0.0; k < slots && grains < grainLimit; k += 1.0) {
        const float t = static_cast<float>((k + 0.5) / slots);
        const float I = SampleCurve256(event.intensity, t) * event.intensityScale;
        // Denser where the intensity is high; the fraction becomes one more
        // grain by chance.
        double expected = I > 0.0f ? std::pow(static_cast<double>(I), 1.5) * 30.0 * slotLength : 0.0;
        if (!(expected > 0.0)) expected = 0.0;
        expected = std::min(expected, 1e6);
        const float u0 = build.random.Next();
        std::int32_t g = static_cast<std::int32_t>(std::floor(expected));
        if (expected - std::floor(expected) > u0) ++g;
        if (g <= 0) continue;
        g = std::min(g, plan.layerCap);

        for (std::int32_t n = 0; n < g && grains < grainLimit; ++n) {
            const float u1 = build.random.Next();
            const float p = std::clamp(t + (u1 - 0.5f) / static_cast<float>(slots), 0.0f, 0.98f);
            const float u2 = build.random.Next();
            const float u3 = build.random.Next();
            const float gl = std::clamp((1.0f - 0.25f * I) * (0.6f + 1.2f * u3) * grainBase, 0.04f, 0.6f);

            LayerResult layer;
            layer.startTime = plan.eventStart + p * event.duration;
            layer.weight = std::clamp(SampleWeightCurve(event, p) + (u2 - 0.5f) * spread * 0.6f, 0.0f, 1.0f);
            layer.duration = gl;
            layer.eventIdx = plan.eventIndex;
            layer.track = grains % plan.layerCap;
            layer.procMode = kProcModeSegment;
            layer.layerGain = 0.4f + 0.6f * I;
            layer.fadeIn = 0.005f;
            layer.fadeOut = std::clamp(0.4f * gl, 0.01f, 0.1f);

            if (plan.pool.empty()) {
                layer.name = "[Sketch] Scatter";
                layer.isSketch = true;
            } else {
                const float meanNoisiness = drawn > 0 ? noisinessSum / static_cast<float>(drawn) : -1.0f;
                const float target = JitterTone(layer.weight, event.pitchVariation, build.random);
                std::vector<ScoredCandidate> candidates = ScoreCandidates(
                    project, plan.pool, target, gl, scatter, plan.terms, 8, I, nullptr, meanNoisiness, drawn);
                ApplyRepetition(candidates, usedThisEvent, build.usedInBuild, plan.eventStart);
                DropUnwanted(candidates);
                if (candidates.empty()) {
                    layer.name = "(no match)";
                } else {
                    const std::size_t pick = DrawWeighted(candidates, build.random);
                    const LibraryFile& file = *candidates[pick].file;
                    const std::vector<UsedSound> used = JoinUsed(usedThisEvent, build.usedInBuild);
                    const SourceRegion region = ChooseSourceRegion(file, gl, scatter, 0.0f, build.random,
                                                                   &event.intensity, event.intensityScale, 0.5f, &used,
                                                                   nullptr);
                    SetFromFile(layer, file, region);
                    ApplyPitchVariation(layer, event.pitchVariation, build.random);
                    float len = layer.sourceDuration;
                    if (std::fabs(layer.pitchVarShift) > 0.01f) len /= std::pow(2.0f, layer.pitchVarShift / 12.0f);
                    layer.duration = std::min(gl + std::min(0.08f, 0.15f * gl), len);
                    NoteUse(build, usedThisEvent, file, region.sourceOffset, region.length, plan.eventStart);
                    noisinessSum += NoisinessIndex(file);
                    ++drawn;
                }
            }
            // A grain's level is its layer gain: no intensity curve.
            layer.stereo = event.stereo;
            AppendEventLayer(build, std::move(layer));
            ++grains;
        }
    }
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
}

}  // namespace korvel
