// The refresh after a relink of a 2,000-layer project, run on the UI thread
// before the frame continues: the stored paths re-resolved, the missing list
// rebuilt and every voice rendered again, beside the same refresh without
// the render (what a relink that found nothing costs).
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "library/file_id.h"
#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/project.h"
#include "ui/panels/missing_sources_card.h"

namespace {

using namespace korvel;
namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr int kLayers = 2000;
constexpr int kSources = 100;
constexpr int kLayersPerEvent = 4;

bool WriteTone(const std::string& path, double frequency, double seconds) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / kRate));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return true;
}

// 100 two-second sources under a temporary folder, played by 2,000 layers of
// one second each, four to an event.
struct RefreshFixture {
    fs::path folder = fs::temp_directory_path() / ("korvel-relink-bench-" + std::to_string(getpid()));

    RefreshFixture() {
        fs::create_directories(folder);
        std::vector<FileIdResult> sources;
        for (int s = 0; s < kSources; ++s) {
            const std::string path = (folder / ("source" + std::to_string(s) + ".wav")).string();
            WriteTone(path, 110.0 + 13.0 * s, 2.0);
            sources.push_back(ComputeFileId(path));
        }
        Project& project = CurrentProject;
        project = Project{};
        project.totalDuration = 600.0f;
        project.events.resize(kLayers / kLayersPerEvent);
        for (int i = 0; i < kLayers; ++i) {
            const FileIdResult& source = sources[static_cast<std::size_t>(i % kSources)];
            LayerResult layer;
            layer.eventIdx = i / kLayersPerEvent;
            layer.filepath = source.path;
            layer.fileId = source.id;
            layer.startTime = 0.25f * static_cast<float>(i);
            layer.duration = 1.0f;
            layer.sourceOffset = 0.5f;
            layer.sourceDuration = 1.0f;
            project.results.push_back(layer);
        }
        GlobalAppState.projectSampleRate = kRate;
        SetPlaybackSampleRate(LivePlaybackEngine, kRate);
    }
    ~RefreshFixture() {
        CurrentProject = Project{};
        PrepareVoices(LivePlaybackEngine, kRate, 0);
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

void Refresh(benchmark::State& state, std::int32_t relinked) {
    RefreshFixture fixture;
    const double seconds = bench::TimePerIteration(state, [relinked] { RefreshAfterRelink(relinked); });
    state.counters["ms"] = seconds * 1e3;
    state.counters["layers"] = kLayers;
}

void BM_RelinkRefresh2000Layers(benchmark::State& state) { Refresh(state, 1); }
BENCHMARK(BM_RelinkRefresh2000Layers)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RelinkRefresh2000LayersNothingFound(benchmark::State& state) { Refresh(state, 0); }
BENCHMARK(BM_RelinkRefresh2000LayersNothingFound)->Unit(benchmark::kMillisecond);

}  // namespace
