#include "picture/video_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "picture/ref_audio.h"
#include "picture/video_decoder.h"

namespace korvel {

// The reference audio's globals are defined here, before the player, so that
// they outlive the player's Close at process exit. Threads: see ref_audio.h.
std::atomic<std::shared_ptr<const VideoRefAudio>> CurrentRefAudio;
std::atomic<float> RefAudioGain{1.0f};
std::size_t RefAudioCapBytes = kRefAudioCapBytes;
RefAudioWorkerState RefAudioWorker;

// UI thread only.
VideoPlayer GlobalVideoPlayer;

double ClockSeconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

namespace {

// Read once per process: forced FFmpeg. FFmpeg is the only decoder here, so
// the switch changes nothing further.
[[maybe_unused]] bool ForceFfmpeg() {
    static const bool forced = [] {
        const char* value = std::getenv("KV_FORCE_FFMPEG");
        return value != nullptr && value[0] != '\0';
    }();
    return forced;
}

float Tolerance(float fps) { return fps > 0.0f ? 0.5f / fps : 0.02f; }

void ShowFrame(VideoPlayer& player, VideoDecoder& decoder, double time) {
    FfmpegVideo& video = decoder.video;
    if (ScaleFfmpegFrame(video, video.scaler, decoder.rgbaBuffer.data(), player.width, player.height)) {
        decoder.device->Upload(decoder.rgbaBuffer.data(), player.width, player.height);
    }
    player.currentFrameTime = static_cast<float>(time);
}

void Landed(VideoPlayer& player, VideoDecoder& decoder) {
    decoder.landedTarget = decoder.pendingTarget;
    decoder.landedFrameTime = player.currentFrameTime;
    decoder.pendingTarget = -1.0f;
}

// Decodes toward the pending target within `budget` seconds; true when the
// target is done (shown, or the stream ended). Decoder lock held.
bool DecodeToTarget(VideoPlayer& player, VideoDecoder& decoder, double budget) {
    if (decoder.pendingTarget < 0.0f) return true;
    const double start = ClockSeconds();
    const float tol = Tolerance(player.fps);
    bool haveFrame = false;
    double lastTime = 0.0;
    for (int decoded = 0;; ++decoded) {
        double time = 0.0;
        if (!DecodeNextFfmpegFrame(decoder.video, time)) {
            if (haveFrame) ShowFrame(player, decoder, lastTime);
            Landed(player, decoder);
            decoder.awaitingLanding = false;
            return true;
        }
        ++decoder.framesDecoded;
        haveFrame = true;
        lastTime = time;
        if (decoder.awaitingLanding) {
            decoder.awaitingLanding = false;
            const float previous = decoder.lastLandingTime;
            decoder.lastLandingTime = static_cast<float>(time);
            // Quick backward scrubbing shows each landing at once, never a
            // later frame on the way to the target.
            if (decoder.fastBackwardScrub && std::fabs(time - previous) > 0.001) {
                ShowFrame(player, decoder, time);
            }
        }
        if (time + tol >= decoder.pendingTarget) {
            ShowFrame(player, decoder, time);
            Landed(player, decoder);
            return true;
        }
        if (ClockSeconds() - start >= budget || decoded + 1 >= 4000) {
            if (!decoder.scrubBackward) ShowFrame(player, decoder, time);
            return false;
        }
    }
}

}  // namespace

VideoPlayer::VideoPlayer() = default;
VideoPlayer::~VideoPlayer() { Close(); }

bool VideoPlayer::Load(const char* path) {
    Close();
    if (device == nullptr) {
        std::printf("[Video] load failed: no GPU device (%s)\n", path);
        std::fflush(stdout);
        return false;
    }
    decoder = std::make_unique<VideoDecoder>();
    decoder->device = device;
    decoder->path = path;
    (void)ForceFfmpeg();
    loaded = false;

    FfmpegVideo& video = decoder->video;
    if (!OpenFfmpegVideo(video, path)) {
        Close();
        return false;
    }
    width = video.width;
    height = video.height;
    fps = video.fps;
    duration = video.duration;
    decoder->rgbaBuffer.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);

    if (const unsigned long code = device->CreateTarget(width, height); code != 0) {
        std::printf("[Video] CreateTexture2D failed hr=0x%08lX\n", code);
        std::fflush(stdout);
        Close();
        return false;
    }
    decoder->targetMade = true;
    frameView = device->View();
    loaded = true;
    currentFrameTime = -1.0f;

    double time = 0.0;
    if (!DecodeNextFfmpegFrame(video, time)) {
        std::printf("[Video] FFmpeg: first frame decode failed (%s)\n", path);
        std::fflush(stdout);
        Close();
        return false;
    }
    ++decoder->framesDecoded;
    ShowFrame(*this, *decoder, time);
    decoder->usingFfmpeg = true;
    std::printf("[Video] loaded via FFmpeg (%s) %dx%d %.2ffps %.2fs (%s)\n", video.decoderName.c_str(), width, height,
                static_cast<double>(fps), static_cast<double>(duration), path);
    std::fflush(stdout);
    LoadRefAudio(path);
    return true;
}

void VideoPlayer::Close() {
    ClearRefAudio();
    if (decoder != nullptr) {
        CloseFfmpegVideo(decoder->video);
        if (decoder->targetMade && decoder->device != nullptr) decoder->device->ReleaseTarget();
        decoder.reset();
    }
    frameView = nullptr;
    loaded = false;
    currentFrameTime = -1.0f;
    duration = 0.0f;
    fps = 0.0f;
    width = height = 0;
}

void VideoPlayer::Play() {
    if (!loaded || decoder == nullptr) return;
    decoder->playing = true;
    decoder->playStartClock = ClockSeconds();
    decoder->playStartPosition =
        decoder->pendingTarget >= 0.0f ? decoder->pendingTarget : std::max(0.0f, currentFrameTime);
    decoder->pendingTarget = -1.0f;
}

void VideoPlayer::Pause() {
    if (!loaded || decoder == nullptr) return;
    decoder->playing = false;
}

void VideoPlayer::Seek(float timelineTime) {
    if (!loaded || decoder == nullptr) return;
    VideoDecoder& d = *decoder;
    const float a = std::clamp(timelineTime - timelineOffset, 0.0f, duration);
    // The shown frame answers every target it would land on, (t - tol,
    // t + tol], so frames off the rate's grid (a stream that starts late, a
    // variable rate, drift far into a file) are not decoded again each frame.
    const float tol = Tolerance(fps);
    if (currentFrameTime >= 0.0f && a > currentFrameTime - tol && a <= currentFrameTime + tol) return;
    if (d.pendingTarget < 0.0f && d.landedTarget >= 0.0f && std::fabs(a - d.landedTarget) <= 0.0001f &&
        currentFrameTime == d.landedFrameTime) {
        return;
    }

    std::lock_guard<std::mutex> lock(d.mutex);
    const double now = ClockSeconds();
    const bool sameTarget = d.pendingTarget >= 0.0f && std::fabs(a - d.pendingTarget) <= 0.0001f;
    if (!sameTarget) {
        d.scrubBackward = currentFrameTime >= 0.0f && a < currentFrameTime - 0.0001f;
        d.fastBackwardScrub = d.scrubBackward && now - d.lastSeekClock < 0.3;
        d.lastSeekClock = now;
        const float ahead = a - currentFrameTime;
        const bool forwardWindow = currentFrameTime >= 0.0f && ahead >= 0.0f && ahead < 5.0f;
        if (!forwardWindow) {
            d.awaitingLanding = true;
            RepositionFfmpegVideo(d.video, a);
            ++d.repositions;
        }
    }
    d.pendingTarget = a;
    DecodeToTarget(*this, d, 0.010);
    if (d.playing) {
        d.playStartClock = ClockSeconds();
        d.playStartPosition = std::max(0.0f, currentFrameTime);
    }
}

float VideoPlayer::Tick() {
    FreeRetiredRefAudio();
    if (!loaded || decoder == nullptr) return timelineOffset + currentFrameTime;
    VideoDecoder& d = *decoder;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.playing) {
        if (d.pendingTarget >= 0.0f) DecodeToTarget(*this, d, 0.008);
        return timelineOffset + currentFrameTime;
    }
    const float target = std::min(duration, d.playStartPosition + static_cast<float>(ClockSeconds() - d.playStartClock));
    const float tol = Tolerance(fps);
    bool decodedAny = false;
    double time = 0.0;
    for (int i = 0; i < 16 && target > currentFrameTime + tol; ++i) {
        if (!DecodeNextFfmpegFrame(d.video, time)) {
            d.playing = false;  // the end of the video, or a decode error: stay on the last good frame
            break;
        }
        ++d.framesDecoded;
        decodedAny = true;
        currentFrameTime = static_cast<float>(time);
    }
    if (decodedAny) ShowFrame(*this, d, time);
    // A variable-rate file's last frame can sit at its duration itself, so
    // no decode ever fails there: the clock reaching the end with the last
    // frame due ends playback too.
    if (d.playing && target >= duration && target <= currentFrameTime + tol) d.playing = false;
    return timelineOffset + currentFrameTime;
}

}  // namespace korvel
