#include "dsp/alloy_stft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvel {

const std::array<float, kAlloyFftSize>& AlloyWindow() {
    static const std::array<float, kAlloyFftSize> window = [] {
        std::array<float, kAlloyFftSize> w{};
        for (int i = 0; i < kAlloyFftSize; ++i)
            w[static_cast<size_t>(i)] =
                static_cast<float>((1.0 - std::cos(2.0 * std::numbers::pi * i / kAlloyFftSize)) * 0.5);
        return w;
    }();
    return window;
}

AlloyFft::AlloyFft()
    : forward_(kiss_fftr_alloc(kAlloyFftSize, 0, nullptr, nullptr)),
      inverse_(kiss_fftr_alloc(kAlloyFftSize, 1, nullptr, nullptr)) {}

AlloyFft::~AlloyFft() {
    if (forward_) kiss_fftr_free(forward_);
    if (inverse_) kiss_fftr_free(inverse_);
}

void AlloyFft::Analyse(const std::vector<float>& x, int start, AlloySpectrum& out) {
    const auto& w = AlloyWindow();
    const int size = static_cast<int>(x.size());
    const int first = std::clamp(-start, 0, kAlloyFftSize);
    const int last = std::clamp(size - start, first, kAlloyFftSize);
    std::fill(frame_.begin(), frame_.begin() + first, 0.0f);
    for (int i = first; i < last; ++i)
        frame_[static_cast<size_t>(i)] = w[static_cast<size_t>(i)] * x[static_cast<size_t>(start + i)];
    std::fill(frame_.begin() + last, frame_.end(), 0.0f);
    kiss_fftr(forward_, frame_.data(), out.data());
}

void AlloyFft::Synthesise(const AlloySpectrum& spectrum, int start, std::vector<float>& acc,
                          std::vector<float>& norm) {
    const auto& w = AlloyWindow();
    kiss_fftri(inverse_, spectrum.data(), frame_.data());
    constexpr float kScale = 1.0f / kAlloyFftSize;
    float* a = acc.data() + start;
    float* m = norm.data() + start;
    for (int i = 0; i < kAlloyFftSize; ++i) {
        const float wi = w[static_cast<size_t>(i)];
        a[i] += frame_[static_cast<size_t>(i)] * kScale * wi;
        m[i] += wi * wi;
    }
}

void FinishOverlapAdd(const std::vector<float>& acc, const std::vector<float>& norm, int n,
                      std::vector<float>& out, int from) {
    out.assign(static_cast<size_t>(std::max(0, n)), 0.0f);
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t k = i + static_cast<size_t>(from);
        if (norm[k] > 1e-6f) out[i] = acc[k] / norm[k];
    }
}

AlloyOverlapAdd::AlloyOverlapAdd(int n, int hop)
    : n_(n),
      leadFrames_((kAlloyFftSize - hop) / hop),
      lead_(leadFrames_ * hop),
      frameCount_(std::max(std::max(1, (n - kAlloyFftSize) / hop + 1), (n + hop - 1) / hop)),
      span_(static_cast<float>(std::max(1, n))),
      acc_(static_cast<size_t>(lead_ + n) + kAlloyFftSize, 0.0f),
      norm_(acc_.size(), 0.0f) {}

void MagnitudesOf(const AlloySpectrum& spectrum, AlloyMagnitudes& out) {
    for (size_t b = 0; b < kAlloyBins; ++b)
        out[b] = std::sqrt(spectrum[b].r * spectrum[b].r + spectrum[b].i * spectrum[b].i);
}

TriangularSmoother::TriangularSmoother(const std::array<int, kAlloyBins>& halfWidths) : halfWidths_(halfWidths) {
    for (int& r : halfWidths_) r = std::clamp(r, 0, kAlloyMaxHalfWidth);
}

void TriangularSmoother::Smooth(const AlloyMagnitudes& in, AlloyMagnitudes& out) {
    // y is the spectrum extended by repeating its edge bins, indexed from
    // -kPad; sums2_[k] = Σ_{m<k} Σ_{l<m} y[l]. A triangle of half-width R at
    // centre c is then sums2_[c+R+2] − 2·sums2_[c+1] + sums2_[c−R].
    constexpr int length = kAlloyBins + 2 * kPad;
    double running = 0.0;
    sums2_[0] = 0.0;
    for (int k = 0; k <= length; ++k) {
        sums2_[static_cast<size_t>(k) + 1] = sums2_[static_cast<size_t>(k)] + running;
        if (k < length) running += in[static_cast<size_t>(std::clamp(k - kPad, 0, kAlloyBins - 1))];
    }
    for (int b = 0; b < kAlloyBins; ++b) {
        const int r = halfWidths_[static_cast<size_t>(b)];
        const int c = b + kPad;
        const double tri = sums2_[static_cast<size_t>(c + r + 2)] - 2.0 * sums2_[static_cast<size_t>(c + 1)] +
                           sums2_[static_cast<size_t>(c - r)];
        const double weight = static_cast<double>(r + 1) * static_cast<double>(r + 1);
        out[static_cast<size_t>(b)] = static_cast<float>(std::max(0.0, tri / weight));
    }
}

BoxSmoother::BoxSmoother(const std::array<int, kAlloyBins>& halfWidths) : halfWidths_(halfWidths) {
    for (int& r : halfWidths_) r = std::max(0, r);
}

void BoxSmoother::Smooth(const AlloyMagnitudes& in, AlloyMagnitudes& out) {
    sums_[0] = 0.0;
    for (size_t b = 0; b < kAlloyBins; ++b) sums_[b + 1] = sums_[b] + in[b];
    for (int b = 0; b < kAlloyBins; ++b) {
        const int r = halfWidths_[static_cast<size_t>(b)];
        const int lo = std::max(0, b - r);
        const int hi = std::min(kAlloyBins - 1, b + r);
        const double sum = sums_[static_cast<size_t>(hi) + 1] - sums_[static_cast<size_t>(lo)];
        out[static_cast<size_t>(b)] = static_cast<float>(std::max(0.0, sum / (hi - lo + 1)));
    }
}

}  // namespace korvel
