#pragma once
// Frame sampling for the picture read: frame k of a video at time k / rate,
// scaled to a small RGBA picture and handed to a callback in order, on a
// decoder of the sampler's own so the player's picture is never disturbed.
#include <cstdint>

namespace korvel {

struct FfmpegVideo;

// Frame k at `time` (k / rate): RGBA rows, width × height pixels.
using SampledFrameFn = void (*)(int index, float time, const std::uint8_t* rgba, int width, int height,
                                void* user);
// The fraction of the steps done; a negative return stops the sampling.
using SampleProgressFn = float (*)(float fraction, void* user);

// Samples an opened video of `duration` seconds whose frames are shown at
// `width` × `height` (after the size limit) and decoded at `video.fps`.
// Returns the number of frames delivered. The calling thread owns `video`.
int SampleVideoFrames(FfmpegVideo& video, float duration, int width, int height, float rate, int outWidth,
                      SampledFrameFn onFrame, void* user, SampleProgressFn onProgress, void* progressUser);

}  // namespace korvel
