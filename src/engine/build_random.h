#pragma once
// The build's random generator: a 32-bit linear congruential generator whose
// state every routine that draws takes by reference, so one build's draws
// form a single sequence in a fixed order (event by event, step by step).
#include <cstdint>

namespace korvel {

struct BuildRandom {
    std::uint32_t state = 0;

    // One step, then the top 16 bits as 0..1 (65535 maps to exactly 1).
    float Next() {
        state = state * 1103515245u + 12345u;
        return static_cast<float>(state >> 16) / 65535.0f;
    }
};

// Where each build takes its seed. The default is the calendar time in whole
// seconds, truncated to 32 bits, so two builds give different choices.
using BuildSeedSource = std::uint32_t (*)();
std::uint32_t CalendarTimeSeed();

// Tests replace the source to make builds repeatable; null restores the
// calendar time. Any thread; the pointer is atomic.
void SetBuildSeedSource(BuildSeedSource source);
std::uint32_t TakeBuildSeed();

}  // namespace korvel
