// The selection operations of AppState: one event, a range in the list's
// order, toggling, the linked groups whose events are selected together, and
// keeping the selection on the same events when one is deleted.
#include "project/app_state.h"

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

std::vector<std::int32_t> AppState::ValidSelectedEvents(const std::vector<Event>& events) const {
    std::vector<std::int32_t> valid;
    for (std::int32_t index : selectedEvents)
        if (IsValidIndex(index, events)) valid.push_back(index);
    return valid;
}

void AppState::SelectEvent(std::int32_t index) {
    selectedEvents.clear();
    if (index >= 0) {
        selectedEvents.insert(index);
        activeTab = kEventsTab;
    }
    selectedEvent = index;
    scrollToSelection = true;
}

void AppState::SelectEventWithLinks(std::int32_t index, const std::vector<Event>& events, bool noExpand) {
    SelectEvent(index);
    if (noExpand) return;
    ExpandSelectionToLinkedGroups(events);
    if (!IsValidIndex(index, events) || !IsLinkedGroup(TextOf(events[static_cast<std::size_t>(index)].folder))) {
        return;
    }
    // A linked group acts as one object whose handle is its earliest event.
    std::int32_t best = index;
    float bestTime = events[static_cast<std::size_t>(index)].time;
    for (std::int32_t selected : selectedEvents) {
        if (!IsValidIndex(selected, events)) continue;
        const float time = events[static_cast<std::size_t>(selected)].time;
        if (time < bestTime) {
            best = selected;
            bestTime = time;
        }
    }
    selectedEvent = best;
}

void AppState::ExpandSelectionToLinkedGroups(const std::vector<Event>& events) {
    std::set<std::string_view> folders;
    for (std::int32_t selected : selectedEvents) {
        if (!IsValidIndex(selected, events)) continue;
        const std::string_view folder = TextOf(events[static_cast<std::size_t>(selected)].folder);
        if (IsLinkedGroup(folder)) folders.insert(folder);
    }
    if (folders.empty()) return;
    // Collected first and merged after, so one pass over the events suffices.
    std::vector<std::int32_t> additions;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (folders.contains(TextOf(events[i].folder))) additions.push_back(static_cast<std::int32_t>(i));
    }
    selectedEvents.insert(additions.begin(), additions.end());
}

void AppState::SelectEventRange(std::int32_t index, const std::vector<std::int32_t>& order) {
    if (selectedEvent < 0) {
        SelectEvent(index);
        return;
    }
    // An index listed twice counts at its last position.
    std::ptrdiff_t clicked = -1;
    std::ptrdiff_t anchor = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == index) clicked = static_cast<std::ptrdiff_t>(i);
        if (order[i] == selectedEvent) anchor = static_cast<std::ptrdiff_t>(i);
    }
    if (clicked >= 0 && anchor >= 0) {
        selectedEvents.clear();
        const std::ptrdiff_t first = std::min(clicked, anchor);
        const std::ptrdiff_t last = std::max(clicked, anchor);
        for (std::ptrdiff_t i = first; i <= last; ++i) selectedEvents.insert(order[static_cast<std::size_t>(i)]);
        return;
    }
    SelectEvent(index);
}

void AppState::ToggleEventSelection(std::int32_t index) {
    if (!selectedEvents.erase(index)) selectedEvents.insert(index);
    selectedEvent = index;
    if (!selectedEvents.empty()) activeTab = kEventsTab;
}

void AppState::RemoveEventFromSelection(std::int32_t deleted) {
    std::set<std::int32_t> remaining;
    for (std::int32_t selected : selectedEvents) {
        if (selected != deleted) remaining.insert(IndexAfterDeletion(selected, deleted));
    }
    selectedEvents = std::move(remaining);
    selectedEvent = IndexAfterDeletion(selectedEvent, deleted);
    expandedEvent = IndexAfterDeletion(expandedEvent, deleted);
}

bool AppState::IsLinkedGroup(std::string_view folder) const {
    if (folder.empty()) return false;
    return linkedGroups.contains(std::string(folder));
}

}  // namespace korvel
