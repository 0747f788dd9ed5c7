#include "dsp/reverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/flush_denormals.h"

// [SECTION] Constants and helpers
// [SECTION] Reset, clear, configure
// [SECTION] Parameter steps
// [SECTION] Sample loop
// [SECTION] Requests from other threads

namespace korvel {
namespace {

// [SECTION] Constants and helpers

constexpr float kTwoPi = 6.2831855f;
constexpr uint32_t kLineMask = kReverbLineLength - 1;
constexpr uint32_t kDiffuserMask = kReverbDiffuserLength - 1;

constexpr float kLfoRate1[8] = {0.31f, 0.43f, 0.67f, 0.37f, 0.53f, 0.71f, 0.47f, 0.59f};
constexpr float kLfoRate2[8] = {1.13f, 0.89f, 1.31f, 0.97f, 1.07f, 1.23f, 0.83f, 1.19f};

// Even channels lean left, odd channels right.
constexpr float kSpreadLeft[8] = {1.0f, 0.0f, 0.92f, 0.08f, 0.84f, 0.16f, 0.76f, 0.24f};
constexpr float kSpreadRight[8] = {0.0f, 1.0f, 0.08f, 0.92f, 0.16f, 0.84f, 0.24f, 0.76f};

constexpr float kSettledState = 1e-30f;        // about −600 dB
constexpr float kHadamardScale = 0.35355338f;  // 1 / sqrt(8)
constexpr float kSecondLfoWeight = 0.75f;
constexpr float kHouseholder = -0.25f;  // -2 / 8
constexpr float kLineLimit = 8.0f;
constexpr float kEarlyTap = 0.07f;
constexpr float kCrossFeed = 0.18f;
constexpr float kOutputScale = 0.25f;
constexpr float kDcPole = 0.9995f;
constexpr float kMinPreDelayFraction = 0.001f;

// Integer hash that seeds the delays and polarities: the same settings
// always give the same network, with no random generator involved.
constexpr uint32_t Hash(uint32_t x) {
    x = (x ^ (x >> 16)) * 0x45D9F3Bu;
    x = (x ^ (x >> 16)) * 0x45D9F3Bu;
    return x ^ (x >> 16);
}

void SetResetParameters(ReverbParameters& p) {
    p.outputGain = 0.0f;  // silent until the first ConfigureReverb
    p.lineDamping = 0.5f;
    p.feedback = 0.85f;
    p.diffusionMix = 0.7f;
    p.inputDamping = 0.8f;
    std::fill(std::begin(p.lineDelay), std::end(p.lineDelay), 2000.0f);
    for (auto& step : p.diffuserDelay) std::fill(std::begin(step), std::end(step), 100.0f);
    p.preDelaySamples = 0.0f;
    p.modulationDepth = 0.04f;
}

inline float FiniteOr(float x, float fallback) { return std::isfinite(x) ? x : fallback; }
inline float FiniteOrZero(float x) { return FiniteOr(x, 0.0f); }

inline float Glide(float current, float target, float amount) {
    return current + (target - current) * amount;
}

// Fast Walsh-Hadamard transform of eight values, in natural order.
inline void Hadamard8(float v[8]) {
    for (int span = 1; span < 8; span <<= 1) {
        for (int start = 0; start < 8; start += span << 1) {
            for (int i = start; i < start + span; ++i) {
                const float a = v[i];
                const float b = v[i + span];
                v[i] = a + b;
                v[i + span] = a - b;
            }
        }
    }
}

}  // namespace

// [SECTION] Reset, clear, configure

void ResetReverb(ReverbState& state, int sampleRate) {
    state.sampleRate = sampleRate;
    // A rate below 1 would turn every coefficient into a NaN; keep the state
    // finite (and silent) instead.
    const float rate = static_cast<float>(std::max(sampleRate, 1));
    state.fastSmoothing = 1.0f - std::exp(-1.0f / (0.005f * rate));
    state.slowSmoothing = 1.0f - std::exp(-1.0f / (0.05f * rate));

    SetResetParameters(state.target);
    state.current = state.target;

    ClearReverbState(state);
    state.lineWrite = 0;
    state.preDelayWrite = 0;
    std::fill(std::begin(state.diffuserWrite), std::end(state.diffuserWrite), 0u);

    for (int i = 0; i < 8; ++i) {
        const float phase1 = static_cast<float>(i) * kTwoPi / 8.0f;
        const float phase2 = (static_cast<float>(i) / 8.0f + 0.5f) * kTwoPi;
        const float step1 = kTwoPi * kLfoRate1[i] / rate;
        const float step2 = kTwoPi * kLfoRate2[i] / rate;
        state.lfo1Sin[i] = std::sin(phase1);
        state.lfo1Cos[i] = std::cos(phase1);
        state.lfo1StepSin[i] = std::sin(step1);
        state.lfo1StepCos[i] = std::cos(step1);
        state.lfo2Sin[i] = std::sin(phase2);
        state.lfo2Cos[i] = std::cos(phase2);
        state.lfo2StepSin[i] = std::sin(step2);
        state.lfo2StepCos[i] = std::cos(step2);
    }
}

void ClearReverbState(ReverbState& state) {
    std::memset(state.lines, 0, sizeof(state.lines));
    std::memset(state.lineDampState, 0, sizeof(state.lineDampState));
    std::memset(state.diffuserRings, 0, sizeof(state.diffuserRings));
    std::memset(state.preDelayRing, 0, sizeof(state.preDelayRing));
    std::memset(state.inputFilterState, 0, sizeof(state.inputFilterState));
    std::memset(state.dcPrevIn, 0, sizeof(state.dcPrevIn));
    std::memset(state.dcPrevOut, 0, sizeof(state.dcPrevOut));
}

float ConfigureReverb(ReverbState& state, const ReverbSettings& userSettings) {
    const float sr = static_cast<float>(state.sampleRate);
    // A non-finite control would reach the delay lengths, whose conversion
    // to whole samples on the audio thread is then undefined: such a value
    // counts as its default.
    const ReverbSettings defaults;
    ReverbSettings settings = userSettings;
    settings.size = FiniteOr(userSettings.size, defaults.size);
    settings.decay = FiniteOr(userSettings.decay, defaults.decay);
    settings.damping = FiniteOr(userSettings.damping, defaults.damping);
    settings.preDelay = FiniteOr(userSettings.preDelay, defaults.preDelay);
    settings.diffusion = FiniteOr(userSettings.diffusion, defaults.diffusion);
    settings.modulation = FiniteOr(userSettings.modulation, defaults.modulation);
    ReverbParameters& t = state.target;

    // The longest line (2^(7/8) times the base) must still fit its ring.
    const float baseMs = std::min(15360.0f / (2.0f * 0.001f * sr) - 15.0f, 135.0f) * settings.size + 15.0f;

    float diffuserMs = 130.0f * settings.size + 30.0f;
    for (int s = 0; s < 3; ++s) {
        diffuserMs /= 2.0f;
        const float h = diffuserMs * 0.001f * sr;
        for (int o = 0; o < 8; ++o) {
            const uint32_t seed = 42u + 1000u * static_cast<uint32_t>(s) + 137u * static_cast<uint32_t>(o);
            const float u = static_cast<float>(Hash(seed) & 0xFFFFu) / 65536.0f;
            // Channel o's delay lies in the o-th eighth of h.
            const float delay = static_cast<float>(o) * h / 8.0f + (h / 8.0f) * u;
            t.diffuserDelay[s][o] = std::clamp(delay, 1.0f, 8191.0f);
            const uint32_t polaritySeed = 777u * static_cast<uint32_t>(s) + 31u * static_cast<uint32_t>(o);
            state.diffuserPolarity[s][o] = (Hash(polaritySeed) & 1u) ? -1 : 1;
        }
    }

    const float baseSamples = baseMs * 0.001f * sr;
    for (int k = 0; k < 8; ++k) {
        const int jitter = static_cast<int>(Hash(12345u + 997u * static_cast<uint32_t>(k)) % 131u) - 65;
        const float delay = static_cast<float>(jitter) + std::pow(2.0f, static_cast<float>(k) / 8.0f) * baseSamples;
        t.lineDelay[k] = std::clamp(delay, 64.0f, 16320.0f);
    }

    const float t60 = 9.7f * settings.decay + 0.3f;
    t.feedback = std::min(std::pow(10.0f, -3.0f / (t60 / (1.5f * baseMs * 0.001f))), 0.9995f);

    const float lineCorner = std::max(200.0f, 18000.0f * std::exp(-3.5f * settings.damping));
    const float inputCorner = std::max(3000.0f, 16000.0f * std::exp(-1.5f * settings.damping));
    t.lineDamping = 1.0f - std::exp(-kTwoPi * lineCorner / sr);
    t.inputDamping = 1.0f - std::exp(-kTwoPi * inputCorner / sr);

    t.preDelaySamples = std::clamp(sr * settings.preDelay, 0.0f, static_cast<float>(kReverbPreDelayLength - 1));
    t.modulationDepth = (0.06f * settings.size + 0.03f + 0.06f * settings.decay) * settings.modulation + 0.005f;
    t.diffusionMix = 0.55f * settings.diffusion + 0.45f;

    const float density = std::sqrt((0.7f * settings.size + 0.3f) * (0.8f * settings.decay + 0.2f));
    t.outputGain = std::min(5.0f, 3.0f / std::max(0.15f, density));
    return t.outputGain;
}

// [SECTION] Parameter steps

void SmoothReverbParameters(ReverbState& state) {
    // The 50 ms glide compounded over the 32 samples between steps.
    const float a = 1.0f - std::pow(1.0f - state.slowSmoothing, 32.0f);
    ReverbParameters& c = state.current;
    const ReverbParameters& t = state.target;

    c.preDelaySamples = Glide(c.preDelaySamples, t.preDelaySamples, a);
    for (int k = 0; k < 8; ++k) c.lineDelay[k] = Glide(c.lineDelay[k], t.lineDelay[k], a);

    bool settled = true;
    for (int s = 0; s < 3; ++s) {
        for (int o = 0; o < 8; ++o) {
            const float delay = Glide(c.diffuserDelay[s][o], t.diffuserDelay[s][o], a);
            c.diffuserDelay[s][o] = delay;
            const int32_t whole = static_cast<int32_t>(delay);
            state.diffuserDelayWhole[s][o] = whole;
            state.diffuserDelayFraction[s][o] = delay - static_cast<float>(whole);
            if (std::fabs(delay - t.diffuserDelay[s][o]) > 0.01f) settled = false;
        }
    }
    state.settled = settled;
    if (settled) {
        for (auto& step : state.diffuserDelayFraction) std::fill(std::begin(step), std::end(step), 0.0f);
    }

    state.preDelayWhole = static_cast<int32_t>(c.preDelaySamples);
    state.preDelayFraction = c.preDelaySamples - static_cast<float>(state.preDelayWhole);
}

// [SECTION] Sample loop

void ProcessReverb(ReverbState& state, const float* inLeft, const float* inRight, float* outLeft,
                   float* outRight, int frames) {
    // A decaying tail would otherwise sit in the lines as subnormals for
    // good, costing far more per sample than sound does.
    const ScopedFlushDenormals flushDenormals;
    ReverbParameters& cur = state.current;
    const ReverbParameters& tgt = state.target;

    for (int i = 0; i < frames; ++i) {
        if ((state.lineWrite & 31u) == 0) SmoothReverbParameters(state);

        const float fast = state.fastSmoothing;
        cur.outputGain = Glide(cur.outputGain, tgt.outputGain, fast);
        cur.lineDamping = Glide(cur.lineDamping, tgt.lineDamping, fast);
        cur.feedback = Glide(cur.feedback, tgt.feedback, fast);
        cur.diffusionMix = Glide(cur.diffusionMix, tgt.diffusionMix, fast);
        cur.inputDamping = Glide(cur.inputDamping, tgt.inputDamping, fast);
        cur.modulationDepth = Glide(cur.modulationDepth, tgt.modulationDepth, fast);

        // Pre-delay, then the input low-pass.
        // A non-finite sample would stay in the input low-pass and the DC
        // blocker for good and silence the reverb until the next clear; it
        // enters as silence instead.
        const int32_t pw = state.preDelayWrite;
        float side[2] = {FiniteOrZero(inLeft[i]), FiniteOrZero(inRight[i])};
        state.preDelayRing[0][pw] = side[0];
        state.preDelayRing[1][pw] = side[1];
        if (state.preDelayWhole >= 1) {
            const int32_t read = (pw - state.preDelayWhole + kReverbPreDelayLength) % kReverbPreDelayLength;
            const int32_t older = (pw - state.preDelayWhole + kReverbPreDelayLength - 1) % kReverbPreDelayLength;
            for (int c = 0; c < 2; ++c) {
                side[c] = state.preDelayRing[c][read];
                if (state.preDelayFraction >= kMinPreDelayFraction)
                    side[c] += (state.preDelayRing[c][older] - side[c]) * state.preDelayFraction;
            }
        }
        for (int c = 0; c < 2; ++c) {
            state.inputFilterState[c] += (side[c] - state.inputFilterState[c]) * cur.inputDamping;
            side[c] = state.inputFilterState[c];
        }
        state.preDelayWrite = (pw + 1) % kReverbPreDelayLength;

        float spread[8];
        for (int c = 0; c < 8; ++c) spread[c] = kSpreadLeft[c] * side[0] + kSpreadRight[c] * side[1];

        // Three diffusion steps, each on the previous one's output.
        float d[8];
        std::copy(std::begin(spread), std::end(spread), d);
        for (int s = 0; s < 3; ++s) {
            const uint32_t w = state.diffuserWrite[s];
            float read[8];
            for (int c = 0; c < 8; ++c) {
                float* ring = state.diffuserRings[s][c];
                ring[w & kDiffuserMask] = d[c];
                const uint32_t pos = w - static_cast<uint32_t>(state.diffuserDelayWhole[s][c]);
                float v = ring[pos & kDiffuserMask];
                if (!state.settled) v += (ring[(pos - 1u) & kDiffuserMask] - v) * state.diffuserDelayFraction[s][c];
                read[c] = v;
            }
            state.diffuserWrite[s] = w + 1u;
            Hadamard8(read);
            for (int c = 0; c < 8; ++c)
                d[c] = read[c] * kHadamardScale * static_cast<float>(state.diffuserPolarity[s][c]);
        }

        float x[8];
        for (int c = 0; c < 8; ++c) x[c] = cur.diffusionMix * d[c] + (1.0f - cur.diffusionMix) * spread[c];

        // Modulated line reads.
        const uint32_t lw = state.lineWrite;
        const float depth = cur.modulationDepth;
        float y[8];
        float sum = 0.0f;
        for (int k = 0; k < 8; ++k) {
            const float s1 = state.lfo1Sin[k] * state.lfo1StepCos[k] + state.lfo1Cos[k] * state.lfo1StepSin[k];
            const float c1 = state.lfo1Cos[k] * state.lfo1StepCos[k] - state.lfo1Sin[k] * state.lfo1StepSin[k];
            const float s2 = state.lfo2Sin[k] * state.lfo2StepCos[k] + state.lfo2Cos[k] * state.lfo2StepSin[k];
            const float c2 = state.lfo2Cos[k] * state.lfo2StepCos[k] - state.lfo2Sin[k] * state.lfo2StepSin[k];
            state.lfo1Sin[k] = s1;
            state.lfo1Cos[k] = c1;
            state.lfo2Sin[k] = s2;
            state.lfo2Cos[k] = c2;

            const float D = cur.lineDelay[k];
            float p = D + D * depth * s1 + D * depth * kSecondLfoWeight * s2;
            p = std::clamp(p, 1.0f, static_cast<float>(kReverbLineLength - 2));
            const uint32_t n = static_cast<uint32_t>(p);
            const float f = p - static_cast<float>(n);
            const float* line = state.lines[k];
            const float a = line[(lw - n) & kLineMask];
            const float b = line[(lw - n - 1u) & kLineMask];
            y[k] = a + (b - a) * f;
            sum += y[k];
        }

        // Householder mixing, damping and feedback.
        const float h = kHouseholder * sum;
        for (int k = 0; k < 8; ++k) {
            float g = y[k] + h;
            if (k == 1 || k == 2 || k == 5 || k == 6) g = -g;
            float* damp = state.lineDampState[k];
            damp[0] += (g - damp[0]) * cur.lineDamping;
            damp[1] += (damp[0] - damp[1]) * cur.lineDamping;
            float v = damp[1] * cur.feedback + x[k];
            // A NaN must never enter the loop: it would ring forever.
            if (std::isnan(v)) v = 0.0f;
            v = std::clamp(v, -kLineLimit, kLineLimit);
            state.lines[k][lw & kLineMask] = v;
        }

        state.lineWrite = lw + 1u;
        if ((state.lineWrite & 1023u) == 0) {
            // Keep the phasors on the unit circle against rounding drift.
            for (int k = 0; k < 8; ++k) {
                float m = 1.5f - 0.5f * (state.lfo1Sin[k] * state.lfo1Sin[k] + state.lfo1Cos[k] * state.lfo1Cos[k]);
                state.lfo1Sin[k] *= m;
                state.lfo1Cos[k] *= m;
                m = 1.5f - 0.5f * (state.lfo2Sin[k] * state.lfo2Sin[k] + state.lfo2Cos[k] * state.lfo2Cos[k]);
                state.lfo2Sin[k] *= m;
                state.lfo2Cos[k] *= m;
            }
        }

        float accL = 0.0f;
        float accR = 0.0f;
        for (int k = 0; k < 8; k += 2) {
            accL += kEarlyTap * d[k] + y[k];
            accR += kEarlyTap * d[k + 1] + y[k + 1];
        }
        const float gain = kOutputScale * cur.outputGain;
        const float wet[2] = {(accL + kCrossFeed * accR) * gain, (accR + kCrossFeed * accL) * gain};

        float out[2];
        for (int c = 0; c < 2; ++c) {
            out[c] = wet[c] - state.dcPrevIn[c] + kDcPole * state.dcPrevOut[c];
            state.dcPrevIn[c] = wet[c];
            state.dcPrevOut[c] = out[c];
        }
        outLeft[i] = std::isfinite(out[0]) ? out[0] : 0.0f;
        outRight[i] = std::isfinite(out[1]) ? out[1] : 0.0f;
    }

    // With subnormals flushed, a one-pole state s += (x − s)·c stops moving
    // just above the smallest normal number (its step flushes to zero) and
    // would feed the lines for good; far below hearing it is silence.
    auto settle = [](float& v) {
        if (std::fabs(v) < kSettledState) v = 0.0f;
    };
    for (float& v : state.inputFilterState) settle(v);
    for (auto& damp : state.lineDampState)
        for (float& v : damp) settle(v);
    for (float& v : state.dcPrevIn) settle(v);
    for (float& v : state.dcPrevOut) settle(v);
}

// [SECTION] Requests from other threads

void RequestReverbReset(ReverbRequests& requests, int sampleRate) {
    if (sampleRate < 1) return;
    requests.resetSampleRate.store(sampleRate, std::memory_order_release);
}

void RequestReverbClear(ReverbRequests& requests) {
    requests.clear.store(true, std::memory_order_release);
}

bool ApplyReverbRequests(ReverbState& state, ReverbRequests& requests) {
    const int32_t rate = requests.resetSampleRate.exchange(0, std::memory_order_acq_rel);
    const bool clear = requests.clear.exchange(false, std::memory_order_acq_rel);
    if (rate > 0) {
        ResetReverb(state, rate);  // includes the clear
        return true;
    }
    if (clear) {
        ClearReverbState(state);
        return true;
    }
    return false;
}

}  // namespace korvel
