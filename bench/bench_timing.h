#pragma once
// Wall time per iteration of a benchmark loop, for the ratios against peers
// that benchmarks report once both sides have run.
#include <benchmark/benchmark.h>

#include <chrono>

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

}  // namespace korvel::bench
