// The batch editor: the inspector's form for two or more selected events.
//
// [SECTION] Facts and edits
// [SECTION] Top row
// [SECTION] Keywords, palette filter and scale tuning
// [SECTION] Bottom row
// [SECTION] The form
#include "ui/timeline/batch_editor.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/render_job.h"
#include "engine/track_allocation.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/keyword_input.h"
#include "ui/panels/palette_filter_picker.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/events_tab.h"
#include "ui/timeline/inspector_edits.h"
#include "ui/timeline/recipe_panel.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

using panels::AlphaByte;
using panels::ColourVec;

// ---------------------------------------------------------------------------
// [SECTION] Facts and edits
// ---------------------------------------------------------------------------

namespace {

Event& At(Project& project, std::int32_t index) { return project.events[static_cast<std::size_t>(index)]; }

}  // namespace

BatchFacts ReadBatchFacts(const AppState& state, const Project& project) {
    BatchFacts facts;
    facts.valid = state.ValidSelectedEvents(project.events);
    facts.builtAndIdle = project.built && !state.backgroundJob.active.load();
    double gainSum = 0.0;
    double pitchSum = 0.0;
    for (std::int32_t index : facts.valid) {
        const Event& event = project.events[static_cast<std::size_t>(index)];
        facts.allMuted = facts.allMuted && event.muted;
        facts.allLocked = facts.allLocked && event.locked;
        facts.anyNonClip = facts.anyNonClip || !IsKind(event.shape, EventKind::Clip);
        facts.allOnB = facts.allOnB && EffectiveGroup(event) == 2;
        const std::int32_t tune = std::clamp(event.scaleTuneOverride, 0, 2);
        if (tune == 0) ++facts.tuneFollow;
        if (tune == 2) ++facts.tuneOff;
        gainSum += event.gain;
        pitchSum += event.pitchVariation;
    }
    if (!facts.valid.empty()) {
        const auto n = static_cast<double>(facts.valid.size());
        facts.meanGain = static_cast<float>(gainSum / n);
        facts.meanPitch = static_cast<float>(pitchSum / n);
    }
    return facts;
}

void BatchToggleMute(AppState& state, Project& project, PlaybackEngine& engine) {
    const BatchFacts facts = ReadBatchFacts(state, project);
    PushUndo();
    for (std::int32_t index : facts.valid) At(project, index).muted = !facts.allMuted;
    ++project.revision;
    SyncEventVoiceMutes(project, engine, facts.valid);
}

void BatchToggleLock(AppState& state, Project& project) {
    const BatchFacts facts = ReadBatchFacts(state, project);
    PushUndo();
    for (std::int32_t index : facts.valid) At(project, index).locked = !facts.allLocked;
}

bool BatchRequestRebuild(AppState& state, Project& project) {
    const BatchFacts facts = ReadBatchFacts(state, project);
    if (!facts.anyNonClip || !facts.builtAndIdle) return false;
    PushUndo();
    std::vector<std::int32_t> list;
    for (std::int32_t index : facts.valid) {
        Event& event = At(project, index);
        if (IsKind(event.shape, EventKind::Clip)) continue;
        event.locked = false;
        list.push_back(index);
    }
    state.pendingRenderMode = list.empty() ? 0 : kRenderEventList;
    state.pendingRenderEvents = std::move(list);
    return true;
}

void BatchApplyKeywords(AppState& state, Project& project, char (&keywords)[256]) {
    static_assert(sizeof(keywords) == sizeof(Event::keywords));
    PushUndo();
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) {
        Event& event = At(project, index);
        std::memcpy(event.keywords, keywords, sizeof(event.keywords));
        event.keywords[sizeof(event.keywords) - 1] = '\0';
        event.locked = false;
    }
    keywords[0] = '\0';
}

void BatchApplyPaletteFilter(AppState& state, Project& project, const char* filter) {
    PushUndo();
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) {
        Event& event = At(project, index);
        if (IsKind(event.shape, EventKind::Clip)) continue;
        std::snprintf(event.libFilter, sizeof(event.libFilter), "%s", filter);
    }
}

void BatchToggleScaleTuning(AppState& state, Project& project) {
    const BatchFacts facts = ReadBatchFacts(state, project);
    PushUndo();
    const std::int32_t value = facts.TuningFollows() ? 2 : 0;
    for (std::int32_t index : facts.valid) At(project, index).scaleTuneOverride = value;
    if (project.results.empty()) return;
    // A refused start (a job or the picture read runs) leaves the request
    // to the frame, which retries.
    if (state.backgroundJob.active.load() || !RebuildCacheAsync("Updating scale tuning...", false)) {
        state.audioUpdateRequested.store(true);
    }
}

void BatchShiftGainDb(AppState& state, Project& project, PlaybackEngine& engine, float deltaDb) {
    if (deltaDb == 0.0f) return;
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) {
        SetEventGainDb(state, project, engine, index, GainToDb(At(project, index).gain) + deltaDb);
    }
}

void BatchSetPitchVariation(AppState& state, Project& project, float semitones) {
    for (std::int32_t index : state.ValidSelectedEvents(project.events)) SetPitchVariation(state, At(project, index), semitones);
}

bool BatchToggleBus(AppState& state, Project& project) {
    // Regrouping and reallocating rewrite layers a job or export reads.
    if (!UiMayEditProject(state)) {
        PostStatus(kBusyEditStatus, 3.0f);
        return false;
    }
    const BatchFacts facts = ReadBatchFacts(state, project);
    PushUndo();
    const std::int32_t target = facts.allOnB ? 1 : 2;
    for (std::int32_t index : facts.valid) {
        Event& event = At(project, index);
        event.groupOverride = target == DefaultGroupForKind(event.shape) ? -1 : target;
        event.stereo = project.trackLayout.groups[static_cast<std::size_t>(target)].stereo;
        event.locked = false;
    }
    RegroupLayers(project);
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Top row
// ---------------------------------------------------------------------------

namespace {

constexpr const char* kGlyphMute = "\xef\x89\x8d";      // U+F24D

// The form's buffers: keywords until Enter applies them, the palette filter
// for the program's life (never filled from the events). UI thread only.
char BatchKeywords[256] = {};
char BatchPaletteFilter[512] = {};
// Whether each drag was hovered last frame, only to brighten its text.
bool BatchGainHovered = false;
bool BatchPitchHovered = false;

void DrawTopRow(AppState& state, Project& project, const BatchFacts& facts, const InspectorMetrics& m, float fh) {
    const ImGuiStyle& style = ImGui::GetStyle();
    char label[32];
    ImGui::SetCursorPos(ImVec2(m.padding, m.padding));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);

    const std::uint32_t accent = ThemePalette.accent;
    const bool muted = facts.allMuted;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(style.FramePadding.y, style.FramePadding.y));
    ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ColorWithAlpha(accent, AlphaByte(muted ? 0.12f : 0.22f))));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ColourVec(ColorWithAlpha(accent, AlphaByte(muted ? 0.18f : 0.32f))));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ColourVec(ColorWithAlpha(accent, AlphaByte(muted ? 0.25f : 0.42f))));
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(muted ? ColorWithAlpha(ThemePalette.textMuted, 80)
                                                         : ColorWithAlpha(accent, 200)));
    std::snprintf(label, sizeof(label), "%s##bmute", kGlyphMute);
    const bool muteClicked = ImGui::Button(label, ImVec2(fh, fh));
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar();
    ShowItemTooltip("%s", muted ? "Unmute all selected" : "Mute all selected");
    if (muteClicked) BatchToggleMute(state, project, LivePlaybackEngine);

    ImGui::SameLine(0.0f, m.gap);
    PushCompactButtonStyle();
    ImGui::PushStyleColor(ImGuiCol_Text,
                          ColourVec(facts.allLocked ? ThemePalette.textSecondary : ThemePalette.textMuted));
    std::snprintf(label, sizeof(label), "%s##block", facts.allLocked ? icon::kLocked : icon::kUnlocked);
    if (ImGui::Button(label)) BatchToggleLock(state, project);
    ImGui::PopStyleColor();
    ShowItemTooltip("%s", facts.allLocked ? "Unlock all selected" : "Lock all selected");

    ImGui::SameLine(0.0f, m.gap);
    ImGui::BeginDisabled(!(facts.anyNonClip && facts.builtAndIdle));
    std::snprintf(label, sizeof(label), "%s##brevise", icon::kRotate);
    if (ImGui::Button(label)) BatchRequestRebuild(state, project);
    ImGui::EndDisabled();
    ShowItemTooltip("Rebuild selected events");
    PopColors4Vars2();
    ImGui::PopStyleVar();

    const float inspectorRight = ImGui::GetWindowPos().x + m.width;
    DrawBatchRecipePanel(state, project, ImVec2(m.padding + m.contentWidth - fh, m.padding), inspectorRight,
                         m.fontSize, fh);
}

// ---------------------------------------------------------------------------
// [SECTION] Keywords, palette filter and scale tuning
// ---------------------------------------------------------------------------

void DrawKeywordsAndTools(AppState& state, Project& project, const BatchFacts& facts, const InspectorMetrics& m,
                          float fh) {
    const float rowY = m.padding + fh + m.gap;
    ImGui::SetCursorPos(ImVec2(m.padding, rowY));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ThemePalette.windowBg));
    const bool entered =
        DrawKeywordInput("##batchkw", "Set keywords for all...", BatchKeywords, static_cast<int>(sizeof(BatchKeywords)),
                         SoundLibrary.keywordIndex, m.contentWidth - fh - m.gap, ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::PopStyleColor();
    if (entered) BatchApplyKeywords(state, project, BatchKeywords);

    const float toolX = m.padding + m.contentWidth - fh;
    ImGui::SetCursorPos(ImVec2(toolX, rowY));
    if (DrawPaletteFilterPicker("##batchlibfilter", BatchPaletteFilter, static_cast<int>(sizeof(BatchPaletteFilter)),
                                SoundLibrary, fh, 8500)) {
        BatchApplyPaletteFilter(state, project, BatchPaletteFilter);
    }

    ImGui::SetCursorPos(ImVec2(toolX, rowY + fh + m.gap));
    const bool follows = facts.TuningFollows();
    PushCompactButtonStyle();
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(follows ? ThemePalette.textPrimary : ThemePalette.textMuted));
    if (!follows) ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ThemePalette.frameBg));
    char label[32];
    std::snprintf(label, sizeof(label), "%s##batchscaletune", icon::kMusic);
    if (ImGui::Button(label, ImVec2(fh, fh))) BatchToggleScaleTuning(state, project);
    ImGui::PopStyleColor(follows ? 1 : 2);
    PopColors4Vars2();
    ShowItemTooltip("Pitch-tune to scale: %s\nClick to toggle", follows ? "Follow Project" : "Force Off");
}

void DrawCount(const AppState& state, const InspectorMetrics& m, float fh) {
    const float yb = m.height - m.padding - fh;
    const float top = ImGui::GetCursorPosY();
    if (yb - top <= fh) return;
    char text[48];
    std::snprintf(text, sizeof(text), "%d events selected", static_cast<int>(state.selectedEvents.size()));
    const ImVec2 size = ImGui::CalcTextSize(text);
    ImGui::SetCursorPos(ImVec2((m.width - size.x) * 0.5f, top + (yb - top - size.y) * 0.5f));
    ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", text);
}

// ---------------------------------------------------------------------------
// [SECTION] Bottom row
// ---------------------------------------------------------------------------

void PushDragColours(bool hovered) {
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ThemePalette.frameBgHovered));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ColourVec(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ColourVec(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(hovered ? ThemePalette.textPrimary : ThemePalette.textSecondary));
}

void DrawBottomRow(AppState& state, Project& project, const BatchFacts& facts, const InspectorMetrics& m, float fh) {
    const float yb = m.height - m.padding - fh;
    const ImVec2 origin = ImGui::GetWindowPos();
    const float lineY = origin.y + yb - m.gap;
    ImGui::GetWindowDrawList()->AddLine(ImVec2(origin.x + m.padding, lineY),
                                        ImVec2(origin.x + m.padding + m.contentWidth, lineY),
                                        ColorWithAlpha(ThemePalette.border, 60));

    ImGui::SetCursorPos(ImVec2(m.padding, yb));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
    const float width = (m.contentWidth - fh - 2.0f * m.gap) / 2.0f;

    PushDragColours(BatchGainHovered);
    const float shown = GainToDb(facts.meanGain);
    float db = shown;
    ImGui::SetNextItemWidth(width);
    if (ImGui::DragFloat("##batchgain", &db, 0.1f, kGainFloorDb, 0.0f, "%.1f dB", ImGuiSliderFlags_AlwaysClamp)) {
        BatchShiftGainDb(state, project, LivePlaybackEngine, db - shown);
    }
    BatchGainHovered = ImGui::IsItemHovered();
    ImGui::PopStyleColor(4);
    if (BatchGainHovered) ShowTooltip("Event volume (dB)");

    ImGui::SameLine(0.0f, m.gap);
    PushDragColours(BatchPitchHovered);
    float semitones = 24.0f * facts.meanPitch;
    ImGui::SetNextItemWidth(width);
    if (ImGui::DragFloat("##batchpitch", &semitones, 0.5f, 0.0f, 24.0f, PitchVariationFormat(width),
                         ImGuiSliderFlags_AlwaysClamp)) {
        BatchSetPitchVariation(state, project, semitones);
    }
    BatchPitchHovered = ImGui::IsItemHovered();
    ImGui::PopStyleColor(4);
    if (BatchPitchHovered) ShowTooltip("Pitch variation (\xc2\xb1 semitones, 0=off)");

    ImGui::SetCursorPos(ImVec2(m.padding + m.contentWidth - fh, yb));
    const std::uint32_t colour = GetGroupColour(facts.allOnB ? 2 : 1);
    const ImGuiStyle& style = ImGui::GetStyle();
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(style.FramePadding.y, style.FramePadding.y));
    ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ColorWithAlpha(colour, AlphaByte(0.55f))));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ColourVec(ColorWithAlpha(colour, AlphaByte(0.75f))));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ColourVec(ColorWithAlpha(colour, AlphaByte(0.45f))));
    if (ImGui::Button(facts.allOnB ? "B##batchbus" : "A##batchbus", ImVec2(fh, fh))) BatchToggleBus(state, project);
    ImGui::PopStyleColor(3);
    ImGui::PopStyleVar();
    ShowItemTooltip("%s", facts.allOnB ? "All on FX B \xe2\x80\x94 click for FX A" : "Click to set all to FX B");
    ImGui::PopStyleVar();
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] The form
// ---------------------------------------------------------------------------

void DrawBatchEditor(AppState& state, Project& project, const InspectorMetrics& m) {
    const float fh = ImGui::GetFrameHeight();
    const BatchFacts facts = ReadBatchFacts(state, project);
    DrawTopRow(state, project, facts, m, fh);
    // Each control reads the facts of the frame's start; an edit above shows
    // in the next frame.
    DrawKeywordsAndTools(state, project, facts, m, fh);
    DrawCount(state, m, fh);
    DrawBottomRow(state, project, facts, m, fh);
}

}  // namespace korvel
