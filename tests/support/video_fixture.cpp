#include "support/video_fixture.h"

#include <cmath>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace korvel::test {
namespace {

struct Writer {
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    bool tickDurations = false;
    ~Writer() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (format != nullptr) {
            if (format->pb != nullptr) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

bool Drain(Writer& w, AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    if (avcodec_send_frame(codec, frame) < 0) return false;
    while (true) {
        const int r = avcodec_receive_packet(codec, w.packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return false;
        av_packet_rescale_ts(w.packet, codec->time_base, stream->time_base);
        // A length of 0 would be filled in from the rate: one tick instead.
        if (w.tickDurations && codec == w.video) w.packet->duration = 1;
        w.packet->stream_index = stream->index;
        if (av_interleaved_write_frame(w.format, w.packet) < 0) return false;
    }
}

void FillFrame(AVFrame* f, const TestVideoSpec& spec, int index) {
    av_frame_make_writable(f);
    auto luma = [](int r, int g, int b) { return static_cast<std::uint8_t>(16 + (66 * r + 129 * g + 25 * b + 128) / 256); };
    auto cb = [](int r, int g, int b) { return static_cast<std::uint8_t>(128 + (-38 * r - 74 * g + 112 * b + 128) / 256); };
    auto cr = [](int r, int g, int b) { return static_cast<std::uint8_t>(128 + (112 * r - 94 * g - 18 * b + 128) / 256); };
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            std::uint8_t value;
            if (spec.solidColour) {
                value = luma(spec.rgb[0], spec.rgb[1], spec.rgb[2]);
            } else {
                const int bit = 7 - x * 8 / spec.width;
                value = ((index >> bit) & 1) ? 235 : 16;
            }
            f->data[0][y * f->linesize[0] + x] = value;
        }
    }
    for (int y = 0; y < spec.height / 2; ++y) {
        for (int x = 0; x < spec.width / 2; ++x) {
            const int r = spec.rgb[0], g = spec.rgb[1], b = spec.rgb[2];
            f->data[1][y * f->linesize[1] + x] = spec.solidColour ? cb(r, g, b) : 128;
            f->data[2][y * f->linesize[2] + x] = spec.solidColour ? cr(r, g, b) : 128;
        }
    }
}

}  // namespace

bool WriteTestVideo(const std::string& path, const TestVideoSpec& spec) {
    Writer w;
    if (avformat_alloc_output_context2(&w.format, nullptr, spec.vp9 ? "webm" : spec.container, path.c_str()) < 0) {
        return false;
    }
    const AVCodec* videoCodec =
        spec.vp9 ? avcodec_find_encoder_by_name("libvpx-vp9") : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (videoCodec == nullptr) return false;
    // Times in milliseconds when frames do not sit on the rate's grid.
    const bool msTimes = spec.vp9 || spec.startMs != 0 || !spec.frameMs.empty();
    w.tickDurations = !spec.frameMs.empty();
    const bool withVideo = spec.frames > 0;
    if (withVideo) {
    w.videoStream = avformat_new_stream(w.format, nullptr);
    w.video = avcodec_alloc_context3(videoCodec);
    w.video->width = spec.width;
    w.video->height = spec.height;
    w.video->time_base = msTimes ? AVRational{1, 1000} : AVRational{1, spec.fps};
    w.video->framerate = AVRational{spec.fps, 1};
    w.video->gop_size = spec.keyInterval;
    w.video->max_b_frames = 0;
    w.video->pix_fmt = AV_PIX_FMT_YUV420P;
    w.video->flags |= AV_CODEC_FLAG_QSCALE;
    w.video->global_quality = FF_QP2LAMBDA * 2;
    if (w.format->oformat->flags & AVFMT_GLOBALHEADER) w.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (spec.vp9) {
        // Lossless keeps the stripes readable; no look-ahead keeps every
        // frame a shown one.
        av_opt_set(w.video->priv_data, "lossless", "1", 0);
        av_opt_set(w.video->priv_data, "deadline", "realtime", 0);
        av_opt_set(w.video->priv_data, "cpu-used", "8", 0);
        av_opt_set(w.video->priv_data, "lag-in-frames", "0", 0);
    }
    if (avcodec_open2(w.video, videoCodec, nullptr) < 0) return false;
    avcodec_parameters_from_context(w.videoStream->codecpar, w.video);
    w.videoStream->time_base = w.video->time_base;
    w.videoStream->avg_frame_rate = w.video->framerate;
    }

    if (spec.toneRate > 0) {
        const AVCodec* audioCodec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        w.audioStream = avformat_new_stream(w.format, nullptr);
        w.audio = avcodec_alloc_context3(audioCodec);
        w.audio->sample_rate = spec.toneRate;
        w.audio->sample_fmt = AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&w.audio->ch_layout, spec.toneChannels);
        w.audio->time_base = AVRational{1, spec.toneRate};
        if (avcodec_open2(w.audio, audioCodec, nullptr) < 0) return false;
        avcodec_parameters_from_context(w.audioStream->codecpar, w.audio);
        w.audioStream->time_base = w.audio->time_base;
    }
    if (avio_open(&w.format->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(w.format, nullptr) < 0) return false;

    w.packet = av_packet_alloc();
    if (withVideo) {
    w.frame = av_frame_alloc();
    w.frame->format = AV_PIX_FMT_YUV420P;
    w.frame->width = spec.width;
    w.frame->height = spec.height;
    if (av_frame_get_buffer(w.frame, 0) < 0) return false;
    std::int64_t ms = spec.startMs;
    for (int i = 0; i < spec.frames; ++i) {
        FillFrame(w.frame, spec, i);
        w.frame->pts = msTimes ? ms : i;
        ms += spec.frameMs.empty() ? 1000 / spec.fps : spec.frameMs[static_cast<std::size_t>(i) % spec.frameMs.size()];
        w.frame->pict_type = i % spec.keyInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (!Drain(w, w.video, w.videoStream, w.frame)) return false;
    }
    if (!Drain(w, w.video, w.videoStream, nullptr)) return false;
    }

    if (w.audio != nullptr) {
        const double seconds = spec.toneSeconds > 0 ? spec.toneSeconds : static_cast<double>(spec.frames) / spec.fps;
        const std::int64_t total = static_cast<std::int64_t>(seconds * spec.toneRate);
        const int block = 1024;
        AVFrame* a = av_frame_alloc();
        a->format = AV_SAMPLE_FMT_S16;
        a->sample_rate = spec.toneRate;
        av_channel_layout_copy(&a->ch_layout, &w.audio->ch_layout);
        for (std::int64_t start = 0; start < total; start += block) {
            a->nb_samples = static_cast<int>(std::min<std::int64_t>(block, total - start));
            av_frame_get_buffer(a, 0);
            auto* out = reinterpret_cast<std::int16_t*>(a->data[0]);
            for (int i = 0; i < a->nb_samples; ++i) {
                const double t = static_cast<double>(start + i) / spec.toneRate;
                const auto v = static_cast<std::int16_t>(spec.toneAmplitude * std::sin(2.0 * M_PI * 440.0 * t));
                for (int c = 0; c < spec.toneChannels; ++c) out[i * spec.toneChannels + c] = v;
            }
            a->pts = start;
            const bool ok = Drain(w, w.audio, w.audioStream, a);
            av_frame_unref(a);
            a->format = AV_SAMPLE_FMT_S16;
            a->sample_rate = spec.toneRate;
            av_channel_layout_copy(&a->ch_layout, &w.audio->ch_layout);
            if (!ok) {
                av_frame_free(&a);
                return false;
            }
        }
        av_frame_free(&a);
        if (!Drain(w, w.audio, w.audioStream, nullptr)) return false;
    }
    return av_write_trailer(w.format) >= 0;
}

int ReadFrameIndex(const std::uint8_t* rgba, int width, int height) {
    int index = 0;
    const int y = height / 2;
    for (int bit = 0; bit < 8; ++bit) {
        const int x = (2 * bit + 1) * width / 16;
        index = index * 2 + (rgba[(static_cast<std::size_t>(y) * width + x) * 4] > 128 ? 1 : 0);
    }
    return index;
}

}  // namespace korvel::test
