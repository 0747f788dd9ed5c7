// The folder scan and the library's per-frame upkeep.
//
// [SECTION] Status texts
// [SECTION] Starting a scan
// [SECTION] The scan thread
// [SECTION] Workers
// [SECTION] Upkeep on the UI thread
#include "library/folder_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "library/analysis.h"
#include "library/channel_layout.h"
#include "library/file_id.h"
#include "library/id_hashing.h"
#include "library/keyword_index.h"
#include "library/library_cache_file.h"
#include "library/palette_summary.h"
#include "library/palettes.h"
#include "project/app_state.h"
#include "project/file_io.h"

namespace korvel {

namespace fs = std::filesystem;

std::vector<PendingLibraryFolder> PendingLibraryFolders;

namespace {

// ---------------------------------------------------------------------------
// [SECTION] Status texts
// ---------------------------------------------------------------------------

// The status texts are fixed buffers that the UI thread reads while the scan
// writes them; every access goes through the library's status lock.
template <size_t N>
void SetText(Library& library, char (&buffer)[N], std::string_view text) {
    std::lock_guard lock(library.scanStatusMutex);
    const size_t count = std::min(text.size(), N - 1);
    std::copy_n(text.data(), count, buffer);
    buffer[count] = '\0';
}

// The part after the last separator. Scan paths name regular files, so this
// is the path's file name without building a path object for each file.
std::string_view FileNameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string ScanStatusText(Library& library) {
    std::lock_guard lock(library.scanStatusMutex);
    return std::string(library.scanStatus, strnlen(library.scanStatus, sizeof library.scanStatus));
}

std::vector<std::string> ScanSkippedFiles(Library& library) {
    std::lock_guard lock(library.scanStatusMutex);
    return library.skippedFiles;
}

bool IsSupportedAudioExtension(std::string_view extension) {
    std::string lower(extension);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return std::find(AudioFileExtensions.begin(), AudioFileExtensions.end(), lower) !=
           AudioFileExtensions.end();
}

int32_t ScanWorkerCount(int32_t hardwareThreads, int32_t maxThreads, int32_t fileCount) {
    const int32_t H = hardwareThreads > 0 ? hardwareThreads : 4;
    const int32_t T = (maxThreads > 0 && maxThreads < H) ? maxThreads : H;
    return std::max(1, std::min(fileCount, T));
}

// ---------------------------------------------------------------------------
// [SECTION] Starting a scan
// ---------------------------------------------------------------------------

void StartFolderScan(Library& library, const std::string& folder, bool enabled, int32_t trackGroup,
                     bool force) {
    if (library.scanning.load()) return;
    // The folder's stem names the palette and its cache file; a NUL would cut
    // that name short onto another palette's file.
    if (folder.find('\0') != std::string::npos) return;
    if (library.scanThread.joinable()) library.scanThread.join();

    library.scanning.store(true);
    library.scanProgress.store(0.0f);
    library.scanFilesDone.store(0);
    library.scanFilesTotal.store(0);
    library.scanReused.store(0);
    library.scanAnalysed.store(0);
    SetText(library, library.scanStatus, "");
    SetText(library, library.scanFolderName, FolderLastComponent(folder));
    library.scanFolder = {folder, enabled, trackGroup};

    // The scan works with the channel-order setting of this moment: the UI
    // may change the global while the workers run.
    ScanRequest request{&library, folder, enabled, trackGroup, force, library.maxScanThreads};
    request.channelOrderFallback = GlobalAppState.channelOrderFallback;
    try {
        library.scanThread = std::thread(FolderScanThread, std::move(request));
    } catch (const std::system_error&) {
        library.scanning.store(false);
    }
}

// ---------------------------------------------------------------------------
// [SECTION] The scan thread
// ---------------------------------------------------------------------------

namespace {

// Every sound file below the folder, as long as the scan is not cancelled.
// Returns whether the walk went through to its end.
bool WalkFolder(Library& library, const std::string& folder, std::vector<std::string>& paths) {
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    const fs::recursive_directory_iterator end;
    while (!ec && it != end) {
        if (!library.scanning.load(std::memory_order_relaxed)) return false;
        std::error_code typeError;
        if (it->is_regular_file(typeError)) {
            std::string name = it->path().filename().string();
            if (size_t colon = name.find(':'); colon != std::string::npos) name.resize(colon);
            if (IsSupportedAudioExtension(fs::path(name).extension().string()))
                paths.push_back(it->path().string());
        }
        it.increment(ec);
    }
    if (!ec) return true;

    std::string message = ec.message();
    char text[256];
    if (message.empty())
        std::snprintf(text, sizeof text, "Scan interrupted: folder became inaccessible");
    else
        std::snprintf(text, sizeof text, "Scan interrupted: %s", message.c_str());
    SetText(library, library.lastScanError, text);
    return false;
}

void RunWorkers(ScanJob& job, int32_t workers) {
    if (workers <= 1) {
        ScanWorker(job);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (int32_t w = 0; w < workers; ++w) {
        try {
            threads.emplace_back(ScanWorker, std::ref(job));
        } catch (const std::system_error&) {
            break;  // fewer workers: the ones that started share the files
        }
    }
    if (threads.empty()) ScanWorker(job);
    for (std::thread& t : threads) t.join();
}

}  // namespace

void FolderScanThread(ScanRequest request) {
    Library& library = *request.library;

    auto job = std::make_unique<ScanJob>();
    job->library = &library;
    job->channelOrderFallback = request.channelOrderFallback;
    Palette& palette = job->palette;
    palette.folder = request.folder;
    palette.name = PaletteNameForFolder(request.folder);
    palette.enabled = request.enabled;
    palette.trackGroup = request.trackGroup;

    SetText(library, library.lastScanError, "");
    {
        std::lock_guard lock(library.scanStatusMutex);
        library.skippedFiles.clear();
    }

    // The previous cache file is read while the folder is walked: on an
    // unchanged rescan of a large library the two take about as long.
    const std::string cachePath =
        library.cacheFolder.empty() ? std::string() : PaletteCachePath(library, palette.name);
    Palette old;
    bool oldRead = false;
    std::thread cacheReader;
    if (!cachePath.empty()) {
        try {
            cacheReader = std::thread([&] { oldRead = ReadPaletteFile(cachePath, old); });
        } catch (const std::system_error&) {
            oldRead = ReadPaletteFile(cachePath, old);  // no thread: read after all
        }
    }

    std::vector<std::string>& paths = job->paths;
    const bool walkCancelled = !WalkFolder(library, request.folder, paths) &&
                               !library.scanning.load(std::memory_order_relaxed);
    if (cacheReader.joinable()) cacheReader.join();
    const int32_t count = static_cast<int32_t>(paths.size());
    library.scanFilesTotal.store(count);
    if (count == 0) {
        SetText(library, library.scanStatus, "No audio files found.");
        library.scanning.store(false);
        return;
    }
    std::sort(paths.begin(), paths.end());
    job->fileCount = count;

    // The previous records serve two ends: unchanged files are taken over
    // from them (unless the scan is forced), and a cancelled rescan keeps
    // those of the files it did not reach.
    std::unordered_map<std::string, LibraryFile> previous;
    if (oldRead) {
        palette.paletteInterpret = old.paletteInterpret;
        palette.mmDisableGrouping = old.mmDisableGrouping;
        previous.reserve(old.files.size());
        for (LibraryFile& f : old.files) {
            std::string key = f.path;
            previous.emplace(std::move(key), std::move(f));
        }
        old.files.clear();
        job->previousHeader = std::move(old);
    }
    if (!request.force) {
        job->reuse = std::move(previous);
        job->reuseRegistered = true;
        job->knownShort = library.shortFiles;
    }
    const auto& previousRecords = request.force ? previous : job->reuse;
    if (!previousRecords.empty()) job->previous = &previousRecords;

    job->results.resize(count);
    job->done = std::make_unique<std::atomic<bool>[]>(count);
    job->checkpointPath = cachePath;

    const int32_t hardware = static_cast<int32_t>(std::thread::hardware_concurrency());
    RunWorkers(*job, ScanWorkerCount(hardware, request.maxThreads, count));
    {
        std::lock_guard lock(library.scanStatusMutex);
        library.skippedFiles = std::move(job->skippedFiles);
    }

    // Workers finish every file they take, so the files from `nextIndex` on
    // were not reached; a cancelled rescan keeps their previous records.
    const int32_t reached = std::min(job->nextIndex.load(), count);
    for (int32_t i = 0; i < reached; ++i) library.shortFiles.erase(paths[i]);
    library.shortFiles.merge(job->foundShort);
    // The palette's files are gathered in place, in path order: slot i moves
    // down to the next free place, never up, so a slot is read before any
    // write can reach it. A 100,000-file palette is thus never moved whole.
    std::vector<LibraryFile>& files = job->results;
    size_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (job->done[i].load(std::memory_order_acquire)) {
            if (kept != static_cast<size_t>(i)) files[kept] = std::move(files[i]);
            ++kept;
        } else if (i >= reached) {
            if (auto found = previousRecords.find(paths[i]); found != previousRecords.end())
                files[kept++] = found->second;
        }
    }
    files.resize(kept);
    if (walkCancelled && !previousRecords.empty()) {
        // Files the cancelled walk never listed keep their records too.
        std::unordered_set<std::string_view> listed(paths.begin(), paths.end());
        for (const auto& [path, record] : previousRecords)
            if (!listed.count(path)) files.push_back(record);
        std::sort(files.begin(), files.end(),
                  [](const LibraryFile& a, const LibraryFile& b) { return a.path < b.path; });
    }
    palette.files = std::move(files);
    // Files that could not be analysed are found but not indexed.
    const auto indexed = static_cast<int32_t>(palette.files.size());

    library.scanFilesDone.store(count);
    library.scanProgress.store(1.0f);
    palette.scanned = NowSeconds();

    GroupPaletteMultiMonoFiles(palette);
    SummarizePalette(palette, request.channelOrderFallback);

    if (!palette.files.empty()) {
        if (!cachePath.empty()) WritePaletteFile(palette, cachePath);
        std::lock_guard lock(library.finishedScansMutex);
        library.finishedScans.push_back(std::move(palette));
    }

    char text[256];
    std::snprintf(text, sizeof text, "Done! %d files indexed.", indexed);
    SetText(library, library.scanStatus, text);
    library.scanning.store(false);
}

// ---------------------------------------------------------------------------
// [SECTION] Workers
// ---------------------------------------------------------------------------

namespace {

// The file's size and its modification time as GetFileModifiedTime gives it
// (whole seconds since 1970, truncated toward zero), from one stat call: an
// unchanged rescan does little else per file.
bool SizeAndTime(const std::string& path, uint64_t& size, int64_t& time) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<uint64_t>(info.st_size);
    time = static_cast<int64_t>(info.st_mtim.tv_sec);
    if (time < 0 && info.st_mtim.tv_nsec > 0) ++time;
    return true;
}

// Takes the stored record over when the file's size and time are unchanged.
bool TryReuse(ScanJob& job, int32_t i) {
    if (job.reuse.empty()) return false;
    const std::string& path = job.paths[i];
    auto found = job.reuse.find(path);
    if (found == job.reuse.end() || found->second.mtime == 0) return false;
    LibraryFile& stored = found->second;
    uint64_t size = 0;
    int64_t time = 0;
    if (!SizeAndTime(path, size, time)) return false;
    if (time == 0 || size != stored.size || time != stored.mtime) return false;

    if (!stored.fileId.empty() && !job.reuseRegistered)
        RegisterFileId({stored.fileId, path, stored.fingerprint, stored.size});
    // Each path is taken once, and a record taken over is never looked up
    // again (only files the scan did not reach are), so it is moved.
    job.results[i] = std::move(stored);
    job.done[i].store(true, std::memory_order_release);
    job.library->scanReused.fetch_add(1);
    return true;
}

// A file an earlier scan found too short to analyse, unchanged since: it is
// passed over again, left out of the palette as before.
bool PassOverShortFile(ScanJob& job, int32_t i) {
    if (job.knownShort.empty()) return false;
    const std::string& path = job.paths[i];
    const auto found = job.knownShort.find(path);
    if (found == job.knownShort.end()) return false;
    uint64_t size = 0;
    int64_t time = 0;
    if (!SizeAndTime(path, size, time)) return false;
    if (time == 0 || size != found->second.size || time != found->second.mtime) return false;
    std::lock_guard lock(job.resultsMutex);
    job.foundShort.emplace(path, found->second);
    return true;
}

bool Analyse(ScanJob& job, int32_t i, FftState& fft) {
    try {
        LibraryFile record;
        bool tooShort = false;
        if (!AnalyzeAudioFile(job.paths[i], record, &fft, job.channelOrderFallback, &tooShort)) {
            if (tooShort && record.mtime != 0 && record.size != 0) {
                std::lock_guard lock(job.resultsMutex);
                job.foundShort.emplace(job.paths[i], ShortFileStamp{record.size, record.mtime});
            }
            return false;
        }
        job.results[i] = std::move(record);
    } catch (...) {
        return false;  // out of memory on one file: skip it, keep scanning
    }
    job.done[i].store(true, std::memory_order_release);
    job.library->scanAnalysed.fetch_add(1);
    return true;
}

// Writes the files done so far, the previous records of the files not done
// yet, and the previous file's header values. A slot marked done is final
// (its worker never writes it again), so the records are read in place,
// without the results lock: the other workers keep finishing files while
// the text is formatted and written. One checkpoint writes at a time; one
// that falls due meanwhile is skipped, the next will hold its files.
void WriteCheckpoint(ScanJob& job) {
    if (job.checkpointWriting.exchange(true, std::memory_order_acquire)) return;
    Palette header = job.previousHeader;
    header.folder = job.palette.folder;
    header.name = job.palette.name;
    std::vector<const LibraryFile*> files;
    files.reserve(static_cast<size_t>(job.fileCount));
    for (int32_t i = 0; i < job.fileCount; ++i) {
        if (job.done[i].load(std::memory_order_acquire)) {
            files.push_back(&job.results[i]);
        } else if (job.previous) {
            if (auto found = job.previous->find(job.paths[i]); found != job.previous->end())
                files.push_back(&found->second);
        }
    }
    if (!files.empty()) WritePaletteFile(header, files, job.checkpointPath);
    job.checkpointWriting.store(false, std::memory_order_release);
}

// The file a worker takes, as the status line. A worker that finds another
// writing it leaves its own name out, which the next file's would replace a
// moment later anyway: on an unchanged folder the workers take files a few
// microseconds apart and would otherwise queue on the lock.
void ShowFileName(Library& library, std::string_view name) {
    std::unique_lock lock(library.scanStatusMutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const size_t count = std::min(name.size(), sizeof library.scanStatus - 1);
    std::copy_n(name.data(), count, library.scanStatus);
    library.scanStatus[count] = '\0';
}

}  // namespace

void ScanWorker(ScanJob& job) {
    Library& library = *job.library;
    FftState fft;  // one plan and window for every file of this worker
    while (library.scanning.load(std::memory_order_relaxed)) {
        const int32_t i = job.nextIndex.fetch_add(1);
        if (i >= job.fileCount) break;
        const std::string_view name = FileNameOf(job.paths[i]);
        ShowFileName(library, name);

        if (!TryReuse(job, i) && (PassOverShortFile(job, i) || !Analyse(job, i, fft))) {
            std::lock_guard lock(job.resultsMutex);
            job.skippedFiles.emplace_back(name);
        }

        const int32_t d = job.doneCount.fetch_add(1) + 1;
        library.scanFilesDone.store(d);
        library.scanProgress.store(static_cast<float>(d) / static_cast<float>(job.fileCount));

        if (!job.checkpointPath.empty()) {
            const int32_t c = job.checkpointCounter.fetch_add(1) + 1;
            // Until a file has been analysed, every record done came from the
            // cache file on disk, which therefore already holds them all:
            // rewriting it would only cost time on an unchanged rescan.
            if (c >= job.checkpointInterval && library.scanAnalysed.load() > 0) {
                job.checkpointCounter.store(0);
                WriteCheckpoint(job);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Upkeep on the UI thread
// ---------------------------------------------------------------------------

namespace {

bool MergeFinishedScans(Library& library) {
    bool merged = false;
    std::lock_guard lock(library.finishedScansMutex);
    if (!library.finishedScans.empty()) {
        library.keywordIndex.dirty = true;
        library.fileIndexDirty = true;
        for (Palette& finished : library.finishedScans) {
            auto same = std::find_if(library.palettes.begin(), library.palettes.end(),
                                     [&](const Palette& p) { return p.name == finished.name; });
            if (same != library.palettes.end()) *same = std::move(finished);
            else library.palettes.push_back(std::move(finished));
            merged = true;
        }
        library.finishedScans.clear();
    }
    if (library.keywordIndex.dirty) RebuildKeywordIndex(library.keywordIndex, library);
    return merged;
}

void CheckPaletteFolders(Library& library) {
    for (Palette& palette : library.palettes) {
        if (palette.folder.empty()) {
            palette.folderMissing = false;
            continue;
        }
        std::error_code ec;
        const bool isFolder = fs::is_directory(palette.folder, ec);
        palette.folderMissing = ec || !isFolder;
    }
}

}  // namespace

void UpdateLibrary(Library& library, double uiTime) {
    // The interpretation map has its own lock, taken after the finished-scans
    // lock is released so the two are never held together.
    if (MergeFinishedScans(library)) RebuildChannelInterpretationMap(library);

    if (!library.scanning.load() && !library.folderQueue.empty()) {
        const PendingLibraryFolder next = library.folderQueue.front();
        library.folderQueue.erase(library.folderQueue.begin());
        if (!library.folderQueueNames.empty())
            library.folderQueueNames.erase(library.folderQueueNames.begin());
        StartFolderScan(library, next.path, next.enabled, next.trackGroup, false);
    }

    if (uiTime > 0) {
        if (library.lastFolderCheck == 0) library.lastFolderCheck = uiTime;
        if (uiTime - library.lastFolderCheck > kFolderCheckSeconds) {
            library.lastFolderCheck = uiTime;
            CheckPaletteFolders(library);
            if (!library.idHashStarted && !library.scanning.load()) {
                library.idHashStarted = true;
                StartFileIdHashing(library);
            }
        }
    }

    ApplyFileIdHashResults(library);
}

void ProcessPendingLibraryFolders(Library& library) {
    for (const PendingLibraryFolder& pending : PendingLibraryFolders) {
        const bool known = std::any_of(library.palettes.begin(), library.palettes.end(),
                                       [&](const Palette& p) { return p.folder == pending.path; });
        if (known) continue;
        std::error_code ec;
        if (!fs::is_directory(pending.path, ec) || ec) continue;
        if (library.scanning.load()) {
            library.folderQueue.push_back(pending);
            library.folderQueueNames.push_back(FolderLastComponent(pending.path));
        } else {
            StartFolderScan(library, pending.path, pending.enabled, pending.trackGroup, false);
        }
    }
    PendingLibraryFolders.clear();
}

std::vector<PendingLibraryFolder> FoldersAwaitingPalettes(Library& library,
                                                          const std::vector<PendingLibraryFolder>& pending) {
    std::vector<PendingLibraryFolder> folders;
    auto add = [&](const PendingLibraryFolder& folder) {
        const auto same = [&](const auto& known) { return known.folder == folder.path; };
        if (folder.path.empty() || std::any_of(library.palettes.begin(), library.palettes.end(), same))
            return;
        const auto listed = [&](const PendingLibraryFolder& f) { return f.path == folder.path; };
        if (std::none_of(folders.begin(), folders.end(), listed)) folders.push_back(folder);
    };
    // Read the flag before the finished list: a scan that ends in between
    // is then seen at least once, never missed.
    if (library.scanning.load(std::memory_order_acquire)) add(library.scanFolder);
    {
        std::lock_guard lock(library.finishedScansMutex);
        for (const Palette& finished : library.finishedScans)
            add({finished.folder, finished.enabled, finished.trackGroup});
    }
    for (const PendingLibraryFolder& queued : library.folderQueue) add(queued);
    for (const PendingLibraryFolder& folder : pending) add(folder);
    return folders;
}

}  // namespace korvel
