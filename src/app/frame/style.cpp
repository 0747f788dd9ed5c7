#include "app/frame/style.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "app/theme.h"
#include "project/app_state.h"

namespace korvel {

// [SECTION] Scopes

namespace {

void Color(ImGuiCol slot, std::uint32_t color) { ImGui::PushStyleColor(slot, static_cast<ImU32>(color)); }
void Var(ImGuiStyleVar var, float value) { ImGui::PushStyleVar(var, value); }
void Var(ImGuiStyleVar var, float x, float y) { ImGui::PushStyleVar(var, ImVec2(x, y)); }

void PushOnOffColors(bool active, std::uint32_t onBg, std::uint32_t onHovered, std::uint32_t onActive,
                     std::uint32_t onText, std::uint32_t offHovered) {
    const ThemeColors& p = ThemePalette;
    if (active) {
        Color(ImGuiCol_Button, onBg);
        Color(ImGuiCol_ButtonHovered, onHovered);
        Color(ImGuiCol_ButtonActive, onActive);
        Color(ImGuiCol_Text, onText);
    } else {
        Color(ImGuiCol_Button, ColorWithAlpha(p.surfaceHover, 0xC8));
        Color(ImGuiCol_ButtonHovered, offHovered);
        Color(ImGuiCol_ButtonActive, ColorWithAlpha(p.surfaceHover, 0xA0));
        Color(ImGuiCol_Text, p.textMuted);
    }
}

}  // namespace

void PushRoundedButtonStyle() {
    Color(ImGuiCol_Button, ThemePalette.accent);
    Color(ImGuiCol_ButtonHovered, ThemePalette.accentDim);
    Color(ImGuiCol_Text, ThemePalette.textOnAccent);
    Var(ImGuiStyleVar_FrameRounding, 3.0f);
}
void PopColors3Vars1() {
    ImGui::PopStyleVar(1);
    ImGui::PopStyleColor(3);
}

void PushPopupStyle() {
    Color(ImGuiCol_PopupBg, ThemePalette.popupBg);
    Color(ImGuiCol_Button, ThemePalette.frameBg);
    Color(ImGuiCol_ButtonHovered, ThemePalette.frameBgHovered);
    Var(ImGuiStyleVar_WindowPadding, 10.0f, 8.0f);
    Var(ImGuiStyleVar_PopupRounding, 6.0f);
    Var(ImGuiStyleVar_FramePadding, 10.0f, 4.0f);
}
void PopColors3Vars3() {
    ImGui::PopStyleVar(3);
    ImGui::PopStyleColor(3);
}

void PushMenuRowColors() {
    Color(ImGuiCol_Text, ThemePalette.danger);
    Color(ImGuiCol_HeaderHovered, ThemePalette.dangerHoverBg);
}
void PushDimmedButtonColors() {
    Color(ImGuiCol_ButtonHovered, ColorWithAlpha(ThemePalette.textMuted, 0x80));
    Color(ImGuiCol_Text, ColorWithAlpha(ThemePalette.textSecondary, 0xB3));
}
void PopColors2() { ImGui::PopStyleColor(2); }

void PushCompactButtonStyle() {
    const float p = ImGui::GetStyle().FramePadding.y;
    Color(ImGuiCol_Button, ThemePalette.frameBgHovered);
    Color(ImGuiCol_ButtonHovered, ThemePalette.frameBgActive);
    Color(ImGuiCol_ButtonActive, ThemePalette.frameBgActive);
    Color(ImGuiCol_Text, ThemePalette.textPrimary);
    Var(ImGuiStyleVar_FramePadding, p, p);
    Var(ImGuiStyleVar_FrameRounding, 3.0f);
}
void PopColors4Vars2() {
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor(4);
}

void PushButtonColors() {
    Color(ImGuiCol_Button, 0);
    Color(ImGuiCol_ButtonHovered, 0);
    Color(ImGuiCol_ButtonActive, 0);
    Color(ImGuiCol_Text, ThemePalette.textSecondary);
}
void PushMuteButtonColors(bool active) {
    const ThemeColors& p = ThemePalette;
    PushOnOffColors(active, p.muteOnBg, p.muteOnHovered, p.muteOnActive, p.muteOnText, p.muteOffHovered);
}
void PushSoloButtonColors(bool active) {
    const ThemeColors& p = ThemePalette;
    PushOnOffColors(active, p.soloOnBg, p.soloOnHovered, p.soloOnActive, p.soloOnText, p.soloOffHovered);
}
void PopColors4() { ImGui::PopStyleColor(4); }

bool PushPanelStyle() {
    Color(ImGuiCol_PopupBg, ThemePalette.popupBg);
    Var(ImGuiStyleVar_WindowPadding, 10.0f, 10.0f);
    Var(ImGuiStyleVar_WindowRounding, 6.0f);
    Var(ImGuiStyleVar_PopupRounding, 6.0f);
    Var(ImGuiStyleVar_ItemSpacing, 6.0f, 6.0f);
    Var(ImGuiStyleVar_FramePadding, 8.0f, 6.0f);
    ImFont* font = GlobalAppState.fonts.smallFont;
    if (font == nullptr) return false;
    ImGui::PushFont(font);
    return true;
}
void PopPanelStyle(bool pushedFont) {
    if (pushedFont) ImGui::PopFont();
    ImGui::PopStyleVar(5);
    ImGui::PopStyleColor(1);
}

void PushToolbarButtonColors() {
    Color(ImGuiCol_Button, ThemePalette.frameBg);
    Color(ImGuiCol_ButtonHovered, ThemePalette.frameBgHovered);
    Color(ImGuiCol_ButtonActive, ThemePalette.frameBgActive);
}
void PopColors3() { ImGui::PopStyleColor(3); }

void PushActionButtonStyle() {
    Color(ImGuiCol_Button, ThemePalette.actionButtonBg);
    Color(ImGuiCol_ButtonHovered, ThemePalette.actionButtonHovered);
    Color(ImGuiCol_ButtonActive, ThemePalette.frameBg);
    Color(ImGuiCol_Text, ThemePalette.actionButtonText);
    Var(ImGuiStyleVar_FrameRounding, 3.0f);
}
void PopColors4Vars1() {
    ImGui::PopStyleVar(1);
    ImGui::PopStyleColor(4);
}

bool PushTooltipStyle() {
    Color(ImGuiCol_PopupBg, ThemePalette.popupBg);
    Color(ImGuiCol_Text, ThemePalette.textPrimary);
    Var(ImGuiStyleVar_WindowPadding, 10.0f, 7.0f);
    Var(ImGuiStyleVar_WindowRounding, 5.0f);
    const AppState& app = GlobalAppState;
    const int preset = std::clamp(app.fontSizePreset, 0, kFontSizePresets - 1);
    ImFont* font = app.fonts.regular[preset][0];
    if (font == nullptr) return false;
    ImGui::PushFont(font);
    return true;
}
void PopTooltipStyle(bool pushedFont) {
    if (pushedFont) ImGui::PopFont();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar(2);
}

void PopColors1() { ImGui::PopStyleColor(1); }

StyleScope::StyleScope(StyleScopeKind kind, bool active) : kind_(kind) {
    switch (kind) {
        case StyleScopeKind::RoundedButton: PushRoundedButtonStyle(); break;
        case StyleScopeKind::Popup: PushPopupStyle(); break;
        case StyleScopeKind::MenuRow: PushMenuRowColors(); break;
        case StyleScopeKind::DimmedButton: PushDimmedButtonColors(); break;
        case StyleScopeKind::CompactButton: PushCompactButtonStyle(); break;
        case StyleScopeKind::ButtonColors: PushButtonColors(); break;
        case StyleScopeKind::MuteButton: PushMuteButtonColors(active); break;
        case StyleScopeKind::SoloButton: PushSoloButtonColors(active); break;
        case StyleScopeKind::Panel: pushedFont_ = PushPanelStyle(); break;
        case StyleScopeKind::ToolbarButton: PushToolbarButtonColors(); break;
        case StyleScopeKind::ActionButton: PushActionButtonStyle(); break;
        case StyleScopeKind::Tooltip: pushedFont_ = PushTooltipStyle(); break;
    }
}

StyleScope::~StyleScope() {
    switch (kind_) {
        case StyleScopeKind::RoundedButton: PopColors3Vars1(); break;
        case StyleScopeKind::Popup: PopColors3Vars3(); break;
        case StyleScopeKind::MenuRow:
        case StyleScopeKind::DimmedButton: PopColors2(); break;
        case StyleScopeKind::CompactButton: PopColors4Vars2(); break;
        case StyleScopeKind::ButtonColors:
        case StyleScopeKind::MuteButton:
        case StyleScopeKind::SoloButton: PopColors4(); break;
        case StyleScopeKind::Panel: PopPanelStyle(pushedFont_); break;
        case StyleScopeKind::ToolbarButton: PopColors3(); break;
        case StyleScopeKind::ActionButton: PopColors4Vars1(); break;
        case StyleScopeKind::Tooltip: PopTooltipStyle(pushedFont_); break;
    }
}

// [SECTION] Small widgets

namespace {

void TooltipV(const char* format, va_list args) {
    const bool pushedFont = PushTooltipStyle();
    ImGui::SetTooltipV(format, args);
    PopTooltipStyle(pushedFont);
}

}  // namespace

void ShowTooltip(const char* format, ...) {
    va_list args;
    va_start(args, format);
    TooltipV(format, args);
    va_end(args);
}

void ShowItemTooltip(const char* format, ...) {
    // The UI library has no item tooltip call; disabled items answer only
    // when asked to.
    if (!ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) return;
    va_list args;
    va_start(args, format);
    TooltipV(format, args);
    va_end(args);
}

bool IconMenuItem(const char* icon, const char* label, bool selected, int id) {
    char text[128];
    std::snprintf(text, sizeof(text), "%s  %s##r%d", icon, label, id);
    return ImGui::Selectable(text, selected);
}

bool IconMenuItem(const char* icon, const char* label, int id) { return IconMenuItem(icon, label, false, id); }

int TimecodeCharFilter(ImGuiInputTextCallbackData* data) {
    const ImWchar c = data->EventChar;
    const bool allowed = c < 256 && ((c >= '0' && c <= '9') || c == ':');
    return allowed ? 0 : 1;
}

void DrawCenteredText(float width, const char* text, std::uint32_t color) {
    const float w = std::ceil(ImGui::CalcTextSize(text).x);
    ImGui::SetCursorPosX((width - w) * 0.5f);
    ImGui::PushStyleColor(ImGuiCol_Text, color);
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

bool DrawPillToggle(ImVec2 pos, float width, float height, bool selected, const char* label, const char* id,
                    std::uint32_t accent, const char* tooltip, bool showCheck, bool hasClose, bool* closeClicked,
                    const char* closeTooltip) {
    const ThemeColors& p = ThemePalette;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 end(pos.x + width, pos.y + height);
    draw->AddRectFilled(pos, end, selected ? ColorWithAlpha(accent, 35) : p.buttonBg, 3.0f);
    draw->AddRect(pos, end, selected ? ColorWithAlpha(accent, 100) : p.border, 3.0f);

    const float closeWidth = hasClose ? ImGui::GetFontSize() + 4.0f : 0.0f;
    const float bodyWidth = std::max(width - closeWidth, 1.0f);
    const std::uint32_t labelColor = selected ? accent : p.textMuted;
    const char* text = label != nullptr ? label : "";
    const ImVec2 labelSize = ImGui::CalcTextSize(text);
    const float textY = pos.y + (height - labelSize.y) * 0.5f;
    if (selected && showCheck) {
        const char* check = "\xef\x80\x8c";  // U+F00C
        const float checkWidth = ImGui::CalcTextSize(check).x;
        float x = pos.x + (bodyWidth - (checkWidth + 4.0f + labelSize.x)) * 0.5f;
        draw->AddText(ImVec2(x, textY), ColorWithAlpha(accent, 160), check);
        x += checkWidth + 4.0f;
        if (*text != '\0') draw->AddText(ImVec2(x, textY), labelColor, text);
    } else if (*text != '\0') {
        draw->AddText(ImVec2(pos.x + (bodyWidth - labelSize.x) * 0.5f, textY), labelColor, text);
    }

    ImGui::PushID(id);
    ImGui::SetCursorScreenPos(pos);
    const bool clicked = ImGui::InvisibleButton("pill", ImVec2(bodyWidth, height));
    if (tooltip != nullptr && ImGui::IsItemHovered()) ShowTooltip("%s", tooltip);
    if (hasClose) {
        const ImVec2 closePos(pos.x + bodyWidth, pos.y);
        ImGui::SetCursorScreenPos(closePos);
        if (ImGui::InvisibleButton("x", ImVec2(closeWidth, height)) && closeClicked != nullptr) *closeClicked = true;
        const bool hovered = ImGui::IsItemHovered();
        const char* cross = "\xef\x80\x8d";  // U+F00D
        const ImVec2 crossSize = ImGui::CalcTextSize(cross);
        draw->AddText(ImVec2(closePos.x + (closeWidth - crossSize.x) * 0.5f, pos.y + (height - crossSize.y) * 0.5f),
                      hovered ? p.textPrimary : ColorWithAlpha(p.textMuted, 80), cross);
        if (hovered) {
            ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
            if (closeTooltip != nullptr) ShowTooltip("%s", closeTooltip);
        }
    }
    ImGui::PopID();
    return clicked;
}

}  // namespace korvel
