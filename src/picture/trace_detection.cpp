// Suggested events from the picture's measure curves: the detector curves
// (energy, smoothed motion, composite, adaptive threshold), up to four
// passes of peaks and sweeps peeled out of a residual, then shots between
// colour cuts and long regions of motion.
//
// [SECTION] Curve helpers
// [SECTION] Detector curves
// [SECTION] Peak and sweep passes
// [SECTION] Shots and long regions
// [SECTION] DetectTraceEvents
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "picture/trace_analysis.h"

namespace korvel {

void SampleCompositeCurve(const TraceAnalysis& analysis, float a, float b, float* out, int count) {
    if (out == nullptr || count <= 0) return;
    const std::vector<FrameMeasures>& f = analysis.frames;
    const int last = static_cast<int>(f.size()) - 1;
    float lo = 1e9f;
    float hi = 0.0f;
    for (int j = 0; j < count; ++j) {
        const float t = count > 1 ? a + static_cast<float>(j) * (b - a) / static_cast<float>(count - 1) : a;
        float value = 0.0f;
        if (last >= 0) {
            const float x = analysis.fps * t;
            const int i = static_cast<int>(x);
            const int index = i >= 0 ? std::min(i, last) : 0;
            const int next = std::min(index + 1, last);
            const float c = f[static_cast<std::size_t>(index)].composite;
            value = c + (x - static_cast<float>(index)) * (f[static_cast<std::size_t>(next)].composite - c);
        }
        out[j] = value;
        lo = std::min(lo, value);
        hi = std::max(hi, value);
    }
    const float range = hi - lo;
    for (int j = 0; j < count; ++j) out[j] = range < 0.001f ? 0.5f : std::clamp((out[j] - lo) / range, 0.0f, 1.0f);
}

namespace {

// ---------------------------------------------------------------------------
// [SECTION] Curve helpers

struct Candidate {
    int frame = 0;
    float value = 0.0f;
    float prominence = 0.0f;
    float width = 0.0f;  // seconds
};

// Marks over candidate or event slots; one bit each.
class BitSet {
public:
    void Reset(std::size_t n) { words_.assign((n + 63) / 64, 0); }
    void Set(std::size_t i) { words_[i / 64] |= std::uint64_t{1} << (i % 64); }
    bool Test(std::size_t i) const { return (words_[i / 64] >> (i % 64)) & 1u; }

private:
    std::vector<std::uint64_t> words_;
};

float ExtentWalk(const std::vector<float>& x, int i, float level, float period) {
    const int n = static_cast<int>(x.size());
    int left = i;
    int right = i;
    while (left > 0 && x[static_cast<std::size_t>(left) - 1] > level) --left;
    while (right < n - 1 && x[static_cast<std::size_t>(right) + 1] > level) ++right;
    return static_cast<float>(right - left) * period;
}

float Prominence(const std::vector<float>& x, int i) {
    const float peak = x[static_cast<std::size_t>(i)];
    float leftMin = peak;
    for (int j = i - 1; j >= 0 && x[static_cast<std::size_t>(j)] < peak; --j) {
        leftMin = std::min(leftMin, x[static_cast<std::size_t>(j)]);
    }
    // A flat top (a one-frame flash measures the same on the frames into and
    // out of it) is one peak: its equal values are walked over, else it
    // would have no prominence at all.
    std::size_t j = static_cast<std::size_t>(i) + 1;
    while (j < x.size() && x[j] == peak) ++j;
    float rightMin = peak;
    for (; j < x.size() && x[j] < peak; ++j) rightMin = std::min(rightMin, x[j]);
    return peak - std::max(leftMin, rightMin);
}

// Mean of x over [i − r, i + r] clipped to the curve.
std::vector<float> BoxMean(const std::vector<float>& x, int r) {
    const int n = static_cast<int>(x.size());
    std::vector<double> prefix(x.size() + 1, 0.0);
    for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + x[i];
    std::vector<float> out(x.size());
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - r);
        const int hi = std::min(n - 1, i + r);
        out[i] = static_cast<float>((prefix[hi + 1] - prefix[lo]) / (hi - lo + 1));
    }
    return out;
}

struct Detector {
    TraceAnalysis& a;
    const TraceSettings& settings;
    std::vector<FrameMeasures>& f;
    int n = 0;
    float period = 0.1f;
    bool modelValid = false;

    float Time(int i) const { return f[static_cast<std::size_t>(i)].time; }

    float WeightCentre(int i) const {
        const FrameMeasures& m = f[static_cast<std::size_t>(i)];
        float w = 0.7f * m.luma + 0.15f - 0.15f * m.motion + 0.05f * m.warmth;
        if (modelValid) w += a.model.weightBias;
        return std::clamp(w, 0.05f, 0.95f);
    }

    // First frame whose time is at least t (times rise frame by frame).
    int FirstAtOrAfter(float t) const {
        const auto it = std::lower_bound(f.begin(), f.end(), t,
                                         [](const FrameMeasures& m, float v) { return m.time < v; });
        return static_cast<int>(it - f.begin());
    }

    void FillCurve(TraceDetection& d, float start, float end) const {
        SampleCompositeCurve(a, start, end, d.intensityCurve.data(), kCurvePoints);
        d.hasIntensityCurve = true;
    }

    // -----------------------------------------------------------------------
    // [SECTION] Detector curves

    // Fills energy, smoothedMotion, composite and threshold; returns the
    // normalised motion m.
    std::vector<float> Curves(std::vector<float>& c) {
        float maxMotion = 0.0f;
        for (const FrameMeasures& m : f) maxMotion = std::max(maxMotion, m.motion);
        const float norm = maxMotion > 0.001f ? 1.0f / maxMotion : 1.0f;
        std::vector<float> m(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) m[i] = norm * f[i].motion;

        for (int i = 0; i < n; ++i) {
            const float spike = (i > 0 && i < n - 1) ? std::max(0.0f, m[i] - 0.5f * (m[i - 1] + m[i + 1])) : 0.0f;
            const float sa = 2.0f * spike;
            const float sb = 3.0f * std::fabs(f[i].lumaDelta);
            const float sh = 2.0f * f[i].histogramChange;
            f[i].energy = std::clamp(0.5f * (sh * spike + sb * spike + sh * sb) + std::max({sa, sb, sh}), 0.0f, 1.0f);
        }
        const std::vector<float> smoothed = BoxMean(m, std::max(1, static_cast<int>(0.25f * a.fps)));
        for (int i = 0; i < n; ++i) f[i].smoothedMotion = smoothed[i];

        std::vector<float> raw(static_cast<std::size_t>(n));
        if (modelValid) {
            const auto& w = a.model.w;
            double sum = 0.0;
            for (int i = 0; i < n; ++i) {
                raw[i] = w[0] * f[i].energy + w[1] * f[i].smoothedMotion + w[2] * std::fabs(f[i].lumaDelta) +
                         w[3] * f[i].histogramChange + w[4] * m[i];
                sum += raw[i];
            }
            const float mean = static_cast<float>(sum / n);
            if (a.model.defaultCompositeMean > 0.001f && mean > 0.001f) {
                const float scale = a.model.defaultCompositeMean / mean;
                for (float& v : raw) v *= scale;
            }
        } else {
            for (int i = 0; i < n; ++i) {
                raw[i] = 0.3f * f[i].energy + 0.35f * f[i].smoothedMotion + 0.1f * f[i].histogramChange + 0.25f * m[i];
            }
        }
        c = BoxMean(raw, 1);
        for (int i = 0; i < n; ++i) f[i].composite = c[i];

        // Median and MAD of the window before each frame, by partial
        // selection on two scratch buffers.
        const int window = std::max(5, static_cast<int>(settings.window * a.fps));
        std::vector<float> values(static_cast<std::size_t>(window));
        std::vector<float> deviations(static_cast<std::size_t>(window));
        f[0].threshold = 0.05f;
        for (int i = 1; i < n; ++i) {
            const int k = std::min(i, window);
            std::copy(c.begin() + (i - k), c.begin() + i, values.begin());
            const int mid = k / 2;
            std::nth_element(values.begin(), values.begin() + mid, values.begin() + k);
            const float median = values[mid];
            for (int j = 0; j < k; ++j) deviations[j] = std::fabs(c[i - k + j] - median);
            std::nth_element(deviations.begin(), deviations.begin() + mid, deviations.begin() + k);
            f[i].threshold = std::max(0.02f, median + 1.5f * 1.4826f * deviations[mid]);
        }
        return m;
    }

    // -----------------------------------------------------------------------
    // [SECTION] Peak and sweep passes

    // Orders candidates by prominence and marks in `gone` every one that a
    // standing, more prominent candidate suppresses. `close(a, b)` says
    // whether b falls to a; `reach` bounds, in frames, how far that can be.
    std::vector<int> rankAt;  // scratch: candidate rank by frame, -1 none

    template <typename Close>
    void Suppress(std::vector<Candidate>& cands, BitSet& gone, Close close, int reach) {
        std::stable_sort(cands.begin(), cands.end(),
                         [](const Candidate& x, const Candidate& y) { return x.prominence > y.prominence; });
        gone.Reset(cands.size());
        rankAt.assign(static_cast<std::size_t>(n), -1);
        for (std::size_t r = 0; r < cands.size(); ++r) rankAt[cands[r].frame] = static_cast<int>(r);
        // Few candidates, or a long reach: comparing them pairwise is cheaper
        // than walking the frames around each.
        const bool pairwise = cands.size() < static_cast<std::size_t>(2 * reach + 1);
        for (std::size_t r = 0; r < cands.size(); ++r) {
            if (gone.Test(r)) continue;
            if (pairwise) {
                for (std::size_t other = r + 1; other < cands.size(); ++other) {
                    if (!gone.Test(other) && close(cands[r], cands[other])) gone.Set(other);
                }
                continue;
            }
            const int at = cands[r].frame;
            for (int j = std::max(0, at - reach); j <= std::min(n - 1, at + reach); ++j) {
                const int other = rankAt[j];
                if (other > static_cast<int>(r) && !gone.Test(other) && close(cands[r], cands[other])) gone.Set(other);
            }
        }
    }

    // Frames within `seconds` of frame i reach at most this many steps.
    int Reach(float seconds) const { return static_cast<int>(std::ceil(seconds / period)) + 1; }

    void Passes(const std::vector<float>& composite) {
        std::vector<float> residual = composite;
        std::vector<float> c = composite;
        BitSet gone;
        for (int p = 0; p < 4; ++p) {
            if (p >= 1) {
                const float top = *std::max_element(residual.begin(), residual.end());
                if (top < 0.001f) break;
                for (int i = 0; i < n; ++i) c[i] = residual[i] / top;
                // The curves of this pass's events are sampled from it.
                for (int i = 0; i < n; ++i) f[i].composite = c[i];
            }
            const std::size_t start = a.events.size();

            const float base = modelValid ? a.model.minGap : settings.minGap;
            float g = std::max(3.0f * period, base);
            if (p > 0) g *= 0.5f / static_cast<float>(p);
            const float gap = std::max(2.0f * period, g);

            const float v = std::max(0.0f, *std::max_element(c.begin(), c.end()));
            const float floor = 0.01f * v;

            std::vector<Candidate> peaks;
            for (int i = 1; i < n - 1; ++i) {
                if (c[i] > c[i - 1] && c[i] >= c[i + 1] && c[i] > floor) {
                    Candidate cand{i, c[i], Prominence(c, i), 0.0f};
                    cand.width = ExtentWalk(c, i, c[i] - cand.prominence / 2.0f, period);
                    peaks.push_back(cand);
                }
            }
            Suppress(
                peaks, gone,
                [&](const Candidate& x, const Candidate& y) { return std::fabs(Time(y.frame) - Time(x.frame)) < gap; },
                Reach(gap));
            std::vector<Candidate> standing;
            for (std::size_t r = 0; r < peaks.size(); ++r) {
                if (!gone.Test(r)) standing.push_back(peaks[r]);
            }
            std::sort(standing.begin(), standing.end(),
                      [](const Candidate& x, const Candidate& y) { return x.frame < y.frame; });

            float pmax = 0.0f;
            for (const Candidate& s : standing) pmax = std::max(pmax, s.prominence);
            if (pmax < 0.001f) pmax = 1.0f;
            const float pf = static_cast<float>(p);
            const float fP = 1.0f / (1.0f + 0.5f * pf);
            const float fQ = 1.0f / (1.0f + pf);
            const float fO = 1.0f / (1.0f + 0.7f * pf);

            for (const Candidate& s : standing) {
                TraceDetection d;
                const bool wide = s.width >= (p == 0 ? 0.5f : 0.3f);
                d.time = Time(s.frame);
                d.type = wide ? 1 : 0;
                d.suggestedShape = wide ? KindValue(EventKind::Bloom) : KindValue(EventKind::Spot);
                d.tier = 0;
                d.peelLayer = p;
                d.confidence = s.prominence / pmax * fP;
                d.intensity = std::clamp(s.value / std::max(0.001f, v) * fQ, 0.0f, 1.0f);
                d.suggestedGain = std::max(0.05f, std::min(1.0f, (s.prominence / pmax * 0.85f + 0.15f) * fO));
                d.suggestedWeightCenter = WeightCentre(s.frame);
                const float extent = ExtentWalk(c, s.frame, s.value - 0.85f * s.prominence, period);
                float dur;
                if (wide) {
                    dur = p > 0 ? std::clamp(0.7f * extent, 0.4f, 4.0f) : std::clamp(extent, 0.6f, 6.0f);
                    if (modelValid) dur *= a.model.sweepDurScale;
                    d.suggestedSyncOffset = dur / 2.0f;
                    d.suggestedSpread = std::clamp(0.2f * s.width, 0.1f, 0.5f);
                } else {
                    dur = p > 0 ? std::clamp(0.7f * extent, 0.2f, 1.5f) : std::clamp(extent, 0.3f, 2.5f);
                    if (modelValid) dur *= a.model.spotDurScale;
                    d.suggestedSyncOffset = 0.0f;
                    d.suggestedSpread = 0.0f;
                }
                d.suggestedDuration = dur;
                const float spanStart = std::max(0.0f, d.time - d.suggestedSyncOffset);
                FillCurve(d, spanStart, std::min(a.duration, spanStart + dur));
                d.accepted = true;
                a.events.push_back(d);
            }

            Sweeps(c, p, v, floor, fP, fQ, fO, gone);
            GapRule(start, gap);
            if (p <= 2) Peel(residual, start);
        }
    }

    void Sweeps(const std::vector<float>& c, int p, float v, float floor, float fP, float fQ, float fO, BitSet& gone) {
        const std::vector<float> s = BoxMean(c, std::max(3, static_cast<int>(0.75f * a.fps)));
        std::vector<Candidate> cands;
        for (int i = 5; i <= n - 6; ++i) {
            if (s[i] < 2.0f * floor) continue;
            bool top = true;
            for (int j = i - 5; j <= i + 5 && top; ++j) {
                if (j != i && s[j] > s[i] + 0.0005f) top = false;
            }
            if (!top) continue;
            Candidate cand{i, s[i], Prominence(s, i), 0.0f};
            cand.width = ExtentWalk(s, i, s[i] - cand.prominence / 2.0f, period);
            cands.push_back(cand);
        }
        const float minApart = p == 0 ? 1.0f : 0.5f;
        float widest = 0.0f;
        for (const Candidate& cand : cands) widest = std::max(widest, cand.width);
        Suppress(
            cands, gone,
            [&](const Candidate& x, const Candidate& y) {
                return static_cast<float>(std::abs(x.frame - y.frame)) * period <
                       std::max(minApart, 0.5f * std::max(x.width, y.width));
            },
            Reach(std::max(minApart, 0.5f * widest)));

        const float wmin = p == 0 ? 0.5f : 0.3f;
        float top = 0.0f;
        for (std::size_t r = 0; r < cands.size(); ++r) {
            if (!gone.Test(r) && cands[r].width >= wmin) top = std::max(top, cands[r].prominence);
        }
        if (top < 0.001f) top = 1.0f;
        for (std::size_t r = 0; r < cands.size(); ++r) {
            const Candidate& cand = cands[r];
            if (gone.Test(r) || cand.width < wmin) continue;
            const float t = Time(cand.frame);
            bool covered = false;
            for (const TraceDetection& e : a.events) {
                if (e.type == 1 && std::fabs(e.time - t) < std::max(0.5f, 0.3f * e.suggestedDuration)) {
                    covered = true;
                    break;
                }
            }
            if (covered) continue;
            TraceDetection d;
            float dur = 1.1f * cand.width;
            const float shortest = p == 0 ? 0.8f : 0.4f;
            dur = dur < shortest ? shortest : std::min(dur, 8.0f);
            if (modelValid) dur *= a.model.sweepDurScale;
            d.time = t;
            d.type = 1;
            d.suggestedShape = KindValue(EventKind::Bloom);
            d.tier = 0;
            d.peelLayer = p;
            d.confidence = cand.prominence / top * fP;
            d.intensity = std::clamp(cand.value / std::max(0.001f, v) * fQ, 0.0f, 1.0f);
            d.suggestedGain = std::max(0.05f, std::min(1.0f, (d.confidence * 0.8f + 0.2f) * fO));
            d.suggestedWeightCenter = WeightCentre(cand.frame);
            d.suggestedSpread = std::clamp(0.08f * dur, 0.1f, 0.5f);
            d.suggestedDuration = dur;
            d.suggestedSyncOffset = dur / 2.0f;
            const float spanStart = std::max(0.0f, t - dur / 2.0f);
            FillCurve(d, spanStart, std::min(a.duration, spanStart + dur));
            d.accepted = true;
            a.events.push_back(d);
        }
    }

    // Keeps this pass's events a gap apart: of a closer pair the weaker one
    // goes (the later on a tie), and the scan moves on after a removal.
    void GapRule(std::size_t start, float gap) {
        const std::size_t count = a.events.size() - start;
        if (count < 2) return;
        std::vector<std::size_t> byTime(count);
        std::iota(byTime.begin(), byTime.end(), start);
        std::stable_sort(byTime.begin(), byTime.end(),
                         [&](std::size_t x, std::size_t y) { return a.events[x].time < a.events[y].time; });
        std::vector<std::size_t> place(count);
        for (std::size_t r = 0; r < count; ++r) place[byTime[r] - start] = r;
        BitSet removed;
        removed.Reset(count);
        std::vector<std::size_t> near;
        for (std::size_t i = start; i < a.events.size(); ++i) {
            if (removed.Test(i - start)) continue;
            const float t = a.events[i].time;
            // The later events within the gap, in their order.
            near.clear();
            const std::size_t at = place[i - start];
            for (std::size_t r = at; r-- > 0 && t - a.events[byTime[r]].time < gap;) near.push_back(byTime[r]);
            for (std::size_t r = at + 1; r < count && a.events[byTime[r]].time - t < gap; ++r) near.push_back(byTime[r]);
            std::sort(near.begin(), near.end());
            for (const std::size_t j : near) {
                if (j <= i || removed.Test(j - start)) continue;
                if (a.events[j].intensity <= a.events[i].intensity) {
                    removed.Set(j - start);
                } else {
                    removed.Set(i - start);
                    break;
                }
            }
        }
        std::size_t out = start;
        for (std::size_t i = start; i < a.events.size(); ++i) {
            if (removed.Test(i - start)) continue;
            if (out != i) a.events[out] = a.events[i];
            ++out;
        }
        a.events.resize(out);
    }

    void Peel(std::vector<float>& residual, std::size_t start) const {
        for (std::size_t e = start; e < a.events.size(); ++e) {
            const TraceDetection& d = a.events[e];
            const float dp = std::max(0.3f, 0.6f * d.suggestedDuration);
            for (int j = std::max(0, FirstAtOrAfter(d.time - dp) - 1); j < n; ++j) {
                const float dt = std::fabs(Time(j) - d.time);
                if (Time(j) > d.time && dt >= dp) break;
                if (dt >= dp) continue;
                const float ratio = dt / dp;
                residual[j] *= 1.0f - 0.9f * std::exp(-4.5f * ratio * ratio);
            }
        }
        for (float& r : residual) r = std::max(0.0f, r);
    }

    // -----------------------------------------------------------------------
    // [SECTION] Shots and long regions

    struct Shot {
        int first = 0;
        int last = 0;
        float luma = 0.0f, warmth = 0.0f, saturation = 0.0f, motion = 0.0f;
    };

    void Shots() {
        std::vector<int> cuts{0};
        for (int i = 1; i < n; ++i) {
            if (f[i].histogramChange > 0.25f) cuts.push_back(i);
        }
        if (cuts.back() != n - 1) cuts.push_back(n - 1);
        std::vector<Shot> merged;
        bool haveCurrent = false;
        Shot current;
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const int first = cuts[k];
            const int last = cuts[k + 1];
            if (last - first < 2) continue;
            Shot s{first, last};
            for (int i = first; i <= last; ++i) {
                s.luma += f[i].luma;
                s.warmth += f[i].warmth;
                s.saturation += f[i].saturation;
                s.motion += f[i].smoothedMotion;
            }
            const float count = static_cast<float>(last - first + 1);
            s.luma /= count;
            s.warmth /= count;
            s.saturation /= count;
            s.motion /= count;
            if (!haveCurrent) {
                current = s;
                haveCurrent = true;
                continue;
            }
            const float distance = 0.5f * std::fabs(s.warmth - current.warmth) + std::fabs(s.luma - current.luma) +
                                   0.3f * std::fabs(s.saturation - current.saturation);
            if (distance < 0.25f) {
                const float wc = static_cast<float>(current.last - current.first);
                const float ws = static_cast<float>(s.last - s.first);
                const auto mix = [&](float x, float y) { return (x * wc + y * ws) / (wc + ws); };
                current.luma = mix(current.luma, s.luma);
                current.warmth = mix(current.warmth, s.warmth);
                current.saturation = mix(current.saturation, s.saturation);
                current.motion = mix(current.motion, s.motion);
                current.last = s.last;
            } else {
                merged.push_back(current);
                current = s;
            }
        }
        if (haveCurrent) merged.push_back(current);

        for (const Shot& s : merged) {
            const float d = Time(s.last) - Time(s.first);
            if (d < 2.0f) continue;
            TraceDetection e;
            e.time = Time(s.first);
            e.type = 2;
            e.suggestedShape = KindValue(EventKind::Fill);
            e.tier = 2;
            e.peelLayer = 0;
            e.confidence = std::clamp(d / 10.0f, 0.3f, 0.9f);
            e.suggestedDuration = d;
            e.suggestedSyncOffset = 0.0f;
            e.intensity = 0.4f;
            e.suggestedGain = std::clamp(2.0f * s.motion + 0.15f, 0.15f, 0.45f);
            float w = 0.7f * s.luma + 0.15f - 0.15f * s.motion + 0.05f * s.warmth;
            if (modelValid) w += a.model.weightBias;
            e.suggestedWeightCenter = std::clamp(w, 0.05f, 0.95f);
            e.suggestedSpread = 0.1f;
            FillCurve(e, Time(s.first), Time(s.last));
            for (float& value : e.intensityCurve) value = 0.2f + 0.4f * value;
            e.accepted = false;
            a.events.push_back(e);
        }
    }

    void LongRegions() {
        std::vector<float> motion(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) motion[i] = f[i].smoothedMotion;
        const std::vector<float> x = BoxMean(motion, std::max(5, static_cast<int>(a.fps)));
        float top = *std::max_element(x.begin(), x.end());
        if (top < 0.001f) top = 1.0f;
        const float level = (1.0f - settings.sensitivity) * 0.5f * top;
        for (int i = 0; i < n;) {
            if (!(x[i] > level)) {
                ++i;
                continue;
            }
            const int first = i;
            int peak = i;
            while (i < n && x[i] > level) {
                if (x[i] > x[peak]) peak = i;
                ++i;
            }
            const int last = i - 1;
            const float t0 = Time(first);
            const float t1 = Time(last);
            const float d = t1 - t0;
            if (d < 1.5f) continue;
            bool covered = false;
            for (const TraceDetection& e : a.events) {
                if (e.type != 1) continue;
                const float s0 = e.time - e.suggestedSyncOffset;
                const float overlap = std::min(t1, s0 + e.suggestedDuration) - std::max(t0, s0);
                if (overlap > 0.4f * d) {
                    covered = true;
                    break;
                }
            }
            if (covered) continue;
            const float q = x[peak] / top;
            TraceDetection e;
            e.time = Time(peak);
            e.type = 1;
            e.suggestedShape = KindValue(EventKind::Bloom);
            e.tier = 0;
            e.peelLayer = 0;
            e.confidence = std::clamp(0.6f * q, 0.05f, 0.5f);
            e.intensity = std::clamp(0.6f * q, 0.1f, 0.6f);
            e.suggestedGain = std::clamp(0.3f * q + 0.1f, 0.1f, 0.4f);
            const float dur = std::clamp(d, 1.5f, 6.0f);
            e.suggestedDuration = dur;
            e.suggestedSyncOffset = dur / 2.0f;
            e.suggestedSpread = std::clamp(0.05f * d, 0.1f, 0.4f);
            e.suggestedWeightCenter = WeightCentre(peak);
            const float spanStart = std::max(0.0f, e.time - dur / 2.0f);
            FillCurve(e, spanStart, std::min(a.duration, spanStart + dur));
            e.accepted = true;
            a.events.push_back(e);
        }
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] DetectTraceEvents

void DetectTraceEvents(TraceAnalysis& analysis, const TraceSettings& settings) {
    analysis.events.clear();
    const int done = std::max(0, analysis.framesDone.load(std::memory_order_acquire));
    analysis.frames.resize(static_cast<std::size_t>(done));
    const int n = done;
    if (n < 5) {
        analysis.numFrames = n;
        analysis.valid = true;
        return;
    }
    Detector d{analysis, settings, analysis.frames, n, 1.0f / std::max(1.0f, analysis.fps), analysis.model.valid, {}};

    std::vector<float> composite;
    d.Curves(composite);
    std::vector<float> threshold(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) threshold[i] = analysis.frames[i].threshold;
    d.Passes(composite);

    float top = 0.0f;
    for (int i = 0; i < n; ++i) {
        analysis.frames[i].composite = composite[i];
        analysis.frames[i].threshold = threshold[i];
        top = std::max(top, composite[i]);
    }
    analysis.maxCompositeEnergy = top < 0.001f ? 1.0f : top;

    d.Shots();
    d.LongRegions();
    std::stable_sort(analysis.events.begin(), analysis.events.end(),
                     [](const TraceDetection& x, const TraceDetection& y) { return x.time < y.time; });
    analysis.numFrames = n;
    analysis.valid = true;
}

}  // namespace korvel
