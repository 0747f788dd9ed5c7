#include "library/decoded_source_cache.h"

#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "dsp/resampler.h"
#include "library/audio_file.h"
#include "library/channel_layout.h"
#include "library/channel_map.h"
#include "project/app_state.h"

// [SECTION] The cache
// [SECTION] Decoding

namespace korvel {
namespace {

// [SECTION] The cache

struct DecodedSourceStore {
    std::mutex lock;
    std::unordered_map<std::string, DecodedSource> entries;
    size_t bytes = 0;  // samples held in `entries`, in bytes
    size_t byteBudget = kDecodedSourceByteBudget;
};

// The process-wide DecodedSourceCache. Used by the background-job, export,
// recipe-preview and UI threads, every member under `lock`, which is held
// only for a lookup, an insertion or a clear.
DecodedSourceStore& Store() {
    static DecodedSourceStore store;
    return store;
}

size_t SampleBytes(const DecodedSource& entry) {
    return (entry.left.size() + entry.right.size()) * sizeof(float);
}

void Insert(const std::string& key, const std::vector<float>& left, const std::vector<float>& right,
            bool stereo, int sampleRate) {
    const size_t entryBytes = (left.size() + right.size()) * sizeof(float);
    // Declared before the lock so a cleared map is freed after its release.
    std::unordered_map<std::string, DecodedSource> discarded;
    DecodedSourceStore& store = Store();
    std::lock_guard<std::mutex> hold(store.lock);
    // A region beyond the whole budget is the caller's alone.
    if (entryBytes > store.byteBudget) return;
    // Whole-map clears, never single evictions: entries are cheap to decode
    // again and this keeps insertion free of bookkeeping.
    const auto existing = store.entries.find(key);
    const size_t replaced = existing == store.entries.end() ? 0 : SampleBytes(existing->second);
    if (store.entries.size() >= kDecodedSourceEntryLimit ||
        store.bytes - replaced + entryBytes > store.byteBudget) {
        discarded.swap(store.entries);
        store.bytes = 0;
    }
    DecodedSource& entry = store.entries[key];
    store.bytes -= SampleBytes(entry);
    entry.left = left;
    entry.right = right;
    entry.stereo = stereo;
    entry.sampleRate = sampleRate;
    entry.frameCount = static_cast<int32_t>(left.size());
    store.bytes += entryBytes;
}

std::string CacheKey(const std::string& path, float startSeconds, float lengthSeconds, int targetRate,
                     bool wantStereo, int channelOrder, int interpretation) {
    // 63 characters hold every sane request; room for the widest floats
    // keeps absurd ones from being cut short and sharing a key.
    char suffix[160];
    std::snprintf(suffix, sizeof suffix, "|%.3f|%.3f|%d|%d|f%d|o%d|i%d", static_cast<double>(startSeconds),
                  static_cast<double>(lengthSeconds), targetRate, wantStereo ? 1 : 0, 2, channelOrder,
                  interpretation);
    return path + suffix;
}

// [SECTION] Decoding

// Whole frames of `rate` (as float) times `seconds`. A product that
// overflows stays infinite, so an endless length is bounded by the file and
// the ten minutes alone; one that is not a number gives -1 (no frames).
double FramesOf(int rate, float seconds) {
    const float product = static_cast<float>(rate) * seconds;
    return std::isnan(product) ? -1.0 : std::trunc(static_cast<double>(product));
}

}  // namespace

bool DecodeSourceRegion(const std::string& path, float startSeconds, float lengthSeconds, int targetRate,
                        bool wantStereo, int channelOrder, int interpretation, DecodedSource& out) {
    out = DecodedSource{};
    SF_INFO info;
    SoundFilePtr file = OpenSoundFile(path, info);
    if (!file) return false;
    if (info.frames < 1 || info.samplerate < 1 || info.channels < 1) return false;

    const int rate = info.samplerate;
    const int channels = info.channels;
    out.sampleRate = rate;
    const ChannelMap map = BuildChannelMap(file.get(), channels, channelOrder, interpretation);
    out.stereo = wantStereo && channels > 1 && !map.ambisonic && !map.discrete &&
                 (channels == 2 || map.positional);

    // A negative start, or one at or beyond the end, reads from the beginning.
    const double start = FramesOf(rate, startSeconds);
    int64_t startFrame = 0;
    if (start > 0.0 && start < static_cast<double>(info.frames)) {
        startFrame = static_cast<int64_t>(start);
        if (sf_seek(file.get(), startFrame, SEEK_SET) < 0) return false;
    }
    const double maxFrames = std::trunc(static_cast<double>(rate) * kDecodedSourceMaxSeconds);
    const double wanted = std::min({static_cast<double>(info.frames - startFrame),
                                    FramesOf(rate, lengthSeconds), maxFrames});
    if (!(wanted > 0.0)) return false;
    const int64_t frames = static_cast<int64_t>(wanted);

    // The buffer grows with the frames actually read: a header may claim
    // far more than the file holds (ten minutes of eight channels at
    // 655,350 Hz is 12 GB).
    constexpr int64_t kBlockFrames = 65536;
    std::vector<float> interleaved;
    int64_t read = 0;
    while (read < frames) {
        const int64_t want = std::min(kBlockFrames, frames - read);
        interleaved.resize(static_cast<size_t>(read + want) * static_cast<size_t>(channels));
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data() + read * channels, want);
        if (got <= 0) break;
        read += got;
        if (got < want) break;
    }
    file.reset();
    if (read <= 0) return false;
    interleaved.resize(static_cast<size_t>(read) * static_cast<size_t>(channels));

    std::vector<float>& left = out.left;
    std::vector<float>& right = out.right;
    if (out.stereo) {
        DownmixToStereo(interleaved.data(), read, channels, map, left, right);
    } else if (map.ambisonic) {
        left.resize(static_cast<size_t>(read));
        for (int64_t i = 0; i < read; ++i) left[i] = interleaved[static_cast<size_t>(i * channels)];
    } else if (map.positional && channels > 2) {
        std::vector<float> l, r;
        DownmixToStereo(interleaved.data(), read, channels, map, l, r);
        left.resize(static_cast<size_t>(read));
        for (int64_t i = 0; i < read; ++i) left[i] = (l[i] + r[i]) * 0.70710677f;
    } else {
        const float scale = 1.0f / static_cast<float>(channels);
        left.resize(static_cast<size_t>(read));
        for (int64_t i = 0; i < read; ++i) {
            const float* frame = interleaved.data() + i * channels;
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c) sum += frame[c];
            left[i] = sum * scale;
        }
    }

    if (rate != targetRate) {
        const double step = static_cast<double>(targetRate) / static_cast<double>(rate);
        const double newLength = std::trunc(static_cast<double>(read) * step + 0.5);
        if (!(newLength > 0.0) || newLength > static_cast<double>(INT_MAX)) return false;
        const double ratio = 1.0 / step;
        ResampleSincToLength(left, static_cast<int>(newLength), ratio);
        if (out.stereo) ResampleSincToLength(right, static_cast<int>(newLength), ratio);
        out.sampleRate = targetRate;
    }
    out.frameCount = static_cast<int32_t>(left.size());
    return !left.empty();
}

bool GetDecodedSource(const std::string& path, float startSeconds, float lengthSeconds, int targetRate,
                      bool wantStereo, std::vector<float>& left, std::vector<float>& right,
                      int& sampleRate, bool& isStereo) {
    const int channelOrder = GlobalAppState.channelOrderFallback;
    const int interpretation = GetChannelInterpretation(path);
    const std::string key =
        CacheKey(path, startSeconds, lengthSeconds, targetRate, wantStereo, channelOrder, interpretation);
    {
        DecodedSourceStore& store = Store();
        std::lock_guard<std::mutex> hold(store.lock);
        const auto it = store.entries.find(key);
        if (it != store.entries.end()) {
            left = it->second.left;
            right = it->second.right;
            isStereo = it->second.stereo;
            sampleRate = it->second.sampleRate;
            return it->second.frameCount > 0;
        }
    }

    DecodedSource decoded;
    const bool ok = DecodeSourceRegion(path, startSeconds, lengthSeconds, targetRate, wantStereo,
                                       channelOrder, interpretation, decoded);
    left = std::move(decoded.left);
    right = std::move(decoded.right);
    isStereo = decoded.stereo;
    sampleRate = decoded.sampleRate;
    if (!ok) return false;
    Insert(key, left, right, isStereo, sampleRate);
    return true;
}

void ClearDecodedSourceCache() {
    std::unordered_map<std::string, DecodedSource> discarded;
    DecodedSourceStore& store = Store();
    std::lock_guard<std::mutex> hold(store.lock);
    discarded.swap(store.entries);
    store.bytes = 0;
}

DecodedSourceCacheUsage GetDecodedSourceCacheUsage() {
    DecodedSourceStore& store = Store();
    std::lock_guard<std::mutex> hold(store.lock);
    return {store.entries.size(), store.bytes};
}

void SetDecodedSourceCacheByteBudget(size_t bytes) {
    DecodedSourceStore& store = Store();
    std::lock_guard<std::mutex> hold(store.lock);
    store.byteBudget = bytes;
}

}  // namespace korvel
