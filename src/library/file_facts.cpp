#include "library/file_facts.h"

#include <cstring>

#include "library/audio_file.h"

namespace korvel {

std::string ReadBroadcastDescription(SNDFILE* file) {
    SF_BROADCAST_INFO info;
    static_assert(sizeof(SF_BROADCAST_INFO) >= 864);
    std::memset(&info, 0, sizeof info);
    if (file == nullptr || sf_command(file, SFC_GET_BROADCAST_INFO, &info, sizeof info) != SF_TRUE) return {};
    return std::string(info.description, strnlen(info.description, sizeof info.description));
}

SoundFileFacts ReadSoundFileFacts(const std::string& path) {
    SoundFileFacts facts;
    SF_INFO info;
    SoundFilePtr file = OpenSoundFile(path, info);
    if (!file || info.frames < 1 || info.samplerate < 1 || info.channels < 1) return facts;
    facts.sampleRate = static_cast<float>(info.samplerate);
    facts.duration = static_cast<float>(static_cast<double>(info.frames) / info.samplerate);
    facts.channels = info.channels;
    facts.bitsPerSample = BitsPerSampleFromFormat(info.format);
    facts.description = ReadBroadcastDescription(file.get());
    facts.valid = true;
    return facts;
}

}  // namespace korvel
