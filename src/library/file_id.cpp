#include "library/file_id.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "library/content_hash.h"
#include "platform/random.h"

namespace korvel {

// [SECTION] Fingerprints and new ids

namespace {

// Reads exactly `count` bytes at `offset`; false on error or early end of file.
bool ReadExactly(int fd, unsigned char* out, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t got = pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Size of the file behind `path` (links followed); nullopt when it has none.
std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

FileId DrawFileId() {
    unsigned char bytes[8];
    FillRandomBytes(bytes, sizeof bytes);
    return FormatFileId(bytes);
}

// A fresh id that no entry and no alias uses yet.
FileId DrawUnusedFileId(const FileIdRegistry& registry) {
    for (;;) {
        FileId id = DrawFileId();
        if (!registry.entries.contains(id) && !registry.aliases.contains(id)) return id;
    }
}

}  // namespace

FileIdRegistry& GetFileIdRegistry() {
    static FileIdRegistry registry;
    return registry;
}

bool ComputeFileFingerprint(const std::string& path, std::uint64_t& fingerprint, std::uint64_t& size) {
    auto fileSize = FileSizeOf(path);
    if (!fileSize) return false;

    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;

    // Scan workers and the hashing thread fingerprint thousands of files;
    // one buffer per thread keeps that free of allocations.
    thread_local std::unique_ptr<unsigned char[]> buffer;
    if (!buffer) buffer = std::make_unique_for_overwrite<unsigned char[]>(kFingerprintRegionBytes);

    std::uint64_t h = kContentHashStart;
    bool ok = true;
    std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(*fileSize, kFingerprintRegionBytes));
    if (head > 0) {
        ok = ReadExactly(fd, buffer.get(), head, 0);
        if (ok) h = ContentHashFold(h, buffer.get(), head);
    }
    // Files between 64 and 128 KiB fold their shared bytes twice; that keeps
    // the cost of any file at two fixed reads.
    if (ok && *fileSize > kFingerprintRegionBytes) {
        ok = ReadExactly(fd, buffer.get(), kFingerprintRegionBytes, *fileSize - kFingerprintRegionBytes);
        if (ok) h = ContentHashFold(h, buffer.get(), kFingerprintRegionBytes);
    }
    close(fd);
    if (!ok) return false;

    unsigned char sizeBytes[8];
    for (int i = 0; i < 8; ++i) sizeBytes[i] = static_cast<unsigned char>(*fileSize >> (8 * i));
    h = ContentHashFold(h, sizeBytes, sizeof sizeBytes);

    fingerprint = ContentHashFinish(h);
    size = *fileSize;
    return true;
}

FileId FormatFileId(const unsigned char (&bytes)[8]) {
    char text[17];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]);
    return FileId(text);
}

bool FileMatchesEntry(const std::string& path, const FileIdEntry& entry) {
    auto size = FileSizeOf(path);
    if (!size) return false;
    return entry.size == 0 || entry.size == *size;
}

// [SECTION] Lock-holding helpers

FileId CanonicalFileId(const FileIdRegistry& registry, const FileId& id) {
    auto alias = registry.aliases.find(id);
    return alias != registry.aliases.end() ? alias->second : id;
}

std::optional<FileId> FindIdByFingerprint(const FileIdRegistry& registry, std::uint64_t fingerprint,
                                          std::uint64_t size) {
    if (fingerprint == 0) return std::nullopt;
    auto list = registry.fingerprintIndex.find(fingerprint);
    if (list == registry.fingerprintIndex.end()) return std::nullopt;
    for (const auto& item : list->second) {
        if (item.size == size && registry.entries.contains(item.id)) return item.id;
    }
    return std::nullopt;
}

void AddAlternatePath(FileIdEntry& entry, const std::string& path) {
    if (path.empty() || path == entry.path) return;
    if (entry.alternates.size() >= kMaxAlternatePaths) return;
    for (const auto& alternate : entry.alternates) {
        if (alternate == path) return;
    }
    entry.alternates.push_back(path);
}

std::string ResolveEntryPath(const FileIdRegistry& registry, FileIdEntry& entry) {
    if (entry.checkedRevision == registry.revision) return entry.exists ? entry.path : std::string();
    entry.checkedRevision = registry.revision;

    if (FileMatchesEntry(entry.path, entry)) {
        entry.exists = true;
        return entry.path;
    }
    for (std::size_t i = 0; i < entry.alternates.size(); ++i) {
        const std::string& alternate = entry.alternates[i];
        if (alternate.empty() || !FileMatchesEntry(alternate, entry)) continue;
        std::string previous = std::move(entry.path);
        entry.path = alternate;
        entry.alternates.erase(entry.alternates.begin() + static_cast<std::ptrdiff_t>(i));
        AddAlternatePath(entry, previous);
        entry.exists = true;
        return entry.path;
    }
    entry.exists = false;
    return {};
}

// [SECTION] Public operations

FileIdResult AssignFileId(const std::string& path, std::uint64_t fingerprint, std::uint64_t size) {
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);

    if (auto known = FindIdByFingerprint(registry, fingerprint, size)) {
        FileIdEntry& entry = registry.entries.at(*known);
        AddAlternatePath(entry, path);
        ++registry.revision;
        return {*known, entry.path, fingerprint, size};
    }

    FileId id = DrawUnusedFileId(registry);
    FileIdEntry entry;
    entry.path = path;
    entry.fingerprint = fingerprint;
    entry.size = size;
    registry.entries.emplace(id, std::move(entry));
    if (fingerprint != 0) registry.fingerprintIndex[fingerprint].push_back({size, id});
    ++registry.revision;
    return {id, path, fingerprint, size};
}

FileIdResult ComputeFileId(const std::string& path) {
    std::uint64_t fingerprint = 0;
    std::uint64_t size = 0;
    // Fingerprinting reads the disk, so it runs before the lock is taken.
    if (!ComputeFileFingerprint(path, fingerprint, size)) return {FileId(), path, 0, 0};
    return AssignFileId(path, fingerprint, size);
}

void RegisterFileId(const FileIdResult& identity) {
    RegisterFileId(identity.id, identity.path, identity.fingerprint, identity.size);
}

void RegisterFileId(const FileId& id, const std::string& path, std::uint64_t fingerprint, std::uint64_t size) {
    if (id.empty()) return;
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);
    // Not copied: nothing below changes the aliases before the last use.
    const auto alias = registry.aliases.find(id);
    const FileId& canonical = alias != registry.aliases.end() ? alias->second : id;
    if (auto known = registry.entries.find(canonical); known != registry.entries.end()) {
        FileIdEntry& entry = known->second;
        if (entry.fingerprint == 0 && fingerprint != 0) {
            entry.fingerprint = fingerprint;
            entry.size = size;
            registry.fingerprintIndex[fingerprint].push_back({size, canonical});
        }
        // The first path registered for an id stays current; later ones are alternates.
        AddAlternatePath(entry, path);
        ++registry.revision;
        return;
    }

    if (fingerprint != 0) {
        if (auto same = FindIdByFingerprint(registry, fingerprint, size)) {
            registry.aliases[id] = *same;
            AddAlternatePath(registry.entries.at(*same), path);
            ++registry.revision;
            return;
        }
    }

    FileIdEntry entry;
    entry.path = path;
    entry.fingerprint = fingerprint;
    entry.size = size;
    registry.entries.emplace(id, std::move(entry));
    if (fingerprint != 0) {
        registry.fingerprintIndex[fingerprint].push_back({size, id});
    }
    ++registry.revision;
}

bool LookupFileId(const FileId& id, FileIdResult& out) {
    if (id.empty()) return false;
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);
    FileId canonical = CanonicalFileId(registry, id);
    auto found = registry.entries.find(canonical);
    if (found == registry.entries.end()) return false;
    out = {canonical, found->second.path, found->second.fingerprint, found->second.size};
    return true;
}

std::string ResolvePathById(const FileId& id) {
    if (id.empty()) return {};
    FileIdRegistry& registry = GetFileIdRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.entries.find(CanonicalFileId(registry, id));
    if (found == registry.entries.end()) return {};
    return ResolveEntryPath(registry, found->second);
}

std::string ResolveFileId(const FileId& id, const std::string& fallbackPath) {
    if (id.empty()) return {};
    {
        FileIdRegistry& registry = GetFileIdRegistry();
        std::lock_guard guard(registry.lock);
        if (!fallbackPath.empty() && !registry.entries.contains(CanonicalFileId(registry, id))) {
            FileIdEntry entry;
            entry.path = fallbackPath;
            registry.entries.emplace(id, std::move(entry));
            ++registry.revision;
        }
    }
    // The lock is not recursive: it is released before resolving takes it again.
    return ResolvePathById(id);
}

}  // namespace korvel
