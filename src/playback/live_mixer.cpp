// [SECTION] Output hook
// [SECTION] Preview
// [SECTION] Voices
// [SECTION] Block
#include "playback/live_mixer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "dsp/flush_denormals.h"
#include "dsp/limiter.h"
#include "dsp/pan.h"
#include "platform/thread_checks.h"
#include "playback/voice_mix.h"

namespace korvel {

// [SECTION] Output hook

// Stored by the shell (UI thread) before the stream starts; loaded once per
// block by the audio thread.
std::atomic<EngineOutputHookFn> EngineOutputHook{nullptr};

namespace {

// [SECTION] Preview

// Adds the running preview at `masterGain`; advances its position unless a
// new preview was started meanwhile.
void AddPreview(PlaybackEngine& engine, float* left, float* right, std::uint32_t frames, float masterGain,
                int rate) {
    const std::int32_t end = engine.previewEnd.load(std::memory_order_acquire);
    const std::int32_t start = engine.previewPos.load(std::memory_order_acquire);
    if (start >= end) return;
    const PreviewBuffer* buffer = engine.preview.load(std::memory_order_seq_cst);
    if (buffer == nullptr || buffer->samples.empty() || buffer->rate < 1) return;
    const float step = static_cast<float>(buffer->rate) / static_cast<float>(rate);
    const std::size_t size = buffer->samples.size();
    std::int32_t pos = start;
    for (std::uint32_t k = 0; k < frames && pos < end; ++k) {
        const float index = static_cast<float>(pos) * step;
        if (!(index < static_cast<float>(size))) break;
        const float v = masterGain * buffer->samples[static_cast<std::size_t>(index)];
        left[k] += v;
        right[k] += v;
        ++pos;
    }
    std::int32_t expected = start;
    engine.previewPos.compare_exchange_strong(expected, pos, std::memory_order_acq_rel);
}

// [SECTION] Voices

struct GroupPeaks {
    std::array<float, kTrackGroupCount> left = {};
    std::array<float, kTrackGroupCount> right = {};
};

// Adds voice `index` (already known to overlap the block and to be audible)
// to the block starting at frame t0. The voices' sum carries the master gain;
// the sends and group peaks do not.
void MixVoiceIntoBlock(PlaybackEngine& engine, const Voice& voice, std::size_t index, std::int64_t t0,
                       int rate, float* left, float* right, std::uint32_t n, std::uint32_t sendFrames,
                       GroupPeaks& peaks) {
    const MixerSettings& mix = engine.mix;
    const int g = VoiceGroupIndex(voice);
    const std::size_t usable = std::min(voice.samplesL.size(), static_cast<std::size_t>(std::max(voice.frameCount, 0)));
    if (usable == 0) return;
    const std::int64_t lastIndex = static_cast<std::int64_t>(usable) - 1;

    const VoiceFades fades = EngineVoiceFades(engine, index, voice);
    const float level = VoiceLevel(voice, mix, g);
    const bool stereo = VoiceMixesStereo(voice);
    float ll = 0.0f, lr = 0.0f, rl = 0.0f, rr = 0.0f;
    ComputePanGains(voice.azimuth, voice.width, stereo, 0.0f, ll, lr, rl, rr);
    const float send = VoiceReverbSend(voice, engine.mixReverb, g);
    const VoiceCurves curves = PrepareVoiceCurves(voice);
    const float masterGain = mix.masterGain;

    const double rateD = static_cast<double>(rate);
    const double b0 = static_cast<double>(t0) / rateD;
    const double b1 = static_cast<double>(t0 + n) / rateD;
    const double start = voice.startTime;
    const double end = start + static_cast<double>(voice.duration);
    std::int64_t first = start > b0 ? static_cast<std::int64_t>((start - b0) * rateD + 0.5) : 0;
    std::int64_t last = b1 > end ? static_cast<std::int64_t>((end - b0) * rateD + 0.5) : n;
    first = std::clamp<std::int64_t>(first, 0, n);
    last = std::clamp<std::int64_t>(last, first, n);

    // Time inside the voice at the first frame, in seconds and in frames. The
    // read position moves by whole frames, so its fraction stays the same.
    const double t1 = static_cast<double>(t0 + first) / rateD - start;
    const double x1 = std::floor(rateD * t1);
    const float frac = static_cast<float>(rateD * t1 - x1);
    const std::int64_t i1st = static_cast<std::int64_t>(x1);
    const double invRate = 1.0 / rateD;
    // Frames whose read index falls before the voice or past its samples are skipped.
    const std::int64_t from = std::max(first, first - i1st);
    const std::int64_t to = std::min(last, first + (lastIndex - i1st) + 1);
    const float* samplesL = voice.samplesL.data();
    const float* samplesR = stereo ? voice.samplesR.data() : nullptr;
    float peakL = peaks.left[g];
    float peakR = peaks.right[g];
    for (std::int64_t f = from; f < to; ++f) {
        const std::int64_t steps = f - first;
        const std::int64_t i = i1st + steps;
        const float t = static_cast<float>(t1 + static_cast<double>(steps) * invRate);

        const float a = VoiceEnvelopeGain(fades, curves, voice.duration, level, t);
        const std::int64_t i1 = std::min(i + 1, lastIndex);
        const float sL = ((1.0f - frac) * samplesL[i] + frac * samplesL[i1]) * a;
        float oL = sL * ll;
        float oR = sL * lr;
        if (samplesR != nullptr) {
            const float sR = ((1.0f - frac) * samplesR[i] + frac * samplesR[i1]) * a;
            oL += sR * rl;
            oR += sR * rr;
        }
        left[f] += oL * masterGain;
        right[f] += oR * masterGain;
        peakL = std::max(peakL, std::fabs(oL));
        peakR = std::max(peakR, std::fabs(oR));
        if (f < sendFrames) {
            engine.sendL[f] += oL * send;
            engine.sendR[f] += oR * send;
        }
    }
    peaks.left[g] = peakL;
    peaks.right[g] = peakR;
}

void AdvancePosition(PlaybackEngine& engine, std::int64_t from, std::uint32_t frames) {
    // A locate stored while the block was mixed wins.
    std::int64_t expected = from;
    engine.position.compare_exchange_strong(expected, from + frames, std::memory_order_acq_rel);
}

void IdleBlock(PlaybackEngine& engine, float* left, float* right, std::uint32_t n, int rate, bool playing) {
    engine.peakL.store(0.0f, std::memory_order_relaxed);
    engine.peakR.store(0.0f, std::memory_order_relaxed);
    engine.groupPeakL = {};
    engine.groupPeakR = {};
    const EngineOutputHookFn hook = EngineOutputHook.load(std::memory_order_acquire);
    if (hook == nullptr || !playing) return;
    const std::int64_t t0 = engine.position.load(std::memory_order_acquire);
    hook(left, right, n, static_cast<double>(t0) / rate, rate);
    AdvancePosition(engine, t0, n);
}

void ApplyRamp(PlaybackEngine& engine, float* left, float* right, std::uint32_t n, int rate, bool playing) {
    const float target = playing ? 1.0f : 0.0f;
    const float step = 1.0f / std::max(1.0f, 0.006f * static_cast<float>(rate));
    float gain = engine.rampGain;
    for (std::uint32_t f = 0; f < n; ++f) {
        gain = gain < target ? std::min(target, gain + step) : std::max(target, gain - step);
        left[f] *= gain;
        right[f] *= gain;
    }
    engine.rampGain = gain;
}

void ScrubNonFinite(float* samples, std::uint32_t n) {
    for (std::uint32_t f = 0; f < n; ++f)
        if (!std::isfinite(samples[f])) samples[f] = 0.0f;
}

float PeakOf(const float* samples, std::uint32_t n) {
    float peak = 0.0f;
    for (std::uint32_t f = 0; f < n; ++f) peak = std::max(peak, std::fabs(samples[f]));
    return peak;
}

}  // namespace

// [SECTION] Block

void MixPlaybackBlock(PlaybackEngine& engine, float* left, float* right, std::uint32_t n) {
    KORVEL_CHECK_THREAD(audio);  // the mixer's own fields have no lock
    struct CountBlock {
        PlaybackEngine& engine;
        ~CountBlock() { engine.blocksFinished.fetch_add(1, std::memory_order_acq_rel); }
    } countBlock{engine};
    // Before the preview is read: the UI frees a retired one when no block is under way.
    engine.blocksStarted.fetch_add(1, std::memory_order_seq_cst);

    std::fill(left, left + n, 0.0f);
    std::fill(right, right + n, 0.0f);
    ApplyPendingMixerChanges(engine);
    const int rate = engine.mixSampleRate.load(std::memory_order_acquire);
    if (rate < 1) return;
    const MixerSettings& mix = engine.mix;

    AddPreview(engine, left, right, n, mix.masterGain, rate);

    const bool playing = engine.playing.load(std::memory_order_acquire);
    if (!playing && engine.rampGain <= 0.0001f) {
        engine.rampGain = 0.0f;
        IdleBlock(engine, left, right, n, rate, playing);
        return;
    }
    if (!engine.ready.load(std::memory_order_acquire)) {
        if (!playing) engine.rampGain = 0.0f;
        IdleBlock(engine, left, right, n, rate, playing);
        return;
    }

    // A writer holds the voices: this block carries only the preview, and
    // the position, meters and ramp wait for the next one.
    std::unique_lock lock(engine.voiceMutex, std::try_to_lock);
    if (!lock.owns_lock()) return;

    const std::uint32_t sendFrames = std::min<std::uint32_t>(n, kReverbBlockFrames);
    std::fill_n(engine.sendL.begin(), sendFrames, 0.0f);
    std::fill_n(engine.sendR.begin(), sendFrames, 0.0f);

    const std::int64_t t0 = engine.position.load(std::memory_order_acquire);
    const double b0 = static_cast<double>(t0) / rate;
    const double b1 = static_cast<double>(t0 + n) / rate;
    GroupPeaks peaks;
    const std::int32_t voiceCount = static_cast<std::int32_t>(engine.voices.size());
    for (std::int32_t k = 0; k < voiceCount; ++k) {
        const Voice& voice = engine.voices[k];
        if (!VoiceSelected(voice, k, mix.soloVoice) || voice.unloaded) continue;
        if (voice.startTime >= b1 || b0 >= static_cast<double>(voice.startTime) + voice.duration) continue;
        if (!GroupAudible(mix, VoiceGroupIndex(voice))) continue;
        MixVoiceIntoBlock(engine, voice, static_cast<std::size_t>(k), t0, rate, left, right, n, sendFrames, peaks);
    }

    // The return joins after the master gain: the fader does not act on it.
    if (engine.mixReverb.enabled && sendFrames > 0) {
        ConfigureReverb(engine.reverbState, engine.mixReverb);
        ProcessReverb(engine.reverbState, engine.sendL.data(), engine.sendR.data(), engine.returnL.data(),
                      engine.returnR.data(), static_cast<int>(sendFrames));
        for (std::uint32_t f = 0; f < sendFrames; ++f) {
            left[f] += engine.returnL[f];
            right[f] += engine.returnR[f];
        }
    }

    ApplyRamp(engine, left, right, n, rate, playing);
    ScrubNonFinite(left, n);
    ScrubNonFinite(right, n);
    LimitStereoRunning(engine.limiter, engine.limiterEnvelope, left, right, n);

    if (mix.masterMute) {
        std::fill(left, left + n, 0.0f);
        std::fill(right, right + n, 0.0f);
    }
    engine.peakL.store(PeakOf(left, n), std::memory_order_relaxed);
    engine.peakR.store(PeakOf(right, n), std::memory_order_relaxed);
    engine.groupPeakL = peaks.left;
    engine.groupPeakR = peaks.right;
    const EngineOutputHookFn hook = EngineOutputHook.load(std::memory_order_acquire);
    if (hook != nullptr) hook(left, right, n, static_cast<double>(t0) / rate, rate);
    // The fade-out after a stop plays where the transport stopped: the
    // stopped clock stays put.
    if (playing) AdvancePosition(engine, t0, n);
}

void AudioRenderCallback(float* left, float* right, std::uint32_t frames) {
    EnableFlushDenormals();
    MixPlaybackBlock(LivePlaybackEngine, left, right, frames);
}

}  // namespace korvel
