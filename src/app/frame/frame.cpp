#include "app/frame/frame.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/frame/about_box.h"
#include "app/frame/command_actions.h"
#include "app/frame/footer_draw.h"
#include "app/frame/job_overlays.h"
#include "app/frame/launcher_draw.h"
#include "app/frame/menu.h"
#include "app/frame/title_bar.h"
#include "app/frame/transport_bar.h"
#include "app/ui_layout.h"
#include "picture/video_player.h"
#include "app/theme.h"
#include "project/app_state.h"
#include "ui/panels/missing_sources_card.h"
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

namespace {

// UI thread: whether the UI was let go for the job that is running.
bool UiReleasedForJob = false;

// Nothing the pointer or a menu holds may act on the project under a job:
// open popups close and the active widget lets go, once, in the frame the
// job starts.
void ReleaseUiForJob() {
    const bool active = GlobalAppState.backgroundJob.active.load();
    if (active && !UiReleasedForJob) {
        ImGuiContext& g = *GImGui;
        if (!g.OpenPopupStack.empty()) ImGui::ClosePopupToLevel(0, false);
        ImGui::ClearActiveID();
    }
    UiReleasedForJob = active;
}

// The keys and buttons released under an overlay never reached the UI
// library: it is told that none is held.
void ForgetHeldInput() {
    ImGuiIO& io = ImGui::GetIO();
    std::memset(io.MouseDown, 0, sizeof(io.MouseDown));
    std::memset(io.KeysDown, 0, sizeof(io.KeysDown));
    ImGui::ClearActiveID();
}

}  // namespace

void DrawUI() {
    SuppressKeyboardNav = false;
    ApplyTheme();
    const ImGuiIO& io = ImGui::GetIO();
    const float width = io.DisplaySize.x;
    const float height = io.DisplaySize.y;
    AdvanceUiClock(io.DeltaTime);

    FrameWork.escapePressed = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), true);
    InstallFrameCommandSteps();
    SetFrameKeyCommand(DecodeFrameKeys());
    const bool drawFrame = RunFrameWork(io.DeltaTime, io.MouseDown[0]);
    // A relink made while a job or an export ran finishes once both are done.
    ServeWaitingRelinkRefresh();
    const bool commandReleasedInput = TakeCommandInputRelease();
    if (FrameWork.jobEnded || commandReleasedInput) {
        FrameWork.jobEnded = false;
        ForgetHeldInput();
    }
    ReleaseUiForJob();
    if (!drawFrame) {
        DrawBusyOverlay();
        return;
    }

    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(ImVec2(width, height));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBringToFrontOnFocus |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    UILayout layout;
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
        layout = ComputeUILayout(in);
        DrawTitleBar(layout);
        DrawVideoArea(layout);
        DrawMainPanel(layout);
        DrawTransportBar(layout);
        if (layout.timelineHeight > 0.0f) DrawTimeline(ImGui::GetWindowDrawList(), layout);
        ImGui::SetCursorPos(ImVec2(0.0f, layout.displayHeight - layout.footerHeight));
        DrawFooter(layout);
    }
    ImGui::End();
    DrawAppMenu();
    if (open) {
        DrawLauncher(layout);
        DrawAboutBox(layout);
    }
    const BackgroundJob& job = GlobalAppState.backgroundJob;
    if (job.active.load() && job.revealBuildProgress) DrawLiveBlockOverlay();
    ReleaseUiForJob();
    FrameEndOfFrame();
}

}  // namespace korvel
