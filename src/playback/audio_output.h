#pragma once
// The connection to the sound card: its devices, the open stream and the
// render function the stream pulls from.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class RtAudio;

namespace korvel {

struct AudioDeviceEntry {
    std::uint32_t id = 0;  // the audio library's device id
    std::string name;
    bool isDefault = false;  // the system's default output
};

struct AudioOutput {
    // Owned; created when the output starts, deleted when it is shut down.
    RtAudio* rtaudio = nullptr;
    // Non-interleaved stereo at requestedRate; empty means silence.
    std::function<void(float* left, float* right, std::uint32_t frames)> render;
    // The engine's transport flag, cleared while the stream is reopened.
    std::atomic<bool>* playingFlag = nullptr;
    std::uint32_t deviceId = 0;
    std::uint32_t requestedRate = 0;
    std::uint32_t actualRate = 0;
    std::vector<AudioDeviceEntry> devices;  // outputs with at least two channels
    std::int32_t selectedDevice = 0;
    std::mutex mutex;  // serialises opening and closing the stream
    bool open = false;
    std::string statusText;  // shown and cleared by the frame
    float deviceCheckTimer = 0.0f;
    double resamplePhase = 0.0;  // carried between callbacks when rates differ
    std::vector<float> bufL;
    std::vector<float> bufR;
};

// The live output. Opened, closed and checked on the UI thread under its
// mutex; the stream's callback thread reads render, the rates and the
// buffers while the stream runs.
extern AudioOutput LiveAudioOutput;

}  // namespace korvel
