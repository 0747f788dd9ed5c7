#include "engine/layer_render.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/loop_fill.h"
#include "engine/voice_gain.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "support/audio_fixture.h"
#include "support/signals.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;
constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

class LayerRender : public testing::Test {
protected:
    void SetUp() override {
        ClearDecodedSourceCache();
        engine = std::make_unique<PlaybackEngine>();
        engine->normalizeLUFS = false;
    }
    void TearDown() override { ClearDecodedSourceCache(); }

    std::string Tone(const std::string& name, double hz, double seconds, double amplitude) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(hz, seconds, kRate, 1, amplitude), 1, kRate, kFloatWav));
        return path;
    }

    static LayerResult Plain(const std::string& path, float duration) {
        LayerResult layer;
        layer.filepath = path;
        layer.sourceDuration = duration;
        layer.duration = duration;
        layer.groupTrack = 0;
        return layer;
    }

    const Voice& Render(LayerResult& layer, std::int32_t scaleType = 0, const Event* event = nullptr,
                        bool keepPlaceholders = false) {
        RenderLayerVoice(*engine, layer, 0, kRate, nullptr, event ? 1 : 0, event, scaleType, 0, keepPlaceholders);
        return engine->voices.back();
    }

    test::TempDir dir;
    std::unique_ptr<PlaybackEngine> engine;
};

TEST_F(LayerRender, GainTaperByWeight) {
    struct Case {
        float weight, taper;
    };
    for (const Case c : {Case{0.0f, 1.0f}, Case{0.7f, 1.0f}, Case{0.775f, 0.85f}, Case{0.85f, 0.7f}, Case{1.0f, 0.7f}}) {
        SCOPED_TRACE(c.weight);
        LayerResult layer;
        layer.isSketch = true;  // silence: no peak cap, no loudness
        layer.duration = 0.1f;
        layer.weight = c.weight;
        layer.layerGain = 0.5f;
        layer.userVolume = 0.8f;
        const Voice& voice = Render(layer);
        EXPECT_NEAR(voice.gain, c.taper * 0.4f, 1e-6);
        EXPECT_FLOAT_EQ(voice.baseGain, voice.gain);
    }
}

TEST_F(LayerRender, PeakCapAndLoudness) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        bool normalize;
        float gain;      // after the peak cap
        float normGain;  // 0: compare with the boost bounds below
    };
    std::vector<float> clicks(kRate, 0.0f);
    for (int i = 0; i < kRate; i += 4800) clicks[i] = 0.3f;
    const Case cases[] = {
        {"peak 1 halves the gain", test::Sine(441, kRate, 1.0), false, 0.5f, 1.0f},
        {"peak 0.5 keeps it", test::Sine(441, kRate, 0.5), false, 1.0f, 1.0f},
        {"quiet: +18 dB at most", test::Sine(441, kRate, 0.0015), true, 1.0f, std::pow(10.0f, 18.0f / 20.0f)},
        {"clicks: held at a 0.891 peak", clicks, true, 1.0f, 0.891f / 0.3f},
        {"silence is never boosted", std::vector<float>(kRate, 0.0f), true, 1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("s.wav");
        ASSERT_TRUE(test::WriteSoundFile(path, c.samples, 1, kRate, kFloatWav));
        ClearDecodedSourceCache();
        engine->normalizeLUFS = c.normalize;
        LayerResult layer = Plain(path, 1.0f);
        layer.group = 1;
        layer.normGain = 0.25f;
        const Voice& voice = Render(layer);
        EXPECT_NEAR(voice.gain, c.gain, 1e-3);
        EXPECT_NEAR(voice.normGain, c.normGain, c.normGain * 1e-3);
        if (c.normGain != 1.0f) {
            EXPECT_FLOAT_EQ(layer.normGain, voice.normGain);
        }
    }
    // Normalisation off: the layer's gain is unity.
    engine->normalizeLUFS = false;
    LayerResult layer = Plain(Tone("t.wav", 441, 1, 0.1), 1.0f);
    layer.normGain = 0.25f;
    Render(layer);
    EXPECT_FLOAT_EQ(layer.normGain, 1.0f);
}

TEST(ScaleCorrection, SnapsToTheNearestDegree) {
    struct Case {
        const char* name;
        std::int32_t scale, root;
        float varShift;
        int note;
        float cents, correction;
    };
    const Case cases[] = {
        {"A4 in C major", 1, 0, 0.0f, 69, 0.0f, 0.0f},
        {"A4 + 30 cents", 1, 0, 0.0f, 69, 30.0f, -0.3f},
        {"A#4: a tie goes to A, first in the table", 1, 0, 0.0f, 70, 0.0f, -1.0f},
        {"C#: down to C", 1, 0, 0.0f, 61, 0.0f, -1.0f},
        {"the random part counts: A + 1 sounds at A#", 1, 0, 1.0f, 69, 0.0f, -1.0f},
        {"root D major, C# is a degree", 1, 2, 0.0f, 61, 0.0f, 0.0f},
        {"Chromatic: nothing", 10, 0, 0.0f, 70, 20.0f, 0.0f},
        {"Off: nothing", 0, 0, 0.0f, 70, 20.0f, 0.0f},
        {"unknown scale", 99, 0, 0.0f, 70, 20.0f, 0.0f},
        {"Power: up to G", 16, 0, 0.0f, 66, 0.0f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(ScaleCorrection(c.scale, c.root, c.varShift, c.note, c.cents), c.correction, 1e-4);
    }
    std::array<int, 12> intervals{};
    EXPECT_EQ(ScaleIntervals(7, intervals), 5);
    EXPECT_EQ(intervals[1], 3);
    EXPECT_STREQ(kScaleLabels[16], "Power (1-5)");
    EXPECT_STREQ(kScaleRootNames[10], "A#");
}

TEST_F(LayerRender, TuningOnGeneratedTones) {
    Event exempt;
    exempt.scaleTuneOverride = 2;
    struct Case {
        const char* name;
        double hz;
        double seconds;
        const Event* event;
        float pitchShift;
    };
    const Case cases[] = {
        {"A4 stays", 440.0, 0.5, nullptr, 0.0f},
        {"A#4 goes down to A", 466.1638, 0.5, nullptr, -1.0f},
        {"exempt event: only the random part", 466.1638, 0.5, &exempt, 0.25f},
        {"100 frames: too short to tune", 466.1638, 100.0 / kRate, nullptr, 0.25f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearDecodedSourceCache();
        LayerResult layer = Plain(Tone("tone.wav", c.hz, c.seconds, 0.3), static_cast<float>(c.seconds));
        layer.pitchVarShift = c.event || c.seconds < 0.01 ? 0.25f : 0.0f;
        layer.pitchShift = c.event || c.seconds < 0.01 ? 0.25f : 3.0f;  // a stale tuning is replaced
        Render(layer, 1, c.event);
        EXPECT_NEAR(layer.pitchShift, c.pitchShift, 0.05);
        // Again: the correction is recomputed, never added to.
        Render(layer, 1, c.event);
        EXPECT_NEAR(layer.pitchShift, c.pitchShift, 0.05);
    }
}

TEST_F(LayerRender, PlaceholdersAndUnreadableFiles) {
    struct Case {
        const char* name;
        std::string path;
        bool sketch, keep;
        bool voice, markedAfter;
    };
    const Case cases[] = {
        {"empty path: no voice", "", false, false, false, false},
        {"placeholder: silence without reading", "", true, false, true, true},
        {"unreadable: silence and the flag", dir.file("gone.wav"), false, false, true, true},
        {"unreadable while keeping placeholders", dir.file("gone.wav"), false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrepareVoices(*engine, kRate, 0);
        LayerResult layer = Plain(c.path, 0.25f);
        layer.isSketch = c.sketch;
        layer.stereo = true;
        RenderLayerVoice(*engine, layer, 3, kRate, nullptr, 0, nullptr, 0, 0, c.keep);
        ASSERT_EQ(engine->voices.size(), c.voice ? 1u : 0u);
        EXPECT_EQ(layer.isSketch, c.markedAfter);
        if (!c.voice) continue;
        const Voice& voice = engine->voices[0];
        EXPECT_EQ(voice.frameCount, kRate / 4);
        EXPECT_EQ(voice.samplesL.size(), static_cast<std::size_t>(kRate / 4));
        EXPECT_FALSE(voice.stereo);
        EXPECT_EQ(voice.resultIndex, 3);
        EXPECT_EQ(voice.resultId, layer.id);
        EXPECT_EQ(engine->voiceFadeIns.size(), 1u);
    }
    // A stored length of a million seconds is cut at an hour (here at a low
    // rate, to keep the test small).
    LayerResult huge;
    huge.isSketch = true;
    huge.duration = 1e6f;
    RenderLayerVoice(*engine, huge, 0, 100, nullptr, 0, nullptr, 0, 0, false);
    EXPECT_EQ(engine->voices.back().frameCount, 3600 * 100);
}

TEST_F(LayerRender, StoredSplicesReplayWithinFiftyMilliseconds) {
    const std::string path = dir.file("bed.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, test::WhiteNoise(2 * kRate, 0.3f, 4), 1, kRate, kFloatWav));
    struct Case {
        const char* name;
        int storedFrames;
        bool replayed;
    };
    for (const Case c : {Case{"4.96 s for 5 s: replayed", 238080, true}, Case{"4.9 s: rebuilt", 235200, false}}) {
        SCOPED_TRACE(c.name);
        LayerResult layer = Plain(path, 5.0f);
        layer.procMode = 1;
        layer.fillChunks = {{1000, c.storedFrames, 0}};
        Render(layer);
        if (c.replayed) {
            ASSERT_EQ(layer.fillChunks.size(), 1u);
            EXPECT_EQ(layer.fillChunks[0].s, 1000) << "the stored list is kept";
        } else {
            EXPECT_GE(layer.fillChunks.size(), 2u) << "a new fill replaced the list";
        }
        EXPECT_EQ(engine->voices.back().frameCount, 5 * kRate);
    }
}

TEST_F(LayerRender, LoopFillRebuiltAfterTuning) {
    // A 440 Hz loop tuned by the scale from A# to A renders its fill again
    // at the new length, and comes back to the layer's duration.
    const std::string path = Tone("loop.wav", 466.1638, 1.0, 0.3);
    LayerResult layer = Plain(path, 3.0f);
    layer.procMode = 1;
    layer.fillLoop = true;
    const Voice& voice = Render(layer, 1);
    EXPECT_NEAR(layer.pitchShift, -1.0f, 0.05);
    ASSERT_FALSE(layer.fillChunks.empty());
    std::int64_t covered = 0;
    for (const FillChunk& c : layer.fillChunks) covered += c.l - c.x;
    EXPECT_NEAR(static_cast<double>(covered), 3.0 * kRate * std::pow(2.0, -1.0 / 12.0), 0.01 * kRate);
    EXPECT_NEAR(voice.frameCount, 3 * kRate, 2);
    EXPECT_NEAR(voice.duration, 3.0f, 1e-3);
}

TEST_F(LayerRender, PlacementIsStableAndWithinItsGroup) {
    const float ranges[3][3] = {{2.9670596f, 2.268928f, 0.38397244f},
                                {0.6981317f, 0.8726646f, 0.0f},
                                {1.7453293f, 1.4835298f, 0.17453292f}};
    const std::array<float, kLayerBandCount> profiles[] = {{}, {1, 0, 0, 0, 0}, {0.2f, 0.2f, 0.2f, 0.2f, 0.2f}, {0, 0, 0, 1, 1}};
    for (int group = 0; group < 3; ++group) {
        for (std::int32_t track = -1; track < 20; ++track) {
            for (const auto& profile : profiles) {
                const SpatialPlacement p = PlaceLayerSpatially(group, PlacementSeed(track, 7), 0.6f, profile);
                EXPECT_LE(std::fabs(p.azimuth), ranges[group][0] + 1e-6f);
                EXPECT_GE(p.width, 0.35f * ranges[group][1] - 1e-6f);
                EXPECT_LE(p.width, ranges[group][1] + 1e-6f);
                EXPECT_GE(p.height, 0.0f);
                EXPECT_LE(p.height, ranges[group][2] + 1e-6f);
            }
        }
    }
    LayerResult layer;
    layer.isSketch = true;
    layer.duration = 0.1f;
    layer.track = 5;
    layer.eventIdx = 2;
    layer.group = 2;
    const Voice first = Render(layer);
    const Voice& second = Render(layer);
    EXPECT_EQ(first.azimuth, second.azimuth);
    EXPECT_EQ(first.width, second.width);
    EXPECT_EQ(first.height, second.height);
}

TEST(VoiceOverview, BinsOfShortAndLongVoices) {
    auto voice = std::make_unique<Voice>();
    voice->samplesL = {0.5f, -1.0f, 0.25f};
    voice->frameCount = 3;
    ComputeVoiceOverview(*voice);
    int filled = 0;
    for (float p : voice->overviewPeak) filled += p > 0.0f;
    EXPECT_EQ(filled, 3) << "three samples fill three bins, the rest stay empty";
    EXPECT_FLOAT_EQ(*std::max_element(voice->overviewPeak.begin(), voice->overviewPeak.end()), 1.0f);

    voice->samplesL.assign(4096 * 3, 0.1f);
    voice->samplesR.assign(4096 * 3, -0.3f);
    voice->stereo = true;
    voice->frameCount = 4096 * 3;
    ComputeVoiceOverview(*voice);
    for (int i = 0; i < kVoiceOverviewBins; ++i) {
        ASSERT_FLOAT_EQ(voice->overviewPeak[i], 0.3f) << i;
        ASSERT_NEAR(voice->overviewRms[i], 0.3f, 1e-6) << i;
    }
    voice->frameCount = 0;
    ComputeVoiceOverview(*voice);
    EXPECT_EQ(voice->overviewPeak[0], 0.0f);
}

TEST(NormalizeVoiceGains, PerEventAndMixCeiling) {
    struct VoiceSpec {
        std::int32_t event;
        float gain;
        bool muted;
        float start, duration, peak;
    };
    struct Case {
        const char* name;
        std::vector<VoiceSpec> voices;
        bool full;
        float master;
        std::vector<float> gains;
    };
    const Case cases[] = {
        {"four at 1: halved", {{0, 1, false, 0, 1, 0.1f}, {0, 1, false, 0, 1, 0.1f}, {0, 1, false, 0, 1, 0.1f}, {0, 1, false, 0, 1, 0.1f}}, false, 1.0f, {0.5f, 0.5f, 0.5f, 0.5f}},
        {"two at 0.6: kept", {{0, 0.6f, false, 0, 1, 0.1f}, {0, 0.6f, false, 0, 1, 0.1f}}, false, 1.0f, {0.6f, 0.6f}},
        {"a muted voice scaled, not counted", {{0, 1, false, 0, 1, 0.1f}, {0, 1, false, 0, 1, 0.1f}, {0, 1, true, 0, 1, 0.1f}}, false, 1.0f, {0.70710677f, 0.70710677f, 0.70710677f}},
        {"no event: untouched", {{-1, 1, false, 0, 1, 0.1f}, {-1, 1, false, 0, 1, 0.1f}}, false, 1.0f, {1, 1}},
        {"full: peaks 0.9 and 0.8", {{0, 1, false, 0, 1, 0.9f}, {1, 1, false, 0.5f, 1, 0.8f}}, true, 1.0f, {0.7f / 1.7f, 0.7f / 1.7f}},
        {"full: master 0.05 allows 7", {{0, 1, false, 0, 1, 0.9f}, {1, 1, false, 0.5f, 1, 0.8f}}, true, 0.05f, {1, 1}},
        {"full: apart in time", {{0, 1, false, 0, 1, 0.6f}, {1, 1, false, 1.0f, 1, 0.6f}}, true, 1.0f, {1, 1}},
        {"full: silent overview counts 0.001", {{0, 1, false, 0, 1, 0.0f}}, true, 1.0f, {1}},
        {"full: nothing unmuted", {{0, 2, true, 0, 1, 0.9f}}, true, 1.0f, {2}},
        {"full: a voice a year out", {{0, 1, false, 0, 1, 0.9f}, {1, 1, false, 3.0e7f, 1, 0.9f}}, true, 1.0f, {0.7f / 0.9f, 0.7f / 0.9f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = std::make_unique<PlaybackEngine>();
        engine->masterGain = c.master;
        for (const VoiceSpec& s : c.voices) {
            Voice v;
            v.eventIndex = s.event;
            v.gain = c.full ? 5.0f : s.gain;  // full mode starts from baseGain
            v.baseGain = s.gain;
            v.muted = s.muted;
            v.startTime = s.start;
            v.duration = s.duration;
            v.overviewPeak.fill(0.0f);
            v.overviewPeak[100] = s.peak;
            engine->voices.push_back(std::move(v));
        }
        const std::int32_t revision = engine->revision;
        NormalizeVoiceGains(*engine, c.full);
        for (std::size_t i = 0; i < c.gains.size(); ++i) EXPECT_NEAR(engine->voices[i].gain, c.gains[i], 1e-5) << i;
        EXPECT_TRUE(engine->ready.load());
        EXPECT_EQ(engine->revision, revision + 1);
        if (!c.full) {
            NormalizeVoiceGains(*engine, false);
            for (std::size_t i = 0; i < c.gains.size(); ++i) EXPECT_NEAR(engine->voices[i].gain, c.gains[i], 1e-5);
        }
    }
}

// A build thread renders and normalises while another thread mixes the way
// the audio thread does: it only tries the lock and reads what it holds.
TEST_F(LayerRender, RenderingBesideABlockReader) {
    const std::string path = Tone("mix.wav", 300, 0.5, 0.4);
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> blocks{0};
    std::thread mixer([&] {
        while (!stop.load()) {
            std::unique_lock lock(engine->voiceMutex, std::try_to_lock);
            if (!lock.owns_lock() || !engine->ready.load()) continue;
            float sum = 0.0f;
            for (const Voice& v : engine->voices)
                if (v.frameCount > 0) sum += v.samplesL[static_cast<std::size_t>(v.frameCount) - 1] * v.gain;
            (void)sum;
            ++blocks;
        }
    });
    for (int round = 0; round < 20; ++round) {
        LayerResult layer = Plain(path, 0.5f);
        layer.eventIdx = round % 3;
        Render(layer);
        NormalizeVoiceGains(*engine, round % 2 == 0);
    }
    stop = true;
    mixer.join();
    EXPECT_EQ(engine->voiceCount.load(), 20);
}

}  // namespace
}  // namespace korvel
