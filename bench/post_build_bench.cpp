// The build's finish, track allocation with and without the budget, and the
// post-build passes over a generated project of 5,000 events and 20,000
// layers, beside a plain sort of the layers by start time (the limit: every
// one of them orders the layers at least once).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench_timing.h"
#include "engine/build_finish.h"
#include "engine/layer_deconfliction.h"
#include "engine/silence_protection.h"
#include "engine/track_allocation.h"
#include "project/project.h"

namespace {

using namespace korvel;

constexpr int kEvents = 5000;
constexpr int kLayersPerEvent = 4;

// Events spread over an hour, each with four layers around its start.
const Project& Generated() {
    static const Project project = [] {
        Project p;
        p.totalDuration = 3600.0f;
        std::uint32_t state = 7;
        auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return static_cast<float>(state >> 8) / 16777216.0f;
        };
        for (int e = 0; e < kEvents; ++e) {
            Event event;
            event.shape = static_cast<std::int32_t>(e % 5);
            event.time = next() * 3590.0f;
            event.duration = 0.5f + next() * 6.0f;
            event.hero = e % 50 == 0;
            p.events.push_back(event);
            for (int k = 0; k < kLayersPerEvent; ++k) {
                LayerResult layer;
                layer.eventIdx = e;
                layer.group = e % 3;
                layer.startTime = event.time + next() * 0.02f;
                layer.duration = event.duration * (0.5f + next());
                layer.layerGain = 1.0f / (1.0f + 0.3f * k);
                layer.weight = next();
                p.results.push_back(layer);
            }
        }
        return p;
    }();
    return project;
}

double SortSeconds() {
    static const double seconds = [] {
        double best = 1e9;
        for (int run = 0; run < 5; ++run) {
            std::vector<LayerResult> layers = Generated().results;
            const auto start = std::chrono::steady_clock::now();
            std::stable_sort(layers.begin(), layers.end(),
                             [](const LayerResult& a, const LayerResult& b) { return a.startTime < b.startTime; });
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    }();
    return seconds;
}

template <typename Pass>
void RunPass(benchmark::State& state, Pass pass, bool budget) {
    Project project = Generated();
    project.trackLayout.budgetMode = budget;
    std::vector<LayerResult> original = project.results;
    double total = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        project.results = original;
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        pass(project);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::ClobberMemory();
    }
    if (state.iterations() > 0) state.counters["vsSort"] = total / static_cast<double>(state.iterations()) / SortSeconds();
}

void BM_SortLimit(benchmark::State& state) {
    const std::vector<LayerResult>& original = Generated().results;
    std::vector<LayerResult> layers;
    for (auto _ : state) {
        state.PauseTiming();
        layers = original;
        state.ResumeTiming();
        std::stable_sort(layers.begin(), layers.end(),
                         [](const LayerResult& a, const LayerResult& b) { return a.startTime < b.startTime; });
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SortLimit)->Name("PostBuild20k/SortByStart_limit")->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(RunPass, Finish, [](Project& p) { FinishBuild(p); }, false)
    ->Name("PostBuild20k/FinishBuild")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunPass, Allocate, [](Project& p) { AllocateTracks(p); }, false)
    ->Name("PostBuild20k/AllocateTracks")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunPass, AllocateBudget, [](Project& p) { AllocateTracks(p); }, true)
    ->Name("PostBuild20k/AllocateTracksBudget")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunPass, Protect, [](Project& p) { ProtectSilence(p); }, false)
    ->Name("PostBuild20k/ProtectSilence")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunPass, Deconflict, [](Project& p) { DeconflictLayers(p); }, false)
    ->Name("PostBuild20k/DeconflictLayers")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunPass, Duck, [](Project& p) { ApplyDensityDucking(p); }, false)
    ->Name("PostBuild20k/ApplyDensityDucking")->Unit(benchmark::kMillisecond);

}  // namespace
