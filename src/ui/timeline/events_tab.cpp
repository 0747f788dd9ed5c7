// The events tab: the inspector child and the events list beside it.
//
// [SECTION] Metrics and row helpers
// [SECTION] Single-event form: header
// [SECTION] Single-event form: rows under the header
// [SECTION] Single-event form: curve editors and sync marker
// [SECTION] Single-event form: bottom row
// [SECTION] Single-event form: right column
// [SECTION] The tab
#include "ui/timeline/events_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/frame/style.h"
#include "app/theme.h"
#include "app/frame_work.h"
#include "app/ui_layout.h"
#include "engine/published_layers.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/undo.h"
#include "picture/trace_analysis.h"
#include "picture/video_player.h"
#include "ui/panels/keyword_input.h"
#include "ui/panels/palette_filter_picker.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/batch_editor.h"
#include "ui/timeline/bed_section.h"
#include "ui/timeline/clip_section.h"
#include "ui/timeline/curve_lanes.h"
#include "ui/timeline/event_list.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/inspector_edits.h"
#include "ui/timeline/recipe_panel.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

using panels::AlphaByte;
using panels::ColourVec;
namespace {

// Icon-font glyphs (UTF-8).
constexpr const char* kGlyphPin = "\xef\x89\xb6";       // U+F276
constexpr const char* kGlyphTrace = "\xef\x85\x80";     // U+F140

// ---------------------------------------------------------------------------
// [SECTION] Metrics and row helpers
// ---------------------------------------------------------------------------

// Rows sit g apart instead of the style's item spacing.
void NextRow(const InspectorMetrics& m) {
    const float y = ImGui::GetCursorPosY() - ImGui::GetStyle().ItemSpacing.y + m.gap;
    ImGui::SetCursorPos(ImVec2(m.padding, y));
}

// ---------------------------------------------------------------------------
// [SECTION] Single-event form: header
// ---------------------------------------------------------------------------

void DrawKindButton(AppState& state, Project& project, std::int32_t index, float fh) {
    const Event& event = project.events[static_cast<std::size_t>(index)];
    const int kind = std::clamp(event.shape, 0, kEventKindCount - 1);
    const std::uint32_t colour = GetEventKindColor(kind, 200);
    const bool muted = event.muted;
    const ImGuiStyle& style = ImGui::GetStyle();
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(style.FramePadding.y, style.FramePadding.y));
    ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ColorWithAlpha(colour, AlphaByte(muted ? 0.12f : 0.28f))));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ColourVec(ColorWithAlpha(colour, AlphaByte(muted ? 0.18f : 0.42f))));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ColourVec(ColorWithAlpha(colour, AlphaByte(muted ? 0.25f : 0.55f))));
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ColorWithAlpha(colour, muted ? 80 : 220)));
    char label[32];
    std::snprintf(label, sizeof(label), "%s##shapemute", EventKindIcon(kind));
    const bool clicked = ImGui::Button(label, ImVec2(fh, fh));
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar();
    const char* name = EventKindNames[static_cast<std::size_t>(kind)];
    if (ImGui::IsItemHovered()) {
        if (muted) {
            ShowTooltip("Unmute %s (M)", name);
        } else {
            ShowTooltip("%s \xe2\x80\x94 click to mute (M)", name);
        }
    }
    if (clicked) ToggleEventMute(state, project, LivePlaybackEngine, index);
}

void DrawLockAndRebuild(AppState& state, Project& project, std::int32_t index, float g) {
    Event& event = project.events[static_cast<std::size_t>(index)];
    const bool muted = event.muted;
    char label[32];
    PushCompactButtonStyle();
    if (IsKind(event.shape, EventKind::Clip) || IsKind(event.shape, EventKind::Bed)) {
        ImGui::BeginDisabled();
        std::snprintf(label, sizeof(label), "%s##lock", icon::kLocked);
        ImGui::Button(label);
        ImGui::EndDisabled();
        if (!muted) {
            ShowItemTooltip("%s", IsKind(event.shape, EventKind::Clip) ? "Clip events are always locked"
                                                                         : "Bed events are always locked");
        }
        PopColors4Vars2();
        return;
    }
    const std::uint32_t text = event.sceneLink >= 0 ? ThemePalette.accentMuted
                               : event.locked       ? ThemePalette.textSecondary
                                                    : ThemePalette.textMuted;
    std::snprintf(label, sizeof(label), "%s##lock", event.locked ? icon::kLocked : icon::kUnlocked);
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(text));
    if (ImGui::Button(label)) ToggleEventLock(state, event);
    ImGui::PopStyleColor();
    if (ImGui::IsItemHovered()) {
        if (event.sceneLink >= 0) {
            ShowTooltip("Scene-linked \xe2\x80\x94 timing follows scene");
        } else if (event.locked) {
            ShowTooltip("Locked \xe2\x80\x94 protected from rebuilding\nClick to unlock");
        } else {
            ShowTooltip("Click to lock (protect from rebuilding)");
        }
    }
    ImGui::SameLine(0.0f, g);
    const bool canRebuild = CanRebuildEvent(state, project);
    ImGui::BeginDisabled(!canRebuild);
    std::snprintf(label, sizeof(label), "%s##revise", icon::kRotate);
    if (ImGui::Button(label)) RequestEventRebuild(state, project, index);
    ImGui::EndDisabled();
    if (!muted) ShowItemTooltip("Rebuild this event");
    PopColors4Vars2();
}

// ---------------------------------------------------------------------------
// [SECTION] Single-event form: rows under the header
// ---------------------------------------------------------------------------

void DrawKeywordRow(AppState& state, Event& event, const InspectorMetrics& m, float fh) {
    char before[sizeof(Event::keywords)];
    std::memcpy(before, event.keywords, sizeof(before));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ThemePalette.windowBg));
    DrawKeywordInput("##evkeywords", "keywords...", event.keywords, static_cast<int>(sizeof(event.keywords)),
                     SoundLibrary.keywordIndex, m.contentWidth - fh - m.gap, ImGuiInputTextFlags_None);
    ImGui::PopStyleColor();
    if (std::memcmp(before, event.keywords, sizeof(before)) != 0) state.unsavedChanges = true;
}

void DrawPaletteFilterLine(AppState& state, Project& project, const Event& event) {
    const bool none = std::strcmp(event.libFilter, "~none~") == 0;
    if (none) {
        ImGui::TextColored(ImVec4(0.8f, 0.5f, 0.5f, 0.6f), "%s  No libraries assigned", icon::kFilter);
    } else {
        ImGui::TextColored(ColourVec(ColorWithAlpha(ThemePalette.positive, 153)), "%s  %s", icon::kFilter,
                           event.libFilter);
    }
    if (ImGui::IsItemHovered()) {
        ShowTooltip("Click to clear palette filter");
        if (ImGui::IsMouseClicked(ImGuiMouseButton_Left)) ClearSelectionPaletteFilter(state, project);
    }
}

// A running build may relink or append pinned paths: they are copied under
// its storage lock.
std::vector<std::string> PinnedFilesOf(const AppState& state, const Event& event) {
    const auto lock = JobReadLock(state.backgroundJob.active.load(std::memory_order_acquire));
    return event.pinnedFiles;
}

void DrawPinnedLine(AppState& state, Event& event, const std::vector<std::string>& pinned) {
    ImGui::TextColored(ImVec4(0.4f, 0.7f, 1.0f, 0.7f), "%s %d pinned", kGlyphPin, static_cast<int>(pinned.size()));
    if (!ImGui::IsItemHovered()) return;
    std::string tip = "Pinned files:\n";
    for (const std::string& path : pinned) {
        const std::size_t slash = path.find_last_of('/');
        tip += "  ";
        tip += slash == std::string::npos ? path : path.substr(slash + 1);
        tip += '\n';
    }
    tip += "Click to unpin all";
    ShowTooltip("%s", tip.c_str());
    if (ImGui::IsMouseClicked(ImGuiMouseButton_Left) && UiMayEditProject(state)) ClearEventPins(state, event);
}

// ---------------------------------------------------------------------------
// [SECTION] Single-event form: curve editors and sync marker
// ---------------------------------------------------------------------------

// The event whose sync point the pointer drags, or -1. UI thread only.
std::int32_t SyncDragEvent = -1;

bool SceneLinkValid(const Project& project, const Event& event) {
    return event.sceneLink >= 0 && event.sceneLink < static_cast<std::int32_t>(project.scenes.size());
}

struct EditorPlace {
    float y0 = 0.0f;
    float width = 0.0f;   // ew
    float height = 0.0f;  // eh
};

EditorPlace PlaceEditors(const Project& project, const Event& event, const InspectorMetrics& m, float fh,
                         float firstRowY, float nextRowY) {
    EditorPlace e;
    e.width = m.contentWidth - fh - m.gap;
    e.y0 = std::max(firstRowY + fh + m.gap, nextRowY);
    const bool sceneRow = (IsKind(event.shape, EventKind::Fill) || IsKind(event.shape, EventKind::Bed)) &&
                          SceneLinkValid(project, event);
    const float reserve = sceneRow ? fh + m.gap : 0.0f;
    const float least = sceneRow ? fh : 2.0f * fh + m.gap;
    const float yb = m.height - m.padding - fh;
    e.height = std::max(least, (yb - m.gap - reserve - e.y0 - m.gap) / 2.0f);
    return e;
}

// The marker's hot test and drag; true while it is hot or dragged, so that
// the intensity editor's vertical drag stays out of its way.
bool UpdateSyncMarker(AppState& state, Event& event, std::int32_t index, ImVec2 min, const EditorPlace& e) {
    const ImGuiIO& io = ImGui::GetIO();
    const float x = min.x + event.syncOffset / event.duration * e.width;
    const bool hot = std::fabs(io.MousePos.x - x) <= 6.0f && io.MousePos.y >= min.y &&
                     io.MousePos.y <= min.y + e.height && !io.KeyAlt && !event.muted &&
                     ImGui::IsWindowHovered();
    if (hot) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        if (ImGui::IsMouseClicked(ImGuiMouseButton_Left)) {
            PushUndo();
            SyncDragEvent = index;
        }
    }
    if (SyncDragEvent == index) {
        if (io.MouseDown[0]) {
            MoveSyncPoint(state, event, e.width > 0.0f ? (io.MousePos.x - min.x) / e.width : 0.0f);
        } else {
            SyncDragEvent = -1;
        }
    }
    return hot || SyncDragEvent == index;
}

void DrawSyncMarker(ImDrawList* dl, const Event& event, ImVec2 min, const EditorPlace& e, bool hot) {
    const float x = min.x + event.syncOffset / event.duration * e.width;
    const std::uint32_t colour = event.muted ? ColorWithAlpha(ThemePalette.textMuted, 40)
                                 : hot       ? ThemePalette.eventAccent
                                             : ThemePalette.curveLineAlt;
    dl->AddLine(ImVec2(x, min.y), ImVec2(x, min.y + e.height), colour, 2.0f);
    dl->AddTriangleFilled(ImVec2(x, min.y + 5.0f), ImVec2(x + 4.0f, min.y), ImVec2(x - 4.0f, min.y), colour);
}

void DrawCurveEditors(AppState& state, Project& project, std::int32_t index, const InspectorMetrics& m,
                      const EditorPlace& e) {
    Event& event = project.events[static_cast<std::size_t>(index)];
    const int kind = event.shape;
    const bool spot = IsKind(kind, EventKind::Spot);
    const float opacity = event.muted ? 0.25f : 1.0f;
    ImDrawList* dl = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    const ImVec2 size(e.width, e.height);
    if (!IsKind(kind, EventKind::Clip) && !IsKind(kind, EventKind::Bed)) {
        float dy = 0.0f;
        DrawCurveEditor("##cW", event.weight, ImVec2(origin.x + m.padding, origin.y + e.y0), size, WeightColorMid, dl,
                        event.weightOffset, 1.0f, spot, true, &dy, false, opacity);
        const bool reset = ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left);
        DragWeightOffset(state, event, dy, e.height);
        if (reset) ResetWeightOffset(state, event);
    }
    if (IsKind(kind, EventKind::Clip)) return;
    const ImVec2 min(origin.x + m.padding, origin.y + e.y0 + e.height + m.gap);
    if (IsKind(kind, EventKind::Fill) || IsKind(kind, EventKind::Bed)) {
        // These kinds always play their drawn curve; the value is implied,
        // so forcing it is no edit.
        event.intensityMode = kIntensityDrawn;
        DrawCurveEditor("##cI", event.intensity, min, size, ThemePalette.curveLine, dl, 0.0f, 1.0f, false, false,
                        nullptr, true, opacity);
        return;
    }
    const bool marker = event.duration > 0.001f && event.intensityMode == kIntensityFollowsSync;
    const bool syncBusy = marker && UpdateSyncMarker(state, event, index, min, e);
    float dy = 0.0f;
    const bool noPaint = spot || IsKind(kind, EventKind::Bloom) || IsKind(kind, EventKind::Contour);
    DrawCurveEditor("##cI", event.intensity, min, size, ThemePalette.curveLine, dl, 0.0f, event.intensityScale,
                    noPaint, false, syncBusy ? nullptr : &dy, false, opacity);
    const bool reset = ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left) &&
                       SyncDragEvent != index;
    DragIntensityScale(state, event, dy, e.height);
    if (reset) ResetIntensityScale(state, event);
    if (marker) DrawSyncMarker(dl, event, min, e, syncBusy);
}

// ---------------------------------------------------------------------------
// [SECTION] Single-event form: bottom row
// ---------------------------------------------------------------------------

// Whether each drag was hovered last frame, only to brighten its text.
bool GainHovered = false;
bool PitchHovered = false;

void PushBottomRowColours(bool hovered) {
    ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ThemePalette.frameBgHovered));
    ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ColourVec(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ColourVec(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(hovered ? ThemePalette.textPrimary : ThemePalette.textSecondary));
}

// Drops whole characters from the end of `text`.
void DropLastCharacter(std::string& text) {
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.back());
        text.pop_back();
        if ((byte & 0xC0) != 0x80) break;  // not a continuation byte
    }
}

// The linked scene's name and its crossfade, above the bottom row.
void DrawSceneRow(AppState& state, const Project& project, Event& event, const InspectorMetrics& m,
                  const EditorPlace& e, float fh) {
    const float y = m.height - m.padding - fh - fh - m.gap;
    const float dragWidth = std::max(3.2f * m.fontSize, 40.0f);
    const float limit = e.width - dragWidth - m.gap;
    std::string name = project.scenes[static_cast<std::size_t>(event.sceneLink)].name;
    std::string text = std::string(icon::kLink) + "  " + name;
    while (ImGui::CalcTextSize(text.c_str()).x > limit && name.size() > 8) {
        DropLastCharacter(name);
        text = std::string(icon::kLink) + "  " + name;
    }
    ImGui::SetCursorPos(ImVec2(m.padding, y));
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(ColourVec(ThemePalette.textSecondary), "%s", text.c_str());
    if (ImGui::IsItemHovered()) ShowTooltip("Linked scene \xe2\x80\x94 use the clapperboard to change or unlink");
    const float width = ImGui::CalcTextSize(text.c_str()).x;
    ImGui::SetCursorPos(ImVec2(width + m.padding + m.gap, y));
    PushBottomRowColours(false);
    int frames = event.sceneCrossfade;
    ImGui::SetNextItemWidth(dragWidth);
    if (ImGui::DragInt("##scenexf", &frames, 0.2f, 0, 120, "%df")) SetSceneCrossfade(state, event, frames);
    ImGui::PopStyleColor(4);
    ShowItemTooltip("Crossfade at scene boundaries (frames)");
}

void DrawBottomRow(AppState& state, Project& project, std::int32_t index, const InspectorMetrics& m,
                   const EditorPlace& e, float fh) {
    Event& event = project.events[static_cast<std::size_t>(index)];
    const float yb = m.height - m.padding - fh;
    const bool clip = IsKind(event.shape, EventKind::Clip);
    const float width = clip ? ClipGainWidth(e.width - m.gap, m.gap) : (e.width - m.gap) / 2.0f;
    ImGui::SetCursorPos(ImVec2(m.padding, yb));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);

    PushBottomRowColours(GainHovered);
    float db = GainToDb(event.gain);
    ImGui::SetNextItemWidth(width);
    if (ImGui::DragFloat("##evgain", &db, 0.1f, kGainFloorDb, 0.0f, "%.1f dB", ImGuiSliderFlags_AlwaysClamp)) {
        SetEventGainDb(state, project, LivePlaybackEngine, index, db);
    }
    GainHovered = ImGui::IsItemHovered();
    ImGui::PopStyleColor(4);
    if (GainHovered) ShowTooltip("Event volume (dB)");
    if (clip) DrawClipOffsetField(state, project, index, m.gap, m.padding + e.width);

    // The stereo flag follows the bus; a copy, so it marks nothing.
    const std::int32_t group = std::clamp(EffectiveGroup(event), 0, kTrackGroupCount - 1);
    event.stereo = project.trackLayout.groups[static_cast<std::size_t>(group)].stereo;

    if (!IsKind(event.shape, EventKind::Clip) && !IsKind(event.shape, EventKind::Bed)) {
        ImGui::SameLine(0.0f, m.gap);
        PushBottomRowColours(PitchHovered);
        float semitones = event.pitchVariation * 24.0f;
        ImGui::SetNextItemWidth(width);
        if (ImGui::DragFloat("##evpitch", &semitones, 0.5f, 0.0f, 24.0f, PitchVariationFormat(width),
                             ImGuiSliderFlags_AlwaysClamp)) {
            SetPitchVariation(state, event, semitones);
        }
        PitchHovered = ImGui::IsItemHovered();
        ImGui::PopStyleColor(4);
        if (PitchHovered) ShowTooltip("Pitch variation (\xc2\xb1 semitones, 0=off)");
    }
    if ((IsKind(event.shape, EventKind::Fill) || IsKind(event.shape, EventKind::Bed)) &&
        SceneLinkValid(project, event)) {
        DrawSceneRow(state, project, event, m, e, fh);
    }
    ImGui::PopStyleVar();
}

// ---------------------------------------------------------------------------
// [SECTION] Single-event form: right column
// ---------------------------------------------------------------------------

void SquareButtonAt(float x, float y) { ImGui::SetCursorPos(ImVec2(x, y)); }

void DrawSceneLinkButton(AppState& state, Project& project, Event& event, float x, float y, float fh) {
    SquareButtonAt(x, y);
    char label[32];
    std::snprintf(label, sizeof(label), "%s##scenelink", icon::kLink);
    const bool noScenes = project.scenes.empty();
    ImGui::BeginDisabled(noScenes);
    if (ImGui::Button(label, ImVec2(fh, fh))) ImGui::OpenPopup("##scenelinkpop");
    ImGui::EndDisabled();
    if (SceneLinkValid(project, event)) {
        ShowItemTooltip("Linked: %s", project.scenes[static_cast<std::size_t>(event.sceneLink)].name);
    } else {
        ShowItemTooltip("%s", noScenes ? "Link to scene (no scenes available)" : "Link to scene");
    }
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##scenelinkpop")) {
        if (SceneLinkValid(project, event)) {
            if (ImGui::Selectable("Unlink")) LinkEventScene(state, event, -1);
            ImGui::Separator();
        }
        for (std::size_t i = 0; i < project.scenes.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::Selectable(project.scenes[i].name, event.sceneLink == static_cast<std::int32_t>(i))) {
                LinkEventScene(state, event, static_cast<std::int32_t>(i));
            }
            ImGui::PopID();
        }
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

void DrawRightColumn(AppState& state, Project& project, std::int32_t index, const InspectorMetrics& m,
                     const EditorPlace& e, float fh, float firstRowY) {
    Event& event = project.events[static_cast<std::size_t>(index)];
    const int kind = event.shape;
    const float x = m.padding + e.width + m.gap;
    const float yb = m.height - m.padding - fh;
    char label[32];

    DrawRecipePanel(state, project, index, ImVec2(x, m.padding), m.padding, fh);

    if (!IsKind(kind, EventKind::Clip) && !IsKind(kind, EventKind::Bed)) {
        SquareButtonAt(x, firstRowY);
        if (DrawPaletteFilterPicker("##libfilterpanel", event.libFilter, static_cast<int>(sizeof(event.libFilter)),
                                    SoundLibrary, fh, 8000)) {
            state.unsavedChanges = true;
            for (std::int32_t other : state.selectedEvents) {
                Event* o = FindEvent(project, other);
                if (o == nullptr || o == &event || IsKind(o->shape, EventKind::Clip)) continue;
                std::memcpy(o->libFilter, event.libFilter, sizeof(o->libFilter));
            }
        }
    }

    PushCompactButtonStyle();
    if (IsKind(kind, EventKind::Clip)) {
        DrawClipReplaceButton(state, project, index, x, firstRowY, fh);
    } else if (IsKind(kind, EventKind::Bed)) {
        DrawBedAddButton(state, project, index, x, firstRowY, fh);
    }
    SquareButtonAt(x, e.y0);
    const bool tuneOff = event.scaleTuneOverride >= 2;
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(tuneOff ? ThemePalette.textMuted : ThemePalette.textPrimary));
    if (tuneOff) ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ThemePalette.frameBg));
    std::snprintf(label, sizeof(label), "%s##scaletune", icon::kMusic);
    if (ImGui::Button(label, ImVec2(fh, fh))) ToggleScaleTuning(state, project, index);
    ImGui::PopStyleColor(tuneOff ? 2 : 1);
    ShowItemTooltip("Pitch-tune to scale: %s\nClick to toggle", tuneOff ? "Force Off" : "Follow Project");

    if (!IsKind(kind, EventKind::Clip)) {
        SquareButtonAt(x, e.y0 + fh + m.gap);
        const bool spot = IsKind(kind, EventKind::Spot);
        const bool on = state.curveDrawMode;
        if (on) {
            ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ColorWithAlpha(ThemePalette.accent, 130)));
            ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ColourVec(ColorWithAlpha(ThemePalette.accent, 175)));
            ImGui::PushStyleColor(ImGuiCol_ButtonActive, ColourVec(ColorWithAlpha(ThemePalette.accent, 175)));
            ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ThemePalette.textPrimary));
        }
        ImGui::BeginDisabled(spot);
        std::snprintf(label, sizeof(label), "%s##drawmode", icon::kPen);
        if (ImGui::Button(label, ImVec2(fh, fh))) ToggleCurveDrawMode(state, project);
        ImGui::EndDisabled();
        if (on) ImGui::PopStyleColor(4);
        ShowItemTooltip("%s", spot ? "Draw mode not available" : on ? "Exit draw mode (D)" : "Draw mode (D)");
    }

    const bool fill = IsKind(kind, EventKind::Fill);
    if (fill || IsKind(kind, EventKind::Bed)) {
        float y = yb;
        if (fill) {
            SquareButtonAt(x, y);
            ImGui::PushStyleColor(ImGuiCol_FrameBg, ColourVec(ThemePalette.frameBgHovered));
            ImGui::PushStyleColor(ImGuiCol_FrameBgHovered, ColourVec(ThemePalette.frameBgActive));
            ImGui::PushStyleColor(ImGuiCol_FrameBgActive, ColourVec(ThemePalette.frameBgActive));
            ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ThemePalette.textSecondary));
            int layers = event.fillLayers < 1 ? 3 : event.fillLayers;
            ImGui::SetNextItemWidth(fh);
            if (ImGui::DragInt("##layers", &layers, 0.15f, 1, 24, "%d", ImGuiSliderFlags_AlwaysClamp)) {
                SetFillLayers(state, event, layers);
            }
            ImGui::PopStyleColor(4);
            char count[16];
            std::snprintf(count, sizeof(count), "%d", event.fillLayers);
            ShowItemTooltip("Spectral layers: %s\n1-2: single body, weight curve selects band\n3+: full spectral "
                            "layering\nDrag to change, double-click to type",
                            event.fillLayers == 0 ? "Auto" : count);
            y -= fh + m.gap;
        }
        DrawSceneLinkButton(state, project, event, x, y, fh);
        y -= fh + m.gap;
        SquareButtonAt(x, y);
        const bool canTrace = TraceReadValid(state) && state.traceAnalysis.frames.size() >= 2;
        ImGui::BeginDisabled(!canTrace);
        std::snprintf(label, sizeof(label), "%s##sample", kGlyphTrace);
        if (ImGui::Button(label, ImVec2(fh, fh))) {
            TraceCurvesFromPicture(state, event, state.traceAnalysis, GlobalVideoPlayer.timelineOffset);
        }
        ImGui::EndDisabled();
        ShowItemTooltip("Trace picture to weight/intensity curves");
        const ImVec2 origin = ImGui::GetWindowPos();
        const float dy = origin.y + y - m.gap;
        ImGui::GetWindowDrawList()->AddLine(ImVec2(origin.x + x + 2.0f, dy), ImVec2(origin.x + x + fh - 2.0f, dy),
                                            ThemePalette.borderSoft);
    } else if (!IsKind(kind, EventKind::Clip)) {
        SquareButtonAt(x, yb);
        const bool onB = EffectiveGroup(event) == 2;
        const std::uint32_t colour = GetGroupColour(onB ? 2 : 1);
        const ImGuiStyle& style = ImGui::GetStyle();
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(style.FramePadding.y, style.FramePadding.y));
        ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
        ImGui::PushStyleColor(ImGuiCol_Button, ColourVec(ColorWithAlpha(colour, AlphaByte(0.55f))));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ColourVec(ColorWithAlpha(colour, AlphaByte(0.75f))));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, ColourVec(ColorWithAlpha(colour, AlphaByte(0.45f))));
        if (ImGui::Button(onB ? "B##easybus" : "A##easybus", ImVec2(fh, fh))) ToggleEventBus(project, index);
        ImGui::PopStyleColor(3);
        ImGui::PopStyleVar(2);
        ShowItemTooltip("Bus: %s\nClick to toggle", onB ? "FX B" : "FX A");
    }
    PopColors4Vars2();
}

void DrawSingleEvent(AppState& state, Project& project, std::int32_t index, const InspectorMetrics& m) {
    const float fh = ImGui::GetFrameHeight();
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
    ImGui::SetCursorPos(ImVec2(m.padding, m.padding));
    DrawKindButton(state, project, index, fh);
    ImGui::PopStyleVar();
    Event& event = project.events[static_cast<std::size_t>(index)];
    ImGui::SameLine(0.0f, m.gap);
    // Everything after the kind button waits for the event to be unmuted.
    ImGui::BeginDisabled(event.muted);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
    DrawLockAndRebuild(state, project, index, m.gap);
    ImGui::PopStyleVar();
    const bool clipOrBed = IsKind(event.shape, EventKind::Clip) || IsKind(event.shape, EventKind::Bed);
    const float firstRowY = m.padding + fh + m.gap;
    if (!clipOrBed) {
        NextRow(m);
        DrawKeywordRow(state, event, m, fh);
        if (event.libFilter[0] != '\0') {
            NextRow(m);
            DrawPaletteFilterLine(state, project, event);
        }
        const std::vector<std::string> pinned = PinnedFilesOf(state, event);
        if (!pinned.empty()) {
            NextRow(m);
            DrawPinnedLine(state, event, pinned);
        }
    } else if (IsKind(event.shape, EventKind::Clip)) {
        DrawClipRows(state, project, index, m, firstRowY, fh);
    }
    NextRow(m);
    const EditorPlace editors = PlaceEditors(project, event, m, fh, firstRowY, ImGui::GetCursorPosY());
    if (IsKind(event.shape, EventKind::Bed)) {
        // The layer list stands where the weight editor and its row stand.
        const float height = std::max(editors.height + editors.y0 - firstRowY, 2.0f * fh);
        DrawBedLayerList(state, project, index, ImVec2(m.padding, firstRowY), ImVec2(editors.width, height), fh);
    }
    DrawCurveEditors(state, project, index, m, editors);
    DrawBottomRow(state, project, index, m, editors, fh);
    DrawRightColumn(state, project, index, m, editors, fh, firstRowY);
    ImGui::EndDisabled();
}

void DrawPlaceholder(const AppState& state, const InspectorMetrics& m) {
    ImFont* medium = state.fonts.mediumFont;
    if (medium != nullptr) ImGui::PushFont(medium);
    const char* text = "No event selected";
    const ImVec2 size = ImGui::CalcTextSize(text);
    ImGui::SetCursorPos(ImVec2((m.width - size.x) * 0.5f, (m.height - size.y) * 0.5f));
    ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", text);
    if (medium != nullptr) ImGui::PopFont();
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] The tab
// ---------------------------------------------------------------------------

const char* PitchVariationFormat(float textWidth, const std::function<float(const char*)>& measure) {
    // Measured at the widest value the drag shows.
    static constexpr const char* kFormats[][2] = {
        {"\xc2\xb1%.0f semitones", "\xc2\xb1" "24 semitones"},
        {"\xc2\xb1%.0f st", "\xc2\xb1" "24 st"},
    };
    for (const auto& format : kFormats)
        if (measure(format[1]) <= textWidth) return format[0];
    return "\xc2\xb1%.0f";
}

const char* PitchVariationFormat(float fieldWidth) {
    return PitchVariationFormat(fieldWidth - 2.0f * ImGui::GetStyle().FramePadding.x,
                                [](const char* text) { return ImGui::CalcTextSize(text).x; });
}

InspectorMetrics ComputeInspectorMetrics(const UILayout& layout) {
    InspectorMetrics m;
    m.width = layout.panelHalfWidth;
    m.height = layout.topAreaHeight;
    m.padding = std::max(10.0f, 0.6f * layout.fontSize);
    m.gap = 0.6f * m.padding;
    m.contentWidth = m.width - 2.0f * m.padding;
    m.fontSize = layout.fontSize;
    return m;
}

void DrawEventsTab(ImDrawList* /*drawList*/, const UILayout& layout) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const InspectorMetrics m = ComputeInspectorMetrics(layout);
    const ImVec2 size(m.width, m.height);

    ImGui::BeginChild("##inspector", size, false, ImGuiWindowFlags_NoScrollbar);
    {
        ImDrawList* dl = ImGui::GetWindowDrawList();
        const ImVec2 min = ImGui::GetWindowPos();
        const ImVec2 max(min.x + m.width, min.y + m.height);
        dl->AddRectFilled(min, max, ThemePalette.inspectorBg);
        dl->AddRect(min, max, ThemePalette.borderSoft);
        const Event* primary = FindEvent(project, state.selectedEvent);
        if (state.dropState.hoverAudio && primary != nullptr && IsKind(primary->shape, EventKind::Bed)) {
            const int alpha = state.dropState.dropOverInspector ? 180 : 70;
            dl->AddRect(ImVec2(min.x + 3.0f, min.y + 3.0f), ImVec2(max.x - 3.0f, max.y - 3.0f),
                        ColorWithAlpha(ThemePalette.accent, alpha), 6.0f, 0, 2.0f);
        }
    }
    ImGui::SetCursorPos(ImVec2(0.0f, 0.0f));
    ImGui::BeginChild("##inspscroll", size, false, ImGuiWindowFlags_NoScrollbar);
    const std::size_t count = state.selectedEvents.size();
    const bool single = count == 1 && FindEvent(project, state.selectedEvent) != nullptr;
    if (single || count >= 2) {
        ImFont* medium = state.fonts.mediumFont;
        if (medium != nullptr) ImGui::PushFont(medium);
        if (single) {
            DrawSingleEvent(state, project, state.selectedEvent, m);
        } else {
            DrawBatchEditor(state, project, m);
        }
        if (medium != nullptr) ImGui::PopFont();
    } else {
        DrawPlaceholder(state, m);
    }
    ImGui::EndChild();
    ImGui::EndChild();

    ImGui::SameLine(0.0f, 0.0f);
    DrawEventList(layout);
}

}  // namespace korvel
