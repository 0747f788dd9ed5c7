#pragma once
// The reference video: the picture the sound is designed to. The project
// model reads whether one is loaded and where it starts on the timeline; the
// player opens one file with FFmpeg, decodes into the display target its
// frame sink makes, and follows the transport (play, pause, seek, a tick
// every UI frame).
#include <atomic>
#include <cstdint>
#include <memory>

#include "picture/frame_sampler.h"

namespace korvel {

struct VideoDecoder;
struct VideoFrameSink;

struct VideoPlayer {
    bool loaded = false;    // a video is open
    float duration = 0.0f;  // seconds
    float fps = 24.0f;      // of the video; 24 when unknown
    std::int32_t width = 0;  // decoded frame size
    std::int32_t height = 0;
    // Timeline time (seconds) at which the video starts; kept across loads.
    // The UI thread writes it; the reference audio's hook reads it on the
    // audio thread every block.
    std::atomic<float> timelineOffset{0.0f};
    void* frameView = nullptr;       // the display texture the video area draws; null when none
    float currentFrameTime = -1.0f;  // video time of the frame shown; -1 when none
    // Handed over by the window half before any load; tests hand a sink in
    // memory. Not owned.
    VideoFrameSink* device = nullptr;
    std::unique_ptr<VideoDecoder> decoder;  // null when closed

    VideoPlayer();
    ~VideoPlayer();
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    bool Load(const char* path);
    void Close();
    void Play();
    void Pause();
    // Timeline time.
    void Seek(float timelineTime);
    // Once per UI frame: the timeline time of the frame now shown.
    float Tick();
    // Analysis thread: frames k = 0 .. trunc(duration × rate) − 1 of the
    // loaded file at k / rate, `outWidth` wide (aspect kept), read with a
    // decoder of the sampler's own; returns the number delivered. Reads only
    // what Load set, which the UI does not change while a read runs.
    int SampleFrames(float rate, int outWidth, SampledFrameFn onFrame, void* user, SampleProgressFn onProgress,
                     void* progressUser);
};

// The one video player. UI thread only (the picture analysis samples frames
// with a decoder of its own).
extern VideoPlayer GlobalVideoPlayer;

// Seconds of a steady clock.
double ClockSeconds();

}  // namespace korvel
