#pragma once
// Bloom and Contour washes: sustained layers whose entries and exits follow
// the event's intensity curve, more of them where it is loud.
#include <array>
#include <cstdint>

namespace korvel {

inline constexpr int kWashBins = 128;
// How many wash layers cover each 1/128 of the event.
using WashOccupancy = std::array<std::int32_t, kWashBins>;

// Raises the bins that [from, to) (fractions of the event) covers.
void MarkOccupancy(WashOccupancy& occupancy, float from, float to);

}  // namespace korvel
