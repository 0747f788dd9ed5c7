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
    // Set by the stream's error callback on any warning or error: the
    // callback then writes silence, and the device check treats the stream
    // as not running.
    std::atomic<bool> streamFailed{false};
    // Callback thread while a stream runs, else the opener. Sized when the
    // stream opens (PrepareOutputBuffers) and never resized by the callback.
    // When the rates differ they hold rendered frames not yet consumed:
    // resampleFill of them, the read position resamplePhase frames in.
    double resamplePhase = 0.0;
    std::uint32_t resampleFill = 0;
    std::vector<float> bufL;
    std::vector<float> bufR;
};

// Output frames converted per piece: a longer callback is rendered in pieces.
inline constexpr std::uint32_t kOutputPieceFrames = 1024;

// The rate a stream opens at for a requested `rate`: the rate itself when the
// device lists it, else its preferred rate when non-zero, else the last
// listed rate, else the requested one.
std::uint32_t ChooseStreamRate(const std::vector<std::uint32_t>& deviceRates, std::uint32_t preferredRate,
                               std::uint32_t rate);

// Sets the rates and sizes the render buffers for them (allocates), and
// empties the resampler. Opener's thread, with no stream running.
void PrepareOutputBuffers(AudioOutput& output, std::uint32_t requestedRate, std::uint32_t actualRate);

// Fills `interleaved` with `frames` stereo frames at actualRate from the
// render function at requestedRate (Catmull-Rom between the two when they
// differ; unconsumed frames wait for the next call). Silence when there is
// no render function or the stream failed. Callback thread: never allocates.
void RenderOutputFrames(AudioOutput& output, float* interleaved, std::uint32_t frames);

// The stream's callback (RtAudio's signature; `userData` is the
// AudioOutput). Always returns 0: continue.
int OutputStreamCallback(void* outputBuffer, void* inputBuffer, unsigned int frames, double streamTime,
                         unsigned int status, void* userData);

// The live output. Opened, closed and checked on the UI thread under its
// mutex; the stream's callback thread reads render, the rates and the
// buffers while the stream runs.
extern AudioOutput LiveAudioOutput;

}  // namespace korvel
