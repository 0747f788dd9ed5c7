#pragma once
// The live mix: one block of stereo output from the playback engine, on the
// audio thread. It never waits and never allocates.
#include <cstdint>

#include "playback/output_hook.h"
#include "playback/playback_engine.h"

namespace korvel {

// Fills left[0..frames) and right[0..frames) with the next block of `engine`:
// preview, voices with their fades, curves and gains, group mute and solo,
// reverb sends, master gain, reverb return, start/stop ramp, scrub, limiter,
// master mute, meters, the output hook; then advances the play position
// unless a locate landed meanwhile. Audio thread only.
void MixPlaybackBlock(PlaybackEngine& engine, float* left, float* right, std::uint32_t frames);

// The render function of the live audio output: MixPlaybackBlock on
// LivePlaybackEngine. Sets flush-to-zero on the calling thread.
void AudioRenderCallback(float* left, float* right, std::uint32_t frames);

}  // namespace korvel
