// The event context menu's popup.
#include <imgui.h>

#include "app/frame/style.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/timeline/event_menu.h"

namespace korvel {

namespace {

// A disabled item's tooltip shows too (1.86 has no item-tooltip call).
void ItemTooltip(const char* text) {
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ImGui::SetTooltip("%s", text);
}

}  // namespace

bool ShowEventContextMenu(const char* popupId) {
    const StyleScope panel(StyleScopeKind::Panel);
    if (!ImGui::BeginPopup(popupId)) return false;
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const EventMenuFacts facts = ReadEventMenuFacts(state, project);
    const bool edit = facts.mayEdit;
    bool changed = false;

    if (ImGui::MenuItem(facts.allLocked ? "\xef\x82\x9c  Unlock" : "\xef\x80\xa3  Lock", nullptr, false, edit)) {
        ToggleLockSelection(state, project);
    }
    if (ImGui::MenuItem(facts.allHero ? "\xef\x98\xa1  Remove Hero" : "\xef\x98\xa1  Hero", nullptr, false, edit)) {
        ToggleHeroSelection(state, project);
    }
    if (ImGui::MenuItem("\xef\x80\xa1  Rebuild", nullptr, false, edit && (facts.canBuild || facts.hasClip))) {
        RebuildSelection(state, project);
    }
    const bool canBounce = edit && facts.canBuild && !state.selectedEvents.empty() &&
                           static_cast<bool>(EventMenuServices.bounceSelectionToClip);
    if (ImGui::MenuItem("\xef\x81\xa6  Bounce to Clip", nullptr, false, canBounce)) {
        changed = EventMenuServices.bounceSelectionToClip();
    }
    ItemTooltip(canBounce ? "Build the selection to one dry stereo clip, in place. Reversible."
                          : "Nothing to bounce yet");
    const auto count = static_cast<std::int32_t>(project.events.size());
    if (facts.single >= 0 && facts.single < count) {
        const Event& event = project.events[static_cast<std::size_t>(facts.single)];
        if (IsKind(event.shape, EventKind::Clip) && !event.bounceSource.empty()) {
            const bool canRevert = edit && static_cast<bool>(EventMenuServices.revertBounce);
            if (ImGui::MenuItem("\xef\x80\xa1  Revert to Source", nullptr, false, canRevert)) {
                changed = EventMenuServices.revertBounce(facts.single);
            }
            ItemTooltip("Replace this bounced clip with the original events it was made from");
        }
    }
    ImGui::Separator();
    if (ImGui::MenuItem("Group", nullptr, false, edit)) GroupSelection(state, project);
    if (ImGui::MenuItem("Ungroup", nullptr, false, edit && facts.anyFolder)) UngroupSelection(state, project);
    ImGui::Separator();
    ImGui::PushStyleColor(ImGuiCol_Text, ThemePalette.danger);
    if (ImGui::MenuItem("Delete", nullptr, false, edit)) changed = DeleteSelection(state, project);
    ImGui::PopStyleColor();
    ImGui::EndPopup();
    return changed;
}

}  // namespace korvel
