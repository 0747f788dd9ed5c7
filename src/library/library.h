#pragma once
// The sound library: analysed sound files, palettes, and the one process-wide
// Library with the state its scan and identity-hashing threads share with the
// UI thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "library/file_id.h"
#include "library/keyword_index.h"

namespace korvel {

// One analysed sound file; a plain value record, copied whole. Readers and
// writers of cache files start from a default-constructed record.
struct LibraryFile {
    std::string path;         // the record's key within a palette
    std::string name;         // file name without its extension
    std::string description;  // BWF description and title, comment and artist tags
    FileId fileId;            // identity of the content; empty when unknown
    uint64_t fingerprint = 0;  // 0 = unknown
    uint64_t size = 0;         // bytes
    int64_t mtime = 0;         // whole seconds since 1970; 0 = unknown
    float duration = 0.0f;     // seconds
    float sampleRate = 0.0f;   // header rate in Hz
    int32_t channels = 0;
    int32_t bitsPerSample = 0;
    uint64_t mmGroup = 0;     // multi-mono group id; 0 = not grouped
    int32_t mmMember = -1;    // channel index within the group; never stored
    int32_t layoutClass = -1;     // ChannelLayoutClass; -1 = not computed
    int32_t interpretation = 0;   // ChannelInterpretation; 0 = automatic

    // The sound descriptors.
    std::array<float, 5> bandEnergies{};  // 20-150, 150-750, 750-2k, 2k-6k, 6k-16k Hz; 0..1
    float brightness = 0.5f;
    float hfRatio = 0.0f;
    float spectralWeight = 0.5f;
    float crestDb = 0.0f;
    float peakPosition = 0.0f;
    float zeroCrossingRate = 0.0f;
    float peakToRmsDb = 0.0f;
    float rmsDb = -100.0f;
    float temporalCentroid = 0.5f;
    float spectralFlux = 0.0f;
    float pitchHz = 0.0f;     // 0 = no pitch
    int32_t midiNote = -1;    // -1 = no pitch
    float pitchCents = 0.0f;
    float pitchConfidence = 0.0f;
    float spectralFlatness = 0.0f;
    float harmonicity = 0.0f;
    float attackPosition = 0.0f;
    float attackTime = 0.0f;  // seconds
};

// One indexed folder, or one saved selection of files; the content of one
// library cache file.
struct Palette {
    std::string folder;  // empty for a saved selection
    std::string name;    // display name and stem of its cache file
    std::vector<LibraryFile> files;
    bool enabled = true;
    int32_t trackGroup = -1;  // 0, 1, 2; -1 = every group
    std::string summary;
    std::string keywordSummary;
    std::string layoutSummary;
    int64_t scanned = 0;  // seconds since 1970; 0 = never
    bool folderMissing = false;
    bool savedPalette = false;
    int32_t paletteInterpret = 0;  // ChannelInterpretation for files whose own is 0
    bool mmDisableGrouping = false;
    std::vector<std::string> previousNames;  // oldest first
};

// A folder waiting to be indexed, with the flags its palette will get.
struct PendingLibraryFolder {
    std::string path;
    bool enabled = true;
    int32_t trackGroup = -1;  // 0, 1, 2; -1 = every group
};

// An identity computed by the hashing thread, waiting for the UI thread to
// copy it into the palette it was asked for.
struct FileIdHashResult {
    std::string paletteName;
    std::string path;
    FileId id;
    uint64_t fingerprint = 0;
    uint64_t size = 0;
};

// The size and modification time a sound file had when it was found too
// short to analyse.
struct ShortFileStamp {
    uint64_t size = 0;
    int64_t mtime = 0;
};

// The sound library. Palettes and both indexes belong to the UI thread; the
// scan and hashing threads write only the atomics, the status texts and the
// locked queues.
struct Library {
    Library() = default;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();

    std::vector<Palette> palettes;  // load and creation order
    KeywordIndex keywordIndex;      // words of the enabled palettes
    LibraryFileIndex fileIndex;     // per path: channel facts
    bool fileIndexDirty = true;

    std::atomic<bool> scanning{false};  // clearing it cancels the running scan
    std::atomic<float> scanProgress{0.0f};
    std::atomic<int32_t> scanFilesDone{0};
    std::atomic<int32_t> scanFilesTotal{0};
    char scanStatus[256] = {};
    char scanFolderName[128] = {};
    std::thread scanThread;
    int32_t maxScanThreads = 6;
    std::atomic<int32_t> scanReused{0};
    std::atomic<int32_t> scanAnalysed{0};
    // Guards scanStatus, scanFolderName, lastScanError and skippedFiles: the
    // scan thread and its workers write them while the UI thread reads them
    // for display.
    std::mutex scanStatusMutex;

    std::atomic<bool> idHashing{false};
    std::thread idHashThread;
    std::mutex idHashMutex;  // guards idHashResults
    std::vector<FileIdHashResult> idHashResults;
    std::vector<std::string> idHashRewrite;  // UI thread only
    bool idHashStarted = false;              // UI thread only

    std::mutex finishedScansMutex;  // guards finishedScans
    std::vector<Palette> finishedScans;

    // Files too short to analyse, by path, with the size and time they had:
    // a rescan passes over them unchanged as it takes unchanged records over.
    // Only the scan thread touches it (one scan runs at a time; a new scan
    // joins the previous thread first).
    std::unordered_map<std::string, ShortFileStamp> shortFiles;

    std::string cacheFolder;  // empty: no cache files are read or written
    // The folder of the scan started last, with its flags: UI thread only.
    // It names the running scan while `scanning` is set.
    PendingLibraryFolder scanFolder;
    std::vector<PendingLibraryFolder> folderQueue;  // scanned in order, one at a time
    std::vector<std::string> folderQueueNames;
    std::vector<std::string> skippedFiles;
    char lastScanError[256] = {};
    double lastFolderCheck = 0.0;  // UI time
};

// The one library. Owned by the UI thread: palettes and indexes change only
// there, and only while no background job runs, so jobs read palettes without
// a lock. Scan and hashing threads use only its atomics, scanStatusMutex,
// finishedScansMutex and idHashMutex.
extern Library SoundLibrary;

}  // namespace korvel
