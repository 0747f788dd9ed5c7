// The timeline's closing steps: overlays, the seek strip and "##tlzone"
// with its Clip trims and fades, audition, selection, box and menu.
//
// Trims and fade drags write the project live, so they start only while
// the edit guard is open and end, without their closing rebuild, as soon
// as it closes (a job or an export reads the layers). Clicks, the box and
// the menu only read the layers: during a job they read the ones the build
// has published, under its storage lock, and let go of it before anything
// that takes the voice or layer locks.
//
// [SECTION] Helpers
// [SECTION] Trims and fades
// [SECTION] Hit testing
// [SECTION] Audition
// [SECTION] Empty states
// [SECTION] Overlays
// [SECTION] The zone's gestures
// [SECTION] The step
#include "ui/timeline/clip_zone.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/clip_event.h"
#include "engine/published_layers.h"
#include "engine/track_allocation.h"
#include "engine/voice_sync.h"
#include "library/library.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/event_menu.h"
#include "ui/timeline/scene_lane.h"
#include "ui/timeline/timeline_edit.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

namespace {

// [SECTION] Helpers

constexpr float kHandleReach = 4.0f;      // px either side of a fade's end
constexpr float kEdgeReach = 5.0f;        // px either side of a clip's end (exclusive)
constexpr float kSmallFade = 14.0f;       // px: narrower fades are grabbed at the corner
constexpr float kCornerWidth = 10.0f;     // px of a small fade's grab from the clip's end
constexpr float kHandleBand = 0.45f;      // upper fraction of the lane row holding the corners
constexpr float kMinHandleClip = 12.0f;   // px: clips this narrow offer no handles
constexpr float kSceneEdgeReach = 6.0f;   // px, exclusive
constexpr float kBoxDragMinimum = 5.0f;   // px, exclusive
constexpr float kBoxDrawMinimum = 3.0f;   // px, exclusive

ImFont* FontOr(ImFont* font) { return font != nullptr ? font : ImGui::GetFont(); }

const Event* ValidEventOf(const Project& project, const LayerResult& layer) {
    if (layer.eventIdx < 0 || static_cast<std::size_t>(layer.eventIdx) >= project.events.size()) return nullptr;
    return &project.events[static_cast<std::size_t>(layer.eventIdx)];
}

// The layer and its Clip event, or nulls when either is gone.
struct ClipPair {
    LayerResult* layer = nullptr;
    Event* event = nullptr;
};
ClipPair ClipOf(Project& project, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= project.results.size()) return {};
    LayerResult& layer = project.results[static_cast<std::size_t>(index)];
    if (layer.eventIdx < 0 || static_cast<std::size_t>(layer.eventIdx) >= project.events.size()) return {};
    Event& event = project.events[static_cast<std::size_t>(layer.eventIdx)];
    if (!IsKind(event.shape, EventKind::Clip)) return {};
    return {&layer, &event};
}

// Automatic fades (negative event fades) follow the clip's length.
void ApplyClipFades(const Event& event, LayerResult& layer) {
    layer.fadeIn = event.clipFadeIn >= 0.0f ? event.clipFadeIn : std::min(0.02f * layer.duration, 0.01f);
    layer.fadeOut = event.clipFadeOut >= 0.0f ? event.clipFadeOut : std::min(0.05f * layer.duration, 0.05f);
}

bool JobRunning(const AppState& state) { return state.backgroundJob.active.load(std::memory_order_acquire); }

// The leading `drawn` layers the lanes drew this frame, within those
// readable now: while a job runs, those the build published, read through
// `published`, which holds its storage lock until the caller lets it go.
std::span<const LayerResult> DrawnLayers(const AppState& state, const Project& project, std::int32_t drawn,
                                         std::optional<PublishedLayersView>& published) {
    std::span<const LayerResult> layers;
    if (JobRunning(state)) {
        published.emplace(project);
        layers = published->layers();
    } else {
        layers = project.results;  // the vector itself only where no build swaps it
    }
    return layers.first(std::min<std::size_t>(layers.size(), static_cast<std::size_t>(std::max(0, drawn))));
}

}  // namespace

// [SECTION] Trims and fades

float CachedSourceLength(const std::string& path) {
    if (path.empty()) return -1.0f;
    const std::shared_ptr<const WaveformOverview> overview = FindWaveformOverview(path);
    if (overview == nullptr || !(overview->duration > 0.0f)) return -1.0f;
    return overview->duration;
}

bool TrimClipLayer(Project& project, std::int32_t index, int edge, float pointerTime, float sourceLength) {
    const ClipPair clip = ClipOf(project, index);
    if (clip.layer == nullptr || (edge != 1 && edge != 2)) return false;
    LayerResult& layer = *clip.layer;
    Event& event = *clip.event;
    const bool known = sourceLength > 0.0f;
    const float length = known ? sourceLength : kUnknownSourceLength;

    if (edge == 1) {
        const float end = layer.startTime + layer.duration;
        // The source's first sample keeps its place: past it the clip would
        // have to slide its sound along the timeline.
        const float sourceStart = layer.startTime - event.clipSourceOffset;
        const float lowest = std::max({0.0f, end - length, sourceStart});
        const float newStart = std::min(end - kMinClipLength, std::max(lowest, pointerTime));
        const float newOffset = std::max(0.0f, newStart - layer.startTime + event.clipSourceOffset);
        float newLength = end - newStart;
        if (known) newLength = std::min(newLength, sourceLength - newOffset);
        newLength = std::max(0.0f, newLength);
        // The sync point stays on the same sample of the source.
        const float newSync = std::clamp(event.clipSourceOffset + event.syncOffset - newOffset, 0.0f, newLength);
        event.clipSourceOffset = newOffset;
        event.clipSourceDuration = std::max(newLength, kMinClipLength);
        event.syncOffset = newSync;
        event.time = newStart + newSync;
        event.duration = newLength;
        layer.startTime = newStart;
        layer.sourceOffset = newOffset;
        layer.sourceDuration = layer.duration = newLength;
    } else {
        const float reach = known ? sourceLength - event.clipSourceOffset : kUnknownSourceLength;
        const float shortest = layer.startTime + kMinClipLength;
        const float longest = std::min(project.totalDuration, layer.startTime + reach);
        const float newEnd = std::max(shortest, std::min(pointerTime, longest));
        const float newLength = newEnd - layer.startTime;
        const float newSync = std::clamp(event.syncOffset, 0.0f, newLength);
        if (newSync != event.syncOffset) {
            event.time = layer.startTime + newSync;
            event.syncOffset = newSync;
        }
        event.clipSourceDuration = std::max(newLength, kMinClipLength);
        event.duration = newLength;
        layer.sourceDuration = layer.duration = newLength;
    }
    ApplyClipFades(event, layer);
    AllocateTracks(project);
    return true;
}

bool DragClipFade(Project& project, std::int32_t index, int side, float pointerTime) {
    const ClipPair clip = ClipOf(project, index);
    if (clip.layer == nullptr || (side != 1 && side != 2)) return false;
    LayerResult& layer = *clip.layer;
    const float longest = std::max(0.0f, kMaxFadeFraction * layer.duration);
    if (side == 1) {
        const float v = std::clamp(pointerTime - layer.startTime, 0.0f, longest);
        clip.event->clipFadeIn = v;
        layer.fadeIn = v;
    } else {
        const float v = std::clamp(layer.startTime + layer.duration - pointerTime, 0.0f, longest);
        clip.event->clipFadeOut = v;
        layer.fadeOut = v;
    }
    return true;
}

// [SECTION] Hit testing

ClipRect LayerClipRect(const AppState& state, const Project& project, const GroupAreaGeometry& area,
                       const LayerResult& layer) {
    ClipRect rect;
    const Event* event = ValidEventOf(project, layer);
    // Drawn in group 0 when its event is gone, as the lanes draw it.
    const int group = event != nullptr ? std::clamp(EffectiveGroup(*event), 0, kTrackGroupCount - 1) : 0;
    if (layer.groupTrack < 0 || !state.groupVisible[static_cast<std::size_t>(group)]) return rect;
    rect.valid = true;
    rect.x0 = TimeToX(layer.startTime);
    rect.x1 = TimeToX(layer.startTime + layer.duration);
    rect.y0 = area.LaneTop(group, layer.groupTrack);
    rect.y1 = rect.y0 + area.laneHeight;
    return rect;
}

std::int32_t LayerAtPoint(const AppState& state, const Project& project, const GroupAreaGeometry& area,
                          std::span<const LayerResult> layers, float x, float y) {
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const ClipRect r = LayerClipRect(state, project, area, layers[i]);
        if (r.valid && x >= r.x0 && x <= r.x1 && y >= r.y0 && y < r.y1) return static_cast<std::int32_t>(i);
    }
    return -1;
}

ClipHandleHit FindClipHandle(const AppState& state, const Project& project, const GroupAreaGeometry& area,
                             std::span<const LayerResult> layers, float x, float y) {
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const LayerResult& layer = layers[i];
        const Event* event = ValidEventOf(project, layer);
        if (event == nullptr || !IsKind(event->shape, EventKind::Clip)) continue;
        const ClipRect r = LayerClipRect(state, project, area, layer);
        if (!r.valid || y < r.y0 || y >= r.y1) continue;
        const float w = r.x1 - r.x0;
        if (!(w > kMinHandleClip)) continue;
        const float span = std::max(layer.duration, 0.0001f);
        const float fadeInPx = layer.fadeIn > 0.001f ? layer.fadeIn / span * w : 0.0f;
        const float fadeOutPx = layer.fadeOut > 0.001f ? layer.fadeOut / span * w : 0.0f;
        const bool smallIn = fadeInPx < kSmallFade;
        const bool smallOut = fadeOutPx < kSmallFade;
        const bool inBand = y <= r.y0 + kHandleBand * area.laneHeight;

        ClipHandleHit hit;
        hit.layer = static_cast<std::int32_t>(i);
        const float s = std::min(9.0f, kHandleBand * area.laneHeight);
        if ((!smallIn && std::fabs(x - (r.x0 + fadeInPx)) <= kHandleReach) ||
            (smallIn && inBand && x >= r.x0 && x <= r.x0 + kCornerWidth)) {
            hit.handle = ClipHandle::FadeIn;
            hit.corner = smallIn;
            hit.cornerX = r.x0;
            hit.cornerSide = s;
        } else if ((!smallOut && std::fabs(x - (r.x1 - fadeOutPx)) <= kHandleReach) ||
                   (smallOut && inBand && x >= r.x1 - kCornerWidth && x <= r.x1)) {
            hit.handle = ClipHandle::FadeOut;
            hit.corner = smallOut;
            hit.cornerX = r.x1;
            hit.cornerSide = -s;
        } else if (std::fabs(x - r.x0) < kEdgeReach) {
            hit.handle = ClipHandle::LeftEdge;
        } else if (std::fabs(x - r.x1) < kEdgeReach) {
            hit.handle = ClipHandle::RightEdge;
        } else {
            continue;
        }
        hit.cornerY = r.y0;
        return hit;
    }
    return {};
}

void FinishClipBox(AppState& state, const Project& project, const GroupAreaGeometry& area,
                   std::span<const LayerResult> layers, float x1, float y1, float x2, float y2, bool alt) {
    if (std::fabs(x2 - x1) > kBoxDragMinimum || std::fabs(y2 - y1) > kBoxDragMinimum) {
        const float left = std::min(x1, x2), right = std::max(x1, x2);
        const float top = std::min(y1, y2), bottom = std::max(y1, y2);
        state.selectedEvents.clear();
        for (const LayerResult& layer : layers) {
            if (ValidEventOf(project, layer) == nullptr) continue;
            const ClipRect r = LayerClipRect(state, project, area, layer);
            if (r.valid && r.x0 <= right && r.x1 >= left && r.y0 <= bottom && r.y1 >= top) {
                state.selectedEvents.insert(layer.eventIdx);
            }
        }
        if (!alt) state.ExpandSelectionToLinkedGroups(project.events);
        if (!state.selectedEvents.empty()) {
            state.selectedEvent = *state.selectedEvents.begin();
            state.scrollToSelection = true;
            state.activeTab = 0;
            return;
        }
    }
    state.selectedEvents.clear();
    state.selectedEvent = -1;
}

// [SECTION] Audition

namespace {

void SetSoloVoice(PlaybackEngine& engine, std::int32_t voice) {
    engine.soloVoice.store(voice);
    PublishMixerSettings(engine);
}

// The voice that plays `layer`, or -1. The storage lock keeps the list from
// being replaced or re-matched while it is read.
std::int32_t VoiceOfLayer(PlaybackEngine& engine, std::int32_t layer) {
    const std::lock_guard storage(engine.voiceStorageMutex);
    const std::size_t count = engine.ready.load(std::memory_order_acquire)
                                  ? engine.voices.size()
                                  : std::min<std::size_t>(engine.voices.size(),
                                                          static_cast<std::size_t>(std::max(
                                                              0, engine.voiceCount.load(std::memory_order_acquire))));
    for (std::size_t v = 0; v < count; ++v) {
        if (engine.voices[v].resultIndex == layer) return static_cast<std::int32_t>(v);
    }
    return -1;
}

void ToggleAudition(AppState& state, PlaybackEngine& engine, std::int32_t index, std::int32_t eventIndex,
                    float startTime) {
    state.SelectEvent(eventIndex);
    if (index == state.soloLayer) {
        SetSoloVoice(engine, -1);
        state.soloLayer = -1;
        state.lastSoloLayer = index;
        return;
    }
    const std::int32_t voice = VoiceOfLayer(engine, index);
    if (voice < 0) return;
    SetSoloVoice(engine, voice);
    state.soloLayer = state.lastSoloLayer = index;
    LocatePlayback(engine, startTime);
    state.playhead = startTime;
    state.expandedEvent = eventIndex;
    state.scrollToLayer = index;
    if (!state.playing) {
        state.playing = true;
        engine.playing.exchange(true);
    }
}

}  // namespace

// [SECTION] Empty states

TimelineEmptyState ChooseEmptyState(const Project& project, const Library& library) {
    if (project.events.empty()) return TimelineEmptyState::NoEvents;
    if (library.palettes.empty()) return TimelineEmptyState::NoPalette;
    return TimelineEmptyState::Ready;
}

EmptyStateLayout LayOutEmptyState(const Project& project, const Library& library, const ImFont& headingFont,
                                  const ImFont& lineFont) {
    EmptyStateLayout e;
    e.kind = ChooseEmptyState(project, library);
    switch (e.kind) {
        case TimelineEmptyState::NoEvents:
            e.heading = "No events yet.";
            e.before = "Add events to the timeline, then press Build.";
            break;
        case TimelineEmptyState::NoPalette:
            e.heading = "Nothing to build yet.";
            e.before = "Add a folder of your sounds in  ";
            e.link = "Library";
            e.after = "  to build this.";
            break;
        case TimelineEmptyState::Ready:
            e.heading = "Ready to build.";
            e.before = "Press Build to build the sounds.";
            break;
    }
    const TimelineState& tl = Timeline;
    const GroupAreaGeometry& area = tl.groupArea;
    const float ls = lineFont.FontSize;
    const ImVec2 heading = headingFont.CalcTextSizeA(headingFont.FontSize, 1e9f, 0.0f, e.heading);
    const ImVec2 before = lineFont.CalcTextSizeA(ls, 1e9f, 0.0f, e.before);
    const ImVec2 link = lineFont.CalcTextSizeA(ls, 1e9f, 0.0f, e.link);
    const ImVec2 after = lineFont.CalcTextSizeA(ls, 1e9f, 0.0f, e.after);
    const float centreX = tl.laneLeft + tl.laneWidth / 2.0f;
    e.headingX = centreX - heading.x / 2.0f;
    e.headingY = area.areaTop + area.areaHeight / 2.0f - (heading.y + 4.0f + before.y) / 2.0f;
    e.lineY = e.headingY + heading.y + 4.0f;
    e.lineX = centreX - (before.x + link.x + after.x) / 2.0f;
    e.linkX = e.lineX + before.x;
    e.linkWidth = link.x;
    e.linkHeight = link.y;
    e.afterX = e.linkX + link.x;
    return e;
}

namespace {

void DrawEmptyState(ImDrawList* dl, AppState& state, const Project& project) {
    ImFont* heading = FontOr(state.fonts.mediumFont);
    ImFont* small = FontOr(state.fonts.smallFont);
    const EmptyStateLayout e = LayOutEmptyState(project, SoundLibrary, *heading, *small);
    const float ss = small->FontSize;
    dl->AddText(heading, heading->FontSize, ImVec2(e.headingX, e.headingY), ThemePalette.textSecondary, e.heading);
    dl->AddText(small, ss, ImVec2(e.lineX, e.lineY), ThemePalette.textMuted, e.before);
    if (e.link[0] == '\0') return;
    const ImVec2 at(e.linkX, e.lineY);
    if (state.activeTab == 2) {
        dl->AddText(small, ss, at, ThemePalette.textMuted, e.link);
    } else {
        ImGui::SetCursorScreenPos(at);
        const bool clicked =
            ImGui::InvisibleButton("##liblink", ImVec2(std::max(1.0f, e.linkWidth), std::max(1.0f, e.linkHeight)));
        if (ImGui::IsItemHovered()) {
            dl->AddText(small, ss, at, ThemePalette.accentBright, e.link);
            const float underline = e.lineY + e.linkHeight;
            dl->AddLine(ImVec2(e.linkX, underline), ImVec2(e.linkX + e.linkWidth, underline),
                        ColorWithAlpha(ThemePalette.accentBright, 160));
        } else {
            dl->AddText(small, ss, at, ThemePalette.accent, e.link);
        }
        if (clicked) state.activeTab = 2;
    }
    dl->AddText(small, ss, ImVec2(e.afterX, e.lineY), ThemePalette.textMuted, e.after);
}

// [SECTION] Overlays

void DrawClipBox(ImDrawList* dl) {
    const TimelineState& tl = Timeline;
    if (!tl.marqueeActive || !tl.marqueeInClipZone) return;
    if (!(std::fabs(tl.marqueeEndX - tl.marqueeStartX) > kBoxDrawMinimum ||
          std::fabs(tl.marqueeEndY - tl.marqueeStartY) > kBoxDrawMinimum)) {
        return;
    }
    const GroupAreaGeometry& area = tl.groupArea;
    const float right = tl.LaneRight();
    const float x1 = std::clamp(std::min(tl.marqueeStartX, tl.marqueeEndX), tl.laneLeft, right);
    const float x2 = std::clamp(std::max(tl.marqueeStartX, tl.marqueeEndX), tl.laneLeft, right);
    const float y1 = std::clamp(std::min(tl.marqueeStartY, tl.marqueeEndY), area.areaTop, area.AreaBottom());
    const float y2 = std::clamp(std::max(tl.marqueeStartY, tl.marqueeEndY), area.areaTop, area.AreaBottom());
    dl->AddRectFilled(ImVec2(x1, y1), ImVec2(x2, y2), ColorWithAlpha(ThemePalette.eventAccent, 20));
    dl->AddRect(ImVec2(x1, y1), ImVec2(x2, y2), ColorWithAlpha(ThemePalette.eventAccent, 80));
}

void DrawWorkAreaDimming(ImDrawList* dl, const AppState& state, float bottom) {
    if (!state.HasWorkArea()) return;
    const TimelineState& tl = Timeline;
    const float right = tl.LaneRight();
    const float xIn = std::clamp(TimeToX(state.workAreaIn), tl.laneLeft, right);
    const float xOut = std::clamp(TimeToX(state.workAreaOut), tl.laneLeft, right);
    const std::uint32_t shade = ColorWithAlpha(ThemePalette.timelineShade2, 128);
    if (xIn > tl.laneLeft) dl->AddRectFilled(ImVec2(tl.laneLeft, tl.markerTop), ImVec2(xIn, bottom), shade);
    if (xOut < right) dl->AddRectFilled(ImVec2(xOut, tl.markerTop), ImVec2(right, bottom), shade);
}

void DrawSceneBrackets(ImDrawList* dl, const AppState& state, const Project& project, float bottom) {
    const TimelineState& tl = Timeline;
    const float right = tl.LaneRight();
    const float top = tl.y0 + 4.0f;
    for (std::size_t i = 0; i < project.scenes.size(); ++i) {
        const Scene& scene = project.scenes[i];
        const bool owner = static_cast<std::int32_t>(i) == state.workAreaScene;
        const std::uint32_t base = owner ? ThemePalette.accent : ThemePalette.accentDim;
        const std::uint32_t ell = ColorWithAlpha(base, owner ? 180 : 120);
        const std::uint32_t bar = ColorWithAlpha(base, owner ? 140 : 80);
        // direction 1: an opening bracket, its flags pointing right.
        auto bracket = [&](float x, float direction) {
            if (x < tl.laneLeft || x > right) return;
            const float outer = x + 2.0f * direction;
            const float flag = x + 7.0f * direction;
            dl->AddRectFilled(ImVec2(std::min(x, outer), top), ImVec2(std::max(x, outer), bottom), bar);
            dl->AddRectFilled(ImVec2(std::min(x, flag), top), ImVec2(std::max(x, flag), top + 2.0f), ell);
            dl->AddRectFilled(ImVec2(std::min(x, outer), top), ImVec2(std::max(x, outer), top + 7.0f), ell);
            dl->AddRectFilled(ImVec2(std::min(x, flag), bottom - 2.0f), ImVec2(std::max(x, flag), bottom), ell);
            dl->AddRectFilled(ImVec2(std::min(x, outer), bottom - 7.0f), ImVec2(std::max(x, outer), bottom), ell);
        };
        bracket(std::floor(TimeToX(scene.inTime)), 1.0f);
        bracket(std::floor(TimeToX(scene.outTime)), -1.0f);
    }
}

// Starts the scene trim on a press near the work-area scene's edges that no
// lane above took. True when it started one this frame.
bool SceneEdgeGrab(AppState& state, const Project& project, bool traceView, float bottom) {
    if (SceneLane.trimScene >= 0 || traceView) return false;
    const std::int32_t scene = state.workAreaScene;
    if (scene < 0 || scene >= static_cast<std::int32_t>(project.scenes.size())) return false;
    const ImGuiIO& io = ImGui::GetIO();
    const TimelineState& tl = Timeline;
    if (io.MousePos.y < tl.y0 + 4.0f || io.MousePos.y > bottom || !ImGui::IsWindowHovered()) return false;
    const Scene& s = project.scenes[static_cast<std::size_t>(scene)];
    int edge = -1;
    if (std::fabs(io.MousePos.x - TimeToX(s.inTime)) < kSceneEdgeReach) {
        edge = 0;
    } else if (std::fabs(io.MousePos.x - TimeToX(s.outTime)) < kSceneEdgeReach) {
        edge = 1;
    }
    if (edge < 0 || !UiMayEditProject(state)) return false;
    // A lane that took this press (the ruler, the marker lane) keeps it.
    if (ImGui::IsAnyItemActive()) return false;
    ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    if (!ImGui::IsMouseClicked(0)) return false;
    PushUndo();
    SceneLane.trimScene = scene;
    SceneLane.trimEdge = edge;
    return true;
}

void DrawPlayhead(ImDrawList* dl, const AppState& state, float bottom) {
    const TimelineState& tl = Timeline;
    const float x = TimeToX(state.playhead);
    if (x < tl.laneLeft || x > tl.LaneRight()) return;
    const float top = tl.y0 + 2.0f;
    const DropState& drop = state.dropState;
    if (!drop.hoverAudio || drop.dropOverLibrary || drop.dropOverInspector) {
        const std::uint32_t c = ThemePalette.highlight;
        dl->AddRectFilled(ImVec2(x - 1.0f, top), ImVec2(x + 1.0f, bottom), ColorWithAlpha(c, 15));
        dl->AddLine(ImVec2(x, top), ImVec2(x, bottom), c);
        dl->AddTriangleFilled(ImVec2(x - 4.0f, top), ImVec2(x + 4.0f, top), ImVec2(x, top + 5.0f), c);
        return;
    }
    // A drop lands at the playhead: mark it, pulsing, with what it will make.
    const bool bed = drop.dragAltHeld;
    const std::uint32_t c = bed ? GetEventKindColor(KindValue(EventKind::Bed), 255) : ThemePalette.accentPale;
    const float p = static_cast<float>(std::sin(4.0 * UiClockSeconds()) * 0.4 + 0.6);
    const int a = static_cast<int>(40.0f * p);
    dl->AddRectFilled(ImVec2(x - 6.0f, top), ImVec2(x + 6.0f, bottom), ColorWithAlpha(c, a));
    dl->AddRectFilled(ImVec2(x - 2.0f, top), ImVec2(x + 2.0f, bottom), ColorWithAlpha(c, a + 20));
    dl->AddLine(ImVec2(x, top), ImVec2(x, bottom), ColorWithAlpha(c, static_cast<int>(200.0f * p)), 2.0f);
    dl->AddTriangleFilled(ImVec2(x - 6.0f, top), ImVec2(x + 6.0f, top), ImVec2(x, top + 7.0f),
                          ColorWithAlpha(c, static_cast<int>(220.0f * p)));
    ImFont* font = FontOr(state.fonts.smallFont);
    char label[32];
    std::snprintf(label, sizeof label, "%s  %s", EventKindIcon(KindValue(bed ? EventKind::Bed : EventKind::Clip)),
                  bed ? "Bed" : "Clips");
    const ImVec2 size = font->CalcTextSizeA(font->FontSize, 1e9f, 0.0f, label);
    const ImVec2 at(x + 10.0f, top + 4.0f);
    dl->AddRectFilled(ImVec2(at.x - 4.0f, at.y - 2.0f), ImVec2(at.x + size.x + 4.0f, at.y + size.y + 2.0f),
                      ColorWithAlpha(ThemePalette.popupBg, 220), 4.0f);
    dl->AddText(font, font->FontSize, at, ColorWithAlpha(c, 255), label);
}

void SeekStrip(AppState& state, const Project& project) {
    const TimelineState& tl = Timeline;
    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, tl.y0));
    ImGui::InvisibleButton("##seek", ImVec2(std::max(1.0f, tl.laneWidth), 20.0f));
    if (ImGui::IsItemActive() && !state.playing) {
        state.playhead = SnapToFrame(PointerTime(ImGui::GetIO().MousePos.x, project.totalDuration), project.fps);
    }
}

// [SECTION] The zone's gestures

// The release of a trim or fade drag: the event placed and rendered again
// once, the cache checked and the playback relocated. A layer gone from the
// list meanwhile drops the drag without a rebuild.
void CloseClipDrag(AppState& state, Project& project, std::int32_t layer) {
    if (layer < 0 || static_cast<std::size_t>(layer) >= project.results.size()) return;
    const std::int32_t event = project.results[static_cast<std::size_t>(layer)].eventIdx;
    BuildClipEvent(project, event);
    RenderEvent(event);
    CheckRenderCacheIntegrity();
    LocatePlayback(LivePlaybackEngine, state.playhead);
}

void EndClipDrags(AppState& state) {
    state.trimLayer = state.fadeDragLayer = -1;
    state.trimEdge = state.fadeDragSide = 0;
}

// Steps 2 to 4: a running drag follows the held button. True while one ran
// in this frame.
bool RunClipDrag(AppState& state, Project& project, bool mayEdit) {
    if (state.fadeDragLayer < 0 && state.trimLayer < 0) return false;
    // The guard closed under the drag: it ends here, without writing or
    // rebuilding, since a job or an export now reads those layers.
    if (!mayEdit) {
        EndClipDrags(state);
        return false;
    }
    const ImGuiIO& io = ImGui::GetIO();
    const bool fade = state.fadeDragLayer >= 0;
    const std::int32_t layer = fade ? state.fadeDragLayer : state.trimLayer;
    if (!io.MouseDown[0]) {
        CloseClipDrag(state, project, layer);
        EndClipDrags(state);
        return true;
    }
    const float t = XToTime(io.MousePos.x);
    if (fade) {
        DragClipFade(project, layer, state.fadeDragSide, t);
    } else {
        const bool inList = layer < static_cast<std::int32_t>(project.results.size());
        const float length =
            inList ? CachedSourceLength(project.results[static_cast<std::size_t>(layer)].filepath) : -1.0f;
        TrimClipLayer(project, layer, state.trimEdge, t, length);
    }
    ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    return true;
}

void DrawCorner(ImDrawList* dl, const ClipHandleHit& hit) {
    const float s = hit.cornerSide;
    dl->AddTriangleFilled(ImVec2(hit.cornerX, hit.cornerY + std::fabs(s)), ImVec2(hit.cornerX + s, hit.cornerY),
                          ImVec2(hit.cornerX, hit.cornerY), ColorWithAlpha(ThemePalette.accentBright, 230));
}

// A Ctrl-click's audition, run once the layers' lock is let go.
struct PendingAudition {
    std::int32_t layer = -1;
    std::int32_t event = -1;
    float start = 0.0f;
};

void ClipZone(ImDrawList* dl, AppState& state, Project& project, bool sceneTrimStarted) {
    TimelineState& tl = Timeline;
    ImGui::SetCursorScreenPos(ImVec2(tl.laneLeft, tl.y0));
    ImGui::InvisibleButton("##tlzone",
                           ImVec2(std::max(1.0f, tl.laneWidth), std::max(1.0f, tl.height - kBottomStripHeight)),
                           ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight);
    const bool hovered = ImGui::IsItemHovered();
    const ImGuiIO& io = ImGui::GetIO();
    const GroupAreaGeometry& area = tl.groupArea;
    const bool mayEdit = UiMayEditProject(state);
    const bool inArea = io.MousePos.y >= area.areaTop && io.MousePos.y < area.AreaBottom() &&
                        io.MousePos.x >= tl.laneLeft && io.MousePos.x <= tl.LaneRight();
    const bool lanes = project.built && area.areaHeight > 0.0f;

    const bool dragRan = RunClipDrag(state, project, mayEdit);
    const bool dragRunning = dragRan || state.fadeDragLayer >= 0 || state.trimLayer >= 0;

    PendingAudition audition;
    bool openMenu = false;
    {
        // A running build moves the layers: read only those it published.
        std::optional<PublishedLayersView> published;
        const std::span<const LayerResult> layers = DrawnLayers(state, project, area.drawnLayerCount, published);

        bool trimStarted = false;
        if (!dragRunning && !sceneTrimStarted && hovered && lanes && inArea && mayEdit) {
            const ClipHandleHit hit = FindClipHandle(state, project, area, layers, io.MousePos.x, io.MousePos.y);
            if (hit.handle != ClipHandle::None) {
                if (hit.corner) DrawCorner(dl, hit);
                ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
                if (ImGui::IsMouseClicked(0)) {
                    const LayerResult& layer = layers[static_cast<std::size_t>(hit.layer)];
                    PushUndo();
                    state.SelectEvent(layer.eventIdx);
                    if (hit.handle == ClipHandle::FadeIn || hit.handle == ClipHandle::FadeOut) {
                        state.fadeDragLayer = hit.layer;
                        state.fadeDragSide = hit.handle == ClipHandle::FadeIn ? 1 : 2;
                        state.fadeDragStartValue = hit.handle == ClipHandle::FadeIn ? layer.fadeIn : layer.fadeOut;
                    } else {
                        state.trimLayer = hit.layer;
                        state.trimEdge = hit.handle == ClipHandle::LeftEdge ? 1 : 2;
                        state.trimStartX = io.MousePos.x;
                    }
                    trimStarted = true;
                }
            }
        }

        const bool clickable = !dragRunning && !trimStarted && !sceneTrimStarted && hovered && lanes && inArea;
        if (clickable && ImGui::IsMouseClicked(0)) {
            const std::int32_t hit = LayerAtPoint(state, project, area, layers, io.MousePos.x, io.MousePos.y);
            const LayerResult* layer = hit >= 0 ? &layers[static_cast<std::size_t>(hit)] : nullptr;
            if (layer == nullptr || ValidEventOf(project, *layer) == nullptr) {
                // Empty space, or a clip whose event is gone, starts a box.
                tl.marqueeActive = tl.marqueeInClipZone = true;
                tl.marqueeStartX = tl.marqueeEndX = io.MousePos.x;
                tl.marqueeStartY = tl.marqueeEndY = io.MousePos.y;
            } else if (io.KeyCtrl && LivePlaybackEngine.ready.load(std::memory_order_acquire)) {
                audition = {hit, layer->eventIdx, layer->startTime};
            } else if (io.KeyShift) {
                state.SelectEventRange(layer->eventIdx, EventsByTime(project.events));
            } else {
                state.SelectEventWithLinks(layer->eventIdx, project.events, io.KeyAlt);
            }
        }
        if (clickable && ImGui::IsMouseClicked(1)) {
            const std::int32_t hit = LayerAtPoint(state, project, area, layers, io.MousePos.x, io.MousePos.y);
            if (hit >= 0 && ValidEventOf(project, layers[static_cast<std::size_t>(hit)]) != nullptr) {
                const std::int32_t event = layers[static_cast<std::size_t>(hit)].eventIdx;
                if (state.selectedEvents.count(event) == 0) {
                    state.SelectEventWithLinks(event, project.events, io.KeyAlt);
                }
                openMenu = true;
            }
        }
    }
    if (audition.layer >= 0) ToggleAudition(state, LivePlaybackEngine, audition.layer, audition.event, audition.start);
    if (openMenu) ImGui::OpenPopup("##wfEventCtx");
}

// Steps 8 and 9: the menu, then the box, whose layers the menu may have
// removed.
void MenuAndBox(AppState& state, Project& project) {
    std::int32_t drawn = Timeline.groupArea.drawnLayerCount;
    if (ShowEventContextMenu("##wfEventCtx")) {
        drawn = std::min(drawn, static_cast<std::int32_t>(std::min<std::size_t>(project.results.size(), INT32_MAX)));
    }
    TimelineState& tl = Timeline;
    if (!tl.marqueeActive || !tl.marqueeInClipZone) return;
    const ImGuiIO& io = ImGui::GetIO();
    if (io.MouseDown[0]) {
        tl.marqueeEndX = io.MousePos.x;
        tl.marqueeEndY = io.MousePos.y;
        return;
    }
    {
        std::optional<PublishedLayersView> published;
        FinishClipBox(state, project, tl.groupArea, DrawnLayers(state, project, drawn, published), tl.marqueeStartX,
                      tl.marqueeStartY, tl.marqueeEndX, tl.marqueeEndY, io.KeyAlt);
    }
    tl.marqueeActive = tl.marqueeInClipZone = false;
}

}  // namespace

// [SECTION] The step

void DrawClipZone(ImDrawList* dl, bool traceView) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const TimelineState& tl = Timeline;
    const float bottom = tl.y0 + tl.height - kBottomStripHeight;
    const bool laneExpanded = state.eventLaneExpanded && !project.events.empty();

    DrawClipBox(dl);
    DrawWorkAreaDimming(dl, state, bottom);
    if (!project.built && !traceView && !laneExpanded) DrawEmptyState(dl, state, project);
    if (!project.scenes.empty()) DrawSceneBrackets(dl, state, project, bottom);
    const bool sceneTrimStarted = SceneEdgeGrab(state, project, traceView, bottom);
    DrawPlayhead(dl, state, bottom);
    SeekStrip(state, project);
    if (!traceView) ClipZone(dl, state, project, sceneTrimStarted);
    MenuAndBox(state, project);
}

}  // namespace korvel
