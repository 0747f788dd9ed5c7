#pragma once
// The render cache: the live engine's voice list rebuilt from the project's
// layers, voices matched back to their layers by id, and voices released far
// from the play position and loaded again from their layers when needed.
#include <cstdint>
#include <vector>

#include "project/layer.h"

namespace korvel {

struct PlaybackEngine;
struct Project;
struct Voice;

// Copies the project's loudness settings into the engine and returns the
// per-event gain list (one float per event, in event order).
std::vector<float> SetUpEngineForProject(PlaybackEngine& engine, const Project& project);

// Renders every layer of CurrentProject into a fresh voice list of
// LivePlaybackEngine; keepPlaceholders is handed to each layer's render.
// Stops between two layers when the background job is cancelled; the voices
// rendered so far are normalised and marked ready.
void RebuildCache(bool keepPlaceholders);
// UI thread: starts RebuildCache as the background job, which then relocates
// the playback and ends. False, with nothing started, while another job or
// the picture analysis runs: the caller keeps its request and tries again.
bool RebuildCacheAsync(const char* label, bool keepPlaceholders);
// Re-matches every voice to its layer by id (a later layer with the same id
// wins); a voice whose layer is gone gets resultIndex -1.
void RemapVoicesToResults();

// Renders one released voice again from its layer: only the samples,
// `stereo`, frameCount and duration change, and `unloaded` is cleared. A
// layer that yields no audio reloads as silence of its duration. Does
// nothing to a loaded voice. Takes no lock: callers decode into a scratch
// voice and swap the samples in under the voice lock.
void LoadVoiceSamples(PlaybackEngine& engine, Voice& voice, const LayerResult& layer, std::int32_t sampleRate);
// Loads every released voice whose layer exists (export, bounce). Decodes
// outside the voice lock; each finished voice's samples go in under it.
void LoadPendingVoices(PlaybackEngine& engine, const std::vector<LayerResult>& layers);
// UI thread, once per frame while the engine is ready and no job or export
// runs: loads released voices that overlap [t - W, t + W] around the play
// position and releases loaded ones outside it. Decodes outside the voice
// lock; the lock is held only to swap samples in and to move released ones
// out, which are freed after it is released.
void StreamVoicesNearPlayhead(PlaybackEngine& engine, const LayerResult* layers, std::int32_t layerCount);

// Test hook: called while a reload decodes, outside the voice lock. Set by
// tests only, before the loaders run; null otherwise.
using VoiceDecodeHook = void (*)(PlaybackEngine& engine);
void SetVoiceDecodeHook(VoiceDecodeHook hook);

}  // namespace korvel
