#pragma once
// Rendering of alloy layers (processing mode 3): up to four sources morphed
// into one signal by one of four algorithms, memoised per layer id in the
// process-wide AlloyRenderCache.
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/alloy_common.h"
#include "project/layer.h"

namespace korvel {

struct Voice;

// Renders the layer into the voice's samplesL, samplesR, stereo and
// frameCount; true when the voice holds audio. A failed render leaves the
// voice as it was. Layers with an id of 1 or more are served from and stored
// in the render cache; the key is the id alone.
bool RenderAlloyLayer(const LayerResult& layer, int32_t sampleRate, bool stereo, Voice& voice);
// The same into a bare record, for callers without a voice.
bool RenderAlloyLayer(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out);

// Empties the render cache (every full build and every new project).
void ClearAlloyRenderCache();

// The four algorithms. Each renders into `out` and returns false, leaving it
// untouched, when no sound source can be read or the layer has no frames.
bool RenderAlloyTransfer(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out);
bool RenderAlloyFilterBands(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out);
bool RenderAlloyGraft(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out);
bool RenderAlloyBlend(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyCacheEntry& out);

// Loads the four slots, each fitted to trunc(sampleRate × duration) frames;
// false when there are no frames or none of the primary, mid and high
// sources can be read.
bool LoadAlloySources(const LayerResult& layer, int32_t sampleRate, bool stereo, AlloyInputs& inputs);

// Reads one region through the decoded-source cache and fits it to `frames`.
// `right` is filled only when stereo was asked and the source is stereo.
bool LoadAlloySource(const std::string& path, float start, float length, std::vector<float>& left,
                     std::vector<float>& right, bool stereo, int32_t frames, int32_t sampleRate);

}  // namespace korvel
