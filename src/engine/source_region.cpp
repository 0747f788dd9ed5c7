#include "engine/source_region.h"

// [SECTION] Reading windows of a file
// [SECTION] Peak and onset
// [SECTION] The two caches: envelope and transient segments
// [SECTION] Bins, curves and automatic fades
// [SECTION] Choosing the region

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>

#include "library/audio_file.h"
#include "library/library.h"

namespace korvel {

namespace {

// [SECTION] Reading windows of a file

constexpr sf_count_t kReadBlockFrames = 8192;

struct OpenWindow {
    SoundFilePtr file;
    SF_INFO info{};
    sf_count_t first = 0;  // frames
    sf_count_t count = 0;
};

// Converts seconds to a frame position in double and clamps before the
// cast: stored offsets and lengths can be negative or absurdly large.
sf_count_t FramesAt(double seconds, double rate, sf_count_t limit) {
    const double frames = seconds * rate;
    if (!(frames > 0.0)) return 0;
    if (frames >= static_cast<double>(limit)) return limit;
    return static_cast<sf_count_t>(frames);
}

// Opens the file and clamps [from, from + length] to it. False when the file
// cannot be opened or has no usable rate or channels.
bool OpenFileWindow(const std::string& path, double from, double length, OpenWindow& window) {
    window.file = OpenSoundFile(path, window.info);
    if (!window.file || window.info.samplerate <= 0 || window.info.channels <= 0 || window.info.frames < 0)
        return false;
    const double rate = window.info.samplerate;
    window.first = FramesAt(from, rate, window.info.frames);
    window.count = FramesAt(length, rate, window.info.frames - window.first);
    return true;
}

// Reads up to `frames` frames of the window into `block` (interleaved) from
// wherever the file stands; returns the frames read.
sf_count_t ReadFrames(OpenWindow& window, std::vector<float>& block, sf_count_t frames) {
    block.resize(static_cast<std::size_t>(frames * window.info.channels));
    const sf_count_t got = sf_readf_float(window.file.get(), block.data(), frames);
    return got > 0 ? got : 0;
}

bool SeekWindow(OpenWindow& window) { return sf_seek(window.file.get(), window.first, SEEK_SET) >= 0; }

// Per-frame sums of squares over all channels of the window's first
// `limit` frames (fewer when the read ends early).
std::vector<double> FrameSquares(OpenWindow& window, sf_count_t limit) {
    std::vector<double> squares;
    if (!SeekWindow(window)) return squares;
    squares.reserve(static_cast<std::size_t>(limit));
    std::vector<float> block;
    const int channels = window.info.channels;
    while (static_cast<sf_count_t>(squares.size()) < limit) {
        const sf_count_t want = std::min(kReadBlockFrames, limit - static_cast<sf_count_t>(squares.size()));
        const sf_count_t got = ReadFrames(window, block, want);
        if (got == 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) {
                const double v = block[static_cast<std::size_t>(f * channels + c)];
                sum += v * v;
            }
            squares.push_back(sum);
        }
    }
    return squares;
}

}  // namespace

// [SECTION] Peak and onset

float FindPeakTime(const LibraryFile& file, float from, float length) {
    OpenWindow window;
    if (!OpenFileWindow(file.path, from, length, window) || window.count <= 0 || !SeekWindow(window)) return 0.0f;
    const int channels = window.info.channels;
    std::vector<float> block;
    sf_count_t done = 0;
    sf_count_t best = 0;
    double bestSum = -1.0;
    while (done < window.count) {
        const sf_count_t got = ReadFrames(window, block, std::min(kReadBlockFrames, window.count - done));
        if (got == 0) break;
        for (sf_count_t f = 0; f < got; ++f) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += std::fabs(block[static_cast<std::size_t>(f * channels + c)]);
            if (sum > bestSum) {
                bestSum = sum;
                best = done + f;
            }
        }
        done += got;
    }
    return static_cast<float>(static_cast<double>(best) / window.info.samplerate);
}

float FindOnsetTime(const LibraryFile& file, float from, float length) {
    OpenWindow window;
    if (!OpenFileWindow(file.path, from, length, window) || window.count <= 0) return 0.0f;
    const sf_count_t block = std::max<sf_count_t>(32, window.info.samplerate / 500);
    const sf_count_t blocks = window.count / block;
    if (blocks < 2) {
        window.file.reset();
        return FindPeakTime(file, from, length);
    }
    if (!SeekWindow(window)) return 0.0f;
    std::vector<float> samples;
    std::vector<double> levels;
    levels.reserve(static_cast<std::size_t>(blocks));
    for (sf_count_t b = 0; b < blocks; ++b) {
        const sf_count_t got = ReadFrames(window, samples, block);
        if (got == 0) break;
        const std::size_t n = static_cast<std::size_t>(got * window.info.channels);
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) sum += static_cast<double>(samples[i]) * samples[i];
        levels.push_back(std::sqrt(sum / static_cast<double>(n)));
    }
    if (levels.empty()) return 0.0f;
    const double loudest = *std::max_element(levels.begin(), levels.end());
    if (loudest < 1e-6) return 0.0f;
    std::size_t first = 0;
    while (levels[first] < 0.2 * loudest) ++first;
    return static_cast<float>(static_cast<double>(first) * static_cast<double>(block) / window.info.samplerate);
}

// [SECTION] The two caches: envelope and transient segments

namespace {

// Both caches are shared by the build job and the recipe preview bake, which
// clears them on its own thread: each has its own lock, and readers take
// copies. Keyed by path only; never evicted, emptied at the start of builds.
struct EnvelopeCacheMap {
    std::mutex mutex;
    std::unordered_map<std::string, std::vector<float>> entries;
};
struct TransientCacheMap {
    std::mutex mutex;
    std::unordered_map<std::string, std::vector<TransientSegment>> entries;
};
EnvelopeCacheMap EnvelopeCache;
TransientCacheMap TransientCache;

}  // namespace

void ClearSourceRegionCaches() {
    std::unordered_map<std::string, std::vector<float>> envelopes;
    std::unordered_map<std::string, std::vector<TransientSegment>> transients;
    {
        std::lock_guard lock(EnvelopeCache.mutex);
        envelopes.swap(EnvelopeCache.entries);
    }
    {
        std::lock_guard lock(TransientCache.mutex);
        transients.swap(TransientCache.entries);
    }
    // Freed here, outside the locks.
}

std::vector<float> GetEnergyEnvelope(const LibraryFile& file, float pointsPerSecond) {
    {
        std::lock_guard lock(EnvelopeCache.mutex);
        const auto it = EnvelopeCache.entries.find(file.path);
        if (it != EnvelopeCache.entries.end()) return it->second;
    }
    OpenWindow window;
    if (!OpenFileWindow(file.path, 0.0, 1e300, window) || window.info.frames <= 0 || !SeekWindow(window)) return {};
    const sf_count_t frames = window.info.frames;
    const double wanted = static_cast<double>(pointsPerSecond) * static_cast<double>(frames) / window.info.samplerate;
    const std::int64_t n = wanted >= 1.0 ? static_cast<std::int64_t>(std::min(wanted, 1e8)) : 1;
    std::vector<double> sums(static_cast<std::size_t>(n), 0.0);
    std::vector<std::int64_t> counts(static_cast<std::size_t>(n), 0);
    const int channels = window.info.channels;
    std::vector<float> block;
    sf_count_t k = 0;
    while (k < frames) {
        const sf_count_t got = ReadFrames(window, block, std::min(kReadBlockFrames, frames - k));
        if (got == 0) break;
        for (sf_count_t f = 0; f < got; ++f, ++k) {
            double g = 0.0;
            for (int c = 0; c < channels; ++c) g += std::fabs(block[static_cast<std::size_t>(f * channels + c)]);
            g /= channels;
            // 64-bit: an hour at 48 kHz makes k × n pass 10^13.
            const std::int64_t bin = std::clamp<std::int64_t>(static_cast<std::int64_t>(k) * n / frames, 0, n - 1);
            sums[static_cast<std::size_t>(bin)] += g * g;
            ++counts[static_cast<std::size_t>(bin)];
        }
    }
    std::vector<float> envelope(static_cast<std::size_t>(n), 0.0f);
    for (std::size_t i = 0; i < envelope.size(); ++i)
        if (counts[i] > 0) envelope[i] = static_cast<float>(std::sqrt(sums[i] / static_cast<double>(counts[i])));
    std::lock_guard lock(EnvelopeCache.mutex);
    EnvelopeCache.entries[file.path] = envelope;
    return envelope;
}

std::vector<TransientSegment> GetTransientSegments(const LibraryFile& file, float fileDuration,
                                                   float minSegmentSeconds) {
    {
        std::lock_guard lock(TransientCache.mutex);
        const auto it = TransientCache.entries.find(file.path);
        if (it != TransientCache.entries.end()) return it->second;
    }
    OpenWindow window;
    if (!OpenFileWindow(file.path, 0.0, 1e300, window) || window.info.frames <= 0 || !SeekWindow(window)) return {};

    // One pass in blocks over the mono mix: the peak, and the sum of squares
    // of every 512-sample hop. Frames of 1024 samples are two hops, and their
    // energies divided by the squared peak are those of the peak-normalised
    // signal, so the whole file is never held in memory.
    constexpr std::int64_t kHop = 512;
    const int channels = window.info.channels;
    std::vector<double> hopSquares;
    std::vector<float> block;
    double peak = 0.0;
    std::int64_t samples = 0;
    while (samples < window.info.frames) {
        const sf_count_t got = ReadFrames(window, block, std::min(kReadBlockFrames, window.info.frames - samples));
        if (got == 0) break;
        for (sf_count_t f = 0; f < got; ++f, ++samples) {
            double mono = 0.0;
            for (int c = 0; c < channels; ++c) mono += block[static_cast<std::size_t>(f * channels + c)];
            mono /= channels;
            peak = std::max(peak, std::fabs(mono));
            if (samples % kHop == 0) hopSquares.push_back(0.0);
            hopSquares.back() += mono * mono;
        }
    }
    if (!(peak >= 1e-8)) return {};

    const std::int64_t count = std::max<std::int64_t>(1, (samples - 1024) / kHop);
    std::vector<double> energy(static_cast<std::size_t>(count));
    const double peakSquared = peak * peak;
    double largest = 0.0;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t covered = std::min<std::int64_t>(1024, samples - kHop * i);
        double sum = hopSquares[static_cast<std::size_t>(i)];
        if (static_cast<std::size_t>(i + 1) < hopSquares.size() && covered > kHop)
            sum += hopSquares[static_cast<std::size_t>(i + 1)];
        energy[static_cast<std::size_t>(i)] = covered > 0 ? sum / peakSquared / static_cast<double>(covered) : 0.0;
        largest = std::max(largest, energy[static_cast<std::size_t>(i)]);
    }

    const double h = static_cast<double>(kHop) / window.info.samplerate;
    const double runFrames = static_cast<double>(minSegmentSeconds) / h;
    const std::int64_t g = runFrames >= 1.0 ? static_cast<std::int64_t>(std::min(runFrames, 1e15)) : 1;
    std::vector<TransientSegment> segments;
    double threshold = 1e-5;
    for (int pass = 0; pass < 100 && segments.empty(); ++pass) {
        std::int64_t runStart = -1;
        double runLargest = 0.0;
        for (std::int64_t i = 0; i < count; ++i) {
            const double e = energy[static_cast<std::size_t>(i)];
            if (e > threshold) {
                if (runStart < 0) {
                    runStart = i;
                    runLargest = 0.0;
                }
                runLargest = std::max(runLargest, e);
            } else if (runStart >= 0) {
                if (i - runStart >= g)
                    segments.push_back({static_cast<float>(runStart * h), static_cast<float>(i * h),
                                        static_cast<float>(runLargest)});
                runStart = -1;
            }
        }
        if (runStart >= 0 && count - runStart >= g)
            segments.push_back({static_cast<float>(runStart * h), fileDuration, static_cast<float>(runLargest)});
        threshold = std::max(1e-10, threshold / 2.0);
    }
    if (segments.empty()) segments.push_back({0.0f, fileDuration, static_cast<float>(largest)});

    std::lock_guard lock(TransientCache.mutex);
    TransientCache.entries[file.path] = segments;
    return segments;
}

// [SECTION] Bins, curves and automatic fades

void BinEnvelope(const std::vector<float>& envelope, float fileDuration, float from, float length, float* out, int n) {
    if (n <= 0) return;
    std::fill(out, out + n, 0.0f);
    if (envelope.empty() || !(fileDuration > 0.0f)) return;
    const auto m = static_cast<std::int64_t>(envelope.size());
    const auto pointAt = [&](double seconds) {
        const double x = seconds / fileDuration * static_cast<double>(m);
        if (!(x > 0.0)) return std::int64_t{0};
        return x >= static_cast<double>(m) ? m : static_cast<std::int64_t>(x);
    };
    float largest = 0.0f;
    for (int i = 0; i < n; ++i) {
        const std::int64_t g = std::min(pointAt(static_cast<double>(i) * length / n + from), m - 1);
        const std::int64_t end = std::min(m, pointAt(static_cast<double>(i + 1) * length / n + from));
        double sum = 0.0;
        std::int64_t used = 0;
        for (std::int64_t k = g; k < end; ++k, ++used) sum += envelope[static_cast<std::size_t>(k)];
        out[i] = used > 0 ? static_cast<float>(sum / static_cast<double>(used)) : envelope[static_cast<std::size_t>(g)];
        largest = std::max(largest, out[i]);
    }
    if (largest > 1e-8f)
        for (int i = 0; i < n; ++i) out[i] /= largest;
}

void ResampleCurve(const CurvePoints& curve, float scale, float* out, int n) {
    float largest = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float x = (static_cast<float>(i) + 0.5f) / static_cast<float>(n) * 255.0f;
        const int k = std::clamp(static_cast<int>(x), 0, 254);
        out[i] = (curve[k] + (curve[k + 1] - curve[k]) * (x - static_cast<float>(k))) * scale;
        largest = std::max(largest, out[i]);
    }
    if (largest > 1e-8f)
        for (int i = 0; i < n; ++i) out[i] /= largest;
}

namespace {

constexpr std::size_t kMaxLevelPoints = 2000;

// RMS points every 5 ms over 10 ms windows of the window's frames.
struct LevelPoints {
    std::vector<double> points;
    sf_count_t hop = 1;
    double rate = 1.0;
};

bool ReadLevelPoints(OpenWindow& window, LevelPoints& levels) {
    levels.rate = window.info.samplerate;
    levels.hop = std::max<sf_count_t>(1, window.info.samplerate / 200);
    const std::size_t points =
        std::min<std::size_t>(kMaxLevelPoints, static_cast<std::size_t>(window.count / levels.hop) + 1);
    const sf_count_t needed = std::min<sf_count_t>(window.count, levels.hop * static_cast<sf_count_t>(points + 1));
    const std::vector<double> squares = FrameSquares(window, needed);
    if (squares.empty()) return false;
    std::vector<double> prefix(squares.size() + 1, 0.0);
    for (std::size_t i = 0; i < squares.size(); ++i) prefix[i + 1] = prefix[i] + squares[i];
    const auto read = static_cast<sf_count_t>(squares.size());
    levels.points.assign(points, 0.0);
    for (std::size_t j = 0; j < points; ++j) {
        const sf_count_t a = std::min(read, std::max<sf_count_t>(0, levels.hop * (static_cast<sf_count_t>(j) - 1)));
        const sf_count_t b = std::min(read, levels.hop * (static_cast<sf_count_t>(j) + 1));
        if (b > a)
            levels.points[j] = std::sqrt((prefix[static_cast<std::size_t>(b)] - prefix[static_cast<std::size_t>(a)]) /
                                         static_cast<double>((b - a) * window.info.channels));
    }
    return true;
}

}  // namespace

float AutoFadeInLength(const LibraryFile& file, float from, float length) {
    if (!(length > 0.01f)) return 0.005f;
    OpenWindow window;
    if (!OpenFileWindow(file.path, from, std::min(2.0f, length), window) || window.count <= 0) return 0.02f;
    LevelPoints levels;
    if (!ReadLevelPoints(window, levels)) return 0.02f;
    const std::vector<double>& p = levels.points;
    const double peak = *std::max_element(p.begin(), p.end());
    if (peak < 1e-6) return 0.02f;
    std::size_t a = 0;
    while (a < p.size() && p[a] < 0.15 * peak) ++a;
    if (a == p.size()) a = 0;
    std::size_t b = a;
    while (b < p.size() && p[b] < 0.8 * peak) ++b;
    if (b == p.size()) b = a;
    const double step = static_cast<double>(levels.hop) / levels.rate;
    const double onset = static_cast<double>(a) * step;
    const double rise = static_cast<double>(b - a) * step;
    if (onset < 0.01 && rise < 0.03) return static_cast<float>(std::min(0.06, std::max(0.008, 0.7 * rise)));
    const double t = onset + 0.4 * rise;
    if (t < 0.03) return 0.03f;
    return static_cast<float>(std::min(2.0, std::min(t, std::max(0.03, 0.45 * length))));
}

float AutoFadeOutLength(const LibraryFile& file, float from, float length, float syncPoint) {
    OpenWindow window;
    const double tail = static_cast<double>(length) - syncPoint;
    if (!OpenFileWindow(file.path, static_cast<double>(from) + syncPoint, tail, window)) return 0.05f;
    if (!(tail >= 0.02)) return 0.01f;
    if (window.count <= 0) return 0.05f;
    LevelPoints levels;
    if (!ReadLevelPoints(window, levels)) return 0.05f;
    const std::vector<double>& p = levels.points;
    const double peak = *std::max_element(p.begin(), p.end());
    if (peak < 1e-6) return 0.01f;
    std::size_t w = p.size() - 1;
    for (std::size_t j = p.size(); j-- > 0;) {
        if (p[j] >= 0.1 * peak) {
            w = j;
            break;
        }
    }
    const double endLevel = p.back() / peak;
    double B;
    if (endLevel < 0.05)
        B = std::max(0.025, 0.7 * (tail - static_cast<double>(w + 1) * levels.hop / levels.rate) + 0.02);
    else if (endLevel < 0.2)
        B = std::max(0.06, 0.5 * tail);
    else
        B = std::max(0.1, 0.7 * tail);
    return static_cast<float>(std::max(0.02, std::min(3.0, std::min(0.85 * tail, B))));
}

// [SECTION] Choosing the region

namespace {

// The fades every path ends with, from the region's own sound.
void SetAutoFades(const LibraryFile& file, SourceRegion& region) {
    region.fadeIn = AutoFadeInLength(file, region.sourceOffset, region.syncPoint > 0.01f ? region.syncPoint : region.length);
    region.fadeOut = AutoFadeOutLength(file, region.sourceOffset, region.length, region.syncPoint);
}

bool IsSpot(std::int32_t kind) { return kind == KindValue(EventKind::Spot); }

}  // namespace

SourceRegion ChooseSourceRegion(const LibraryFile& file, float targetDuration, std::int32_t kind, float /*unused*/,
                                BuildRandom& random, const CurvePoints* curve, float curveScale,
                                float targetPeakPosition, const std::vector<UsedSound>* usedSounds,
                                const float* targetProfile) {
    const float L = file.duration;
    const float T = targetDuration;
    const float slack = L - T;
    SourceRegion region;

    if (T >= L || !(T == T)) {
        region.length = std::max(0.0f, L);
        region.syncPoint = IsSpot(kind) ? FindOnsetTime(file, 0.0f, L) : FindPeakTime(file, 0.0f, L);
        SetAutoFades(file, region);
        return region;
    }

    if (kind == KindValue(EventKind::Fill)) {
        const float u = random.Next();
        region.sourceOffset = u * slack;
        region.length = T;
        region.syncPoint = 0.0f;
        region.fadeIn = AutoFadeInLength(file, region.sourceOffset, T);
        region.fadeOut = AutoFadeOutLength(file, region.sourceOffset, T, 0.5f * T);
        return region;
    }

    if (kind == KindValue(EventKind::Bloom) || kind == KindValue(EventKind::Contour)) {
        const float tail = std::min(0.3f, 0.12f * T);
        if ((curve != nullptr || targetProfile != nullptr) && slack > 0.01f) {
            float target[16];
            if (targetProfile != nullptr) std::copy(targetProfile, targetProfile + 16, target);
            else ResampleCurve(*curve, curveScale, target, 16);
            const std::vector<float> envelope = GetEnergyEnvelope(file, 20.0f);
            if (!envelope.empty()) {
                const int count = static_cast<int>(std::clamp(10.0f * slack, 10.0f, 50.0f));
                const float beta = targetProfile != nullptr ? 0.25f : 0.4f;
                float bestScore = -1e30f;
                float bestStart = 0.0f;
                for (int i = 0; i < count; ++i) {
                    const float Z = static_cast<float>(i) * slack / static_cast<float>(count - 1);
                    float bins[16];
                    BinEnvelope(envelope, L, Z, T, bins, 16);
                    const float similarity = CosineSimilarity(bins, target, 16);
                    int p = 0;
                    float top = 0.0f;
                    for (int b = 0; b < 16; ++b)
                        if (bins[b] > top) {
                            top = bins[b];
                            p = b;
                        }
                    const float placement = 1.0f - std::fabs((static_cast<float>(p) + 0.5f) / 16.0f - targetPeakPosition);
                    const float score = (1.0f - beta) * similarity + beta * placement;
                    if (score > bestScore) {
                        bestScore = score;
                        bestStart = Z;
                    }
                }
                region.sourceOffset = bestStart;
                region.length = std::min(T + tail, L - bestStart);
                region.syncPoint = std::min(FindPeakTime(file, bestStart, region.length), region.length);
                SetAutoFades(file, region);
                return region;
            }
        }
        const float u = random.Next();
        region.sourceOffset = u * std::max(0.0f, slack);
        region.length = std::min(T + tail, L - region.sourceOffset);
        region.syncPoint = FindPeakTime(file, region.sourceOffset, region.length);
        SetAutoFades(file, region);
        return region;
    }

    // Spot, Scatter and anything else: one of the file's transients.
    const float want = T + std::min(0.4f, 0.15f * T);
    const std::vector<TransientSegment> segments = GetTransientSegments(file, L, 0.05f);
    if (segments.empty()) {
        region.length = std::min(want, L);
        region.syncPoint = FindPeakTime(file, 0.0f, region.length);
        SetAutoFades(file, region);
        return region;
    }
    std::vector<float> weights;
    weights.reserve(segments.size());
    double sum = 0.0;
    for (const TransientSegment& segment : segments) {
        float weight = segment.strength;
        if (usedSounds != nullptr) {
            for (const UsedSound& used : *usedSounds) {
                if (used.path != file.path) continue;
                const float overlap = std::min(used.sourceOffset + used.sourceDuration, segment.end) -
                                      std::max(used.sourceOffset, segment.start);
                if (overlap > 0.03f) {
                    weight *= 0.02f;  // once, however many earlier regions overlap it
                    break;
                }
            }
        }
        weights.push_back(weight);
        sum += weight;
    }
    std::size_t chosen = 0;
    if (segments.size() >= 2 && sum > 0.0) {
        const double target = random.Next() * sum;
        double running = 0.0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            running += weights[i];
            if (running >= target) {
                chosen = i;
                break;
            }
        }
    }
    const float s = segments[chosen].start;
    const float e = segments[chosen].end;
    const float span = e - s;
    float offset = s;
    float length = std::min(want, span);
    if (span > 1.1f * want) {
        // The peak lands 40 % of the event's duration into the region.
        const float C = s + FindPeakTime(file, s, span) - 0.4f * T;
        offset = C < s ? s : std::min(std::max(s, e - want), C);
        length = std::min(e - offset, want);
    }
    region.sourceOffset = std::max(0.0f, offset);
    region.length = std::max(0.04f, std::min(L - region.sourceOffset, length));
    const float sync = IsSpot(kind) ? FindOnsetTime(file, region.sourceOffset, region.length)
                                    : FindPeakTime(file, region.sourceOffset, region.length);
    region.syncPoint = std::min(sync, region.length);
    SetAutoFades(file, region);
    return region;
}

}  // namespace korvel
