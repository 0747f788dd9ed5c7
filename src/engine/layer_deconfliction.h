#pragma once
// Post-build pass that keeps layers of different events apart in time and
// spectrum (offsets and gain curves).
namespace korvel {

struct Project;

void DeconflictLayers(Project& project);

}  // namespace korvel
