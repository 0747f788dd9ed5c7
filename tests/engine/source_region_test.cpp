#include "engine/source_region.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "build_fixture.h"
#include "library/library.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;

// A mono file of `seconds` that is silent except where `shape` says.
struct Fixture {
    test::TempDir dir;
    int count = 0;

    LibraryFile Write(double seconds, const std::function<float(double)>& shape) {
        const int frames = static_cast<int>(seconds * kRate);
        std::vector<float> samples(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            samples[static_cast<std::size_t>(i)] = shape(t) * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * t));
        }
        std::string name = "f";
        name += std::to_string(count++);
        LibraryFile file = test::MakeFile(name, static_cast<float>(seconds));
        file.path = dir.file(file.name + ".wav");
        EXPECT_TRUE(test::WriteSoundFile(file.path, samples, 1, kRate));
        return file;
    }
};

// Loud between a and b seconds, silent elsewhere.
std::function<float(double)> Burst(double a, double b, float level = 0.8f) {
    return [=](double t) { return t >= a && t < b ? level : 0.0f; };
}

class SourceRegionTest : public ::testing::Test {
protected:
    Fixture fixture;
    void SetUp() override { ClearSourceRegionCaches(); }
    void TearDown() override { ClearSourceRegionCaches(); }
};

TEST_F(SourceRegionTest, RegionsByKindAndTheirDraws) {
    const LibraryFile file = fixture.Write(3.0, Burst(1.0, 1.3));
    CurvePoints curve;
    curve.fill(0.5f);
    struct Case {
        const char* name;
        std::int32_t kind;
        float T;
        bool withCurve;
        int draws;
        float offset;  // -1: not checked
        float length;
    };
    const std::vector<Case> cases = {
        {"Spot as long as the file takes it whole", 0, 3.0f, false, 0, 0.0f, 3.0f},
        {"Bloom longer than the file takes it whole", 1, 9.0f, true, 0, 0.0f, 3.0f},
        {"Fill longer than the file takes it whole", 3, 5.0f, false, 0, 0.0f, 3.0f},
        {"Scatter longer than the file takes it whole", 4, 3.5f, false, 0, 0.0f, 3.0f},
        {"Fill takes one draw and exactly the length asked", 3, 1.0f, false, 1, -1.0f, 1.0f},
        {"Bloom without a curve takes one draw", 1, 1.0f, false, 1, -1.0f, 1.12f},
        {"Bloom matching a curve draws nothing", 1, 1.0f, true, 0, -1.0f, 1.12f},
        {"Spot on one transient draws nothing", 0, 0.1f, false, 0, -1.0f, -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BuildRandom random{77};
        BuildRandom expected{77};
        for (int i = 0; i < c.draws; ++i) expected.Next();
        const SourceRegion region = ChooseSourceRegion(file, c.T, c.kind, 0.0f, random, c.withCurve ? &curve : nullptr,
                                                       1.0f, 0.5f, nullptr, nullptr);
        EXPECT_EQ(random.state, expected.state);
        if (c.offset >= 0.0f) {
            EXPECT_FLOAT_EQ(region.sourceOffset, c.offset);
        }
        if (c.length >= 0.0f) {
            EXPECT_NEAR(region.length, c.length, 1e-5f);
        }
        if (c.kind == 3 && c.T < 3.0f) {
            EXPECT_EQ(region.syncPoint, 0.0f);
            BuildRandom again{77};
            EXPECT_FLOAT_EQ(region.sourceOffset, again.Next() * 2.0f);
        }
        EXPECT_GE(region.sourceOffset, 0.0f);
        EXPECT_LE(region.sourceOffset + region.length, 3.0f + 1e-4f);
    }
}

TEST_F(SourceRegionTest, ShapeMatchingPutsTheLoudPartWhereTheCurvePeaks) {
    // A burst at 4 s of a 10 s file, an event of 2 s peaking in its middle:
    // the region must start about 1 s before the burst.
    const LibraryFile file = fixture.Write(10.0, Burst(4.0, 4.2));
    CurvePoints curve;
    for (int i = 0; i < kCurvePoints; ++i) curve[i] = 1.0f - std::fabs(static_cast<float>(i) / 255.0f - 0.5f) * 2.0f;
    BuildRandom random{3};
    const SourceRegion region = ChooseSourceRegion(file, 2.0f, 1, 0.0f, random, &curve, 1.0f, 0.5f, nullptr, nullptr);
    EXPECT_NEAR(region.sourceOffset, 3.1f, 0.25f);
    EXPECT_NEAR(region.sourceOffset + region.syncPoint, 4.0f, 0.05f);  // the sync point is the burst's peak
    EXPECT_EQ(random.state, 3u);
}

TEST_F(SourceRegionTest, SilentAndUnreadableFilesTakeTheFallbacks) {
    const LibraryFile silent = fixture.Write(2.0, [](double) { return 0.0f; });
    LibraryFile missing = test::MakeFile("missing", 2.0f);
    missing.path = fixture.dir.file("missing.wav");
    LibraryFile garbage = test::MakeFile("garbage", 2.0f);
    garbage.path = fixture.dir.file("garbage.wav");
    ASSERT_TRUE(test::WriteBytes(garbage.path, "RIFF????WAVEnot really a sound file"));
    for (const LibraryFile* file : std::vector<const LibraryFile*>{&silent, &missing, &garbage}) {
        SCOPED_TRACE(file->name);
        BuildRandom random{9};
        const SourceRegion spot = ChooseSourceRegion(*file, 1.0f, 0, 0.0f, random, nullptr, 1.0f, 0.5f, nullptr, nullptr);
        EXPECT_EQ(spot.sourceOffset, 0.0f);
        EXPECT_FLOAT_EQ(spot.length, 1.15f);  // T + min(0.4, 0.15 T)
        EXPECT_EQ(spot.syncPoint, 0.0f);
        EXPECT_EQ(random.state, 9u);
        EXPECT_TRUE(GetTransientSegments(*file, 2.0f, 0.05f).empty());
        EXPECT_EQ(FindPeakTime(*file, 0.0f, 2.0f), 0.0f);
        EXPECT_EQ(FindOnsetTime(*file, 0.0f, 2.0f), 0.0f);
    }
    EXPECT_TRUE(GetEnergyEnvelope(missing, 20.0f).empty());
    EXPECT_FLOAT_EQ(AutoFadeInLength(missing, 0.0f, 1.0f), 0.02f);
    EXPECT_FLOAT_EQ(AutoFadeOutLength(missing, 0.0f, 1.0f, 0.1f), 0.05f);
    EXPECT_FLOAT_EQ(AutoFadeInLength(silent, 0.0f, 1.0f), 0.02f);
    EXPECT_FLOAT_EQ(AutoFadeOutLength(silent, 0.0f, 1.0f, 0.1f), 0.01f);
}

TEST_F(SourceRegionTest, UsedTransientsLoseTheirWeightAndSpotsKeepAMinimumLength) {
    const LibraryFile file = fixture.Write(3.0, [](double t) {
        return (t >= 0.5 && t < 0.8) || (t >= 2.0 && t < 2.3) ? 0.8f : 0.0f;
    });
    const std::vector<TransientSegment> segments = GetTransientSegments(file, 3.0f, 0.05f);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_NEAR(segments[0].start, 0.5f, 0.03f);
    EXPECT_NEAR(segments[1].end, 2.3f, 0.03f);

    // u = 0.5 picks the first of two equal segments; once the first is used
    // it keeps 2 % of its weight and the same draw lands on the second.
    BuildRandom probe{0};
    std::uint32_t seed = 0;
    for (; seed < 1000; ++seed) {
        probe.state = seed;
        const float u = probe.Next();
        if (u > 0.3f && u < 0.5f) break;
    }
    const std::vector<UsedSound> used = {{file.path, 0.45f, 0.4f, 0.0f, 0}};
    const std::vector<UsedSound> otherFile = {{"/elsewhere.wav", 0.45f, 0.4f, 0.0f, 0}};
    BuildRandom a{seed}, b{seed}, c{seed};
    EXPECT_LT(ChooseSourceRegion(file, 0.2f, 0, 0.0f, a, nullptr, 1.0f, 0.5f, nullptr, nullptr).sourceOffset, 1.0f);
    EXPECT_GT(ChooseSourceRegion(file, 0.2f, 0, 0.0f, b, nullptr, 1.0f, 0.5f, &used, nullptr).sourceOffset, 1.5f);
    EXPECT_LT(ChooseSourceRegion(file, 0.2f, 0, 0.0f, c, nullptr, 1.0f, 0.5f, &otherFile, nullptr).sourceOffset, 1.0f);

    BuildRandom random{5};
    EXPECT_FLOAT_EQ(ChooseSourceRegion(file, 0.001f, 0, 0.0f, random, nullptr, 1.0f, 0.5f, nullptr, nullptr).length, 0.04f);
}

TEST_F(SourceRegionTest, PeakOnsetAndEnvelope) {
    // A quiet start at 0.1 s that swells to its peak at 0.6 s.
    const LibraryFile file = fixture.Write(1.0, [](double t) {
        if (t < 0.1) return 0.0f;
        if (t < 0.6) return static_cast<float>(0.1 + 0.8 * (t - 0.1) / 0.5);
        return 0.2f;
    });
    EXPECT_NEAR(FindPeakTime(file, 0.0f, 1.0f), 0.6f, 0.002f);
    EXPECT_NEAR(FindPeakTime(file, 0.5f, 0.5f), 0.1f, 0.002f);  // measured from the window's start
    // The first 2 ms block at 20 % of the loudest: 0.1 + 0.5 × (0.18 − 0.1) / 0.8.
    EXPECT_NEAR(FindOnsetTime(file, 0.0f, 1.0f), 0.15f, 0.01f);

    const std::vector<float> envelope = GetEnergyEnvelope(file, 20.0f);
    ASSERT_EQ(envelope.size(), 20u);
    EXPECT_EQ(envelope[0], 0.0f);
    EXPECT_GT(envelope[11], envelope[5]);
    // A cached envelope comes back whatever rate is asked.
    EXPECT_EQ(GetEnergyEnvelope(file, 100.0f), envelope);
    // Windows beyond the file are clamped to it.
    EXPECT_EQ(FindPeakTime(file, -1e30f, 1e30f), FindPeakTime(file, 0.0f, 1.0f));
    EXPECT_EQ(FindPeakTime(file, 5.0f, 1.0f), 0.0f);
}

TEST_F(SourceRegionTest, FadeLengthRules) {
    const LibraryFile sharp = fixture.Write(2.0, [](double) { return 0.8f; });
    const LibraryFile swell = fixture.Write(2.0, [](double t) { return static_cast<float>(std::min(1.0, t)); });
    const LibraryFile late = fixture.Write(2.0, Burst(0.4, 2.0));
    const LibraryFile decay = fixture.Write(2.0, [](double t) { return static_cast<float>(std::exp(-6.0 * t)); });
    struct InCase {
        const char* name;
        const LibraryFile* file;
        float length;
        float fade;
        float tolerance;
    };
    const std::vector<InCase> fadeIns = {
        {"too short to fade", &sharp, 0.01f, 0.005f, 0.0f},
        {"a sharp start", &sharp, 1.0f, 0.008f, 0.0f},
        // onset 0.15 s, rise to 80 % at 0.8 s: 0.15 + 0.4 × 0.65.
        {"a slow swell", &swell, 2.0f, 0.41f, 0.02f},
        {"a late start capped by 45 % of the length", &late, 0.5f, 0.225f, 0.0f},
    };
    for (const InCase& c : fadeIns) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(AutoFadeInLength(*c.file, 0.0f, c.length), c.fade, c.tolerance + 1e-6f);
    }

    // A sync point within 0.02 s of the end leaves no tail to fade.
    EXPECT_FLOAT_EQ(AutoFadeOutLength(sharp, 0.0f, 1.0f, 0.99f), 0.01f);
    // A steady tail fades over 70 % of itself, at most 0.85 of it and 3 s.
    EXPECT_NEAR(AutoFadeOutLength(sharp, 0.0f, 2.0f, 0.0f), 1.4f, 0.001f);
    // A tail that ends quietly fades from its last tenth-of-peak point on.
    const float quiet = AutoFadeOutLength(decay, 0.0f, 2.0f, 0.0f);
    const double last10 = std::log(10.0) / 6.0;  // where exp(-6 t) falls to 0.1
    EXPECT_NEAR(quiet, 0.7 * (2.0 - last10) + 0.02, 0.02);
    for (float tail : {0.05f, 0.5f, 2.0f}) {
        const float fade = AutoFadeOutLength(sharp, 0.0f, tail, 0.0f);
        EXPECT_LE(fade, std::max(0.02f, 0.85f * tail) + 1e-6f) << tail;
    }
}

TEST_F(SourceRegionTest, CachedSegmentsAreReturnedUntilCleared) {
    const LibraryFile file = fixture.Write(1.0, Burst(0.2, 0.4));
    const std::vector<TransientSegment> first = GetTransientSegments(file, 1.0f, 0.05f);
    ASSERT_EQ(first.size(), 1u);
    // Rewritten on disk: the cache still answers, whatever the arguments.
    ASSERT_TRUE(test::WriteSoundFile(file.path, std::vector<float>(kRate, 0.0f), 1, kRate));
    const std::vector<TransientSegment> cached = GetTransientSegments(file, 99.0f, 3.0f);
    ASSERT_EQ(cached.size(), 1u);
    EXPECT_EQ(cached[0].start, first[0].start);
    EXPECT_EQ(cached[0].end, first[0].end);
    ClearSourceRegionCaches();
    EXPECT_TRUE(GetTransientSegments(file, 1.0f, 0.05f).empty());
}

TEST_F(SourceRegionTest, AClearDuringReadsFreesNothingAReaderHolds) {
    const LibraryFile file = fixture.Write(0.5, Burst(0.1, 0.3));
    std::atomic<bool> stop{false};
    std::thread clearer([&] {
        while (!stop.load()) ClearSourceRegionCaches();
    });
    for (int i = 0; i < 200; ++i) {
        const std::vector<TransientSegment> segments = GetTransientSegments(file, 0.5f, 0.05f);
        ASSERT_EQ(segments.size(), 1u);
        EXPECT_EQ(GetEnergyEnvelope(file, 20.0f).size(), 10u);
    }
    stop.store(true);
    clearer.join();
}

TEST(BinEnvelope, MeansPerBinScaledToTheLargest) {
    const std::vector<float> envelope = {1.0f, 1.0f, 2.0f, 2.0f, 4.0f, 4.0f, 0.0f, 0.0f};
    float bins[4];
    BinEnvelope(envelope, 8.0f, 0.0f, 8.0f, bins, 4);
    EXPECT_FLOAT_EQ(bins[0], 0.25f);
    EXPECT_FLOAT_EQ(bins[2], 1.0f);
    EXPECT_FLOAT_EQ(bins[3], 0.0f);
    // Bins narrower than one point take the single point they start in.
    BinEnvelope(envelope, 8.0f, 4.0f, 1.0f, bins, 4);
    for (float b : bins) EXPECT_FLOAT_EQ(b, 1.0f);
    BinEnvelope({}, 8.0f, 0.0f, 8.0f, bins, 4);
    for (float b : bins) EXPECT_EQ(b, 0.0f);
    BinEnvelope(envelope, 0.0f, 0.0f, 8.0f, bins, 4);
    for (float b : bins) EXPECT_EQ(b, 0.0f);
}

TEST(ResampleCurve, ScaleDoesNotChangeTheShape) {
    CurvePoints ramp;
    for (int i = 0; i < kCurvePoints; ++i) ramp[i] = static_cast<float>(i) / 255.0f;
    float a[16], b[16];
    ResampleCurve(ramp, 1.0f, a, 16);
    ResampleCurve(ramp, 7.0f, b, 16);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], 1e-6f);
    EXPECT_FLOAT_EQ(a[15], 1.0f);
    EXPECT_NEAR(a[0], (0.5f / 16.0f) / (15.5f / 16.0f), 1e-5f);
}

}  // namespace
}  // namespace korvel
