#include "dsp/alloy_blend.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "dsp/alloy_stft.h"

namespace korvel {

namespace {

constexpr int kHop = 512;

// A fixed phase per source, from its path and the primary's offset.
float SourcePhase(const std::string& path, float primaryOffset) {
    const uint32_t h = AlloyPathHash(path);
    const float scaled = 1000.0f * primaryOffset;
    // Out-of-range offsets would make the conversion undefined; they only
    // need to give some fixed value.
    const auto offset = std::isfinite(scaled) && std::fabs(scaled) < 2.0e9f ? static_cast<int64_t>(scaled) : 0;
    const uint32_t q = h ^ static_cast<uint32_t>(offset);
    return static_cast<float>(q % 10000u) / 10000.0f * (2.0f * std::numbers::pi_v<float>);
}

struct BlendWork {
    std::array<AlloySpectrum, 4> x;
    AlloySpectrum u;
    std::array<AlloyMagnitudes, 3> weight;
    AlloyMagnitudes envelope, reference, envelopeMean, referenceMean, magnitude, previous;
    std::array<float, kAlloyBins> logFrequency;
    std::array<float, kAlloyBins> flatten;  // 0 below 6 kHz, rising to 1
};

}  // namespace

AlloyBlendParams MakeAlloyBlendParams(const LayerResult& layer, int32_t sampleRate, int32_t frames,
                                      const std::array<bool, kAlloySlotCount>& present) {
    AlloyBlendParams p;
    p.frames = frames;
    p.sampleRate = sampleRate;
    p.morph = std::clamp(layer.alloyMorph, 0.0f, 1.0f);
    const std::array<const std::string*, 3> paths = {&layer.filepath, &layer.alloyMid.filepath,
                                                     &layer.alloyHigh.filepath};
    for (size_t l = 0; l < 3; ++l)
        p.phases[l] = present[l] && !paths[l]->empty() ? SourcePhase(*paths[l], layer.sourceOffset) : 0.0f;
    p.curves = AlloyCurvesOf(layer);
    return p;
}

void AlloyBlendKernel(const AlloyBlendParams& params, const AlloySlotVectors& slots,
                      const std::array<bool, kAlloySlotCount>& present, AlloyFft& fft, std::vector<float>& out) {
    const int n = params.frames;
    if (n < 1) {
        out.clear();
        return;
    }
    const float m = params.morph;
    const float binHz = static_cast<float>(params.sampleRate) / kAlloyFftSize;
    const float slope = 1.5f * m + 1.5f;
    const float wobble = 6.0f * m * m;
    const float matchDepth = 0.6f * m + 0.25f;
    const bool hasEnvelope = present[3];

    const auto work = std::make_unique<BlendWork>();
    std::array<int, kAlloyBins> halfWidths{};
    const float quarterRate = static_cast<float>(params.sampleRate) / 4.0f;
    for (int b = 0; b < kAlloyBins; ++b) {
        const float hz = static_cast<float>(b) * binHz;
        halfWidths[static_cast<size_t>(b)] = std::clamp(static_cast<int>(hz * 0.5f / binHz), 2, kAlloyMaxHalfWidth);
        work->logFrequency[static_cast<size_t>(b)] = std::log(std::max(20.0f, hz));
        float u = 0.0f;
        if (hz > 6000.0f) {
            // Below a 24 kHz rate the quarter rate lies under 6 kHz and the
            // ramp would run backwards; the bands are simply equal there.
            const float t = quarterRate > 6000.0f ? std::min(1.0f, (hz - 6000.0f) / (quarterRate - 6000.0f)) : 1.0f;
            u = t * t * (3.0f - 2.0f * t);
        }
        work->flatten[static_cast<size_t>(b)] = u;
    }
    BoxSmoother meanSmoother(halfWidths);
    work->previous.fill(0.0f);

    // Cross-frequency smoothing above morph 0.15: 1 to 4 bins each side.
    const bool smoothAcross = m > 0.15f;
    const float across = (m - 0.15f) / 0.85f;
    const int radius = smoothAcross ? 1 + static_cast<int>(std::floor(3.0f * across)) : 0;
    std::array<float, 5> acrossWeight{};
    for (int j = 1; j <= radius; ++j)
        acrossWeight[static_cast<size_t>(j)] =
            0.7f * across * across *
            std::exp(-0.5f * static_cast<float>(j * j) / static_cast<float>(radius * radius + 1));

    AlloyOverlapAdd frames(n, kHop);
    for (int i = frames.beginFrame(); i < frames.endFrame(); ++i) {
        const int s = kHop * i;
        const bool firstFrame = i == frames.beginFrame();
        for (size_t l = 0; l < 4; ++l) {
            if (present[l]) fft.Analyse(slots[l], s, work->x[l]);
            else if (firstFrame) work->x[l].fill(kiss_fft_cpx{0.0f, 0.0f});
        }
        const float position = frames.Position(s);
        const float cw = params.curves.valid ? SampleAlloyCurve(params.curves.tone, position) : 0.5f;
        const float cg = params.curves.valid ? SampleAlloyCurve(params.curves.gain, position) : 1.0f;

        // Crossovers, moved up or down by the tone value.
        const float f = std::exp2((8.0f * m + 2.0f) * (2.0f * cw - 1.0f));
        const float lo = std::clamp(400.0f * f, 80.0f, 2000.0f);
        const float hi = std::clamp(4000.0f * f, 800.0f, 12000.0f);
        const float logLo = std::log(lo);
        const float logHi = std::log(std::max(2.0f * lo, hi));

        for (size_t b = 0; b < kAlloyBins; ++b) {
            const float x = work->logFrequency[b];
            float wl = 1.0f / (1.0f + std::exp((x - logLo) * slope));
            float wh = 1.0f / (1.0f + std::exp((logHi - x) * slope));
            float wm = std::max(0.0f, 1.0f - wl - wh);
            const float sum = wl + wm + wh;
            if (sum > 0.0f) {
                wl /= sum;
                wm /= sum;
                wh /= sum;
            } else {
                wl = wm = wh = 1.0f / 3.0f;
            }
            const float u = work->flatten[b];
            if (u > 0.0f) {
                wl = wl * (1.0f - u) + u / 3.0f;
                wm = wm * (1.0f - u) + u / 3.0f;
                wh = wh * (1.0f - u) + u / 3.0f;
            }
            // Absent sources hand their share on; what lands on another
            // absent slot is not played.
            if (!present[0]) {
                wm += wl / 2.0f;
                wh += wl / 2.0f;
                wl = 0.0f;
            }
            if (!present[1]) {
                wl += wm / 2.0f;
                wh += wm / 2.0f;
                wm = 0.0f;
            }
            if (!present[2]) {
                wl += wh / 2.0f;
                wm += wh / 2.0f;
                wh = 0.0f;
            }
            work->weight[0][b] = wl;
            work->weight[1][b] = wm;
            work->weight[2][b] = wh;
        }

        if (hasEnvelope) {
            for (size_t b = 0; b < kAlloyBins; ++b) {
                float re = 0.0f, im = 0.0f;
                for (size_t l = 0; l < 3; ++l) {
                    re += work->weight[l][b] * work->x[l][b].r;
                    im += work->weight[l][b] * work->x[l][b].i;
                }
                work->reference[b] = std::sqrt(re * re + im * im);
            }
            MagnitudesOf(work->x[3], work->envelope);
            meanSmoother.Smooth(work->envelope, work->envelopeMean);
            meanSmoother.Smooth(work->reference, work->referenceMean);
        }

        // Phase offsets grow linearly with frequency, like a small time
        // shift, so each source's offset is a rotation stepped bin by bin.
        work->u.fill(kiss_fft_cpx{0.0f, 0.0f});
        for (size_t l = 0; l < 3; ++l) {
            if (!present[l]) continue;
            const double k = static_cast<double>(l + 1);
            const double di = static_cast<double>(i);
            const double theta = 0.6 * wobble * std::sin(0.031 * k * di + 2.1) + wobble * std::sin(0.07 * k * di) +
                                 static_cast<double>(params.phases[l]);
            const double step = theta / kAlloyBins;
            const double stepRe = std::cos(step), stepIm = std::sin(step);
            double rotRe = 1.0, rotIm = 0.0;
            const auto& x = work->x[l];
            const auto& w = work->weight[l];
            for (size_t b = 0; b < kAlloyBins; ++b) {
                if (w[b] >= 1e-6f) {
                    const float cr = static_cast<float>(rotRe), ci = static_cast<float>(rotIm);
                    work->u[b].r += w[b] * (x[b].r * cr - x[b].i * ci);
                    work->u[b].i += w[b] * (x[b].r * ci + x[b].i * cr);
                }
                const double nr = rotRe * stepRe - rotIm * stepIm;
                rotIm = rotRe * stepIm + rotIm * stepRe;
                rotRe = nr;
            }
        }

        const float alpha = (1.0f - (0.8f - 0.4f * m) * cg) * (0.45f * m + 0.4f);
        const float temporalDepth = alpha * (0.5f * m + 0.25f);
        for (size_t b = 0; b < kAlloyBins; ++b) {
            kiss_fft_cpx& u = work->u[b];
            if (hasEnvelope && work->referenceMean[b] > 1e-8f) {
                const float ratio = work->envelopeMean[b] / work->referenceMean[b];
                const float g = std::clamp(1.0f + matchDepth * std::tanh(0.8f * (ratio - 1.0f)), 0.3f, 2.5f);
                u.r *= g;
                u.i *= g;
            }
            const float mag = std::sqrt(u.r * u.r + u.i * u.i);
            const float y = firstFrame ? mag : (1.0f - alpha) * mag + alpha * work->previous[b];
            work->previous[b] = y;
            if (mag > 1e-8f && alpha > 0.02f) {
                const float g = std::clamp(1.0f + (y / mag - 1.0f) * temporalDepth, 0.5f, 2.2f);
                u.r *= g;
                u.i *= g;
            }
        }

        if (smoothAcross) {
            MagnitudesOf(work->u, work->magnitude);
            const auto& mags = work->magnitude;
            for (int b = 0; b < kAlloyBins; ++b) {
                const float mb = mags[static_cast<size_t>(b)];
                if (!(mb > 1e-10f)) continue;
                float sum = mb;
                float weights = 1.0f;
                for (int j = 1; j <= radius; ++j) {
                    const float wj = acrossWeight[static_cast<size_t>(j)];
                    if (b - j >= 0) {
                        sum += wj * mags[static_cast<size_t>(b - j)];
                        weights += wj;
                    }
                    if (b + j < kAlloyBins) {
                        sum += wj * mags[static_cast<size_t>(b + j)];
                        weights += wj;
                    }
                }
                const float g = sum / weights / mb;
                work->u[static_cast<size_t>(b)].r *= g;
                work->u[static_cast<size_t>(b)].i *= g;
            }
        }

        frames.Add(fft, work->u, s);
    }
    frames.Finish(out);
}

}  // namespace korvel
