#pragma once
// Copying every sound a project refers to into the "Audio" folder beside the
// file being saved, so that the saved project is self-contained.
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>

#include "library/file_id.h"
#include "project/project.h"

namespace korvel {

// Referenced path, as the project holds it, to the path the saved file
// stores: "Audio/<name>", or the path itself when its copy failed. Paths
// that do not exist on disk have no entry. Lives for one save.
using CollectedAudioMap = std::unordered_map<std::string, std::string>;

// The sounds a project refers to, gathered before any is copied.
struct AudioCollector {
    std::set<std::string> paths;  // ascending byte order: a stable copy order
    std::unordered_map<std::string, FileId> ids;
};

// Records `path` (ignored when empty) and, when `id` is not empty, its id; a
// later non-empty id for the same path replaces the earlier one.
void AddCollectedPath(AudioCollector& collector, const std::string& path, const FileId& id);

// Every layer's and alloy source's file and every pinned file of every
// event, bounce sources included.
AudioCollector GatherProjectAudio(const Project& project);

// Makes `folder`/Audio and brings every referenced file into it. A file
// already inside keeps its place; any other is copied under its own name or,
// when that name is given out in this call or taken by a different file, the
// first free "<stem>_<n><ext>". An existing copy is reused only when its size
// and content fingerprint match the source's (fingerprints are remembered by
// size and modification time, so an unchanged save reads no audio); a
// different file at a destination name is never overwritten. Copies take
// their source's modification time and are registered as further paths of
// their file's identity.
CollectedAudioMap CollectProjectAudio(const Project& project, const std::string& folder);

// How collecting reads a content fingerprint: ComputeFileFingerprint unless
// a test counts the reads. nullptr restores the default. Set before saving.
using CollectFingerprintReader = bool (*)(const std::string& path, std::uint64_t& fingerprint,
                                          std::uint64_t& size);
void SetCollectFingerprintReader(CollectFingerprintReader reader);

// "" for "", the stored path for a collected one, else `path` itself.
std::string RemapCollectedPath(const CollectedAudioMap& map, const std::string& path);

}  // namespace korvel
