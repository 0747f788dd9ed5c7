#pragma once
// The background folder scan that builds a palette from a folder, and the
// library's per-frame upkeep on the UI thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "library/library.h"

namespace korvel {

// The file-name extensions a folder scan indexes, lower case.
inline constexpr std::array<std::string_view, 13> AudioFileExtensions = {
    ".wav", ".aif", ".aiff", ".caf", ".w64", ".rf64", ".au", ".snd", ".raw", ".sd2", ".paf", ".iff", ".svx"};

inline constexpr int32_t kScanCheckpointInterval = 500;
inline constexpr double kFolderCheckSeconds = 5.0;

// What the scan thread is given.
struct ScanRequest {
    Library* library = nullptr;
    std::string folder;
    bool enabled = true;
    int32_t trackGroup = -1;  // -1 = every group
    bool force = false;       // ignore the previous cache file's records
    int32_t maxThreads = 6;
    // The user's channel-order setting when the scan started: the UI thread
    // may change the application state's value while the scan runs.
    int32_t channelOrderFallback = 0;
};

// The state the scan thread shares with its workers for one scan. Each
// worker writes only the `results` slot it took and then publishes it
// through that slot's `done` flag (release), so readers that see the flag
// (acquire) see the whole record.
struct ScanJob {
    Library* library = nullptr;
    std::atomic<int32_t> nextIndex{0};
    int32_t fileCount = 0;
    std::vector<std::string> paths;  // sorted by bytes
    std::unordered_map<std::string, LibraryFile> reuse;
    // The reuse records' identities are in the registry already: reading the
    // cache file registered them, so taking one over need not again.
    bool reuseRegistered = false;
    // Files known too short from an earlier scan (read-only while workers
    // run), and those this scan found too short (under resultsMutex).
    std::unordered_map<std::string, ShortFileStamp> knownShort;
    std::unordered_map<std::string, ShortFileStamp> foundShort;
    std::vector<LibraryFile> results;
    std::unique_ptr<std::atomic<bool>[]> done;
    std::mutex resultsMutex;  // guards skippedFiles and foundShort
    // Names of the files this scan could not analyse; handed to the library
    // once the workers are done.
    std::vector<std::string> skippedFiles;
    std::atomic<int32_t> doneCount{0};
    std::string checkpointPath;  // empty = no checkpoints
    std::atomic<int32_t> checkpointCounter{0};
    std::atomic<bool> checkpointWriting{false};  // a worker is writing a checkpoint
    int32_t checkpointInterval = kScanCheckpointInterval;
    int32_t channelOrderFallback = 0;  // the request's copy of the setting
    Palette palette;  // the palette being built: its folder and name
    // The previous cache file's records by path (null when there was none)
    // and its header values. A checkpoint replaces that file, so it keeps
    // both for the files not done yet: a crash must not shrink the palette
    // or lose its settings and identities.
    const std::unordered_map<std::string, LibraryFile>* previous = nullptr;
    Palette previousHeader;  // no files
};

// Folders waiting for ProcessPendingLibraryFolders. UI thread only: the
// preferences reader and the demo-content set-up append, the frame empties.
extern std::vector<PendingLibraryFolder> PendingLibraryFolders;

// `extension` with its dot; any case.
bool IsSupportedAudioExtension(std::string_view extension);

// Starts a scan of `folder` on the library's scan thread; does nothing while
// one runs.
void StartFolderScan(Library& library, const std::string& folder, bool enabled, int32_t trackGroup,
                     bool force);

void FolderScanThread(ScanRequest request);
void ScanWorker(ScanJob& job);

// Workers for a scan: at most `maxThreads` (when it is below the hardware
// count), at most one per file, at least one. `hardwareThreads` 0 means the
// system did not say, which counts as 4.
int32_t ScanWorkerCount(int32_t hardwareThreads, int32_t maxThreads, int32_t fileCount);

// Per-frame upkeep, called only while no background job runs: merges
// finished scans, starts queued ones, checks palette folders every 5 s and
// drives identity hashing.
void UpdateLibrary(Library& library, double uiTime);

// Scans or queues every pending library folder that no palette holds yet.
void ProcessPendingLibraryFolders(Library& library = SoundLibrary);

// UI thread: the folders asked for that have no palette yet, with their
// flags: the running scan's, finished scans not yet merged, the queue and the
// pending folders, in that order, each path once. Saving them keeps a folder
// the designer added when the program ends before its scan does.
std::vector<PendingLibraryFolder> FoldersAwaitingPalettes(
    Library& library = SoundLibrary, const std::vector<PendingLibraryFolder>& pending = PendingLibraryFolders);

// The scan status line, read under its lock for display.
std::string ScanStatusText(Library& library);

// The names of the files the last scan could not analyse. A running scan
// hands its list over when its workers are done, so until then this holds
// nothing for it.
std::vector<std::string> ScanSkippedFiles(Library& library);

}  // namespace korvel
