#pragma once
// The default alloy algorithm, spectral blend: the primary, mid and high
// sources supply the low, middle and high bands through soft crossovers that
// move with the tone curve; each contribution gets a slowly wandering phase
// offset, the blend is pulled toward the envelope source's spectral envelope,
// and its magnitudes are smoothed over time and, at higher morph, across
// frequency.
#include <array>
#include <cstdint>
#include <vector>

#include "dsp/alloy_common.h"

namespace korvel {

class AlloyFft;

struct AlloyBlendParams {
    int32_t frames = 0;
    int32_t sampleRate = 48000;
    float morph = 1.0f;
    std::array<float, 3> phases{};  // radians, one per sound slot
    AlloyCurves curves;
};

AlloyBlendParams MakeAlloyBlendParams(const LayerResult& layer, int32_t sampleRate, int32_t frames,
                                      const std::array<bool, kAlloySlotCount>& present);

// Per channel: `out` becomes the blended signal, `frames` samples long. The
// analysis starts before the first sample and runs on past the last over
// zero input, so every sample is synthesised with full overlap and the edge
// fades, not the frame grid, shape the ends.
void AlloyBlendKernel(const AlloyBlendParams& params, const AlloySlotVectors& slots,
                      const std::array<bool, kAlloySlotCount>& present, AlloyFft& fft, std::vector<float>& out);

}  // namespace korvel
