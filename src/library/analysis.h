#pragma once
// Per-file analysis: header facts, identity, description and the 23 sound
// descriptors of a library file, computed over at most its first 30 seconds.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct kiss_fftr_state;

namespace korvel {

struct LibraryFile;

inline constexpr int kAnalysisFrameSize = 2048;  // block size, hop and FFT length
inline constexpr float kAnalysisSeconds = 30.0f;

struct FftPlanDeleter {
    void operator()(kiss_fftr_state* plan) const;
};

// The reusable transform state of one caller; never shared between threads.
// A scan worker keeps one for its whole life so each file costs no set-up.
struct FftState {
    std::unique_ptr<kiss_fftr_state, FftPlanDeleter> plan;  // 2048-point forward real FFT
    std::vector<float> window;  // periodic Hann; valid when it holds exactly 2048 values
    std::vector<float> interleaved;  // a file's frames as read, before the channels are mixed
};

// Analyses one sound file into `out`, which the caller passes freshly
// constructed. True when the file was read and at least one full spectral
// frame was analysed; on false the header, layout, identity and description
// may already be written while every descriptor keeps its default.
// `channelOrderFallback` is the user's channel-order setting; threads other
// than the UI thread pass the copy they were started with, since the UI may
// change the setting while they run. The short form reads the application
// state and is for the UI thread. `tooShort`, when given, is set when the
// file was read but holds too few frames for one spectral frame.
bool AnalyzeAudioFile(const std::string& path, LibraryFile& out, FftState* fft,
                      int32_t channelOrderFallback, bool* tooShort = nullptr);
bool AnalyzeAudioFile(const std::string& path, LibraryFile& out, FftState* fft);

// Runs the descriptor part of the analysis (everything after the header) on
// an already decoded mono signal; `frames` is the length of `mono`. Same
// result rules as AnalyzeAudioFile. Exposed for tests and benchmarks.
bool AnalyzeMonoSignal(const float* mono, int64_t frames, float sampleRate, LibraryFile& out,
                       FftState* fft);

// MIDI note and cent deviation of a frequency; note −1 and 0 cents for hz ≤ 0.
void FrequencyToMidi(float hz, int& note, float& cents);

// Last-write time in whole seconds since 1970 (UTC); 0 when it cannot be read.
int64_t GetFileModifiedTime(const std::string& path);

}  // namespace korvel
