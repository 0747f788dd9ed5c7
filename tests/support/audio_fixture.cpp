#include "support/audio_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace korvel::test {

bool WriteSoundFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    int sampleRate, int format) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / static_cast<size_t>(channels));
    sf_count_t written = sf_writef_float(file, interleaved.data(), frames);
    sf_close(file);
    return written == frames;
}

bool SetFlacTotalSamples(const std::string& path, uint64_t totalSamples) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file) return false;
    // "fLaC", the block header, then 18 bytes into the block: 4 bits of the
    // bit depth's end, then the 36-bit count.
    unsigned char head[26];
    bool ok = std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "fLaC", 4) == 0 &&
              (head[4] & 0x7F) == 0;
    if (ok) {
        head[21] = static_cast<unsigned char>((head[21] & 0xF0) | ((totalSamples >> 32) & 0x0F));
        for (int i = 0; i < 4; ++i) head[22 + i] = static_cast<unsigned char>(totalSamples >> (24 - 8 * i));
        ok = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(head, 1, sizeof head, file) == sizeof head;
    }
    return std::fclose(file) == 0 && ok;
}

std::vector<float> MakeSine(double frequency, double seconds, int sampleRate, int channels,
                            double amplitude) {
    const auto frames = static_cast<size_t>(std::llround(seconds * sampleRate));
    std::vector<float> out(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate;
        const auto v = static_cast<float>(amplitude * std::sin(phase));
        for (int c = 0; c < channels; ++c) out[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = v;
    }
    return out;
}

std::vector<float> ReadSoundFile(const std::string& path, int* channels, int* sampleRate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    std::vector<float> out(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_float(file, out.data(), info.frames);
    sf_close(file);
    if (channels) *channels = info.channels;
    if (sampleRate) *sampleRate = info.samplerate;
    return out;
}

}  // namespace korvel::test
