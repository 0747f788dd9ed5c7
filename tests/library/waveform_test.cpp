#include "library/waveform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

class WaveformTest : public ::testing::Test {
protected:
    void SetUp() override { ClearWaveformCache(); }
    void TearDown() override { ClearWaveformCache(); }

    // A mono file of `frames` samples of `value`.
    std::string Constant(const std::string& name, std::size_t frames, int rate, float value = 0.25f) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, std::vector<float>(frames, value), 1, rate, kFloatWav));
        return path;
    }

    test::TempDir dir_;
};

TEST_F(WaveformTest, BinCountsForShortAndLongFiles) {
    struct Case {
        const char* name;
        std::size_t frames;
        int rate;
        std::size_t bins;
        int framesPerBin;
    };
    // Low sample rates keep the long files small; the bin rule only sees seconds.
    const Case cases[] = {
        {"10 seconds: 200 bins per second", 80000, 8000, 2000, 40},
        {"0.1 seconds: at least 64 bins", 800, 8000, 64, 12},
        {"2 minutes: at most 16,000 bins", 120000, 1000, 16000, 7},
        {"0.32 seconds: exactly 64", 2560, 8000, 64, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WaveformOverview overview;
        ASSERT_TRUE(ComputeWaveformOverview(Constant("c.wav", c.frames, c.rate), overview));
        EXPECT_EQ(overview.peaks.size(), c.bins);
        EXPECT_EQ(overview.rms.size(), c.bins);
        EXPECT_EQ(overview.sampleRate, c.rate);
        EXPECT_FLOAT_EQ(overview.duration, static_cast<float>(c.frames) / c.rate);
        // Every bin is filled: framesPerBin × bins never exceeds the file.
        EXPECT_FLOAT_EQ(overview.peaks.back(), 0.25f);
        EXPECT_LE(static_cast<std::size_t>(c.framesPerBin) * c.bins, c.frames);
    }
}

// 1,000 frames at 48 kHz: 64 bins of 15 frames; the remainder of the
// division (the last 40 frames) is not looked at.
TEST_F(WaveformTest, RemainderFramesAreLeftOut) {
    std::vector<float> samples(1000, 0.25f);
    for (std::size_t i = 960; i < 1000; ++i) samples[i] = 1.0f;
    samples[14] = -0.5f;  // last frame of bin 0
    const std::string path = dir_.file("short.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, samples, 1, 48000, kFloatWav));
    WaveformOverview overview;
    ASSERT_TRUE(ComputeWaveformOverview(path, overview));
    ASSERT_EQ(overview.peaks.size(), 64u);
    EXPECT_FLOAT_EQ(overview.peaks[0], 0.5f);
    EXPECT_FLOAT_EQ(overview.peaks[1], 0.25f);
    EXPECT_FLOAT_EQ(overview.peaks[63], 0.25f) << "the loud tail must not reach the last bin";
    EXPECT_NEAR(overview.rms[0], std::sqrt((14 * 0.0625 + 0.25) / 15.0), 1e-6);
}

TEST_F(WaveformTest, FewerFramesThanBinsFillOneBinPerFrame) {
    WaveformOverview overview;
    ASSERT_TRUE(ComputeWaveformOverview(Constant("tiny.wav", 10, 48000, 0.5f), overview));
    ASSERT_EQ(overview.peaks.size(), 64u);
    EXPECT_FLOAT_EQ(overview.peaks[9], 0.5f);
    EXPECT_FLOAT_EQ(overview.rms[9], 0.5f);
    EXPECT_FLOAT_EQ(overview.peaks[10], 0.0f);
    EXPECT_FLOAT_EQ(overview.rms[63], 0.0f);
}

TEST_F(WaveformTest, StereoPeakIsTheLargerChannelAndRmsSpansBoth) {
    std::vector<float> samples;
    for (int i = 0; i < 800; ++i) {
        samples.push_back(0.5f);
        samples.push_back(-0.75f);
    }
    const std::string path = dir_.file("stereo.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, samples, 2, 8000, kFloatWav));
    WaveformOverview overview;
    ASSERT_TRUE(ComputeWaveformOverview(path, overview));
    EXPECT_FLOAT_EQ(overview.peaks[3], 0.75f);
    EXPECT_NEAR(overview.rms[3], std::sqrt((0.25 + 0.5625) / 2.0), 1e-6);
}

TEST_F(WaveformTest, CacheReadsAFileOnceAndRetriesFailures) {
    const std::string path = Constant("once.wav", 8000, 8000, 0.25f);
    LoadWaveformOverview(path.c_str());
    auto first = FindWaveformOverview(path);
    ASSERT_NE(first, nullptr);

    // A changed file keeps its old overview until the cache is emptied.
    Constant("once.wav", 8000, 8000, 0.75f);
    LoadWaveformOverview(path.c_str());
    EXPECT_EQ(FindWaveformOverview(path), first);
    EXPECT_FLOAT_EQ(FindWaveformOverview(path)->peaks[0], 0.25f);

    const std::string later = dir_.file("later.wav");
    LoadWaveformOverview(later.c_str());
    EXPECT_EQ(FindWaveformOverview(later), nullptr);
    Constant("later.wav", 800, 8000);
    LoadWaveformOverview(later.c_str());
    EXPECT_NE(FindWaveformOverview(later), nullptr) << "a failed read must not be remembered";

    ClearWaveformCache();
    EXPECT_EQ(FindWaveformOverview(path), nullptr);
    EXPECT_FLOAT_EQ(first->peaks[0], 0.25f) << "a held overview outlives the clear";
    LoadWaveformOverview(nullptr);
    LoadWaveformOverview("");
}

TEST_F(WaveformTest, EmptyOrUnreadableFilesGiveNoOverview) {
    WaveformOverview overview;
    EXPECT_FALSE(ComputeWaveformOverview(Constant("empty.wav", 0, 8000), overview));
    test::WriteBytes(dir_.file("text.wav"), "not audio");
    EXPECT_FALSE(ComputeWaveformOverview(dir_.file("text.wav"), overview));
    EXPECT_FALSE(ComputeWaveformOverview(dir_.file("absent.wav"), overview));
}

}  // namespace
}  // namespace korvel
