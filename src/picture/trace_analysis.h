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
    // Frames delivered so far: the analysis thread stores it, the UI reads it.
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
};

}  // namespace korvel
