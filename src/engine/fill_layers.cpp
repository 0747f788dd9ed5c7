#include "engine/build_kinds.h"

// [SECTION] Layer count and tones
// [SECTION] The Fill's own file draw and gain curve
// [SECTION] The layers

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <numeric>

#include "engine/fill_layers.h"
#include "engine/published_layers.h"
#include "library/library.h"

namespace korvel {

namespace {

// [SECTION] Layer count and tones

struct FillPlan {
    bool curated = false;
    CandidatePool sorted;  // curated files, darkest first
    std::int32_t count = 0;
    float lo = 0.0f;
    float hi = 1.0f;
};

FillPlan PlanFill(const Event& event, const EventPlan& plan) {
    FillPlan fill;
    float wmin = 1.0f, wmax = 0.0f;
    for (int k = 0; k < kCurvePoints; ++k) {
        const float w = SampleWeightCurve(event, static_cast<float>(k) / 255.0f);
        wmin = std::min(wmin, w);
        wmax = std::max(wmax, w);
    }
    const std::int32_t left = std::max(0, plan.plannedLayers - plan.pinnedLayers);
    const std::int32_t fillLayers = std::clamp(event.fillLayers, 0, 24);
    // A small palette the event names is used whole.
    fill.curated = !plan.pool.empty() && plan.pool.size() <= static_cast<std::size_t>(plan.layerCap) &&
                   event.libFilter[0] != '\0';
    if (fill.curated) {
        fill.sorted = plan.pool;
        std::stable_sort(fill.sorted.begin(), fill.sorted.end(),
                         [](const LibraryFile* a, const LibraryFile* b) { return a->brightness < b->brightness; });
        fill.count = std::min(std::max(1, left), static_cast<std::int32_t>(fill.sorted.size()));
    } else if (fillLayers > 0) {
        fill.count = std::min({fillLayers, plan.layerCap, std::max(1, left)});
    } else {
        if (wmax - wmin >= 0.1f) {
            fill.lo = wmin;
            fill.hi = wmax;
        } else {
            fill.lo = std::max(0.0f, wmin - 0.05f);
            fill.hi = std::min(1.0f, wmax + 0.05f);
        }
        const float r = fill.hi - fill.lo;
        const std::int32_t most = std::max(1, std::min(plan.layerCap, left));
        const auto perTone = static_cast<std::int32_t>(std::floor(r / 0.12f + 0.5f));
        fill.count = std::clamp(std::max(3, perTone), std::min(3, most), most);
    }
    if (plan.pinnedLayers > 0 && left == 0) fill.count = 0;
    return fill;
}

}  // namespace

// [SECTION] The Fill's own file draw and gain curve

std::size_t FillDraw(const std::vector<ScoredCandidate>& candidates, std::int32_t& drawCounter, std::uint32_t perLayer) {
    const std::size_t k = std::min<std::size_t>(8, candidates.size());
    double total = 0.0;
    for (std::size_t i = 0; i < k; ++i) total += candidates[i].score;
    if (!(total > 0.0) || k < 2) return 0;
    // Its own seed, so the build's generator is untouched and a Fill's files
    // vary from build to build even when everything else repeats.
    ++drawCounter;
    std::uint32_t x = static_cast<std::uint32_t>(drawCounter) * 2654435761u;
    x ^= static_cast<std::uint32_t>(std::time(nullptr));
    x ^= perLayer;
    x = x * 1103515245u + 12345u;
    const double target = static_cast<double>(x >> 16) / 65535.0 * total;
    double running = 0.0;
    for (std::size_t i = 0; i < k; ++i) {
        running += candidates[i].score;
        if (running >= target) return i;
    }
    return 0;
}

void BuildFillGain(const Event& event, float tone, float gainWidth, LayerResult& layer) {
    // The outer tones are lifted.
    float emphasis = 1.0f;
    if (tone < 0.3f) emphasis = 1.0f + 1.5f * (0.3f - tone);
    else if (tone > 0.8f) emphasis = 1.0f + 0.8f * (tone - 0.8f);
    std::array<float, kFillGainPoints> g;
    for (int h = 0; h < kFillGainPoints; ++h) {
        const float d = std::fabs(tone - SampleWeightCurve(event, static_cast<float>(h) / 127.0f)) / gainWidth;
        g[h] = std::clamp(std::exp(-1.8f * d * d) * emphasis, 0.0f, 2.8f);
    }
    // A 0.5 s time constant over the event, run both ways.
    const float duration = event.duration > 0.0f ? event.duration : 0.0f;
    const float c = std::clamp(1.0f - std::exp(-2.0f * duration / 127.0f), 0.005f, 1.0f);
    std::array<float, kFillGainPoints> forward;
    forward[0] = g[0];
    for (int h = 1; h < kFillGainPoints; ++h) forward[h] = forward[h - 1] + (g[h] - forward[h - 1]) * c;
    float back = forward[kFillGainPoints - 1];
    layer.fillGain[kFillGainPoints - 1] = forward[kFillGainPoints - 1];
    for (int h = kFillGainPoints - 2; h >= 0; --h) {
        back = back + (forward[h] - back) * c;
        layer.fillGain[h] = (forward[h] + back) / 2.0f;
    }
    layer.hasFillGain = true;
}

// [SECTION] The layers

void BuildFillLayers(BuildContext& build, EventPlan& plan) {
    Project& project = build.project;
    const Event& event = project.events[static_cast<std::size_t>(plan.eventIndex)];
    const FillPlan fill = PlanFill(event, plan);

    // A scene-linked Fill overlaps the next scene's by its crossfade.
    const float secondsPerFrame = 1.0f / std::max(1.0f, project.fps);
    const float crossfade =
        event.sceneLink >= 0 ? static_cast<float>(std::max(0, event.sceneCrossfade)) * secondsPerFrame : 0.0f;
    float meanIntensity = 0.0f;
    for (float v : event.intensity) meanIntensity += v;
    meanIntensity = meanIntensity / kCurvePoints * event.intensityScale;

    const float r = fill.hi - fill.lo;
    const float step = fill.count > 1 ? r / static_cast<float>(fill.count - 1) : r;
    const float gainWidth = std::max(0.05f, step);
    std::vector<UsedSound> usedThisEvent;
    std::int32_t drawn = 0;
    float noisinessSum = 0.0f;

    for (std::int32_t l = 0; l < fill.count; ++l) {
        const float tone = fill.count == 1 ? (fill.lo + fill.hi) / 2.0f
                                           : fill.lo + static_cast<float>(l) / static_cast<float>(fill.count - 1) * r;
        LayerResult layer;
        layer.startTime = plan.eventStart;
        layer.duration = event.duration + crossfade;
        layer.weight = tone;
        layer.eventIdx = plan.eventIndex;
        layer.track = plan.pinnedLayers + l;
        layer.procMode = kProcModeLoopFill;
        layer.fadeIn = crossfade;
        layer.fadeOut = crossfade;

        const LibraryFile* file = nullptr;
        if (fill.curated) {
            file = fill.sorted[static_cast<std::size_t>(l) % fill.sorted.size()];
        } else if (plan.pool.empty()) {
            layer.name = "[Sketch] Fill";
            layer.isSketch = true;
            layer.sourceDuration = event.duration;
        } else {
            bool useProfile = false;
            for (float band : plan.bandProfile) useProfile = useProfile || band > 0.01f;
            std::vector<ScoredCandidate> candidates = ScoreCandidates(
                project, plan.pool, tone, event.duration, KindValue(EventKind::Fill), plan.terms, 32, meanIntensity,
                useProfile ? &plan.bandProfile : nullptr, drawn > 0 ? noisinessSum / static_cast<float>(drawn) : -1.0f,
                drawn);
            for (ScoredCandidate& c : candidates)
                c.score *= RepetitionFactor(c.file->path, usedThisEvent, build.usedInBuild, plan.eventStart, c.file->mmGroup);
            std::erase_if(candidates, [](const ScoredCandidate& c) { return !(c.score > 0.0f); });
            std::stable_sort(candidates.begin(), candidates.end(),
                             [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
            if (candidates.empty()) {
                layer.name = "(no match)";
                layer.sourceDuration = event.duration;
            } else {
                const auto perLayer = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&layer));
                file = candidates[FillDraw(candidates, project.drawCounter, perLayer)].file;
            }
        }
        if (file != nullptr) {
            layer.name = file->name;
            layer.filepath = file->path;
            layer.fileId = file->fileId;
            layer.sourceOffset = 0.0f;
            layer.sourceDuration = file->duration;
            NoteUse(build, usedThisEvent, *file, 0.0f, file->duration, plan.eventStart);
            for (int b = 0; b < kBandCount; ++b) plan.bandProfile[b] += file->bandEnergies[b];
            noisinessSum += NoisinessIndex(*file);
            ++drawn;
        }
        BuildFillGain(event, tone, gainWidth, layer);
        layer.stereo = event.stereo;
        ApplyPitchVariation(layer, event.pitchVariation, build.random);
        AppendEventLayer(build, std::move(layer));
    }
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
}

}  // namespace korvel
