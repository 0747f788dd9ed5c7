#include "dsp/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

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

// Per-tap constants of the angle-sum form, for the fraction folded to
// d = f - shift: tap j lies at x = q - d with q = j - 7 - shift, and
// sin(pi x) sin(pi x / 8) = sin(pi d) * (-1)^(q+1) * (sin(pi q / 8) cos(pi d / 8)
// - cos(pi q / 8) sin(pi d / 8)). `sinQ` and `cosQ` carry the sign.
struct alignas(64) TapConstants {
    double sinQ[2][kTapCount];
    double cosQ[2][kTapCount];
    double offset[kTapCount];  // j - 7
};

TapConstants MakeTapConstants() {
    TapConstants t{};
    for (int shift = 0; shift < 2; ++shift) {
        for (int j = 0; j < kTapCount; ++j) {
            const int q = j + kFirstTap - shift;
            const double sign = (q % 2 == 0) ? -1.0 : 1.0;
            t.sinQ[shift][j] = sign * std::sin(kPi * q / 8.0);
            t.cosQ[shift][j] = sign * std::cos(kPi * q / 8.0);
        }
    }
    for (int j = 0; j < kTapCount; ++j) t.offset[j] = j + kFirstTap;
    return t;
}

const TapConstants kTaps = MakeTapConstants();

// Two doubles as one SSE2 register (GCC and clang vector extension).
using Double2 = double __attribute__((vector_size(16)));

inline Double2 Load2(const double* p) {
    Double2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// sin and cos of |a| <= pi / 16 by their Taylor series, exact to double
// rounding there (the first omitted terms are below 1e-19).
inline void SinCosSmall(double a, double& s, double& c) {
    const double a2 = a * a;
    s = a * (1.0 + a2 * (-1.0 / 6 + a2 * (1.0 / 120 + a2 * (-1.0 / 5040 + a2 * (1.0 / 362880 +
                                                                              a2 * (-1.0 / 39916800))))));
    c = 1.0 + a2 * (-0.5 + a2 * (1.0 / 24 + a2 * (-1.0 / 720 + a2 * (1.0 / 40320 + a2 * (-1.0 / 3628800 +
                                                                                      a2 / 479001600.0)))));
}

// An output whose read position lies on a tap (within 1e-9): that tap weighs
// 1 and the others their tiny kernel values. Rare, so kept scalar.
float OnTapOutput(const float* x0, int onTap, double f, double c1, double s1, double common, int shift) {
    double num = static_cast<double>(x0[onTap]), den = 1.0;
    for (int j = 0; j < kTapCount; ++j) {
        if (j == onTap) continue;
        const double x = kTaps.offset[j] - f;
        const double w = common * (kTaps.sinQ[shift][j] * c1 - kTaps.cosQ[shift][j] * s1) / (x * x);
        num += static_cast<double>(x0[j]) * w;
        den += w;
    }
    return den > kMinWeightSum ? static_cast<float>(num / den) : 0.0f;
}

// Where one output reads and the sines of its fraction. All sixteen pairs of
// kernel sines follow from one sine and cosine of the fraction (see
// TapConstants). The fraction is folded into d in [-0.5, 0.5] so that
// sin(pi d), reached by three angle doublings, keeps its relative precision
// next to a tap.
struct ReadPoint {
    int64_t n = 0;  // whole part of the position
    double f = 0.0;  // fraction, 0 <= f < 1 for positions at or after 0
    double s1 = 0.0, c1 = 0.0;  // sin and cos of pi d / 8
    double common = 0.0;  // kWeightScale * sin(pi d)
    int shift = 0;  // d = f - shift
    bool onTap = false;  // |d| below 1e-9: one tap weighs 1
    bool valid = false;  // the position has a whole part and a fraction
};

// Positions beyond this cannot be split into a whole part and a fraction.
constexpr double kMaxPosition = 9.0e15;

inline ReadPoint MakeReadPoint(double p) {
    ReadPoint r;
    r.valid = std::fabs(p) < kMaxPosition;
    const double whole = std::trunc(r.valid ? p : 0.0);
    r.n = static_cast<int64_t>(whole);
    r.f = (r.valid ? p : 0.0) - whole;
    r.shift = r.f > 0.5 ? 1 : 0;
    const double d = r.f - r.shift;
    SinCosSmall(d * (kPi / 8.0), r.s1, r.c1);
    const double s2 = 2.0 * r.s1 * r.c1, c2 = 1.0 - 2.0 * r.s1 * r.s1;
    const double s4 = 2.0 * s2 * c2, c4 = 1.0 - 2.0 * s2 * s2;
    r.common = kWeightScale * 2.0 * s4 * c4;
    r.onTap = std::fabs(d) < kOnTap;
    return r;
}

// One output of the 16-tap kernel, every tap inside the input.
inline float InteriorOutput(const float* in, const ReadPoint& r) {
    const int64_t n = r.n;
    const double f = r.f, s1 = r.s1, c1 = r.c1, common = r.common;
    const int shift = r.shift;
    if (r.onTap) return OnTapOutput(in + n + kFirstTap, -kFirstTap + shift, f, c1, s1, common, shift);

    // Weights without their common factor, two taps per vector; nothing in
    // the loop depends on the previous pair but the sums.
    const double* sinQ = kTaps.sinQ[shift];
    const double* cosQ = kTaps.cosQ[shift];
    const float* x0 = in + n + kFirstTap;
    const Double2 fv = {f, f}, cv = {c1, c1}, sv = {s1, s1};
    Double2 num0 = {0.0, 0.0}, num1 = num0, den0 = num0, den1 = num0;
    for (int j = 0; j < kTapCount; j += 4) {
        const Double2 xa = Load2(kTaps.offset + j) - fv;
        const Double2 xb = Load2(kTaps.offset + j + 2) - fv;
        // One division for four taps: 1/a = b/(ab) and 1/b = a/(ab).
        const Double2 qa = xa * xa, qb = xb * xb;
        const Double2 r = 1.0 / (qa * qb);
        const Double2 va = (Load2(sinQ + j) * cv - Load2(cosQ + j) * sv) * (r * qb);
        const Double2 vb = (Load2(sinQ + j + 2) * cv - Load2(cosQ + j + 2) * sv) * (r * qa);
        const Double2 sa = {static_cast<double>(x0[j]), static_cast<double>(x0[j + 1])};
        const Double2 sb = {static_cast<double>(x0[j + 2]), static_cast<double>(x0[j + 3])};
        num0 += sa * va;
        num1 += sb * vb;
        den0 += va;
        den1 += vb;
    }
    const Double2 num = num0 + num1, den = den0 + den1;
    const double numSum = common * (num[0] + num[1]);
    const double denSum = common * (den[0] + den[1]);
    return denSum > kMinWeightSum ? static_cast<float>(numSum / denSum) : 0.0f;
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
    // Taps outside the input are skipped anyway, so the reach never needs to
    // pass the input's span; this also keeps an enormous ratio from
    // overflowing the tap range.
    const double span = static_cast<double>(n) + static_cast<double>(length);
    const int64_t half = static_cast<int64_t>(std::min(std::ceil(support), span));
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

    if (ratio > 1.0) {
        const double stepA[2] = {std::sin(kPi / ratio), std::cos(kPi / ratio)};
        const double stepB[2] = {std::sin(kPi / ratio / 8.0), std::cos(kPi / ratio / 8.0)};
        for (int64_t i = 0; i < outLength; ++i) {
            const double p = static_cast<double>(i) * ratio;
            if (!(std::fabs(p) < kMaxPosition)) continue;
            const double whole = std::trunc(p);
            out[static_cast<size_t>(i)] =
                StretchedOutput(in, length, static_cast<int64_t>(whole), p - whole, ratio, stepA, stepB);
        }
        return out;
    }

    // Read points are prepared a block at a time: each is a long chain of
    // dependent multiplications, and separating them from the tap sums lets
    // the processor overlap many chains instead of waiting on each.
    constexpr int64_t kBlock = 32;
    ReadPoint points[kBlock];
    for (int64_t i0 = 0; i0 < outLength; i0 += kBlock) {
        const int64_t count = std::min(kBlock, outLength - i0);
        for (int64_t k = 0; k < count; ++k) points[k] = MakeReadPoint(static_cast<double>(i0 + k) * ratio);
        for (int64_t k = 0; k < count; ++k) {
            const ReadPoint& r = points[k];
            float y = 0.0f;
            if (!r.valid) {
                y = 0.0f;
            } else if (r.n + kFirstTap >= 0 && r.n + kFirstTap + kTapCount <= length) {
                y = InteriorOutput(in, r);
            } else {
                y = EdgeOutput(in, length, r.n, r.f);
            }
            out[static_cast<size_t>(i0 + k)] = y;
        }
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
    // A ratio so small that no buffer could hold the output is not applied.
    if (!(length <= static_cast<double>(std::numeric_limits<int>::max()))) return;
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
            // A position that is not a number reads nothing (a NaN ratio, or
            // 0 times an infinite one); it stays silent like the sinc's.
            if (std::isnan(x)) continue;
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
