#pragma once
// Pieces every alloy algorithm shares: the slot layout, the loaded inputs,
// the rendered output, curve lookup, source tiling, the level match and the
// output shaping. The drivers that use them live in alloy_render.h.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "project/layer.h"

namespace korvel {

// The four source slots of an alloy layer, in the order the layer names them.
enum class AlloySlot : int { Primary = 0, Mid = 1, High = 2, Envelope = 3 };
inline constexpr int kAlloySlotCount = 4;

// One channel of every slot.
using AlloySlotVectors = std::array<std::vector<float>, kAlloySlotCount>;

// The loaded sources of one render. Every vector holds exactly `frames`
// samples once loading succeeded (the right ones only when `stereo`).
struct AlloyInputs {
    AlloySlotVectors samplesL;
    AlloySlotVectors samplesR;
    std::array<bool, kAlloySlotCount> present{};
    int32_t frames = 0;
    bool stereo = false;
};

// The voice fields a render writes. Renders fill one of these and hand it to
// the voice, so a failed render leaves the voice untouched; the render cache
// keeps the same record per layer.
struct AlloyCacheEntry {
    std::vector<float> samplesL;
    std::vector<float> samplesR;
    bool stereo = false;
    int32_t frameCount = 0;
};

// The layer's two 32-point curves; `valid` false means the neutral values.
struct AlloyCurves {
    std::array<float, kAlloyCurvePoints> tone{};
    std::array<float, kAlloyCurvePoints> gain{};
    bool valid = false;
};

AlloyCurves AlloyCurvesOf(const LayerResult& layer);

// Linear interpolation of a 32-point curve at `position` (0..1 over the layer).
float SampleAlloyCurve(std::span<const float, kAlloyCurvePoints> curve, float position);

// djb2 over the bytes of a path: the render's only source of variation.
uint32_t AlloyPathHash(std::string_view path);

// Cuts or tiles one channel to `targetLength`. Tiled, the source repeats
// with a period of its length less the seam, the end of every pass being a
// linear crossfade from its tail into its head, so the result is continuous.
void LoopFitSource(std::vector<float>& samples, int32_t targetLength, int32_t sampleRate);

// Scales the output to the loudness of the present sound sources (at most
// tenfold, never above a peak of 0.98).
void MatchAlloyLevel(const AlloyInputs& inputs, AlloyCacheEntry& out, int32_t frames, bool stereo);

// Applies the gain curve and the raised-cosine edge fades.
void ShapeAlloyOutput(const AlloyCurves& curves, int32_t sampleRate, AlloyCacheEntry& out, int32_t frames,
                      bool stereo);

}  // namespace korvel
