#include "engine/candidate_pool.h"

// [SECTION] Pools and palette names
// [SECTION] Scoring one file
// [SECTION] Scoring a pool
// [SECTION] Repetition and similar sounds

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "library/library.h"
#include "project/project.h"

namespace korvel {

namespace {

float Clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }

}  // namespace

// [SECTION] Pools and palette names

bool NameInList(std::string_view name, const char* list) {
    if (list == nullptr || list[0] == '\0') return true;
    std::string_view rest(list);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        // Empty items (runs of commas, blanks only) match nothing.
        if (!item.empty() && item == name) return true;
    }
    return false;
}

CandidatePool GatherCandidateFiles(const std::vector<Palette>& palettes, std::int32_t trackGroup,
                                   const char* paletteFilter) {
    CandidatePool pool;
    if (paletteFilter != nullptr && kNoPaletteFilter == paletteFilter) return pool;
    for (const Palette& palette : palettes) {
        if (!palette.enabled) continue;
        if (palette.trackGroup != -1 && trackGroup != -1 && palette.trackGroup != trackGroup) continue;
        bool named = NameInList(palette.name, paletteFilter);
        // A renamed palette still answers to the names events were saved with.
        if (!named && paletteFilter != nullptr) {
            for (const std::string& old : palette.previousNames) {
                if (NameInList(old, paletteFilter)) {
                    named = true;
                    break;
                }
            }
        }
        if (!named) continue;
        for (const LibraryFile& file : palette.files) pool.push_back(&file);
    }
    return pool;
}

// [SECTION] Scoring one file

float ScoreSound(const LibraryFile& file, float targetWeight, float targetDuration, std::int32_t kind,
                 const std::vector<KeywordTerm>& terms, float intensity, const BandWeights* profile,
                 float meanNoisiness, std::int32_t layersSoFar) {
    const float w = targetWeight;
    const float T = targetDuration;
    const float L = file.duration;
    const float iw = Clamp01(intensity);
    const bool keyed = !terms.empty();

    // Keyword gate and keyword score: a name match is worth more than one
    // found only in the path or the description.
    float h = 0.0f;
    if (keyed) {
        int counted = 0;
        int strengthSum = 0;
        for (const KeywordTerm& term : terms) {
            int m = 0;
            if (term.text.size() >= 2) {
                if (MatchKeyword(file.name, term)) m = 3;
                else if (MatchKeyword(file.path, term) || MatchKeyword(file.description, term)) m = 2;
            }
            if (term.mode == kKeywordRequired && m == 0) return 0.0f;
            if (term.mode == kKeywordExcluded && m > 0) return 0.0f;
            if (term.mode != kKeywordExcluded && term.text.size() >= 2) {
                ++counted;
                strengthSum += m;
            }
        }
        if (counted > 0 && strengthSum > 0)
            h = 50.0f * std::min(1.0f, static_cast<float>(strengthSum) / (3.0f * static_cast<float>(counted)));
    }
    const float B = keyed ? 30.0f : 50.0f;
    const float floorW = keyed ? 0.1f : 0.01f;
    const float slope = keyed ? 3.0f : 4.0f;

    // Spectral closeness of the file's band shape to the tone's.
    BandWeights tone;
    ToneToBandWeights(w, tone);
    float bandSum = 0.0f;
    for (float e : file.bandEnergies) bandSum += e;
    static constexpr BandWeights kDistanceWeights = {1.4f, 0.8f, 0.6f, 1.0f, 1.4f};
    float d2 = 0.0f;
    for (int j = 0; j < kBandCount; ++j) {
        const float norm = bandSum > 0.01f ? file.bandEnergies[j] / bandSum : 0.2f;
        const float delta = norm - tone[j];
        d2 += kDistanceWeights[j] * delta * delta;
    }
    const float E = std::max(0.0f, 1.0f - 2.5f * std::sqrt(d2));

    const float C = std::fabs(file.spectralWeight - (0.8f * w + 0.1f));
    if (!(C <= 0.4f)) return 0.0f;
    const float D = std::max(0.02f, 1.0f - slope * C);

    float S = 0.5f * B * E * D + h + 0.3f * B * D + 0.2f * B * E;

    // Layering: reward energy where the mix is thin, penalise it where full.
    if (profile != nullptr && E > 0.1f) {
        float peak = 0.0f;
        for (float p : *profile) peak = std::max(peak, p);
        if (peak > 0.01f) {
            static constexpr BandWeights kCrowding = {1.5f, 0.8f, 0.6f, 1.2f, 1.5f};
            float N = 0.0f;
            float O = 0.0f;
            for (int j = 0; j < kBandCount; ++j) {
                const float r = (*profile)[j] / peak;
                N += (1.0f - Clamp01(r)) * file.bandEnergies[j];
                if (r > 0.5f) {
                    const float over = 2.0f * (r - 0.5f);
                    O += file.bandEnergies[j] * over * over * kCrowding[j];
                }
            }
            S += 15.0f * E * Clamp01(2.0f * N) - 10.0f * E * Clamp01(O);
            S = std::max(1.0f, S);
        }
    }

    // Duration fit. A request of no length is met by any file, for nothing.
    if (L >= T) {
        if (L > 0.0f) S += 15.0f * std::min(1.0f, 2.0f * T / L);
    } else {
        const float x = L / T;  // T > L here, so T > 0 unless L is negative
        S += 7.5f * x;
        if ((kind == KindValue(EventKind::Bloom) || kind == KindValue(EventKind::Contour)) && x < 0.85f) S *= x;
    }

    // Character: soft events favour steady, low-crest, centred sounds;
    // strong ones fast attacks, high crest and movement.
    const float R = std::fabs(file.temporalCentroid - 0.5f);
    const float cr = file.crestDb;
    const float fx = file.spectralFlux;
    const float at = file.attackTime;
    S += 10.0f * ((1.0f - iw) * (0.3f * Clamp01(1.0f - 2.5f * fx) + 0.4f * Clamp01(1.0f - cr / 18.0f) +
                                 0.3f * (1.0f - 2.0f * R)) +
                  iw * (0.3f * Clamp01(1.0f - 5.0f * at) + 0.4f * Clamp01(cr / 18.0f) + 0.3f * Clamp01(2.5f * fx)));

    const float z = file.zeroCrossingRate;
    switch (kind) {
        case KindValue(EventKind::Spot):
            // The fit term peaks at L = T; it tends to 0 as T does.
            if (L >= 0.8f * T && T > 0.0f) S += 10.0f * (1.0f - 2.0f * std::fabs(std::min(2.0f * T, L) / (2.0f * T) - 0.5f));
            S += 5.0f * Clamp01(1.0f - 3.0f * at);
            break;
        case KindValue(EventKind::Bloom):
        case KindValue(EventKind::Contour):
            S += 5.0f * Clamp01(2.0f * z) + 5.0f * Clamp01(1.0f - cr / 20.0f) + 5.0f * (1.0f - 3.0f * R);
            break;
        case KindValue(EventKind::Fill):
            S += 5.0f * Clamp01(L / std::max(1.0f, T)) + 3.0f * Clamp01(1.0f - cr / 20.0f) +
                 3.0f * Clamp01(1.0f - 3.0f * fx) + 2.0f * Clamp01(2.0f * z) + 2.0f * (1.0f - 3.0f * R);
            break;
        case KindValue(EventKind::Scatter):
            S += 10.0f * Clamp01(2.0f * fx) + 5.0f * Clamp01(cr / 15.0f);
            break;
        default:
            S += 7.5f;
            break;
    }

    if (meanNoisiness >= 0.0f && layersSoFar >= 1) {
        const float delta = std::fabs(NoisinessIndex(file) - meanNoisiness);
        S += 12.0f * Clamp01(2.0f * delta);
        if (layersSoFar >= 2 && delta < 0.15f) S *= 0.7f;
    }

    const float W = floorW + (1.0f - floorW) * std::sqrt(std::max(D, 0.0f) * std::max(E, 0.0f));
    float score;
    if (!keyed) {
        score = S * W;
    } else {
        const float X = 0.1f + 0.9f * std::max(0.0f, 1.0f - 3.0f * C);
        score = S * std::min(W, X);
        if (h < 0.01f) score *= 0.15f;
    }
    // Analysis values read from cache files may be anything; a score that is
    // not a finite number would poison the weighted draw.
    if (!std::isfinite(score) || score < 0.0f) return 0.0f;
    return score;
}

// [SECTION] Scoring a pool

namespace {

bool IsBanned(const Project& project, const LibraryFile& file) {
    if (!file.fileId.empty()) {
        for (const std::string& id : project.bannedFileIds)
            if (id == file.fileId) return true;
    }
    for (const std::string& path : project.bannedFiles)
        if (path == file.path) return true;
    return false;
}

}  // namespace

std::vector<ScoredCandidate> ScoreCandidates(const Project& project, const CandidatePool& pool,
                                             float targetWeight, float targetDuration, std::int32_t kind,
                                             const std::vector<KeywordTerm>& terms, std::int32_t maxResults,
                                             float intensity, const BandWeights* profile, float meanNoisiness,
                                             std::int32_t layersSoFar) {
    std::vector<ScoredCandidate> kept;
    kept.reserve(pool.size());
    const LibraryFile* best = nullptr;
    float bestScore = 0.0f;
    for (const LibraryFile* file : pool) {
        if (file == nullptr || IsBanned(project, *file)) continue;
        const float score = ScoreSound(*file, targetWeight, targetDuration, kind, terms, intensity, profile,
                                       meanNoisiness, layersSoFar);
        if (best == nullptr || score > bestScore) {
            best = file;
            bestScore = score;
        }
        if (score > 5.0f) kept.push_back({file, score});
    }
    if (kept.empty() && best != nullptr) kept.push_back({best, std::max(0.01f, bestScore)});
    const std::size_t count = std::min<std::size_t>(kept.size(), static_cast<std::size_t>(std::max(0, maxResults)));
    const auto higher = [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; };
    std::partial_sort(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(count), kept.end(), higher);
    kept.resize(count);
    return kept;
}

// [SECTION] Repetition and similar sounds

float RepetitionFactor(std::string_view path, const std::vector<UsedSound>& usedThisEvent,
                       const std::vector<UsedSound>& usedInBuild, float startTime,
                       std::uint64_t multiMonoGroupId) {
    for (const UsedSound& used : usedThisEvent) {
        if (used.path == path) return 0.0f;
        // The channels of one multi-mono recording are one sound.
        if (multiMonoGroupId != 0 && used.multiMonoGroupId == multiMonoGroupId) return 0.0f;
    }
    if (usedInBuild.empty()) return 1.0f;
    int n = 0;
    float nearest = 1e9f;
    for (const UsedSound& used : usedInBuild) {
        if (used.path != path) continue;
        ++n;
        nearest = std::min(nearest, std::fabs(startTime - used.startTime));
    }
    if (n == 0) return 1.0f;
    float factor = 1.0f;
    if (nearest < 3.0f) factor = 0.1f;
    else if (nearest < 5.0f) factor = 0.2f;
    else if (nearest < 12.0f) factor = 0.5f;
    if (n >= 4) factor *= 0.3f;
    else if (n >= 2) factor *= 0.5f;
    else factor *= 0.75f;
    return factor;
}

CandidatePool FindSimilarSounds(const CandidatePool& pool, std::string_view referencePath) {
    const LibraryFile* reference = nullptr;
    for (const LibraryFile* file : pool) {
        if (file != nullptr && file->path == referencePath) {
            reference = file;
            break;
        }
    }
    if (reference == nullptr) return pool;

    struct Near {
        const LibraryFile* file;
        float distance;
    };
    std::vector<Near> near;
    const auto sq = [](float x) { return x * x; };
    for (const LibraryFile* file : pool) {
        if (file == nullptr || file == reference) continue;
        float bands = 0.0f;
        for (int j = 0; j < kBandCount; ++j) bands += sq(file->bandEnergies[j] - reference->bandEnergies[j]);
        const float distance = 3.0f * bands + 2.0f * sq(file->brightness - reference->brightness) +
                               2.0f * sq(file->hfRatio - reference->hfRatio) +
                               1.5f * sq(file->zeroCrossingRate - reference->zeroCrossingRate) +
                               1.5f * sq(file->spectralFlatness - reference->spectralFlatness) +
                               sq(file->harmonicity - reference->harmonicity) +
                               sq((file->crestDb - reference->crestDb) / 20.0f);
        if (distance < 1.5f) near.push_back({file, distance});
    }
    const std::size_t count = std::min<std::size_t>(5, near.size());
    std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(count), near.end(),
                      [](const Near& a, const Near& b) { return a.distance < b.distance; });
    CandidatePool result;
    result.reserve(count + 1);
    result.push_back(reference);
    for (std::size_t i = 0; i < count; ++i) result.push_back(near[i].file);
    return result;
}

float CosineSimilarity(const float* a, const float* b, std::int32_t n) {
    if (n <= 0 || a == nullptr || b == nullptr) return 0.0f;
    double dot = 0.0;
    double na = 0.0;
    double nb = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        dot += static_cast<double>(a[i]) * b[i];
        na += static_cast<double>(a[i]) * a[i];
        nb += static_cast<double>(b[i]) * b[i];
    }
    if (na < 1e-8 || nb < 1e-8) return 0.0f;
    const double cosine = dot / (std::sqrt(na) * std::sqrt(nb));
    return static_cast<float>(std::clamp(cosine, 0.0, 1.0));
}

}  // namespace korvel
