#include "engine/source_region.h"

#include <algorithm>

#include "library/library.h"

namespace korvel {

// Until the file-reading region choice is built, every kind takes the
// start of the file for as long as it is needed.
SourceRegion ChooseSourceRegion(const LibraryFile& file, float targetDuration, std::int32_t /*kind*/,
                                float /*unused*/, BuildRandom& /*random*/, const CurvePoints* /*curve*/,
                                float /*curveScale*/, float /*targetPeakPosition*/,
                                const std::vector<UsedSound>* /*usedSounds*/, const float* /*targetProfile*/) {
    SourceRegion region;
    region.length = std::max(0.0f, std::min(targetDuration, file.duration));
    region.fadeIn = 0.01f;
    region.fadeOut = 0.05f;
    return region;
}

void ClearSourceRegionCaches() {}

}  // namespace korvel
