#pragma once
// The export's output layouts (stereo, 5.1, 7.1.4, first-order AmbiX) and
// the pure functions that turn a source channel's role, or a direction, into
// one gain per output channel. No state; safe on any thread.
//
// Directions are radians: azimuth 0 straight ahead and positive to the left,
// elevation positive upwards. AmbiX sets are W, Y, Z, X with SN3D.
#include <array>
#include <cstdint>
#include <vector>

#include "library/channel_map.h"

namespace korvel {

struct OutputLayout {
    const char* name = "Stereo";   // display name, and the word of the export's log line
    std::int32_t channelMask = 3;  // WAVE_FORMAT_EXTENSIBLE speaker mask; 0 = none
    std::vector<ChannelRole> roles{ChannelRole::L, ChannelRole::R};  // one per channel, file order
    bool ambisonic = false;  // channels are W, Y, Z, X rather than speakers
    bool extensible = true;  // written with the extensible header and channelMask
};

inline constexpr int kOutputLayoutCount = 4;

// 0 "Stereo", 1 "5.1", 2 "7.1.4", 3 "AmbiX"; any other index is "Stereo".
OutputLayout GetOutputLayout(int index);

// W, Y, Z, X.
using AmbiXGains = std::array<float, 4>;

// Where a source channel of `role` goes in `layout`: 1.0 on the first channel
// of that role, else −3 dB on the first role of its fallback list present
// (C and unknown roles on both L and R); LFE is dropped where missing.
std::vector<float> ChannelRoleGains(ChannelRole role, const OutputLayout& layout);

// Adds the pairwise constant-power pan of `azimuth` at `gain` over the
// layout's speakers of one tier (ear level, or height) to `gains`.
void PanToSpeakerAngles(float azimuth, const OutputLayout& layout, bool heightTier, float gain,
                        std::vector<float>& gains);

// The pan of a direction over both tiers; elevation counts only in a layout
// with height speakers.
std::vector<float> PanSourceSpatial(float azimuth, float elevation, const OutputLayout& layout);

AmbiXGains AmbiXDirectionGains(float azimuth, float elevation);

// Sets the AmbiX set of each of `channelCount` source channels from its role
// (a mono source to the front, a simple pair to ±30°). `gains` holds
// channelCount sets supplied by the caller; entries not set stay as supplied.
void EncodeAmbiXByRole(int channelCount, bool pairFlag, const std::vector<ChannelRole>& roles,
                       std::vector<AmbiXGains>& gains);

}  // namespace korvel
