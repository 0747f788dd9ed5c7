#pragma once
// Fundamental-frequency estimation: YIN in the time domain, refined on a
// zero-padded 16,384-point spectrum with the help of the harmonics.
#include <vector>

namespace korvel {

inline constexpr int kPitchFftSize = 16384;

// The view FindSpectralPeak searches.
struct PitchSpectrum {
    float binHz = 0.0f;                // sampleRate / 16384
    int binCount = kPitchFftSize / 2;  // usable bins
    std::vector<float> magnitudes;     // |X[k]| for k = 0 ... 8192
};

// Frequency in Hz over the first min(count, 8192) samples; 0 with
// confidence 0 when no pitch is found. Costs (window / 2)^2.
float EstimatePitchYin(const float* samples, int count, float sampleRate, float& confidence);

// The YIN estimate refined on the spectrum and confirmed by harmonics 2 to 6.
float DetectPitch(const float* samples, int count, float sampleRate, float& confidence);

// Interpolated frequency of the strongest bin within targetHz x (1 +- relativeWidth)
// (at least two bins either side); 0 when that neighbourhood is silent.
float FindSpectralPeak(const PitchSpectrum& spectrum, float targetHz, float relativeWidth);

}  // namespace korvel
