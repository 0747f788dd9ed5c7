// Bouncing 50 events of four layers each, spread over 60 s, to one stereo
// file, beside the offline mix of the same voices plus an fwrite of the
// file's bytes (the limit).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "dsp/limiter.h"
#include "playback/offline_mix.h"
#include "playback/playback_engine.h"
#include "project/bounce.h"

namespace korvel {
namespace {

using bench::Seconds;

constexpr int kRate = 48000;
constexpr int kEvents = 50;
constexpr int kLayersPerEvent = 4;
// Past the last voice (57 s + 0.3 s + 3 s), so the bounce is never cut.
constexpr float kProjectEnd = 61.0f;

std::unique_ptr<PlaybackEngine> MakeEngine() {
    auto engine = std::make_unique<PlaybackEngine>();
    PrepareVoices(*engine, kRate, kEvents * kLayersPerEvent);
    PrepareLimiterSettings(engine->limiter, kRate);
    std::uint32_t state = 7;
    auto draw = [&] {
        state = state * 1103515245u + 12345u;
        return static_cast<float>((state >> 16) & 0x7FFF) / 32767.0f;
    };
    for (int e = 0; e < kEvents; ++e) {
        for (int l = 0; l < kLayersPerEvent; ++l) {
            Voice voice;
            voice.eventIndex = e;
            voice.duration = 1.0f + 2.0f * draw();
            voice.frameCount = static_cast<std::int32_t>(voice.duration * kRate);
            voice.startTime = 57.0f * static_cast<float>(e) / kEvents + 0.1f * static_cast<float>(l);
            voice.stereo = l % 2 == 0;
            voice.samplesL.resize(static_cast<std::size_t>(voice.frameCount));
            for (float& s : voice.samplesL) s = 0.2f * (draw() - 0.5f);
            if (voice.stereo) voice.samplesR = voice.samplesL;
            voice.group = l % 3;
            AppendVoice(*engine, std::move(voice), 0.04f, 0.05f);
        }
    }
    engine->ready.store(true);
    return engine;
}

void BM_BounceFiftyEvents(benchmark::State& state) {
    auto engine = MakeEngine();
    std::set<std::int32_t> events;
    for (int e = 0; e < kEvents; ++e) events.insert(e);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "korvel-bounce-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    double bounce = 0, mix = 0, write = 0, length = 0;
    for (auto _ : state) {
        float start = 0, seconds = 0;
        bounce = Seconds([&] { RenderBounce(*engine, events, folder.string(), "Bench", kProjectEnd, 1, start, seconds); });
        length = seconds;
        const auto frames = static_cast<std::int64_t>(static_cast<double>(seconds) * kRate);
        mix = Seconds([&] {
            std::vector<float> left(static_cast<std::size_t>(frames)), right(static_cast<std::size_t>(frames));
            for (std::size_t k = 0; k < engine->voices.size(); ++k)
                MixVoiceOffline(engine->voices[k], k, *engine, left.data(), right.data(), frames, kRate, 1.0f, start);
            benchmark::DoNotOptimize(left.data());
        });
        const std::vector<char> bytes(static_cast<std::size_t>(frames) * 6, 1);
        write = Seconds([&] { bench::WriteRawFile((folder / "fwrite.raw").c_str(), bytes); });
    }
    state.counters["bounce_seconds"] = bounce;
    state.counters["mix_plus_fwrite_seconds"] = mix + write;
    state.counters["bounce_over_limit"] = bounce / (mix + write);
    state.counters["bounced_seconds"] = length;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_BounceFiftyEvents)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel
