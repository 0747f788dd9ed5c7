// Signal blocks beside their peers: loudness against libebur128, the reverb
// against the real-time budget of a 512-frame block, and pitch detection.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp/loudness.h"
#include "dsp/pitch.h"
#include "dsp/reverb.h"

#if __has_include(<ebur128.h>)
#include <ebur128.h>
#define KORVEL_HAVE_EBUR128 1
#endif

namespace {

using namespace korvel;

constexpr int kRate = 48000;

// A programme-like stereo signal: two tones, a slow swell and some noise.
struct StereoSignal {
    std::vector<float> left, right, interleaved;
    explicit StereoSignal(int seconds) {
        const size_t frames = static_cast<size_t>(seconds) * kRate;
        left.resize(frames);
        right.resize(frames);
        interleaved.resize(2 * frames);
        unsigned seed = 1;
        for (size_t i = 0; i < frames; ++i) {
            seed = seed * 1103515245u + 12345u;
            const double noise = ((seed >> 9) & 0xFFFF) / 32768.0 - 1.0;
            const double t = static_cast<double>(i) / kRate;
            const double swell = 0.5 + 0.4 * std::sin(2.0 * M_PI * 0.05 * t);
            left[i] = static_cast<float>(swell * (0.4 * std::sin(2.0 * M_PI * 220.0 * t) + 0.1 * noise));
            right[i] = static_cast<float>(swell * (0.3 * std::sin(2.0 * M_PI * 1330.0 * t) + 0.1 * noise));
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
    }
};

const StereoSignal& Minute() {
    static const StereoSignal signal(60);
    return signal;
}

void BM_LoudnessOurs(benchmark::State& state) {
    const auto& s = Minute();
    float lufs = 0.0f;
    for (auto _ : state) {
        lufs = MeasureLoudness(s.left.data(), s.right.data(), static_cast<int>(s.left.size()), kRate);
        benchmark::DoNotOptimize(lufs);
    }
    state.counters["LUFS"] = lufs;
    state.counters["x_realtime"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoudnessOurs)->Unit(benchmark::kMillisecond);

#ifdef KORVEL_HAVE_EBUR128
double PeerLoudness(const StereoSignal& s) {
    ebur128_state* st = ebur128_init(2, kRate, EBUR128_MODE_I);
    ebur128_add_frames_float(st, s.interleaved.data(), s.left.size());
    double lufs = 0.0;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

void BM_LoudnessEbur128(benchmark::State& state) {
    const auto& s = Minute();
    double lufs = 0.0;
    for (auto _ : state) {
        lufs = PeerLoudness(s);
        benchmark::ClobberMemory();
    }
    state.counters["LUFS"] = lufs;
    state.counters["x_realtime"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoudnessEbur128)->Unit(benchmark::kMillisecond);

// Both in the same loop, so that the ratio compares like with like.
void BM_LoudnessOursVsEbur128(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const auto& s = Minute();
    double oursSeconds = 0.0, peerSeconds = 0.0, peerLufs = 0.0;
    float ourLufs = 0.0f;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ourLufs = MeasureLoudness(s.left.data(), s.right.data(), static_cast<int>(s.left.size()), kRate);
        const auto t1 = Clock::now();
        peerLufs = PeerLoudness(s);
        const auto t2 = Clock::now();
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        peerSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = 1e3 * oursSeconds / n;
    state.counters["ebur128_ms"] = 1e3 * peerSeconds / n;
    state.counters["speedup"] = peerSeconds / oursSeconds;  // above 1: ours is faster
    state.counters["ours_LUFS"] = ourLufs;
    state.counters["ebur128_LUFS"] = peerLufs;
    state.counters["diff_LU"] = ourLufs - peerLufs;
}
BENCHMARK(BM_LoudnessOursVsEbur128)->Unit(benchmark::kMillisecond);
#endif

void BM_Reverb512FrameBlocks(benchmark::State& state) {
    auto reverb = std::make_unique<ReverbState>();
    ResetReverb(*reverb, kRate);
    const ReverbSettings settings;
    const auto& s = Minute();
    std::vector<float> outL(512), outR(512);
    size_t at = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (at + 512 > s.left.size()) at = 0;
        ConfigureReverb(*reverb, settings);
        ProcessReverb(*reverb, s.left.data() + at, s.right.data() + at, outL.data(), outR.data(), 512);
        benchmark::DoNotOptimize(outL.data());
        at += 512;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double frames = 512.0 * static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // The audio thread has 1e9 / 48000 ns per frame for everything.
    state.counters["budget_ns_per_frame"] = 1e9 / kRate;
    // Seconds of processing per second of audio: the share of the real-time
    // budget the reverb takes.
    state.counters["budget_share"] = seconds / (frames / kRate);
}
BENCHMARK(BM_Reverb512FrameBlocks);

void BM_PitchYin(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const auto& s = Minute();
    float confidence = 0.0f;
    for (auto _ : state) benchmark::DoNotOptimize(EstimatePitchYin(s.left.data(), count, kRate, confidence));
}
BENCHMARK(BM_PitchYin)->Arg(2048)->Arg(8192)->Unit(benchmark::kMicrosecond);

void BM_DetectPitch(benchmark::State& state) {
    const auto& s = Minute();
    float confidence = 0.0f;
    for (auto _ : state) benchmark::DoNotOptimize(DetectPitch(s.left.data(), 8192, kRate, confidence));
}
BENCHMARK(BM_DetectPitch)->Unit(benchmark::kMicrosecond);

}  // namespace
