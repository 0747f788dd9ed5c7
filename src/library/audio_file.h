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
// open it (missing, empty, headerless or unknown files). The file is opened
// here and handed to libsndfile as a descriptor, as libsndfile's own open
// refuses paths of 1,024 bytes and more.
//
// `info.frames` is a count that can be true: a frame count larger than the
// file's bytes could hold (a stream whose header says "length unknown"
// reports the largest count there is) is measured by reading the file, which
// is then back at its start. Memory stays bounded whatever the header says,
// as long as callers read in blocks or grow their buffers with what they read.
SoundFilePtr OpenSoundFile(const std::string& path, SF_INFO& info);

// The same without the frame count's check: for callers that only need the
// header (channels, rate, channel map), so a length-unknown stream is not
// read through. `info.frames` is the header's word and must not size
// anything.
SoundFilePtr OpenSoundFileHeader(const std::string& path, SF_INFO& info);

// The most frames a file of `fileBytes` bytes could hold in the format of
// `info`: the sample data of uncompressed formats, and a bound no compressed
// format reaches for the others.
int64_t MaxPlausibleFrames(const SF_INFO& info, uint64_t fileBytes);

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
