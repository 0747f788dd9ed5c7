#pragma once
// Waveform overviews: a peak and an RMS value per short time bin of a whole
// sound file, computed once per path and kept for the timeline to draw.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvel {

struct WaveformOverview {
    std::vector<float> peaks;  // per bin: largest |sample| over all channels
    std::vector<float> rms;    // per bin: over all samples of all channels
    float duration = 0.0f;     // seconds
    int32_t sampleRate = 0;
};

inline constexpr int kWaveformBinsPerSecond = 200;
inline constexpr int kWaveformMinBins = 64;
inline constexpr int kWaveformMaxBins = 16000;

// Bin count of a file of `duration` seconds.
int WaveformBinCount(float duration);

// Reads the file with libsndfile; false when it cannot be opened or holds no
// audio. Touches no cache.
bool ComputeWaveformOverview(const std::string& path, WaveformOverview& out);

// Ensures the cache holds an overview of `path` (byte-exact key). A null or
// empty path, or one already cached, returns at once; a file that cannot be
// read stores nothing, so the next call tries again. The file is read outside
// the cache lock: two threads asking for the same new path both read it and
// the first insertion stays.
void LoadWaveformOverview(const char* path);

// A stored path now names another copy of the same content (a relink by
// file identity): the overview cached under `from` serves `to` too, without
// reading the file again; with none cached, `to` is loaded.
void MoveWaveformOverview(const std::string& from, const std::string& to);

// The cached overview of `path`, or null. Overviews are immutable once
// cached, so the caller may draw from it while other threads insert.
std::shared_ptr<const WaveformOverview> FindWaveformOverview(const std::string& path);

// Empties the cache (new project, open project).
void ClearWaveformCache();

}  // namespace korvel
