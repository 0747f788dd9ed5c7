#include "engine/build_events.h"

// [SECTION] Shared helpers and the weighted draw
// [SECTION] Planning one event
// [SECTION] Pinned files
// [SECTION] The walk over the events

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "engine/bed_event.h"
#include "engine/build_finish.h"
#include "engine/build_kinds.h"
#include "engine/clip_event.h"
#include "engine/curve_routines.h"
#include "engine/published_layers.h"
#include "engine/render_job.h"
#include "engine/source_region.h"
#include "library/file_id.h"
#include "library/library.h"

namespace korvel {

namespace {

// Fixed-size text fields may come from files without a terminator.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

// Limits to 0..1 and reads a value that is not a number as 0, so that no
// count derived from it is undefined.
float Unit(float x) { return x >= 0.0f ? std::min(x, 1.0f) : 0.0f; }

float EventStart(const Event& event) { return event.time - event.syncOffset; }

std::string_view FileNamePart(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

// [SECTION] Shared helpers and the weighted draw

float SyncFraction(const Event& event) {
    if (event.duration <= 0.0f) return 0.5f;
    return Unit(event.syncOffset / event.duration);
}

std::size_t DrawWeighted(std::vector<ScoredCandidate>& candidates, BuildRandom& random) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
    double sum = 0.0;
    for (const ScoredCandidate& c : candidates) sum += c.score;
    if (!(sum > 0.0) || candidates.size() < 2) return 0;
    const double target = random.Next() * sum;
    double running = 0.0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        running += candidates[i].score;
        if (running >= target) return i;
    }
    return 0;
}

void AppendEventLayer(BuildContext& build, LayerResult&& layer) { AppendBuiltLayer(build.project, std::move(layer)); }

// [SECTION] Planning one event

EventPlan PlanEvent(const BuildContext& build, std::int32_t eventIndex) {
    const Project& project = build.project;
    const Event& event = project.events[static_cast<std::size_t>(eventIndex)];
    const bool fill = IsKind(event.shape, EventKind::Fill);
    const std::int32_t fillLayers = std::clamp(event.fillLayers, 0, 24);

    EventPlan plan;
    plan.eventIndex = eventIndex;
    plan.eventStart = EventStart(event);
    plan.terms = ParseKeywordQuery(FieldText(event.keywords));
    plan.group = EffectiveGroup(event);
    plan.layerCap = fill && fillLayers > 0 ? fillLayers : 8;

    const std::string_view filter = FieldText(event.libFilter);
    if (!filter.empty()) {
        const std::string filterText(filter);
        plan.pool = GatherCandidateFiles(build.palettes, plan.group, filterText.c_str());
        if (plan.pool.empty()) plan.pool = GatherCandidateFiles(build.palettes, -1, filterText.c_str());
    } else {
        const bool knownGroup = plan.group >= 0 && plan.group < kTrackGroupCount;
        plan.pool = knownGroup ? build.groupPools[static_cast<std::size_t>(plan.group)] : CandidatePool{};
        if (plan.pool.empty()) plan.pool = build.anyGroupPool;
    }

    // What already sounds over the event; a hero owns its span, and the
    // others leave room for the heroes they overlap.
    const float end = plan.eventStart + event.duration;
    MeasureSpectralOccupancy(project, plan.eventStart, end, eventIndex, plan.bandProfile);
    if (event.hero) {
        plan.bandProfile.fill(0.0f);
    } else {
        BandWeights heroBands;
        for (std::size_t k = 0; k < project.events.size(); ++k) {
            const Event& other = project.events[k];
            if (static_cast<std::int32_t>(k) == eventIndex || !other.hero) continue;
            const float otherStart = EventStart(other);
            const float otherEnd = otherStart + other.duration;
            if (plan.eventStart >= otherEnd || otherStart >= end) continue;
            const float overlap = (std::min(end, otherEnd) - std::max(plan.eventStart, otherStart)) /
                                  std::max(0.01f, event.duration);
            ToneToBandWeights(other.weightCenter, heroBands);
            for (int b = 0; b < kBandCount; ++b) plan.bandProfile[b] += overlap * 1.5f * heroBands[b];
        }
    }

    float peak = 0.0f;
    for (float v : event.intensity) peak = std::max(peak, v);
    plan.peakIntensity = peak * event.intensityScale;

    std::int32_t n = static_cast<std::int32_t>(std::floor(Unit(event.spread) * 3.0f + 0.5f)) + 3;
    if (plan.peakIntensity > 0.8f) n += 1;
    if (event.hero) n = static_cast<std::int32_t>(std::floor(static_cast<float>(n) * 1.5f + 0.5f));
    n = std::min(n, plan.layerCap);
    if (fill && fillLayers > 0) n = std::max(n, fillLayers);
    plan.plannedLayers = n;
    return plan;
}

// [SECTION] Pinned files

namespace {

// The pinned layer's fades: at least a share of its length and the region's
// own, together no more than three quarters of it.
void SetPinnedFades(LayerResult& layer, float fadeIn, float fadeOut) {
    const float limit = 0.75f * layer.duration;
    if (fadeIn + fadeOut > limit) {
        const float scale = limit / (fadeIn + fadeOut);
        fadeIn *= scale;
        fadeOut *= scale;
    }
    layer.fadeIn = fadeIn;
    layer.fadeOut = fadeOut;
}

void BuildPinnedLayers(BuildContext& build, EventPlan& plan) {
    Event& event = build.project.events[static_cast<std::size_t>(plan.eventIndex)];
    const float s = SyncFraction(event);
    const float w = SampleWeightCurve(event, s);
    const std::int32_t kind = event.shape;

    for (std::size_t k = 0; k < event.pinnedFiles.size(); ++k) {
        const std::string id = k < event.pinnedFileIds.size() ? event.pinnedFileIds[k] : std::string();
        // The events tab reads the paths while the build runs (JobReadLock):
        // a relinked one is written only when it differs, under that lock.
        if (!id.empty()) {
            std::string resolved = ResolveFileId(id, event.pinnedFiles[k]);
            if (!resolved.empty() && resolved != event.pinnedFiles[k]) {
                std::lock_guard lock(PublishedLayersMutex);
                event.pinnedFiles[k] = std::move(resolved);
            }
        }
        const std::string& path = event.pinnedFiles[k];
        const LibraryFile* file = nullptr;
        if (!id.empty()) {
            for (const LibraryFile* candidate : plan.pool)
                if (candidate->fileId == id) {
                    file = candidate;
                    break;
                }
        }
        if (file == nullptr) {
            for (const LibraryFile* candidate : plan.pool)
                if (candidate->path == path) {
                    file = candidate;
                    break;
                }
        }

        LayerResult layer;
        layer.startTime = plan.eventStart;
        layer.duration = event.duration;
        layer.weight = w;
        layer.eventIdx = plan.eventIndex;
        layer.track = static_cast<std::int32_t>(k);
        layer.procMode = kProcModeSegment;
        if (file != nullptr) {
            layer.name = file->name;
            layer.filepath = file->path;
            layer.fileId = file->fileId;
            // Drawn for its place in the sequence; a pinned layer keeps its tone.
            (void)JitterTone(w, event.pitchVariation, build.random);
            const SourceRegion region = ChooseSourceRegion(*file, event.duration, kind, s, build.random,
                                                           &event.intensity, event.intensityScale, s, nullptr,
                                                           nullptr);
            layer.sourceOffset = region.sourceOffset;
            layer.sourceDuration = region.length;
            layer.audioSyncOffset = region.syncPoint;
            ApplyPitchVariation(layer, event.pitchVariation, build.random);
            float len = region.length;
            if (std::fabs(layer.pitchVarShift) > 0.01f) len /= std::pow(2.0f, layer.pitchVarShift / 12.0f);

            if (IsKind(kind, EventKind::Fill)) {
                layer.startTime = plan.eventStart;
                layer.duration = event.duration;
                layer.fadeIn = 0.0f;
                layer.fadeOut = 0.0f;
            } else {
                // Lined up on the sync point, reaching at most 0.12 s past
                // either end of the event.
                const float d = event.time - region.syncPoint;
                const float start = std::max(plan.eventStart - 0.12f, d);
                const float dur =
                    std::max(0.1f, std::min(plan.eventStart + event.duration + 0.12f, d + len) - start);
                if (d < start) layer.sourceOffset += start - d;
                layer.startTime = start;
                layer.duration = dur;
                if (IsKind(kind, EventKind::Contour) || IsKind(kind, EventKind::Scatter)) {
                    const float span = std::max(0.001f, event.duration);
                    const FadeLengths curve = CurveFadeLengths(event, (start - plan.eventStart) / span,
                                                               (start + dur - plan.eventStart) / span, 0.01f, dur);
                    SetPinnedFades(layer, std::max({0.08f * dur, 0.02f, curve.fadeIn}),
                                   std::max({0.12f * dur, 0.04f, curve.fadeOut}));
                } else {
                    SetPinnedFades(layer, std::max({0.12f * dur, 0.02f, region.fadeIn}),
                                   std::max({0.18f * dur, 0.04f, region.fadeOut}));
                }
            }
        } else {
            layer.name = std::string(FileNamePart(path));
            layer.filepath = path;
            layer.fileId = id;
        }
        layer.stereo = event.stereo;
        BuildIntensityGain(event, layer);
        AppendEventLayer(build, std::move(layer));
    }
    plan.pinnedLayers = static_cast<std::int32_t>(event.pinnedFiles.size());
    PublishBuiltLayers(build.project, static_cast<std::int32_t>(build.project.results.size()));
}

void BuildKindLayers(BuildContext& build, EventPlan& plan) {
    const Event& event = build.project.events[static_cast<std::size_t>(plan.eventIndex)];
    switch (static_cast<EventKind>(event.shape)) {
        case EventKind::Spot:
            if (event.alloy) BuildAlloyLayers(build, plan);
            else BuildSpotLayers(build, plan);
            break;
        case EventKind::Bloom:
        case EventKind::Contour:
            if (event.alloy) BuildAlloyLayers(build, plan);
            else BuildWashLayers(build, plan);
            break;
        case EventKind::Fill:
            BuildFillLayers(build, plan);
            break;
        case EventKind::Scatter:
            BuildScatterLayers(build, plan);
            break;
        default:
            break;
    }
}

}  // namespace

// [SECTION] The walk over the events

void BuildEvents(Project& project, const std::vector<Palette>& palettes, std::int32_t eventIndex,
                 float rangeStart, float rangeEnd, bool keepExisting, bool keepCaches) {
    BuildContext build(project, palettes);
    build.random.state = TakeBuildSeed();
    if (!keepCaches) ClearSourceRegionCaches();
    for (std::int32_t g = 0; g < kTrackGroupCount; ++g)
        build.groupPools[static_cast<std::size_t>(g)] = GatherCandidateFiles(palettes, g, nullptr);
    build.anyGroupPool = GatherCandidateFiles(palettes, -1, nullptr);
    build.rangeActive = rangeStart >= 0.0f && rangeEnd > rangeStart;
    build.rangeStart = rangeStart;
    build.rangeEnd = rangeEnd;

    if (!keepExisting) {
        LayerStorageEdit edit(project);
        const RebuildRange range{&project.events, build.rangeActive, rangeStart, rangeEnd};
        std::erase_if(project.results, [&](const LayerResult& layer) {
            return eventIndex >= 0 ? layer.eventIdx == eventIndex : IsResultInRebuildRange(layer, range);
        });
    }
    PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));

    for (const LayerResult& layer : project.results) {
        if (layer.filepath.empty() || IsLayerSilenced(layer)) continue;
        build.usedInBuild.push_back({layer.filepath, layer.sourceOffset, layer.sourceDuration, layer.startTime, 0});
    }

    const auto eventCount = static_cast<std::int32_t>(project.events.size());
    for (std::int32_t j = 0; j < eventCount; ++j) {
        const Event& event = project.events[static_cast<std::size_t>(j)];
        if (IsKind(event.shape, EventKind::Clip) || IsKind(event.shape, EventKind::Bed)) {
            // Re-synced on every build, whatever the selection: they follow
            // their files and scenes, not the draw. They may replace layers,
            // so they run under the storage lock.
            LayerStorageEdit edit(project);
            if (IsKind(event.shape, EventKind::Clip)) BuildClipEvent(project, j);
            else SyncBedEventLayers(project, j);
            PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
            continue;
        }
        const bool selected =
            eventIndex >= 0 ? j == eventIndex
                            : !event.locked && (!build.rangeActive ||
                                                SpanOverlapsRange(event.time, event.duration, rangeStart, rangeEnd));
        if (!selected) continue;

        EventPlan plan = PlanEvent(build, j);
        Event& editable = project.events[static_cast<std::size_t>(j)];
        if (editable.pinnedFiles.empty() && editable.usePinnedFile && editable.pinnedFile[0] != '\0' &&
            !IsKind(editable.shape, EventKind::Clip)) {
            // The append may move the list the events tab reads meanwhile.
            std::lock_guard lock(PublishedLayersMutex);
            editable.pinnedFiles.emplace_back(FieldText(editable.pinnedFile));
        }
        if (!editable.pinnedFiles.empty() && !plan.pool.empty()) BuildPinnedLayers(build, plan);
        BuildKindLayers(build, plan);
        PublishBuiltLayers(project, static_cast<std::int32_t>(project.results.size()));
    }

    LayerStorageEdit edit(project);
    FinishBuild(project);
}

}  // namespace korvel
