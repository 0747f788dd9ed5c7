#pragma once
// Small synthetic sound files written with libsndfile for tests.
#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::test {

// Writes interleaved float samples. `format` is a libsndfile major|minor
// format (default 24-bit WAVE). Returns false when libsndfile refuses.
bool WriteSoundFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    int sampleRate, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_24);

// A sine of `seconds` at `frequency` and linear `amplitude`, the same on
// every channel, interleaved.
std::vector<float> MakeSine(double frequency, double seconds, int sampleRate, int channels = 1,
                            double amplitude = 1.0);

// Rewrites the total-sample count in a FLAC file's stream information;
// 0 is the stream's way of saying "length unknown". False when the file
// does not start with a stream-information block.
bool SetFlacTotalSamples(const std::string& path, uint64_t totalSamples);

// Reads a whole file back as interleaved floats; empty when unreadable.
std::vector<float> ReadSoundFile(const std::string& path, int* channels = nullptr,
                                 int* sampleRate = nullptr);

}  // namespace korvel::test
