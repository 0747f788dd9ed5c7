#include "library/audio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

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

namespace {

// Frames per byte that no compressed format reaches: a lossless frame of
// 65,535 silent samples still needs a dozen bytes.
constexpr int64_t kMaxFramesPerByte = 65536;
constexpr sf_count_t kCountBlockFrames = 4096;

SoundFilePtr OpenDescriptor(const std::string& path, SF_INFO& info, uint64_t& fileBytes) {
    info = SF_INFO{};
    fileBytes = 0;
    if (path.empty()) return nullptr;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return nullptr;
    }
    fileBytes = static_cast<uint64_t>(status.st_size);
    // libsndfile closes the descriptor with the handle, and also when the
    // open fails.
    return SoundFilePtr(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
}

// Frames up to the end of the file, read in small blocks; the handle is left
// at the end.
int64_t CountFramesByReading(SNDFILE* file, int channels) {
    std::vector<float> block(static_cast<size_t>(kCountBlockFrames) * static_cast<size_t>(channels));
    int64_t frames = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), kCountBlockFrames);
        if (got <= 0) break;
        frames += got;
    }
    return frames;
}

}  // namespace

int64_t MaxPlausibleFrames(const SF_INFO& info, uint64_t fileBytes) {
    if (info.channels < 1) return 0;
    // These containers compress whatever their subtype says.
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const bool compressed = major == SF_FORMAT_FLAC || major == SF_FORMAT_OGG || major == SF_FORMAT_MPEG;
    int bytesPerSample = 0;
    switch (compressed ? 0 : info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW: bytesPerSample = 1; break;
        case SF_FORMAT_PCM_16: bytesPerSample = 2; break;
        case SF_FORMAT_PCM_24: bytesPerSample = 3; break;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: bytesPerSample = 4; break;
        case SF_FORMAT_DOUBLE: bytesPerSample = 8; break;
        default: break;
    }
    const uint64_t limit = static_cast<uint64_t>(INT64_MAX);
    if (bytesPerSample > 0) return static_cast<int64_t>(fileBytes / (static_cast<uint64_t>(bytesPerSample) * info.channels));
    if (fileBytes > limit / kMaxFramesPerByte) return INT64_MAX;
    return static_cast<int64_t>(fileBytes) * kMaxFramesPerByte;
}

SoundFilePtr OpenSoundFileHeader(const std::string& path, SF_INFO& info) {
    uint64_t fileBytes = 0;
    return OpenDescriptor(path, info, fileBytes);
}

SoundFilePtr OpenSoundFile(const std::string& path, SF_INFO& info) {
    uint64_t fileBytes = 0;
    SoundFilePtr file = OpenDescriptor(path, info, fileBytes);
    if (!file || info.channels < 1 || info.frames <= MaxPlausibleFrames(info, fileBytes)) return file;

    info.frames = CountFramesByReading(file.get(), info.channels);
    if (sf_seek(file.get(), 0, SEEK_SET) == 0) return file;
    // A stream that cannot seek back is opened again.
    const sf_count_t counted = info.frames;
    file = OpenDescriptor(path, info, fileBytes);
    if (file) info.frames = counted;
    return file;
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
