// The AAF compound-file writer beside fwrite of the same number of payload
// bytes: 10,000 properties-sized streams and one 50 MB stream in one file.
// Reports throughput, the ratio to fwrite, the file's overhead in bytes and
// the layout's own time (the same save into /dev/null).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "playback/aaf/compound_file.h"

namespace {

using namespace korvel;

std::string ScratchPath(const char* name) {
    std::error_code error;
    const auto dir = std::filesystem::temp_directory_path(error) / "korvel_bench";
    std::filesystem::create_directories(dir, error);
    return (dir / name).string();
}

void BM_CompoundFileVsFwrite(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kSmall = 10000;
    constexpr std::size_t kSmallSize = 180;  // a typical properties stream
    constexpr std::size_t kBigSize = 50u * 1000 * 1000;
    const std::vector<std::uint8_t> small(kSmallSize, 0x5A);
    const std::vector<std::uint8_t> big(kBigSize, 0xA5);
    const std::uint64_t payload = std::uint64_t{kSmall} * kSmallSize + kBigSize;
    const std::string ours = ScratchPath("bench_aaf.cfb");
    const std::string plain = ScratchPath("bench_aaf_plain.bin");

    double oursSeconds = 0.0, plainSeconds = 0.0;
    std::uintmax_t fileSize = 0;
    for (auto _ : state) {
        state.PauseTiming();
        aaf::CompoundFile file;
        std::string error;
        // One storage per object, as the stored-object layer lays them out.
        for (int i = 0; i < kSmall; ++i) {
            aaf::CompoundFile::EntryId storage = 0;
            file.AddStorage(aaf::CompoundFile::kRoot, aaf::ToU16("Object{" + std::to_string(i) + "}"), {}, storage,
                            error);
            file.AddStream(storage, u"properties", small, error);
        }
        file.AddStream(aaf::CompoundFile::kRoot, u"essence", big, error);
        state.ResumeTiming();

        // Alternate which side writes first, so neither always meets the
        // page cache after the other.
        const bool oursFirst = state.iterations() % 2 == 0;
        auto writeOurs = [&] {
            const auto t0 = Clock::now();
            if (!file.Save(ours, error)) state.SkipWithError(error.c_str());
            oursSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
        };
        auto writePlain = [&] {
            const auto t0 = Clock::now();
            if (FILE* f = std::fopen(plain.c_str(), "wb")) {
                for (int i = 0; i < kSmall; ++i) std::fwrite(small.data(), 1, small.size(), f);
                std::fwrite(big.data(), 1, big.size(), f);
                std::fclose(f);
            }
            plainSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
        };
        if (oursFirst) {
            writeOurs();
            writePlain();
        } else {
            writePlain();
            writeOurs();
        }
        std::error_code sizeError;
        fileSize = std::filesystem::file_size(ours, sizeError);
    }
    // The writer's own cost apart from the disk: the same file into /dev/null.
    double layoutSeconds = 0.0;
    {
        aaf::CompoundFile file;
        std::string error;
        for (int i = 0; i < kSmall; ++i) {
            aaf::CompoundFile::EntryId storage = 0;
            file.AddStorage(aaf::CompoundFile::kRoot, aaf::ToU16("Object{" + std::to_string(i) + "}"), {}, storage,
                            error);
            file.AddStream(storage, u"properties", small, error);
        }
        file.AddStream(aaf::CompoundFile::kRoot, u"essence", big, error);
        file.Save("/dev/null", error);  // first touch of the layout's buffers
        const auto t0 = Clock::now();
        file.Save("/dev/null", error);
        layoutSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    state.counters["layout_ms"] = layoutSeconds * 1000.0;
    const double megabytes = static_cast<double>(payload) / 1e6 * static_cast<double>(state.iterations());
    state.counters["ours_MBps"] = megabytes / oursSeconds;
    state.counters["fwrite_MBps"] = megabytes / plainSeconds;
    state.counters["ours_vs_fwrite"] = plainSeconds / oursSeconds;  // 1 would be as fast as fwrite
    state.counters["overhead_bytes"] = static_cast<double>(fileSize - payload);
    std::error_code error;
    std::filesystem::remove(ours, error);
    std::filesystem::remove(plain, error);
}
BENCHMARK(BM_CompoundFileVsFwrite)->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace
