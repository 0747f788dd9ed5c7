#pragma once
// The mixer's constant-power pan law. Audio-thread safe: no allocation.
namespace korvel {

// The gains with which a source's left and right inputs reach the left and
// right outputs. Angles in radians; a positive angle moves the source to the
// left. `amount` (0..1) scales the panning; a mono source uses only the
// left-input gains (the right-input ones are 0).
void ComputePanGains(float panAngle, float halfWidth, bool stereoSource, float amount,
                     float& leftToLeft, float& leftToRight, float& rightToLeft, float& rightToRight);

}  // namespace korvel
