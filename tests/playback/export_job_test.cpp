#include "playback/export_job.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/transport.h"
#include "playback/export_thread.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;

TEST(ExportRollback, ACallThatDoesNotCommitRemovesOnlyItsOwnWork) {
    test::TempDir dir;
    const fs::path made = dir.path() / "Clips";
    struct Case {
        const char* name;
        bool strangerInFolder;  // a file the call did not write
    };
    for (const Case& c : {Case{"the folder ends empty", false}, Case{"another file keeps the folder", true}}) {
        SCOPED_TRACE(c.name);
        fs::create_directories(made);
        ASSERT_TRUE(test::WriteBytes((made / "a.wav").string(), "earlier a"));
        if (c.strangerInFolder) ASSERT_TRUE(test::WriteBytes((made / "other.txt").string(), "x"));
        testing::internal::CaptureStdout();
        {
            ExportRollback rollback;
            rollback.AddFolder(made.string());
            for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
                const std::string final = (made / name).string();
                const std::string temporary = ExportRollback::TemporaryPath(final);
                ASSERT_TRUE(test::WriteBytes(temporary, "new"));
                rollback.AddFile(temporary, final);
            }
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Export] Rollback: removed 3 files\n");
        if (c.strangerInFolder) {
            EXPECT_EQ(test::ReadBytes((made / "a.wav").string()), "earlier a") << "an earlier export is kept";
            EXPECT_TRUE(fs::exists(made / "other.txt"));
            EXPECT_FALSE(fs::exists(made / "b.wav"));
            fs::remove_all(made);
        } else {
            // The earlier a.wav counts as another file: only an empty folder goes.
            EXPECT_TRUE(fs::exists(made / "a.wav"));
            fs::remove(made / "a.wav");
        }
    }

    // Committed: every file moves into place, replacing what was there.
    fs::create_directories(made);
    ASSERT_TRUE(test::WriteBytes((made / "a.wav").string(), "earlier a"));
    testing::internal::CaptureStdout();
    {
        ExportRollback rollback;
        const std::string final = (made / "a.wav").string();
        ASSERT_TRUE(test::WriteBytes(ExportRollback::TemporaryPath(final), "new a"));
        rollback.AddFile(ExportRollback::TemporaryPath(final), final);
        EXPECT_TRUE(rollback.Commit());
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(test::ReadBytes((made / "a.wav").string()), "new a");
    EXPECT_EQ(std::distance(fs::directory_iterator(made), fs::directory_iterator()), 1) << "no temporary left";
}

TEST(ExportRollback, AMoveThatFailsTakesBackEveryFileAlreadyMoved) {
    test::TempDir dir;
    const fs::path made = dir.path() / "Out";
    ASSERT_TRUE(test::WriteBytes((made / "a.wav").string(), "earlier a"));
    ASSERT_TRUE(test::WriteBytes((made / "c.wav" / "keep").string(), "x"));  // in the way
    testing::internal::CaptureStdout();
    {
        ExportRollback rollback;
        for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"}) {
            const std::string final = (made / name).string();
            ASSERT_TRUE(test::WriteBytes(ExportRollback::TemporaryPath(final), "new"));
            rollback.AddFile(ExportRollback::TemporaryPath(final), final);
        }
        EXPECT_FALSE(rollback.Commit());
    }
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Export] Could not move " + (made / "c.wav").string() + " into place"), std::string::npos)
        << log;
    EXPECT_EQ(test::ReadBytes((made / "a.wav").string()), "earlier a") << "the earlier file is back";
    EXPECT_FALSE(fs::exists(made / "b.wav"));
    EXPECT_FALSE(fs::exists(made / "d.wav"));
    EXPECT_EQ(std::distance(fs::directory_iterator(made), fs::directory_iterator()), 2) << "a.wav and c.wav only";
}

TEST(ExportJob, TheReverbStemGoesWithTheFirstKindAfterTheMixdown) {
    struct Case {
        const char* name;
        bool mix, stems, tracks, clips, reverbStem;
        std::int32_t kind;
    };
    const Case cases[] = {
        {"mixdown and tracks: the tracks call", true, false, true, false, true, 2},
        {"mixdown alone: none", true, false, false, false, true, -1},
        {"stems and clips: the stems call", false, true, false, true, true, 1},
        {"clips alone", false, false, false, true, true, 3},
        {"not asked for", true, true, true, true, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExportRequest request;
        request.exportSettings.exportFormatWAV = true;
        request.exportSettings.exportWavMixdown = c.mix;
        request.exportSettings.exportWavStems = c.stems;
        request.exportSettings.exportReverbStem = false;
        request.exportSettings.exportWavTracks = c.tracks;
        request.exportSettings.exportWavClips = c.clips;
        request.exportSettings.exportReverbStem = c.reverbStem;
        EXPECT_EQ(ReverbStemKind(request), c.kind);
    }
}

TEST(ExportJob, LoudnessIndexNormalisesOnlyTheMixdown) {
    struct Case {
        std::int32_t index;
        ExportWavKind kind;
        bool normalize;
        float target;
    };
    const Case cases[] = {
        {0, ExportWavKind::Mix, false, -16.0f},   {1, ExportWavKind::Mix, true, -14.0f},
        {2, ExportWavKind::Mix, true, -16.0f},    {3, ExportWavKind::Mix, true, -18.0f},
        {4, ExportWavKind::Mix, true, -23.0f},    {9, ExportWavKind::Mix, true, -23.0f},
        {-3, ExportWavKind::Mix, false, -16.0f},  {1, ExportWavKind::Stems, false, -16.0f},
        {4, ExportWavKind::Tracks, false, -16.0f}, {4, ExportWavKind::Clips, false, -16.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        float target = -16.0f;
        EXPECT_EQ(ExportLoudnessTarget(c.index, c.kind, target), c.normalize);
        EXPECT_EQ(target, c.target);
    }
}

TEST(ExportJob, FinalTexts) {
    using K = ExportWavKind;
    struct Case {
        std::int32_t count;
        bool aafFailed;
        std::vector<K> rolledBack;
        const char* text;
        bool kindWroteNothing = false;
    };
    const std::vector<Case> cases = {
        {1, false, {}, "Export complete \u2014 1 file"},
        {0, false, {}, "Export complete \u2014 0 files"},
        {2, true, {}, "AAF export FAILED \u2014 2 WAVs written"},
        {1, true, {}, "AAF export FAILED \u2014 1 WAV written"},
        {0, false, {K::Mix, K::Clips}, "Export FAILED \u2014 0 files (rolled back: mixdown, clips)"},
        {2, false, {K::Stems}, "Export FAILED \u2014 2 files (rolled back: stems)"},
        {1, false, {}, "Export FAILED \u2014 1 file", true},
        {0, true, {K::Clips}, "AAF export FAILED \u2014 0 WAVs written (rolled back: clips)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExportFinalText(c.count, c.aafFailed, c.rolledBack, c.kindWroteNothing), c.text);
    }
    const std::string longest = ExportFinalText(2147483647, true, {K::Mix, K::Stems, K::Tracks, K::Clips});
    EXPECT_LT(longest.size(), sizeof GlobalAppState.exportStatus) << "fits the status text";
}

// The live engine and project hold one voice; each test's request runs the
// whole job on this thread.
class ExportJobRun : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project{};
        PrepareVoices(LivePlaybackEngine, kRate, 4);
        for (const char* name : std::initializer_list<const char*>{"Door", "Step", "Wind", nullptr, "Tail"}) {
            LayerResult layer;
            layer.id = static_cast<std::int32_t>(CurrentProject.results.size()) + 1;
            layer.name = name != nullptr ? name : std::string(300, 'x');  // a name too long for a file
            layer.startTime = 1.0f;
            layer.duration = 0.5f;
            CurrentProject.results.push_back(layer);
            Voice voice;
            voice.resultId = layer.id;
            voice.frameCount = kRate / 2;
            voice.samplesL.assign(static_cast<std::size_t>(voice.frameCount), 0.1f);
            voice.startTime = 1.0f;
            voice.duration = 0.5f;
            AppendVoice(LivePlaybackEngine, std::move(voice), 0.04f, 0.05f);
        }
        LivePlaybackEngine.ready.store(true);
        GlobalAppState.exportDone.store(false);
    }
    void TearDown() override {
        PrepareVoices(LivePlaybackEngine, kRate, 0);
        CurrentProject = Project{};
        GlobalAppState.exportDone.store(false);
        GlobalAppState.exportRunning.store(false);
    }
};

TEST_F(ExportJobRun, FailedKindsAreNamedAndTheJobStillEnds) {
    test::TempDir dir;
    const std::string file = dir.file("a-file");
    ASSERT_TRUE(test::WriteBytes(file, "x"));
    struct Case {
        const char* name;
        std::string out;
        bool mix, clips, aaf;
        const char* status;
        bool stems = false;
        bool ready = true;
    };
    // A folder named like the mixdown is in the way of its move.
    ASSERT_TRUE(test::WriteBytes(dir.file("Blocked/Cue.wav/keep"), "x"));
    const Case cases[] = {
        {"a file where the output folder should be", file, true, true, false,
         "Export FAILED \u2014 0 files (rolled back: mixdown, clips)"},
        {"the fourth clip refused, the mixdown kept", dir.file("Out"), true, true, false,
         "Export FAILED \u2014 1 file (rolled back: clips)"},
        {"a folder in the way of the mixdown, the stem kept", dir.file("Blocked"), true, false, false,
         "Export FAILED \u2014 1 file (rolled back: mixdown)", true},
        {"an AAF that cannot be written", dir.file("Aaf"), true, false, true,
         "AAF export FAILED \u2014 1 WAV written"},
        {"nothing asked for", dir.file("None"), false, false, false, "Export complete \u2014 0 files"},
        {"the engine holds nothing", dir.file("Empty"), true, false, false,
         "Export FAILED \u2014 nothing to export", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExportRequest request;
        request.outputFolder = c.out;
        request.baseName = "Cue";
        request.exportSettings.exportFormatAAF = c.aaf;
        request.exportSettings.exportFormatWAV = true;
        request.exportSettings.exportWavMixdown = c.mix;
        request.exportSettings.exportWavClips = c.clips;
        request.exportSettings.exportWavStems = c.stems;
        request.exportSettings.exportReverbStem = false;
        request.sampleRate = kRate;
        request.totalDuration = 3.0f;
        GlobalAppState.exportDone.store(false);
        LivePlaybackEngine.ready.store(c.ready);
        testing::internal::CaptureStdout();
        RunExportJob(request, TakeExportMix(LivePlaybackEngine));
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(GlobalAppState.exportDone.load());
        EXPECT_EQ(ExportStatusText(GlobalAppState), c.status);
    }
    EXPECT_FALSE(fs::exists(dir.path() / "Out" / "Clips")) << "the failed clips call took its folder with it";
    EXPECT_TRUE(fs::exists(dir.path() / "Out" / "Cue.wav")) << "an earlier kind's file stays";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "Blocked"), fs::directory_iterator()), 2)
        << "the folder in the way and the one stem, nothing else";
    EXPECT_FALSE(fs::exists(dir.path() / "Empty")) << "nothing to export makes no folder";
}

// A killed export's hidden temporaries go when the next export starts;
// those of a process still running stay.
TEST_F(ExportJobRun, AnExportRemovesTheTemporariesOfDeadExports) {
    test::TempDir dir;
    const pid_t dead = test::StartChild([] { return 0; });
    ASSERT_TRUE(test::WaitForChild(dead).exited);
    const std::string deadTag = "." + std::to_string(dead) + ".export-tmp";
    const std::vector<std::string> stale = {
        dir.file("Out/.Cue.wav" + deadTag),
        dir.file("Out/Clips/.Cue - Door.wav" + deadTag),
        dir.file("Out/Cue/Audio Files/.FX A1_000_door.wav" + deadTag + ".tmp-" + std::to_string(dead) + "-3"),
    };
    const std::vector<std::string> kept = {
        dir.file("Out/.Other.wav.1.export-tmp"),  // the init process runs
        dir.file("Out/Cue.wav" + deadTag),          // not hidden: not ours
        dir.file("Out/.notes.x1.export-tmp"),      // no process id
    };
    for (const std::string& path : stale) ASSERT_TRUE(test::WriteBytes(path, "left by a kill"));
    for (const std::string& path : kept) ASSERT_TRUE(test::WriteBytes(path, "x"));
    ExportRequest request;
    request.outputFolder = dir.file("Out");
    request.baseName = "Cue";
    request.exportSettings.exportFormatAAF = false;
    request.exportSettings.exportFormatWAV = false;
    request.sampleRate = kRate;
    request.totalDuration = 3.0f;
    testing::internal::CaptureStdout();
    RunExportJob(request, TakeExportMix(LivePlaybackEngine));
    testing::internal::GetCapturedStdout();
    for (const std::string& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
    for (const std::string& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
}

TEST_F(ExportJobRun, StartingRunsTheJobOnItsOwnThreadAndOneAtATime) {
    test::TempDir dir;
    ExportRequest request;
    request.outputFolder = dir.file("Out");
    request.baseName = "Cue";
    request.exportSettings.exportFormatAAF = false;
    request.exportSettings.exportFormatWAV = true;
    request.exportSettings.exportWavMixdown = true;
    request.exportSettings.exportReverbStem = false;
    request.sampleRate = kRate;
    request.totalDuration = 3.0f;
    int completions = 0;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(StartExport(request, [&] { ++completions; }));
    EXPECT_TRUE(GlobalAppState.exportRunning.load());
    EXPECT_FALSE(StartExport(request, nullptr)) << "one export at a time";
    for (int i = 0; i < 5000 && !GlobalAppState.exportDone.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    JoinExportThread(GlobalAppState.exportThread);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(GlobalAppState.exportDone.load());
    EXPECT_EQ(ExportStatusText(GlobalAppState), "Export complete \u2014 1 file");
    EXPECT_TRUE(fs::exists(dir.path() / "Out" / "Cue.wav"));
    EXPECT_EQ(completions, 0) << "the frame's upkeep runs the completion";
    GlobalAppState.exportCompleteCallback = nullptr;
}

// The mixer tab moves the master and group faders while the export thread
// mixes. The export mixes at the gains it started with, which the UI thread
// took as it started; it never reads the live faders. CI runs this under
// ThreadSanitizer.
TEST_F(ExportJobRun, FadersMovedDuringAnExportLeaveItsMixAsStarted) {
    PlaybackEngine& engine = LivePlaybackEngine;
    for (std::size_t k = 0; k < engine.voices.size(); ++k) engine.voices[k].group = static_cast<std::int32_t>(k % 3);
    const std::array<float, kTrackGroupCount> groupGain = {0.5f, 0.9f, 0.7f};
    SetMasterGain(engine, 0.8f);
    engine.groupGain = groupGain;
    PublishMixerSettings(engine);

    test::TempDir dir;
    ExportRequest request;
    request.baseName = "Cue";
    request.exportSettings.exportFormatAAF = false;
    request.exportSettings.exportFormatWAV = true;
    request.exportSettings.exportWavMixdown = true;
    request.exportSettings.exportWavStems = true;
    request.exportSettings.exportReverbStem = false;
    request.sampleRate = kRate;
    request.totalDuration = 3.0f;
    testing::internal::CaptureStdout();
    // The same export with the faders still, for reference.
    request.outputFolder = dir.file("Still");
    RunExportJob(request, TakeExportMix(engine));
    GlobalAppState.exportDone.store(false);

    request.outputFolder = dir.file("Moved");
    ASSERT_TRUE(StartExport(request, nullptr));
    float gain = 0.1f;
    int moves = 0;
    do {
        SetMasterGain(engine, gain);
        for (float& g : engine.groupGain) g = 1.5f - gain;
        PublishMixerSettings(engine);
        gain = gain > 1.4f ? 0.1f : gain + 0.05f;
        ++moves;
    } while (!GlobalAppState.exportDone.load(std::memory_order_acquire));
    JoinExportThread(GlobalAppState.exportThread);
    testing::internal::GetCapturedStdout();
    SetMasterGain(engine, 1.0f);
    engine.groupGain = {1.0f, 1.0f, 1.0f};
    PublishMixerSettings(engine);
    EXPECT_GT(moves, 0);

    // The mixdown and the three group stems, each as the still faders made it.
    int compared = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path() / "Still")) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::vector<float> still = test::ReadSoundFile(entry.path().string());
        const std::vector<float> moved = test::ReadSoundFile((dir.path() / "Moved" / name).string());
        ASSERT_FALSE(still.empty());
        EXPECT_EQ(moved, still);
        ++compared;
    }
    EXPECT_EQ(compared, 4);
}

TEST(ExportThread, RunsItsBodyOnAnEightMebibyteStack) {
    ExportThread thread;
    std::atomic<std::size_t> stack{0};
    ASSERT_TRUE(StartExportThread(thread, [&] {
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
        std::size_t size = 0;
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
        stack.store(size);
    }));
    EXPECT_TRUE(thread.running.load());
    JoinExportThread(thread);
    EXPECT_FALSE(thread.running.load());
    EXPECT_FALSE(thread.joinable);
    EXPECT_GE(stack.load(), kExportThreadStackBytes);
    JoinExportThread(thread);  // nothing left to join
}

}  // namespace
}  // namespace korvel
