#include "ui/timeline/timeline_view.h"

#include <algorithm>
#include <cmath>

#include "picture/timecode.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

TimelineState Timeline;

namespace {
constexpr float kMinViewSpan = 0.5f;
}

void SetTimelineGeometry(TimelineState& timeline, const AppState& state, float x0, float y0, float width,
                         float height, float headerWidth, float smallFontSize) {
    timeline.x0 = x0;
    timeline.y0 = y0;
    timeline.width = width;
    timeline.height = height;
    timeline.headerLeft = x0 + 8.0f;
    timeline.headerWidth = headerWidth;
    timeline.laneLeft = timeline.headerLeft + headerWidth;
    timeline.laneWidth = width - 16.0f - headerWidth;
    timeline.viewStart = state.viewStart;
    timeline.viewSpan = state.ViewSpan();
    timeline.sceneLaneHeight = std::max(20.0f, smallFontSize + 4.0f);
    timeline.markerTop = y0 + timeline.sceneLaneHeight + 27.0f;
    timeline.markerHeight = kCollapsedMarkerLaneHeight;
}

float TimeToX(float t) {
    const TimelineState& tl = Timeline;
    if (tl.viewSpan <= 0.0f) return tl.laneLeft;
    return tl.laneLeft + (t - tl.viewStart) / tl.viewSpan * tl.laneWidth;
}

float XToTime(float x) {
    const TimelineState& tl = Timeline;
    if (tl.laneWidth <= 0.0f) return tl.viewStart;
    return tl.viewStart + (x - tl.laneLeft) / tl.laneWidth * tl.viewSpan;
}

float TimelineFps(const Project& project) { return ProjectFrameRate(project.fps); }

float SnapToFrame(float t, float fps) {
    fps = ProjectFrameRate(fps);
    return std::round(t * fps) / fps;
}

float PointerTime(float mouseX, float duration) {
    return std::clamp(XToTime(mouseX), 0.0f, std::max(0.0f, duration));
}

bool ZoomToFitSelection(AppState& state, const Project& project) {
    const auto count = static_cast<std::int32_t>(project.events.size());
    float lo = 1e30f;
    float hi = -1e30f;
    auto take = [&](std::int32_t index) {
        if (index < 0 || index >= count) return;
        const Event& event = project.events[static_cast<std::size_t>(index)];
        lo = std::min(lo, event.time - event.syncOffset);
        hi = std::max(hi, event.time - event.syncOffset + event.duration);
    };
    if (!state.selectedEvents.empty()) {
        for (std::int32_t index : state.selectedEvents) take(index);
    } else {
        for (std::int32_t i = 0; i < count; ++i) take(i);
    }
    if (hi <= lo) return false;
    const float pad = std::max(0.15f, 0.08f * (hi - lo));
    const float span = std::min(std::max(kMinViewSpan, hi - lo + 2.0f * pad), project.totalDuration);
    const float start = lo - pad < 0.0f ? 0.0f : std::min(std::max(0.0f, project.totalDuration - span), lo - pad);
    state.viewStart = start;
    state.viewEnd = start + span;
    return true;
}

bool ZoomToFitSelection() { return ZoomToFitSelection(GlobalAppState, CurrentProject); }

int GetGroupLaneOffset(const AppState& state, const Project& project, int group, int firstRow) {
    if (group < 0 || group >= kTrackGroupCount) return -1;
    constexpr int kDisplayOrder[kTrackGroupCount] = {1, 2, 0};
    int sum = 0;
    for (int g : kDisplayOrder) {
        const int lanes = project.trackLayout.groups[static_cast<std::size_t>(g)].usedLanes;
        const bool counts = state.groupVisible[static_cast<std::size_t>(g)] && lanes != 0;
        if (g == group) return counts ? firstRow + sum : -1;
        if (counts) sum += lanes;
    }
    return -1;
}

int GetGroupLaneOffset(int group, int firstRow) {
    return GetGroupLaneOffset(GlobalAppState, CurrentProject, group, firstRow);
}

std::uint32_t GetGroupColour(int group) {
    auto pack = [](std::uint32_t r, std::uint32_t g, std::uint32_t b) { return 200u << 24 | b << 16 | g << 8 | r; };
    switch (group) {
        case 0: return pack(125, 115, 100);
        case 1: return pack(80, 140, 210);
        case 2: return pack(80, 180, 130);
        default: return pack(150, 150, 150);
    }
}

void FollowPlayhead(AppState& state, float duration) {
    if (!state.playing) return;
    const float span = state.ViewSpan();
    float start = state.viewStart;
    if (state.playhead < start) {
        start = std::max(0.0f, state.playhead - 0.1f * span);
    } else if (state.playhead > start + span) {
        start = std::min(state.playhead - 0.9f * span, std::max(0.0f, duration - span));
    } else {
        return;
    }
    state.viewStart = start;
    state.viewEnd = start + span;
}

void PanView(AppState& state, float seconds, float lo, float hi) {
    const float span = state.ViewSpan();
    const float start = std::clamp(state.viewStart + seconds, lo, std::max(lo, hi));
    state.viewStart = start;
    state.viewEnd = start + span;
}

float CurveLaneHeight(int laneView) {
    constexpr float kHeights[3] = {24.0f, 64.0f, 120.0f};
    return kHeights[std::clamp(laneView, 0, 2)];
}

float CurveLaneTop(float weightTop, float laneHeight, bool intensity) {
    return intensity ? weightTop + laneHeight + 2.0f : weightTop;
}

void ToggleCurveDrawMode(AppState& state, const Project& project) {
    state.curveDrawMode = !state.curveDrawMode;
    if (!state.curveDrawMode) {
        if (state.drawSavedViewValid) {
            state.viewStart = state.drawSavedViewStart;
            state.viewEnd = state.drawSavedViewStart + state.drawSavedViewSpan;
            state.timelineView = state.drawSavedLaneView;
            state.drawSavedViewValid = false;
        }
        return;
    }
    if (state.selectedEvents.empty()) return;
    state.drawSavedViewStart = state.viewStart;
    state.drawSavedViewSpan = state.ViewSpan();
    state.drawSavedLaneView = state.timelineView;
    state.timelineView = 2;
    float start = 1e30f;
    float end = -1e30f;
    const auto count = static_cast<std::int32_t>(project.events.size());
    for (std::int32_t index : state.selectedEvents) {
        if (index < 0 || index >= count) continue;
        const Event& event = project.events[static_cast<std::size_t>(index)];
        start = std::min(start, event.time - event.syncOffset);
        end = std::max(end, event.time - event.syncOffset + event.duration);
    }
    state.drawRangeStart = start;
    state.drawRangeEnd = end;
    if (end > start) {
        const float margin = 0.05f * (end - start);
        state.viewStart = std::max(0.0f, start - margin);
        const float span = std::clamp(end - start + 2.0f * margin, kMinViewSpan,
                                      std::max(kMinViewSpan, project.totalDuration));
        state.viewEnd = state.viewStart + span;
    }
    state.drawSavedViewValid = true;
}

void CurveDrawGuard(AppState& state) {
    if (!state.curveDrawMode || state.selectedEvents.size() == 1) return;
    state.curveDrawMode = false;
    if (state.drawSavedViewValid) {
        state.viewStart = state.drawSavedViewStart;
        state.viewEnd = state.drawSavedViewStart + state.drawSavedViewSpan;
        state.timelineView = state.drawSavedLaneView;
        state.drawSavedViewValid = false;
    }
}

}  // namespace korvel
