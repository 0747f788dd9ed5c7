#pragma once
// Regions of sound files decoded to float at the engine's rate, folded to
// mono or stereo by their channel map, and kept in a process-wide cache so
// that builds, re-renders and reloads decode each region once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// One decoded region.
struct DecodedSource {
    std::vector<float> left;   // the left channel, or the whole mono signal
    std::vector<float> right;  // empty when mono
    bool stereo = false;
    int32_t sampleRate = 0;  // rate of the stored samples
    int32_t frameCount = 0;  // samples in `left`
};

inline constexpr size_t kDecodedSourceEntryLimit = 512;
inline constexpr size_t kDecodedSourceByteBudget = size_t{2} << 30;  // 2 GiB of samples
inline constexpr double kDecodedSourceMaxSeconds = 600.0;

// The region [startSeconds, startSeconds + lengthSeconds) of `path`, at most
// ten minutes, at `targetRate`, as a left/right pair when `wantStereo` and the
// file's layout allows it, else mono. Served from the cache when the same
// region (to a millisecond), channel order and interpretation were decoded
// before. True when `left` holds at least one sample; on failure the outputs
// carry no meaning. Any thread; the cache lock is held only around the
// lookup and the insertion, never while decoding.
bool GetDecodedSource(const std::string& path, float startSeconds, float lengthSeconds, int targetRate,
                      bool wantStereo, std::vector<float>& left, std::vector<float>& right,
                      int& sampleRate, bool& isStereo);

// Decodes one region as GetDecodedSource does, with the channel order and
// interpretation given, without touching the cache.
bool DecodeSourceRegion(const std::string& path, float startSeconds, float lengthSeconds, int targetRate,
                        bool wantStereo, int channelOrder, int interpretation, DecodedSource& out);

// Empties the cache (a new project does this).
void ClearDecodedSourceCache();

// What the cache holds now: entries and bytes of samples.
struct DecodedSourceCacheUsage {
    size_t entries = 0;
    size_t bytes = 0;
};
DecodedSourceCacheUsage GetDecodedSourceCacheUsage();

// Replaces the byte budget (kDecodedSourceByteBudget unless changed); lets
// tests exercise the budget without gigabytes of audio.
void SetDecodedSourceCacheByteBudget(size_t bytes);

}  // namespace korvel
