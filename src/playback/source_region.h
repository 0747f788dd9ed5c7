#pragma once
// Regions of source files read straight through libsndfile with their
// handles (for the export's clips and essence files), and loop fills rebuilt
// from their splice lists (for playback and the multichannel export).
#include <cstdint>
#include <string>
#include <vector>

#include "library/channel_map.h"
#include "project/layer.h"

namespace korvel {

struct Voice;

// Every output buffer these routines size holds at most this many seconds
// at its rate: the cap every voice has.
inline constexpr double kMaxRenderSeconds = 3600.0;

// kMaxRenderSeconds at `rate` in frames, within a 32-bit frame count.
inline std::int64_t MaxRenderFrames(int rate) {
    const double frames = static_cast<double>(rate) * kMaxRenderSeconds;
    return rate < 1 ? 0 : static_cast<std::int64_t>(frames < 2147483647.0 ? frames : 2147483647.0);
}

// trunc(rate × seconds) in double, clamped to 0 .. MaxRenderFrames(rate); a
// product that is not a number gives 0. Sizes every rendered buffer.
std::int64_t RenderFrames(int rate, double seconds);

// A region of `path`: [offset − preHandle, offset + length + postHandle)
// seconds, cut at the file's edges, resampled linearly to `targetRate`.
// `preHandleFrames` is the pre-handle really included, in output frames.
// True when the (first) output holds at least one frame; false with the file
// closed when it cannot be opened, is empty, has no rate, or the region lies
// outside it. Any thread.
//
// ReadSourceRegion: the mean of all the file's channels.
bool ReadSourceRegion(const std::string& path, double offsetSeconds, double lengthSeconds,
                      double preHandleSeconds, double postHandleSeconds, int targetRate,
                      std::vector<float>& mono, int& preHandleFrames);
// ReadSourceRegionChannels: each channel separately, in file order.
bool ReadSourceRegionChannels(const std::string& path, double offsetSeconds, double lengthSeconds,
                              double preHandleSeconds, double postHandleSeconds, int targetRate,
                              std::vector<std::vector<float>>& channels, int& channelCount,
                              int& preHandleFrames);
// ReadSourceRegionStereo: a file of two or more channels gives its first two
// (stereo set); a mono file gives its samples in `left` and an empty `right`.
bool ReadSourceRegionStereo(const std::string& path, double offsetSeconds, double lengthSeconds,
                            double preHandleSeconds, double postHandleSeconds, int targetRate,
                            std::vector<float>& left, std::vector<float>& right, bool& stereo,
                            int& preHandleFrames);

// Writes one splice into `out` at write position `w` (the end of what was
// written so far): its first x frames crossfade equal-power over the last x
// written, the rest are copied. Frames whose output or source index falls
// outside the buffers are skipped. Returns the next write position, w + l − x
// (negative lengths and crossfades count as 0).
std::int64_t WriteSplice(const FillChunk& chunk, std::int64_t w, const float* source, std::int64_t sourceFrames,
                         float* out, std::int64_t outFrames);

// The equal-power crossfade angle of frame i of an n-frame crossfade; shared
// by everything that writes splices, so a replay matches its render exactly.
float SpliceAngle(std::int64_t i, std::int64_t n);

// Frames a splice list writes: Σ(l − x), at least 0, at most one hour at
// `sampleRate`.
std::int64_t SpliceListFrames(const std::vector<FillChunk>& chunks, int sampleRate);

// The multichannel version of a loop-filled layer for the spatial export:
// the layer's file read as separate channels from its sourceOffset at
// `sampleRate`, with the layer's splice list (the voice's when the layer has
// none) written into Σ(l − x) frames per channel. False when the file has
// fewer than two channels, no known speaker layout, cannot be read, or the
// list writes no frame. Any thread.
bool ReadResultSourceChannels(const LayerResult& layer, const Voice& voice, int sampleRate, int channelOrder,
                              std::vector<std::vector<float>>& channels, ChannelMap& channelMap);

// Fills `voice` (samples, stereo, frameCount, seams and the first 65
// splices) from the layer's fillChunks. Without a given source, the layer's
// file is decoded from its sourceOffset at `sampleRate` through the decoded
// source cache, stereo when the layer is, and `stereo` becomes what the decode
// gave; a failed decode returns false with the voice untouched. The length
// is `lengthSeconds` when above 0, else the layer's duration. Any thread.
bool RenderSpliceVoice(const LayerResult& layer, int sampleRate, Voice& voice, const std::vector<float>* sourceL,
                       const std::vector<float>* sourceR, bool& stereo, float lengthSeconds);

}  // namespace korvel
