#include "app/frame/menu.h"

#include <SDL_keyboard.h>
#include <imgui.h>

#include "app/commands.h"
#include "app/frame/style.h"
#include "app/shell.h"
#include "project/app_state.h"

namespace korvel {

// The command tables carry SDL's key codes without its header. Compared as
// numbers: comparing two enumerations is deprecated.
constexpr std::int32_t Code(std::int32_t key) { return key; }
static_assert(Code(KeyBackspace) == SDLK_BACKSPACE && Code(KeyEscape) == SDLK_ESCAPE && Code(KeySpace) == SDLK_SPACE);
static_assert(Code(KeyComma) == SDLK_COMMA && Code(KeyMinus) == SDLK_MINUS && Code(KeyPeriod) == SDLK_PERIOD);
static_assert(Code(KeySemicolon) == SDLK_SEMICOLON && Code(KeyEquals) == SDLK_EQUALS &&
              Code(KeyDelete) == SDLK_DELETE);
static_assert(Code(KeyF1) == SDLK_F1 && Code(KeyUp) == SDLK_UP && Code(KeyDown) == SDLK_DOWN);
static_assert(Code(LetterKey('a')) == SDLK_a && Code(LetterKey('1')) == SDLK_1);

namespace {

std::int32_t SdlScancode(std::int32_t key) { return static_cast<std::int32_t>(SDL_GetScancodeFromKey(key)); }

constexpr const char* kMenuPopupId = "##appmenu";
// Whether the menu was open in the last frame: it has the keyboard then, as
// a native menu does. UI thread.
bool MenuWasOpen = false;

void DrawMenuEntries(std::int32_t menu) {
    AppState& state = GlobalAppState;
    // The dynamic submenus are built as they open, so they always show the
    // lists as they are now: nothing is left to rebuild.
    if (menu == MenuRecent) state.recentMenuDirty = false;
    if (menu == MenuRecipes || menu == MenuChains) state.PresetMenusDirty = false;
    for (const MenuEntry& entry : MenuEntries(menu, state)) {
        switch (entry.kind) {
            case MenuEntryKind::Separator:
                ImGui::Separator();
                break;
            case MenuEntryKind::Placeholder:
                ImGui::MenuItem(entry.label.c_str(), nullptr, false, false);
                break;
            case MenuEntryKind::Submenu:
                if (ImGui::BeginMenu(entry.label.c_str())) {
                    DrawMenuEntries(entry.submenu);
                    ImGui::EndMenu();
                }
                break;
            case MenuEntryKind::Command: {
                ImGui::PushID(entry.command);
                const char* shortcut = entry.shortcut.empty() ? nullptr : entry.shortcut.c_str();
                if (ImGui::MenuItem(entry.label.c_str(), shortcut)) HandleMenuChoice(entry.command, state);
                ImGui::PopID();
                break;
            }
        }
    }
}

}  // namespace

ScancodeLookupFn CommandScancodeLookup = SdlScancode;

std::int32_t DecodeFrameKeys() {
    const ImGuiIO& io = ImGui::GetIO();
    const AppState& state = GlobalAppState;
    if (io.WantTextInput || state.backgroundJob.active.load() || MenuWasOpen) return 0;
    const auto pressed = [](std::int32_t key, bool repeats) {
        const std::int32_t index = CommandScancodeLookup ? CommandScancodeLookup(key) : 0;
        if (index <= 0 || index >= IM_ARRAYSIZE(ImGuiIO::KeysDown)) return false;
        return ImGui::IsKeyPressed(index, repeats);
    };
    return DecodeCommandKeys(IsTraceReviewMode(state), io.KeyCtrl, io.KeyShift, pressed);
}

void DrawAppMenu() {
    if (PendingMenuPopup.requested) {
        PendingMenuPopup.requested = false;
        // The request is in window pixels.
        const float scale = UiScale > 0.0f ? UiScale : 1.0f;
        ImGui::SetNextWindowPos(ImVec2(static_cast<float>(PendingMenuPopup.x) / scale,
                                       static_cast<float>(PendingMenuPopup.y) / scale));
        ImGui::OpenPopup(kMenuPopupId);
    }
    // The panel style's padding keeps each row's submenu arrow off the
    // window's edge, and without inner spacing the UI library puts a
    // submenu wholly beside its parent instead of over the parent's edge.
    const bool pushedFont = PushPanelStyle();
    ImGui::PushStyleVar(ImGuiStyleVar_ItemInnerSpacing, ImVec2(0.0f, ImGui::GetStyle().ItemInnerSpacing.y));
    MenuWasOpen = ImGui::BeginPopup(kMenuPopupId);
    if (MenuWasOpen) {
        // Escape closes the menu with its open submenus; the entries are not
        // drawn then, or the row under the pointer would open its submenu
        // again.
        if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
            ImGui::CloseCurrentPopup();
        } else {
            DrawMenuEntries(MenuRoot);
        }
        ImGui::EndPopup();
    }
    ImGui::PopStyleVar();
    PopPanelStyle(pushedFont);
}

}  // namespace korvel
