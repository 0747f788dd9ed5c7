// The whole stereo mixdown export of the generated ten-minute project of 500
// layers, write included, in times real time, beside the mix alone and an
// fwrite of the file's bytes (the limits); then the clips kind, 500 files.
#include <benchmark/benchmark.h>

#include <chrono>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "mix_fixture.h"
#include "playback/offline_mix.h"
#include "playback/wav_export.h"
#include "project/project.h"

namespace korvel {
namespace {

using bench::Seconds;
using bench::kFrames;
using bench::kRate;
using bench::kSeconds;

std::filesystem::path ScratchFolder() {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "korvel-wav-export-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

void BM_WavExportTenMinutes500Layers(benchmark::State& state) {
    bench::Fixture& f = bench::SharedFixture();
    const std::filesystem::path folder = ScratchFolder();
    const TrackLayout tracks;
    ExportWavOptions mixOptions;
    mixOptions.baseName = "Bench";
    double exportSeconds = 0, mixSeconds = 0, writeSeconds = 0, clipSeconds = 0;
    std::int32_t clipFiles = 0;
    for (auto _ : state) {
        exportSeconds = Seconds([&] {
            ExportWAV(folder.string(), f.results, *f.engine, kRate, tracks, static_cast<float>(kSeconds), mixOptions,
                      -1.0f, -1.0f);
        });
        mixSeconds = Seconds([&] {
            std::vector<float> left(kFrames, 0.0f), right(kFrames, 0.0f);
            for (std::size_t k = 0; k < f.engine->voices.size(); ++k)
                MixVoiceOffline(f.engine->voices[k], k, *f.engine, left.data(), right.data(), kFrames, kRate, 1.0f, 0.0);
            benchmark::DoNotOptimize(left.data());
        });
        // The same bytes as the file's samples: two 24-bit channels.
        const std::vector<char> bytes(static_cast<std::size_t>(kFrames) * 6, 1);
        writeSeconds = Seconds([&] { bench::WriteRawFile((folder / "fwrite.raw").c_str(), bytes); });
        ExportWavOptions clipOptions = mixOptions;
        clipOptions.kind = ExportWavKind::Clips;
        clipSeconds = Seconds([&] {
            clipFiles = ExportWAV(folder.string(), f.results, *f.engine, kRate, tracks, static_cast<float>(kSeconds),
                                  clipOptions, -1.0f, -1.0f);
        });
    }
    state.counters["export_x_realtime"] = kSeconds / exportSeconds;
    state.counters["mix_only_x_realtime"] = kSeconds / mixSeconds;
    state.counters["fwrite_x_realtime"] = kSeconds / writeSeconds;
    state.counters["export_over_mix_plus_fwrite"] = exportSeconds / (mixSeconds + writeSeconds);
    state.counters["clips_seconds"] = clipSeconds;
    state.counters["clip_files"] = clipFiles;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WavExportTenMinutes500Layers)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace korvel
