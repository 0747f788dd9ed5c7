#pragma once
// Post-build passes that keep the timeline's silences silent and turn layers
// down where many sound at once.
namespace korvel {

struct Project;

void ProtectSilence(Project& project);
// Multiplies its gain curve into the layers' deconGain.
void ApplyDensityDucking(Project& project);

}  // namespace korvel
