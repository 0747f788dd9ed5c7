#include "playback/reverb_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "playback/playback_engine.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;

std::unique_ptr<PlaybackEngine> MakeEngine() {
    auto engine = std::make_unique<PlaybackEngine>();
    PrepareVoices(*engine, kRate, 8);
    engine->ready.store(true);
    return engine;
}

Voice NoiseVoice(float startTime, float seconds, int group, float reverbSend) {
    Voice voice;
    voice.frameCount = static_cast<std::int32_t>(std::lround(seconds * kRate));
    voice.samplesL.resize(static_cast<std::size_t>(voice.frameCount));
    std::uint32_t state = 1;
    for (float& s : voice.samplesL) {
        state = state * 1103515245u + 12345u;
        s = static_cast<float>((state >> 16) & 0x7FFF) / 32768.0f - 0.5f;
    }
    voice.startTime = startTime;
    voice.duration = seconds;
    voice.group = group;
    voice.reverbSend = reverbSend;
    return voice;
}

double Energy(const std::vector<float>& v) {
    double e = 0.0;
    for (float x : v) e += static_cast<double>(x) * x;
    return e;
}

TEST(ReverbBus, NothingToRenderLeavesTheOutputsAlone) {
    auto engine = MakeEngine();
    AppendVoice(*engine, NoiseVoice(0.0f, 0.5f, 0, 0.5f), 0.04f, 0.05f);
    ReverbSettings settings;
    struct Case {
        const char* name;
        bool ready;
        double seconds;
    };
    const Case cases[] = {
        {"engine not ready", false, 1.0},
        {"shorter than a frame", true, 0.00001},
        {"no range", true, 0.0},
        {"a range that is no number", true, std::nan("")},
        {"longer than the writers' hour", true, 3600.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine->ready.store(c.ready);
        std::vector<float> left{7.0f}, right{7.0f};
        EXPECT_FALSE(RenderReverbBusOffline(*engine, settings, kRate, c.seconds, 0.0, left, right));
        EXPECT_EQ(left, std::vector<float>{7.0f});
        EXPECT_EQ(right, std::vector<float>{7.0f});
    }
}

TEST(ReverbBus, SendsByVoiceAndGroup) {
    ReverbSettings settings;
    settings.groupSends = {0.2f, 0.2f, 0.3f};
    // Every case's return is compared with the same voice sending 0.3 of
    // its own: the reverb is linear, so equal sends give equal returns.
    auto render = [&](Voice voice, bool groupMuted) {
        auto engine = MakeEngine();
        engine->groupMute[static_cast<std::size_t>(std::clamp(voice.group, 0, 2))] = groupMuted;
        engine->groupSolo[1] = groupMuted;
        AppendVoice(*engine, std::move(voice), 0.04f, 0.05f);
        std::vector<float> left, right;
        EXPECT_TRUE(RenderReverbBusOffline(*engine, settings, kRate, 1.0, 0.0, left, right));
        EXPECT_EQ(left.size(), static_cast<std::size_t>(kRate));
        EXPECT_EQ(right.size(), static_cast<std::size_t>(kRate));
        return left;
    };
    const std::vector<float> reference = render(NoiseVoice(0.1f, 0.5f, 2, 0.3f), false);
    ASSERT_GT(Energy(reference), 1e-3);
    struct Case {
        const char* name;
        Voice voice;
        bool groupMuted;
        float scale;  // of the reference
    };
    Voice muted = NoiseVoice(0.1f, 0.5f, 2, 0.3f);
    muted.muted = true;
    const std::vector<Case> cases = {
        {"send -1 takes its group's send", NoiseVoice(0.1f, 0.5f, 2, -1.0f), false, 1.0f},
        {"a NaN send takes its group's send", NoiseVoice(0.1f, 0.5f, 2, std::nanf("")), false, 1.0f},
        {"a group beyond the three counts as the last", NoiseVoice(0.1f, 0.5f, 9, -1.0f), false, 1.0f},
        {"send 0 sends nothing though the group sends 0.2", NoiseVoice(0.1f, 0.5f, 0, 0.0f), false, 0.0f},
        {"a muted voice sends nothing", muted, false, 0.0f},
        {"a muted, unsoloed group still sends", NoiseVoice(0.1f, 0.5f, 2, 0.3f), true, 1.0f},
        {"half the send, half the return", NoiseVoice(0.1f, 0.5f, 2, 0.15f), false, 0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> got = render(c.voice, c.groupMuted);
        for (std::size_t p = 0; p < got.size(); ++p) ASSERT_NEAR(got[p], c.scale * reference[p], 1e-6f) << "frame " << p;
    }
}

TEST(ReverbBus, TheSpreadFeedsEachSideAtUnitPowerAndLeavesLfeSilent) {
    // An impulse through an allpass chain keeps its energy, so each channel's
    // energy is its weight × its side's norm, squared.
    constexpr std::int64_t kFrames = 20000;
    std::vector<float> impulse(kFrames, 0.0f);
    impulse[0] = 1.0f;
    const OutputLayout layout = GetOutputLayout(1);
    std::vector<std::vector<float>> channels(6, std::vector<float>(kFrames, 0.0f));
    SpreadReverbToLayout(impulse, impulse, kFrames, layout, channels);
    const float normL = 0.8865f, normR = 0.9481f;
    const float want[6] = {0.55f * normL, 0.55f * normR, 0.4f * normL, 0.0f, 0.9f * normL, 0.9f * normR};
    for (std::size_t j = 0; j < 6; ++j)
        EXPECT_NEAR(std::sqrt(Energy(channels[j])), want[j], 2e-3f) << "channel " << j;
    EXPECT_EQ(Energy(channels[3]), 0.0) << "LFE";

    const std::vector<float> silence(kFrames, 0.0f);
    for (int index : {1, 2, 3}) {
        SCOPED_TRACE(index);
        const OutputLayout target = GetOutputLayout(index);
        std::vector<std::vector<float>> filled(target.roles.size(), std::vector<float>(kFrames, 0.25f));
        SpreadReverbToLayout(silence, silence, kFrames, target, filled);
        for (const auto& channel : filled)
            for (float v : channel) ASSERT_EQ(v, 0.25f) << "a silent return changes nothing";
    }
}

TEST(ReverbBus, AmbiXSpreadFeedsFourLiftedVirtualSources) {
    constexpr std::int64_t kFrames = 20000;
    std::vector<float> impulse(kFrames, 0.0f);
    impulse[0] = 1.0f;
    const std::vector<float> silence(kFrames, 0.0f);
    std::vector<std::vector<float>> channels(4, std::vector<float>(kFrames, 0.0f));
    SpreadReverbToLayout(impulse, silence, kFrames, GetOutputLayout(3), channels);
    // Sources 0 and 2 (left, +55° and +125°) each at 0.5: W is their sum, Z
    // their sum × sin 15°, and the front and rear halves of X cancel in power.
    const double w = Energy(channels[0]);
    EXPECT_NEAR(w, 2 * 0.25, 0.15);
    EXPECT_NEAR(Energy(channels[2]) / w, std::pow(std::sin(15.0 * M_PI / 180.0), 2), 1e-4);
    EXPECT_GT(Energy(channels[1]), 0.0) << "left sources push Y";
}

TEST(ReverbBus, DiffuserStageLengthsAndImpulseResponse) {
    struct Case {
        const char* name;
        std::uint32_t seed;
        std::size_t lengths[4];
    };
    const Case cases[] = {
        {"AmbiX source 0", 0x5384540Fu, {58, 74, 132, 160}},
        {"speaker channel 0", 0x9E3779B9u, {68, 87, 141, 166}},
        {"seed 0: the shortest lengths", 0u, {43, 74, 111, 152}},
        {"all ones: the longest", 0xFFFFFFFFu, {74, 105, 142, 183}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AllpassDiffuser diffuser(c.seed);
        for (int s = 0; s < AllpassDiffuser::kStages; ++s) EXPECT_EQ(diffuser.StageLength(s), c.lengths[s]) << s;
    }
    // Through the chain, an impulse leaves each stage at −0.6 at once, and
    // the first stage's echo of 0.64 arrives one line length later, before
    // any longer stage has echoed.
    AllpassDiffuser diffuser(0x5384540Fu);
    std::vector<float> response(200);
    for (std::size_t i = 0; i < response.size(); ++i) response[i] = diffuser.Process(i == 0 ? 1.0f : 0.0f);
    EXPECT_NEAR(response[0], 0.1296f, 1e-6f);
    EXPECT_NEAR(response[58], 0.64f * -0.216f, 1e-6f);
    for (std::size_t i = 1; i < 58; ++i) EXPECT_EQ(response[i], 0.0f) << i;
}

}  // namespace
}  // namespace korvel
