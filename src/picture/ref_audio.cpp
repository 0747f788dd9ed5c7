#include "picture/ref_audio.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "picture/video_decoder.h"
#include "picture/video_player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace korvel {

namespace {

void Retire(std::shared_ptr<const VideoRefAudio> record) {
    if (record != nullptr) RefAudioWorker.retired.push_back(std::move(record));
}

struct AudioDecodeState {
    AVFormatContext* formatContext = nullptr;
    AVCodecContext* codecContext = nullptr;
    SwrContext* resampler = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~AudioDecodeState() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        swr_free(&resampler);
        avcodec_free_context(&codecContext);
        avformat_close_input(&formatContext);
    }
};

// Converts one decoded frame onto the end of `samples`.
void Convert(AudioDecodeState& s, std::vector<std::int16_t>& samples) {
    const int announced = swr_get_out_samples(s.resampler, s.frame->nb_samples);
    if (announced <= 0) return;
    const std::size_t before = samples.size();
    samples.resize(before + static_cast<std::size_t>(announced) * 2);
    std::uint8_t* out = reinterpret_cast<std::uint8_t*>(samples.data() + before);
    const int written = swr_convert(s.resampler, &out, announced,
                                    const_cast<const std::uint8_t**>(s.frame->extended_data), s.frame->nb_samples);
    samples.resize(before + static_cast<std::size_t>(written > 0 ? written : 0) * 2);
}

void PublishWhenDone(std::string path) {
    std::shared_ptr<VideoRefAudio> record = DecodeRefAudio(path.c_str(), RefAudioWorker.stop);
    if (record == nullptr || RefAudioWorker.stop.load()) return;
    std::printf("[Video] reference audio: %.1fs stereo 48kHz (%s)\n", static_cast<double>(record->frameCount) / 48000.0,
                path.c_str());
    std::fflush(stdout);
    // Nothing else is published while the worker runs (the UI thread cleared
    // it and joins the worker before publishing or clearing again).
    CurrentRefAudio.store(std::move(record));
}

}  // namespace

std::shared_ptr<VideoRefAudio> DecodeRefAudio(const char* path, const std::atomic<bool>& stop, AVIOContext* io) {
    AudioDecodeState s;
    s.formatContext = OpenVideoContainer(path, io);
    if (s.formatContext == nullptr) return nullptr;
    if (avformat_find_stream_info(s.formatContext, nullptr) < 0) return nullptr;
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(s.formatContext, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) return nullptr;
    s.codecContext = avcodec_alloc_context3(codec);
    if (s.codecContext == nullptr ||
        avcodec_parameters_to_context(s.codecContext, s.formatContext->streams[stream]->codecpar) < 0 ||
        avcodec_open2(s.codecContext, codec, nullptr) < 0) {
        return nullptr;
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout inLayout{};
    if (s.codecContext->ch_layout.nb_channels > 0 && av_channel_layout_check(&s.codecContext->ch_layout)) {
        if (av_channel_layout_copy(&inLayout, &s.codecContext->ch_layout) < 0) return nullptr;
    } else {
        return nullptr;
    }
    if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int channels = inLayout.nb_channels;
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_default(&inLayout, channels);
    }
    const int setUp = swr_alloc_set_opts2(&s.resampler, &stereo, AV_SAMPLE_FMT_S16, 48000, &inLayout,
                                          s.codecContext->sample_fmt, s.codecContext->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (setUp < 0 || s.codecContext->sample_rate <= 0 || swr_init(s.resampler) < 0) return nullptr;
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (s.frame == nullptr || s.packet == nullptr) return nullptr;

    auto record = std::make_shared<VideoRefAudio>();
    std::vector<std::int16_t>& samples = record->samples;
    const std::size_t capValues = RefAudioCapBytes / sizeof(std::int16_t);
    bool capped = false;
    while (!capped && !stop.load(std::memory_order_relaxed) && av_read_frame(s.formatContext, s.packet) >= 0) {
        if (s.packet->stream_index != stream) {
            av_packet_unref(s.packet);
            continue;
        }
        const int sent = avcodec_send_packet(s.codecContext, s.packet);
        av_packet_unref(s.packet);
        if (sent < 0) continue;  // a bad packet is skipped
        while (avcodec_receive_frame(s.codecContext, s.frame) >= 0) {
            Convert(s, samples);
            av_frame_unref(s.frame);
            if (samples.size() >= capValues) {
                std::printf("[Video] reference audio capped at 60 min (%s)\n", path);
                std::fflush(stdout);
                capped = true;
                break;
            }
        }
    }
    if (stop.load()) return nullptr;
    record->frameCount = samples.size() / 2;
    if (record->frameCount == 0) return nullptr;
    return record;
}

void LoadRefAudio(const char* path) {
    ClearRefAudio();
    RefAudioWorker.stop.store(false);
    RefAudioWorker.thread = std::thread(PublishWhenDone, std::string(path));
}

void ClearRefAudio() {
    if (RefAudioWorker.thread.joinable()) {
        RefAudioWorker.stop.store(true);
        RefAudioWorker.thread.join();
    }
    Retire(CurrentRefAudio.exchange(nullptr));
    FreeRetiredRefAudio();
}

void WaitRefAudio() {
    if (RefAudioWorker.thread.joinable()) RefAudioWorker.thread.join();
}

void FreeRetiredRefAudio() {
    std::erase_if(RefAudioWorker.retired, [](const std::shared_ptr<const VideoRefAudio>& record) { return record.use_count() == 1; });
}

void SetRefAudioGain(float gain) { RefAudioGain.store(gain, std::memory_order_relaxed); }

void MixRefAudio(float* left, float* right, std::uint32_t frames, double videoSeconds, int outRate) {
    const std::shared_ptr<const VideoRefAudio> audio = CurrentRefAudio.load();
    const float gain = RefAudioGain.load(std::memory_order_relaxed);
    if (audio == nullptr || audio->frameCount < 2 || outRate <= 0 || gain <= 0.0001f) return;
    const std::int16_t* s = audio->samples.data();
    const std::int64_t count = static_cast<std::int64_t>(audio->frameCount);
    double pos = audio->sampleRate * videoSeconds;
    const double step = static_cast<double>(audio->sampleRate) / outRate;
    const double scale = static_cast<double>(gain) / 32768.0;
    for (std::uint32_t i = 0; i < frames; ++i, pos += step) {
        // Times far outside the track are skipped before the cast.
        if (!(pos >= 0.0) || pos >= static_cast<double>(count)) continue;
        const std::int64_t k = static_cast<std::int64_t>(pos);
        if (k + 1 >= count) continue;
        const double frac = pos - static_cast<double>(k);
        const double l0 = s[2 * k], l1 = s[2 * k + 2];
        const double r0 = s[2 * k + 1], r1 = s[2 * k + 3];
        left[i] += static_cast<float>((l0 + (l1 - l0) * frac) * scale);
        right[i] += static_cast<float>((r0 + (r1 - r0) * frac) * scale);
    }
}

void RefAudioOutputHook(float* left, float* right, std::uint32_t frames, double timelineSeconds, int outRate) {
    // Audio thread: the offset is the UI thread's, read whole once a block.
    const float offset = GlobalVideoPlayer.timelineOffset.load(std::memory_order_relaxed);
    MixRefAudio(left, right, frames, timelineSeconds - offset, outRate);
}

}  // namespace korvel
