#pragma once
// Sound layers placed by a build: which file, which part of it, where on the
// timeline, for which event, on which track, and how it is rendered.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "project/event.h"

namespace korvel {

// Next layer id. Any thread that constructs a LayerResult (UI, background
// job, export) takes a value with fetch-and-add; nothing else touches it.
// Ids are unique within one run and never saved.
extern std::atomic<std::int32_t> LayerIdCounter;

std::int32_t NextLayerId();

// One splice of a loop fill, in samples at the rate of the render that made it.
struct FillChunk {
    std::int32_t s = 0;  // source start
    std::int32_t l = 0;  // length
    std::int32_t x = 0;  // crossfade
};

// A further source of an alloy layer.
struct LayerSourceRef {
    std::string filepath;
    std::string fileId;
    float offset = 0.0f;    // seconds
    float duration = 0.0f;  // seconds
    std::string name;
};

// One earlier sound of a layer.
struct SoundChoice {
    std::string name;
    std::string filepath;
    std::string fileId;
    float sourceOffset = 0.0f;
    float sourceDuration = 0.0f;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    float audioSyncOffset = 0.0f;
};

inline constexpr int kLayerBandCount = 5;
inline constexpr int kFillGainPoints = 128;
inline constexpr int kDeconGainPoints = 32;
inline constexpr int kAlloyCurvePoints = 32;
inline constexpr std::size_t kMaxSoundHistory = 20;

// How a layer's sound is made from its source; a project file stores the
// numbers.
inline constexpr std::int32_t kProcModeSource = 0;    // the source region unchanged
inline constexpr std::int32_t kProcModeLoopFill = 1;  // looped to fill the layer
inline constexpr std::int32_t kProcModeSegment = 2;   // a segment (Clip and the plain kinds)
inline constexpr std::int32_t kProcModeAlloy = 3;     // an alloy of several sources

// Fields the build always sets (startTime, duration, weight, eventIdx, track)
// start at 0 rather than indeterminate.
struct LayerResult {
    std::int32_t id = NextLayerId();
    std::string name;
    std::string filepath;
    std::string fileId;  // empty: the file has no identity
    float sourceOffset = 0.0f;
    float sourceDuration = 0.0f;
    float startTime = 0.0f;
    float duration = 0.0f;
    float weight = 0.0f;
    std::array<float, kLayerBandCount> bandEnergies = {};
    std::int32_t eventIdx = 0;
    // Position among its event's layers during a build; the global track
    // number after track allocation.
    std::int32_t track = 0;
    std::int32_t group = 0;
    std::int32_t groupTrack = 0;  // -1: dropped by track allocation
    // One of the kProcMode values; a project file stores the numbers.
    std::int32_t procMode = kProcModeSource;
    float fadeIn = 0.01f;
    float fadeOut = 0.05f;
    float sustainAmount = 0.3f;
    float audioSyncOffset = 0.0f;
    bool stereo = false;
    bool muted = false;
    bool isSketch = false;
    bool sourceMissing = false;
    float layerGain = 1.0f;
    float userVolume = 1.0f;
    float normGain = 1.0f;
    std::array<float, kFillGainPoints> fillGain = {};
    bool hasFillGain = false;
    std::array<float, kDeconGainPoints> deconGain = {};
    bool hasDeconGain = false;
    float deconOffset = 0.0f;  // seconds added to startTime when rendered
    CurvePoints intGain = {};  // the event's intensity over the layer's span
    bool hasIntGain = false;
    std::array<float, kLayerBandCount> eqGains = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    bool hasEq = false;
    float pitchShift = 0.0f;     // semitones
    float pitchVarShift = 0.0f;  // semitones
    float detectedPitch = 0.0f;  // Hz
    std::int32_t detectedNote = -1;
    float detectedCents = 0.0f;
    float pitchConfidence = 0.0f;
    float scaleCorrection = 0.0f;  // semitones, -6..6
    bool fillLoop = false;
    std::vector<FillChunk> fillChunks;
    LayerSourceRef alloyMid;
    LayerSourceRef alloyHigh;
    LayerSourceRef alloyEnv;
    std::array<float, kAlloyCurvePoints> alloyToneCurve = {};
    std::array<float, kAlloyCurvePoints> alloyGainCurve = {};
    bool hasAlloyCurves = false;
    float alloyMorph = 1.0f;
    std::int32_t alloyAlgo = 2;
    float alloyTransferDepth = 0.2f;
    float alloyAttackGraft = 0.03f;  // seconds
    float alloyMicroPitch = 0.03f;
    std::int32_t alloyFilterBands = 10;
    std::vector<SoundChoice> history;  // oldest first, at most kMaxSoundHistory
    std::int32_t historyPos = -1;      // -1: the live sound, newer than every entry

    bool HasPreviousSound() const;
    bool HasNextSound() const;
};

}  // namespace korvel
