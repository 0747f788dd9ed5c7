#include "playback/source_region.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "support/audio_fixture.h"
#include "support/signals.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;
constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

// Sample i of channel c is c + i / 1e6: every output value names the frame
// and channel it came from.
std::vector<float> IndexedFrames(int frames, int channels) {
    std::vector<float> v(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) v[static_cast<std::size_t>(i) * channels + c] = c + i / 1e6f;
    return v;
}

class SourceRegion : public testing::Test {
protected:
    void SetUp() override {
        ClearDecodedSourceCache();
        ten = dir.file("ten.wav");
        ASSERT_TRUE(test::WriteSoundFile(ten, IndexedFrames(10 * kRate, 1), 1, kRate, kFloatWav));
        six = dir.file("six.wav");
        ASSERT_TRUE(test::WriteSoundFile(six, IndexedFrames(kRate, 6), 6, kRate, kFloatWav));
    }
    void TearDown() override { ClearDecodedSourceCache(); }

    test::TempDir dir;
    std::string ten, six;
};

TEST_F(SourceRegion, HandlesAreCutAtTheFilesEdges) {
    struct Case {
        const char* name;
        double offset, length, pre, post;
        int firstFrame, frames, preHandle;
    };
    const Case cases[] = {
        {"both handles inside", 1.0, 2.0, 0.5, 0.5, 24000, 144000, 24000},
        {"pre-handle before the start", 0.2, 1.0, 0.5, 0.0, 0, 57600, 9600},
        {"post-handle past the end", 9.0, 2.0, 0.5, 0.5, 408000, 72000, 24000},
        {"negative offset", -1.0, 2.0, 0.0, 0.0, 0, 48000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> mono;
        int pre = -1;
        ASSERT_TRUE(ReadSourceRegion(ten, c.offset, c.length, c.pre, c.post, kRate, mono, pre));
        ASSERT_EQ(mono.size(), static_cast<std::size_t>(c.frames));
        EXPECT_FLOAT_EQ(mono.front(), c.firstFrame / 1e6f);
        EXPECT_FLOAT_EQ(mono.back(), (c.firstFrame + c.frames - 1) / 1e6f);
        EXPECT_EQ(pre, c.preHandle);
    }
}

TEST_F(SourceRegion, RefusesWhatHoldsNoFrame) {
    const std::string empty = dir.file("empty.wav");
    ASSERT_TRUE(test::WriteSoundFile(empty, {}, 1, kRate));
    const std::string text = dir.file("text.wav");
    ASSERT_TRUE(test::WriteBytes(text, "RIFF and nothing else"));
    struct Case {
        const char* name;
        std::string path;
        double offset, length;
        int rate;
    };
    const Case cases[] = {
        {"missing file", dir.file("nope.wav"), 0.0, 1.0, kRate},
        {"empty file", empty, 0.0, 1.0, kRate},
        {"not a sound file", text, 0.0, 1.0, kRate},
        {"region after the end", ten, 20.0, 1.0, kRate},
        {"zero length at the end", ten, 10.0, 0.0, kRate},
        {"negative length", ten, 2.0, -3.0, kRate},
        {"target rate 0", ten, 0.0, 1.0, 0},
        {"negative target rate", ten, 0.0, 1.0, -48000},
        {"offset not a number", ten, std::nan(""), 1.0, kRate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> mono, left, right;
        std::vector<std::vector<float>> channels;
        int count = 0, pre = 0;
        bool stereo = false;
        EXPECT_FALSE(ReadSourceRegion(c.path, c.offset, c.length, 0, 0, c.rate, mono, pre));
        EXPECT_FALSE(ReadSourceRegionChannels(c.path, c.offset, c.length, 0, 0, c.rate, channels, count, pre));
        EXPECT_FALSE(ReadSourceRegionStereo(c.path, c.offset, c.length, 0, 0, c.rate, left, right, stereo, pre));
    }
}

TEST_F(SourceRegion, ResamplesLinearlyToTheTargetRate) {
    const std::string path = dir.file("44k.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, test::MakeSine(441.0, 1.0, 44100), 1, 44100, kFloatWav));
    struct Case {
        int rate;
        std::size_t frames;
        int preHandle;
    };
    const Case cases[] = {{48000, 48000, 24000}, {96000, 96000, 48000}, {22050, 22050, 11025}, {44100, 44100, 22050}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        std::vector<float> mono;
        int pre = 0;
        ASSERT_TRUE(ReadSourceRegion(path, 0.5, 1.0, 0.5, 0.0, c.rate, mono, pre));
        EXPECT_EQ(mono.size(), c.frames);  // int(44100 × rate / 44100)
        EXPECT_EQ(pre, c.preHandle);
        // Still a 441 Hz sine: a peak of 1 and a quarter period of rate / 1764 frames.
        EXPECT_NEAR(test::Peak(mono, 0, mono.size()), 1.0f, 0.01f);
        EXPECT_NEAR(mono[c.rate / 1764], 1.0f, 0.01f);
    }
}

TEST_F(SourceRegion, ChannelTreatmentsOfASixChannelFile) {
    int pre = 0;
    std::vector<float> mono;
    ASSERT_TRUE(ReadSourceRegion(six, 0.0, 0.5, 0, 0, kRate, mono, pre));
    EXPECT_FLOAT_EQ(mono[100], (0 + 1 + 2 + 3 + 4 + 5) / 6.0f + 100 / 1e6f) << "mean of all six";

    std::vector<std::vector<float>> channels;
    int count = 0;
    ASSERT_TRUE(ReadSourceRegionChannels(six, 0.0, 0.5, 0, 0, kRate, channels, count, pre));
    ASSERT_EQ(count, 6);
    ASSERT_EQ(channels.size(), 6u);
    for (int c = 0; c < 6; ++c) EXPECT_FLOAT_EQ(channels[c][100], c + 100 / 1e6f) << c;

    std::vector<float> left, right;
    bool stereo = false;
    ASSERT_TRUE(ReadSourceRegionStereo(six, 0.0, 0.5, 0, 0, kRate, left, right, stereo, pre));
    EXPECT_TRUE(stereo);
    EXPECT_FLOAT_EQ(left[100], 0 + 100 / 1e6f);
    EXPECT_FLOAT_EQ(right[100], 1 + 100 / 1e6f);

    right.assign(5, 1.0f);
    ASSERT_TRUE(ReadSourceRegionStereo(ten, 0.0, 0.5, 0, 0, kRate, left, right, stereo, pre));
    EXPECT_FALSE(stereo);
    EXPECT_TRUE(right.empty()) << "a mono file empties the right channel";
    EXPECT_EQ(left.size(), static_cast<std::size_t>(kRate / 2));
}

// {0, 48000, 0}, {96000, 48000, 4800}: 91,200 frames of material, the second
// chunk crossfading over frames 43,200 to 47,999, one seam.
TEST(SpliceReplay, CrossfadesAndRecordsTheSeam) {
    const std::vector<float> source = test::Sine(50.0, 3 * kRate, 0.8);
    LayerResult layer;
    layer.duration = 2.0f;
    layer.fillChunks = {{0, 48000, 0}, {96000, 48000, 4800}};
    auto voice = std::make_unique<Voice>();
    voice->samplesR = {1.0f};
    bool stereo = false;
    ASSERT_TRUE(RenderSpliceVoice(layer, kRate, *voice, &source, nullptr, stereo, 0.0f));
    const int total = 2 * kRate;
    ASSERT_EQ(voice->frameCount, total);
    ASSERT_EQ(voice->samplesL.size(), static_cast<std::size_t>(total));
    EXPECT_TRUE(voice->samplesR.empty());
    EXPECT_FALSE(voice->stereo);
    const std::vector<float>& out = voice->samplesL;
    EXPECT_EQ(out[43199], source[43199]);
    for (int k : {0, 1, 2400, 4799}) {
        SCOPED_TRACE(k);
        const float angle = k / 4800.0f * std::numbers::pi_v<float> / 2.0f;
        EXPECT_NEAR(out[43200 + k], std::sin(angle) * source[96000 + k] + std::cos(angle) * source[43200 + k], 1e-6);
    }
    EXPECT_EQ(out[48000], source[100800]);
    EXPECT_EQ(out[91199], source[143999]);
    EXPECT_EQ(test::Peak(out, 91200, out.size()), 0.0f) << "silence where nothing was written";
    ASSERT_EQ(voice->seamCount, 1);
    EXPECT_FLOAT_EQ(voice->seamPositions[0], (48000.0f - 2400.0f) / total);
    EXPECT_FLOAT_EQ(voice->seamWidths[0], 4800.0f / total);
    EXPECT_EQ(voice->spliceCount, 2);
    EXPECT_EQ(voice->splices[1].s, 96000);
}

TEST(SpliceReplay, EntriesOutsideTheSourceOrOutputWriteNothing) {
    const std::vector<float> source(1000, 0.5f);
    struct Case {
        const char* name;
        std::vector<FillChunk> chunks;
        float expectedPeak;
    };
    const Case cases[] = {
        {"source start past the end", {{5000, 100, 0}}, 0.0f},
        {"negative source start", {{-300, 200, 0}}, 0.0f},
        {"negative lengths", {{0, -5, -7}, {0, 100, 0}}, 0.5f},
        {"crossfade before the output's start", {{0, 10, 500}}, 0.0f},
        {"huge values", {{2147483647, 2147483647, 2147483647}, {-2147483647 - 1, 2147483647, 0}}, 0.0f},
        {"runs past the output", {{0, 1000, 0}, {0, 1000, 0}, {0, 1000, 0}}, 0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayerResult layer;
        layer.duration = 0.05f;  // 2,400 frames
        layer.fillChunks = c.chunks;
        auto voice = std::make_unique<Voice>();
        bool stereo = true;  // no right source: mono
        ASSERT_TRUE(RenderSpliceVoice(layer, kRate, *voice, &source, nullptr, stereo, 0.0f));
        EXPECT_FALSE(stereo);
        EXPECT_EQ(voice->frameCount, 2400);
        EXPECT_NEAR(test::Peak(voice->samplesL, 0, voice->samplesL.size()), c.expectedPeak, 1e-6);
    }
}

TEST(SpliceReplay, LengthsAndRates) {
    const std::vector<float> source(100, 0.25f);
    LayerResult layer;
    layer.duration = 1.0f;
    layer.fillChunks = {{0, 100, 0}};
    struct Case {
        int rate;
        float seconds;
        int frames;
    };
    const Case cases[] = {{kRate, 0.0f, kRate}, {kRate, 0.5f, kRate / 2}, {kRate, -2.0f, kRate},
                          {44100, 2.0f, 88200}, {100, 1e9f, 3600 * 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " " << c.seconds);
        auto voice = std::make_unique<Voice>();
        bool stereo = false;
        ASSERT_TRUE(RenderSpliceVoice(layer, c.rate, *voice, &source, nullptr, stereo, c.seconds));
        EXPECT_EQ(voice->frameCount, c.frames);
    }
    auto voice = std::make_unique<Voice>();
    bool stereo = false;
    EXPECT_FALSE(RenderSpliceVoice(layer, 0, *voice, &source, nullptr, stereo, 1.0f));

    layer.filepath = "/no/such/file.wav";
    voice->frameCount = 9;
    EXPECT_FALSE(RenderSpliceVoice(layer, kRate, *voice, nullptr, nullptr, stereo, 1.0f));
    EXPECT_EQ(voice->frameCount, 9) << "untouched when the source cannot be decoded";
}

TEST_F(SourceRegion, ResultChannelsNeedAKnownSpeakerLayout) {
    auto voice = std::make_unique<Voice>();
    ChannelMap map;
    std::vector<std::vector<float>> channels;
    LayerResult layer;
    layer.duration = 0.5f;
    layer.fillChunks = {{0, kRate / 2, 0}};
    for (const std::string& path : {ten, dir.file("missing.wav")}) {
        SCOPED_TRACE(path);
        layer.filepath = path;
        EXPECT_FALSE(ReadResultSourceChannels(layer, *voice, kRate, kChannelOrderSmpte, channels, map));
    }
}

// A fill pitched up by an octave splices twice the layer's duration; the
// spatial mix resamples it back, so all of it must be there.
TEST_F(SourceRegion, ResultChannelsGiveAPitchedFillItsWholeLength) {
    const std::string path = dir.file("stereo.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, IndexedFrames(2 * kRate, 2), 2, kRate, kFloatWav));
    LayerResult layer;
    layer.filepath = path;
    layer.duration = 1.0f;
    layer.pitchShift = 12.0f;
    for (int i = 0; i < 80; ++i) layer.fillChunks.push_back({i % 2 ? 48000 : 0, 1600, i == 0 ? 0 : 400});
    const std::int64_t total = SpliceListFrames(layer.fillChunks, kRate);
    ASSERT_EQ(total, 1600 + 79 * 1200);
    ASSERT_GT(total, kRate) << "longer than the layer's duration";

    auto voice = std::make_unique<Voice>();  // holds only the first 65
    std::vector<std::vector<float>> channels;
    ChannelMap map;
    ASSERT_TRUE(ReadResultSourceChannels(layer, *voice, kRate, kChannelOrderSmpte, channels, map));
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(map.roles.size(), 2u);
    EXPECT_TRUE(map.positional);
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        ASSERT_EQ(channels[c].size(), static_cast<std::size_t>(total));
        EXPECT_FLOAT_EQ(channels[c][0], c + 0.0f);
        // The last (80th) chunk starts at 48,000 and its copy ends the output.
        EXPECT_FLOAT_EQ(channels[c][total - 1], c + (48000 + 1599) / 1e6f);
    }

    // Chunks count from the layer's offset.
    layer.sourceOffset = 0.5f;
    ASSERT_TRUE(ReadResultSourceChannels(layer, *voice, kRate, kChannelOrderSmpte, channels, map));
    EXPECT_FLOAT_EQ(channels[1][0], 1 + 24000 / 1e6f);

    // Without a stored list the voice's splices are used.
    layer.fillChunks.clear();
    voice->splices[0] = {0, 1000, 0};
    voice->spliceCount = 1;
    ASSERT_TRUE(ReadResultSourceChannels(layer, *voice, kRate, kChannelOrderSmpte, channels, map));
    EXPECT_EQ(channels[0].size(), 1000u);
    voice->spliceCount = 0;
    EXPECT_FALSE(ReadResultSourceChannels(layer, *voice, kRate, kChannelOrderSmpte, channels, map))
        << "no frame to write";
}

}  // namespace
}  // namespace korvel
