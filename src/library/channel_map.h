#pragma once
// Speaker roles of a sound file's channels, how they are found (the file's
// own channel map, else rules by channel count), and the fold to stereo.
#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// Speaker position of one channel. The codes are shared with the mixdown's
// output layouts and with the channel suffixes of multi-mono file names.
enum class ChannelRole : int32_t {
    L = 0,
    R = 1,
    C = 2,
    LFE = 3,
    Ls = 4,
    Rs = 5,
    Lrs = 6,
    Rrs = 7,
    Ltf = 8,
    Rtf = 9,
    Ltr = 10,
    Rtr = 11,
    None = 12,  // unrecognised channel, or one of an ambisonic layout
};

// The order assumed for files that carry no channel map
// (AppState::channelOrderFallback). Only Film changes the rules.
enum ChannelOrder : int32_t {
    kChannelOrderSmpte = 0,  // "SMPTE / ITU", the default
    kChannelOrderFilm = 1,
    kChannelOrderDolby = 2,
};

// How the user asked a file's channels to be taken, stored per file and per
// palette; a file's own non-zero value wins over its palette's.
using ChannelInterpretation = int32_t;
inline constexpr ChannelInterpretation kInterpretAuto = 0;  // stored map or count rules decide
inline constexpr ChannelInterpretation kInterpretSurround = 1;
inline constexpr ChannelInterpretation kInterpretDiscrete = 2;  // multi-mono
inline constexpr ChannelInterpretation kInterpretAmbisonic = 3;

// Invariants: ambisonic and positional are never both set; discrete comes
// only from the interpretation; zero channels leave every flag clear.
struct ChannelMap {
    std::vector<ChannelRole> roles;  // one per channel, in the file's order
    bool ambisonic = false;          // channels are ambisonic components
    bool positional = false;         // roles describe a known speaker layout
    bool fromFile = false;           // taken from the map stored in the file
    bool discrete = false;           // independent mono channels
};

// The map of a file with `channels` channels. `file`, when given, is an open
// handle of that file, queried for its stored map and never closed.
// `interpretation` is a ChannelInterpretation (0 automatic ... 3 ambisonic).
ChannelMap BuildChannelMap(SNDFILE* file, int channels, int channelOrder, int interpretation);

// The map of the file at `path` under the current channel-order setting and
// automatic interpretation; an unreadable file counts as one channel ([C]).
ChannelMap GetFileChannelMap(const std::string& path);

// Folds `frames` interleaved frames to two channels by role. `map.roles`
// holds at least `channels` entries. The sums are neither normalised nor
// limited.
void DownmixToStereo(const float* interleaved, int64_t frames, int channels, const ChannelMap& map,
                     std::vector<float>& left, std::vector<float>& right);

}  // namespace korvel
