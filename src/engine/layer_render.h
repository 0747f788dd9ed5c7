#pragma once
// Rendering one layer into a playback voice: its source by processing mode,
// placement in space, gains, equaliser, scale tuning, pitch, curves,
// overview and loudness.
#include <array>
#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

#include "project/event.h"
#include "project/layer.h"

namespace korvel {

struct PlaybackEngine;
struct Voice;

// Renders the layer and appends its voice to the engine, taking the voice
// lock only for the append. `eventGains` and `events` may be null; both hold
// eventCount entries otherwise. `keepPlaceholders` (the rebuild after a
// relink) neither marks a failed layer as a placeholder nor tunes. A layer
// LayerGetsVoice refuses gets no voice. The layer of a bounced Clip (one
// holding its replaced events) plays at unity: neither its peak nor its
// loudness is levelled, and its file's own fades stand for the mix's. Every
// voice is at most one hour long. Any rendering thread.
void RenderLayerVoice(PlaybackEngine& engine, LayerResult& layer, std::int32_t resultIndex,
                      std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                      const Event* events, std::int32_t scaleType, std::int32_t scaleRoot, bool keepPlaceholders);

// Whether rendering gives the layer a voice: not when it has no file and is
// no placeholder ("(no match)" grains, Fill layers without a file, alloy
// layers with no primary), so nothing that counts voices may miss one there.
bool LayerGetsVoice(const LayerResult& layer);

// RenderLayerVoice of layers[index] while another thread may draw the
// layers: the render writes its findings into a copy, which replaces the
// layer under PublishedLayersMutex. Build and job threads.
void RenderPublishedLayerVoice(PlaybackEngine& engine, std::vector<LayerResult>& layers, std::size_t index,
                               std::int32_t sampleRate, const float* eventGains, std::int32_t eventCount,
                               const Event* events, std::int32_t scaleType, std::int32_t scaleRoot,
                               bool keepPlaceholders);

// A voice's gain taper by its layer's weight: 1 up to 0.7, down to 0.7 at 0.85.
float LayerGainTaper(float weight);
// The gain a layer's voice plays at: the taper times the layer's own gain and
// its user volume.
float LayerVoiceGain(const LayerResult& layer);

// Where a layer sits around the listener, in radians.
struct SpatialPlacement {
    float azimuth = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};
// Group 0 spreads widest, group 1 stays near the front; `bandProfile` (all
// zero when unknown) widens evenly spread sounds, raises bright ones and
// keeps sub-heavy ones near the centre.
SpatialPlacement PlaceLayerSpatially(std::int32_t group, std::uint32_t seed, float weight,
                                     const std::array<float, kLayerBandCount>& bandProfile);
// The placement seed of a layer: stable per track and event, defined for a
// dropped layer's track −1.
std::uint32_t PlacementSeed(std::int32_t track, std::int32_t eventIndex);

// Musical scales: intervals in semitones above the root, and their labels.
inline constexpr int kScaleCount = 17;
extern const char* const kScaleLabels[kScaleCount];
extern const char* const kScaleRootNames[12];
// Fills `intervals` and returns their count; 0 for "Off" and unknown types.
int ScaleIntervals(std::int32_t scaleType, std::array<int, 12>& intervals);

// The semitones that bring a layer sounding at MIDI note `note` + `cents`
// (after its pitchVarShift) onto the nearest degree of the scale, within
// ±6; 0 when the scale has no intervals or is Chromatic.
float ScaleCorrection(std::int32_t scaleType, std::int32_t scaleRoot, float pitchVarShift, int note, float cents);

// Per-bin peak and RMS of the voice over its frames in 2,048 bins.
void ComputeVoiceOverview(Voice& voice);

// A source region through the decoded-source cache into the voice's
// samples; `stereo` and frameCount follow the decode. LoadSourceIntoVoice
// succeeds only with at least one frame, LoadSegmentIntoVoice with any read.
bool LoadSourceIntoVoice(const std::string& path, float offset, float length, std::int32_t sampleRate, bool stereo,
                         Voice& voice);
bool LoadSegmentIntoVoice(const std::string& path, float offset, float length, std::int32_t sampleRate, bool stereo,
                          Voice& voice);

}  // namespace korvel
