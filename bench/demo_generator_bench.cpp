// The build's demo-content step: synthesising and writing the whole demo
// tree, beside std::filesystem::copy of the tree it writes (the limit: the
// same bytes put on disk with nothing to compute).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "bench_timing.h"
#include "presets/demo/demo_generator.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;

const fs::path& Root() {
    static const fs::path root = fs::temp_directory_path() / ("korvel_demo_gen_bench_" + std::to_string(::getpid()));
    return root;
}

double copySeconds = 0.0;

std::uintmax_t TreeBytes(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) bytes += it->file_size(ec);
    }
    return bytes;
}

void BM_CopyOfTheGeneratedTree(benchmark::State& state) {
    std::string error;
    if (!GenerateDemoContent((Root() / "source").string(), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    copySeconds = bench::TimePerIteration(state, [&] {
        std::error_code ec;
        fs::remove_all(Root() / "copy", ec);
        fs::copy(Root() / "source", Root() / "copy", fs::copy_options::recursive, ec);
    });
    state.counters["MB"] = static_cast<double>(TreeBytes(Root() / "source")) / 1e6;
    state.counters["ms"] = copySeconds * 1000.0;
    std::error_code ec;
    fs::remove_all(Root() / "copy", ec);
}
BENCHMARK(BM_CopyOfTheGeneratedTree)->Unit(benchmark::kMillisecond);

void BM_GenerateDemoContent(benchmark::State& state) {
    bool written = true;
    const double seconds = bench::TimePerIteration(state, [&] {
        std::string error;
        written = GenerateDemoContent((Root() / "generated").string(), error) && written;
    });
    if (!written) state.SkipWithError("the generator failed");
    state.counters["ms"] = seconds * 1000.0;
    if (copySeconds > 0.0) state.counters["x_copy"] = seconds / copySeconds;
    std::error_code ec;
    fs::remove_all(Root(), ec);
}
BENCHMARK(BM_GenerateDemoContent)->Unit(benchmark::kMillisecond);

}  // namespace
