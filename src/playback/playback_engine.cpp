// [SECTION] Engine global
// [SECTION] Voice list
// [SECTION] Play position
// [SECTION] Audition preview
// [SECTION] Reverb macro
// [SECTION] Display meters
#include "playback/playback_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace korvel {

// [SECTION] Engine global

PlaybackEngine LivePlaybackEngine;

// [SECTION] Voice list

void PrepareVoices(PlaybackEngine& engine, int sampleRate, int capacity) {
    // Before the lock, so the audio thread stops mixing at once instead of
    // contending for it.
    engine.ready.store(false, std::memory_order_release);
    engine.voiceCount.store(0, std::memory_order_release);
    engine.voicesRendered.store(0, std::memory_order_release);

    const VoiceListEdit edit(engine);
    engine.sampleRate = sampleRate;
    engine.mixSampleRate.store(sampleRate, std::memory_order_release);
    PrepareLimiterSettings(engine.limiter, sampleRate);
    engine.limiterEnvelope = 0.0f;
    // Swapping with empty vectors frees the samples; clear() would keep the
    // capacity of the old list's storage.
    std::vector<Voice>().swap(engine.voices);
    engine.voices.reserve(static_cast<std::size_t>(capacity > 0 ? capacity : 256));
    engine.voiceFadeIns.clear();
    engine.voiceFadeOuts.clear();
}

void AppendVoice(PlaybackEngine& engine, Voice voice, float fadeIn, float fadeOut) {
    // Growing moves every voice, so it waits for a drawing UI; an append
    // within the reserved room does not.
    std::unique_lock<std::mutex> storage;
    std::unique_lock lock(engine.voiceMutex);
    if (engine.voices.size() == engine.voices.capacity()) {
        lock.unlock();
        storage = std::unique_lock(engine.voiceStorageMutex);
        lock.lock();
    }
    engine.voiceFadeIns.push_back(fadeIn);
    engine.voiceFadeOuts.push_back(fadeOut);
    engine.voices.push_back(std::move(voice));
    engine.voiceCount.store(static_cast<std::int32_t>(engine.voices.size()), std::memory_order_release);
}

// [SECTION] Play position

void SetPlaybackSampleRate(PlaybackEngine& engine, int sampleRate) {
    std::lock_guard lock(engine.voiceMutex);
    engine.sampleRate = sampleRate;
    PrepareLimiterSettings(engine.limiter, sampleRate);
    engine.mixSampleRate.store(sampleRate, std::memory_order_release);
}

void LocatePlayback(PlaybackEngine& engine, double seconds) {
    double frames = static_cast<double>(engine.sampleRate) * seconds;
    if (!std::isfinite(frames)) frames = frames > 0.0 ? 9.0e18 : 0.0;  // NaN lands at 0
    frames = std::clamp(frames, -9.0e18, 9.0e18);
    engine.position.exchange(static_cast<std::int64_t>(frames), std::memory_order_acq_rel);
    // The audio thread may be inside ProcessReverb: it clears the tail itself
    // before its next block.
    RequestReverbClear(engine.reverbRequests);
}

double GetPlaybackTime(const PlaybackEngine& engine) {
    if (engine.sampleRate < 1) return 0.0;
    return static_cast<double>(engine.position.load(std::memory_order_acquire)) / engine.sampleRate;
}

void StepPlayheadFrames(float& playhead, float fps, float duration, int frames) {
    const float t = playhead + static_cast<float>(frames) / fps;
    if (std::isnan(t)) return;
    if (t < 0.0f) {
        playhead = 0.0f;
        return;
    }
    playhead = std::min(t, std::max(duration, 0.0f));
}

// [SECTION] Audition preview

bool StartPreview(PlaybackEngine& engine, std::vector<float> samples, int rate) {
    if (rate < 1 || samples.empty() || engine.sampleRate < 1) return false;
    engine.previewEnd.store(0, std::memory_order_release);

    auto buffer = std::make_unique<PreviewBuffer>();
    buffer->samples = std::move(samples);
    buffer->rate = rate;
    const double outputFrames =
        std::floor(static_cast<double>(buffer->samples.size()) * engine.sampleRate / rate);
    const auto end = static_cast<std::int32_t>(
        std::min(outputFrames, static_cast<double>(std::numeric_limits<std::int32_t>::max())));

    // Sequentially consistent, like the block counts: a block that begins
    // after CollectRetiredPreviews saw none under way loads this pointer.
    engine.preview.store(buffer.get(), std::memory_order_seq_cst);
    if (engine.previewOwned) {
        // Read after the swap: any block still holding the old buffer began
        // before this count was taken, so it is over once the count is passed.
        const std::uint64_t mark = engine.blocksFinished.load(std::memory_order_seq_cst);
        engine.previewRetired.push_back({std::move(engine.previewOwned), mark});
    }
    engine.previewOwned = std::move(buffer);
    engine.previewPos.store(0, std::memory_order_release);
    engine.previewEnd.store(end, std::memory_order_release);
    CollectRetiredPreviews(engine);
    return true;
}

void StopPreview(PlaybackEngine& engine) {
    engine.previewEnd.store(0, std::memory_order_release);
}

bool IsPreviewRunning(const PlaybackEngine& engine) {
    return engine.previewPos.load(std::memory_order_acquire) < engine.previewEnd.load(std::memory_order_acquire);
}

void CollectRetiredPreviews(PlaybackEngine& engine) {
    // Started first: equal counts then mean no block was under way after the
    // swap, and a later block reads only the published buffer.
    const std::uint64_t started = engine.blocksStarted.load(std::memory_order_seq_cst);
    const std::uint64_t finished = engine.blocksFinished.load(std::memory_order_seq_cst);
    const bool idle = started == finished;
    std::erase_if(engine.previewRetired,
                  [finished, idle](const RetiredPreview& r) { return idle || finished > r.blockMark; });
}

// [SECTION] Reverb macro

void ApplyReverbMacro(ReverbSettings& settings) {
    struct Preset {
        float size, decay, damping, preDelay, diffusion, modulation;
    };
    static constexpr Preset kPresets[5] = {
        {0.0f, 0.0f, 0.0f, 0.0f, 0.4f, 0.0f},
        {0.4f, 0.1f, 0.4f, 0.01f, 0.7f, 0.25f},
        {0.6f, 0.35f, 0.2f, 0.015f, 0.7f, 0.3f},
        {0.75f, 0.65f, 0.45f, 0.026f, 0.8f, 0.5f},
        {1.0f, 1.0f, 0.08f, 0.06f, 0.9f, 0.8f},
    };
    const float macro = std::isnan(settings.macro) ? 0.0f : std::clamp(settings.macro, 0.0f, 1.0f);
    const int segment = std::min(static_cast<int>(4.0f * macro), 3);
    const float t = 4.0f * macro - static_cast<float>(segment);
    const Preset& a = kPresets[segment];
    const Preset& b = kPresets[segment + 1];
    auto mix = [t](float from, float to) { return from + (to - from) * t; };
    settings.size = mix(a.size, b.size);
    settings.decay = mix(a.decay, b.decay);
    settings.damping = mix(a.damping, b.damping);
    settings.preDelay = mix(a.preDelay, b.preDelay);
    settings.diffusion = mix(a.diffusion, b.diffusion);
    settings.modulation = mix(a.modulation, b.modulation);
}

// [SECTION] Display meters

namespace {

constexpr float kMeterAttackSeconds = 0.015f;
constexpr float kMeterReleaseSeconds = 0.28f;
constexpr float kMeterHoldSeconds = 1.5f;

void FollowPeak(float peak, float dt, float& level, float& hold, float& holdTimer) {
    const float releaseStep = 1.0f - std::exp(-dt / kMeterReleaseSeconds);
    const float tau = peak > level ? kMeterAttackSeconds : kMeterReleaseSeconds;
    level += (peak - level) * (1.0f - std::exp(-dt / tau));
    if (peak > hold) {
        hold = peak;
        holdTimer = kMeterHoldSeconds;
        return;
    }
    holdTimer = std::max(0.0f, holdTimer - dt);
    if (holdTimer <= 0.0f) hold = std::max(level, hold + (level - hold) * releaseStep);
}

float MeterPeak(float peak, bool playing) {
    return playing && std::isfinite(peak) ? std::fabs(peak) : 0.0f;
}

}  // namespace

void UpdateMixerMeters(PlaybackEngine& engine, float dt) {
    if (!(dt > 0.0f) || !std::isfinite(dt)) return;
    const bool playing = engine.playing.load(std::memory_order_acquire);
    FollowPeak(MeterPeak(engine.peakL.load(std::memory_order_relaxed), playing), dt, engine.meterLevelL, engine.meterHoldL, engine.meterHoldTimer);
    // Both master holds share one timer: the right channel's peak restarts it
    // only when the left did not.
    float timerR = engine.meterHoldTimer;
    FollowPeak(MeterPeak(engine.peakR.load(std::memory_order_relaxed), playing), dt, engine.meterLevelR, engine.meterHoldR, timerR);
    engine.meterHoldTimer = std::max(engine.meterHoldTimer, timerR);
    for (int g = 0; g < kTrackGroupCount; ++g) {
        float& timer = engine.groupMeterHoldTimer[g];
        float timerGroupR = timer;
        FollowPeak(MeterPeak(engine.groupPeakL[g], playing), dt, engine.groupMeterLevelL[g],
                   engine.groupMeterHoldL[g], timer);
        FollowPeak(MeterPeak(engine.groupPeakR[g], playing), dt, engine.groupMeterLevelR[g],
                   engine.groupMeterHoldR[g], timerGroupR);
        timer = std::max(timer, timerGroupR);
    }
}

}  // namespace korvel
