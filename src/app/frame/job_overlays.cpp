#include "app/frame/job_overlays.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/background_job.h"
#include "app/theme.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"

namespace korvel {

float JobOverlayAlpha(double secondsSinceStart) {
    if (secondsSinceStart < 0.2) return 0.0f;
    return static_cast<float>(std::clamp((secondsSinceStart - 0.2) / 0.3, 0.0, 1.0));
}

OverlayRing JobOverlayRing(int k, double now, int baseAlpha) {
    OverlayRing ring;
    ring.phase = static_cast<float>(now / 2.0);
    const float s = std::sin(std::fmod(0.5235988f * static_cast<float>(k) + ring.phase, 1.5707964f));
    ring.radius = 100.0f * s;
    ring.alpha = static_cast<int>(static_cast<float>(baseAlpha) * (s > 0.5f ? 2.0f - 2.0f * s : 1.0f));
    if (ring.alpha < 2 || ring.radius < 0.5f) ring.alpha = 0;
    return ring;
}

std::string LiveBlockText(const char* label, int voicesRendered, int eventsDone, int eventTotal) {
    char text[160];
    if (eventTotal < 1)
        std::snprintf(text, sizeof text, "%s  %d clips", label, voicesRendered);
    else
        std::snprintf(text, sizeof text, "%s  event %d / %d  \xc2\xb7  %d clips", label, eventsDone, eventTotal,
                      voicesRendered);
    return text;
}

namespace {

void DrawRings(ImDrawList* draw, ImVec2 centre, double now, int baseAlpha) {
    for (int k = 0; k < 3; ++k) {
        const OverlayRing ring = JobOverlayRing(k, now, baseAlpha);
        if (ring.alpha == 0) continue;
        ImVec2 points[41];
        for (int j = 0; j <= 40; ++j) {
            const float angle = 0.15707964f * static_cast<float>(j) + ring.phase;
            points[j] = ImVec2(centre.x + ring.radius * std::cos(angle), centre.y + ring.radius * std::sin(angle));
        }
        draw->AddPolyline(points, 41, IM_COL32(255, 255, 255, ring.alpha), 0, 10.0f);
    }
}

void CentredText(ImDrawList* draw, float width, float y, std::uint32_t color, const char* text) {
    const float w = ImGui::CalcTextSize(text).x;
    draw->AddText(ImVec2((width - w) * 0.5f, y), color, text);
}

}  // namespace

void DrawBusyOverlay() {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    const ThemeColors& p = ThemePalette;
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const double now = UiClockSeconds();
    const float a = JobOverlayAlpha(now - job.startTime);
    const bool done = job.done.load(std::memory_order_acquire);
    const bool takesInput = job.cancellable && !done;

    ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                             ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                             ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoSavedSettings;
    if (!takesInput) flags |= ImGuiWindowFlags_NoInputs | ImGuiWindowFlags_NoNav;
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(display);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::Begin("##busy", nullptr, flags);
    ImGui::PopStyleVar();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    // The copy of the back buffer holds its bottom row first.
    if (job.snapshotView != nullptr)
        draw->AddImage(reinterpret_cast<ImTextureID>(job.snapshotView), ImVec2(0.0f, 0.0f), display,
                       ImVec2(0.0f, 1.0f), ImVec2(1.0f, 0.0f));
    draw->AddRectFilled(ImVec2(0.0f, 0.0f), display, ColorWithAlpha(p.busyBg, static_cast<int>(140.0f * a)));
    const float cy = display.y / 2.0f - 24.0f;
    if (a > 0.01f) DrawRings(draw, ImVec2(display.x / 2.0f, cy), now, static_cast<int>(220.0f * a));
    if (job.label[0] != '\0')
        CentredText(draw, display.x, cy + 116.0f, ColorWithAlpha(p.textSecondary, static_cast<int>(220.0f * a)),
                    job.label);
    const float progress = job.progress.load();
    const bool bar = progress >= 0.0f;
    if (bar) {
        const ImVec2 at(display.x / 2.0f - 100.0f, cy + 140.0f);
        draw->AddRectFilled(at, ImVec2(at.x + 200.0f, at.y + 3.0f),
                            ColorWithAlpha(p.surfaceHover, static_cast<int>(120.0f * a)), 2.0f);
        draw->AddRectFilled(at, ImVec2(at.x + std::clamp(progress, 0.0f, 1.0f) * 200.0f, at.y + 3.0f),
                            ColorWithAlpha(p.textSecondary, static_cast<int>(200.0f * a)), 2.0f);
    }
    if (takesInput && a > 0.5f) {
        ImGui::SetCursorPos(ImVec2(display.x / 2.0f - 40.0f, cy + 100.0f + (bar ? 56.0f : 40.0f)));
        ImGui::PushStyleColor(ImGuiCol_Button, p.buttonBg);
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.buttonHovered);
        ImGui::PushStyleColor(ImGuiCol_Text, p.textSecondary);
        if (ImGui::Button("Cancel", ImVec2(80.0f, 24.0f))) job.cancel.store(true);
        ImGui::PopStyleColor(3);
    }
    ImGui::End();
}

void DrawLiveBlockOverlay() {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    const ThemeColors& p = ThemePalette;
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const double now = UiClockSeconds();
    const float a = JobOverlayAlpha(now - job.startTime);
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(0, 0, 0, 0));
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(display);
    // It takes the pointer, so nothing under it can be clicked.
    ImGui::Begin("##liveblock", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar |
                     ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoNav |
                     ImGuiWindowFlags_NoSavedSettings);
    ImGui::PopStyleColor();
    if (a > 0.0f) {
        ImDrawList* draw = ImGui::GetWindowDrawList();
        const float cy = display.y / 2.0f - 24.0f;
        DrawRings(draw, ImVec2(display.x / 2.0f, cy), now, static_cast<int>(180.0f * a));
        if (job.label[0] != '\0') {
            const std::string text = LiveBlockText(job.label, LivePlaybackEngine.voicesRendered.load(),
                                                   job.jobEventsDone.load(), job.jobEventTotal);
            CentredText(draw, display.x, cy + 116.0f, ColorWithAlpha(p.textSecondary, static_cast<int>(200.0f * a)),
                        text.c_str());
        }
    }
    ImGui::End();
}

}  // namespace korvel
