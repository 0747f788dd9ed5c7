// The group area: geometry, the layer-to-voice lookup, layer looks, band
// crowding and the drawing of headers, heat map and layer bodies.
//
// Voices are read without the voice lock, which the audio thread only
// tries: holding it for a frame's drawing would cost audible blocks. The
// step holds the voice storage lock instead, so no job grows, replaces,
// compacts or re-matches the list meanwhile; during a build only the voices
// below the published voiceCount (acquire) are read. The layers of a
// running job are read through PublishedLayersView.
//
// [SECTION] Helpers
// [SECTION] Geometry
// [SECTION] Layer-to-voice lookup
// [SECTION] Layer looks
// [SECTION] Band crowding
// [SECTION] Waveform strip
// [SECTION] Layer bodies
// [SECTION] Headers and heat map
// [SECTION] The group area step
#include "ui/timeline/track_lanes.h"

#include <imgui.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/background_job.h"
#include "app/theme.h"
#include "engine/build_routines.h"
#include "engine/published_layers.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

LayerVoiceLookup TimelineLayerVoices;

namespace {

// [SECTION] Helpers

constexpr int kDisplayOrder[3] = {1, 2, 0};  // FX A, FX B, BG
constexpr int kMaxWaveColumns = 4000;
constexpr int kMaxFillPoints = 800;

std::uint32_t WithAlpha(std::uint32_t colour, int alpha) {
    return (colour & 0x00FFFFFFu) | (static_cast<std::uint32_t>(std::clamp(alpha, 0, 255)) << 24);
}

const Event* EventOf(const Project& project, const LayerResult& layer) {
    if (layer.eventIdx < 0 || static_cast<std::size_t>(layer.eventIdx) >= project.events.size()) return nullptr;
    return &project.events[static_cast<std::size_t>(layer.eventIdx)];
}

// floor(v) within 0..last; NaN reads as 0 (a float cast out of range is undefined).
int IndexIn(float v, int last) {
    if (!(v > 0.0f)) return 0;
    if (v >= static_cast<float>(last)) return last;
    return static_cast<int>(v);
}

// The largest of values[i0..i1), at least 0. A clip a few pixels wide still
// reads all 2,048 overview bins every frame, so the scan runs four lanes
// wide where the machine has them (peaks are never NaN, so the result is
// the same).
float PeakOver(const float* values, int i0, int i1) {
    int i = i0;
    float peak = 0.0f;
#if defined(__SSE2__)
    __m128 m0 = _mm_setzero_ps();
    __m128 m1 = _mm_setzero_ps();
    for (; i + 8 <= i1; i += 8) {
        m0 = _mm_max_ps(m0, _mm_loadu_ps(values + i));
        m1 = _mm_max_ps(m1, _mm_loadu_ps(values + i + 4));
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, _mm_max_ps(m0, m1));
    peak = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
#endif
    for (; i < i1; ++i) peak = std::max(peak, values[i]);
    return peak;
}

bool JobRunning(const AppState& state) { return state.backgroundJob.active.load(std::memory_order_acquire); }

// The voices the UI may read now: all of a ready list, else those a build
// has published.
std::int32_t ReadableVoices(const PlaybackEngine& engine) {
    if (engine.ready.load(std::memory_order_acquire)) {
        return static_cast<std::int32_t>(std::min<std::size_t>(engine.voices.size(), INT32_MAX));
    }
    return std::max(0, engine.voiceCount.load(std::memory_order_acquire));
}

}  // namespace

// [SECTION] Geometry

GroupAreaGeometry LayOutGroupArea(const AppState& state, const Project& project, std::span<const LayerResult> layers,
                                  float areaTop, float areaHeight, float headerHeight) {
    GroupAreaGeometry g;
    g.areaTop = areaTop;
    g.areaHeight = areaHeight;
    g.headerHeight = headerHeight;
    const auto& groups = project.trackLayout.groups;
    int visibleLanes = 0;
    int hiddenGroups = 0;
    for (int i = 0; i < kTrackGroupCount; ++i) {
        const int lanes = std::max(0, groups[static_cast<std::size_t>(i)].usedLanes);
        if (state.groupVisible[static_cast<std::size_t>(i)]) {
            visibleLanes += lanes;
        } else if (lanes > 0) {
            ++hiddenGroups;
        }
    }

    float shift = 0.0f;
    if (state.audioFocusActive && !state.audioFocusEvents.empty()) {
        int lo = INT32_MAX;
        int hi = -1;
        for (const LayerResult& layer : layers) {
            if (layer.groupTrack < 0) continue;
            const Event* event = EventOf(project, layer);
            if (event == nullptr || state.audioFocusEvents.count(layer.eventIdx) == 0) continue;
            const int group = EffectiveGroup(*event);
            if (group < 0 || group >= kTrackGroupCount || !state.groupVisible[static_cast<std::size_t>(group)]) {
                continue;
            }
            const int first = GetGroupLaneOffset(state, project, group, 0);
            if (first < 0) continue;  // a group without lanes has no rows
            lo = std::min(lo, first + layer.groupTrack);
            hi = std::max(hi, first + layer.groupTrack);
        }
        if (hi >= 0) {
            const auto rows = static_cast<float>(hi - lo + 1);
            g.focusMode = true;
            g.laneHeight = std::max(2.0f, std::floor((areaHeight - 4.0f - rows) / rows));
            shift = -(g.laneHeight + 1.0f) * static_cast<float>(lo);
        }
    }
    if (!g.focusMode) {
        if (visibleLanes == 0) {
            g.laneHeight = 64.0f;
        } else {
            const auto lanes = static_cast<float>(visibleLanes);
            const float fit =
                (areaHeight - 4.0f - (headerHeight + 2.0f) * static_cast<float>(hiddenGroups) - lanes) / lanes;
            g.laneHeight = std::max(2.0f, std::floor(std::min(64.0f, fit)));
        }
    }

    float offset = shift;
    for (int group : kDisplayOrder) {
        const auto gi = static_cast<std::size_t>(group);
        g.groupTop[gi] = offset;
        const int lanes = std::max(0, groups[gi].usedLanes);
        if (lanes == 0) continue;
        if (state.groupVisible[gi]) {
            offset += (g.laneHeight + 1.0f) * static_cast<float>(lanes);
        } else if (!g.focusMode) {
            offset += headerHeight + 2.0f;
        }
    }
    return g;
}

std::int32_t RevealedLayerCount(const AppState& state, const Project& project, const PlaybackEngine& engine,
                                std::int32_t layerCount) {
    std::int32_t count = std::max(0, layerCount);
    const BackgroundJob& job = state.backgroundJob;
    if (!JobRunning(state)) return count;
    if (job.revealByBuiltLayers) {
        count = std::min(count, project.builtResultCount.load(std::memory_order_acquire));
    } else if (job.revealBuildProgress) {
        count = std::min(count, engine.voicesRendered.load(std::memory_order_acquire));
    }
    return std::max(0, count);
}

// [SECTION] Layer-to-voice lookup

void LayerVoiceLookup::Refresh(const PlaybackEngine& engine) {
    const bool ready = engine.ready.load(std::memory_order_acquire);
    const std::int32_t published = engine.voiceCount.load(std::memory_order_acquire);
    const bool newRevision = ready && (!hasRevision || engine.revision != revision);
    if (!newRevision && !(published > 0 && published != count) && !stale) return;
    stale = false;
    const std::int32_t considered = ReadableVoices(engine);
    std::int32_t largest = -1;
    for (std::int32_t v = 0; v < considered; ++v) {
        largest = std::max(largest, engine.voices[static_cast<std::size_t>(v)].resultIndex);
    }
    voiceOf.assign(static_cast<std::size_t>(largest + 1), -1);
    for (std::int32_t v = 0; v < considered; ++v) {
        const std::int32_t layer = engine.voices[static_cast<std::size_t>(v)].resultIndex;
        if (layer >= 0) voiceOf[static_cast<std::size_t>(layer)] = v;
    }
    if (ready) {
        revision = engine.revision;
        hasRevision = true;
    }
    count = published;
}

std::int32_t LayerVoiceLookup::VoiceFor(const PlaybackEngine& engine, std::int32_t layer) const {
    if (layer < 0 || static_cast<std::size_t>(layer) >= voiceOf.size()) return -1;
    const bool ready = engine.ready.load(std::memory_order_acquire);
    if (!ready && engine.voiceCount.load(std::memory_order_acquire) <= 0) return -1;
    const std::int32_t voice = voiceOf[static_cast<std::size_t>(layer)];
    if (voice < 0) return -1;
    if (voice >= ReadableVoices(engine) || engine.voices[static_cast<std::size_t>(voice)].resultIndex != layer) {
        stale = true;  // the list changed under the same keys: rebuild next frame
        return -1;
    }
    return voice;
}

// [SECTION] Layer looks

float LayerColourWeight(const Project& project, const LayerResult& layer) {
    const Event* event = EventOf(project, layer);
    if (event == nullptr) return layer.weight;
    if (IsKind(event->shape, EventKind::Clip)) return event->clipWeight;
    if (!IsKind(event->shape, EventKind::Bed)) return layer.weight;
    const std::size_t n = std::min(event->pinnedFiles.size(), event->bedLayerWeight.size());
    for (std::size_t i = 0; i < n; ++i) {
        const bool sameId =
            !layer.fileId.empty() && i < event->pinnedFileIds.size() && event->pinnedFileIds[i] == layer.fileId;
        if (sameId || event->pinnedFiles[i] == layer.filepath) return event->bedLayerWeight[i];
    }
    return -1.0f;
}

LayerLook DecideLayerLook(const AppState& state, const Project& project, const PlaybackEngine& engine,
                          const LayerResult& layer, std::int32_t voice) {
    LayerLook look;
    const Event* event = EventOf(project, layer);
    look.group = event != nullptr ? std::clamp(EffectiveGroup(*event), 0, kTrackGroupCount - 1) : 0;
    look.kind = event != nullptr ? event->shape : -1;
    if (!state.groupVisible[static_cast<std::size_t>(look.group)] || layer.groupTrack < 0) return look;

    const bool clip = event != nullptr && IsKind(event->shape, EventKind::Clip);
    if (!state.colorByWeight) {
        look.colour = clip ? kClipLayerRgb : GetGroupColour(look.group);
    } else {
        const float weight = LayerColourWeight(project, layer);
        look.colour = weight < 0.0f ? kClipLayerRgb : GetWeightColor(weight);
    }
    look.dim = layer.muted || (event != nullptr && event->muted);
    if (look.dim) look.colour = ThemePalette.neutralMark;
    look.selected = event != nullptr && state.selectedEvents.count(layer.eventIdx) != 0;

    const BackgroundJob& job = state.backgroundJob;
    if (JobRunning(state)) {
        if (job.revealByBuiltLayers) {
            if (voice < 0) look.colour = WithAlpha(ThemePalette.textMuted, 120);
        } else if (job.revealBuildProgress) {
            if (voice < 0) return look;  // appears once its voice is published
            if (!engine.ready.load(std::memory_order_acquire)) look.colour = WithAlpha(ThemePalette.textMuted, 120);
        }
    }
    look.drawn = true;
    return look;
}

// [SECTION] Band crowding

namespace {

float DeconGainAt(const float* gain, float p) {
    const int i = IndexIn(p, kDeconGainPoints - 2);
    const float f = p - static_cast<float>(i);
    return gain[i] * (1.0f - f) + gain[i + 1] * f;
}

}  // namespace

float MeasureBandCrowding(std::span<const LayerResult> layers, float t, int band) {
    if (band < 0 || band >= kBandCount) return 0.0f;
    int count = 0;
    float sum = 0.0f;
    float largest = 0.0f;
    BandWeights weights{};
    for (const LayerResult& layer : layers) {
        if (layer.muted) continue;
        const float start = layer.startTime + layer.deconOffset;
        if (!(start <= t && t < start + layer.duration)) continue;
        ToneToBandWeights(layer.weight, weights);
        float e = weights[static_cast<std::size_t>(band)] * layer.layerGain * layer.userVolume;
        if (layer.hasDeconGain && layer.duration > 0.0f) {
            e *= DeconGainAt(layer.deconGain.data(), (t - start) / layer.duration * 31.0f);
        }
        ++count;
        sum += e;
        largest = std::max(largest, e);
    }
    if (count < 2 || largest < 0.01f) return 0.0f;
    return std::max(sum / largest - 1.0f, 0.0f);
}

float MeasureBandCrowding(const Project& project, float t, int band) {
    return MeasureBandCrowding(std::span<const LayerResult>(project.results), t, band);
}

std::vector<std::array<float, 5>> MeasureBandCrowdingSweep(std::span<const LayerResult> layers,
                                                           std::span<const float> times) {
    struct Sounding {
        float start;
        float duration;
        BandWeights energy;
        const float* deconGain;
    };
    std::vector<Sounding> sounding;
    sounding.reserve(layers.size());
    for (const LayerResult& layer : layers) {
        if (layer.muted || !(layer.duration > 0.0f)) continue;  // never sounds at any t
        Sounding s{layer.startTime + layer.deconOffset, layer.duration, {}, nullptr};
        ToneToBandWeights(layer.weight, s.energy);
        for (float& e : s.energy) e *= layer.layerGain * layer.userVolume;
        if (layer.hasDeconGain) s.deconGain = layer.deconGain.data();
        sounding.push_back(s);
    }
    std::sort(sounding.begin(), sounding.end(), [](const Sounding& a, const Sounding& b) { return a.start < b.start; });

    std::vector<std::array<float, 5>> result(times.size(), std::array<float, 5>{});
    std::vector<std::size_t> active;
    std::size_t next = 0;
    for (std::size_t c = 0; c < times.size(); ++c) {
        const float t = times[c];
        while (next < sounding.size() && sounding[next].start <= t) active.push_back(next++);
        std::erase_if(active, [&](std::size_t i) { return !(t < sounding[i].start + sounding[i].duration); });
        if (active.size() < 2) continue;
        std::array<float, 5> sum{};
        std::array<float, 5> largest{};
        for (std::size_t i : active) {
            const Sounding& s = sounding[i];
            const float decon = s.deconGain ? DeconGainAt(s.deconGain, (t - s.start) / s.duration * 31.0f) : 1.0f;
            for (int b = 0; b < kBandCount; ++b) {
                const float e = s.energy[static_cast<std::size_t>(b)] * decon;
                sum[static_cast<std::size_t>(b)] += e;
                largest[static_cast<std::size_t>(b)] = std::max(largest[static_cast<std::size_t>(b)], e);
            }
        }
        for (std::size_t b = 0; b < 5; ++b) {
            result[c][b] = largest[b] < 0.01f ? 0.0f : std::max(sum[b] / largest[b] - 1.0f, 0.0f);
        }
    }
    return result;
}

// [SECTION] Waveform strip

void DrawWaveformStrip(ImDrawList* dl, const ImVec2& pos, const ImVec2& size, std::uint32_t rgb, const float* peaks,
                       int peakCount, float fadeInFraction, float fadeOutFraction, bool dim, float visibleStart,
                       float visibleEnd, bool compact, bool bright) {
    if (static_cast<int>(size.x) < 2) return;
    const ImVec2 end(pos.x + size.x, pos.y + size.y);
    dl->AddRectFilled(pos, end, WithAlpha(rgb, dim ? 40 : bright ? 255 : 230));
    dl->PushClipRect(pos, end, true);
    const float span = visibleEnd - visibleStart;

    if (peaks != nullptr && peakCount > 0) {
        const float mid = pos.y + size.y / 2.0f;
        const float amplitude = size.y * 0.44f;
        int n = 0;
        if (compact) {
            n = std::clamp(static_cast<int>(size.x) / 4, 2, 150);
        } else {
            dl->AddLine(ImVec2(pos.x + 1.0f, mid - 0.5f), ImVec2(pos.x + size.x - 1.0f, mid + 0.5f),
                        WithAlpha(IM_COL32_WHITE, 20));
            n = std::clamp(static_cast<int>(size.x) / 3, 2, 200);
        }
        ImVec2 upper[200];
        ImVec2 lower[200];
        const float step = size.x / static_cast<float>(n);
        for (int j = 0; j < n; ++j) {
            const float fa = (static_cast<float>(j) * step) / size.x * span + visibleStart;
            const float fb = std::min(size.x, static_cast<float>(j + 1) * step) / size.x * span + visibleStart;
            const int i0 = IndexIn(fa * static_cast<float>(peakCount), peakCount - 1);
            const int i1 = std::max(i0 + 1, IndexIn(std::ceil(fb * static_cast<float>(peakCount)), peakCount));
            const float peak = std::max(0.02f, PeakOver(peaks, i0, i1));
            const float m = (fa + fb) / 2.0f;
            float envelope = 1.0f;
            if (fadeInFraction > 0.0f && m < fadeInFraction) envelope = m / fadeInFraction;
            if (fadeOutFraction > 0.0f && m > 1.0f - fadeOutFraction) {
                const float r = (1.0f - m) / fadeOutFraction;
                envelope *= r * r;
            }
            const float x = pos.x + static_cast<float>(j) * step;
            upper[j] = ImVec2(x, mid - envelope * peak * amplitude);
            lower[j] = ImVec2(x, mid + envelope * peak * amplitude);
        }
        const std::uint32_t fill = WithAlpha(IM_COL32_WHITE, dim ? 25 : 100);
        for (int j = 0; j + 1 < n; ++j) dl->AddQuadFilled(upper[j], upper[j + 1], lower[j + 1], lower[j], fill);
        if (!compact && n > 1) {
            const std::uint32_t edge = WithAlpha(IM_COL32_WHITE, dim ? 35 : 130);
            dl->AddPolyline(upper, n, edge, 0, 0.8f);
            dl->AddPolyline(lower, n, edge, 0, 0.8f);
        }
    }

    if (!compact) {
        const float w = span > 0.0001f ? size.x / span : size.x;
        const float xs = pos.x - w * visibleStart;
        const float xe = xs + w;
        const float top = pos.y;
        const float bottom = end.y;
        const bool shade = (ThemePalette.overlayBg >> 24) != 0;
        const std::uint32_t line = WithAlpha(IM_COL32_WHITE, dim ? 20 : 50);
        if (fadeInFraction > 0.0f && w * fadeInFraction > 0.75f) {
            const float xf = xs + w * fadeInFraction;
            if (shade) {
                dl->AddTriangleFilled(ImVec2(xs - 1.5f, top), ImVec2(xf, top), ImVec2(xs - 1.5f, bottom),
                                      ThemePalette.overlayBg);
            }
            dl->AddLine(ImVec2(xf, top), ImVec2(xs - 1.5f, bottom), line);
        }
        if (fadeOutFraction > 0.0f && w * fadeOutFraction > 0.75f) {
            const float xf = xe - w * fadeOutFraction;
            if (shade) {
                dl->AddTriangleFilled(ImVec2(xf, top), ImVec2(xe + 1.5f, top), ImVec2(xe + 1.5f, bottom),
                                      ThemePalette.overlayBg);
            }
            dl->AddLine(ImVec2(xf, top), ImVec2(xe + 1.5f, bottom), line);
        }
    }
    dl->PopClipRect();
}

// [SECTION] Layer bodies

namespace {

// The clip's place on screen this frame.
struct LayerSpan {
    float x0, x1;
    float drawLeft, drawRight, width;
    float y, laneHeight;
};

// The column arrays of the Fill band and the Clip waveform: bounded by the
// point limits, kept out of the frame's allocations. UI thread only.
ImVec2 UpperPoints[kMaxWaveColumns + 1];
ImVec2 LowerPoints[kMaxWaveColumns + 1];
float HalfHeights[kMaxFillPoints + 1];
float SmoothScratch[kMaxFillPoints + 1];

void SmoothHeights(int count) {
    float weights[7];
    float total = 0.0f;
    for (int d = -3; d <= 3; ++d) {
        const float r = static_cast<float>(d) / 3.0f;
        weights[d + 3] = std::exp(-2.0f * r * r);
        total += weights[d + 3];
    }
    for (float& w : weights) w /= total;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < count; ++i) {
            float v = 0.0f;
            for (int d = -3; d <= 3; ++d) v += weights[d + 3] * HalfHeights[std::clamp(i + d, 0, count - 1)];
            SmoothScratch[i] = v;
        }
        std::copy(SmoothScratch, SmoothScratch + count, HalfHeights);
    }
}

void DrawBand(ImDrawList* dl, int points, std::uint32_t fill, std::uint32_t edge) {
    for (int i = 0; i + 1 < points; ++i) {
        dl->AddQuadFilled(UpperPoints[i], UpperPoints[i + 1], LowerPoints[i + 1], LowerPoints[i], fill);
    }
    if (points > 1) {
        dl->AddPolyline(UpperPoints, points, edge, 0, 1.0f);
        dl->AddPolyline(LowerPoints, points, edge, 0, 1.0f);
    }
}

void DrawFillLayer(ImDrawList* dl, const LayerResult& layer, const Event* event, const Voice* voice,
                   const LayerLook& look, const LayerSpan& s) {
    const float mid = s.y + s.laneHeight / 2.0f;
    const float greatest = (s.laneHeight - 2.0f) / 2.0f - 0.5f;
    const std::uint32_t fill = look.dim ? WithAlpha(ThemePalette.neutralMark, 60) : WithAlpha(look.colour, 140);
    const std::uint32_t edge = look.dim ? WithAlpha(ThemePalette.neutralMark, 40) : WithAlpha(look.colour, 220);
    if (voice == nullptr || s.width <= 4.0f || !voice->hasFillGain) {
        dl->AddRectFilled(ImVec2(s.drawLeft, mid - 1.0f), ImVec2(s.drawRight, mid + 1.0f), fill);
        return;
    }
    const int n = std::clamp(static_cast<int>(s.width) / 2, 4, kMaxFillPoints);
    const float step = s.width / static_cast<float>(n);
    // The engine spans the curve over the event's length from the layer's start.
    const float curveSeconds = voice->fillGainSpan > 0.0f ? voice->fillGainSpan
                               : event != nullptr       ? event->duration
                                                        : layer.duration;
    const float span = TimeToX(layer.startTime + curveSeconds) - s.x0;
    const float clipPx = s.x1 - s.x0;
    const bool sized = clipPx > 0.01f && layer.duration > 0.0f;
    const float fadeInPx = sized ? layer.fadeIn / layer.duration * clipPx : 0.0f;
    const float fadeOutPx = sized ? layer.fadeOut / layer.duration * clipPx : 0.0f;
    const float* curve = voice->fillGain.data();
    for (int i = 0; i <= n; ++i) {
        const float x = s.drawLeft + static_cast<float>(i) * step;
        const float u = x - s.x0;
        float g = curve[0];
        if (span > 0.01f) {
            const float p = std::clamp(u / span, 0.0f, 1.0f) * static_cast<float>(kFillGainPoints - 1);
            const int k = IndexIn(p, kFillGainPoints - 2);
            const float f = p - static_cast<float>(k);
            g = curve[k] * (1.0f - f) + curve[k + 1] * f;
        }
        float e = 1.0f;
        if (fadeInPx > 0.01f && u < fadeInPx) e *= u / fadeInPx;
        if (fadeOutPx > 0.01f && clipPx - u < fadeOutPx) e *= (clipPx - u) / fadeOutPx;
        e = std::clamp(e, 0.0f, 1.0f);
        HalfHeights[i] = (greatest * (1.0f - std::exp(-1.5f * g)) + 0.5f) * e;
    }
    SmoothHeights(n + 1);
    for (int i = 0; i <= n; ++i) {
        const float x = s.drawLeft + static_cast<float>(i) * step;
        UpperPoints[i] = ImVec2(x, mid - HalfHeights[i]);
        LowerPoints[i] = ImVec2(x, mid + HalfHeights[i]);
    }
    DrawBand(dl, n + 1, fill, edge);
}

void DrawClipLayer(ImDrawList* dl, const LayerResult& layer, const Event& event, const LayerLook& look,
                   const LayerSpan& s) {
    const float mid = s.y + s.laneHeight / 2.0f;
    const float bottom = s.y + s.laneHeight;
    dl->AddRectFilled(ImVec2(s.drawLeft, s.y), ImVec2(s.drawRight, bottom),
                      WithAlpha(look.colour, look.dim ? 40 : look.selected ? 255 : 230));
    dl->PushClipRect(ImVec2(s.drawLeft, s.y), ImVec2(s.drawRight, bottom), true);

    const std::string path(event.pinnedFile, strnlen(event.pinnedFile, sizeof event.pinnedFile));
    const std::shared_ptr<const WaveformOverview> overview = path.empty() ? nullptr : FindWaveformOverview(path);
    if (overview == nullptr || !(overview->duration > 0.0f) || overview->peaks.empty()) {
        dl->AddRectFilled(ImVec2(s.drawLeft, mid - 1.0f), ImVec2(s.drawRight, mid + 1.0f),
                          WithAlpha(look.colour, look.dim ? 60 : 180));
    } else {
        const auto bins = static_cast<int>(std::min<std::size_t>(overview->peaks.size(), INT32_MAX));
        const float binLength = overview->duration / static_cast<float>(bins);
        const int columns = std::min(static_cast<int>(s.drawRight - s.drawLeft), kMaxWaveColumns);
        for (int i = 0; i < columns; ++i) {
            const float x = s.drawLeft + static_cast<float>(i);
            const float ta = XToTime(x) - layer.startTime + layer.sourceOffset;
            const float tb = XToTime(x + 1.0f) - layer.startTime + layer.sourceOffset;
            const int b0 = IndexIn(ta / binLength, bins - 1);
            const int b1 = std::max(b0, IndexIn(tb / binLength, bins - 1));
            const float peak = PeakOver(overview->peaks.data(), b0, b1 + 1);
            const float tm = (ta + tb) / 2.0f - layer.sourceOffset;
            float envelope = 1.0f;
            if (layer.fadeIn > 0.001f && tm < layer.fadeIn) envelope = tm / layer.fadeIn;
            if (layer.fadeOut > 0.001f && layer.sourceDuration - tm < layer.fadeOut) {
                envelope *= (layer.sourceDuration - tm) / layer.fadeOut;
            }
            const float half = std::max(0.02f, envelope * peak) * s.laneHeight * 0.44f;
            UpperPoints[i] = ImVec2(x, mid - half);
            LowerPoints[i] = ImVec2(x, mid + half);
        }
        const std::uint32_t fill = WithAlpha(IM_COL32_WHITE, look.dim ? 25 : 100);
        for (int i = 0; i + 1 < columns; ++i) {
            dl->AddQuadFilled(UpperPoints[i], UpperPoints[i + 1], LowerPoints[i + 1], LowerPoints[i], fill);
        }
        if (columns >= 2) {
            const std::uint32_t edge = WithAlpha(IM_COL32_WHITE, look.dim ? 35 : 130);
            dl->AddPolyline(UpperPoints, columns, edge, 0, 0.8f);
            dl->AddPolyline(LowerPoints, columns, edge, 0, 0.8f);
        }
    }

    // Handles sit at the clip's true ends, cut by the clip rectangle when
    // the clip runs out of view.
    const float factor = look.dim ? 0.0f : look.selected ? 1.0f : 0.5f;
    if (layer.duration > 0.001f && factor > 0.0f) {
        const float px = s.x1 - s.x0;
        const auto a = [&](float alpha) { return static_cast<int>(factor * alpha); };
        if (layer.fadeIn > 0.01f) {
            const float xf = s.x0 + layer.fadeIn / layer.duration * px;
            dl->AddTriangleFilled(ImVec2(s.x0 - 1.5f, s.y), ImVec2(xf, s.y), ImVec2(s.x0 - 1.5f, bottom),
                                  WithAlpha(ThemePalette.overlayBg, a(150)));
            dl->AddLine(ImVec2(s.x0 - 1.5f, bottom), ImVec2(xf, s.y), WithAlpha(IM_COL32_WHITE, a(80)));
            dl->AddLine(ImVec2(xf, s.y), ImVec2(xf, bottom), WithAlpha(IM_COL32_WHITE, a(200)));
        }
        if (layer.fadeOut > 0.01f) {
            const float xf = s.x1 - layer.fadeOut / layer.duration * px;
            dl->AddTriangleFilled(ImVec2(s.x1 + 1.5f, s.y), ImVec2(s.x1 + 1.5f, bottom), ImVec2(xf, s.y),
                                  WithAlpha(ThemePalette.overlayBg, a(150)));
            dl->AddLine(ImVec2(xf, s.y), ImVec2(s.x1 + 1.5f, bottom), WithAlpha(IM_COL32_WHITE, a(80)));
            dl->AddLine(ImVec2(xf, s.y), ImVec2(xf, bottom), WithAlpha(IM_COL32_WHITE, a(200)));
        }
    }
    dl->PopClipRect();
}

void DrawSeams(ImDrawList* dl, const Voice& voice, bool crossfades, const LayerLook& look, const LayerSpan& s) {
    const int count = std::clamp(voice.seamCount, 0, kVoiceMaxSeams);
    const float px = s.x1 - s.x0;
    const float top = s.y;
    const float bottom = s.y + s.laneHeight;
    for (int i = 0; i < count; ++i) {
        const float x = s.x0 + voice.seamPositions[static_cast<std::size_t>(i)] * px;
        if (crossfades) {
            const float w = std::max(3.0f, voice.seamWidths[static_cast<std::size_t>(i)] * px / 2.0f);
            if (!(x + w > s.drawLeft + 2.0f && x - w < s.drawRight - 2.0f)) continue;
            const float left = std::max(x - w, s.drawLeft + 1.0f);
            const float right = std::min(x + w, s.drawRight - 1.0f);
            const std::uint32_t colour = WithAlpha(ThemePalette.yellowMark, look.dim ? 35 : 80);
            dl->AddLine(ImVec2(left, top + 2.0f), ImVec2(right, bottom - 2.0f), colour);
            dl->AddLine(ImVec2(left, bottom - 2.0f), ImVec2(right, top + 2.0f), colour);
        } else if (s.drawLeft + 2.0f < x && x < s.drawRight - 2.0f) {
            const std::uint32_t colour = WithAlpha(ThemePalette.yellowMark, look.dim ? 30 : 70);
            dl->AddLine(ImVec2(x, top + 1.0f), ImVec2(x, bottom - 1.0f), colour);
            dl->AddTriangleFilled(ImVec2(x - 2.0f, top + 1.0f), ImVec2(x + 2.0f, top + 1.0f), ImVec2(x, top + 4.0f),
                                  colour);
        }
    }
}

// The selection outline: the colour brightened to a largest channel of
// 240, then a little toward grey so saturated colours do not glare.
std::uint32_t OutlineColour(std::uint32_t colour) {
    float c[3] = {static_cast<float>(colour & 0xFF), static_cast<float>(colour >> 8 & 0xFF),
                  static_cast<float>(colour >> 16 & 0xFF)};
    const float largest = std::max({c[0], c[1], c[2]});
    if (largest > 0.0f) {
        for (float& v : c) v = std::min(255.0f, v * 240.0f / largest);
    }
    const float mean = (c[0] + c[1] + c[2]) / 3.0f;
    for (float& v : c) v += (mean - v) * 0.15f;
    return IM_COL32(static_cast<int>(c[0]), static_cast<int>(c[1]), static_cast<int>(c[2]), 220);
}

void DrawLayer(ImDrawList* dl, const AppState& state, const Project& project, const PlaybackEngine& engine,
               const GroupAreaGeometry& area, const LayerResult& layer, std::int32_t index) {
    const TimelineState& tl = Timeline;
    const std::int32_t voiceIndex = TimelineLayerVoices.VoiceFor(engine, index);
    const LayerLook look = DecideLayerLook(state, project, engine, layer, voiceIndex);
    if (!look.drawn) return;
    const float right = tl.LaneRight();
    LayerSpan s{};
    s.x0 = TimeToX(layer.startTime);
    s.x1 = TimeToX(layer.startTime + layer.duration);
    if (s.x1 < tl.laneLeft || s.x0 > right) return;
    s.drawLeft = std::floor(std::max(tl.laneLeft, s.x0));
    s.drawRight = std::ceil(std::min(right, s.x1));
    s.width = s.drawRight - s.drawLeft;
    s.laneHeight = area.laneHeight;
    s.y = area.LaneTop(look.group, layer.groupTrack);
    if (s.y > area.AreaBottom() || s.y + s.laneHeight < area.areaTop) return;

    const Event* event = EventOf(project, layer);
    const Voice* voice = voiceIndex >= 0 ? &engine.voices[static_cast<std::size_t>(voiceIndex)] : nullptr;
    const bool fill = IsKind(look.kind, EventKind::Fill);
    const float bottom = s.y + s.laneHeight;
    if (fill) {
        DrawFillLayer(dl, layer, event, voice, look, s);
    } else if (IsKind(look.kind, EventKind::Clip) && s.width > 4.0f) {
        DrawClipLayer(dl, layer, *event, look, s);
    } else if (s.width > 4.0f) {
        const float px = s.x1 - s.x0;
        const bool timed = layer.duration > 0.0f;
        const float fadeIn = timed ? std::min(0.45f, layer.fadeIn / layer.duration) : 0.0f;
        const float fadeOut = timed ? std::min(0.45f, layer.fadeOut / layer.duration) : 0.0f;
        const float visibleStart = px > 0.01f ? (s.drawLeft - std::floor(s.x0)) / px : 0.0f;
        const float visibleEnd = px > 0.01f ? (s.drawRight - std::floor(s.x0)) / px : 1.0f;
        DrawWaveformStrip(dl, ImVec2(s.drawLeft, s.y), ImVec2(s.width, s.laneHeight), look.colour,
                          voice != nullptr ? voice->overviewPeak.data() : nullptr,
                          voice != nullptr ? kVoiceOverviewBins : 0, fadeIn, fadeOut, look.dim, visibleStart,
                          visibleEnd, false, look.selected);
    } else {
        dl->AddRectFilled(ImVec2(s.drawLeft, s.y), ImVec2(s.drawRight, bottom),
                          WithAlpha(look.colour, look.dim ? 40 : look.selected ? 255 : 230));
    }

    if (voice != nullptr && s.width > 20.0f && voice->seamCount > 0) {
        DrawSeams(dl, *voice, fill || IsKind(look.kind, EventKind::Bed), look, s);
    }

    if (index == state.soloLayer) {
        const int alpha = static_cast<int>(std::sin(4.0 * UiClockSeconds()) * 75.0 + 180.0);
        dl->AddRect(ImVec2(s.drawLeft, s.y), ImVec2(s.drawRight, bottom), WithAlpha(ThemePalette.yellowMark, alpha),
                    0.0f, 0, 2.0f);
    } else if (look.selected) {
        dl->AddRect(ImVec2(s.drawLeft, s.y), ImVec2(s.drawRight, bottom), OutlineColour(look.colour), 0.0f, 0, 1.5f);
    }
}

// [SECTION] Headers and heat map

void DrawHeaders(ImDrawList* dl, AppState& state, const Project& project, const GroupAreaGeometry& area,
                 ImFont* font) {
    const TimelineState& tl = Timeline;
    const float labelSize = font->FontSize * 0.9f;
    ImGui::PushFont(font);
    bool first = true;
    for (int group : kDisplayOrder) {
        const auto gi = static_cast<std::size_t>(group);
        const TrackGroupLayout& layout = project.trackLayout.groups[gi];
        if (layout.usedLanes <= 0) continue;
        const bool visible = state.groupVisible[gi];
        if (!visible && area.focusMode) continue;
        const float top = area.areaTop + 2.0f + area.groupTop[gi];
        if (visible && !(top < area.AreaBottom())) continue;
        if (visible && !first) {
            dl->AddLine(ImVec2(tl.headerLeft, top - 1.0f), ImVec2(tl.LaneRight(), top - 1.0f),
                        WithAlpha(ThemePalette.border, 200));
        }
        first = false;
        const std::uint32_t colour = GetGroupColour(group);
        const ImVec2 boxMin(tl.headerLeft + 2.0f, top);
        const ImVec2 boxSize(std::max(1.0f, tl.headerWidth - 4.0f), area.headerHeight);
        const ImVec2 boxMax(boxMin.x + boxSize.x, boxMin.y + boxSize.y);
        dl->AddRectFilled(boxMin, boxMax, WithAlpha(colour, visible ? 60 : 15), 3.0f);
        dl->AddRect(boxMin, boxMax, WithAlpha(colour, visible ? 100 : 30), 3.0f, 0, 1.0f);
        const std::size_t nameLength = strnlen(layout.name, sizeof layout.name);
        const ImVec2 text = font->CalcTextSizeA(labelSize, 1e9f, 0.0f, layout.name, layout.name + nameLength);
        dl->AddText(font, labelSize,
                    ImVec2(boxMin.x + (boxSize.x - text.x) / 2.0f, boxMin.y + (boxSize.y - text.y) / 2.0f),
                    WithAlpha(colour, visible ? 240 : 80), layout.name, layout.name + nameLength);

        char id[16];
        std::snprintf(id, sizeof id, "##gtog%d", group);
        ImGui::SetCursorScreenPos(boxMin);
        if (ImGui::InvisibleButton(id, boxSize)) state.groupVisible[gi] = !visible;
        if (ImGui::IsItemHovered()) {
            const std::string name(layout.name, nameLength);
            ImGui::SetTooltip(visible ? "%s \xe2\x80\x94 click to hide" : "%s (hidden) \xe2\x80\x94 click to show",
                              name.c_str());
        }
    }
    ImGui::PopFont();
}

void DrawHeatMap(ImDrawList* dl, std::span<const LayerResult> layers, const GroupAreaGeometry& area) {
    const TimelineState& tl = Timeline;
    static std::vector<float> times;  // UI thread only: reused each frame
    times.clear();
    for (float x = tl.laneLeft; x < tl.LaneRight(); x += 4.0f) times.push_back(XToTime(x));
    const std::vector<std::array<float, 5>> crowding = MeasureBandCrowdingSweep(layers, times);
    const float rowHeight = area.areaHeight / 5.0f;
    for (std::size_t c = 0; c < times.size(); ++c) {
        const float x = tl.laneLeft + 4.0f * static_cast<float>(c);
        for (int b = 0; b < 5; ++b) {
            const float value = crowding[c][static_cast<std::size_t>(b)];
            if (value < 0.05f) continue;
            const float v = std::clamp(value / 3.0f, 0.0f, 1.0f);
            const float y = area.areaTop + 2.0f + static_cast<float>(4 - b) * rowHeight;
            dl->AddRectFilled(ImVec2(x, y), ImVec2(x + 4.0f, y + rowHeight),
                              IM_COL32(static_cast<int>(v * 255.0f), static_cast<int>((1.0f - v) * 180.0f), 0,
                                       static_cast<int>(v * 60.0f + 40.0f)));
        }
    }
}

}  // namespace

// [SECTION] The group area step

void DrawGroupArea(ImDrawList* dl, AppState& state, const Project& project, float areaTop, bool traceView) {
    TimelineState& tl = Timeline;
    const float areaHeight = tl.height - (areaTop - tl.y0) - 26.0f;
    const float right = tl.LaneRight();
    dl->AddRectFilled(ImVec2(tl.laneLeft, areaTop), ImVec2(right, areaTop + areaHeight), ThemePalette.timelineShade2,
                      2.0f);
    ImFont* font = state.fonts.smallFont != nullptr ? state.fonts.smallFont : ImGui::GetFont();
    const float headerHeight = 0.9f * font->FontSize + 2.0f;
    PlaybackEngine& engine = LivePlaybackEngine;
    const std::lock_guard voiceStorage(engine.voiceStorageMutex);

    // A running job may move the layers and the lane counts: read the ones it
    // has published, under its storage lock, for the whole step.
    std::optional<PublishedLayersView> published;
    std::span<const LayerResult> layers;
    if (JobRunning(state)) {
        published.emplace(project);
        layers = published->layers();
    } else {
        layers = project.results;  // the vector itself only where no build swaps it
    }
    GroupAreaGeometry area = LayOutGroupArea(state, project, layers, areaTop, areaHeight, headerHeight);
    const std::int32_t layerCount = static_cast<std::int32_t>(std::min<std::size_t>(layers.size(), INT32_MAX));
    area.drawnLayerCount = RevealedLayerCount(state, project, engine, layerCount);
    tl.groupArea = area;
    if (!project.built || traceView) return;

    TimelineLayerVoices.Refresh(engine);
    dl->PushClipRect(ImVec2(tl.headerLeft, areaTop), ImVec2(right, areaTop + areaHeight), true);
    DrawHeaders(dl, state, project, area, font);
    if (state.showSpectralHeatmap) DrawHeatMap(dl, layers, area);
    for (std::int32_t i = 0; i < area.drawnLayerCount; ++i) {
        DrawLayer(dl, state, project, engine, area, layers[static_cast<std::size_t>(i)], i);
    }
    dl->PopClipRect();
}

}  // namespace korvel
