#pragma once
// Small synthetic videos written with libavcodec's own encoders: each
// frame's index is readable from its pixels (eight vertical stripes, one bit
// each, most significant on the left), optionally with a tone track.
#include <cstdint>
#include <string>
#include <vector>

namespace korvel::test {

struct TestVideoSpec {
    int width = 64;
    int height = 32;
    int fps = 10;
    int frames = 30;          // 0 = a file with sound only
    int keyInterval = 10;     // frames between key frames
    bool solidColour = false;  // every frame one colour (rgb below) instead of stripes
    std::uint8_t rgb[3] = {200, 40, 40};
    int toneRate = 0;        // sample rate of a 440 Hz tone track; 0 = none
    int toneChannels = 2;
    double toneSeconds = 0;  // 0 = as long as the video
    short toneAmplitude = 8000;
    bool vp9 = false;          // VP9 (lossless) in WebM instead of MPEG-4 part 2
    int startMs = 0;           // the first frame's time
    std::vector<int> frameMs;  // each frame's length, cycled (a variable rate); empty: 1 / fps.
                               // The file then states 1 ms for each, so it ends 1 ms after its last frame.
    const char* container = "matroska";  // or "avi"; `vp9` always writes WebM
};

// Writes a Matroska file, or the container `container` names (MPEG-4 part 2
// video, 16-bit PCM audio), or the WebM `vp9` asks for; false on failure
// (also when this FFmpeg has no VP9 encoder).
bool WriteTestVideo(const std::string& path, const TestVideoSpec& spec);

// The frame index shown in an RGBA picture of the stripes.
int ReadFrameIndex(const std::uint8_t* rgba, int width, int height);

}  // namespace korvel::test
