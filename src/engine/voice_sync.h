#pragma once
// Keeping the rendered voices in step with edited and rebuilt layers: one
// event's voices rendered again, the others patched in place, and a check
// that asks for a full rebuild in the background when the lists disagree.
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
// After a layer's sound changed: its event rendered again, the cache
// checked and the playback relocated. Nothing for an index out of range.
void RerenderLayerEvent(std::int32_t layerIndex);
// After undo or redo of a built project: drops voices whose layer is gone,
// patches the others from their layers and renders the events whose layers
// have no voice (all at once by a full rebuild when there are many).
void SyncVoicesToResults();
// Copies each layer's deconfliction results into its voice.
void SyncVoiceTimes();
// After events were deleted (their indices before the deletion, out of
// oldEventCount): drops their voices and renumbers the others.
void RemoveEventVoices(const std::vector<std::int32_t>& deletedEvents, std::int32_t oldEventCount);
// True when the voices and the layers match one to one. Otherwise prints one
// "[Cache]" line and sets the application's audio-update request. Layers
// rendering skips by rule (no path, no placeholder) need no voice; a voice
// whose layer names no valid event is accepted when it says the same.
bool CheckRenderCacheIntegrity();
// After new tone-analysis results: every Bed event's layers re-synced and
// each measured Clip weight pushed into its event's layers. True when some
// Bed event's layers changed.
bool RefreshBedAndClipLayers();
// UI thread, once per frame: UpdateSourceWeights and, when it changed
// weights, RefreshBedAndClipLayers; a changed Bed asks for the audio update.
// True when weights changed.
bool UpdateSourceWeightsAndLayers(double now);

}  // namespace korvel
