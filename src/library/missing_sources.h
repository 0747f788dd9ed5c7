#pragma once
// The sound files the open project uses but the system can no longer find,
// listed for relinking.
#include <cstdint>
#include <string>
#include <vector>

#include "library/file_id.h"

namespace korvel {

struct Project;
struct Library;

struct MissingSource {
    FileId fileId;
    std::string lastKnownPath;   // empty when the project stores none
    std::string name;            // file name of lastKnownPath, or "(unknown file)"
    int32_t eventCount = 0;      // distinct events referring to the identity
    int32_t paletteCount = 0;    // palettes holding a file with this identity
};

// Rows of the last scan, sorted by name. Written only by ScanMissingSources;
// UI thread only.
extern std::vector<MissingSource> MissingSources;

// The rows for `project`: one per identity it refers to (layers, alloy
// sources, pinned files; not banned files) that the process-wide registry
// cannot resolve, sorted by name. An identity the registry has never seen is
// registered under the project's path for it first.
std::vector<MissingSource> FindMissingSources(const Project& project, const Library& library);

// Rebuilds MissingSources from CurrentProject and SoundLibrary when forced
// or when `now` (UI clock, seconds) has reached the next-scan time, which
// then moves to now + 2 s. UI thread only.
void ScanMissingSources(bool force, double now);

}  // namespace korvel
