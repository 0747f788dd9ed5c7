#pragma once
// Post-build passes that keep the timeline's silences silent and turn layers
// down where many sound at once.
#include <cstdint>

namespace korvel {

struct Project;

void ProtectSilence(Project& project);
// What ProtectSilence leaves of a layer of event `eventIndex` placed at
// `start` for `duration`: its length up to the first gap it rings into once
// its event has ended, or `duration` when it crosses none or would be muted
// there instead. Lets a re-synced Bed or Clip tell the cut its layer took
// from a change of its own.
float SilenceProtectedLength(const Project& project, std::int32_t eventIndex, float start, float duration);
// The fades ProtectSilence gives a layer it cut to `duration`.
void CapFadesAtSilence(float duration, float& fadeIn, float& fadeOut);
// Multiplies its gain curve into the layers' deconGain.
void ApplyDensityDucking(Project& project);

}  // namespace korvel
