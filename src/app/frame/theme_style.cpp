#include "app/frame/theme_style.h"

#include <imgui.h>

#include "app/theme.h"

namespace korvel {

void ApplyThemeToStyle() {
    ImGuiStyle& style = ImGui::GetStyle();
    style.DisabledAlpha = 0.2f;
    style.WindowPadding = ImVec2(0.0f, 0.0f);
    style.WindowRounding = 0.0f;
    style.WindowBorderSize = 0.0f;
    style.ChildRounding = 0.0f;
    style.ChildBorderSize = 0.0f;
    style.FramePadding = ImVec2(6.0f, 3.0f);
    style.FrameRounding = 3.0f;
    style.FrameBorderSize = 0.0f;
    style.ItemSpacing = ImVec2(8.0f, 4.0f);
    style.ItemInnerSpacing = ImVec2(6.0f, 4.0f);
    style.ScrollbarSize = 10.0f;
    style.ScrollbarRounding = 3.0f;
    style.GrabMinSize = 8.0f;
    style.GrabRounding = 3.0f;

    const ThemeColors& p = ThemePalette;
    ImVec4* c = style.Colors;
    auto set = [c](ImGuiCol slot, std::uint32_t packed) { c[slot] = ImGui::ColorConvertU32ToFloat4(packed); };
    set(ImGuiCol_Text, p.textPrimary);
    set(ImGuiCol_TextDisabled, p.textMuted);
    set(ImGuiCol_WindowBg, p.windowBg);
    set(ImGuiCol_ChildBg, 0);
    set(ImGuiCol_PopupBg, p.popupBg);
    set(ImGuiCol_Border, p.border);
    set(ImGuiCol_ScrollbarGrab, p.border);
    set(ImGuiCol_Separator, p.border);
    set(ImGuiCol_FrameBg, p.frameBg);
    set(ImGuiCol_FrameBgHovered, p.frameBgHovered);
    set(ImGuiCol_FrameBgActive, p.frameBgActive);
    set(ImGuiCol_ScrollbarBg, p.scrollbarBg);
    set(ImGuiCol_CheckMark, p.checkMark);
    set(ImGuiCol_SliderGrab, p.accent);
    set(ImGuiCol_HeaderActive, p.accent);
    set(ImGuiCol_SliderGrabActive, p.accentDim);
    set(ImGuiCol_ButtonActive, p.accentDim);
    set(ImGuiCol_Button, p.buttonBg);
    set(ImGuiCol_Header, p.buttonBg);
    set(ImGuiCol_ButtonHovered, p.buttonHovered);
    set(ImGuiCol_HeaderHovered, p.buttonHovered);
    // Keyboard navigation draws no highlight (this version's name for the
    // navigation cursor is NavHighlight).
    set(ImGuiCol_NavHighlight, 0);
    set(ImGuiCol_NavWindowingHighlight, 0);
    set(ImGuiCol_NavWindowingDimBg, 0);
}

}  // namespace korvel
