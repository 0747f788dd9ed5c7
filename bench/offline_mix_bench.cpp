// The offline mixdown of a generated ten-minute project of 500 layers: the
// stereo mix (every voice, the reverb bus, the limiter) beside its limits in
// the same run, the reverb bus alone and one plain pass adding the same
// samples into the output; then the 5.1 and AmbiX mixdowns with the spatial
// blend and the extended spread. Each reports times real time and its peak
// resident memory.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "dsp/limiter.h"
#include "playback/offline_mix.h"
#include "playback/playback_engine.h"
#include "playback/reverb_bus.h"
#include "mix_fixture.h"
#include "project/layer.h"

namespace korvel {
namespace {

using bench::Seconds;
using bench::Fixture;
using bench::SharedFixture;
using bench::kFrames;
using bench::kRate;
using bench::kSeconds;

// Peak resident memory while `body` runs, above what was resident before, in
// MiB: the kernel's high-water mark is reset first.
long ReadStatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return 0;
}

template <typename Body>
double PeakMiB(Body body) {
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const long before = ReadStatusKiB("VmRSS:");
    body();
    return static_cast<double>(ReadStatusKiB("VmHWM:") - before) / 1024.0;
}

void StereoMixdown(const Fixture& f, const ReverbSettings& reverb) {
    const PlaybackEngine& engine = *f.engine;
    std::vector<float> left(kFrames, 0.0f), right(kFrames, 0.0f);
    for (std::size_t k = 0; k < engine.voices.size(); ++k) {
        const float gain = engine.groupGain[static_cast<std::size_t>(engine.voices[k].group)];
        MixVoiceOffline(engine.voices[k], k, engine, left.data(), right.data(), kFrames, kRate, gain, 0.0);
    }
    std::vector<float> returnL, returnR;
    if (RenderReverbBusOffline(engine, reverb, kRate, kSeconds, 0.0, returnL, returnR))
        for (std::int64_t p = 0; p < kFrames; ++p) left[p] += returnL[p], right[p] += returnR[p];
    LimitStereo(engine.limiter, left.data(), right.data(), kFrames);
    benchmark::DoNotOptimize(left.data());
}

void ReverbBusAlone(const Fixture& f, const ReverbSettings& reverb) {
    std::vector<float> returnL, returnR;
    RenderReverbBusOffline(*f.engine, reverb, kRate, kSeconds, 0.0, returnL, returnR);
    benchmark::DoNotOptimize(returnL.data());
}

void PlainPass(const Fixture& f) {
    std::vector<float> left(kFrames, 0.0f), right(kFrames, 0.0f);
    for (const Voice& voice : f.engine->voices) {
        const std::int64_t s0 = static_cast<std::int64_t>(voice.startTime * kRate);
        const float* r = voice.stereo ? voice.samplesR.data() : voice.samplesL.data();
        for (std::int64_t i = 0; i < voice.frameCount && s0 + i < kFrames; ++i) {
            left[s0 + i] += voice.samplesL[i] * voice.gain;
            right[s0 + i] += r[i] * voice.gain;
        }
    }
    benchmark::DoNotOptimize(left.data());
}

void SpatialMixdown(const Fixture& f, const ReverbSettings& reverb, int layoutIndex) {
    const PlaybackEngine& engine = *f.engine;
    const OutputLayout layout = GetOutputLayout(layoutIndex);
    std::vector<std::vector<float>> channels(layout.roles.size(), std::vector<float>(kFrames, 0.0f));
    for (std::size_t k = 0; k < engine.voices.size(); ++k) {
        const float gain = engine.groupGain[static_cast<std::size_t>(engine.voices[k].group)];
        MixVoiceSpatial(engine.voices[k], k, engine, f.results, layout, channels, kFrames, kRate, gain, 0.0, 0, 0.9f,
                        true);
    }
    std::vector<float> returnL, returnR;
    if (RenderReverbBusOffline(engine, reverb, kRate, kSeconds, 0.0, returnL, returnR))
        SpreadReverbToLayout(returnL, returnR, kFrames, layout, channels);
    LimitChannels(engine.limiter, channels, kFrames);
    benchmark::DoNotOptimize(channels[0].data());
}

void BM_OfflineMixdownTenMinutes500Layers(benchmark::State& state) {
    const Fixture& f = SharedFixture();
    ReverbSettings reverb;
    double mix = 0, bus = 0, plain = 0, surround = 0, ambix = 0;
    for (auto _ : state) {
        mix = Seconds([&] { StereoMixdown(f, reverb); });
        bus = Seconds([&] { ReverbBusAlone(f, reverb); });
        plain = Seconds([&] { PlainPass(f); });
        surround = Seconds([&] { SpatialMixdown(f, reverb, 1); });
        ambix = Seconds([&] { SpatialMixdown(f, reverb, 3); });
    }
    state.counters["stereo_x_realtime"] = kSeconds / mix;
    state.counters["bus_x_realtime"] = kSeconds / bus;
    state.counters["plain_x_realtime"] = kSeconds / plain;
    state.counters["stereo_over_limits"] = mix / (bus + plain);  // target: at most 1.5
    state.counters["surround51_x_realtime"] = kSeconds / surround;
    state.counters["ambix_x_realtime"] = kSeconds / ambix;
    state.counters["stereo_peak_MiB"] = PeakMiB([&] { StereoMixdown(f, reverb); });
    state.counters["surround51_peak_MiB"] = PeakMiB([&] { SpatialMixdown(f, reverb, 1); });
    state.counters["ambix_peak_MiB"] = PeakMiB([&] { SpatialMixdown(f, reverb, 3); });
}
BENCHMARK(BM_OfflineMixdownTenMinutes500Layers)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace korvel
