// Rendering plain layers into voices, with the decoded-source cache cold and
// warm, beside decoding the same regions alone (the limit: a render must
// read its source); and each processing step's share, measured by rendering
// the same layers with one step turned on at a time. Then the full gain
// normalisation over 5,000 voices spread across ten minutes.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/layer_render.h"
#include "engine/voice_gain.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"

namespace {

using namespace korvel;

constexpr int kRate = 48000;
constexpr int kSources = 50;
constexpr int kLayers = 500;

// Fifty 12 s mono sources: tones with a little noise, so that pitch
// detection and the equaliser see real material.
const std::vector<std::string>& Sources() {
    static const std::vector<std::string> paths = [] {
        std::error_code error;
        const auto dir = std::filesystem::temp_directory_path(error) / "korvel_bench" / "render_sources";
        std::filesystem::create_directories(dir, error);
        std::vector<std::string> out;
        std::uint32_t state = 3;
        for (int s = 0; s < kSources; ++s) {
            const std::string path = (dir / ("source" + std::to_string(s) + ".wav")).string();
            const int frames = 12 * kRate;
            std::vector<float> samples(static_cast<std::size_t>(frames));
            const double hz = 110.0 * std::pow(2.0, s / 12.0);
            for (int i = 0; i < frames; ++i) {
                state = state * 1664525u + 1013904223u;
                const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
                samples[static_cast<std::size_t>(i)] =
                    static_cast<float>(0.3 * std::sin(2.0 * M_PI * hz * i / kRate)) + 0.05f * noise;
            }
            SF_INFO info{};
            info.samplerate = kRate;
            info.channels = 1;
            info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            if (SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info)) {
                sf_writef_float(f, samples.data(), frames);
                sf_close(f);
            }
            out.push_back(path);
        }
        return out;
    }();
    return paths;
}

std::vector<LayerResult> Layers() {
    std::vector<LayerResult> layers(kLayers);
    for (int i = 0; i < kLayers; ++i) {
        LayerResult& layer = layers[static_cast<std::size_t>(i)];
        layer.filepath = Sources()[static_cast<std::size_t>(i % kSources)];
        layer.sourceOffset = static_cast<float>((i / kSources) % 7);
        layer.sourceDuration = layer.duration = 5.0f;
        layer.startTime = 0.5f * static_cast<float>(i);
        layer.eventIdx = i;
        layer.groupTrack = 0;
        layer.weight = 0.5f;
    }
    return layers;
}

struct Steps {
    bool eq = false, tuning = false, pitch = false, loudness = false;
};

double RenderAll(bool cold, Steps steps) {
    auto engine = std::make_unique<PlaybackEngine>();
    engine->normalizeLUFS = steps.loudness;
    std::vector<LayerResult> layers = Layers();
    for (LayerResult& layer : layers) {
        layer.hasEq = steps.eq;
        layer.eqGains = {1.4f, 0.8f, 1.0f, 1.2f, 0.7f};
        layer.pitchVarShift = layer.pitchShift = steps.pitch ? 0.7f : 0.0f;
    }
    if (cold) ClearDecodedSourceCache();
    PrepareVoices(*engine, kRate, kLayers);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < layers.size(); ++i) {
        RenderLayerVoice(*engine, layers[i], static_cast<std::int32_t>(i), kRate, nullptr, 0, nullptr,
                         steps.tuning ? 1 : 0, 0, false);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double DecodeAll(bool cold) {
    if (cold) ClearDecodedSourceCache();
    const std::vector<LayerResult> layers = Layers();
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
    const auto start = std::chrono::steady_clock::now();
    for (const LayerResult& layer : layers)
        GetDecodedSource(layer.filepath, layer.sourceOffset, layer.sourceDuration, kRate, false, left, right, rate, stereo);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RenderPlainLayers(benchmark::State& state) {
    const bool cold = state.range(0) != 0;
    Sources();
    double render = 0.0, decode = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        decode += DecodeAll(cold);
        state.ResumeTiming();
        render += RenderAll(cold, {});
    }
    state.counters["vsDecodeOnly"] = render / decode;
}
BENCHMARK(BM_RenderPlainLayers)->Arg(1)->Arg(0)->ArgName("cold")->Iterations(2)->Unit(benchmark::kMillisecond)
    ->Name("RenderLayers500");

// Each step's share of a warm render with every step on.
void BM_RenderStepShares(benchmark::State& state) {
    Sources();
    RenderAll(false, {});  // warm the cache
    double base = 0, eq = 0, tuning = 0, pitch = 0, loudness = 0, all = 0;
    for (auto _ : state) {
        base += RenderAll(false, {});
        eq += RenderAll(false, {.eq = true});
        tuning += RenderAll(false, {.tuning = true});
        pitch += RenderAll(false, {.pitch = true});
        loudness += RenderAll(false, {.loudness = true});
        all += RenderAll(false, {true, true, true, true});
    }
    state.counters["share_eq"] = (eq - base) / all;
    state.counters["share_tuning"] = (tuning - base) / all;
    state.counters["share_pitch"] = (pitch - base) / all;
    state.counters["share_loudness"] = (loudness - base) / all;
    state.counters["all_ms"] = 1000.0 * all / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RenderStepShares)->Iterations(1)->Unit(benchmark::kMillisecond)->Name("RenderLayers500/StepShares");

void BM_NormalizeFull(benchmark::State& state) {
    auto engine = std::make_unique<PlaybackEngine>();
    std::uint32_t seed = 9;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        Voice voice;
        voice.startTime = static_cast<float>(seed >> 8) / 16777216.0f * 600.0f;
        voice.duration = 0.5f + static_cast<float>(i % 20);
        voice.baseGain = 1.0f;
        voice.eventIndex = i / 4;
        voice.overviewPeak.fill(0.2f);
        engine->voices.push_back(std::move(voice));
    }
    for (auto _ : state) NormalizeVoiceGains(*engine, true);
}
BENCHMARK(BM_NormalizeFull)->Unit(benchmark::kMillisecond)->Name("NormalizeVoiceGains/Full5000Voices");

}  // namespace
