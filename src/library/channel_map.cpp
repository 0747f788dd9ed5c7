#include "library/channel_map.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "library/audio_file.h"
#include "project/app_state.h"

namespace korvel {
namespace {

using R = ChannelRole;

// What one code of a stored channel map means to us.
struct Translation {
    bool hasRole = false;
    ChannelRole role = R::None;
    bool bFormat = false;
};

Translation Translate(int code) {
    switch (code) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT: return {true, R::L, false};
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT: return {true, R::R, false};
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER: return {true, R::C, false};
        case SF_CHANNEL_MAP_LFE: return {true, R::LFE, false};
        case SF_CHANNEL_MAP_SIDE_LEFT: return {true, R::Ls, false};
        case SF_CHANNEL_MAP_SIDE_RIGHT: return {true, R::Rs, false};
        case SF_CHANNEL_MAP_REAR_LEFT: return {true, R::Lrs, false};
        case SF_CHANNEL_MAP_REAR_RIGHT: return {true, R::Rrs, false};
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT: return {true, R::Ltf, false};
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: return {true, R::Rtf, false};
        case SF_CHANNEL_MAP_TOP_REAR_LEFT: return {true, R::Ltr, false};
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return {true, R::Rtr, false};
        case SF_CHANNEL_MAP_AMBISONIC_B_W:
        case SF_CHANNEL_MAP_AMBISONIC_B_X:
        case SF_CHANNEL_MAP_AMBISONIC_B_Y:
        case SF_CHANNEL_MAP_AMBISONIC_B_Z: return {false, R::None, true};
        default: return {};
    }
}

// Fallback orders of files without a stored map; an empty row means the
// count has no known layout under that order.
const std::vector<ChannelRole>& FallbackOrder(int channels, bool film) {
    static const std::vector<ChannelRole> kNone;
    static const std::vector<ChannelRole> kItu[13] = {
        {}, {}, {},
        {R::L, R::R, R::C},
        {R::L, R::R, R::Ls, R::Rs},
        {R::L, R::R, R::C, R::Ls, R::Rs},
        {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs},
        {},
        {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs, R::Lrs, R::Rrs},
        {},
        {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs, R::Lrs, R::Rrs, R::Ltf, R::Rtf},
        {},
        {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs, R::Lrs, R::Rrs, R::Ltf, R::Rtf, R::Ltr, R::Rtr},
    };
    static const std::vector<ChannelRole> kFilm[13] = {
        {}, {}, {},
        {R::L, R::C, R::R},
        {R::L, R::R, R::Ls, R::Rs},
        {R::L, R::C, R::R, R::Ls, R::Rs},
        {R::L, R::C, R::R, R::Ls, R::Rs, R::LFE},
        {},
        {R::L, R::C, R::R, R::Ls, R::Rs, R::Lrs, R::Rrs, R::LFE},
        {}, {}, {}, {},
    };
    if (channels < 0 || channels > 12) return kNone;
    return film ? kFilm[channels] : kItu[channels];
}

// The stored map, when the file has one that names at least one role or
// ambisonic component. Returns true when it decided the map.
bool ApplyStoredMap(SNDFILE* file, int channels, int interpretation, ChannelMap& map) {
    if (!file) return false;
    std::vector<int> codes(static_cast<size_t>(channels), 0);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, codes.data(),
                   static_cast<int>(codes.size() * sizeof(int))) != SF_TRUE) {
        return false;
    }
    bool anyRole = false, anyBFormat = false;
    for (size_t i = 0; i < codes.size(); ++i) {
        const Translation t = Translate(codes[i]);
        if (t.hasRole) {
            map.roles[i] = t.role;
            anyRole = true;
        }
        anyBFormat = anyBFormat || t.bFormat;
    }
    if (anyBFormat && interpretation != kInterpretSurround) {
        map.ambisonic = true;
        map.fromFile = true;
        return true;
    }
    if (anyRole) {
        map.positional = true;
        map.fromFile = true;
        return true;
    }
    return false;
}

}  // namespace

ChannelMap BuildChannelMap(SNDFILE* file, int channels, int channelOrder, int interpretation) {
    ChannelMap map;
    if (channels < 1) return map;
    map.roles.assign(static_cast<size_t>(channels), R::None);

    if (channels == 1) {
        map.roles[0] = R::C;
        map.positional = true;
        return map;
    }
    if (interpretation == kInterpretDiscrete) {
        map.discrete = true;
        return map;
    }
    if (interpretation == kInterpretAmbisonic) {
        map.ambisonic = true;
        return map;
    }
    if (channels == 2) {
        map.roles = {R::L, R::R};
        map.positional = true;
        return map;
    }
    if (ApplyStoredMap(file, channels, interpretation, map)) return map;

    if (interpretation != kInterpretSurround && (channels == 9 || channels == 16)) {
        map.ambisonic = true;
        return map;
    }
    const std::vector<ChannelRole>& row = FallbackOrder(channels, channelOrder == kChannelOrderFilm);
    if (!row.empty()) {
        map.roles = row;
        map.positional = true;
    }
    return map;
}

ChannelMap GetFileChannelMap(const std::string& path) {
    SF_INFO info;
    SoundFilePtr file = OpenSoundFileHeader(path, info);
    const int channels = file && info.channels >= 1 ? info.channels : 1;
    // Read without a lock: the setting is a plain integer the UI thread owns.
    return BuildChannelMap(file.get(), channels, GlobalAppState.channelOrderFallback, kInterpretAuto);
}

void DownmixToStereo(const float* interleaved, int64_t frames, int channels, const ChannelMap& map,
                     std::vector<float>& left, std::vector<float>& right) {
    // A negative count would turn into an enormous size.
    frames = std::max<int64_t>(frames, 0);
    left.assign(static_cast<size_t>(frames), 0.0f);
    right.assign(static_cast<size_t>(frames), 0.0f);
    if (channels < 1) return;

    // Per-channel gains to each side, decided once rather than per frame.
    constexpr float kHalfPower = 0.70710677f;
    std::vector<std::array<float, 2>> gains(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        const size_t index = static_cast<size_t>(c);
        switch (index < map.roles.size() ? map.roles[index] : R::None) {
            case R::L: gains[c] = {1.0f, 0.0f}; break;
            case R::R: gains[c] = {0.0f, 1.0f}; break;
            case R::C: gains[c] = {kHalfPower, kHalfPower}; break;
            case R::LFE: gains[c] = {0.0f, 0.0f}; break;
            case R::Ls:
            case R::Lrs:
            case R::Ltf:
            case R::Ltr: gains[c] = {kHalfPower, 0.0f}; break;
            case R::Rs:
            case R::Rrs:
            case R::Rtf:
            case R::Rtr: gains[c] = {0.0f, kHalfPower}; break;
            case R::None: gains[c] = {1.0f, 1.0f}; break;
        }
    }
    for (int64_t i = 0; i < frames; ++i) {
        const float* frame = interleaved + i * channels;
        float l = 0.0f, r = 0.0f;
        for (int c = 0; c < channels; ++c) {
            // Skipped rather than multiplied by 0 so a dropped channel
            // contributes nothing even when it holds NaN or infinity.
            if (gains[c][0] != 0.0f) l += gains[c][0] * frame[c];
            if (gains[c][1] != 0.0f) r += gains[c][1] * frame[c];
        }
        left[static_cast<size_t>(i)] = l;
        right[static_cast<size_t>(i)] = r;
    }
}

}  // namespace korvel
