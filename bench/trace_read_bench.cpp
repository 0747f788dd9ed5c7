// The picture read on a 1080p file written at start (two minutes at 25 fps,
// a key frame every 2 s): the whole read (sampling at 10 frames per second
// to 160 pixels wide, the measures, the detector) in times real time, beside
// FFmpeg decoding every frame of the same file and nothing else as the
// limit; and the detector alone on 12,000 generated frames (a 20-minute
// video). Targets: the read at least 10 × real time, detection under 100 ms.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_timing.h"
#include "picture/frame_sampler.h"
#include "picture/trace_analysis.h"
#include "picture/video_decoder.h"
#include "picture/video_player.h"
#include "support/video_fixture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace korvel {
namespace {

constexpr int kFps = 25;
constexpr int kSeconds = 120;

const std::string& ReadVideoPath() {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "korvel-bench-trace-1080p.mkv").string();
        test::TestVideoSpec spec;
        spec.width = 1920;
        spec.height = 1080;
        spec.fps = kFps;
        spec.frames = kSeconds * kFps;
        spec.keyInterval = 2 * kFps;
        test::WriteTestVideo(p, spec);
        return p;
    }();
    return path;
}

struct NullSink : VideoFrameSink {
    unsigned long CreateTarget(int, int) override { return 0; }
    void ReleaseTarget() override {}
    void Upload(const std::uint8_t*, int, int) override {}
    void* View() override { return this; }
};

void Measure(int index, float time, const std::uint8_t* rgba, int width, int height, void* user) {
    static_cast<TraceAnalysis*>(user)->AddFrame(index, time, rgba, width, height);
}

// Every frame decoded with FFmpeg's own calls, the decoder set up as ours
// is (four slice threads), nothing scaled or kept.
double DecodeOnlySeconds(const std::string& path) {
    const double start = ClockSeconds();
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return 0.0;
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, format->streams[stream]->codecpar);
    context->thread_count = 4;
    context->thread_type = FF_THREAD_SLICE;
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    long frames = 0;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(context, packet);
            while (avcodec_receive_frame(context, frame) >= 0) ++frames;
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    while (avcodec_receive_frame(context, frame) >= 0) ++frames;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    benchmark::DoNotOptimize(frames);
    return ClockSeconds() - start;
}

void BM_TraceReadBesideDecodeOnly(benchmark::State& state) {
    NullSink sink;
    VideoPlayer player;
    player.device = &sink;
    std::fflush(stdout);
    if (!player.Load(ReadVideoPath().c_str())) {
        state.SkipWithError("no video");
        return;
    }
    int events = 0;
    const double read = bench::TimePerIteration(state, [&] {
        TraceAnalysis analysis;
        analysis.fps = 10.0f;
        analysis.duration = player.duration;
        analysis.frames.resize(static_cast<std::size_t>(std::floor(10.0 * player.duration)) + 2);
        player.SampleFrames(10.0f, 160, Measure, &analysis, nullptr, nullptr);
        DetectTraceEvents(analysis, TraceSettings{0.9f});
        events = static_cast<int>(analysis.events.size());
    });
    const double decode = DecodeOnlySeconds(ReadVideoPath());
    const double seconds = player.duration;
    state.counters["read_x_realtime"] = read > 0.0 ? seconds / read : 0.0;
    state.counters["decode_only_x_realtime"] = decode > 0.0 ? seconds / decode : 0.0;
    state.counters["read_over_decode_time"] = decode > 0.0 ? read / decode : 0.0;
    state.counters["events"] = events;
    player.Close();
}
BENCHMARK(BM_TraceReadBesideDecodeOnly)->Iterations(2)->Unit(benchmark::kMillisecond);

// A 20-minute read's measures: slow swells, flashes and cuts over noise.
TraceAnalysis TwentyMinutes() {
    constexpr int n = 12000;
    TraceAnalysis a;
    a.fps = 10.0f;
    a.duration = n / 10.0f;
    a.frames.resize(n);
    unsigned noise = 12345;
    for (int i = 0; i < n; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float jitter = static_cast<float>(noise >> 8) / 16777216.0f;
        FrameMeasures& m = a.frames[i];
        m.time = i / 10.0f;
        m.luma = 0.4f + 0.2f * std::sin(i * 0.003f);
        m.motion = 0.3f * jitter + 0.5f * std::pow(std::sin(i * 0.011f), 8.0f);
        m.lumaDelta = i % 97 == 0 ? 0.5f : 0.02f * (jitter - 0.5f);
        m.histogramChange = i % 311 == 0 ? 0.6f : 0.05f * jitter;
        m.warmth = 0.1f;
        m.saturation = 0.3f;
    }
    a.framesDone.store(n);
    return a;
}

void BM_DetectTraceEvents12000(benchmark::State& state) {
    const TraceAnalysis source = TwentyMinutes();
    std::size_t events = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TraceAnalysis a = source;
        state.ResumeTiming();
        DetectTraceEvents(a, TraceSettings{0.9f});
        events = a.events.size();
    }
    state.counters["events"] = static_cast<double>(events);
    state.counters["limit_ms"] = 100;
}
BENCHMARK(BM_DetectTraceEvents12000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel
