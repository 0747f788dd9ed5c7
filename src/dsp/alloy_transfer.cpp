#include "dsp/alloy_transfer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "dsp/alloy_stft.h"

namespace korvel {

AlloyTransferParams MakeAlloyTransferParams(const LayerResult& layer, int32_t sampleRate, int32_t frames) {
    AlloyTransferParams p;
    p.frames = frames;
    p.sampleRate = sampleRate;
    p.morph = std::clamp(layer.alloyMorph, 0.0f, 1.0f);
    p.transferDepth = 0.2f * p.morph + layer.alloyTransferDepth;
    p.graftLength = std::min(frames / 4, static_cast<int32_t>(static_cast<float>(sampleRate) * layer.alloyAttackGraft));
    p.driftDepth = 0.02f * p.morph + layer.alloyMicroPitch;
    p.envelopeDepth = 0.4f * p.morph + 0.3f;
    p.pathHash = AlloyPathHash(layer.filepath);
    p.curves = AlloyCurvesOf(layer);
    return p;
}

int AlloyCarrierSlot(const std::array<bool, kAlloySlotCount>& present) {
    if (present[0]) return 0;
    if (present[1]) return 1;
    return 2;
}

void AlloyTransferKernel(const AlloyTransferParams& params, const AlloySlotVectors& slots,
                         const std::array<bool, kAlloySlotCount>& present, std::vector<float>& out) {
    out = slots[static_cast<size_t>(AlloyCarrierSlot(present))];
    out.resize(static_cast<size_t>(std::max(0, params.frames)), 0.0f);
    if (params.driftDepth > 0.001f) ApplyMicroPitchDrift(out, params.pathHash, params.driftDepth, params.sampleRate);
    if (present[1] && params.transferDepth > 0.01f)
        TransferSpectralEnvelope(out, slots[1], params.transferDepth, params.curves, AlloyGainLaw{}, params.sampleRate);
    if (present[2] && params.graftLength > 4) GraftAttack(out, slots[2], params.graftLength);
    if (present[3]) ImposeSourceEnvelope(out, slots[3], params.sampleRate, params.envelopeDepth);
}

void ApplyMicroPitchDrift(std::vector<float>& signal, uint32_t pathHash, float depth, int32_t sampleRate) {
    const auto n = static_cast<int64_t>(signal.size());
    if (n == 0) return;
    // The constant is 6.2832 rather than 2π so the drift of a given path
    // stays what it has always been.
    const double phase1 = static_cast<double>(static_cast<float>(pathHash >> 16) / 65535.0f * 6.2832f);
    const double phase2 = static_cast<double>(static_cast<float>(pathHash & 0xFFFFu) / 65535.0f * 6.2832f);
    const double rate = static_cast<double>(sampleRate);
    auto step = [&](int64_t k) {
        const double t = static_cast<double>(k) / rate;
        return 1.0 + depth * (0.4 * std::sin(0.7 * t + phase1) + 0.6 * std::sin(1.7 * t + phase2));
    };
    // A drift that reads faster than real time reaches the end of the
    // signal early and would leave a silent tail longer than the layer's
    // fade: the sound would cut off. The read and its contour stay as they
    // are; the signal is tiled on, seamlessly, far enough for the read's
    // last output. A read that only misses the last sample, as every read
    // does, is left alone.
    std::vector<float> extended;
    const std::vector<float>* source = &signal;
    if (n > 2) {
        double p = 0.0;
        for (int64_t k = 0; k + 2 < n; ++k) p += step(k);  // position at output n − 2
        if (p >= static_cast<double>(n - 1)) {
            const double last = p + step(n - 2);  // position at output n − 1
            extended = signal;
            LoopFitSource(extended, static_cast<int32_t>(std::min(last + 3.0, 2147483647.0)), sampleRate);
            source = &extended;
        }
    }
    const std::vector<float>& x = *source;
    const auto m = static_cast<int64_t>(x.size());
    std::vector<float> y(static_cast<size_t>(n), 0.0f);
    double p = 0.0;
    for (int64_t k = 0; p < static_cast<double>(m - 1) && k < n; ++k) {
        p = std::max(0.0, p);  // only a depth above 1 could read backwards past the start
        const auto i = static_cast<int64_t>(p);
        const float f = static_cast<float>(p - static_cast<double>(i));
        y[static_cast<size_t>(k)] = i + 1 < m ? f * x[static_cast<size_t>(i + 1)] + (1.0f - f) * x[static_cast<size_t>(i)]
                                              : x[static_cast<size_t>(std::min(i, m - 1))];
        p += step(k);
    }
    signal = std::move(y);
}

bool TransferSpectralEnvelope(std::vector<float>& signal, const std::vector<float>& donor, float depth,
                              const AlloyCurves& curves, const AlloyGainLaw& law, int32_t sampleRate) {
    constexpr int kHop = 256;
    const auto fft = std::make_unique<AlloyFft>();
    if (!fft->ok()) return false;
    const int n = static_cast<int>(signal.size());
    if (n <= 0) return true;

    // Half the bin's frequency in bins, at least 2 and at most 256.
    const float binHz = static_cast<float>(sampleRate) / kAlloyFftSize;
    std::array<int, kAlloyBins> halfWidths{};
    for (int b = 0; b < kAlloyBins; ++b) {
        const int r = static_cast<int>(std::max(20.0f, static_cast<float>(b) * binHz) * 0.5f / binHz);
        halfWidths[static_cast<size_t>(b)] = std::clamp(r, 2, kAlloyMaxHalfWidth);
    }

    struct Work {
        AlloySpectrum a, b;
        AlloyMagnitudes magA, magB, smoothA, smoothB;
    };
    const auto work = std::make_unique<Work>();
    TriangularSmoother smoother(halfWidths);

    AlloyOverlapAdd frames(n, kHop);
    for (int j = frames.beginFrame(); j < frames.endFrame(); ++j) {
        const int s = kHop * j;
        const float position = frames.Position(s);
        const float c = curves.valid ? SampleAlloyCurve(curves.tone, position) : 0.5f;
        const float k = (1.2f * c + 0.4f) * depth;
        fft->Analyse(signal, s, work->a);
        fft->Analyse(donor, s, work->b);
        MagnitudesOf(work->a, work->magA);
        MagnitudesOf(work->b, work->magB);
        smoother.Smooth(work->magA, work->smoothA);
        smoother.Smooth(work->magB, work->smoothB);
        for (size_t bin = 0; bin < kAlloyBins; ++bin) {
            const float ahat = work->smoothA[bin];
            if (!(ahat > 1e-8f)) continue;
            const float ratio = work->smoothB[bin] / ahat;
            const float g = std::clamp(1.0f + k * std::tanh(law.slope * (ratio - 1.0f)), law.minGain, law.maxGain);
            work->a[bin].r *= g;
            work->a[bin].i *= g;
        }
        frames.Add(*fft, work->a, s);
    }
    frames.Finish(signal);
    return true;
}

void GraftAttack(std::vector<float>& signal, const std::vector<float>& donor, int32_t length) {
    const auto count = std::min({static_cast<size_t>(std::max(0, length)), signal.size(), donor.size()});
    const float l = static_cast<float>(length);
    for (size_t i = 0; i < count; ++i) {
        const float theta = static_cast<float>(i) / l * (std::numbers::pi_v<float> * 0.5f);
        signal[i] = std::cos(theta) * donor[i] + std::sin(theta) * signal[i];
    }
}

void ImposeSourceEnvelope(std::vector<float>& signal, const std::vector<float>& donor, int32_t sampleRate,
                          float depth) {
    const size_t n = std::min(signal.size(), donor.size());
    const float attack = std::exp(-1.0f / (0.01f * static_cast<float>(sampleRate)));
    const float release = std::exp(-1.0f / (0.1f * static_cast<float>(sampleRate)));
    std::vector<float> envelope(n);
    float s = 0.0f;
    float peak = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        const float a = std::fabs(donor[i]);
        const float c = a > s ? attack : release;
        s = (1.0f - c) * a + c * s;
        envelope[i] = s;
        peak = std::max(peak, s);
    }
    if (!(peak > 1e-8f)) return;
    for (size_t i = 0; i < n; ++i) signal[i] *= std::clamp(1.0f + (envelope[i] / peak - 1.0f) * depth, 0.0f, 2.0f);
}

}  // namespace korvel
