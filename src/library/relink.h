#pragma once
// Pointing file identities at the new locations of moved or missing files,
// and copying the registry's current answers back into the open project.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "library/file_id.h"

namespace korvel {

struct Project;

enum RelinkResult : int32_t {
    kRelinked = 0,
    kRelinkContentDiffers = 1,  // fingerprint or size differ from the identity's
    kRelinkUnreadable = 2,
    kRelinkUnknownId = 3,
};

// Takes a lower-cased extension with its leading dot (".wav"); true keeps it.
using RelinkExtensionFilter = std::function<bool(std::string_view)>;

// The relink operations take `registry.lock` themselves.
int32_t RelinkFileId(FileIdRegistry& registry, const FileId& id, const std::string& newPath);
// Accepts any readable file: the identity takes over the file's content.
int32_t ForceRelinkFileId(FileIdRegistry& registry, const FileId& id, const std::string& newPath);
// Re-checks every entry; counts those that were found missing before and
// resolve now.
int32_t RelinkAllMissing(FileIdRegistry& registry);
// Searches the folder (recursively) for the content of every unresolved
// entry, or for its file name when it has no fingerprint. The lock is not
// held while the folder is walked or files are fingerprinted. Returns the
// number of entries relinked.
int32_t RelinkFromFolder(FileIdRegistry& registry, const std::string& folder, const RelinkExtensionFilter& filter);

// Replace the project's stored paths (layers, alloy sources, pinned and
// banned files) with what their ids resolve to in the process-wide registry.
// Unresolved ids leave their paths alone; no id is added or changed. True
// when any stored path changed.
bool RefreshSessionSourcePaths(Project& project);

// Resolves `id` with `path` as the fallback (registering an id never seen
// under it) and stores a non-empty answer in `path`. Nothing for an empty id.
void RefreshPathFromFileId(std::string& path, const FileId& id);

// When `path` begins with the bytes of `oldRoot`, moves it under `newRoot`,
// provided the file there opens for reading.
void RemapPathRoot(const std::string& oldRoot, const std::string& newRoot, std::string& path);

// The part of a path after its last slash or backslash: stored paths may
// come from either kind of system.
std::string_view FileNameComponent(std::string_view path);

}  // namespace korvel
