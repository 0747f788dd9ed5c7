#pragma once
// Numbers a layer takes from its event's curves: fades where the intensity
// rises and falls, fades where the weight curve moves away from the layer's
// tone, the layer's own intensity gain, a 16-point loudness shape for
// matching sources, and how noise-like and sustained a file is.
#include <array>

#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct LibraryFile;

struct FadeLengths {
    float fadeIn = 0.0f;   // seconds
    float fadeOut = 0.0f;  // seconds
};

inline constexpr int kTargetProfilePoints = 16;
using TargetProfile = std::array<float, kTargetProfilePoints>;

// The event's curve at position p, p limited to 0..1.
float ReadEventCurve(const CurvePoints& curve, float p);

// Fades where the scaled intensity between the curve positions `from` and
// `to` climbs to and falls from a level above `threshold`, for a layer of
// `length` seconds.
FadeLengths CurveFadeLengths(const Event& event, float from, float to, float threshold, float length);

// Fades from how far the event's weight moves away from `layerWeight` at the
// layer's ends; noise-like, sustained files fade longer.
FadeLengths MatchCurveToEnvelope(const Event& event, float eventStart, const LibraryFile& file, float layerWeight,
                                 float layerStart, float layerLength);

// One-pole smoothing run forwards and backwards (no lag) over n points
// (at most 256) that span `spanSeconds`.
void SmoothCurveZeroPhase(float* curve, int n, float spanSeconds);

// Fills the layer's 256-point intensity gain over its span on the event.
void BuildIntensityGain(const Event& event, LayerResult& layer);

// The loudness shape the event asks for between two curve positions, damped
// where its weight is far from `targetWeight`; largest point 1.
TargetProfile TargetEnvelopeProfile(const Event& event, float targetWeight, float from, float to);

// 0..1: high for flat, steady, noise-like files.
float NoiseSustainValue(const LibraryFile& file);

}  // namespace korvel
