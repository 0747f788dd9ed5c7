#pragma once
// Resampling of one channel of float samples, in place: windowed-sinc to a
// given length or by ratio, linear interpolation to a given length, and the
// semitone-to-speed conversion used for pitch shifting by playback speed.
//
// Output sample i reads the input at position i * ratio; a ratio above 1
// reads faster than the input runs (shorter output, higher pitch).
#include <vector>

namespace korvel {

// Replaces `samples` by `newLength` windowed-sinc outputs at positions
// i * ratio. A `newLength` of 0 or less gives an empty vector.
void ResampleSincToLength(std::vector<float>& samples, int newLength, double ratio);

// Windowed-sinc by ratio: the output length is trunc(length / ratio + 0.5).
// Does nothing when the ratio is 0 or less or within 1e-9 of 1.
void ResampleSincByRatio(std::vector<float>& samples, double ratio);

// Replaces `samples` by `newLength` linearly interpolated outputs at
// positions i * ratio; positions past the end hold the last input sample.
// An empty input, or a position that is not a number, gives silence.
void ResampleLinearToLength(std::vector<float>& samples, int newLength, double ratio);

// Exactly 1 within a hundredth of a semitone, otherwise 2^(semitones / 12).
double SemitonesToRatio(float semitones);

}  // namespace korvel
