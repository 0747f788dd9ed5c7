// The library tab's save mode.
//
// [SECTION] Gathering the groups
// [SECTION] Naming
// [SECTION] Entering, cancelling and saving
// [SECTION] Drawing
#include "ui/panels/save_palette_mode.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "app/frame/style.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "library/library.h"
#include "library/palettes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "ui/panels/library_tab.h"
#include "ui/panels/palette_menu.h"
#include "ui/panels/panel_look.h"
#include "ui/panels/save_group_vocabulary.h"

namespace korvel {

SavePaletteModeState SavePaletteMode;

namespace {

const char* Plural(std::int64_t n) { return n == 1 ? "" : "s"; }

constexpr std::size_t kMinWordLength = 2;
constexpr std::size_t kMaxWordLength = 29;  // longer than any vocabulary word

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] Gathering the groups
// ---------------------------------------------------------------------------

void AddFileToRecipeGroup(SaveGroupBuild& build, const std::string& path, std::int32_t eventIndex) {
    if (path.empty() || !build.added.insert(path).second) return;
    std::string name = kUnassignedGroup;
    if (build.project != nullptr && eventIndex >= 0 &&
        eventIndex < static_cast<std::int32_t>(build.project->events.size())) {
        const std::string_view recipe = TextOf(build.project->events[static_cast<std::size_t>(eventIndex)].presetName);
        if (!recipe.empty()) name = recipe;
    }
    SaveGroups& groups = build.groups;
    auto [found, made] = build.groupIndex.try_emplace(name, static_cast<std::int32_t>(groups.groupNames.size()));
    if (made) {
        groups.groupNames.push_back(name);
        groups.groupPaths.emplace_back();
        groups.groupCounts.push_back(0);
        groups.groupChecked.push_back(true);
    }
    const auto g = static_cast<std::size_t>(found->second);
    groups.groupPaths[g].push_back(path);
    ++groups.groupCounts[g];
}

SaveGroups BuildSaveGroups(const Project& project) {
    SaveGroupBuild build;
    build.project = &project;
    // Layers first: a file both placed and pinned joins the group of the
    // layer that placed it.
    for (const LayerResult& layer : project.results) {
        if (!layer.sourceMissing) AddFileToRecipeGroup(build, layer.filepath, layer.eventIdx);
        for (const LayerSourceRef* source : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv})
            AddFileToRecipeGroup(build, source->filepath, layer.eventIdx);
    }
    for (std::size_t m = 0; m < project.events.size(); ++m) {
        const Event& event = project.events[m];
        const auto index = static_cast<std::int32_t>(m);
        if (event.usePinnedFile) AddFileToRecipeGroup(build, std::string(TextOf(event.pinnedFile)), index);
        for (const std::string& pinned : event.pinnedFiles) AddFileToRecipeGroup(build, pinned, index);
    }
    auto unassigned = build.groupIndex.find(kUnassignedGroup);
    if (unassigned != build.groupIndex.end()) {
        const auto g = static_cast<std::size_t>(unassigned->second);
        build.groups.groupNames[g] = NameFromFileWords(build.groups.groupPaths[g]);
    }
    return std::move(build.groups);
}

// ---------------------------------------------------------------------------
// [SECTION] Naming
// ---------------------------------------------------------------------------

namespace {

bool IsWordSeparator(char c) {
    switch (c) {
        case ' ': case '(': case ')': case '-': case '.': case '[': case ']': case '_':
            return true;
        default:
            return false;
    }
}
bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsUpperLetter(char c) { return c >= 'A' && c <= 'Z'; }

// Calls onWord with each lower-cased word of a file name worth counting.
template <typename OnWord>
void ForEachFileNameWord(std::string_view name, OnWord&& onWord) {
    std::size_t start = 0;
    const auto take = [&](std::size_t end) {
        const std::string_view word = name.substr(start, end - start);
        if (word.size() < kMinWordLength || word.size() > kMaxWordLength) return;
        if (std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) return;
        std::string lower(word);
        for (char& c : lower)
            if (IsUpperLetter(c)) c = static_cast<char>(c - 'A' + 'a');
        onWord(lower);
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (IsWordSeparator(name[i])) {
            take(i);
            start = i + 1;
        } else if (i > start && IsLowerLetter(name[i - 1]) && IsUpperLetter(name[i])) {
            take(i);
            start = i;
        }
    }
    take(name.size());
}

// A group name made fit to be part of a palette name: commas, slashes and
// control characters become spaces, and the runs of spaces they leave are
// closed up so "Doors, wood" reads "Doors wood".
std::string CleanGroupName(const std::string& name) {
    std::string clean;
    clean.reserve(name.size());
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ',' || c == '/' || byte < 0x20 || byte == 0x7F) c = ' ';
        if (c == ' ' && (clean.empty() || clean.back() == ' ')) continue;
        clean += c;
    }
    if (!clean.empty() && clean.back() == ' ') clean.pop_back();
    return clean;
}

}  // namespace

std::string NameFromFileWords(const std::vector<std::string>& paths) {
    // In the order first found, so equal counts keep that order.
    std::vector<std::pair<std::string, std::int32_t>> counts;
    for (const std::string& path : paths) {
        const std::size_t slash = path.find_last_of('/');
        const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
        ForEachFileNameWord(name, [&counts](const std::string& word) {
            if (!IsSaveGroupWord(word)) return;
            auto it = std::find_if(counts.begin(), counts.end(), [&word](const auto& c) { return c.first == word; });
            if (it == counts.end())
                counts.emplace_back(word, 1);
            else
                ++it->second;
        });
    }
    if (counts.empty()) return "Project Sounds";
    std::stable_sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string name;
    for (std::size_t i = 0; i < std::min<std::size_t>(3, counts.size()); ++i) {
        // Not ", ": a palette filter splits its list at commas.
        if (i > 0) name += " \xC2\xB7 ";
        name += counts[i].first;
    }
    return name;
}

std::int32_t CheckedFileCount(const SaveGroups& groups) {
    std::int32_t count = 0;
    for (std::size_t g = 0; g < groups.groupCounts.size(); ++g)
        if (groups.groupChecked[g]) count += groups.groupCounts[g];
    return count;
}

std::vector<std::string> CheckedFiles(const SaveGroups& groups) {
    std::vector<std::string> files;
    for (std::size_t g = 0; g < groups.groupPaths.size(); ++g)
        if (groups.groupChecked[g]) files.insert(files.end(), groups.groupPaths[g].begin(), groups.groupPaths[g].end());
    return files;
}

std::string ProposedPaletteName(const SaveGroups& groups) {
    std::vector<std::string> names;
    for (std::size_t g = 0; g < groups.groupNames.size(); ++g)
        if (groups.groupChecked[g]) names.push_back(CleanGroupName(groups.groupNames[g]));
    if (names.empty()) return {};
    if (names.size() == 1) return names[0];
    if (names.size() == 2) return names[0] + " + " + names[1];
    return names[0] + " + " + std::to_string(names.size() - 1) + " more";
}

// ---------------------------------------------------------------------------
// [SECTION] Entering, cancelling and saving
// ---------------------------------------------------------------------------

void RequestSavePaletteMode() { SavePaletteMode.savePaletteRequested = true; }

void TakeSavePaletteRequest() {
    AppState& state = GlobalAppState;
    SavePaletteModeState& mode = SavePaletteMode;
    // A build job writes the layers the groups are read from.
    if (!mode.savePaletteRequested || state.savePaletteMode || !UiMayEditProject(state)) return;
    mode.savePaletteRequested = false;
    mode.groups = BuildSaveGroups(CurrentProject);
    if (mode.groups.groupNames.empty()) {  // a group exists only with a file in it
        SetLibraryTabNotice("No audio files to save.");
        return;
    }
    state.savePaletteMode = true;
}

void CancelSavePaletteMode() {
    GlobalAppState.savePaletteMode = false;
    SavePaletteMode.groups = SaveGroups{};
}

std::int32_t SaveCheckedGroups() {
    AppState& state = GlobalAppState;
    Library& library = SoundLibrary;
    // Jobs read the palettes without a lock.
    if (!UiMayEditProject(state)) return 0;
    const SaveGroups& groups = SavePaletteMode.groups;
    const std::int32_t saved =
        CreatePaletteFromFiles(library, CheckedFiles(groups), state.projectPath, ProposedPaletteName(groups));
    if (saved < 1) {
        SetLibraryTabNotice("No valid audio files found.");
    } else {
        const auto last = static_cast<std::int32_t>(library.palettes.size()) - 1;
        char notice[160];
        std::snprintf(notice, sizeof notice, "%s: %d files", library.palettes.back().name.c_str(), saved);
        SetLibraryTabNotice(notice);
        BeginPaletteRename(state, library, last);
    }
    CancelSavePaletteMode();
    return saved;
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing
// ---------------------------------------------------------------------------

void DrawSavePaletteHeader() {
    const ImVec2 origin = ImGui::GetWindowPos();
    ImGui::GetWindowDrawList()->AddText(ImVec2(origin.x + 16.0f, origin.y + 10.0f),
                                        panels::Col(ThemePalette.textSecondary), "SAVE PALETTE");
    ImGui::SetCursorPos(ImVec2(16.0f, 30.0f));
    const float w = ImGui::GetWindowWidth() - 32.0f;
    const ImVec2 size(std::max(1.0f, (w - 6.0f) / 2.0f), ImGui::GetFrameHeight());

    PushToolbarButtonColors();
    const bool cancel = ImGui::Button("Cancel", size);
    PopColors3();
    ImGui::SameLine(0.0f, 6.0f);

    const std::int32_t count = CheckedFileCount(SavePaletteMode.groups);
    char label[96];
    std::snprintf(label, sizeof label, "%s  Save %d file%s###palsave", icon::kSave, count, Plural(count));
    PushActionButtonStyle();
    ImGui::BeginDisabled(count < 1 || !UiMayEditProject());
    const bool save = ImGui::Button(label, size);
    ImGui::EndDisabled();
    PopColors4Vars1();

    if (cancel)
        CancelSavePaletteMode();
    else if (save)
        SaveCheckedGroups();
}

void DrawSavePaletteList() {
    ImGui::Spacing();
    SaveGroups& groups = SavePaletteMode.groups;
    for (std::size_t g = 0; g < groups.groupNames.size(); ++g) {
        ImGui::PushID(7000 + static_cast<int>(g));
        char label[160];
        std::snprintf(label, sizeof label, "%s  \xE2\x80\x94  %d file%s###group", groups.groupNames[g].c_str(),
                      groups.groupCounts[g], Plural(groups.groupCounts[g]));
        bool checked = groups.groupChecked[g];
        if (ImGui::Checkbox(label, &checked)) groups.groupChecked[g] = checked;
        ImGui::PopID();
    }
}

void DrawSavePaletteFooter() {
    const float footer = ImGui::GetFrameHeight() + 0.6f * ImGui::GetFontSize();
    const float top = ImGui::GetWindowHeight() - footer;
    const std::int32_t count = CheckedFileCount(SavePaletteMode.groups);
    char text[64];
    std::snprintf(text, sizeof text, "%d file%s selected", count, Plural(count));
    const ImVec2 origin = ImGui::GetWindowPos();
    ImGui::GetWindowDrawList()->AddText(
        ImVec2(origin.x + 16.0f, origin.y + top + (footer - ImGui::GetFontSize()) / 2.0f),
        panels::Col(ThemePalette.textMuted), text);
}

}  // namespace korvel
