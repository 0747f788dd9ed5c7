#include "ui/panels/palette_filter_picker.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/theme.h"
#include "library/library.h"
#include "app/frame/style.h"
#include "ui/panels/panel_look.h"

namespace korvel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void CopyFilter(char* buffer, int capacity, std::string_view text) {
    const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace

bool IsListedPalette(const Palette& palette) { return palette.enabled && !palette.folderMissing; }

std::vector<std::string_view> ReadPaletteFilterItems(std::string_view filter) {
    std::vector<std::string_view> items;
    size_t i = 0;
    while (i <= filter.size()) {
        size_t end = filter.find(',', i);
        if (end == std::string_view::npos) end = filter.size();
        size_t a = i;
        size_t b = end;
        while (a < b && IsBlank(filter[a])) ++a;
        while (b > a && IsBlank(filter[b - 1])) --b;
        if (b > a) items.push_back(filter.substr(a, b - a));
        i = end + 1;
    }
    return items;
}

bool PaletteFilterTicks(std::string_view filter, std::string_view name) {
    if (filter.empty()) return true;
    if (filter == kPaletteFilterNone) return false;
    const auto items = ReadPaletteFilterItems(filter);
    return std::find(items.begin(), items.end(), name) != items.end();
}

PaletteFilterResult RebuildPaletteFilter(const Library& library, std::string_view filter, int changedIndex,
                                         bool ticked, int capacity) {
    PaletteFilterResult result;
    int listed = 0;
    std::vector<const std::string*> names;
    for (int i = 0; i < static_cast<int>(library.palettes.size()); ++i) {
        const Palette& palette = library.palettes[i];
        if (!IsListedPalette(palette)) continue;
        ++listed;
        const bool on = i == changedIndex ? ticked : PaletteFilterTicks(filter, palette.name);
        if (on) names.push_back(&palette.name);
    }
    result.ticked = static_cast<int>(names.size());
    result.everyListed = result.ticked == listed;
    if (result.everyListed || result.ticked == 0) return result;
    const size_t limit = capacity > 0 ? static_cast<size_t>(capacity - 1) : 0;
    for (const std::string* name : names) {
        const size_t needed = name->size() + (result.text.empty() ? 0 : 1);
        // Cutting a name could leave another palette's name (a prefix of it).
        if (result.text.size() + needed > limit) continue;
        if (!result.text.empty()) result.text += ',';
        result.text += *name;
        ++result.written;
    }
    return result;
}

std::string PaletteCheckboxLabel(const std::string& name, std::size_t fileCount) {
    char label[320];
    if (fileCount >= 1000)
        std::snprintf(label, sizeof label, "%s  (%.1fk)", name.c_str(), static_cast<double>(fileCount) / 1000.0);
    else
        std::snprintf(label, sizeof label, "%s  (%d)", name.c_str(), static_cast<int>(fileCount));
    return label;
}

bool DrawPaletteFilterPicker(const char* popupId, char* filter, int capacity, const Library& library,
                             float chipSize, int idBase) {
    if (filter == nullptr || capacity < 1) return false;
    // Never read past the caller's buffer.
    if (strnlen(filter, static_cast<size_t>(capacity)) == static_cast<size_t>(capacity)) filter[capacity - 1] = '\0';
    bool changed = false;
    const ImGuiStyle& style = ImGui::GetStyle();

    // [chip]
    const bool filtered = filter[0] != '\0';
    const float pad = style.FramePadding.y;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(pad, chipSize > 0.0f ? pad : 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 3.0f);
    ImGui::PushStyleColor(ImGuiCol_Button, panels::Col(ThemePalette.frameBgHovered));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, panels::Col(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, panels::Col(ThemePalette.frameBgActive));
    ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(filtered ? ThemePalette.actionButtonText : ThemePalette.textPrimary));
    std::string chipLabel = std::string(panels::icon::kFilter) + popupId;
    if (chipSize <= 0.0f) ImGui::AlignTextToFramePadding();
    const bool pressed = chipSize > 0.0f ? ImGui::Button(chipLabel.c_str(), ImVec2(chipSize, chipSize))
                                         : ImGui::Button(chipLabel.c_str());
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar(2);
    if (pressed) ImGui::OpenPopup(popupId);
    if (ImGui::IsItemHovered()) {
        if (filtered) {
            ShowTooltip("Palette filter: %s\nRight-click to clear", filter);
        } else {
            ShowTooltip("Assign palettes");
        }
        if (ImGui::IsMouseClicked(ImGuiMouseButton_Right)) {
            filter[0] = '\0';
            changed = true;
        }
    }

    // [popup]
    const float fontSize = ImGui::GetFontSize();
    const float popupWidth = std::max(16.0f * fontSize, 200.0f);
    ImGui::SetNextWindowSizeConstraints(ImVec2(popupWidth, 0.0f),
                                        ImVec2(popupWidth, 0.45f * ImGui::GetIO().DisplaySize.y));
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup(popupId)) {
        ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.textSecondary));
        ImGui::TextUnformatted("Palettes");
        ImGui::PopStyleColor();

        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(style.FramePadding.x, 0.0f));
        ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(0, 0, 0, 0));
        ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.textMuted));
        const float framePadX = ImGui::GetStyle().FramePadding.x;
        const float allWidth = ImGui::CalcTextSize("All").x + 2.0f * framePadX;
        const float noneWidth = ImGui::CalcTextSize("None").x + 2.0f * framePadX;
        const float right = ImGui::GetWindowContentRegionMax().x + ImGui::GetStyle().WindowPadding.x - 12.0f;
        ImGui::SameLine(std::max(0.0f, right - noneWidth - 4.0f - allWidth));
        if (ImGui::Button("All")) {
            filter[0] = '\0';
            changed = true;
        }
        ImGui::SameLine(0.0f, 4.0f);
        if (ImGui::Button("None")) {
            CopyFilter(filter, capacity, kPaletteFilterNone);
            changed = true;
        }
        ImGui::PopStyleColor(2);
        ImGui::PopStyleVar();

        ImGui::Spacing();
        ImGui::Separator();
        ImGui::Spacing();

        bool anyListed = false;
        for (int i = 0; i < static_cast<int>(library.palettes.size()); ++i) {
            const Palette& palette = library.palettes[i];
            if (!IsListedPalette(palette)) continue;
            anyListed = true;
            bool ticked = PaletteFilterTicks(filter, palette.name);
            ImGui::PushID(idBase + i);
            const std::string label = PaletteCheckboxLabel(palette.name, palette.files.size());
            if (ImGui::Checkbox(label.c_str(), &ticked)) {
                const PaletteFilterResult next = RebuildPaletteFilter(library, filter, i, ticked, capacity);
                // Nothing that fits would read as "every palette"; keep the
                // old text rather than widen the filter.
                if (next.written > 0 || next.ticked == 0 || next.everyListed) {
                    CopyFilter(filter, capacity, next.text);
                    changed = true;
                }
            }
            ImGui::PopID();
        }
        if (!anyListed) {
            ImGui::PushStyleColor(ImGuiCol_Text, panels::Col(ThemePalette.textMuted));
            ImGui::TextUnformatted("No palettes loaded");
            ImGui::PopStyleColor();
        }
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
    return changed;
}

}  // namespace korvel
