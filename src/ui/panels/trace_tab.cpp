// The trace tab.
//
// [SECTION] Helpers
// [SECTION] Intro, reading and nothing found
// [SECTION] Review
// [SECTION] The tab
#include "ui/panels/trace_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "app/ui_layout.h"
#include "picture/video_player.h"
#include "playback/playback_engine.h"
#include "presets/recipe_previews.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "ui/panels/panel_look.h"
#include "ui/panels/trace_import.h"
#include "ui/timeline/event_kind_icons.h"

namespace korvel {

namespace {

using panels::Col;

// ---------------------------------------------------------------------------
// [SECTION] Helpers
// ---------------------------------------------------------------------------

constexpr float kMargin = 16.0f;

// The tab's own kind glyphs: Bed shares Clip's.
const char* RecipeKindIcon(std::int32_t kind) {
    return IsKind(kind, EventKind::Bed) ? EventKindIcon(KindValue(EventKind::Clip)) : EventKindIcon(kind);
}

void CentredText(ImDrawList* draw, float left, float width, float y, std::uint32_t colour, const char* text) {
    const float w = ImGui::CalcTextSize(text).x;
    draw->AddText(ImVec2(left + (width - w) * 0.5f, y), Col(colour), text);
}

// A text link: hand pointer while hovered; true when clicked.
bool TextLink(ImDrawList* draw, ImVec2 pos, const char* text, const char* id) {
    const ImVec2 size = ImGui::CalcTextSize(text);
    ImGui::SetCursorScreenPos(pos);
    const bool clicked = ImGui::InvisibleButton(id, ImVec2(std::max(1.0f, size.x), std::max(1.0f, size.y)));
    const bool hovered = ImGui::IsItemHovered();
    if (hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    draw->AddText(pos, Col(hovered ? ThemePalette.textPrimary : ThemePalette.accent), text);
    if (hovered) draw->AddLine(ImVec2(pos.x, pos.y + size.y), ImVec2(pos.x + size.x, pos.y + size.y), Col(ThemePalette.accent));
    return clicked;
}

// "or  " and a link, centred as one line.
bool OrLink(ImDrawList* draw, float left, float width, float y, const char* link, const char* id) {
    const float orWidth = ImGui::CalcTextSize("or  ").x;
    const float x = left + (width - orWidth - ImGui::CalcTextSize(link).x) * 0.5f;
    draw->AddText(ImVec2(x, y), Col(ThemePalette.textMuted), "or  ");
    return TextLink(draw, ImVec2(x + orWidth, y), link, id);
}

// The video dialog; a chosen file is loaded by the frame as a dropped one.
void AskForVideo(AppState& state) {
    if (!state.platformHooks.openVideoDialog) return;
    const std::string path = state.platformHooks.openVideoDialog();
    if (!path.empty()) state.dropState.droppedVideo = path;
}

// A centred button of the given width, one frame high.
bool CentredButton(const char* label, float left, float width, float y, float buttonWidth) {
    ImGui::SetCursorScreenPos(ImVec2(left + (width - buttonWidth) * 0.5f, y));
    const StyleScope style(StyleScopeKind::ActionButton);
    return ImGui::Button(label, ImVec2(buttonWidth, ImGui::GetFrameHeight()));
}

// ---------------------------------------------------------------------------
// [SECTION] Intro, reading and nothing found
// ---------------------------------------------------------------------------

void DrawIntro(ImDrawList* draw, AppState& state, Project& project, ImVec2 o, float W, float H) {
    const float line = ImGui::GetTextLineHeightWithSpacing();
    const TraceIntroGeometry g = LayOutTraceIntro(W, H, line, ImGui::GetFrameHeight());
    const std::int32_t preset = std::clamp(state.fontSizePreset, 0, kFontSizePresets - 1);
    ImFont* bold = state.fonts.bold[static_cast<std::size_t>(preset)][0];
    if (bold != nullptr) ImGui::PushFont(bold);
    CentredText(draw, o.x, W, o.y + g.titleY, ThemePalette.textSecondary, "Read the picture.");
    if (bold != nullptr) ImGui::PopFont();
    CentredText(draw, o.x, W, o.y + g.titleY + line + 4.0f, ThemePalette.textMuted, "Trace measures light and motion");
    CentredText(draw, o.x, W, o.y + g.titleY + 2.0f * line + 4.0f, ThemePalette.textMuted,
                "to mark where sound might go.");
    char label[64];
    std::snprintf(label, sizeof(label), "%s  Read the Picture", icon::kFilm);
    if (CentredButton(label, o.x, W, o.y + g.buttonY, g.buttonWidth)) AskForVideo(state);
    if (OrLink(draw, o.x, W, o.y + g.linkY, "import markers from Pro Tools", "##importMarkersLink"))
        ImportTraceMarkersWithDialog(state, project);
}

void DrawReading(ImDrawList* draw, const AppState& state, ImVec2 o, float W, float H) {
    float y = o.y + 0.28f * H;
    char text[96];
    std::snprintf(text, sizeof(text), "%s  Reading light and motion\xe2\x80\xa6", icon::kFilm);
    CentredText(draw, o.x, W, y, ThemePalette.textSecondary, text);
    y += ImGui::GetTextLineHeightWithSpacing() + 8.0f;
    const float barWidth = std::min(220.0f, 0.6f * W);
    const float left = o.x + (W - barWidth) * 0.5f;
    const float progress = std::clamp(state.backgroundJob.progress.load(), 0.0f, 1.0f);
    draw->AddRectFilled(ImVec2(left, y), ImVec2(left + barWidth, y + 4.0f), Col(ThemePalette.surfaceHover), 2.0f);
    if (progress > 0.0f)
        draw->AddRectFilled(ImVec2(left, y), ImVec2(left + barWidth * progress, y + 4.0f), Col(ThemePalette.accent), 2.0f);
    y += 10.0f;
    std::snprintf(text, sizeof(text), "%d%%", static_cast<int>(progress * 100.0f + 0.5f));
    CentredText(draw, o.x, W, y, ThemePalette.textMuted, text);
}

void DrawNothingFound(ImDrawList* draw, AppState& state, ImVec2 o, float W, float H) {
    const float line = ImGui::GetTextLineHeightWithSpacing();
    float y = o.y + std::max(36.0f, 0.3f * H);
    char text[96];
    std::snprintf(text, sizeof(text), "%s  No clear events found.", icon::kBullseye);
    CentredText(draw, o.x, W, y, ThemePalette.textSecondary, text);
    y += line;
    CentredText(draw, o.x, W, y, ThemePalette.textMuted, "The picture may be too still.");
    y += line + 12.0f;
    std::snprintf(text, sizeof(text), "%s  Read Another One", icon::kFilm);
    if (CentredButton(text, o.x, W, y, std::min(220.0f, 0.6f * W))) AskForVideo(state);
    y += ImGui::GetFrameHeight() + 12.0f;
    if (OrLink(draw, o.x, W, y, "add events manually", "##manualLink")) state.activeTab = 0;
}

// ---------------------------------------------------------------------------
// [SECTION] Review
// ---------------------------------------------------------------------------

void DrawPills(AppState& state, Project& project, ImVec2 o, const TraceReviewGeometry& g) {
    const bool picture = TraceReadValid(state);
    const bool markers = !state.markerEvents.empty();
    const bool both = picture && markers;
    const bool video = GlobalVideoPlayer.loaded;
    const float gap = 8.0f;
    const float width = g.pillWidth;
    const float height = g.pillHeight;
    const float y = o.y + g.pillsY;

    const char* pictureTip = nullptr;
    if (!picture && !video) pictureTip = "Load a video to read light and motion";
    if (both) pictureTip = state.traceSourceFilter == 1 ? "Show picture events" : "Hide picture events";
    bool closePicture = false;
    if (DrawPillToggle(ImVec2(o.x + kMargin, y), width, height, picture && state.traceSourceFilter != 1, "Picture",
                       "##srcPic", ThemePalette.pictureSource, pictureTip, both, picture, &closePicture,
                       "Clear the picture read")) {
        if (ClickPicturePill(state, video)) AskForVideo(state);
    }
    const char* markersTip = nullptr;
    if (!markers) markersTip = "Import Pro Tools session text markers";
    if (both) markersTip = state.traceSourceFilter == 0 ? "Show marker events" : "Hide marker events";
    bool closeMarkers = false;
    if (DrawPillToggle(ImVec2(o.x + kMargin + width + gap, y), width, height, markers && state.traceSourceFilter != 0,
                       "Markers", "##srcMk", ThemePalette.markerSource, markersTip, both, markers, &closeMarkers,
                       "Clear imported markers")) {
        if (ClickMarkersPill(state)) ImportTraceMarkersWithDialog(state, project);
    }
    if (closePicture) ClearPictureSource(state);
    if (closeMarkers) ClearMarkerSource(state, project);
}

void DrawCountBox(ImDrawList* draw, const AppState& state, const std::vector<TraceSuggestion>& suggestions,
                  ImVec2 o, float W, const TraceReviewGeometry& g) {
    const float y = o.y + g.countY;
    const bool picture = TraceReadValid(state);
    const bool markers = !state.markerEvents.empty();
    char text[64];
    if (!markers) {
        std::snprintf(text, sizeof(text), "%d  events", CountCountingDetections(state));
    } else if (picture) {
        std::snprintf(text, sizeof(text), "%d  events", static_cast<int>(suggestions.size()));
    } else {
        std::snprintf(text, sizeof(text), "%d  markers imported", static_cast<int>(state.markerEvents.size()));
    }
    const char* hint = picture || !markers ? "drag the line on the timeline to adjust"
                                           : "from Pro Tools \xc2\xb7 review on the timeline";
    const float line = ImGui::GetTextLineHeight();
    const float height = g.countHeight;
    draw->AddRectFilled(ImVec2(o.x + kMargin, y), ImVec2(o.x + W - kMargin, y + height),
                        ColorWithAlpha(ThemePalette.surfaceHover, 0x78), 4.0f);
    draw->AddText(ImVec2(o.x + kMargin + 10.0f, y + 6.0f), Col(ThemePalette.textPrimary), text);
    draw->AddText(ImVec2(o.x + kMargin + 10.0f, y + 10.0f + line), Col(ThemePalette.textMuted), hint);
}

void DrawRecipeRow(ImDrawList* draw, AppState& state, ImVec2 o, const TraceReviewGeometry& g) {
    draw->AddText(ImVec2(o.x + kMargin, o.y + g.recipeLabelY), Col(ThemePalette.textMuted),
                  "What should these sound like?");
    const float y = o.y + g.comboY;
    if (traceRecipeIndex >= static_cast<std::int32_t>(RecipeList.size())) traceRecipeIndex = -1;
    const EventPreset* chosen = ChosenTraceRecipe();
    char preview[96];
    if (chosen != nullptr) {
        std::snprintf(preview, sizeof(preview), "%s %s", icon::kLayers, chosen->name);
    } else {
        std::snprintf(preview, sizeof(preview), "%s Choose a recipe\xe2\x80\xa6", icon::kLayers);
    }
    ImGui::SetCursorScreenPos(ImVec2(o.x + kMargin, y));
    ImGui::SetNextItemWidth(g.comboWidth);
    {
        const StyleScope popup(StyleScopeKind::Popup);
        if (ImGui::BeginCombo("##traceRecipe", preview)) {
            if (ImGui::Selectable("(none)", chosen == nullptr)) ChooseTraceRecipe(state, -1);
            for (std::size_t i = 0; i < RecipeList.size(); ++i) {
                const EventPreset& recipe = RecipeList[i];
                if (IconMenuItem(RecipeKindIcon(recipe.shape), recipe.name, traceRecipeIndex == static_cast<int>(i),
                                 static_cast<int>(i)))
                    ChooseTraceRecipe(state, static_cast<std::int32_t>(i));
            }
            ImGui::EndCombo();
        }
    }
    chosen = ChosenTraceRecipe();

    // The preview button, square, beside the combo.
    PlaybackEngine& engine = LivePlaybackEngine;
    const float side = g.frameHeight;
    ImGui::SetCursorScreenPos(ImVec2(o.x + g.previewX, y));
    char label[32];
    if (IsPreviewRunning(engine)) {
        std::snprintf(label, sizeof(label), "%s##pv", icon::kStop);
        if (ImGui::Button(label, ImVec2(side, side))) StopPreview(engine);
        ShowItemTooltip("%s", "Stop preview");
        return;
    }
    const bool baked = chosen != nullptr && RecipePreviewExists(*chosen);
    std::snprintf(label, sizeof(label), "%s##pv", icon::kPlay);
    if (!baked) ImGui::PushStyleVar(ImGuiStyleVar_Alpha, 0.35f);
    const bool clicked = ImGui::Button(label, ImVec2(side, side));
    if (!baked) ImGui::PopStyleVar();
    ShowItemTooltip("%s", chosen == nullptr ? "Choose a recipe first"
                          : baked           ? "Preview recipe"
                                            : "No preview baked for this recipe");
    // The file's samples go to the engine as a new buffer (first channel
    // only), never written into the one the audio thread may be playing.
    if (clicked && baked) PlayRecipePreview(*chosen, engine);
}

void DrawReview(ImDrawList* draw, AppState& state, Project& project, ImVec2 o, float W, float H) {
    const std::vector<TraceSuggestion> suggestions = BuildSuggestionList(state);
    const TraceReviewGeometry g = LayOutTraceReview(W, H, ImGui::GetTextLineHeight(),
                                                    ImGui::GetTextLineHeightWithSpacing(), ImGui::GetFrameHeight());
    DrawPills(state, project, o, g);
    DrawCountBox(draw, state, suggestions, o, W, g);
    DrawRecipeRow(draw, state, o, g);
    draw->AddLine(ImVec2(o.x + kMargin, o.y + g.separatorY), ImVec2(o.x + W - kMargin, o.y + g.separatorY),
                  ColorWithAlpha(ThemePalette.textMuted, 0x1E));

    const std::int32_t n = CountImportable(state, suggestions);
    const bool mayEdit = UiMayEditProject(state);
    char label[64];
    std::snprintf(label, sizeof(label), "%s   Import  %d  Events##traceImportButton", icon::kArrowDown, n);
    ImGui::SetCursorScreenPos(ImVec2(o.x + kMargin, o.y + g.importY));
    ImGui::BeginDisabled(n < 1 || !mayEdit);
    bool pressed = false;
    {
        const StyleScope style(StyleScopeKind::ActionButton);
        pressed = ImGui::Button(label, ImVec2(std::max(1.0f, W - 2.0f * kMargin), ImGui::GetFrameHeight()));
    }
    ImGui::EndDisabled();
    if (!mayEdit) ShowItemTooltip("%s", kBusyEditStatus);
    if (pressed && n >= 1) ImportTraceSuggestions(state, project);
}

}  // namespace

TraceIntroGeometry LayOutTraceIntro(float width, float height, float lineSpacing, float frameHeight) {
    TraceIntroGeometry g;
    g.titleY = std::max(36.0f, (height - (4.0f * lineSpacing + frameHeight + 24.0f)) * 0.5f);
    g.buttonY = g.titleY + 3.0f * lineSpacing + 16.0f;
    g.buttonWidth = std::min(240.0f, 0.65f * width);
    g.linkY = g.buttonY + frameHeight + 12.0f;
    return g;
}

TraceReviewGeometry LayOutTraceReview(float width, float height, float lineHeight, float lineSpacing,
                                      float frameHeight) {
    TraceReviewGeometry g;
    g.margin = kMargin;
    g.frameHeight = frameHeight;
    g.pillWidth = std::max(40.0f, (width - 2.0f * kMargin - 8.0f) * 0.5f);
    g.pillHeight = std::max(24.0f, frameHeight);
    g.countY = g.pillsY + g.pillHeight + 12.0f;
    g.countHeight = 2.0f * lineHeight + 18.0f;
    g.recipeLabelY = g.countY + g.countHeight + 12.0f;
    g.comboY = g.recipeLabelY + lineSpacing + 2.0f;
    g.previewX = kMargin + g.comboWidth + 4.0f;
    g.separatorY = g.comboY + frameHeight + 12.0f;
    // Kept inside a short panel.
    g.importY = std::min(g.separatorY + 10.0f, height - frameHeight - 8.0f);
    return g;
}

// ---------------------------------------------------------------------------
// [SECTION] The tab
// ---------------------------------------------------------------------------

void DrawTraceTab(ImDrawList* /*drawList*/, const UILayout& layout) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    TraceTabFrameSteps(state, project);

    const float W = layout.panelWidth;
    const float H = layout.topAreaHeight;
    if (!panels::BeginTabPanel("##analysis_panel", W, H)) return;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 o = ImGui::GetWindowPos();
    ImFont* small = state.fonts.smallFont;
    if (small != nullptr) ImGui::PushFont(small);
    draw->AddText(ImVec2(o.x + 16.0f, o.y + 10.0f), Col(ThemePalette.textSecondary), "TRACE");

    switch (DecideTraceTabState(state)) {
        case TraceTabState::Intro: DrawIntro(draw, state, project, o, W, H); break;
        case TraceTabState::Reading: DrawReading(draw, state, o, W, H); break;
        case TraceTabState::NothingFound: DrawNothingFound(draw, state, o, W, H); break;
        case TraceTabState::Review: DrawReview(draw, state, project, o, W, H); break;
    }

    if (small != nullptr) ImGui::PopFont();
    ImGui::EndChild();
}

}  // namespace korvel
