#pragma once
// What the panels and the inspector share beyond the style scopes
// (app/frame/style.h): the icon glyphs they draw, the colour casts and the
// tab panel's frame.
#include <imgui.h>

#include <cstdint>

#include "app/frame/icon_glyphs.h"
#include "app/theme.h"

namespace korvel::panels {

// The icon glyphs, as panels::icon::k...
namespace icon = ::korvel::icon;

inline ImU32 Col(std::uint32_t packed) { return static_cast<ImU32>(packed); }
inline ImVec4 ColourVec(std::uint32_t packed) { return ImGui::ColorConvertU32ToFloat4(packed); }
// A 0..1 opacity as the 0..255 alpha of a packed colour.
inline int AlphaByte(float fraction) { return static_cast<int>(fraction * 255.0f + 0.5f); }

// Opens a tab's panel: a child window of the tab area's size that never
// scrolls, filled with the bar colour. False when it is not shown (it is
// then already ended); otherwise the caller ends it with ImGui::EndChild().
inline bool BeginTabPanel(const char* id, float width, float height) {
    if (!ImGui::BeginChild(id, ImVec2(width, height), false,
                           ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse)) {
        ImGui::EndChild();
        return false;
    }
    const ImVec2 origin = ImGui::GetWindowPos();
    ImGui::GetWindowDrawList()->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + height),
                                              Col(ThemePalette.barBg));
    return true;
}

}  // namespace korvel::panels
