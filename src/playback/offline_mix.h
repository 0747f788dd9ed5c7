#pragma once
// The offline mix of the export and the bounce: one voice at a time added
// into buffers that cover the exported range, with the live mix's fades,
// curves and levels (voice_mix.h). Runs on the exporting thread, allocates
// per voice, and reads the voices without the voice lock: the caller makes
// sure nothing rebuilds them meanwhile.
#include <cstdint>
#include <vector>

#include "playback/output_layout.h"

namespace korvel {

struct PlaybackEngine;
struct Voice;
struct LayerResult;

// Adds the voice to outL and outR (each totalFrames long), unpanned as in the
// live stereo mix. `index` picks the voice's fade lengths; `gain` is the
// caller's group (and master) factor; `startSeconds` is the time of frame 0.
void MixVoiceOffline(const Voice& voice, std::size_t index, const PlaybackEngine& engine, float* outL,
                     float* outR, std::int64_t totalFrames, int sampleRate, float gain, double startSeconds);

struct VoiceEnvelope {
    std::vector<float> gains;     // one per voice frame; empty: the voice adds nothing
    std::int64_t startFrame = 0;  // output frame of voice frame 0
};

VoiceEnvelope RenderVoiceForExport(const Voice& voice, std::size_t index, const PlaybackEngine& engine,
                                   float gain, int sampleRate, double startSeconds);

// Adds the voice to the layout's channels (each totalFrames long): the layer's
// source re-read in its own channel layout where it has one (else the voice's
// samples), routed by role, blended toward the voice's direction by
// `spatialBlend` for a mono or plain stereo source, and with `extendedSpread`
// the highs spread by two diffused side copies while the lows stay put.
void MixVoiceSpatial(const Voice& voice, std::size_t index, const PlaybackEngine& engine,
                     const std::vector<LayerResult>& results, const OutputLayout& layout,
                     std::vector<std::vector<float>>& channels, std::int64_t totalFrames, int sampleRate,
                     float gain, double startSeconds, int channelOrder, float spatialBlend, bool extendedSpread);

// The gain that brings the mix to `targetLUFS`, within ±30 dB; 1 for silence
// or no frames. Prints one "[ExportWAV]" line when it measured something.
float LoudnessNormalizeGain(const float* left, const float* right, std::int64_t frames, int sampleRate,
                            float targetLUFS);

}  // namespace korvel
