// The AAF export of 1,000 clips with handles (their essence files read from
// 20 source files, written, and referenced by the AAF file), beside writing
// the same essence with WriteBWFClipMono alone (the limit). Reports both
// times, their ratio and the AAF file's size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "library/bwf_writer.h"
#include "playback/aaf_export.h"
#include "playback/aaf_loader.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"
#include "project/event.h"
#include "project/layer.h"
#include "project/project.h"

namespace {

using namespace korvel;

void BM_AAFExportWithHandlesVsEssenceWriter(benchmark::State& state) {
    constexpr int kClips = 1000;
    constexpr int kSources = 20;
    constexpr int kRate = 48000;
    AAFRuntimeLibraryPath = KORVEL_AAF_RUNTIME;
    std::error_code error;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(error) / "korvel_bench" / "aaf_export";
    std::filesystem::remove_all(dir, error);
    std::filesystem::create_directories(dir / "plain", error);
    std::vector<std::string> sources;
    for (int s = 0; s < kSources; ++s) {
        std::vector<float> sine(static_cast<std::size_t>(10 * kRate));
        for (std::size_t k = 0; k < sine.size(); ++k)
            sine[k] = 0.5f * static_cast<float>(std::sin(6.283185307 * 110.0 * (s + 1) * static_cast<double>(k) / kRate));
        sources.push_back((dir / ("source" + std::to_string(s) + ".wav")).string());
        WriteBWFClipMono(sources.back(), sine.data(), static_cast<int>(sine.size()), kRate, 0.0, nullptr);
    }

    // Half-second layers with quarter-second handles on eight tracks, each
    // with its voice.
    auto engine = std::make_unique<PlaybackEngine>();
    PrepareVoices(*engine, kRate, kClips);
    std::vector<LayerResult> results;
    for (int i = 0; i < kClips; ++i) {
        LayerResult layer;
        layer.name = "layer " + std::to_string(i);
        layer.filepath = sources[static_cast<std::size_t>(i % kSources)];
        layer.sourceOffset = 0.5f + static_cast<float>(i % 17) * 0.5f;
        layer.sourceDuration = 0.5f;
        layer.startTime = static_cast<float>(i) * 0.3f;
        layer.duration = 0.5f;
        layer.group = 1;
        layer.groupTrack = i % 8;
        layer.track = i % 8;
        layer.eventIdx = -1;
        results.push_back(layer);
        Voice voice;
        voice.frameCount = kRate / 2;
        voice.samplesL.assign(static_cast<std::size_t>(voice.frameCount), 0.1f);
        voice.resultIndex = i;
        voice.resultId = layer.id;
        AppendVoice(*engine, std::move(voice), layer.fadeIn, layer.fadeOut);
    }
    engine->ready.store(true);

    ExportRequest request;
    request.outputFolder = (dir / "out").string();
    request.baseName = "Bench";
    request.sampleRate = kRate;
    request.startTimecodeSeconds = 3600;
    request.totalDuration = 310.0f;
    request.groupNames = {"BG", "FX A", "FX B"};
    request.exportWithHandles = true;
    request.exportSettings.handleDuration = 0.25f;
    request.exportSettings.exportAAFSourceChannels = false;
    request.exportSettings.exportReverbStem = false;  // the clips alone, as measured before
    const std::vector<Event> events;
    const std::vector<UserShape> shapes;
    const ReverbSettings reverb;

    // The same essence, read as the export reads it, for the writer alone.
    std::vector<std::vector<float>> essence(kClips);
    for (int i = 0; i < kClips; ++i) {
        int pre = 0;
        const LayerResult& layer = results[static_cast<std::size_t>(i)];
        ReadSourceRegion(layer.filepath, layer.sourceOffset, layer.sourceDuration, 0.25, 0.25, kRate,
                         essence[static_cast<std::size_t>(i)], pre);
    }

    double exportSeconds = 0.0, writerSeconds = 0.0;
    std::uintmax_t size = 0;
    for (auto _ : state) {
        bool ok = true;
        exportSeconds += bench::Seconds([&] { ok = ExportAAF(request, results, *engine, events, shapes, reverb); });
        if (!ok) state.SkipWithError("export failed");
        writerSeconds += bench::Seconds([&] {
            for (int i = 0; i < kClips; ++i) {
                const std::vector<float>& samples = essence[static_cast<std::size_t>(i)];
                const std::string path = (dir / "plain" / ("clip" + std::to_string(i) + ".wav")).string();
                WriteBWFClipMono(path, samples.data(), static_cast<int>(samples.size()), kRate, 3600.0, nullptr);
            }
        });
        size = std::filesystem::file_size(dir / "out" / "Bench" / "Bench.aaf", error);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["export_ms"] = exportSeconds / n * 1000.0;
    state.counters["essence_writer_ms"] = writerSeconds / n * 1000.0;
    state.counters["export_vs_writer"] = exportSeconds / writerSeconds;  // 1 would be the writer's speed
    state.counters["aaf_bytes"] = static_cast<double>(size);
    state.counters["aaf_bytes_per_clip"] = static_cast<double>(size) / kClips;
    std::filesystem::remove_all(dir, error);
    UnloadAAFDLL();
    AAFPluginsRegistered = false;
    AAFRuntimeLibraryPath = nullptr;
}
BENCHMARK(BM_AAFExportWithHandlesVsEssenceWriter)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
