#pragma once
// Files dropped on the window from the desktop, taken from SDL's drop
// events. SDL gives no position and no hover while a drag is over the
// window, so the pointer and Alt are read at the drop itself.
union SDL_Event;

namespace korvel {

// Takes SDL_DROPBEGIN, SDL_DROPFILE and SDL_DROPCOMPLETE into the drop state
// (a text drop is ignored). True when the event was a drop event. UI thread.
bool HandleDropEvent(const SDL_Event& event);

}  // namespace korvel
