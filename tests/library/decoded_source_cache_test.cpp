#include "library/decoded_source_cache.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "library/channel_layout.h"
#include "library/library.h"
#include "project/app_state.h"
#include "support/audio_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

// Every test starts and ends with an empty cache, the default budget, the
// default channel order and no interpretations.
class DecodedSourceCacheTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        ClearDecodedSourceCache();
        SetDecodedSourceCacheByteBudget(kDecodedSourceByteBudget);
        GlobalAppState.channelOrderFallback = 0;
        Library none;
        RebuildChannelInterpretationMap(none);
    }

    // A file whose channel c holds the constant values[c] on every frame.
    std::string WriteConstant(const std::string& name, const std::vector<float>& values, int rate,
                              int frames) {
        std::vector<float> interleaved;
        interleaved.reserve(values.size() * static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i) interleaved.insert(interleaved.end(), values.begin(), values.end());
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, interleaved, static_cast<int>(values.size()), rate, kFloatWav));
        return path;
    }

    void UseInterpretation(const std::string& path, int interpretation) {
        Library library;
        Palette palette;
        LibraryFile file;
        file.path = path;
        file.interpretation = interpretation;
        palette.files.push_back(file);
        library.palettes.push_back(palette);
        RebuildChannelInterpretationMap(library);
    }

    struct Result {
        bool ok = false;
        std::vector<float> left, right;
        int rate = 0;
        bool stereo = false;
    };
    static Result Get(const std::string& path, float start, float length, int rate, bool wantStereo) {
        Result r;
        r.ok = GetDecodedSource(path, start, length, rate, wantStereo, r.left, r.right, r.rate, r.stereo);
        return r;
    }

    test::TempDir dir;
};

TEST_F(DecodedSourceCacheTest, FoldsChannelsByLayout) {
    const float g = 0.70710677f;
    // Six channels without a stored map: L R C LFE Ls Rs.
    const std::vector<float> six = {0.1f, 0.2f, 0.3f, 0.4f, 0.05f, 0.06f};
    const float sixLeft = 0.1f + g * 0.3f + g * 0.05f;
    const float sixRight = 0.2f + g * 0.3f + g * 0.06f;
    struct Case {
        const char* name;
        std::vector<float> channels;
        int interpretation;
        bool wantStereo;
        bool stereo;
        float left, right;
    };
    const Case cases[] = {
        {"stereo as stereo", {0.5f, -0.25f}, kInterpretAuto, true, true, 0.5f, -0.25f},
        {"stereo as mono is the mean", {0.5f, -0.25f}, kInterpretAuto, false, false, 0.125f, 0.0f},
        {"mono asked as stereo stays mono", {0.75f}, kInterpretAuto, true, false, 0.75f, 0.0f},
        {"5.1 as stereo", six, kInterpretAuto, true, true, sixLeft, sixRight},
        {"5.1 as mono", six, kInterpretAuto, false, false, (sixLeft + sixRight) * g, 0.0f},
        {"discrete asked as stereo is the mean", {0.5f, 0.25f, 0.0f, 0.25f}, kInterpretDiscrete, true, false,
         0.25f, 0.0f},
        {"ambisonic asked as stereo is W", {0.6f, 0.2f, 0.3f, 0.4f}, kInterpretAmbisonic, true, false, 0.6f,
         0.0f},
        {"seven channels without a layout are the mean", {0.7f, 0, 0, 0, 0, 0, 0}, kInterpretAuto, true,
         false, 0.1f, 0.0f},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            WriteConstant("fold" + std::to_string(index++) + ".wav", c.channels, 48000, 480);
        UseInterpretation(path, c.interpretation);
        const Result r = Get(path, 0.0f, 1.0f, 48000, c.wantStereo);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.stereo, c.stereo);
        EXPECT_EQ(r.rate, 48000);
        ASSERT_EQ(r.left.size(), 480u);
        EXPECT_FLOAT_EQ(r.left[100], c.left);
        if (c.stereo) {
            ASSERT_EQ(r.right.size(), 480u);
            EXPECT_FLOAT_EQ(r.right[100], c.right);
        } else {
            EXPECT_TRUE(r.right.empty());
        }
    }
}

TEST_F(DecodedSourceCacheTest, RegionsAndLengths) {
    // 100 Hz keeps a file of more than ten minutes small.
    const std::string longFile = dir.file("long.wav");
    std::vector<float> ramp(100 * 610);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / 1e5f;
    ASSERT_TRUE(test::WriteSoundFile(longFile, ramp, 1, 100, kFloatWav));

    const float kInf = std::numeric_limits<float>::infinity();
    const float kNan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float start, length;
        bool ok;
        size_t samples;
        float first;  // the first sample, when ok
    };
    const Case cases[] = {
        {"ten minutes at most", 0.0f, 700.0f, true, 60000, 0.0f},
        {"an endless length reads ten minutes", 0.0f, kInf, true, 60000, 0.0f},
        {"a length whose frame count overflows reads ten minutes", 2.0f, 1e37f, true, 60000, 200 / 1e5f},
        {"an endless start reads from the beginning", kInf, 1.0f, true, 100, 0.0f},
        {"a start that is not a number reads from the beginning", kNan, 1.0f, true, 100, 0.0f},
        {"a length that is not a number fails", 0.0f, kNan, false, 0, 0.0f},
        {"a region inside", 2.0f, 1.5f, true, 150, 200 / 1e5f},
        {"cut at the end of the file", 605.0f, 20.0f, true, 500, 60500 / 1e5f},
        {"start beyond the end reads from the beginning", 900.0f, 1.0f, true, 100, 0.0f},
        {"negative start reads from the beginning", -3.0f, 1.0f, true, 100, 0.0f},
        {"length 0 fails", 1.0f, 0.0f, false, 0, 0.0f},
        {"negative length fails", 1.0f, -1.0f, false, 0, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Get(longFile, c.start, c.length, 100, false);
        EXPECT_EQ(r.ok, c.ok);
        if (!c.ok) continue;
        ASSERT_EQ(r.left.size(), c.samples);
        EXPECT_FLOAT_EQ(r.left[0], c.first);
    }
}

TEST_F(DecodedSourceCacheTest, ResamplesToTheTargetRateAndServesRepeatsFromTheCache) {
    const std::string path = dir.file("sine44.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, test::MakeSine(1000, 1.5, 44100, 2, 0.5), 2, 44100));
    const Result first = Get(path, 0.0f, 1.0f, 48000, true);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.rate, 48000);
    EXPECT_TRUE(first.stereo);
    EXPECT_EQ(first.left.size(), 48000u);
    EXPECT_EQ(first.right.size(), 48000u);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 1u);
    EXPECT_EQ(GetDecodedSourceCacheUsage().bytes, 2u * 48000u * sizeof(float));

    // Gone from disk, still served: the second request never opens the file.
    std::filesystem::remove(path);
    const Result again = Get(path, 0.0f, 1.0f, 48000, true);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.left, first.left);
    EXPECT_EQ(again.right, first.right);
    EXPECT_EQ(again.rate, 48000);
    // Starts that agree to a millisecond share the entry.
    EXPECT_TRUE(Get(path, 0.0001f, 1.0f, 48000, true).ok);

    // A target rate below 1 gives no samples and caches nothing.
    const std::string other = dir.file("other.wav");
    ASSERT_TRUE(test::WriteSoundFile(other, test::MakeSine(1000, 0.1, 44100), 1, 44100));
    EXPECT_FALSE(Get(other, 0.0f, 1.0f, 0, false).ok);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 1u);
}

TEST_F(DecodedSourceCacheTest, ChannelOrderAndInterpretationAreInTheKey) {
    const std::string path = WriteConstant("six.wav", {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f}, 48000, 48);
    const Result smpte = Get(path, 0.0f, 1.0f, 48000, true);
    GlobalAppState.channelOrderFallback = 1;  // Film: L C R Ls Rs LFE
    const Result film = Get(path, 0.0f, 1.0f, 48000, true);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 2u);
    ASSERT_TRUE(smpte.ok && film.ok);
    EXPECT_NE(smpte.left[0], film.left[0]);

    UseInterpretation(path, kInterpretDiscrete);
    const Result discrete = Get(path, 0.0f, 1.0f, 48000, true);
    EXPECT_FALSE(discrete.stereo);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 3u);

    // A length whose text is very long must not push the interpretation out
    // of the key.
    const std::string pair = WriteConstant("pair.wav", {0.5f, -0.5f}, 48000, 48);
    EXPECT_TRUE(Get(pair, 0.0f, 1e37f, 48000, true).stereo);
    UseInterpretation(pair, kInterpretDiscrete);
    EXPECT_FALSE(Get(pair, 0.0f, 1e37f, 48000, true).stereo);
}

TEST_F(DecodedSourceCacheTest, EntryLimitEmptiesTheWholeMap) {
    const std::string path = WriteConstant("short.wav", {0.5f}, 1000, 1000);
    for (size_t i = 0; i < kDecodedSourceEntryLimit; ++i) {
        ASSERT_TRUE(Get(path, 0.001f * static_cast<float>(i), 0.01f, 1000, false).ok);
    }
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, kDecodedSourceEntryLimit);
    ASSERT_TRUE(Get(path, 0.9f, 0.01f, 1000, false).ok);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 1u);
    EXPECT_EQ(GetDecodedSourceCacheUsage().bytes, 10u * sizeof(float));
}

TEST_F(DecodedSourceCacheTest, ByteBudgetEmptiesTheMapAndSkipsOversizedRegions) {
    const std::string path = WriteConstant("budget.wav", {0.5f}, 1000, 1000);
    // Room for exactly three regions of 100 samples.
    SetDecodedSourceCacheByteBudget(300 * sizeof(float));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Get(path, 0.1f * static_cast<float>(i), 0.1f, 1000, false).ok);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 3u);
    EXPECT_EQ(GetDecodedSourceCacheUsage().bytes, 300 * sizeof(float));

    ASSERT_TRUE(Get(path, 0.5f, 0.1f, 1000, false).ok);  // a fourth would pass the budget
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 1u);
    EXPECT_EQ(GetDecodedSourceCacheUsage().bytes, 100 * sizeof(float));

    // Larger than the whole budget: handed over, not cached, cache untouched.
    const Result big = Get(path, 0.0f, 0.5f, 1000, false);
    ASSERT_TRUE(big.ok);
    EXPECT_EQ(big.left.size(), 500u);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 1u);
}

// Threads that miss the same regions at once all decode them; the later
// insertions replace equal entries, and the byte count must not drift.
TEST_F(DecodedSourceCacheTest, ConcurrentRequestsAgreeAndKeepTheByteCount) {
    const std::string path = WriteConstant("shared.wav", {0.25f, -0.25f}, 44100, 44100);
    constexpr int kRegions = 12;
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int region = 0; region < kRegions; ++region) {
                const Result r = Get(path, 0.05f * static_cast<float>(region), 0.05f, 48000, true);
                if (!r.ok || r.left.size() != 2400u || r.right.size() != 2400u) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, static_cast<size_t>(kRegions));
    EXPECT_EQ(GetDecodedSourceCacheUsage().bytes, kRegions * 2u * 2400u * sizeof(float));
}

TEST_F(DecodedSourceCacheTest, BadFilesFailWithoutCaching) {
    const std::string empty = dir.file("empty.wav");
    ASSERT_TRUE(test::WriteBytes(empty, ""));
    const std::string headerless = dir.file("headerless.wav");
    ASSERT_TRUE(test::WriteBytes(headerless, std::string(1000, '\x7f')));
    const std::string noFrames = dir.file("noframes.wav");
    ASSERT_TRUE(test::WriteSoundFile(noFrames, {}, 1, 48000));
    const std::string dangling = dir.file("dangling.wav");
    std::error_code ec;
    std::filesystem::create_symlink(dir.file("nowhere.wav"), dangling, ec);
    ASSERT_FALSE(ec);
    const std::string aiff = dir.file("aiff.wav");
    ASSERT_TRUE(test::WriteSoundFile(aiff, test::MakeSine(500, 0.1, 48000), 1, 48000,
                                     SF_FORMAT_AIFF | SF_FORMAT_PCM_16));

    struct Case {
        const char* name;
        std::string path;
        bool ok;
    };
    const Case cases[] = {
        {"missing", dir.file("missing.wav"), false},
        {"zero-length", empty, false},
        {"headerless", headerless, false},
        {"no frames", noFrames, false},
        {"dangling link", dangling, false},
        {"empty path", "", false},
        {"AIFF named .wav decodes by content", aiff, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Get(c.path, 0.0f, 1.0f, 48000, false);
        EXPECT_EQ(r.ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(r.left.size(), 4800u);
        }
    }
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 1u);
}

// A small file whose header claims far more than it holds (655,350 Hz,
// eight channels, a count still within what its bytes could compress to)
// must decode what it holds in memory bounded by that: a buffer sized from
// the header would need 12 GB for ten minutes. The child's address space is
// limited, so such an allocation aborts it.
TEST_F(DecodedSourceCacheTest, AHostileHeaderCostsOnlyWhatTheDataHolds) {
    const std::string path = dir.file("hostile.flac");
    const std::vector<float> data = test::MakeSine(1000, 0.01, 655350, 8, 0.5);
    ASSERT_TRUE(test::WriteSoundFile(path, data, 8, 655350, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    ASSERT_TRUE(test::SetFlacTotalSamples(path, 500'000'000));
    const int64_t heldFrames = static_cast<int64_t>(data.size() / 8);

    const uint64_t limit = test::UnderSanitizer() ? 0 : uint64_t{1} << 30;
    const test::ChildOutcome outcome = test::RunInChild(
        [&] {
            DecodedSource region;
            if (!DecodeSourceRegion(path, 0.0f, 600.0f, 655350, false, 0, 0, region)) return 1;
            return region.frameCount == heldFrames ? 0 : 2;
        },
        limit);
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.signal;
    EXPECT_EQ(outcome.exitCode, 0);
}

}  // namespace
}  // namespace korvel
