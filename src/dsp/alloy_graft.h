#pragma once
// Alloy algorithm 3, graft: the spectral-transfer carrier (always drifting)
// with every other frequency band of the high source added on top, tilted by
// the tone curve, and a gentler transfer gain law.
#include <cstdint>
#include <vector>

#include "dsp/alloy_transfer.h"

namespace korvel {

struct AlloyGraftParams {
    AlloyTransferParams transfer;  // transfer depth, graft, drift and envelope depth of this algorithm
    float tiltAmount = 0.35f;
    int32_t filterBands = 10;
};

AlloyGraftParams MakeAlloyGraftParams(const LayerResult& layer, int32_t sampleRate, int32_t frames);

void AlloyGraftKernel(const AlloyGraftParams& params, const AlloySlotVectors& slots,
                      const std::array<bool, kAlloySlotCount>& present, std::vector<float>& out);

// Adds bands 0, 2, 4 … of max(4, filterBands / 2) bands of the high source,
// scaled by `tiltAmount` and a tone-curve gain that favours the upper bands
// when the curve is high.
void AddHighBandTilt(std::vector<float>& signal, const std::vector<float>& high, float tiltAmount,
                     int32_t filterBands, const AlloyCurves& curves, int32_t sampleRate);

}  // namespace korvel
