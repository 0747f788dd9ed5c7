#include <algorithm>

#include "project/app_state.h"

namespace korvel {

void AppState::SelectLibraryEntry(std::int32_t index) {
    librarySelection.clear();
    if (index >= 0) librarySelection.insert(index);
    librarySelectionAnchor = index;
}

void AppState::ExtendLibrarySelection(std::int32_t index, const std::vector<std::int32_t>& order) {
    const auto anchorAt = std::find(order.begin(), order.end(), librarySelectionAnchor);
    const auto indexAt = std::find(order.begin(), order.end(), index);
    if (librarySelectionAnchor < 0 || anchorAt == order.end() || indexAt == order.end()) {
        SelectLibraryEntry(index);
        return;
    }
    const auto [first, last] = std::minmax(anchorAt, indexAt);
    librarySelection.clear();
    librarySelection.insert(first, last + 1);
}

}  // namespace korvel
