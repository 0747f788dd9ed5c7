#include "dsp/alloy_bands.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvel {

namespace {

using Section = AlloyBandSection;

enum class SectionKind { LowPass, HighPass, AllPass };

Section MakeSection(double frequency, int32_t sampleRate, SectionKind kind) {
    const double w = 2.0 * std::numbers::pi * frequency / static_cast<double>(sampleRate);
    const double cw = std::cos(w);
    const double alpha = std::sin(w) / 1.4142;
    const double a0 = 1.0 + alpha;
    Section s;
    switch (kind) {
        case SectionKind::HighPass:
            s.b0 = (1.0 + cw) / 2.0 / a0;
            s.b1 = -(1.0 + cw) / a0;
            s.b2 = s.b0;
            break;
        case SectionKind::LowPass:
            s.b0 = (1.0 - cw) / 2.0 / a0;
            s.b1 = (1.0 - cw) / a0;
            s.b2 = s.b0;
            break;
        case SectionKind::AllPass:
            // Low-pass squared plus high-pass squared of the same corner:
            // what a crossover's two branches add up to.
            s.b0 = (1.0 - alpha) / a0;
            s.b1 = -2.0 * cw / a0;
            s.b2 = 1.0;
            break;
    }
    s.a1 = -2.0 * cw / a0;
    s.a2 = (1.0 - alpha) / a0;
    return s;
}

// Runs up to four sections in series sample by sample (transposed direct
// form II, double state, single precision between sections). Keeping the
// stages in one loop lets the processor overlap the stages of neighbouring
// samples instead of walking the buffer four times.
// Each sample is read before its output is written, so `in` may be `out`.
template <int Stages>
void RunCascade(const float* in, float* out, size_t count, const Section* sections) {
    std::array<double, Stages> s1{}, s2{};
    for (size_t i = 0; i < count; ++i) {
        float x = in[i];
        for (int k = 0; k < Stages; ++k) {
            const Section& c = sections[k];
            const double xd = x;
            const double y = c.b0 * xd + s1[static_cast<size_t>(k)];
            s1[static_cast<size_t>(k)] = c.b1 * xd - c.a1 * y + s2[static_cast<size_t>(k)];
            s2[static_cast<size_t>(k)] = c.b2 * xd - c.a2 * y;
            x = static_cast<float>(y);
        }
        out[i] = x;
    }
}

template <int Stages>
void RunCascade(const std::vector<float>& in, std::vector<float>& out, const std::array<Section, 4>& sections) {
    out.resize(in.size());
    RunCascade<Stages>(in.data(), out.data(), in.size(), sections.data());
}

// Any number of sections from `in` into `out` (which may be `in`), four at a
// time, so the signal is walked once per four sections.
void RunSections(const float* in, float* out, size_t count, const std::vector<Section>& sections) {
    for (size_t k = 0; k < sections.size(); k += 4) {
        const float* from = k == 0 ? in : out;
        switch (std::min<size_t>(4, sections.size() - k)) {
            case 4: RunCascade<4>(from, out, count, &sections[k]); break;
            case 3: RunCascade<3>(from, out, count, &sections[k]); break;
            case 2: RunCascade<2>(from, out, count, &sections[k]); break;
            default: RunCascade<1>(from, out, count, &sections[k]); break;
        }
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
    std::array<Section, 4> sections{};
    const Section lowPass = MakeSection(hi, sampleRate, SectionKind::LowPass);
    const Section highPass = MakeSection(lo, sampleRate, SectionKind::HighPass);
    switch (position) {
        case AlloyBandPosition::First:
            sections[0] = sections[1] = lowPass;
            RunCascade<2>(signal, out, sections);
            break;
        case AlloyBandPosition::Last:
            sections[0] = sections[1] = highPass;
            RunCascade<2>(signal, out, sections);
            break;
        case AlloyBandPosition::Middle:
            sections[0] = sections[1] = highPass;
            sections[2] = sections[3] = lowPass;
            RunCascade<4>(signal, out, sections);
            break;
    }
    return out;
}

AlloyBandSplitter::AlloyBandSplitter(const std::vector<double>& edges, int32_t sampleRate) {
    for (const double edge : edges) {
        const Section lp = MakeSection(edge, sampleRate, SectionKind::LowPass);
        const Section hp = MakeSection(edge, sampleRate, SectionKind::HighPass);
        crossovers_.push_back({{lp, lp}, {hp, hp}, MakeSection(edge, sampleRate, SectionKind::AllPass)});
    }
}

void AlloyBandSplitter::Start(const std::vector<float>& signal) {
    remainder_ = signal;
    next_ = 0;
}

void AlloyBandSplitter::NextBand(std::vector<float>& band) {
    const size_t a = next_++;
    if (a >= crossovers_.size()) {  // the top band is what every split left over
        band = remainder_;
        return;
    }
    const Crossover& c = crossovers_[a];
    band.resize(remainder_.size());
    // The bands above go through the crossovers at their own edges; this one
    // gets those crossovers' phase (their all-passes) so the two add up in
    // phase.
    sections_.assign(c.lowPass.begin(), c.lowPass.end());
    for (size_t j = a + 1; j < crossovers_.size(); ++j) sections_.push_back(crossovers_[j].allPass);
    RunSections(remainder_.data(), band.data(), remainder_.size(), sections_);
    RunCascade<2>(remainder_.data(), remainder_.data(), remainder_.size(), c.highPass.data());
}

std::vector<std::vector<float>> AlloyCrossoverBands(const std::vector<float>& signal,
                                                    const std::vector<double>& edges, int32_t sampleRate) {
    AlloyBandSplitter splitter(edges, sampleRate);
    splitter.Start(signal);
    std::vector<std::vector<float>> bands(edges.size() + 1);
    for (auto& band : bands) splitter.NextBand(band);
    return bands;
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

    const auto m = static_cast<int32_t>(params.edges.size()) + 1;
    const int32_t w = std::max<int32_t>(1, params.window);
    const int32_t x = std::max<int32_t>(1, params.crossfade);
    const int32_t windows = (n + w - 1) / w;
    std::array<std::vector<float>, 3> bands;
    std::vector<int> choice(static_cast<size_t>(windows));
    // Separate band filters would leave gaps where neighbouring slopes meet
    // (a flat source came back scooped by about 20 dB in the mids); the
    // crossover tree keeps each band's corners and sums back to the source.
    std::vector<AlloyBandSplitter> splitters;
    for (int l = 0; l < 3; ++l) {
        splitters.emplace_back(params.edges, params.sampleRate);
        if (present[static_cast<size_t>(l)]) splitters.back().Start(slots[static_cast<size_t>(l)]);
    }

    for (int32_t a = 0; a < m; ++a) {
        for (int l = 0; l < 3; ++l)
            if (present[static_cast<size_t>(l)]) splitters[static_cast<size_t>(l)].NextBand(bands[static_cast<size_t>(l)]);

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
