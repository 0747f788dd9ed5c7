#pragma once
// Which stretch of a chosen file a layer plays: its start, length, sync point
// and fades, decided per event kind.
#include <cstdint>
#include <vector>

#include "engine/build_random.h"
#include "engine/candidate_pool.h"
#include "project/event.h"

namespace korvel {

struct LibraryFile;

// Seconds; syncPoint is measured from sourceOffset.
struct SourceRegion {
    float sourceOffset = 0.0f;
    float length = 0.0f;
    float syncPoint = 0.0f;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
};

// `unused` is passed by every caller and read by none. `curve` (256 points,
// scaled by curveScale), `usedSounds` and `targetProfile` (16 floats) may be
// null. Draws from `random` in place.
SourceRegion ChooseSourceRegion(const LibraryFile& file, float targetDuration, std::int32_t kind, float unused,
                                BuildRandom& random, const CurvePoints* curve, float curveScale,
                                float targetPeakPosition, const std::vector<UsedSound>* usedSounds,
                                const float* targetProfile);

// Empties the per-file transient and envelope caches (start of a build).
void ClearSourceRegionCaches();

}  // namespace korvel
