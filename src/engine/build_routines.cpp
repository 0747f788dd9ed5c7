#include "engine/build_routines.h"

#include <algorithm>
#include <cmath>

#include "library/library.h"
#include "project/project.h"

namespace korvel {

std::int32_t IntensityToLevel(float x) {
    if (x >= 1.0f) return 5;
    if (x >= 0.75f) return 4;
    if (x >= 0.5f) return 3;
    if (x >= 0.25f) return 2;
    return 1;
}

float SampleCurve256(const CurvePoints& curve, float t) {
    const float x = 255.0f * t;
    // Clamp in float before the cast: t may be huge or not finite.
    float whole = std::floor(x);
    if (!(whole >= 0.0f)) whole = 0.0f;
    if (whole > 254.0f) whole = 254.0f;
    const int i = static_cast<int>(whole);
    return curve[i] + (curve[i + 1] - curve[i]) * (x - static_cast<float>(i));
}

float SampleWeightCurve(const Event& event, float t) {
    return std::clamp(SampleCurve256(event.weight, t) + event.weightOffset, 0.0f, 1.0f);
}

void ToneToBandWeights(float weight, BandWeights& out) {
    static constexpr BandWeights kCentres = {0.1f, 0.3f, 0.5f, 0.7f, 0.9f};
    const float x = 0.8f * weight + 0.1f;
    float sum = 0.0f;
    for (int i = 0; i < kBandCount; ++i) {
        const float d = x - kCentres[i];
        out[i] = 0.97f * std::exp(-16.0f * d * d) + 0.03f;
        sum += out[i];
    }
    for (float& band : out) band /= sum;
}

float NoisinessIndex(const LibraryFile& file) {
    float n = 0.5f - 0.35f * file.harmonicity + 0.3f * file.spectralFlatness +
              0.15f * std::clamp(file.zeroCrossingRate, 0.0f, 1.0f);
    if (file.pitchConfidence > 0.5f) n -= 0.1f;
    return std::clamp(n, 0.0f, 1.0f);
}

bool IsLayerSilenced(const LayerResult& layer) { return layer.muted || layer.groupTrack < 0; }

void MeasureSpectralOccupancy(const Project& project, float t0, float t1, std::int32_t excludedEvent,
                              BandWeights& out) {
    out.fill(0.0f);
    const float span = std::max(0.01f, t1 - t0);
    BandWeights bands;
    for (const LayerResult& layer : project.results) {
        if (layer.eventIdx == excludedEvent || IsLayerSilenced(layer)) continue;
        const float start = layer.startTime;
        const float end = layer.startTime + layer.duration;
        if (t0 >= end || t1 <= start) continue;
        const float f = (std::min(end, t1) - std::max(start, t0)) / span * layer.userVolume * layer.layerGain;
        ToneToBandWeights(layer.weight, bands);
        for (int i = 0; i < kBandCount; ++i) out[i] += f * bands[i];
    }
}

}  // namespace korvel
