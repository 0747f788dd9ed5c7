#include "engine/bed_event.h"

namespace korvel {

// Bed layers are not built yet: every Bed keeps the layers it has.
bool SyncBedEventLayers(Project& /*project*/, std::int32_t /*eventIndex*/) { return false; }

}  // namespace korvel
