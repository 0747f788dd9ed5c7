#include "dsp/pitch.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace korvel {
namespace {

constexpr int kMaxWindow = 8192;
constexpr int kMinHalfWindow = 64;
constexpr float kYinThreshold = 0.15f;
constexpr float kUnvoiced = 0.5f;
constexpr float kMinRefineConfidence = 0.15f;

// d(tau) = sum over j < W of (x[j] - x[j + tau])^2. Eight partial sums let
// the compiler run the inner loop in vector registers; this is where all
// the time goes (W^2 operations).
float Difference(const float* x, int halfWindow, int tau) {
    float acc[8] = {};
    const float* shifted = x + tau;
    int j = 0;
    for (; j + 8 <= halfWindow; j += 8) {
        for (int k = 0; k < 8; ++k) {
            const float diff = x[j + k] - shifted[j + k];
            acc[k] += diff * diff;
        }
    }
    for (; j < halfWindow; ++j) {
        const float diff = x[j] - shifted[j];
        acc[0] += diff * diff;
    }
    return ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]));
}

inline int NearestBin(float hz, float binHz, int last) {
    return std::clamp(static_cast<int>(hz / binHz + 0.5f), 0, last);
}

}  // namespace

float EstimatePitchYin(const float* samples, int count, float sampleRate, float& confidence) {
    confidence = 0.0f;
    const int W = std::min(count, kMaxWindow) / 2;
    if (W < kMinHalfWindow || samples == nullptr) return 0.0f;

    const int lo = std::max(2, static_cast<int>(sampleRate / 10000.0f));
    const int hi = std::min(static_cast<int>(sampleRate / 30.0f), W - 1);

    // Cumulative-mean normalised difference d'(tau), filled in lag order
    // only as far as the search needs it: a voiced block stops at the bottom
    // of its first dip (plus one lag for the parabola), which saves most of
    // the W^2 work; the values computed are the same either way.
    std::array<float, kMaxWindow / 2> norm;
    norm[0] = 1.0f;
    float running = 0.0f;
    int filled = 1;  // norm[0 .. filled) hold their values
    const auto fillTo = [&](int last) {
        for (; filled <= last && filled < W; ++filled) {
            const float d = Difference(samples, W, filled);
            running += d;
            norm[filled] = running > 0.0f ? static_cast<float>(filled) * d / running : 1.0f;
        }
    };

    int tau = -1;
    for (int t = lo; t < hi; ++t) {
        fillTo(t);
        if (norm[t] < kYinThreshold) {
            tau = t;
            break;
        }
    }
    if (tau >= 0) {
        // Walk to the bottom of the dip.
        for (fillTo(tau + 1); tau + 1 < hi && norm[tau + 1] < norm[tau]; fillTo(tau + 1)) ++tau;
    } else {
        float best = 1.0f;
        for (int t = lo; t < hi; ++t) {
            if (norm[t] < best) {
                best = norm[t];
                tau = t;
            }
        }
        if (tau < 0 || best > kUnvoiced) return 0.0f;
    }
    fillTo(tau + 1);  // the parabola's right-hand point

    float refined = static_cast<float>(tau);
    if (tau < W - 1) {
        const float a = norm[tau - 1];
        const float b = norm[tau];
        const float c = norm[tau + 1];
        // Vertex of the parabola through the three points: it leans toward
        // the lower neighbour (v = 2b - c - a is negative at a minimum).
        const float v = 2.0f * b - c - a;
        if (std::fabs(2.0f * v) > 1e-9f) refined = static_cast<float>(tau) + (c - a) / (2.0f * v);
    }
    confidence = 1.0f - std::clamp(norm[tau], 0.0f, 1.0f);
    return sampleRate / refined;
}

float FindSpectralPeak(const PitchSpectrum& spectrum, float targetHz, float relativeWidth) {
    if (spectrum.binHz <= 0.0f || spectrum.magnitudes.empty()) return 0.0f;
    const float binHz = spectrum.binHz;
    const int binCount = std::min<int>(spectrum.binCount, static_cast<int>(spectrum.magnitudes.size()) - 1);
    const float* mag = spectrum.magnitudes.data();

    const int centre = static_cast<int>(targetHz / binHz + 0.5f);
    const int halfWidth = std::max(2, static_cast<int>(targetHz * relativeWidth / binHz));
    const int lo = std::max(1, centre - halfWidth);
    const int hi = std::min(centre + halfWidth, binCount - 1);

    int g = -1;
    float best = 0.0f;
    for (int k = lo; k <= hi; ++k) {
        if (mag[k] > best) {
            best = mag[k];
            g = k;
        }
    }
    if (g < 0 || best < 1e-10f) return 0.0f;

    float position = static_cast<float>(g);
    if (g > 1 && g < binCount - 1 && mag[g] >= mag[g - 1] && mag[g] >= mag[g + 1]) {
        // Vertex of the parabola through the peak and its neighbours: it
        // leans toward the larger neighbour (e is positive at a maximum).
        const float e = 2.0f * mag[g] - mag[g - 1] - mag[g + 1];
        if (std::fabs(2.0f * e) > 1e-9f) position = static_cast<float>(g) + (mag[g + 1] - mag[g - 1]) / (2.0f * e);
    }
    return position * binHz;
}

float DetectPitch(const float* samples, int count, float sampleRate, float& confidence) {
    float yinConfidence = 0.0f;
    const float f0 = EstimatePitchYin(samples, count, sampleRate, yinConfidence);
    confidence = 0.0f;
    if (f0 <= 0.0f || yinConfidence < kMinRefineConfidence) return 0.0f;

    kiss_fftr_cfg fft = kiss_fftr_alloc(kPitchFftSize, 0, nullptr, nullptr);
    if (fft == nullptr) {
        confidence = yinConfidence;
        return f0;
    }

    // Hann window over the analysed part, zero-padded to the transform size.
    const int N = std::min(count, kMaxWindow);
    std::vector<float> frame(kPitchFftSize, 0.0f);
    const float twoPi = 6.2831855f;
    for (int i = 0; i < N; ++i)
        frame[i] = samples[i] * 0.5f * (1.0f - std::cos(twoPi * static_cast<float>(i) / static_cast<float>(N)));
    std::vector<kiss_fft_cpx> bins(kPitchFftSize / 2 + 1);
    kiss_fftr(fft, frame.data(), bins.data());
    kiss_fftr_free(fft);

    PitchSpectrum spectrum;
    spectrum.binHz = sampleRate / static_cast<float>(kPitchFftSize);
    spectrum.magnitudes.resize(bins.size());
    for (size_t k = 0; k < bins.size(); ++k) spectrum.magnitudes[k] = std::hypot(bins[k].r, bins[k].i);

    const float m = FindSpectralPeak(spectrum, f0, 0.06f);
    if (m <= 0.0f) {
        confidence = yinConfidence;
        return f0;
    }

    const int last = kPitchFftSize / 2;
    const float binHz = spectrum.binHz;
    const float* mag = spectrum.magnitudes.data();
    const float magM = mag[NearestBin(m, binHz, last)];
    float weightSum = magM;
    float weighted = magM * m;
    int matches = 0;
    for (int h = 2; h <= 6 && static_cast<float>(h) * m <= 0.45f * sampleRate; ++h) {
        const float v = FindSpectralPeak(spectrum, static_cast<float>(h) * m, 0.03f);
        if (v > 0.0f && std::fabs(v / static_cast<float>(h) - m) / m < 0.02f) {
            ++matches;
            const float magV = mag[NearestBin(v, binHz, last)];
            weightSum += magV;
            weighted += (v / static_cast<float>(h)) * magV;
        }
    }
    confidence = std::min(1.0f, yinConfidence + std::min(0.15f, 0.05f * static_cast<float>(matches)));
    return weightSum > 0.0f ? weighted / weightSum : m;
}

}  // namespace korvel
