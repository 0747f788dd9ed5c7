#pragma once
// Shared set-up of the timeline tests: a clean application state and
// project, and a lane geometry of 800 px from x = 100 showing a chosen view.
#include <cstdio>

#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/timeline_view.h"

namespace korvel::test {

inline void ResetTimelineState() {
    AppState& s = GlobalAppState;
    s.viewStart = 0.0f;
    s.viewEnd = 30.0f;
    s.playhead = 0.0f;
    s.playing = false;
    s.curveDrawMode = false;
    s.drawSavedViewValid = false;
    s.drawRangeStart = s.drawRangeEnd = 0.0f;
    s.timelineView = 0;
    s.groupVisible = {true, true, true};
    s.selectedEvents.clear();
    s.selectedEvent = -1;
    s.linkedGroups.clear();
    s.collapsedFolders.clear();
    s.renamingFolder.clear();
    s.focusFolderRename = false;
    s.workAreaIn = s.workAreaOut = -1.0f;
    s.workAreaScene = -1;
    s.unsavedChanges = false;
    s.pendingRenderMode = 0;
    s.pendingRenderEvents.clear();
    s.eventLaneExpanded = false;
    s.activeTab = 0;
    s.PendingMenuCommand.store(0);
    Project& p = CurrentProject;
    p.events.clear();
    p.results.clear();
    p.scenes.clear();
    p.totalDuration = 60.0f;
    p.fps = 25.0f;
    p.startTC = 0.0f;
    p.built = false;
    for (auto& group : p.trackLayout.groups) group.usedLanes = 0;
    ClearUndoHistory();
    Timeline = TimelineState{};
}

// Lanes from x = 100, 800 px wide, showing [start, start + span).
inline void SetLaneView(float start, float span) {
    Timeline.laneLeft = 100.0f;
    Timeline.laneWidth = 800.0f;
    Timeline.viewStart = start;
    Timeline.viewSpan = span;
    GlobalAppState.viewStart = start;
    GlobalAppState.viewEnd = start + span;
}

// An event whose block runs from start to start + duration with its sync
// point `sync` seconds after the start.
inline Event MakeEvent(float start, float duration, float sync = 0.0f, EventKind kind = EventKind::Fill) {
    Event e;
    e.time = start + sync;
    e.syncOffset = sync;
    e.duration = duration;
    e.shape = KindValue(kind);
    return e;
}

}  // namespace korvel::test
