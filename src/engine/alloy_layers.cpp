#include "engine/build_kinds.h"

// [SECTION] Shared steps
// [SECTION] Main alloy layers
// [SECTION] Extra alloy layers over the loud stretches

#include <algorithm>
#include <cmath>

#include "engine/curve_routines.h"
#include "engine/designed_names.h"
#include "engine/published_layers.h"
#include "engine/source_region.h"
#include "library/library.h"

namespace korvel {

namespace {

// [SECTION] Shared steps

float Unit(float x) { return x >= 0.0f ? std::min(x, 1.0f) : 0.0f; }

// The renderer's settings and the event's curves across [from, to].
void SetAlloyFields(const Project& project, const Event& event, float from, float to, LayerResult& layer) {
    layer.procMode = kProcModeAlloy;
    layer.alloyMorph = event.alloyMorph;
    layer.alloyAlgo = project.alloyAlgorithm;
    layer.alloyTransferDepth = project.alloyTransferDepth;
    layer.alloyAttackGraft = project.alloyAttackGraft;
    layer.alloyMicroPitch = project.alloyMicroPitch;
    layer.alloyFilterBands = project.alloyFilterBands;
    for (int l = 0; l < kAlloyCurvePoints; ++l) {
        const float p = from + static_cast<float>(l) / 31.0f * (to - from);
        layer.alloyToneCurve[l] = SampleWeightCurve(event, p);
        layer.alloyGainCurve[l] = Unit(SampleCurve256(event.intensity, p) * event.intensityScale);
    }
    layer.hasAlloyCurves = true;
}

std::vector<ScoredCandidate> ScoreSlot(const BuildContext& build, const EventPlan& plan,
                                       const std::vector<UsedSound>& usedThisEvent, float weight, float duration,
                                       std::int32_t kind, std::int32_t maxResults, float intensity,
                                       const BandWeights* profile, float meanNoisiness, std::int32_t layersSoFar) {
    std::vector<ScoredCandidate> candidates = ScoreCandidates(build.project, plan.pool, weight, duration, kind, plan.terms,
                                                              maxResults, intensity, profile, meanNoisiness, layersSoFar);
    for (ScoredCandidate& c : candidates)
        c.score *= RepetitionFactor(c.file->path, usedThisEvent, build.usedInBuild, plan.eventStart, c.file->mmGroup);
    std::erase_if(candidates, [](const ScoredCandidate& c) { return !(c.score > 0.0f); });
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
    return candidates;
}

void FillSource(LayerSourceRef& source, const LibraryFile& file, float offset, float length) {
    source.filepath = file.path;
    source.fileId = file.fileId;
    source.offset = offset;
    source.duration = length;
    source.name = file.name;
}

// Where in a longer file the event's loudness shape fits best.
float MatchOffset(const LibraryFile& file, float length, const TargetProfile& target, BuildRandom& random) {
    const float slack = file.duration - length;
    if (!(slack > 0.01f)) return 0.0f;
    const std::vector<float> envelope = GetEnergyEnvelope(file, 20.0f);
    if (envelope.empty()) return random.Next() * slack;
    const int count = static_cast<int>(std::clamp(std::floor(10.0f * slack), 10.0f, 50.0f));
    float best = -1.0f;
    float bestOffset = 0.0f;
    float bins[kTargetProfilePoints];
    for (int i = 0; i < count; ++i) {
        const float offset = static_cast<float>(i) * slack / static_cast<float>(count - 1);
        BinEnvelope(envelope, file.duration, offset, length, bins, kTargetProfilePoints);
        const float similarity = CosineSimilarity(bins, target.data(), kTargetProfilePoints);
        if (similarity > best) {
            best = similarity;
            bestOffset = offset;
        }
    }
    return bestOffset;
}

void ScaleFades(LayerResult& layer, float budget) {
    const float sum = layer.fadeIn + layer.fadeOut;
    if (sum > budget) {
        layer.fadeIn *= budget / sum;
        layer.fadeOut *= budget / sum;
    }
}

}  // namespace

// [SECTION] Main alloy layers

void BuildAlloyLayers(BuildContext& build, EventPlan& plan) {
    Project& project = build.project;
    const Event& event = project.events[static_cast<std::size_t>(plan.eventIndex)];
    if (plan.pinnedLayers >= plan.plannedLayers) {
        PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
        return;
    }
    const std::int32_t kind = event.shape;
    const float s = SyncFraction(event);
    const float spread = Unit(event.spread);
    float wmin = 1.0f, wmax = 0.0f;
    for (int k = 0; k < kCurvePoints; ++k) {
        const float w = SampleWeightCurve(event, static_cast<float>(k) / 255.0f);
        wmin = std::min(wmin, w);
        wmax = std::max(wmax, w);
    }
    const float r = wmax - wmin;
    const std::int32_t mains = r >= 0.45f ? 3 : r >= 0.15f ? 2 : 1;
    std::vector<UsedSound> usedThisEvent;

    for (std::int32_t k = 0; k < mains; ++k) {
        const float tone = mains == 1 ? (wmin + wmax) / 2.0f
                                      : wmin + static_cast<float>(k) / static_cast<float>(mains - 1) * r;
        LayerResult layer;
        layer.startTime = plan.eventStart;
        layer.duration = event.duration;
        layer.weight = tone;
        layer.eventIdx = plan.eventIndex;
        layer.track = plan.pinnedLayers + k;
        SetAlloyFields(project, event, 0.0f, 1.0f, layer);

        if (plan.pool.empty()) {
            layer.name = "[Sketch] Alloy";
            layer.isSketch = true;
        } else {
            float tones[4];
            for (int m = 0; m < 4; ++m) {
                const float u = build.random.Next();
                tones[m] = std::clamp(tone + (static_cast<float>(m) / 3.0f - 0.5f) * std::min(0.35f * r, 0.6f * spread) +
                                          (u - 0.5f) * 0.15f,
                                      0.0f, 1.0f);
            }
            const TargetProfile target = TargetEnvelopeProfile(event, tone, 0.0f, 1.0f);
            LayerSourceRef primary;
            LayerSourceRef* slots[4] = {&primary, &layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv};
            const LibraryFile* primaryFile = nullptr;
            bool filled = false;
            for (int m = 0; m < 4; ++m) {
                std::vector<ScoredCandidate> candidates =
                    ScoreSlot(build, plan, usedThisEvent, tones[m], event.duration, kind, 12, 0.5f, nullptr, -1.0f, 0);
                if (candidates.empty()) continue;
                const LibraryFile& file = *candidates[DrawWeighted(candidates, build.random)].file;
                const float length = std::min(file.duration, event.duration);
                const float offset = MatchOffset(file, length, target, build.random);
                FillSource(*slots[m], file, offset, length);
                NoteUse(build, usedThisEvent, file, offset, length, plan.eventStart);
                if (m == 0) primaryFile = &file;
                filled = true;
            }
            layer.filepath = primary.filepath;
            layer.fileId = primary.fileId;
            layer.sourceOffset = primary.offset;
            layer.name = filled ? MakeDesignedSoundName(plan.terms, primary.name, layer.alloyMid.name, k) : "(no match)";

            LibraryFile unreadable;
            const LibraryFile& fadeFile = primaryFile != nullptr ? *primaryFile : unreadable;
            const float ai = AutoFadeInLength(fadeFile, layer.sourceOffset, event.duration);
            const float ao = AutoFadeOutLength(fadeFile, layer.sourceOffset, event.duration, 0.3f * event.duration);
            const FadeLengths curve = CurveFadeLengths(event, 0.0f, 1.0f, 0.05f, event.duration);
            layer.fadeIn = std::max(2.0f * curve.fadeIn, ai);
            layer.fadeOut = std::max(2.0f * curve.fadeOut, ao);
            ScaleFades(layer, 0.85f * event.duration);
            layer.sourceDuration = event.duration;
        }
        layer.stereo = event.stereo;
        BuildIntensityGain(event, layer);
        if (mains > 1) {
            const float span = std::max(0.001f, event.duration);
            for (int p = 0; p < kCurvePoints; ++p) {
                const float at = Unit((static_cast<float>(p) / 255.0f * layer.duration + layer.startTime - plan.eventStart) / span);
                const float d = std::fabs(layer.weight - SampleWeightCurve(event, at));
                layer.intGain[p] *= std::max(0.05f, std::exp(-4.0f * d * d));
            }
        }
        AppendEventLayer(build, std::move(layer));
    }

    // [SECTION] Extra alloy layers over the loud stretches

    const float peak = std::max(0.0f, plan.peakIntensity);
    const std::int32_t extras =
        std::min(std::max(0, plan.layerCap - mains), std::max(0, plan.plannedLayers - plan.pinnedLayers - mains));
    if (peak > 0.15f && !plan.pool.empty() && extras > 0) {
        const std::int32_t fm = std::max(1, extras - 1);
        std::int32_t drawn = 0;
        float noisinessSum = 0.0f;
        for (std::int32_t f = 0; f < extras; ++f) {
            const float threshold = static_cast<float>(f) / static_cast<float>(fm) * 0.85f * peak + 0.08f;
            if (peak < threshold) break;
            int first = -1, last = -1;
            for (int i = 0; i < kCurvePoints; ++i) {
                if (event.intensity[i] * event.intensityScale >= threshold) {
                    if (first < 0) first = i;
                    last = i;
                }
            }
            if (first < 0) continue;
            const float fx = static_cast<float>(first) / kCurvePoints;
            const float fy = static_cast<float>(last + 1) / kCurvePoints;
            const float start = std::clamp(fx + (build.random.Next() - 0.5f) * 0.06f, 0.0f, 0.95f);
            const float end = std::clamp(fy + (build.random.Next() - 0.5f) * 0.06f, start + 0.05f, 1.0f);
            const float len = (end - start) * event.duration;
            if (!(len >= 0.1f)) continue;
            const float mid = (start + end) / 2.0f;
            const float tone =
                std::clamp(SampleWeightCurve(event, mid) + (build.random.Next() - 0.5f) * spread * 0.4f, 0.0f, 1.0f);
            const float I = SampleCurve256(event.intensity, mid) * event.intensityScale;

            bool useProfile = false;
            for (float band : plan.bandProfile) useProfile = useProfile || band > 0.01f;
            std::vector<ScoredCandidate> candidates =
                ScoreSlot(build, plan, usedThisEvent, tone, len, kind, 10, I, useProfile ? &plan.bandProfile : nullptr,
                          drawn > 0 ? noisinessSum / static_cast<float>(drawn) : -1.0f, drawn);
            if (candidates.empty()) continue;
            const LibraryFile& file = *candidates[DrawWeighted(candidates, build.random)].file;

            LayerResult layer;
            layer.weight = tone;
            layer.eventIdx = plan.eventIndex;
            layer.track = plan.pinnedLayers + mains + f;
            SetAlloyFields(project, event, start, end, layer);
            const TargetProfile target = TargetEnvelopeProfile(event, tone, start, end);
            const std::vector<UsedSound> used = JoinUsed(usedThisEvent, build.usedInBuild);
            const SourceRegion region = ChooseSourceRegion(file, len, kind, mid, build.random, &event.intensity,
                                                           event.intensityScale, s, &used, target.data());
            layer.filepath = file.path;
            layer.fileId = file.fileId;
            layer.sourceOffset = region.sourceOffset;
            layer.sourceDuration = len;
            layer.audioSyncOffset = region.syncPoint;
            layer.name = MakeDesignedSoundName(plan.terms, file.name, "", f + 1);

            if (IsKind(kind, EventKind::Contour)) {
                layer.startTime = plan.eventStart + start * event.duration;
                layer.duration = len;
            } else {
                // The sync point lands on the event's time, within the event.
                const float d = event.time - region.syncPoint;
                const float st = std::max(plan.eventStart, d);
                layer.duration = std::max(0.1f, std::min(plan.eventStart + event.duration, d + len) - st);
                if (d < st) layer.sourceOffset += st - d;
                layer.startTime = st;
            }
            const float ns = NoiseSustainValue(file);
            FadeLengths curve = CurveFadeLengths(event, start, end, threshold, layer.duration);
            const FadeLengths match = MatchCurveToEnvelope(event, plan.eventStart, file, tone, layer.startTime, layer.duration);
            layer.fadeIn = std::max({match.fadeIn, curve.fadeIn * (1.5f * ns + 2.0f), region.fadeIn});
            layer.fadeOut = std::max({match.fadeOut, curve.fadeOut * (1.5f * ns + 2.0f), region.fadeOut});
            layer.sustainAmount = ns;
            ScaleFades(layer, (0.12f * ns + 0.8f) * layer.duration);
            NoteUse(build, usedThisEvent, file, layer.sourceOffset, len, plan.eventStart);
            for (int b = 0; b < kBandCount; ++b) plan.bandProfile[b] += file.bandEnergies[b];
            noisinessSum += NoisinessIndex(file);
            ++drawn;

            for (LayerSourceRef* source : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv}) {
                const float t = std::clamp(tone + (build.random.Next() - 0.5f) * spread * 0.5f, 0.0f, 1.0f);
                const std::vector<ScoredCandidate> secondary =
                    ScoreSlot(build, plan, usedThisEvent, t, len, kind, 8, 0.5f, nullptr, -1.0f, 0);
                if (secondary.empty()) continue;
                // Uniformly among the best three.
                build.random.Next();
                const std::size_t pick =
                    (build.random.state >> 16) % std::min<std::size_t>(3, secondary.size());
                const LibraryFile& other = *secondary[pick].file;
                const float length = std::min(len, other.duration);
                const float slack = other.duration - length;
                const float offset = slack > 0.01f ? build.random.Next() * slack : 0.0f;
                FillSource(*source, other, offset, length);
                NoteUse(build, usedThisEvent, other, offset, length, plan.eventStart);
            }
            layer.stereo = event.stereo;
            AppendEventLayer(build, std::move(layer));
        }
    }
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
}

}  // namespace korvel
