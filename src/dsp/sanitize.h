#pragma once
// The last step before samples leave the program: every file writer and the
// recipe preview apply it.
namespace korvel {

// In place: infinities and NaN become 0, the rest is clamped to -1 ... 1.
void SanitizeSamples(float* samples, int count);

}  // namespace korvel
