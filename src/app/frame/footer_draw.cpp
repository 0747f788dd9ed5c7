#include "app/frame/footer_draw.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>

#include "app/background_job.h"
#include "app/footer.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {
namespace {

// Returns the x where text beside the spinner starts.
float DrawSpinner(ImDrawList* draw, float x0, float middle, std::uint32_t color) {
    const float r = 0.35f * ImGui::GetFontSize();
    const float cx = x0 + 14.0f + r;
    const float t = static_cast<float>(UiClockSeconds());
    for (int k = 0; k < 8; ++k) {
        const float angle = static_cast<float>(k) * 0.78539816f + 4.0f * t;
        draw->AddCircleFilled(ImVec2(cx + r * std::cos(angle), middle + r * std::sin(angle)), 1.5f,
                              ColorWithAlpha(color, FooterSpinnerDotAlpha(k)));
    }
    return x0 + 14.0f + 2.0f * r + 8.0f;
}

}  // namespace

void DrawFooter(const UILayout& layout) {
    AppState& s = GlobalAppState;
    const ThemeColors& p = ThemePalette;
    ImFont* font = s.fonts.smallFont != nullptr ? s.fonts.smallFont : ImGui::GetFont();
    ImGui::PushFont(font);
    const ImVec2 cursor = ImGui::GetCursorScreenPos();
    const float x0 = cursor.x;
    const float y0 = cursor.y;
    const float w = layout.displayWidth;
    const float h = layout.footerHeight;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(ImVec2(x0, y0), ImVec2(x0 + w, y0 + h), p.barBg);
    draw->AddLine(ImVec2(x0, y0), ImVec2(x0 + w, y0), p.border);
    const float middle = y0 + h * 0.5f;
    const float textY = middle - ImGui::GetFontSize() * 0.5f;

    const BackgroundJob& job = s.backgroundJob;
    switch (FooterLeftCase(s, SoundLibrary)) {
        case FooterLeft::Export: {
            const float x = DrawSpinner(draw, x0, middle, p.textSecondary);
            draw->AddText(ImVec2(x, textY), p.textSecondary, s.exportStatus);
            const float progress = s.exportProgress.load();
            if (progress >= 0.0f) {
                const float bx = x + ImGui::CalcTextSize(s.exportStatus).x + 12.0f;
                const ImVec2 at(bx, middle - 1.5f);
                draw->AddRectFilled(at, ImVec2(bx + 120.0f, at.y + 3.0f), ColorWithAlpha(p.surfaceHover, 120), 2.0f);
                draw->AddRectFilled(at, ImVec2(bx + 120.0f * std::clamp(progress, 0.0f, 1.0f), at.y + 3.0f),
                                    ColorWithAlpha(p.textSecondary, 200), 2.0f);
            }
            break;
        }
        case FooterLeft::LiveBuild: {
            const float x = DrawSpinner(draw, x0, middle, p.accent);
            const std::string text = FooterBuildText(job, LivePlaybackEngine.voicesRendered.load());
            draw->AddText(ImVec2(x, textY), p.accent, text.c_str());
            break;
        }
        case FooterLeft::Scan: {
            const float x = DrawSpinner(draw, x0, middle, p.textSecondary);
            std::string text = "Scanning folder: ";
            {
                std::lock_guard<std::mutex> lock(SoundLibrary.scanStatusMutex);
                text += SoundLibrary.scanFolderName;
            }
            draw->AddText(ImVec2(x, textY), p.textSecondary, text.c_str());
            break;
        }
        case FooterLeft::Status:
            draw->AddText(ImVec2(x0 + 14.0f, textY),
                          ColorWithAlpha(StatusTextColor(s.statusMessage), StatusTextAlpha(s.statusTime)),
                          s.statusMessage.c_str());
            break;
        case FooterLeft::None:
            break;
    }

    const std::string summary = FooterSummary(static_cast<int>(CurrentProject.events.size()), s.projectSampleRate,
                                              CurrentProject.fps);
    const char* esc = "Esc to stop";
    const FooterRight right =
        PlaceFooterRight(x0, w, ImGui::CalcTextSize(summary.c_str()).x, ImGui::CalcTextSize(esc).x);
    draw->AddText(ImVec2(right.summaryX, textY), p.textMuted, summary.c_str());
    if (FooterShowsEscToStop(job)) draw->AddText(ImVec2(right.escX, textY), ColorWithAlpha(p.textMuted, 120), esc);

    ImGui::BeginChild("##footer", ImVec2(w, h), false, ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoInputs);
    ImGui::EndChild();
    ImGui::PopFont();
}

}  // namespace korvel
