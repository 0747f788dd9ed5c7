#pragma once
// Keeping the rendered voices in step with edited and rebuilt layers.
#include <cstdint>
#include <vector>

#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct PlaybackEngine;

// Renders the voices of one rebuilt event again (CurrentProject, live engine).
void RenderEvent(std::int32_t eventIndex);
// The voice work of RenderEvent on any engine. The layers may be published
// to the UI: findings written back into them go under PublishedLayersMutex.
void RenderEventVoices(PlaybackEngine& engine, std::int32_t eventIndex, std::vector<LayerResult>& layers,
                       std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                       const Event* events, std::int32_t scaleType, std::int32_t scaleRoot);
// True when the voices and the layers match one to one.
bool CheckRenderCacheIntegrity();
// Copies each layer's deconfliction results into its voice.
void SyncVoiceTimes();

}  // namespace korvel
