// Identity hashing in the background.
#include "library/id_hashing.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "library/file_id.h"
#include "library/library.h"
#include "library/library_cache_file.h"
#include "library/palettes.h"
#include "project/event.h"

namespace korvel {

void StartFileIdHashing(Library& library) {
    if (library.idHashing.load()) return;
    std::vector<FileIdHashItem> batch;
    for (const Palette& palette : library.palettes)
        for (const LibraryFile& file : palette.files)
            if (file.fileId.empty() || file.fingerprint == 0) batch.push_back({palette.name, file.path});
    if (batch.empty()) return;

    library.idHashing.store(true);
    if (library.idHashThread.joinable()) library.idHashThread.join();
    try {
        library.idHashThread = std::thread(FileIdHashThread, std::ref(library), std::move(batch));
    } catch (const std::system_error&) {
        // No thread this run: the files keep their empty ids until the next.
        library.idHashing.store(false);
    }
}

void FileIdHashThread(Library& library, std::vector<FileIdHashItem> batch) {
    for (FileIdHashItem& item : batch) {
        if (!library.idHashing.load()) break;
        uint64_t fingerprint = 0, size = 0;
        if (!ComputeFileFingerprint(item.path, fingerprint, size)) continue;
        FileIdResult r = AssignFileId(item.path, fingerprint, size);
        std::lock_guard lock(library.idHashMutex);
        library.idHashResults.push_back(
            {std::move(item.paletteName), std::move(item.path), std::move(r.id), fingerprint, size});
    }
    library.idHashing.store(false);
}

void ApplyFileIdHashResults(Library& library) {
    std::vector<FileIdHashResult> results;
    {
        std::lock_guard lock(library.idHashMutex);
        results.swap(library.idHashResults);
    }
    for (const FileIdHashResult& result : results) {
        for (Palette& palette : library.palettes) {
            if (palette.name != result.paletteName) continue;
            for (LibraryFile& file : palette.files) {
                if (file.path == result.path && file.fileId.empty()) {
                    file.fileId = result.id;
                    file.fingerprint = result.fingerprint;
                    file.size = result.size;
                }
            }
            auto& rewrite = library.idHashRewrite;
            if (std::find(rewrite.begin(), rewrite.end(), palette.name) == rewrite.end())
                rewrite.push_back(palette.name);
        }
    }

    // Each cache file is written once, after the whole batch.
    if (library.idHashing.load() || library.idHashRewrite.empty()) return;
    {
        std::lock_guard lock(library.idHashMutex);
        if (!library.idHashResults.empty()) return;
    }
    if (!library.cacheFolder.empty()) {
        for (const std::string& name : library.idHashRewrite)
            for (const Palette& palette : library.palettes)
                if (palette.name == name) WritePaletteFile(palette, PaletteCachePath(library, name));
    }
    library.idHashRewrite.clear();
}

namespace {

std::string IdOfFile(const std::string& path) {
    uint64_t fingerprint = 0, size = 0;
    if (!ComputeFileFingerprint(path, fingerprint, size)) return {};
    return AssignFileId(path, fingerprint, size).id;
}

}  // namespace

void EnsureEventFileIds(Event& event) {
    event.pinnedFileIds.resize(event.pinnedFiles.size());
    for (size_t i = 0; i < event.pinnedFiles.size(); ++i)
        if (event.pinnedFileIds[i].empty() && !event.pinnedFiles[i].empty())
            event.pinnedFileIds[i] = IdOfFile(event.pinnedFiles[i]);
    const size_t length = strnlen(event.pinnedFile, sizeof event.pinnedFile);
    if (length > 0 && event.pinnedFileId.empty())
        event.pinnedFileId = IdOfFile(std::string(event.pinnedFile, length));
}

}  // namespace korvel
