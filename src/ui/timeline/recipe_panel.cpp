// Recipes in the inspector: applying, saving and deleting them, and the two
// panels that offer them.
//
// [SECTION] Applying
// [SECTION] Saving and deleting
// [SECTION] The one-event panel
// [SECTION] The batch panel
#include "ui/timeline/recipe_panel.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/bed_event.h"
#include "engine/clip_event.h"
#include "engine/published_layers.h"
#include "engine/render_job.h"
#include "engine/voice_sync.h"
#include "playback/playback_engine.h"
#include "presets/recipes.h"
#include "presets/recipe_previews.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/event_kind_icons.h"
#include "ui/timeline/inspector_edits.h"

namespace korvel {

using panels::ColourVec;
namespace {


// ---------------------------------------------------------------------------
// [SECTION] Applying
// ---------------------------------------------------------------------------

const EventPreset* FindRecipe(std::int32_t recipe) {
    if (recipe < 0 || static_cast<std::size_t>(recipe) >= RecipeList.size()) return nullptr;
    return &RecipeList[static_cast<std::size_t>(recipe)];
}

// A build or an export reads the events and layers a recipe rewrites.
bool MayApply(const AppState& state) {
    if (UiMayEditProject(state)) return true;
    PostStatus(kBusyEditStatus, 3.0f);
    return false;
}

void ApplyKeepingTime(Event& event, const EventPreset& recipe) {
    const float time = event.time;
    event.ApplyPreset(recipe);
    event.time = time;
}

}  // namespace

void PlaceClipsAgain(AppState& state, Project& project, const std::vector<std::int32_t>& clips) {
    if (clips.empty()) return;
    {
        LayerStorageEdit edit(project);
        std::erase_if(project.results, [&](const LayerResult& layer) {
            return std::binary_search(clips.begin(), clips.end(), layer.eventIdx);
        });
        for (std::int32_t index : clips) {
            if (!BuildClipEvent(project, index)) continue;
            Event& clip = project.events[static_cast<std::size_t>(index)];
            for (const LayerResult& layer : project.results) {
                if (layer.eventIdx != index) continue;
                clip.duration = layer.duration;
                break;
            }
        }
    }
    // Rendering loads each clip's waveform overview too.
    for (std::int32_t index : clips) RenderEvent(index);
    CheckRenderCacheIntegrity();
    LocatePlayback(LivePlaybackEngine, state.playhead);
}

namespace {

bool HasClipFile(const Event& event) { return IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0'; }

}  // namespace

bool ApplyRecipeToEvent(AppState& state, Project& project, std::int32_t index, std::int32_t recipe) {
    const EventPreset* chosen = FindRecipe(recipe);
    Event* event = FindEvent(project, index);
    if (chosen == nullptr || event == nullptr || !MayApply(state)) return false;
    PushUndo();
    ApplyKeepingTime(*event, *chosen);
    std::snprintf(event->presetName, sizeof(event->presetName), "%s", chosen->name);
    if (IsKind(event->shape, EventKind::Bed)) {
        event->locked = true;
        {
            LayerStorageEdit edit(project);
            SyncBedEventLayers(project, index);
        }
        state.audioUpdateRequested.store(true, std::memory_order_release);
    } else if (HasClipFile(*event)) {
        PlaceClipsAgain(state, project, {index});
    }
    return true;
}

bool ApplyRecipeToSelection(AppState& state, Project& project, std::int32_t recipe) {
    const EventPreset* chosen = FindRecipe(recipe);
    if (chosen == nullptr || !MayApply(state)) return false;
    PushUndo();
    std::vector<std::int32_t> clips;
    std::vector<std::int32_t> others;
    for (std::int32_t index : state.selectedEvents) {  // ascending
        Event* event = FindEvent(project, index);
        if (event == nullptr) continue;
        ApplyKeepingTime(*event, *chosen);
        if (!IsKind(event->shape, EventKind::Clip)) {
            others.push_back(index);
        } else if (event->pinnedFile[0] != '\0') {
            clips.push_back(index);
        }
    }
    PlaceClipsAgain(state, project, clips);
    if (!others.empty()) {
        state.pendingRenderEvents = others;
        state.pendingRenderMode = kRenderEventList;
    }
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Saving and deleting
// ---------------------------------------------------------------------------

bool SaveEventAsRecipe(AppState& state, Project& project, std::int32_t index, const char* name) {
    Event* event = FindEvent(project, index);
    if (event == nullptr || name == nullptr || name[0] == '\0') return false;
    EventPreset preset = CapturePresetFromEvent(*event);
    std::snprintf(preset.name, sizeof(preset.name), "%s", name);
    std::error_code error;
    if (!SaveRecipe(preset, error)) return false;
    ReloadRecipes(state);
    if (std::string_view(event->presetName) != preset.name) {
        std::snprintf(event->presetName, sizeof(event->presetName), "%s", preset.name);
        state.unsavedChanges = true;
    }
    return true;
}

bool DeleteRecipeAt(std::int32_t recipe) {
    const EventPreset* chosen = FindRecipe(recipe);
    if (chosen == nullptr) return false;
    DeleteRecipePreview(*chosen);
    std::error_code error;
    if (!chosen->sourcePath.empty()) std::filesystem::remove(chosen->sourcePath, error);
    ReloadRecipes();
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] The one-event panel
// ---------------------------------------------------------------------------

namespace {

// The panel's edit mode and name field; they live while it is open. UI
// thread only.
bool RecipeEditMode = false;
char RecipeNameBuffer[64] = {};

// The rows of RecipeList: apply a recipe, or in edit mode delete one.
void DrawRecipeRows(AppState& state, Project& project, std::int32_t index) {
    const Event& event = project.events[static_cast<std::size_t>(index)];
    for (std::size_t i = 0; i < RecipeList.size(); ++i) {
        const EventPreset& recipe = RecipeList[i];
        ImGui::PushID(static_cast<int>(i) + 5000);
        if (!RecipeEditMode) {
            const bool current = std::string_view(recipe.name) == std::string_view(event.presetName);
            if (IconMenuItem(EventKindIcon(recipe.shape), recipe.name, current, recipe.shape)) {
                ApplyRecipeToEvent(state, project, index, static_cast<std::int32_t>(i));
            }
            ImGui::PopID();
            continue;
        }
        char label[96];
        std::snprintf(label, sizeof(label), "%s  %s", icon::kClose, recipe.name);
        PushMenuRowColors();
        const bool chosen = ImGui::Selectable(label, false, ImGuiSelectableFlags_DontClosePopups);
        PopColors2();
        ImGui::PopID();
        if (chosen) {
            DeleteRecipeAt(static_cast<std::int32_t>(i));
            if (RecipeList.empty()) RecipeEditMode = false;
            break;  // the list changed under the loop
        }
    }
}

void DrawRecipePanelBody(AppState& state, Project& project, std::int32_t index, float maxHeight) {
    const ImGuiStyle& style = ImGui::GetStyle();
    const std::size_t count = RecipeList.size();
    const float rows = static_cast<float>(std::max<std::size_t>(count, 1));
    float listHeight = (ImGui::GetFontSize() + style.ItemSpacing.y) * rows + 2.0f * style.WindowPadding.y + 2.0f;
    // The name row below keeps its place within the panel's height.
    const float rest = 2.0f * style.WindowPadding.y + 2.0f * style.ItemSpacing.y + ImGui::GetFrameHeight() + 1.0f;
    listHeight = std::max(1.0f, std::min(listHeight, maxHeight - rest));
    ImGui::BeginChild("##reciplist", ImVec2(0.0f, listHeight), false);
    if (count == 0) {
        ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", "No recipes saved yet");
    } else {
        DrawRecipeRows(state, project, index);
    }
    ImGui::EndChild();

    ImGui::Separator();
    char saveLabel[32];
    std::snprintf(saveLabel, sizeof(saveLabel), "%s Save##ps", icon::kPlus);
    const float saveWidth = ImGui::CalcTextSize(saveLabel, nullptr, true).x + 2.0f * style.FramePadding.x;
    const float editWidth =
        std::max(ImGui::CalcTextSize("Done").x, ImGui::CalcTextSize("Edit").x) + 2.0f * style.FramePadding.x;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - saveWidth - editWidth - 8.0f);
    const bool entered = ImGui::InputText("##pname", RecipeNameBuffer, sizeof(RecipeNameBuffer),
                                          ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::SameLine(0.0f, 4.0f);
    PushActionButtonStyle();
    const bool saved = ImGui::Button(saveLabel, ImVec2(saveWidth, 0.0f));
    PopColors4Vars1();
    if (entered || saved) {
        // An empty name writes nothing; the panel closes either way.
        SaveEventAsRecipe(state, project, index, RecipeNameBuffer);
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine(0.0f, 4.0f);
    ImGui::BeginDisabled(RecipeList.empty());
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(RecipeEditMode ? ThemePalette.accent : ThemePalette.textMuted));
    if (ImGui::Button(RecipeEditMode ? "Done##pe" : "Edit##pe", ImVec2(editWidth, 0.0f))) {
        RecipeEditMode = !RecipeEditMode;
    }
    ImGui::PopStyleColor();
    ImGui::EndDisabled();
}

}  // namespace

void DrawRecipePanel(AppState& state, Project& project, std::int32_t index, const ImVec2& buttonPos,
                     float contentLeft, float frameHeight) {
    Event* event = FindEvent(project, index);
    if (event == nullptr) return;
    char label[32];
    std::snprintf(label, sizeof(label), "%s##presetdrop", icon::kLayers);
    ImGui::SetCursorPos(buttonPos);
    PushCompactButtonStyle();
    const bool clicked = ImGui::Button(label, ImVec2(frameHeight, frameHeight));
    PopColors4Vars2();
    ShowItemTooltip("Select or save recipe");
    if (clicked) {
        event->AutoName(RecipeNameBuffer, sizeof(RecipeNameBuffer));
        ImGui::OpenPopup("##presetpanel");
    }

    const ImVec2 origin = ImGui::GetWindowPos();
    const float buttonRight = buttonPos.x + frameHeight;
    const float width = std::max(buttonRight - contentLeft, 160.0f);
    const float maxHeight = ImGui::GetIO().DisplaySize.y * 0.5f;
    ImGui::SetNextWindowPos(ImVec2(origin.x + contentLeft, origin.y + buttonPos.y + frameHeight + 4.0f),
                            ImGuiCond_Appearing, ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSizeConstraints(ImVec2(width, 0.0f), ImVec2(width, maxHeight));
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##presetpanel", ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse)) {
        DrawRecipePanelBody(state, project, index, maxHeight);
        ImGui::EndPopup();
    } else {
        RecipeEditMode = false;  // closing the panel leaves edit mode
    }
    PopPanelStyle(pushedFont);
}

// ---------------------------------------------------------------------------
// [SECTION] The batch panel
// ---------------------------------------------------------------------------

void DrawBatchRecipePanel(AppState& state, Project& project, const ImVec2& buttonPos, float inspectorRight,
                          float fontSize, float frameHeight) {
    char label[32];
    std::snprintf(label, sizeof(label), "%s##bpresetdrop", icon::kLayers);
    ImGui::SetCursorPos(buttonPos);
    PushCompactButtonStyle();
    if (ImGui::Button(label, ImVec2(frameHeight, frameHeight))) ImGui::OpenPopup("##batchpresetpanel");
    PopColors4Vars2();
    ShowItemTooltip("Apply recipe to all selected");

    const float width = std::max(16.0f * fontSize, 200.0f);
    const float top = ImGui::GetWindowPos().y + buttonPos.y + frameHeight + 4.0f;
    ImGui::SetNextWindowPos(ImVec2(inspectorRight - width - 12.0f, top), ImGuiCond_Appearing);
    ImGui::SetNextWindowSizeConstraints(ImVec2(width, 0.0f), ImVec2(width, ImGui::GetIO().DisplaySize.y * 0.5f));
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##batchpresetpanel")) {
        ImGui::TextColored(ColourVec(ThemePalette.textSecondary), "Apply recipe to %d events",
                           static_cast<int>(state.selectedEvents.size()));
        ImGui::Spacing();
        ImGui::Separator();
        ImGui::Spacing();
        if (RecipeList.empty()) {
            ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", "No recipes saved");
        }
        for (std::size_t i = 0; i < RecipeList.size(); ++i) {
            const EventPreset& recipe = RecipeList[i];
            ImGui::PushID(static_cast<int>(i) + 6000);
            const bool chosen = IconMenuItem(EventKindIcon(recipe.shape), recipe.name, false, recipe.shape);
            ImGui::PopID();
            if (chosen) {
                ApplyRecipeToSelection(state, project, static_cast<std::int32_t>(i));
                break;
            }
        }
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

}  // namespace korvel
