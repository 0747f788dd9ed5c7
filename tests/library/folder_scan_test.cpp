// The folder scan: walking, reuse of unchanged files, bad files, cancelling,
// and the per-frame upkeep that merges and queues scans.
#include "library/folder_scan.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <set>
#include <thread>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/library.h"
#include "library/library_cache_file.h"
#include "library/palettes.h"
#include "project/app_state.h"
#include "support/audio_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr int kRate = 8000;

void SetTime(const std::string& path, int64_t seconds) {
    fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                  std::chrono::sys_seconds(std::chrono::seconds(seconds))));
}

class FolderScan : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.file("cache"));
        library.cacheFolder = dir.file("cache");
    }
    void TearDown() override {
        library.scanning.store(false);
        if (library.scanThread.joinable()) library.scanThread.join();
        library.idHashing.store(false);
        if (library.idHashThread.joinable()) library.idHashThread.join();
    }

    // A short tone with a fixed modification time, long enough to analyse.
    std::string Sound(const std::string& relative, double seconds = 0.3,
                      int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
        const std::string path = dir.file(relative);
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, seconds, kRate), 1, kRate, format));
        SetTime(path, 1600000000);
        return path;
    }

    // Runs a scan to its end and merges it as the next frame would.
    void Scan(const std::string& folder, bool force = false) {
        StartFolderScan(library, folder, true, -1, force);
        if (library.scanThread.joinable()) library.scanThread.join();
        UpdateLibrary(library, 0.0);
    }

    const Palette* Find(const std::string& name) const {
        for (const Palette& p : library.palettes)
            if (p.name == name) return &p;
        return nullptr;
    }

    TempDir dir;
    Library library;
};

TEST(FolderScanRules, WorkerCountFollowsHardwareLimitAndFiles) {
    struct Case {
        const char* name;
        int hardware, limit, files, workers;
    };
    const Case cases[] = {
        {"eight threads, limit six", 8, 6, 1000, 6},
        {"four threads", 4, 6, 1000, 4},
        {"unknown hardware counts as four", 0, 6, 1000, 4},
        {"three files, three workers", 8, 6, 3, 3},
        {"one file runs on the scan thread", 8, 6, 1, 1},
        {"no limit uses every thread", 8, 0, 1000, 8},
        {"limit above hardware", 4, 16, 1000, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ScanWorkerCount(c.hardware, c.limit, c.files), c.workers);
    }
}

TEST(FolderScanRules, ExtensionsMatchWithoutCase) {
    for (const char* yes : {".wav", ".WAV", ".Aiff", ".aif", ".caf", ".w64", ".rf64", ".au", ".snd",
                            ".raw", ".sd2", ".paf", ".iff", ".SVX"})
        EXPECT_TRUE(IsSupportedAudioExtension(yes)) << yes;
    for (const char* no : {".flac", ".ogg", ".mp3", "wav", "", ".wav ", ".txt"})
        EXPECT_FALSE(IsSupportedAudioExtension(no)) << no;
}

TEST_F(FolderScan, ScansAGeneratedFolder) {
    const std::string root = dir.file("Rain");
    Sound("Rain/heavy.wav");
    Sound("Rain/sub/LIGHT.WAV");
    Sound("Rain/sub/deeper/drip.aif", 0.3, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    Sound("Rain/ignored.flac", 0.3, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_TRUE(test::WriteBytes(dir.file("Rain/notes.txt"), "not a sound"));

    Scan(root);
    EXPECT_EQ(ScanStatusText(library), "Done! 3 files indexed.");
    EXPECT_FALSE(library.scanning.load());
    EXPECT_EQ(library.scanFilesTotal.load(), 3);
    EXPECT_EQ(library.scanFilesDone.load(), 3);
    EXPECT_EQ(library.scanProgress.load(), 1.0f);
    EXPECT_EQ(library.scanAnalysed.load(), 3);
    EXPECT_EQ(library.scanReused.load(), 0);
    EXPECT_STREQ(library.scanFolderName, "Rain");
    EXPECT_TRUE(ScanSkippedFiles(library).empty());

    const Palette* p = Find("Rain");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->folder, root);
    EXPECT_GT(p->scanned, 0);
    ASSERT_EQ(p->files.size(), 3u);
    // Byte order: upper-case "sub/LIGHT" after "heavy"? 'h' < 's', and within
    // sub, "LIGHT.WAV" < "deeper/..." since 'L' < 'd'.
    EXPECT_EQ(p->files[0].path, root + "/heavy.wav");
    EXPECT_EQ(p->files[1].path, root + "/sub/LIGHT.WAV");
    EXPECT_EQ(p->files[2].path, root + "/sub/deeper/drip.aif");
    EXPECT_FALSE(p->summary.empty());
    Palette onDisk;
    ASSERT_TRUE(ReadPaletteFile(dir.file("cache/Rain.kvlib"), onDisk));
    ASSERT_EQ(onDisk.files.size(), 3u);
    EXPECT_EQ(onDisk.files[2].path, root + "/sub/deeper/drip.aif");
    EXPECT_EQ(onDisk.folder, root);
    EXPECT_FALSE(library.keywordIndex.dirty);
    EXPECT_TRUE(library.finishedScans.empty());
}

TEST_F(FolderScan, BadFilesAreSkippedAndCounted) {
    const std::string root = dir.file("Bad");
    Sound("Bad/good.wav");
    Sound("Bad/aiff inside.wav", 0.3, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    Sound("Bad/too short.wav", 0.1);  // 800 frames: no spectral frame
    ASSERT_TRUE(test::WriteBytes(dir.file("Bad/empty.wav"), ""));
    ASSERT_TRUE(test::WriteBytes(dir.file("Bad/headerless.raw"), std::string(20000, '\x11')));
    ASSERT_TRUE(test::WriteBytes(dir.file("Bad/text.aiff"), "plain words, not audio"));
    fs::create_symlink(dir.file("Bad/nowhere.wav"), dir.file("Bad/dangling.wav"));

    Scan(root);
    // The dangling link is no regular file and is not listed.
    // Only the files that entered the palette count as indexed.
    EXPECT_EQ(ScanStatusText(library), "Done! 2 files indexed.");
    EXPECT_EQ(library.scanFilesDone.load(), 6);
    EXPECT_EQ(library.scanAnalysed.load(), 2);
    std::vector<std::string> skipped = ScanSkippedFiles(library);
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<std::string>{"empty.wav", "headerless.raw", "text.aiff",
                                                 "too short.wav"}));
    const Palette* p = Find("Bad");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->files.size(), 2u);

    // A rescan passes over the unchanged short file as it takes unchanged
    // records over: given other bytes of the same size and time, it is not
    // opened again, so it is still known as short (and still skipped).
    const std::string shortPath = dir.file("Bad/too short.wav");
    ASSERT_EQ(library.shortFiles.count(shortPath), 1u);
    const auto size = fs::file_size(shortPath);
    ASSERT_TRUE(test::WriteBytes(shortPath, std::string(size, '\x22')));
    SetTime(shortPath, 1600000000);
    Scan(root);
    EXPECT_EQ(library.scanAnalysed.load(), 0);
    EXPECT_EQ(library.shortFiles.count(shortPath), 1u);
    EXPECT_EQ(ScanSkippedFiles(library).size(), 4u);
    EXPECT_EQ(Find("Bad")->files.size(), 2u);
    // Changed, it is read again: now it is no sound at all.
    SetTime(shortPath, 1600000100);
    Scan(root);
    EXPECT_EQ(library.shortFiles.count(shortPath), 0u);
    EXPECT_EQ(ScanSkippedFiles(library).size(), 4u);

    // The list belongs to the last scan: a clean one empties it.
    Sound("Good/fine.wav");
    Scan(dir.file("Good"));
    EXPECT_TRUE(ScanSkippedFiles(library).empty());
}

TEST_F(FolderScan, RescanAnalysesOnlyTheTouchedFile) {
    const std::string root = dir.file("Doors");
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) files.push_back(Sound("Doors/door" + std::to_string(i) + ".wav"));
    Scan(root);
    ASSERT_EQ(library.scanAnalysed.load(), 5);

    Scan(root);
    EXPECT_EQ(library.scanReused.load(), 5);
    EXPECT_EQ(library.scanAnalysed.load(), 0);

    SetTime(files[2], 1600000100);
    Scan(root);
    EXPECT_EQ(library.scanAnalysed.load(), 1);
    EXPECT_EQ(library.scanReused.load(), 4);
    const Palette* p = Find("Doors");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->files.size(), 5u);
    EXPECT_EQ(p->files[2].mtime, 1600000100);
    EXPECT_EQ(library.palettes.size(), 1u);  // merged by name, not added
}

TEST_F(FolderScan, DeepRescanAnalysesAllButKeepsPaletteSettings) {
    const std::string root = dir.file("Wind");
    Sound("Wind/a.wav");
    Sound("Wind/b.wav");
    Scan(root);
    Palette stored = *Find("Wind");
    stored.paletteInterpret = 2;
    stored.mmDisableGrouping = true;
    stored.files[0].mtime = 0;  // a record without a time is never reused
    ASSERT_TRUE(WritePaletteFile(stored, dir.file("cache/Wind.kvlib")));

    Scan(root);
    EXPECT_EQ(library.scanReused.load(), 1);
    EXPECT_EQ(library.scanAnalysed.load(), 1);

    Scan(root, /*force=*/true);
    EXPECT_EQ(library.scanReused.load(), 0);
    EXPECT_EQ(library.scanAnalysed.load(), 2);
    const Palette* p = Find("Wind");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->paletteInterpret, 2);
    EXPECT_TRUE(p->mmDisableGrouping);
}

// A folder given with trailing separators used to become the palette "",
// written as ".kvlib", which the next start skips: the palette and its
// settings were gone after a restart.
TEST_F(FolderScan, FolderNamesLoseTheirExtensionAndTrailingSeparators) {
    Sound("Doors.Wood/creak.wav");
    for (const char* given : {"Doors.Wood", "Doors.Wood/", "Doors.Wood//"}) {
        SCOPED_TRACE(given);
        library.palettes.clear();
        Scan(dir.file(given));
        EXPECT_STREQ(library.scanFolderName, "Doors.Wood");
        ASSERT_NE(Find("Doors"), nullptr);
        EXPECT_TRUE(fs::exists(dir.file("cache/Doors.kvlib")));
        EXPECT_FALSE(fs::exists(dir.file("cache/.kvlib")));

        Palette stored = *Find("Doors");
        stored.paletteInterpret = 2;
        ASSERT_TRUE(WritePaletteFile(stored, dir.file("cache/Doors.kvlib")));
        Library restarted;
        restarted.cacheFolder = library.cacheFolder;
        LoadPaletteFiles(restarted);
        ASSERT_EQ(restarted.palettes.size(), 1u);
        EXPECT_EQ(restarted.palettes[0].name, "Doors");
        EXPECT_EQ(restarted.palettes[0].paletteInterpret, 2);
        EXPECT_EQ(restarted.palettes[0].files.size(), 1u);
    }
    EXPECT_EQ(PaletteNameForFolder("/"), "");
    EXPECT_EQ(FolderLastComponent("/sounds/Rain/"), "Rain");
}

TEST_F(FolderScan, EmptyAndMissingFoldersGiveNoPalette) {
    fs::create_directories(dir.file("Empty"));
    Scan(dir.file("Empty"));
    EXPECT_EQ(ScanStatusText(library), "No audio files found.");
    EXPECT_STREQ(library.lastScanError, "");

    Scan(dir.file("Missing"));
    EXPECT_EQ(ScanStatusText(library), "No audio files found.");
    EXPECT_EQ(std::string(library.lastScanError).rfind("Scan interrupted: ", 0), 0u);
    EXPECT_TRUE(library.palettes.empty());
    EXPECT_TRUE(fs::is_empty(dir.file("cache")));
}

TEST_F(FolderScan, WithoutCacheFolderThePaletteIsStillMerged) {
    library.cacheFolder.clear();
    Sound("Loose/x.wav");
    Scan(dir.file("Loose"));
    EXPECT_NE(Find("Loose"), nullptr);
    EXPECT_TRUE(fs::is_empty(dir.file("cache")));
}

// Files without a stored channel map are classified with the channel order
// the scan was started with, never with the application state's current one,
// which the UI may change while the scan runs.
TEST_F(FolderScan, LayoutsUseTheChannelOrderTheScanStartedWith) {
    const std::string path = dir.file("Ten/bed.au");
    fs::create_directories(dir.file("Ten"));
    ASSERT_TRUE(test::WriteSoundFile(path, test::MakeSine(440.0, 0.3, kRate, 10), 10, kRate,
                                     SF_FORMAT_AU | SF_FORMAT_PCM_16));
    struct Case {
        const char* name;
        int32_t global, request;
        const char* layouts;
    };
    // Film order knows no ten-channel layout; the default order reads 7.1.2.
    const Case cases[] = {
        {"default order while the global says Film", 1, 0, "1 7.1.2"},
        {"Film order while the global says default", 0, 1, "1 multi"},
    };
    const int32_t saved = GlobalAppState.channelOrderFallback;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlobalAppState.channelOrderFallback = c.global;
        ScanRequest request;
        request.library = &library;
        request.folder = dir.file("Ten");
        request.force = true;
        request.channelOrderFallback = c.request;
        library.scanning.store(true);
        FolderScanThread(request);
        UpdateLibrary(library, 0.0);
        const Palette* p = Find("Ten");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->files.size(), 1u);
        EXPECT_EQ(p->files[0].layoutClass, -1);
        EXPECT_EQ(p->layoutSummary, c.layouts);
    }

    // Starting a scan takes the setting of that moment.
    GlobalAppState.channelOrderFallback = 1;
    Scan(dir.file("Ten"), /*force=*/true);
    GlobalAppState.channelOrderFallback = saved;
    ASSERT_NE(Find("Ten"), nullptr);
    EXPECT_EQ(Find("Ten")->layoutSummary, "1 multi");
}

// Runs one worker over a hand-made job whose checkpoints go to `cachePath`,
// and returns what the cache file holds afterwards (no final write follows,
// as after a crash).
class Checkpoints : public FolderScan {
protected:
    std::vector<std::string> Files(int count) {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i)
            paths.push_back(Sound("Cp/f" + std::to_string(10000 + i) + ".wav"));
        return paths;
    }

    bool RunJob(const std::vector<std::string>& paths, int32_t interval, Palette& onDisk,
                const std::unordered_map<std::string, LibraryFile>* previous = nullptr,
                const Palette& previousHeader = {}) {
        const std::string cachePath = dir.file("cache/Cp.kvlib");
        std::error_code ec;
        fs::remove(cachePath, ec);
        ScanJob job;
        job.library = &library;
        job.paths = paths;
        job.fileCount = static_cast<int32_t>(paths.size());
        job.results.resize(paths.size());
        job.done = std::make_unique<std::atomic<bool>[]>(paths.size());
        job.checkpointPath = cachePath;
        if (interval > 0) job.checkpointInterval = interval;
        job.palette.folder = dir.file("Cp");
        job.palette.name = "Cp";
        job.previous = previous;
        job.previousHeader = previousHeader;
        library.scanAnalysed.store(0);
        library.scanning.store(true);
        ScanWorker(job);
        library.scanning.store(false);
        return ReadPaletteFile(cachePath, onDisk);
    }
};

TEST_F(Checkpoints, CacheFileHoldsTheFilesDoneAtTheLastCheckpoint) {
    struct Case {
        const char* name;
        int files;
        int32_t interval;  // 0: the scan's own
        int expected;      // records on disk; 0: no file
    };
    const Case cases[] = {
        {"every second file, five files", 5, 2, 4},
        {"interval longer than the folder", 3, 4, 0},
        {"the scan's own interval of 500", 502, 0, 500},
    };
    const std::vector<std::string> all = Files(502);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> paths(all.begin(), all.begin() + c.files);
        Palette onDisk;
        const bool written = RunJob(paths, c.interval, onDisk);
        ASSERT_EQ(written, c.expected > 0);
        if (!written) continue;
        EXPECT_EQ(onDisk.folder, dir.file("Cp"));
        ASSERT_EQ(onDisk.files.size(), static_cast<size_t>(c.expected));
        for (int i = 0; i < c.expected; ++i) {
            EXPECT_EQ(onDisk.files[i].path, paths[i]);
            EXPECT_EQ(onDisk.files[i].mtime, 1600000000);
        }
        // A checkpoint is neither dated nor summarised.
        EXPECT_EQ(onDisk.scanned, 0);
    }
}

// A checkpoint replaces the whole cache file: the files it has not reached
// keep their earlier records (identities included) and the palette its
// header settings, or a crash would shrink the palette and the next rescan
// would give the missing files new identities.
TEST_F(Checkpoints, ACheckpointKeepsTheEarlierRecordsAndSettings) {
    const std::vector<std::string> paths = Files(10);
    std::unordered_map<std::string, LibraryFile> previous;
    for (const std::string& path : paths) {
        LibraryFile record;
        record.path = path;
        record.fileId = "id-" + fs::path(path).stem().string();
        record.description = "earlier";
        previous.emplace(path, record);
    }
    Palette header;
    header.paletteInterpret = 2;
    header.mmDisableGrouping = true;
    header.savedPalette = true;
    header.scanned = 1500000000;
    header.previousNames = {"Older"};

    Palette onDisk;
    ASSERT_TRUE(RunJob(paths, 4, onDisk, &previous, header));  // last checkpoint after 8 files
    ASSERT_EQ(onDisk.files.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(onDisk.files[i].path, paths[i]);
        EXPECT_EQ(onDisk.files[i].description, i < 8 ? "" : "earlier");
        if (i >= 8) {
            EXPECT_EQ(onDisk.files[i].fileId, "id-" + fs::path(paths[i]).stem().string());
        }
    }
    EXPECT_EQ(onDisk.paletteInterpret, 2);
    EXPECT_TRUE(onDisk.mmDisableGrouping);
    EXPECT_TRUE(onDisk.savedPalette);
    EXPECT_EQ(onDisk.scanned, 1500000000);
    EXPECT_EQ(onDisk.previousNames, std::vector<std::string>{"Older"});
}

// A scan killed at any moment, checkpoints and all, leaves a cache file that
// holds every record with its identity and the palette's settings; the next
// write of the file removes the temporaries of the killed one.
TEST_F(Checkpoints, AScanKilledAnywhereKeepsEveryRecordAndIdentity) {
    const std::vector<std::string> paths = Files(40);
    const std::string cachePath = dir.file("cache/Cp.kvlib");
    auto makeJob = [&](ScanJob& job) {
        job.library = &library;
        job.paths = paths;
        job.fileCount = static_cast<int32_t>(paths.size());
        job.results.resize(paths.size());
        job.done = std::make_unique<std::atomic<bool>[]>(paths.size());
        job.checkpointPath = cachePath;
        job.checkpointInterval = 3;
        job.palette.folder = dir.file("Cp");
        job.palette.name = "Cp";
    };
    // The earlier scan's records, as its cache file holds them.
    Palette earlier;
    {
        ScanJob job;
        makeJob(job);
        job.checkpointPath.clear();
        library.scanning.store(true);
        ScanWorker(job);
        library.scanning.store(false);
        earlier.folder = job.palette.folder;
        earlier.files = job.results;
    }
    earlier.paletteInterpret = 2;
    earlier.previousNames = {"Older"};
    std::unordered_map<std::string, LibraryFile> previous;
    for (const LibraryFile& file : earlier.files) {
        ASSERT_FALSE(file.fileId.empty());
        previous.emplace(file.path, file);
    }
    Palette header = earlier;
    header.files.clear();

    for (int trial = 0; trial < 24; ++trial) {
        SCOPED_TRACE(trial);
        ASSERT_TRUE(WritePaletteFile(earlier, cachePath));
        const pid_t child = test::StartChild([&] {
            ScanJob job;  // a rescan that analyses every file again
            makeJob(job);
            job.previous = &previous;
            job.previousHeader = header;
            library.scanAnalysed.store(0);
            library.scanning.store(true);
            ScanWorker(job);
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * trial));
        kill(child, SIGKILL);
        test::WaitForChild(child);

        Palette onDisk;
        ASSERT_TRUE(ReadPaletteFile(cachePath, onDisk));
        ASSERT_EQ(onDisk.files.size(), paths.size());
        for (size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(onDisk.files[i].path, paths[i]);
            EXPECT_EQ(onDisk.files[i].fileId, earlier.files[i].fileId);
        }
        EXPECT_EQ(onDisk.paletteInterpret, 2);
        EXPECT_EQ(onDisk.previousNames, std::vector<std::string>{"Older"});

        ASSERT_TRUE(WritePaletteFile(onDisk, cachePath));
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.file("cache"))) names.insert(entry.path().filename());
        EXPECT_EQ(names, std::set<std::string>{"Cp.kvlib"}) << "a temporary of the killed scan is left";
    }
}

// Several workers finishing files while checkpoints are written, with a
// reader watching the cache file all along: every version it sees reads back
// whole, with every file of the folder in order, and the last one written
// holds results of this scan.
TEST_F(Checkpoints, CheckpointsWrittenWhileWorkersFinishFilesReadBackWhole) {
    const std::vector<std::string> paths = Files(60);
    const std::string cachePath = dir.file("cache/Cp.kvlib");
    std::unordered_map<std::string, LibraryFile> previous;
    for (const std::string& path : paths) {
        LibraryFile record;
        record.path = path;
        record.description = "earlier";
        previous.emplace(path, record);
    }
    Palette earlier;
    earlier.folder = dir.file("Cp");
    for (const std::string& path : paths) earlier.files.push_back(previous.at(path));
    ASSERT_TRUE(WritePaletteFile(earlier, cachePath));

    ScanJob job;
    job.library = &library;
    job.paths = paths;
    job.fileCount = static_cast<int32_t>(paths.size());
    job.results.resize(paths.size());
    job.done = std::make_unique<std::atomic<bool>[]>(paths.size());
    job.checkpointPath = cachePath;
    job.checkpointInterval = 2;
    job.palette.folder = dir.file("Cp");
    job.palette.name = "Cp";
    job.previous = &previous;
    library.scanAnalysed.store(0);
    library.scanning.store(true);

    std::atomic<bool> finished{false};
    int reads = 0;
    std::thread reader([&] {
        while (!finished.load()) {
            Palette onDisk;
            if (!ReadPaletteFile(cachePath, onDisk)) {
                ADD_FAILURE() << "the cache file could not be read";
                return;
            }
            ++reads;
            ASSERT_EQ(onDisk.files.size(), paths.size());
            for (size_t i = 0; i < paths.size(); ++i) {
                ASSERT_EQ(onDisk.files[i].path, paths[i]);
                if (onDisk.files[i].description.empty()) {
                    ASSERT_EQ(onDisk.files[i].mtime, 1600000000);  // a whole fresh record
                }
            }
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) workers.emplace_back(ScanWorker, std::ref(job));
    for (std::thread& t : workers) t.join();
    finished.store(true);
    reader.join();
    library.scanning.store(false);
    EXPECT_GT(reads, 0);

    // At least the first checkpoint was written; the ones that fell due
    // while it was writing were skipped, so how many files the last holds
    // depends on timing.
    Palette last;
    ASSERT_TRUE(ReadPaletteFile(cachePath, last));
    ASSERT_EQ(last.files.size(), paths.size());
    EXPECT_TRUE(std::any_of(last.files.begin(), last.files.end(),
                            [](const LibraryFile& f) { return f.description.empty(); }));
}

// Starts a scan with one worker and cancels it once a few files are done.
void ScanAndCancel(Library& library, const std::string& folder) {
    library.maxScanThreads = 1;
    StartFolderScan(library, folder, true, -1, false);
    while (library.scanning.load() && library.scanFilesDone.load() < 5) {
    }
    library.scanning.store(false);
    library.scanThread.join();
    UpdateLibrary(library, 0.0);
}

TEST_F(FolderScan, CancelledFirstScanGivesTheFilesDone) {
    const int total = 300;
    for (int i = 0; i < total; ++i) Sound("Many/f" + std::to_string(1000 + i) + ".wav");
    // A scan that got through every file before its cancel took effect (a
    // loaded machine) proves nothing and is repeated from scratch.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::error_code ec;
        fs::remove(dir.file("cache/Many.kvlib"), ec);
        library.palettes.clear();
        ScanAndCancel(library, dir.file("Many"));
        const Palette* p = Find("Many");
        ASSERT_NE(p, nullptr);
        if (p->files.size() == static_cast<size_t>(total)) continue;
        EXPECT_GE(p->files.size(), 5u);
        EXPECT_EQ(ScanStatusText(library), "Done! " + std::to_string(p->files.size()) + " files indexed.");
        // The first files in path order are the ones done.
        for (size_t i = 0; i < p->files.size(); ++i)
            EXPECT_EQ(p->files[i].path, dir.file("Many/f" + std::to_string(1000 + i) + ".wav"));
        return;
    }
    FAIL() << "every scan ended before its cancel took effect";
}

TEST_F(FolderScan, CancelledRescanKeepsTheRecordsItDidNotReach) {
    const int total = 300;
    std::vector<std::string> files;
    for (int i = 0; i < total; ++i) files.push_back(Sound("Many/f" + std::to_string(1000 + i) + ".wav"));
    Scan(dir.file("Many"));
    ASSERT_EQ(Find("Many")->files.size(), static_cast<size_t>(total));

    // Mark every stored record, then change every file so the rescan must
    // analyse (and so replace) whatever it reaches.
    Palette stored = *Find("Many");
    for (LibraryFile& f : stored.files) f.interpretation = 3;
    for (const std::string& f : files) SetTime(f, 1600000500);

    // The cancel comes once five files are done; on a loaded machine the
    // worker may still get through every file before it takes effect, which
    // leaves no record to keep: such a run proves nothing and is repeated.
    for (int attempt = 0; attempt < 5; ++attempt) {
        ASSERT_TRUE(WritePaletteFile(stored, dir.file("cache/Many.kvlib")));
        ScanAndCancel(library, dir.file("Many"));
        const Palette* p = Find("Many");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->files.size(), static_cast<size_t>(total));
        size_t kept = 0, fresh = 0;
        for (size_t i = 0; i < p->files.size(); ++i) {
            EXPECT_EQ(p->files[i].path, files[i]);
            if (p->files[i].interpretation == 3) ++kept;
            else if (p->files[i].mtime == 1600000500) ++fresh;
        }
        if (kept == 0 && fresh == static_cast<size_t>(total)) continue;
        EXPECT_GE(fresh, 5u);
        EXPECT_GT(kept, 0u);
        EXPECT_EQ(kept + fresh, static_cast<size_t>(total));
        Palette onDisk;
        ASSERT_TRUE(ReadPaletteFile(dir.file("cache/Many.kvlib"), onDisk));
        EXPECT_EQ(onDisk.files.size(), static_cast<size_t>(total));
        return;
    }
    FAIL() << "every scan ended before its cancel took effect";
}

TEST_F(FolderScan, PendingFoldersAreQueuedWhileAScanRuns) {
    Sound("A/a.wav");
    Sound("B/b.wav");
    Sound("Known/k.wav");
    Palette known;
    known.name = "Known";
    known.folder = dir.file("Known");
    library.palettes.push_back(known);

    PendingLibraryFolders = {{dir.file("A"), false, 1},
                             {dir.file("B"), false, 2},
                             {dir.file("Known"), true, -1},
                             {dir.file("Nowhere"), true, -1}};
    ProcessPendingLibraryFolders(library);
    EXPECT_TRUE(PendingLibraryFolders.empty());
    ASSERT_EQ(library.folderQueue.size(), 1u);
    EXPECT_EQ(library.folderQueue[0].path, dir.file("B"));
    EXPECT_EQ(library.folderQueueNames, std::vector<std::string>{"B"});

    // Until their scans are merged, both folders are known with their flags
    // (A running or finished, B queued), and the known palette is not listed.
    PendingLibraryFolders = {{dir.file("C"), true, 0}, {dir.file("B"), true, -1}};
    const std::vector<PendingLibraryFolder> awaiting = FoldersAwaitingPalettes(library);
    PendingLibraryFolders.clear();
    ASSERT_EQ(awaiting.size(), 3u);
    EXPECT_EQ(awaiting[0].path, dir.file("A"));
    EXPECT_FALSE(awaiting[0].enabled);
    EXPECT_EQ(awaiting[0].trackGroup, 1);
    EXPECT_EQ(awaiting[1].path, dir.file("B"));
    EXPECT_FALSE(awaiting[1].enabled);
    EXPECT_EQ(awaiting[1].trackGroup, 2);
    EXPECT_EQ(awaiting[2].path, dir.file("C"));

    library.scanThread.join();
    UpdateLibrary(library, 0.0);  // merges A, starts B
    const Palette* a = Find("A");
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->enabled);
    EXPECT_EQ(a->trackGroup, 1);
    EXPECT_TRUE(library.folderQueue.empty());

    library.scanThread.join();
    UpdateLibrary(library, 0.0);
    const Palette* b = Find("B");
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->enabled);  // a queued folder keeps its own flags
    EXPECT_EQ(b->trackGroup, 2);
    EXPECT_TRUE(FoldersAwaitingPalettes(library).empty());
}

// The cache file a forced scan writes for a fixed set of sounds, byte for
// byte, with the three values that differ from run to run put in brackets:
// the folder's place, the scan time and the random file identities. Work on
// the scan's speed must leave every byte of it alone. Set
// KORVEL_WRITE_SCAN_GOLDEN to a path to write the normalised text there.
TEST_F(FolderScan, CacheFileBytesOfAScanStayTheSame) {
    struct Source {
        const char* name;
        int rate, channels;
        double seconds;
        int format;
        int kind;  // 0 tone, 1 noise, 2 silence, 3 clipped tone, 4 decaying chord
        double hz;
    };
    const Source sources[] = {
        {"tone_a440.wav", 8000, 1, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 440.0},
        {"tone_1k_stereo.wav", 48000, 2, 1.5, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0, 1000.0},
        {"noise.wav", 44100, 1, 1.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 0.0},
        {"silence.aif", 22050, 1, 1.0, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 0.0},
        {"clipped_220.wav", 44100, 1, 1.0, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 3, 220.0},
        {"chord_low.wav", 96000, 1, 2.0, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 4, 55.0},
        {"Sub/too_short.wav", 8000, 1, 0.2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 300.0},
    };
    for (const Source& s : sources) {
        const auto frames = static_cast<size_t>(s.seconds * s.rate);
        std::vector<float> samples(frames * s.channels);
        uint32_t noise = 12345;
        for (size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / s.rate;
            const double phase = 2 * std::numbers::pi * s.hz * t;
            noise = noise * 1664525u + 1013904223u;
            double v = 0;
            switch (s.kind) {
                case 0: v = 0.5 * std::sin(phase); break;
                case 1: v = 0.3 * (static_cast<int32_t>(noise) / 2147483648.0); break;
                case 2: v = 0; break;
                case 3: v = std::clamp(3.0 * std::sin(phase), -1.0, 1.0); break;
                case 4:
                    v = (0.4 * std::sin(phase) + 0.2 * std::sin(3 * phase) + 0.1 * std::sin(5.02 * phase)) *
                        std::exp(-2.0 * t);
                    break;
            }
            for (int c = 0; c < s.channels; ++c)
                samples[n * s.channels + c] = static_cast<float>(c == 0 ? v : 0.5 * v);
        }
        const std::string path = dir.file(std::string("Golden/") + s.name);
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(test::WriteSoundFile(path, samples, s.channels, s.rate, s.format)) << s.name;
        SetTime(path, 1600000000);
    }
    library.maxScanThreads = 3;
    Scan(dir.file("Golden"), true);

    std::ifstream in(dir.file("cache/Golden.kvlib"), std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream raw;
    raw << in.rdbuf();
    const std::string prefix = dir.file("Golden");
    std::string normalised, line;
    std::istringstream lines(raw.str());
    while (std::getline(lines, line)) {
        if (line.rfind("# scanned: ", 0) == 0) line = "# scanned: [time]";
        for (size_t at = line.find(prefix); at != std::string::npos; at = line.find(prefix, at))
            line.replace(at, prefix.size(), "[folder]");
        if (line[0] != '#') {
            // The identity is the 30th field of a record line.
            size_t start = 0;
            for (int field = 0; field < 29 && start != std::string::npos; ++field)
                start = line.find('\t', start) + 1;
            const size_t end = line.find('\t', start);
            if (start != 0 && end != std::string::npos && end > start) line.replace(start, end - start, "[id]");
        }
        normalised += line + '\n';
    }
    if (const char* out = std::getenv("KORVEL_WRITE_SCAN_GOLDEN")) {
        std::ofstream(out, std::ios::binary) << normalised;
    }
    std::ifstream goldenFile(std::string(KORVEL_TEST_DATA_DIR) + "/library/scan_golden.kvlib", std::ios::binary);
    ASSERT_TRUE(goldenFile);
    std::stringstream golden;
    golden << goldenFile.rdbuf();
    EXPECT_EQ(normalised, golden.str());
}

TEST_F(FolderScan, FolderCheckRunsEveryFiveSeconds) {
    Palette gone;
    gone.name = "Gone";
    gone.folder = dir.file("NotThere");
    Palette saved;
    saved.name = "Saved";
    saved.folderMissing = true;
    library.palettes = {gone, saved};

    UpdateLibrary(library, 10.0);  // first call only starts the clock
    EXPECT_FALSE(library.palettes[0].folderMissing);
    UpdateLibrary(library, 15.0);  // exactly 5 s: not yet
    EXPECT_FALSE(library.palettes[0].folderMissing);
    UpdateLibrary(library, 15.5);
    EXPECT_TRUE(library.palettes[0].folderMissing);
    EXPECT_FALSE(library.palettes[1].folderMissing);
    EXPECT_TRUE(library.idHashStarted);
}

}  // namespace
}  // namespace korvel
