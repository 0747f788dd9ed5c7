#include "engine/pinned_sources.h"

#include "library/audio_file.h"
#include "library/file_id.h"

namespace korvel {

std::string_view FileNamePart(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool ProbePinnedFile(const std::string& path, PinnedFileFacts& facts) {
    facts = {};
    SF_INFO info{};
    const SoundFilePtr file = OpenSoundFile(path, info);
    if (!file) return false;
    facts.channels = info.channels;
    facts.seconds = info.samplerate > 0 && info.frames > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0;
    return true;
}

std::string RelinkPinnedPath(const std::string& fileId, const std::string& path) {
    if (fileId.empty()) return path;
    std::string resolved = ResolveFileId(fileId, path);
    return resolved.empty() ? path : resolved;
}

}  // namespace korvel
