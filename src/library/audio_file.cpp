#include "library/audio_file.h"

#include <unordered_map>

namespace korvel {
namespace {

// Header summaries by exact path bytes. Owned by the UI thread (the events
// tab's file line); no other thread touches it, so it has no lock. Never
// cleared; created on first use.
std::unordered_map<std::string, AudioFileInfo>& AudioFileInfoCache() {
    static std::unordered_map<std::string, AudioFileInfo> cache;
    return cache;
}

}  // namespace

SoundFilePtr OpenSoundFile(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    if (path.empty()) return nullptr;
    return SoundFilePtr(sf_open(path.c_str(), SFM_READ, &info));
}

AudioFileInfo GetAudioFileInfo(const std::string& path) {
    auto& cache = AudioFileInfoCache();
    if (auto it = cache.find(path); it != cache.end()) return it->second;

    AudioFileInfo result;
    SF_INFO info;
    if (SoundFilePtr file = OpenSoundFile(path, info)) {
        result.channels = info.channels;
        result.duration = info.samplerate >= 1
                              ? static_cast<float>(info.frames) / static_cast<float>(info.samplerate)
                              : 0.0f;
    }
    cache.emplace(path, result);
    return result;
}

int BitsPerSampleFromFormat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return 8;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 32;
        case SF_FORMAT_DOUBLE: return 64;
        default: return 16;
    }
}

}  // namespace korvel
