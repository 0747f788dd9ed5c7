// Loop fills of 60 s from a 10 s source in each mode (an excerpt can be at
// most half the source, so it makes 5 s) and the replay of the spliced one,
// each beside decoding the 10 s source once: the cost a fill adds to the
// decode it needs anyway. Then the region readers' throughput beside a plain
// sf_readf_float of the same frames.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "engine/loop_fill.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"

namespace {

using namespace korvel;

constexpr int kRate = 48000;
constexpr int kSourceSeconds = 10;

// A 10 s stereo source whose level and colour drift, so that splicing has
// something to choose between. Written once per run.
const std::string& SourcePath() {
    static const std::string path = [] {
        std::error_code error;
        const auto dir = std::filesystem::temp_directory_path(error) / "korvel_bench";
        std::filesystem::create_directories(dir, error);
        const std::string file = (dir / "loop_fill_source.wav").string();
        const int frames = kSourceSeconds * kRate;
        std::vector<float> interleaved(static_cast<std::size_t>(frames) * 2);
        std::uint32_t state = 1;
        float low = 0.0f;
        for (int i = 0; i < frames; ++i) {
            state = state * 1664525u + 1013904223u;
            const float noise = static_cast<float>(state >> 8) / 16777216.0f * 2.0f - 1.0f;
            const float t = static_cast<float>(i) / kRate;
            low += (noise - low) * (0.05f + 0.04f * std::sin(0.9f * t));
            const float level = 0.4f + 0.3f * std::sin(1.3f * t);
            interleaved[2 * i] = level * low * 4.0f;
            interleaved[2 * i + 1] = level * (0.5f * noise + low);
        }
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        if (SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info)) {
            sf_writef_float(out, interleaved.data(), frames);
            sf_close(out);
        }
        return file;
    }();
    return path;
}

// Seconds per decode of the whole source, as the limit benchmark measured
// it; the fills report their time as a multiple of it. Benchmark thread only.
double decodeSeconds = 0.0;

double DecodeReference() {
    if (decodeSeconds <= 0.0) {
        DecodedSource decoded;
        const auto start = std::chrono::steady_clock::now();
        DecodeSourceRegion(SourcePath(), 0.0f, 600.0f, kRate, true, 0, 0, decoded);
        decodeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return decodeSeconds;
}

void BM_DecodeSource10s(benchmark::State& state) {
    DecodedSource decoded;
    decodeSeconds = bench::TimePerIteration(state, [&] {
        DecodeSourceRegion(SourcePath(), 0.0f, 600.0f, kRate, true, 0, 0, decoded);
        benchmark::DoNotOptimize(decoded.left.data());
    });
    state.counters["xRealTime"] = kSourceSeconds / decodeSeconds;
}
BENCHMARK(BM_DecodeSource10s)->Name("LoopFill/Decode10s_limit")->Unit(benchmark::kMillisecond);

void BM_LoopFill(benchmark::State& state, float targetSeconds, bool loop) {
    auto voice = std::make_unique<Voice>();
    std::vector<FillChunk> chunks;
    // The first call decodes into the cache; the timed ones read from it,
    // as every render after the first does.
    RenderLoopFill(SourcePath(), 0.0f, targetSeconds, kRate, true, *voice, 0, loop, &chunks);
    const double seconds = bench::TimePerIteration(state, [&] {
        RenderLoopFill(SourcePath(), 0.0f, targetSeconds, kRate, true, *voice, 0, loop, &chunks);
        benchmark::DoNotOptimize(voice->samplesL.data());
    });
    state.counters["chunks"] = static_cast<double>(chunks.size());
    state.counters["vsDecode"] = seconds / DecodeReference();
}
BENCHMARK_CAPTURE(BM_LoopFill, Excerpt5s, 5.0f, false)->Name("LoopFill/Excerpt5s")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopFill, Tiling60s, 60.0f, true)->Name("LoopFill/Tiling60s")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopFill, Splicing60s, 60.0f, false)->Name("LoopFill/Splicing60s")->Unit(benchmark::kMillisecond);

void BM_SpliceReplay(benchmark::State& state) {
    auto voice = std::make_unique<Voice>();
    LayerResult layer;
    layer.filepath = SourcePath();
    layer.duration = 60.0f;
    layer.stereo = true;
    RenderLoopFill(SourcePath(), 0.0f, 60.0f, kRate, true, *voice, 0, false, &layer.fillChunks);
    const double seconds = bench::TimePerIteration(state, [&] {
        bool stereo = true;
        RenderSpliceVoice(layer, kRate, *voice, nullptr, nullptr, stereo, 0.0f);
        benchmark::DoNotOptimize(voice->samplesL.data());
    });
    state.counters["vsDecode"] = seconds / DecodeReference();
}
BENCHMARK(BM_SpliceReplay)->Name("LoopFill/Replay60s")->Unit(benchmark::kMillisecond);

// The readers at the file's own rate (no resampling): what the export's
// essence files cost beside reading the same frames plainly.
enum class Reader { Plain, Mono, Channels, Stereo };

void BM_ReadRegion(benchmark::State& state, Reader reader) {
    const std::string& path = SourcePath();
    const double bytes = 2.0 * 4.0 * (kSourceSeconds - 2) * kRate;  // 8 s of stereo float
    std::vector<float> a, b, interleaved;
    std::vector<std::vector<float>> channels;
    int count = 0, pre = 0;
    bool stereo = false;
    for (auto _ : state) {
        switch (reader) {
            case Reader::Plain: {
                SF_INFO info{};
                SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
                interleaved.resize(static_cast<std::size_t>(8 * kRate) * 2);
                sf_seek(file, kRate, SEEK_SET);
                sf_readf_float(file, interleaved.data(), 8 * kRate);
                sf_close(file);
                break;
            }
            case Reader::Mono: ReadSourceRegion(path, 1.5, 7.0, 0.5, 0.5, kRate, a, pre); break;
            case Reader::Channels: ReadSourceRegionChannels(path, 1.5, 7.0, 0.5, 0.5, kRate, channels, count, pre); break;
            case Reader::Stereo: ReadSourceRegionStereo(path, 1.5, 7.0, 0.5, 0.5, kRate, a, b, stereo, pre); break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * static_cast<double>(state.iterations())));
}
BENCHMARK_CAPTURE(BM_ReadRegion, Plain, Reader::Plain)->Name("ReadRegion8s/sf_readf_float_peer");
BENCHMARK_CAPTURE(BM_ReadRegion, Mono, Reader::Mono)->Name("ReadRegion8s/ReadSourceRegion");
BENCHMARK_CAPTURE(BM_ReadRegion, Channels, Reader::Channels)->Name("ReadRegion8s/ReadSourceRegionChannels");
BENCHMARK_CAPTURE(BM_ReadRegion, Stereo, Reader::Stereo)->Name("ReadRegion8s/ReadSourceRegionStereo");

}  // namespace
