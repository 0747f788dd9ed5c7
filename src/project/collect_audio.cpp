#include "project/collect_audio.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
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

// [SECTION] What is known about earlier copies
//
// Saves and auto-saves meet the same copies again and again. Telling a copy
// from a different file of the same size needs content fingerprints, which
// read 128 KiB per file; what was learnt is kept per path together with the
// file's size and modification time, so an unchanged save is a status and
// size test per file again. A stamp is trusted only when the file's time lies
// well before the moment it was recorded: a file rewritten within the same
// tick of a coarse file-system clock would otherwise keep its stamp.

struct FileStamp {
    std::uint64_t size = 0;
    fs::file_time_type time{};
    bool operator==(const FileStamp&) const = default;
};

constexpr auto kStampMargin = std::chrono::seconds(2);

bool StampOf(const fs::path& path, FileStamp& stamp) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    stamp.size = fs::file_size(path, ec);
    if (ec) return false;
    stamp.time = fs::last_write_time(path, ec);
    return !ec;
}

struct KnownFingerprint {
    FileStamp stamp;
    std::uint64_t fingerprint = 0;
};

struct KnownCopy {
    std::string source;
    FileStamp sourceStamp;
    FileStamp copyStamp;
};

// Any thread that saves (UI, auto-save) uses it under `lock`.
struct CollectMemo {
    std::mutex lock;
    std::unordered_map<std::string, KnownFingerprint> fingerprints;  // by path
    std::unordered_map<std::string, KnownCopy> copies;               // by destination path
};
CollectMemo gCollectMemo;

// Set by tests before they save; read by whichever thread saves.
std::atomic<CollectFingerprintReader> gFingerprintReader{&ComputeFileFingerprint};

bool Trusted(const FileStamp& stamp) { return stamp.time + kStampMargin < fs::file_time_type::clock::now(); }

bool FingerprintOf(const std::string& path, const FileStamp& stamp, std::uint64_t& fingerprint) {
    {
        std::lock_guard lock(gCollectMemo.lock);
        if (auto known = gCollectMemo.fingerprints.find(path);
            known != gCollectMemo.fingerprints.end() && known->second.stamp == stamp) {
            fingerprint = known->second.fingerprint;
            return true;
        }
    }
    std::uint64_t size = 0;
    if (!gFingerprintReader.load()(path, fingerprint, size)) return false;
    if (Trusted(stamp)) {
        std::lock_guard lock(gCollectMemo.lock);
        gCollectMemo.fingerprints[path] = {stamp, fingerprint};
    }
    return true;
}

void RememberCopy(const std::string& destination, const std::string& source, const FileStamp& sourceStamp,
                  const FileStamp& copyStamp) {
    std::lock_guard lock(gCollectMemo.lock);
    if (Trusted(sourceStamp) && Trusted(copyStamp))
        gCollectMemo.copies[destination] = {source, sourceStamp, copyStamp};
    else
        gCollectMemo.copies.erase(destination);
}

// Whether the file at `destination` already is a copy of the source: same
// size and same content fingerprint. The source's stamp is taken once, its
// fingerprint only when some destination has its size, and from the identity
// registry when the source's identity knows it.
struct SourceMatcher {
    SourceMatcher(const std::string& sourcePath, const FileId* sourceId) : source(sourcePath), id(sourceId) {}

    const std::string& source;
    const FileId* id = nullptr;
    FileStamp stamp;
    bool stamped = false;
    bool fingerprinted = false;
    std::uint64_t fingerprint = 0;

    bool Stamp() {
        if (!stamped) stamped = StampOf(source, stamp);
        return stamped;
    }

    bool Fingerprint() {
        if (fingerprinted) return true;
        FileIdResult known;
        if (id && LookupFileId(*id, known) && known.fingerprint != 0 && known.size == stamp.size) {
            fingerprint = known.fingerprint;
            fingerprinted = true;
        } else {
            fingerprinted = FingerprintOf(source, stamp, fingerprint);
        }
        return fingerprinted;
    }

    bool Matches(const fs::path& destination) {
        FileStamp copy;
        if (!StampOf(destination, copy) || !Stamp() || copy.size != stamp.size) return false;
        const std::string key = destination.string();
        {
            std::lock_guard lock(gCollectMemo.lock);
            if (auto known = gCollectMemo.copies.find(key); known != gCollectMemo.copies.end() &&
                                                            known->second.source == source &&
                                                            known->second.sourceStamp == stamp &&
                                                            known->second.copyStamp == copy)
                return true;
        }
        std::uint64_t other = 0;
        if (!Fingerprint() || !FingerprintOf(key, copy, other) || other != fingerprint) return false;
        RememberCopy(key, source, stamp, copy);
        return true;
    }

    // A fresh copy takes the source's time, so that it is as settled as its
    // source and the next save trusts what it learns about it now.
    void Copied(const fs::path& destination) {
        if (!Stamp()) return;
        std::error_code ec;
        fs::last_write_time(destination, stamp.time, ec);
        FileStamp copy;
        if (!ec && StampOf(destination, copy)) RememberCopy(destination.string(), source, stamp, copy);
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
        if (layer.procMode == kProcModeAlloy) {
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
        const auto id = collector.ids.find(*source);
        SourceMatcher matcher(*source, id != collector.ids.end() ? &id->second : nullptr);

        std::string candidate = stem + extension;
        bool reuse = false;
        for (int n = 2;; ++n) {
            // A name given out in this call belongs to that source, even when
            // another source has the same bytes: each keeps its own copy.
            if (!usedNames.contains(candidate)) {
                const fs::path destination = canonicalFolder / candidate;
                // A name whose status cannot be taken (too long, no access)
                // ends the search too: its copy then fails and is reported,
                // and a copy never replaces an existing file.
                const fs::file_type type = fs::symlink_status(destination, ec).type();
                if (type == fs::file_type::not_found || ec) break;
                // A file already there with this content is this source's
                // copy from an earlier save; a different file there may be
                // the only copy an earlier save or a backup refers to, so it
                // is never replaced.
                if (matcher.Matches(destination)) {
                    reuse = true;
                    break;
                }
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
            matcher.Copied(destination);
        }
        map[*source] = prefix + candidate;
        if (id != collector.ids.end()) {
            RegisterFileId({id->second, destination.string(), 0, 0});
        }
    }
    return map;
}

void SetCollectFingerprintReader(CollectFingerprintReader reader) {
    gFingerprintReader.store(reader ? reader : &ComputeFileFingerprint);
}

std::string RemapCollectedPath(const CollectedAudioMap& map, const std::string& path) {
    if (path.empty()) return {};
    auto found = map.find(path);
    return found != map.end() ? found->second : path;
}

}  // namespace korvel
