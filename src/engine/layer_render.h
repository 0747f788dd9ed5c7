#pragma once
// Rendering one layer into a playback voice.
#include <cstdint>

#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct PlaybackEngine;

// Appends the layer's voice to the engine (under its voice lock). eventGains
// and events may be null; both hold eventCount entries otherwise.
void RenderLayerVoice(PlaybackEngine& engine, LayerResult& layer, std::int32_t resultIndex,
                      std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                      const Event* events, std::int32_t scaleType, std::int32_t scaleRoot, bool keepPlaceholders);

}  // namespace korvel
