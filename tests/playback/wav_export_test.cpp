#include "playback/wav_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dsp/limiter.h"
#include "playback/playback_engine.h"
#include "project/layer.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;

// What an independent walk of a file's RIFF chunks finds.
struct RiffFacts {
    bool riff = false;
    int formatTag = 0;
    int channels = 0;
    int bits = 0;
    std::uint32_t channelMask = 0;
    bool hasBext = false;
    std::uint64_t timeReference = 0;
    std::string description;
    std::uint64_t frames = 0;
};

std::uint32_t Le(const std::string& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

RiffFacts WalkRiff(const std::string& path) {
    RiffFacts facts;
    const std::string b = test::ReadBytes(path);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return facts;
    facts.riff = true;
    std::size_t at = 12;
    int blockAlign = 1;
    while (at + 8 <= b.size()) {
        const std::string id = b.substr(at, 4);
        const std::uint32_t size = Le(b, at + 4, 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            facts.formatTag = static_cast<int>(Le(b, body, 2));
            facts.channels = static_cast<int>(Le(b, body + 2, 2));
            blockAlign = static_cast<int>(Le(b, body + 12, 2));
            facts.bits = static_cast<int>(Le(b, body + 14, 2));
            if (facts.formatTag == 0xFFFE && size >= 24) facts.channelMask = Le(b, body + 20, 4);
        } else if (id == "bext") {
            facts.hasBext = true;
            facts.description = std::string(b.c_str() + body);
            facts.timeReference = Le(b, body + 338, 4) | (static_cast<std::uint64_t>(Le(b, body + 342, 4)) << 32);
        } else if (id == "data") {
            facts.frames = size / static_cast<std::uint32_t>(std::max(blockAlign, 1));
        }
        at = body + size + (size & 1);
    }
    return facts;
}

// A ready engine with voices of constant signal, and their layers.
struct Session {
    std::unique_ptr<PlaybackEngine> engine = std::make_unique<PlaybackEngine>();
    std::vector<LayerResult> results;
    TrackLayout tracks;

    Session() {
        PrepareVoices(*engine, kRate, 16);
        PrepareLimiterSettings(engine->limiter, kRate);
        engine->ready.store(true);
    }

    // A mono layer of `seconds` at `start` with a level of 0.1.
    void Add(const std::string& name, float start, float seconds, int group = 1, int track = 0, float azimuth = 0.0f) {
        LayerResult layer;
        layer.name = name;
        layer.startTime = start;
        layer.duration = seconds;
        layer.group = group;
        layer.track = track;
        results.push_back(layer);
        Voice voice;
        voice.frameCount = static_cast<std::int32_t>(std::lround(seconds * kRate));
        voice.samplesL.assign(static_cast<std::size_t>(voice.frameCount), 0.1f);
        voice.startTime = start;
        voice.duration = seconds;
        voice.group = group;
        voice.azimuth = azimuth;
        voice.resultIndex = static_cast<std::int32_t>(results.size() - 1);
        AppendVoice(*engine, std::move(voice), 0.04f, 0.05f);
        engine->ready.store(true);
    }

    std::int32_t Export(const std::string& out, ExportWavOptions options, float rangeStart = -1.0f,
                        float rangeEnd = -1.0f, bool* rolledBack = nullptr, float duration = 30.0f) const {
        return ExportWAV(out, results, *engine, kRate, tracks, duration, options, rangeStart, rangeEnd, rolledBack);
    }
};

ExportWavOptions Options(ExportWavKind kind, const std::string& base, int layout = 0) {
    ExportWavOptions options;
    options.kind = kind;
    options.baseName = base;
    options.layoutIndex = layout;
    options.startTimecodeSeconds = 3600.0f;
    return options;
}

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

TEST(WavExport, TimeReferencesFormatsAndMasksReadBackByAWalkOfTheFile) {
    test::TempDir dir;
    Session session;
    session.Add("Door", 12.5f, 1.0f);
    const std::string out = dir.path().string();

    EXPECT_EQ(session.Export(out, Options(ExportWavKind::Mix, "Mix"), 10.0f, 20.0f), 1);
    const RiffFacts mix = WalkRiff(out + "/Mix.wav");
    EXPECT_TRUE(mix.riff);
    EXPECT_EQ(mix.bits, 24);
    EXPECT_EQ(mix.channels, 2);
    EXPECT_EQ(mix.frames, 480000u);
    EXPECT_TRUE(mix.hasBext);
    EXPECT_EQ(mix.timeReference, 173280000u) << "(3,600 s + the work area's 10 s) x 48,000";
    EXPECT_EQ(mix.description, "Mix");

    EXPECT_EQ(session.Export(out, Options(ExportWavKind::Clips, "Cue"), 10.0f, 20.0f), 1);
    const RiffFacts clip = WalkRiff(out + "/Clips/Cue - Door.wav");
    EXPECT_EQ(clip.timeReference, 173400000u) << "3,612.5 s x 48,000";
    EXPECT_EQ(clip.frames, 48000u) << "a clip is as long as its voice";
    EXPECT_EQ(clip.description, "Door");

    struct Case {
        int layout;
        const char* base;
        int channels;
        int formatTag;
        std::uint32_t mask;
    };
    const Case cases[] = {{1, "Six", 6, 0xFFFE, 63}, {2, "Twelve", 12, 1, 0}, {3, "Ambi", 4, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        EXPECT_EQ(session.Export(out, Options(ExportWavKind::Mix, c.base, c.layout), 10.0f, 20.0f), 1);
        const RiffFacts facts = WalkRiff(out + "/" + c.base + ".wav");
        EXPECT_EQ(facts.channels, c.channels);
        EXPECT_EQ(facts.formatTag, c.formatTag);
        EXPECT_EQ(facts.channelMask, c.mask);
        EXPECT_EQ(facts.bits, 24);
        EXPECT_EQ(facts.timeReference, 173280000u);
    }
}

TEST(WavExport, NamesAndFoldersOfEveryKind) {
    test::TempDir dir;
    Session session;
    session.tracks.groups[1].trackCount = 8;
    session.tracks.groups[1].usedLanes = 3;
    session.Add("Door", 1.0f, 0.5f, 1, 0);       // FX A track 1
    session.Add("Door", 2.0f, 0.5f, 1, 2);       // FX A track 3
    session.Add("Door/Slam", 3.0f, 0.5f, 1, 0);
    session.Add("Door_2", 4.0f, 0.5f, 1, 2);     // its own name equals a generated one
    session.Add("", 5.0f, 0.5f, 1, 0);
    session.Add("Wind", 0.0f, 2.0f, 2, 8);       // FX B
    session.results[5].track = 8;
    session.tracks.groups[2].usedLanes = 1;
    const fs::path out = dir.path() / "Out";

    EXPECT_EQ(session.Export(out.string(), Options(ExportWavKind::Stems, "Cue 12")), 2)
        << "BG has no voice, so no stem";
    EXPECT_EQ(session.Export(out.string(), Options(ExportWavKind::Tracks, "Cue 12")), 3);
    EXPECT_EQ(session.Export(out.string(), Options(ExportWavKind::Clips, "Cue 12")), 6);
    const std::set<std::string> want = {
        "Cue 12 - FX A.wav", "Cue 12 - FX B.wav", "Tracks", "Tracks/Cue 12 - FX A 01.wav",
        "Tracks/Cue 12 - FX A 03.wav", "Tracks/Cue 12 - FX B 01.wav", "Clips", "Clips/Cue 12 - Door.wav",
        "Clips/Cue 12 - Door_2.wav", "Clips/Cue 12 - Door_Slam.wav", "Clips/Cue 12 - Door_2_2.wav",
        "Clips/Cue 12 - clip.wav", "Clips/Cue 12 - Wind.wav"};
    EXPECT_EQ(Listing(out), want);

    // Base and group names become file names only once made safe.
    test::TempDir other;
    Session unsafe;
    std::snprintf(unsafe.tracks.groups[1].name, sizeof unsafe.tracks.groups[1].name, "%s", "A/B");
    unsafe.Add("x", 0.0f, 0.5f, 1, 0);
    EXPECT_EQ(unsafe.Export(other.path().string(), Options(ExportWavKind::Stems, "Reel 1:2")), 1);
    EXPECT_EQ(Listing(other.path()), (std::set<std::string>{"Reel 1_2 - A_B.wav"}));
    // No base name: the output folder's own name.
    EXPECT_EQ(unsafe.Export((other.path() / "Named").string() + "/", Options(ExportWavKind::Mix, "")), 1);
    EXPECT_TRUE(fs::exists(other.path() / "Named" / "Named.wav"));
}

TEST(WavExport, ALayerOverlappingTheRangeIsCutInTheMixButWholeAsAClip) {
    test::TempDir dir;
    Session session;
    session.Add("Early", 5.0f, 10.0f);
    session.Add("Before", 2.0f, 6.0f);
    const std::string out = dir.path().string();
    EXPECT_EQ(session.Export(out, Options(ExportWavKind::Clips, "C"), 10.0f, 20.0f), 1);
    EXPECT_EQ(WalkRiff(out + "/Clips/C - Early.wav").frames, 480000u);
    EXPECT_FALSE(fs::exists(out + "/Clips/C - Before.wav"));
}

TEST(WavExport, ACentredSurroundMixIsNormalisedLikeTheSameMixInStereo) {
    // A mono voice at azimuth 0: the stereo mix carries it at -3 dB in both
    // channels, 5.1 on C alone. Measured on L and R only, the 5.1 mix read
    // as silence and was raised to the clamp.
    test::TempDir dir;
    Session session;
    session.Add("Hum", 0.0f, 4.0f);
    for (float& s : session.engine->voices[0].samplesL) s = 0.0f;
    for (std::size_t i = 0; i < session.engine->voices[0].samplesL.size(); ++i)
        session.engine->voices[0].samplesL[i] = 0.05f * static_cast<float>(std::sin(2.0 * M_PI * 997.0 * i / kRate));
    const std::string out = dir.path().string();
    ExportWavOptions stereo = Options(ExportWavKind::Mix, "Stereo");
    stereo.normalize = true;
    stereo.targetLUFS = -30.0f;
    ExportWavOptions surround = stereo;
    surround.baseName = "Surround";
    surround.layoutIndex = 1;
    ASSERT_EQ(session.Export(out, stereo, -1, -1, nullptr, 4.0f), 1);
    ASSERT_EQ(session.Export(out, surround, -1, -1, nullptr, 4.0f), 1);
    int channels = 0;
    const std::vector<float> two = test::ReadSoundFile(out + "/Stereo.wav", &channels);
    ASSERT_EQ(channels, 2);
    const std::vector<float> six = test::ReadSoundFile(out + "/Surround.wav", &channels);
    ASSERT_EQ(channels, 6);
    double left = 0.0, centre = 0.0;
    for (std::size_t f = kRate; f < 3 * kRate; ++f) {
        left += two[2 * f] * two[2 * f];
        centre += six[6 * f + 2] * six[6 * f + 2];
    }
    EXPECT_NEAR(10.0 * std::log10(centre / (2.0 * left)), 0.0, 0.1) << "C carries what L and R share";
}

TEST(WavExport, AFailedClipsCallLeavesNothingAndAnEarlierExportUntouched) {
    // The fourth clip's name is longer than a file name may be.
    const std::string tooLong(300, 'x');
    struct Case {
        const char* name;
        bool earlier;
    };
    for (const Case& c : {Case{"into a new folder", false}, Case{"over an earlier export", true}}) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const fs::path out = dir.path() / "Out";
        Session session;
        for (const char* name : {"Door", "Step", "Wind"}) session.Add(name, 1.0f, 0.5f);
        session.Add(tooLong, 1.0f, 0.5f);
        session.Add("Tail", 1.0f, 0.5f);
        std::set<std::string> before;
        if (c.earlier) {
            ASSERT_TRUE(test::WriteBytes((out / "Clips" / "Cue - Door.wav").string(), "earlier door"));
            ASSERT_TRUE(test::WriteBytes((out / "Clips" / "Cue - Wind.wav").string(), "earlier wind"));
            before = Listing(out);
        }
        testing::internal::CaptureStdout();
        bool rolledBack = false;
        EXPECT_EQ(session.Export(out.string(), Options(ExportWavKind::Clips, "Cue"), -1, -1, &rolledBack), 0);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(rolledBack);
        EXPECT_NE(log.find("[Export] Rollback: removed 3 files\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("clips written"), std::string::npos) << log;
        if (c.earlier) {
            EXPECT_EQ(Listing(out), before) << "no temporary left, nothing replaced";
            EXPECT_EQ(test::ReadBytes((out / "Clips" / "Cue - Door.wav").string()), "earlier door");
        } else {
            EXPECT_FALSE(fs::exists(out)) << "the folders the call made are gone";
        }
    }
}

// A folder in the way of one stem: the stem moved before it is taken back,
// the earlier export of its name restored, and nothing reads as written.
TEST(WavExport, AFileThatCannotBeMovedIntoPlaceFailsTheCall) {
    test::TempDir dir;
    const fs::path out = dir.path() / "Out";
    Session session;
    session.Add("Door", 1.0f, 0.5f, 1, 0);  // FX A
    session.Add("Wind", 0.0f, 2.0f, 2, 8);  // FX B
    ASSERT_TRUE(test::WriteBytes((out / "Cue - FX A.wav").string(), "earlier stem"));
    ASSERT_TRUE(test::WriteBytes((out / "Cue - FX B.wav" / "keep").string(), "x"));
    const std::set<std::string> before = Listing(out);

    testing::internal::CaptureStdout();
    bool rolledBack = false;
    EXPECT_EQ(session.Export(out.string(), Options(ExportWavKind::Stems, "Cue"), -1, -1, &rolledBack), 0);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(rolledBack);
    EXPECT_NE(log.find("[Export] Could not move " + (out / "Cue - FX B.wav").string() + " into place"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("written"), std::string::npos) << log;
    EXPECT_EQ(test::ReadBytes((out / "Cue - FX A.wav").string()), "earlier stem");
    EXPECT_EQ(Listing(out), before) << "no temporary left, nothing half committed";

    // The way cleared, the same call replaces the earlier stem and says so after the move.
    fs::remove_all(out / "Cue - FX B.wav");
    testing::internal::CaptureStdout();
    EXPECT_EQ(session.Export(out.string(), Options(ExportWavKind::Stems, "Cue"), -1, -1, &rolledBack), 2);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("[ExportWAV] 2 stems written to"), std::string::npos);
    EXPECT_FALSE(rolledBack);
    EXPECT_EQ(Listing(out), (std::set<std::string>{"Cue - FX A.wav", "Cue - FX B.wav"}));
    EXPECT_TRUE(WalkRiff((out / "Cue - FX A.wav").string()).riff);
}

TEST(WavExport, FoldersThatCannotBeMadeAndNothingToWrite) {
    test::TempDir dir;
    Session session;
    session.Add("Door", 0.0f, 0.5f);
    const std::string file = dir.file("in-the-way");
    ASSERT_TRUE(test::WriteBytes(file, "x"));
    struct Case {
        const char* name;
        std::string out;
        ExportWavKind kind;
        bool ready;
        float duration;
        bool rolledBack;
    };
    const Case cases[] = {
        {"a file where the output folder should be", file, ExportWavKind::Mix, true, 30.0f, true},
        {"a folder below a file", file + "/deeper", ExportWavKind::Mix, true, 30.0f, true},
        {"a file where Clips should be", dir.path().string(), ExportWavKind::Clips, true, 30.0f, true},
        {"the engine not ready", dir.file("a"), ExportWavKind::Mix, false, 30.0f, false},
        {"an empty range", dir.file("b"), ExportWavKind::Mix, true, 0.0f, false},
    };
    ASSERT_TRUE(test::WriteBytes(dir.file("Clips"), "x"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.engine->ready.store(c.ready);
        bool rolledBack = !c.rolledBack;
        testing::internal::CaptureStdout();
        EXPECT_EQ(session.Export(c.out, Options(c.kind, "Cue"), -1, -1, &rolledBack, c.duration), 0);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rolledBack, c.rolledBack);
        EXPECT_EQ(log.rfind("[Export] ", 0), 0u) << log;
        if (!c.rolledBack) {
            EXPECT_FALSE(fs::exists(c.out)) << "a folder made for nothing is removed";
        }
    }
}

TEST(WavExport, MoreThanAnHourFailsBeforeAnyBufferIsMade) {
    if (test::UnderSanitizer()) GTEST_SKIP() << "shadow memory does not fit an address-space limit";
    test::TempDir dir;
    Session session;
    session.Add("Door", 0.0f, 0.5f);
    for (int layout : {0, 2}) {
        SCOPED_TRACE(layout);
        // Two hours of 7.1.4 would ask for 2.6 GiB; the child may map 768 MiB.
        const test::ChildOutcome outcome = test::RunInChild(
            [&] {
                bool rolledBack = false;
                const int written = session.Export(dir.path().string(), Options(ExportWavKind::Mix, "Long", layout),
                                                   -1, -1, &rolledBack, 7200.0f);
                return written == 0 && rolledBack ? 0 : 1;
            },
            768ull << 20);
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, 0);
    }
}

}  // namespace
}  // namespace korvel
