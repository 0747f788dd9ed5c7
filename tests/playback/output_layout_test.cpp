#include "playback/output_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace korvel {
namespace {

using R = ChannelRole;
constexpr float kPi = 3.1415927f;
constexpr float kHalf = 0.70710677f;

void ExpectGains(const std::vector<float>& got, const std::vector<float>& want, float tolerance = 1e-6f) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t j = 0; j < want.size(); ++j) EXPECT_NEAR(got[j], want[j], tolerance) << "channel " << j;
}

TEST(OutputLayout, TheFourLayoutsAndStereoForAnyOtherIndex) {
    struct Case {
        int index;
        std::string name;
        int mask;
        std::size_t channels;
        bool ambisonic;
        bool extensible;
    };
    const Case cases[] = {
        {0, "Stereo", 3, 2, false, true},   {1, "5.1", 63, 6, false, true},
        {2, "7.1.4", 0, 12, false, false},  {3, "AmbiX", 0, 4, true, true},
        {-1, "Stereo", 3, 2, false, true},  {4, "Stereo", 3, 2, false, true},
        {7, "Stereo", 3, 2, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const OutputLayout layout = GetOutputLayout(c.index);
        EXPECT_EQ(layout.name, c.name);
        EXPECT_EQ(layout.channelMask, c.mask);
        EXPECT_EQ(layout.roles.size(), c.channels);
        EXPECT_EQ(layout.ambisonic, c.ambisonic);
        EXPECT_EQ(layout.extensible, c.extensible);
    }
    EXPECT_EQ(GetOutputLayout(1).roles, (std::vector<R>{R::L, R::R, R::C, R::LFE, R::Ls, R::Rs}));
    EXPECT_EQ(GetOutputLayout(2).roles, (std::vector<R>{R::L, R::R, R::C, R::LFE, R::Ls, R::Rs, R::Lrs, R::Rrs,
                                                         R::Ltf, R::Rtf, R::Ltr, R::Rtr}));
}

TEST(OutputLayout, RoleRoutingWithItsFallbacks) {
    struct Case {
        const char* name;
        R role;
        int layout;
        std::vector<float> gains;
    };
    const std::vector<Case> cases = {
        {"LFE dropped by stereo", R::LFE, 0, {0, 0}},
        {"C split over L and R", R::C, 0, {kHalf, kHalf}},
        {"C on its own speaker", R::C, 1, {0, 0, 1, 0, 0, 0}},
        {"unknown role split", R::None, 0, {kHalf, kHalf}},
        {"Ls folds to L at -3 dB", R::Ls, 0, {kHalf, 0}},
        {"Rrs folds to Rs, not R", R::Rrs, 1, {0, 0, 0, 0, 0, kHalf}},
        {"Ltr skips the missing Lrs", R::Ltr, 1, {0, 0, 0, 0, kHalf, 0}},
        {"Rtf folds to R", R::Rtf, 1, {0, kHalf, 0, 0, 0, 0}},
        {"Lrs on its own speaker", R::Lrs, 2, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}},
        {"L has nowhere to go in AmbiX", R::L, 3, {0, 0, 0, 0}},
        {"C has nowhere to go in AmbiX", R::C, 3, {0, 0, 0, 0}},
        {"a code outside the table tries L", static_cast<R>(40), 1, {kHalf, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectGains(ChannelRoleGains(c.role, GetOutputLayout(c.layout)), c.gains);
    }
}

TEST(OutputLayout, PanningBracketsTheSourceBetweenNeighbouringSpeakers) {
    const float c3 = std::cos(3.0f * kPi / 8.0f), s3 = std::sin(3.0f * kPi / 8.0f);
    struct Case {
        const char* name;
        float azimuth;
        float elevation;
        int layout;
        std::vector<float> gains;
    };
    const std::vector<Case> cases = {
        {"front lands on C alone", 0.0f, 0.0f, 1, {0, 0, 1, 0, 0, 0}},
        {"behind splits Ls and Rs across the wrap", kPi, 0.0f, 1, {0, 0, 0, 0, kHalf, kHalf}},
        {"hard left between L and Ls", kPi / 2, 0.0f, 1, {c3, 0, 0, 0, s3, 0}},
        {"elevation ignored without height speakers", 0.0f, kPi / 4, 1, {0, 0, 1, 0, 0, 0}},
        {"elevation splits ear and height tiers", 0.0f, kPi / 4, 2, {0, 0, kHalf, 0, 0, 0, 0, 0, 0.5f, 0.5f, 0, 0}},
        {"elevation above the zenith clamps", 0.0f, 3.0f, 2, {0, 0, 0, 0, 0, 0, 0, 0, kHalf, kHalf, 0, 0}},
        {"a turn later is the same direction", 2.0f * kPi, 0.0f, 1, {0, 0, 1, 0, 0, 0}},
        {"stereo clamps a rear source to the nearer bracket", kPi, 0.0f, 0, {1, 0}},
        {"AmbiX has no speakers", 0.5f, 0.0f, 3, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectGains(PanSourceSpatial(c.azimuth, c.elevation, GetOutputLayout(c.layout)), c.gains, 2e-6f);
    }
}

TEST(OutputLayout, PanningAddsOnlyAudibleFiniteDirections) {
    const OutputLayout layout = GetOutputLayout(1);
    std::vector<float> gains(6, 0.25f);
    PanToSpeakerAngles(0.0f, layout, false, 0.000001f, gains);
    PanToSpeakerAngles(std::numeric_limits<float>::quiet_NaN(), layout, false, 1.0f, gains);
    PanToSpeakerAngles(std::numeric_limits<float>::infinity(), layout, false, 1.0f, gains);
    PanToSpeakerAngles(0.0f, layout, true, 1.0f, gains);  // 5.1 has no height tier
    ExpectGains(gains, std::vector<float>(6, 0.25f));
    PanToSpeakerAngles(1.0e30f, layout, false, 1.0f, gains);  // must return, not spin
    float sum = 0.0f;
    for (float g : gains) sum += g - 0.25f;
    EXPECT_GT(sum, 0.99f);
}

TEST(OutputLayout, AmbiXDirectionsAndRoleEncoding) {
    const AmbiXGains left = AmbiXDirectionGains(kPi / 2, 0.0f);
    EXPECT_FLOAT_EQ(left[0], 1.0f);
    EXPECT_NEAR(left[1], 1.0f, 1e-6f);
    EXPECT_NEAR(left[2], 0.0f, 1e-6f);
    EXPECT_NEAR(left[3], 0.0f, 1e-6f);
    const AmbiXGains up = AmbiXDirectionGains(0.3f, kPi / 2);
    EXPECT_NEAR(up[2], 1.0f, 1e-6f);
    EXPECT_NEAR(up[1], 0.0f, 1e-6f);

    const float s30 = 0.5f, c30 = std::cos(kPi / 6);
    struct Case {
        const char* name;
        int count;
        bool pair;
        std::vector<R> roles;
        std::vector<AmbiXGains> want;
    };
    const AmbiXGains marked = {0.0f, 9.0f, 9.0f, 9.0f};  // what the caller supplied
    const std::vector<Case> cases = {
        {"mono faces front", 1, false, {}, {{1, 0, 0, 1}}},
        {"a simple pair at +-30 degrees", 2, true, {R::C, R::C}, {{1, s30, 0, c30}, {1, -s30, 0, c30}}},
        {"5.1 by roles, LFE into W alone", 6, false, {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs},
         {{1, s30, 0, c30}, {1, -s30, 0, c30}, {1, 0, 0, 1}, {1, 9, 9, 9},
          {1, std::sin(1.9198622f), 0, std::cos(1.9198622f)}, {1, -std::sin(1.9198622f), 0, std::cos(1.9198622f)}}},
        {"height roles collapse into W", 2, false, {R::Ltf, R::None}, {{1, 9, 9, 9}, {1, 9, 9, 9}}},
        {"channels beyond the roles keep what was supplied", 3, false, {R::L}, {{1, s30, 0, c30}, marked, marked}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<AmbiXGains> gains(c.want.size(), marked);
        EncodeAmbiXByRole(c.count, c.pair, c.roles, gains);
        for (std::size_t i = 0; i < c.want.size(); ++i)
            for (int k = 0; k < 4; ++k) EXPECT_NEAR(gains[i][k], c.want[i][k], 1e-6f) << "set " << i << " component " << k;
    }
}

}  // namespace
}  // namespace korvel
