#include "library/waveform.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>

#include "library/audio_file.h"

namespace korvel {
namespace {

struct WaveformCacheStore {
    std::mutex lock;
    std::unordered_map<std::string, std::shared_ptr<const WaveformOverview>> overviews;
};

// The process-wide WaveformCache. Filled by the UI thread and the background
// job, read by the UI thread while it draws; every access holds `lock`, which
// is held only around one lookup, insertion or clear.
WaveformCacheStore& Cache() {
    static WaveformCacheStore store;
    return store;
}

}  // namespace

int WaveformBinCount(float duration) {
    const float bins = duration * static_cast<float>(kWaveformBinsPerSecond);
    if (!(bins < static_cast<float>(kWaveformMaxBins))) return kWaveformMaxBins;
    return std::max(kWaveformMinBins, static_cast<int>(bins));
}

bool ComputeWaveformOverview(const std::string& path, WaveformOverview& out) {
    SF_INFO info;
    SoundFilePtr file = OpenSoundFile(path, info);
    if (!file) return false;
    const float duration =
        info.samplerate >= 1 ? static_cast<float>(info.frames) / static_cast<float>(info.samplerate) : 0.0f;
    if (info.samplerate < 1 || !(duration > 0.0f) || info.frames <= 0 || info.channels < 1) return false;

    const int bins = WaveformBinCount(duration);
    const sf_count_t framesPerBin = std::max<sf_count_t>(1, info.frames / bins);
    const std::size_t channels = static_cast<std::size_t>(info.channels);
    out.peaks.assign(static_cast<std::size_t>(bins), 0.0f);
    out.rms.assign(static_cast<std::size_t>(bins), 0.0f);
    out.duration = duration;
    out.sampleRate = info.samplerate;

    // A bin of a long file spans many frames: it is read in blocks so the
    // buffer does not grow with the file.
    constexpr sf_count_t kBlockFrames = 8192;
    std::vector<float> buffer(static_cast<std::size_t>(std::min(framesPerBin, kBlockFrames)) * channels);
    const sf_count_t bufferFrames = static_cast<sf_count_t>(buffer.size() / channels);
    bool ended = false;
    for (int i = 0; i < bins && !ended; ++i) {
        const sf_count_t want = std::min(info.frames - i * framesPerBin, framesPerBin);
        if (want < 1) break;
        float peak = 0.0f;
        double sumSquares = 0.0;
        std::size_t samples = 0;
        for (sf_count_t done = 0; done < want;) {
            const sf_count_t got = sf_readf_float(file.get(), buffer.data(), std::min(want - done, bufferFrames));
            if (got <= 0) {
                ended = true;
                break;
            }
            const std::size_t count = static_cast<std::size_t>(got) * channels;
            for (std::size_t s = 0; s < count; ++s) {
                const float x = buffer[s];
                peak = std::max(peak, std::fabs(x));
                sumSquares += static_cast<double>(x) * x;
            }
            samples += count;
            done += got;
        }
        if (samples == 0) break;
        out.peaks[static_cast<std::size_t>(i)] = peak;
        out.rms[static_cast<std::size_t>(i)] = static_cast<float>(std::sqrt(sumSquares / static_cast<double>(samples)));
    }
    return true;
}

void LoadWaveformOverview(const char* path) {
    if (path == nullptr || path[0] == '\0') return;
    const std::string key(path);
    WaveformCacheStore& cache = Cache();
    {
        std::lock_guard guard(cache.lock);
        if (cache.overviews.contains(key)) return;
    }
    auto overview = std::make_shared<WaveformOverview>();
    if (!ComputeWaveformOverview(key, *overview)) return;
    std::lock_guard guard(cache.lock);
    cache.overviews.emplace(key, std::move(overview));
}

void MoveWaveformOverview(const std::string& from, const std::string& to) {
    if (to.empty() || from == to) return;
    {
        WaveformCacheStore& cache = Cache();
        std::lock_guard guard(cache.lock);
        if (cache.overviews.contains(to)) return;
        auto found = cache.overviews.find(from);
        if (found != cache.overviews.end()) {
            cache.overviews.emplace(to, found->second);
            return;
        }
    }
    LoadWaveformOverview(to.c_str());
}

std::shared_ptr<const WaveformOverview> FindWaveformOverview(const std::string& path) {
    WaveformCacheStore& cache = Cache();
    std::lock_guard guard(cache.lock);
    auto found = cache.overviews.find(path);
    return found != cache.overviews.end() ? found->second : nullptr;
}

void ClearWaveformCache() {
    WaveformCacheStore& cache = Cache();
    std::unordered_map<std::string, std::shared_ptr<const WaveformOverview>> old;
    {
        std::lock_guard guard(cache.lock);
        old.swap(cache.overviews);
    }
    // The overviews are freed here, outside the lock.
}

}  // namespace korvel
