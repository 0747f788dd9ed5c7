#include "dsp/alloy_common.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvel {

AlloyCurves AlloyCurvesOf(const LayerResult& layer) {
    return AlloyCurves{layer.alloyToneCurve, layer.alloyGainCurve, layer.hasAlloyCurves};
}

float SampleAlloyCurve(std::span<const float, kAlloyCurvePoints> curve, float position) {
    const float x = 31.0f * position;
    const int i = std::clamp(static_cast<int>(x), 0, kAlloyCurvePoints - 2);
    const float f = x - static_cast<float>(i);
    return (1.0f - f) * curve[static_cast<size_t>(i)] + f * curve[static_cast<size_t>(i) + 1];
}

uint32_t AlloyPathHash(std::string_view path) {
    uint32_t h = 5381u;
    for (const char c : path) h = h * 33u + static_cast<unsigned char>(c);
    return h;
}

void LoopFitSource(std::vector<float>& samples, int32_t targetLength, int32_t sampleRate) {
    const auto n = static_cast<int32_t>(samples.size());
    if (n >= targetLength) {
        samples.resize(static_cast<size_t>(std::max(0, targetLength)));
        return;
    }
    if (n <= 0) return;
    // Restarting each pass at the source's head would jump from its last
    // sample to an earlier one: a click at every seam. Instead each pass
    // runs for n − seam samples and its last `seam` samples crossfade from
    // the source's tail into its head, so the next pass goes on from the
    // sample after the head it has already faded into. The seam is at most
    // half the source so that tail and head never overlap.
    const int32_t seam = std::min(std::max(64, std::min(sampleRate / 20, n / 4)), n / 2);
    const int32_t period = n - seam;
    std::vector<float> out(static_cast<size_t>(targetLength));
    std::copy(samples.begin(), samples.begin() + period, out.begin());
    for (int32_t i = period; i < targetLength; ++i) {
        const int32_t r = (i - period) % period;
        float v = samples[static_cast<size_t>(r)];
        if (r < seam) {
            const float d = static_cast<float>(r) / static_cast<float>(seam);
            v = (1.0f - d) * samples[static_cast<size_t>(period + r)] + d * v;
        }
        out[static_cast<size_t>(i)] = v;
    }
    samples = std::move(out);
}

namespace {

double SumOfSquares(const std::vector<float>& v, int32_t frames) {
    double sum = 0.0;
    const auto count = std::min(static_cast<size_t>(std::max(0, frames)), v.size());
    for (size_t i = 0; i < count; ++i) sum += static_cast<double>(v[i]) * v[i];
    return sum;
}

float PeakOf(const std::vector<float>& v, int32_t frames) {
    float peak = 0.0f;
    const auto count = std::min(static_cast<size_t>(std::max(0, frames)), v.size());
    for (size_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(v[i]));
    return peak;
}

}  // namespace

void MatchAlloyLevel(const AlloyInputs& inputs, AlloyCacheEntry& out, int32_t frames, bool stereo) {
    if (frames <= 0) return;
    double inSum = 0.0;
    int64_t inCount = 0;
    for (int slot = 0; slot < 3; ++slot) {
        if (!inputs.present[static_cast<size_t>(slot)]) continue;
        inSum += SumOfSquares(inputs.samplesL[static_cast<size_t>(slot)], frames);
        inCount += frames;
    }
    const double inLevel = inCount > 0 ? std::sqrt(inSum / static_cast<double>(inCount)) : 0.1;

    double outSum = SumOfSquares(out.samplesL, frames);
    int64_t outCount = frames;
    if (stereo) {
        outSum += SumOfSquares(out.samplesR, frames);
        outCount += frames;
    }
    const double outLevel = std::sqrt(outSum / static_cast<double>(outCount));
    if (!(inLevel > 1e-8) || !(outLevel > 1e-8)) return;

    double gain = std::min(10.0, inLevel / outLevel);
    float peak = PeakOf(out.samplesL, frames);
    if (stereo) peak = std::max(peak, PeakOf(out.samplesR, frames));
    if (peak * gain > 0.98) gain = 0.98 / peak;

    const auto g = static_cast<float>(gain);
    for (float& s : out.samplesL) s *= g;
    if (stereo)
        for (float& s : out.samplesR) s *= g;
}

void ShapeAlloyOutput(const AlloyCurves& curves, int32_t sampleRate, AlloyCacheEntry& out, int32_t frames,
                      bool stereo) {
    if (frames <= 0) return;
    const int32_t fade = std::min(frames / 4, sampleRate / 100);
    const float span = static_cast<float>(std::max(1, frames - 1));
    const auto count = static_cast<size_t>(frames);
    float* left = out.samplesL.size() >= count ? out.samplesL.data() : nullptr;
    float* right = stereo && out.samplesR.size() >= count ? out.samplesR.data() : nullptr;
    for (int32_t k = 0; k < frames; ++k) {
        float c = 1.0f;
        if (curves.valid)
            c = std::sqrt(std::clamp(SampleAlloyCurve(curves.gain, static_cast<float>(k) / span), 0.0f, 1.0f));
        float e = 1.0f;
        if (k < fade)
            e = (1.0f - std::cos(std::numbers::pi_v<float> * static_cast<float>(k) / static_cast<float>(fade))) * 0.5f;
        else if (k > frames - fade - 1)
            e = (1.0f - std::cos(std::numbers::pi_v<float> * static_cast<float>(frames - 1 - k) /
                                 static_cast<float>(fade))) *
                0.5f;
        const float g = e * c;
        if (left) left[k] *= g;
        if (right) right[k] *= g;
    }
}

}  // namespace korvel
