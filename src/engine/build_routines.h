#pragma once
// Small routines every kind of layer building shares: reading event curves,
// intensity levels, the five-band picture of a tone, how noise-like a file
// is, and how much of each band the placed layers already fill.
#include <array>
#include <cstdint>

#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct LibraryFile;
struct Project;

inline constexpr int kBandCount = 5;  // Sub, Low, Mid, High, Air
using BandWeights = std::array<float, kBandCount>;

// 1..5: 5 from 1, 4 from 0.75, 3 from 0.5, 2 from 0.25, else 1.
std::int32_t IntensityToLevel(float x);

// Linear read at 255 t; t outside 0..1 extrapolates from the end segment.
float SampleCurve256(const CurvePoints& curve, float t);

// The event's weight curve at t plus its weight offset, limited to 0..1.
float SampleWeightCurve(const Event& event, float t);

// The five band weights of a tone (0 sub .. 1 air), summing to 1.
void ToneToBandWeights(float weight, BandWeights& out);

// 0 tonal .. 1 noise-like.
float NoisinessIndex(const LibraryFile& file);

// A layer that plays nothing: the designer's or protection's mute, or a
// layer track allocation dropped (lane -1).
bool IsLayerSilenced(const LayerResult& layer);

// Band energy of the sounding layers of every event but `excludedEvent`
// over [t0, t1), each weighted by the share of the span it covers and its
// volume and layer gain.
void MeasureSpectralOccupancy(const Project& project, float t0, float t1, std::int32_t excludedEvent,
                              BandWeights& out);

}  // namespace korvel
