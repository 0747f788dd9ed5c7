// Saving a project whose 300 sound files of 1 MiB each lie outside the
// project folder, once they have been collected: an unchanged save must cost
// a status and size test per file, no reading of audio. Beside it the same
// save with nothing to collect (the layers name no files): the limit. The
// collected run reports "fingerprint_reads" per save (0 when nothing is
// read) and "korvel_ratio", its time over the limit's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "library/file_id.h"
#include "project/collect_audio.h"
#include "project/project_file_write.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;
using korvel::bench::TimePerIteration;

constexpr int kSources = 300;
constexpr std::size_t kSourceBytes = 1u << 20;

std::atomic<long> gFingerprintReads{0};
bool CountingFingerprint(const std::string& path, std::uint64_t& fingerprint, std::uint64_t& size) {
    gFingerprintReads.fetch_add(1);
    return ComputeFileFingerprint(path, fingerprint, size);
}

struct CollectBench {
    fs::path root;
    std::string collectedPath, limitPath;
    Project collected, limit;
    bool ok = true;

    CollectBench() {
        std::error_code ec;
        root = fs::temp_directory_path(ec) / "korvel_collect_bench";
        fs::remove_all(root, ec);
        std::string bytes(kSourceBytes, '\0');
        for (int s = 0; s < kSources; ++s) {
            const fs::path folder = root / "library" / std::to_string(s);
            fs::create_directories(folder, ec);
            const std::string source = (folder / "take.wav").string();
            bytes[0] = static_cast<char>(s);
            bytes[1] = static_cast<char>(s >> 8);
            std::FILE* file = std::fopen(source.c_str(), "wb");
            ok = ok && file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
            if (file) std::fclose(file);
            // Library files are old: what a save learns about them holds.
            fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(24 * 30), ec);
            LayerResult layer;
            layer.name = "take";
            layer.filepath = source;
            layer.startTime = static_cast<float>(s);
            layer.duration = 1.0f;
            collected.results.push_back(layer);
            layer.filepath.clear();
            limit.results.push_back(layer);
        }
        collectedPath = (root / "Collected" / "Collected.kvproj").string();
        limitPath = (root / "Limit" / "Limit.kvproj").string();
        ok = ok && Save(collected, collectedPath);  // the first save copies
    }
    ~CollectBench() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    static bool Save(const Project& project, const std::string& path) {
        const std::string videoPath, description;
        std::vector<std::string> libraryPaths;
        ReverbSettings reverb;
        TraceAnalysis trace;
        std::set<std::string> linkedGroups;
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

CollectBench& Bench() {
    static CollectBench bench;
    return bench;
}

double gLimitSeconds = 0;

// Every save prints its "[Project] Saved" line; they would bury the table.
template <typename Body>
double Quietly(benchmark::State& state, Body body) {
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    const double seconds = TimePerIteration(state, body);
    std::fflush(stdout);
    if (savedStdout >= 0) dup2(savedStdout, STDOUT_FILENO);
    if (savedStdout >= 0) close(savedStdout);
    if (null >= 0) close(null);
    return seconds;
}

void BM_SaveNothingToCollect(benchmark::State& state) {
    CollectBench& bench = Bench();
    gLimitSeconds = Quietly(state, [&] { benchmark::DoNotOptimize(CollectBench::Save(bench.limit, bench.limitPath)); });
    state.counters["ms"] = gLimitSeconds * 1000.0;
}
BENCHMARK(BM_SaveNothingToCollect)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveUnchangedCollected(benchmark::State& state) {
    CollectBench& bench = Bench();
    if (!bench.ok) {
        state.SkipWithError("the benchmark sources could not be written");
        return;
    }
    SetCollectFingerprintReader(&CountingFingerprint);
    gFingerprintReads = 0;
    const double seconds =
        Quietly(state, [&] { benchmark::DoNotOptimize(CollectBench::Save(bench.collected, bench.collectedPath)); });
    SetCollectFingerprintReader(nullptr);
    state.counters["ms"] = seconds * 1000.0;
    state.counters["fingerprint_reads"] =
        static_cast<double>(gFingerprintReads.load()) / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
    if (gLimitSeconds > 0) state.counters["korvel_ratio"] = seconds / gLimitSeconds;
}
BENCHMARK(BM_SaveUnchangedCollected)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
