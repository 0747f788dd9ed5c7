// The launcher's description of a large recent project (5,000 events with
// their curves, about 20 MB): read only as far as the description beside
// reading and parsing the whole file, which is what a row would cost the
// frame otherwise. The whole-file benchmark reports "x_prefix": its time
// over the prefix read's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/launcher.h"
#include "bench_timing.h"
#include "project/project_file_read.h"

namespace {

using korvel::bench::TimePerIteration;

struct LauncherBenchFile {
    std::string path;
    bool ready = false;
};

// A project file as the program lays it out: the scalars with the
// description first, then the events.
const LauncherBenchFile& BenchFile() {
    static const LauncherBenchFile file = [] {
        LauncherBenchFile f;
        f.path = (std::filesystem::temp_directory_path() / "korvel_launcher_bench.kvproj").string();
        std::string text = "{\n  \"format\": \"kvproj\",\n  \"version\": 3,\n  \"fps\": 24,\n"
                           "  \"projectDescription\": \"Chase sequence, reel 2, temp mix\",\n  \"events\": [\n";
        unsigned noise = 2026;
        for (int e = 0; e < 5000; ++e) {
            text += e == 0 ? "    {\n" : ",\n    {\n";
            text += "      \"time\": " + std::to_string(e * 0.7131) + ",\n      \"keywords\": \"door slam wood\",\n";
            for (const char* curve : {"weight", "intensity", "shapeValues"}) {
                text += std::string("      \"") + curve + "\": [";
                for (int p = 0; p < 256; ++p) {
                    noise = noise * 1664525u + 1013904223u;
                    text += (p ? ", " : "") + std::to_string((noise >> 8) % 1000000 / 1e6);
                }
                text += "],\n";
            }
            text += "      \"locked\": false\n    }";
        }
        text += "\n  ]\n}\n";
        if (std::FILE* out = std::fopen(f.path.c_str(), "wb")) {
            f.ready = std::fwrite(text.data(), 1, text.size(), out) == text.size();
            std::fclose(out);
        }
        return f;
    }();
    return file;
}

double gPrefixSeconds = 0.0;

void BM_LauncherDescriptionPrefix(benchmark::State& state) {
    if (!BenchFile().ready) {
        state.SkipWithError("the benchmark project could not be written");
        return;
    }
    gPrefixSeconds = TimePerIteration(
        state, [] { benchmark::DoNotOptimize(korvel::ReadProjectDescription(BenchFile().path)); });
    state.counters["ms"] = gPrefixSeconds * 1000.0;
}
BENCHMARK(BM_LauncherDescriptionPrefix)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_LauncherDescriptionWholeFile(benchmark::State& state) {
    if (!BenchFile().ready) {
        state.SkipWithError("the benchmark project could not be written");
        return;
    }
    const double seconds = TimePerIteration(state, [] {
        std::string text;
        korvel::ReadWholeTextFile(BenchFile().path, text);
        benchmark::DoNotOptimize(korvel::ProjectDescriptionFromText(text));
    });
    state.counters["ms"] = seconds * 1000.0;
    if (gPrefixSeconds > 0.0) state.counters["x_prefix"] = seconds / gPrefixSeconds;
}
BENCHMARK(BM_LauncherDescriptionWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
