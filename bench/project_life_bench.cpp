// Opening, saving and auto-saving the generated large project (5,000 events,
// 20,000 layers) through the life cycle, beside the project file's reader
// and writer alone, which are the limit: "ms" per call, and on the life
// cycle's runs "x_file_io", its time over the bare read or write.
// OpenProject is timed without the cache rebuild it starts (the job is
// recorded, never run). The auto-save rotates five full backup slots each
// time. The preferences the life cycle saves go to a temporary folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/background_job.h"
#include "bench_timing.h"
#include "large_project.h"
#include "library/library.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project_file_read.h"
#include "project/project_file_write.h"
#include "project/project_life.h"
#include "project/undo.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;
using korvel::bench::FillLargeProject;
using korvel::bench::TimePerIteration;

constexpr int kBackupSlots = 5;

struct LifeBench {
    fs::path root;
    std::string path;
    bool ready = false;

    LifeBench() {
        std::error_code ec;
        root = fs::temp_directory_path(ec) / "korvel_life_bench";
        fs::remove_all(root, ec);
        const fs::path folder = root / "Bench";
        fs::create_directories(folder / "Audio", ec);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        path = (folder / "Bench.kvproj").string();
        FillLargeProject(CurrentProject, folder);
        ClearUndoHistory();
        AppState& state = GlobalAppState;
        state.projectDescription = "Benchmark project";
        state.maxBackups = kBackupSlots;
        ready = SaveProject(path) && state.projectPath == path;
    }

    ~LifeBench() {
        DeleteCrashLock();
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

LifeBench& Bench() {
    static LifeBench bench;
    return bench;
}

// Every save prints its "[Project] Saved" line; they would bury the table.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~QuietStdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }

private:
    int saved_ = -1;
};

// What SaveProject writes, handed to the writer directly.
bool WriteAlone(const std::string& target) {
    const AppState& state = GlobalAppState;
    const PlaybackEngine& engine = LivePlaybackEngine;
    std::vector<std::string> libraryPaths;
    for (const Palette& palette : SoundLibrary.palettes) libraryPaths.push_back(palette.folder);
    const ProjectSaveRequest request{
        .project = CurrentProject,
        .videoPath = state.videoPath,
        .libraryPaths = libraryPaths,
        .projectDescription = state.projectDescription,
        .projectSampleRate = state.projectSampleRate,
        .reverb = engine.reverb,
        .scenes = CurrentProject.scenes,
        .traceAnalysis = state.traceAnalysis,
        .linkedGroups = state.linkedGroups,
    };
    return WriteProjectFile(target, request);
}

void EndRecordedJob() {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    if (job.active.load()) EndBackgroundJob(job);
}

double gReadSeconds = 0;
double gWriteSeconds = 0;

void SetRatio(benchmark::State& state, double seconds, double limit) {
    state.counters["ms"] = seconds * 1000.0;
    if (seconds > 0 && limit > 0) state.counters["x_file_io"] = seconds / limit;
}

bool Ready(benchmark::State& state) {
    if (Bench().ready) return true;
    state.SkipWithError("the benchmark project could not be saved");
    return false;
}

void BM_LifeReadProjectFile(benchmark::State& state) {
    if (!Ready(state)) return;
    gReadSeconds = TimePerIteration(state, [] {
        Project opened;
        benchmark::DoNotOptimize(ReadProjectFile(Bench().path, opened).ok);
    });
    state.counters["ms"] = gReadSeconds * 1000.0;
}
BENCHMARK(BM_LifeReadProjectFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LifeOpenProject(benchmark::State& state) {
    if (!Ready(state)) return;
    QuietStdout quiet;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(OpenProject(Bench().path));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EndRecordedJob();
    }
    const double perOpen = state.iterations() ? seconds / static_cast<double>(state.iterations()) : 0.0;
    SetRatio(state, perOpen, gReadSeconds);
}
BENCHMARK(BM_LifeOpenProject)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LifeWriteProjectFile(benchmark::State& state) {
    if (!Ready(state)) return;
    QuietStdout quiet;
    gWriteSeconds = TimePerIteration(state, [] { benchmark::DoNotOptimize(WriteAlone(Bench().path)); });
    state.counters["ms"] = gWriteSeconds * 1000.0;
}
BENCHMARK(BM_LifeWriteProjectFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LifeSaveProject(benchmark::State& state) {
    if (!Ready(state)) return;
    QuietStdout quiet;
    const double seconds = TimePerIteration(state, [] { benchmark::DoNotOptimize(SaveProject(Bench().path)); });
    SetRatio(state, seconds, gWriteSeconds);
}
BENCHMARK(BM_LifeSaveProject)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LifeAutoSaveProject(benchmark::State& state) {
    if (!Ready(state)) return;
    QuietStdout quiet;
    // Every slot full first, so each timed auto-save deletes one and moves four.
    for (int slot = 0; slot < kBackupSlots; ++slot) AutoSaveProject(Bench().path);
    const double seconds = TimePerIteration(state, [] { benchmark::DoNotOptimize(AutoSaveProject(Bench().path)); });
    SetRatio(state, seconds, gWriteSeconds);
}
BENCHMARK(BM_LifeAutoSaveProject)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
