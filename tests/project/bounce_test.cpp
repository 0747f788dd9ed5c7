// Bouncing selected events into a Clip, its names, and reverting it.
#include "project/bounce.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dsp/limiter.h"
#include "engine/clip_event.h"
#include "engine/voice_sync.h"
#include "playback/playback_engine.h"
#include "playback/wav_export.h"
#include "presets/user_folders.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;

TEST(BounceNames, ForbiddenCharactersAndTrailingBlanksGo) {
    struct Case {
        const char* automatic;
        const char* name;
    };
    const Case cases[] = {
        {"Door Spot", "Door Spot"},
        {"Rain: \"Forest\" Bed  ", "Rain Forest Bed"},
        {"a/b\\c*d?e<f>g|h", "abcdefgh"},
        {"<>:?* \\/|\"  ", "Bounce"},
        {"", "Bounce"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.automatic);
        EXPECT_EQ(BounceFileName(c.automatic), c.name);
    }
}

TEST(BounceNames, TheNextFreeNameAndNoneWhenAllAreTaken) {
    test::TempDir dir;
    const std::string folder = dir.path().string();
    EXPECT_EQ(UniqueBouncePath(folder, "Hits"), "Hits");
    ASSERT_TRUE(test::WriteBytes(folder + "/Hits.wav", "x"));
    ASSERT_TRUE(test::WriteBytes(folder + "/Hits 2.wav", "x"));
    EXPECT_EQ(UniqueBouncePath(folder, "Hits"), "Hits 3");
    for (int k = 3; k <= 9999; ++k) ASSERT_TRUE(test::WriteBytes(folder + "/Hits " + std::to_string(k) + ".wav", ""));
    EXPECT_EQ(UniqueBouncePath(folder, "Hits"), "") << "never the name of a file that exists";
}

// A built project of Spots at 10 s and 12 s with one second of voice each.
class BounceTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A documents folder of its own: the test binaries run in parallel.
        documents_ = std::make_unique<test::TempDir>();
        const char* old = std::getenv("XDG_DOCUMENTS_DIR");
        savedDocuments_ = old != nullptr ? old : "";
        setenv("XDG_DOCUMENTS_DIR", documents_->path().c_str(), 1);
        CurrentProject = Project{};
        ClearUndoHistory();
        PrepareVoices(LivePlaybackEngine, kRate, 4);
        PrepareLimiterSettings(LivePlaybackEngine.limiter, kRate);
        AppState& state = GlobalAppState;
        state.selectedEvents.clear();
        state.selectedEvent = -1;
        state.activeTab = 3;
        state.audioUpdateRequested.store(false);
        state.unsavedChanges = false;
        state.pendingRenderMode = 0;
        state.pendingRenderEvents.clear();
        state.playhead = 0.0f;
        CurrentProject.built = true;
        for (float time : {10.0f, 12.0f}) {
            const std::int32_t index = CurrentProject.AddEvent(time, KindValue(EventKind::Spot), 0.5f);
            Voice voice;
            voice.eventIndex = index;
            voice.frameCount = kRate;
            voice.samplesL.assign(kRate, 0.1f);
            voice.startTime = time;
            voice.duration = 1.0f;
            AppendVoice(LivePlaybackEngine, std::move(voice), 0.04f, 0.05f);
        }
        LivePlaybackEngine.ready.store(true);
    }
    void TearDown() override {
        CurrentProject = Project{};
        ClearUndoHistory();
        PrepareVoices(LivePlaybackEngine, kRate, 0);
        GlobalAppState.selectedEvents.clear();
        GlobalAppState.selectedEvent = -1;
        GlobalAppState.exportRunning.store(false);
        setenv("XDG_DOCUMENTS_DIR", savedDocuments_.c_str(), 1);
        documents_.reset();
    }
    std::unique_ptr<test::TempDir> documents_;
    std::string savedDocuments_;
    static std::string Bounces() { return BouncesFolder(); }
    static std::size_t BounceFiles() {
        std::error_code ec;
        std::size_t count = 0;
        for (auto it = fs::directory_iterator(Bounces(), ec); !ec && it != fs::directory_iterator(); ++it) ++count;
        return count;
    }
};

TEST_F(BounceTest, TheSelectionBecomesAClipThatRevertsWhereItWasMoved) {
    GlobalAppState.selectedEvents = {0, 1};
    BounceSelectionToClip();
    const Project& project = CurrentProject;
    ASSERT_EQ(project.events.size(), 1u);
    const Event& clip = project.events[0];
    EXPECT_TRUE(IsKind(clip.shape, EventKind::Clip));
    EXPECT_FLOAT_EQ(clip.time, 10.0f);
    EXPECT_TRUE(clip.locked);
    EXPECT_TRUE(clip.usePinnedFile);
    EXPECT_EQ(clip.clipFadeIn, 0.0f);
    ASSERT_EQ(clip.bounceSource.size(), 2u);
    EXPECT_FLOAT_EQ(clip.bounceSource[0].time, 0.0f);
    EXPECT_FLOAT_EQ(clip.bounceSource[1].time, 2.0f);
    EXPECT_TRUE(fs::exists(clip.pinnedFile));
    EXPECT_FALSE(clip.pinnedFileId.empty());
    int channels = 0;
    const std::vector<float> written = test::ReadSoundFile(clip.pinnedFile, &channels);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(written.size(), 2u * (3 * kRate + 1)) << "10 s to 13 s, one frame more";
    EXPECT_NEAR(clip.duration, 3.0f, 0.01f) << "taken from the Clip's layer";
    EXPECT_EQ(UndoStack.size(), 1u);
    EXPECT_EQ(GlobalAppState.selectedEvents, (std::set<std::int32_t>{0}));
    EXPECT_EQ(GlobalAppState.activeTab, 0);
    for (const Voice& voice : LivePlaybackEngine.voices) EXPECT_EQ(voice.eventIndex, 0) << "the Spots' voices are gone";

    CurrentProject.events[0].time = 20.0f;
    RevertBounce(0);
    ASSERT_EQ(project.events.size(), 2u);
    EXPECT_FLOAT_EQ(project.events[0].time, 20.0f);
    EXPECT_FLOAT_EQ(project.events[1].time, 22.0f);
    EXPECT_EQ(GlobalAppState.pendingRenderMode, 4);
    EXPECT_EQ(GlobalAppState.pendingRenderEvents, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(GlobalAppState.selectedEvents, (std::set<std::int32_t>{0, 1}));
    EXPECT_EQ(UndoStack.size(), 2u);
}

TEST_F(BounceTest, FailuresChangeNothing) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"every voice muted",
         [] {
             for (Voice& voice : LivePlaybackEngine.voices) voice.muted = true;
         }},
        {"an export runs", [] { GlobalAppState.exportRunning.store(true); }},
        {"not built", [] { CurrentProject.built = false; }},
        {"no valid selection", [] { GlobalAppState.selectedEvents = {7, -1}; }},
        {"every name taken",
         [] {
             fs::create_directories(Bounces());
             char automatic[64] = {};
             CurrentProject.events[0].AutoName(automatic, sizeof automatic);
             const std::string base = Bounces() + "/" + BounceFileName(automatic);
             test::WriteBytes(base + ".wav", "");
             for (int k = 2; k <= 9999; ++k) test::WriteBytes(base + " " + std::to_string(k) + ".wav", "");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        GlobalAppState.selectedEvents = {0, 1};
        c.arrange();
        const std::size_t filesBefore = BounceFiles();
        BounceSelectionToClip();
        EXPECT_EQ(CurrentProject.events.size(), 2u);
        EXPECT_TRUE(UndoStack.empty());
        EXPECT_EQ(LivePlaybackEngine.voices.size(), 2u);
        EXPECT_EQ(BounceFiles(), filesBefore) << "no file written";
    }
}

TEST_F(BounceTest, RevertingASpotAndABedLaysOutTheBedAndBuildsTheSpot) {
    test::TempDir dir;
    const std::string rain = dir.file("rain.wav");
    ASSERT_TRUE(test::WriteSoundFile(rain, test::MakeSine(200.0, 2.0, kRate), 1, kRate));
    Event spot = CurrentProject.events[0];
    spot.time = 0.0f;
    Event bed;
    bed.shape = KindValue(EventKind::Bed);
    bed.time = 1.0f;
    bed.duration = 4.0f;
    bed.pinnedFiles = {rain};
    Event clip;
    clip.shape = KindValue(EventKind::Clip);
    clip.time = 5.0f;
    clip.bounceSource = {spot, bed};
    CurrentProject.events = {clip};
    PrepareVoices(LivePlaybackEngine, kRate, 0);
    LivePlaybackEngine.ready.store(true);

    RevertBounce(0);
    ASSERT_EQ(CurrentProject.events.size(), 2u);
    EXPECT_FLOAT_EQ(CurrentProject.events[1].time, 6.0f);
    bool bedLayer = false;
    for (const LayerResult& layer : CurrentProject.results) bedLayer = bedLayer || layer.eventIdx == 1;
    EXPECT_TRUE(bedLayer) << "the Bed's layers are laid out at once";
    EXPECT_EQ(GlobalAppState.pendingRenderMode, 4);
    EXPECT_EQ(GlobalAppState.pendingRenderEvents, (std::vector<std::int32_t>{0})) << "a build of the Spot only";
    EXPECT_FALSE(CurrentProject.events[1].pinnedFileIds.empty()) << "pinned files get their identities";

    // Not a bounced Clip, out of range, or while an export runs: nothing.
    CurrentProject.events.push_back(clip);
    for (std::int32_t index : {0, 1, 5, -1}) RevertBounce(index);
    GlobalAppState.exportRunning.store(true);
    RevertBounce(2);
    EXPECT_EQ(CurrentProject.events.size(), 3u);
    EXPECT_EQ(UndoStack.size(), 1u);
}

// The project's mixdown as the export renders it, read back from the file.
std::vector<float> ExportedMix(const std::string& folder) {
    ExportWavOptions options;
    options.baseName = "mix";
    const Project& project = CurrentProject;
    EXPECT_EQ(ExportWAV(folder, project.results, LivePlaybackEngine, kRate, project.trackLayout, project.totalDuration,
                        options, -1.0f, -1.0f),
              1);
    return test::ReadSoundFile(folder + "/mix.wav");
}

// Two quiet Clip sounds, loudness-normalised as they play, bounced: what
// the project exports is the same before and after.
TEST_F(BounceTest, TheProjectSoundsTheSameAfterTheBounce) {
    struct Case {
        const char* name;
        float times[2];
        std::int32_t groupOverride;       // of both sources
        std::array<float, 3> faders;      // the three group gains
        float projectEnd;                 // set after the sources are laid out
        std::int32_t clipGroup;
    };
    const Case cases[] = {
        {"normalisation on", {1.0f, 1.5f}, -1, {1.0f, 1.0f, 1.0f}, 30.0f, 1},
        {"a group fader at 0.5", {1.0f, 1.5f}, 2, {1.0f, 1.0f, 0.5f}, 30.0f, 2},
        {"starting before 0", {-0.5f, 0.25f}, -1, {1.0f, 1.0f, 1.0f}, 30.0f, 1},
        {"reaching past the end", {2.0f, 3.0f}, -1, {1.0f, 0.5f, 1.0f}, 3.5f, 1},
    };
    test::TempDir dir;
    const std::string sound = dir.file("tone.wav");
    ASSERT_TRUE(test::WriteSoundFile(sound, test::MakeSine(330.0, 1.5, kRate, 1, 0.05), 1, kRate));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Project& project = CurrentProject;
        PlaybackEngine& engine = LivePlaybackEngine;
        project = Project{};
        PrepareVoices(engine, kRate, 0);
        GlobalAppState.projectSampleRate = kRate;
        project.normalizeLUFS = true;
        engine.groupGain = c.faders;
        for (float time : c.times) {
            Event event;
            event.shape = KindValue(EventKind::Clip);
            event.time = time;
            event.duration = 1.5f;
            event.groupOverride = c.groupOverride;
            event.intensity.fill(1.0f);
            CopyText(event.pinnedFile, sound);
            event.usePinnedFile = true;
            project.events.push_back(event);
            BuildClipEvent(project, static_cast<std::int32_t>(project.events.size()) - 1);
        }
        for (std::int32_t index : {0, 1}) RenderEvent(index);
        project.built = true;
        project.totalDuration = c.projectEnd;
        for (const LayerResult& layer : project.results) {
            ASSERT_GT(layer.normGain, 1.5f) << "the sources are levelled up as they play";
        }
        const std::vector<float> before = ExportedMix(dir.file(std::string(c.name) + "/before"));

        GlobalAppState.selectedEvents = {0, 1};
        ASSERT_TRUE(BounceSelectionToClip());
        ASSERT_EQ(project.events.size(), 1u);
        const Event& clip = project.events[0];
        EXPECT_GE(clip.time, 0.0f) << "a Clip never starts before 0";
        EXPECT_EQ(EffectiveGroup(clip), c.clipGroup);
        ASSERT_EQ(project.results.size(), 1u);
        EXPECT_EQ(project.results[0].normGain, 1.0f) << "the bounce plays at unity";
        EXPECT_LE(clip.time + project.results[0].duration, c.projectEnd + 1e-4f);
        const std::vector<float> after = ExportedMix(dir.file(std::string(c.name) + "/after"));

        ASSERT_EQ(after.size(), before.size());
        double worst = 0.0, loudest = 0.0;
        for (std::size_t i = 0; i < before.size(); ++i) {
            worst = std::max(worst, static_cast<double>(std::fabs(after[i] - before[i])));
            loudest = std::max(loudest, static_cast<double>(std::fabs(before[i])));
        }
        EXPECT_GT(loudest, 0.05) << "the mix is not silent";
        EXPECT_LT(worst, 1e-4) << "largest difference of the exported mixes";
    }
}

}  // namespace
}  // namespace korvel
