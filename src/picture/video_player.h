#pragma once
// The reference video: the picture the sound is designed to. The project
// model reads whether one is loaded and where it starts on the timeline; the
// decoding itself belongs to the video player.
#include <cstdint>

namespace korvel {

struct VideoPlayer {
    bool loaded = false;    // a video is open
    float duration = 0.0f;  // seconds
    float fps = 24.0f;      // of the video; 24 when unknown
    std::int32_t width = 0;  // decoded frame size
    std::int32_t height = 0;
    // Timeline time (seconds) at which the video starts; kept across loads.
    float timelineOffset = 0.0f;
    void* frameView = nullptr;       // the display texture the video area draws; null when none
    float currentFrameTime = -1.0f;  // video time of the frame shown; -1 when none
};

// The one video player. UI thread only (the picture analysis samples frames
// through the player's own decoder lock).
extern VideoPlayer GlobalVideoPlayer;

}  // namespace korvel
