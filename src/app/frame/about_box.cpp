#include "app/frame/about_box.h"

#include <imgui.h>

#include <cstdio>

#include "app/frame/style.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "project/project_file_format.h"

namespace korvel {

namespace {

constexpr float kBoxWidth = 420.0f;
constexpr float kBoxHeight = 238.0f;
constexpr float kLogoLeft = 40.0f;
constexpr float kLogoSize = 78.0f;

const ImGuiWindowFlags kPlainWindow = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                      ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoNav;

void CentredLine(const char* text, std::uint32_t color) { DrawCenteredText(kBoxWidth, text, color); }

}  // namespace

void DrawAboutBox(const UILayout& layout) {
    AppState& s = GlobalAppState;
    if (!s.aboutOpen) return;
    const ThemeColors& p = ThemePalette;
    bool close = false;

    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(layout.displayWidth, layout.displayHeight));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(0, 0, 0, 77));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin("##about_overlay", nullptr, kPlainWindow);
    if (ImGui::IsWindowHovered() && ImGui::IsMouseClicked(0)) close = true;
    ImGui::End();

    ImGui::SetNextWindowPos(ImVec2(layout.displayWidth * 0.5f, layout.displayHeight * 0.5f), ImGuiCond_Always,
                            ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(kBoxWidth, kBoxHeight));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(0, 0, 0, 247));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 8.0f);
    ImGui::Begin("##about", nullptr, kPlainWindow);
    if (ImGui::IsWindowHovered() && ImGui::IsMouseClicked(0)) close = true;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();

    if (s.logoTexture != nullptr)
        draw->AddImageRounded(reinterpret_cast<ImTextureID>(s.logoTexture),
                              ImVec2(origin.x + kLogoLeft, origin.y + kLogoLeft),
                              ImVec2(origin.x + kLogoLeft + kLogoSize, origin.y + kLogoLeft + kLogoSize),
                              ImVec2(0.0f, 0.0f), ImVec2(1.0f, 1.0f), IM_COL32_WHITE, 6.0f);

    ImFont* titleFont = s.fonts.aboutTitleFont != nullptr ? s.fonts.aboutTitleFont : s.fonts.largeFont;
    ImFont* smallFont = s.fonts.smallFont;
    if (titleFont != nullptr) ImGui::PushFont(titleFont);
    const float titleHeight = ImGui::GetFontSize();
    if (titleFont != nullptr) ImGui::PopFont();
    if (smallFont != nullptr) ImGui::PushFont(smallFont);
    const float smallHeight = ImGui::GetFontSize();
    if (smallFont != nullptr) ImGui::PopFont();

    const float textX = kLogoLeft + kLogoSize + 16.0f;
    const float titleY = kLogoLeft + (kLogoSize - (titleHeight + 4.0f + smallHeight)) * 0.5f;
    if (titleFont != nullptr) ImGui::PushFont(titleFont);
    draw->AddText(ImVec2(origin.x + textX, origin.y + titleY), IM_COL32_WHITE, "Korvel");
    if (titleFont != nullptr) ImGui::PopFont();

    if (smallFont != nullptr) ImGui::PushFont(smallFont);
    draw->AddText(ImVec2(origin.x + textX, origin.y + titleY + titleHeight + 4.0f), p.textMuted, kAboutTagline);
    ImGui::SetCursorPosY(142.0f);
    char version[64];
    std::snprintf(version, sizeof version, "Version %s", BuildVersion);
    CentredLine(version, p.textSecondary);
    ImGui::Spacing();
    CentredLine(kAboutMotto, p.textMuted);
    ImGui::Spacing();
    ImGui::Spacing();
    const float lineY = origin.y + ImGui::GetCursorPosY();
    draw->AddLine(ImVec2(origin.x + 24.0f, lineY), ImVec2(origin.x + kBoxWidth - 24.0f, lineY),
                  ColorWithAlpha(p.border, 100));
    ImGui::Spacing();
    ImGui::Spacing();
    CentredLine(kAboutNotice, ColorWithAlpha(p.textMuted, 140));
    if (smallFont != nullptr) ImGui::PopFont();

    ImGui::End();
    ImGui::PopStyleVar(3);
    ImGui::PopStyleColor(2);
    if (close) s.aboutOpen = false;
}

}  // namespace korvel
