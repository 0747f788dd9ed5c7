#include "dsp/alloy_graft.h"

#include <algorithm>

#include "dsp/alloy_bands.h"

namespace korvel {

AlloyGraftParams MakeAlloyGraftParams(const LayerResult& layer, int32_t sampleRate, int32_t frames) {
    AlloyGraftParams p;
    p.transfer = MakeAlloyTransferParams(layer, sampleRate, frames);
    const float e = p.transfer.morph;
    p.transfer.transferDepth = 0.15f * e + layer.alloyTransferDepth;
    p.transfer.envelopeDepth = 0.35f * e + 0.25f;
    p.tiltAmount = 0.2f * e + 0.15f;
    p.filterBands = layer.alloyFilterBands;
    return p;
}

void AlloyGraftKernel(const AlloyGraftParams& params, const AlloySlotVectors& slots,
                      const std::array<bool, kAlloySlotCount>& present, std::vector<float>& out) {
    const AlloyTransferParams& t = params.transfer;
    out = slots[static_cast<size_t>(AlloyCarrierSlot(present))];
    out.resize(static_cast<size_t>(std::max(0, t.frames)), 0.0f);
    ApplyMicroPitchDrift(out, t.pathHash, t.driftDepth, t.sampleRate);
    if ((present[1] || present[2]) && t.transferDepth > 0.01f) {
        constexpr AlloyGainLaw kGentle{0.5f, 0.4f, 2.0f};
        TransferSpectralEnvelope(out, slots[present[1] ? 1 : 2], t.transferDepth, t.curves, kGentle, t.sampleRate);
    }
    if (present[2] && params.tiltAmount > 0.01f)
        AddHighBandTilt(out, slots[2], params.tiltAmount, params.filterBands, t.curves, t.sampleRate);
    if ((present[2] || present[1]) && t.graftLength > 4) GraftAttack(out, slots[present[2] ? 2 : 1], t.graftLength);
    if (present[3]) ImposeSourceEnvelope(out, slots[3], t.sampleRate, t.envelopeDepth);
}

void AddHighBandTilt(std::vector<float>& signal, const std::vector<float>& high, float tiltAmount,
                     int32_t filterBands, const AlloyCurves& curves, int32_t sampleRate) {
    const int32_t m = std::max(4, filterBands / 2);
    const double nyquist = sampleRate * 0.5;
    const std::vector<double> edges = AlloyBandEdges(m, 300.0, std::min(0.9 * nyquist, 14000.0));
    // The added bands are spread from -1 to +1 over 0 … d, the largest even
    // number below m, so the lowest and highest added bands tilt fully.
    const int32_t d = (m - 1) / 2 * 2;
    const std::vector<float> tone = AlloyToneBySample(curves, static_cast<int32_t>(signal.size()));
    const size_t n = std::min(signal.size(), high.size());
    std::vector<float> band;
    for (int32_t a = 0; a < m; a += 2) {
        const double lo = a == 0 ? 0.0 : edges[static_cast<size_t>(a) - 1];
        const double hi = a == m - 1 ? nyquist : edges[static_cast<size_t>(a)];
        const auto position = a == 0 ? AlloyBandPosition::First
                              : a == m - 1 ? AlloyBandPosition::Last
                                           : AlloyBandPosition::Middle;
        band = FilterBand(high, lo, hi, position, sampleRate);
        const float p = 2.0f * static_cast<float>(a) / static_cast<float>(d) - 1.0f;
        for (size_t i = 0; i < n; ++i) {
            const float gain = std::clamp((tone[i] - 0.5f) * 1.5f * p + 1.0f, 0.15f, 2.5f);
            signal[i] += band[i] * tiltAmount * gain;
        }
    }
}

}  // namespace korvel
