// The AAF writer on a full export's worth of clips (the shared form: 1,000
// clips cut from 100 essence files, with fades, gains, envelopes and a
// marker per clip), beside the storage layer writing as many bytes in
// properties-sized streams (the limit). Reports time, size and bytes per clip.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "playback/aaf/compound_file.h"
#include "playback/aaf_loader.h"
#include "playback/aaf_writer.h"

namespace {

using namespace korvel;

std::string ScratchPath(const char* name) {
    std::error_code error;
    const auto dir = std::filesystem::temp_directory_path(error) / "korvel_bench";
    std::filesystem::create_directories(dir, error);
    return (dir / name).string();
}

void BM_AAFWriterSharedVsStorageLayer(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kClips = 1000;
    AAFRuntimeLibraryPath = KORVEL_AAF_RUNTIME;
    AAFClipList clips;
    std::vector<AAFMarker> markers;
    for (int i = 0; i < kClips; ++i) {
        clips.essencePaths.push_back("/export/Audio Files/layer " + std::to_string(i % 100) + ".wav");
        clips.clipNames.push_back("layer " + std::to_string(i % 100));
        clips.positions.push_back(std::int64_t{i} * 24000);
        clips.lengths.push_back(30000);
        clips.sourceOffsets.push_back(std::int64_t{i / 100} * 30000);
        clips.sourceLengths.push_back(300000);
        clips.tracks.push_back(i % 8);
        clips.fadeIns.push_back(2400);
        clips.fadeOuts.push_back(4800);
        ClipGainEnvelope envelope;
        envelope.present = i % 2 == 0;
        envelope.points.fill(0.8f);
        clips.envelopes.push_back(envelope);
        clips.gains.push_back(i % 3 == 0 ? 1.5f : 1.0f);
        markers.push_back({std::int64_t{i} * 24000, "Event " + std::to_string(i)});
    }
    const std::vector<std::string> tracks = {"BG 1", "BG 2", "FX 1", "FX 2", "FX 3", "FX 4", "Dialog 1", "Dialog 2"};
    const std::string ours = ScratchPath("bench_writer.aaf");
    const std::string plain = ScratchPath("bench_writer_storage.cfb");

    double oursSeconds = 0.0, plainSeconds = 0.0;
    std::uintmax_t size = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!WriteAAFSessionShared(ours, clips, tracks, 48000, markers)) state.SkipWithError("write failed");
        const auto t1 = Clock::now();
        std::error_code error;
        size = std::filesystem::file_size(ours, error);
        aaf::CompoundFile file;
        std::string reason;
        const std::size_t streams = static_cast<std::size_t>(size / 200);
        for (std::size_t s = 0; s < streams; ++s) {
            aaf::CompoundFile::EntryId storage = 0;
            file.AddStorage(aaf::CompoundFile::kRoot, aaf::ToU16("o{" + std::to_string(s) + "}"), {}, storage, reason);
            file.AddStream(storage, u"properties", std::vector<std::uint8_t>(72, 1), reason);
        }
        if (!file.Save(plain, reason)) state.SkipWithError(reason.c_str());
        const auto t2 = Clock::now();
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        plainSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["writer_ms"] = oursSeconds / n * 1000.0;
    state.counters["storage_ms"] = plainSeconds / n * 1000.0;
    state.counters["writer_vs_storage"] = plainSeconds / oursSeconds;  // 1 would be the storage layer's speed
    state.counters["file_bytes"] = static_cast<double>(size);
    state.counters["bytes_per_clip"] = static_cast<double>(size) / kClips;
    std::error_code error;
    std::filesystem::remove(ours, error);
    std::filesystem::remove(plain, error);
    UnloadAAFDLL();
    AAFPluginsRegistered = false;
    AAFRuntimeLibraryPath = nullptr;
}
BENCHMARK(BM_AAFWriterSharedVsStorageLayer)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
