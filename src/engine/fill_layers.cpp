#include "engine/build_kinds.h"

namespace korvel {

// Fill layers: built on the region and curve routines.
void BuildFillLayers(BuildContext& /*build*/, EventPlan& /*plan*/) {}

}  // namespace korvel
