#include "engine/build_kinds.h"

namespace korvel {

// Bloom and Contour washes: built on the region and curve routines.
void BuildWashLayers(BuildContext& /*build*/, EventPlan& /*plan*/) {}

}  // namespace korvel
