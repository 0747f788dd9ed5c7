// [SECTION] History
// [SECTION] Re-roll
// [SECTION] Job bodies
#include "engine/sound_history.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>

#include "engine/build_kinds.h"
#include "engine/candidate_pool.h"
#include "engine/curve_routines.h"
#include "engine/keyword_query.h"
#include "engine/published_layers.h"
#include "engine/source_region.h"
#include "engine/voice_sync.h"
#include "library/library.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {

// [SECTION] History

namespace {

// The stored splices belong to the file they were cut from.
void SetFile(LayerResult& layer, const std::string& filepath) {
    if (layer.filepath != filepath) layer.fillChunks.clear();
    layer.filepath = filepath;
    // A placeholder (a build that found nothing, or a file that could not be
    // read) that now names a file is rendered from it: left a placeholder it
    // would play silence and draw no waveform. A file that cannot be read
    // makes it a placeholder again when it renders.
    if (!filepath.empty()) layer.isSketch = false;
}

}  // namespace

void PushSoundHistory(LayerResult& layer) {
    std::vector<SoundChoice>& history = layer.history;
    if (layer.historyPos >= 0 && static_cast<std::size_t>(layer.historyPos) < history.size())
        history.erase(history.begin() + layer.historyPos, history.end());
    layer.historyPos = -1;
    SoundChoice choice{layer.name,           layer.filepath, layer.fileId,  layer.sourceOffset,
                       layer.sourceDuration, layer.fadeIn,   layer.fadeOut, layer.audioSyncOffset};
    if (history.size() >= kMaxSoundHistory) history.erase(history.begin());
    history.push_back(std::move(choice));
}

void ApplySoundChoice(LayerResult& layer, const SoundChoice& choice) {
    layer.name = choice.name;
    SetFile(layer, choice.filepath);
    layer.fileId = choice.fileId;
    layer.sourceOffset = choice.sourceOffset;
    layer.sourceDuration = choice.sourceDuration;
    layer.fadeIn = choice.fadeIn;
    layer.fadeOut = choice.fadeOut;
    layer.audioSyncOffset = choice.audioSyncOffset;
    layer.muted = false;
}

bool StepSoundHistoryBack(LayerResult& layer) {
    std::int32_t b = -1;
    if (layer.historyPos == -1 && !layer.history.empty()) {
        PushSoundHistory(layer);
        b = static_cast<std::int32_t>(layer.history.size()) - 2;
    } else if (layer.historyPos >= 1) {
        b = layer.historyPos - 1;
    }
    if (b < 0 || static_cast<std::size_t>(b) >= layer.history.size()) return false;
    layer.historyPos = b;
    ApplySoundChoice(layer, layer.history[static_cast<std::size_t>(b)]);
    return true;
}

bool StepSoundHistoryForward(LayerResult& layer) {
    if (!layer.HasNextSound()) return false;
    ++layer.historyPos;
    ApplySoundChoice(layer, layer.history[static_cast<std::size_t>(layer.historyPos)]);
    return true;
}

// [SECTION] Re-roll

namespace {

std::uint64_t PoolGroupOf(const CandidatePool& pool, const std::string& path) {
    for (const LibraryFile* file : pool)
        if (file->path == path) return file->mmGroup;
    return 0;
}

void ClampFades(LayerResult& layer, float m) {
    const float d = layer.duration;
    layer.fadeIn = std::clamp(layer.fadeIn, 0.0f, 0.45f * d);
    layer.fadeOut = std::clamp(layer.fadeOut, 0.0f, 0.45f * d);
    const float limit = (0.12f * m + 0.8f) * d;
    const float sum = layer.fadeIn + layer.fadeOut;
    if (sum > limit && sum > 0.0f) {
        layer.fadeIn *= limit / sum;
        layer.fadeOut *= limit / sum;
    }
}

// Swaps an edited copy of layer k in: the timeline reads the published
// layer meanwhile, and a new name or path may free the old text under it.
// A re-roll that drew a sound bumps the revision (under the same lock: the
// events list reads it while a job runs).
void CommitLayer(Project& project, std::size_t k, LayerResult&& layer, bool rerolled) {
    LayerStorageEdit edit(project);
    project.results[k] = std::move(layer);
    if (rerolled) ++project.revision;
}

// The re-roll itself, on `layer`, a copy of layer k whose history already
// holds its current sound. Of the project only the re-roll count changes.
bool RerollCopy(Project& project, std::int32_t k, LayerResult& layer, const Event& event,
                const std::vector<Palette>& palettes) {
    const std::vector<KeywordTerm> terms = ParseKeywordQuery(event.keywords);
    const char* filter = event.libFilter[0] != '\0' ? event.libFilter : nullptr;
    CandidatePool pool = GatherCandidateFiles(palettes, EffectiveGroup(event), filter);
    if (pool.empty()) pool = GatherCandidateFiles(palettes, -1, filter);
    if (pool.empty()) return false;
    if (event.pinnedFile[0] != '\0') pool = FindSimilarSounds(pool, TextOf(event.pinnedFile));

    std::vector<ScoredCandidate> scored =
        ScoreCandidates(project, pool, layer.weight, event.duration, event.shape, terms, 20, 0.5f, nullptr, -1.0f, 0);
    if (scored.empty()) return false;

    std::vector<UsedSound> used;
    for (const LayerResult& other : project.results) {
        if (other.eventIdx != layer.eventIdx || other.filepath.empty()) continue;
        used.push_back({other.filepath, other.sourceOffset, other.sourceDuration, other.startTime,
                        PoolGroupOf(pool, other.filepath)});
    }
    const std::vector<UsedSound> noBuild;
    for (ScoredCandidate& c : scored) {
        if (c.file->path != layer.filepath)
            c.score *= RepetitionFactor(c.file->path, used, noBuild, 0.0f, c.file->mmGroup);
        else
            c.score *= 0.01f;
    }
    std::erase_if(scored, [](const ScoredCandidate& c) { return !(c.score > 0.0f); });
    if (scored.empty()) return false;
    std::stable_sort(scored.begin(), scored.end(),
                     [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
    scored.resize(std::min<std::size_t>(8, scored.size()));
    float sum = 0.0f;
    for (const ScoredCandidate& c : scored) sum += c.score;
    if (!(sum > 0.0f)) return false;

    ++project.rerollCounter;
    BuildRandom random;
    random.state = (static_cast<std::uint32_t>(project.rerollCounter) * 0x9E3779B1u) ^
                   static_cast<std::uint32_t>(std::time(nullptr)) ^
                   static_cast<std::uint32_t>(
                       reinterpret_cast<std::uintptr_t>(&project.results[static_cast<std::size_t>(k)]));
    const float target = random.Next() * sum;
    const LibraryFile* chosen = scored[0].file;
    float running = 0.0f;
    for (const ScoredCandidate& c : scored) {
        running += c.score;
        if (running >= target) {
            chosen = c.file;
            break;
        }
    }
    const LibraryFile& file = *chosen;

    float bandSum = 0.0f;
    for (float b : file.bandEnergies) bandSum += b;
    if (bandSum > 1e-6f)
        for (std::size_t b = 0; b < layer.bandEnergies.size(); ++b) layer.bandEnergies[b] = file.bandEnergies[b] / bandSum;

    ApplyPitchVariation(layer, event.pitchVariation, random);
    const float p = std::fabs(layer.pitchVarShift) > 0.01f ? std::pow(2.0f, layer.pitchVarShift / 12.0f) : 1.0f;

    layer.name = file.name;
    SetFile(layer, file.path);
    layer.fileId = file.fileId;
    layer.muted = false;
    if (layer.procMode == kProcModeLoopFill) {
        layer.sourceOffset = 0.0f;
        layer.sourceDuration = file.duration;
        return true;
    }

    const float bigD = event.duration;
    const float t0 = event.time - event.syncOffset;
    const float s = layer.startTime, d = layer.duration;
    const bool contour = IsKind(event.shape, EventKind::Contour);
    const bool fits = contour && s >= t0 - 0.5f && t0 + bigD + 0.5f >= s + d;
    const SourceRegion region = ChooseSourceRegion(file, fits ? d : bigD, event.shape, 0.5f, random, nullptr, 1.0f,
                                                   0.5f, &used, nullptr);
    const float m = NoiseSustainValue(file);
    layer.sustainAmount = m;
    layer.sourceOffset = region.sourceOffset;
    layer.sourceDuration = region.length;
    layer.audioSyncOffset = region.syncPoint;
    const float n = region.length;

    if (fits) {
        const float dd = std::min(d + std::min(0.8f, (0.25f * m + 0.18f) * d), n / p);
        layer.duration = dd;
        const float span = std::max(bigD, 0.001f);
        const FadeLengths c = CurveFadeLengths(event, std::clamp((s - t0) / span, 0.0f, 1.0f),
                                               std::clamp((s + dd - t0) / span, 0.0f, 1.0f), 0.1f, dd);
        layer.fadeIn = std::max({0.2f * m + 0.04f, (0.15f * m + 0.08f) * dd, (1.5f * m + 2.0f) * c.fadeIn});
        layer.fadeOut = std::max({0.2f * m + 0.06f, (0.15f * m + 0.1f) * dd, (1.5f * m + 2.0f) * c.fadeOut});
    } else if (IsKind(event.shape, EventKind::Spot) || IsKind(event.shape, EventKind::Bloom)) {
        const float e = event.time - region.syncPoint;
        const float q = std::min(1.0f, 0.15f * bigD) * m + 0.12f;
        const float start = std::max(t0 - q, e);
        const float end = std::min(t0 + bigD + q, e + n / p);
        layer.duration = std::max(end - start, 0.1f);
        if (e < start) layer.sourceOffset += start - e;
        layer.startTime = start;
        layer.fadeIn = std::max({0.02f * layer.duration, 0.01f, region.fadeIn});
        layer.fadeOut = std::max({0.04f * layer.duration, 0.03f, region.fadeOut});
    } else {
        layer.startTime = event.time - region.syncPoint;
        layer.fadeIn = region.fadeIn;
        layer.fadeOut = region.fadeOut;
    }
    ClampFades(layer, m);
    return true;
}

}  // namespace

bool RerollLayer(Project& project, std::int32_t k, const std::vector<Palette>& palettes) {
    if (k < 0 || static_cast<std::size_t>(k) >= project.results.size()) return false;
    const auto index = static_cast<std::size_t>(k);
    LayerResult layer = project.results[index];
    if (layer.eventIdx < 0 || static_cast<std::size_t>(layer.eventIdx) >= project.events.size()) return false;
    if (layer.procMode == kProcModeAlloy) return false;
    const Event& event = project.events[static_cast<std::size_t>(layer.eventIdx)];
    PushSoundHistory(layer);
    const bool changed = RerollCopy(project, k, layer, event, palettes);
    // Also without a new sound: the history has grown.
    CommitLayer(project, index, std::move(layer), changed);
    return changed;
}

// [SECTION] Job bodies

namespace {

// A history step on a copy of the job's layer, swapped in when it changed.
bool StepJobLayer(std::int32_t index, bool (*step)(LayerResult&)) {
    Project& project = CurrentProject;
    if (index < 0 || static_cast<std::size_t>(index) >= project.results.size()) return false;
    LayerResult layer = project.results[static_cast<std::size_t>(index)];
    if (!step(layer)) return false;
    CommitLayer(project, static_cast<std::size_t>(index), std::move(layer), false);
    return true;
}

void EndJob() { GlobalAppState.backgroundJob.done.store(true, std::memory_order_release); }

}  // namespace

void RunPreviousSoundJob(std::int32_t layerIndex) {
    if (StepJobLayer(layerIndex, StepSoundHistoryBack)) RerenderLayerEvent(layerIndex);
    EndJob();
}

void RunNextHistorySoundJob(std::int32_t layerIndex) {
    if (StepJobLayer(layerIndex, StepSoundHistoryForward)) RerenderLayerEvent(layerIndex);
    EndJob();
}

void RunRerollSoundJob(std::int32_t layerIndex) {
    // The job thread is the layers' only writer, so it reads them unlocked.
    const std::vector<LayerResult>& layers = CurrentProject.results;
    const auto k = static_cast<std::size_t>(layerIndex);
    const bool valid = layerIndex >= 0 && k < layers.size();
    const std::string before = valid ? layers[k].filepath : std::string();
    if (RerollLayer(CurrentProject, layerIndex, SoundLibrary.palettes)) RerenderLayerEvent(layerIndex);
    // Its own file drawn again, or nothing drawn: not a silent no-op.
    if (valid && k < layers.size() && layers[k].filepath == before)
        GlobalAppState.backgroundJob.doneStatus = "No other sound for this layer";
    EndJob();
}

}  // namespace korvel
