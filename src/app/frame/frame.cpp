#include "app/frame/frame.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/frame/title_bar.h"
#include "app/ui_layout.h"
#include "picture/video_player.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

bool SuppressKeyboardNav = false;

void NewUiFrame() {
    ImGuiIO& io = ImGui::GetIO();
    const bool navOn = (io.ConfigFlags & ImGuiConfigFlags_NavEnableKeyboard) != 0;
    if (SuppressKeyboardNav && navOn) io.ConfigFlags &= ~ImGuiConfigFlags_NavEnableKeyboard;
    ImGui::NewFrame();
    if (navOn) io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
}

void DrawUI() {
    SuppressKeyboardNav = false;
    ApplyTheme();
    const ImGuiIO& io = ImGui::GetIO();
    const float width = io.DisplaySize.x;
    const float height = io.DisplaySize.y;
    AdvanceUiClock(io.DeltaTime);

    RunFrameWork(io.DeltaTime, io.MouseDown[0]);

    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(width, height));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBringToFrontOnFocus |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    const bool open = ImGui::Begin("##main", nullptr, flags);
    ImGui::PopStyleVar();
    if (open) {
        // Spacing follows the font preset: 8 × 4 at the 18-unit body font.
        const float f = ImGui::GetFontSize();
        ImGuiStyle& style = ImGui::GetStyle();
        style.FramePadding = ImVec2(std::round(f * 8.0f / 18.0f), std::round(f * 4.0f / 18.0f));
        style.ItemSpacing = style.FramePadding;
        UILayoutInputs in;
        in.displayWidth = width;
        in.displayHeight = height;
        in.fontSize = ImGui::GetFontSize();
        in.captionButtons = static_cast<bool>(GlobalAppState.platformHooks.drawCaptionButtons);
        in.hasVideo = GlobalVideoPlayer.loaded && GlobalVideoPlayer.frameView != nullptr;
        in.videoPixelWidth = static_cast<float>(GlobalVideoPlayer.width);
        in.videoPixelHeight = static_cast<float>(GlobalVideoPlayer.height);
        const UILayout layout = ComputeUILayout(in);
        DrawTitleBar(layout);
        DrawVideoArea(layout);
        DrawMainPanel(layout);
        if (layout.timelineHeight > 0.0f) DrawTimeline(ImGui::GetWindowDrawList(), layout);
    }
    ImGui::End();
    FrameEndOfFrame();
}

}  // namespace korvel
