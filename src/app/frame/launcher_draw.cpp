#include "app/frame/launcher_draw.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "app/frame/fonts.h"
#include "app/frame/style.h"
#include "app/frame/title_bar.h"
#include "app/launcher.h"
#include "app/theme.h"
#include "app/title_bar.h"
#include "presets/preferences.h"
#include "project/app_state.h"

namespace korvel {

LauncherRects LastLauncherRects;

namespace {

LauncherRect LastItem() {
    const ImVec2 a = ImGui::GetItemRectMin();
    const ImVec2 b = ImGui::GetItemRectMax();
    return {a.x, a.y, b.x, b.y};
}

}  // namespace

namespace {

constexpr float kCardWidth = 460.0f;
constexpr float kCardHeight = 470.0f;
constexpr float kPadX = 36.0f;
constexpr float kPadY = 28.0f;

void PushFontIf(ImFont* font) {
    if (font != nullptr) ImGui::PushFont(font);
}
void PopFontIf(ImFont* font) {
    if (font != nullptr) ImGui::PopFont();
}

float MeasureText(std::string_view text) {
    return ImGui::CalcTextSize(text.data(), text.data() + text.size()).x;
}

void AddVerticalSpace(float height) { ImGui::SetCursorPosY(ImGui::GetCursorPosY() + height); }

// One recent project's row. False when the row dropped its project and the
// list must stop drawing for this frame.
bool DrawRecentRow(AppState& s, std::size_t index, float Y, float a, float small, ImFont* bodyFont,
                   ImFont* descriptionFont) {
    const ThemeColors& p = ThemePalette;
    const std::string path = s.recentProjects[index];
    const float rowWidth = ImGui::GetContentRegionAvail().x;
    const float rowHeight = small + a + 0.35f * Y;
    ImGui::PushID(static_cast<int>(index) + 8000);
    const ImVec2 top = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton("##r", ImVec2(rowWidth, rowHeight));
    const bool hovered = ImGui::IsItemHovered();
    const bool doubleClicked = hovered && ImGui::IsMouseDoubleClicked(0);
    if (index == 0) LastLauncherRects.firstRow = LastItem();
    ImGui::PopID();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (hovered) draw->AddRectFilled(top, ImVec2(top.x + rowWidth, top.y + rowHeight), p.surfaceHover, 0.15f * Y);
    if (index > 0)
        draw->AddLine(ImVec2(top.x + Y / 2.0f, top.y), ImVec2(top.x + rowWidth - Y / 2.0f, top.y),
                      ColorWithAlpha(p.border, 60));

    const float inner = rowWidth - Y;
    const float textTop = top.y + (rowHeight - (a + 0.1f * Y + small)) * 0.5f;
    const float left = top.x + Y / 2.0f;

    PushFontIf(descriptionFont);
    const std::string date = GetProjectModifiedDate(path);
    const float dateWidth = date.empty() ? 0.0f : std::ceil(MeasureText(date));
    const std::string description = FitTextWithEllipsis(GetProjectDescription(path), inner, MeasureText);
    if (!date.empty())
        draw->AddText(ImVec2(left + inner - dateWidth, textTop + (a - small) * 0.5f), p.textMuted, date.c_str());
    if (!description.empty()) draw->AddText(ImVec2(left, textTop + a + 0.1f * Y), p.textMuted, description.c_str());
    PopFontIf(descriptionFont);

    PushFontIf(bodyFont);
    const std::string name = FitTextWithEllipsis(ProjectNameFromPath(path), inner - dateWidth - 12.0f, MeasureText);
    draw->AddText(ImVec2(left, textTop), p.textPrimary, name.c_str());
    PopFontIf(bodyFont);

    if (!LauncherActionsEnabled(s)) {
        if (hovered) ShowTooltip("%s", kLauncherBusyTooltip);
        return true;
    }
    if (doubleClicked) return LauncherOpenRecent(s, index);
    return true;
}

void DrawCard(AppState& s) {
    const ThemeColors& p = ThemePalette;
    const ImGuiStyle& style = ImGui::GetStyle();
    ImFont* bodyFont = s.fonts.bodyFont;
    ImFont* smallFont = s.fonts.smallFont;
    ImFont* largeFont = s.fonts.largeFont;
    const int preset = std::clamp(s.fontSizePreset, 0, kFontSizePresets - 1);
    ImFont* descriptionFont = s.fonts.regular[static_cast<std::size_t>(preset)][0];
    if (descriptionFont == nullptr) descriptionFont = smallFont;

    PushFontIf(bodyFont);
    const float a = ImGui::GetFontSize();
    PopFontIf(bodyFont);
    PushFontIf(smallFont);
    const float small = ImGui::GetFontSize();
    PopFontIf(smallFont);
    const float Y = 1.4f * a;
    const float buttonHeight = style.FramePadding.y * 2.0f + small;
    const float innerWidth = kCardWidth - 2.0f * kPadX;
    const bool enabled = LauncherActionsEnabled(s);

    AddVerticalSpace(Y / 2.0f);
    PushFontIf(largeFont);
    DrawCenteredText(kCardWidth, TitleText(FontHasLogoGlyph(largeFont != nullptr ? largeFont : ImGui::GetFont())),
                     p.textSecondary);
    PopFontIf(largeFont);
    AddVerticalSpace(0.7f * Y);

    PushFontIf(smallFont);
    ImGui::SetCursorPosX(kPadX);
    ImGui::PushStyleColor(ImGuiCol_Text, p.textMuted);
    ImGui::TextUnformatted("RECENT");
    ImGui::PopStyleColor();
    PopFontIf(smallFont);
    AddVerticalSpace(0.15f * Y);

    const float below = 0.4f * Y + buttonHeight + 0.3f * Y + small + 2.0f + Y / 2.0f + kPadY;
    const float listHeight = std::max(Y, kCardHeight - ImGui::GetCursorPosY() - below);
    ImGui::SetCursorPosX(kPadX);
    ImGui::PushStyleColor(ImGuiCol_ChildBg, p.windowBg);
    ImGui::PushStyleColor(ImGuiCol_Border, p.windowBg);
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 0.25f * Y);
    ImGui::PushStyleVar(ImGuiStyleVar_ChildBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.15f * Y));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0.0f, 0.0f));
    if (ImGui::BeginChild("##launcher_list", ImVec2(innerWidth, listHeight), false,
                          ImGuiWindowFlags_AlwaysUseWindowPadding)) {
        if (s.recentProjects.empty()) {
            AddVerticalSpace(Y / 2.0f);
            PushFontIf(bodyFont);
            DrawCenteredText(innerWidth, "No recent projects", p.textMuted);
            PopFontIf(bodyFont);
        }
        for (std::size_t i = 0; i < s.recentProjects.size(); ++i)
            if (!DrawRecentRow(s, i, Y, a, small, bodyFont, descriptionFont)) break;
    }
    ImGui::EndChild();
    ImGui::PopStyleVar(4);
    ImGui::PopStyleColor(2);

    AddVerticalSpace(0.4f * Y);
    PushFontIf(smallFont);
    const float buttonWidth = (innerWidth - 0.3f * Y) / 2.0f;
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 0.15f * Y);
    ImGui::PushStyleColor(ImGuiCol_Button, p.surfaceHover);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.frameBgHovered);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, p.frameBgActive);
    ImGui::PushStyleColor(ImGuiCol_Text, p.textSecondary);
    const float buttonsY = ImGui::GetCursorPosY();
    if (!enabled) ImGui::BeginDisabled();
    ImGui::SetCursorPos(ImVec2(kPadX, buttonsY));
    const bool newClicked = ImGui::Button("New Project##lnch", ImVec2(buttonWidth, buttonHeight));
    LastLauncherRects.newButton = LastItem();
    if (!enabled) ShowItemTooltip("%s", kLauncherBusyTooltip);
    ImGui::SetCursorPos(ImVec2(kPadX + buttonWidth + 0.3f * Y, buttonsY));
    const bool openClicked = ImGui::Button("Open File\xe2\x80\xa6##lnch", ImVec2(buttonWidth, buttonHeight));
    LastLauncherRects.openButton = LastItem();
    if (!enabled) ShowItemTooltip("%s", kLauncherBusyTooltip);
    if (!enabled) ImGui::EndDisabled();
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar();

    AddVerticalSpace(0.3f * Y);
    ImGui::SetCursorPosX(kPadX);
    ImGui::PushStyleColor(ImGuiCol_FrameBg, p.frameBg);
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, p.frameBgHovered);
    ImGui::PushStyleColor(ImGuiCol_CheckMark, p.checkMark);
    ImGui::PushStyleColor(ImGuiCol_Text, p.textMuted);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1.0f, 1.0f));
    bool hide = !s.showLauncherOnStartup;
    if (ImGui::Checkbox("Don't show on startup", &hide)) {
        s.showLauncherOnStartup = !hide;
        SavePrefs();
    }
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor(4);
    PopFontIf(smallFont);

    // Acted on last, so the card's own drawing finished with the state it began with.
    if (newClicked) LauncherNewProject(s);
    if (openClicked) LauncherOpenFile(s);
}

}  // namespace

void DrawLauncher(const UILayout& layout) {
    AppState& s = GlobalAppState;
    if (!s.launcherOpen || s.launcherDismissed) return;
    const ImVec2 display(layout.displayWidth, layout.displayHeight);
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(display);
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(0, 0, 0, 128));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                   ImGuiWindowFlags_NoNav | ImGuiWindowFlags_NoSavedSettings;
    ImGui::Begin("##card_modal", nullptr, flags);
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();

    const ImVec2 card((layout.displayWidth - kCardWidth) * 0.5f, (layout.displayHeight - kCardHeight) * 0.5f);
    LastLauncherRects.card = {card.x, card.y, card.x + kCardWidth, card.y + kCardHeight};
    // Taken before the card draws, so a click that closes nothing inside the
    // card is told apart from one around it.
    const ImVec2 mouse = ImGui::GetIO().MousePos;
    const bool outside = mouse.x < card.x || mouse.y < card.y || mouse.x >= card.x + kCardWidth ||
                         mouse.y >= card.y + kCardHeight;
    const bool clickedOutside = outside && ImGui::IsMouseClicked(0) && ImGui::IsWindowHovered();

    ImGui::SetCursorPos(card);
    const ThemeColors& p = ThemePalette;
    ImGui::PushStyleColor(ImGuiCol_ChildBg, p.barBg);
    ImGui::PushStyleColor(ImGuiCol_Border, p.barBg);
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 8.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_ChildBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(kPadX, kPadY));
    if (ImGui::BeginChild("##card_inner", ImVec2(kCardWidth, kCardHeight), false,
                          ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                              ImGuiWindowFlags_AlwaysUseWindowPadding)) {
        ImGui::PopStyleVar(3);
        ImGui::PopStyleColor(2);
        DrawCard(s);
    } else {
        ImGui::PopStyleVar(3);
        ImGui::PopStyleColor(2);
    }
    ImGui::EndChild();

    if (clickedOutside || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) CloseLauncher(s);
    ImGui::End();
}

}  // namespace korvel
