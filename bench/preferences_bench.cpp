// Loading and saving the preferences of a large library: 500 palettes and
// ten recent projects. Saving runs on the UI thread, so the limit is one
// frame at 60 Hz; "ms" is milliseconds per load or save and "of_frame" that
// time over the frame's 16.7 ms.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "presets/preferences.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;
using korvel::bench::TimePerIteration;

constexpr int kPalettes = 500;
constexpr int kRecentProjects = 10;
constexpr double kFrameSeconds = 1.0 / 60.0;

struct BenchPreferences {
    fs::path folder;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<PlaybackEngine> engine = std::make_unique<PlaybackEngine>();
    std::unique_ptr<Library> library = std::make_unique<Library>();
    std::vector<PendingLibraryFolder> pending;
    PreferenceHomes homes{app.get(), project.get(), engine.get(), library.get(), &pending};
    std::vector<std::string> recent;

    BenchPreferences() {
        std::error_code ec;
        folder = fs::temp_directory_path(ec) / "korvel_preferences_bench";
        fs::remove_all(folder, ec);
        fs::create_directories(folder / "Projects", ec);
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

        for (int i = 0; i < kPalettes; ++i) {
            Palette palette;
            palette.folder = "/media/sfx/Library " + std::to_string(i) + "/Recordings";
            palette.name = "Recordings " + std::to_string(i);
            palette.enabled = i % 3 != 0;
            palette.trackGroup = i % 4 - 1;
            library->palettes.push_back(std::move(palette));
        }
        for (int i = 0; i < kRecentProjects; ++i) {
            const fs::path project = folder / "Projects" / ("Reel " + std::to_string(i) + ".kvproj");
            std::ofstream(project) << "{}";
            recent.push_back(project.string());
        }
        app->recentProjects = recent;
        app->traceAnalysis.model.valid = true;
        app->updateInfo.updateAvailable = true;
        app->updateInfo.notes = {"Faster scans", "New reverb"};
        SavePrefs(homes);
    }
    ~BenchPreferences() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

BenchPreferences& Bench() {
    static BenchPreferences bench;
    return bench;
}

void Report(benchmark::State& state, double seconds) {
    state.counters["ms"] = seconds * 1000.0;
    state.counters["of_frame"] = seconds / kFrameSeconds;
}

void BM_PreferencesSave(benchmark::State& state) {
    BenchPreferences& bench = Bench();
    Report(state, TimePerIteration(state, [&] { SavePrefs(bench.homes); }));
}
BENCHMARK(BM_PreferencesSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreferencesLoad(benchmark::State& state) {
    BenchPreferences& bench = Bench();
    Report(state, TimePerIteration(state, [&] {
               bench.app->recentProjects.clear();  // loading appends to the list
               LoadPreferences(bench.homes);
           }));
    if (bench.app->recentProjects != bench.recent || !bench.pending.empty())
        state.SkipWithError("the file did not read back as written");
}
BENCHMARK(BM_PreferencesLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
