#include "app/frame/frame.h"

#include <imgui.h>

#include <algorithm>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/ui_layout.h"
#include "picture/video_player.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

namespace {

// The window's title strip: the menu button, the draggable caption and the
// caption buttons. The full title bar with its tabs replaces it.
void DrawTitleStrip(const UILayout& layout) {
    AppState& state = GlobalAppState;
    WindowChrome& chrome = state.windowChrome;
    const float width = layout.displayWidth;
    const float titleHeight = layout.titleBarHeight;
    TickStatusLine(ImGui::GetIO().DeltaTime);
    ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(0.0f, 0.0f), ImVec2(width, titleHeight), ThemePalette.barBg);
    float x = chrome.titleLeftPad;
    ImGui::SetCursorPos(ImVec2(x, (titleHeight - ImGui::GetTextLineHeight()) / 2.0f));
    ImGui::TextUnformatted("Korvel");
    x += ImGui::CalcTextSize("Korvel").x + 24.0f;
    if (state.platformHooks.drawMenuButton) state.platformHooks.drawMenuButton(x, titleHeight);
    chrome.dragLeft = x;
    chrome.titleHeight = titleHeight;
    chrome.dragRight = std::max(x, width - chrome.captionButtonsWidth);
    if (state.platformHooks.drawCaptionButtons) state.platformHooks.drawCaptionButtons(titleHeight);
}

}  // namespace

void DrawUI() {
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
    if (ImGui::Begin("##main", nullptr, flags)) {
        UILayoutInputs in;
        in.displayWidth = width;
        in.displayHeight = height;
        in.fontSize = ImGui::GetFontSize();
        in.captionButtons = static_cast<bool>(GlobalAppState.platformHooks.drawCaptionButtons);
        in.hasVideo = GlobalVideoPlayer.loaded && GlobalVideoPlayer.frameView != nullptr;
        in.videoPixelWidth = static_cast<float>(GlobalVideoPlayer.width);
        in.videoPixelHeight = static_cast<float>(GlobalVideoPlayer.height);
        const UILayout layout = ComputeUILayout(in);
        DrawTitleStrip(layout);
        if (layout.timelineHeight > 0.0f) DrawTimeline(ImGui::GetWindowDrawList(), layout);
    }
    ImGui::End();
    FrameEndOfFrame();
}

}  // namespace korvel
