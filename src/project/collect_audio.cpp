#include "project/collect_audio.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "project/file_io.h"
#include "project/project_file_format.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

void GatherEventAudio(AudioCollector& collector, const Event& event) {
    if (event.usePinnedFile && event.pinnedFile[0] != '\0') {
        AddCollectedPath(collector, event.pinnedFile, event.pinnedFileId);
    }
    for (std::size_t i = 0; i < event.pinnedFiles.size(); ++i) {
        const FileId& id = i < event.pinnedFileIds.size() ? event.pinnedFileIds[i] : FileId();
        AddCollectedPath(collector, event.pinnedFiles[i], id);
    }
    for (const Event& source : event.bounceSource) GatherEventAudio(collector, source);
}

// The part of `path` after `folder` and a separator; nullopt when the path
// does not lie inside the folder.
std::optional<std::string> PathInsideFolder(const std::string& path, const std::string& folder) {
    if (path.size() <= folder.size() + 1) return std::nullopt;
    if (path.compare(0, folder.size(), folder) != 0) return std::nullopt;
    const char separator = path[folder.size()];
    if (separator != '/' && separator != '\\') return std::nullopt;
    return path.substr(folder.size() + 1);
}

// Whether the file at `destination` already is a copy of the source: same
// size and same content fingerprint. The source's fingerprint is taken once,
// and only when some destination has its size.
struct SourceMatcher {
    const std::string& source;
    std::uint64_t size = 0;
    bool sized = false;
    bool fingerprinted = false;
    std::uint64_t fingerprint = 0;

    bool Matches(const fs::path& destination) {
        std::error_code ec;
        if (!fs::is_regular_file(destination, ec)) return false;
        if (!sized) {
            size = fs::file_size(source, ec);
            if (ec) return false;
            sized = true;
        }
        if (fs::file_size(destination, ec) != size || ec) return false;
        std::uint64_t ignoredSize = 0;
        if (!fingerprinted) {
            if (!ComputeFileFingerprint(source, fingerprint, ignoredSize)) return false;
            fingerprinted = true;
        }
        std::uint64_t other = 0;
        return ComputeFileFingerprint(destination.string(), other, ignoredSize) && other == fingerprint;
    }
};

}  // namespace

void AddCollectedPath(AudioCollector& collector, const std::string& path, const FileId& id) {
    if (path.empty()) return;
    collector.paths.insert(path);
    if (!id.empty()) collector.ids[path] = id;
}

AudioCollector GatherProjectAudio(const Project& project) {
    AudioCollector collector;
    for (const LayerResult& layer : project.results) {
        AddCollectedPath(collector, layer.filepath, layer.fileId);
        if (layer.procMode == 3) {
            for (const LayerSourceRef* source : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv}) {
                AddCollectedPath(collector, source->filepath, source->fileId);
            }
        }
    }
    for (const Event& event : project.events) GatherEventAudio(collector, event);
    return collector;
}

CollectedAudioMap CollectProjectAudio(const Project& project, const std::string& folder) {
    const AudioCollector collector = GatherProjectAudio(project);
    CollectedAudioMap map;

    const fs::path audioFolder = fs::path(folder) / kCollectedAudioFolder;
    std::error_code ec;
    fs::create_directories(audioFolder, ec);  // a failure shows as failed copies
    fs::path canonicalFolder = fs::weakly_canonical(audioFolder, ec);
    if (ec) canonicalFolder = audioFolder;
    const std::string canonicalText = canonicalFolder.string();
    const std::string prefix = std::string(kCollectedAudioFolder) + "/";

    // Files already inside the folder come first, so that their names are
    // taken before any outside source could be copied over one of them.
    std::set<std::string> usedNames;
    std::vector<const std::string*> outside;
    for (const std::string& path : collector.paths) {
        fs::file_status status = fs::status(path, ec);
        if (ec || !fs::exists(status)) continue;
        fs::path canonical = fs::weakly_canonical(path, ec);
        const std::string canonicalPath = ec ? path : canonical.string();
        if (auto rest = PathInsideFolder(canonicalPath, canonicalText)) {
            map[path] = prefix + *rest;
            usedNames.insert(fs::path(*rest).filename().string());
        } else {
            outside.push_back(&path);
        }
    }

    for (const std::string* source : outside) {
        const fs::path sourcePath(*source);
        const std::string stem = sourcePath.stem().string();
        const std::string extension = sourcePath.extension().string();
        SourceMatcher matcher{*source};

        std::string candidate = stem + extension;
        bool reuse = false;
        for (int n = 2;; ++n) {
            const fs::path destination = canonicalFolder / candidate;
            if (!usedNames.contains(candidate)) {
                // A name whose status cannot be taken (too long, no access)
                // ends the search too: its copy then fails and is reported,
                // and a copy never replaces an existing file.
                const fs::file_type type = fs::symlink_status(destination, ec).type();
                if (type == fs::file_type::not_found || ec) break;
            }
            // A file already there with this content is this source's copy,
            // whoever gave out the name; a different file there may be the
            // only copy an earlier save or a backup refers to, so it is never
            // replaced.
            if (matcher.Matches(destination)) {
                reuse = true;
                break;
            }
            candidate = stem + "_" + std::to_string(n) + extension;
        }
        usedNames.insert(candidate);

        const fs::path destination = canonicalFolder / candidate;
        if (!reuse) {
            // Through a temporary: a copy cut short by a crash or a full
            // disk never stands under the name a saved project refers to.
            if (!CopyFileAtomic(*source, destination.string(), false, ec)) {
                std::printf("[Project] Failed to collect %s: %s\n", source->c_str(), ec.message().c_str());
                map[*source] = *source;
                continue;
            }
        }
        map[*source] = prefix + candidate;
        if (auto id = collector.ids.find(*source); id != collector.ids.end()) {
            RegisterFileId({id->second, destination.string(), 0, 0});
        }
    }
    return map;
}

std::string RemapCollectedPath(const CollectedAudioMap& map, const std::string& path) {
    if (path.empty()) return {};
    auto found = map.find(path);
    return found != map.end() ? found->second : path;
}

}  // namespace korvel
