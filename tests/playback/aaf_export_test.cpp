// The AAF export end to end: essence files read back with libsndfile and a
// walk of their RIFF chunks, the AAF file with the independent reader of
// aaf_session_reader.h, and the clip list handed to the writer.
#include "playback/aaf_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "aaf_session_reader.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/event.h"
#include "project/layer.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;
constexpr std::int64_t kHour = std::int64_t{3600} * kRate;  // the start timecode in samples

std::uint64_t Le(const std::string& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

// The broadcast extension of a WAVE file, found by walking its chunks.
struct Bext {
    bool found = false;
    std::string description;
    std::uint64_t timeReference = 0;
};

Bext WalkBext(const std::string& path) {
    Bext bext;
    const std::string b = test::ReadBytes(path);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return bext;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        const std::uint64_t size = Le(b, at + 4, 4);
        if (id == "bext" && at + 8 + 346 <= b.size()) {
            bext.found = true;
            bext.description = std::string(b.c_str() + at + 8);
            bext.timeReference = Le(b, at + 8 + 338, 8);
        }
        at += 8 + size + (size & 1);
    }
    return bext;
}

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.insert(entry.path().filename().string());
    return names;
}

std::int64_t Frames(const std::string& path) {
    int channels = 0;
    const std::vector<float> samples = test::ReadSoundFile(path, &channels);
    return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : -1;
}

TEST(AAFExportNames, EssenceNamesSuffixesSnappingRangeAndBaseName) {
    struct NameCase {
        const char* name;
        std::string tag;
        int index;
        bool wholeSource;
        std::string layerName, suffix, want;
    };
    const std::string longName(300, 'n');
    const std::vector<NameCase> names = {
        {"plain", "BG1", 7, false, "door", "", "BG1_007_door.wav"},
        {"forbidden characters", "BG1", 0, false, "a/b:c", "", "BG1_000_a_b_c.wav"},
        {"every forbidden character", "FX A3", 12, false, "x/\\:*?\"<>|y", ".R", "FX A3_012_x_________y.R.wav"},
        {"whole source with a suffix", "FX B2", 3, true, "wind", ".Ls", "FX B2_003_src_wind.Ls.wav"},
        {"an index past three digits", "T1", 1234, false, "z", "", "T1_1234_z.wav"},
    };
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AAFEssenceName(c.tag, c.index, c.wholeSource, AAFClipName(c.layerName), c.suffix), c.want);
    }
    // Long names are cut in the clip name only; the temporary fits too.
    struct LongCase {
        const char* name;
        std::string clip, suffix;
    };
    const std::vector<LongCase> longs = {
        {"ascii with a channel suffix", longName, ".R"},
        {"two-byte characters are not split", std::string(), ".Ltf"},
    };
    for (LongCase c : longs) {
        SCOPED_TRACE(c.name);
        if (c.clip.empty())
            for (int i = 0; i < 200; ++i) c.clip += "\xC3\xA9";
        const std::string name = AAFEssenceName("FX A1", 5, true, c.clip, c.suffix);
        const std::string temporary = fs::path(ExportRollback::TemporaryPath("/x/" + name)).filename().string();
        EXPECT_LE(temporary.size(), 255u);
        EXPECT_GT(name.size(), 200u);
        EXPECT_EQ(name.rfind("FX A1_005_src_", 0), 0u);
        EXPECT_EQ(name.substr(name.size() - c.suffix.size() - 4), c.suffix + ".wav");
        const std::string kept = name.substr(14, name.size() - 14 - c.suffix.size() - 4);
        EXPECT_EQ(c.clip.rfind(kept, 0), 0u) << "the clip name's start is kept";
    }

    ChannelMap mono;
    mono.roles = {ChannelRole::C};
    ChannelMap surround;
    surround.roles = {ChannelRole::L, ChannelRole::R, ChannelRole::C, ChannelRole::LFE, ChannelRole::Ls,
                      ChannelRole::Rs, ChannelRole::Rtr, ChannelRole::None};
    struct SuffixCase {
        const ChannelMap* map;
        int channel;
        std::string want;
    };
    const std::vector<SuffixCase> suffixes = {{&mono, 0, ""},       {&surround, 0, ".L"},  {&surround, 1, ".R"},
                                              {&surround, 3, ".LFE"}, {&surround, 5, ".Rs"}, {&surround, 6, ".Rtr"},
                                              {&surround, 7, ".8"},   {&surround, 9, ".10"}};
    for (const SuffixCase& c : suffixes) EXPECT_EQ(ChannelRoleSuffix(*c.map, c.channel), c.want) << c.channel;

    struct SnapCase {
        std::int64_t s;
        bool snap;
        float fps;
        std::int64_t want;
    };
    const std::vector<SnapCase> snaps = {
        {999, false, 24.0f, 999},  {999, true, 24.0f, 0},     {1000, true, 24.0f, 2000},
        {4100, true, 24.0f, 4000}, {2000, true, 29.97f, 1602}, {-1500, true, 24.0f, 0},
        {777, true, 0.0f, 777},
    };
    for (const SnapCase& c : snaps)
        EXPECT_EQ(SnapToVideoFrame(c.s, c.snap, kRate, c.fps), c.want) << c.s << " at " << c.fps;

    struct RangeCase {
        const char* name;
        float start, duration, rangeStart, rangeEnd;
        bool want;
    };
    const std::vector<RangeCase> ranges = {
        {"no range", 50.0f, 1.0f, -1.0f, -1.0f, true},
        {"ends exactly at the range's start", 8.0f, 2.0f, 10.0f, 20.0f, false},
        {"starts exactly at the range's end", 20.0f, 2.0f, 10.0f, 20.0f, false},
        {"overlaps the start a little", 9.0f, 1.1f, 10.0f, 20.0f, true},
        {"overlaps the end a little", 19.9f, 5.0f, 10.0f, 20.0f, true},
        {"an empty work area exports everything", 50.0f, 1.0f, 20.0f, 10.0f, true},
    };
    for (const RangeCase& c : ranges) {
        LayerResult layer;
        layer.startTime = c.start;
        layer.duration = c.duration;
        EXPECT_EQ(IsInExportRange(layer, c.rangeStart, c.rangeEnd), c.want) << c.name;
    }

    struct BaseCase {
        std::string baseName, folder, want;
    };
    const std::vector<BaseCase> bases = {
        {"Scene4", "/out", "Scene4"}, {"", "/out/Reel2/", "Reel2"}, {"", "/", "Korvel"}, {"a/b", "/out", "a_b"}};
    for (const BaseCase& c : bases) {
        ExportRequest request;
        request.baseName = c.baseName;
        request.outputFolder = c.folder;
        EXPECT_EQ(AAFExportBaseName(request), c.want) << c.folder;
    }
}

// A ready engine with one voice per layer, source files in the temporary
// folder, and a request that exports into it.
class AAFExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        AAFRuntimeLibraryPath = nullptr;
        PrepareVoices(*engine_, kRate, 16);
        engine_->ready.store(true);
        request_.outputFolder = dir_.file("out");
        request_.baseName = "Scene4";
        request_.sampleRate = kRate;
        request_.fps = 24.0f;
        request_.startTimecodeSeconds = 3600;
        request_.totalDuration = 30.0f;
        request_.groupNames = {"BG", "FX A", "FX B"};
        request_.exportWithHandles = true;
        request_.exportSettings.handleDuration = 1.0f;
        request_.exportSettings.exportAAFSourceChannels = false;
        request_.exportFillVirtual = true;
        request_.exportSettings.exportAAFVolAuto = true;
        request_.exportSettings.exportReverbStem = false;
    }

    // A sine file of `seconds` with `channels` channels.
    std::string Source(const std::string& name, double seconds, int channels = 1, double amplitude = 0.5) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, seconds, kRate, channels, amplitude), channels, kRate));
        return path;
    }

    // A layer on FX A's first lane, unless the caller says otherwise.
    static LayerResult Layer(const std::string& name, const std::string& file, float start, float duration) {
        LayerResult layer;
        layer.name = name;
        layer.filepath = file;
        layer.startTime = start;
        layer.duration = duration;
        layer.sourceDuration = duration;
        layer.group = 1;
        layer.groupTrack = 0;
        layer.track = 0;
        layer.eventIdx = -1;
        return layer;
    }

    // The layer and its voice; `frames` 0 means the layer's duration.
    std::int32_t Add(const LayerResult& layer, bool stereoVoice = false, std::int32_t frames = 0) {
        results_.push_back(layer);
        Voice voice;
        voice.frameCount = frames > 0 ? frames : static_cast<std::int32_t>(std::lround(layer.duration * kRate));
        voice.samplesL.assign(static_cast<std::size_t>(voice.frameCount), 0.1f);
        if (stereoVoice) {
            voice.stereo = true;
            voice.samplesR.assign(static_cast<std::size_t>(voice.frameCount), 0.2f);
        }
        voice.startTime = layer.startTime + layer.deconOffset;
        voice.duration = layer.duration;
        voice.group = layer.group;
        voice.resultIndex = static_cast<std::int32_t>(results_.size() - 1);
        voice.resultId = layer.id;
        const auto count = std::min<std::size_t>(layer.fillChunks.size(), kVoiceMaxSplices);
        for (std::size_t k = 0; k < count; ++k) voice.splices[k] = layer.fillChunks[k];
        voice.spliceCount = static_cast<std::int32_t>(count);
        AppendVoice(*engine_, std::move(voice), layer.fadeIn, layer.fadeOut);
        engine_->ready.store(true);
        return static_cast<std::int32_t>(results_.size() - 1);
    }

    bool Export(AAFExportOutput* output = nullptr, std::string* lines = nullptr) {
        testing::internal::CaptureStdout();
        const bool ok = ExportAAF(request_, results_, *engine_, events_, shapes_, reverb_, output);
        const std::string printed = testing::internal::GetCapturedStdout();
        if (lines) *lines = printed;
        return ok;
    }

    // Exports and reads the session back, checking its tracks' names and the
    // clips on each.
    test::session::Session ExportExpectingTracks(const std::vector<std::string>& trackNames,
                                                 const std::vector<std::set<std::string>>& clipsPerTrack) {
        AAFExportOutput out;
        std::string lines;
        EXPECT_TRUE(Export(&out, &lines)) << lines;
        EXPECT_EQ(out.trackNames, trackNames);
        test::session::Session s = test::session::Read(AafFile());
        EXPECT_TRUE(s.file.ok) << s.file.error;
        EXPECT_EQ(s.tracks.size(), clipsPerTrack.size());
        for (std::size_t t = 0; t < std::min(s.tracks.size(), clipsPerTrack.size()); ++t) {
            SCOPED_TRACE(t);
            EXPECT_EQ(s.tracks[t].name, trackNames.at(t));
            std::set<std::string> names;
            for (const test::session::Clip& clip : s.tracks[t].clips) names.insert(clip.name);
            EXPECT_EQ(names, clipsPerTrack[t]);
        }
        return s;
    }

    fs::path AafFolder() const { return fs::path(request_.outputFolder) / "Scene4"; }
    fs::path Essence() const { return AafFolder() / "Audio Files"; }
    std::string AafFile() const { return (AafFolder() / "Scene4.aaf").string(); }

    test::TempDir dir_;
    std::unique_ptr<PlaybackEngine> engine_ = std::make_unique<PlaybackEngine>();
    std::vector<LayerResult> results_;
    std::vector<Event> events_;
    std::vector<UserShape> shapes_;
    ReverbSettings reverb_;
    ExportRequest request_;
};

TEST_F(AAFExportTest, HandlesAreCutAtTheFileEdgesAndTimeReferencesNeverGoBelowZero) {
    const std::string source = Source("four.wav", 4.0);
    struct Case {
        const char* name;
        float sourceOffset, duration, start, handle;
        std::int32_t timecode;
        std::int64_t preHandle, essenceFrames;
        double timeReferenceSeconds;
    };
    const std::vector<Case> cases = {
        {"a region at the file's start has no pre-handle", 0.0f, 1.0f, 2.0f, 1.0f, 3600, 0, 2 * kRate, 3602.0},
        {"handles inside the file", 1.5f, 1.0f, 2.0f, 1.0f, 3600, kRate, 3 * kRate, 3601.0},
        {"the post-handle is cut at the file's end", 3.5f, 0.5f, 2.0f, 1.0f, 3600, kRate, 3 * kRate / 2, 3601.0},
        {"a negative handle gives the whole file", 1.5f, 1.0f, 2.0f, -1.0f, 3600, 3 * kRate / 2, 4 * kRate, 3600.5},
        {"a pre-handle longer than the layer's start", 1.5f, 1.0f, 0.25f, 1.0f, 0, kRate, 3 * kRate, 0.0},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        results_.clear();
        PrepareVoices(*engine_, kRate, 4);
        request_.outputFolder = dir_.file("out" + std::to_string(run++));
        request_.exportSettings.handleDuration = c.handle;
        request_.startTimecodeSeconds = c.timecode;
        LayerResult layer = Layer("hit", source, c.start, c.duration);
        layer.sourceOffset = c.sourceOffset;
        Add(layer);
        AAFExportOutput out;
        std::string lines;
        ASSERT_TRUE(Export(&out, &lines)) << lines;
        ASSERT_EQ(out.clips.clipNames.size(), 1u);
        EXPECT_EQ(out.clips.clipNames[0], "FX A1_000_hit.wav");
        EXPECT_EQ(out.clips.sourceOffsets[0], c.preHandle);
        EXPECT_EQ(out.clips.sourceLengths[0], c.essenceFrames);
        const std::string essence = (Essence() / "FX A1_000_hit.wav").string();
        EXPECT_EQ(Frames(essence), c.essenceFrames);
        const Bext bext = WalkBext(essence);
        ASSERT_TRUE(bext.found);
        EXPECT_NEAR(static_cast<double>(bext.timeReference), c.timeReferenceSeconds * kRate, 1.0);

        const test::session::Session s = test::session::Read(AafFile());
        ASSERT_TRUE(s.file.ok) << s.file.error;
        ASSERT_EQ(s.tracks.size(), 1u);
        EXPECT_EQ(s.tracks[0].name, "FX A 1");
        ASSERT_EQ(s.tracks[0].clips.size(), 1u);
        const test::session::Clip& clip = s.tracks[0].clips[0];
        EXPECT_EQ(clip.sourceOffset, c.preHandle);
        EXPECT_EQ(clip.position, static_cast<std::int64_t>(c.timecode) * kRate + std::llround(c.start * kRate));
        EXPECT_EQ(clip.length, std::llround(c.duration * kRate));
    }
}

TEST_F(AAFExportTest, EssenceAndMobNamesCarryTheFinalNamesAndSkipSilencedLayers) {
    const std::string source = Source("door.wav", 3.0);
    events_.resize(2);
    events_[1].muted = true;
    Add(Layer("a/b:c", source, 1.0f, 0.5f));
    Add(Layer("a/b:c", source, 2.0f, 0.5f));
    LayerResult muted = Layer("muted", source, 3.0f, 0.5f);
    muted.muted = true;
    Add(muted);
    LayerResult dropped = Layer("dropped", source, 3.0f, 0.5f);
    dropped.groupTrack = -1;  // track allocation found no lane for it
    dropped.track = -1;
    Add(dropped);
    LayerResult ofMutedEvent = Layer("event muted", source, 3.0f, 0.5f);
    ofMutedEvent.eventIdx = 1;
    Add(ofMutedEvent);
    LayerResult unrendered = Layer("no voice", source, 3.0f, 0.5f);
    results_.push_back(unrendered);

    std::string lines;
    ASSERT_TRUE(Export(nullptr, &lines)) << lines;
    EXPECT_NE(lines.find("[AAF] writing '" + AafFile() +
                         "'  (essence clips=2, handles=1, fillVirtual=1, aafDir exists=1)\n"),
              std::string::npos)
        << lines;
    const std::set<std::string> want = {"FX A1_000_a_b_c.wav", "FX A1_001_a_b_c.wav"};
    EXPECT_EQ(Listing(Essence()), want) << "no temporaries and no silenced layer's file";
    EXPECT_EQ(Listing(AafFolder()), (std::set<std::string>{"Audio Files", "Scene4.aaf"}));

    const test::session::Session s = test::session::Read(AafFile());
    ASSERT_TRUE(s.file.ok) << s.file.error;
    EXPECT_EQ(s.masterMobs.size(), 2u);
    ASSERT_EQ(s.tracks.size(), 1u) << "the dropped layer's track takes no AAF track";
    ASSERT_EQ(s.tracks[0].clips.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string name = "FX A1_00" + std::to_string(k) + "_a_b_c.wav";
        EXPECT_EQ(s.tracks[0].clips[k].name, name);
        EXPECT_EQ(s.tracks[0].clips[k].locator, MakeFileURL((Essence() / name).string()));
    }
}

TEST_F(AAFExportTest, ChannelSuffixesAndStereoTracksBesideMonoNeighbours) {
    const std::string stereo = Source("stereo.wav", 3.0, 2);
    const std::string mono = Source("mono.wav", 3.0, 1);
    struct Case {
        const char* name;
        bool sourceChannels;
        std::vector<std::string> trackNames;
        std::vector<std::set<std::string>> clipsPerTrack;
    };
    const std::vector<Case> cases = {
        {"source channels: one AAF track per channel, named by role", true,
         {"FX A 1.L", "FX A 1.R", "FX A 2"},
         {{"FX A1_000_pad.L.wav", "FX A1_001_tick.wav"}, {"FX A1_000_pad.R.wav"}, {"FX A2_002_knock.wav"}}},
        {"two channels: the stereo layer's track takes two, the mono one lands on .L", false,
         {"FX A 1.L", "FX A 1.R", "FX A 2"},
         {{"FX A1_000_pad.L.wav", "FX A1_001_tick.wav"}, {"FX A1_000_pad.R.wav"}, {"FX A2_002_knock.wav"}}},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        results_.clear();
        PrepareVoices(*engine_, kRate, 4);
        request_.outputFolder = dir_.file("out" + std::to_string(run++));
        request_.exportSettings.exportAAFSourceChannels = c.sourceChannels;
        LayerResult pad = Layer("pad", stereo, 1.0f, 1.0f);
        pad.stereo = true;
        Add(pad, true);
        Add(Layer("tick", mono, 2.5f, 0.5f));
        LayerResult knock = Layer("knock", mono, 1.0f, 0.5f);
        knock.track = 4;
        knock.groupTrack = 1;
        Add(knock);
        ExportExpectingTracks(c.trackNames, c.clipsPerTrack);
        // Each side of the stereo pair is its own channel of the source.
        const std::vector<float> left = test::ReadSoundFile((Essence() / "FX A1_000_pad.L.wav").string());
        EXPECT_EQ(left.size(), static_cast<std::size_t>(2 * kRate)) << "the region and its post-handle";
    }
}

TEST_F(AAFExportTest, ARenderedStereoPairOfAMonoSourceKeepsBothSidesOnItsOwnTracks) {
    // Source-channel mode sizes a track by its files' channels; a stereo
    // layer written as a rendered pair needs two whatever its source has.
    const std::string mono = Source("mono.wav", 3.0, 1);
    struct Case {
        const char* name;
        std::int32_t procMode;
        bool fillVirtual;
        std::vector<std::string> trackNames;
        std::vector<std::set<std::string>> clipsPerTrack;
    };
    const std::vector<Case> cases = {
        {"an alloy layer", 3, true,
         {"FX A 1.L", "FX A 1.R", "FX A 2"},
         {{"FX A1_000_alloy.L.wav"}, {"FX A1_000_alloy.R.wav"}, {"FX A2_001_knock.wav"}}},
        {"a loop fill without its whole source", 1, false,
         {"FX A 1.L", "FX A 1.R", "FX A 2"},
         {{"FX A1_000_alloy.L.wav"}, {"FX A1_000_alloy.R.wav"}, {"FX A2_001_knock.wav"}}},
        {"a region read per source channel stays mono", 0, true,
         {"FX A 1", "FX A 2"},
         {{"FX A1_000_alloy.wav"}, {"FX A2_001_knock.wav"}}},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        results_.clear();
        PrepareVoices(*engine_, kRate, 4);
        request_.outputFolder = dir_.file("pair" + std::to_string(run++));
        request_.exportSettings.exportAAFSourceChannels = true;
        request_.exportFillVirtual = c.fillVirtual;
        LayerResult alloy = Layer("alloy", mono, 1.0f, 1.0f);
        alloy.stereo = true;
        alloy.procMode = c.procMode;
        Add(alloy, true);
        // The next layer track's clip overlaps the pair in time.
        LayerResult knock = Layer("knock", mono, 1.2f, 0.5f);
        knock.track = 1;
        knock.groupTrack = 1;
        Add(knock);
        const test::session::Session s = ExportExpectingTracks(c.trackNames, c.clipsPerTrack);
        for (const test::session::Track& t : s.tracks) {
            // A fade-in and a fade-out per clip, and no crossfade between
            // clips of different layers (which would take their fades).
            EXPECT_EQ(t.transitions, 2 * static_cast<std::int32_t>(t.clips.size())) << t.name;
        }
    }
}

TEST_F(AAFExportTest, DescriptorsGiveLengthsAndFormatsWithTheEssenceMovedAway) {
    const std::string source = Source("door.wav", 4.0);
    Add(Layer("door", source, 1.0f, 1.0f));
    LayerResult slam = Layer("slam", source, 2.5f, 0.5f);
    slam.sourceOffset = 2.0f;
    Add(slam);
    AAFExportOutput out;
    std::string lines;
    ASSERT_TRUE(Export(&out, &lines)) << lines;
    // Opened on another machine: the essence is not where the locators say.
    fs::rename(Essence(), AafFolder() / "elsewhere");

    const test::session::Session s = test::session::Read(AafFile());
    ASSERT_TRUE(s.file.ok) << s.file.error;
    ASSERT_EQ(s.sourceMobs.size(), 2u);
    for (std::size_t i = 0; i < s.sourceMobs.size(); ++i) {
        SCOPED_TRACE(i);
        const test::aafr::Object* descriptor = test::session::Strong(*s.sourceMobs[i], 0x4701);
        ASSERT_NE(descriptor, nullptr);
        const test::aafr::Property* summary = descriptor->Find(0x3801);  // WAVEDescriptor::Summary
        ASSERT_NE(summary, nullptr);
        ASSERT_EQ(summary->value.size(), 44u);
        EXPECT_EQ(summary->value.substr(0, 4), "RIFF");
        EXPECT_EQ(Le(summary->value, 22, 2), 1u) << "channels";
        EXPECT_EQ(Le(summary->value, 24, 4), static_cast<std::uint64_t>(kRate));
        EXPECT_EQ(Le(summary->value, 34, 2), 24u) << "bits";
        const std::int64_t length = test::session::Int(*descriptor, 0x3002);
        EXPECT_EQ(Le(summary->value, 40, 4), static_cast<std::uint64_t>(length) * 3) << "data bytes";
        const test::aafr::Property* rate = descriptor->Find(0x3001);
        ASSERT_NE(rate, nullptr);
        EXPECT_EQ(Le(rate->value, 0, 4), static_cast<std::uint64_t>(kRate)) << "numerator of the sample rate";
        EXPECT_EQ(Le(rate->value, 4, 4), 1u);
        const std::string name = test::session::Str(*s.sourceMobs[i], 0x4402);
        const auto k = std::find(out.clips.clipNames.begin(), out.clips.clipNames.end(), name);
        ASSERT_NE(k, out.clips.clipNames.end()) << name;
        EXPECT_EQ(length, out.clips.sourceLengths[static_cast<std::size_t>(k - out.clips.clipNames.begin())]);
    }
    ASSERT_EQ(s.tracks.size(), 1u);
    ASSERT_EQ(s.tracks[0].clips.size(), 2u);
    EXPECT_EQ(s.tracks[0].clips[0].length, kRate);
    EXPECT_EQ(s.tracks[0].clips[1].length, kRate / 2);
}

// Every comment marker's comment, as stored.
std::vector<std::u16string> MarkerComments(const test::session::Session& s) {
    std::vector<std::u16string> out;
    for (const test::aafr::Object* slot : test::session::Elements(*s.compositionMobs.at(0), 0x4403)) {
        const test::aafr::Object* segment = test::session::Strong(*slot, 0x4803);
        if (!segment) continue;
        for (const test::aafr::Object* c : test::session::Elements(*segment, 0x1001))
            if (test::session::Is(*c, AUID_AAFCommentMarker))
                out.push_back(test::aafr::DecodeUtf16(c->Find(0x0602)->value));
    }
    return out;
}

// A path from a file URL's percent escapes.
std::string FromFileUrl(const std::string& url) {
    std::string out;
    for (std::size_t i = 7; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            out.push_back(static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(url[i]);
        }
    }
    return out;
}

TEST_F(AAFExportTest, FoldersAndNamesBeyondUtf16AndNotUtf8) {
    const std::string source = Source("door.wav", 3.0);
    struct Case {
        const char* name;
        std::string folder, layer;
        std::u16string mobName;  // of the layer's source and master mobs
    };
    const std::vector<Case> cases = {
        {"a character beyond U+FFFF", "out \xF0\x9F\x94\x8A", "boom \xF0\x9F\x94\x8A",
         u"FX A1_000_boom \U0001F50A.wav"},
        {"a byte that is not UTF-8", "out \xFF\xC3", "bad\xFFname", u"FX A1_000_bad\uFFFDname.wav"},
    };
    request_.exportSettings.exportAAFMarkers = true;
    events_.resize(1);
    events_[0].time = 1.0f;
    events_[0].duration = 1.0f;
    std::snprintf(events_[0].keywords, sizeof events_[0].keywords, "rise \xF0\x9F\x94\x8A");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        results_.clear();
        PrepareVoices(*engine_, kRate, 4);
        request_.outputFolder = dir_.file(c.folder.c_str());
        Add(Layer(c.layer, source, 1.0f, 1.0f));
        std::string lines;
        ASSERT_TRUE(Export(nullptr, &lines)) << lines;
        ASSERT_TRUE(fs::exists(AafFile())) << "the AAF file lies in the folder asked for";

        const test::session::Session s = test::session::Read(AafFile());
        ASSERT_TRUE(s.file.ok) << s.file.error;
        ASSERT_EQ(s.sourceMobs.size(), 1u);
        ASSERT_EQ(s.masterMobs.size(), 1u);
        EXPECT_EQ(test::aafr::DecodeUtf16(s.sourceMobs[0]->Find(0x4402)->value), c.mobName);
        EXPECT_EQ(test::aafr::DecodeUtf16(s.masterMobs[0]->Find(0x4402)->value), c.mobName);
        ASSERT_EQ(s.tracks.size(), 1u);
        ASSERT_EQ(s.tracks[0].clips.size(), 1u);
        const std::string essence = FromFileUrl(s.tracks[0].clips[0].locator);
        EXPECT_TRUE(fs::exists(essence)) << "the locator resolves: " << essence;
        EXPECT_EQ(fs::path(essence).parent_path(), Essence());
        EXPECT_EQ(MarkerComments(s), (std::vector<std::u16string>{u"Spot,1.0,rise \U0001F50A"}));
    }
}

TEST_F(AAFExportTest, LoopFillClipsFollowEverySpliceToTheLayersEnd) {
    const std::string source = Source("loop.wav", 3.0);
    struct Case {
        const char* name;
        std::vector<FillChunk> chunks;
    };
    std::vector<FillChunk> eighty;
    for (int k = 0; k < 80; ++k) eighty.push_back({(k * 997) % 90000, 4800, k == 0 ? 0 : 480});
    const std::vector<Case> cases = {
        {"three splices", {{0, 48000, 0}, {24000, 48000, 4800}, {12000, 48000, 4800}}},
        {"eighty splices, more than a voice keeps", eighty},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        results_.clear();
        PrepareVoices(*engine_, kRate, 4);
        request_.outputFolder = dir_.file("out" + std::to_string(run++));
        std::int64_t total = 0;
        for (const FillChunk& chunk : c.chunks) total += chunk.l - chunk.x;
        LayerResult fill = Layer("fill", source, 2.0f, static_cast<float>(total) / kRate);
        fill.procMode = 1;
        fill.fillChunks = c.chunks;
        fill.fadeIn = 0.01f;
        fill.fadeOut = 0.05f;
        Add(fill, false, static_cast<std::int32_t>(total));
        AAFExportOutput out;
        std::string lines;
        ASSERT_TRUE(Export(&out, &lines)) << lines;
        const std::size_t n = c.chunks.size();
        ASSERT_EQ(out.clips.clipNames.size(), n);
        const std::int64_t p0 = kHour + 2 * kRate;
        const std::int64_t p1 = p0 + total;
        for (std::size_t k = 0; k < n; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(out.clips.clipNames[k], "FX A1_000_src_fill.wav");
            EXPECT_EQ(out.clips.sourceOffsets[k], c.chunks[k].s);
            EXPECT_EQ(out.clips.sourceLengths[k], 3 * kRate);
            EXPECT_EQ(out.clips.fadeIns[k], k == 0 ? 480 : 0) << "only the first clip fades in";
            EXPECT_EQ(out.clips.fadeOuts[k], k == n - 1 ? 2400 : 0) << "only the last clip fades out";
            if (k + 1 < n) {
                // The next clip starts one crossfade before this one ends.
                EXPECT_EQ(out.clips.positions[k + 1], out.clips.positions[k] + out.clips.lengths[k] - c.chunks[k + 1].x);
            }
        }
        EXPECT_EQ(out.clips.positions[0], p0);
        EXPECT_EQ(out.clips.positions[n - 1] + out.clips.lengths[n - 1], p1) << "the last clip ends at the layer's end";

        const test::session::Session s = test::session::Read(AafFile());
        ASSERT_TRUE(s.file.ok) << s.file.error;
        ASSERT_EQ(s.tracks.size(), 1u);
        ASSERT_EQ(s.tracks[0].clips.size(), n);
        EXPECT_EQ(s.tracks[0].clips.front().position, p0);
        EXPECT_EQ(s.tracks[0].clips.back().position + s.tracks[0].clips.back().length, p1);
        for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(s.tracks[0].clips[k].sourceOffset, c.chunks[k].s) << k;
        // The overlaps became dissolves, besides the layer's two fades.
        EXPECT_EQ(s.tracks[0].transitions, static_cast<std::int32_t>(n - 1) + 2);
        const Bext bext = WalkBext((Essence() / "FX A1_000_src_fill.wav").string());
        EXPECT_EQ(bext.timeReference, static_cast<std::uint64_t>(p0)) << "the whole file starts at the layer";
    }
}

TEST_F(AAFExportTest, ReverbPairFollowsTheHighestTrackAndMarkersCoverEveryEvent) {
    const std::string source = Source("hit.wav", 3.0);
    request_.rangeStart = 1.0f;
    request_.rangeEnd = 4.0f;
    request_.exportSettings.exportReverbStem = true;
    request_.exportSettings.exportAAFMarkers = true;
    reverb_.enabled = true;
    // The first track's only layer cannot be read: its AAF track carries no clip.
    Add(Layer("gone", dir_.file("missing.wav"), 1.0f, 1.0f));
    LayerResult hit = Layer("hit", source, 1.5f, 1.0f);
    hit.track = 2;
    hit.groupTrack = 1;
    Add(hit);
    LayerResult outside = Layer("outside", source, 10.0f, 1.0f);
    outside.track = 3;
    outside.groupTrack = 2;
    Add(outside);

    UserShape whoosh;
    std::snprintf(whoosh.name, sizeof whoosh.name, "Whoosh");
    shapes_.push_back(whoosh);
    events_.resize(3);
    events_[0].time = 1.0f;
    events_[0].duration = 1.5f;
    std::snprintf(events_[0].keywords, sizeof events_[0].keywords, "door slam");
    events_[1].shape = KindValue(EventKind::Bloom);
    events_[1].time = 2.0f;
    events_[1].duration = 2.0f;
    events_[1].muted = true;
    events_[2].userShapeIdx = 0;
    events_[2].time = 25.0f;
    events_[2].duration = 0.5f;

    AAFExportOutput out;
    std::string lines;
    ASSERT_TRUE(Export(&out, &lines)) << lines;
    EXPECT_EQ(out.trackNames, (std::vector<std::string>{"FX A 1", "FX A 2", "Reverb.L", "Reverb.R"}));

    // The clips on the AAF tracks; the writer makes slots only for tracks with clips.
    EXPECT_EQ(out.clips.tracks, (std::vector<std::int32_t>{1, 2, 3}));
    const test::session::Session s = test::session::Read(AafFile());
    ASSERT_TRUE(s.file.ok) << s.file.error;
    ASSERT_EQ(s.tracks.size(), 3u);
    ASSERT_EQ(s.tracks[0].clips.size(), 1u) << "the layer outside the range is left out";
    EXPECT_EQ(s.tracks[0].name, "FX A 2");
    EXPECT_EQ(s.tracks[0].clips[0].name, "FX A2_001_hit.wav");
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side);
        const test::session::Track& track = s.tracks[static_cast<std::size_t>(1 + side)];
        EXPECT_EQ(track.name, side == 0 ? "Reverb.L" : "Reverb.R");
        ASSERT_EQ(track.clips.size(), 1u);
        EXPECT_EQ(track.clips[0].name, side == 0 ? "Reverb.L.wav" : "Reverb.R.wav");
        EXPECT_EQ(track.clips[0].position, kHour + kRate);
        EXPECT_EQ(track.clips[0].length, 3 * kRate);
        EXPECT_FALSE(track.clips[0].gainGroup);
        const std::string file = (Essence() / track.clips[0].name).string();
        EXPECT_EQ(Frames(file), 3 * kRate);
        const Bext bext = WalkBext(file);
        EXPECT_EQ(bext.description, side == 0 ? "Reverb L" : "Reverb R");
        EXPECT_EQ(bext.timeReference, static_cast<std::uint64_t>(kHour + kRate));
    }

    const std::vector<std::pair<std::int64_t, std::string>> markers = {
        {kHour + kRate, "Spot,1.5,door slam"}, {kHour + 2 * kRate, "Bloom,2.0"}, {kHour + 25 * kRate, "Whoosh,0.5"}};
    EXPECT_EQ(s.markers, markers) << "muted and out-of-range events keep their markers";
}

TEST_F(AAFExportTest, ClipGainAutomationAndPitchedHandles) {
    const std::string source = Source("four.wav", 4.0);
    struct Case {
        const char* name;
        bool volumeAutomation, intensity, fill, decon;
        float pitch;
        bool present;
        float first, last;  // envelope points 0 and 63
        std::int64_t preHandle, essenceFrames;
    };
    const std::vector<Case> cases = {
        {"no curves", true, false, false, false, 0.0f, false, 0.0f, 0.0f, kRate, 3 * kRate},
        {"the intensity clamped to 0..1", true, true, false, false, 0.0f, true, 0.0f, 1.0f, kRate, 3 * kRate},
        {"intensity times the fill gain", true, true, true, false, 0.0f, true, 0.0f, 0.5f, kRate, 3 * kRate},
        {"the deconfliction gain without volume automation", false, true, false, true, 0.0f, true, 0.25f, 0.25f,
         kRate, 3 * kRate},
        {"an octave up halves the essence and its pre-handle", true, false, false, false, 12.0f, false, 0.0f, 0.0f,
         kRate / 2, 3 * kRate / 2},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        results_.clear();
        PrepareVoices(*engine_, kRate, 4);
        request_.outputFolder = dir_.file("out" + std::to_string(run++));
        request_.exportSettings.exportAAFVolAuto = c.volumeAutomation;
        LayerResult layer = Layer("hit", source, 2.0f, 1.0f);
        layer.sourceOffset = 1.5f;
        layer.pitchShift = c.pitch;
        layer.hasIntGain = c.intensity;
        for (std::size_t k = 0; k < layer.intGain.size(); ++k) layer.intGain[k] = 2.0f * static_cast<float>(k) / 255.0f;
        layer.hasFillGain = c.fill;
        layer.fillGain.fill(0.5f);
        layer.hasDeconGain = c.decon;
        layer.deconGain.fill(0.25f);
        Add(layer);
        engine_->voices.back().gain = 0.5f;
        engine_->voices.back().normGain = 2.0f;
        engine_->voices.back().eventGain = 0.75f;
        AAFExportOutput out;
        std::string lines;
        ASSERT_TRUE(Export(&out, &lines)) << lines;
        ASSERT_EQ(out.clips.clipNames.size(), 1u);
        EXPECT_FLOAT_EQ(out.clips.gains[0], 0.75f) << "the voice's gains multiplied";
        const ClipGainEnvelope& envelope = out.clips.envelopes[0];
        EXPECT_EQ(envelope.present, c.present);
        if (c.present) {
            EXPECT_FLOAT_EQ(envelope.points[0], c.first);
            EXPECT_FLOAT_EQ(envelope.points[63], c.last);
        }
        EXPECT_EQ(out.clips.sourceOffsets[0], c.preHandle);
        EXPECT_EQ(Frames((Essence() / "FX A1_000_hit.wav").string()), c.essenceFrames);
        const test::session::Session s = test::session::Read(AafFile());
        ASSERT_TRUE(s.file.ok) << s.file.error;
        ASSERT_EQ(s.tracks.size(), 1u);
        EXPECT_TRUE(s.tracks[0].clips.at(0).gainGroup);
    }
}

TEST_F(AAFExportTest, AWholeSourceRuleFailingOnItsSecondChannelAddsNothing) {
    const std::string stereo = Source("stereo.wav", 2.0, 2);
    request_.exportSettings.exportAAFSourceChannels = true;
    LayerResult fill = Layer("fill", stereo, 1.0f, 1.0f);
    fill.group = 0;
    fill.procMode = 1;
    fill.fillChunks = {{0, kRate, 0}};
    Add(fill);
    // Something in the way of the right channel's file makes its write fail.
    const fs::path blocked = ExportRollback::TemporaryPath((Essence() / "BG1_000_src_fill.R.wav").string());
    fs::create_directories(blocked);
    ASSERT_TRUE(test::WriteBytes((blocked / "keep").string(), "x"));

    AAFExportOutput out;
    std::string lines;
    ASSERT_TRUE(Export(&out, &lines)) << lines;
    // The whole-file rule of the mixed layer took over, once.
    EXPECT_EQ(out.clips.clipNames, std::vector<std::string>{"BG1_000_src_fill.wav"});
    EXPECT_EQ(out.clips.tracks, std::vector<std::int32_t>{0});
    EXPECT_EQ(Listing(Essence()),
              (std::set<std::string>{"BG1_000_src_fill.wav", blocked.filename().string()}))
        << "the left channel's file went with its rule";
    const test::session::Session s = test::session::Read(AafFile());
    ASSERT_TRUE(s.file.ok) << s.file.error;
    EXPECT_EQ(s.masterMobs.size(), 1u);
    EXPECT_EQ(out.trackNames, (std::vector<std::string>{"BG 1.L", "BG 1.R"}));
    ASSERT_EQ(s.tracks.size(), 1u);
    EXPECT_EQ(s.tracks[0].name, "BG 1.L");
    EXPECT_EQ(s.tracks[0].clips.size(), 1u);
}

TEST_F(AAFExportTest, AFailedExportKeepsTheEarlierOneAndLeavesNothingNew) {
    const std::string source = Source("door.wav", 3.0);
    Add(Layer("door", source, 1.0f, 1.0f));
    ASSERT_TRUE(Export());
    const std::string essence = (Essence() / "FX A1_000_door.wav").string();
    const std::string earlierAaf = test::ReadBytes(AafFile());
    const std::string earlierEssence = test::ReadBytes(essence);
    ASSERT_FALSE(earlierAaf.empty());

    struct Case {
        const char* name;
        bool blockAaf, ready;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"the AAF writer fails", true, true, "[AAF] OpenNewModifyEx FAILED"},
        {"the engine is not ready", false, false, "[AAF] no layer gave a clip"},
    };
    const fs::path blocked = ExportRollback::TemporaryPath(AafFile());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Source("door.wav", 3.0, 1, 0.9);  // the new export's essence would differ
        if (c.blockAaf) {
            fs::create_directories(blocked);
            ASSERT_TRUE(test::WriteBytes((blocked / "keep").string(), "x"));
        }
        engine_->ready.store(c.ready);
        std::string lines;
        EXPECT_FALSE(Export(nullptr, &lines));
        EXPECT_NE(lines.find(c.line), std::string::npos) << lines;
        EXPECT_EQ(test::ReadBytes(AafFile()), earlierAaf);
        EXPECT_EQ(test::ReadBytes(essence), earlierEssence);
        EXPECT_EQ(Listing(Essence()), std::set<std::string>{"FX A1_000_door.wav"}) << "no temporary left";
        fs::remove_all(blocked);
    }

    // An export into a new folder that ends with nothing removes the folders it made.
    engine_->ready.store(false);
    request_.outputFolder = dir_.file("fresh/out");
    EXPECT_FALSE(Export());
    EXPECT_FALSE(fs::exists(dir_.file("fresh/out")));
}

// The export job runs the AAF step and counts its file.
TEST(AAFExportJob, TheJobCountsTheAafFileAndNamesItsFailure) {
    test::TempDir dir;
    CurrentProject = Project{};
    PrepareVoices(LivePlaybackEngine, kRate, 4);
    const std::string source = dir.file("door.wav");
    ASSERT_TRUE(test::WriteSoundFile(source, test::MakeSine(440.0, 2.0, kRate), 1, kRate));
    LayerResult layer;
    layer.name = "door";
    layer.filepath = source;
    layer.startTime = 0.5f;
    layer.duration = 0.5f;
    layer.sourceDuration = 0.5f;
    layer.eventIdx = -1;
    CurrentProject.results.push_back(layer);
    Voice voice;
    voice.resultId = layer.id;
    voice.frameCount = kRate / 2;
    voice.samplesL.assign(static_cast<std::size_t>(voice.frameCount), 0.1f);
    AppendVoice(LivePlaybackEngine, std::move(voice), 0.01f, 0.05f);
    LivePlaybackEngine.ready.store(true);

    struct Case {
        const char* name;
        std::string out;
        const char* status;
    };
    const std::string file = dir.file("a-file");
    ASSERT_TRUE(test::WriteBytes(file, "x"));
    const std::vector<Case> cases = {
        {"written", dir.file("out"), "Export complete \u2014 1 file"},
        {"a file where the folder should be", file, "AAF export FAILED \u2014 0 WAVs written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExportRequest request;
        request.outputFolder = c.out;
        request.baseName = "Cue";
        request.exportSettings.exportFormatAAF = true;
        request.exportSettings.exportFormatWAV = false;
        request.exportSettings.exportReverbStem = false;
        request.sampleRate = kRate;
        request.totalDuration = 2.0f;
        request.groupNames = {"BG", "FX A", "FX B"};
        testing::internal::CaptureStdout();
        RunExportJob(request, TakeExportMix(LivePlaybackEngine));
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(GlobalAppState.exportDone.load());
        EXPECT_EQ(ExportStatusText(GlobalAppState), c.status);
    }
    EXPECT_TRUE(fs::exists(dir.path() / "out" / "Cue" / "Cue.aaf"));
    PrepareVoices(LivePlaybackEngine, kRate, 0);
    CurrentProject = Project{};
    GlobalAppState.exportDone.store(false);
}

}  // namespace
}  // namespace korvel
