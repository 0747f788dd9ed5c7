#pragma once
// Header queries of the audio-file layer: opening a file with libsndfile,
// the cached channel count and duration per path, and bit depths.
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

namespace korvel {

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
// An open libsndfile handle, closed when it goes out of scope.
using SoundFilePtr = std::unique_ptr<SNDFILE, SoundFileCloser>;

// Opens `path` for reading and fills `info`; null when libsndfile cannot
// open it (missing, empty, headerless or unknown files).
SoundFilePtr OpenSoundFile(const std::string& path, SF_INFO& info);

struct AudioFileInfo {
    int32_t channels = 0;
    float duration = 0.0f;  // seconds
};

// The channel count and duration of a file, read once per path and kept for
// the life of the process (an unreadable file keeps its zero entry).
// UI thread only: the cache behind it has no lock.
AudioFileInfo GetAudioFileInfo(const std::string& path);

// The bit depth of a libsndfile format code, from its subtype; 16 for
// PCM_16, every compressed subtype and any subtype not known here.
int BitsPerSampleFromFormat(int format);

}  // namespace korvel
