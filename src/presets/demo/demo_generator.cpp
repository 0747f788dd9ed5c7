#include "presets/demo/demo_generator.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

#include "dsp/reverb.h"
#include "engine/bed_event.h"
#include "engine/published_layers.h"
#include "picture/trace_analysis.h"
#include "presets/chains.h"
#include "presets/recipes.h"
#include "project/event_curves.h"
#include "project/event_editing.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/project_file_write.h"

namespace korvel {

// Index
// [SECTION] Signal helpers
// [SECTION] Sound recipes: impacts, whooshes, ambiences
// [SECTION] The library
// [SECTION] Recipes and chains
// [SECTION] The project
// [SECTION] The whole tree

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 48000;
constexpr float kPi = 3.14159265358979f;

// [SECTION] Signal helpers

// xorshift32: the same numbers on every machine, unlike the standard
// distributions, whose algorithms the library may choose.
struct Random {
    std::uint32_t state;
    explicit Random(std::uint32_t seed) : state(seed != 0 ? seed : 0x9E3779B9u) {}
    std::uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    float Unit() { return static_cast<float>(Next() >> 8) * (1.0f / 16777216.0f); }  // [0, 1)
    float Signed() { return 2.0f * Unit() - 1.0f; }                                   // [-1, 1)
    float Between(float low, float high) { return low + (high - low) * Unit(); }
};

// Two-pole filter with the usual cookbook coefficients; swept filters set
// them again every few samples.
struct Biquad {
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float z1 = 0.0f, z2 = 0.0f;

    enum class Kind { LowPass, HighPass, BandPass };
    void Set(Kind kind, float frequency, float q) {
        const float f = std::clamp(frequency, 10.0f, 0.45f * kRate);
        const float w = 2.0f * kPi * f / kRate;
        const float c = std::cos(w);
        const float alpha = std::sin(w) / (2.0f * q);
        const float a0 = 1.0f + alpha;
        switch (kind) {
            case Kind::LowPass: b0 = b2 = (1.0f - c) * 0.5f; b1 = 1.0f - c; break;
            case Kind::HighPass: b0 = b2 = (1.0f + c) * 0.5f; b1 = -(1.0f + c); break;
            case Kind::BandPass: b0 = alpha; b1 = 0.0f; b2 = -alpha; break;
        }
        b0 /= a0;
        b1 /= a0;
        b2 /= a0;
        a1 = -2.0f * c / a0;
        a2 = (1.0f - alpha) / a0;
    }
    float Process(float x) {
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

using Samples = std::vector<float>;

Samples Silence(float seconds) { return Samples(static_cast<std::size_t>(seconds * kRate), 0.0f); }
float TimeOf(std::size_t i) { return static_cast<float>(i) / kRate; }

// A decaying sine from `start` seconds on, cut once it has died away.
void AddMode(Samples& out, float start, float frequency, float amplitude, float decay) {
    const auto first = static_cast<std::size_t>(std::max(0.0f, start) * kRate);
    const std::size_t last = std::min(out.size(), first + static_cast<std::size_t>(7.0f * decay * kRate) + 1);
    for (std::size_t i = first; i < last; ++i) {
        const float t = TimeOf(i - first);
        out[i] += amplitude * std::exp(-t / decay) * std::sin(2.0f * kPi * frequency * t);
    }
}

// A burst of filtered noise that dies away from `start` on.
void AddNoiseBurst(Samples& out, Random& random, float start, float decay, Biquad::Kind kind, float frequency,
                   float amplitude) {
    Biquad filter;
    filter.Set(kind, frequency, 0.8f);
    const auto first = static_cast<std::size_t>(std::max(0.0f, start) * kRate);
    const std::size_t last = std::min(out.size(), first + static_cast<std::size_t>(7.0f * decay * kRate) + 1);
    for (std::size_t i = first; i < last; ++i) {
        out[i] += amplitude * std::exp(-TimeOf(i - first) / decay) * filter.Process(random.Signed());
    }
}

// Short decaying pings at random moments: drops, crackles, bubbles' onsets.
// `rate` is the mean number per second at time t, highest at 0: moments are
// drawn at that rate and thinned to the rate of their time.
template <class Rate>
void AddPings(Samples& out, Random& random, Rate rate, float lowHz, float highHz, float lowDecay, float highDecay,
              float amplitude) {
    const float peak = std::max(rate(0.0f), 0.5f);
    const float end = TimeOf(out.size());
    for (float t = 0.0f;;) {
        t += -std::log(1.0f - random.Unit()) / peak;
        if (t >= end) break;
        if (random.Unit() * peak > rate(t)) continue;
        const float level = amplitude * (0.25f + 0.75f * random.Unit());
        AddMode(out, t, random.Between(lowHz, highHz), level, random.Between(lowDecay, highDecay));
    }
}

// Leaky integration of white noise: the low rumble of rooms and thunder.
Samples BrownNoise(Random& random, std::size_t count) {
    Samples out(count);
    float y = 0.0f;
    for (float& s : out) {
        y = 0.995f * y + 0.05f * random.Signed();
        s = y;
    }
    return out;
}

void Filter(Samples& samples, Biquad::Kind kind, float frequency, float q = 0.707f) {
    Biquad filter;
    filter.Set(kind, frequency, q);
    for (float& s : samples) s = filter.Process(s);
}

// Rises from 0 to 1 at `peak` (0..1) and falls back, smoothly.
float Bell(float u, float peak) {
    const float s = u < peak ? u / peak : (1.0f - u) / (1.0f - peak);
    const float c = std::clamp(s, 0.0f, 1.0f);
    return c * c * (3.0f - 2.0f * c);
}

// Noise through a band-pass whose centre follows `centre(u)` over the sound
// (u from 0 to 1), shaped by `level(u)`: the body of every whoosh.
template <class Centre, class Level>
void AddSweptNoise(Samples& out, Random& random, Biquad::Kind kind, float q, Centre centre, Level level) {
    Biquad first, second;
    const float n = static_cast<float>(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float u = static_cast<float>(i) / n;
        if (i % 32 == 0) {
            first.Set(kind, centre(u), q);
            second.Set(kind, centre(u), q);
        }
        out[i] += level(u) * second.Process(first.Process(random.Signed()));
    }
}

void FadeEdges(Samples& samples, float inSeconds, float outSeconds) {
    const auto in = std::min(samples.size(), static_cast<std::size_t>(inSeconds * kRate));
    const auto out = std::min(samples.size(), static_cast<std::size_t>(outSeconds * kRate));
    for (std::size_t i = 0; i < in; ++i) samples[i] *= static_cast<float>(i) / static_cast<float>(in);
    for (std::size_t i = 0; i < out; ++i) samples[samples.size() - 1 - i] *= static_cast<float>(i) / static_cast<float>(out);
}

// Folds the extra tail made past the loop's length into its head, so the
// last sample runs on into the first without a click.
void CloseLoop(Samples& samples, float seamSeconds) {
    const auto seam = static_cast<std::size_t>(seamSeconds * kRate);
    if (samples.size() <= 2 * seam) return;
    const std::size_t length = samples.size() - seam;
    for (std::size_t i = 0; i < seam; ++i) {
        const float w = static_cast<float>(i) / static_cast<float>(seam);
        samples[i] = std::sqrt(w) * samples[i] + std::sqrt(1.0f - w) * samples[length + i];
    }
    samples.resize(length);
}

// [SECTION] Sound recipes: impacts, whooshes, ambiences

// One channel of a sound; `variant` (0..1) moves pitch and length so the
// numbered files of one kind differ.
using Maker = Samples (*)(Random& random, float seconds, float variant);

Samples MetalClang(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float f0 = 380.0f + 230.0f * variant;
    const float ratios[] = {1.0f, 2.76f, 5.40f, 8.93f, 13.34f};
    const float decays[] = {0.9f, 0.6f, 0.4f, 0.25f, 0.15f};
    const float levels[] = {1.0f, 0.7f, 0.5f, 0.35f, 0.2f};
    for (int k = 0; k < 5; ++k) {
        AddMode(out, 0.0f, f0 * ratios[k] * (1.0f + 0.01f * random.Signed()), levels[k], decays[k] * (1.1f - 0.3f * variant));
    }
    AddNoiseBurst(out, random, 0.0f, 0.004f, Biquad::Kind::HighPass, 2000.0f, 1.5f);
    return out;
}

Samples WoodKnock(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float f0 = 160.0f + 80.0f * variant;
    AddMode(out, 0.0f, f0, 1.0f, 0.08f);
    AddMode(out, 0.0f, f0 * 2.3f, 0.6f, 0.05f);
    AddMode(out, 0.0f, f0 * 3.9f, 0.4f, 0.03f);
    AddNoiseBurst(out, random, 0.0f, 0.01f, Biquad::Kind::LowPass, 3000.0f, 1.2f);
    return out;
}

// A falling sine with a saturated body: a low boom with a thud.
Samples HeavyBoom(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float from = 110.0f - 20.0f * variant;
    const float to = 40.0f - 5.0f * variant;
    float phase = 0.0f;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float t = TimeOf(i);
        phase += 2.0f * kPi * (to + (from - to) * std::exp(-t / 0.12f)) / kRate;
        out[i] = std::exp(-t / 0.45f) * std::sin(phase);
    }
    AddNoiseBurst(out, random, 0.0f, 0.15f, Biquad::Kind::LowPass, 300.0f, 2.0f);
    for (float& s : out) s = std::tanh(1.5f * s);
    return out;
}

Samples GlassTink(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float scale = 1.0f + 0.05f * variant;
    const float modes[] = {2200.0f, 3870.0f, 5400.0f, 7900.0f};
    const float decays[] = {0.35f, 0.25f, 0.15f, 0.1f};
    for (int k = 0; k < 4; ++k) AddMode(out, 0.0f, modes[k] * scale, 1.0f / static_cast<float>(k + 1), decays[k]);
    AddNoiseBurst(out, random, 0.0f, 0.002f, Biquad::Kind::HighPass, 4000.0f, 0.8f);
    return out;
}

Samples DoorSlam(Random& random, float seconds, float variant) {
    Samples out = HeavyBoom(random, seconds, 0.8f + 0.2f * variant);
    for (float& s : out) s *= 0.6f;
    Samples knock = WoodKnock(random, seconds, 0.5f);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] += 0.8f * knock[i];
    // The frame rattles on for a moment after the hit.
    Samples rattle = Silence(seconds);
    AddNoiseBurst(rattle, random, 0.03f, 0.2f, Biquad::Kind::BandPass, 1500.0f, 1.0f);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] += 0.5f * rattle[i] * (0.5f + 0.5f * std::sin(2.0f * kPi * 25.0f * TimeOf(i)));
    }
    return out;
}

Samples WhooshFast(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float low = 400.0f + 200.0f * variant;
    const float high = 3000.0f + 1500.0f * variant;
    const float peak = 0.55f + 0.15f * variant;
    AddSweptNoise(out, random, Biquad::Kind::BandPass, 1.5f,
                  [&](float u) { return low * std::pow(high / low, Bell(u, peak)); },
                  [&](float u) { return std::pow(Bell(u, peak), 1.5f); });
    return out;
}

Samples WhooshDeep(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float peak = 0.5f + 0.2f * variant;
    AddSweptNoise(out, random, Biquad::Kind::LowPass, 0.9f,
                  [&](float u) { return 150.0f * std::pow(6.0f + 2.0f * variant, Bell(u, peak)); },
                  [&](float u) { return Bell(u, peak); });
    // A sub-bass swell under the air.
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float u = static_cast<float>(i) / static_cast<float>(out.size());
        out[i] += 0.3f * Bell(u, peak) * std::sin(2.0f * kPi * 45.0f * TimeOf(i));
    }
    return out;
}

Samples SwishThin(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    AddSweptNoise(out, random, Biquad::Kind::HighPass, 0.9f,
                  [&](float u) { return 3000.0f + (5000.0f + 1000.0f * variant) * u; },
                  [](float u) { return Bell(u, 0.4f); });
    return out;
}

Samples RiserTension(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    AddSweptNoise(out, random, Biquad::Kind::BandPass, 2.0f,
                  [](float u) { return 300.0f * std::pow(13.0f, u); },
                  [](float u) { return u * u; });
    float phase = 0.0f;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float u = static_cast<float>(i) / static_cast<float>(out.size());
        phase += 2.0f * kPi * (200.0f + (600.0f + 100.0f * variant) * u * u) / kRate;
        out[i] += 0.3f * u * u * std::sin(phase);
    }
    return out;
}

Samples DebrisCrackle(Random& random, float seconds, float variant) {
    Samples out = Silence(seconds);
    const float fall = 0.3f + 0.15f * variant;
    AddPings(out, random, [&](float t) { return 150.0f * std::exp(-t / fall); }, 1000.0f, 5000.0f, 0.008f, 0.02f, 1.0f);
    AddNoiseBurst(out, random, 0.0f, 0.05f, Biquad::Kind::LowPass, 800.0f, 0.8f);
    return out;
}

Samples ThunderRumble(Random& random, float seconds, float variant) {
    Samples out = BrownNoise(random, static_cast<std::size_t>(seconds * kRate));
    Filter(out, Biquad::Kind::LowPass, 180.0f + 40.0f * variant);
    // Rolls of the rumble at a few random moments over a slow fall.
    float rolls[4];
    for (float& roll : rolls) roll = random.Between(0.1f, 0.6f * seconds);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float t = TimeOf(i);
        float envelope = 0.3f * std::exp(-t / (0.4f * seconds));
        for (float roll : rolls) envelope += std::exp(-std::fabs(t - roll) / 0.25f);
        out[i] *= envelope;
    }
    AddNoiseBurst(out, random, 0.08f, 0.08f, Biquad::Kind::BandPass, 1000.0f, 0.05f);
    return out;
}

Samples RainLight(Random& random, float seconds, float) {
    Samples out = Silence(seconds);
    for (float& s : out) s = 0.15f * random.Signed();
    Filter(out, Biquad::Kind::HighPass, 800.0f);
    Filter(out, Biquad::Kind::LowPass, 9000.0f);
    AddPings(out, random, [](float) { return 60.0f; }, 2000.0f, 6000.0f, 0.003f, 0.008f, 0.6f);
    return out;
}

Samples RainHeavy(Random& random, float seconds, float) {
    Samples out = Silence(seconds);
    for (float& s : out) s = 0.3f * random.Signed();
    Filter(out, Biquad::Kind::LowPass, 1500.0f);
    AddPings(out, random, [](float) { return 250.0f; }, 600.0f, 2500.0f, 0.006f, 0.012f, 0.5f);
    return out;
}

Samples RoomToneHum(Random& random, float seconds, float) {
    Samples out = BrownNoise(random, static_cast<std::size_t>(seconds * kRate));
    Filter(out, Biquad::Kind::LowPass, 400.0f);
    // Mains hum with its first harmonics; whole cycles in any loop length.
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float t = TimeOf(i);
        out[i] += 0.05f * std::sin(2.0f * kPi * 50.0f * t) + 0.03f * std::sin(2.0f * kPi * 100.0f * t) +
                  0.02f * std::sin(2.0f * kPi * 150.0f * t);
    }
    return out;
}

Samples RoomToneQuiet(Random& random, float seconds, float) {
    Samples out = BrownNoise(random, static_cast<std::size_t>(seconds * kRate));
    Samples air = Silence(seconds);
    for (float& s : air) s = 0.05f * random.Signed();
    Filter(air, Biquad::Kind::LowPass, 1200.0f);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] += air[i];
    return out;
}

// A slow random gust level: two slow sines at unrelated rates.
Samples WindGusty(Random& random, float seconds, float) {
    Samples out = Silence(seconds);
    const float a = random.Between(0.0f, 2.0f * kPi);
    const float b = random.Between(0.0f, 2.0f * kPi);
    const float n = static_cast<float>(out.size());
    const auto gust = [&](float u) {
        const float t = u * n / kRate;
        return 0.5f + 0.25f * std::sin(2.0f * kPi * 0.31f * t + a) + 0.25f * std::sin(2.0f * kPi * 0.53f * t + b);
    };
    AddSweptNoise(out, random, Biquad::Kind::BandPass, 1.2f, [&](float u) { return 300.0f + 500.0f * gust(u); },
                  [&](float u) { return 0.3f + 0.7f * gust(u); });
    return out;
}

Samples DroneDark(Random& random, float seconds, float) {
    Samples out = Silence(seconds);
    const float detunes[] = {-0.003f, 0.0f, 0.004f};
    for (float detune : detunes) {
        const float f = 55.0f * (1.0f + detune);
        const float start = random.Between(0.0f, 2.0f * kPi);
        for (int k = 1; k <= 12; ++k) {
            for (std::size_t i = 0; i < out.size(); ++i) {
                out[i] += std::sin(2.0f * kPi * f * static_cast<float>(k) * TimeOf(i) + start * static_cast<float>(k)) /
                          static_cast<float>(k);
            }
        }
    }
    Biquad filter;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i % 32 == 0) filter.Set(Biquad::Kind::LowPass, 400.0f + 200.0f * std::sin(2.0f * kPi * 0.2f * TimeOf(i)), 1.2f);
        out[i] = filter.Process(out[i]);
    }
    return out;
}

Samples DroneAiry(Random& random, float seconds, float) {
    Samples out = Silence(seconds);
    const float partials[] = {880.0f, 1320.0f, 1760.0f, 2200.0f};
    for (int k = 0; k < 4; ++k) {
        const float rate = random.Between(0.2f, 0.7f);
        for (std::size_t i = 0; i < out.size(); ++i) {
            const float t = TimeOf(i);
            const float tremolo = 0.6f + 0.4f * std::sin(2.0f * kPi * rate * t + static_cast<float>(k));
            out[i] += tremolo * std::sin(2.0f * kPi * partials[k] * t) / static_cast<float>(k + 2);
        }
    }
    Samples breath = Silence(seconds);
    for (float& s : breath) s = 0.08f * random.Signed();
    Filter(breath, Biquad::Kind::HighPass, 4000.0f);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] += breath[i];
    return out;
}

Samples FireCrackle(Random& random, float seconds, float) {
    Samples out = BrownNoise(random, static_cast<std::size_t>(seconds * kRate));
    Filter(out, Biquad::Kind::LowPass, 200.0f);
    AddPings(out, random, [](float) { return 40.0f; }, 800.0f, 7000.0f, 0.002f, 0.01f, 0.9f);
    return out;
}

// Bubbles rise in pitch as they form.
Samples WaterBubbles(Random& random, float seconds, float) {
    Samples out = Silence(seconds);
    float t = 0.0f;
    while (true) {
        t += -std::log(1.0f - random.Unit()) / 8.0f;
        if (t >= seconds) break;
        const float f0 = random.Between(400.0f, 1200.0f);
        const float level = random.Between(0.3f, 1.0f);
        const auto first = static_cast<std::size_t>(t * kRate);
        const std::size_t last = std::min(out.size(), first + static_cast<std::size_t>(0.12f * kRate));
        float phase = 0.0f;
        for (std::size_t i = first; i < last; ++i) {
            const float s = TimeOf(i - first);
            phase += 2.0f * kPi * f0 * (1.0f + 20.0f * s) / kRate;
            out[i] += level * std::exp(-s / 0.03f) * std::sin(phase);
        }
    }
    Samples water = Silence(seconds);
    for (float& s : water) s = 0.05f * random.Signed();
    Filter(water, Biquad::Kind::BandPass, 500.0f, 0.7f);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] += water[i];
    return out;
}

// [SECTION] The library

struct SoundSpec {
    const char* library;
    const char* name;   // the file's stem: its words are what keywords find
    const char* title;  // written into the file's tags
    float seconds;
    int channels;
    bool loop;     // an ambience that loops without a seam
    float peakDb;  // the level the sound is scaled to
    Maker make;
    float variant;
};

constexpr SoundSpec kSounds[] = {
    {kDemoEffectsLibrary, "Impact_Metal_Clang_01", "Metal impact, bright clang", 1.2f, 1, false, -3.0f, MetalClang, 0.0f},
    {kDemoEffectsLibrary, "Impact_Metal_Clang_02", "Metal impact, higher clang", 1.0f, 1, false, -3.0f, MetalClang, 1.0f},
    {kDemoEffectsLibrary, "Impact_Wood_Knock_01", "Wood knock impact", 0.5f, 1, false, -3.0f, WoodKnock, 0.0f},
    {kDemoEffectsLibrary, "Impact_Wood_Knock_02", "Wood knock impact, higher", 0.5f, 1, false, -3.0f, WoodKnock, 1.0f},
    {kDemoEffectsLibrary, "Impact_Heavy_Boom_01", "Heavy low boom impact", 1.5f, 1, false, -1.0f, HeavyBoom, 0.0f},
    {kDemoEffectsLibrary, "Impact_Heavy_Boom_02", "Heavy deep boom impact", 1.5f, 1, false, -1.0f, HeavyBoom, 1.0f},
    {kDemoEffectsLibrary, "Impact_Glass_Tink_01", "Small glass tink", 0.8f, 1, false, -6.0f, GlassTink, 0.0f},
    {kDemoEffectsLibrary, "Door_Slam_Wood_01", "Wooden door slam", 0.9f, 1, false, -2.0f, DoorSlam, 0.0f},
    {kDemoEffectsLibrary, "Whoosh_Fast_01", "Fast whoosh pass", 0.9f, 1, false, -4.0f, WhooshFast, 0.0f},
    {kDemoEffectsLibrary, "Whoosh_Fast_02", "Fast whoosh pass, brighter", 0.8f, 1, false, -4.0f, WhooshFast, 0.5f},
    {kDemoEffectsLibrary, "Whoosh_Fast_03", "Fast whoosh pass, late peak", 1.0f, 1, false, -4.0f, WhooshFast, 1.0f},
    {kDemoEffectsLibrary, "Whoosh_Slow_Deep_01", "Slow deep whoosh by", 1.6f, 1, false, -3.0f, WhooshDeep, 0.0f},
    {kDemoEffectsLibrary, "Whoosh_Slow_Deep_02", "Slow deep whoosh, late", 1.5f, 1, false, -3.0f, WhooshDeep, 1.0f},
    {kDemoEffectsLibrary, "Swish_Thin_01", "Thin high swish", 0.5f, 1, false, -6.0f, SwishThin, 0.0f},
    {kDemoEffectsLibrary, "Riser_Tension_01", "Tension riser", 2.5f, 1, false, -4.0f, RiserTension, 0.0f},
    {kDemoEffectsLibrary, "Debris_Crackle_Small_01", "Small debris crackle", 1.0f, 1, false, -4.0f, DebrisCrackle, 0.0f},
    {kDemoEffectsLibrary, "Debris_Crackle_Small_02", "Small debris crackle, longer", 1.0f, 1, false, -4.0f, DebrisCrackle, 1.0f},
    {kDemoEffectsLibrary, "Thunder_Distant_Rumble_01", "Distant thunder rumble", 2.5f, 1, false, -3.0f, ThunderRumble, 0.0f},
    {kDemoAmbiencesLibrary, "Rain_Light_Loop", "Light rain, loop", 2.0f, 2, true, -12.0f, RainLight, 0.0f},
    {kDemoAmbiencesLibrary, "Rain_Heavy_Roof", "Heavy rain on a roof, loop", 2.0f, 1, true, -10.0f, RainHeavy, 0.0f},
    {kDemoAmbiencesLibrary, "RoomTone_Office_Hum", "Office room tone with hum, loop", 2.0f, 1, true, -18.0f, RoomToneHum, 0.0f},
    {kDemoAmbiencesLibrary, "RoomTone_Small_Quiet", "Quiet small room tone, loop", 2.0f, 1, true, -24.0f, RoomToneQuiet, 0.0f},
    {kDemoAmbiencesLibrary, "Wind_Gusty_Outdoor", "Gusty outdoor wind, loop", 2.0f, 1, true, -10.0f, WindGusty, 0.0f},
    {kDemoAmbiencesLibrary, "Drone_Dark_Low", "Dark low drone, loop", 2.0f, 1, true, -8.0f, DroneDark, 0.0f},
    {kDemoAmbiencesLibrary, "Drone_Airy_High", "Airy high drone, loop", 2.0f, 1, true, -12.0f, DroneAiry, 0.0f},
    {kDemoAmbiencesLibrary, "Texture_Fire_Crackle", "Fire crackle texture, loop", 2.0f, 1, true, -8.0f, FireCrackle, 0.0f},
    {kDemoAmbiencesLibrary, "Texture_Water_Bubbles", "Water bubbles texture, loop", 2.0f, 1, true, -8.0f, WaterBubbles, 0.0f},
};

constexpr float kLoopSeam = 0.25f;

// One sound's channels, finished: seamless or faded edges, scaled to its peak.
std::vector<Samples> MakeSound(const SoundSpec& spec, std::uint32_t seed) {
    std::vector<Samples> channels;
    for (int c = 0; c < spec.channels; ++c) {
        // Each channel its own noise, so a stereo ambience is wide.
        Random random(seed * 7919u + static_cast<std::uint32_t>(c) * 104729u + 1u);
        Samples samples = spec.make(random, spec.seconds + (spec.loop ? kLoopSeam : 0.0f), spec.variant);
        if (spec.loop) CloseLoop(samples, kLoopSeam);
        else FadeEdges(samples, 0.0f, 0.01f);
        channels.push_back(std::move(samples));
    }
    float peak = 0.0f;
    for (const Samples& samples : channels)
        for (float s : samples) peak = std::max(peak, std::fabs(s));
    const float scale = peak > 0.0f ? std::pow(10.0f, spec.peakDb / 20.0f) / peak : 0.0f;
    for (Samples& samples : channels)
        for (float& s : samples) s *= scale;
    return channels;
}

bool WriteSound(const std::string& path, const SoundSpec& spec, const std::vector<Samples>& channels) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = spec.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_set_string(file, SF_STR_TITLE, spec.title);
    sf_set_string(file, SF_STR_ARTIST, "Korvel demo content");
    const std::size_t frames = channels[0].size();
    std::vector<float> interleaved(frames * channels.size());
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    const auto count = static_cast<sf_count_t>(frames);
    const bool written = sf_writef_float(file, interleaved.data(), count) == count;
    return sf_close(file) == 0 && written;
}

// The library folder of one sound inside the tree.
std::string SoundPath(const fs::path& root, const SoundSpec& spec) {
    return (root / "Libraries" / spec.library / (std::string(spec.name) + ".wav")).string();
}

const SoundSpec* FindSound(std::string_view name) {
    for (const SoundSpec& spec : kSounds)
        if (name == spec.name) return &spec;
    return nullptr;
}

// [SECTION] Recipes and chains

// An event as the designer adds one, resized, its curves drawn again for the
// new length, and given its keywords.
std::int32_t AddKeywordEvent(Project& project, EventKind kind, float time, float duration, const char* keywords,
                             float weightCenter = 0.5f) {
    const std::int32_t index = project.AddEvent(time, KindValue(kind), weightCenter);
    Event& event = project.events[static_cast<std::size_t>(index)];
    event.duration = duration;
    if (kind == EventKind::Bloom) event.syncOffset = 0.5f * duration;
    BuildShapeCurves(event.shape, weightCenter, event.spread, event.weight, event.intensity,
                     duration > 0.0f ? event.syncOffset / duration : 0.5f);
    CopyText(event.keywords, keywords);
    return index;
}

struct RecipeSpec {
    const char* name;
    EventKind kind;
    float duration;
    const char* keywords;
    float weightCenter;
};

constexpr RecipeSpec kRecipes[] = {
    {"Fast Whoosh", EventKind::Bloom, 1.2f, "whoosh fast", 0.6f},
    {"Deep Pass By", EventKind::Bloom, 2.5f, "whoosh deep slow", 0.3f},
    {"Metal Impact", EventKind::Spot, 1.0f, "+impact metal", 0.6f},
    {"Heavy Boom", EventKind::Spot, 1.5f, "impact heavy boom", 0.2f},
    {"Rain Ambience", EventKind::Fill, 8.0f, "rain", 0.5f},
    {"Dark Drone", EventKind::Fill, 8.0f, "drone dark", 0.2f},
    {"Debris Scatter", EventKind::Scatter, 4.0f, "debris crackle", 0.7f},
    {"Wind Swell", EventKind::Contour, 6.0f, "wind", 0.4f},
};

bool WriteRecipes(const fs::path& root, std::string& error) {
    const std::string folder = (root / "Recipes").string();
    for (const RecipeSpec& spec : kRecipes) {
        auto scratch = std::make_unique<Project>();
        const std::int32_t index = AddKeywordEvent(*scratch, spec.kind, 0.0f, spec.duration, spec.keywords, spec.weightCenter);
        EventPreset recipe = CapturePresetFromEvent(scratch->events[static_cast<std::size_t>(index)]);
        CopyText(recipe.name, spec.name);
        std::error_code ec;
        if (!SaveRecipeTo(folder, recipe, ec)) {
            error = "Could not write the recipe " + std::string(spec.name) + ": " + ec.message();
            return false;
        }
    }
    return true;
}

bool WriteChains(const fs::path& root, std::string& error) {
    const std::string folder = (root / "Chains").string();
    struct ChainSpec {
        const char* name;
        void (*fill)(Project&);
    };
    const ChainSpec chains[] = {
        {"Pass By",
         [](Project& p) {
             AddKeywordEvent(p, EventKind::Bloom, 0.0f, 2.0f, "whoosh slow deep", 0.3f);
             AddKeywordEvent(p, EventKind::Spot, 1.0f, 1.0f, "+impact metal", 0.6f);
             AddKeywordEvent(p, EventKind::Scatter, 1.1f, 2.5f, "debris crackle", 0.7f);
         }},
        {"Storm Hit",
         [](Project& p) {
             AddKeywordEvent(p, EventKind::Spot, 0.0f, 1.5f, "impact heavy boom", 0.2f);
             AddKeywordEvent(p, EventKind::Spot, 0.2f, 3.0f, "thunder rumble", 0.2f);
             AddKeywordEvent(p, EventKind::Fill, 0.0f, 8.0f, "rain heavy", 0.5f);
         }},
    };
    for (const ChainSpec& spec : chains) {
        auto scratch = std::make_unique<Project>();
        spec.fill(*scratch);
        std::vector<std::int32_t> indices;
        for (std::size_t i = 0; i < scratch->events.size(); ++i) indices.push_back(static_cast<std::int32_t>(i));
        std::error_code ec;
        if (!SaveChainTo(folder, spec.name, scratch->events, indices, ec)) {
            error = "Could not write the chain " + std::string(spec.name) + ": " + ec.message();
            return false;
        }
    }
    return true;
}

// [SECTION] The project

// The project names its sounds by path alone. Identities live in this
// process's registry, which keeps the first path it saw for a content: a
// tree written twice in one process would name the first tree's files.
// Opening the project gives the copied sounds their identities.
void DropIdentities(Project& project, std::int32_t eventIndex) {
    Event& event = project.events[static_cast<std::size_t>(eventIndex)];
    event.pinnedFileId.clear();
    for (std::string& id : event.pinnedFileIds) id.clear();
    for (LayerResult& layer : project.results)
        if (layer.eventIdx == eventIndex) layer.fileId.clear();
}

bool WriteProject(const fs::path& root, std::string& error) {
    auto project = std::make_unique<Project>();
    project->totalDuration = 20.0f;
    project->fps = 24.0f;
    Project& p = *project;

    // The street's air: rain and a quiet room tone looping under everything.
    const std::int32_t bed = p.AddEvent(0.0f, KindValue(EventKind::Bed), 0.3f);
    p.events[static_cast<std::size_t>(bed)].duration = 20.0f;
    std::vector<std::string> bedFiles;
    for (const char* name : {"Rain_Light_Loop", "RoomTone_Small_Quiet"}) {
        bedFiles.push_back(SoundPath(root, *FindSound(name)));
    }
    AddBedLayerFiles(p, bed, bedFiles, nullptr);
    Event& bedEvent = p.events[static_cast<std::size_t>(bed)];
    std::fill(bedEvent.bedLayerLoop.begin(), bedEvent.bedLayerLoop.end(), std::uint8_t{1});
    {
        LayerStorageEdit edit(p);
        SyncBedEventLayers(p, bed);
    }
    DropIdentities(p, bed);

    AddKeywordEvent(p, EventKind::Fill, 0.0f, 20.0f, "wind", 0.3f);
    AddKeywordEvent(p, EventKind::Bloom, 2.5f, 1.5f, "whoosh fast", 0.6f);
    AddKeywordEvent(p, EventKind::Spot, 4.0f, 1.0f, "+impact metal", 0.6f);
    AddKeywordEvent(p, EventKind::Bloom, 6.0f, 2.5f, "whoosh slow deep", 0.3f);
    AddKeywordEvent(p, EventKind::Spot, 8.5f, 1.0f, "door slam", 0.4f);
    AddKeywordEvent(p, EventKind::Fill, 9.0f, 10.0f, "drone dark", 0.2f);
    AddKeywordEvent(p, EventKind::Scatter, 10.0f, 3.0f, "debris crackle", 0.7f);
    AddKeywordEvent(p, EventKind::Contour, 12.0f, 3.0f, "riser tension", 0.5f);
    AddKeywordEvent(p, EventKind::Spot, 15.2f, 1.5f, "impact heavy boom", 0.2f);

    // The closing thunder is the designer's own take, placed as a Clip.
    const std::string thunder = SoundPath(root, *FindSound("Thunder_Distant_Rumble_01"));
    const std::int32_t clip = p.AddEvent(16.0f, KindValue(EventKind::Clip), 0.3f);
    Event& clipEvent = p.events[static_cast<std::size_t>(clip)];
    CopyText(clipEvent.pinnedFile, thunder);
    clipEvent.usePinnedFile = true;
    clipEvent.duration = 2.5f;

    const fs::path folder = root / "Projects" / kDemoProjectName;
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string path = (folder / (std::string(kDemoProjectName) + ".kvproj")).string();
    const std::string videoPath;
    const std::vector<std::string> libraryPaths;
    const std::string description =
        "A rainy street at night, made from the demo libraries: build it, then play it.";
    const ReverbSettings reverb;
    const TraceAnalysis trace;
    const std::set<std::string> linkedGroups;
    const ProjectSaveRequest request{.project = p,
                                     .videoPath = videoPath,
                                     .libraryPaths = libraryPaths,
                                     .projectDescription = description,
                                     .reverb = reverb,
                                     .scenes = p.scenes,
                                     .traceAnalysis = trace,
                                     .linkedGroups = linkedGroups};
    if (!WriteProjectFile(path, request)) {
        error = "Could not write the project " + path;
        return false;
    }
    return true;
}

}  // namespace

// [SECTION] The whole tree

bool GenerateDemoContent(const std::string& folder, std::string& error) {
    error.clear();
    const fs::path target(folder);
    const fs::path partial(folder + ".partial");
    std::error_code ec;
    // The build tool makes the output's folder before the first run, so an
    // empty one is ours too.
    if (fs::exists(target, ec) && !fs::is_empty(target, ec) && !fs::exists(target / kDemoGeneratedMarker, ec)) {
        error = "Will not replace " + folder + ": this program did not make it";
        return false;
    }
    fs::remove_all(partial, ec);

    std::uint32_t seed = 1;
    for (const SoundSpec& spec : kSounds) {
        const std::string path = SoundPath(partial, spec);
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (!WriteSound(path, spec, MakeSound(spec, seed++))) {
            error = "Could not write the sound " + path;
            return false;
        }
    }
    if (!WriteRecipes(partial, error) || !WriteChains(partial, error) || !WriteProject(partial, error)) return false;
    if (!WriteFileAtomic((partial / kDemoGeneratedMarker).string(), "generated\n")) {
        error = "Could not write the marker in " + partial.string();
        return false;
    }

    fs::remove_all(target, ec);
    fs::rename(partial, target, ec);
    if (ec) {
        error = "Could not move " + partial.string() + " into place: " + ec.message();
        return false;
    }
    return true;
}

}  // namespace korvel
