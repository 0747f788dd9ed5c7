// [SECTION] Random draws and the seed
// [SECTION] Steady part
// [SECTION] Segment descriptors
// [SECTION] Excerpt and tiling
// [SECTION] Similarity splicing
// [SECTION] Entry points
#include "engine/loop_fill.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

#include "library/analysis.h"
#include "library/decoded_source_cache.h"
#include "playback/playback_engine.h"
#include "playback/source_region.h"

namespace korvel {

namespace {

// [SECTION] Random draws and the seed

struct FillRandom {
    std::uint32_t state = 0;
    std::int64_t Draw() {
        state = state * 1103515245u + 12345u;
        return static_cast<std::int64_t>(state >> 16);
    }
};

// trunc of a single-precision product, defined for every value.
std::int64_t TruncSeedProduct(float product) {
    if (std::isnan(product)) return 0;
    constexpr float kLimit = 9.0e18f;
    return static_cast<std::int64_t>(std::clamp(product, -kLimit, kLimit));
}

std::int64_t Frames(int rate, double seconds) { return static_cast<std::int64_t>(std::trunc(rate * seconds)); }

// What a fill writes before it lands in a voice.
struct FillResult {
    std::vector<float> left, right;
    std::vector<FillChunk> chunks;
    std::vector<std::array<float, 2>> seams;  // position, width
};

FillChunk Chunk(std::int64_t s, std::int64_t l, std::int64_t x) {
    return {static_cast<std::int32_t>(s), static_cast<std::int32_t>(l), static_cast<std::int32_t>(x)};
}

void AddSeam(FillResult& result, double position, double width) {
    if (result.seams.size() < static_cast<std::size_t>(kVoiceMaxSeams)) {
        result.seams.push_back({static_cast<float>(position), static_cast<float>(width)});
    }
}

// [SECTION] Steady part

struct SteadyPart {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// The stretch between the first and the last run of three blocks at or
// above 70 % of the median level of the middle 60 %, so that fades, swells
// and tails do not get repeated; the whole source when that is short or
// nothing can be judged.
SteadyPart FindSteadyPart(const float* x, std::int64_t n, int sampleRate) {
    const SteadyPart whole{0, n};
    const std::int64_t block = std::max<std::int64_t>(256, Frames(sampleRate, 0.05));
    const std::int64_t blocks = std::max<std::int64_t>(1, n / block);
    std::vector<float> rms(static_cast<std::size_t>(blocks), 0.0f);
    float loudest = 0.0f;
    for (std::int64_t k = 0; k < blocks; ++k) {
        const std::int64_t from = k * block;
        const std::int64_t to = std::min(n, from + block);
        double sum = 0.0;
        for (std::int64_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
        rms[k] = to > from ? static_cast<float>(std::sqrt(sum / static_cast<double>(to - from))) : 0.0f;
        loudest = std::max(loudest, rms[k]);
    }
    if (!(loudest > 1e-8f)) return whole;
    for (float& value : rms) value /= loudest;

    const std::int64_t lo = blocks / 5;
    const std::int64_t hi = std::min(blocks, 4 * blocks / 5);
    if (hi <= lo) return whole;
    std::vector<float> middle(rms.begin() + lo, rms.begin() + hi);
    std::sort(middle.begin(), middle.end());
    const float threshold = 0.7f * middle[middle.size() / 2];
    auto loud = [&](std::int64_t k) { return rms[static_cast<std::size_t>(k)] >= threshold; };

    SteadyPart part = whole;
    for (std::int64_t k = 0; k + 2 < blocks; ++k) {
        if (loud(k) && loud(k + 1) && loud(k + 2)) {
            part.start = k * block;
            break;
        }
    }
    for (std::int64_t k = blocks - 1; k >= 2; --k) {
        if (loud(k) && loud(k - 1) && loud(k - 2)) {
            part.end = std::min(n, (k + 1) * block);
            break;
        }
    }
    if (part.end - part.start < Frames(sampleRate, 0.5)) return whole;
    return part;
}

// [SECTION] Segment descriptors

struct Segment {
    std::int64_t position = 0;
    float rms = 0.0f;
    float brightness = 0.5f;
    float noisiness = 0.5f;
    float zcr = 0.0f;
};

constexpr int kBrightnessSize = 512;

struct BrightnessFft {
    std::unique_ptr<kiss_fftr_state, FftPlanDeleter> plan{kiss_fftr_alloc(kBrightnessSize, 0, nullptr, nullptr)};
    std::array<float, kBrightnessSize> window{};
    std::array<float, kBrightnessSize> frame{};
    std::array<kiss_fft_cpx, kBrightnessSize / 2 + 1> spectrum{};
    BrightnessFft() {
        for (int i = 0; i < kBrightnessSize; ++i) {
            window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (kBrightnessSize - 1)));
        }
    }
};

// The spectral centroid of 512 frames as a fraction of the band.
float Brightness(BrightnessFft& fft, const float* x) {
    for (int i = 0; i < kBrightnessSize; ++i) fft.frame[i] = x[i] * fft.window[i];
    kiss_fftr(fft.plan.get(), fft.frame.data(), fft.spectrum.data());
    double weighted = 0.0, total = 0.0;
    for (int b = 1; b <= kBrightnessSize / 2; ++b) {
        const double magnitude = std::hypot(fft.spectrum[b].r, fft.spectrum[b].i);
        weighted += b * magnitude;
        total += magnitude;
    }
    if (total <= 1e-12) return 0.5f;
    return static_cast<float>(std::clamp(weighted / (256.0 * total), 0.0, 1.0));
}

struct Analysis {
    std::vector<Segment> segments;
    std::int64_t hop = 0;
    std::int64_t window = 0;
};

Analysis AnalyseSegments(const float* x, SteadyPart part, int sampleRate) {
    Analysis a;
    const std::int64_t m = part.end - part.start;
    a.hop = std::max<std::int64_t>(64, Frames(sampleRate, 0.05));
    a.window = std::min(m, 4 * a.hop);
    const std::int64_t count = std::max<std::int64_t>(1, (m - a.window) / a.hop + 1);
    a.segments.resize(static_cast<std::size_t>(count));
    BrightnessFft fft;
    float maxRms = 1e-12f, maxZcr = 1e-12f;
    for (std::int64_t k = 0; k < count; ++k) {
        Segment& seg = a.segments[static_cast<std::size_t>(k)];
        const std::int64_t from = part.start + k * a.hop;
        const std::int64_t len = std::max<std::int64_t>(0, std::min(part.end, from + a.window) - from);
        seg.position = from;
        double sum = 0.0, s = 0.0, r = 0.0;
        std::int64_t crossings = 0;
        double y = len > 0 ? x[from] : 0.0;
        for (std::int64_t i = from; i < from + len; ++i) {
            sum += static_cast<double>(x[i]) * x[i];
            if (i > from && (x[i] >= 0.0f) != (x[i - 1] >= 0.0f)) ++crossings;
            y += (x[i] - y) * 0.05;
            s += (x[i] - y) * (x[i] - y);
            r += y * y;
        }
        seg.rms = len > 0 ? static_cast<float>(std::sqrt(sum / static_cast<double>(len))) : 0.0f;
        seg.zcr = static_cast<float>(static_cast<double>(crossings) / static_cast<double>(std::max<std::int64_t>(1, len - 1)));
        seg.noisiness = s + r > 1e-12 ? static_cast<float>(s / (s + r)) : 0.5f;
        if (len >= kBrightnessSize) {
            seg.brightness = Brightness(fft, x + from + (len - kBrightnessSize) / 2);
        } else {
            seg.brightness = len == 0 ? 0.5f : std::clamp(5.0f * seg.zcr, 0.0f, 1.0f);
        }
        maxRms = std::max(maxRms, seg.rms);
        maxZcr = std::max(maxZcr, seg.zcr);
    }
    for (Segment& seg : a.segments) {
        seg.rms /= maxRms;
        seg.zcr /= maxZcr;
    }
    return a;
}

float Distance(const Segment& a, const Segment& b) {
    const float dr = a.rms - b.rms, db = a.brightness - b.brightness, dn = a.noisiness - b.noisiness,
                dz = a.zcr - b.zcr;
    return std::sqrt(4.0f * dr * dr + 2.0f * db * db + 2.0f * dn * dn + dz * dz);
}

// [SECTION] Excerpt and tiling

void RenderExcerpt(const std::vector<float>& left, const std::vector<float>& right, bool stereo, SteadyPart part,
                   std::int64_t total, FillRandom& random, FillResult& result) {
    const std::int64_t m = part.end - part.start;
    const std::int64_t offset = part.start + random.Draw() % std::max<std::int64_t>(1, m - total);
    result.left.assign(left.begin() + offset, left.begin() + offset + total);
    if (stereo) result.right.assign(right.begin() + offset, right.begin() + offset + total);
    result.chunks.push_back(Chunk(offset, total, 0));
}

// False when the steady part is no longer than its crossfade: tiles would
// never advance.
bool RenderTiles(const std::vector<float>& left, const std::vector<float>& right, bool stereo, SteadyPart part,
                 std::int64_t total, bool loop, int sampleRate, FillResult& result) {
    const std::int64_t m = part.end - part.start;
    std::int64_t xf;
    if (loop && m >= Frames(sampleRate, 0.3)) {
        std::int64_t q = Frames(sampleRate, 0.25);
        if (m / 8 >= q) q = std::min(m / 8, Frames(sampleRate, 2.0));
        xf = std::min(q, m / 3);
    } else {
        xf = std::min(m / 4, Frames(sampleRate, 0.02));
    }
    xf = std::max<std::int64_t>(1, xf);
    if (m - xf <= 0) return false;

    result.left.assign(static_cast<std::size_t>(total), 0.0f);
    if (stereo) result.right.assign(static_cast<std::size_t>(total), 0.0f);
    for (std::int64_t t = 0, p = 0; p < total; ++t, p += m - xf) {
        const std::int64_t c = std::min(m, total - p);
        const std::int64_t fade = t == 0 ? 0 : std::min(xf, c);
        auto tile = [&](const std::vector<float>& src, std::vector<float>& out) {
            for (std::int64_t i = 0; i < fade; ++i) {
                const float angle = SpliceAngle(i, xf);
                out[p + i] = std::sin(angle) * src[part.start + i] + std::cos(angle) * out[p + i];
            }
            std::copy(src.begin() + part.start + fade, src.begin() + part.start + c, out.begin() + p + fade);
        };
        tile(left, result.left);
        if (stereo) tile(right, result.right);
        if (t > 0) AddSeam(result, static_cast<double>(p) / total, static_cast<double>(xf) / total);
        result.chunks.push_back(Chunk(part.start, c, fade));
    }
    return true;
}

// [SECTION] Similarity splicing

void RenderSplices(const std::vector<float>& left, const std::vector<float>& right, bool stereo, SteadyPart part,
                   std::int64_t total, int lane, int sampleRate, FillRandom& random, FillResult& result) {
    const std::int64_t start = part.start, end = part.end, m = end - start;
    const Analysis analysis = AnalyseSegments(left.data(), part, sampleRate);
    const std::vector<Segment>& segs = analysis.segments;
    const std::int64_t hop = analysis.hop, window = analysis.window;
    const auto count = static_cast<std::int64_t>(segs.size());

    double variation = 0.0;
    if (count >= 3) {
        for (std::int64_t k = 1; k < count; ++k) variation += Distance(segs[k - 1], segs[k]);
        variation /= static_cast<double>(count - 1);
    }
    const bool varied = variation > 0.12;

    const std::int64_t k = std::max<std::int64_t>(1, (total + m - 1) / m);
    const std::int64_t base = std::max(std::min(m, total / k), Frames(sampleRate, 0.3));
    const std::int64_t ninety = static_cast<std::int64_t>(std::trunc(0.9 * static_cast<double>(base)));
    const std::int64_t hundredTen = static_cast<std::int64_t>(std::trunc(1.1 * static_cast<double>(base)));
    const std::int64_t minChunk = std::min(m, std::max(ninety, 2 * hop));
    const std::int64_t maxChunk = std::max(std::min(m, std::max(hundredTen, std::max(ninety, 2 * hop) + hop)), minChunk);
    const std::int64_t xfMax = std::min(minChunk / 3, Frames(sampleRate, varied ? 2.0 : 0.5));
    const std::int64_t xfMin = std::max<std::int64_t>(64, std::min(xfMax, Frames(sampleRate, varied ? 0.5 : 0.3)));
    const std::int64_t minJump = std::min(m / 3, std::max(static_cast<std::int64_t>(std::trunc(0.2 * static_cast<double>(m))),
                                                          Frames(sampleRate, 0.3)));
    const std::int64_t latestStart = std::max(start, end - minChunk);

    result.left.assign(static_cast<std::size_t>(total), 0.0f);
    if (stereo) result.right.assign(static_cast<std::size_t>(total), 0.0f);
    const auto sourceFrames = static_cast<std::int64_t>(left.size());

    // Lanes 0 to 3 begin a quarter of the steady part apart.
    std::int64_t next = start + std::max<std::int64_t>(0, std::min(std::max<std::int64_t>(0, m - minChunk),
                                                                   (m / 4) * (lane % 4)));
    std::int64_t w = 0;
    std::int64_t previousEnd = -1;
    bool hasPrevious = false;
    struct Candidate {
        std::int64_t position;
        float cost;
    };
    std::vector<Candidate> candidates;
    candidates.reserve(segs.size());

    while (w < total) {
        const std::int64_t o = next < start ? start : std::min(next, latestStart);
        std::int64_t len = minChunk + random.Draw() % std::max<std::int64_t>(1, maxChunk - minChunk);
        len = std::min(len, end - o);
        len = std::max(len, std::min(end - o, minChunk));

        const std::int64_t r = std::clamp<std::int64_t>((o + len - start - window / 2) / hop, 0, count - 1);
        float trendRms = 0.0f, trendNoise = 0.0f;
        const bool trend = varied && r > 0;
        if (trend) {
            trendRms = segs[r].rms - segs[r - 1].rms;
            trendNoise = segs[r].noisiness - segs[r - 1].noisiness;
        }

        candidates.clear();
        for (std::int64_t c = 0; c < count; ++c) {
            const std::int64_t p = segs[c].position;
            if (std::llabs(p - (o + len)) < minJump) continue;
            if (2 * std::llabs(p - o) < minJump) continue;
            if (hasPrevious && 2 * std::llabs(p - previousEnd) < minJump) continue;
            if (p + minChunk > end) continue;
            float cost = Distance(segs[c], segs[r]);
            if (varied && c > 0) {
                cost += 2.0f * std::fabs(trendRms - (segs[c].rms - segs[c - 1].rms)) +
                        1.5f * std::fabs(trendNoise - (segs[c].noisiness - segs[c - 1].noisiness));
            }
            candidates.push_back({p, cost});
        }
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const Candidate& a, const Candidate& b) { return a.cost < b.cost; });

        const std::int64_t choiceDraw = random.Draw();
        float cost = 1.0f;
        if (!candidates.empty()) {
            const std::size_t best = std::min<std::size_t>(candidates.size(), varied ? 2 : 4);
            double totalWeight = 0.0;
            for (std::size_t i = 0; i < best; ++i) totalWeight += 1.0 / (candidates[i].cost + 0.001);
            const double target = static_cast<double>(choiceDraw) / 65535.0 * totalWeight;
            std::size_t pick = 0;
            double running = 0.0;
            for (std::size_t i = 0; i < best; ++i) {
                running += 1.0 / (candidates[i].cost + 0.001);
                if (running >= target) {
                    pick = i;
                    break;
                }
            }
            next = candidates[pick].position;
            cost = candidates[pick].cost;
        } else {
            next = start + choiceDraw % std::max<std::int64_t>(1, latestStart - start);
        }

        const std::int64_t xf =
            xfMin + static_cast<std::int64_t>(std::trunc(static_cast<double>(xfMax - xfMin) *
                                                         std::clamp(2.0 * cost, 0.3, 1.0)));
        len = std::min({len, total - w + xf, end - o});
        const std::int64_t h = w == 0 ? 0 : std::min({len, w, xf});
        // At very low rates the crossfade floor can swallow a whole chunk;
        // the rest then stays silent rather than looping in place.
        if (len - h <= 0) break;

        std::int64_t shift = 0;
        if (h > 0 && w > 128) {
            const std::int64_t range = std::min({h / 4, std::int64_t{128}, o - start, end - len - o});
            const std::int64_t span = std::min<std::int64_t>(h / 2, 256);
            if (range >= 5 && span >= 17 && w - span >= 0) {
                double bestCorrelation = -std::numeric_limits<double>::infinity();
                for (std::int64_t s = -range; s <= range; ++s) {
                    if (o + s < start || o + s + span >= end) continue;
                    double ab = 0.0, aa = 0.0, bb = 0.0;
                    for (std::int64_t j = 0; j < span; j += 2) {
                        const double a = result.left[w - span + j];
                        const double b = left[o + s + j];
                        ab += a * b;
                        aa += a * a;
                        bb += b * b;
                    }
                    const double root = std::sqrt(aa * bb);
                    const double correlation = root > 1e-12 ? ab / root : 0.0;
                    if (correlation > bestCorrelation) {
                        bestCorrelation = correlation;
                        shift = s;
                    }
                }
            }
        }
        const std::int64_t g = std::min(o + shift, std::max(start, end - len));

        const FillChunk chunk = Chunk(g, len, h);
        WriteSplice(chunk, w, left.data(), sourceFrames, result.left.data(), total);
        if (stereo) WriteSplice(chunk, w, right.data(), sourceFrames, result.right.data(), total);
        if (h > 0) {
            const double f = static_cast<double>(w - h / 2) / static_cast<double>(total);
            if (f > 0.0 && f < 1.0) AddSeam(result, f, static_cast<double>(h) / total);
        }
        result.chunks.push_back(chunk);
        w += len - h;
        previousEnd = g + len;
        hasPrevious = true;
    }
}

}  // namespace

// [SECTION] Entry points

std::uint32_t LoopFillSeed(const std::string& path, float sourceOffset, float targetDuration, int lane) {
    const std::int64_t offsetPart = TruncSeedProduct(sourceOffset * 10000.0f);
    const std::int64_t lengthPart = TruncSeedProduct(targetDuration * 1000.0f);
    std::uint32_t seed = static_cast<std::uint32_t>(static_cast<std::uint64_t>(offsetPart ^ lengthPart));
    seed ^= static_cast<std::uint32_t>(lane) * 0x9E3779B1u;
    std::uint32_t hash = 5381u;
    for (unsigned char byte : path) hash = hash * 33u + byte;
    return seed ^ hash;
}

void RenderLoopFillFromSource(const std::vector<float>& left, const std::vector<float>& right,
                              const std::string& path, float sourceOffset, float targetDuration, int sampleRate,
                              Voice& voice, int lane, bool loop, std::vector<FillChunk>* chunks) {
    const auto n = static_cast<std::int64_t>(left.size());
    const bool stereo = !right.empty() && right.size() >= left.size();
    const std::int64_t total = RenderFrames(sampleRate, targetDuration);

    // The voice's own storage is written in place: a voice rendered again
    // keeps its buffers rather than faulting in fresh pages.
    FillResult result;
    result.left = std::move(voice.samplesL);
    result.right = std::move(voice.samplesR);
    result.left.clear();
    result.right.clear();
    bool written = false;
    if (n >= 2 && sampleRate >= 1) {
        const SteadyPart part = FindSteadyPart(left.data(), n, sampleRate);
        const std::int64_t m = part.end - part.start;
        FillRandom random{LoopFillSeed(path, sourceOffset, targetDuration, lane)};
        if (m >= 2 * total) {
            RenderExcerpt(left, right, stereo, part, total, random, result);
            written = true;
        } else if (loop || m < Frames(sampleRate, 0.3)) {
            written = RenderTiles(left, right, stereo, part, total, loop, sampleRate, result);
        } else {
            RenderSplices(left, right, stereo, part, total, lane, sampleRate, random, result);
            written = true;
        }
    }
    if (!written) {
        // Nothing to repeat: silence of the requested length, no splice.
        result.chunks.clear();
        result.seams.clear();
        result.left.assign(static_cast<std::size_t>(total), 0.0f);
        result.right.clear();
        if (stereo) result.right.assign(static_cast<std::size_t>(total), 0.0f);
    }

    voice.samplesL = std::move(result.left);
    voice.samplesR = std::move(result.right);
    voice.stereo = stereo;
    voice.frameCount = static_cast<std::int32_t>(total);
    voice.seamCount = static_cast<std::int32_t>(result.seams.size());
    for (std::size_t i = 0; i < result.seams.size(); ++i) {
        voice.seamPositions[i] = result.seams[i][0];
        voice.seamWidths[i] = result.seams[i][1];
    }
    voice.spliceCount = static_cast<std::int32_t>(std::min<std::size_t>(result.chunks.size(), kVoiceMaxSplices));
    std::copy_n(result.chunks.begin(), voice.spliceCount, voice.splices.begin());
    if (chunks) *chunks = std::move(result.chunks);
}

bool RenderLoopFill(const std::string& path, float sourceOffset, float targetDuration, int sampleRate, bool stereo,
                    Voice& voice, int lane, bool loop, std::vector<FillChunk>* chunks) {
    if (sampleRate < 1) return false;
    std::vector<float> left, right;
    int decodedRate = 0;
    bool decodedStereo = false;
    if (!GetDecodedSource(path, sourceOffset, static_cast<float>(kDecodedSourceMaxSeconds), sampleRate, stereo, left,
                          right, decodedRate, decodedStereo)) {
        return false;
    }
    if (!decodedStereo) right.clear();
    RenderLoopFillFromSource(left, right, path, sourceOffset, targetDuration, sampleRate, voice, lane, loop, chunks);
    return true;
}

}  // namespace korvel
