// A save and an auto-save killed at any moment: the project file is the old
// or the new whole file, every backup that existed is whole under its old or
// its rotated name, the new backup is whole wherever it is, and the next
// open recovers the newest whole backup when it is newer than the file. Each trial kills a child process that saves and then auto-saves a
// large project with SIGKILL at a different moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/background_job.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/project_file_read.h"
#include "project/project_life.h"
#include "project/undo.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSlots = 3;

// Large enough that a save takes many milliseconds, so kills land inside it.
void MakeLargeProject(Project& project) {
    project = Project();
    project.totalDuration = 3600.0f;
    project.events.resize(1500);
    for (std::size_t i = 0; i < project.events.size(); ++i) {
        Event& event = project.events[i];
        event.time = static_cast<float>(i) * 2.0f;
        event.duration = 1.5f;
        CopyText(event.keywords, "door slam wood " + std::to_string(i));
        for (std::size_t p = 0; p < event.weight.size(); ++p) event.weight[p] = static_cast<float>((i + p) % 97) / 97.0f;
    }
    project.results.resize(6000);
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        LayerResult& layer = project.results[i];
        layer.name = "layer " + std::to_string(i);
        layer.eventIdx = static_cast<std::int32_t>(i / 4);
        layer.startTime = static_cast<float>(i) * 0.5f;
        layer.duration = 0.75f;
    }
    project.built = true;
}

// The description of a whole project file; "" when it does not read whole.
std::string WholeDescription(const std::string& path) {
    Project scratch;
    const ProjectLoadResult result = ReadProjectFile(path, scratch);
    return result.ok && result.damage.empty() ? result.projectDescription : std::string();
}

void EndRecordedJob() {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    if (job.active.load()) EndBackgroundJob(job);
}

TEST(ProjectLifeKillTrials, KilledSavesAndAutoSavesLoseNothingAndRecoverOnlyNewerWork) {
    test::TempDir dir(test::MemoryBackedBase());
    const std::string path = dir.file("Film/Film.kvproj");
    AppState& state = GlobalAppState;
    MakeLargeProject(CurrentProject);
    ClearUndoHistory();
    state.maxBackups = kSlots;
    state.projectPath = path;

    // The backups that exist before each trial (slot 1 newest), then the
    // project file saved after them.
    std::fflush(stdout);
    std::vector<std::string> backups(kSlots + 1);
    for (int k = kSlots; k >= 1; --k) {
        state.projectDescription = "backup-" + std::to_string(k);
        ASSERT_TRUE(AutoSaveProject(path));
    }
    for (int slot = 1; slot <= kSlots; ++slot) {
        backups[static_cast<std::size_t>(slot)] = test::ReadBytes(BackupPath(path, slot));
        ASSERT_EQ(WholeDescription(BackupPath(path, slot)), "backup-" + std::to_string(slot));
    }
    state.projectDescription = "old";
    ASSERT_TRUE(SaveProject(path));
    ASSERT_EQ(state.projectPath, path);

    // What the kills are spread over: a child's save and auto-save, timed
    // from the fork to its end.
    const auto SaveThenAutoSave = [&] {
        state.projectDescription = "child-save";
        SaveProject(path);
        state.projectDescription = "child-backup";
        AutoSaveProject(path);
    };
    const auto started = Clock::now();
    ASSERT_TRUE(test::RunInChild([&] {
                    if (!std::freopen("/dev/null", "w", stdout)) return 1;
                    SaveThenAutoSave();
                    return 0;
                }).exited);
    const double cycle = std::chrono::duration<double>(Clock::now() - started).count();

    constexpr int kTrials = 24;
    int recovered = 0, keptOld = 0, caughtBeforeSlotOne = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE(trial);
        // The files as a run that had the project open left them: the
        // project saved after its backups, and its lock.
        state.projectDescription = "old";
        ASSERT_TRUE(SaveProject(path));
        // This run closes the project; the child's run opens it again.
        DeleteCrashLock();
        std::error_code ignored;
        fs::remove(BackupPath(path, 0), ignored);
        for (int slot = 1; slot <= kSlots; ++slot) {
            ASSERT_TRUE(test::WriteBytes(BackupPath(path, slot), backups[static_cast<std::size_t>(slot)]));
            fs::last_write_time(BackupPath(path, slot), fs::file_time_type::clock::now() - std::chrono::minutes(2));
        }
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(1));
        const std::string oldFile = test::ReadBytes(path);

        const pid_t child = test::StartChild([&] {
            if (!std::freopen("/dev/null", "w", stdout)) return 1;
            SaveThenAutoSave();
            for (;;) pause();
        });
        // Spread over the child's whole save and auto-save, and a little past.
        std::this_thread::sleep_for(std::chrono::duration<double>(cycle * 1.2 * trial / (kTrials - 1)));
        kill(child, SIGKILL);
        ASSERT_EQ(test::WaitForChild(child).signal, SIGKILL);

        // The project file: the old one or the child's whole one.
        const std::string fileNow = test::ReadBytes(path);
        if (fileNow == oldFile) {
            ++keptOld;
        } else {
            EXPECT_EQ(WholeDescription(path), "child-save") << "a torn project file";
        }

        // Every backup is whole: an earlier one under its own or the next
        // name, or the child's new one, still under its own name (slot 0) or
        // moved into slot 1. None but the last may be lost.
        std::vector<int> foundAt(kSlots + 1, 0);
        bool childBackup = false;
        for (int slot = 0; slot <= kSlots; ++slot) {
            const std::string bytes = test::ReadBytes(BackupPath(path, slot));
            if (bytes.empty()) continue;
            bool earlier = false;
            for (int k = 1; k <= kSlots; ++k) {
                if (bytes != backups[static_cast<std::size_t>(k)]) continue;
                earlier = true;
                EXPECT_TRUE(slot == k || slot == k + 1) << "backup " << k << " found in slot " << slot;
                ++foundAt[static_cast<std::size_t>(k)];
            }
            if (!earlier) {
                EXPECT_LE(slot, 1);
                EXPECT_EQ(WholeDescription(BackupPath(path, slot)), "child-backup") << "a torn backup in " << slot;
                childBackup = true;
            }
        }
        for (int k = 1; k < kSlots; ++k) EXPECT_EQ(foundAt[static_cast<std::size_t>(k)], 1) << "backup " << k;

        // Reopening after the crash: the backup only when it is the newer work.
        std::fflush(stdout);
        ASSERT_TRUE(OpenProject(path));
        EndRecordedJob();
        if (fs::exists(BackupPath(path, 0)) && !fs::exists(BackupPath(path, 1))) ++caughtBeforeSlotOne;
        if (childBackup) {
            ++recovered;
            EXPECT_EQ(state.projectDescription, "child-backup");
            EXPECT_EQ(state.statusMessage, "Recovered from backup");
        } else {
            EXPECT_EQ(state.projectDescription, fileNow == oldFile ? "old" : "child-save");
        }
    }
    // How the kills fell, for a reader of the log (not a condition).
    std::printf("[Trials] %d of %d kept the old project file, %d recovered the child's backup, %d of them "
                "killed while slot 1 was free (cycle %.0f ms)\n",
                keptOld, kTrials, recovered, caughtBeforeSlotOne, cycle * 1000.0);
    EndRecordedJob();
    DeleteCrashLock();
}

}  // namespace
}  // namespace korvel
