#pragma once
// Selecting events on the timeline and in the events list: one event, a
// range in the list's order, toggling, the linked groups whose events are
// selected together, and keeping the selection on the same events when one
// is deleted. The work-area test is AppState::HasWorkArea.
#include <cstdint>
#include <string_view>
#include <vector>

#include "project/app_state.h"
#include "project/event.h"

namespace korvel {

// Selects only event `index` (nothing for -1) and makes it primary; a real
// event brings the events tab forward.
void SelectEvent(AppState& state, std::int32_t index);

// As SelectEvent, then, unless `noExpand`, widens the selection to the
// linked groups; when the clicked event is in one, the group's earliest
// event on the timeline becomes primary (the clicked one on a tie).
void SelectEventWithLinks(AppState& state, std::int32_t index, const std::vector<Event>& events, bool noExpand);

// Shift-click: selects the events of `order` (the list's display order)
// between the primary event and `index`. The primary event stays the anchor.
void SelectEventRange(AppState& state, std::int32_t index, const std::vector<std::int32_t>& order);

// Control-click: adds or removes one event; it becomes primary either way.
void ToggleEventSelection(AppState& state, std::int32_t index);

// Keeps the selection on the same events across the deletion of event
// `deleted`: it leaves the selection and every later index moves down.
void RemoveEventFromSelection(AppState& state, std::int32_t deleted);

// Adds every event that shares a linked folder with a selected event.
void ExpandSelectionToLinkedGroups(AppState& state, const std::vector<Event>& events);

// Exact comparison; an empty name is never a linked group.
bool IsLinkedGroup(const AppState& state, std::string_view folder);

}  // namespace korvel
