// Decoding plus resampling 60 s of stereo from 44.1 to 48 kHz, bypassing the
// decoded-source cache: ours beside libsamplerate (SINC_FASTEST) and soxr
// (HQ), each reading the same file with libsndfile. Counters: xRealTime is
// seconds of audio per second of work; the summary prints our speed over
// each peer's and each one's SNR against soxr very-high-quality on a sweep.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/resampler.h"
#include "library/decoded_source_cache.h"

#if __has_include(<samplerate.h>)
#include <samplerate.h>
#define KORVEL_HAVE_SAMPLERATE 1
#endif
#if __has_include(<soxr.h>)
#include <soxr.h>
#define KORVEL_HAVE_SOXR 1
#endif

namespace {

constexpr double kSeconds = 60.0;
constexpr int kSourceRate = 44100;
constexpr int kTargetRate = 48000;
constexpr double kPi = 3.14159265358979323846;

// Rich program-like material: two drifting partials and a little noise per
// channel, written once to a temporary 24-bit file.
const std::string& SourceFile() {
    static const std::string path = [] {
        std::error_code ec;
        const auto dir = std::filesystem::temp_directory_path(ec) / "korvel_resampler_bench";
        std::filesystem::create_directories(dir, ec);
        const std::string file = (dir / "source.wav").string();
        const auto frames = static_cast<size_t>(kSeconds * kSourceRate);
        std::vector<float> data(frames * 2);
        unsigned seed = 12345;
        for (size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kSourceRate;
            seed = seed * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.02;
            data[2 * i] = static_cast<float>(0.4 * std::sin(2 * kPi * (220 + 30 * t) * t) + noise);
            data[2 * i + 1] = static_cast<float>(0.4 * std::sin(2 * kPi * 3150 * t + std::sin(t)) - noise);
        }
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = kSourceRate;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        if (SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info)) {
            sf_writef_float(f, data.data(), static_cast<sf_count_t>(frames));
            sf_close(f);
        }
        return file;
    }();
    return path;
}

std::vector<float> DecodeInterleaved(const std::string& path, int& frames) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> data(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    frames = static_cast<int>(sf_readf_float(f, data.data(), info.frames));
    sf_close(f);
    return data;
}

int TargetLength(int frames) {
    return static_cast<int>(frames * (static_cast<double>(kTargetRate) / kSourceRate) + 0.5);
}

// [SECTION] The three decode-plus-resample paths

size_t RunOurs() {
    korvel::DecodedSource out;
    korvel::DecodeSourceRegion(SourceFile(), 0.0f, static_cast<float>(kSeconds), kTargetRate, true, 0, 0, out);
    return out.left.size();
}

#ifdef KORVEL_HAVE_SAMPLERATE
std::vector<float> SampleRateConvert(const std::vector<float>& in, int frames, int channels, int converter) {
    const int outFrames = TargetLength(frames);
    std::vector<float> out(static_cast<size_t>(outFrames) * static_cast<size_t>(channels));
    SRC_DATA d{};
    d.data_in = in.data();
    d.input_frames = frames;
    d.data_out = out.data();
    d.output_frames = outFrames;
    d.src_ratio = static_cast<double>(kTargetRate) / kSourceRate;
    src_simple(&d, converter, channels);
    out.resize(static_cast<size_t>(d.output_frames_gen) * static_cast<size_t>(channels));
    return out;
}

size_t RunSincFastest() {
    int frames = 0;
    const std::vector<float> in = DecodeInterleaved(SourceFile(), frames);
    return SampleRateConvert(in, frames, 2, SRC_SINC_FASTEST).size();
}
#endif

#ifdef KORVEL_HAVE_SOXR
std::vector<float> SoxrConvert(const std::vector<float>& in, int frames, int channels, unsigned long quality) {
    const int outFrames = TargetLength(frames);
    std::vector<float> out(static_cast<size_t>(outFrames) * static_cast<size_t>(channels));
    const soxr_quality_spec_t q = soxr_quality_spec(quality, 0);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    size_t done = 0;
    soxr_oneshot(kSourceRate, kTargetRate, static_cast<unsigned>(channels), in.data(),
                 static_cast<size_t>(frames), nullptr, out.data(), static_cast<size_t>(outFrames), &done, &io, &q,
                 nullptr);
    out.resize(done * static_cast<size_t>(channels));
    return out;
}

size_t RunSoxrHq() {
    int frames = 0;
    const std::vector<float> in = DecodeInterleaved(SourceFile(), frames);
    return SoxrConvert(in, frames, 2, SOXR_HQ).size();
}
#endif

template <size_t (*Run)()>
void BM_DecodeResample(benchmark::State& state) {
    SourceFile();
    for (auto _ : state) benchmark::DoNotOptimize(Run());
    state.counters["xRealTime"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DecodeResample<RunOurs>)->Name("DecodeResample60sStereo/Korvel")->Unit(benchmark::kMillisecond);
#ifdef KORVEL_HAVE_SAMPLERATE
BENCHMARK(BM_DecodeResample<RunSincFastest>)
    ->Name("DecodeResample60sStereo/libsamplerate_SINC_FASTEST")
    ->Unit(benchmark::kMillisecond);
#endif
#ifdef KORVEL_HAVE_SOXR
BENCHMARK(BM_DecodeResample<RunSoxrHq>)->Name("DecodeResample60sStereo/soxr_HQ")->Unit(benchmark::kMillisecond);
#endif

// [SECTION] Summary: speed ratios and sweep SNR

double BestSeconds(size_t (*run)(), int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(run());
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// Exponential sweep from 20 Hz to 19.5 kHz, mono.
std::vector<float> Sweep(int frames) {
    std::vector<float> s(static_cast<size_t>(frames));
    const double f0 = 20.0, f1 = 19500.0, T = static_cast<double>(frames) / kSourceRate;
    const double k = std::log(f1 / f0);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSourceRate;
        s[static_cast<size_t>(i)] = static_cast<float>(0.5 * std::sin(2 * kPi * f0 * T / k * (std::exp(t * k / T) - 1)));
    }
    return s;
}

// SNR of `x` against `ref` in dB, away from both ends.
double Snr(const std::vector<float>& x, const std::vector<float>& ref) {
    const size_t n = std::min(x.size(), ref.size());
    const size_t margin = 2000;
    double signal = 0, error = 0;
    for (size_t i = margin; i + margin < n; ++i) {
        signal += double(ref[i]) * ref[i];
        const double e = double(x[i]) - ref[i];
        error += e * e;
    }
    return 10.0 * std::log10(signal / std::max(error, 1e-30));
}

void BM_Summary(benchmark::State& state) {
    SourceFile();
    double ours = 0;
    for (auto _ : state) ours = BestSeconds(RunOurs, 3);
    state.counters["ours_xRealTime"] = kSeconds / ours;

    const int frames = 10 * kSourceRate;
    const std::vector<float> sweep = Sweep(frames);
    std::vector<float> oursSweep = sweep;
    korvel::ResampleSincToLength(oursSweep, TargetLength(frames), static_cast<double>(kSourceRate) / kTargetRate);
#ifdef KORVEL_HAVE_SOXR
    const std::vector<float> reference = SoxrConvert(sweep, frames, 1, SOXR_VHQ);
    state.counters["snr_ours_dB"] = Snr(oursSweep, reference);
    state.counters["snr_soxrHQ_dB"] = Snr(SoxrConvert(sweep, frames, 1, SOXR_HQ), reference);
    const double soxr = BestSeconds(RunSoxrHq, 3);
    state.counters["speed_ours_over_soxrHQ"] = soxr / ours;
#endif
#if defined(KORVEL_HAVE_SAMPLERATE) && defined(KORVEL_HAVE_SOXR)
    state.counters["snr_sincFastest_dB"] = Snr(SampleRateConvert(sweep, frames, 1, SRC_SINC_FASTEST), reference);
#endif
#ifdef KORVEL_HAVE_SAMPLERATE
    const double fastest = BestSeconds(RunSincFastest, 3);
    state.counters["speed_ours_over_sincFastest"] = fastest / ours;
#endif
}
BENCHMARK(BM_Summary)->Name("DecodeResample60sStereo/Summary")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
