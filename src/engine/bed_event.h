#pragma once
// The layers of a Bed event: one per listed file, kept in step with the list.
#include <cstdint>

namespace korvel {

struct Project;

// True when the event's layers changed; false with nothing done for an index
// out of range or an event that is not a Bed.
// A build calls it while holding a LayerStorageEdit (published_layers.h), so
// it changes the results directly and never takes PublishedLayersMutex.
bool SyncBedEventLayers(Project& project, std::int32_t eventIndex);

}  // namespace korvel
