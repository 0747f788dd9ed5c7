#include "dsp/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

// [SECTION] Kernel
// [SECTION] Windowed-sinc resampling
// [SECTION] Linear resampling and semitones

namespace korvel {
namespace {

// [SECTION] Kernel
//
// Lanczos kernel, a = 8: w(x) = sinc(x) * sinc(x / 8) over the 16 taps
// n - 7 ... n + 8 around the read position n + f. Downsampling (ratio above
// 1) stretches the kernel by the ratio, which lowers its cutoff to the new
// Nyquist frequency; otherwise content above it would fold back as aliases.

constexpr double kPi = 3.14159265358979323846;
constexpr int kFirstTap = -7;
constexpr int kTapCount = 16;
constexpr double kOnTap = 1e-9;
constexpr double kMinWeightSum = 1e-12;
// sinc(x) * sinc(x / 8) == kWeightScale * sin(pi x) * sin(pi x / 8) / x^2
constexpr double kWeightScale = 8.0 / (kPi * kPi);

double LanczosWeight(double x) {
    if (std::fabs(x) < kOnTap) return 1.0;
    const double px = kPi * x;
    return (std::sin(px) / px) * (std::sin(px / 8.0) / (px / 8.0));
}

// sin(pi q / 8), cos(pi q / 8) and the sign (-1)^(q + 1) of sin(pi (q - d))
// for q = -8 ... 8: the per-tap constants of the angle-sum form.
struct TapConstants {
    double sinEighth[17];
    double cosEighth[17];
    double sign[17];
};

TapConstants MakeTapConstants() {
    TapConstants t{};
    for (int q = -8; q <= 8; ++q) {
        t.sinEighth[q + 8] = std::sin(kPi * q / 8.0);
        t.cosEighth[q + 8] = std::cos(kPi * q / 8.0);
        t.sign[q + 8] = (q % 2 == 0) ? -1.0 : 1.0;
    }
    return t;
}

const TapConstants kTaps = MakeTapConstants();

// One output of the 16-tap kernel, every tap inside the input. All sixteen
// sines follow from one sine and cosine of the fraction: with x = q - d
// (q whole), sin(pi x) = (-1)^(q+1) sin(pi d) and sin(pi x / 8) =
// sin(pi q / 8) cos(pi d / 8) - cos(pi q / 8) sin(pi d / 8). The fraction is
// folded into d in [-0.5, 0.5] so that sin(pi d), reached by three angle
// doublings, keeps its relative precision next to a tap.
inline float InteriorOutput(const float* in, int64_t n, double f) {
    const int shift = f > 0.5 ? 1 : 0;
    const double d = f - shift;
    const double eighth = d * (kPi / 8.0);
    const double s1 = std::sin(eighth);
    const double c1 = std::cos(eighth);
    const double s2 = 2.0 * s1 * c1, c2 = 1.0 - 2.0 * s1 * s1;
    const double s4 = 2.0 * s2 * c2, c4 = 1.0 - 2.0 * s2 * s2;
    const double sinPiD = 2.0 * s4 * c4;

    // Tap j reads input n + j - 7 at distance x = (j - 7) - f = q - d with
    // q = j - 7 - shift, whose constants sit at index q + 8 = j + 1 - shift.
    const double* sinE = kTaps.sinEighth + 1 - shift;
    const double* cosE = kTaps.cosEighth + 1 - shift;
    const double* sign = kTaps.sign + 1 - shift;
    const float* x0 = in + n + kFirstTap;
    double num = 0.0, den = 0.0;
    for (int j = 0; j < kTapCount; ++j) {
        const double x = static_cast<double>(j + kFirstTap) - f;
        const double sinPiX = sign[j] * sinPiD;
        const double sinPiX8 = sinE[j] * c1 - cosE[j] * s1;
        double w = kWeightScale * sinPiX * sinPiX8 / (x * x);
        w = std::fabs(x) < kOnTap ? 1.0 : w;
        num += static_cast<double>(x0[j]) * w;
        den += w;
    }
    return den > kMinWeightSum ? static_cast<float>(num / den) : 0.0f;
}

// One output near the ends of the input (or before its start): taps outside
// are skipped and the weight sum restores the gain.
float EdgeOutput(const float* in, int64_t length, int64_t n, double f) {
    double num = 0.0, den = 0.0;
    for (int k = kFirstTap; k < kFirstTap + kTapCount; ++k) {
        const int64_t idx = n + k;
        if (idx < 0 || idx >= length) continue;
        const double w = LanczosWeight(static_cast<double>(k) - f);
        num += static_cast<double>(in[idx]) * w;
        den += w;
    }
    return den > kMinWeightSum ? static_cast<float>(num / den) : 0.0f;
}

// One output of the stretched kernel w(x) = sinc(x / r) * sinc(x / 8r) over
// the taps with |x| < 8r. The sines of consecutive taps are reached by
// rotating from the first one (exact angle sums, a few ulp of drift).
float StretchedOutput(const float* in, int64_t length, int64_t n, double f, double ratio,
                      const double stepA[2], const double stepB[2]) {
    const double support = 8.0 * ratio;
    const int64_t half = static_cast<int64_t>(std::ceil(support));
    const int64_t k0 = std::max<int64_t>(1 - half, -n);
    const int64_t k1 = std::min<int64_t>(half, length - 1 - n);
    if (k0 > k1) return 0.0f;

    const double scale = kPi / ratio;
    double x = static_cast<double>(k0) - f;
    double sA = std::sin(scale * x), cA = std::cos(scale * x);
    double sB = std::sin(scale * x / 8.0), cB = std::cos(scale * x / 8.0);
    double num = 0.0, den = 0.0;
    for (int64_t k = k0; k <= k1; ++k, x += 1.0) {
        double w;
        if (std::fabs(x) < kOnTap) {
            w = 1.0;
        } else if (std::fabs(x) >= support) {
            w = 0.0;
        } else {
            const double u = scale * x;
            w = (sA / u) * (sB / (u / 8.0));
        }
        num += static_cast<double>(in[n + k]) * w;
        den += w;
        const double nA = sA * stepA[1] + cA * stepA[0];
        cA = cA * stepA[1] - sA * stepA[0];
        sA = nA;
        const double nB = sB * stepB[1] + cB * stepB[0];
        cB = cB * stepB[1] - sB * stepB[0];
        sB = nB;
    }
    return den > kMinWeightSum ? static_cast<float>(num / den) : 0.0f;
}

// [SECTION] Windowed-sinc resampling

std::vector<float> SincResample(const std::vector<float>& input, int64_t outLength, double ratio) {
    std::vector<float> out(static_cast<size_t>(outLength), 0.0f);
    const float* in = input.data();
    const int64_t length = static_cast<int64_t>(input.size());
    if (length == 0) return out;

    const bool stretched = ratio > 1.0;
    const double stepA[2] = {std::sin(kPi / ratio), std::cos(kPi / ratio)};
    const double stepB[2] = {std::sin(kPi / ratio / 8.0), std::cos(kPi / ratio / 8.0)};
    // Positions beyond this cannot be split into a whole part and a fraction.
    constexpr double kMaxPosition = 9.0e15;

    for (int64_t i = 0; i < outLength; ++i) {
        const double p = static_cast<double>(i) * ratio;
        if (!(std::fabs(p) < kMaxPosition)) continue;
        const double whole = std::trunc(p);
        const int64_t n = static_cast<int64_t>(whole);
        const double f = p - whole;
        float y;
        if (stretched) {
            y = StretchedOutput(in, length, n, f, ratio, stepA, stepB);
        } else if (n + kFirstTap >= 0 && n + kFirstTap + kTapCount <= length) {
            y = InteriorOutput(in, n, f);
        } else {
            y = EdgeOutput(in, length, n, f);
        }
        out[static_cast<size_t>(i)] = y;
    }
    return out;
}

}  // namespace

void ResampleSincToLength(std::vector<float>& samples, int newLength, double ratio) {
    if (newLength <= 0) {
        samples.clear();
        return;
    }
    samples = SincResample(samples, newLength, ratio);
}

void ResampleSincByRatio(std::vector<float>& samples, double ratio) {
    if (!(ratio > 0.0) || std::fabs(ratio - 1.0) < 1e-9) return;
    const double length = std::trunc(static_cast<double>(samples.size()) / ratio + 0.5);
    if (length <= 0.0) {
        samples.clear();
        return;
    }
    samples = SincResample(samples, static_cast<int64_t>(length), ratio);
}

// [SECTION] Linear resampling and semitones

void ResampleLinearToLength(std::vector<float>& samples, int newLength, double ratio) {
    if (newLength <= 0) {
        samples.clear();
        return;
    }
    std::vector<float> out(static_cast<size_t>(newLength), 0.0f);
    if (!samples.empty()) {
        const int64_t last = static_cast<int64_t>(samples.size()) - 1;
        for (int64_t i = 0; i < newLength; ++i) {
            const double x = static_cast<double>(i) * ratio;
            // Clamping before the conversion keeps every position defined;
            // past the end the last sample is repeated exactly rather than
            // through (1 - f) a + f a with a large f.
            const double clamped = std::clamp(x, 0.0, static_cast<double>(last));
            const int64_t m = std::min(last, static_cast<int64_t>(clamped));
            const float a = samples[static_cast<size_t>(m)];
            if (m == last) {
                out[static_cast<size_t>(i)] = a;
                continue;
            }
            const float f = static_cast<float>(clamped - static_cast<double>(m));
            const float b = samples[static_cast<size_t>(m + 1)];
            out[static_cast<size_t>(i)] = (1.0f - f) * a + f * b;
        }
    }
    samples = std::move(out);
}

double SemitonesToRatio(float semitones) {
    if (std::fabs(semitones) <= 0.01f) return 1.0;
    return std::pow(2.0, static_cast<double>(semitones) / 12.0);
}

}  // namespace korvel
