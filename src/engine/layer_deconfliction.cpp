#include "engine/layer_deconfliction.h"

namespace korvel {

// Not built yet: the layers pass unchanged.
void DeconflictLayers(Project& /*project*/) {}

}  // namespace korvel
