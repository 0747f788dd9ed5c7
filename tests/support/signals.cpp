#include "support/signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace korvel::test {

std::vector<float> Sine(double hz, int frames, double amplitude, double rate) {
    std::vector<float> v(static_cast<std::size_t>(std::max(0, frames)));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

std::vector<float> Partials(std::initializer_list<double> hz, int frames, double amplitude, double rate) {
    std::vector<float> v(static_cast<std::size_t>(std::max(0, frames)), 0.0f);
    for (double partial : hz) {
        const std::vector<float> s = Sine(partial, frames, amplitude, rate);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] += s[i];
    }
    return v;
}

std::vector<float> WhiteNoise(std::size_t count, float amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(count);
    for (float& x : v) x = dist(rng);
    return v;
}

std::vector<float> SwellingNoise(int frames, float amplitude, std::uint32_t seed, double swellHz) {
    std::vector<float> v(static_cast<std::size_t>(std::max(0, frames)));
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < v.size(); ++i) {
        state = state * 1664525u + 1013904223u;  // a plain LCG: the same noise on every platform
        const float r = static_cast<float>(state >> 8) / 16777216.0f * 2.0f - 1.0f;
        const double swell = 0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * swellHz * static_cast<double>(i) / 48000.0);
        v[i] = amplitude * r * static_cast<float>(swell);
    }
    return v;
}

double Rms(const std::vector<float>& v, std::size_t begin, std::size_t end) {
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i) sum += static_cast<double>(v[i]) * v[i];
    return std::sqrt(sum / static_cast<double>(end - begin));
}

float Peak(const std::vector<float>& v, std::size_t begin, std::size_t end) {
    float peak = 0.0f;
    for (std::size_t i = begin; i < end; ++i) peak = std::max(peak, std::fabs(v[i]));
    return peak;
}

}  // namespace korvel::test
