#include "picture/video_decoder.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace korvel {

void LimitVideoSize(int& width, int& height) {
    if (width <= kVideoMaxSide && height <= kVideoMaxSide) return;
    // In integers, so the longer side lands on exactly 1280.
    const std::int64_t longer = width > height ? width : height;
    width = static_cast<int>(std::int64_t{width} * kVideoMaxSide / longer);
    height = static_cast<int>(std::int64_t{height} * kVideoMaxSide / longer);
}

bool PlausibleVideoDuration(double seconds, float fps, std::int64_t fileBytes) {
    // A header can claim any length; everything sized from it (the picture
    // read, the timeline) must not trust one the file cannot hold.
    if (!(seconds > 0.0) || seconds > kVideoMaxSeconds) return false;
    const double frames = seconds * (fps > 0.0f ? static_cast<double>(fps) : 1.0);
    return fileBytes <= 0 || frames * kVideoMinFrameBytes <= static_cast<double>(fileBytes);
}

AVFormatContext* OpenVideoContainer(const char* path, AVIOContext* io) {
    // FFmpeg's own log would print beside our single "[Video]" lines.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) return nullptr;
    AVDictionary* options = nullptr;
    // A memory reader needs no protocol; nested opens then find none allowed.
    av_dict_set(&options, "protocol_whitelist", io != nullptr ? "none" : "file", 0);
    av_dict_set(&options, "format_whitelist", kVideoFormatWhitelist, 0);
    if (io != nullptr) {
        context->pb = io;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // On failure avformat_open_input frees the context.
    const int result = avformat_open_input(&context, io != nullptr ? "" : path, nullptr, &options);
    av_dict_free(&options);
    return result < 0 ? nullptr : context;
}

namespace {

bool FailOpen(FfmpegVideo& video, const char* format, const char* path) {
    std::printf(format, path);
    std::fflush(stdout);
    CloseFfmpegVideo(video);
    return false;
}

}  // namespace

bool OpenFfmpegVideo(FfmpegVideo& video, const char* path, AVIOContext* io) {
    CloseFfmpegVideo(video);
    video.packet = av_packet_alloc();
    video.frame = av_frame_alloc();
    video.incoming = av_frame_alloc();
    if (video.packet == nullptr || video.frame == nullptr || video.incoming == nullptr) {
        return FailOpen(video, "[Video] FFmpeg: cannot open container (%s)\n", path);
    }
    video.formatContext = OpenVideoContainer(path, io);
    if (video.formatContext == nullptr) return FailOpen(video, "[Video] FFmpeg: cannot open container (%s)\n", path);
    if (avformat_find_stream_info(video.formatContext, nullptr) < 0) {
        return FailOpen(video, "[Video] FFmpeg: no stream info (%s)\n", path);
    }
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(video.formatContext, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) return FailOpen(video, "[Video] FFmpeg: no decodable video stream (%s)\n", path);
    video.videoStream = stream;
    AVStream* st = video.formatContext->streams[stream];

    video.codecContext = avcodec_alloc_context3(codec);
    bool opened = video.codecContext != nullptr &&
                  avcodec_parameters_to_context(video.codecContext, st->codecpar) >= 0;
    if (opened) {
        // Frame threads would hold frames back; slice threads keep seeks
        // landing on the frame asked for without extra delay.
        video.codecContext->thread_count = 4;
        video.codecContext->thread_type = FF_THREAD_SLICE;
        opened = avcodec_open2(video.codecContext, codec, nullptr) >= 0;
    }
    if (!opened) {
        std::printf("[Video] FFmpeg: decoder open failed (%s, %s)\n", codec->name, path);
        std::fflush(stdout);
        CloseFfmpegVideo(video);
        return false;
    }
    video.decoderName = codec->name;

    int width = video.codecContext->width;
    int height = video.codecContext->height;
    if (width < 1 || height < 1) return FailOpen(video, "[Video] FFmpeg: bad dimensions (%s)\n", path);
    LimitVideoSize(width, height);
    if (width < 1 || height < 1) return FailOpen(video, "[Video] FFmpeg: bad dimensions (%s)\n", path);
    video.width = width;
    video.height = height;

    const AVRational rate = av_guess_frame_rate(video.formatContext, st, nullptr);
    video.fps = (rate.num < 1 || rate.den < 1) ? 24.0f : static_cast<float>(av_q2d(rate));

    double duration = 0.0;
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
        duration = static_cast<double>(st->duration) * av_q2d(st->time_base);
    } else if (video.formatContext->duration > 0 && video.formatContext->duration != AV_NOPTS_VALUE) {
        duration = static_cast<double>(video.formatContext->duration) / AV_TIME_BASE;
    }
    const std::int64_t fileBytes = video.formatContext->pb != nullptr ? avio_size(video.formatContext->pb) : -1;
    if (!(duration > 0.0) || !PlausibleVideoDuration(duration, video.fps, fileBytes))
        return FailOpen(video, "[Video] FFmpeg: zero/unknown duration (%s)\n", path);
    video.duration = static_cast<float>(duration);
    video.eofSent = false;
    video.lastFrameTime = 0.0;
    return true;
}

void CloseFfmpegVideo(FfmpegVideo& video) {
    if (video.scaler != nullptr) sws_freeContext(video.scaler);
    av_frame_free(&video.frame);
    av_frame_free(&video.incoming);
    av_packet_free(&video.packet);
    avcodec_free_context(&video.codecContext);
    avformat_close_input(&video.formatContext);
    video = FfmpegVideo{};
}

VideoProbe ProbeVideoFile(const char* path) {
    AVFormatContext* container = OpenVideoContainer(path, nullptr);
    if (container == nullptr) {
        std::printf("[Video] FFmpeg: cannot open container (%s)\n", path);
        std::fflush(stdout);
        return VideoProbe::NotVideo;
    }
    avformat_close_input(&container);
    FfmpegVideo video;
    if (!OpenFfmpegVideo(video, path)) return VideoProbe::Undecodable;
    double time = 0.0;
    const bool decoded = DecodeNextFfmpegFrame(video, time);
    CloseFfmpegVideo(video);
    if (!decoded) {
        std::printf("[Video] FFmpeg: first frame decode failed (%s)\n", path);
        std::fflush(stdout);
        return VideoProbe::Undecodable;
    }
    return VideoProbe::Opens;
}

bool DecodeNextFfmpegFrame(FfmpegVideo& video, double& time) {
    if (video.codecContext == nullptr) return false;
    AVStream* st = video.formatContext->streams[video.videoStream];
    for (int attempt = 0; attempt < 4096; ++attempt) {
        const int received = avcodec_receive_frame(video.codecContext, video.incoming);
        if (received >= 0) {
            av_frame_unref(video.frame);
            av_frame_move_ref(video.frame, video.incoming);
            std::int64_t stamp = video.frame->best_effort_timestamp;
            if (stamp == AV_NOPTS_VALUE) stamp = video.frame->pts;
            if (stamp != AV_NOPTS_VALUE) {
                time = static_cast<double>(stamp) * av_q2d(st->time_base);
            } else {
                time = video.lastFrameTime + (video.fps > 0.0f ? 1.0 / video.fps : 0.04);
            }
            video.lastFrameTime = time;
            return true;
        }
        if (received != AVERROR(EAGAIN)) return false;  // end of stream or an error
        if (video.eofSent) return false;
        const int read = av_read_frame(video.formatContext, video.packet);
        if (read < 0) {
            avcodec_send_packet(video.codecContext, nullptr);
            video.eofSent = true;
            continue;
        }
        if (video.packet->stream_index == video.videoStream) {
            const int sent = avcodec_send_packet(video.codecContext, video.packet);
            av_packet_unref(video.packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) return false;
        } else {
            av_packet_unref(video.packet);
        }
    }
    return false;
}

void RepositionFfmpegVideo(FfmpegVideo& video, double seconds) {
    if (video.codecContext == nullptr) return;
    AVStream* st = video.formatContext->streams[video.videoStream];
    const double base = av_q2d(st->time_base);
    std::int64_t stamp = base > 0.0 ? static_cast<std::int64_t>(seconds / base) : 0;
    av_seek_frame(video.formatContext, video.videoStream, stamp, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(video.codecContext);
    video.eofSent = false;
}

constexpr int kScaleRowAlign = 64;

bool ScaleFfmpegFrame(FfmpegVideo& video, SwsContext*& scaler, std::uint8_t* rgba, int width, int height) {
    const AVFrame* frame = video.frame;
    if (frame == nullptr || frame->width < 1 || frame->height < 1 || frame->format < 0) return false;
    scaler = sws_getCachedContext(scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                  width, height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr) return false;
    // The scaler stores whole vectors and can write past the end of a row
    // that is not a multiple of 64 bytes (a 1-pixel-wide picture overran its
    // buffer). Such sizes go through a padded scratch and are copied out.
    const int rowBytes = width * 4;
    if (rowBytes % kScaleRowAlign == 0) {
        std::uint8_t* planes[4] = {rgba, nullptr, nullptr, nullptr};
        int strides[4] = {rowBytes, 0, 0, 0};
        return sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0;
    }
    const int stride = (rowBytes / kScaleRowAlign + 1) * kScaleRowAlign;
    video.scaleScratch.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height + 1) +
                              kScaleRowAlign);
    std::uint8_t* planes[4] = {video.scaleScratch.data(), nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    if (sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0) return false;
    for (int y = 0; y < height; ++y)
        std::memcpy(rgba + static_cast<std::size_t>(y) * rowBytes,
                    video.scaleScratch.data() + static_cast<std::size_t>(y) * stride, static_cast<std::size_t>(rowBytes));
    return true;
}

}  // namespace korvel
