// The scene background picker and SetSceneBackgroundFromPreset.
//
// [SECTION] Adding a background from a recipe
// [SECTION] The popup
#include "ui/timeline/scene_picker.h"

#include <imgui.h>

#include <algorithm>
#include <string>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/bed_event.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/timeline_view.h"

namespace korvel {

std::int32_t ScenePickerOpenedFor = -1;

namespace {

constexpr const char* kCloseGlyph = "\xef\x80\x8d";  // U+F00D
constexpr int kEmptyFillId = 100;
constexpr int kEmptyBedId = 101;
constexpr int kFillRecipeIds = 1000;
constexpr int kBedRecipeIds = 2000;

bool ValidScene(const Project& project, std::int32_t scene) {
    return scene >= 0 && scene < static_cast<std::int32_t>(project.scenes.size());
}

void ClosePicker(AppState& state) {
    state.sceneBackgroundRequest = -1;
    ScenePickerOpenedFor = -1;
}

void MutedText(std::uint32_t colour, const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, colour);
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

// A one-glyph close button at the right end of the current line.
bool CloseButton(const char* id, int textAlpha, int hoverAlpha) {
    const float w = ImGui::CalcTextSize(kCloseGlyph).x;
    ImGui::SameLine(ImGui::GetWindowContentRegionMax().x - w);
    ImGui::PushStyleColor(ImGuiCol_Text, ColorWithAlpha(ThemePalette.textMuted, textAlpha));
    if (hoverAlpha >= 0) ImGui::PushStyleColor(ImGuiCol_HeaderHovered, ColorWithAlpha(ThemePalette.textMuted, hoverAlpha));
    const std::string label = std::string(kCloseGlyph) + id;
    const bool pressed = ImGui::Selectable(label.c_str(), false, 0, ImVec2(w, 0.0f));
    ImGui::PopStyleColor(hoverAlpha >= 0 ? 2 : 1);
    return pressed;
}

void RecipeSection(std::int32_t scene, EventKind kind, const char* heading, int idBase) {
    const bool any = std::any_of(RecipeList.begin(), RecipeList.end(),
                                 [&](const EventPreset& recipe) { return IsKind(recipe.shape, kind); });
    if (!any) return;
    ImGui::Spacing();
    MutedText(ColorWithAlpha(ThemePalette.textMuted, 120), heading);
    const char* glyph = EventKindIcon(KindValue(kind));
    for (std::size_t i = 0; i < RecipeList.size(); ++i) {
        const EventPreset& recipe = RecipeList[i];
        if (!IsKind(recipe.shape, kind)) continue;
        ImGui::PushID(idBase + static_cast<int>(i));
        const bool chosen = IconMenuItem(glyph, recipe.name, recipe.shape);
        ImGui::PopID();
        if (chosen) SetSceneBackgroundFromPreset(scene, recipe);
    }
}

}  // namespace

// [SECTION] Adding a background from a recipe

void SetSceneBackgroundFromPreset(std::int32_t scene, const EventPreset& recipe) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    if (!UiMayEditProject(state)) return;
    PushUndo();
    const bool bed = IsKind(recipe.shape, EventKind::Bed);
    const std::int32_t index = bed ? project.AddSceneBed(scene) : project.AddSceneFill(scene);
    if (index < 0) return;
    Event& event = project.events[static_cast<std::size_t>(index)];
    // The recipe brings its own timing; a background spans its scene.
    const Event kept = event;
    event.ApplyPreset(recipe);
    event.time = kept.time;
    event.duration = kept.duration;
    event.syncOffset = kept.syncOffset;
    event.sceneLink = kept.sceneLink;
    event.sceneCrossfade = kept.sceneCrossfade;
    event.sceneFill = kept.sceneFill;
    CopyText(event.folder, TextOf(kept.folder));
    CopyText(event.presetName, TextOf(recipe.name));
    if (bed) {
        event.locked = true;
        SyncBedEventLayers(project, index);
        state.audioUpdateRequested.store(true, std::memory_order_release);
    } else {
        event.locked = false;
    }
    state.unsavedChanges = true;
}

// [SECTION] The popup

void DrawSceneBackgroundPicker(float displayWidth, float displayHeight, float fontSize) {
    AppState& state = GlobalAppState;
    Project& project = CurrentProject;
    const std::int32_t s = state.sceneBackgroundRequest;
    if (!ValidScene(project, s)) {
        ScenePickerOpenedFor = -1;
        return;
    }
    const TimelineState& tl = Timeline;
    const float width = std::min(0.28f * displayWidth, std::max(220.0f, 17.0f * fontSize));
    if (s != ScenePickerOpenedFor) {
        const float top = tl.y0 + 25.0f + tl.sceneLaneHeight + 2.0f;
        const float x = std::max(tl.laneLeft, TimeToX(project.scenes[static_cast<std::size_t>(s)].inTime));
        ImGui::SetNextWindowPos(ImVec2(x, top), ImGuiCond_Appearing);
        ImGui::OpenPopup("##sceneRecipe");
        ScenePickerOpenedFor = s;
    }
    ImGui::SetNextWindowSizeConstraints(ImVec2(width, 0.0f), ImVec2(width, std::max(0.0f, displayHeight * 0.5f)));
    const bool pushedFont = PushPanelStyle();
    if (!ImGui::BeginPopup("##sceneRecipe")) {
        // Closed by a choice last frame or by a click outside it.
        PopPanelStyle(pushedFont);
        ClosePicker(state);
        return;
    }
    const ThemeColors& c = ThemePalette;
    const bool mayEdit = UiMayEditProject(state);
    const std::string title = "Background \xe2\x80\x94 " + std::string(TextOf(project.scenes[static_cast<std::size_t>(s)].name));
    MutedText(c.textMuted, title.c_str());
    bool close = CloseButton("##closescenerec", 120, 40);
    if (ImGui::IsItemHovered()) ShowTooltip("Done");

    bool listed = false;
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        const Event& event = project.events[i];
        if (!event.sceneFill || event.sceneLink != s) continue;
        listed = true;
        ImGui::PushID(static_cast<int>(i));
        const char* name = event.presetName[0] != '\0' ? event.presetName : project.EventTitle(event);
        ImGui::PushStyleColor(ImGuiCol_Text, ColorWithAlpha(c.textPrimary, 220));
        ImGui::Text("%s  %s", EventKindIcon(event.shape), name);
        ImGui::PopStyleColor();
        ImGui::BeginDisabled(!mayEdit);
        if (CloseButton("##rmbg", 140, -1)) state.pendingDeleteEvent = static_cast<std::int32_t>(i);
        ImGui::EndDisabled();
        ShowItemTooltip("%s", "Remove this background");
        ImGui::PopID();
    }
    if (listed) {
        ImGui::Spacing();
        ImGui::Separator();
        ImGui::Spacing();
    }

    ImGui::BeginDisabled(!mayEdit);
    if (IconMenuItem(EventKindIcon(KindValue(EventKind::Fill)), "Empty Fill", kEmptyFillId)) {
        PushUndo();
        project.AddSceneFill(s);
        state.unsavedChanges = true;
    }
    ShowItemTooltip("%s", "Blank Fill \xe2\x80\x94 specify from your library");
    if (IconMenuItem(EventKindIcon(KindValue(EventKind::Bed)), "Empty Bed", kEmptyBedId)) {
        PushUndo();
        project.AddSceneBed(s);
        state.unsavedChanges = true;
    }
    ShowItemTooltip("%s", "Blank Bed \xe2\x80\x94 drop your own files onto the scene");
    RecipeSection(s, EventKind::Fill, "FILL RECIPES", kFillRecipeIds);
    RecipeSection(s, EventKind::Bed, "BED RECIPES", kBedRecipeIds);
    ImGui::EndDisabled();

    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) close = true;
    if (close) {
        ClosePicker(state);
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
    PopPanelStyle(pushedFont);
}

}  // namespace korvel
