#include "app/frame/title_bar.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/frame/fonts.h"
#include "app/frame/style.h"
#include "app/theme.h"
#include "app/title_bar.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"

// [SECTION] Title bar
// [SECTION] Video area
// [SECTION] Tab dispatch

namespace korvel {

float tabLabelBlend = 1.0f;
std::array<MainPanelFn, 6> MainTabPanels = {};

const char* TitleText(bool fontHasLogo) { return fontHasLogo ? "\xee\x90\x80  Korvel" : "Korvel"; }

// [SECTION] Title bar

namespace {

struct MainTab {
    const char* label;  // icon, two spaces, name
    int index;
};
// Right to left.
constexpr MainTab kTabs[6] = {
    {"\xef\x87\x9e  Settings", 5}, {"\xee\x82\x9a  Export", 4}, {"\xee\x94\x9e  Library", 2},
    {"\xef\x80\xa8  Mixer", 3},    {"\xef\x85\x80  Trace", 1},  {"\xef\x97\xbd  Events", 0},
};

ImFont* FontOr(ImFont* font) { return font != nullptr ? font : ImGui::GetFont(); }

struct TabButtonState {
    bool fullLabels = true;
    float pad = 0.0f;
    float compact = 0.0f;
    float* x = nullptr;
    float y = 0.0f;
    float height = 0.0f;
    ImDrawList* draw = nullptr;
};

// Returns whether it was clicked; x moves left by the button's width.
bool DrawMainTabButton(TabButtonState& st, const char* label, int index, bool enabled) {
    const AppState& s = GlobalAppState;
    const ThemeColors& p = ThemePalette;
    const std::string full(label);
    const std::size_t gap = full.find("  ");
    const std::string icon = full.substr(0, std::min<std::size_t>(gap, 15));
    const char* name = gap == std::string::npos ? label : label + gap + 2;
    const float fullWidth = 2.0f * st.pad + ImGui::CalcTextSize(label).x;
    const float width = st.compact + (fullWidth - st.compact) * tabLabelBlend;
    *st.x -= width;
    ImGui::SetCursorPos(ImVec2(*st.x, st.y));
    char caption[96];
    std::snprintf(caption, sizeof(caption), "%s##tab%d", st.fullLabels ? label : icon.c_str(), index);
    if (!enabled) {
        ImGui::PushStyleColor(ImGuiCol_Text, ColorWithAlpha(p.textMuted, (p.textMuted >> 24) / 2));
        ImGui::BeginDisabled();
    }
    const bool clicked = ImGui::Button(caption, ImVec2(width, st.height));
    if (!enabled) {
        ImGui::EndDisabled();
        PopColors1();
    }
    if (!st.fullLabels && ImGui::IsItemHovered()) ShowTooltip("%s", name);
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    if (s.activeTab == index || (index == 0 && (s.activeTab < 0 || s.activeTab > 5)))
        st.draw->AddRectFilled(ImVec2(min.x, max.y - 2.0f), max, p.accent);
    return clicked && enabled;
}

void DrawTabBadges(ImDrawList* draw, int index, ImVec2 min, ImVec2 max) {
    const AppState& s = GlobalAppState;
    const float size = ImGui::GetFontSize() * 0.7f;
    const float top = min.y + size - 6.0f;
    const std::uint32_t color = ThemePalette.attention;
    if (index == 5 && s.updateInfo.updateAvailable && s.updateInfo.version != s.dismissedUpdateVersion) {
        draw->AddText(ImGui::GetFont(), size, ImVec2(max.x - 12.0f, top), color, "\xef\x83\xb3");
    } else if (index == 2 && !s.MissingSources.empty()) {
        char count[16];
        std::snprintf(count, sizeof(count), "%d", static_cast<int>(s.MissingSources.size()));
        const float w = ImGui::GetFont()->CalcTextSizeA(size, FLT_MAX, 0.0f, count).x;
        draw->AddText(ImGui::GetFont(), size, ImVec2(max.x - 6.0f - w, top), color, count);
    }
}

void DrawVerticalRule(ImDrawList* draw, ImVec2 origin, float x, float height, std::uint32_t color) {
    draw->AddLine(ImVec2(origin.x + x, origin.y + 6.0f), ImVec2(origin.x + x, origin.y + height - 6.0f), color);
}

float DrawUnsavedPrompt(float x, float th, ImVec2 origin, ImDrawList* draw) {
    AppState& s = GlobalAppState;
    const ThemeColors& p = ThemePalette;
    ImGui::PushFont(FontOr(s.fonts.smallFont));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
    const char* word = "Unsaved";
    const ImVec2 ws = ImGui::CalcTextSize(word);
    draw->AddText(ImVec2(origin.x + x, origin.y + 4.0f + (th - 8.0f - ws.y) * 0.5f),
                  ColorWithAlpha(p.textMuted, 130), word);
    x += ws.x + 8.0f;
    const float bh = th - 8.0f;

    ImGui::SetCursorPos(ImVec2(x, 4.0f));
    ImGui::PushStyleColor(ImGuiCol_Button, p.accent);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.accentDim);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, p.accentDim);
    ImGui::PushStyleColor(ImGuiCol_Text, IM_COL32(0, 0, 0, 255));
    const bool save = ImGui::Button("Save##cnf", ImVec2(56.0f, bh));
    ImGui::PopStyleColor(4);

    ImGui::SetCursorPos(ImVec2(x + 60.0f, 4.0f));
    ImGui::PushStyleColor(ImGuiCol_Button, p.buttonBg);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.buttonHovered);
    const bool discard = ImGui::Button("Discard##cnf", ImVec2(56.0f, bh));
    ImGui::PopStyleColor(2);

    ImGui::SetCursorPos(ImVec2(x + 120.0f, 4.0f));
    ImGui::PushStyleColor(ImGuiCol_Button, 0);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.buttonHovered);
    const bool cancel = ImGui::Button("##cnfx", ImVec2(bh, bh));
    ImGui::PopStyleColor(2);
    {
        const ImVec2 min = ImGui::GetItemRectMin();
        const char* cross = "\xef\x80\x8d";  // U+F00D
        const ImVec2 cs = ImGui::CalcTextSize(cross);
        draw->AddText(ImVec2(min.x + (bh - cs.x) * 0.5f, min.y + (bh - cs.y) * 0.5f), p.textSecondary, cross);
    }
    ImGui::PopStyleVar();
    ImGui::PopFont();

    // Acted on after drawing: Save may open a dialog that blocks the frame.
    if (save) {
        UnsavedPromptSave(s);
    } else if (discard) {
        UnsavedPromptDiscard(s);
    } else if (cancel) {
        UnsavedPromptCancel(s);
    }
    return x + 120.0f + bh + 2.0f;
}

}  // namespace

void DrawTitleBar(const UILayout& layout) {
    AppState& s = GlobalAppState;
    WindowChrome& chrome = s.windowChrome;
    const ThemeColors& p = ThemePalette;
    const float W = layout.displayWidth;
    const float th = layout.titleBarHeight;
    const float F = layout.fontSize;
    const double dt = ImGui::GetIO().DeltaTime;

    ImDrawList* mainDraw = ImGui::GetWindowDrawList();
    const ImVec2 mainPos = ImGui::GetWindowPos();
    mainDraw->AddRectFilled(mainPos, ImVec2(mainPos.x + W, mainPos.y + th), p.barBg);
    mainDraw->AddLine(ImVec2(mainPos.x, mainPos.y + th - 1.0f), ImVec2(mainPos.x + W, mainPos.y + th - 1.0f),
                      p.border);
    ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
    ImGui::BeginChild("##title", ImVec2(W, th), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();

    // Title and the about button.
    ImFont* titleFont = FontOr(s.fonts.mediumFont);
    ImGui::PushFont(titleFont);
    const char* title = TitleText(FontHasLogoGlyph(titleFont));
    const float textWidth = ImGui::CalcTextSize(title).x;
    const float pad = chrome.titleLeftPad;
    ImGui::SetCursorPos(ImVec2(pad, 0.0f));
    if (ImGui::InvisibleButton("##aboutbtn", ImVec2(textWidth + 24.0f, th))) s.aboutOpen = !s.aboutOpen;
    const bool titleHovered = ImGui::IsItemHovered();
    if (titleHovered)
        draw->AddRectFilled(ImVec2(origin.x + pad, origin.y + 2.0f),
                            ImVec2(origin.x + pad + textWidth + 24.0f, origin.y + th - 2.0f),
                            IM_COL32(255, 255, 255, 8), 4.0f);
    draw->AddText(ImVec2(origin.x + pad + 4.0f, origin.y + th * 0.5f - ImGui::GetFontSize() * 0.5f),
                  titleHovered ? p.textPrimary : p.textSecondary, title);
    ImGui::PopFont();

    float x = textWidth + 24.0f + pad;
    if (s.platformHooks.drawMenuButton) s.platformHooks.drawMenuButton(x, th);
    chrome.dragLeft = x;
    chrome.titleHeight = th;

    // The strip's room decides, before the name takes its share, whether
    // the tabs show their names.
    const bool prompt = s.unsavedPromptState == 1;
    ImGui::PushFont(FontOr(s.fonts.smallFont));
    const float tabPad = 0.9f * F;
    float needed = 0.0f;
    for (const MainTab& tab : kTabs) needed += 2.0f * tabPad + ImGui::CalcTextSize(tab.label).x;
    ImGui::PopFont();
    const float compact = std::round(th);
    const float right = W - 12.0f;
    const bool fit = TabLabelsFit({W, chrome.captionButtonsWidth, x, needed, prompt});
    chrome.animating = !StepBlend(tabLabelBlend, fit ? 1.0f : 0.0f, 13.0f, dt);
    const bool fullLabels = tabLabelBlend > 0.55f;

    if (!s.projectPath.empty()) {
        DrawVerticalRule(draw, origin, x, th, ColorWithAlpha(p.border, 60));
        ImGui::PushFont(titleFont);
        const float strip = TabStripWidth(needed, compact, tabLabelBlend);
        const float available = std::max(
            right - chrome.captionButtonsWidth - strip - 12.0f - (prompt ? 210.0f : 0.0f) - (x + 10.0f), 24.0f);
        const std::string name = FitTextWithEllipsis(ProjectNameFromPath(s.projectPath), available,
                                                     [](std::string_view t) {
                                                         return ImGui::CalcTextSize(t.data(), t.data() + t.size()).x;
                                                     });
        const ImVec2 size = ImGui::CalcTextSize(name.c_str());
        draw->AddText(ImVec2(origin.x + x + 10.0f, origin.y + (th - size.y) * 0.5f),
                      ColorWithAlpha(p.textSecondary, 160), name.c_str());
        ImGui::PopFont();
        x += 10.0f + size.x + 10.0f;
    }

    x += 10.0f;
    if (prompt) x = DrawUnsavedPrompt(x, th, origin, draw);
    if (prompt || !chrome.customTitleBar) {
        DrawVerticalRule(draw, origin, x + 2.0f, th, ColorWithAlpha(p.border, 120));
        x += 8.0f;
        if (prompt) chrome.dragLeft = x;
    }

    RunTitleBarServices(s, dt);

    // Tabs, right to left.
    ImGui::PushFont(FontOr(s.fonts.smallFont));
    ImGui::PushStyleColor(ImGuiCol_Button, 0);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.buttonHovered);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, p.buttonBg);
    ImGui::PushStyleColor(ImGuiCol_Text, p.textPrimary);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 0.0f);
    float tabX = right - chrome.captionButtonsWidth;
    TabButtonState st{fullLabels, tabPad, compact, &tabX, 0.0f, th, draw};
    int clickedTab = -1;
    for (const MainTab& tab : kTabs) {
        if (DrawMainTabButton(st, tab.label, tab.index, true)) clickedTab = tab.index;
        DrawTabBadges(draw, tab.index, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
    }
    ImGui::PopStyleVar();
    ImGui::PopStyleColor(4);
    ImGui::PopFont();
    if (clickedTab >= 0) ClickMainTab(s, clickedTab);

    chrome.dragRight = tabX;
    if (s.platformHooks.drawCaptionButtons) s.platformHooks.drawCaptionButtons(th);
    ImGui::EndChild();
}

// [SECTION] Video area

void DrawVideoArea(const UILayout& layout) {
    AppState& s = GlobalAppState;
    const ThemeColors& p = ThemePalette;
    VideoPlayer& video = GlobalVideoPlayer;
    const float vw = layout.videoWidth;
    const float vh = layout.topAreaHeight;
    ImGui::SetCursorPos(ImVec2(0.0f, layout.titleBarHeight));
    ImGui::BeginChild("##video_area", ImVec2(vw, vh), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 min = ImGui::GetWindowPos();
    const ImVec2 max(min.x + vw, min.y + vh);
    draw->AddRectFilled(min, max, p.videoBg);
    draw->AddLine(ImVec2(max.x - 1.0f, min.y), ImVec2(max.x - 1.0f, max.y), p.border);
    if (s.dropState.hoverVideo)
        draw->AddRect(ImVec2(min.x + 3.0f, min.y + 3.0f), ImVec2(max.x - 3.0f, max.y - 3.0f),
                      ColorWithAlpha(p.accent, 180), 6.0f, 0, 2.0f);

    if (layout.hasVideo && video.width > 0 && video.height > 0 && vh > 0.0f) {
        if (!s.playing) video.Seek(s.playhead);
        const float a = static_cast<float>(video.width) / static_cast<float>(video.height);
        ImVec2 size = a > vw / vh ? ImVec2(vw, vw / a) : ImVec2(vh * a, vh);
        const ImVec2 at(min.x + (vw - size.x) * 0.5f, min.y + (vh - size.y) * 0.5f);
        const ImVec2 to(at.x + size.x, at.y + size.y);
        // Outside the video's span the last frame would be wrong: black.
        if (s.playhead >= video.timelineOffset && s.playhead <= video.timelineOffset + video.duration)
            draw->AddImage(reinterpret_cast<ImTextureID>(video.frameView), at, to);
        else
            draw->AddRectFilled(at, to, IM_COL32(0, 0, 0, 255));

        ImGui::PushFont(FontOr(s.fonts.smallFont));
        char info[96];
        std::snprintf(info, sizeof(info), "%dx%d  %.1ffps  %.1fs", video.width, video.height,
                      static_cast<double>(video.fps), static_cast<double>(video.duration));
        draw->AddText(ImVec2(min.x + 6.0f, max.y - 16.0f), ColorWithAlpha(p.textMuted, 60), info);
        ImGui::PopFont();

        ImGui::SetCursorPos(ImVec2(vw - 22.0f, 4.0f));
        ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.0f, 0.0f, 0.0f, 0.3f));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.3f, 0.1f, 0.1f, 0.6f));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.4f, 0.1f, 0.1f, 0.8f));
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.7f, 0.7f, 0.6f));
        if (ImGui::SmallButton("\xc3\x97##unloadvideo")) {
            s.playing = false;
            LivePlaybackEngine.playing.store(false);
            s.videoChangePending = true;  // the next frame closes it
        }
        ImGui::PopStyleColor(4);
        ShowItemTooltip("Unload video from project");
    } else {
        ImGui::PushFont(FontOr(s.fonts.largeFont));
        const char* film = "\xef\x80\x88";  // U+F008
        const ImVec2 size = ImGui::CalcTextSize(film);
        const ImVec2 local((vw - size.x) * 0.5f, vh * 0.5f - size.y * 0.5f);
        ImGui::SetCursorPos(local);
        const bool clicked = ImGui::InvisibleButton("##loadVideoIcon", ImVec2(std::max(size.x, 1.0f), std::max(size.y, 1.0f)));
        const bool held = ImGui::IsItemActive();
        const bool hovered = ImGui::IsItemHovered();
        const std::uint32_t color = held      ? p.textPrimary
                                    : hovered ? ColorWithAlpha(p.textSecondary, 200)
                                              : ColorWithAlpha(p.textMuted, 80);
        draw->AddText(ImVec2(min.x + local.x, min.y + local.y), color, film);
        ImGui::PopFont();
        if (hovered) ShowTooltip("Load video (or drag and drop)");
        if (clicked && s.platformHooks.openVideoDialog) {
            // Handed over as a drop, which the next frame loads.
            std::string path = s.platformHooks.openVideoDialog();
            if (!path.empty()) s.dropState.droppedVideo = std::move(path);
        }
    }
    ImGui::EndChild();
}

// [SECTION] Tab dispatch

void DrawMainPanel(const UILayout& layout) {
    AppState& s = GlobalAppState;
    DropState& drop = s.dropState;
    const float top = layout.titleBarHeight;
    const float bottom = top + layout.topAreaHeight;
    const bool inTopRows = drop.dropY >= top && drop.dropY < bottom;
    drop.dropOverLibrary = drop.hoverAudio && s.activeTab == 2 && drop.dropX >= layout.videoWidth && inTopRows;
    const Project& project = CurrentProject;
    const bool bedSelected = s.selectedEvent >= 0 && s.selectedEvent < static_cast<int>(project.events.size()) &&
                             IsKind(project.events[static_cast<std::size_t>(s.selectedEvent)].shape, EventKind::Bed);
    drop.dropOverInspector = drop.hoverAudio && bedSelected && s.activeTab == 0 && inTopRows &&
                             drop.dropX >= layout.videoWidth &&
                             drop.dropX < layout.videoWidth + layout.panelHalfWidth;

    const int tab = s.activeTab >= 1 && s.activeTab <= 5 ? s.activeTab : 0;
    ImGui::SetCursorPos(ImVec2(layout.videoWidth, top));
    if (MainTabPanels[static_cast<std::size_t>(tab)] != nullptr)
        MainTabPanels[static_cast<std::size_t>(tab)](ImGui::GetWindowDrawList(), layout);
}

}  // namespace korvel
