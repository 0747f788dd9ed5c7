// The title bar's menu button and caption buttons, drawn by the UI because
// the window has no system caption.
#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>

#include "app/shell.h"
#include "app/theme.h"
#include "platform/window/host.h"
#include "project/app_state.h"

namespace korvel {

namespace {

constexpr float kCaptionButtonWidth = 46.0f;

bool Maximised() {
    return MainWindowHandle != nullptr && (SDL_GetWindowFlags(MainWindowHandle) & SDL_WINDOW_MAXIMIZED) != 0;
}

void CaptionButtonClicked(int button) {
    switch (button) {
        case 0:
            if (MainWindowHandle != nullptr) SDL_MinimizeWindow(MainWindowHandle);
            break;
        case 1:
            if (MainWindowHandle == nullptr) break;
            if (Maximised()) {
                SDL_RestoreWindow(MainWindowHandle);
            } else {
                SDL_MaximizeWindow(MainWindowHandle);
            }
            break;
        default:
            // Closing goes through the frame, so the unsaved-changes prompt
            // still applies.
            GlobalAppState.CloseRequested = true;
            break;
    }
}

}  // namespace

float DrawMenuButton(float& x, float titleHeight) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    const float w = std::round(0.9f * titleHeight);
    ImGui::SetCursorPos(ImVec2(x, 0.0f));
    const bool clicked = ImGui::InvisibleButton("##hamburger", ImVec2(std::max(w, 1.0f), std::max(titleHeight, 1.0f)));
    const bool hovered = ImGui::IsItemHovered();
    if (hovered) {
        draw->AddRectFilled(ImVec2(origin.x + x + 3.0f, origin.y + 4.0f),
                            ImVec2(origin.x + x + w - 3.0f, origin.y + titleHeight - 4.0f), IM_COL32(255, 255, 255, 0x0C),
                            4.0f);
    }
    const float cx = origin.x + x + w / 2.0f;
    const float cy = origin.y + titleHeight / 2.0f;
    const float half = std::round(7.0f * UiScale);
    const float gap = std::round(4.0f * UiScale);
    const ImU32 colour = hovered ? ThemePalette.textPrimary : ThemePalette.textSecondary;
    const float thickness = std::max(UiScale, 1.0f);
    for (float dy : {-gap, 0.0f, gap}) {
        draw->AddLine(ImVec2(cx - half, cy + dy), ImVec2(cx + half, cy + dy), colour, thickness);
    }
    if (clicked) {
        PendingMenuPopup.requested = true;
        PendingMenuPopup.x = static_cast<int>((origin.x + x) * UiScale);
        PendingMenuPopup.y = static_cast<int>((origin.y + titleHeight) * UiScale);
    }
    x += w + std::round(4.0f * UiScale);
    return x;
}

int DrawCaptionButtons(float titleHeight) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    const float ww = ImGui::GetWindowWidth();
    const float thickness = std::max(UiScale, 1.0f);
    const bool maximised = Maximised();
    int hovered = 0;

    for (int i = 0; i < 3; ++i) {
        const float k = static_cast<float>(3 - i);
        const float left = ww - kCaptionButtonWidth * k;
        const ImVec2 a(origin.x + left, origin.y);
        const ImVec2 b(a.x + kCaptionButtonWidth, origin.y + titleHeight);

        ImGui::PushID(i);
        ImGui::SetCursorPos(ImVec2(left, 0.0f));
        const bool clicked = ImGui::InvisibleButton("##caption", ImVec2(kCaptionButtonWidth, std::max(titleHeight, 1.0f)));
        const bool isHovered = ImGui::IsItemHovered();
        ImGui::PopID();
        if (isHovered) {
            hovered = i + 1;
            draw->AddRectFilled(a, b, i == 2 ? Rgb(0xC42B1C) : ColorWithAlpha(ThemePalette.textPrimary, 0x16));
        }

        const float cx = std::floor((a.x + b.x) / 2.0f);
        const float cy = std::floor((a.y + b.y) / 2.0f);
        const ImU32 glyph = (i == 2 && isHovered) ? IM_COL32(255, 255, 255, 255) : ThemePalette.textSecondary;
        if (i == 0) {
            draw->AddLine(ImVec2(cx - 5.0f, cy), ImVec2(cx + 5.0f, cy), glyph, thickness);
        } else if (i == 1 && !maximised) {
            draw->AddRect(ImVec2(cx - 5.0f, cy - 5.0f), ImVec2(cx + 5.0f, cy + 5.0f), glyph, 0.0f, 0, thickness);
        } else if (i == 1) {
            draw->AddRect(ImVec2(cx - 3.0f, cy - 5.0f), ImVec2(cx + 5.0f, cy + 3.0f), glyph, 0.0f, 0, thickness);
            draw->AddRectFilled(ImVec2(cx - 5.0f, cy - 3.0f), ImVec2(cx + 3.0f, cy + 5.0f),
                                isHovered ? Rgb(0x2E2E34) : ThemePalette.barBg);
            draw->AddRect(ImVec2(cx - 5.0f, cy - 3.0f), ImVec2(cx + 3.0f, cy + 5.0f), glyph, 0.0f, 0, thickness);
        } else {
            draw->AddLine(ImVec2(cx - 5.0f, cy - 5.0f), ImVec2(cx + 5.0f, cy + 5.0f), glyph, thickness);
            draw->AddLine(ImVec2(cx - 5.0f, cy + 5.0f), ImVec2(cx + 5.0f, cy - 5.0f), glyph, thickness);
        }

        CaptionButtonRects[static_cast<std::size_t>(i)] =
            PixelRect{static_cast<int>(UiScale * left), 0, static_cast<int>(UiScale * (left + kCaptionButtonWidth)),
                      static_cast<int>(UiScale * titleHeight)};
        if (clicked) CaptionButtonClicked(i);
    }
    HoveredCaptionButton = hovered;
    return static_cast<int>(UiScale * (ww - kCaptionButtonWidth * 3.0f));
}

}  // namespace korvel
