#include "engine/loop_fill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"
#include "support/audio_fixture.h"
#include "support/signals.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;

struct Fill {
    std::unique_ptr<Voice> voice = std::make_unique<Voice>();
    std::vector<FillChunk> chunks;
};

Fill MakeFill(const std::vector<float>& source, float seconds, bool loop, int lane = 0,
              const std::vector<float>& right = {}) {
    Fill fill;
    RenderLoopFillFromSource(source, right, "/sounds/rain.wav", 0.0f, seconds, kRate, *fill.voice, lane, loop,
                             &fill.chunks);
    return fill;
}

std::vector<float> SteadyNoise(double seconds, unsigned seed = 7) {
    return test::WhiteNoise(static_cast<std::size_t>(seconds * kRate), 0.5f, seed);
}

enum class Mode { Excerpt, Tiling, Splicing };

// An excerpt is one chunk of exactly the target; a single spliced chunk runs
// a crossfade past it.
Mode ModeOf(const Fill& fill) {
    const std::vector<FillChunk>& chunks = fill.chunks;
    if (chunks.size() == 1 && chunks[0].x == 0 && chunks[0].l == fill.voice->frameCount) return Mode::Excerpt;
    if (chunks.size() < 2) return Mode::Splicing;
    for (const FillChunk& c : chunks) {
        if (c.s != chunks[0].s) return Mode::Splicing;
    }
    return Mode::Tiling;
}

std::int64_t Covered(const std::vector<FillChunk>& chunks) {
    std::int64_t w = 0;
    for (const FillChunk& c : chunks) w += c.l - c.x;
    return w;
}

TEST(LoopFill, ModeFollowsTheSteadyPartAgainstTheTarget) {
    struct Case {
        const char* name;
        double sourceSeconds;
        float targetSeconds;
        bool loop;
        Mode mode;
    };
    const Case cases[] = {
        {"long source, short target", 10.0, 3.0f, false, Mode::Excerpt},
        {"exactly twice the target", 4.0, 2.0f, false, Mode::Excerpt},
        {"an excerpt wins over a loop", 10.0, 3.0f, true, Mode::Excerpt},
        {"just under twice", 4.0, 2.1f, false, Mode::Splicing},
        {"4 s for 5 s", 4.0, 5.0f, false, Mode::Splicing},
        {"loop asked for", 1.0, 5.0f, true, Mode::Tiling},
        {"shorter than 0.3 s", 0.29, 5.0f, false, Mode::Tiling},
        {"0.3 s splices", 0.3, 5.0f, false, Mode::Splicing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fill fill = MakeFill(SteadyNoise(c.sourceSeconds), c.targetSeconds, c.loop);
        const auto frames = static_cast<std::int32_t>(std::trunc(kRate * double(c.targetSeconds)));
        EXPECT_EQ(ModeOf(fill), c.mode);
        EXPECT_EQ(fill.voice->frameCount, frames);
        EXPECT_EQ(fill.voice->samplesL.size(), static_cast<std::size_t>(frames));
        EXPECT_FALSE(fill.voice->stereo);
        EXPECT_GE(Covered(fill.chunks), frames) << "the splices cover the whole target";
        EXPECT_GT(test::Rms(fill.voice->samplesL, fill.voice->samplesL.size() - 4800, fill.voice->samplesL.size()), 0.2)
            << "sound up to the end";
    }
}

TEST(LoopFill, ExcerptIsOneContiguousStretch) {
    const std::vector<float> source = SteadyNoise(10.0);
    const Fill fill = MakeFill(source, 3.0f, false);
    ASSERT_EQ(fill.voice->spliceCount, 1);
    const FillChunk chunk = fill.voice->splices[0];
    EXPECT_EQ(chunk.l, 3 * kRate);
    EXPECT_EQ(chunk.x, 0);
    ASSERT_LE(chunk.s + chunk.l, static_cast<int>(source.size()));
    EXPECT_TRUE(std::equal(fill.voice->samplesL.begin(), fill.voice->samplesL.end(), source.begin() + chunk.s));
    EXPECT_EQ(fill.voice->seamCount, 0);
}

TEST(LoopFill, TilingCrossfadesAtEveryTileStart) {
    struct Case {
        const char* name;
        double sourceSeconds;
        bool loop;
        int crossfade;
    };
    const Case cases[] = {
        {"loop of 1 s: a quarter second", 1.0, true, 12000},  // M / 8 below 0.25 s, M / 3 above
        {"0.2 s: min(M / 4, 20 ms)", 0.2, false, 960},
        {"0.02 s: M / 4", 0.02, false, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> source = SteadyNoise(c.sourceSeconds);
        const Fill fill = MakeFill(source, 5.0f, c.loop);
        const int m = static_cast<int>(source.size());
        const int total = 5 * kRate;
        ASSERT_GT(fill.chunks.size(), 2u);
        EXPECT_EQ(fill.chunks[0].x, 0);
        EXPECT_EQ(fill.chunks[0].l, m);
        for (std::size_t t = 1; t + 1 < fill.chunks.size(); ++t) {
            EXPECT_EQ(fill.chunks[t].x, c.crossfade) << t;
            EXPECT_EQ(fill.chunks[t].s, 0);
        }
        EXPECT_EQ(Covered(fill.chunks), total);
        const int step = m - c.crossfade;
        ASSERT_GE(fill.voice->seamCount, 1);
        EXPECT_FLOAT_EQ(fill.voice->seamPositions[0], float(step) / total);
        EXPECT_FLOAT_EQ(fill.voice->seamWidths[0], float(c.crossfade) / total);
        // Outside the crossfades the tiles are the source, sample for sample.
        EXPECT_EQ(fill.voice->samplesL[step + c.crossfade + 5], source[c.crossfade + 5]);
        EXPECT_EQ(fill.voice->samplesL[10], source[10]);
    }
}

TEST(LoopFill, SplicingSizesItsChunksFromTheTarget) {
    // 4 s for 5 s: base = 5 / ceil(5 / 4) = 2.5 s, chunks 2.25 s to 2.75 s.
    const Fill fill = MakeFill(SteadyNoise(4.0), 5.0f, false);
    ASSERT_GE(fill.chunks.size(), 2u);
    EXPECT_GE(fill.chunks[0].l, 108000);
    EXPECT_LT(fill.chunks[0].l, 132000);
    EXPECT_EQ(fill.chunks[0].x, 0);
    for (std::size_t i = 1; i < fill.chunks.size(); ++i) {
        EXPECT_GT(fill.chunks[i].x, 0) << i;
        EXPECT_LE(fill.chunks[i].x, 108000 / 3) << i;
    }
    EXPECT_EQ(fill.voice->seamCount, static_cast<int>(fill.chunks.size()) - 1);
}

TEST(LoopFill, LanesStartAQuarterOfTheSteadyPartApart) {
    // 4 s steady part, minChunk 2.25 s: lane offsets 0, 1 s, then capped at
    // M − minChunk = 1.75 s.
    const std::vector<float> source = SteadyNoise(4.0);
    const int expected[] = {0, 48000, 84000, 84000, 0};
    for (int lane = 0; lane < 5; ++lane) {
        SCOPED_TRACE(lane);
        const Fill fill = MakeFill(source, 5.0f, false, lane);
        ASSERT_FALSE(fill.chunks.empty());
        EXPECT_EQ(fill.chunks[0].s, expected[lane]);
    }
    // A dropped layer's lane (−1) starts at the steady part's start.
    EXPECT_EQ(MakeFill(source, 5.0f, false, -1).chunks[0].s, 0);
}

TEST(LoopFill, SameInputsGiveTheSameFillAndLanesDiffer) {
    const std::vector<float> source = test::SwellingNoise(3 * kRate, 0.5f, 11, 0.7);
    const Fill a = MakeFill(source, 20.0f, false, 1);
    const Fill b = MakeFill(source, 20.0f, false, 1);
    EXPECT_EQ(a.voice->samplesL, b.voice->samplesL);
    ASSERT_EQ(a.chunks.size(), b.chunks.size());
    for (std::size_t i = 0; i < a.chunks.size(); ++i) {
        EXPECT_EQ(a.chunks[i].s, b.chunks[i].s);
        EXPECT_EQ(a.chunks[i].l, b.chunks[i].l);
        EXPECT_EQ(a.chunks[i].x, b.chunks[i].x);
    }
    const Fill other = MakeFill(source, 20.0f, false, 2);
    EXPECT_NE(a.voice->samplesL, other.voice->samplesL);
}

TEST(LoopFill, TrimsToTheLoudPart) {
    // Quiet 1 s, loud 2 s, quiet 1 s: the excerpt comes from the loud part.
    std::vector<float> source = test::WhiteNoise(4 * kRate, 0.01f, 3);
    const std::vector<float> loud = test::WhiteNoise(2 * kRate, 0.5f, 4);
    std::copy(loud.begin(), loud.end(), source.begin() + kRate);
    for (int lane = 0; lane < 4; ++lane) {
        SCOPED_TRACE(lane);
        const Fill fill = MakeFill(source, 0.9f, false, lane);
        ASSERT_EQ(fill.chunks.size(), 1u);
        EXPECT_GE(fill.chunks[0].s, kRate);
        EXPECT_LE(fill.chunks[0].s + fill.chunks[0].l, 3 * kRate);
    }
    // A loud part shorter than 0.5 s is not trimmed to: of 0.8 s with 0.4 s
    // loud in the middle, the whole source is the steady part, long enough
    // for an excerpt of 0.39 s (the loud part alone would not be).
    std::vector<float> brief = test::WhiteNoise(kRate * 8 / 10, 0.01f, 3);
    std::copy(loud.begin(), loud.begin() + kRate * 4 / 10, brief.begin() + kRate / 5);
    EXPECT_EQ(ModeOf(MakeFill(brief, 0.39f, false)), Mode::Excerpt);
}

TEST(LoopFill, DegenerateSourcesRenderSilence) {
    struct Case {
        const char* name;
        std::vector<float> source;
        bool loop;
    };
    const Case cases[] = {
        {"one frame", {0.9f}, false},
        {"one frame looped", {0.9f}, true},
        {"no frame", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fill fill = MakeFill(c.source, 0.5f, c.loop);
        EXPECT_EQ(fill.voice->frameCount, kRate / 2);
        ASSERT_EQ(fill.voice->samplesL.size(), static_cast<std::size_t>(kRate / 2));
        EXPECT_EQ(test::Peak(fill.voice->samplesL, 0, fill.voice->samplesL.size()), 0.0f);
        EXPECT_TRUE(fill.chunks.empty());
        EXPECT_EQ(fill.voice->spliceCount, 0);
    }
    // Two frames still tile (step of one frame).
    const Fill two = MakeFill({0.5f, -0.5f}, 0.5f, false);
    EXPECT_EQ(Covered(two.chunks), kRate / 2);
    // A silent source is used whole.
    const Fill silent = MakeFill(std::vector<float>(kRate, 0.0f), 0.4f, false);
    EXPECT_EQ(ModeOf(silent), Mode::Excerpt);
}

TEST(LoopFill, NoLengthRendersNothing) {
    for (float seconds : {0.0f, -3.0f, std::nanf("")}) {
        SCOPED_TRACE(seconds);
        const Fill fill = MakeFill(SteadyNoise(1.0), seconds, false);
        EXPECT_EQ(fill.voice->frameCount, 0);
        EXPECT_TRUE(fill.voice->samplesL.empty());
    }
}

// A voice keeps 65 splices; the whole list must still come back, and
// replaying it must give the fill sample for sample, in stereo too.
TEST(LoopFill, LongFillKeepsItsWholeListAndReplaysExactly) {
    const std::vector<float> left = test::SwellingNoise(kRate, 0.5f, 5, 1.3);
    const std::vector<float> right = test::SwellingNoise(kRate, 0.5f, 6, 0.9);
    const Fill fill = MakeFill(left, 100.0f, false, 0, right);
    ASSERT_GT(fill.chunks.size(), 65u);
    EXPECT_EQ(fill.voice->spliceCount, 65);
    EXPECT_TRUE(fill.voice->stereo);
    EXPECT_GE(Covered(fill.chunks), 100 * kRate);

    LayerResult layer;
    layer.fillChunks = fill.chunks;
    layer.duration = 100.0f;
    auto replay = std::make_unique<Voice>();
    bool stereo = true;
    ASSERT_TRUE(RenderSpliceVoice(layer, kRate, *replay, &left, &right, stereo, 0.0f));
    EXPECT_TRUE(stereo);
    EXPECT_EQ(replay->frameCount, fill.voice->frameCount);
    EXPECT_EQ(replay->samplesL, fill.voice->samplesL);
    EXPECT_EQ(replay->samplesR, fill.voice->samplesR);
    EXPECT_EQ(replay->spliceCount, 65);
    EXPECT_EQ(replay->seamCount, fill.voice->seamCount);
}

TEST(LoopFill, SeedMixesOffsetLengthLaneAndPath) {
    const std::uint32_t base = LoopFillSeed("a.wav", 0.0f, 5.0f, 0);
    EXPECT_EQ(base, LoopFillSeed("a.wav", 0.0f, 5.0f, 0));
    EXPECT_NE(base, LoopFillSeed("b.wav", 0.0f, 5.0f, 0));
    EXPECT_NE(base, LoopFillSeed("a.wav", 0.5f, 5.0f, 0));
    EXPECT_NE(base, LoopFillSeed("a.wav", 0.0f, 5.001f, 0));
    EXPECT_NE(base, LoopFillSeed("a.wav", 0.0f, 5.0f, 1));
    EXPECT_EQ(base ^ LoopFillSeed("a.wav", 0.0f, 5.0f, -1), 0xFFFFFFFFu * 0x9E3779B1u);
    // djb2 of "" is 5381, and the products are truncated.
    EXPECT_EQ(LoopFillSeed("", 0.00019f, 0.0009f, 0), 1u ^ 0u ^ 5381u);
    (void)LoopFillSeed("x", 1e30f, std::nanf(""), 7);  // defined for any stored value
}

class LoopFillFile : public testing::Test {
protected:
    void SetUp() override { ClearDecodedSourceCache(); }
    void TearDown() override { ClearDecodedSourceCache(); }
    test::TempDir dir;
};

TEST_F(LoopFillFile, UndecodableSourceLeavesTheVoiceUntouched) {
    const std::string garbage = dir.file("garbage.wav");
    ASSERT_TRUE(test::WriteBytes(garbage, "not a sound file"));
    for (const std::string& path : {garbage, dir.file("missing.wav")}) {
        SCOPED_TRACE(path);
        auto voice = std::make_unique<Voice>();
        voice->frameCount = 3;
        voice->samplesL = {1, 2, 3};
        std::vector<FillChunk> chunks{{1, 2, 3}};
        EXPECT_FALSE(RenderLoopFill(path, 0.0f, 2.0f, kRate, false, *voice, 0, false, &chunks));
        EXPECT_EQ(voice->frameCount, 3);
        EXPECT_EQ(voice->samplesL.size(), 3u);
        EXPECT_EQ(chunks.size(), 1u);
    }
    // A rate of 0 decodes nothing.
    const std::string good = dir.file("good.wav");
    ASSERT_TRUE(test::WriteSoundFile(good, SteadyNoise(1.0), 1, kRate));
    auto voice = std::make_unique<Voice>();
    EXPECT_FALSE(RenderLoopFill(good, 0.0f, 2.0f, 0, false, *voice, 0, false));
    EXPECT_TRUE(voice->samplesL.empty());
}

TEST_F(LoopFillFile, DecodesFromTheSourceOffset) {
    // First second silent, then noise: from offset 1 s every chunk is sound,
    // and the replay reads from the same offset.
    std::vector<float> samples(kRate, 0.0f);
    const std::vector<float> noise = SteadyNoise(2.0);
    samples.insert(samples.end(), noise.begin(), noise.end());
    const std::string path = dir.file("late.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, samples, 1, kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT));

    auto voice = std::make_unique<Voice>();
    std::vector<FillChunk> chunks;
    ASSERT_TRUE(RenderLoopFill(path, 1.0f, 0.5f, kRate, false, *voice, 0, false, &chunks));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(voice->samplesL[0], noise[chunks[0].s]) << "chunk positions count from the offset";

    LayerResult layer;
    layer.filepath = path;
    layer.sourceOffset = 1.0f;
    layer.duration = 0.5f;
    layer.fillChunks = chunks;
    auto replay = std::make_unique<Voice>();
    bool stereo = false;
    ASSERT_TRUE(RenderSpliceVoice(layer, kRate, *replay, nullptr, nullptr, stereo, 0.0f));
    EXPECT_EQ(replay->samplesL, voice->samplesL);
}

TEST_F(LoopFillFile, StereoSourceFillsBothChannels) {
    const std::vector<float> left = SteadyNoise(1.0, 1), right = SteadyNoise(1.0, 2);
    std::vector<float> interleaved;
    for (int i = 0; i < kRate; ++i) {
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    const std::string path = dir.file("stereo.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, interleaved, 2, kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    for (bool askStereo : {true, false}) {
        SCOPED_TRACE(askStereo);
        auto voice = std::make_unique<Voice>();
        ASSERT_TRUE(RenderLoopFill(path, 0.0f, 3.0f, kRate, askStereo, *voice, 0, true));
        EXPECT_EQ(voice->stereo, askStereo);
        EXPECT_EQ(voice->samplesR.size(), askStereo ? std::size_t(3 * kRate) : 0u);
        if (askStereo) {
            EXPECT_NE(voice->samplesL, voice->samplesR);
        }
    }
}

}  // namespace
}  // namespace korvel
