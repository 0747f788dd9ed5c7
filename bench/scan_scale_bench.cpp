// The library scan at library scale: 100,000 short files and 1,000 files of
// 10 s, generated in a temporary folder when the first of these benchmarks
// runs and removed when the program ends.
//
// In one run, for each corpus: libsndfile decoding every file on one thread
// (the limit), the forced scan with one worker and with the full pool (the
// full pool writes the cache file and its checkpoints), then for the short
// files an unchanged rescan beside a bare walk that stats every file, and the
// cache file's write beside writing the same bytes with one fwrite. Peak
// memory is the scan's high-water mark above the process's resident size
// before it, per 1,000 files. Beside each rate stands the CPU time the work
// took, which a machine shared with other work changes far less.
//
// Select them with --benchmark_filter=Scale; they take a few minutes. To
// profile one of them, KORVEL_SCAN_SCALE_DIR names a folder that keeps the
// corpus (and the cache file of the full-pool scan) between runs.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "library/folder_scan.h"
#include "library/library.h"
#include "library/library_cache_file.h"

namespace {

namespace fs = std::filesystem;
using korvel::Library;

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Resident-size figures of this process in bytes, from /proc/self/status.
int64_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0) return std::atoll(line.c_str() + n + 1) * 1024;
    return 0;
}

// CPU time of every thread of this process so far: on a busy machine the
// work done says more than the time taken.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts a new high-water mark at the current resident size.
void ResetPeakResident() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// Distinct content per file: a decaying tone whose pitch and noise follow
// the seed.
bool WriteSound(const std::string& path, int rate, double seconds, int format, unsigned seed) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const int64_t frames = static_cast<int64_t>(seconds * rate);
    std::vector<float> block(4096);
    uint32_t noise = seed * 2654435761u + 1;
    const double hz = 80.0 + (seed % 997) * 1.7;
    for (int64_t done = 0; done < frames;) {
        const int64_t n = std::min<int64_t>(4096, frames - done);
        for (int64_t j = 0; j < n; ++j) {
            const double t = static_cast<double>(done + j) / rate;
            noise = noise * 1664525u + 1013904223u;
            block[j] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * t) * std::exp(-0.4 * t) +
                                          0.05 * (static_cast<int32_t>(noise) / 2147483648.0));
        }
        sf_writef_float(f, block.data(), n);
        done += n;
    }
    return sf_close(f) == 0;
}

struct ScaleCorpus {
    std::string folder;
    std::string cacheFolder;
    std::vector<std::string> files;
    bool ok = false;
    bool cached = false;  // the cache folder holds this corpus's cache file
};

struct ScaleCorpora {
    fs::path root;
    ScaleCorpus shortFiles, longFiles;

    bool keep = false;

    ScaleCorpora() {
        std::error_code ec;
        if (const char* dir = std::getenv("KORVEL_SCAN_SCALE_DIR"); dir && *dir) {
            root = dir;
            keep = true;
        } else {
            root = fs::temp_directory_path(ec) / ("korvel_scan_scale_" + std::to_string(getpid()));
        }
        Make(shortFiles, "Short", 100000, 48000, 0.1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
        Make(longFiles, "Long", 1000, 44100, 10.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    }

    ~ScaleCorpora() {
        std::error_code ec;
        if (!keep) fs::remove_all(root, ec);
    }

    // Written by all cores, 1,000 files to a folder.
    void Make(ScaleCorpus& corpus, const char* name, int count, int rate, double seconds, int format) {
        std::error_code ec;
        corpus.folder = (root / name).string();
        corpus.cacheFolder = (root / (std::string(name) + "Cache")).string();
        fs::create_directories(corpus.cacheFolder, ec);
        corpus.files.resize(count);
        for (int i = 0; i < count; ++i)
            corpus.files[i] = corpus.folder + "/" + std::to_string(i / 1000) + "/fx_" + std::to_string(i) + ".wav";
        if (keep && fs::exists(corpus.files.back(), ec)) {
            corpus.ok = true;
            corpus.cached = !fs::is_empty(corpus.cacheFolder, ec);
            return;
        }
        for (int i = 0; i < count; i += 1000) fs::create_directories(fs::path(corpus.files[i]).parent_path(), ec);
        const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
        std::vector<std::thread> writers;
        std::vector<char> written(threads, 1);
        for (unsigned t = 0; t < threads; ++t)
            writers.emplace_back([&, t] {
                for (int i = static_cast<int>(t); i < count; i += static_cast<int>(threads))
                    if (!WriteSound(corpus.files[i], rate, seconds, format, static_cast<unsigned>(i)))
                        written[t] = 0;
            });
        for (std::thread& w : writers) w.join();
        corpus.ok = std::all_of(written.begin(), written.end(), [](char w) { return w != 0; });
    }
};

ScaleCorpora& GetCorpora() {
    static ScaleCorpora corpora;
    return corpora;
}

ScaleCorpus& Pick(int which) {
    ScaleCorpora& c = GetCorpora();
    return which == 0 ? c.shortFiles : c.longFiles;
}

// Files per second of this run's decode-only limit, per corpus, and its CPU
// time per file.
double gDecodeFilesPerSecond[2] = {0, 0};
double gDecodeCpuPerFile[2] = {0, 0};

void BM_ScaleDecodeOnlyLimit(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    ScaleCorpus& corpus = Pick(which);
    if (!corpus.ok) return state.SkipWithError("corpus could not be written");
    std::vector<float> buffer(2048);
    double busy = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& path : corpus.files) {
            SF_INFO info{};
            SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
            if (!f) continue;
            buffer.resize(2048 * static_cast<size_t>(info.channels));
            while (sf_readf_float(f, buffer.data(), 2048) > 0) {
            }
            benchmark::DoNotOptimize(buffer.data());
            sf_close(f);
        }
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gDecodeFilesPerSecond[which] = corpus.files.size() * state.iterations() / busy;
    gDecodeCpuPerFile[which] = (ProcessCpuSeconds() - cpuStart) / (corpus.files.size() * state.iterations());
    state.counters["files_per_s"] = gDecodeFilesPerSecond[which];
    state.counters["cpu_us_per_file"] = gDecodeCpuPerFile[which] * 1e6;
}
BENCHMARK(BM_ScaleDecodeOnlyLimit)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// Arg 0: which corpus; arg 1: workers (0 = the full pool). The full pool
// writes the cache file, with its checkpoints, as a first scan does.
void BM_ScaleForcedScan(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const bool fullPool = state.range(1) == 0;
    ScaleCorpus& corpus = Pick(which);
    if (!corpus.ok) return state.SkipWithError("corpus could not be written");
    Library library;
    if (!fullPool) library.maxScanThreads = static_cast<int32_t>(state.range(1));
    if (fullPool) library.cacheFolder = corpus.cacheFolder;
    double busy = 0;
    int64_t peak = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const int64_t before = StatusBytes("VmRSS:");
        ResetPeakResident();
        const auto start = std::chrono::steady_clock::now();
        korvel::StartFolderScan(library, corpus.folder, true, -1, true);
        library.scanThread.join();
        busy += Seconds(std::chrono::steady_clock::now() - start);
        peak = std::max(peak, StatusBytes("VmHWM:") - before);
        if (library.scanAnalysed.load() != static_cast<int32_t>(corpus.files.size()))
            return state.SkipWithError("not every file was analysed");
        library.finishedScans.clear();
    }
    if (fullPool) corpus.cached = true;
    const double filesPerSecond = corpus.files.size() * state.iterations() / busy;
    const int hardware = static_cast<int>(std::thread::hardware_concurrency());
    state.counters["files_per_s"] = filesPerSecond;
    const int32_t workers = korvel::ScanWorkerCount(hardware, library.maxScanThreads,
                                                    static_cast<int32_t>(corpus.files.size()));
    state.counters["workers"] = workers;
    state.counters["peak_MB_per_1000_files"] = peak / 1e6 / (corpus.files.size() / 1000.0);
    if (gDecodeFilesPerSecond[which] > 0)
        state.counters["ratio_to_decode"] = filesPerSecond / gDecodeFilesPerSecond[which];
    // On a busy machine the pool gets less than its cores: what each file
    // costs says more. The CPU ratio is the pool's rate beside the decode's
    // were every worker to get a core of its own.
    const double cpuPerFile = (ProcessCpuSeconds() - cpuStart) / (corpus.files.size() * state.iterations());
    state.counters["cpu_us_per_file"] = cpuPerFile * 1e6;
    if (gDecodeCpuPerFile[which] > 0) state.counters["cpu_ratio_to_decode"] = workers * gDecodeCpuPerFile[which] / cpuPerFile;
}
BENCHMARK(BM_ScaleForcedScan)
    ->ArgNames({"long", "workers"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

double gBareWalkFilesPerSecond = 0;
double gBareWalkCpuSeconds = 0;

void BM_ScaleBareWalkStat(benchmark::State& state) {
    ScaleCorpus& corpus = Pick(0);
    if (!corpus.ok) return state.SkipWithError("corpus could not be written");
    double busy = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        int64_t count = 0;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(corpus.folder, ec), end; !ec && it != end; it.increment(ec)) {
            struct stat info;
            if (it->is_regular_file(ec) && ::stat(it->path().c_str(), &info) == 0)
                count += info.st_size > 0 && info.st_mtime > 0;
        }
        benchmark::DoNotOptimize(count);
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gBareWalkFilesPerSecond = corpus.files.size() * state.iterations() / busy;
    gBareWalkCpuSeconds = (ProcessCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["files_per_s"] = gBareWalkFilesPerSecond;
    state.counters["cpu_s"] = gBareWalkCpuSeconds;
}
BENCHMARK(BM_ScaleBareWalkStat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ScaleRescanUnchanged(benchmark::State& state) {
    ScaleCorpus& corpus = Pick(0);
    if (!corpus.ok || !corpus.cached) return state.SkipWithError("needs the full-pool scan's cache file");
    Library library;
    library.cacheFolder = corpus.cacheFolder;
    double busy = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        korvel::StartFolderScan(library, corpus.folder, true, -1, false);
        library.scanThread.join();
        busy += Seconds(std::chrono::steady_clock::now() - start);
        if (library.scanReused.load() != static_cast<int32_t>(corpus.files.size()))
            return state.SkipWithError("files were not reused");
        library.finishedScans.clear();
    }
    const double filesPerSecond = corpus.files.size() * state.iterations() / busy;
    state.counters["files_per_s"] = filesPerSecond;
    if (gBareWalkFilesPerSecond > 0) state.counters["ratio_to_bare_walk"] = filesPerSecond / gBareWalkFilesPerSecond;
    const double cpu = (ProcessCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["cpu_s"] = cpu;
    if (gBareWalkCpuSeconds > 0) state.counters["cpu_ratio_to_bare_walk"] = gBareWalkCpuSeconds / cpu;
}
BENCHMARK(BM_ScaleRescanUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The 100,000-file cache file written by the library beside the same bytes
// written with one fwrite.
std::string ShortCachePath() {
    ScaleCorpus& corpus = Pick(0);
    for (const auto& entry : fs::directory_iterator(corpus.cacheFolder))
        if (entry.path().extension() == ".kvlib") return entry.path().string();
    return {};
}

double gPlainWriteSeconds = 0;

void BM_ScaleCacheBytesOneFwrite(benchmark::State& state) {
    ScaleCorpus& corpus = Pick(0);
    korvel::Palette palette;
    const std::string path = corpus.cached ? ShortCachePath() : std::string();
    if (path.empty() || !korvel::ReadPaletteFile(path, palette))
        return state.SkipWithError("needs the full-pool scan's cache file");
    const std::string bytes = korvel::FormatPaletteFile(palette);
    const std::string plain = (GetCorpora().root / "plain.kvlib").string();
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(plain.c_str(), "wb");
        if (!f) return state.SkipWithError("cannot write");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gPlainWriteSeconds = busy / static_cast<double>(state.iterations());
    state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_ScaleCacheBytesOneFwrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ScaleCacheFileWrite(benchmark::State& state) {
    korvel::Palette palette;
    const std::string path = Pick(0).cached ? ShortCachePath() : std::string();
    if (path.empty() || !korvel::ReadPaletteFile(path, palette))
        return state.SkipWithError("needs the full-pool scan's cache file");
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!korvel::WritePaletteFile(palette, path)) return state.SkipWithError("write failed");
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    if (gPlainWriteSeconds > 0)
        state.counters["x_one_fwrite"] = busy / static_cast<double>(state.iterations()) / gPlainWriteSeconds;
}
BENCHMARK(BM_ScaleCacheFileWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Reading the 100,000-file cache file, which every rescan of the folder does
// first, and formatting it, which every scan does last.
void BM_ScaleCacheFileRead(benchmark::State& state) {
    const std::string path = Pick(0).cached ? ShortCachePath() : std::string();
    if (path.empty()) return state.SkipWithError("needs the full-pool scan's cache file");
    for (auto _ : state) {
        korvel::Palette palette;
        if (!korvel::ReadPaletteFile(path, palette)) return state.SkipWithError("read failed");
        benchmark::DoNotOptimize(palette.files.data());
    }
}
BENCHMARK(BM_ScaleCacheFileRead)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScaleCacheFileFormat(benchmark::State& state) {
    korvel::Palette palette;
    const std::string path = Pick(0).cached ? ShortCachePath() : std::string();
    if (path.empty() || !korvel::ReadPaletteFile(path, palette))
        return state.SkipWithError("needs the full-pool scan's cache file");
    for (auto _ : state) benchmark::DoNotOptimize(korvel::FormatPaletteFile(palette));
}
BENCHMARK(BM_ScaleCacheFileFormat)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
