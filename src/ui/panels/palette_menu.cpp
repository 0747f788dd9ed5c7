#include "ui/panels/palette_menu.h"

#include <imgui.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "app/frame_work.h"
#include "engine/render_job.h"
#include "library/channel_layout.h"
#include "library/folder_scan.h"
#include "library/library.h"
#include "library/library_cache_file.h"
#include "library/palettes.h"
#include "library/relink.h"
#include "presets/preferences.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/panels/library_tab.h"
#include "app/frame/style.h"
#include "ui/panels/panel_look.h"

namespace korvel {

namespace {

bool ValidIndex(const Library& library, std::int32_t index) {
    return index >= 0 && index < static_cast<std::int32_t>(library.palettes.size());
}

std::string WithoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

void WritePaletteCache(const Library& library, const Palette& palette) {
    if (library.cacheFolder.empty()) return;
    WritePaletteFile(palette, PaletteCachePath(library, palette.name));
}

// Copies `text` into a fixed buffer, never splitting a UTF-8 sequence.
void CopyWholeCharacters(char* buffer, std::size_t capacity, const std::string& text) {
    std::size_t n = std::min(text.size(), capacity - 1);
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

constexpr const char* kRefusedWhileBusy = "Palettes cannot change while a job runs";

std::string Item(const char* glyph, const char* text) { return std::string(glyph) + text; }

// Disabled items explain themselves.
void BusyTooltip(bool mayEdit) {
    if (!mayEdit && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ShowTooltip("%s", kRefusedWhileBusy);
}

}  // namespace

bool PaletteOffersRescan(const Library& library, const Palette& palette) {
    return !palette.savedPalette && !palette.folderMissing && !palette.folder.empty() && !library.scanning.load();
}

bool TogglePaletteInProject(AppState& state, Library& library, std::int32_t index) {
    if (!ValidIndex(library, index) || !UiMayEditProject(state)) return false;
    Palette& palette = library.palettes[index];
    palette.enabled = !palette.enabled;
    library.keywordIndex.dirty = true;
    return true;
}

void BeginPaletteRename(AppState& state, const Library& library, std::int32_t index) {
    if (!ValidIndex(library, index)) return;
    state.renamingPaletteIndex = index;
    CopyWholeCharacters(state.paletteRenameBuffer, sizeof state.paletteRenameBuffer, library.palettes[index].name);
    state.paletteRenameFocus = true;
}

bool CommitPaletteRename(AppState& state, Library& library, Project& project) {
    const std::int32_t index = state.renamingPaletteIndex;
    state.renamingPaletteIndex = -1;
    state.paletteRenameFocus = false;
    if (!ValidIndex(library, index)) return false;
    const std::string newName(state.paletteRenameBuffer, strnlen(state.paletteRenameBuffer, sizeof state.paletteRenameBuffer));
    const std::string oldName = library.palettes[index].name;
    if (newName.empty() || newName == oldName) return false;
    if (!UiMayEditProject(state)) {
        SetLibraryTabNotice(kRefusedWhileBusy);
        return false;
    }
    switch (CheckPaletteRename(library, index, newName)) {
        case PaletteNameCheck::Ok: break;
        case PaletteNameCheck::Taken: SetLibraryTabNotice("Another palette is named \"" + newName + "\""); return false;
        case PaletteNameCheck::HasComma: SetLibraryTabNotice("Palette names cannot hold ','"); return false;
        case PaletteNameCheck::Invalid: SetLibraryTabNotice("Palette names cannot hold '/'"); return false;
    }
    if (!RenamePalette(library, index, newName)) {
        SetLibraryTabNotice("Could not write the palette file; the name stays");
        return false;
    }
    bool eventsChanged = false;
    for (Event& event : project.events) {
        char before[sizeof event.libFilter];
        std::memcpy(before, event.libFilter, sizeof before);
        RenamePaletteInList(event.libFilter, sizeof event.libFilter, oldName, newName);
        eventsChanged = eventsChanged || std::memcmp(before, event.libFilter, sizeof before) != 0;
    }
    // A light edit: no undo snapshot, but the project must be saved again.
    if (eventsChanged) state.unsavedChanges = true;
    for (EventPreset& recipe : RecipeList)
        RenamePaletteInList(recipe.libFilter, sizeof recipe.libFilter, oldName, newName);
    return true;
}

bool SetPaletteChannelLayout(AppState& state, Library& library, std::int32_t index, std::int32_t value) {
    if (!ValidIndex(library, index) || !UiMayEditProject(state)) return false;
    Palette& palette = library.palettes[index];
    if (palette.paletteInterpret == value) return false;
    palette.paletteInterpret = value;
    WritePaletteCache(library, palette);
    RebuildChannelInterpretationMap(library);
    library.fileIndexDirty = true;
    state.pendingRenderMode = kRenderRebuildAll;
    return true;
}

bool TogglePaletteGrouping(AppState& state, Library& library, std::int32_t index) {
    if (!ValidIndex(library, index) || !UiMayEditProject(state)) return false;
    Palette& palette = library.palettes[index];
    palette.mmDisableGrouping = !palette.mmDisableGrouping;
    if (!palette.mmDisableGrouping) {
        GroupMultiMonoFiles(palette.files);
    } else {
        for (LibraryFile& file : palette.files) {
            file.mmGroup = 0;
            file.mmMember = -1;
        }
    }
    WritePaletteCache(library, palette);
    library.fileIndexDirty = true;
    return true;
}

bool RelinkPaletteToFolder(AppState& state, Library& library, Project& project, std::int32_t index,
                           const std::string& folder) {
    if (!ValidIndex(library, index) || folder.empty() || !UiMayEditProject(state)) return false;
    const std::string oldRoot = WithoutTrailingSlashes(library.palettes[index].folder);
    RelinkPaletteFolder(library, index, folder, !UiMayEditProject(state));
    const std::string newRoot = WithoutTrailingSlashes(folder);
    if (oldRoot.empty() || newRoot.empty()) return true;
    for (LayerResult& result : project.results) {
        RemapPathRoot(oldRoot, newRoot, result.filepath);
        RemapPathRoot(oldRoot, newRoot, result.alloyMid.filepath);
        RemapPathRoot(oldRoot, newRoot, result.alloyHigh.filepath);
    }
    return true;
}

void SettlePaletteRemoval(AppState& state, Library& library, LibraryTabState& tab) {
    if (!tab.anyMenuOpen) tab.pendingRemoveIndex = -1;
    const std::int32_t r = std::exchange(tab.markedRemoveIndex, -1);
    if (!ValidIndex(library, r)) return;
    const std::size_t before = library.palettes.size();
    RemovePalette(library, r, !UiMayEditProject(state));
    // Renumbering after a refused removal would move the selection onto
    // other palettes.
    if (library.palettes.size() == before) return;
    tab.pendingRemoveIndex = -1;
    if (state.renamingPaletteIndex == r)
        state.renamingPaletteIndex = -1;
    else if (state.renamingPaletteIndex > r)
        --state.renamingPaletteIndex;
    std::set<std::int32_t> renumbered;
    for (std::int32_t i : state.librarySelection)
        if (i != r) renumbered.insert(i > r ? i - 1 : i);
    state.librarySelection = std::move(renumbered);
    if (state.librarySelectionAnchor == r)
        state.librarySelectionAnchor = -1;
    else if (state.librarySelectionAnchor > r)
        --state.librarySelectionAnchor;
    // The preferences list the library's folders.
    SavePrefs();
}

void ShowPaletteContextMenu(std::int32_t index) {
    Library& library = SoundLibrary;
    AppState& state = GlobalAppState;
    if (!ValidIndex(library, index)) return;
    const bool pushedFont = PushPanelStyle();
    if (ImGui::BeginPopup("##libctx", ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoTitleBar |
                                          ImGuiWindowFlags_NoSavedSettings)) {
        LibraryTab.anyMenuOpen = true;
        const bool mayEdit = UiMayEditProject(state);
        Palette& palette = library.palettes[index];

        ImGui::BeginDisabled(!mayEdit);
        const std::string inProject = Item(palette.enabled ? panels::icon::kToggleOn : panels::icon::kToggleOff,
                                           "  In this project");
        if (ImGui::MenuItem(inProject.c_str())) TogglePaletteInProject(state, library, index);
        ImGui::EndDisabled();
        BusyTooltip(mayEdit);
        ImGui::Separator();

        ImGui::BeginDisabled(!mayEdit);
        if (ImGui::MenuItem(Item(panels::icon::kPen, "  Rename").c_str())) BeginPaletteRename(state, library, index);
        if (PaletteOffersRescan(library, palette)) {
            if (ImGui::MenuItem(Item(panels::icon::kRotate, "  Rescan").c_str()))
                StartFolderScan(library, palette.folder, true, -1, false);
            if (ImGui::MenuItem(Item(panels::icon::kRotate, "  Deep Rescan").c_str()))
                StartFolderScan(library, palette.folder, true, -1, true);
        }
        if (palette.folderMissing && ImGui::MenuItem(Item(panels::icon::kFolder, "  Relink...").c_str())) {
            if (state.platformHooks.pickFolder) {
                const std::string picked = state.platformHooks.pickFolder();
                if (!picked.empty()) RelinkPaletteToFolder(state, library, CurrentProject, index, picked);
            }
        }
        ImGui::EndDisabled();
        if (!palette.savedPalette && !palette.folder.empty() && state.platformHooks.revealInExplorer &&
            ImGui::MenuItem(Item(panels::icon::kFolder, "  Show in Explorer").c_str()))
            state.platformHooks.revealInExplorer(palette.folder);
        ImGui::Separator();

        ImGui::BeginDisabled(!mayEdit);
        if (ImGui::BeginMenu(Item(panels::icon::kLayers, "  Channel layout").c_str())) {
            static const char* const kLayouts[] = {"Auto", "Surround", "Discrete (multi-mono)", "Ambisonic"};
            for (std::int32_t value = 0; value < 4; ++value)
                if (ImGui::MenuItem(kLayouts[value], nullptr, palette.paletteInterpret == value))
                    SetPaletteChannelLayout(state, library, index, value);
            ImGui::EndMenu();
        }
        if (ImGui::MenuItem(Item(panels::icon::kUnlink, "  Treat as separate files").c_str(), nullptr,
                            palette.mmDisableGrouping))
            TogglePaletteGrouping(state, library, index);
        ImGui::Separator();

        if (LibraryTab.pendingRemoveIndex == index) {
            ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1.0f, 0.4f, 0.4f, 1.0f));
            if (ImGui::Selectable(Item(panels::icon::kTrash, "  Confirm remove?").c_str())) {
                LibraryTab.markedRemoveIndex = index;
                ImGui::CloseCurrentPopup();
            }
            ImGui::PopStyleColor();
        } else if (ImGui::Selectable(Item(panels::icon::kTrash, "  Remove").c_str(), false,
                                     ImGuiSelectableFlags_DontClosePopups)) {
            LibraryTab.pendingRemoveIndex = index;
        }
        ImGui::EndDisabled();
        BusyTooltip(mayEdit);
        ImGui::EndPopup();
    }
    PopPanelStyle(pushedFont);
}

void DrawPaletteRenameField(std::int32_t index, float width) {
    AppState& state = GlobalAppState;
    if (state.renamingPaletteIndex != index) return;
    const bool focusWanted = state.paletteRenameFocus;
    if (focusWanted) ImGui::SetKeyboardFocusHere(0);
    ImGui::SetNextItemWidth(width);
    const bool enter = ImGui::InputText("##libren", state.paletteRenameBuffer, sizeof state.paletteRenameBuffer,
                                        ImGuiInputTextFlags_AutoSelectAll | ImGuiInputTextFlags_EnterReturnsTrue);
    const bool active = ImGui::IsItemActive();
    if (active) state.paletteRenameFocus = false;
    if (enter || (!active && !state.paletteRenameFocus)) CommitPaletteRename(state, SoundLibrary, CurrentProject);
}

}  // namespace korvel
