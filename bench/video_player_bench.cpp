// The reference video player on a 1080p file written at start (25 fps, a key
// frame every 2 s, decoded at 1280 × 720): the time from a seek to its frame
// being shown, for forward seeks inside the 5 s window, backward seeks and
// far ones, beside FFmpeg's decode-only landing on the same frame (seek to
// the key frame, decode up to the target, no scaling or upload) as the
// limit; the cost of a paused tick, and of a paused frame on frames off the
// rate's grid; and playback at 60 UI frames per second,
// counting frames decoded per UI frame and re-anchors over 0.25 s of drift.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "support/video_fixture.h"

namespace korvel {
namespace {

struct NullSink : VideoFrameSink {
    unsigned long CreateTarget(int, int) override { return 0; }
    void ReleaseTarget() override {}
    void Upload(const std::uint8_t*, int, int) override {}
    void* View() override { return this; }
};

constexpr float kSeconds = 12.0f;

const std::string& VideoPath() {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "korvel-bench-1080p.mkv").string();
        test::TestVideoSpec spec;
        spec.width = 1920;
        spec.height = 1080;
        spec.fps = 25;
        spec.frames = static_cast<int>(kSeconds * 25);
        spec.keyInterval = 50;
        test::WriteTestVideo(p, spec);
        return p;
    }();
    return path;
}

double Now() { return ClockSeconds(); }

// Pairs (from, to) of video times for each kind of seek.
std::vector<std::pair<float, float>> SeekPairs(int kind) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> start(0.5f, kSeconds - 6.0f);
    std::vector<std::pair<float, float>> pairs;
    for (int i = 0; i < 20; ++i) {
        const float from = start(random);
        switch (kind) {
            case 0: pairs.emplace_back(from, from + 0.5f + (i % 9) * 0.5f); break;      // forward under 5 s
            case 1: pairs.emplace_back(from + 4.0f, from + 4.0f - 0.2f - (i % 7) * 0.4f); break;  // backward
            default: pairs.emplace_back(0.2f, from + 5.5f); break;                         // far ahead
        }
    }
    return pairs;
}

void Percentiles(benchmark::State& state, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

void BM_VideoSeekToShownFrame(benchmark::State& state) {
    NullSink sink;
    VideoPlayer player;
    player.device = &sink;
    std::fflush(stdout);
    if (!player.Load(VideoPath().c_str())) {
        state.SkipWithError("no video");
        return;
    }
    const auto pairs = SeekPairs(static_cast<int>(state.range(0)));
    std::vector<double> ms;
    long decoded = 0;
    for (auto _ : state) {
        for (const auto& [from, to] : pairs) {
            player.Seek(from);
            while (player.decoder->pendingTarget >= 0.0f) player.Tick();
            const long before = player.decoder->framesDecoded;
            const double start = Now();
            player.Seek(to);
            while (player.decoder->pendingTarget >= 0.0f) player.Tick();
            ms.push_back((Now() - start) * 1000.0);
            decoded += player.decoder->framesDecoded - before;
        }
    }
    Percentiles(state, ms);
    state.counters["frames_per_seek"] = static_cast<double>(decoded) / static_cast<double>(ms.size());
}
BENCHMARK(BM_VideoSeekToShownFrame)->Arg(0)->Arg(1)->Arg(2)->ArgName("forward0_backward1_far2")->Iterations(1)->Unit(benchmark::kMillisecond);

// The limit: FFmpeg alone landing on the same frames, without scaling.
void BM_FfmpegDecodeOnlySeek(benchmark::State& state) {
    FfmpegVideo video;
    if (!OpenFfmpegVideo(video, VideoPath().c_str())) {
        state.SkipWithError("no video");
        return;
    }
    const auto pairs = SeekPairs(static_cast<int>(state.range(0)));
    const float tol = 0.5f / video.fps;
    std::vector<double> ms;
    double time = 0.0;
    for (auto _ : state) {
        for (const auto& [from, to] : pairs) {
            RepositionFfmpegVideo(video, from);
            while (DecodeNextFfmpegFrame(video, time) && time + tol < from) {
            }
            const double start = Now();
            // Forward seeks inside the window decode on, as the player does.
            if (state.range(0) != 0) RepositionFfmpegVideo(video, to);
            while (DecodeNextFfmpegFrame(video, time) && time + tol < to) {
            }
            ms.push_back((Now() - start) * 1000.0);
        }
    }
    Percentiles(state, ms);
    CloseFfmpegVideo(video);
}
BENCHMARK(BM_FfmpegDecodeOnlySeek)->Arg(0)->Arg(1)->Arg(2)->ArgName("forward0_backward1_far2")->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_VideoPausedTick(benchmark::State& state) {
    NullSink sink;
    VideoPlayer player;
    player.device = &sink;
    if (!player.Load(VideoPath().c_str())) {
        state.SkipWithError("no video");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(player.Tick());
}
BENCHMARK(BM_VideoPausedTick);

// A paused UI frame on a stream whose frames sit 7 ms off the rate's grid:
// the frame asks for the playhead (1 s) and ticks. Counts repositions and
// frames decoded per UI frame after the first landing (both 0 when it rests).
void BM_VideoPausedFrameOffTheGrid(benchmark::State& state) {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "korvel-bench-1080p-late.mkv").string();
        test::TestVideoSpec spec;
        spec.width = 1920;
        spec.height = 1080;
        spec.fps = 25;
        spec.frames = 75;
        spec.keyInterval = 50;
        spec.startMs = 7;
        test::WriteTestVideo(p, spec);
        return p;
    }();
    NullSink sink;
    VideoPlayer player;
    player.device = &sink;
    if (!player.Load(path.c_str())) {
        state.SkipWithError("no video");
        return;
    }
    player.Seek(1.0f);
    while (player.decoder->pendingTarget >= 0.0f) player.Tick();
    const int repositions = player.decoder->repositions;
    const long decoded = player.decoder->framesDecoded;
    for (auto _ : state) {
        player.Seek(1.0f);
        benchmark::DoNotOptimize(player.Tick());
    }
    const auto frames = static_cast<double>(state.iterations());
    state.counters["repositions_per_frame"] = (player.decoder->repositions - repositions) / frames;
    state.counters["decodes_per_frame"] = static_cast<double>(player.decoder->framesDecoded - decoded) / frames;
}
BENCHMARK(BM_VideoPausedFrameOffTheGrid);

// 2 s of playback ticked at 60 UI frames per second in real time.
void BM_VideoPlaybackRealTime(benchmark::State& state) {
    NullSink sink;
    VideoPlayer player;
    player.device = &sink;
    if (!player.Load(VideoPath().c_str())) {
        state.SkipWithError("no video");
        return;
    }
    long uiFrames = 0;
    long decoded = 0;
    int drifts = 0;
    double worstLag = 0.0;
    for (auto _ : state) {
        player.Seek(1.0f);
        while (player.decoder->pendingTarget >= 0.0f) player.Tick();
        player.Play();
        const long before = player.decoder->framesDecoded;
        const double start = Now();
        double next = start;
        while (Now() - start < 2.0) {
            const double clock = Now();
            player.Tick();
            const double lag = (1.0 + (clock - start)) - player.currentFrameTime;
            worstLag = std::max(worstLag, lag);
            if (lag > 0.25) ++drifts;
            ++uiFrames;
            next += 1.0 / 60.0;
            while (Now() < next) {
            }
        }
        player.Pause();
        decoded += player.decoder->framesDecoded - before;
    }
    state.counters["frames_per_ui_frame"] = static_cast<double>(decoded) / static_cast<double>(uiFrames);
    state.counters["drift_over_250ms"] = drifts;
    state.counters["worst_lag_ms"] = worstLag * 1000.0;
}
BENCHMARK(BM_VideoPlaybackRealTime)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel
