#pragma once
// The short-time Fourier transform the spectral alloy algorithms share:
// 2048-point real transforms (KISS FFT), a periodic Hann window for analysis
// and synthesis, and the smoothing of magnitude spectra across frequency.
#include <kissfft/kiss_fftr.h>

#include <array>
#include <vector>

namespace korvel {

inline constexpr int kAlloyFftSize = 2048;
inline constexpr int kAlloyBins = kAlloyFftSize / 2 + 1;
// Largest smoothing half-width, in bins.
inline constexpr int kAlloyMaxHalfWidth = 256;

using AlloySpectrum = std::array<kiss_fft_cpx, kAlloyBins>;
using AlloyMagnitudes = std::array<float, kAlloyBins>;

// w[i] = (1 − cos(2π·i / 2048)) / 2.
const std::array<float, kAlloyFftSize>& AlloyWindow();

// A forward and an inverse 2048-point real transform. `ok()` is false when
// either could not be created.
class AlloyFft {
public:
    AlloyFft();
    ~AlloyFft();
    AlloyFft(const AlloyFft&) = delete;
    AlloyFft& operator=(const AlloyFft&) = delete;

    bool ok() const { return forward_ != nullptr && inverse_ != nullptr; }
    // Spectrum of the windowed frame x[start … start + 2047]; samples before
    // x's start or at or beyond its end read as 0.
    void Analyse(const std::vector<float>& x, int start, AlloySpectrum& out);
    // Inverse transform scaled by 1/2048, windowed again and added into
    // acc[start …] with the squared window into norm[start …] (both at least
    // start + 2048 long).
    void Synthesise(const AlloySpectrum& spectrum, int start, std::vector<float>& acc, std::vector<float>& norm);

private:
    kiss_fftr_cfg forward_ = nullptr;
    kiss_fftr_cfg inverse_ = nullptr;
    std::array<float, kAlloyFftSize> frame_{};
};

// out[i] = acc[from + i] / norm[from + i] where that norm > 1e-6, else 0,
// for i < n.
void FinishOverlapAdd(const std::vector<float>& acc, const std::vector<float>& norm, int n,
                      std::vector<float>& out, int from = 0);

// The padded overlap-add of the spectral algorithms over `n` samples at a
// hop: frames start (2048 − hop) / hop hops before the first sample and run
// until the last sample has full overlap, over zero input where they reach
// past the signal. A grid of whole frames only would leave the first and
// last samples covered by a single frame, whose output divided by its
// near-zero window spikes far above the sound, and the level match would
// then turn the whole layer down to fit the spikes.
class AlloyOverlapAdd {
public:
    AlloyOverlapAdd(int n, int hop);

    // Frames j = beginFrame() … endFrame() − 1 start at sample hop · j.
    int beginFrame() const { return -leadFrames_; }
    int endFrame() const { return frameCount_; }
    // Where the frame starting at `start` lies in the signal, 0 … 1; the
    // lead-in holds at 0, so curves keep their first value there.
    float Position(int start) const { return static_cast<float>(start > 0 ? start : 0) / span_; }
    // Adds the frame that starts at signal sample `start` (negative in the
    // lead-in).
    void Add(AlloyFft& fft, const AlloySpectrum& spectrum, int start) {
        fft.Synthesise(spectrum, lead_ + start, acc_, norm_);
    }
    // The `n` synthesised samples.
    void Finish(std::vector<float>& out) const { FinishOverlapAdd(acc_, norm_, n_, out, lead_); }

private:
    int n_;
    int leadFrames_;
    int lead_;  // samples before the signal's first that the buffers hold
    int frameCount_;
    float span_;
    std::vector<float> acc_;
    std::vector<float> norm_;
};

void MagnitudesOf(const AlloySpectrum& spectrum, AlloyMagnitudes& out);

// Triangular smoothing with per-bin half-widths R[b]: weights 1 − |q|/(R+1)
// for q = −R … R, at bins clamped to the spectrum, normalised by their sum.
// A triangle is two boxes in series, so each bin costs O(1) from running sums
// of running sums instead of O(R).
class TriangularSmoother {
public:
    explicit TriangularSmoother(const std::array<int, kAlloyBins>& halfWidths);
    void Smooth(const AlloyMagnitudes& in, AlloyMagnitudes& out);

private:
    static constexpr int kPad = kAlloyMaxHalfWidth + 1;
    std::array<int, kAlloyBins> halfWidths_;
    std::array<double, kAlloyBins + 2 * kPad + 2> sums2_{};
};

// Plain mean over the bins max(0, b − R[b]) … min(1024, b + R[b]).
class BoxSmoother {
public:
    explicit BoxSmoother(const std::array<int, kAlloyBins>& halfWidths);
    void Smooth(const AlloyMagnitudes& in, AlloyMagnitudes& out);

private:
    std::array<int, kAlloyBins> halfWidths_;
    std::array<double, kAlloyBins + 1> sums_{};
};

}  // namespace korvel
