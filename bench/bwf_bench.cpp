// The Broadcast WAVE writer's throughput beside writing the same bytes with
// plain fwrite: the cost of interleaving, sanitising and converting to 24 bit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "library/bwf_writer.h"

namespace {

using namespace korvel;

constexpr int kRate = 48000;
constexpr int kSeconds = 20;

std::string ScratchPath(const char* name) {
    std::error_code error;
    const auto dir = std::filesystem::temp_directory_path(error) / "korvel_bench";
    std::filesystem::create_directories(dir, error);
    return (dir / name).string();
}

void BM_WriteBWFStereoVsFwrite(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const size_t frames = static_cast<size_t>(kSeconds) * kRate;
    std::vector<float> left(frames), right(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * i / kRate));
        right[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 660.0 * i / kRate));
    }
    const std::string ours = ScratchPath("bench_ours.wav");
    const std::string plain = ScratchPath("bench_plain.wav");

    // The exact bytes the writer produces, to write them again plainly.
    WriteBWFStereo(ours, left.data(), right.data(), static_cast<int64_t>(frames), kRate, 0.0, nullptr);
    std::vector<char> bytes;
    if (FILE* f = std::fopen(ours.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        bytes.resize(static_cast<size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
        std::fclose(f);
    }

    double oursSeconds = 0.0, plainSeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        WriteBWFStereo(ours, left.data(), right.data(), static_cast<int64_t>(frames), kRate, 0.0, nullptr);
        const auto t1 = Clock::now();
        if (FILE* f = std::fopen(plain.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        const auto t2 = Clock::now();
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        plainSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    const double megabytes = static_cast<double>(bytes.size()) / 1e6 * static_cast<double>(state.iterations());
    state.counters["ours_MBps"] = megabytes / oursSeconds;
    state.counters["fwrite_MBps"] = megabytes / plainSeconds;
    state.counters["ours_vs_fwrite"] = plainSeconds / oursSeconds;  // 1 would be as fast as fwrite
    std::error_code error;
    std::filesystem::remove(ours, error);
    std::filesystem::remove(plain, error);
}
BENCHMARK(BM_WriteBWFStereoVsFwrite)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
