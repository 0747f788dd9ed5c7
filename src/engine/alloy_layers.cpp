#include "engine/build_kinds.h"

namespace korvel {

// Alloy layers: built on the region and curve routines.
void BuildAlloyLayers(BuildContext& /*build*/, EventPlan& /*plan*/) {}

}  // namespace korvel
