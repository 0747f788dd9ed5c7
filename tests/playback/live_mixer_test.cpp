#include "playback/live_mixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "dsp/flush_denormals.h"
#include "platform/thread_checks.h"
#include "playback/voice_mix.h"
#include "mix_engine_fixture.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;
constexpr float kMonoGain = 0.70710678f;

std::unique_ptr<PlaybackEngine> MakeEngine() { return test::MakeMixEngine(kRate); }

Voice ConstantVoice(float value, float startTime, float duration, int group = 0) {
    Voice voice;
    voice.frameCount = static_cast<std::int32_t>(std::lround(duration * kRate));
    voice.samplesL.assign(static_cast<std::size_t>(voice.frameCount), value);
    voice.startTime = startTime;
    voice.duration = duration;
    voice.group = group;
    return voice;
}

struct Block {
    std::vector<float> left;
    std::vector<float> right;
};

Block Mix(PlaybackEngine& engine, std::uint32_t frames) {
    Block block{std::vector<float>(frames, -9.0f), std::vector<float>(frames, -9.0f)};
    MixPlaybackBlock(engine, block.left.data(), block.right.data(), frames);
    return block;
}

// The output hook sees a plain function pointer: its observations go here.
struct HookLog {
    int calls = 0;
    double seconds = -1.0;
    float peak = 0.0f;
    PlaybackEngine* locateEngine = nullptr;  // locates here during the block when set
};
HookLog gHook;

void RecordingHook(float* left, float* right, std::uint32_t frames, double seconds, int) {
    ++gHook.calls;
    gHook.seconds = seconds;
    for (std::uint32_t f = 0; f < frames; ++f)
        gHook.peak = std::max({gHook.peak, std::fabs(left[f]), std::fabs(right[f])});
    if (gHook.locateEngine != nullptr) LocatePlayback(*gHook.locateEngine, 10.0);
}

class LiveMixer : public ::testing::Test {
protected:
    void SetUp() override {
        gHook = HookLog{};
        SetEngineOutputHook(&RecordingHook);
    }
    void TearDown() override { SetEngineOutputHook(nullptr); }
};

TEST_F(LiveMixer, AVoiceAtAFractionalFrameStartsAtTheNextWholeFrame) {
    auto engine = MakeEngine();
    AppendVoice(*engine, ConstantVoice(1.0f, 100.5f / kRate, 0.5f), 0.04f, 0.05f);
    const Block block = Mix(*engine, 512);
    EXPECT_EQ(block.left[100], 0.0f);
    EXPECT_GT(block.left[101], 0.0f);
    EXPECT_EQ(engine->position.load(), 512);
    EXPECT_EQ(gHook.calls, 1);
    EXPECT_DOUBLE_EQ(gHook.seconds, 0.0);
}

TEST(VoiceMixRules, FadeLengthsAndShapes) {
    struct Case {
        float fadeIn, fadeOut, duration, wantIn, wantOut;
    };
    const Case cases[] = {
        {0.04f, 0.05f, 0.02f, 0.009f, 0.009f},  // clamped to 15 ms, then scaled into 90%
        {0.04f, 0.05f, 1.0f, 0.04f, 0.05f},
        {0.001f, 0.0f, 1.0f, 0.015f, 0.015f},  // the floor
        {0.8f, 0.8f, 1.0f, 0.45f, 0.45f},      // 45% each, exactly 90% together
    };
    for (const Case& c : cases) {
        const VoiceFades fades = VoiceFadeLengths(c.fadeIn, c.fadeOut, c.duration);
        EXPECT_NEAR(fades.in, c.wantIn, 1e-6f) << c.fadeIn << " over " << c.duration;
        EXPECT_NEAR(fades.out, c.wantOut, 1e-6f) << c.fadeOut << " over " << c.duration;
    }
    EXPECT_NEAR(FadeInGain(0.02f, 0.04f), 0.7035f, 1e-4f);
    EXPECT_EQ(FadeInGain(0.04f, 0.04f), 1.0f);
    EXPECT_NEAR(FadeOutGain(1.0f - 0.025f, 1.0f, 0.05f), 0.0625f, 1e-5f);
    EXPECT_EQ(FadeOutGain(0.5f, 1.0f, 0.05f), 1.0f);
}

TEST_F(LiveMixer, FadesShapeTheMixedVoice) {
    auto engine = MakeEngine();
    AppendVoice(*engine, ConstantVoice(1.0f, 0.0f, 1.0f), 0.04f, 0.05f);
    const Block head = Mix(*engine, 1024);
    EXPECT_NEAR(head.left[960], kMonoGain * 0.7035f, 1e-4f) << "20 ms into a 40 ms fade-in";
    engine->position.store(kRate - 2048);
    const Block tail = Mix(*engine, 2048);
    EXPECT_NEAR(tail.left[2048 - 1200], kMonoGain * 0.0625f, 1e-4f) << "25 ms before the end of a 50 ms fade-out";
}

TEST(VoiceMixRules, CurveModes) {
    auto curve = std::make_shared<CurvePoints>();
    for (int i = 0; i < kCurvePoints; ++i) (*curve)[i] = static_cast<float>(i) / (kCurvePoints - 1);
    struct Case {
        const char* name;
        void (*setUp)(Voice&, const std::shared_ptr<CurvePoints>&);
        float t;
        float want;
    };
    const Case cases[] = {
        {"no curves", [](Voice&, const std::shared_ptr<CurvePoints>&) {}, 0.5f, 1.0f},
        {"event curve, not a bed: lifted to 0.3",
         [](Voice& v, const std::shared_ptr<CurvePoints>& c) {
             v.eventCurve = c;
             v.eventCurveLength = kCurvePoints;
         },
         0.5f, 0.3f + 0.7f * 0.5f},
        {"event curve of a bed, scaled and clamped",
         [](Voice& v, const std::shared_ptr<CurvePoints>& c) {
             v.eventCurve = c;
             v.eventCurveLength = kCurvePoints;
             v.eventCurveIsBed = true;
             v.intensityScale = 4.0f;
         },
         0.5f, 1.0f},
        {"event curve wins over intGain",
         [](Voice& v, const std::shared_ptr<CurvePoints>& c) {
             v.eventCurve = c;
             v.eventCurveLength = kCurvePoints;
             v.eventCurveIsBed = true;
             v.hasIntGain = true;
             v.intGain.fill(0.1f);
         },
         0.25f, 0.25f},
        {"a one-point event curve falls back to intGain",
         [](Voice& v, const std::shared_ptr<CurvePoints>& c) {
             v.eventCurve = c;
             v.eventCurveLength = 1;
             v.hasIntGain = true;
             v.intGain.fill(0.1f);
         },
         0.25f, 0.1f},
        {"fillGain over its own span, held after it",
         [](Voice& v, const std::shared_ptr<CurvePoints>&) {
             v.hasFillGain = true;
             for (int i = 0; i < kFillGainPoints; ++i) v.fillGain[i] = static_cast<float>(i) / 127.0f;
             v.fillGainSpan = 0.5f;
         },
         0.75f, 1.0f},
        {"deconGain times intGain",
         [](Voice& v, const std::shared_ptr<CurvePoints>&) {
             v.hasIntGain = true;
             v.intGain.fill(0.5f);
             v.hasDeconGain = true;
             v.deconGain.fill(0.5f);
         },
         0.5f, 0.25f},
    };
    for (const Case& c : cases) {
        Voice voice;
        voice.duration = 1.0f;
        c.setUp(voice, curve);
        EXPECT_NEAR(VoiceCurveGain(PrepareVoiceCurves(voice), c.t), c.want, 1e-4f) << c.name;
    }
    Voice noDuration;
    noDuration.hasIntGain = true;  // all zero, but a voice without length has no curves
    EXPECT_EQ(VoiceCurveGain(PrepareVoiceCurves(noDuration), 0.0f), 1.0f);
}

TEST_F(LiveMixer, GroupMuteSoloAndSoloVoice) {
    struct Case {
        const char* name;
        std::int32_t soloVoice;
        std::array<bool, 3> groupMute, groupSolo;
        bool voice1Muted;
        std::array<bool, 3> heard;  // which group's voice is heard
    };
    const Case cases[] = {
        {"nothing set", -1, {}, {}, false, {true, true, true}},
        {"a muted voice", -1, {}, {}, true, {true, false, true}},
        {"the muted solo voice plays alone", 1, {}, {}, true, {false, true, false}},
        {"the solo voice in a muted group", 1, {false, true, false}, {}, false, {false, false, false}},
        {"the solo voice with another group soloed", 1, {}, {true, false, false}, false, {false, false, false}},
        {"group 1 soloed", -1, {}, {false, true, false}, false, {false, true, false}},
        {"group 1 soloed and muted", -1, {false, true, false}, {false, true, false}, false, {false, false, false}},
        {"two groups soloed", -1, {}, {true, false, true}, false, {true, false, true}},
    };
    for (const Case& c : cases) {
        auto engine = MakeEngine();
        for (int g = 0; g < 3; ++g) {
            Voice voice = ConstantVoice(0.1f, 0.0f, 1.0f, g);
            voice.muted = g == 1 && c.voice1Muted;
            AppendVoice(*engine, std::move(voice), 0.0f, 0.0f);
        }
        engine->soloVoice = c.soloVoice;
        engine->groupMute = c.groupMute;
        engine->groupSolo = c.groupSolo;
        PublishMixerSettings(*engine);
        Mix(*engine, 1024);
        for (int g = 0; g < 3; ++g)
            EXPECT_EQ(engine->groupPeakL[g] > 0.0f, c.heard[g]) << c.name << ", group " << g;
    }
}

TEST_F(LiveMixer, MonoAndStereoVoicesUnpanned) {
    auto engine = MakeEngine();
    Voice mono = ConstantVoice(0.2f, 0.0f, 1.0f);
    mono.azimuth = 1.0f;  // placement plays no part in the stereo mix
    AppendVoice(*engine, std::move(mono), 0.0f, 0.0f);
    Voice stereo = ConstantVoice(0.1f, 0.0f, 1.0f);
    stereo.stereo = true;
    stereo.samplesR.assign(stereo.samplesL.size(), 0.3f);
    stereo.width = 1.0f;
    AppendVoice(*engine, std::move(stereo), 0.0f, 0.0f);
    Voice shortRight = ConstantVoice(0.4f, 0.0f, 1.0f);
    shortRight.stereo = true;
    shortRight.samplesR.assign(shortRight.samplesL.size() - 1, 0.5f);  // mixes as mono
    AppendVoice(*engine, std::move(shortRight), 0.0f, 0.0f);
    const Block block = Mix(*engine, 2048);
    const std::size_t f = 2000;  // past the fade-ins
    EXPECT_NEAR(block.left[f], 0.2f * kMonoGain + 0.1f + 0.4f * kMonoGain, 1e-5f);
    EXPECT_NEAR(block.right[f], 0.2f * kMonoGain + 0.3f + 0.4f * kMonoGain, 1e-5f);
}

TEST_F(LiveMixer, LevelIsTheProductOfGainsAndMasterFader) {
    auto engine = MakeEngine();
    Voice voice = ConstantVoice(0.5f, 0.0f, 1.0f, 2);
    voice.gain = 0.5f;
    voice.normGain = 0.8f;
    voice.eventGain = 0.5f;
    AppendVoice(*engine, std::move(voice), 0.0f, 0.0f);
    engine->groupGain[2] = 2.0f;
    engine->masterGain = 0.5f;
    const Block before = Mix(*engine, 2048);
    EXPECT_NEAR(before.left[2000], 0.5f * 0.2f * kMonoGain, 1e-5f) << "settings not yet published";
    PublishMixerSettings(*engine);
    const Block block = Mix(*engine, 2048);
    // The fade-in's shape overshoots 1 a little: the group peak (taken
    // before the master fader) is measured past it, in this later block.
    EXPECT_NEAR(engine->groupPeakL[2], 0.5f * 0.2f * 2.0f * kMonoGain, 1e-5f) << "group peaks before master";
    EXPECT_NEAR(block.left[1000], 0.5f * 0.2f * 2.0f * 0.5f * kMonoGain, 1e-5f);
}

TEST_F(LiveMixer, ReverbSendsAndReturnStayInTheSendBuffersAndSkipTheMasterFader) {
    auto engine = MakeEngine();
    engine->reverb.enabled = true;
    engine->reverb.groupSends = {1.0f, 1.0f, 1.0f};
    PublishReverbSettings(*engine);
    AppendVoice(*engine, ConstantVoice(0.3f, 0.0f, 1.0f), 0.0f, 0.0f);
    engine->masterGain = 0.0f;  // only the return is heard
    PublishMixerSettings(*engine);
    const Block block = Mix(*engine, 8192);
    float returnPeak = 0.0f;
    for (int f = 0; f < kReverbBlockFrames; ++f) returnPeak = std::max(returnPeak, std::fabs(block.left[f]));
    EXPECT_GT(returnPeak, 1e-4f) << "the return is not scaled by the master fader";
    for (int f = kReverbBlockFrames; f < 8192; ++f) ASSERT_EQ(block.left[f], 0.0f) << f;

    // A voice's own send of 0 overrides its group's.
    auto dry = MakeEngine();
    dry->reverb.enabled = true;
    dry->reverb.groupSends = {1.0f, 1.0f, 1.0f};
    PublishReverbSettings(*dry);
    Voice voice = ConstantVoice(0.3f, 0.0f, 1.0f);
    voice.reverbSend = 0.0f;
    AppendVoice(*dry, std::move(voice), 0.0f, 0.0f);
    dry->masterGain = 0.0f;
    PublishMixerSettings(*dry);
    const Block silent = Mix(*dry, 4096);
    for (float v : silent.left) ASSERT_EQ(v, 0.0f);
}

TEST_F(LiveMixer, RampFadesInOnStartAndOutOnStopThenIdles) {
    auto engine = MakeEngine();
    AppendVoice(*engine, ConstantVoice(0.5f, 0.0f, 10.0f), 0.0f, 0.0f);
    LocatePlayback(*engine, 1.0);
    engine->rampGain = 0.0f;
    const Block start = Mix(*engine, 512);
    const float level = 0.5f * kMonoGain;
    EXPECT_NEAR(start.left[0], level / 288.0f, 1e-6f);
    EXPECT_NEAR(start.left[287], level, 1e-6f);
    EXPECT_NEAR(start.left[400], level, 1e-6f);

    engine->playing.store(false);
    const Block stop = Mix(*engine, 512);
    EXPECT_NEAR(stop.left[0], level * 287.0f / 288.0f, 1e-5f);
    EXPECT_EQ(stop.left[300], 0.0f);
    EXPECT_EQ(engine->position.load(), kRate + 512) << "the fade-out block leaves the stopped clock where it stopped";
    const int hookCalls = gHook.calls;
    const Block idle = Mix(*engine, 512);
    EXPECT_EQ(idle.left[0], 0.0f);
    EXPECT_EQ(engine->position.load(), kRate + 512) << "idle: the position stands";
    EXPECT_EQ(gHook.calls, hookCalls) << "idle while stopped: no hook";
    EXPECT_EQ(engine->peakL, 0.0f);
}

TEST_F(LiveMixer, NonFiniteSamplesAndEnvelopeAreScrubbed) {
    auto engine = MakeEngine();
    Voice voice = ConstantVoice(0.2f, 0.0f, 1.0f);
    voice.samplesL[1500] = std::numeric_limits<float>::quiet_NaN();
    voice.samplesL[1600] = std::numeric_limits<float>::infinity();
    AppendVoice(*engine, std::move(voice), 0.0f, 0.0f);
    engine->limiterEnvelope = std::numeric_limits<float>::quiet_NaN();
    const Block block = Mix(*engine, 2048);
    for (std::size_t f = 0; f < block.left.size(); ++f) ASSERT_TRUE(std::isfinite(block.left[f])) << f;
    EXPECT_EQ(block.left[1500], 0.0f);
    EXPECT_NEAR(block.left[1800], 0.2f * kMonoGain, 1e-6f) << "one bad sample does not silence the rest";
    EXPECT_TRUE(std::isfinite(engine->limiterEnvelope));
}

TEST_F(LiveMixer, LimiterHoldsAnOverFullSquareWaveBelowItsCeiling) {
    auto engine = MakeEngine();
    Voice square = ConstantVoice(0.0f, 0.0f, 1.0f);
    for (std::size_t i = 0; i < square.samplesL.size(); ++i) square.samplesL[i] = (i / 48) % 2 ? -2.0f : 2.0f;
    square.stereo = true;
    square.samplesR = square.samplesL;
    AppendVoice(*engine, std::move(square), 0.0f, 0.0f);
    for (int b = 0; b < 20; ++b) Mix(*engine, 512);
    EXPECT_LE(gHook.peak, 0.891f);
    EXPECT_GT(gHook.peak, 0.8f);
}

TEST_F(LiveMixer, MasterMuteSilencesEverythingWhileThePositionRuns) {
    auto engine = MakeEngine();
    engine->reverb.enabled = true;
    PublishReverbSettings(*engine);
    AppendVoice(*engine, ConstantVoice(0.5f, 0.0f, 1.0f), 0.0f, 0.0f);
    ASSERT_TRUE(StartPreview(*engine, std::vector<float>(4800, 0.5f), kRate));
    engine->masterMute = true;
    PublishMixerSettings(*engine);
    const Block block = Mix(*engine, 1024);
    for (float v : block.left) ASSERT_EQ(v, 0.0f);
    for (float v : block.right) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(engine->peakL, 0.0f);
    EXPECT_EQ(engine->peakR, 0.0f);
    EXPECT_EQ(engine->position.load(), 1024);
}

TEST_F(LiveMixer, StoppedTransportPlaysThePreviewAtTheMasterGain) {
    auto engine = MakeEngine();
    engine->playing.store(false);
    engine->rampGain = 0.0f;
    AppendVoice(*engine, ConstantVoice(0.5f, 0.0f, 1.0f), 0.0f, 0.0f);
    std::vector<float> preview(100);
    for (int i = 0; i < 100; ++i) preview[i] = 0.01f * i;
    ASSERT_TRUE(StartPreview(*engine, preview, kRate / 2));  // each sample lasts two output frames
    engine->masterGain = 0.5f;
    engine->peakL = 0.7f;
    PublishMixerSettings(*engine);
    const Block block = Mix(*engine, 512);
    EXPECT_FLOAT_EQ(block.left[21], 0.5f * 0.10f);
    EXPECT_FLOAT_EQ(block.right[21], 0.5f * 0.10f);
    EXPECT_EQ(block.left[200], 0.0f) << "the preview ends after 200 frames";
    EXPECT_EQ(engine->previewPos.load(), 200);
    EXPECT_EQ(engine->peakL, 0.0f);
    EXPECT_EQ(engine->position.load(), 0);
    EXPECT_EQ(gHook.calls, 0);
}

TEST_F(LiveMixer, BusyVoiceLockLeavesOnlyThePreview) {
    auto engine = MakeEngine();
    AppendVoice(*engine, ConstantVoice(0.5f, 0.0f, 1.0f), 0.0f, 0.0f);
    Mix(*engine, 512);
    const float peak = engine->peakL;
    ASSERT_GT(peak, 0.0f);
    ASSERT_TRUE(StartPreview(*engine, std::vector<float>(4800, 0.25f), kRate));
    Block block;
    {
        std::lock_guard lock(engine->voiceMutex);  // a writer holds the voices
        block = Mix(*engine, 512);
    }
    EXPECT_FLOAT_EQ(block.left[100], 0.25f);
    EXPECT_EQ(engine->position.load(), 512);
    EXPECT_EQ(engine->peakL, peak);
    EXPECT_EQ(gHook.calls, 1);
    EXPECT_EQ(engine->blocksFinished.load(), 2u);
}

TEST_F(LiveMixer, ALocateDuringTheBlockWinsAndClearsTheTailBeforeTheNextBlock) {
    auto engine = MakeEngine();
    gHook.locateEngine = engine.get();
    Mix(*engine, 512);
    EXPECT_EQ(engine->position.load(), 10 * kRate) << "the block's advance does not undo the locate";
    gHook.locateEngine = nullptr;

    // A tail rings on after a short voice; a locate silences it before the
    // next block reaches the reverb.
    auto ringing = [](bool locate) {
        auto engine = MakeEngine();
        engine->reverb.enabled = true;
        engine->reverb.groupSends = {1.0f, 1.0f, 1.0f};
        PublishReverbSettings(*engine);
        AppendVoice(*engine, ConstantVoice(0.5f, 0.0f, 0.05f), 0.0f, 0.0f);
        for (int b = 0; b < 8; ++b) Mix(*engine, 512);
        if (locate) LocatePlayback(*engine, 5.0);
        const Block block = Mix(*engine, 512);
        float peak = 0.0f;
        for (float v : block.left) peak = std::max(peak, std::fabs(v));
        return peak;
    };
    EXPECT_GT(ringing(false), 1e-4f);
    EXPECT_EQ(ringing(true), 0.0f);
}

TEST_F(LiveMixer, IdleWhileNotReadyKeepsTimeForThePicture) {
    auto engine = MakeEngine();
    engine->ready.store(false);
    Mix(*engine, 512);
    EXPECT_EQ(engine->position.load(), 512);
    EXPECT_EQ(gHook.calls, 1);

    auto noRate = MakeEngine();
    SetPlaybackSampleRate(*noRate, 0);
    StartPreview(*noRate, std::vector<float>(100, 0.5f), kRate);
    const Block silent = Mix(*noRate, 64);
    for (float v : silent.left) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(noRate->position.load(), 0);
}

TEST(AudioRenderCallback, SetsFlushToZeroOnTheAudioThread) {
    bool flushed = false;
    std::thread audio([&] {
        SetThreadRole(ThreadRole::Audio);  // as the device's thread is
        std::vector<float> left(64), right(64);
        AudioRenderCallback(left.data(), right.data(), 64);
        flushed = FlushDenormalsEnabled();
    });
    audio.join();
    EXPECT_TRUE(flushed);
}

}  // namespace
}  // namespace korvel
