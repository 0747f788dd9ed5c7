#include "project/selection.h"

#include <algorithm>
#include <set>
#include <string>

#include "project/fixed_text.h"

namespace korvel {

namespace {

constexpr std::int32_t kEventsTab = 0;

bool IsValidIndex(std::int32_t index, const std::vector<Event>& events) {
    return index >= 0 && static_cast<std::size_t>(index) < events.size();
}

// An index after the deletion of event `deleted`; -1 for the deleted one.
std::int32_t IndexAfterDeletion(std::int32_t index, std::int32_t deleted) {
    if (index == deleted) return -1;
    return index > deleted ? index - 1 : index;
}

}  // namespace

void SelectEvent(AppState& state, std::int32_t index) {
    state.selectedEvents.clear();
    if (index >= 0) {
        state.selectedEvents.insert(index);
        state.activeTab = kEventsTab;
    }
    state.selectedEvent = index;
    state.scrollToSelection = true;
}

void SelectEventWithLinks(AppState& state, std::int32_t index, const std::vector<Event>& events, bool noExpand) {
    SelectEvent(state, index);
    if (noExpand) return;
    ExpandSelectionToLinkedGroups(state, events);
    if (!IsValidIndex(index, events) || !IsLinkedGroup(state, TextOf(events[static_cast<std::size_t>(index)].folder))) {
        return;
    }
    // A linked group acts as one object whose handle is its earliest event.
    std::int32_t best = index;
    float bestTime = events[static_cast<std::size_t>(index)].time;
    for (std::int32_t selected : state.selectedEvents) {
        if (!IsValidIndex(selected, events)) continue;
        const float time = events[static_cast<std::size_t>(selected)].time;
        if (time < bestTime) {
            best = selected;
            bestTime = time;
        }
    }
    state.selectedEvent = best;
}

void ExpandSelectionToLinkedGroups(AppState& state, const std::vector<Event>& events) {
    std::set<std::string_view> folders;
    for (std::int32_t selected : state.selectedEvents) {
        if (!IsValidIndex(selected, events)) continue;
        const std::string_view folder = TextOf(events[static_cast<std::size_t>(selected)].folder);
        if (IsLinkedGroup(state, folder)) folders.insert(folder);
    }
    if (folders.empty()) return;
    // Collected first and merged after, so one pass over the events suffices.
    std::vector<std::int32_t> additions;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (folders.contains(TextOf(events[i].folder))) additions.push_back(static_cast<std::int32_t>(i));
    }
    state.selectedEvents.insert(additions.begin(), additions.end());
}

void SelectEventRange(AppState& state, std::int32_t index, const std::vector<std::int32_t>& order) {
    if (state.selectedEvent < 0) {
        SelectEvent(state, index);
        return;
    }
    // An index listed twice counts at its last position.
    std::ptrdiff_t clicked = -1;
    std::ptrdiff_t anchor = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == index) clicked = static_cast<std::ptrdiff_t>(i);
        if (order[i] == state.selectedEvent) anchor = static_cast<std::ptrdiff_t>(i);
    }
    if (clicked >= 0 && anchor >= 0) {
        state.selectedEvents.clear();
        const std::ptrdiff_t first = std::min(clicked, anchor);
        const std::ptrdiff_t last = std::max(clicked, anchor);
        for (std::ptrdiff_t i = first; i <= last; ++i) state.selectedEvents.insert(order[static_cast<std::size_t>(i)]);
        return;
    }
    SelectEvent(state, index);
}

void ToggleEventSelection(AppState& state, std::int32_t index) {
    if (!state.selectedEvents.erase(index)) state.selectedEvents.insert(index);
    state.selectedEvent = index;
    if (!state.selectedEvents.empty()) state.activeTab = kEventsTab;
}

void RemoveEventFromSelection(AppState& state, std::int32_t deleted) {
    std::set<std::int32_t> remaining;
    for (std::int32_t selected : state.selectedEvents) {
        if (selected != deleted) remaining.insert(IndexAfterDeletion(selected, deleted));
    }
    state.selectedEvents = std::move(remaining);
    state.selectedEvent = IndexAfterDeletion(state.selectedEvent, deleted);
    state.expandedEvent = IndexAfterDeletion(state.expandedEvent, deleted);
}

bool IsLinkedGroup(const AppState& state, std::string_view folder) {
    if (folder.empty()) return false;
    return state.linkedGroups.contains(std::string(folder));
}

}  // namespace korvel
