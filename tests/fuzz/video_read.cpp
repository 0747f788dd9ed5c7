// The reference video's reading on arbitrary bytes through a memory reader:
// the open with its size, rate and duration rules, a few decoded and scaled
// frames, a repositioning, the picture read's sampling of its first steps
// with their measures, and the sound decoded to 48 kHz stereo, must never
// crash, hang or read out of bounds, whatever a damaged or hostile file
// claims. No protocol is allowed, so nothing outside the bytes is opened.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture/frame_sampler.h"
#include "picture/ref_audio.h"
#include "picture/trace_analysis.h"
#include "picture/video_decoder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace {

struct MemoryFile {
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

int Read(void* opaque, uint8_t* buffer, int wanted) {
    auto* file = static_cast<MemoryFile*>(opaque);
    const size_t left = file->size - file->position;
    const size_t n = left < static_cast<size_t>(wanted) ? left : static_cast<size_t>(wanted);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buffer, file->data + file->position, n);
    file->position += n;
    return static_cast<int>(n);
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(opaque);
    if (whence == AVSEEK_SIZE) return static_cast<int64_t>(file->size);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = static_cast<int64_t>(file->position); break;
        case SEEK_END: base = static_cast<int64_t>(file->size); break;
        default: return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(file->size)) return -1;
    file->position = static_cast<size_t>(target);
    return target;
}

// A reader over the bytes; freed with FreeReader.
AVIOContext* MakeReader(MemoryFile& file) {
    constexpr int kBufferSize = 4096;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) return nullptr;
    AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 0, &file, Read, nullptr, Seek);
    if (io == nullptr) av_free(buffer);
    return io;
}

void FreeReader(AVIOContext*& io) {
    if (io == nullptr) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
}

void Measure(int index, float time, const uint8_t* rgba, int width, int height, void* user) {
    static_cast<korvel::TraceAnalysis*>(user)->AddFrame(index, time, rgba, width, height);
}

// A file may claim hours; a few steps show the sampler's reading.
float StopAfterEight(float fraction, void* user) {
    int& calls = *static_cast<int*>(user);
    return ++calls >= 8 ? -1.0f : fraction;
}

void Sample(const uint8_t* data, size_t size) {
    MemoryFile file{data, size};
    AVIOContext* io = MakeReader(file);
    if (io == nullptr) return;
    korvel::FfmpegVideo video;
    if (korvel::OpenFfmpegVideo(video, "fuzz input", io)) {
        korvel::TraceAnalysis analysis;
        analysis.fps = 10.0f;
        analysis.frames.resize(8);
        int calls = 0;
        korvel::SampleVideoFrames(video, video.duration, video.width, video.height, 10.0f, 160, Measure, &analysis,
                                  StopAfterEight, &calls);
        korvel::DetectTraceEvents(analysis, korvel::TraceSettings{});
        korvel::CloseFfmpegVideo(video);
    }
    FreeReader(io);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small inputs may claim long sounds; keep each run's memory bounded.
    korvel::RefAudioCapBytes = 4u << 20;

    MemoryFile videoFile{data, size};
    AVIOContext* io = MakeReader(videoFile);
    if (io == nullptr) return 0;
    korvel::FfmpegVideo video;
    if (korvel::OpenFfmpegVideo(video, "fuzz input", io)) {
        std::vector<uint8_t> rgba(static_cast<size_t>(video.width) * static_cast<size_t>(video.height) * 4);
        double time = 0.0;
        for (int i = 0; i < 4 && korvel::DecodeNextFfmpegFrame(video, time); ++i) {
            korvel::ScaleFfmpegFrame(video, video.scaler, rgba.data(), video.width, video.height);
        }
        korvel::RepositionFfmpegVideo(video, video.duration * 0.5);
        for (int i = 0; i < 2 && korvel::DecodeNextFfmpegFrame(video, time); ++i) {
            korvel::ScaleFfmpegFrame(video, video.scaler, rgba.data(), video.width, video.height);
        }
        korvel::CloseFfmpegVideo(video);
    }
    FreeReader(io);

    Sample(data, size);

    MemoryFile audioFile{data, size};
    io = MakeReader(audioFile);
    if (io == nullptr) return 0;
    const std::atomic<bool> stop{false};
    (void)korvel::DecodeRefAudio("fuzz input", stop, io);
    FreeReader(io);
    return 0;
}
