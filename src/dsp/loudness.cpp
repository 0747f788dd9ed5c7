#include "dsp/loudness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace korvel {
namespace {

constexpr float kNoLoudness = -100.0f;
constexpr double kOffsetDb = -0.691;
// -70 LUFS as a mean power: 10^((-70 + 0.691) / 10).
const double kAbsoluteGatePower = std::pow(10.0, -6.9309);

struct BiquadState {
    double z1 = 0.0;
    double z2 = 0.0;
};

// Transposed direct form II.
inline double Tick(const BiquadCoefficients& c, BiquadState& s, double x) {
    const double y = c.b0 * x + s.z1;
    s.z1 = c.b1 * x - c.a1 * y + s.z2;
    s.z2 = c.b2 * x - c.a2 * y;
    return y;
}

inline float KWeight(const BiquadCoefficients& shelf, const BiquadCoefficients& highPass,
                     BiquadState& s1, BiquadState& s2, float x) {
    // The shelf's output is rounded to float between the stages.
    const float shelved = static_cast<float>(Tick(shelf, s1, x));
    return static_cast<float>(Tick(highPass, s2, shelved));
}

// Sum of squares in double. Four partial sums keep the adds independent so
// the loop is not bound by the latency of one accumulator.
double SumOfSquares(const float* x, int64_t count) {
    double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    int64_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const double v0 = x[i], v1 = x[i + 1], v2 = x[i + 2], v3 = x[i + 3];
        a0 += v0 * v0;
        a1 += v1 * v1;
        a2 += v2 * v2;
        a3 += v3 * v3;
    }
    for (; i < count; ++i) a0 += static_cast<double>(x[i]) * x[i];
    return (a0 + a1) + (a2 + a3);
}

}  // namespace

void DesignKWeighting(int sampleRate, BiquadCoefficients& shelf, BiquadCoefficients& highPass) {
    const double rate = static_cast<double>(sampleRate);
    {
        const double K = std::tan(5284.078578647628 / rate);  // pi * 1681.974450955533 Hz
        const double Q = 0.7071752369554196;
        const double Vh = 1.58489319246111;
        const double Vb = 1.25872093023786;
        const double a0 = 1.0 + K / Q + K * K;
        shelf.b0 = (Vh + Vb * K / Q + K * K) / a0;
        shelf.b1 = 2.0 * (K * K - Vh) / a0;
        shelf.b2 = (Vh - Vb * K / Q + K * K) / a0;
        shelf.a1 = 2.0 * (K * K - 1.0) / a0;
        shelf.a2 = (1.0 - K / Q + K * K) / a0;
    }
    {
        const double K = std::tan(119.8061151453059 / rate);  // pi * 38.13547087602444 Hz
        const double Q = 0.5003270373238773;
        const double a0 = 1.0 + K / Q + K * K;
        // Numerator over a0 too: unity gain at Nyquist.
        highPass.b0 = 1.0 / a0;
        highPass.b1 = -2.0 / a0;
        highPass.b2 = 1.0 / a0;
        highPass.a1 = 2.0 * (K * K - 1.0) / a0;
        highPass.a2 = (1.0 - K / Q + K * K) / a0;
    }
}

float MeasureLoudness(const float* left, const float* right, int frames, int sampleRate) {
    if (frames < 1 || sampleRate < 1 || left == nullptr) return kNoLoudness;

    BiquadCoefficients shelf, highPass;
    DesignKWeighting(sampleRate, shelf, highPass);

    const size_t count = static_cast<size_t>(frames);
    std::vector<float> weightedL(count);
    std::vector<float> weightedR(right ? count : 0);
    BiquadState shelfL, passL, shelfR, passR;
    if (right) {
        // Both channels in one loop: two independent recursions overlap.
        for (size_t i = 0; i < count; ++i) {
            weightedL[i] = KWeight(shelf, highPass, shelfL, passL, left[i]);
            weightedR[i] = KWeight(shelf, highPass, shelfR, passR, right[i]);
        }
    } else {
        for (size_t i = 0; i < count; ++i) weightedL[i] = KWeight(shelf, highPass, shelfL, passL, left[i]);
    }

    const int64_t block = std::max<int64_t>(1, static_cast<int64_t>(0.4 * sampleRate));
    const int64_t hop = std::max<int64_t>(1, static_cast<int64_t>(0.1 * sampleRate));

    auto blockPower = [&](int64_t start, int64_t length) {
        double power = SumOfSquares(weightedL.data() + start, length) / static_cast<double>(length);
        if (right) power += SumOfSquares(weightedR.data() + start, length) / static_cast<double>(length);
        return power;
    };

    std::vector<double> powers;
    if (frames < block) {
        powers.push_back(blockPower(0, frames));
    } else {
        powers.reserve(static_cast<size_t>((frames - block) / hop + 1));
        for (int64_t start = 0; start + block <= frames; start += hop) powers.push_back(blockPower(start, block));
    }

    double sum = 0.0;
    int64_t kept = 0;
    for (double p : powers) {
        if (p > kAbsoluteGatePower) {
            sum += p;
            ++kept;
        }
    }
    if (kept == 0) return kNoLoudness;

    const double mean = sum / static_cast<double>(kept);
    const double relativeGatePower =
        std::pow(10.0, (10.0 * std::log10(mean) + kOffsetDb - 10.0 - kOffsetDb) / 10.0);

    sum = 0.0;
    kept = 0;
    for (double p : powers) {
        if (p > kAbsoluteGatePower && p > relativeGatePower) {
            sum += p;
            ++kept;
        }
    }
    if (kept == 0) return kNoLoudness;
    return static_cast<float>(10.0 * std::log10(sum / static_cast<double>(kept)) + kOffsetDb);
}

float MeasureLoudnessWeighted(const std::vector<const float*>& channels, const std::vector<float>& weights,
                              int frames, int sampleRate) {
    if (frames < 1 || sampleRate < 1 || channels.empty() || channels.size() != weights.size()) return kNoLoudness;
    for (const float* channel : channels)
        if (channel == nullptr) return kNoLoudness;

    BiquadCoefficients shelf, highPass;
    DesignKWeighting(sampleRate, shelf, highPass);
    const size_t count = static_cast<size_t>(frames);
    std::vector<std::vector<float>> weighted(channels.size(), std::vector<float>(count));
    for (size_t c = 0; c < channels.size(); ++c) {
        BiquadState s1, s2;
        for (size_t i = 0; i < count; ++i) weighted[c][i] = KWeight(shelf, highPass, s1, s2, channels[c][i]);
    }

    const int64_t block = std::max<int64_t>(1, static_cast<int64_t>(0.4 * sampleRate));
    const int64_t hop = std::max<int64_t>(1, static_cast<int64_t>(0.1 * sampleRate));
    auto blockPower = [&](int64_t start, int64_t length) {
        double power = 0.0;
        for (size_t c = 0; c < weighted.size(); ++c)
            power += static_cast<double>(weights[c]) * (SumOfSquares(weighted[c].data() + start, length) /
                                                        static_cast<double>(length));
        return power;
    };
    std::vector<double> powers;
    if (frames < block) {
        powers.push_back(blockPower(0, frames));
    } else {
        for (int64_t start = 0; start + block <= frames; start += hop) powers.push_back(blockPower(start, block));
    }

    double sum = 0.0;
    int64_t kept = 0;
    for (double p : powers)
        if (p > kAbsoluteGatePower) sum += p, ++kept;
    if (kept == 0) return kNoLoudness;
    const double mean = sum / static_cast<double>(kept);
    const double relativeGatePower =
        std::pow(10.0, (10.0 * std::log10(mean) + kOffsetDb - 10.0 - kOffsetDb) / 10.0);
    sum = 0.0;
    kept = 0;
    for (double p : powers)
        if (p > kAbsoluteGatePower && p > relativeGatePower) sum += p, ++kept;
    if (kept == 0) return kNoLoudness;
    return static_cast<float>(10.0 * std::log10(sum / static_cast<double>(kept)) + kOffsetDb);
}

}  // namespace korvel
