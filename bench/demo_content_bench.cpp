// Installing a demo tree of 40 one-second sound files, four libraries, ten
// recipes and one project into an empty documents folder, beside copying
// the same tree with std::filesystem::copy (the limit).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "presets/demo_content.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;

struct DemoTree {
    fs::path root = fs::temp_directory_path() / ("korvel_demo_bench_" + std::to_string(::getpid()));
    DemoTree() {
        const fs::path demo = root / "exe" / "DemoContent";
        const std::string sound(48000 * 2, 'x');
        for (int library = 0; library < 4; ++library) {
            const fs::path folder = demo / "Libraries" / ("Lib" + std::to_string(library));
            fs::create_directories(folder);
            for (int file = 0; file < 10; ++file) std::ofstream(folder / ("s" + std::to_string(file) + ".wav")) << sound;
        }
        fs::create_directories(demo / "Recipes");
        for (int recipe = 0; recipe < 10; ++recipe) std::ofstream(demo / "Recipes" / ("r" + std::to_string(recipe) + ".kvrecipe")) << "{}";
        fs::create_directories(demo / "Projects" / "Demo");
        std::ofstream(demo / "Projects" / "Demo" / "Demo.kvproj") << "{}";
    }
    ~DemoTree() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

void BM_InstallDemoContent(benchmark::State& state) {
    DemoTree tree;
    setenv("XDG_DOCUMENTS_DIR", (tree.root / "docs").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tree.root / "config").c_str(), 1);
    auto app = std::make_unique<AppState>();
    auto project = std::make_unique<Project>();
    auto engine = std::make_unique<PlaybackEngine>();
    auto library = std::make_unique<Library>();
    std::vector<PendingLibraryFolder> pending;
    app->executableFolder = (tree.root / "exe").string();
    const PreferenceHomes homes{app.get(), project.get(), engine.get(), library.get(), &pending};
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(tree.root / "docs");
        pending.clear();
        app->recentProjects.clear();
        state.ResumeTiming();
        InstallDemoContent(false, homes);
    }
    // The benchmarks after this one see the process's own folders again.
    unsetenv("XDG_DOCUMENTS_DIR");
    unsetenv("XDG_CONFIG_HOME");
}
BENCHMARK(BM_InstallDemoContent)->Unit(benchmark::kMillisecond);

void BM_FilesystemCopyOfTheDemoTree(benchmark::State& state) {
    DemoTree tree;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(tree.root / "copy");
        state.ResumeTiming();
        std::error_code ec;
        fs::copy(tree.root / "exe" / "DemoContent", tree.root / "copy", fs::copy_options::recursive, ec);
    }
}
BENCHMARK(BM_FilesystemCopyOfTheDemoTree)->Unit(benchmark::kMillisecond);

}  // namespace
