// New, open and save on the process-wide records, the auto-save tick, the
// backups and the crash lock. Every test starts from reset globals and works
// in a temporary folder; the preferences go to the test home.
#include "project/project_life.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/title_bar.h"
#include "dsp/alloy_render.h"
#include "library/decoded_source_cache.h"
#include "library/library.h"
#include "library/waveform.h"
#include "playback/audio_output.h"
#include "playback/playback_engine.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/project_file_fixture.h"
#include "project/undo.h"
#include "support/audio_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

void ResetGlobals() {
    AppState& s = GlobalAppState;
    BackgroundJob& job = s.backgroundJob;
    // Jobs these tests start are recorded, never launched: ending one joins nothing.
    if (job.active.load()) EndBackgroundJob(job);
    s.exportRunning.store(false);
    s.traceRunning.store(false);
    s.traceAnalysis = TraceAnalysis();
    s.opticalDetail = 0.35f;
    s.linkedGroups.clear();
    s.projectPath.clear();
    s.projectDescription.clear();
    s.lockFilePath.clear();
    s.unsavedChanges = false;
    s.autoSaveElapsed = 0.0;
    s.autoSaveEnabled = true;
    s.autoSaveInterval = 300.0f;
    s.maxBackups = 5;
    s.recentProjects.clear();
    s.recentMenuDirty = false;
    s.statusMessage.clear();
    s.statusTime = 0.0f;
    s.selectedEvents.clear();
    s.selectedEvent = -1;
    s.expandedEvent = -1;
    s.playhead = 0.0f;
    s.playing = false;
    s.viewStart = 0.0f;
    s.viewEnd = 30.0f;
    s.workAreaIn = -1.0f;
    s.workAreaOut = -1.0f;
    s.workAreaScene = -1;
    s.unsavedPromptState = 0;
    s.quitAfterPrompt = false;
    s.parkedOpenPath.clear();
    s.openThroughDialog = false;
    s.PendingOpenPath.clear();
    s.platformHooks = PlatformHooks();
    s.projectSampleRate = 48000;
    s.exportSettings.handleDuration = 1.0f;
    s.videoChangePending = false;
    s.videoPath.clear();
    s.pendingVideoPath.clear();
    s.pendingVideoStart = 0.0f;
    s.pendingThumbnailPath.clear();
    s.clipboardEvents.clear();
    s.clipboardEventIndices.clear();
    s.clipboardLayers.clear();
    s.clipboardVoices.clear();
    s.markerEvents.clear();
    CurrentProject = Project();
    ClearUndoHistory();
    ProjectLifeHooks = ProjectLifeServices();
    ProjectLifeCycle = ProjectLifeCycleCalls();
    LiveAudioOutput.requestedRate = 48000;
    PlaybackEngine& engine = LivePlaybackEngine;
    engine.playing.store(false);
    engine.masterGain = 1.0f;
    engine.refGain = 1.0f;
    engine.groupGain = {1.0f, 1.0f, 1.0f};
    engine.reverb = ReverbSettings();
    {
        std::lock_guard lock(engine.voiceMutex);
        engine.voices.clear();
        engine.voiceFadeIns.clear();
        engine.voiceFadeOuts.clear();
        engine.voiceCount.store(0);
    }
    SetPlaybackSampleRate(engine, 48000);
    SoundLibrary.palettes.clear();
}

class ProjectLife : public ::testing::Test {
protected:
    void SetUp() override { ResetGlobals(); }
    void TearDown() override { ResetGlobals(); }

    // A project file holding `description`, written with the file writer.
    std::string WriteProject(const std::string& relative, const std::string& description) {
        test::SavedProjectState file;
        file.description = description;
        const std::string path = dir.file(relative);
        EXPECT_TRUE(file.Save(path));
        return path;
    }

    static void Age(const std::string& path, std::chrono::seconds by) {
        fs::last_write_time(path, fs::file_time_type::clock::now() - by);
    }

    test::TempDir dir;
};

std::string LockText() { return "pid=" + std::to_string(getpid()) + "\n"; }

// The lock of a run that ended without deleting it: a process that has
// exited.
std::string StaleLockText() {
    static const pid_t ended = test::StartChild([] { return 0; });
    static const bool reaped = test::WaitForChild(ended).exited;
    EXPECT_TRUE(reaped);
    return "pid=" + std::to_string(ended) + "\n";
}

// [SECTION] Paths, recent list and lock

TEST_F(ProjectLife, SaveGivesEachProjectAFolderOfItsOwn) {
    struct Case {
        const char* name;
        const char* requested;  // inside the test folder
        const char* written;
    };
    const Case cases[] = {
        {"a file beside other projects moves into its folder", "Films/Chase.kvproj", "Films/Chase/Chase.kvproj"},
        {"a project already in its folder stays", "Films/Chase/Chase.kvproj", "Films/Chase/Chase.kvproj"},
        {"the extension is appended", "Films/Chase", "Films/Chase/Chase.kvproj"},
        {"the extension test is exact", "Films/a.KVPROJ", "Films/a.KVPROJ/a.KVPROJ.kvproj"},
        {"only the last extension leaves the stem", "Films/Cut.v2.kvproj", "Films/Cut.v2/Cut.v2.kvproj"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        const std::string written = dir.file(c.written);
        EXPECT_EQ(ProjectSavePath(dir.file(c.written)), written);
        ASSERT_TRUE(SaveProject(dir.file(c.requested)));
        EXPECT_TRUE(fs::is_regular_file(written));
        const AppState& s = GlobalAppState;
        EXPECT_EQ(s.projectPath, written);
        EXPECT_EQ(s.statusMessage, "Project saved");
        EXPECT_FLOAT_EQ(s.statusTime, 3.0f);
        EXPECT_EQ(s.lockFilePath, written + ".lock");
        EXPECT_EQ(test::ReadBytes(written + ".lock"), LockText());
        EXPECT_EQ(s.recentProjects.front(), written);
        const std::string stem = written.substr(0, written.size() - std::string(".kvproj").size());
        EXPECT_EQ(s.pendingThumbnailPath, stem + ".thumb.png");
    }
}

TEST_F(ProjectLife, SavingElsewhereMovesNothingAndTakesTheLockAlong) {
    GlobalAppState.unsavedChanges = true;
    GlobalAppState.autoSaveElapsed = 120.0;
    ASSERT_TRUE(SaveProject(dir.file("A/A.kvproj")));
    EXPECT_FALSE(GlobalAppState.unsavedChanges);
    EXPECT_EQ(GlobalAppState.autoSaveElapsed, 0.0);
    ASSERT_TRUE(SaveProject(dir.file("B/B.kvproj")));
    EXPECT_TRUE(fs::exists(dir.file("A/A.kvproj"))) << "the old file stays";
    EXPECT_FALSE(fs::exists(dir.file("A/A.kvproj.lock"))) << "the old project is no longer open";
    EXPECT_TRUE(fs::exists(dir.file("B/B.kvproj.lock")));
    EXPECT_EQ(GlobalAppState.recentProjects,
              (std::vector<std::string>{dir.file("B/B.kvproj"), dir.file("A/A.kvproj")}));
}

TEST_F(ProjectLife, AFailedSaveChangesOnlyTheStatusLine) {
    AppState& s = GlobalAppState;
    s.projectPath = dir.file("Old/Old.kvproj");
    s.lockFilePath = s.projectPath + ".lock";
    s.unsavedChanges = true;
    // A folder that is a file: neither the project's folder nor the file can be made.
    ASSERT_TRUE(test::WriteBytes(dir.file("blocker"), "x"));
    EXPECT_FALSE(SaveProject(dir.file("blocker/Cut.kvproj")));
    EXPECT_EQ(s.statusMessage, "Save failed");
    EXPECT_FLOAT_EQ(s.statusTime, 3.0f);
    EXPECT_EQ(s.projectPath, dir.file("Old/Old.kvproj"));
    EXPECT_EQ(s.lockFilePath, dir.file("Old/Old.kvproj.lock"));
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_TRUE(s.recentProjects.empty());

    s.statusMessage.clear();
    EXPECT_FALSE(SaveProject(""));
    EXPECT_TRUE(s.statusMessage.empty()) << "an empty path is no save attempt";
}

TEST_F(ProjectLife, RecentProjectsKeepTenValidPathsNewestFirst) {
    struct Case {
        const char* name;
        std::vector<std::string> added;
        std::vector<std::string> expected;
    };
    std::vector<std::string> eleven;
    for (int i = 1; i <= 11; ++i) eleven.push_back("/films/p" + std::to_string(i) + ".kvproj");
    const std::vector<std::string> lastTen(eleven.rbegin(), eleven.rbegin() + 10);
    const Case cases[] = {
        {"the same backslash path twice is one entry", {"C:\\f\\a.kvproj", "/b.kvproj", "C:\\f\\a.kvproj"},
         {"C:\\f\\a.kvproj", "/b.kvproj"}},
        {"an eleventh path drops the oldest", eleven, lastTen},
        {"no separator, empty or a control byte is ignored",
         {"/a.kvproj", "plain.kvproj", "", "/line\nfeed.kvproj", "/bell\x07.kvproj"}, {"/a.kvproj"}},
        {"a tab is allowed", {"/tab\there.kvproj"}, {"/tab\there.kvproj"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppState& s = GlobalAppState;
        s.recentProjects.clear();
        for (const std::string& path : c.added) s.AddRecentProject(path);
        EXPECT_EQ(s.recentProjects, c.expected);
    }
    AppState& s = GlobalAppState;
    s.recentMenuDirty = false;
    s.AddRecentProject("nowhere");
    EXPECT_FALSE(s.recentMenuDirty) << "an ignored path leaves the menu";
    s.AddRecentProject("/somewhere.kvproj");
    EXPECT_TRUE(s.recentMenuDirty);
}

TEST_F(ProjectLife, TheLockHoldsTheProcessIdAndIsRememberedEvenUnwritten) {
    const std::string project = dir.file("x.kvproj");
    EXPECT_EQ(CrashLockPath(project), project + ".lock");
    EXPECT_FALSE(CrashLockExists(project));
    WriteCrashLock(project);
    EXPECT_TRUE(CrashLockExists(project));
    EXPECT_EQ(test::ReadBytes(project + ".lock"), LockText());
    EXPECT_EQ(GlobalAppState.lockFilePath, project + ".lock");
    DeleteCrashLock();
    EXPECT_FALSE(CrashLockExists(project));
    EXPECT_TRUE(GlobalAppState.lockFilePath.empty());

    ASSERT_TRUE(test::WriteBytes(dir.file("file"), "x"));
    const std::string unwritable = dir.file("file/y.kvproj");
    WriteCrashLock(unwritable);
    EXPECT_FALSE(CrashLockExists(unwritable));
    EXPECT_EQ(GlobalAppState.lockFilePath, unwritable + ".lock") << "remembered, so it is deleted at the end";
    DeleteCrashLock();
    EXPECT_TRUE(GlobalAppState.lockFilePath.empty());
}

TEST(CrashLockText, NamesAPositiveProcessIdOrNone) {
    struct Case {
        const char* text;
        long pid;
    };
    const Case cases[] = {
        {"pid=4242\n", 4242}, {"pid=4242", 4242},      {"pid=7\r\n", 7}, {"pid=0\n", 0},
        {"pid=-5\n", 0},      {"pid=12 and more", 0}, {"pid=", 0},      {"", 0},
        {"PID=3\n", 0},       {"pid=99999999999999999999999\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CrashLockProcessId(c.text), c.pid);
    }
}

TEST_F(ProjectLife, BackupNamesSitInTheProjectsBackupsFolder) {
    EXPECT_EQ(BackupPath("/f/Chase/Chase.kvproj", 1), "/f/Chase/Backups/Chase.backup1.kvproj");
    EXPECT_EQ(BackupPath("/f/Chase/Chase.v2.kvproj", 12), "/f/Chase/Backups/Chase.v2.backup12.kvproj");
    const std::string longStem(300, 's');
    const std::string name = fs::path(BackupPath("/f/" + longStem + ".kvproj", 1)).filename().string();
    EXPECT_EQ(name, longStem.substr(0, 240) + ".backup1.kvproj") << "the stem is cut, the slot kept";
    // Two-byte characters: the cut never splits one.
    std::string wide;
    for (int i = 0; i < 130; ++i) wide += "\xC3\xA9";
    const std::string wideName = fs::path(BackupPath("/f/" + wide + ".kvproj", 12)).filename().string();
    EXPECT_EQ(wideName, wide.substr(0, 238) + ".backup12.kvproj");
}

TEST_F(ProjectLife, ANameNearTheLimitKeepsFiveDistinctBackups) {
    AppState& s = GlobalAppState;
    // A 250-byte project file name, the longest stem that fits with ".kvproj" close to it.
    const std::string stem(250 - 7, 'n');
    const std::string project = dir.file(stem + "/" + stem + ".kvproj");
    s.projectPath = project;
    for (int k = 1; k <= 6; ++k) {
        s.projectDescription = "backup " + std::to_string(k);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(AutoSaveProject(project)) << k;
        testing::internal::GetCapturedStdout();
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(BackupPath(project, 1)).parent_path())) {
        if (entry.is_regular_file()) names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names.size(), 5u);
    for (int slot = 1; slot <= 5; ++slot) {
        test::SavedProjectState read;
        ASSERT_TRUE(read.Open(BackupPath(project, slot)).ok) << slot;
        EXPECT_EQ(read.description, "backup " + std::to_string(7 - slot));
        EXPECT_LE(fs::path(BackupPath(project, slot)).filename().string().size(), 255u);
    }
}

// [SECTION] Backups and the auto-save tick

TEST_F(ProjectLife, RotationMakesRoomForANewSlotOne) {
    struct Case {
        const char* name;
        std::int32_t count;
        std::vector<int> present;  // slots holding "slot N" before
        std::vector<std::string> after;  // slots 1..5 after, "" for none
    };
    const Case cases[] = {
        {"five full slots", 5, {1, 2, 3, 4, 5}, {"", "slot 1", "slot 2", "slot 3", "slot 4"}},
        {"a count of 0 rotates nothing", 0, {1, 2}, {"slot 1", "slot 2", "", "", ""}},
        {"a count of 1 deletes slot 1 and those above", 1, {1, 2}, {"", "", "", "", ""}},
        {"a gap is carried along", 3, {1, 3}, {"", "slot 1", "", "", ""}},
        {"slots past a lowered count go", 3, {1, 2, 3, 4, 5}, {"", "slot 1", "slot 2", "", ""}},
        {"a gap below the slots past the count", 2, {1, 4, 5}, {"", "slot 1", "", "", ""}},
    };
    const std::string project = dir.file("Film/Film.kvproj");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(dir.file("Film"), ec);
        for (int slot : c.present) ASSERT_TRUE(test::WriteBytes(BackupPath(project, slot), "slot " + std::to_string(slot)));
        RotateProjectBackups(project, c.count);
        for (int slot = 1; slot <= 5; ++slot) {
            EXPECT_EQ(test::ReadBytes(BackupPath(project, slot)), c.after[static_cast<std::size_t>(slot - 1)]) << slot;
        }
    }
    RotateProjectBackups("", 5);  // nothing to do, nothing thrown
}

TEST_F(ProjectLife, AutoSaveWritesSlotOneAndLeavesTheProjectChanged) {
    AppState& s = GlobalAppState;
    const std::string project = WriteProject("Film/Film.kvproj", "saved");
    const std::string before = test::ReadBytes(project);
    for (int slot = 1; slot <= 5; ++slot) ASSERT_TRUE(test::WriteBytes(BackupPath(project, slot), "slot " + std::to_string(slot)));
    ProjectLifeCycle.autoSaveProject = AutoSaveProject;
    s.projectPath = project;
    s.projectDescription = "changed since";
    s.unsavedChanges = true;
    s.autoSaveInterval = 1.0f;

    testing::internal::CaptureStdout();
    AutoSaveTick(s, 0.4);
    AutoSaveTick(s, 0.4);
    EXPECT_TRUE(s.statusMessage.empty());
    AutoSaveTick(s, 0.4);
    const std::string printed = testing::internal::GetCapturedStdout();

    const std::string backup = BackupPath(project, 1);
    EXPECT_NE(printed.find("[AutoSave] Backed up to slot 1 (" + backup + ")\n"), std::string::npos) << printed;
    EXPECT_EQ(s.statusMessage, "Auto-saved (backup)");
    EXPECT_FLOAT_EQ(s.statusTime, 2.0f);
    EXPECT_EQ(s.autoSaveElapsed, 0.0);
    EXPECT_TRUE(s.unsavedChanges) << "the project file is still older than the project";
    EXPECT_EQ(test::ReadBytes(project), before);
    EXPECT_EQ(test::ReadBytes(BackupPath(project, 2)), "slot 1");
    EXPECT_EQ(test::ReadBytes(BackupPath(project, 5)), "slot 4");
    test::SavedProjectState read;
    ASSERT_TRUE(read.Open(backup).ok);
    EXPECT_EQ(read.description, "changed since");
    EXPECT_EQ(test::ReadBytes(project + ".lock"), LockText());

    // With no rotation slot 1 is replaced in place.
    s.maxBackups = 0;
    s.projectDescription = "later";
    ASSERT_TRUE(AutoSaveProject(project));
    ASSERT_TRUE(read.Open(backup).ok);
    EXPECT_EQ(read.description, "later");
    EXPECT_EQ(test::ReadBytes(BackupPath(project, 2)), "slot 1");
}

TEST_F(ProjectLife, AFailedBackupIsSilentAndWaitsAnotherInterval) {
    AppState& s = GlobalAppState;
    const std::string project = WriteProject("Film/Film.kvproj", "saved");
    // "Backups" is a file: the folder cannot be made, the write fails.
    ASSERT_TRUE(test::WriteBytes(dir.file("Film/Backups"), "not a folder"));
    ProjectLifeCycle.autoSaveProject = AutoSaveProject;
    s.projectPath = project;
    s.unsavedChanges = true;
    s.autoSaveInterval = 1.0f;
    AutoSaveTick(s, 1.5);
    EXPECT_TRUE(s.statusMessage.empty());
    EXPECT_EQ(s.autoSaveElapsed, 0.0);
    EXPECT_FALSE(CrashLockExists(project));
    EXPECT_FALSE(AutoSaveProject(""));
}

// The disk fills up: auto-saves fail part-way through their write. Three
// failures and then one success, in a child whose files may not grow past a
// few kilobytes until the last attempt.
TEST_F(ProjectLife, FailedAutoSavesRotateNothingAway) {
    AppState& s = GlobalAppState;
    const std::string path = WriteProject("Film/Film.kvproj", "file");
    s.projectPath = path;
    s.maxBackups = 3;
    testing::internal::CaptureStdout();
    for (const char* description : {"b3", "b2", "b1"}) {
        s.projectDescription = description;
        ASSERT_TRUE(AutoSaveProject(path));
    }
    testing::internal::GetCapturedStdout();
    // Large enough that its text does not fit the limit below.
    CurrentProject.events.resize(400);
    for (Event& event : CurrentProject.events) CopyText(event.keywords, std::string(100, 'k'));

    const test::ChildOutcome child = test::RunInChild([&] {
        if (!std::freopen("/dev/null", "w", stdout)) return 10;
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
        rlimit limit{};
        if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return 11;
        const rlimit full = limit;
        limit.rlim_cur = 4096;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 12;
        for (int attempt = 0; attempt < 3; ++attempt) {
            s.projectDescription = "failed " + std::to_string(attempt);
            if (AutoSaveProject(path)) return 20 + attempt;
        }
        if (setrlimit(RLIMIT_FSIZE, &full) != 0) return 13;
        s.projectDescription = "new";
        return AutoSaveProject(path) ? 0 : 30;
    });
    ASSERT_TRUE(child.exited);
    ASSERT_EQ(child.exitCode, 0);
    const char* expected[] = {"new", "b1", "b2"};
    for (int slot = 1; slot <= 3; ++slot) {
        test::SavedProjectState read;
        ASSERT_TRUE(read.Open(BackupPath(path, slot)).ok) << slot;
        EXPECT_EQ(read.description, expected[slot - 1]) << slot;
    }
    EXPECT_FALSE(fs::exists(BackupPath(path, 0))) << "nothing left under the new backup's own name";
    EXPECT_FALSE(fs::exists(BackupPath(path, 4)));

    // After a crash the newest whole backup is the one recovered.
    Age(path, std::chrono::seconds(60));
    ASSERT_TRUE(test::WriteBytes(path + ".lock", StaleLockText()));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(path));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.projectDescription, "new");
    EXPECT_EQ(s.statusMessage, "Recovered from backup");
}

TEST_F(ProjectLife, ALoweredBackupCountLeavesNoSlotAboveIt) {
    AppState& s = GlobalAppState;
    const std::string path = WriteProject("Film/Film.kvproj", "file");
    for (int slot = 1; slot <= 5; ++slot) ASSERT_TRUE(test::WriteBytes(BackupPath(path, slot), "slot " + std::to_string(slot)));
    s.projectPath = path;
    s.maxBackups = 2;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(AutoSaveProject(path));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(test::ReadBytes(BackupPath(path, 2)), "slot 1");
    for (int slot = 3; slot <= 5; ++slot) EXPECT_FALSE(fs::exists(BackupPath(path, slot))) << slot;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(BackupPath(path, 1)).parent_path())) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 2u);
}

// [SECTION] Opening

TEST_F(ProjectLife, OpenReportsEachOutcome) {
    const std::string whole = R"({"format": "Korvel", "projectDescription": "whole"})";
    struct Case {
        const char* name;
        std::string text;  // empty: no file at all
        bool opened;
        std::string status;
        float seconds;
    };
    const Case cases[] = {
        {"no file", "", false, "File not found", 3.0f},
        {"not JSON", "just words", false, "Error: Invalid JSON", 4.0f},
        {"another format", R"({"format": "Other"})", false, "Error: Not a Korvel project file", 4.0f},
        {"whole", whole, true, "Project opened", 4.0f},
        {"a layer's file is gone",
         R"({"format": "Korvel", "events": [{}], "results": [{"filepath": "/gone/x.wav"}]})", true,
         "Opened (some files missing)", 4.0f},
        {"a newer program's file", R"({"format": "Korvel", "minReaderVersion": 99, "savedBy": "2099.1"})", true,
         "Newer version project (saved by v2099.1) \xE2\x80\x94 some data may be lost if you save", 4.0f},
        {"a damaged file", whole.substr(0, whole.size() - 1), true,
         "Opened a damaged file (it ends early); the original is kept at the next save", 4.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        const std::string path = dir.file("Open/Open.kvproj");
        std::error_code ec;
        fs::remove(path, ec);
        if (!c.text.empty()) {
            ASSERT_TRUE(test::WriteBytes(path, c.text));
        }
        AppState& s = GlobalAppState;
        s.projectPath = "/before.kvproj";
        CurrentProject.events.resize(3);
        EXPECT_EQ(OpenProject(path), c.opened);
        EXPECT_EQ(s.statusMessage, c.status);
        EXPECT_FLOAT_EQ(s.statusTime, c.seconds);
        if (c.opened) {
            EXPECT_EQ(s.projectPath, path);
            EXPECT_EQ(test::ReadBytes(path + ".lock"), LockText());
            EXPECT_EQ(s.recentProjects.front(), path);
            EXPECT_FALSE(s.unsavedChanges);
        } else {
            EXPECT_EQ(s.projectPath, "/before.kvproj");
            EXPECT_EQ(CurrentProject.events.size(), 3u) << "the open project is untouched";
            EXPECT_TRUE(s.lockFilePath.empty());
        }
    }
    EXPECT_FALSE(OpenProject(""));
}

TEST_F(ProjectLife, RecoveryTakesOnlyABackupNewerThanTheFile) {
    struct Case {
        const char* name;
        bool lock;
        bool backup;
        bool backupNewer;
        const char* description;  // read from
        int slot = 1;             // where the backup is
    };
    const Case cases[] = {
        {"lock and a newer backup", true, true, true, "backup"},
        {"an auto-save killed before its backup reached slot 1", true, true, true, "backup", 0},
        {"lock and an older backup", true, true, false, "file"},
        {"lock without a backup", true, false, false, "file"},
        {"a newer backup without a lock", false, true, true, "file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        std::error_code ec;
        fs::remove_all(dir.file("Film"), ec);
        const std::string path = WriteProject("Film/Film.kvproj", "file");
        if (c.backup) {
            WriteProject("Film/Backups/Film.backup" + std::to_string(c.slot) + ".kvproj", "backup");
            Age(c.backupNewer ? path : BackupPath(path, c.slot), std::chrono::seconds(60));
        }
        if (c.lock) {
            ASSERT_TRUE(test::WriteBytes(path + ".lock", StaleLockText()));
        }

        testing::internal::CaptureStdout();
        ASSERT_TRUE(OpenProject(path));
        const std::string printed = testing::internal::GetCapturedStdout();
        const bool recovered = std::string(c.description) == "backup";
        const AppState& s = GlobalAppState;
        EXPECT_EQ(s.projectDescription, c.description);
        EXPECT_EQ(s.projectPath, path) << "the project keeps its own path";
        EXPECT_EQ(s.statusMessage, recovered ? "Recovered from backup" : "Project opened");
        const std::string line =
            "[Recovery] Crash lock detected \xE2\x80\x94 loading backup: " + BackupPath(path, c.slot) + "\n";
        EXPECT_EQ(printed.find(line) != std::string::npos, recovered) << printed;
        EXPECT_EQ(s.unsavedChanges, recovered) << "recovered work is not in the file yet";
        EXPECT_EQ(test::ReadBytes(path + ".lock"), LockText()) << "the stale lock is replaced by ours";
    }
}

TEST_F(ProjectLife, ARecoveredProjectTakesBothPassesFromTheBackupWithLinksFollowingScenes) {
    test::SavedProjectState file;
    file.description = "file";
    file.session.masterGain = 0.25f;
    file.session.workAreaIn = 1.0f;
    file.session.workAreaOut = 2.0f;
    const std::string path = dir.file("Film/Film.kvproj");
    ASSERT_TRUE(file.Save(path));

    test::SavedProjectState backup;
    backup.description = "backup";
    backup.session.masterGain = 0.5f;
    backup.session.workAreaIn = 3.0f;
    backup.session.workAreaOut = 4.0f;
    Scene dropped;  // ends where it starts: the settings pass drops it
    CopyText(dropped.name, "Empty");
    dropped.inTime = dropped.outTime = 2.0f;
    Scene chase;
    CopyText(chase.name, "Chase");
    chase.inTime = 5.0f;
    chase.outTime = 9.0f;
    backup.project.scenes = {dropped, chase};
    backup.project.events.resize(2);
    backup.project.events[0].sceneLink = 1;
    backup.project.events[1].sceneLink = 0;
    backup.project.events[1].bounceSource.resize(1);
    backup.project.events[1].bounceSource[0].sceneLink = 1;
    ASSERT_TRUE(backup.Save(BackupPath(path, 1)));
    Age(path, std::chrono::seconds(60));
    ASSERT_TRUE(test::WriteBytes(path + ".lock", StaleLockText()));

    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(path));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(GlobalAppState.statusMessage, "Recovered from backup");
    EXPECT_FLOAT_EQ(LivePlaybackEngine.masterGain, 0.5f);
    EXPECT_FLOAT_EQ(GlobalAppState.workAreaIn, 3.0f);
    EXPECT_FLOAT_EQ(GlobalAppState.workAreaOut, 4.0f);
    const Project& project = CurrentProject;
    ASSERT_EQ(project.scenes.size(), 1u);
    EXPECT_EQ(TextOf(project.scenes[0].name), "Chase");
    ASSERT_EQ(project.events.size(), 2u);
    EXPECT_EQ(project.events[0].sceneLink, 0) << "still the chase";
    EXPECT_EQ(project.events[1].sceneLink, -1) << "its scene was dropped";
    EXPECT_EQ(project.events[1].bounceSource.at(0).sceneLink, 0);
}

// A project file of 10 events with a crash lock and slot 1 of 11 events
// newer than it: a slot 1 that does not read whole is no recovery source.
TEST_F(ProjectLife, ABackupThatDoesNotReadWholeOpensTheFileAndSaysSo) {
    const auto Holding = [](int events, const std::string& description) {
        test::SavedProjectState state;
        state.description = description;
        state.project.events.resize(static_cast<std::size_t>(events));
        return state;
    };
    struct Case {
        const char* name;
        int slot1Cut;           // bytes of slot 1 kept; -1 whole, -2 replaced by junk
        bool slot2;             // an older whole backup in slot 2
        bool fileWhole;         // else the project file does not read at all
        const char* opened;     // the description read, "" when the open fails
        const char* status;
    };
    const Case cases[] = {
        {"a truncated slot 1", 400, false, true, "file",
         "Backup not usable (it ends early); opened the project file"},
        {"an unreadable slot 1", -2, false, true, "file", "Backup not usable (Invalid JSON); opened the project file"},
        {"an empty slot 1", 0, false, true, "file", "Backup not usable (Empty file); opened the project file"},
        {"a damaged slot 1 beside a whole slot 2", 400, true, true, "file",
         "Backup not usable (it ends early); opened the project file"},
        {"a damaged slot 1 and an unreadable file", 400, true, false, "slot 2",
         "Recovered from an older backup (the newest: it ends early)"},
        {"nothing readable", 400, false, false, "", "Error: Invalid JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        std::error_code ec;
        fs::remove_all(dir.file("Film"), ec);
        const std::string path = dir.file("Film/Film.kvproj");
        ASSERT_TRUE(Holding(10, "file").Save(path));
        if (!c.fileWhole) {
            ASSERT_TRUE(test::WriteBytes(path, "not json"));
        }
        const std::string slot1 = BackupPath(path, 1);
        ASSERT_TRUE(Holding(11, "slot 1").Save(slot1));
        const std::string whole = test::ReadBytes(slot1);
        ASSERT_GT(whole.size(), 400u);
        std::string slot1Bytes = whole;
        if (c.slot1Cut >= 0) slot1Bytes = whole.substr(0, static_cast<std::size_t>(c.slot1Cut));
        if (c.slot1Cut == -2) slot1Bytes = "not json at all";
        ASSERT_TRUE(test::WriteBytes(slot1, slot1Bytes));
        if (c.slot2) {
            ASSERT_TRUE(Holding(9, "slot 2").Save(BackupPath(path, 2)));
        }
        Age(path, std::chrono::seconds(60));
        ASSERT_TRUE(test::WriteBytes(path + ".lock", StaleLockText()));
        CurrentProject.events.resize(2);

        AppState& s = GlobalAppState;
        testing::internal::CaptureStdout();
        EXPECT_EQ(OpenProject(path), c.opened[0] != '\0');
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(s.statusMessage, c.status);
        if (c.opened[0] == '\0') {
            EXPECT_TRUE(CrashLockExists(path)) << "the only sign that recovery is needed";
            EXPECT_EQ(CurrentProject.events.size(), 2u);
            EXPECT_TRUE(s.projectPath.empty());
            continue;
        }
        EXPECT_EQ(s.projectDescription, c.opened);
        EXPECT_EQ(test::ReadBytes(path + ".lock"), LockText());
        if (std::string(c.opened) != "file") continue;
        EXPECT_EQ(CurrentProject.events.size(), 10u);
        EXPECT_FALSE(s.unsavedChanges);
        // The next open reads the same file again, and a save keeps it whole.
        ASSERT_TRUE(SaveProject(path));
        test::SavedProjectState saved;
        ASSERT_TRUE(saved.Open(path).ok);
        EXPECT_EQ(saved.project.events.size(), 10u);
        EXPECT_FALSE(fs::exists(path + ".damaged")) << "the file was whole: nothing to keep";
    }
}

TEST_F(ProjectLife, ReopeningTheProjectThisRunHasOpenReadsTheSavedFile) {
    AppState& s = GlobalAppState;
    const std::string path = dir.file("Film/Film.kvproj");
    CurrentProject.events.resize(1);
    s.projectDescription = "saved";
    ASSERT_TRUE(SaveProject(path));
    Age(path, std::chrono::seconds(60));
    CurrentProject.events.resize(3);
    s.projectDescription = "auto-saved";
    s.unsavedChanges = true;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(AutoSaveProject(path));
    // Discard, then Open Recent of the same project.
    ASSERT_TRUE(OpenProject(path));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.find("[Recovery]"), std::string::npos) << printed;
    EXPECT_EQ(s.statusMessage, "Project opened");
    EXPECT_EQ(s.projectDescription, "saved");
    EXPECT_EQ(CurrentProject.events.size(), 1u);
    EXPECT_EQ(test::ReadBytes(path + ".lock"), LockText());
}

// Another window of the program (a child of this test process, so the
// same program) has the project open and is still running.
TEST_F(ProjectLife, AnotherRunningWindowsLockIsNeitherACrashNorTakenOver) {
    const std::string path = WriteProject("Film/Film.kvproj", "file");
    WriteProject("Film/Backups/Film.backup1.kvproj", "backup");
    Age(path, std::chrono::seconds(60));
    const pid_t other = test::StartChild([]() -> int {
        for (;;) pause();
    });
    const std::string theirs = "pid=" + std::to_string(other) + "\n";
    ASSERT_TRUE(test::WriteBytes(path + ".lock", theirs));

    AppState& s = GlobalAppState;
    testing::internal::CaptureStdout();
    const bool opened = OpenProject(path);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(opened);
    EXPECT_EQ(printed.find("[Recovery]"), std::string::npos) << printed;
    EXPECT_EQ(s.projectDescription, "file");
    EXPECT_EQ(s.statusMessage, "Open in another window; opened the project file");
    EXPECT_FALSE(s.unsavedChanges);
    EXPECT_EQ(test::ReadBytes(path + ".lock"), theirs) << "not replaced by the open";
    ASSERT_TRUE(SaveProject(path));
    EXPECT_EQ(test::ReadBytes(path + ".lock"), theirs) << "nor by a save";
    // This window ends first: the other's lock stays.
    DeleteCrashLock();
    EXPECT_EQ(test::ReadBytes(path + ".lock"), theirs);

    kill(other, SIGKILL);
    EXPECT_EQ(test::WaitForChild(other).signal, SIGKILL);
    // Once that window is gone its lock is a crash's: this run takes it.
    WriteCrashLock(path);
    EXPECT_EQ(test::ReadBytes(path + ".lock"), LockText());
    DeleteCrashLock();
    EXPECT_FALSE(CrashLockExists(path));
}

TEST_F(ProjectLife, AFileSystemErrorAbandonsTheOpen) {
    struct Case {
        const char* name;
        bool loopedLock;  // else the backup loops and the lock is a file
    };
    const Case cases[] = {{"the lock cannot be tested", true}, {"the backup cannot be tested", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        std::error_code ec;
        fs::remove_all(dir.file("Film"), ec);
        const std::string path = WriteProject("Film/Film.kvproj", "file");
        // A link to itself: testing it fails with "too many levels of links".
        const std::string looped = c.loopedLock ? path + ".lock" : BackupPath(path, 1);
        fs::create_directories(fs::path(looped).parent_path());
        fs::create_symlink(fs::path(looped).filename(), looped);
        if (!c.loopedLock) {
            ASSERT_TRUE(test::WriteBytes(path + ".lock", StaleLockText()));
        }
        CurrentProject.events.resize(2);

        bool opened = true;
        EXPECT_NO_THROW(opened = OpenProject(path));
        EXPECT_FALSE(opened);
        EXPECT_EQ(GlobalAppState.statusMessage.rfind("Error: ", 0), 0u) << GlobalAppState.statusMessage;
        EXPECT_EQ(CurrentProject.events.size(), 2u);
        EXPECT_TRUE(GlobalAppState.projectPath.empty());
    }
}

TEST_F(ProjectLife, OpenTakesTheFilesAnalysisButKeepsTheTuning) {
    test::SavedProjectState file;
    file.trace.valid = true;
    file.trace.fps = 10.0f;
    file.trace.frames.resize(4);
    file.trace.frames[2].luma = 0.75f;
    file.opticalDetail = 0.6f;
    file.linkedGroups = {"Doors"};
    const std::string path = dir.file("Film/Film.kvproj");
    ASSERT_TRUE(file.Save(path));

    AppState& s = GlobalAppState;
    s.traceAnalysis.model.valid = true;
    s.traceAnalysis.model.thresholdScale = 2.5f;
    s.traceAnalysis.events.resize(7);  // the previous project's detections
    s.markerEvents.resize(2);
    s.linkedGroups = {"Old"};
    ASSERT_TRUE(OpenProject(path));
    EXPECT_TRUE(s.traceAnalysis.valid);
    ASSERT_EQ(s.traceAnalysis.frames.size(), 4u);
    EXPECT_FLOAT_EQ(s.traceAnalysis.frames[2].luma, 0.75f);
    EXPECT_TRUE(s.traceAnalysis.events.empty());
    EXPECT_TRUE(s.traceAnalysis.model.valid) << "the tuning belongs to the preferences";
    EXPECT_FLOAT_EQ(s.traceAnalysis.model.thresholdScale, 2.5f);
    EXPECT_FLOAT_EQ(s.opticalDetail, 0.6f);
    EXPECT_EQ(s.linkedGroups, (std::set<std::string>{"Doors"}));
    EXPECT_TRUE(s.markerEvents.empty());
}

// Stands in for the device's rate change: records what it was asked.
struct RateChanges {
    static inline std::vector<std::uint32_t> rates;
    static void Reopen(AudioOutput& output, std::uint32_t rate) {
        rates.push_back(rate);
        output.requestedRate = rate;
    }
};

TEST_F(ProjectLife, OpeningAtAnotherRateReopensTheOutput) {
    EXPECT_EQ(ProjectLifeServices().setOutputSampleRate, &SetOutputSampleRate) << "the live output's own";
    struct Case {
        const char* name;
        std::uint32_t outputRate;
        std::int32_t fileRate;
        bool reopened;
    };
    const Case cases[] = {
        {"48 kHz output, 96 kHz project", 48000, 96000, true},
        {"44.1 kHz output, 48 kHz project", 44100, 48000, true},
        {"the output's own rate", 48000, 48000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        test::SavedProjectState file;
        file.sampleRate = c.fileRate;
        const std::string path = dir.file("Rate/Rate.kvproj");
        ASSERT_TRUE(file.Save(path));
        ProjectLifeHooks.setOutputSampleRate = RateChanges::Reopen;
        RateChanges::rates.clear();
        LiveAudioOutput.requestedRate = c.outputRate;

        ASSERT_TRUE(OpenProject(path));
        EXPECT_EQ(GlobalAppState.projectSampleRate, c.fileRate);
        EXPECT_EQ(LivePlaybackEngine.sampleRate, c.fileRate);
        EXPECT_EQ(LivePlaybackEngine.mixSampleRate.load(), c.fileRate);
        if (c.reopened) {
            EXPECT_EQ(RateChanges::rates, std::vector<std::uint32_t>{static_cast<std::uint32_t>(c.fileRate)});
        } else {
            EXPECT_TRUE(RateChanges::rates.empty()) << "an output at the project's rate is left alone";
        }
    }
}

TEST_F(ProjectLife, OpenStartsTheRebuildOfABuiltProjectAndDropsOldVoicesOtherwise) {
    const std::string unbuilt = WriteProject("A/A.kvproj", "a");
    test::SavedProjectState file;
    file.project.events.resize(1);
    file.project.results.resize(1);
    file.project.results[0].name = "layer";
    const std::string built = dir.file("B/B.kvproj");
    ASSERT_TRUE(file.Save(built));

    AppendVoice(LivePlaybackEngine, Voice(), 0.0f, 0.0f);
    ASSERT_TRUE(OpenProject(unbuilt));
    EXPECT_EQ(LivePlaybackEngine.voiceCount.load(), 0) << "the previous project's sounds";
    EXPECT_FALSE(GlobalAppState.backgroundJob.active.load());

    ASSERT_TRUE(OpenProject(built));
    const BackgroundJob& job = GlobalAppState.backgroundJob;
    EXPECT_TRUE(job.active.load());
    EXPECT_STREQ(job.label, "Loading audio...");
}

TEST_F(ProjectLife, NewAndOpenWaitWhileAJobOrAnExportReadsTheProject) {
    const std::string path = WriteProject("Film/Film.kvproj", "file");
    for (const char* blocker : {"job", "export"}) {
        SCOPED_TRACE(blocker);
        ResetGlobals();
        AppState& s = GlobalAppState;
        CurrentProject.events.resize(2);
        s.projectPath = "/busy.kvproj";
        if (std::string(blocker) == "job") {
            s.backgroundJob.active.store(true);
        } else {
            s.exportRunning.store(true);
        }
        EXPECT_FALSE(OpenProject(path));
        NewProject();
        EXPECT_EQ(CurrentProject.events.size(), 2u);
        EXPECT_EQ(s.projectPath, "/busy.kvproj");
        s.backgroundJob.active.store(false);
        s.exportRunning.store(false);

        // Once it is done, an open the frame holds goes through.
        s.PendingOpenPath = path;
        FrameProjectToOpen();
        EXPECT_EQ(s.projectPath, path);
    }
}

TEST_F(ProjectLife, NewProjectEmptiesTheDocumentAndKeepsTheSettings) {
    Project& p = CurrentProject;
    AppState& s = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    p.events.resize(3);
    p.results.resize(4);
    p.userShapes.resize(1);
    p.bannedFiles = {"/banned.wav"};
    p.bannedFileIds = {"id"};
    p.scenes.resize(2);
    p.built = true;
    p.startTC = 3600.0f;
    p.totalDuration = 90.0f;
    p.fps = 25.0f;
    p.trackLayout.budgetMode = true;
    p.trackLayout.groups[1].trackCount = 3;
    p.alloyAlgorithm = 3;
    p.scaleType = 2;
    p.maxEventDuration = 12.0f;
    PushUndo();
    s.projectSampleRate = 96000;
    s.exportSettings.handleDuration = 2.0f;
    s.linkedGroups = {"Doors"};
    engine.reverb.size = 0.9f;
    engine.masterGain = 0.5f;
    engine.groupGain = {0.1f, 0.2f, 0.3f};
    s.selectedEvents = {1, 2};
    s.selectedEvent = 1;
    s.expandedEvent = 2;
    s.clipboardEvents.resize(1);
    s.workAreaIn = 1.0f;
    s.workAreaOut = 5.0f;
    s.playhead = 12.0f;
    s.markerEvents.resize(1);
    s.traceAnalysis.valid = true;
    s.traceAnalysis.frames.resize(3);
    s.projectPath = dir.file("Film/Film.kvproj");
    s.unsavedChanges = true;
    s.unsavedPromptState = 1;
    WriteCrashLock(s.projectPath);

    // One entry in each cache, from a sound that is then removed: a render
    // that finds it again can only have come from a cache.
    const std::string sound = dir.file("tone.wav");
    ASSERT_TRUE(test::WriteSoundFile(sound, test::MakeSine(440.0, 0.5, 48000), 1, 48000));
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
    ASSERT_TRUE(GetDecodedSource(sound, 0.0f, 0.5f, 48000, false, left, right, rate, stereo));
    LayerResult alloy;
    alloy.procMode = 3;
    alloy.filepath = sound;
    alloy.sourceDuration = 0.5f;
    alloy.duration = 0.25f;
    AlloyCacheEntry rendered;
    ASSERT_TRUE(RenderAlloyLayer(alloy, 48000, false, rendered));
    LoadWaveformOverview(sound.c_str());
    AppendVoice(engine, Voice(), 0.0f, 0.0f);
    fs::remove(sound);
    s.RefreshEventListCache(p.events, p.results, p.revision);

    NewProject();

    EXPECT_TRUE(p.events.empty());
    EXPECT_TRUE(p.results.empty());
    EXPECT_TRUE(p.userShapes.empty());
    EXPECT_TRUE(p.bannedFiles.empty());
    EXPECT_TRUE(p.bannedFileIds.empty());
    EXPECT_TRUE(p.scenes.empty());
    EXPECT_FALSE(p.built);
    EXPECT_EQ(p.startTC, 0.0f);
    EXPECT_EQ(p.totalDuration, 30.0f);
    EXPECT_EQ(p.fps, 24.0f);
    EXPECT_TRUE(UndoStack.empty());
    EXPECT_EQ(engine.voiceCount.load(), 0);
    EXPECT_EQ(GetDecodedSourceCacheUsage().entries, 0u);
    AlloyCacheEntry again;
    EXPECT_FALSE(RenderAlloyLayer(alloy, 48000, false, again)) << "the alloy cache still held the layer";
    EXPECT_EQ(FindWaveformOverview(sound), nullptr);
    EXPECT_EQ(engine.masterGain, 1.0f);
    EXPECT_EQ(engine.groupGain, (std::array<float, 3>{1.0f, 1.0f, 1.0f}));
    EXPECT_TRUE(s.selectedEvents.empty());
    EXPECT_EQ(s.selectedEvent, -1);
    EXPECT_EQ(s.expandedEvent, -1);
    EXPECT_TRUE(s.clipboardEvents.empty());
    EXPECT_FALSE(s.HasWorkArea());
    EXPECT_EQ(s.playhead, 0.0f);
    EXPECT_EQ(s.viewEnd, 30.0f);
    EXPECT_TRUE(s.markerEvents.empty());
    EXPECT_FALSE(s.traceAnalysis.valid);
    EXPECT_TRUE(s.traceAnalysis.frames.empty());
    EXPECT_FALSE(fs::exists(dir.file("Film/Film.kvproj.lock")));
    EXPECT_TRUE(s.lockFilePath.empty());
    EXPECT_TRUE(s.projectPath.empty());
    EXPECT_FALSE(s.unsavedChanges);
    EXPECT_EQ(s.unsavedPromptState, 0);
    EXPECT_EQ(s.listCacheRevision, -1) << "the next project could match the list cache's keys";
    EXPECT_EQ(s.statusMessage, "New project");
    EXPECT_FLOAT_EQ(s.statusTime, 2.0f);

    // What carries over.
    EXPECT_TRUE(p.trackLayout.budgetMode);
    EXPECT_EQ(p.trackLayout.groups[1].trackCount, 3);
    EXPECT_EQ(p.alloyAlgorithm, 3);
    EXPECT_EQ(p.scaleType, 2);
    EXPECT_EQ(p.maxEventDuration, 12.0f);
    EXPECT_EQ(s.projectSampleRate, 96000);
    EXPECT_EQ(s.exportSettings.handleDuration, 2.0f);
    EXPECT_EQ(s.linkedGroups, (std::set<std::string>{"Doors"}));
    EXPECT_FLOAT_EQ(engine.reverb.size, 0.9f);
}

// Only a finished picture read is saved; one still running is the analysis
// thread's to write and is not read at all.
TEST_F(ProjectLife, SaveKeepsOnlyAFinishedPictureRead) {
    AppState& s = GlobalAppState;
    const std::string path = dir.file("Film/Film.kvproj");
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "finished");
        s.traceAnalysis = TraceAnalysis();
        s.traceAnalysis.valid = true;
        s.traceAnalysis.fps = 10.0f;
        s.traceAnalysis.frames.resize(3);
        s.traceRunning.store(running);
        ASSERT_TRUE(SaveProject(path));
        s.traceRunning.store(false);
        EXPECT_EQ(test::ReadBytes(path).find("\"optical\"") != std::string::npos, !running);
    }
}

TEST_F(ProjectLife, TheFirstSaveOverADamagedFileKeepsTheOriginal) {
    const std::string path = dir.file("Film/Film.kvproj");
    const std::string damaged = R"({"format": "Korvel", "projectDescription": "half)";
    ASSERT_TRUE(test::WriteBytes(path, damaged));
    ASSERT_TRUE(OpenProject(path));
    ASSERT_TRUE(SaveProject(path));
    EXPECT_EQ(test::ReadBytes(path + ".damaged"), damaged);
    ASSERT_TRUE(SaveProject(path));
    EXPECT_FALSE(fs::exists(path + ".damaged-2")) << "only the first save keeps it";
}

TEST_F(ProjectLife, APromptsHeldBackActionRunsOnce) {
    const std::string path = WriteProject("Film/Film.kvproj", "file");
    struct Case {
        const char* name;
        bool quit;
        bool closeHook;
        std::string parked;
        bool dialog;
        bool openHook;
        std::string chosen;
        // What happened.
        int closes;
        std::string projectPath;
        std::string status;
        bool dialogFlagAfter;
    };
    const Case cases[] = {
        {"quit", true, true, "", false, false, "", 1, "/p.kvproj", "", false},
        {"quit without the close hook", true, false, "", false, false, "", 0, "/p.kvproj", "", false},
        {"parked open", false, false, path, false, false, "", 0, path, "Project opened", false},
        {"new project", false, false, "", false, false, "", 0, "", "New project", false},
        {"open through the dialog", false, false, "", true, true, path, 0, path, "Project opened", false},
        {"dialog cancelled", false, false, "", true, true, "", 0, "/p.kvproj", "", false},
        {"no dialog to show", false, false, "", true, false, "", 0, "/p.kvproj", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        AppState& s = GlobalAppState;
        s.projectPath = "/p.kvproj";
        s.unsavedPromptState = 1;
        s.quitAfterPrompt = c.quit;
        s.parkedOpenPath = c.parked;
        s.openThroughDialog = c.dialog;
        int closes = 0;
        std::string title, extension;
        if (c.closeHook) s.platformHooks.closeWindow = [&closes] { ++closes; };
        if (c.openHook) {
            s.platformHooks.openFileDialog = [&](const std::string& t, const std::string& e) {
                title = t;
                extension = e;
                return c.chosen;
            };
        }
        RunPendingProjectAction();
        EXPECT_EQ(closes, c.closes);
        EXPECT_EQ(s.projectPath, c.projectPath);
        EXPECT_EQ(s.statusMessage, c.status);
        EXPECT_FALSE(s.quitAfterPrompt);
        EXPECT_TRUE(s.parkedOpenPath.empty());
        EXPECT_EQ(s.openThroughDialog, c.dialogFlagAfter);
        EXPECT_EQ(s.unsavedPromptState, c.dialogFlagAfter ? 1 : 0);
        if (c.openHook) {
            EXPECT_EQ(title, "Open Korvel Project");
            EXPECT_EQ(extension, "kvproj");
        }
    }
}

TEST_F(ProjectLife, AHeldBackOpenOrNewWaitsWhileBusyAndSaysSo) {
    const std::string path = WriteProject("Film/Film.kvproj", "file");
    struct Case {
        const char* name;
        std::string parked;
        bool dialog;
    };
    const Case cases[] = {{"parked open", path, false}, {"new project", "", false}, {"open through the dialog", "", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        AppState& s = GlobalAppState;
        s.projectPath = "/p.kvproj";
        CurrentProject.events.resize(2);
        s.unsavedPromptState = 1;
        s.parkedOpenPath = c.parked;
        s.openThroughDialog = c.dialog;
        int dialogs = 0;
        s.platformHooks.openFileDialog = [&](const std::string&, const std::string&) {
            ++dialogs;
            return path;
        };
        s.exportRunning.store(true);
        RunPendingProjectAction();
        EXPECT_EQ(s.statusMessage, kBusyEditStatus);
        EXPECT_EQ(s.projectPath, "/p.kvproj");
        EXPECT_EQ(CurrentProject.events.size(), 2u);
        EXPECT_EQ(dialogs, 0);
        EXPECT_EQ(s.unsavedPromptState, 1) << "the prompt stays for another try";
        EXPECT_EQ(s.parkedOpenPath, c.parked);
        EXPECT_EQ(s.openThroughDialog, c.dialog);
        // Once the export ends, the same answer goes through.
        s.exportRunning.store(false);
        RunPendingProjectAction();
        EXPECT_EQ(s.projectPath, c.parked.empty() && !c.dialog ? "" : path);
        EXPECT_EQ(s.unsavedPromptState, 0);
    }
}

TEST_F(ProjectLife, AMissingVideoIsAskedForOnce) {
    struct Case {
        const char* name;
        std::string chosen;
        std::string expected;
    };
    test::SavedProjectState file;
    file.videoPath = dir.file("gone.mov");
    file.videoStartTime = 2.5f;
    const std::string path = dir.file("Film/Film.kvproj");
    ASSERT_TRUE(file.Save(path));
    const Case cases[] = {
        {"a file chosen", "/films/found.mov", "/films/found.mov"},
        {"cancelled: the stored path stays", "", dir.file("gone.mov")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetGlobals();
        int asked = 0;
        GlobalAppState.platformHooks.openVideoDialog = [&] {
            ++asked;
            return c.chosen;
        };
        ASSERT_TRUE(OpenProject(path));
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(GlobalAppState.pendingVideoPath, c.expected);
        EXPECT_FLOAT_EQ(GlobalAppState.pendingVideoStart, 2.5f);
        EXPECT_TRUE(GlobalAppState.videoPath.empty());
    }
}

}  // namespace
}  // namespace korvel
