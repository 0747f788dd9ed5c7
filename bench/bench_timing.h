#pragma once
// Wall time per iteration of a benchmark loop, for the ratios against peers
// that benchmarks report once both sides have run.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace korvel::bench {

// Runs `body` once per iteration of `state`; seconds per iteration, 0 when
// there was none.
template <typename Body>
double TimePerIteration(benchmark::State& state, Body body) {
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) body();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return state.iterations() ? elapsed.count() / static_cast<double>(state.iterations()) : 0.0;
}

// Wall seconds of one call of `body`.
template <typename Body>
double Seconds(Body body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes `bytes` to `path` with one fwrite and syncs it: the limit a file
// writer is measured against.
inline void WriteRawFile(const char* path, const std::vector<char>& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    fsync(fileno(file));
    std::fclose(file);
}

}  // namespace korvel::bench
