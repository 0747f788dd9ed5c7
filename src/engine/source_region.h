#pragma once
// Which stretch of a chosen file a layer plays: its start, length, sync point
// and fades, decided per event kind: a whole short file, a random stretch of
// a long ambience (Fill), the stretch whose loudness shape best matches the
// event (Bloom, Contour), or one of the file's transients (Spot, Scatter).
// The analysis routines below it read the file through libsndfile; the
// energy envelope and the transient segments are cached per path.
#include <cstdint>
#include <string>
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

// One stretch of a file that stands out from silence.
struct TransientSegment {
    float start = 0.0f;     // seconds in the file
    float end = 0.0f;       // seconds
    float strength = 0.0f;  // largest frame energy of the peak-normalised signal, 0..1
};

// `unused` is passed by every caller and read by none. `curve` (256 points,
// scaled by curveScale), `usedSounds` and `targetProfile` (16 floats) may be
// null. Draws from `random` in place: none or one draw, by the path taken.
SourceRegion ChooseSourceRegion(const LibraryFile& file, float targetDuration, std::int32_t kind, float unused,
                                BuildRandom& random, const CurvePoints* curve, float curveScale,
                                float targetPeakPosition, const std::vector<UsedSound>* usedSounds,
                                const float* targetProfile);

// Seconds from `from` to the loudest frame of the window; 0 when unreadable.
float FindPeakTime(const LibraryFile& file, float from, float length);
// Seconds from `from` to the first 2 ms block at 20 % of the loudest.
float FindOnsetTime(const LibraryFile& file, float from, float length);
// RMS points at `pointsPerSecond` over the whole file; cached per path (a
// cached list is returned whatever the rate asked). Empty when unreadable.
std::vector<float> GetEnergyEnvelope(const LibraryFile& file, float pointsPerSecond);
// The file's stretches above silence; cached per path (a cached list is
// returned whatever the arguments). Empty when unreadable or silent.
std::vector<TransientSegment> GetTransientSegments(const LibraryFile& file, float fileDuration,
                                                   float minSegmentSeconds);
// Means of the envelope's points over n equal bins of [from, from + length),
// largest bin 1.
void BinEnvelope(const std::vector<float>& envelope, float fileDuration, float from, float length, float* out, int n);
// n points of the scaled curve at bin centres, largest point 1.
void ResampleCurve(const CurvePoints& curve, float scale, float* out, int n);
// Seconds of fade-in the window's own attack asks for.
float AutoFadeInLength(const LibraryFile& file, float from, float length);
// Seconds of fade-out the window's decay after the sync point asks for.
float AutoFadeOutLength(const LibraryFile& file, float from, float length, float syncPoint);

// Empties TransientCache and EnvelopeCache (start of a build). Any thread:
// each cache has its own lock, and lookups hand out copies, so a clear
// never frees what a reader holds.
void ClearSourceRegionCaches();

}  // namespace korvel
