#pragma once
// The group area under the curve lanes: the built layers drawn as clips on
// the lanes of their track groups, with waveforms, fades and seams, under a
// header per group that hides and shows it, and the optional heat map of
// crowded spectral bands. Deciding (geometry, lookup, colours, crowding) is
// apart from drawing so tests can call it directly.
//
// [SECTION] Geometry
// [SECTION] Layer-to-voice lookup
// [SECTION] Layer looks
// [SECTION] Band crowding
// [SECTION] Drawing
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "project/layer.h"
#include "ui/timeline/timeline_view.h"

struct ImDrawList;
struct ImVec2;

namespace korvel {

struct AppState;
struct Project;
struct PlaybackEngine;

// [SECTION] Geometry

// Lays out the area at `areaTop`, `areaHeight` tall, with header boxes
// `headerHeight` tall: the lane height and each group's offset, in audio
// focus mode from the focused events' rows among `layers`.
GroupAreaGeometry LayOutGroupArea(const AppState& state, const Project& project, std::span<const LayerResult> layers,
                                  float areaTop, float areaHeight, float headerHeight);

// How many leading layers of `layerCount` the area draws: all, or while a
// build runs those it has revealed (built layers of a list render, rendered
// voices of a full build).
std::int32_t RevealedLayerCount(const AppState& state, const Project& project, const PlaybackEngine& engine,
                                std::int32_t layerCount);

// [SECTION] Layer-to-voice lookup

// Layer index to voice index, rebuilt only when the voice list's revision
// or its published count changes.
struct LayerVoiceLookup {
    std::vector<std::int32_t> voiceOf;  // -1: no voice
    std::int32_t revision = 0;
    bool hasRevision = false;
    std::int32_t count = 0;
    // An entry was found pointing at a voice that no longer plays its layer
    // (voices re-matched or removed without a new revision or count).
    mutable bool stale = false;

    // Rebuilds when the engine is ready with a new revision, has published a
    // different count, or an entry went stale. Reads only the voices the
    // engine has published.
    void Refresh(const PlaybackEngine& engine);
    // The voice of `layer`, or -1. An entry is used only while it still names
    // a published voice that plays this layer: removals shrink the list
    // without a new revision.
    std::int32_t VoiceFor(const PlaybackEngine& engine, std::int32_t layer) const;
};

// The timeline's lookup, kept between frames. UI thread only.
extern LayerVoiceLookup TimelineLayerVoices;

// [SECTION] Layer looks

inline constexpr std::uint32_t kClipLayerRgb = 0xFF918C8Cu;  // rgb(140, 140, 145)

// How one layer is drawn, decided before any drawing.
struct LayerLook {
    bool drawn = false;  // false: skipped (hidden group, no lane, not yet revealed)
    std::int32_t group = 0;
    std::int32_t kind = -1;  // the event's kind, -1 when the event is invalid
    std::uint32_t colour = 0;
    bool dim = false;
    bool selected = false;
};

// The look of `layer` with voice `voice` (-1 none). Position and clipping
// are the drawing's business.
LayerLook DecideLayerLook(const AppState& state, const Project& project, const PlaybackEngine& engine,
                          const LayerResult& layer, std::int32_t voice);

// The weight a layer is coloured by: a Clip's measured weight, a Bed file's
// entry, else the layer's own; negative when not known.
float LayerColourWeight(const Project& project, const LayerResult& layer);

// [SECTION] Band crowding

// How crowded band `band` (0 Sub .. 4 Air) is at time t among the unmuted
// layers sounding then: 0 when one layer carries it alone (or none does), 1
// for two of equal strength, and so on.
float MeasureBandCrowding(const Project& project, float t, int band);
float MeasureBandCrowding(std::span<const LayerResult> layers, float t, int band);
// The same values for every band at each of `times` (ascending), in one
// sweep over the layers sorted by start.
std::vector<std::array<float, 5>> MeasureBandCrowdingSweep(std::span<const LayerResult> layers,
                                                           std::span<const float> times);

// [SECTION] Drawing

// One clip block with its waveform: `pos`, `size` the visible part in
// pixels, `visibleStart`..`visibleEnd` the fractions of the clip it shows;
// `compact` draws fewer points and no outlines or fade marks.
void DrawWaveformStrip(ImDrawList* drawList, const ImVec2& pos, const ImVec2& size, std::uint32_t rgb,
                       const float* peaks, int peakCount, float fadeInFraction, float fadeOutFraction, bool dim,
                       float visibleStart, float visibleEnd, bool compact, bool bright);

// The group area step of DrawTimeline, from `areaTop` down to the bottom
// strip. Stores the frame's geometry in Timeline.groupArea.
void DrawGroupArea(ImDrawList* drawList, AppState& state, const Project& project, float areaTop, bool traceView);

}  // namespace korvel
