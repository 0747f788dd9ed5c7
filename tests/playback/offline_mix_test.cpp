#include "playback/offline_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "playback/live_mixer.h"
#include "playback/playback_engine.h"
#include "mix_engine_fixture.h"
#include "project/layer.h"
#include "support/audio_fixture.h"
#include "support/signals.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;
constexpr float kMonoGain = 0.70710677f;
constexpr float kPi = 3.1415927f;

std::unique_ptr<PlaybackEngine> MakeEngine() { return test::MakeMixEngine(kRate); }

// `seconds` of distinct, non-zero samples.
Voice RampVoice(float startTime, float seconds) {
    Voice voice;
    voice.frameCount = static_cast<std::int32_t>(std::lround(seconds * kRate));
    voice.samplesL.resize(static_cast<std::size_t>(voice.frameCount));
    for (std::size_t i = 0; i < voice.samplesL.size(); ++i)
        voice.samplesL[i] = 0.2f + 0.3f * static_cast<float>(i % 977) / 977.0f;
    voice.startTime = startTime;
    voice.duration = seconds;
    return voice;
}

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

Stereo MixOffline(const PlaybackEngine& engine, std::int64_t frames, double startSeconds, float gain = 1.0f) {
    Stereo out{std::vector<float>(static_cast<std::size_t>(frames)), std::vector<float>(static_cast<std::size_t>(frames))};
    for (std::size_t k = 0; k < engine.voices.size(); ++k)
        MixVoiceOffline(engine.voices[k], k, engine, out.left.data(), out.right.data(), frames, kRate, gain, startSeconds);
    return out;
}

TEST(OfflineMix, AVoiceMixedLiveOverBlocksAndOfflineGivesTheSameSamples) {
    auto engine = MakeEngine();
    Voice voice = RampVoice(0.25f, 1.0f);  // frame 12,000 exactly
    voice.stereo = true;
    voice.samplesR = test::Sine(660.0, voice.frameCount, 0.25);
    voice.gain = 0.8f;
    voice.normGain = 0.9f;
    voice.hasIntGain = true;
    for (int p = 0; p < kCurvePoints; ++p) voice.intGain[static_cast<std::size_t>(p)] = 0.3f + 0.7f * p / 255.0f;
    voice.hasDeconGain = true;
    voice.deconGain.fill(0.75f);
    voice.deconGain[10] = 0.25f;
    voice.hasFillGain = true;
    voice.fillGainSpan = 0.5f;
    for (int p = 0; p < kFillGainPoints; ++p) voice.fillGain[static_cast<std::size_t>(p)] = 1.0f - 0.004f * p;
    AppendVoice(*engine, voice, 0.1f, 0.2f);
    engine->ready.store(true);

    constexpr std::uint32_t kBlock = 480;
    constexpr std::int64_t kFrames = 150 * kBlock;  // 1.5 s
    Stereo live{std::vector<float>(kFrames), std::vector<float>(kFrames)};
    for (std::int64_t at = 0; at < kFrames; at += kBlock)
        MixPlaybackBlock(*engine, live.left.data() + at, live.right.data() + at, kBlock);
    const Stereo offline = MixOffline(*engine, kFrames, 0.0);

    double energy = 0.0;
    for (std::int64_t p = 0; p < kFrames; ++p) {
        ASSERT_NEAR(offline.left[p], live.left[p], 2e-6f) << "frame " << p;
        ASSERT_NEAR(offline.right[p], live.right[p], 2e-6f) << "frame " << p;
        energy += offline.left[p] * offline.left[p];
    }
    EXPECT_GT(energy, 100.0) << "the comparison saw the voice";
}

TEST(OfflineMix, RangeEdgesCutTheVoiceWhereItLands) {
    constexpr std::int64_t kFrames = 2 * kRate;  // the range 10 s .. 12 s
    struct Case {
        const char* name;
        float startTime;
        std::int64_t startFrame;
    };
    const Case cases[] = {
        {"starts 1.5 s before the range: its first 1.5 s are lost", 8.5f, -72000},
        {"starts 0.00001 s after the start: truncated onto frame 0", 10.00001f, 0},
        {"runs past the range's end: cut there", 11.5f, 72000},
        {"ends before the range", 2.0f, -384000},
        {"starts after the range", 13.0f, 144000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = MakeEngine();
        Voice voice = RampVoice(c.startTime, 4.0f);
        voice.azimuth = 1.2f;  // a stereo mix does not pan
        voice.width = 0.3f;
        AppendVoice(*engine, voice, 0.04f, 0.05f);
        const Voice& stored = engine->voices[0];

        const VoiceEnvelope envelope = RenderVoiceForExport(stored, 0, *engine, 1.0f, kRate, 10.0);
        EXPECT_EQ(envelope.startFrame, c.startFrame);
        ASSERT_EQ(envelope.gains.size(), static_cast<std::size_t>(stored.frameCount));
        const Stereo out = MixOffline(*engine, kFrames, 10.0);
        for (std::int64_t p = 0; p < kFrames; ++p) {
            const std::int64_t i = p - c.startFrame;
            const bool inside = i >= 0 && i < stored.frameCount;
            const float want = inside ? envelope.gains[static_cast<std::size_t>(i)] * stored.samplesL[i] * kMonoGain : 0.0f;
            ASSERT_NEAR(out.left[p], want, 1e-6f) << "frame " << p;
            ASSERT_EQ(out.left[p], out.right[p]) << "a mono voice feeds both sides alike, frame " << p;
        }
    }
}

TEST(OfflineMix, StereoVoicesPassStraightAndAShortRightChannelMixesAsMono) {
    auto engine = MakeEngine();
    Voice whole = RampVoice(0.0f, 0.5f);
    whole.stereo = true;
    whole.samplesR.assign(whole.samplesL.size(), -0.1f);
    Voice shortRight = whole;
    shortRight.samplesR.pop_back();
    AppendVoice(*engine, whole, 0.04f, 0.05f);
    AppendVoice(*engine, shortRight, 0.04f, 0.05f);
    const VoiceEnvelope envelope = RenderVoiceForExport(engine->voices[0], 0, *engine, 0.5f, kRate, 0.0);

    Stereo out{std::vector<float>(kRate), std::vector<float>(kRate)};
    MixVoiceOffline(engine->voices[0], 0, *engine, out.left.data(), out.right.data(), kRate, kRate, 0.5f, 0.0);
    const std::int64_t mid = 12000;
    const float e = envelope.gains[mid];
    EXPECT_NEAR(out.left[mid], e * whole.samplesL[mid], 1e-6f);
    EXPECT_NEAR(out.right[mid], e * -0.1f, 1e-6f);

    Stereo mono{std::vector<float>(kRate), std::vector<float>(kRate)};
    MixVoiceOffline(engine->voices[1], 1, *engine, mono.left.data(), mono.right.data(), kRate, kRate, 0.5f, 0.0);
    EXPECT_NEAR(mono.left[mid], e * whole.samplesL[mid] * kMonoGain, 1e-6f);
    EXPECT_EQ(mono.left[mid], mono.right[mid]) << "the short right channel is ignored";
}

TEST(OfflineMix, SilentVoicesAddNothing) {
    struct Case {
        const char* name;
        void (*change)(Voice&);
        float gain;
        bool startFrameSet;  // the start is known even when the level is too low
    };
    const Case cases[] = {
        {"muted (the designer's, silence protection or a dropped lane)", [](Voice& v) { v.muted = true; }, 1.0f, false},
        {"no frames", [](Voice& v) { v.frameCount = 0; }, 1.0f, false},
        {"no samples", [](Voice& v) { v.samplesL.clear(); }, 1.0f, true},
        {"level below the floor", [](Voice& v) { v.normGain = 1e-7f; }, 1.0f, true},
        {"the caller's gain is 0", [](Voice&) {}, 0.0f, true},
        {"a start that is no number", [](Voice& v) { v.startTime = std::nanf(""); }, 1.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = MakeEngine();
        Voice voice = RampVoice(1.0f, 0.5f);
        c.change(voice);
        AppendVoice(*engine, voice, 0.04f, 0.05f);
        const Stereo out = MixOffline(*engine, 2 * kRate, 0.0, c.gain);
        for (std::int64_t p = 0; p < 2 * kRate; ++p) ASSERT_EQ(out.left[p], 0.0f) << "frame " << p;
        const VoiceEnvelope envelope = RenderVoiceForExport(engine->voices[0], 0, *engine, c.gain, kRate, 0.0);
        if (voice.samplesL.empty()) continue;  // its envelope exists; nothing to read it with
        EXPECT_TRUE(envelope.gains.empty());
        EXPECT_EQ(envelope.startFrame, c.startFrameSet ? kRate : 0);
    }
}

// [SECTION] Spatial

std::vector<std::vector<float>> MixSpatial(const PlaybackEngine& engine, const std::vector<LayerResult>& results,
                                           int layoutIndex, std::int64_t frames, float blend, bool extended) {
    const OutputLayout layout = GetOutputLayout(layoutIndex);
    std::vector<std::vector<float>> channels(layout.roles.size(), std::vector<float>(static_cast<std::size_t>(frames)));
    for (std::size_t k = 0; k < engine.voices.size(); ++k)
        MixVoiceSpatial(engine.voices[k], k, engine, results, layout, channels, frames, kRate, 1.0f, 0.0, 0, blend,
                        extended);
    return channels;
}

TEST(OfflineMix, AFiveOneSourceKeepsItsRolesInSevenOneFour) {
    test::TempDir dir;
    const std::string path = dir.file("six.wav");
    const int frames = kRate / 2;
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * 6);
    for (int f = 0; f < frames; ++f)
        for (int ch = 0; ch < 6; ++ch) interleaved[static_cast<std::size_t>(f) * 6 + ch] = 0.1f * (ch + 1);
    ASSERT_TRUE(test::WriteSoundFile(path, interleaved, 6, kRate));
    // The same file under a path of more than 1,024 bytes, which libsndfile's
    // own open refuses.
    fs::path deep = dir.path();
    for (int level = 0; level < 6; ++level) deep /= std::string(200, static_cast<char>('a' + level));
    fs::create_directories(deep);
    const std::string longPath = (deep / "six.wav").string();
    ASSERT_GT(longPath.size(), 1024u);
    fs::copy_file(path, longPath);

    struct Case {
        std::string path;
        float blend;
    };
    const Case cases[] = {{path, 0.0f}, {path, 0.9f}, {longPath, 0.0f}};
    for (const Case& c : cases) {
        const float blend = c.blend;
        SCOPED_TRACE(blend);
        SCOPED_TRACE(c.path.size());
        LayerResult layer;
        layer.filepath = c.path;
        layer.sourceDuration = 0.5f;
        layer.duration = 0.5f;
        layer.weight = 1.0f;
        auto engine = MakeEngine();
        Voice voice = RampVoice(0.0f, 0.5f);  // its own samples must not be heard
        voice.resultIndex = 0;
        voice.azimuth = 1.0f;
        AppendVoice(*engine, voice, 0.04f, 0.05f);
        const auto channels = MixSpatial(*engine, {layer}, 2, kRate, blend, true);
        const VoiceEnvelope envelope = RenderVoiceForExport(engine->voices[0], 0, *engine, 1.0f, kRate, 0.0);
        const std::size_t mid = 12000;
        for (std::size_t j = 0; j < 12; ++j) {
            const float want = j < 6 ? envelope.gains[mid] * 0.1f * static_cast<float>(j + 1) : 0.0f;
            EXPECT_NEAR(channels[j][mid], want, 2e-4f) << "output channel " << j;
        }
    }
}

TEST(OfflineMix, TheSpatialBlendMovesAMonoVoiceWithoutChangingItsPower) {
    struct Case {
        const char* name;
        float azimuth;
        std::vector<float> gains;  // 5.1: L R C LFE Ls Rs
    };
    const std::vector<Case> cases = {
        {"front: role and pan agree on C", 0.0f, {0, 0, 1, 0, 0, 0}},
        {"hard left: 0.9 pan + 0.1 role, rescaled", kPi / 2, {0.3805f, 0, 0.1104f, 0, 0.9183f, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = MakeEngine();
        Voice voice = RampVoice(0.0f, 0.5f);
        voice.azimuth = c.azimuth;
        AppendVoice(*engine, voice, 0.04f, 0.05f);
        const auto channels = MixSpatial(*engine, {}, 1, kRate, 0.9f, false);
        const VoiceEnvelope envelope = RenderVoiceForExport(engine->voices[0], 0, *engine, 1.0f, kRate, 0.0);
        const std::size_t mid = 12000;
        const float dry = envelope.gains[mid] * engine->voices[0].samplesL[mid];
        float power = 0.0f;
        for (std::size_t j = 0; j < 6; ++j) {
            EXPECT_NEAR(channels[j][mid] / dry, c.gains[j], 1e-3f) << "channel " << j;
            power += (channels[j][mid] / dry) * (channels[j][mid] / dry);
        }
        EXPECT_NEAR(power, 1.0f, 1e-5f);
    }
}

TEST(OfflineMix, TheExtendedSpreadSendsSideCopiesByWeightAndGroup) {
    // A signal at the Nyquist rate lies wholly above the 250 Hz split, so the
    // side channels hear only the diffused copies, scaled by the amount a.
    auto mixWith = [](float weight, int group) {
        auto engine = MakeEngine();
        Voice voice = RampVoice(0.0f, 0.25f);
        for (std::size_t i = 0; i < voice.samplesL.size(); ++i) voice.samplesL[i] = (i % 2 ? -0.5f : 0.5f);
        voice.group = group;
        voice.resultIndex = 0;
        AppendVoice(*engine, voice, 0.04f, 0.05f);
        LayerResult layer;  // no file: the voice's own samples
        layer.weight = weight;
        return MixSpatial(*engine, {layer}, 1, kRate / 4, 0.9f, true);
    };
    const auto reference = mixWith(1.0f, 0);  // a = 0.5
    struct Case {
        const char* name;
        float weight;
        int group;
        float amount;
    };
    const Case cases[] = {
        {"weight 1, group 1", 1.0f, 1, 0.125f}, {"weight 1, group 2", 1.0f, 2, 0.3f},
        {"weight 0.5, group 0", 0.5f, 0, 0.25f}, {"weight above 1 clamps", 3.0f, 0, 0.5f},
        {"weight 0: no side copies", 0.0f, 0, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto channels = mixWith(c.weight, c.group);
        int compared = 0;
        for (std::size_t p = 0; p < channels[4].size(); ++p) {
            if (std::fabs(reference[4][p]) < 1e-3f) continue;
            ASSERT_NEAR(channels[4][p] / reference[4][p], c.amount / 0.5f, 1e-3f) << "Ls, frame " << p;
            ASSERT_NEAR(channels[5][p] / reference[5][p], c.amount / 0.5f, 1e-3f) << "Rs, frame " << p;
            ++compared;
        }
        EXPECT_GT(compared, 1000);
        if (c.amount == 0.0f) {
            for (std::size_t j : {0u, 1u, 3u, 4u, 5u})
                for (float v : channels[j]) ASSERT_NEAR(v, 0.0f, 1e-6f) << "channel " << j << " hears only C's re-pan";
        }
    }
    // The direct highs carry F: at a = 0.5, F² + 2a² = 1.
    float centre = 0.0f, side = 0.0f;
    for (std::size_t p = 2000; p < reference[2].size(); ++p) {
        centre += reference[2][p] * reference[2][p];
        side += reference[4][p] * reference[4][p] + reference[5][p] * reference[5][p];
    }
    EXPECT_NEAR((centre + side) / centre, 1.0f / 0.5f, 0.05f);
}

// [SECTION] Loudness

TEST(OfflineMix, LoudnessNormalisationGainsAndTheirLine) {
    struct Case {
        const char* name;
        double amplitude;  // of a 997 Hz sine in both channels
        float target;
        float gain;
    };
    const Case cases[] = {
        {"-40 LUFS to -14", 0.01, -14.0f, 19.95f},
        {"-50 LUFS clamps at +30 dB", 0.003162, -14.0f, 31.62f},
        {"-10 LUFS to -23", 0.3162, -23.0f, 0.2239f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> sine = test::Sine(997.0, 4 * kRate, c.amplitude);
        testing::internal::CaptureStdout();
        const float gain = LoudnessNormalizeGain(sine.data(), sine.data(), 4 * kRate, kRate, c.target);
        const std::string line = testing::internal::GetCapturedStdout();
        EXPECT_NEAR(gain, c.gain, 0.02f * c.gain);
        EXPECT_EQ(line.rfind("[ExportWAV] LUFS normalise: ", 0), 0u) << line;
        EXPECT_NE(line.find(" LUFS ("), std::string::npos) << line;
    }
    const std::vector<float> silence(kRate, 0.0f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoudnessNormalizeGain(silence.data(), silence.data(), kRate, kRate, -14.0f), 1.0f);
    EXPECT_EQ(LoudnessNormalizeGain(silence.data(), nullptr, 0, kRate, -14.0f), 1.0f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace korvel
