#pragma once
// The reference video's own sound: decoded once to 48 kHz 16-bit stereo on a
// worker, published to the audio thread by an atomic shared pointer, and
// added into every output block at the matching video time.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

struct AVIOContext;

namespace korvel {

struct VideoRefAudio {
    std::vector<std::int16_t> samples;  // interleaved left/right
    std::size_t frameCount = 0;         // samples / 2
    std::int32_t sampleRate = 48000;
};

// Written by the UI thread (clear) and the decoding worker (publish); the
// audio thread loads a counted copy per block. A record is never changed
// after publication.
extern std::atomic<std::shared_ptr<const VideoRefAudio>> CurrentRefAudio;

// Linear gain; at or below 0.0001 mutes. Written by the UI thread, read once
// per block by the audio thread.
extern std::atomic<float> RefAudioGain;

// 60 minutes of 48 kHz 16-bit stereo; a test seam may lower it. UI thread.
inline constexpr std::size_t kRefAudioCapBytes = 691200000;
extern std::size_t RefAudioCapBytes;

// The decoding worker and the records taken out of publication. A block on
// the audio thread may still hold a retired record, and it must not be the
// one to free it (hundreds of MiB): the UI thread frees them once it holds
// the last reference. UI thread only.
struct RefAudioWorkerState {
    // Joined at destruction too, for a process ended by a library's exit().
    ~RefAudioWorkerState() {
        stop.store(true);
        if (thread.joinable()) thread.join();
    }
    std::thread thread;
    std::atomic<bool> stop{false};
    std::vector<std::shared_ptr<const VideoRefAudio>> retired;
};
extern RefAudioWorkerState RefAudioWorker;

// Starts decoding the video's best audio stream on a worker; clears the
// published audio first and publishes the new one when the worker is done.
// UI thread.
void LoadRefAudio(const char* path);
// Stops and joins the worker and clears the published audio. UI thread (the
// player's Close and shutdown).
void ClearRefAudio();
// Waits for the worker to finish (tests).
void WaitRefAudio();
// Frees replaced records no block still reads. UI thread (each tick).
void FreeRetiredRefAudio();

// Decodes in full on the calling thread; null when there is no sound or
// `stop` was set. Reads `io` instead of the file when given (`path` then
// only names it).
std::shared_ptr<VideoRefAudio> DecodeRefAudio(const char* path, const std::atomic<bool>& stop,
                                              AVIOContext* io = nullptr);

void SetRefAudioGain(float gain);

// Audio thread: adds the reference audio to both buffers, from video time
// `videoSeconds` on, at `outRate` output frames per second.
void MixRefAudio(float* left, float* right, std::uint32_t frames, double videoSeconds, int outRate);
// The engine's output hook: MixRefAudio at the block's timeline time less the
// video's timeline offset.
void RefAudioOutputHook(float* left, float* right, std::uint32_t frames, double timelineSeconds, int outRate);

}  // namespace korvel
