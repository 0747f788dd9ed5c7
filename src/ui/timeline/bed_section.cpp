// The Bed's section of the inspector.
//
// [SECTION] List helpers
// [SECTION] Edits
// [SECTION] Layer cards
// [SECTION] The list
// [SECTION] Add button
#include "ui/timeline/bed_section.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/bed_event.h"
#include "engine/published_layers.h"
#include "library/audio_file.h"
#include "library/brightness_probe.h"
#include "library/channel_layout.h"
#include "library/file_id.h"
#include "library/library.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/event_editing.h"
#include "project/project.h"
#include "project/undo.h"
#include "ui/panels/panel_look.h"
#include "ui/timeline/inspector_edits.h"
#include "ui/timeline/text_fit.h"

namespace korvel {

using panels::ColourVec;
namespace {


float DrawnWidth(std::string_view text) { return ImGui::CalcTextSize(text.data(), text.data() + text.size()).x; }

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Event* FindBed(Project& project, std::int32_t index) {
    Event* event = FindEvent(project, index);
    return event != nullptr && IsKind(event->shape, EventKind::Bed) ? event : nullptr;
}

bool ValidLayer(const Event& bed, std::int32_t layer) {
    return layer >= 0 && static_cast<std::size_t>(layer) < bed.pinnedFiles.size();
}

bool MayEditLayers(const AppState& state) {
    if (UiMayEditProject(state)) return true;
    PostStatus(kBusyEditStatus, 3.0f);
    return false;
}

// A list shorter than the files grows with the value its missing entries
// stand for; a longer one keeps its extra entries.
template <typename T>
void GrowTo(std::vector<T>& list, std::size_t count, const T& value) {
    if (list.size() < count) list.resize(count, value);
}

void LayOutAgain(AppState& state, Project& project, std::int32_t index) {
    {
        LayerStorageEdit edit(project);
        SyncBedEventLayers(project, index);
    }
    state.audioUpdateRequested.store(true, std::memory_order_release);
    state.unsavedChanges = true;
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] List helpers
// ---------------------------------------------------------------------------

const char* ChannelCountName(std::int32_t channels) {
    switch (channels) {
        case 1: return "mono";
        case 2: return "stereo";
        case 4: return "quad";
        case 6: return "5.1";
        case 8: return "7.1";
        default: return channels <= 0 ? "?" : "multi";
    }
}

std::int32_t BedDropIndex(float pointerY, float childY, float scrollY, float rowHeight, std::int32_t count) {
    if (rowHeight <= 0.0f) return 0;
    const float row = std::floor((pointerY - childY + scrollY + rowHeight * 0.5f) / rowHeight);
    return static_cast<std::int32_t>(std::clamp(row, 0.0f, static_cast<float>(std::max(count, 0))));
}

bool IsBedLayerMissing(const Event& bed, std::size_t layer) {
    if (layer >= bed.pinnedFiles.size()) return false;
    std::string path = bed.pinnedFiles[layer];
    if (layer < bed.pinnedFileIds.size() && !bed.pinnedFileIds[layer].empty()) {
        path = ResolveFileId(bed.pinnedFileIds[layer], path);
        if (path.empty()) return true;
        // The registry keeps its last answer until it changes; a file
        // deleted since then is still gone.
    }
    std::error_code error;
    return !std::filesystem::exists(path, error);
}

// ---------------------------------------------------------------------------
// [SECTION] Edits
// ---------------------------------------------------------------------------

bool MoveBedLayer(AppState& state, Project& project, std::int32_t index, std::int32_t from, std::int32_t drop) {
    Event* bed = FindBed(project, index);
    if (bed == nullptr || !ValidLayer(*bed, from)) return false;
    const std::size_t count = bed->pinnedFiles.size();
    drop = std::clamp(drop, 0, static_cast<std::int32_t>(count));
    const std::int32_t to = drop > from ? drop - 1 : drop;
    if (to == from || !MayEditLayers(state)) return false;
    PushUndo();
    // Each file's identity, loop flag and weight travel with it, also where
    // a list stopped short of the files.
    GrowTo(bed->pinnedFileIds, count, std::string());
    GrowTo(bed->bedLayerLoop, count, std::uint8_t{0});
    GrowTo(bed->bedLayerWeight, count, -1.0f);
    const auto f = static_cast<std::size_t>(from);
    const auto t = static_cast<std::size_t>(to);
    MoveListItem(bed->pinnedFiles, f, t);
    MoveListItem(bed->pinnedFileIds, f, t);
    MoveListItem(bed->bedLayerLoop, f, t);
    MoveListItem(bed->bedLayerWeight, f, t);
    LayOutAgain(state, project, index);
    return true;
}

bool ToggleBedLayerLoop(AppState& state, Project& project, std::int32_t index, std::int32_t layer) {
    Event* bed = FindBed(project, index);
    if (bed == nullptr || !ValidLayer(*bed, layer) || !MayEditLayers(state)) return false;
    PushUndo();
    GrowTo(bed->bedLayerLoop, bed->pinnedFiles.size(), std::uint8_t{0});
    std::uint8_t& loop = bed->bedLayerLoop[static_cast<std::size_t>(layer)];
    loop = loop != 0 ? 0 : 1;
    LayOutAgain(state, project, index);
    return true;
}

bool RemoveBedLayer(AppState& state, Project& project, std::int32_t index, std::int32_t layer) {
    Event* bed = FindBed(project, index);
    if (bed == nullptr || !ValidLayer(*bed, layer) || !MayEditLayers(state)) return false;
    PushUndo();
    const auto k = static_cast<std::ptrdiff_t>(layer);
    auto eraseAt = [k](auto& list) {
        if (static_cast<std::ptrdiff_t>(list.size()) > k) list.erase(list.begin() + k);
    };
    eraseAt(bed->pinnedFiles);
    eraseAt(bed->pinnedFileIds);
    eraseAt(bed->bedLayerLoop);
    eraseAt(bed->bedLayerWeight);
    LayOutAgain(state, project, index);
    return true;
}

bool ReplaceBedLayer(AppState& state, Project& project, std::int32_t index, std::int32_t layer) {
    const auto& openFile = state.platformHooks.openFileDialog;
    Event* bed = FindBed(project, index);
    if (!openFile || bed == nullptr || !ValidLayer(*bed, layer) || !MayEditLayers(state)) return false;
    PushUndo();
    const std::string path = openFile("Replace Bed Layer", "wav");
    bed = FindBed(project, index);  // the dialog ran frames of nothing, but stay safe
    if (bed == nullptr || !ValidLayer(*bed, layer)) return false;
    if (!path.empty()) {
        const std::size_t count = bed->pinnedFiles.size();
        const auto k = static_cast<std::size_t>(layer);
        bed->pinnedFiles[k] = path;
        GrowTo(bed->pinnedFileIds, count, std::string());
        bed->pinnedFileIds[k] = ComputeFileId(path).id;
        GrowTo(bed->bedLayerWeight, count, -1.0f);
        bed->bedLayerWeight[k] = GetFileBrightness(path, bed->pinnedFileIds[k], &SoundLibrary.palettes);
    }
    LayOutAgain(state, project, index);
    return true;
}

bool AddBedLayerFromDialog(AppState& state, Project& project, std::int32_t index) {
    const auto& openFile = state.platformHooks.openFileDialog;
    if (!openFile || FindBed(project, index) == nullptr || !MayEditLayers(state)) return false;
    const std::string path = openFile("Add Bed Layer", "wav");
    if (path.empty() || FindBed(project, index) == nullptr) return false;
    PushUndo();
    AddBedLayerFiles(project, index, {path}, &SoundLibrary.palettes);
    state.audioUpdateRequested.store(true, std::memory_order_release);
    state.unsavedChanges = true;
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Layer cards
// ---------------------------------------------------------------------------

namespace {

// The pressed or dragged layer and the bed it belongs to; kept across
// frames. UI thread only.
struct BedDrag {
    std::int32_t layer = -1;
    std::int32_t event = -1;
};
BedDrag BedDragging;

void EndBedDrag() { BedDragging = BedDrag{}; }

void CardTooltip(const Event& bed, std::size_t i, bool missing) {
    const std::string& path = bed.pinnedFiles[i];
    const bool pushedFont = PushTooltipStyle();
    ImGui::BeginTooltip();
    ImGui::PushTextWrapPos(26.0f * ImGui::GetFontSize());
    if (missing) {
        ImGui::TextColored(ColourVec(ThemePalette.attention), "%s", "Missing \xe2\x80\x94 relink from the Library tab");
        ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", path.c_str());
    } else {
        const bool loops = i < bed.bedLayerLoop.size() && bed.bedLayerLoop[i] != 0;
        const AudioFileInfo info = GetAudioFileInfo(path);
        std::string label = GetChannelLayoutLabel(SoundLibrary, path);
        if (label.empty()) label = ChannelCountName(info.channels);
        ImGui::TextUnformatted(FileNameOf(path).c_str());
        ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s \xc2\xb7 %.1fs%s", label.c_str(),
                           static_cast<double>(info.duration), loops ? " \xc2\xb7 loop" : "");
        ImGui::TextColored(ColourVec(ColorWithAlpha(ThemePalette.textMuted, 150)), "%s", path.c_str());
    }
    ImGui::PopTextWrapPos();
    ImGui::EndTooltip();
    PopTooltipStyle(pushedFont);
}

// Draws the glyph centred in the column [left, right] of the row at `top`.
void ColumnGlyph(ImDrawList* dl, const char* glyph, float left, float right, float top, float fh,
                 std::uint32_t colour) {
    const ImVec2 size = ImGui::CalcTextSize(glyph);
    dl->AddText(ImVec2((left + right - size.x) * 0.5f, top + (fh - size.y) * 0.5f), colour, glyph);
}

struct RowActions {
    std::int32_t remove = -1;
    std::int32_t replace = -1;
};

void LayerMenu(AppState& state, Project& project, std::int32_t index, std::int32_t i, bool missing,
               RowActions& actions) {
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##bedlayermenu")) {
        const Event& bed = project.events[static_cast<std::size_t>(index)];
        const auto k = static_cast<std::size_t>(i);
        const bool loops = k < bed.bedLayerLoop.size() && bed.bedLayerLoop[k] != 0;
        const std::string path = bed.pinnedFiles[k];
        if (ImGui::MenuItem("Loop", nullptr, loops)) ToggleBedLayerLoop(state, project, index, i);
        ShowItemTooltip("%s", "Loop: tile this file end-to-end with a seam crossfade\nOff = shuffle (spliced by "
                              "similarity)");
        ImGui::Separator();
        if (ImGui::MenuItem("Replace...")) actions.replace = i;
        if (ImGui::MenuItem("Remove")) actions.remove = i;
        const auto& reveal = state.platformHooks.revealInExplorer;
        if (!missing && reveal) {
            ImGui::Separator();
            if (ImGui::MenuItem("Show in Explorer")) reveal(path);
        }
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

void DrawLayerCard(AppState& state, Project& project, std::int32_t index, std::int32_t i, float avail, float fh,
                   float rh, bool dragging, RowActions& actions) {
    const Event& bed = project.events[static_cast<std::size_t>(index)];
    const auto k = static_cast<std::size_t>(i);
    const bool missing = IsBedLayerMissing(bed, k);
    const bool dragged = dragging && BedDragging.layer == i;
    const bool loops = k < bed.bedLayerLoop.size() && bed.bedLayerLoop[k] != 0;
    const float weight = k < bed.bedLayerWeight.size() ? bed.bedLayerWeight[k] : -1.0f;
    float a = avail - 1.7f * fh;
    if (missing) a -= 0.85f * fh;

    const float rowY = static_cast<float>(i) * rh;
    ImGui::SetCursorPos(ImVec2(0.0f, rowY));
    const ImVec2 min = ImGui::GetCursorScreenPos();
    ImDrawList* dl = ImGui::GetWindowDrawList();
    dl->AddRectFilled(min, ImVec2(min.x + avail, min.y + fh),
                      dragged ? ColorWithAlpha(ThemePalette.frameBg, 90) : ThemePalette.frameBg, 3.0f);
    const std::uint32_t stripe = weight >= 0.0f ? ColorWithAlpha(GetWeightColor(weight), dragged ? 80 : 230)
                                                : IM_COL32(0x8C, 0x8C, 0x91, dragged ? 80 : 200);
    dl->AddRectFilled(min, ImVec2(min.x + 3.0f, min.y + fh), stripe, 3.0f, ImDrawFlags_RoundCornersLeft);

    const std::string name = ShortenEnd(FileNameOf(bed.pinnedFiles[k]), a - 12.0f - 8.0f, 7, DrawnWidth);
    const std::uint32_t nameColour = missing   ? ColorWithAlpha(ThemePalette.textMuted, 200)
                                     : dragged ? ColorWithAlpha(ThemePalette.textPrimary, 90)
                                               : ThemePalette.textPrimary;
    const float textHeight = ImGui::GetFontSize();
    dl->AddText(ImVec2(min.x + 9.0f, min.y + (fh - textHeight) * 0.5f), nameColour, name.c_str());

    ImGui::InvisibleButton("##bedcard", ImVec2(std::max(20.0f, a - 12.0f), fh));
    if (ImGui::IsItemHovered() && !dragging) CardTooltip(bed, k, missing);
    if (ImGui::IsItemActivated()) BedDragging = BedDrag{i, index};
    if (ImGui::IsItemDeactivated() && !ImGui::IsMouseDragPastThreshold(ImGuiMouseButton_Left, 4.0f)) EndBedDrag();

    if (loops) {
        ColumnGlyph(dl, icon::kRotate, min.x + a, min.x + a + 0.85f * fh, min.y, fh,
                    ColorWithAlpha(ThemePalette.textMuted, 170));
    }
    if (missing) ColumnGlyph(dl, icon::kUnlink, min.x + a - 0.85f * fh, min.x + a, min.y, fh, ThemePalette.attention);

    ImGui::SetCursorPos(ImVec2(avail - 0.85f * fh, rowY));
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.0f, 0.0f, 0.0f, 0.0f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ColourVec(ThemePalette.frameBgHovered));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ColourVec(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_Text, ColourVec(ColorWithAlpha(ThemePalette.textMuted, 150)));
    char label[32];
    std::snprintf(label, sizeof(label), "%s##lmenu", icon::kEllipsis);
    if (ImGui::Button(label, ImVec2(0.85f * fh, fh))) ImGui::OpenPopup("##bedlayermenu");
    ImGui::PopStyleColor(4);
    LayerMenu(state, project, index, i, missing, actions);
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] The list
// ---------------------------------------------------------------------------

void DrawBedLayerList(AppState& state, Project& project, std::int32_t index, const ImVec2& pos, const ImVec2& size,
                      float frameHeight) {
    if (FindBed(project, index) == nullptr) return;
    ImGui::SetCursorPos(pos);
    ImGui::BeginChild("##bedfiles", size, false);
    const float fh = frameHeight;
    const float rh = fh + 3.0f;
    const ImVec2 child = ImGui::GetWindowPos();
    const float scrollY = ImGui::GetScrollY();
    const float avail = ImGui::GetContentRegionAvail().x;
    const ImGuiIO& io = ImGui::GetIO();
    // A running build may relink the files' paths, under its storage lock;
    // the cards read them under it too. Edits wait for the job to end.
    auto jobLock = JobReadLock(state.backgroundJob.active.load(std::memory_order_acquire));
    auto count = static_cast<std::int32_t>(project.events[static_cast<std::size_t>(index)].pinnedFiles.size());

    std::int32_t drop = -1;
    if (BedDragging.event == index && BedDragging.layer >= 0 && BedDragging.layer < count &&
        ImGui::IsMouseDragPastThreshold(ImGuiMouseButton_Left, 4.0f)) {
        drop = BedDropIndex(io.MousePos.y, child.y, scrollY, rh, count);
    }

    RowActions actions;
    for (std::int32_t i = 0; i < count; ++i) {
        ImGui::PushID(i);
        DrawLayerCard(state, project, index, i, avail, fh, rh, drop >= 0, actions);
        ImGui::PopID();
    }
    if (jobLock.owns_lock()) jobLock.unlock();

    if (drop >= 0) {
        const float y = child.y - scrollY + static_cast<float>(drop) * rh - 1.5f;
        ImGui::GetWindowDrawList()->AddLine(ImVec2(child.x, y), ImVec2(child.x + avail, y), ThemePalette.accent, 2.0f);
        if (!io.MouseDown[ImGuiMouseButton_Left]) {
            const std::int32_t from = BedDragging.layer;
            EndBedDrag();
            MoveBedLayer(state, project, index, from, drop);
        }
    } else if (!io.MouseDown[ImGuiMouseButton_Left] && !ImGui::IsAnyItemActive()) {
        EndBedDrag();
    }

    if (count == 0) {
        char text[96];
        std::snprintf(text, sizeof(text), "Drop audio files here, or use %s", icon::kFolderPlus);
        const ImVec2 textSize = ImGui::CalcTextSize(text);
        const ImVec2 region = ImGui::GetWindowSize();
        ImGui::SetCursorPos(
            ImVec2(std::max(4.0f, (region.x - textSize.x) * 0.5f), std::max(4.0f, (region.y - textSize.y) * 0.5f)));
        ImGui::TextColored(ColourVec(ThemePalette.textMuted), "%s", text);
    }

    // The child's extent covers every row.
    ImGui::SetCursorPos(ImVec2(0.0f, static_cast<float>(count) * rh));
    ImGui::Dummy(ImVec2(1.0f, 1.0f));
    ImGui::EndChild();

    if (actions.remove >= 0) {
        RemoveBedLayer(state, project, index, actions.remove);
    } else if (actions.replace >= 0) {
        ReplaceBedLayer(state, project, index, actions.replace);
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Add button
// ---------------------------------------------------------------------------

void DrawBedAddButton(AppState& state, Project& project, std::int32_t index, float x, float y, float frameHeight) {
    ImGui::SetCursorPos(ImVec2(x, y));
    char label[32];
    std::snprintf(label, sizeof(label), "%s##bedaddcol", icon::kFolderPlus);
    if (ImGui::Button(label, ImVec2(frameHeight, frameHeight))) AddBedLayerFromDialog(state, project, index);
    ShowItemTooltip("%s", "Add a file as a bed layer");
}

std::pair<std::int32_t, std::int32_t> BedDragState() { return {BedDragging.layer, BedDragging.event}; }

}  // namespace korvel
