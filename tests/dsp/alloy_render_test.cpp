#include "dsp/alloy_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;
constexpr int kAlgorithms[] = {0, 1, 2, 3};

// Interleaved stereo with different content per channel.
std::vector<float> StereoPair(const std::vector<float>& left, const std::vector<float>& right) {
    std::vector<float> out(left.size() * 2);
    for (size_t i = 0; i < left.size(); ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    return out;
}

std::vector<float> Tones(std::initializer_list<double> hz, double seconds, float amplitude) {
    std::vector<float> out;
    for (double f : hz) {
        const auto s = test::MakeSine(f, seconds, kRate, 1, amplitude);
        if (out.empty()) out.assign(s.size(), 0.0f);
        for (size_t i = 0; i < s.size(); ++i) out[i] += s[i];
    }
    return out;
}

struct AlloyRenderFixture : ::testing::Test {
    test::TempDir dir;
    std::string primary, mid, high, envelope, stereoPrimary;

    void SetUp() override {
        ClearAlloyRenderCache();
        ClearDecodedSourceCache();
        primary = Write("primary.wav", Tones({110, 1900}, 1.0, 0.2f));
        mid = Write("mid.wav", Tones({440, 3300}, 0.7, 0.3f));
        high = Write("high.wav", Tones({5000, 9000}, 1.3, 0.1f));
        std::vector<float> env = Tones({2}, 1.0, 0.8f);  // a slow swell
        envelope = Write("env.wav", env);
        stereoPrimary = dir.file("stereo.wav");
        ASSERT_TRUE(test::WriteSoundFile(
            stereoPrimary, StereoPair(Tones({220}, 1.0, 0.3f), Tones({330}, 1.0, 0.2f)), 2, kRate));
    }
    void TearDown() override { ClearAlloyRenderCache(); }

    std::string Write(const std::string& name, const std::vector<float>& mono) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, mono, 1, kRate));
        return path;
    }

    // A layer with all four sources, never cached.
    LayerResult Layer(int algo, float duration = 0.5f) const {
        LayerResult layer;
        layer.id = 0;
        layer.procMode = 3;
        layer.alloyAlgo = algo;
        layer.duration = duration;
        layer.filepath = primary;
        layer.sourceDuration = 1.0f;
        layer.alloyMid = {mid, "", 0.0f, 0.7f, "mid"};
        layer.alloyHigh = {high, "", 0.1f, 1.0f, "high"};
        layer.alloyEnv = {envelope, "", 0.0f, 1.0f, "env"};
        return layer;
    }
};

void ExpectShapedOutput(const AlloyCacheEntry& out, int frames, bool stereo) {
    ASSERT_EQ(out.frameCount, frames);
    ASSERT_EQ(out.stereo, stereo);
    ASSERT_EQ(out.samplesL.size(), static_cast<size_t>(frames));
    if (stereo) {
        ASSERT_EQ(out.samplesR.size(), static_cast<size_t>(frames));
    }
    for (const auto* channel : {&out.samplesL, &out.samplesR}) {
        if (channel == &out.samplesR && !stereo) break;
        EXPECT_EQ(channel->front(), 0.0f);
        EXPECT_EQ(channel->back(), 0.0f);
        for (float s : *channel) {
            ASSERT_TRUE(std::isfinite(s));
            ASSERT_LE(std::fabs(s), 0.98f + 1e-6f);
        }
    }
}

TEST_F(AlloyRenderFixture, EveryAlgorithmRendersTheSameShapedSoundTwice) {
    for (int algo : kAlgorithms) {
        for (bool stereo : {false, true}) {
            SCOPED_TRACE(testing::Message() << "algorithm " << algo << (stereo ? " stereo" : " mono"));
            LayerResult layer = Layer(algo);
            layer.filepath = stereoPrimary;
            layer.hasAlloyCurves = true;
            layer.alloyToneCurve.fill(0.7f);
            layer.alloyGainCurve.fill(0.6f);
            AlloyCacheEntry first, second;
            ASSERT_TRUE(RenderAlloyLayer(layer, kRate, stereo, first));
            ASSERT_TRUE(RenderAlloyLayer(layer, kRate, stereo, second));
            ExpectShapedOutput(first, 24000, stereo);
            EXPECT_EQ(first.samplesL, second.samplesL);
            EXPECT_EQ(first.samplesR, second.samplesR);
            double energy = 0.0;
            for (float s : first.samplesL) energy += static_cast<double>(s) * s;
            EXPECT_GT(energy / 24000.0, 1e-4);
            if (stereo) {
                EXPECT_NE(first.samplesL, first.samplesR);
            }
        }
    }
}

TEST_F(AlloyRenderFixture, HardSourcesGiveFiniteSoundWithinTheCeiling) {
    const int n = kRate / 2;
    std::vector<float> square(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) square[static_cast<size_t>(i)] = (i / 40) % 2 ? 1.0f : -1.0f;
    struct Case {
        const char* name;
        std::vector<float> samples;
        bool silent;
    } cases[] = {
        {"silent", std::vector<float>(static_cast<size_t>(n), 0.0f), true},
        {"DC", std::vector<float>(static_cast<size_t>(n), 0.5f), false},
        {"full-scale square", square, false},
        {"five samples", {0.9f, -0.9f, 0.5f, -0.2f, 0.1f}, false},
    };
    for (const auto& c : cases) {
        const std::string path = Write("hard.wav", c.samples);
        ClearDecodedSourceCache();
        for (int algo : kAlgorithms) {
            SCOPED_TRACE(testing::Message() << c.name << ", algorithm " << algo);
            LayerResult layer = Layer(algo, 0.3f);
            layer.filepath = layer.alloyMid.filepath = layer.alloyHigh.filepath = layer.alloyEnv.filepath = path;
            AlloyCacheEntry out;
            ASSERT_TRUE(RenderAlloyLayer(layer, kRate, true, out));
            ExpectShapedOutput(out, static_cast<int>(static_cast<float>(kRate) * 0.3f), true);
            if (c.silent) {
                for (float s : out.samplesL) ASSERT_EQ(s, 0.0f);
            }
        }
    }
}

TEST_F(AlloyRenderFixture, VeryShortLayersRenderWithoutFades) {
    for (int algo : kAlgorithms) {
        SCOPED_TRACE(algo);
        AlloyCacheEntry out;
        ASSERT_TRUE(RenderAlloyLayer(Layer(algo, 3.0f / kRate), kRate, false, out));
        EXPECT_EQ(out.frameCount, 3);
        for (float s : out.samplesL) EXPECT_TRUE(std::isfinite(s));
    }
}

TEST_F(AlloyRenderFixture, RendersWithoutSoundLeaveTheVoiceAlone) {
    struct Case {
        const char* name;
        LayerResult layer;
    } cases[] = {{"only the envelope is readable", Layer(0)},
                 {"no duration", Layer(0, 0.0f)},
                 {"negative duration", Layer(0, -1.0f)},
                 // A duration read from a file is not clamped.
                 {"more frames than a frame count holds", Layer(0, 1e10f)},
                 {"infinite duration", Layer(0, std::numeric_limits<float>::infinity())}};
    cases[0].layer.filepath = dir.file("missing.wav");
    cases[0].layer.alloyMid.filepath.clear();
    cases[0].layer.alloyHigh.filepath = dir.file("also-missing.wav");
    for (auto& c : cases) {
        for (int algo : kAlgorithms) {
            SCOPED_TRACE(testing::Message() << c.name << ", algorithm " << algo);
            c.layer.alloyAlgo = algo;
            c.layer.id = 7000 + algo;
            Voice voice;
            voice.samplesL = {1.0f, 2.0f};
            voice.frameCount = 2;
            EXPECT_FALSE(RenderAlloyLayer(c.layer, kRate, false, voice));
            EXPECT_EQ(voice.samplesL, (std::vector<float>{1.0f, 2.0f}));
            EXPECT_EQ(voice.frameCount, 2);
        }
    }
}

TEST_F(AlloyRenderFixture, AnUnreadablePrimaryLeavesTheOtherSourcesToMorph) {
    for (int algo : kAlgorithms) {
        SCOPED_TRACE(algo);
        LayerResult layer = Layer(algo);
        layer.filepath = dir.file("missing.wav");
        AlloyCacheEntry out;
        ASSERT_TRUE(RenderAlloyLayer(layer, kRate, false, out));
        ExpectShapedOutput(out, 24000, false);
    }
}

TEST_F(AlloyRenderFixture, MonoSourcesFeedBothChannelsAlike) {
    for (int algo : kAlgorithms) {
        SCOPED_TRACE(algo);
        AlloyCacheEntry out;
        ASSERT_TRUE(RenderAlloyLayer(Layer(algo), kRate, true, out));
        EXPECT_EQ(out.samplesL, out.samplesR);
    }
}

TEST_F(AlloyRenderFixture, TheVoiceGetsTheFourRenderedFieldsAndNothingElse) {
    LayerResult layer = Layer(2);
    Voice voice;
    voice.gain = 0.25f;
    voice.eventIndex = 4;
    voice.samplesR = {1.0f};
    ASSERT_TRUE(RenderAlloyLayer(layer, kRate, false, voice));
    EXPECT_EQ(voice.frameCount, 24000);
    EXPECT_EQ(voice.samplesL.size(), 24000u);
    EXPECT_FALSE(voice.stereo);
    EXPECT_EQ(voice.gain, 0.25f);
    EXPECT_EQ(voice.eventIndex, 4);
}

TEST_F(AlloyRenderFixture, TheCacheServesALayerIdUntilCleared) {
    LayerResult layer = Layer(1);
    layer.id = NextLayerId();
    AlloyCacheEntry first;
    ASSERT_TRUE(RenderAlloyLayer(layer, kRate, false, first));

    // Neither the settings nor the rate nor the sources' presence matter to
    // a hit.
    LayerResult changed = layer;
    changed.alloyAlgo = 0;
    changed.alloyMorph = 0.1f;
    std::filesystem::remove(primary);
    std::filesystem::remove(mid);
    ClearDecodedSourceCache();
    AlloyCacheEntry hit;
    ASSERT_TRUE(RenderAlloyLayer(changed, 44100, true, hit));
    EXPECT_EQ(hit.samplesL, first.samplesL);
    EXPECT_EQ(hit.frameCount, first.frameCount);
    EXPECT_FALSE(hit.stereo);

    // Cleared, the layer renders again from what is left: the high source.
    ClearAlloyRenderCache();
    AlloyCacheEntry again;
    ASSERT_TRUE(RenderAlloyLayer(changed, 44100, true, again));
    EXPECT_TRUE(again.stereo);
    EXPECT_EQ(again.frameCount, static_cast<int>(44100.0f * 0.5f));
}

TEST_F(AlloyRenderFixture, ThreadsRenderingTheSameLayerAgree) {
    // Renders run unlocked and the later store wins; every thread must still
    // get the same sound, and the cache must hold it afterwards.
    LayerResult layer = Layer(0);
    layer.id = NextLayerId();
    std::vector<AlloyCacheEntry> results(4);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&layer, &r] { RenderAlloyLayer(layer, kRate, true, r); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) {
        EXPECT_EQ(r.frameCount, 24000);
        EXPECT_EQ(r.samplesL, results[0].samplesL);
    }
    std::filesystem::remove(primary);
    std::filesystem::remove(mid);
    std::filesystem::remove(high);
    ClearDecodedSourceCache();
    AlloyCacheEntry hit;
    ASSERT_TRUE(RenderAlloyLayer(layer, kRate, true, hit));
    EXPECT_EQ(hit.samplesR, results[0].samplesR);
}

TEST_F(AlloyRenderFixture, LayersWithoutAPositiveIdAreNeverCached) {
    LayerResult layer = Layer(3);
    layer.id = 0;
    AlloyCacheEntry out;
    ASSERT_TRUE(RenderAlloyLayer(layer, kRate, false, out));
    std::filesystem::remove(primary);
    std::filesystem::remove(mid);
    std::filesystem::remove(high);
    ClearDecodedSourceCache();
    EXPECT_FALSE(RenderAlloyLayer(layer, kRate, false, out));
}

TEST_F(AlloyRenderFixture, SourcesAreCutOrTiledToTheLayer) {
    LayerResult layer = Layer(0, 1.0f);
    layer.filepath = stereoPrimary;
    layer.sourceOffset = 0.5f;
    layer.sourceDuration = 0.25f;  // 12,000 frames tiled to 48,000
    layer.alloyHigh.offset = 0.0f;
    layer.alloyHigh.duration = 1.3f;  // cut to 48,000
    AlloyInputs inputs;
    ASSERT_TRUE(LoadAlloySources(layer, kRate, true, inputs));
    EXPECT_EQ(inputs.frames, kRate);
    EXPECT_TRUE(inputs.stereo);
    for (size_t l = 0; l < 4; ++l) {
        SCOPED_TRACE(l);
        EXPECT_TRUE(inputs.present[l]);
        EXPECT_EQ(inputs.samplesL[l].size(), static_cast<size_t>(kRate));
        EXPECT_EQ(inputs.samplesR[l].size(), static_cast<size_t>(kRate));
    }
    // The stereo primary keeps its channels; the mono mid feeds both.
    EXPECT_NE(inputs.samplesL[0], inputs.samplesR[0]);
    EXPECT_EQ(inputs.samplesL[1], inputs.samplesR[1]);

    int channels = 0;
    const std::vector<float> file = test::ReadSoundFile(stereoPrimary, &channels);
    ASSERT_EQ(channels, 2);
    // Seam max(64, min(2400, 3000)) = 2400, period 9,600: past the seam
    // every pass repeats the source exactly.
    for (int i : {0, 5000, 9599}) EXPECT_EQ(inputs.samplesL[0][static_cast<size_t>(i)], file[static_cast<size_t>(2 * (24000 + i))]);
    for (int i : {9600 + 2400, 19200 + 3000, 28800 + 9000, 38400 + 9599})
        EXPECT_EQ(inputs.samplesR[0][static_cast<size_t>(i)], file[static_cast<size_t>(2 * (24000 + i % 9600) + 1)]);

    const std::vector<float> highFile = test::ReadSoundFile(high);
    for (int i : {0, 47999}) EXPECT_EQ(inputs.samplesL[2][static_cast<size_t>(i)], highFile[static_cast<size_t>(i)]);

    // Asked for mono, the stereo primary folds to its mean.
    ASSERT_TRUE(LoadAlloySources(layer, kRate, false, inputs));
    EXPECT_NEAR(inputs.samplesL[0][100], (file[2 * 24100] + file[2 * 24100 + 1]) / 2.0f, 1e-6f);
}

}  // namespace
}  // namespace korvel
