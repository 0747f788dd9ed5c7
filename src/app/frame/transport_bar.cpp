#include "app/frame/transport_bar.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/frame/icon_glyphs.h"
#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "app/title_bar.h"
#include "app/transport.h"
#include "library/library.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "presets/chains.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/event_editing.h"
#include "project/project.h"
#include "ui/timeline/event_kind_icons.h"

// [SECTION] Colours and sizes
// [SECTION] Left group
// [SECTION] Centre group
// [SECTION] Right group
// [SECTION] The bar

namespace korvel {

TransportBarRects LastTransportBarRects;

namespace {

// [SECTION] Colours and sizes

constexpr const char* kIconPause = "\xef\x8a\x8b";     // U+F28B
constexpr const char* kIconPlay = "\xef\x85\x84";      // U+F144
constexpr const char* kIconStop = "\xef\x8a\x8d";      // U+F28D
constexpr const char* kIconBack = "\xef\x81\x88";      // U+F048
constexpr const char* kIconForward = "\xef\x81\x91";   // U+F051
constexpr const char* kIconVolume = "\xef\x80\xa8";    // U+F028

struct BarColors {
    bool dark = true;
    std::uint32_t primary = 0, secondary = 0, muted = 0;
};

// A dark bar keeps fixed greys whatever the theme's text colours are.
BarColors GetBarColors(const ThemeColors& p) {
    BarColors c;
    c.dark = ((p.transportBg >> 8) & 0xFFu) < 128u;
    c.primary = c.dark ? Rgb(0xD2D2D2) : p.textPrimary;
    c.secondary = c.dark ? Rgb(0x91919B) : p.textSecondary;
    c.muted = c.dark ? Rgb(0x5F5F69) : p.textMuted;
    return c;
}

struct BarSizes {
    float P, S, B, g1, g2, square, q, Wb, h, Wv, Hv;
};

BarSizes GetBarSizes(float F) {
    const ImGuiStyle& style = ImGui::GetStyle();
    BarSizes z{};
    z.P = std::max(1.6f * F, 26.0f);
    z.S = std::max(1.25f * F, 20.0f);
    z.B = std::max(1.35f * F, 22.0f);
    z.g1 = std::max(0.4f * F, 6.0f);
    z.g2 = std::max(0.5f * F, 8.0f);
    z.square = std::round(2.0f * style.FramePadding.y + ImGui::GetFontSize());
    z.q = 0.25f * F;
    z.Wb = std::max(7.5f * F, 80.0f);
    z.h = 2.0f * style.FramePadding.y + ImGui::GetFontSize();
    z.Wv = std::max(5.0f * F, 60.0f);
    z.Hv = std::max(1.1f * F, 16.0f);
    return z;
}

TransportRect LastItemRect() {
    const ImVec2 a = ImGui::GetItemRectMin();
    const ImVec2 b = ImGui::GetItemRectMax();
    return {a.x, a.y, b.x, b.y};
}

float TextWidthIn(ImFont* font, const char* text) {
    if (font != nullptr) ImGui::PushFont(font);
    const float w = ImGui::CalcTextSize(text).x;
    if (font != nullptr) ImGui::PopFont();
    return w;
}

// A glyph centred on the last item.
void DrawGlyphOnItem(ImDrawList* draw, ImFont* font, const char* glyph, std::uint32_t color) {
    if (font != nullptr) ImGui::PushFont(font);
    const ImVec2 size = ImGui::CalcTextSize(glyph);
    const ImVec2 a = ImGui::GetItemRectMin();
    const ImVec2 b = ImGui::GetItemRectMax();
    draw->AddText(ImVec2(std::floor((a.x + b.x - size.x) * 0.5f), std::floor((a.y + b.y - size.y) * 0.5f)), color,
                  glyph);
    if (font != nullptr) ImGui::PopFont();
}

// [SECTION] Left group

void DrawPresetPopup(const UILayout& layout) {
    const float F = layout.fontSize;
    const float width = std::max(14.0f * F, 180.0f);
    ImGui::SetNextWindowSizeConstraints(ImVec2(width, 0.0f), ImVec2(width, layout.displayHeight * 0.5f));
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##toolbarPresets")) {
        const std::uint32_t header = ColorWithAlpha(ThemePalette.textMuted, 120);
        if (RecipeList.empty() && ChainList.empty()) {
            ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(ThemePalette.textMuted), "No recipes or chains saved");
        }
        if (!RecipeList.empty()) {
            ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(header), "Recipes");
            ImGui::Separator();
            for (std::size_t i = 0; i < RecipeList.size(); ++i) {
                const EventPreset& recipe = RecipeList[i];
                const std::int32_t kind = std::clamp(recipe.shape, 0, 6);
                ImGui::PushID(static_cast<int>(i));
                if (IconMenuItem(EventKindIcon(kind), recipe.name, kind)) {
                    PlaceRecipeAtPlayhead(static_cast<std::int32_t>(i));
                    ImGui::CloseCurrentPopup();
                }
                ImGui::PopID();
            }
        }
        if (!RecipeList.empty() && !ChainList.empty()) ImGui::Spacing();
        if (!ChainList.empty()) {
            ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(header), "Chains");
            ImGui::Separator();
            for (std::size_t i = 0; i < ChainList.size(); ++i) {
                const Chain& chain = ChainList[i];
                char label[128];
                std::snprintf(label, sizeof label, "%s  \xc2\xb7 %d events##chain%d", chain.name,
                              static_cast<int>(chain.entries.size()), static_cast<int>(i));
                if (ImGui::Selectable(label)) PlaceChainAtPlayhead(static_cast<std::int32_t>(i));
            }
        }
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

void DrawMaterialPopup() {
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##toolbarMaterial")) {
        if (ImGui::MenuItem("\xef\x91\xb8  Clip \xe2\x80\x94 one audio file")) PlaceAudioFileAtPlayhead();
        if (ImGui::MenuItem("\xef\x80\xb9  Bed \xe2\x80\x94 fixed background layers")) InsertBedAtPlayhead();
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

void DrawLeftGroup(const UILayout& layout, const BarSizes& z, const BarColors& colors, float barHeight,
                   float transportWidth) {
    AppState& s = GlobalAppState;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float F = layout.fontSize;
    ImDrawList* draw = ImGui::GetWindowDrawList();

    const bool disabled = TransportLeftGroupDisabled(s);
    if (disabled) ImGui::BeginDisabled();

    char contour[64];
    std::snprintf(contour, sizeof contour, "%s  %s", EventKindIcon(2), EventKindNames[2]);
    const float bw = 2.0f * style.FramePadding.x + ImGui::CalcTextSize(contour).x;
    const bool fits = TransportLabelsFit(layout.displayWidth, F, bw, z.square, transportWidth);
    if (!StepBlend(transportLabelBlend, fits ? 1.0f : 0.0f, 13.0f, ImGui::GetIO().DeltaTime))
        s.windowChrome.animating = true;
    const bool labels = transportLabelBlend > 0.55f;

    const float y = std::floor((barHeight - z.square) * 0.5f);
    float x = 12.0f;
    for (int k = 0; k < 4; ++k) {
        const float width = z.square + (bw - z.square) * transportLabelBlend;
        ImGui::SetCursorPos(ImVec2(x, y));
        ImGui::PushStyleColor(ImGuiCol_Button, GetEventKindColor(k, 71));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, GetEventKindColor(k, 107));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, GetEventKindColor(k, 140));
        ImGui::PushStyleColor(ImGuiCol_Text, GetEventKindColor(k, 255));
        char label[64];
        if (labels) std::snprintf(label, sizeof label, "%s  %s##shp%d", EventKindIcon(k), EventKindNames[k], k);
        else std::snprintf(label, sizeof label, "##shp%d", k);
        const bool clicked = ImGui::Button(label, ImVec2(width, z.square));
        ImGui::PopStyleColor(4);
        if (!labels) DrawGlyphOnItem(draw, nullptr, EventKindIcon(k), GetEventKindColor(k, 255));
        LastTransportBarRects.shapes[static_cast<std::size_t>(k)] = LastItemRect();
        if (clicked) AddShapeEventAtPlayhead(s, CurrentProject, k);
        ShowItemTooltip("Add %s event at playhead", EventKindNames[k]);
        x += width + z.q;
    }
    x += 0.75f * F - z.q;

    PushToolbarButtonColors();
    ImGui::PushStyleColor(ImGuiCol_Text, colors.primary);
    ImGui::SetCursorPos(ImVec2(x, y));
    const bool material = ImGui::Button("\xef\x81\xa7##placeMaterial");  // U+F067
    LastTransportBarRects.material = LastItemRect();
    ShowItemTooltip("Place a Clip or a Bed");
    x = ImGui::GetItemRectMax().x - ImGui::GetWindowPos().x + 0.75f * F;
    ImGui::SetCursorPos(ImVec2(x, y));
    const bool presets = ImGui::Button("\xef\x9a\x82##presetRecall");  // U+F682
    LastTransportBarRects.presets = LastItemRect();
    const ImVec2 presetsBottomLeft(ImGui::GetItemRectMin().x, ImGui::GetItemRectMax().y);
    ShowItemTooltip("Place recipe or chain at playhead");
    PopColors1();
    PopColors3();

    if (material) ImGui::OpenPopup("##toolbarMaterial");
    DrawMaterialPopup();
    if (presets) {
        ImGui::OpenPopup("##toolbarPresets");
        ImGui::SetNextWindowPos(ImVec2(presetsBottomLeft.x, presetsBottomLeft.y + 2.0f));
    }
    DrawPresetPopup(layout);

    if (disabled) ImGui::EndDisabled();
}

// [SECTION] Centre group

void DrawCentreGroup(const UILayout& layout, const BarSizes& z, const BarColors& colors, float barHeight,
                     const std::string& timecode, float timecodeWidth) {
    AppState& s = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    ImFont* large = s.fonts.largeFont;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float total = z.P + z.g1 + z.S + z.g1 + z.B + z.g2 + timecodeWidth + z.g2 + z.B;
    float x = layout.displayWidth / 2.0f - total / 2.0f;
    const auto centred = [barHeight](float size) { return std::floor((barHeight - size) * 0.5f); };

    ImGui::SetCursorPos(ImVec2(x, centred(z.P)));
    if (ImGui::InvisibleButton("##play", ImVec2(z.P, z.P))) TransportPlayPause(s, engine, GlobalVideoPlayer);
    LastTransportBarRects.play = LastItemRect();
    DrawGlyphOnItem(draw, large, s.playing ? kIconPause : kIconPlay,
                    ImGui::IsItemHovered() ? colors.secondary : colors.primary);
    x += z.P + z.g1;

    ImGui::SetCursorPos(ImVec2(x, centred(z.S)));
    if (ImGui::InvisibleButton("##stop", ImVec2(z.S, z.S))) TransportStop(s, engine, GlobalVideoPlayer);
    LastTransportBarRects.stop = LastItemRect();
    DrawGlyphOnItem(draw, nullptr, kIconStop, ImGui::IsItemHovered() ? colors.secondary : colors.muted);
    x += z.S + z.g1;

    ImGui::SetCursorPos(ImVec2(x, centred(z.B)));
    if (ImGui::InvisibleButton("##fback", ImVec2(z.B, z.B))) TransportFrameStep(s, CurrentProject, -1);
    LastTransportBarRects.frameBack = LastItemRect();
    DrawGlyphOnItem(draw, nullptr, kIconBack, ImGui::IsItemHovered() ? colors.primary : colors.secondary);
    x += z.B + z.g2;

    {
        if (large != nullptr) ImGui::PushFont(large);
        const float th = ImGui::GetFontSize();
        const ImVec2 origin = ImGui::GetWindowPos();
        draw->AddText(ImVec2(origin.x + x, origin.y + centred(th)), colors.primary, timecode.c_str());
        if (large != nullptr) ImGui::PopFont();
    }
    x += timecodeWidth + z.g2;

    ImGui::SetCursorPos(ImVec2(x, centred(z.B)));
    if (ImGui::InvisibleButton("##ffwd", ImVec2(z.B, z.B))) TransportFrameStep(s, CurrentProject, 1);
    LastTransportBarRects.frameForward = LastItemRect();
    DrawGlyphOnItem(draw, nullptr, kIconForward, ImGui::IsItemHovered() ? colors.primary : colors.secondary);
}

// [SECTION] Right group

void DrawVolume(const BarSizes& z, const BarColors& colors, float left, float top) {
    PlaybackEngine& engine = LivePlaybackEngine;
    const ThemeColors& p = ThemePalette;
    const ImGuiIO& io = ImGui::GetIO();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();

    {
        const ImVec2 size = ImGui::CalcTextSize(kIconVolume);
        draw->AddText(ImVec2(origin.x + left - 4.0f - size.x, origin.y + top + (z.Hv - size.y) * 0.5f),
                      ColorWithAlpha(colors.primary, 180), kIconVolume);
    }
    ImGui::SetCursorPos(ImVec2(left, top));
    ImGui::InvisibleButton("##masterTr", ImVec2(z.Wv, z.Hv));
    LastTransportBarRects.volume = LastItemRect();
    const bool active = ImGui::IsItemActive();
    const bool hovered = ImGui::IsItemHovered();
    if (active && io.MouseDelta.x != 0.0f) SetMasterGain(engine, DragMasterGain(engine.masterGain, io.MouseDelta.x));
    if (hovered && ImGui::IsMouseDoubleClicked(0)) SetMasterGain(engine, 1.0f);
    if (hovered) ShowTooltip("%.1f dB", MasterGainDb(engine.masterGain));

    const ImVec2 a(origin.x + left, origin.y + top);
    UpdateTransportMeters(engine, io.DeltaTime);
    const float barH = (z.Hv - 2.0f) * 0.5f;
    for (int c = 0; c < 2; ++c) {
        const float y0 = a.y + static_cast<float>(c) * (barH + 2.0f);
        draw->AddRectFilled(ImVec2(a.x, y0), ImVec2(a.x + z.Wv, y0 + barH), colors.dark ? Rgb(0x141417) : p.frameBg,
                            2.0f);
        const float level = transportMeterLevel[c];
        const float fill = TransportMeterFill(level, z.Wv);
        if (fill > 0.5f) {
            const int zone = TransportMeterZone(level);
            const std::uint32_t color = zone == 2 ? p.meterHigh : zone == 1 ? p.meterMid : p.meterLow;
            draw->AddRectFilled(ImVec2(a.x, y0), ImVec2(a.x + fill, y0 + barH), color, 2.0f);
        }
    }

    const bool lit = hovered || active;
    const float hx = a.x + z.Wv * std::clamp(engine.masterGain / kMaxMasterGain, 0.0f, 1.0f);
    const ImVec2 h0(hx - 4.5f, a.y - 2.0f);
    const ImVec2 h1(hx + 4.5f, a.y + z.Hv + 2.0f);
    draw->AddRectFilled(ImVec2(h0.x + 1.0f, h0.y + 2.0f), ImVec2(h1.x + 1.0f, h1.y + 2.0f), IM_COL32(0, 0, 0, 70),
                        3.0f);
    const std::uint32_t face = colors.dark ? (lit ? Rgb(0xEEF0F4) : Rgb(0x84878E)) : (lit ? Rgb(0x3A3C44) : Rgb(0x787A82));
    draw->AddRectFilled(h0, h1, face, 3.0f);
    draw->AddRect(h0, h1, colors.dark ? Rgba(0x0A0A0E, 0xC8) : Rgba(0x1C1C22, 0xC8), 3.0f);
    const std::uint32_t grip = colors.dark ? Rgba(0x404248, 0xD2) : Rgba(0xC8CAD2, 0xDC);
    for (const float dx : {-1.5f, 1.5f})
        draw->AddLine(ImVec2(hx + dx, h0.y + 4.0f), ImVec2(hx + dx, h1.y - 4.0f), grip);
    if (lit) draw->AddRect(h0, h1, ColorWithAlpha(p.accent, 180), 3.0f, 0, 1.5f);
}

void DrawRightGroup(const UILayout& layout, const BarSizes& z, const BarColors& colors, float barHeight) {
    AppState& s = GlobalAppState;
    Project& project = CurrentProject;
    const ThemeColors& p = ThemePalette;
    const float F = layout.fontSize;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();

    const float buildX = layout.displayWidth - z.Wb - 12.0f;
    const float lockX = buildX - 0.4f * F - z.h;
    const float volumeLeft = lockX - std::max(3.0f * F, 40.0f) - z.Wv;
    const float controlY = std::floor((barHeight - z.h) * 0.5f);
    DrawVolume(z, colors, volumeLeft, std::floor((barHeight - z.Hv) * 0.5f));

    draw->AddRect(ImVec2(origin.x + lockX - 3.0f, origin.y + controlY - 3.0f),
                  ImVec2(origin.x + buildX + z.Wb + 3.0f, origin.y + controlY + z.h + 3.0f),
                  ColorWithAlpha(p.border, 80), 5.0f);

    // Unlock all.
    const int locked = CountLockedEvents(project);
    {
        const bool guard = !UiMayEditProject(s);
        if (guard) ImGui::BeginDisabled();
        ImGui::PushStyleColor(ImGuiCol_Button, p.buttonBg);
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.buttonHovered);
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, p.buttonHovered);
        ImGui::PushStyleColor(ImGuiCol_Text,
                              locked > 0 ? ColorWithAlpha(p.accent, 200) : ColorWithAlpha(p.textMuted, 80));
        ImGui::SetCursorPos(ImVec2(lockX, controlY));
        char caption[32];
        std::snprintf(caption, sizeof caption, "%s##tblock", locked > 0 ? icon::kLocked : icon::kUnlocked);
        if (ImGui::Button(caption, ImVec2(z.h, z.h)) && locked > 0) UnlockAllEvents(project);
        ImGui::PopStyleColor(4);
        LastTransportBarRects.unlockAll = LastItemRect();
        if (locked > 0) ShowItemTooltip("Unlock all (%d locked)", locked);
        else ShowItemTooltip("All events unlocked");
        if (guard) ImGui::EndDisabled();
    }

    // Build.
    const bool jobActive = s.backgroundJob.active.load(std::memory_order_acquire);
    const BuildButtonView view =
        GetBuildButtonView(static_cast<int>(project.events.size()), CountLockedEvents(project),
                           !SoundLibrary.palettes.empty(), jobActive, s.traceRunning.load());
    ImFont* medium = s.fonts.mediumFont;
    if (medium != nullptr) ImGui::PushFont(medium);
    PushRoundedButtonStyle();
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, p.accentBright);
    if (!view.enabled) ImGui::BeginDisabled();
    ImGui::SetCursorPos(ImVec2(buildX, controlY));
    const bool clicked = ImGui::Button(view.caption, ImVec2(z.Wb, z.h));
    if (!view.enabled) ImGui::EndDisabled();
    ImGui::PopStyleColor();
    PopColors3Vars1();
    if (medium != nullptr) ImGui::PopFont();
    LastTransportBarRects.build = LastItemRect();
    const bool hovered = ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled);
    if (clicked && view.enabled && !jobActive) RequestBuild(s, project);

    if (!StepBlend(buildGlow, view.enabled && hovered ? 1.0f : 0.0f, 12.0f, ImGui::GetIO().DeltaTime))
        s.windowChrome.animating = true;
    if (buildGlow > 0.02f) {
        const ImVec2 a = ImGui::GetItemRectMin();
        const ImVec2 b = ImGui::GetItemRectMax();
        const float grow[3] = {2.0f, 4.0f, 6.0f};
        const float rounding[3] = {5.0f, 7.0f, 9.0f};
        const float alpha[3] = {42.0f, 29.0f, 16.0f};
        for (int i = 0; i < 3; ++i) {
            const int al = static_cast<int>(std::floor(alpha[i] * buildGlow));
            if (al <= 0) continue;
            draw->AddRect(ImVec2(a.x - grow[i], a.y - grow[i]), ImVec2(b.x + grow[i], b.y + grow[i]),
                          ColorWithAlpha(p.accent, al), rounding[i], 0, 2.0f);
        }
    }
    if (hovered && view.tooltip != nullptr) ShowTooltip("%s", view.tooltip);
}

}  // namespace

// [SECTION] The bar

void DrawTransportBar(const UILayout& layout) {
    AppState& s = GlobalAppState;
    const ThemeColors& p = ThemePalette;
    const float top = layout.titleBarHeight + layout.topAreaHeight;
    ImGui::SetCursorPos(ImVec2(0.0f, top));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    const bool open = ImGui::BeginChild("##transport", ImVec2(layout.displayWidth, layout.transportHeight), false,
                                        ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    ImGui::PopStyleVar();
    if (open) {
        ImDrawList* draw = ImGui::GetWindowDrawList();
        const ImVec2 a = ImGui::GetWindowPos();
        const ImVec2 b(a.x + layout.displayWidth, a.y + layout.transportHeight);
        draw->AddRectFilled(a, b, p.transportBg);
        draw->AddLine(a, ImVec2(b.x, a.y), p.border);
        draw->AddLine(ImVec2(a.x, b.y - 1.0f), ImVec2(b.x, b.y - 1.0f), p.border);

        ImFont* small = s.fonts.smallFont;
        if (small != nullptr) ImGui::PushFont(small);
        ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
        const BarColors colors = GetBarColors(p);
        const BarSizes z = GetBarSizes(layout.fontSize);
        const Project& project = CurrentProject;
        const std::string timecode = TransportTimecodeText(project.startTC, s.playhead, project.fps);
        const float timecodeWidth = std::ceil(TextWidthIn(s.fonts.largeFont, timecode.c_str()));
        const float widest = TextWidthIn(s.fonts.largeFont, "00:00:00:00");
        const float fitWidth = z.P + z.g1 + z.S + z.g1 + z.B + z.g2 + widest + z.g2 + z.B;

        DrawLeftGroup(layout, z, colors, layout.transportHeight, fitWidth);
        DrawCentreGroup(layout, z, colors, layout.transportHeight, timecode, timecodeWidth);
        DrawRightGroup(layout, z, colors, layout.transportHeight);

        ImGui::PopStyleVar();
        if (small != nullptr) ImGui::PopFont();
    }
    ImGui::EndChild();
}

}  // namespace korvel
