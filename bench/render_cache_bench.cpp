// The render cache: one frame's streaming pass over 5,000 voices with
// nothing to load beside one frame's budget at 60 Hz (the limit); the
// longest time the voice lock is held while streaming loads voices; and a
// full cache rebuild of 500 layers beside the sum of their own renders.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_timing.h"
#include "engine/layer_render.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "project/app_state.h"
#include "project/project.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;

// A placeholder renders as silence of its duration: no file is read.
LayerResult Placeholder(float start, float duration) {
    LayerResult layer;
    layer.isSketch = true;
    layer.startTime = start;
    layer.duration = duration;
    return layer;
}

void BM_StreamNothingToLoad(benchmark::State& state) {
    auto engine = std::make_unique<PlaybackEngine>();
    engine->sampleRate = kRate;
    std::vector<LayerResult> layers;
    for (int i = 0; i < 5000; ++i) {
        layers.push_back(Placeholder(static_cast<float>(i % 20), 1.0f));
        Voice voice;
        voice.startTime = layers.back().startTime;
        voice.duration = 1.0f;
        voice.resultIndex = i;
        voice.samplesL.assign(16, 0.0f);
        voice.frameCount = 16;
        AppendVoice(*engine, std::move(voice), 0.0f, 0.0f);
    }
    engine->ready.store(true);
    const double seconds = bench::TimePerIteration(
        state, [&] { StreamVoicesNearPlayhead(*engine, layers.data(), static_cast<std::int32_t>(layers.size())); });
    state.counters["ms"] = seconds * 1e3;
    state.counters["limit_ms"] = 1000.0 / 60.0;
}
BENCHMARK(BM_StreamNothingToLoad)->Unit(benchmark::kMicrosecond);

// 200 released voices of 5 s each come into the window at once; a watcher
// measures the longest stretch in which the voice lock could not be taken.
void BM_StreamLoadsLockHold(benchmark::State& state) {
    auto engine = std::make_unique<PlaybackEngine>();
    engine->sampleRate = kRate;
    std::vector<LayerResult> layers;
    for (int i = 0; i < 200; ++i) layers.push_back(Placeholder(static_cast<float>(i % 25), 5.0f));
    double longest = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        PrepareVoices(*engine, kRate, 256);
        for (int i = 0; i < 200; ++i) {
            Voice voice;
            voice.startTime = layers[static_cast<std::size_t>(i)].startTime;
            voice.duration = 5.0f;
            voice.resultIndex = i;
            voice.unloaded = true;
            AppendVoice(*engine, std::move(voice), 0.0f, 0.0f);
        }
        engine->ready.store(true);
        std::atomic<bool> stop{false};
        std::thread watch([&] {
            Clock::time_point heldSince{};
            bool held = false;
            while (!stop.load(std::memory_order_relaxed)) {
                std::unique_lock lock(engine->voiceMutex, std::try_to_lock);
                const auto now = Clock::now();
                if (!lock.owns_lock()) {
                    if (!held) heldSince = now;
                    held = true;
                } else if (held) {
                    held = false;
                    longest = std::max(longest, std::chrono::duration<double>(now - heldSince).count());
                }
            }
        });
        state.ResumeTiming();
        StreamVoicesNearPlayhead(*engine, layers.data(), static_cast<std::int32_t>(layers.size()));
        state.PauseTiming();
        stop.store(true);
        watch.join();
        state.ResumeTiming();
    }
    state.counters["longest_lock_us"] = longest * 1e6;
}
BENCHMARK(BM_StreamLoadsLockHold)->Unit(benchmark::kMillisecond)->Iterations(5);

std::vector<LayerResult> PlainLayers() {
    std::vector<LayerResult> layers;
    for (int i = 0; i < 500; ++i) layers.push_back(Placeholder(static_cast<float>(i), 1.0f));
    return layers;
}

void BM_RebuildCache500(benchmark::State& state) {
    CurrentProject = Project{};
    CurrentProject.results = PlainLayers();
    GlobalAppState.projectSampleRate = kRate;
    const double seconds = bench::TimePerIteration(state, [] { RebuildCache(false); });
    state.counters["ms"] = seconds * 1e3;
    PrepareVoices(LivePlaybackEngine, kRate, 0);
    CurrentProject = Project{};
}
BENCHMARK(BM_RebuildCache500)->Unit(benchmark::kMillisecond);

// The peer: the 500 renders alone, into a fresh engine each time.
void BM_SumOf500Renders(benchmark::State& state) {
    std::vector<LayerResult> layers = PlainLayers();
    auto engine = std::make_unique<PlaybackEngine>();
    const double seconds = bench::TimePerIteration(state, [&] {
        PrepareVoices(*engine, kRate, 500);
        for (std::size_t i = 0; i < layers.size(); ++i)
            RenderLayerVoice(*engine, layers[i], static_cast<std::int32_t>(i), kRate, nullptr, 0, nullptr, 0, 0, false);
    });
    state.counters["ms"] = seconds * 1e3;
}
BENCHMARK(BM_SumOf500Renders)->Unit(benchmark::kMillisecond);

}  // namespace
