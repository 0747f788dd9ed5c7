// Folder scan and per-file analysis throughput.
//
// A corpus is generated in a temporary folder when the first benchmark runs.
// In the same run: decoding the analysed span (first 30 s) of every file with
// libsndfile alone is the limit; the analysis on one worker and the scan with
// the full worker pool are measured against it. A separate folder of 10,000
// tiny files measures an unchanged rescan, which only walks and stats.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "library/analysis.h"
#include "library/folder_scan.h"
#include "library/library.h"
#include "library/library_cache_file.h"

namespace {

namespace fs = std::filesystem;
using korvel::FftState;
using korvel::Library;
using korvel::LibraryFile;

struct CorpusFile {
    std::string path;
    double analysedSeconds = 0;  // at most the first 30 s
};

bool WriteTone(const std::string& path, int channels, int rate, double seconds, int format,
               unsigned seed) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const int64_t frames = static_cast<int64_t>(seconds * rate);
    std::vector<float> block(4096 * static_cast<size_t>(channels));
    uint32_t noise = seed * 2654435761u + 1;
    const double hz = 110.0 * (1 + seed % 7);
    for (int64_t done = 0; done < frames;) {
        const int64_t n = std::min<int64_t>(4096, frames - done);
        for (int64_t j = 0; j < n; ++j) {
            const double t = static_cast<double>(done + j) / rate;
            noise = noise * 1664525u + 1013904223u;
            const float v = static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * hz * t) *
                                                   std::exp(-0.2 * std::fmod(t, 5.0)) +
                                               0.05 * (static_cast<int32_t>(noise) / 2147483648.0));
            for (int c = 0; c < channels; ++c) block[j * channels + c] = v;
        }
        sf_writef_float(f, block.data(), n);
        done += n;
    }
    return sf_close(f) == 0;
}

struct Corpus {
    fs::path root;
    std::string mixedFolder;
    std::string tinyFolder;
    std::vector<CorpusFile> files;
    double totalSeconds = 0;
    bool ok = false;

    Corpus() {
        std::error_code ec;
        root = fs::temp_directory_path(ec) / ("korvel_scan_bench_" + std::to_string(getpid()));
        mixedFolder = (root / "Mixed").string();
        tinyFolder = (root / "Tiny").string();
        fs::create_directories(mixedFolder, ec);
        fs::create_directories(root / "cache", ec);
        // Long stereo takes, medium mono effects and short hits, in the
        // formats a sound library holds.
        struct Kind {
            int count, channels, rate;
            double seconds;
            int format;
        };
        const Kind kinds[] = {
            {8, 2, 48000, 40.0, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
            {12, 1, 44100, 8.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
            {12, 2, 48000, 3.0, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
            {16, 1, 96000, 1.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        };
        unsigned seed = 1;
        ok = true;
        for (const Kind& k : kinds) {
            for (int i = 0; i < k.count; ++i, ++seed) {
                const bool aiff = (k.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF;
                const std::string path =
                    mixedFolder + "/take_" + std::to_string(seed) + (aiff ? ".aif" : ".wav");
                ok = ok && WriteTone(path, k.channels, k.rate, k.seconds, k.format, seed);
                const double analysed = std::min(k.seconds, 30.0);
                files.push_back({path, analysed});
                totalSeconds += analysed;
            }
        }
    }

    // 10,000 files of one spectral frame each, scanned once into the cache.
    bool PrepareTiny(Library& library) {
        if (!tinyPrepared) {
            std::error_code ec;
            fs::create_directories(tinyFolder, ec);
            for (int i = 0; i < 10000; ++i) {
                const std::string path = tinyFolder + "/" + std::to_string(i / 100) + "/hit_" +
                                         std::to_string(i) + ".wav";
                if (i % 100 == 0) fs::create_directories(fs::path(path).parent_path(), ec);
                if (!WriteTone(path, 1, 8000, 2048.0 / 8000.0, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, i))
                    return false;
            }
        }
        library.cacheFolder = (root / "cache").string();
        if (tinyScanned) return true;
        korvel::StartFolderScan(library, tinyFolder, true, -1, false);
        library.scanThread.join();
        library.finishedScans.clear();
        tinyPrepared = true;
        tinyScanned = library.scanAnalysed.load() == 10000;
        return tinyScanned;
    }

    ~Corpus() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    bool tinyPrepared = false;
    bool tinyScanned = false;  // the cache file holds all 10,000 files
};

Corpus& GetCorpus() {
    static Corpus corpus;
    return corpus;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Throughputs of this run, in audio seconds per second, for the ratios.
double gDecodeRate = 0;
double gOneWorkerRate = 0;

void BM_DecodeOnlyLimit(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    if (!corpus.ok) return state.SkipWithError("corpus could not be written");
    std::vector<float> buffer;
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const CorpusFile& file : corpus.files) {
            SF_INFO info{};
            SNDFILE* f = sf_open(file.path.c_str(), SFM_READ, &info);
            if (!f) continue;
            buffer.resize(2048 * static_cast<size_t>(info.channels));
            const int64_t N = std::min<int64_t>(static_cast<int64_t>(info.samplerate * 30.0f), info.frames);
            for (int64_t done = 0; done < N;) {
                const sf_count_t got = sf_readf_float(f, buffer.data(), std::min<int64_t>(2048, N - done));
                if (got < 1) break;
                done += got;
            }
            benchmark::DoNotOptimize(buffer.data());
            sf_close(f);
        }
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gDecodeRate = corpus.totalSeconds * state.iterations() / busy;
    state.counters["audio_s_per_s"] = gDecodeRate;
    state.counters["files_per_s"] = corpus.files.size() * state.iterations() / busy;
}
BENCHMARK(BM_DecodeOnlyLimit)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnalyseOneWorker(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    if (!corpus.ok) return state.SkipWithError("corpus could not be written");
    FftState fft;
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const CorpusFile& file : corpus.files) {
            LibraryFile record;
            benchmark::DoNotOptimize(korvel::AnalyzeAudioFile(file.path, record, &fft));
        }
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gOneWorkerRate = corpus.totalSeconds * state.iterations() / busy;
    state.counters["audio_s_per_s"] = gOneWorkerRate;
    state.counters["x_realtime"] = gOneWorkerRate;
    state.counters["files_per_s"] = corpus.files.size() * state.iterations() / busy;
    if (gDecodeRate > 0) state.counters["ratio_to_decode"] = gOneWorkerRate / gDecodeRate;
}
BENCHMARK(BM_AnalyseOneWorker)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanFullPool(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    if (!corpus.ok) return state.SkipWithError("corpus could not be written");
    Library library;  // no cache folder: every file is analysed
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        korvel::StartFolderScan(library, corpus.mixedFolder, true, -1, true);
        library.scanThread.join();
        busy += Seconds(std::chrono::steady_clock::now() - start);
        library.finishedScans.clear();
    }
    const double rate = corpus.totalSeconds * state.iterations() / busy;
    const int hardware = static_cast<int>(std::thread::hardware_concurrency());
    state.counters["audio_s_per_s"] = rate;
    state.counters["files_per_s"] = corpus.files.size() * state.iterations() / busy;
    state.counters["workers"] = korvel::ScanWorkerCount(hardware, library.maxScanThreads,
                                                        static_cast<int32_t>(corpus.files.size()));
    state.counters["hw_threads"] = hardware;
    if (gDecodeRate > 0) state.counters["ratio_to_decode"] = rate / gDecodeRate;
    if (gOneWorkerRate > 0) state.counters["x_one_worker"] = rate / gOneWorkerRate;
}
BENCHMARK(BM_ScanFullPool)->Unit(benchmark::kMillisecond)->UseRealTime();

// The limit of an unchanged rescan: walking the same folder and taking every
// file's size and time, nothing else.
double gBareWalkRate = 0;

void BM_BareWalkStat10k(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    Library library;
    if (!corpus.PrepareTiny(library)) return state.SkipWithError("tiny corpus could not be scanned");
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        int64_t count = 0;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(corpus.tinyFolder, ec), end; !ec && it != end; it.increment(ec)) {
            struct stat info;
            if (it->is_regular_file(ec) && ::stat(it->path().c_str(), &info) == 0) count += info.st_size > 0;
        }
        benchmark::DoNotOptimize(count);
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gBareWalkRate = 10000.0 * state.iterations() / busy;
    state.counters["files_per_s"] = gBareWalkRate;
}
BENCHMARK(BM_BareWalkStat10k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_RescanUnchanged10k(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    Library library;
    if (!corpus.PrepareTiny(library)) return state.SkipWithError("tiny corpus could not be scanned");
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        korvel::StartFolderScan(library, corpus.tinyFolder, true, -1, false);
        library.scanThread.join();
        busy += Seconds(std::chrono::steady_clock::now() - start);
        library.finishedScans.clear();
        if (library.scanReused.load() != 10000) return state.SkipWithError("files were not reused");
    }
    const double rate = 10000.0 * state.iterations() / busy;
    state.counters["files_per_s"] = rate;
    if (gBareWalkRate > 0) state.counters["ratio_to_bare_walk"] = rate / gBareWalkRate;
}
BENCHMARK(BM_RescanUnchanged10k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Writing the 10,000-file cache file (formatting, temporary, sync, rename)
// beside writing the same bytes with one fwrite.
double gPlainWriteSeconds = 0;

void BM_CacheBytesOneFwrite10k(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    Library library;
    if (!corpus.PrepareTiny(library)) return state.SkipWithError("tiny corpus could not be scanned");
    korvel::Palette palette;
    if (!korvel::ReadPaletteFile((corpus.root / "cache" / "Tiny.kvlib").string(), palette))
        return state.SkipWithError("no cache file");
    const std::string bytes = korvel::FormatPaletteFile(palette);
    const std::string path = (corpus.root / "plain.kvlib").string();
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return state.SkipWithError("cannot write");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    gPlainWriteSeconds = busy / static_cast<double>(state.iterations());
    state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_CacheBytesOneFwrite10k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_CacheFileWrite10k(benchmark::State& state) {
    Corpus& corpus = GetCorpus();
    Library library;
    if (!corpus.PrepareTiny(library)) return state.SkipWithError("tiny corpus could not be scanned");
    korvel::Palette palette;
    const std::string path = (corpus.root / "cache" / "Tiny.kvlib").string();
    if (!korvel::ReadPaletteFile(path, palette)) return state.SkipWithError("no cache file");
    double busy = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!korvel::WritePaletteFile(palette, path)) return state.SkipWithError("write failed");
        busy += Seconds(std::chrono::steady_clock::now() - start);
    }
    const double seconds = busy / static_cast<double>(state.iterations());
    if (gPlainWriteSeconds > 0) state.counters["x_one_fwrite"] = seconds / gPlainWriteSeconds;
}
BENCHMARK(BM_CacheFileWrite10k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// A folder holding one 60-second FLAC file (named .wav, as the scan only
// takes the usual extensions and reads files by their content), with its
// length in the header and with the length left out ("unknown"), which the
// scan must measure by reading the whole stream before it analyses. The
// unknown-length run reports "x_known", its time over the known one's.
struct FlacFolders {
    fs::path root;
    std::string known, unknown;
    bool ok = false;

    FlacFolders() {
        std::error_code ec;
        root = fs::temp_directory_path(ec) / "korvel_scan_bench_flac";
        fs::remove_all(root, ec);
        known = (root / "Known").string();
        unknown = (root / "Unknown").string();
        fs::create_directories(known, ec);
        fs::create_directories(unknown, ec);
        const std::string knownFile = known + "/take.wav";
        const std::string unknownFile = unknown + "/take.wav";
        ok = WriteTone(knownFile, 2, 48000, 60.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 3);
        fs::copy_file(knownFile, unknownFile, ec);
        ok = ok && !ec && ClearFlacLength(unknownFile);
    }
    ~FlacFolders() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Zeroes the 36-bit total-sample count of the stream information.
    static bool ClearFlacLength(const std::string& path) {
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        if (!file) return false;
        unsigned char head[26];
        bool ok = std::fread(head, 1, sizeof head, file) == sizeof head && head[0] == 'f' && head[1] == 'L';
        if (ok) {
            head[21] &= 0xF0;
            head[22] = head[23] = head[24] = head[25] = 0;
            ok = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(head, 1, sizeof head, file) == sizeof head;
        }
        return std::fclose(file) == 0 && ok;
    }
};

FlacFolders& GetFlacFolders() {
    static FlacFolders folders;
    return folders;
}

double gKnownFlacSeconds = 0;

void ScanFlacFolder(benchmark::State& state, bool unknownLength) {
    FlacFolders& folders = GetFlacFolders();
    if (!folders.ok) return state.SkipWithError("FLAC files could not be written");
    Library library;  // no cache folder: the file is analysed every time
    double busy = 0;
    float duration = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        korvel::StartFolderScan(library, unknownLength ? folders.unknown : folders.known, true, -1, true);
        library.scanThread.join();
        busy += Seconds(std::chrono::steady_clock::now() - start);
        if (library.finishedScans.empty() || library.finishedScans.front().files.empty())
            return state.SkipWithError("the file was not scanned");
        duration = library.finishedScans.front().files.front().duration;
        library.finishedScans.clear();
    }
    const double seconds = busy / static_cast<double>(state.iterations());
    state.counters["ms"] = seconds * 1000.0;
    state.counters["duration_s"] = duration;
    if (!unknownLength) gKnownFlacSeconds = seconds;
    if (unknownLength && gKnownFlacSeconds > 0) state.counters["x_known"] = seconds / gKnownFlacSeconds;
}

void BM_ScanFlacKnownLength(benchmark::State& state) { ScanFlacFolder(state, false); }
BENCHMARK(BM_ScanFlacKnownLength)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanFlacUnknownLength(benchmark::State& state) { ScanFlacFolder(state, true); }
BENCHMARK(BM_ScanFlacUnknownLength)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
