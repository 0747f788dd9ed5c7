#include "platform/window/drop_input.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <string>

#include "app/drops.h"
#include "app/shell.h"
#include "platform/window/host.h"
#include "project/app_state.h"

namespace korvel {
namespace {

struct PointerAtDrop {
    float x = 0.0f;  // window pixels
    float y = 0.0f;
    bool alt = false;
};

// The pointer relative to the window and Alt from the pointer's own
// modifier state: at a drop the keyboard focus is usually still with the
// file manager, so SDL's keyboard state does not know about Alt.
PointerAtDrop ReadPointer(SDL_Window* window) {
    PointerAtDrop pointer;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window != nullptr && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        Window root = 0;
        Window child = 0;
        int rootX = 0;
        int rootY = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned int mask = 0;
        if (XQueryPointer(info.info.x11.display, info.info.x11.window, &root, &child, &rootX, &rootY, &windowX,
                          &windowY, &mask)) {
            pointer.x = static_cast<float>(windowX);
            pointer.y = static_cast<float>(windowY);
            pointer.alt = (mask & Mod1Mask) != 0;
            return pointer;
        }
    }
    // SDL's own window-relative position: its cached window position may be
    // stale after the window manager moved the window.
    int x = 0;
    int y = 0;
    SDL_GetMouseState(&x, &y);
    pointer.x = static_cast<float>(x);
    pointer.y = static_cast<float>(y);
    pointer.alt = (SDL_GetModState() & KMOD_ALT) != 0;
    return pointer;
}

}  // namespace

bool HandleDropEvent(const SDL_Event& event) {
    DropState& drop = GlobalAppState.dropState;
    switch (event.type) {
        case SDL_DROPBEGIN:
            BeginDrop(drop);
            return true;
        case SDL_DROPFILE:
            if (event.drop.file != nullptr) {
                AddDroppedName(drop, event.drop.file);
                SDL_free(event.drop.file);
            }
            return true;
        case SDL_DROPTEXT:
            SDL_free(event.drop.file);
            return true;
        case SDL_DROPCOMPLETE: {
            const PointerAtDrop pointer = ReadPointer(MainWindowHandle);
            const float scale = UiScale > 0.0f ? UiScale : 1.0f;
            CompleteDrop(drop, pointer.x / scale, pointer.y / scale, pointer.alt);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace korvel
