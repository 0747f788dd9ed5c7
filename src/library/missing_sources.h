#pragma once
// The sound files the open project uses but the system can no longer find,
// listed for relinking.
#include <vector>

#include "library/missing_source.h"

namespace korvel {

struct Project;
struct Library;

// The rows for `project`: one per identity it refers to (layers, alloy
// sources, pinned files; not banned files) that the process-wide registry
// cannot resolve, sorted by name. An identity the registry has never seen is
// registered under the project's path for it first.
std::vector<MissingSource> FindMissingSources(const Project& project, const Library& library);

// Rebuilds GlobalAppState.MissingSources (written only here) from
// CurrentProject and SoundLibrary when forced or when `now` (UI clock,
// seconds) has reached the next-scan time, which then moves to now + 2 s.
// UI thread only.
void ScanMissingSources(bool force, double now);

}  // namespace korvel
