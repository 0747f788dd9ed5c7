#include "playback/render_cache.h"

namespace korvel {

// Not built yet: the voice list stays as it is.
void RebuildCache(bool /*keepPlaceholders*/) {}
void RemapVoicesToResults() {}

}  // namespace korvel
