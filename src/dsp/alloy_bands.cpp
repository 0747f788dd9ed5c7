#include "dsp/alloy_bands.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvel {

namespace {

struct Section {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

Section MakeSection(double frequency, int32_t sampleRate, bool highPass) {
    const double w = 2.0 * std::numbers::pi * frequency / static_cast<double>(sampleRate);
    const double cw = std::cos(w);
    const double alpha = std::sin(w) / 1.4142;
    const double a0 = 1.0 + alpha;
    Section s;
    if (highPass) {
        s.b0 = (1.0 + cw) / 2.0 / a0;
        s.b1 = -(1.0 + cw) / a0;
    } else {
        s.b0 = (1.0 - cw) / 2.0 / a0;
        s.b1 = (1.0 - cw) / a0;
    }
    s.b2 = s.b0;
    s.a1 = -2.0 * cw / a0;
    s.a2 = (1.0 - alpha) / a0;
    return s;
}

// Runs up to four sections in series sample by sample (transposed direct
// form II, double state, single precision between sections). Keeping the
// stages in one loop lets the processor overlap the stages of neighbouring
// samples instead of walking the buffer four times.
template <int Stages>
void RunCascade(const std::vector<float>& in, std::vector<float>& out, const std::array<Section, 4>& sections) {
    std::array<double, Stages> s1{}, s2{};
    out.resize(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        float x = in[i];
        for (int k = 0; k < Stages; ++k) {
            const Section& c = sections[static_cast<size_t>(k)];
            const double xd = x;
            const double y = c.b0 * xd + s1[static_cast<size_t>(k)];
            s1[static_cast<size_t>(k)] = c.b1 * xd - c.a1 * y + s2[static_cast<size_t>(k)];
            s2[static_cast<size_t>(k)] = c.b2 * xd - c.a2 * y;
            x = static_cast<float>(y);
        }
        out[i] = x;
    }
}

void FilterBandInto(const std::vector<float>& signal, double lo, double hi, AlloyBandPosition position,
                    int32_t sampleRate, std::vector<float>& out) {
    std::array<Section, 4> sections{};
    switch (position) {
        case AlloyBandPosition::First:
            sections[0] = sections[1] = MakeSection(hi, sampleRate, false);
            RunCascade<2>(signal, out, sections);
            break;
        case AlloyBandPosition::Last:
            sections[0] = sections[1] = MakeSection(lo, sampleRate, true);
            RunCascade<2>(signal, out, sections);
            break;
        case AlloyBandPosition::Middle:
            sections[0] = sections[1] = MakeSection(lo, sampleRate, true);
            sections[2] = sections[3] = MakeSection(hi, sampleRate, false);
            RunCascade<4>(signal, out, sections);
            break;
    }
}

float WindowRms(const std::vector<float>& band, int32_t begin, int32_t end) {
    double sum = 0.0;
    for (int32_t i = begin; i < end; ++i) sum += static_cast<double>(band[static_cast<size_t>(i)]) * band[static_cast<size_t>(i)];
    return end > begin ? static_cast<float>(std::sqrt(sum / (end - begin))) : 0.0f;
}

}  // namespace

std::vector<float> FilterBand(const std::vector<float>& signal, double lo, double hi, AlloyBandPosition position,
                              int32_t sampleRate) {
    std::vector<float> out;
    FilterBandInto(signal, lo, hi, position, sampleRate, out);
    return out;
}

std::vector<double> AlloyBandEdges(int32_t bandCount, double base, double top) {
    std::vector<double> edges;
    for (int32_t k = 0; k + 1 < bandCount; ++k)
        edges.push_back(base * std::pow(top / base, static_cast<double>(k + 1) / bandCount));
    return edges;
}

std::vector<float> AlloyToneBySample(const AlloyCurves& curves, int32_t frames) {
    std::vector<float> tone(static_cast<size_t>(std::max(0, frames)), 0.5f);
    if (!curves.valid) return tone;
    const float span = static_cast<float>(std::max(1, frames - 1));
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = SampleAlloyCurve(curves.tone, static_cast<float>(i) / span);
    return tone;
}

AlloyBandsParams MakeAlloyBandsParams(const LayerResult& layer, int32_t sampleRate, int32_t frames) {
    AlloyBandsParams p;
    p.frames = frames;
    p.sampleRate = sampleRate;
    p.bandCount = std::clamp(layer.alloyFilterBands, 4, 24);
    const double nyquist = sampleRate * 0.5;
    p.edges = AlloyBandEdges(p.bandCount, 200.0, std::min(0.9 * nyquist, 16000.0));
    p.tilt = AlloyToneBySample(AlloyCurvesOf(layer), frames);
    p.window = std::max(64, sampleRate / 20);
    p.crossfade = std::max(32, std::min(frames / 8, sampleRate / 200));
    return p;
}

void AlloyFilterBandsKernel(const AlloyBandsParams& params, const AlloySlotVectors& slots,
                            const std::array<bool, kAlloySlotCount>& present, std::vector<float>& out) {
    const int32_t n = std::max(0, params.frames);
    out.assign(static_cast<size_t>(n), 0.0f);
    int firstPresent = -1;
    for (int l = 2; l >= 0; --l)
        if (present[static_cast<size_t>(l)]) firstPresent = l;
    if (n == 0 || firstPresent < 0) return;

    const int32_t m = params.bandCount;
    const int32_t w = std::max<int32_t>(1, params.window);
    const int32_t x = std::max<int32_t>(1, params.crossfade);
    const int32_t windows = (n + w - 1) / w;
    const double nyquist = params.sampleRate * 0.5;
    std::array<std::vector<float>, 3> bands;
    std::vector<int> choice(static_cast<size_t>(windows));

    for (int32_t a = 0; a < m; ++a) {
        const double lo = a == 0 ? 0.0 : params.edges[static_cast<size_t>(a) - 1];
        const double hi = a == m - 1 ? nyquist : params.edges[static_cast<size_t>(a)];
        const auto position = a == 0 ? AlloyBandPosition::First
                              : a == m - 1 ? AlloyBandPosition::Last
                                           : AlloyBandPosition::Middle;
        for (int l = 0; l < 3; ++l)
            if (present[static_cast<size_t>(l)])
                FilterBandInto(slots[static_cast<size_t>(l)], lo, hi, position, params.sampleRate,
                               bands[static_cast<size_t>(l)]);

        // The previous choice scores 1.4 times its level, so a source has to
        // be clearly louder to take a band over; ties go to the lower slot.
        for (int32_t k = 0; k < windows; ++k) {
            const int32_t begin = k * w;
            const int32_t end = std::min(n, begin + w);
            int best = -1;
            float bestScore = 0.0f;
            for (int l = 0; l < 3; ++l) {
                if (!present[static_cast<size_t>(l)]) continue;
                float score = WindowRms(bands[static_cast<size_t>(l)], begin, end);
                if (k > 0 && choice[static_cast<size_t>(k) - 1] == l) score *= 1.4f;
                if (best < 0 || score > bestScore) {
                    best = l;
                    bestScore = score;
                }
            }
            choice[static_cast<size_t>(k)] = best;
        }

        const float p = static_cast<float>(a) / static_cast<float>(std::max(1, m - 1)) * 2.0f - 1.0f;
        int current = choice[0];
        int previous = current;
        int32_t remaining = 0;
        for (int32_t j = 0; j < n; ++j) {
            const int wanted = choice[static_cast<size_t>(std::min(windows - 1, j / w))];
            if (wanted != current && remaining == 0) {
                previous = current;
                current = wanted;
                remaining = x;
            }
            float v;
            if (remaining > 0) {
                const float theta = (1.0f - static_cast<float>(remaining) / static_cast<float>(x)) *
                                    (std::numbers::pi_v<float> * 0.5f);
                v = std::cos(theta) * bands[static_cast<size_t>(previous)][static_cast<size_t>(j)] +
                    std::sin(theta) * bands[static_cast<size_t>(current)][static_cast<size_t>(j)];
                --remaining;
            } else {
                v = bands[static_cast<size_t>(current)][static_cast<size_t>(j)];
            }
            const float gain =
                std::clamp((params.tilt[static_cast<size_t>(j)] - 0.5f) * 1.5f * p + 1.0f, 0.15f, 2.5f);
            out[static_cast<size_t>(j)] += gain * v;
        }
    }
}

}  // namespace korvel
