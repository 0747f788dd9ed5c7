#pragma once
// Stable identities of sound files across moves and renames, and the
// process-wide registry that maps each identity to the file's current path.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvel {

// 16 lower-case hex digits from 8 random bytes; empty = no identity.
using FileId = std::string;

// What the registry hands out and what readers of stored identities give back.
struct FileIdResult {
    FileId id;
    std::string path;
    std::uint64_t fingerprint = 0;  // 0 = unknown
    std::uint64_t size = 0;         // 0 = unknown
};

struct FileIdEntry {
    std::string path;
    std::vector<std::string> alternates;  // other paths of the same content, oldest first, at most 8
    std::uint64_t fingerprint = 0;        // 0 = none
    std::uint64_t size = 0;               // 0 = unknown: any size matches
    std::int32_t checkedRevision = -1;    // registry revision of the last existence check
    bool exists = false;                  // outcome of that check
};

struct FileIdFingerprintItem {
    std::uint64_t size = 0;
    FileId id;
};

struct FileIdRegistry {
    std::unordered_map<FileId, FileIdEntry> entries;
    // Ids read back for content already registered under another id; a
    // target is always a key of `entries` (one level only).
    std::unordered_map<FileId, FileId> aliases;
    // Items are never removed, even when an entry's fingerprint changes.
    std::unordered_map<std::uint64_t, std::vector<FileIdFingerprintItem>> fingerprintIndex;
    // Guards every member. Not recursive: operations that take it never call
    // one another while holding it.
    std::mutex lock;
    // Bumped by every change; cached existence answers hold only while an
    // entry's checkedRevision equals it.
    std::int32_t revision = 0;
};

inline constexpr std::size_t kMaxAlternatePaths = 8;
inline constexpr std::size_t kFingerprintRegionBytes = 65536;

// The one registry of the process, built on first use from any thread.
// Every thread (UI, background job, scan workers, identity hashing, export)
// uses it, always under its `lock`.
FileIdRegistry& GetFileIdRegistry();

// Content fingerprint of the file's first and last 64 KiB and its size.
// False when the file is missing or cannot be read. Never touches the registry.
bool ComputeFileFingerprint(const std::string& path, std::uint64_t& fingerprint, std::uint64_t& size);

// 8 bytes as 16 lower-case hex digits, in buffer order.
FileId FormatFileId(const unsigned char (&bytes)[8]);

// [SECTION] Operations that take the registry lock
FileIdResult AssignFileId(const std::string& path, std::uint64_t fingerprint, std::uint64_t size);
FileIdResult ComputeFileId(const std::string& path);
void RegisterFileId(const FileIdResult& identity);
// The same from a stored record's fields, without copying them first: a
// cache file of 100,000 records registers each one as it is read.
void RegisterFileId(const FileId& id, const std::string& path, std::uint64_t fingerprint, std::uint64_t size);
bool LookupFileId(const FileId& id, FileIdResult& out);
std::string ResolvePathById(const FileId& id);
std::string ResolveFileId(const FileId& id, const std::string& fallbackPath);

// Takes no lock: reads only the entry's size and the file system.
bool FileMatchesEntry(const std::string& path, const FileIdEntry& entry);

// [SECTION] Operations for callers that already hold `registry.lock`
FileId CanonicalFileId(const FileIdRegistry& registry, const FileId& id);
std::optional<FileId> FindIdByFingerprint(const FileIdRegistry& registry, std::uint64_t fingerprint,
                                          std::uint64_t size);
void AddAlternatePath(FileIdEntry& entry, const std::string& path);
std::string ResolveEntryPath(const FileIdRegistry& registry, FileIdEntry& entry);

}  // namespace korvel
