#pragma once
// Integrated loudness (ITU-R BS.1770-4, gated) of one or two channels.
#include <vector>

namespace korvel {

// a0 normalised to 1.
struct BiquadCoefficients {
    double b0 = 0.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

// The two K-weighting stages (high shelf, then high-pass) for `sampleRate`.
void DesignKWeighting(int sampleRate, BiquadCoefficients& shelf, BiquadCoefficients& highPass);

// Loudness in LUFS; with `right` null only `left` is measured. -100 stands
// for no measurable loudness (silence, empty input, a rate below 1).
float MeasureLoudness(const float* left, const float* right, int frames, int sampleRate);

// Loudness of any number of channels, each channel's block power multiplied
// by its position weight (BS.1770-4: about 1.41 for the ear-level surrounds,
// 1.0 for the rest; leave the LFE out). With two channels at weight 1 it
// equals MeasureLoudness. -100 as there; mismatched or empty lists too.
float MeasureLoudnessWeighted(const std::vector<const float*>& channels, const std::vector<float>& weights,
                              int frames, int sampleRate);

}  // namespace korvel
