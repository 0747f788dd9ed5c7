#include "support/audio_fixture.h"

#include <cmath>
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
