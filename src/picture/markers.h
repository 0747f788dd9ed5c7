#pragma once
// Markers and scenes imported from a Pro Tools session text.
#include <cstdint>

#include "project/event.h"

namespace korvel {

struct MarkerEvent {
    std::int32_t kind = KindValue(EventKind::Spot);  // Spot or Bloom
    float time = 0.0f;          // seconds on the timeline
    float duration = 3.0f;      // seconds
    float weightCenter = 0.3f;  // the band word's value when one is given
    float spread = -1.0f;       // -1: keep the event's default
    float gain = -1.0f;         // -1: 1.0
    float syncFraction = -1.0f; // of the duration; -1: keep the default
    char keywords[128] = {};
    char name[128] = {};
    char recipeName[64] = {};
    bool enabled = true;
    bool otherKindWord = false;  // the name held a kind word markers cannot take
};

struct MarkerScene {
    float time = 0.0f;  // seconds
    char name[64] = {};
    char text[128] = {};
};

}  // namespace korvel
