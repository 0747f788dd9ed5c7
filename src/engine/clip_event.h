#pragma once
// The one layer of a Clip event: the designer's own file, placed as is.
#include <cstdint>

namespace korvel {

struct Project;

// True when it built the layer; false with nothing changed for an index out
// of range, an event that is not a Clip, or one without a file.
// A build calls it while holding a LayerStorageEdit (published_layers.h), so
// it changes the results directly and never takes PublishedLayersMutex.
bool BuildClipEvent(Project& project, std::int32_t eventIndex);

}  // namespace korvel
