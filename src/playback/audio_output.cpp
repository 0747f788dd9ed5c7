// [SECTION] Live output
// [SECTION] Stream rate
// [SECTION] Callback
// [SECTION] Device
#include "playback/audio_output.h"

#include <RtAudio.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/thread_checks.h"

namespace korvel {

// [SECTION] Live output

AudioOutput LiveAudioOutput;

// [SECTION] Stream rate

std::uint32_t ChooseStreamRate(const std::vector<std::uint32_t>& deviceRates, std::uint32_t preferredRate,
                               std::uint32_t rate) {
    if (std::find(deviceRates.begin(), deviceRates.end(), rate) != deviceRates.end()) return rate;
    if (preferredRate != 0) return preferredRate;
    if (!deviceRates.empty()) return deviceRates.back();
    return rate;
}

void PrepareOutputBuffers(AudioOutput& output, std::uint32_t requestedRate, std::uint32_t actualRate) {
    output.requestedRate = requestedRate;
    output.actualRate = actualRate;
    output.resamplePhase = 0.0;
    output.resampleFill = 0;
    // One piece of output needs ceil(piece × ratio) frames past the read
    // position, plus the three neighbours of the interpolation and the frame
    // before it.
    const double ratio = actualRate > 0 ? static_cast<double>(requestedRate) / actualRate : 1.0;
    const std::size_t frames =
        std::max<std::size_t>(kOutputPieceFrames, static_cast<std::size_t>(std::ceil(kOutputPieceFrames * ratio)) + 8);
    output.bufL.assign(frames, 0.0f);
    output.bufR.assign(frames, 0.0f);
}

// [SECTION] Callback

namespace {

inline float CatmullRom(const float* x, std::uint32_t i, float u) {
    const float xm1 = x[i > 0 ? i - 1 : 0];
    const float x0 = x[i];
    const float x1 = x[i + 1];
    const float x2 = x[i + 2];
    return x0 + 0.5f * u * ((x1 - xm1) + u * (2.0f * xm1 - 5.0f * x0 + 4.0f * x1 - x2 + u * (3.0f * (x0 - x1) + x2 - xm1)));
}

void RenderEqualRate(AudioOutput& output, float* out, std::uint32_t frames) {
    const std::uint32_t piece = static_cast<std::uint32_t>(std::min(output.bufL.size(), output.bufR.size()));
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(piece, frames - done);
        output.render(output.bufL.data(), output.bufR.data(), n);
        for (std::uint32_t k = 0; k < n; ++k) {
            out[2 * (done + k)] = output.bufL[k];
            out[2 * (done + k) + 1] = output.bufR[k];
        }
        done += n;
    }
}

// Converts one piece. The buffers hold resampleFill rendered frames; only the
// frames the piece still lacks are rendered, and the consumed ones (all but
// the one before the read position) are dropped after it.
void RenderPieceResampled(AudioOutput& output, float* out, std::uint32_t frames, double ratio) {
    float* bufL = output.bufL.data();
    float* bufR = output.bufR.data();
    double f = output.resamplePhase;
    const std::uint32_t needed = static_cast<std::uint32_t>(f + (frames - 1) * ratio) + 3;
    if (output.resampleFill < needed) {
        output.render(bufL + output.resampleFill, bufR + output.resampleFill, needed - output.resampleFill);
        output.resampleFill = needed;
    }
    for (std::uint32_t k = 0; k < frames; ++k) {
        const std::uint32_t i = static_cast<std::uint32_t>(f);
        const float u = static_cast<float>(f - i);
        out[2 * k] = CatmullRom(bufL, i, u);
        out[2 * k + 1] = CatmullRom(bufR, i, u);
        f += ratio;
    }
    const std::uint32_t whole = static_cast<std::uint32_t>(f);
    const std::uint32_t drop = std::min(whole > 0 ? whole - 1 : 0u, output.resampleFill);
    if (drop > 0) {
        const std::uint32_t keep = output.resampleFill - drop;
        std::memmove(bufL, bufL + drop, keep * sizeof(float));
        std::memmove(bufR, bufR + drop, keep * sizeof(float));
        output.resampleFill = keep;
        f -= drop;
    }
    output.resamplePhase = f;
}

}  // namespace

void RenderOutputFrames(AudioOutput& output, float* interleaved, std::uint32_t frames) {
    if (!output.render || output.streamFailed.load(std::memory_order_acquire) || output.bufL.empty() ||
        output.bufR.empty() || output.actualRate == 0 || output.requestedRate == 0) {
        std::fill(interleaved, interleaved + 2 * static_cast<std::size_t>(frames), 0.0f);
        return;
    }
    if (output.requestedRate == output.actualRate) {
        RenderEqualRate(output, interleaved, frames);
        return;
    }
    const double ratio = static_cast<double>(output.requestedRate) / output.actualRate;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(kOutputPieceFrames, frames - done);
        RenderPieceResampled(output, interleaved + 2 * static_cast<std::size_t>(done), n, ratio);
        done += n;
    }
}

namespace {

// The output whose stream reports on this thread: the stream's own thread
// sets it in every callback, the opener around its calls into the library.
// RtAudio's error callback carries no user data, and this keeps two outputs'
// reports apart. Each thread its own.
thread_local AudioOutput* ReportingOutput = nullptr;

}  // namespace

int OutputStreamCallback(void* outputBuffer, void*, unsigned int frames, double, unsigned int, void* userData) {
    AudioOutput* output = static_cast<AudioOutput*>(userData);
    ReportingOutput = output;
    // The stream's thread is the audio thread; tests also call this on
    // their own thread, whose role comes back afterwards.
    const ThreadRole previousRole = CurrentThreadRole();
    SetThreadRole(ThreadRole::Audio);
    RenderOutputFrames(*output, static_cast<float*>(outputBuffer), frames);
    SetThreadRole(previousRole);
    return 0;
}

// [SECTION] Device

#if defined(__SANITIZE_ADDRESS__)
#define KORVEL_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVEL_LEAK_CHECKED 1
#endif
#endif
#if defined(KORVEL_LEAK_CHECKED)
// RtAudio 5.2's PulseAudio back end never frees some of the server's replies
// (the default device's among them) nor its handle after a failed open: a
// few hundred bytes per query, not ours to free. The sanitizer's leak check
// reads this at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpulse.so\nleak:RtApiPulse\n"; }
#endif

namespace {

constexpr unsigned int kStreamBufferFrames = 512;

struct ReportingScope {
    explicit ReportingScope(AudioOutput& output) : previous(ReportingOutput) { ReportingOutput = &output; }
    ~ReportingScope() { ReportingOutput = previous; }
    ReportingScope(const ReportingScope&) = delete;
    ReportingScope& operator=(const ReportingScope&) = delete;
    AudioOutput* previous;
};

// RtAudio 5 keeps a stream running after a failed write and only warns, so
// any report from a stream marks it failed: the callback then plays silence
// and the device check reopens.
void StreamErrorCallback(RtAudioError::Type, const std::string&) {
    if (AudioOutput* output = ReportingOutput) output->streamFailed.store(true, std::memory_order_release);
}

// RtAudio 5.2 reads the sound server's default sink and source names without
// checking them, and every query of its PulseAudio back end starts there: a
// server left with no sink at all crashes it. True when such a server is not
// what `rt` would talk to (another back end, or no server to reach).
bool SafeToQuery(RtAudio& rt) {
    if (rt.getCurrentApi() != RtAudio::LINUX_PULSE) return true;
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) return false;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Korvel");
    bool safe = true;
    if (context != nullptr && pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0) {
        pa_context_state_t state = pa_context_get_state(context);
        while (PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY && pa_mainloop_iterate(loop, 1, nullptr) >= 0)
            state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            safe = false;
            const auto read = [](pa_context*, const pa_server_info* info, void* result) {
                *static_cast<bool*>(result) =
                    info != nullptr && info->default_sink_name != nullptr && info->default_source_name != nullptr;
            };
            if (pa_operation* op = pa_context_get_server_info(context, read, &safe)) {
                while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && pa_mainloop_iterate(loop, 1, nullptr) >= 0) {
                }
                pa_operation_unref(op);
            }
        }
        pa_context_disconnect(context);
    }
    if (context != nullptr) pa_context_unref(context);
    pa_mainloop_free(loop);
    return safe;
}

// RtAudio 5 reports by throwing; these read a failure as "nothing there".
unsigned int DeviceCount(RtAudio& rt) {
    if (!SafeToQuery(rt)) return 0;
    try {
        return rt.getDeviceCount();
    } catch (const RtAudioError&) {
        return 0;
    }
}

unsigned int DefaultOutputDevice(RtAudio& rt) {
    if (!SafeToQuery(rt)) return 0;
    try {
        return rt.getDefaultOutputDevice();
    } catch (const RtAudioError&) {
        return 0;
    }
}

RtAudio::DeviceInfo ReadDeviceInfo(RtAudio& rt, unsigned int id) {
    if (!SafeToQuery(rt)) return RtAudio::DeviceInfo{};
    try {
        return rt.getDeviceInfo(id);
    } catch (const RtAudioError&) {
        return RtAudio::DeviceInfo{};  // no channels, no rates
    }
}

bool HasStereoOutput(RtAudio& rt) {
    const unsigned int count = DeviceCount(rt);
    for (unsigned int id = 0; id < count; ++id)
        if (ReadDeviceInfo(rt, id).outputChannels > 1) return true;
    return false;
}

// PulseAudio first; ALSA when the sound server offers no output (it is not
// running). With neither, the sound server's object is kept, so a device
// list refreshed later finds a server started meanwhile.
RtAudio* ConnectSoundSystem() {
    RtAudio* fallback = nullptr;
    for (RtAudio::Api api : {RtAudio::LINUX_PULSE, RtAudio::LINUX_ALSA}) {
        RtAudio* rt = nullptr;
        try {
            rt = new RtAudio(api);
        } catch (const RtAudioError&) {
            continue;
        }
        // Its warnings would go to standard error; ours go to statusText.
        rt->showWarnings(false);
        if (rt->getCurrentApi() == api && HasStereoOutput(*rt)) {
            delete fallback;
            return rt;
        }
        if (fallback == nullptr) {
            fallback = rt;
        } else {
            delete rt;
        }
    }
    return fallback;
}

std::int32_t IndexOfDevice(const AudioOutput& output, std::uint32_t id) {
    for (std::size_t i = 0; i < output.devices.size(); ++i)
        if (output.devices[i].id == id) return static_cast<std::int32_t>(i);
    return 0;
}

// Stops and closes the stream when one is open; its thread has ended when
// this returns. Reports made while stopping a dead stream land on this
// output, whose flag the next open clears.
void CloseStream(AudioOutput& output) {
    RtAudio& rt = *output.rtaudio;
    ReportingScope scope(output);
    try {
        if (rt.isStreamRunning()) rt.stopStream();
    } catch (const RtAudioError&) {
    }
    try {
        if (rt.isStreamOpen()) rt.closeStream();
    } catch (const RtAudioError&) {
    }
}

}  // namespace

void StartAudioOutput(AudioOutput& output, AudioRenderFunction render, std::atomic<bool>* playingFlag,
                      std::uint32_t sampleRate) {
    // A second start replaces the first; no stream may read the render
    // function while it is swapped.
    ShutDownAudioOutput(output);
    output.render = std::move(render);
    output.playingFlag = playingFlag;
    output.rtaudio = ConnectSoundSystem();
    RefreshOutputDevices(output);
    output.deviceId = output.rtaudio != nullptr ? DefaultOutputDevice(*output.rtaudio) : 0;
    output.selectedDevice = IndexOfDevice(output, output.deviceId);
    if (!OpenOutputStream(output, output.deviceId, sampleRate)) output.statusText = "Could not open audio device";
}

void RefreshOutputDevices(AudioOutput& output) {
    if (output.rtaudio == nullptr) return;
    RtAudio& rt = *output.rtaudio;
    // A failed stream goes on writing its reports into the library's shared
    // error text from its own thread: it is closed before anything is asked.
    if (output.streamFailed.load(std::memory_order_acquire)) {
        std::lock_guard lock(output.mutex);
        CloseStream(output);
    }
    output.devices.clear();
    const unsigned int count = DeviceCount(rt);
    const unsigned int defaultId = DefaultOutputDevice(rt);
    for (unsigned int id = 0; id < count; ++id) {
        RtAudio::DeviceInfo info = ReadDeviceInfo(rt, id);
        if (info.outputChannels > 1) output.devices.push_back({id, std::move(info.name), id == defaultId});
    }
    output.selectedDevice = IndexOfDevice(output, output.deviceId);
}

bool OpenOutputStream(AudioOutput& output, std::uint32_t id, std::uint32_t sampleRate) {
    std::lock_guard lock(output.mutex);
    if (output.rtaudio == nullptr) return false;
    RtAudio& rt = *output.rtaudio;
    ReportingScope scope(output);
    CloseStream(output);
    output.open = false;

    const RtAudio::DeviceInfo info = ReadDeviceInfo(rt, id);
    const std::uint32_t streamRate = ChooseStreamRate(info.sampleRates, info.preferredSampleRate, sampleRate);
    // The requested rate is kept even when the open fails, so a later reopen
    // on another device asks for the engine's rate.
    PrepareOutputBuffers(output, sampleRate, streamRate);
    output.streamFailed.store(false, std::memory_order_release);

    RtAudio::StreamParameters parameters;
    parameters.deviceId = id;
    parameters.nChannels = 2;
    parameters.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.streamName = "Korvel";
    unsigned int bufferFrames = kStreamBufferFrames;
    bool running = false;
    if (!SafeToQuery(rt)) return false;
    try {
        rt.openStream(&parameters, nullptr, RTAUDIO_FLOAT32, streamRate, &bufferFrames, OutputStreamCallback,
                      &output, &options, StreamErrorCallback);
        rt.startStream();
        // With the error callback installed a failed start reports instead
        // of throwing.
        running = rt.isStreamRunning() && !output.streamFailed.load(std::memory_order_acquire);
    } catch (const RtAudioError&) {
    }
    if (!running) {
        CloseStream(output);
        return false;
    }
    output.deviceId = id;
    output.open = true;
    output.statusText.clear();
    return true;
}

void SetOutputSampleRate(AudioOutput& output, std::uint32_t rate) {
    if (rate == output.requestedRate) return;
    // The engine must not advance its position while no stream pulls it.
    const bool wasPlaying = output.playingFlag != nullptr && output.playingFlag->exchange(false);
    OpenOutputStream(output, output.deviceId, rate);
    if (wasPlaying) output.playingFlag->store(true);
}

void RecoverAudioDevice(AudioOutput& output) {
    if (output.rtaudio == nullptr || !output.open) return;
    if (output.rtaudio->isStreamRunning() && !output.streamFailed.load(std::memory_order_acquire)) return;
    output.open = false;
    RefreshOutputDevices(output);
    const std::uint32_t id = DefaultOutputDevice(*output.rtaudio);
    if (OpenOutputStream(output, id, output.requestedRate)) {
        output.selectedDevice = IndexOfDevice(output, id);
        output.statusText = "Audio device disconnected \u2014 switched to default";
    } else {
        output.statusText = "Audio device lost \u2014 could not reopen";
    }
}

void ShutDownAudioOutput(AudioOutput& output) {
    std::lock_guard lock(output.mutex);
    output.open = false;
    if (output.rtaudio == nullptr) return;
    CloseStream(output);
    delete output.rtaudio;
    output.rtaudio = nullptr;
}

}  // namespace korvel
