#pragma once
// Which library files a layer may use and how strongly each is wanted:
// gathering the pool from the enabled palettes, scoring one file against a
// layer request, scoring a pool with the project's bans, the repeat penalty
// and the search for sounds like a given one.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/build_routines.h"
#include "engine/keyword_query.h"

namespace korvel {

struct LibraryFile;
struct Palette;
struct Project;

// References into the palettes of SoundLibrary: valid while the palettes are
// not edited (no scan merge, relink or removal), that is within one build.
using CandidatePool = std::vector<const LibraryFile*>;

struct ScoredCandidate {
    const LibraryFile* file = nullptr;
    float score = 0.0f;
};

// One sound already placed: what the repeat penalty and the region choice
// steer away from.
struct UsedSound {
    std::string path;
    float sourceOffset = 0.0f;  // seconds into the file
    float sourceDuration = 0.0f;
    float startTime = 0.0f;             // timeline seconds of the use
    std::uint64_t multiMonoGroupId = 0;  // 0: none, and for layers of earlier builds
};

// The text that means "no palette at all".
inline constexpr std::string_view kNoPaletteFilter = "~none~";

// Every file of the enabled palettes that serve `trackGroup` (-1: any) and
// pass the comma-separated palette filter (null: no filter), in library and
// file order; a file in two palettes enters twice.
CandidatePool GatherCandidateFiles(const std::vector<Palette>& palettes, std::int32_t trackGroup,
                                   const char* paletteFilter);

// True when `name` is an item of the comma-separated list (blanks trimmed,
// exact bytes); a null or empty list matches everything.
bool NameInList(std::string_view name, const char* list);

// The score (0 or more) of one file for one layer request. `profile` may be
// null; a negative `meanNoisiness` switches the variety term off.
float ScoreSound(const LibraryFile& file, float targetWeight, float targetDuration, std::int32_t kind,
                 const std::vector<KeywordTerm>& terms, float intensity, const BandWeights* profile,
                 float meanNoisiness, std::int32_t layersSoFar);

// The pool's files without the project's banned ones, scored; those above 5
// (or the single best when none is), best first, at most `maxResults`.
std::vector<ScoredCandidate> ScoreCandidates(const Project& project, const CandidatePool& pool,
                                             float targetWeight, float targetDuration, std::int32_t kind,
                                             const std::vector<KeywordTerm>& terms, std::int32_t maxResults,
                                             float intensity, const BandWeights* profile, float meanNoisiness,
                                             std::int32_t layersSoFar);

// 0..1: 0 for a file (or multi-mono set) the event already uses, less the
// more often and the nearer the build already used it.
float RepetitionFactor(std::string_view path, const std::vector<UsedSound>& usedThisEvent,
                       const std::vector<UsedSound>& usedInBuild, float startTime,
                       std::uint64_t multiMonoGroupId);

// The reference followed by up to five pool files most like it; the whole
// pool when the reference is not in it.
CandidatePool FindSimilarSounds(const CandidatePool& pool, std::string_view referencePath);

// Cosine of two arrays limited to 0..1; 0 for n <= 0 or a near-zero array.
float CosineSimilarity(const float* a, const float* b, std::int32_t n);

}  // namespace korvel
