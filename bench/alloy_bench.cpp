// Alloy renders: each algorithm renders a 4 s stereo layer at 48 kHz from
// four sources, bypassing the render cache (layer id 0) and, in the "cold"
// runs, the decoded-source cache too. "x_realtime" is seconds of layer per
// second of one core. Beside them, the per-bin triangular smoothing of the
// spectral transfer as running sums against the direct weighted sum.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/alloy_render.h"
#include "dsp/alloy_stft.h"
#include "library/decoded_source_cache.h"

namespace {

using namespace korvel;

constexpr int kRate = 48000;
constexpr float kSeconds = 4.0f;

// Four distinct stereo sources (tones over a little noise), written once.
struct BenchSources {
    std::filesystem::path dir;
    std::string paths[4];

    BenchSources() {
        std::error_code ec;
        dir = std::filesystem::temp_directory_path(ec) / "korvel_alloy_bench";
        std::filesystem::create_directories(dir, ec);
        const double tones[4][3] = {{110, 660, 2500}, {220, 1400, 5200}, {3000, 7000, 12000}, {3, 40, 900}};
        uint32_t noise = 12345;
        for (int s = 0; s < 4; ++s) {
            const int frames = static_cast<int>(kRate * (kSeconds + 0.5f));
            std::vector<float> interleaved(static_cast<size_t>(frames) * 2);
            for (int i = 0; i < frames; ++i) {
                for (int c = 0; c < 2; ++c) {
                    noise = noise * 1664525u + 1013904223u;
                    double v = (static_cast<double>(noise >> 8) / (1u << 24) - 0.5) * 0.02;
                    for (double hz : tones[s]) v += 0.15 * std::sin(2.0 * 3.141592653589793 * hz * (1.0 + 0.01 * c) * i / kRate);
                    interleaved[static_cast<size_t>(2 * i + c)] = static_cast<float>(v);
                }
            }
            paths[s] = (dir / ("source" + std::to_string(s) + ".wav")).string();
            SF_INFO info{};
            info.channels = 2;
            info.samplerate = kRate;
            info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            if (SNDFILE* f = sf_open(paths[s].c_str(), SFM_WRITE, &info)) {
                sf_writef_float(f, interleaved.data(), frames);
                sf_close(f);
            }
        }
    }
    ~BenchSources() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const BenchSources& Sources() {
    static const BenchSources sources;
    return sources;
}

LayerResult BenchLayer(int algo) {
    const auto& s = Sources();
    LayerResult layer;
    layer.id = 0;  // never cached
    layer.procMode = 3;
    layer.alloyAlgo = algo;
    layer.duration = kSeconds;
    layer.stereo = true;
    layer.filepath = s.paths[0];
    layer.sourceDuration = kSeconds;
    layer.alloyMid = {s.paths[1], "", 0.1f, kSeconds, "mid"};
    layer.alloyHigh = {s.paths[2], "", 0.2f, kSeconds, "high"};
    layer.alloyEnv = {s.paths[3], "", 0.0f, kSeconds, "env"};
    layer.hasAlloyCurves = true;
    for (int i = 0; i < kAlloyCurvePoints; ++i) {
        layer.alloyToneCurve[static_cast<size_t>(i)] = 0.5f + 0.4f * std::sin(0.3f * static_cast<float>(i));
        layer.alloyGainCurve[static_cast<size_t>(i)] = 0.6f + 0.3f * std::cos(0.2f * static_cast<float>(i));
    }
    return layer;
}

void RenderLayer(benchmark::State& state, bool cold) {
    const LayerResult layer = BenchLayer(static_cast<int>(state.range(0)));
    AlloyCacheEntry out;
    if (!RenderAlloyLayer(layer, kRate, true, out)) {
        state.SkipWithError("render failed");
        return;
    }
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            ClearDecodedSourceCache();
            state.ResumeTiming();
        }
        RenderAlloyLayer(layer, kRate, true, out);
        benchmark::DoNotOptimize(out.samplesL.data());
    }
    state.counters["x_realtime"] = benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_AlloyRender(benchmark::State& state) { RenderLayer(state, false); }
void BM_AlloyRenderCold(benchmark::State& state) { RenderLayer(state, true); }
// 0 blend (default), 1 spectral transfer, 2 filter bands, 3 graft.
BENCHMARK(BM_AlloyRender)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlloyRenderCold)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

std::array<int, kAlloyBins> TransferHalfWidths() {
    const float binHz = static_cast<float>(kRate) / kAlloyFftSize;
    std::array<int, kAlloyBins> r{};
    for (int b = 0; b < kAlloyBins; ++b)
        r[static_cast<size_t>(b)] =
            std::clamp(static_cast<int>(std::max(20.0f, static_cast<float>(b) * binHz) * 0.5f / binHz), 2, 256);
    return r;
}

AlloyMagnitudes BenchSpectrum() {
    AlloyMagnitudes m{};
    for (size_t b = 0; b < kAlloyBins; ++b) m[b] = 1.0f / (1.0f + 0.01f * static_cast<float>(b)) + 0.1f * static_cast<float>(b % 7);
    return m;
}

void BM_TriangularSmoothingRunningSums(benchmark::State& state) {
    TriangularSmoother smoother(TransferHalfWidths());
    const AlloyMagnitudes in = BenchSpectrum();
    AlloyMagnitudes out{};
    for (auto _ : state) {
        smoother.Smooth(in, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_TriangularSmoothingRunningSums);

// The smoothing written out as a weighted sum per bin.
void BM_TriangularSmoothingDirect(benchmark::State& state) {
    const auto r = TransferHalfWidths();
    const AlloyMagnitudes in = BenchSpectrum();
    AlloyMagnitudes out{};
    for (auto _ : state) {
        for (int b = 0; b < kAlloyBins; ++b) {
            const int rb = r[static_cast<size_t>(b)];
            float sum = 0.0f, weights = 0.0f;
            for (int q = -rb; q <= rb; ++q) {
                const float u = 1.0f - static_cast<float>(std::abs(q)) / static_cast<float>(rb + 1);
                sum += u * in[static_cast<size_t>(std::clamp(b + q, 0, kAlloyBins - 1))];
                weights += u;
            }
            out[static_cast<size_t>(b)] = sum / weights;
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_TriangularSmoothingDirect);

}  // namespace
