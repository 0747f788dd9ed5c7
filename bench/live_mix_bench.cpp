// The live mix of one 512-frame block at 48 kHz over N overlapping stereo
// voices, beside a plain multiply-add over the same samples (the limit);
// and the different-rate output callback per frame.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench_timing.h"
#include "playback/audio_output.h"
#include "playback/live_mixer.h"

namespace korvel {
namespace {

constexpr int kRate = 48000;
constexpr std::uint32_t kBlock = 512;

std::unique_ptr<PlaybackEngine> MakeMixEngine(int voices) {
    auto engine = std::make_unique<PlaybackEngine>();
    PrepareVoices(*engine, kRate, voices);
    ResetReverb(engine->reverbState, kRate);
    PublishReverbSettings(*engine);
    for (int v = 0; v < voices; ++v) {
        Voice voice;
        voice.stereo = true;
        voice.frameCount = 4 * kRate;
        voice.samplesL.assign(voice.frameCount, 0.001f * (v % 7));
        voice.samplesR.assign(voice.frameCount, 0.001f * (v % 5));
        voice.startTime = 0.0f;
        voice.duration = 4.0f;
        voice.group = v % 3;
        AppendVoice(*engine, std::move(voice), 0.04f, 0.05f);
    }
    engine->ready.store(true);
    engine->playing.store(true);
    engine->rampGain = 1.0f;
    return engine;
}

// Voice-frames per second of the mix, and the voices that fit in half of one
// core's real-time budget for the block.
void BM_LiveMixStereoVoices(benchmark::State& state) {
    const int voices = static_cast<int>(state.range(0));
    auto engine = MakeMixEngine(voices);
    std::vector<float> left(kBlock), right(kBlock);
    const double seconds = bench::TimePerIteration(state, [&] {
        engine->position.store(kRate);  // the same block every time, inside every voice
        MixPlaybackBlock(*engine, left.data(), right.data(), kBlock);
        benchmark::DoNotOptimize(left.data());
    });
    const double perVoiceFrame = seconds / (static_cast<double>(voices) * kBlock);
    state.counters["ns_per_voice_frame"] = perVoiceFrame * 1e9;
    state.counters["voices_in_half_budget"] = 0.5 * (static_cast<double>(kBlock) / kRate) / (perVoiceFrame * kBlock);
}
BENCHMARK(BM_LiveMixStereoVoices)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The limit: a plain multiply-add of the same stereo samples into a block.
void BM_PlainMultiplyAddStereoVoices(benchmark::State& state) {
    const int voices = static_cast<int>(state.range(0));
    auto engine = MakeMixEngine(voices);
    std::vector<float> left(kBlock), right(kBlock);
    const double seconds = bench::TimePerIteration(state, [&] {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        for (const Voice& voice : engine->voices) {
            const float* l = voice.samplesL.data() + kRate;
            const float* r = voice.samplesR.data() + kRate;
            const float gain = voice.gain * voice.normGain;
            for (std::uint32_t f = 0; f < kBlock; ++f) {
                left[f] += l[f] * gain;
                right[f] += r[f] * gain;
            }
        }
        benchmark::DoNotOptimize(left.data());
    });
    state.counters["ns_per_voice_frame"] = seconds / (static_cast<double>(voices) * kBlock) * 1e9;
}
BENCHMARK(BM_PlainMultiplyAddStereoVoices)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The device asks for 44.1 kHz from a 48 kHz mix: the resampling callback
// alone, with a render function that only fills.
void BM_DifferentRateCallback(benchmark::State& state) {
    auto output = std::make_unique<AudioOutput>();
    output->render = [](float* l, float* r, std::uint32_t n) {
        std::fill(l, l + n, 0.25f);
        std::fill(r, r + n, -0.25f);
    };
    PrepareOutputBuffers(*output, 48000, 44100);
    std::vector<float> out(2 * kBlock);
    const double seconds = bench::TimePerIteration(state, [&] {
        OutputStreamCallback(out.data(), nullptr, kBlock, 0.0, 0, output.get());
        benchmark::DoNotOptimize(out.data());
    });
    state.counters["ns_per_frame"] = seconds / kBlock * 1e9;
}
BENCHMARK(BM_DifferentRateCallback)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korvel
