#pragma once
// Post-build pass that keeps layers apart: layers of one event starting
// together are nudged apart in time, and layers crowding a band are cut
// there by a gain curve over their duration (deconGain).
namespace korvel {

struct Project;

// Rewrites every sounding layer's deconOffset and deconGain; layers that are
// muted or dropped keep theirs. Build thread, under the layer storage lock.
void DeconflictLayers(Project& project);

// The latest time the passes size their frames and bins for: the project's
// length plus its longest event, at most 24 hours. A layer reaching beyond
// it counts as ending there, so one damaged time cannot size a buffer.
float PassTimeCeiling(const Project& project);

}  // namespace korvel
