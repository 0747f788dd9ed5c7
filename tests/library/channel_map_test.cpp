#include "library/channel_map.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "library/audio_file.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using Role = ChannelRole;

// Writes a short silent file, with a stored channel map when `stored` is
// not empty (WAVE-extensible writes it as a channel mask, CAF as a layout).
bool WriteMappedFile(const std::string& path, int format, int channels, const std::vector<int>& stored) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = 48000;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    bool ok = true;
    if (!stored.empty()) {
        std::vector<int> codes = stored;
        ok = sf_command(file, SFC_SET_CHANNEL_MAP_INFO, codes.data(),
                        static_cast<int>(codes.size() * sizeof(int))) == SF_TRUE;
    }
    std::vector<float> silence(static_cast<size_t>(channels) * 16, 0.0f);
    sf_writef_float(file, silence.data(), 16);
    sf_close(file);
    return ok;
}

constexpr int kWav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kWavex = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
constexpr int kCaf = SF_FORMAT_CAF | SF_FORMAT_PCM_16;
constexpr int kNoFile = 0;

struct Flags {
    bool positional, ambisonic, fromFile, discrete;
};
constexpr Flags kPositional{true, false, false, false};
constexpr Flags kStoredPositional{true, false, true, false};
constexpr Flags kStoredAmbisonic{false, true, true, false};
constexpr Flags kAmbisonic{false, true, false, false};
constexpr Flags kDiscrete{false, false, false, true};
constexpr Flags kNothing{false, false, false, false};

TEST(BuildChannelMap, FromStoredMapsAndChannelCounts) {
    struct Case {
        const char* name;
        int format;  // kNoFile: no handle at all
        int channels;
        std::vector<int> stored;
        int order;
        int interpretation;
        std::vector<Role> roles;
        Flags flags;
    };
    using enum ChannelRole;
    const std::vector<Role> none6(6, None);
    const std::vector<Case> cases = {
        // Stored maps.
        {"WAVEX 5.1 with back speakers", kWavex, 6,
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
          SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT},
         kChannelOrderFilm, kInterpretAuto, {L, R, C, LFE, Lrs, Rrs}, kStoredPositional},
        {"WAVEX 5.1 with side speakers", kWavex, 6,
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
          SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT},
         kChannelOrderSmpte, kInterpretAuto, {L, R, C, LFE, Ls, Rs}, kStoredPositional},
        {"WAVEX 7.1.4", kWavex, 12,
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
          SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_SIDE_LEFT,
          SF_CHANNEL_MAP_SIDE_RIGHT, SF_CHANNEL_MAP_TOP_FRONT_LEFT, SF_CHANNEL_MAP_TOP_FRONT_RIGHT,
          SF_CHANNEL_MAP_TOP_REAR_LEFT, SF_CHANNEL_MAP_TOP_REAR_RIGHT},
         kChannelOrderFilm, kInterpretAuto, {L, R, C, LFE, Lrs, Rrs, Ls, Rs, Ltf, Rtf, Ltr, Rtr},
         kStoredPositional},
        {"WAVEX stored map ignored when discrete", kWavex, 6,
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
          SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT},
         kChannelOrderSmpte, kInterpretDiscrete, none6, kDiscrete},
        {"WAVEX naming only centre-rear channels falls back to the count", kWavex, 3,
         {SF_CHANNEL_MAP_REAR_CENTER, SF_CHANNEL_MAP_TOP_CENTER, SF_CHANNEL_MAP_TOP_REAR_CENTER},
         kChannelOrderFilm, kInterpretAuto, {L, C, R}, kPositional},
        {"CAF B-format", kCaf, 4,
         {SF_CHANNEL_MAP_AMBISONIC_B_W, SF_CHANNEL_MAP_AMBISONIC_B_X, SF_CHANNEL_MAP_AMBISONIC_B_Y,
          SF_CHANNEL_MAP_AMBISONIC_B_Z},
         kChannelOrderSmpte, kInterpretAuto, {None, None, None, None}, kStoredAmbisonic},
        {"CAF B-format taken as surround uses the count", kCaf, 4,
         {SF_CHANNEL_MAP_AMBISONIC_B_W, SF_CHANNEL_MAP_AMBISONIC_B_X, SF_CHANNEL_MAP_AMBISONIC_B_Y,
          SF_CHANNEL_MAP_AMBISONIC_B_Z},
         kChannelOrderSmpte, kInterpretSurround, {L, R, Ls, Rs}, kPositional},
        // Channel counts (plain WAVE carries no map; no handle behaves alike).
        {"mono", kWav, 1, {}, kChannelOrderSmpte, kInterpretAuto, {C}, kPositional},
        {"mono taken as ambisonic stays mono", kWav, 1, {}, kChannelOrderSmpte, kInterpretAmbisonic, {C},
         kPositional},
        {"mono taken as discrete stays mono", kNoFile, 1, {}, kChannelOrderSmpte, kInterpretDiscrete, {C},
         kPositional},
        {"stereo", kWav, 2, {}, kChannelOrderFilm, kInterpretAuto, {L, R}, kPositional},
        {"stereo discrete", kWav, 2, {}, kChannelOrderSmpte, kInterpretDiscrete, {None, None}, kDiscrete},
        {"stereo ambisonic", kNoFile, 2, {}, kChannelOrderSmpte, kInterpretAmbisonic, {None, None},
         kAmbisonic},
        {"LCR", kWav, 3, {}, kChannelOrderSmpte, kInterpretAuto, {L, R, C}, kPositional},
        {"LCR film", kNoFile, 3, {}, kChannelOrderFilm, kInterpretAuto, {L, C, R}, kPositional},
        {"quad, every order", kWav, 4, {}, kChannelOrderFilm, kInterpretAuto, {L, R, Ls, Rs}, kPositional},
        {"5.0 film", kNoFile, 5, {}, kChannelOrderFilm, kInterpretAuto, {L, C, R, Ls, Rs}, kPositional},
        {"5.1 SMPTE", kWav, 6, {}, kChannelOrderSmpte, kInterpretAuto, {L, R, C, LFE, Ls, Rs}, kPositional},
        {"5.1 Dolby", kWav, 6, {}, kChannelOrderDolby, kInterpretAuto, {L, R, C, LFE, Ls, Rs}, kPositional},
        {"5.1 film", kWav, 6, {}, kChannelOrderFilm, kInterpretAuto, {L, C, R, Ls, Rs, LFE}, kPositional},
        {"5.1 surround", kNoFile, 6, {}, kChannelOrderSmpte, kInterpretSurround, {L, R, C, LFE, Ls, Rs},
         kPositional},
        {"seven channels have no row", kWav, 7, {}, kChannelOrderSmpte, kInterpretAuto,
         std::vector<Role>(7, None), kNothing},
        {"7.1 film", kNoFile, 8, {}, kChannelOrderFilm, kInterpretAuto, {L, C, R, Ls, Rs, Lrs, Rrs, LFE},
         kPositional},
        {"10 channels SMPTE", kWav, 10, {}, kChannelOrderSmpte, kInterpretAuto,
         {L, R, C, LFE, Ls, Rs, Lrs, Rrs, Ltf, Rtf}, kPositional},
        {"10 channels film has no row", kNoFile, 10, {}, kChannelOrderFilm, kInterpretAuto,
         std::vector<Role>(10, None), kNothing},
        {"12 channels Dolby", kNoFile, 12, {}, kChannelOrderDolby, kInterpretAuto,
         {L, R, C, LFE, Ls, Rs, Lrs, Rrs, Ltf, Rtf, Ltr, Rtr}, kPositional},
        {"12 channels film has no row", kWav, 12, {}, kChannelOrderFilm, kInterpretAuto,
         std::vector<Role>(12, None), kNothing},
        {"9 channels are ambisonic", kWav, 9, {}, kChannelOrderSmpte, kInterpretAuto,
         std::vector<Role>(9, None), kAmbisonic},
        {"16 channels are ambisonic", kNoFile, 16, {}, kChannelOrderFilm, kInterpretAuto,
         std::vector<Role>(16, None), kAmbisonic},
        {"9 channels as surround have no row", kWav, 9, {}, kChannelOrderSmpte, kInterpretSurround,
         std::vector<Role>(9, None), kNothing},
    };

    test::TempDir dir;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        ChannelMap map;
        if (c.format == kNoFile) {
            map = BuildChannelMap(nullptr, c.channels, c.order, c.interpretation);
        } else {
            const std::string ext = (c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_CAF ? ".caf" : ".wav";
            const std::string path = dir.file("case" + std::to_string(i) + ext);
            ASSERT_TRUE(WriteMappedFile(path, c.format, c.channels, c.stored));
            SF_INFO info;
            SoundFilePtr file = OpenSoundFile(path, info);
            ASSERT_TRUE(file);
            ASSERT_EQ(info.channels, c.channels);
            map = BuildChannelMap(file.get(), info.channels, c.order, c.interpretation);
        }
        EXPECT_EQ(map.roles, c.roles);
        EXPECT_EQ(map.positional, c.flags.positional);
        EXPECT_EQ(map.ambisonic, c.flags.ambisonic);
        EXPECT_EQ(map.fromFile, c.flags.fromFile);
        EXPECT_EQ(map.discrete, c.flags.discrete);
    }
}

TEST(BuildChannelMap, NoChannelsGiveAnEmptyMap) {
    for (int channels : {0, -3}) {
        const ChannelMap map = BuildChannelMap(nullptr, channels, kChannelOrderSmpte, kInterpretAmbisonic);
        EXPECT_TRUE(map.roles.empty());
        EXPECT_FALSE(map.positional || map.ambisonic || map.fromFile || map.discrete);
    }
}

TEST(GetFileChannelMap, ReadsTheFileOrFallsBackToOneChannel) {
    test::TempDir dir;
    const std::string six = dir.file("six.wav");
    ASSERT_TRUE(WriteMappedFile(six, kWav, 6, {}));
    const ChannelMap sixMap = GetFileChannelMap(six);
    EXPECT_EQ(sixMap.roles, (std::vector<Role>{Role::L, Role::R, Role::C, Role::LFE, Role::Ls, Role::Rs}));

    for (const std::string& bad : {dir.file("missing.wav"), std::string()}) {
        const ChannelMap map = GetFileChannelMap(bad);
        EXPECT_EQ(map.roles, std::vector<Role>{Role::C});
        EXPECT_TRUE(map.positional);
    }
}

TEST(DownmixToStereo, FoldsEachRoleToItsSide) {
    constexpr float g = 0.70710677f;
    struct Case {
        Role role;
        float left, right;  // gains of a sample of 1
    };
    const Case cases[] = {
        {Role::L, 1, 0},   {Role::R, 0, 1},   {Role::C, g, g},   {Role::LFE, 0, 0}, {Role::Ls, g, 0},
        {Role::Rs, 0, g},  {Role::Lrs, g, 0}, {Role::Rrs, 0, g}, {Role::Ltf, g, 0}, {Role::Rtf, 0, g},
        {Role::Ltr, g, 0}, {Role::Rtr, 0, g}, {Role::None, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.role));
        // The role under test on channel 1, between two silent L and R.
        ChannelMap map;
        map.roles = {Role::L, c.role, Role::R};
        const float frames[] = {0.0f, 1.0f, 0.0f, 0.0f, -0.5f, 0.0f};
        std::vector<float> left, right;
        DownmixToStereo(frames, 2, 3, map, left, right);
        ASSERT_EQ(left.size(), 2u);
        ASSERT_EQ(right.size(), 2u);
        EXPECT_FLOAT_EQ(left[0], c.left);
        EXPECT_FLOAT_EQ(right[0], c.right);
        EXPECT_FLOAT_EQ(left[1], -0.5f * c.left);
        EXPECT_FLOAT_EQ(right[1], -0.5f * c.right);
    }
}

TEST(DownmixToStereo, SumsAreNotNormalisedAndLfeIsDropped) {
    ChannelMap map = BuildChannelMap(nullptr, 6, kChannelOrderSmpte, kInterpretAuto);  // L R C LFE Ls Rs
    const float inf = std::numeric_limits<float>::infinity();
    const float frame[] = {1.0f, 1.0f, 1.0f, inf, 1.0f, 1.0f};
    std::vector<float> left = {9.0f}, right;
    DownmixToStereo(frame, 1, 6, map, left, right);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_FLOAT_EQ(left[0], 1.0f + 2.0f * 0.70710677f);
    EXPECT_FLOAT_EQ(right[0], 1.0f + 2.0f * 0.70710677f);

    // A negative frame count reads nothing instead of sizing the outputs
    // from its unsigned wrap.
    DownmixToStereo(frame, -1, 6, map, left, right);
    EXPECT_TRUE(left.empty());
    EXPECT_TRUE(right.empty());
}

}  // namespace
}  // namespace korvel
