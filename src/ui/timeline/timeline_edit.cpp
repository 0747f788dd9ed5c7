#include "ui/timeline/timeline_edit.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>

#include "engine/track_allocation.h"
#include "library/waveform.h"
#include "picture/timecode.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

// [SECTION] Ruler and work area

float RulerTickStep(float laneWidth, float viewSpan) {
    constexpr float kSteps[] = {0.1f, 0.25f, 0.5f, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    if (!(laneWidth > 0.0f) || !(viewSpan > 0.0f)) return 3600.0f;
    const float wanted = 80.0f / (laneWidth / viewSpan);
    for (float step : kSteps) {
        if (step >= wanted) return step;
    }
    return 3600.0f;
}

void RulerLabel(const Project& project, float t, char* buffer, std::size_t size) {
    FormatTimecode(project.fps, project.startTC + t, buffer, size);
}

void ToggleWorkAreaIn(AppState& state) {
    if (state.workAreaIn >= 0.0f) {
        state.workAreaIn = -1.0f;
    } else {
        state.workAreaIn = state.playhead;
        if (state.workAreaOut >= 0.0f && state.workAreaIn >= state.workAreaOut) state.workAreaOut = -1.0f;
    }
    state.workAreaScene = -1;
    state.unsavedChanges = true;
}

void ToggleWorkAreaOut(AppState& state) {
    if (state.workAreaOut >= 0.0f) {
        state.workAreaOut = -1.0f;
    } else {
        state.workAreaOut = state.playhead;
        if (state.workAreaIn >= 0.0f && state.workAreaOut <= state.workAreaIn) state.workAreaIn = -1.0f;
    }
    state.workAreaScene = -1;
    state.unsavedChanges = true;
}

void DragWorkAreaEdge(AppState& state, Project& project, int edge, float pointerTime) {
    if (edge == 1) {
        state.workAreaIn = pointerTime;
        if (state.workAreaOut >= 0.0f && state.workAreaOut <= pointerTime) state.workAreaIn = state.workAreaOut - 0.01f;
    } else if (edge == 2) {
        state.workAreaOut = pointerTime;
        if (state.workAreaIn >= 0.0f && state.workAreaIn >= pointerTime) state.workAreaOut = state.workAreaIn + 0.01f;
    } else {
        return;
    }
    const std::int32_t scene = state.workAreaScene;
    if (scene >= 0 && scene < static_cast<std::int32_t>(project.scenes.size())) {
        project.scenes[static_cast<std::size_t>(scene)].inTime = state.workAreaIn;
        project.scenes[static_cast<std::size_t>(scene)].outTime = state.workAreaOut;
    }
    state.unsavedChanges = true;
}

int WorkAreaEdgeAt(const AppState& state, float mouseX) {
    if (!state.HasWorkArea()) return 0;
    if (std::fabs(mouseX - TimeToX(state.workAreaIn)) <= 8.0f) return 1;
    if (std::fabs(mouseX - TimeToX(state.workAreaOut)) <= 8.0f) return 2;
    return 0;
}

// [SECTION] Marker lane

float EventBlockStart(const Event& event) { return event.time - event.syncOffset; }
float EventBlockEnd(const Event& event) { return EventBlockStart(event) + event.duration; }

std::vector<std::int32_t> EventsByTime(const std::vector<Event>& events) {
    std::vector<std::int32_t> order(events.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return events[static_cast<std::size_t>(a)].time < events[static_cast<std::size_t>(b)].time;
    });
    return order;
}

EventRows LayOutEventRows(const std::vector<Event>& events) {
    EventRows rows;
    rows.row.assign(events.size(), 0);
    std::vector<float> rowEnds;
    for (std::int32_t index : EventsByTime(events)) {
        const Event& event = events[static_cast<std::size_t>(index)];
        const float start = EventBlockStart(event);
        const float end = start + std::max(0.0f, event.duration);
        std::size_t r = 0;
        while (r < rowEnds.size() && !(rowEnds[r] - 0.0001f <= start)) ++r;
        if (r == rowEnds.size()) rowEnds.push_back(end);
        else rowEnds[r] = end;
        rows.row[static_cast<std::size_t>(index)] = static_cast<std::int32_t>(r);
    }
    rows.count = static_cast<std::int32_t>(rowEnds.size());
    return rows;
}

namespace {

bool InPointerRow(const EventRows* rows, std::int32_t index, std::int32_t pointerRow) {
    return rows == nullptr || rows->row[static_cast<std::size_t>(index)] == pointerRow;
}

bool BlockContains(const Event& event, float mouseX) {
    return mouseX >= TimeToX(EventBlockStart(event)) && mouseX <= TimeToX(EventBlockEnd(event));
}

}  // namespace

std::int32_t HitEventAt(const std::vector<Event>& events, const EventRows* rows, std::int32_t pointerRow,
                        float mouseX, std::int32_t primary, bool preferPrimary) {
    const auto count = static_cast<std::int32_t>(events.size());
    std::int32_t best = -1;
    float bestDistance = 10.0f;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!InPointerRow(rows, i, pointerRow)) continue;
        const float distance = std::fabs(mouseX - TimeToX(events[static_cast<std::size_t>(i)].time));
        if (distance <= bestDistance && (best < 0 || distance < bestDistance)) {
            best = i;
            bestDistance = distance;
        }
    }
    if (best >= 0) return best;
    if (preferPrimary && primary >= 0 && primary < count && InPointerRow(rows, primary, pointerRow) &&
        BlockContains(events[static_cast<std::size_t>(primary)], mouseX)) {
        return primary;
    }
    for (std::int32_t i = count - 1; i >= 0; --i) {
        if (InPointerRow(rows, i, pointerRow) && BlockContains(events[static_cast<std::size_t>(i)], mouseX)) return i;
    }
    return -1;
}

std::int32_t ResizeCandidateAt(const AppState& state, const std::vector<Event>& events, const EventRows* rows,
                               std::int32_t pointerRow, float mouseX) {
    const auto count = static_cast<std::int32_t>(events.size());
    std::int32_t best = -1;
    float bestDistance = 6.0f;
    for (std::int32_t index : state.selectedEvents) {
        if (index < 0 || index >= count || !InPointerRow(rows, index, pointerRow)) continue;
        const Event& event = events[static_cast<std::size_t>(index)];
        if (event.muted || state.IsLinkedGroup(event.folder)) continue;
        const float distance = std::fabs(mouseX - TimeToX(EventBlockEnd(event)));
        if (distance <= bestDistance && (best < 0 || distance < bestDistance)) {
            best = index;
            bestDistance = distance;
        }
    }
    return best;
}

float ClampSelectionMove(const AppState& state, const Project& project, float delta) {
    const auto count = static_cast<std::int32_t>(project.events.size());
    const float duration = std::max(0.0f, project.totalDuration);
    for (std::int32_t index : state.selectedEvents) {
        if (index < 0 || index >= count) continue;
        const float time = project.events[static_cast<std::size_t>(index)].time;
        if (time + delta < 0.0f) delta = -time;
        if (time + delta > duration) delta = duration - time;
    }
    return delta;
}

bool MoveSelectedEvents(AppState& state, Project& project, PlaybackEngine& engine, float delta) {
    const auto count = static_cast<std::int32_t>(project.events.size());
    std::vector<bool> moved(project.events.size(), false);
    for (std::int32_t index : state.selectedEvents) {
        if (index < 0 || index >= count) continue;
        if (project.events[static_cast<std::size_t>(index)].sceneLink >= 0) return false;
        moved[static_cast<std::size_t>(index)] = true;
    }
    delta = ClampSelectionMove(state, project, delta);
    if (std::fabs(delta) <= 0.0001f) return true;
    for (std::size_t i = 0; i < moved.size(); ++i) {
        if (moved[i]) project.events[i].time += delta;
    }
    for (LayerResult& layer : project.results) {
        if (layer.eventIdx >= 0 && layer.eventIdx < count && moved[static_cast<std::size_t>(layer.eventIdx)]) {
            layer.startTime += delta;
        }
    }
    {
        // The mixer reads voice start times only while it holds this lock.
        std::lock_guard<std::mutex> lock(engine.voiceMutex);
        for (Voice& voice : engine.voices) {
            if (voice.eventIndex >= 0 && voice.eventIndex < count && moved[static_cast<std::size_t>(voice.eventIndex)]) {
                voice.startTime += delta;
            }
        }
    }
    AllocateTracks(project);
    return true;
}

float ResizeEventTo(Project& project, std::int32_t index, float pointerTime) {
    if (index < 0 || index >= static_cast<std::int32_t>(project.events.size())) return -1.0f;
    Event& event = project.events[static_cast<std::size_t>(index)];
    if (event.sceneLink >= 0) return -1.0f;
    const float fps = TimelineFps(project);
    const float start = EventBlockStart(event);
    float latest = project.totalDuration;
    if (IsKind(event.shape, EventKind::Clip)) {
        // The key is kept between frames: a drag asks every frame.
        static std::string key;
        key.assign(event.pinnedFile);
        const auto overview = FindWaveformOverview(key);
        if (overview && overview->duration > 0.0f) {
            latest = std::min(latest, overview->duration - event.clipSourceOffset + start);
        }
    }
    const float shortest = start + 1.0f / fps;
    const float end = SnapToFrame(std::clamp(pointerTime, shortest, std::max(shortest, latest)), fps);
    const float d = end - start;
    if (IsKind(event.shape, EventKind::Clip)) {
        event.syncOffset = std::clamp(event.syncOffset, 0.0f, std::max(0.0f, d));
        event.clipSourceDuration = d;
    } else if (event.duration > 0.001f) {
        event.syncOffset = std::clamp(event.syncOffset * d / event.duration, 0.0f, std::max(0.0f, d));
    }
    event.duration = d;
    event.locked = false;
    return end;
}

void SelectMarquee(AppState& state, const Project& project, float t1, float t2, bool alt) {
    state.selectedEvents.clear();
    const auto count = static_cast<std::int32_t>(project.events.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const Event& event = project.events[static_cast<std::size_t>(i)];
        if (EventBlockStart(event) <= t2 && EventBlockEnd(event) >= t1) state.selectedEvents.insert(i);
    }
    if (!alt) state.ExpandSelectionToLinkedGroups(project.events);
    if (state.selectedEvents.empty()) {
        state.selectedEvent = -1;
    } else {
        state.selectedEvent = *state.selectedEvents.begin();
        state.scrollToSelection = true;
    }
}

}  // namespace korvel
