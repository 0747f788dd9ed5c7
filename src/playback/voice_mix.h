#pragma once
// The per-voice rules of every mix, live and offline: fade lengths and
// shapes, the gain curves, the level, the group's mute and solo and the
// reverb send. One set of functions, so the live mix and the export cannot
// drift apart. Audio-thread safe: nothing here allocates or waits.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"

namespace korvel {

// Fade lengths used when a voice has no entry in the engine's fade lists.
inline constexpr float kDefaultVoiceFadeIn = 0.04f;
inline constexpr float kDefaultVoiceFadeOut = 0.05f;
inline constexpr float kMinVoiceFade = 0.015f;

struct VoiceFades {
    float in = 0.0f;   // seconds
    float out = 0.0f;  // seconds
};

// Each fade is at least 15 ms and at most 45% of the voice; together they
// take at most 90% of it.
inline VoiceFades VoiceFadeLengths(float fadeIn, float fadeOut, float duration) {
    const float longest = std::max(kMinVoiceFade, 0.45f * duration);
    auto bound = [&](float fade) { return fade < kMinVoiceFade ? kMinVoiceFade : std::min(fade, longest); };
    VoiceFades fades{bound(fadeIn), bound(fadeOut)};
    const float room = 0.9f * duration;
    if (fades.in + fades.out > room) {
        const float scale = room / (fades.in + fades.out);
        fades.in *= scale;
        fades.out *= scale;
    }
    return fades;
}

// The fade lengths of `voice`, number `index`, from the engine's lists (the
// defaults where a list is shorter); none for a voice with its own fades.
// The caller holds the voice lock.
inline VoiceFades EngineVoiceFades(const PlaybackEngine& engine, std::size_t index, const Voice& voice) {
    if (voice.ownFades) return {0.0f, 0.0f};
    const float in = index < engine.voiceFadeIns.size() ? engine.voiceFadeIns[index] : kDefaultVoiceFadeIn;
    const float out = index < engine.voiceFadeOuts.size() ? engine.voiceFadeOuts[index] : kDefaultVoiceFadeOut;
    return VoiceFadeLengths(in, out, voice.duration);
}

// `t` seconds into the voice.
inline float FadeInGain(float t, float fadeIn) {
    if (!(t < fadeIn)) return 1.0f;
    const float u = t / fadeIn;
    const float w = u * (1.0f - u);
    const float g = u + w + 1.4196f * w * w;
    return g * g;
}

inline float FadeOutGain(float t, float duration, float fadeOut) {
    const float left = duration - t;
    if (!(left < fadeOut)) return 1.0f;
    const float u = left / fadeOut;
    return (u * u) * (u * u);
}

inline int VoiceGroupIndex(const Voice& voice) { return std::clamp(voice.group, 0, kTrackGroupCount - 1); }

// A voice mixes as stereo only when its right channel is whole.
inline bool VoiceMixesStereo(const Voice& voice) {
    return voice.stereo && voice.frameCount >= 0 &&
           voice.samplesR.size() >= static_cast<std::size_t>(voice.frameCount);
}

// The voice's own send, or its group's when negative or NaN.
inline float VoiceReverbSend(const Voice& voice, const ReverbSettings& reverb, int group) {
    return voice.reverbSend >= 0.0f ? voice.reverbSend : reverb.groupSends[group];
}

// The group's mute and solo: false when the group is silent.
inline bool GroupAudible(const MixerSettings& mix, int group) {
    if (mix.groupMute[group]) return false;
    const bool anySolo = mix.groupSolo[0] || mix.groupSolo[1] || mix.groupSolo[2];
    return !anySolo || mix.groupSolo[group];
}

// The voice-level part of the skip rule: the solo voice plays even when
// muted; with a solo voice every other voice is silent.
inline bool VoiceSelected(const Voice& voice, std::int32_t index, std::int32_t soloVoice) {
    if (soloVoice >= 0) return index == soloVoice;
    return !voice.muted && !voice.unloaded;
}

// The voice's own level; the mixes multiply in their group and master gains.
inline float VoiceBaseLevel(const Voice& voice) { return voice.gain * voice.normGain * voice.eventGain; }

inline float VoiceLevel(const Voice& voice, const MixerSettings& mix, int group) {
    return VoiceBaseLevel(voice) * mix.groupGain[group];
}

// Which of the voice's gain curves apply, prepared once per voice.
struct VoiceCurves {
    const float* eventCurve = nullptr;  // event-curve mode when set
    int eventCurveLength = 0;
    bool eventCurveIsBed = false;
    float intensityScale = 1.0f;
    const float* intGain = nullptr;    // intGain mode when set (and no event curve)
    const float* fillGain = nullptr;   // applies when set
    float fillRate = 0.0f;             // 1 / the seconds the fillGain points span
    const float* deconGain = nullptr;  // applies when set
    float invDuration = 0.0f;
};

inline VoiceCurves PrepareVoiceCurves(const Voice& voice) {
    VoiceCurves curves;
    if (!(voice.duration > 0.0f)) return curves;
    curves.invDuration = 1.0f / voice.duration;
    const int curveLength = std::min(voice.eventCurveLength, kCurvePoints);
    if (voice.eventCurve && curveLength > 1) {
        curves.eventCurve = voice.eventCurve->data();
        curves.eventCurveLength = curveLength;
        curves.eventCurveIsBed = voice.eventCurveIsBed;
        curves.intensityScale = voice.intensityScale;
    } else if (voice.hasIntGain) {
        curves.intGain = voice.intGain.data();
    }
    if (voice.hasFillGain) {
        curves.fillGain = voice.fillGain.data();
        curves.fillRate = voice.fillGainSpan > 0.0f ? 1.0f / voice.fillGainSpan : curves.invDuration;
    }
    if (voice.hasDeconGain) curves.deconGain = voice.deconGain.data();
    return curves;
}

// The curves of the offline reverb send and of exported clips: no event
// curve (intGain even where one is set) and fillGain over the voice's whole
// duration. The sends and the clips have always been rendered this way, so
// changing it would change every exported reverb stem and clip.
inline VoiceCurves PrepareVoiceCurvesOverDuration(const Voice& voice) {
    VoiceCurves curves;
    if (!(voice.duration > 0.0f)) return curves;
    curves.invDuration = 1.0f / voice.duration;
    if (voice.hasIntGain) curves.intGain = voice.intGain.data();
    if (voice.hasFillGain) {
        curves.fillGain = voice.fillGain.data();
        curves.fillRate = curves.invDuration;
    }
    if (voice.hasDeconGain) curves.deconGain = voice.deconGain.data();
    return curves;
}

// Linear interpolation of `points` at q, the segment clamped to 0..last-1.
inline float InterpolatePoints(const float* points, float q, int last) {
    const int j = std::clamp(static_cast<int>(q), 0, std::max(last - 1, 0));
    const float frac = q - static_cast<float>(j);
    return points[j] * (1.0f - frac) + points[j + 1] * frac;
}

// The product of the voice's curves `t` seconds into it.
inline float VoiceCurveGain(const VoiceCurves& curves, float t) {
    float c = 1.0f;
    if (curves.eventCurve) {
        const float q = t * curves.invDuration * static_cast<float>(curves.eventCurveLength - 1);
        const float v = InterpolatePoints(curves.eventCurve, q, curves.eventCurveLength - 1) * curves.intensityScale;
        c = std::clamp(v, 0.0f, 1.0f);
        if (!curves.eventCurveIsBed) c = 0.3f + 0.7f * c;
    } else if (curves.intGain) {
        c = InterpolatePoints(curves.intGain, t * curves.invDuration * 255.0f, 255);
    }
    if (curves.fillGain) c *= InterpolatePoints(curves.fillGain, std::min(1.0f, curves.fillRate * t) * 127.0f, 127);
    if (curves.deconGain) c *= InterpolatePoints(curves.deconGain, t * curves.invDuration * 31.0f, 31);
    return c;
}

// The gain of a voice `t` seconds into it: fades, level and curves, in the
// one order every mix multiplies them.
inline float VoiceEnvelopeGain(const VoiceFades& fades, const VoiceCurves& curves, float duration, float level,
                               float t) {
    return FadeOutGain(t, duration, fades.out) * FadeInGain(t, fades.in) * level * VoiceCurveGain(curves, t);
}

}  // namespace korvel
