#pragma once
// The five-band equaliser that shapes every rendered layer by its band gains.
namespace korvel {

// In place on one channel. `gains` are linear, low to high: below 200 Hz,
// 200-800, 800-3,000, 3,000-8,000 and above 8,000 Hz. Gains all within 0.01
// of 1 leave the samples untouched. A stereo layer is processed channel by
// channel with the same gains.
void ApplyFiveBandEq(float* samples, int frames, int sampleRate, const float gains[5]);

}  // namespace korvel
