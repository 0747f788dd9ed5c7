// The event menu's actions, apart from the UI library.
#include <algorithm>
#include <cstdio>
#include <set>

#include "app/frame_work.h"
#include "engine/clip_event.h"
#include "engine/render_job.h"
#include "engine/voice_sync.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/event_menu.h"

namespace korvel {

EventMenuHooks EventMenuServices;

namespace {

Event& At(Project& project, std::int32_t index) { return project.events[static_cast<std::size_t>(index)]; }

}  // namespace

EventMenuFacts ReadEventMenuFacts(const AppState& state, const Project& project) {
    EventMenuFacts facts;
    facts.mayEdit = UiMayEditProject(state);
    facts.canBuild = project.built && !state.backgroundJob.active.load();
    if (state.selectedEvents.size() == 1) facts.single = *state.selectedEvents.begin();
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) {
        const Event& event = project.events[static_cast<std::size_t>(index)];
        facts.allLocked = facts.allLocked && event.locked;
        facts.allHero = facts.allHero && event.hero;
        const bool clip = IsKind(event.shape, EventKind::Clip);
        facts.hasClip = facts.hasClip || clip;
        facts.hasNonClip = facts.hasNonClip || !clip;
        facts.anyFolder = facts.anyFolder || event.folder[0] != '\0';
    }
    return facts;
}

void ToggleLockSelection(AppState& state, Project& project) {
    if (!UiMayEditProject(state)) return;
    const bool lock = !ReadEventMenuFacts(state, project).allLocked;
    PushUndo();
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) At(project, index).locked = lock;
}

void ToggleHeroSelection(AppState& state, Project& project) {
    if (!UiMayEditProject(state)) return;
    const bool hero = !ReadEventMenuFacts(state, project).allHero;
    PushUndo();
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) At(project, index).hero = hero;
    state.pendingRenderMode = kRenderRebuildAll;
}

void RebuildSelection(AppState& state, Project& project) {
    const EventMenuFacts facts = ReadEventMenuFacts(state, project);
    if (!facts.mayEdit || !(facts.canBuild || facts.hasClip)) return;
    PushUndo();
    const std::vector<std::int32_t> valid = state.ValidSelectedEvents(project.events);
    std::vector<std::int32_t> placedClips;
    std::vector<std::int32_t> others;
    for (std::int32_t index : valid) {
        Event& event = At(project, index);
        if (!IsKind(event.shape, EventKind::Clip)) {
            event.locked = false;
            others.push_back(index);
            continue;
        }
        if (!BuildClipEvent(project, index)) continue;  // keeps its duration
        placedClips.push_back(index);
        const auto layer = std::find_if(project.results.begin(), project.results.end(),
                                        [index](const LayerResult& l) { return l.eventIdx == index; });
        if (layer != project.results.end()) event.duration = layer->duration;
    }
    if (!placedClips.empty()) {
        for (std::int32_t index : placedClips) RenderEvent(index);
        CheckRenderCacheIntegrity();
        LocatePlayback(LivePlaybackEngine, state.playhead);
    }
    if (!facts.hasNonClip) return;
    state.pendingRenderEvents.clear();
    if (facts.single < 0) {
        state.pendingRenderEvents = others;
        state.pendingRenderMode = others.empty() ? 0 : kRenderEventList;
    } else {
        state.pendingRenderEvents = {facts.single};
        state.pendingRenderMode = kRenderRebuildEvent;
    }
}

std::string GroupSelection(AppState& state, Project& project) {
    if (!UiMayEditProject(state)) return {};
    PushUndo();
    std::set<std::string> taken;
    for (const Event& event : project.events) {
        if (event.folder[0] != '\0') taken.insert(event.folder);
    }
    char name[64] = {};
    for (int d = 1;; ++d) {
        std::snprintf(name, sizeof(name), "Group %d", d);
        if (taken.count(name) == 0) break;
    }
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) {
        std::snprintf(At(project, index).folder, sizeof(Event::folder), "%s", name);
    }
    state.linkedGroups.insert(name);
    state.collapsedFolders.erase(name);
    state.renamingFolder = name;
    std::snprintf(state.folderNameBuffer, sizeof(state.folderNameBuffer), "%s", name);
    state.focusFolderRename = true;
    return name;
}

void UngroupSelection(AppState& state, Project& project) {
    if (!UiMayEditProject(state)) return;
    PushUndo();
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) At(project, index).folder[0] = '\0';
}

bool DeleteSelection(AppState& state, Project& project) {
    if (!UiMayEditProject(state)) return false;
    PushUndo();
    const auto oldCount = static_cast<std::int32_t>(project.events.size());
    std::vector<std::int32_t> indices(state.selectedEvents.rbegin(), state.selectedEvents.rend());
    std::vector<std::int32_t> deleted;
    for (std::int32_t index : indices) {
        if (index >= 0 && index < static_cast<std::int32_t>(project.events.size())) {
            project.DeleteEvent(index);
            deleted.push_back(index);
            state.RemoveEventFromSelection(index);
        } else {
            // Nothing was deleted there, so nothing is renumbered: a negative
            // index would otherwise lower every selected index and the primary.
            state.selectedEvents.erase(index);
        }
    }
    const auto count = static_cast<std::int32_t>(project.events.size());
    if (count == 0) state.selectedEvent = -1;
    else if (state.selectedEvent >= count) state.selectedEvent = count - 1;
    RemoveEventVoices(deleted, oldCount);
    CheckRenderCacheIntegrity();
    LocatePlayback(LivePlaybackEngine, state.playhead);
    return true;
}

}  // namespace korvel
