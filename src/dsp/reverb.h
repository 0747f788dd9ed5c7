#pragma once
// The algorithmic stereo reverb: a pre-delay, three diffusion steps and an
// eight-line feedback delay network with modulated, damped lines.
//
// The caller owns the state. The live one sits in the playback engine and is
// configured and processed by the audio thread; resets and clears asked for
// by other threads go through ReverbRequests so that they land between two
// blocks, never inside one.
#include <array>
#include <atomic>
#include <cstdint>

namespace korvel {

// The user's reverb controls. The reverb itself reads only the first six.
struct ReverbSettings {
    float size = 0.5f;                          // 0..1
    float decay = 0.5f;                         // 0..1
    float damping = 0.3f;                       // 0..1
    float preDelay = 0.015f;                    // seconds, 0..0.2
    float diffusion = 0.7f;                     // 0..1
    float modulation = 0.5f;                    // 0..1
    bool enabled = true;                        // the mixer runs the reverb only when set
    std::array<float, 3> groupSends = {0.2f, 0.2f, 0.2f};  // per track group, 0..1
    float macro = 0.65f;                        // the mixer tab's single control, 0..1
};

// What the network runs with, in samples and one-pole coefficients.
struct ReverbParameters {
    float outputGain = 0.0f;
    float lineDamping = 0.0f;
    float feedback = 0.0f;
    float diffusionMix = 0.0f;
    float inputDamping = 0.0f;
    float lineDelay[8] = {};
    float diffuserDelay[3][8] = {};
    float preDelaySamples = 0.0f;
    float modulationDepth = 0.0f;
};

inline constexpr int kReverbLineLength = 16384;      // power of two: positions wrap by mask
inline constexpr int kReverbDiffuserLength = 8192;   // power of two
inline constexpr int kReverbPreDelayLength = 19200;  // 0.4 s at 48 kHz, wraps by remainder

// About 1.4 MiB. Zero-initialised so that an unprepared state is silent;
// ResetReverb prepares it for a sample rate.
struct ReverbState {
    float lines[8][kReverbLineLength] = {};
    // Unsigned so that it wraps cleanly after 2^32 samples (about a day at
    // 48 kHz); only its low bits are ever used.
    uint32_t lineWrite = 0;
    float lineDampState[8][2] = {};
    float lfo1Sin[8] = {};
    float lfo1Cos[8] = {};
    float lfo1StepSin[8] = {};
    float lfo1StepCos[8] = {};
    float lfo2Sin[8] = {};
    float lfo2Cos[8] = {};
    float lfo2StepSin[8] = {};
    float lfo2StepCos[8] = {};
    float diffuserRings[3][8][kReverbDiffuserLength] = {};
    uint32_t diffuserWrite[3] = {};
    int32_t diffuserPolarity[3][8] = {};
    float preDelayRing[2][kReverbPreDelayLength] = {};
    int32_t preDelayWrite = 0;
    float inputFilterState[2] = {};
    float dcPrevIn[2] = {};
    float dcPrevOut[2] = {};
    ReverbParameters target;
    ReverbParameters current;
    float fastSmoothing = 0.0f;  // per-sample glide of gains and coefficients (5 ms)
    float slowSmoothing = 0.0f;  // glide of the delay lengths (50 ms)
    int32_t sampleRate = 0;
    int32_t diffuserDelayWhole[3][8] = {};
    float diffuserDelayFraction[3][8] = {};
    int32_t preDelayWhole = 0;
    float preDelayFraction = 0.0f;
    bool settled = false;
};

// Prepares the state for `sampleRate`: silent output until the first
// ConfigureReverb, cleared tails, write positions at 0, oscillators started.
void ResetReverb(ReverbState& state, int sampleRate);

// Silences the tails; positions, oscillators and parameters stay, so
// playback goes on without a glide.
void ClearReverbState(ReverbState& state);

// Turns the settings into the network's target parameters; returns the
// target output gain. The same settings always give the same network.
float ConfigureReverb(ReverbState& state, const ReverbSettings& settings);

// Glides the delay lengths toward their targets by one 32-sample step.
// Called by ProcessReverb only.
void SmoothReverbParameters(ReverbState& state);

// Writes `frames` samples of wet output (overwriting, not adding). Each input
// sample is read before the output sample of the same index is written, so
// the input and output buffers may be the same. Audio-thread safe.
void ProcessReverb(ReverbState& state, const float* inLeft, const float* inRight, float* outLeft,
                   float* outRight, int frames);

// Resets and clears asked for by other threads (UI on locate, open and
// settings changes; the background job after a render), carried out by the
// audio thread before its next block. Lock-free on both sides.
struct ReverbRequests {
    std::atomic<int32_t> resetSampleRate{0};  // 0: no reset pending
    std::atomic<bool> clear{false};
};

void RequestReverbReset(ReverbRequests& requests, int sampleRate);
void RequestReverbClear(ReverbRequests& requests);

// Audio thread, at the start of a block (or any thread that owns the state
// while no block runs): performs what was requested. A reset includes a
// clear. Returns true when anything was done.
bool ApplyReverbRequests(ReverbState& state, ReverbRequests& requests);

}  // namespace korvel
