// The build engine: planning and scoring 200 Spot events over a generated
// library of 10,000 records, and single events of each kind (a Spot, a long
// Scatter, a long Bloom, a Fill of the largest plan, an alloy Spot with
// extra layers), each beside a bare loop of as many ScoreSound calls over the same pool
// (the limit); and the region choice per kind on a 30 s stereo file, with
// its caches cleared and warm, beside decoding the file once.
//
// The library's files do not exist, so the build's region choice takes its
// fallback and the figures measure planning, scoring and drawing. Every
// layer that is not a sketch cost one pass of ScoreSound over the whole pool
// (the first request of a Spot's attempt ladder always finds candidates in
// this library; a Scatter grain scores once, matched or not), which is how
// the bare loop's calls are counted.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/build_events.h"
#include "engine/candidate_pool.h"
#include "engine/source_region.h"
#include "library/library.h"
#include "project/project.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

std::vector<Palette> MakeLibrary(int files) {
    static const char* const kWords[] = {"door", "impact", "metal", "wood", "glass", "whoosh", "rain", "wind"};
    std::uint32_t seed = 12345;
    const auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
    };
    Palette palette;
    palette.name = "Generated";
    for (int i = 0; i < files; ++i) {
        LibraryFile file;
        char name[64];
        std::snprintf(name, sizeof name, "%s_%s_%05d", kWords[i % 8], kWords[(i / 8) % 8], i);
        file.name = name;
        file.path = std::string("/generated/") + name + ".wav";
        file.duration = 0.2f + 20.0f * next() * next();
        float largest = 0.0f;
        for (float& e : file.bandEnergies) largest = std::max(largest, e = next());
        for (float& e : file.bandEnergies) e /= largest;
        float sum = 0.0f, weighted = 0.0f;
        for (int b = 0; b < 5; ++b) {
            sum += file.bandEnergies[b];
            weighted += (0.1f + 0.2f * static_cast<float>(b)) * file.bandEnergies[b];
        }
        file.spectralWeight = weighted / sum;
        file.crestDb = 3.0f + 25.0f * next();
        file.spectralFlux = next();
        file.temporalCentroid = next();
        file.attackTime = 0.3f * next();
        file.zeroCrossingRate = next() * 0.5f;
        file.harmonicity = next();
        file.spectralFlatness = next();
        palette.files.push_back(file);
    }
    return {palette};
}

const std::vector<Palette>& Library10k() {
    static const std::vector<Palette> palettes = MakeLibrary(10000);
    return palettes;
}

Event MakeSpot(float time, float intensity, bool keyed) {
    Event event;
    event.shape = KindValue(EventKind::Spot);
    event.time = time;
    event.duration = 1.0f;
    event.spread = 0.5f;
    event.weight.fill(0.3f + 0.4f * intensity);
    event.intensity.fill(intensity);
    if (keyed) std::snprintf(event.keywords, sizeof event.keywords, "%s", "door -glass");
    return event;
}

// ScoreSound over the pool `passes` times, as the build's scoring does.
double BareScoring(const CandidatePool& pool, long passes, float duration, std::int32_t kind) {
    const auto t0 = Clock::now();
    float sink = 0.0f;
    for (long p = 0; p < passes; ++p)
        for (const LibraryFile* file : pool)
            sink += ScoreSound(*file, 0.5f, duration, kind, {}, 0.7f, nullptr, -1.0f, 0);
    benchmark::DoNotOptimize(sink);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

long ScoredLayers(const Project& project) {
    long n = 0;
    for (const LayerResult& layer : project.results) n += layer.isSketch ? 0 : 1;
    return n;
}

void ReportAgainstScoring(benchmark::State& state, double buildSeconds, long passes, double events, float duration,
                          std::int32_t kind) {
    const CandidatePool pool = GatherCandidateFiles(Library10k(), -1, nullptr);
    const double bare = BareScoring(pool, passes, duration, kind);
    const double n = static_cast<double>(state.iterations());
    state.counters["build_ms"] = buildSeconds / n * 1000.0;
    state.counters["bare_scoring_ms"] = bare * 1000.0;
    state.counters["pool_passes"] = static_cast<double>(passes);
    if (events > 0.0) state.counters["events_per_s"] = events * n / buildSeconds;
    state.counters["build_vs_bare"] = buildSeconds / n / bare;  // target: at most 3
}

void BM_Build200SpotEvents(benchmark::State& state) {
    const std::vector<Palette>& palettes = Library10k();
    double seconds = 0.0;
    long passes = 0;
    for (auto _ : state) {
        Project project;
        for (int i = 0; i < 200; ++i)
            project.events.push_back(MakeSpot(2.0f * static_cast<float>(i), 0.2f + 0.004f * static_cast<float>(i), i % 2 == 0));
        const auto t0 = Clock::now();
        BuildEvents(project, palettes, -1, -1.0f, -1.0f, false, false);
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        passes = ScoredLayers(project);
    }
    ReportAgainstScoring(state, seconds, passes, 200.0, 1.0f, KindValue(EventKind::Spot));
}
BENCHMARK(BM_Build200SpotEvents)->Unit(benchmark::kMillisecond)->Iterations(2);

// 0 Spot, 1 a 30 s Scatter, 2 a 30 s Bloom, 3 a Fill of 24 layers, 4 an
// alloy Spot with extra layers; all at full intensity. An alloy layer scores
// the pool once per source (four), every other layer once.
void BM_BuildOneEvent(benchmark::State& state) {
    static const char* const kLabels[] = {"Spot", "Scatter 30 s", "Bloom 30 s", "Fill, 24 layers",
                                          "alloy Spot with extra layers"};
    static const EventKind kKinds[] = {EventKind::Spot, EventKind::Scatter, EventKind::Bloom, EventKind::Fill,
                                       EventKind::Spot};
    const auto which = static_cast<std::size_t>(state.range(0));
    const std::vector<Palette>& palettes = Library10k();
    double seconds = 0.0;
    long passes = 0;
    float duration = 1.0f;
    for (auto _ : state) {
        Project project;
        Event event = MakeSpot(1.0f, 1.0f, false);
        event.shape = KindValue(kKinds[which]);
        if (which == 1 || which == 2) event.duration = 30.0f;
        if (which == 2)
            for (int i = 0; i < kCurvePoints; ++i) event.intensity[i] = 0.5f + 0.5f * std::sin(0.1f * static_cast<float>(i));
        if (which == 3) {
            event.duration = 60.0f;
            event.fillLayers = 24;
        }
        if (which == 4) {
            event.alloy = true;
            event.spread = 1.0f;
            for (int i = 0; i < kCurvePoints; ++i) event.weight[i] = static_cast<float>(i) / 255.0f;
        }
        duration = event.duration;
        project.events.push_back(event);
        const auto t0 = Clock::now();
        BuildEvents(project, palettes, 0, -1.0f, -1.0f, false, false);
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        passes = ScoredLayers(project) * (which == 4 ? 4 : 1);
    }
    state.SetLabel(kLabels[which]);
    ReportAgainstScoring(state, seconds, passes, 0.0, which == 1 ? 0.2f : duration, KindValue(kKinds[which]));
}
BENCHMARK(BM_BuildOneEvent)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 30 s stereo file of noise bursts over a quiet bed, written once.
const std::string& RegionFile() {
    static const std::string path = [] {
        std::error_code ec;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(ec) / "korvel_build_bench";
        std::filesystem::create_directories(dir, ec);
        const std::string file = (dir / "regions.wav").string();
        constexpr int kRate = 48000;
        const int frames = 30 * kRate;
        std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
        std::uint32_t noise = 99;
        for (int i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double burst = std::fmod(t, 2.5) < 0.3 ? 0.8 : 0.02;
            for (int c = 0; c < 2; ++c) {
                noise = noise * 1664525u + 1013904223u;
                samples[static_cast<std::size_t>(2 * i + c)] =
                    static_cast<float>(burst * (static_cast<double>(noise >> 8) / (1u << 24) - 0.5));
            }
        }
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = kRate;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        if (SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info)) {
            sf_writef_float(f, samples.data(), frames);
            sf_close(f);
        }
        return file;
    }();
    return path;
}

double DecodeWholeFile(const std::string& path) {
    const auto t0 = Clock::now();
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f != nullptr) {
        std::vector<float> block(8192 * static_cast<std::size_t>(info.channels));
        while (sf_readf_float(f, block.data(), 8192) > 0) benchmark::DoNotOptimize(block.data());
        sf_close(f);
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void BM_ChooseSourceRegion(benchmark::State& state) {
    const std::int32_t kind = static_cast<std::int32_t>(state.range(0));
    const bool cold = state.range(1) == 1;
    LibraryFile file;
    file.path = RegionFile();
    file.duration = 30.0f;
    CurvePoints curve;
    for (int i = 0; i < kCurvePoints; ++i) curve[i] = 0.2f + 0.8f * std::sin(3.14159f * static_cast<float>(i) / 255.0f);
    BuildRandom random{7};
    ClearSourceRegionCaches();
    (void)ChooseSourceRegion(file, 2.0f, kind, 0.0f, random, &curve, 1.0f, 0.5f, nullptr, nullptr);
    double seconds = 0.0;
    for (auto _ : state) {
        if (cold) ClearSourceRegionCaches();
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(
            ChooseSourceRegion(file, 2.0f, kind, 0.0f, random, &curve, 1.0f, 0.5f, nullptr, nullptr));
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    const double decode = DecodeWholeFile(file.path);
    const double n = static_cast<double>(state.iterations());
    state.SetLabel(std::string(EventKindNames[static_cast<std::size_t>(kind)]) + (cold ? ", caches cleared" : ", caches warm"));
    state.counters["region_ms"] = seconds / n * 1000.0;
    state.counters["decode_file_ms"] = decode * 1000.0;
    state.counters["region_vs_decode"] = seconds / n / decode;
}
BENCHMARK(BM_ChooseSourceRegion)
    ->ArgsProduct({{0, 1, 3, 4}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
