#pragma once
// Broadcast WAVE writers: 24-bit PCM WAVE (or WAVE-extensible) with a bext
// chunk whose time reference places the file on the project's timecode.
// Samples are sanitised on the way out (the callers' buffers stay as they
// are), files longer than one hour or larger than a RIFF file can describe
// (4 GiB) are refused. Each file is written to a temporary beside its path
// and moved into place only when complete (the extensible finishing step
// included): a failed write leaves no partial file and keeps the earlier
// file at the path.
//
// The writers keep no shared state and may run on any thread; two writers
// must not be given the same path at once.
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// Two channels, interleaved left then right.
bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int sampleRate, double startSeconds, const char* description);

// One channel.
bool WriteBWFClipMono(const std::string& path, const float* samples, int frames, int sampleRate,
                      double startSeconds, const char* description);

// One channel per vector, interleaved in vector order; the frame count is the
// first vector's length. WAVE-extensible with `channelMask` when
// `extensible` is set and `ambisonic` is not; plain WAVE otherwise.
bool WriteBWFMulti(const std::string& path, const std::vector<std::vector<float>>& channels,
                   int channelMask, int sampleRate, double startSeconds, const char* description,
                   bool ambisonic, bool extensible);

// Rewrites a WAVE-extensible file through a temporary: drops its "fact" chunk and sets
// the channel mask of its "fmt " chunk; every other chunk is kept in order.
// False (the file left as it was) on any failure, including a result that
// would not fit a RIFF size.
bool FinalizeWavChannelMask(const std::string& path, int channelMask);

// The RIFF size (file size less 8) that a writer's file of `frames` frames of
// `channels` 24-bit channels can reach at most, every chunk counted: the
// sample data plus a reserve for the header chunks libsndfile writes.
uint64_t BwfRiffSizeBound(int64_t frames, int channels);

// The most frames of `channels` channels whose file fits a 32-bit RIFF size.
int64_t BwfMaxFrames(int channels);

}  // namespace korvel
