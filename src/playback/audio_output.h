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

// Produces non-interleaved stereo at the output's requestedRate.
using AudioRenderFunction = std::function<void(float* left, float* right, std::uint32_t frames)>;

struct AudioOutput {
    // Owned; created when the output starts, deleted when it is shut down.
    RtAudio* rtaudio = nullptr;
    AudioRenderFunction render;  // empty means silence
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

// The device half. All of it runs on the UI thread; none of it throws: the
// audio library's errors become a false result or the status text.

// Stores the render function and the engine's playing flag, connects to the
// sound system (PulseAudio, else ALSA when that has an output), lists the
// devices and opens the default output at `sampleRate`. Without a device the
// output stays closed with "Could not open audio device".
void StartAudioOutput(AudioOutput& output, AudioRenderFunction render, std::atomic<bool>* playingFlag,
                      std::uint32_t sampleRate);

// Stops and closes any open stream, then opens and starts one on device `id`
// at ChooseStreamRate's rate for `sampleRate`. On success stores the device
// and both rates, marks the output open and empties statusText; on failure
// returns false with no stream left and the output closed.
bool OpenOutputStream(AudioOutput& output, std::uint32_t id, std::uint32_t sampleRate);

// Lists the outputs with at least two channels and finds deviceId among
// them (selectedDevice 0 when it is missing); a failed stream is closed
// first. A sound server without any sink lists nothing. Nothing before the
// start.
void RefreshOutputDevices(AudioOutput& output);

// Reopens the stream on the same device at `rate`, with the engine's playing
// flag cleared meanwhile and restored after (even when the reopen fails).
// Nothing when `rate` is already the requested rate.
void SetOutputSampleRate(AudioOutput& output, std::uint32_t rate);

// The periodic device check: when an open stream has stopped running or has
// failed, reopens the default device at the requested rate and says so in
// statusText.
void RecoverAudioDevice(AudioOutput& output);

// Stops and closes the stream and lets go of the sound system. The render
// function and the device list stay.
void ShutDownAudioOutput(AudioOutput& output);

// The live output. Opened, closed and checked on the UI thread under its
// mutex; the stream's callback thread reads render, the rates and the
// buffers while the stream runs.
extern AudioOutput LiveAudioOutput;

}  // namespace korvel
