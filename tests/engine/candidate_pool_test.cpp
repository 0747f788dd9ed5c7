#include "engine/candidate_pool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "build_fixture.h"
#include "library/library.h"
#include "project/project.h"

namespace korvel {
namespace {

using test::MakeFile;
using test::MakePalette;

std::vector<std::string> PoolNames(const CandidatePool& pool) {
    std::vector<std::string> names;
    for (const LibraryFile* file : pool) names.push_back(file->name);
    return names;
}

// The worked example: one file against a Spot request of 1 s at tone 0.5.
float ScoreExample(const std::vector<KeywordTerm>& terms, const BandWeights* profile = nullptr,
                   float meanNoisiness = -1.0f, std::int32_t layersSoFar = 0) {
    LibraryFile file = MakeFile("door_slam", 1.2f);
    file.description = "heavy wooden";
    return ScoreSound(file, 0.5f, 1.0f, KindValue(EventKind::Spot), terms, 0.7f, profile, meanNoisiness,
                      layersSoFar);
}

TEST(ScoreSound, WorkedExampleUnkeyedKeyedAndUnmatched) {
    EXPECT_NEAR(ScoreExample({}), 59.08f, 0.05f);
    EXPECT_NEAR(ScoreExample({{"door", kKeywordOptional}}), 92.62f, 0.05f);
    EXPECT_NEAR(ScoreExample({{"wind", kKeywordOptional}}), 7.41f, 0.02f);
}

TEST(ScoreSound, KeywordGateAndStrengths) {
    struct Case {
        const char* name;
        std::vector<KeywordTerm> terms;
        bool rejected;
    };
    const std::vector<Case> cases = {
        {"required found only in the description passes", {{"wooden", kKeywordRequired}}, false},
        {"required missing everywhere rejects", {{"glass", kKeywordRequired}}, true},
        {"excluded found only in the path rejects", {{"lib", kKeywordExcluded}}, true},
        {"excluded missing passes", {{"glass", kKeywordExcluded}}, false},
        {"one-letter required never matches, so rejects", {{"a", kKeywordRequired}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const float score = ScoreExample(c.terms);
        if (c.rejected) EXPECT_EQ(score, 0.0f);
        else EXPECT_GT(score, 0.0f);
    }
    // A name match counts more than a description match; only excluded
    // terms leave h at 0, so the score drops to 0.15 of the keyed value.
    EXPECT_GT(ScoreExample({{"door", kKeywordOptional}}), ScoreExample({{"wooden", kKeywordOptional}}));
    EXPECT_NEAR(ScoreExample({{"glass", kKeywordExcluded}}), ScoreExample({{"wind", kKeywordOptional}}), 1e-4f);
}

TEST(ScoreSound, SpectralWeightGateAndLayeringAndVariety) {
    LibraryFile far = MakeFile("far");
    far.spectralWeight = 0.95f;  // 0.45 from 0.8 w + 0.1 at w 0.5
    EXPECT_EQ(ScoreSound(far, 0.5f, 1.0f, 0, {}, 0.7f, nullptr, -1.0f, 0), 0.0f);

    // A mix that is already full where the file is loud costs score; one
    // that is thin there earns it.
    const BandWeights fullMid = {0.0f, 0.2f, 1.0f, 0.2f, 0.0f};
    const BandWeights fullAir = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    EXPECT_LT(ScoreExample({}, &fullMid), ScoreExample({}, &fullAir));

    // Three layers that all sound alike get the variety penalty.
    EXPECT_LT(ScoreExample({}, nullptr, 0.45f, 2), ScoreExample({}, nullptr, 0.45f, 1));
}

TEST(ScoreSound, BadNumbersNeverGiveANegativeOrNonFiniteScore) {
    LibraryFile file = MakeFile("odd");
    file.crestDb = std::numeric_limits<float>::quiet_NaN();
    file.duration = 0.0f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float duration : {0.0f, -3.0f, 1e30f, nan}) {
        for (std::int32_t kind = 0; kind < kEventKindCount; ++kind) {
            const float score = ScoreSound(file, 0.5f, duration, kind, {}, 0.5f, nullptr, -1.0f, 0);
            EXPECT_TRUE(std::isfinite(score) && score >= 0.0f) << duration << " kind " << kind;
        }
    }
    const LibraryFile plain = MakeFile("plain", 0.0f);
    EXPECT_TRUE(std::isfinite(ScoreSound(plain, 0.5f, 0.0f, 0, {}, 0.5f, nullptr, -1.0f, 0)));
}

TEST(ScoreCandidates, BansThresholdFallbackAndLimit) {
    std::vector<LibraryFile> files = {MakeFile("a"), MakeFile("b"), MakeFile("c")};
    files[0].fileId = "00000000000000aa";
    files[1].fileId = "";
    CandidatePool pool = {&files[0], &files[1], &files[2]};
    Project project;

    auto names = [&](float w, const std::vector<KeywordTerm>& terms, std::int32_t max) {
        std::vector<std::string> out;
        for (const ScoredCandidate& c : ScoreCandidates(project, pool, w, 1.0f, 0, terms, max, 0.5f, nullptr, -1.0f, 0))
            out.push_back(c.file->name);
        return out;
    };
    EXPECT_EQ(names(0.5f, {}, 8).size(), 3u);
    EXPECT_TRUE(names(0.5f, {}, 0).empty());
    EXPECT_EQ(names(0.5f, {}, 2).size(), 2u);

    // A banned id rejects the file whatever its path; a file without an id
    // is banned by path only.
    project.bannedFileIds = {"00000000000000aa"};
    project.bannedFiles = {"/elsewhere/a.wav", files[1].path};
    EXPECT_EQ(names(0.5f, {}, 8), std::vector<std::string>{"c"});
    project.bannedFiles.push_back(files[2].path);
    EXPECT_TRUE(names(0.5f, {}, 8).empty());
    project = Project{};

    // Every file rejected by the keyword gate: the first file comes back
    // alone with score 0.01.
    const auto rejected = ScoreCandidates(project, pool, 0.5f, 1.0f, 0, {{"glass", kKeywordRequired}}, 8, 0.5f,
                                          nullptr, -1.0f, 0);
    ASSERT_EQ(rejected.size(), 1u);
    EXPECT_EQ(rejected[0].file, &files[0]);
    EXPECT_FLOAT_EQ(rejected[0].score, 0.01f);

    // Scores at or below 5 are not kept unless the best is the fallback:
    // a query matching nothing scores near 7.4 for one file and far less
    // when the tone is off, so only the best one comes back.
    LibraryFile low = MakeFile("low");
    low.spectralWeight = 0.1f;
    CandidatePool mixed = {&low, &files[2]};
    const float lowScore = ScoreSound(low, 0.5f, 1.0f, 0, {{"wind", 0}}, 0.5f, nullptr, -1.0f, 0);
    ASSERT_GT(lowScore, 0.0f);
    ASSERT_LE(lowScore, 5.0f);
    const auto kept = ScoreCandidates(project, mixed, 0.5f, 1.0f, 0, {{"wind", 0}}, 8, 0.5f, nullptr, -1.0f, 0);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].file, &files[2]);
    const auto lowOnly = ScoreCandidates(project, CandidatePool{&low}, 0.5f, 1.0f, 0, {{"wind", 0}}, 8, 0.5f,
                                         nullptr, -1.0f, 0);
    ASSERT_EQ(lowOnly.size(), 1u);
    EXPECT_FLOAT_EQ(lowOnly[0].score, lowScore);

    EXPECT_TRUE(ScoreCandidates(project, {}, 0.5f, 1.0f, 0, {}, 8, 0.5f, nullptr, -1.0f, 0).empty());
}

TEST(GatherCandidateFiles, FiltersGroupsAndRenamedPalettes) {
    std::vector<Palette> palettes = {
        MakePalette("Impacts", {MakeFile("hit")}, 1),
        MakePalette("Winds", {MakeFile("wind")}, 0),
        MakePalette("Any", {MakeFile("tone")}, -1),
        MakePalette("Off", {MakeFile("off")}, -1),
    };
    palettes[0].name = "Hits";
    palettes[0].previousNames = {"Impacts"};
    palettes[3].enabled = false;

    struct Case {
        const char* name;
        std::int32_t group;
        const char* filter;
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {"no filter, group 1", 1, nullptr, {"hit", "tone"}},
        {"empty filter is no filter", 0, "", {"wind", "tone"}},
        {"any group takes every group", -1, nullptr, {"hit", "wind", "tone"}},
        {"~none~ gives nothing", -1, "~none~", {}},
        {"old name still selects the renamed palette", 1, "Impacts", {"hit"}},
        {"blanks trimmed, other group's palette left out", 1, " Winds , Any ", {"tone"}},
        {"case counts", -1, "hits", {}},
        {"runs of commas and blank items", -1, ",, ,Hits,,", {"hit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PoolNames(GatherCandidateFiles(palettes, c.group, c.filter)), c.files);
    }

    // A file in two palettes enters twice.
    palettes.push_back(MakePalette("Copy", {MakeFile("tone")}, -1));
    EXPECT_EQ(GatherCandidateFiles(palettes, 2, nullptr).size(), 2u);
}

TEST(RepetitionFactor, PenaltiesByCountAndDistance) {
    const std::string path = "/lib/a.wav";
    auto uses = [&](std::vector<float> times) {
        std::vector<UsedSound> list;
        for (float t : times) list.push_back({path, 0.0f, 1.0f, t, 0});
        return list;
    };
    struct Case {
        const char* name;
        std::vector<UsedSound> thisEvent;
        std::vector<UsedSound> inBuild;
        std::uint64_t group;
        float factor;
    };
    std::vector<UsedSound> otherChannel = {{"/lib/a_R.wav", 0.0f, 1.0f, 10.0f, 77}};
    const std::vector<Case> cases = {
        {"already in this event", uses({10.0f}), {}, 0, 0.0f},
        {"other channel of the same set in this event", otherChannel, {}, 77, 0.0f},
        {"same set in another event counts by path", {}, otherChannel, 77, 1.0f},
        {"empty build list", {}, {}, 0, 1.0f},
        {"used once 20 s away", {}, uses({30.0f}), 0, 0.75f},
        {"used twice, the nearer 4 s away", {}, uses({14.0f, 40.0f}), 0, 0.1f},
        {"used four times, the nearest 2 s away", {}, uses({12.0f, 30.0f, 40.0f, 50.0f}), 0, 0.03f},
        {"used once 8 s away", {}, uses({2.0f}), 0, 0.375f},
        {"other files only", {}, otherChannel, 0, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(RepetitionFactor(path, c.thisEvent, c.inBuild, 10.0f, c.group), c.factor, 1e-6f);
    }
}

TEST(FindSimilarSounds, ReferenceFirstThenNearestFive) {
    std::vector<LibraryFile> files;
    for (int i = 0; i < 8; ++i) {
        LibraryFile file = MakeFile("f" + std::to_string(i));
        file.brightness = 0.1f * static_cast<float>(i);
        files.push_back(file);
    }
    files[7].bandEnergies = {1.0f, 1.0f, 0.0f, 0.0f, 0.0f};  // far away
    files[7].crestDb = 60.0f;
    CandidatePool pool;
    for (const LibraryFile& file : files) pool.push_back(&file);

    const CandidatePool similar = FindSimilarSounds(pool, files[3].path);
    ASSERT_EQ(similar.size(), 6u);
    EXPECT_EQ(similar[0], &files[3]);
    for (const LibraryFile* file : similar) EXPECT_NE(file, &files[7]);
    EXPECT_TRUE(similar[1] == &files[2] || similar[1] == &files[4]);

    EXPECT_EQ(FindSimilarSounds(pool, "/nowhere.wav"), pool);
    EXPECT_EQ(FindSimilarSounds(CandidatePool{&files[0]}, files[0].path), CandidatePool{&files[0]});
    EXPECT_TRUE(FindSimilarSounds({}, files[0].path).empty());
}

TEST(CosineSimilarity, LimitsAndDegenerateArrays) {
    const float a[3] = {1.0f, 2.0f, 3.0f};
    const float minusA[3] = {-1.0f, -2.0f, -3.0f};
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    const float b[3] = {3.0f, 0.0f, 1.0f};
    EXPECT_NEAR(CosineSimilarity(a, a, 3), 1.0f, 1e-6f);
    EXPECT_EQ(CosineSimilarity(a, minusA, 3), 0.0f);
    EXPECT_EQ(CosineSimilarity(zero, a, 3), 0.0f);
    EXPECT_EQ(CosineSimilarity(a, b, 0), 0.0f);
    EXPECT_NEAR(CosineSimilarity(a, b, 3), 6.0f / std::sqrt(14.0f * 10.0f), 1e-6f);
}

}  // namespace
}  // namespace korvel
