#include "library/relink.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "library/waveform.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

bool OpensForReading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

void MoveEntryTo(FileIdEntry& entry, const std::string& path) {
    AddAlternatePath(entry, path);
    entry.path = path;
}

// Replaces `path` with what `id` resolves to, when that is known and new;
// true when it did.
bool RefreshStoredPath(std::string& path, const FileId& id) {
    if (id.empty()) return false;
    std::string resolved = ResolvePathById(id);
    if (resolved.empty() || resolved == path) return false;
    path = std::move(resolved);
    return true;
}

struct WantedContent {
    uint64_t fingerprint = 0;
    uint64_t size = 0;
};

// Fingerprints `newPath`, then, under the registry lock, lets `relink` move
// the entry `id` stands for to the file with that content. `relink` answers
// kRelinked or why not; a relink is a new registry revision.
template <typename Relink>
int32_t RelinkEntry(FileIdRegistry& registry, const FileId& id, const std::string& newPath, Relink relink) {
    WantedContent content;
    if (!ComputeFileFingerprint(newPath, content.fingerprint, content.size)) return kRelinkUnreadable;

    std::lock_guard guard(registry.lock);
    const FileId canonical = CanonicalFileId(registry, id);
    auto found = registry.entries.find(canonical);
    if (found == registry.entries.end()) return kRelinkUnknownId;
    const int32_t result = relink(found->second, canonical, content);
    if (result == kRelinked) ++registry.revision;
    return result;
}

}  // namespace

std::string_view FileNameComponent(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

int32_t RelinkFileId(FileIdRegistry& registry, const FileId& id, const std::string& newPath) {
    return RelinkEntry(registry, id, newPath, [&](FileIdEntry& entry, const FileId& canonical, WantedContent content) {
        if (entry.fingerprint == 0) {
            entry.fingerprint = content.fingerprint;
            entry.size = content.size;
            registry.fingerprintIndex[content.fingerprint].push_back({content.size, canonical});
        } else if (entry.fingerprint != content.fingerprint || entry.size != content.size) {
            return kRelinkContentDiffers;
        }
        MoveEntryTo(entry, newPath);
        return kRelinked;
    });
}

int32_t ForceRelinkFileId(FileIdRegistry& registry, const FileId& id, const std::string& newPath) {
    return RelinkEntry(registry, id, newPath, [&](FileIdEntry& entry, const FileId& canonical, WantedContent content) {
        entry.fingerprint = content.fingerprint;
        entry.size = content.size;
        entry.path = newPath;
        entry.alternates.clear();
        // The old content's item stays, so that content still maps to this id.
        registry.fingerprintIndex[content.fingerprint].push_back({content.size, canonical});
        return kRelinked;
    });
}

int32_t RelinkAllMissing(FileIdRegistry& registry) {
    std::lock_guard guard(registry.lock);
    ++registry.revision;  // every cached existence answer is stale now
    int32_t count = 0;
    for (auto& [id, entry] : registry.entries) {
        const bool wasMissing = entry.checkedRevision >= 0 && !entry.exists;
        if (!ResolveEntryPath(registry, entry).empty() && wasMissing) ++count;
    }
    return count;
}

int32_t RelinkFromFolder(FileIdRegistry& registry, const std::string& folder, const RelinkExtensionFilter& filter) {
    std::vector<WantedContent> wantedContents;
    std::vector<std::string> wantedNames;
    {
        std::lock_guard guard(registry.lock);
        for (auto& [id, entry] : registry.entries) {
            if (!ResolveEntryPath(registry, entry).empty()) continue;
            if (entry.fingerprint != 0) {
                wantedContents.push_back({entry.fingerprint, entry.size});
            } else if (!entry.path.empty()) {
                wantedNames.emplace_back(FileNameComponent(entry.path));
            }
        }
    }
    if (wantedContents.empty() && wantedNames.empty()) return 0;

    std::error_code ec;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return 0;

    int32_t count = 0;
    for (; walk != fs::recursive_directory_iterator(); walk.increment(ec)) {
        if (ec) break;
        const fs::directory_entry& item = *walk;
        std::error_code itemError;
        if (!item.is_regular_file(itemError)) continue;

        const fs::path& filePath = item.path();
        if (filter) {
            std::string extension = filePath.extension().string();
            for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            if (!filter(extension)) continue;
        }
        const std::string name = filePath.filename().string();
        const uint64_t size = item.file_size(itemError);
        if (itemError) continue;
        const bool sizeWanted = std::any_of(wantedContents.begin(), wantedContents.end(),
                                            [&](const WantedContent& w) { return w.size == size; });
        const bool nameWanted = std::find(wantedNames.begin(), wantedNames.end(), name) != wantedNames.end();
        if (!sizeWanted && !nameWanted) continue;

        const std::string path = filePath.string();
        uint64_t fingerprint = 0;
        uint64_t fileSize = 0;
        if (!ComputeFileFingerprint(path, fingerprint, fileSize)) continue;

        std::lock_guard guard(registry.lock);
        for (auto& [id, entry] : registry.entries) {
            if (!ResolveEntryPath(registry, entry).empty()) continue;
            if (entry.fingerprint == fingerprint && entry.size == fileSize) {
                MoveEntryTo(entry, path);
                ++count;
            } else if (entry.fingerprint == 0 && !entry.path.empty() && FileNameComponent(entry.path) == name) {
                entry.fingerprint = fingerprint;
                entry.size = fileSize;
                registry.fingerprintIndex[fingerprint].push_back({fileSize, id});
                MoveEntryTo(entry, path);
                ++count;
            }
        }
        // Entries relinked in this pass must resolve as present in the next.
        ++registry.revision;
    }
    return count;
}

bool RefreshSessionSourcePaths(Project& project) {
    bool changed = false;
    for (LayerResult& layer : project.results) {
        changed |= RefreshStoredPath(layer.filepath, layer.fileId);
        for (LayerSourceRef* source : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv}) {
            changed |= RefreshStoredPath(source->filepath, source->fileId);
        }
    }
    for (Event& event : project.events) {
        if (!event.pinnedFileId.empty() && event.pinnedFile[0] != '\0') {
            const std::string resolved = ResolvePathById(event.pinnedFileId);
            if (!resolved.empty() && resolved != TextOf(event.pinnedFile)) {
                // The timeline draws a Clip from the overview stored under its path.
                MoveWaveformOverview(std::string(TextOf(event.pinnedFile)), resolved);
                CopyText(event.pinnedFile, resolved);
                changed = true;
            }
        }
        const std::size_t pinned = std::min(event.pinnedFiles.size(), event.pinnedFileIds.size());
        for (std::size_t i = 0; i < pinned; ++i)
            changed |= RefreshStoredPath(event.pinnedFiles[i], event.pinnedFileIds[i]);
    }
    const std::size_t banned = std::min(project.bannedFiles.size(), project.bannedFileIds.size());
    for (std::size_t i = 0; i < banned; ++i)
        changed |= RefreshStoredPath(project.bannedFiles[i], project.bannedFileIds[i]);
    return changed;
}

void RefreshPathFromFileId(std::string& path, const FileId& id) {
    if (id.empty()) return;
    std::string resolved = ResolveFileId(id, path);
    if (!resolved.empty()) path = std::move(resolved);
}

void RemapPathRoot(const std::string& oldRoot, const std::string& newRoot, std::string& path) {
    if (path.size() < oldRoot.size() || path.compare(0, oldRoot.size(), oldRoot) != 0) return;
    std::string remapped = newRoot + path.substr(oldRoot.size());
    if (OpensForReading(remapped)) path = std::move(remapped);
}

}  // namespace korvel
