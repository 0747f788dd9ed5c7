#pragma once
// Integrated loudness (ITU-R BS.1770-4, gated) of one or two channels.
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

}  // namespace korvel
