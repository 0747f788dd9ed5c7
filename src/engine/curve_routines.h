#pragma once
// Fade lengths and gain curves a layer takes from its event's curves.
#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct FadeLengths {
    float fadeIn = 0.0f;   // seconds
    float fadeOut = 0.0f;  // seconds
};

// Fades where the event's intensity rises from and falls to `threshold`
// between the curve positions `from` and `to` of a layer `length` s long.
FadeLengths CurveFadeLengths(const Event& event, float from, float to, float threshold, float length);

// Fills the layer's 256-point intensity gain over its span on the event.
void BuildIntensityGain(const Event& event, LayerResult& layer);

}  // namespace korvel
