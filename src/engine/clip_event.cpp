#include "engine/clip_event.h"

namespace korvel {

// Clip layers are not built yet: every Clip keeps the layers it has.
bool BuildClipEvent(Project& /*project*/, std::int32_t /*eventIndex*/) { return false; }

}  // namespace korvel
