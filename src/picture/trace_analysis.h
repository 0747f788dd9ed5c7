#pragma once
// The picture read: per-frame measures of the reference video, the events
// suggested from them, and the settings and tuning the detector reads.
#include <array>
#include <cstdint>
#include <vector>

#include "project/copyable_atomic.h"
#include "project/event.h"

namespace korvel {

// One analysed frame. The first seven are measured; the last four stay 0
// until the detector fills them.
struct FrameMeasures {
    float time = 0.0f;  // seconds on the video's own axis
    float luma = 0.0f;
    float lumaDelta = 0.0f;
    float motion = 0.0f;
    float histogramChange = 0.0f;
    float warmth = 0.0f;
    float saturation = 0.0f;
    float energy = 0.0f;
    float smoothedMotion = 0.0f;
    float composite = 0.0f;
    float threshold = 0.0f;
};

// One suggested event.
struct TraceDetection {
    float time = 0.0f;  // seconds: the peak, or the start of a shot
    std::int32_t type = 0;  // 0 spot, 1 sustained, 2 shot
    float confidence = 0.0f;
    std::int32_t tier = 0;  // 0 peaks and regions, 2 shots
    float suggestedDuration = 0.0f;
    std::int32_t suggestedShape = KindValue(EventKind::Spot);
    float intensity = 0.0f;
    float suggestedGain = 0.0f;
    float suggestedSyncOffset = 0.0f;
    float suggestedWeightCenter = 0.0f;
    float suggestedSpread = 0.0f;
    CurvePoints intensityCurve = {};
    bool hasIntensityCurve = false;
    char keywords[128] = {};
    char presetName[64] = {};
    bool accepted = false;
    std::int32_t peelLayer = 0;
};

inline constexpr int kTraceModelWeights = 5;

// Tuning values kept in the preferences ("tm_" keys); nothing computes them.
struct TraceModel {
    bool valid = false;
    std::int32_t totalSpots = 0;
    std::array<float, kTraceModelWeights> w = {0.6f, 0.4f, 0.0f, 0.0f, 0.0f};
    float defaultCompositeMean = 0.0f;
    float thresholdScale = 1.0f;
    float subtleScale = 0.45f;
    float spotCutoff = 0.5f;
    float gainA = 0.85f;
    float gainB = 0.15f;
    float weightBias = 0.0f;
    float spotDurScale = 1.0f;
    float sweepDurScale = 1.0f;
    float minGap = 0.5f;
    std::int32_t posCount = 0;
    std::array<float, kTraceModelWeights> posMean = {};
    std::int32_t negCount = 0;
    std::array<float, kTraceModelWeights> negMean = {};
};

struct TraceSettings {
    float sensitivity = 0.7f;
    float minGap = 0.25f;  // seconds
    float window = 4.0f;   // seconds
};

struct TraceAnalysis {
    // Frames delivered so far (the last delivered index + 1). The analysis
    // thread completes a record before it stores this with release; readers
    // load it with acquire and may then read the records below it.
    CopyableAtomic<std::int32_t> framesDone{0};
    bool valid = false;
    float duration = 0.0f;  // seconds, the video's at the start of the read
    float fps = 0.0f;       // analysis rate of a read (10)
    std::int32_t numFrames = 0;
    float maxCompositeEnergy = 0.0f;
    std::vector<FrameMeasures> frames;
    std::vector<TraceDetection> events;
    TraceModel model;
    // The previous frame, kept between deliveries.
    std::vector<std::uint8_t> previousPixels;  // RGBA
    std::vector<float> previousHistogram;      // 24 bins, normalised
    std::int32_t previousWidth = 0;
    std::int32_t previousHeight = 0;

    // Measures one delivered frame (RGBA, w × h) into record `index`; an
    // index outside `frames` changes nothing. Analysis thread during a read.
    void AddFrame(int index, float time, const std::uint8_t* rgba, int width, int height);

    // A measure at time t (seconds on the video's axis), interpolated
    // between frames; the last frame's value past the end; 0 with no frames.
    float LumaAt(float t) const;
    float MotionAt(float t) const;  // smoothedMotion
    float CompositeAt(float t) const;
    float ThresholdAt(float t) const;
};

struct AppState;

// The two callbacks' user data.
struct TraceCallbackPair {
    AppState* state = nullptr;
    TraceAnalysis* analysis = nullptr;
};

// Analysis thread: the frame sampler's callbacks. The progress callback
// returns -1 once the shared cancel flag is set, which stops the sampling.
void TraceFrameCallback(int index, float time, const std::uint8_t* rgba, int width, int height, void* user);
float TraceProgressCallback(float fraction, void* user);

// The picture read's thread procedure: samples GlobalVideoPlayer at the rate
// held in `rate` (which it owns and frees), then, unless cancelled, runs the
// detector with `settings` (the start's copy); stores traceRunning false
// (release) as its last write.
void TraceThread(float* rate, TraceSettings settings);

// UI thread: starts a read of the loaded video at 10 frames per second in
// the background job's thread slot. False, with nothing changed, without a
// loaded video, while a read or a job runs, or when a valid read exists;
// false with one "[Video]" line and the read not running when its records
// cannot be made or its thread cannot start.
bool StartTraceRead(AppState& state);

// UI thread: stops a running read (waiting for its thread to end), joins the
// slot's thread when it is a read's, and clears the result. Never touches a
// running background job.
void CancelTraceAnalysis(AppState& state);

// UI thread: a finished read is present. The thread writes `valid`,
// `events` and the detector fields while traceRunning is set, so the read
// counts as not valid until then.
bool TraceReadValid(const AppState& state);

// Analysis thread (or tests): turns the measures of the first `framesDone`
// frames into the detector fields and `events`, then sets `valid`.
void DetectTraceEvents(TraceAnalysis& analysis, const TraceSettings& settings);

// Samples `composite` over [a, b] into `count` values scaled to 0..1 (all
// 0.5 when the stretch is flat).
void SampleCompositeCurve(const TraceAnalysis& analysis, float a, float b, float* out, int count);

}  // namespace korvel
