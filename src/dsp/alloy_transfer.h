#pragma once
// Alloy algorithm 1, spectral transfer: a carrier that drifts slowly in pitch,
// takes on the smoothed spectral envelope of the mid source, gets the high
// source's attack grafted onto its start and follows the envelope source.
// Its four steps are shared with the graft algorithm.
#include <cstdint>
#include <string_view>
#include <vector>

#include "dsp/alloy_common.h"

namespace korvel {

// How strongly a bin follows the donor: g = 1 + k·tanh(slope·(B̂/Â − 1)),
// clamped to minGain … maxGain.
struct AlloyGainLaw {
    float slope = 0.6f;
    float minGain = 0.3f;
    float maxGain = 2.5f;
};

struct AlloyTransferParams {
    int32_t frames = 0;
    int32_t sampleRate = 48000;
    float morph = 1.0f;
    float transferDepth = 0.4f;
    int32_t graftLength = 0;  // samples
    float driftDepth = 0.05f;
    float envelopeDepth = 0.7f;
    uint32_t pathHash = 0;  // of the primary's path, whichever slot carries
    AlloyCurves curves;
};

AlloyTransferParams MakeAlloyTransferParams(const LayerResult& layer, int32_t sampleRate, int32_t frames);

// Per channel: resizes `out` to the frame count and runs the steps below.
void AlloyTransferKernel(const AlloyTransferParams& params, const AlloySlotVectors& slots,
                         const std::array<bool, kAlloySlotCount>& present, std::vector<float>& out);

// The carrier with the first or only present sound slot (0, then 1, then 2).
int AlloyCarrierSlot(const std::array<bool, kAlloySlotCount>& present);

// Reads the signal at a speed varying by ±depth with two slow sines whose
// phases come from `pathHash`. A drift that would reach the end before the
// last output reads on into a seamless tiling of the signal; otherwise the
// last sample, which the read never reaches, becomes 0.
void ApplyMicroPitchDrift(std::vector<float>& signal, uint32_t pathHash, float depth, int32_t sampleRate);

// Frame by frame, pulls the signal's smoothed spectral envelope toward the
// donor's. The frames start before the first sample and run on past the last
// over zero input, so every sample is synthesised with full overlap. Returns
// false (signal untouched) when the transforms cannot be made.
bool TransferSpectralEnvelope(std::vector<float>& signal, const std::vector<float>& donor, float depth,
                              const AlloyCurves& curves, const AlloyGainLaw& law, int32_t sampleRate);

// Constant-power crossfade from the donor into the signal over `length` samples.
void GraftAttack(std::vector<float>& signal, const std::vector<float>& donor, int32_t length);

// Follows the donor's amplitude (10 ms attack, 100 ms release) and lowers the
// signal by up to `depth` where the donor is quieter than its peak.
void ImposeSourceEnvelope(std::vector<float>& signal, const std::vector<float>& donor, int32_t sampleRate,
                          float depth);

}  // namespace korvel
