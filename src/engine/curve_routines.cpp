#include "engine/curve_routines.h"

#include <algorithm>
#include <cmath>

#include "library/library.h"

namespace korvel {

namespace {

// Limits to 0..1 and reads a value that is not a number as 0.
float Unit(float x) { return x >= 0.0f ? std::min(x, 1.0f) : 0.0f; }

// Curve positions a scan may visit: enough for any layer within reach of
// its event, few enough that damaged times cannot stall a build.
constexpr double kMaxScanSteps = 1 << 20;

}  // namespace

float ReadEventCurve(const CurvePoints& curve, float p) {
    const float x = Unit(p) * 255.0f;
    const int i = std::min(static_cast<int>(x), 254);
    return curve[i] + (curve[i + 1] - curve[i]) * (x - static_cast<float>(i));
}

FadeLengths CurveFadeLengths(const Event& event, float from, float to, float threshold, float length) {
    const float level = threshold + 0.4f * (1.0f - threshold);
    const auto value = [&](double p) {
        return ReadEventCurve(event.intensity, static_cast<float>(p)) * event.intensityScale;
    };
    double riseSpan = 0.0;
    double fallSpan = 0.0;
    if (from < to) {
        const double steps = std::min(kMaxScanSteps, std::ceil((static_cast<double>(to) - from) * 256.0));
        // Forward: the stretch from `from` that stays below the level.
        for (double i = 0.0; i < steps; i += 1.0) {
            const double p = from + i / 256.0;
            if (value(p) >= level) break;
            riseSpan = p - from;
        }
        for (double i = 0.0; i < steps; i += 1.0) {
            const double p = to - i / 256.0;
            if (value(p) >= level) break;
            fallSpan = to - p;
        }
    }
    const double span = std::max(0.01, static_cast<double>(to) - from);
    FadeLengths fades;
    fades.fadeIn = static_cast<float>(riseSpan / span * length);
    fades.fadeOut = static_cast<float>(fallSpan / span * length);
    fades.fadeIn = !(fades.fadeIn >= 0.01f) ? 0.01f : std::min(std::max(0.01f, 0.4f * length), fades.fadeIn);
    fades.fadeOut = !(fades.fadeOut >= 0.02f) ? 0.02f : std::min(std::max(0.02f, 0.4f * length), fades.fadeOut);
    return fades;
}

FadeLengths MatchCurveToEnvelope(const Event& event, float eventStart, const LibraryFile& file, float layerWeight,
                                 float layerStart, float layerLength) {
    const float d = std::max(0.001f, event.duration);
    const float a = Unit((layerStart - eventStart) / d);
    const float span = std::max(0.001f, Unit((layerStart + layerLength - eventStart) / d) - a);
    std::array<float, 48> fit;
    float best = 0.0f;
    for (int i = 0; i < 48; ++i) {
        const float p = a + (static_cast<float>(i) + 0.5f) / 48.0f * span;
        const float w = Unit(ReadEventCurve(event.weight, p) + event.weightOffset);
        fit[i] = std::exp(-5.0f * (layerWeight - w) * (layerWeight - w));
        best = std::max(best, fit[i]);
    }
    FadeLengths fades;
    if (!(best >= 0.01f)) {
        fades.fadeIn = fades.fadeOut = 0.4f * layerLength;
        return fades;
    }
    const float ns = NoiseSustainValue(file);
    const float k = 0.35f * ns + 0.15f;
    fades.fadeIn = std::max((1.0f - fit[0] / best) * layerLength * k, 0.2f * ns + 0.04f);
    fades.fadeOut = std::max((1.0f - fit[47] / best) * layerLength * k, 0.2f * ns + 0.06f);
    const float budget = (0.12f * ns + 0.8f) * layerLength;
    const float sum = fades.fadeIn + fades.fadeOut;
    if (sum > budget) {
        fades.fadeIn *= budget / sum;
        fades.fadeOut *= budget / sum;
    }
    return fades;
}

void SmoothCurveZeroPhase(float* curve, int n, float spanSeconds) {
    if (curve == nullptr || n < 3 || !(spanSeconds > 0.0f)) return;
    n = std::min(n, kCurvePoints);
    const float c = std::clamp(1.0f - std::exp(-4.0f * spanSeconds / static_cast<float>(n - 1)), 0.01f, 1.0f);
    std::array<float, kCurvePoints> forward;
    float s = curve[0];
    for (int i = 0; i < n; ++i) {
        s += (curve[i] - s) * c;
        forward[i] = s;
    }
    s = forward[n - 1];
    for (int i = n - 1; i >= 0; --i) {
        s += (forward[i] - s) * c;
        curve[i] = (forward[i] + s) / 2.0f;
    }
}

void BuildIntensityGain(const Event& event, LayerResult& layer) {
    layer.hasIntGain = true;
    const float eventStart = event.time - event.syncOffset;
    const float d = std::max(0.001f, event.duration);
    for (int i = 0; i < kCurvePoints; ++i) {
        const float t = layer.startTime + static_cast<float>(i) / 255.0f * layer.duration;
        const float p = (t - eventStart) / d;
        float g = ReadEventCurve(event.intensity, p) * event.intensityScale;
        if (event.hasTraceGain) g *= ReadEventCurve(event.traceGain, p);
        layer.intGain[i] = Unit(g);
    }
    SmoothCurveZeroPhase(layer.intGain.data(), kCurvePoints, layer.duration);
}

TargetProfile TargetEnvelopeProfile(const Event& event, float targetWeight, float from, float to) {
    TargetProfile profile;
    float largest = 0.0f;
    for (int i = 0; i < kTargetProfilePoints; ++i) {
        const float p = from + (static_cast<float>(i) + 0.5f) / 16.0f * (to - from);
        const float level = ReadEventCurve(event.intensity, p) * event.intensityScale;
        const float w = Unit(ReadEventCurve(event.weight, p) + event.weightOffset);
        profile[i] = level * std::max(0.05f, std::exp(-5.0f * (targetWeight - w) * (targetWeight - w)));
        largest = std::max(largest, profile[i]);
    }
    if (largest > 1e-8f)
        for (float& v : profile) v /= largest;
    return profile;
}

float NoiseSustainValue(const LibraryFile& file) {
    const float flat = file.spectralFlatness;
    return Unit(0.7f * flat + 0.15f * (1.0f - file.spectralFlux) + 0.15f * (1.0f - file.zeroCrossingRate) * (1.0f - flat));
}

}  // namespace korvel
