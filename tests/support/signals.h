#pragma once
// Deterministic test signals made in memory, and their levels.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvel::test {

// `frames` samples of amplitude · sin(2π · hz · i / rate).
std::vector<float> Sine(double hz, int frames, double amplitude = 0.5, double rate = 48000.0);

// The sum of one sine per frequency in `hz`, each of `amplitude`: a
// broadband signal whose partials a test can pick out.
std::vector<float> Partials(std::initializer_list<double> hz, int frames, double amplitude, double rate = 48000.0);

// Uniform white noise in [−amplitude, amplitude], the same for a seed.
std::vector<float> WhiteNoise(std::size_t count, float amplitude, unsigned seed);

// White noise whose level swells with a slow sine at `swellHz` (48 kHz).
std::vector<float> SwellingNoise(int frames, float amplitude, std::uint32_t seed, double swellHz);

// Root mean square and peak magnitude of v[begin … end).
double Rms(const std::vector<float>& v, std::size_t begin, std::size_t end);
float Peak(const std::vector<float>& v, std::size_t begin, std::size_t end);

}  // namespace korvel::test
