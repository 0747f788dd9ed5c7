#pragma once
// The header facts of one sound file as the events tab shows them: length,
// rate, channels, bit depth and the Broadcast WAVE description. Read from
// the file itself for files the library has not analysed.
#include <sndfile.h>

#include <cstdint>
#include <string>

namespace korvel {

struct SoundFileFacts {
    float duration = 0.0f;    // seconds
    float sampleRate = 0.0f;  // Hz
    std::int32_t channels = 0;
    std::int32_t bitsPerSample = 0;
    std::string description;
    bool valid = false;  // the file was read; the rest means nothing otherwise
};

// The description field of the file's Broadcast WAVE chunk, empty when it
// has none. The field holds 256 bytes and carries no terminator when full,
// so it is read up to its size and never beyond into the fields after it.
std::string ReadBroadcastDescription(SNDFILE* file);

// Opens `path` for reading: valid when it holds at least one frame at a rate
// of at least 1 Hz on at least one channel. Any thread.
SoundFileFacts ReadSoundFileFacts(const std::string& path);

}  // namespace korvel
