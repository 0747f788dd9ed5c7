#pragma once
// One sound file the open project uses but that can no longer be found.
#include <cstdint>
#include <string>

namespace korvel {

struct MissingSource {
    std::string fileId;  // the unresolved identity
    std::string lastKnownPath;  // empty when the project stores none
    std::string name;  // file name of lastKnownPath, or "(unknown file)"
    std::int32_t eventCount = 0;    // distinct events referring to it
    std::int32_t paletteCount = 0;  // palettes holding a file with this identity
};

}  // namespace korvel
