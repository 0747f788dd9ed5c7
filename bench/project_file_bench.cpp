// Opening and saving a large project: 5,000 events and 20,000 layers whose
// 300 source files already lie in the project's own "Audio" folder, so a save
// copies nothing and only checks each file. "ms" is milliseconds per open or
// save, bytes/s the project file's size over that time. Beside them the
// same file parsed and re-serialised by nlohmann::json (text only: no
// records, no paths, no identities); those runs report "korvel_ratio", our
// time over nlohmann's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "large_project.h"
#include "library/file_id.h"
#include "project/fixed_text.h"
#include "project/project_file_read.h"
#include "project/project_file_write.h"

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define KORVEL_BENCH_HAS_NLOHMANN 1
#endif

namespace {

using namespace korvel;
namespace fs = std::filesystem;
using korvel::bench::FillLargeProject;
using korvel::bench::TimePerIteration;


struct BenchProject {
    fs::path folder;
    std::string path;
    Project project;
    std::string videoPath;
    std::vector<std::string> libraryPaths = {"/library/Foley", "/library/Ambience"};
    std::string description = "Benchmark project";
    ReverbSettings reverb;
    TraceAnalysis trace;
    std::set<std::string> linkedGroups = {"Group 1", "Group 2"};
    std::size_t fileBytes = 0;

    BenchProject() {
        std::error_code ec;
        folder = fs::temp_directory_path(ec) / "korvel_project_bench" / "Bench";
        fs::remove_all(folder.parent_path(), ec);
        fs::create_directories(folder / "Audio", ec);
        path = (folder / "Bench.kvproj").string();

        FillLargeProject(project, folder);
        if (Save()) fileBytes = static_cast<std::size_t>(fs::file_size(path, ec));
    }

    ~BenchProject() {
        std::error_code ec;
        fs::remove_all(folder.parent_path(), ec);
    }

    bool Save() const {
        const ProjectSaveRequest request{
            .project = project,
            .videoPath = videoPath,
            .libraryPaths = libraryPaths,
            .projectDescription = description,
            .reverb = reverb,
            .scenes = project.scenes,
            .traceAnalysis = trace,
            .linkedGroups = linkedGroups,
        };
        return WriteProjectFile(path, request);
    }
};

BenchProject& Bench() {
    static BenchProject bench;
    return bench;
}

// The most resident memory a call adds, in bytes: the process's high-water
// mark is reset before it (Linux 4.0 and later), read after it, less what was
// resident before. -1 where the mark cannot be reset.
long StatusKilobytes(const char* key) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(key);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, key, length) == 0) value = std::strtol(line + length, nullptr, 10);
    }
    std::fclose(status);
    return value;
}

template <typename Body>
double PeakBytesAdded(Body body) {
    const int clear = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    const bool reset = clear >= 0 && write(clear, "5", 1) == 1;
    if (clear >= 0) close(clear);
    const long before = StatusKilobytes("VmRSS:");
    body();
    const long peak = StatusKilobytes("VmHWM:");
    if (!reset || before < 0 || peak < 0) return -1;
    return static_cast<double>(peak - before) * 1024.0;
}

void SetPeakCounters(benchmark::State& state, double peakBytes) {
    state.counters["peak_MB"] = peakBytes / 1e6;
    if (Bench().fileBytes > 0) state.counters["peak_x_file"] = peakBytes / static_cast<double>(Bench().fileBytes);
}

// Seconds per open and per save of ours, kept for the ratios the peer reports.
double gOpenSeconds = 0;
double gSaveSeconds = 0;

void SetCounters(benchmark::State& state, double seconds) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Bench().fileBytes));
    state.counters["ms"] = seconds * 1000.0;
    state.counters["MB"] = static_cast<double>(Bench().fileBytes) / 1e6;
}

void BM_ProjectOpen(benchmark::State& state) {
    BenchProject& bench = Bench();
    if (bench.fileBytes == 0) {
        state.SkipWithError("the benchmark project could not be saved");
        return;
    }
    Project project;
    // Measured on a first open into an empty project: the events and layers
    // it builds count, as they would for a project opened at start.
    SetPeakCounters(state, PeakBytesAdded([&] { benchmark::DoNotOptimize(ReadProjectFile(bench.path, project).ok); }));
    // Each open fills a fresh project, as opening one at start does; the
    // time includes freeing it again.
    gOpenSeconds = TimePerIteration(state, [&] {
        Project opened;
        ProjectLoadResult result = ReadProjectFile(bench.path, opened);
        benchmark::DoNotOptimize(result.ok);
    });
    state.counters["layers"] = static_cast<double>(project.results.size());
    SetCounters(state, gOpenSeconds);
}
BENCHMARK(BM_ProjectOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

// The text-to-tree part of an open, to tell parsing from building the records.
void BM_ProjectOpenParseOnly(benchmark::State& state) {
    std::string text;
    ReadWholeTextFile(Bench().path, text);
    // The whole tree at once, as an open needed before it read its events and
    // layers one at a time: the peak an open now avoids.
    SetPeakCounters(state, PeakBytesAdded([&] {
        JsonValue root = ParseJson(text);
        benchmark::DoNotOptimize(root.members.size());
    }));
    const double seconds = TimePerIteration(state, [&] {
        JsonValue root = ParseJson(text);
        benchmark::DoNotOptimize(root.members.size());
    });
    SetCounters(state, seconds);
}
BENCHMARK(BM_ProjectOpenParseOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProjectSave(benchmark::State& state) {
    BenchProject& bench = Bench();
    if (bench.fileBytes == 0) {
        state.SkipWithError("the benchmark project could not be saved");
        return;
    }
    // Every save prints its "[Project] Saved" line; they would bury the table.
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    SetPeakCounters(state, PeakBytesAdded([&] { benchmark::DoNotOptimize(bench.Save()); }));
    gSaveSeconds = TimePerIteration(state, [&] { benchmark::DoNotOptimize(bench.Save()); });
    std::fflush(stdout);
    if (savedStdout >= 0) dup2(savedStdout, STDOUT_FILENO);
    if (savedStdout >= 0) close(savedStdout);
    if (null >= 0) close(null);
    SetCounters(state, gSaveSeconds);
}
BENCHMARK(BM_ProjectSave)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef KORVEL_BENCH_HAS_NLOHMANN
std::string FileText() {
    std::string text;
    ReadWholeTextFile(Bench().path, text);
    return text;
}

void BM_ProjectOpen_nlohmann(benchmark::State& state) {
    const std::string text = FileText();
    const double seconds = TimePerIteration(state, [&] {
        nlohmann::json document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document.size());
    });
    SetCounters(state, seconds);
    if (seconds > 0 && gOpenSeconds > 0) state.counters["korvel_ratio"] = gOpenSeconds / seconds;
}
BENCHMARK(BM_ProjectOpen_nlohmann)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProjectSave_nlohmann(benchmark::State& state) {
    const nlohmann::json document = nlohmann::json::parse(FileText());
    const double seconds = TimePerIteration(state, [&] {
        std::string text = document.dump(2);
        benchmark::DoNotOptimize(text.data());
    });
    SetCounters(state, seconds);
    if (seconds > 0 && gSaveSeconds > 0) state.counters["korvel_ratio"] = gSaveSeconds / seconds;
}
BENCHMARK(BM_ProjectSave_nlohmann)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
