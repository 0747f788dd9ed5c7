#pragma once
// Identity hashing in the background: once per run, library files without a
// FileId or fingerprint are fingerprinted on their own thread, and the UI
// thread copies the identities into the palettes and rewrites their cache
// files.
#include <string>
#include <vector>

namespace korvel {

struct Library;
struct Event;

// One file to fingerprint, named by its palette and path so the result can
// be applied safely after the palettes changed.
struct FileIdHashItem {
    std::string paletteName;
    std::string path;
};

// Starts a batch when none runs and some file needs an identity.
void StartFileIdHashing(Library& library);

// The hashing thread's body.
void FileIdHashThread(Library& library, std::vector<FileIdHashItem> batch);

// UI thread: copies published identities into files that still have none,
// and once the batch is over rewrites each affected palette's cache file.
void ApplyFileIdHashResults(Library& library);

// Fills in the missing identities of an event's pinned files.
void EnsureEventFileIds(Event& event);

}  // namespace korvel
