// [SECTION] State of this file
// [SECTION] Paths
// [SECTION] Shared steps
// [SECTION] New project
// [SECTION] Open project
// [SECTION] Save project and the prompt's held-back action
// [SECTION] Auto-save, backups and crash lock
#include "project/project_life.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "dsp/alloy_render.h"
#include "library/decoded_source_cache.h"
#include "library/folder_scan.h"
#include "library/library.h"
#include "library/palettes.h"
#include "library/relink.h"
#include "library/waveform.h"
#include "picture/video_player.h"
#include "playback/audio_output.h"
#include "playback/mixer_publishing.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "presets/preferences.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "project/project_file_read.h"
#include "project/project_file_write.h"
#include "project/project_settings.h"
#include "project/undo.h"

namespace korvel {

namespace fs = std::filesystem;

// [SECTION] State of this file

ProjectLifeServices ProjectLifeHooks;

namespace {

constexpr const char* kProjectExtension = ".kvproj";

// The project file that was opened damaged, until the first save over it
// keeps the damaged original aside; empty otherwise. UI thread only.
std::string DamagedOriginalPath;

}  // namespace

// [SECTION] Paths

std::string ProjectSavePath(const std::string& path) {
    const fs::path file(path);
    const fs::path folder = file.parent_path();
    const std::string stem = file.stem().string();
    if (stem == folder.filename().string()) return path;
    const fs::path own = folder / stem;
    std::error_code ignored;  // the write then fails and says so
    fs::create_directories(own, ignored);
    return (own / file.filename()).string();
}

std::string BackupPath(const std::string& projectPath, std::int32_t slot) {
    const fs::path file(projectPath);
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".backup%d.kvproj", static_cast<int>(slot));
    // A long name loses the end of its stem, never the slot number: every
    // slot keeps a name of its own. The cut backs off to the start of a
    // UTF-8 character.
    std::string stem = file.stem().string();
    const std::size_t room = kMaxFileNameBytes - std::min(kMaxFileNameBytes, std::strlen(suffix));
    if (stem.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem.resize(cut);
    }
    return (file.parent_path() / "Backups" / (stem + suffix)).string();
}

std::string CrashLockPath(const std::string& projectPath) { return projectPath + ".lock"; }

// [SECTION] Shared steps

namespace {

bool EndsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool FileExists(const std::string& path, std::error_code& error) {
    const bool exists = fs::exists(path, error);
    return exists && !error;
}

void RemoveFileQuietly(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

std::vector<std::string> PaletteFolders(const Library& library) {
    std::vector<std::string> folders;
    folders.reserve(library.palettes.size());
    for (const Palette& palette : library.palettes) {
        if (!palette.folder.empty()) folders.push_back(palette.folder);
    }
    return folders;
}

// Writes the open project and the state saved with it to `target`.
bool WriteOpenProject(const std::string& target, bool keepDamagedOriginal) {
    const AppState& state = GlobalAppState;
    const PlaybackEngine& engine = LivePlaybackEngine;
    const VideoPlayer& video = GlobalVideoPlayer;
    const std::vector<std::string> libraryPaths = PaletteFolders(SoundLibrary);
    // A read in progress is the analysis thread's to write: only a finished
    // one is saved, and a running one is not even looked at.
    static const TraceAnalysis noRead;
    const TraceAnalysis& read = TraceReadValid(state) ? state.traceAnalysis : noRead;
    ProjectSaveRequest request{
        .project = CurrentProject,
        .videoPath = state.videoPath,
        // A video still waiting for the next frame to open it keeps the
        // offset it will be given.
        .videoStartTime = video.loaded ? video.timelineOffset.load() : state.pendingVideoStart,
        .libraryPaths = libraryPaths,
        .projectDescription = state.projectDescription,
        .projectSampleRate = state.projectSampleRate,
        .reverb = engine.reverb,
        .scenes = CurrentProject.scenes,
        .traceAnalysis = read,
        .linkedGroups = state.linkedGroups,
    };
    request.exportSettings = state.exportSettings;
    request.workAreaIn = state.workAreaIn;
    request.workAreaOut = state.workAreaOut;
    request.opticalDetail = state.opticalDetail;
    request.masterGain = engine.masterGain;
    request.refGain = engine.refGain;
    request.groupGain0 = engine.groupGain[0];
    request.groupGain1 = engine.groupGain[1];
    request.groupGain2 = engine.groupGain[2];
    request.keepDamagedOriginal = keepDamagedOriginal;
    return WriteProjectFile(target, request);
}

void ClearClipboard(AppState& state) {
    state.clipboardEvents.clear();
    state.clipboardEventIndices.clear();
    state.clipboardLayers.clear();
    state.clipboardVoices.clear();
}

void ClearSelection(AppState& state) {
    state.selectedEvents.clear();
    state.selectedEvent = -1;
    state.expandedEvent = -1;
}

// Gestures and renames in progress belong to the project being left.
void ResetEditingState(AppState& state) {
    state.renamingFolder.clear();
    state.folderNameBuffer[0] = '\0';
    state.focusFolderRename = false;
    // Another project can match the list cache's counts and revision.
    state.listCacheRevision = -1;
    if (ProjectLifeHooks.resetTimelineState) ProjectLifeHooks.resetTimelineState();
}

// Who holds a crash lock, by the process id written in it.
enum class LockHolder { ThisRun, OtherRun, EndedRun };

// The process id the lock at `lockPath` names; 0 when it cannot be read.
long LockProcessId(const std::string& lockPath) {
    std::string text;
    return ReadWholeTextFile(lockPath, text) ? CrashLockProcessId(text) : 0;
}

// A running process under `pid` that runs this program. A process whose
// program cannot be looked at (another user's) counts as one: a lock is
// better left than taken from a live run.
bool ProgramRuns(long pid) {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    std::error_code ignored;
    const fs::path theirs = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ignored);
    if (ignored) return true;
    const fs::path ours = fs::read_symlink("/proc/self/exe", ignored);
    // A reused id now names another program: the run that wrote the lock ended.
    return ignored || theirs == ours;
}

LockHolder HolderOfLock(const std::string& lockPath) {
    const long pid = LockProcessId(lockPath);
    if (pid == static_cast<long>(getpid())) return LockHolder::ThisRun;
    // A lock of ours whose text did not get written is still ours.
    if (pid == 0) return lockPath == GlobalAppState.lockFilePath ? LockHolder::ThisRun : LockHolder::EndedRun;
    return ProgramRuns(pid) ? LockHolder::OtherRun : LockHolder::EndedRun;
}

// Deletes a lock unless another running window holds it: that window's
// lock must outlive this one.
void RemoveLockUnlessHeldElsewhere(const std::string& lockPath) {
    if (HolderOfLock(lockPath) != LockHolder::OtherRun) RemoveFileQuietly(lockPath);
}

// Leaves the lock of `keptPath` (empty: none) and deletes any other.
void DeleteOtherCrashLock(AppState& state, const std::string& keptPath) {
    if (state.lockFilePath.empty() || state.lockFilePath == keptPath) return;
    RemoveLockUnlessHeldElsewhere(state.lockFilePath);
    state.lockFilePath.clear();
}

void DropVoices(PlaybackEngine& engine) {
    std::lock_guard lock(engine.voiceMutex);
    engine.voices.clear();
    engine.voiceFadeIns.clear();
    engine.voiceFadeOuts.clear();
    engine.voiceCount.store(0, std::memory_order_release);
}

}  // namespace

// [SECTION] New project

void NewProject() {
    AppState& state = GlobalAppState;
    if (!UiMayEditProject(state)) return;
    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;

    ClearUndoHistory();
    project.events.clear();
    project.results.clear();
    project.builtResultCount.store(0);
    project.userShapes.clear();
    project.bannedFiles.clear();
    project.bannedFileIds.clear();
    project.scenes.clear();
    project.built = false;
    project.startTC = 0.0f;
    CancelTraceAnalysis(state);
    if (GlobalVideoPlayer.loaded) state.videoChangePending = true;
    project.totalDuration = 30.0f;
    project.fps = 24.0f;

    engine.playing.store(false);
    LocatePlayback(engine, 0.0);
    {
        // Inside the voice lock, so no render that started from the old
        // project's sources stores into the emptied caches meanwhile.
        std::lock_guard lock(engine.voiceMutex);
        engine.voices.clear();
        engine.voiceFadeIns.clear();
        engine.voiceFadeOuts.clear();
        engine.voiceCount.store(0, std::memory_order_release);
        ClearDecodedSourceCache();
        ClearAlloyRenderCache();
    }
    engine.masterGain = 1.0f;
    engine.refGain = 1.0f;
    engine.groupGain = {1.0f, 1.0f, 1.0f};
    PublishMixerSettings(engine);

    ClearSelection(state);
    state.playhead = 0.0f;
    state.playing = false;
    state.viewStart = 0.0f;
    state.viewEnd = project.totalDuration;
    state.workAreaIn = -1.0f;
    state.workAreaOut = -1.0f;
    state.workAreaScene = -1;
    DeleteCrashLock();
    state.unsavedChanges = false;
    state.autoSaveElapsed = 0.0;
    state.projectPath.clear();
    state.projectDescription.clear();
    DamagedOriginalPath.clear();
    PostStatus("New project", 2.0f);

    ClearClipboard(state);
    state.ResetTraceState();
    ResetEditingState(state);
    state.unsavedPromptState = 0;
    ClearWaveformCache();
}

// [SECTION] Open project

namespace {

// Where the document of an open comes from.
struct FileToRead {
    // The newest backup, when a lock left by a run that ended abnormally
    // shows it holds newer work than the project file; empty otherwise.
    std::string backup;
    // Another running window holds the project's lock.
    bool otherWindow = false;
};

// The backups a recovery may read, newest first: a new backup not yet moved
// into slot 1 (an auto-save was cut short), then the slots.
std::vector<std::string> RecoveryBackups(const std::string& path) {
    std::vector<std::string> backups{BackupPath(path, 0)};
    const std::int32_t slots = std::max(1, GlobalAppState.maxBackups);
    for (std::int32_t slot = 1; slot <= slots; ++slot) backups.push_back(BackupPath(path, slot));
    return backups;
}

// A backup newer than the project file, when a crash lock shows the last
// run did not end cleanly. A backup older than the file (the file was saved
// after it) would put stale content over newer work, so the file wins then.
// Neither this run's own lock nor a live window's is a sign of a crash.
FileToRead ChooseFileToRead(const std::string& path, std::error_code& error) {
    FileToRead choice;
    if (!CrashLockExists(path, error) || error) return choice;
    const LockHolder holder = HolderOfLock(CrashLockPath(path));
    choice.otherWindow = holder == LockHolder::OtherRun;
    if (holder != LockHolder::EndedRun) return choice;
    std::string newest = BackupPath(path, 0);
    if (!FileExists(newest, error)) {
        if (error || !BackupExists(path, error) || error) return choice;
        newest = BackupPath(path, 1);
    }
    const auto backupTime = fs::last_write_time(newest, error);
    if (error) return choice;
    const auto fileTime = fs::last_write_time(path, error);
    if (error) return choice;
    if (backupTime > fileTime) choice.backup = newest;
    return choice;
}

// Why a backup is no recovery source: the read error, or the damage of a
// file that reads only in part; empty when it reads whole.
std::string BackupFault(const std::string& backup) {
    Project scratch;
    const ProjectLoadResult result = ReadProjectFile(backup, scratch);
    return result.ok ? result.damage : result.error;
}

// Scans the project's library folders that no palette holds yet. A scan
// runs one folder at a time: folders found while one runs are skipped, as
// are folders that are not there now.
void ScanProjectLibraryFolders(Library& library, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        bool held = false;
        for (const Palette& palette : library.palettes) held = held || palette.folder == folder;
        if (held || library.scanning.load()) continue;
        std::error_code ec;
        if (!fs::is_directory(folder, ec) || ec) continue;
        StartFolderScan(library, folder, true, -1, false);
    }
}

// After both passes: a link to a scene the project does not hold is no link.
void DropMissingSceneLinks(std::vector<Event>& events, std::int32_t sceneCount) {
    for (Event& event : events) {
        if (event.sceneLink >= sceneCount) event.sceneLink = -1;
        DropMissingSceneLinks(event.bounceSource, sceneCount);
    }
}

void SwitchSampleRate(AppState& state, PlaybackEngine& engine, std::int32_t rate) {
    state.projectSampleRate = rate;
    SetPlaybackSampleRate(engine, rate);
    // The audio thread runs: the reset lands between two of its blocks.
    RequestReverbReset(engine.reverbRequests, rate);
    AudioOutput& output = LiveAudioOutput;
    const auto wanted = static_cast<std::uint32_t>(std::max(rate, 0));
    if (output.requestedRate == wanted || !ProjectLifeHooks.setOutputSampleRate) return;
    ProjectLifeHooks.setOutputSampleRate(output, wanted);
}

void ReloadClipWaveforms(const Project& project) {
    ClearWaveformCache();
    for (const Event& event : project.events) {
        if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0') {
            LoadWaveformOverview(std::string(TextOf(event.pinnedFile)).c_str());
        }
    }
}

// How the document was chosen, for the status line.
struct OpenedFrom {
    bool recovered = false;
    bool olderBackup = false;
    std::string backupFault;  // why the newest backup was passed over
    bool otherWindow = false;
};

std::string OpenedStatus(const ProjectLoadResult& result, const OpenedFrom& from) {
    if (from.olderBackup) return "Recovered from an older backup (the newest: " + from.backupFault + ")";
    if (from.recovered) return "Recovered from backup";
    if (!result.damage.empty()) return DamagedProjectStatus(result);
    if (!from.backupFault.empty()) return "Backup not usable (" + from.backupFault + "); opened the project file";
    if (from.otherWindow) return "Open in another window; opened the project file";
    if (!result.warning.empty()) return result.warning;
    return result.missingFiles.empty() ? "Project opened" : "Opened (some files missing)";
}

}  // namespace

bool OpenProject(const std::string& path) {
    AppState& state = GlobalAppState;
    if (path.empty() || !UiMayEditProject(state)) return false;
    if (!IsFileReadable(path)) {
        PostStatus("File not found", 3.0f);
        return false;
    }
    std::error_code error;
    const FileToRead file = ChooseFileToRead(path, error);
    if (error) {
        PostStatus("Error: " + error.message(), 4.0f);
        return false;
    }

    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    OpenedFrom from;
    from.otherWindow = file.otherWindow;
    std::string readPath = path;
    if (!file.backup.empty()) {
        std::printf("[Recovery] Crash lock detected \xE2\x80\x94 loading backup: %s\n", file.backup.c_str());
        // A backup read only in part would be taken for the project and
        // saved over the whole file: the file is read instead.
        from.backupFault = BackupFault(file.backup);
        if (from.backupFault.empty()) {
            readPath = file.backup;
            from.recovered = true;
        } else {
            std::printf("[Recovery] Backup not usable (%s): reading %s\n", from.backupFault.c_str(), path.c_str());
        }
    }
    std::string text;
    ProjectLoadResult result = ReadProjectFile(readPath, project, text);
    if (!from.backupFault.empty() && (!result.ok || !result.damage.empty())) {
        // The file is no better: the next older backup that reads whole.
        for (const std::string& older : RecoveryBackups(path)) {
            if (older == file.backup || !FileExists(older, error) || !BackupFault(older).empty()) continue;
            ProjectLoadResult olderResult = ReadProjectFile(older, project, text);
            if (!olderResult.ok) continue;
            result = std::move(olderResult);
            from.recovered = from.olderBackup = true;
            std::printf("[Recovery] Loading older backup: %s\n", older.c_str());
            break;
        }
        error.clear();
    }
    if (!result.ok) {
        // The lock stays: the next attempt must still know to recover.
        PostStatus("Error: " + result.error, 4.0f);
        return false;
    }
    const std::string lockPath = CrashLockPath(path);
    RemoveLockUnlessHeldElsewhere(lockPath);

    ClearUndoHistory();
    ClearClipboard(state);
    DeleteOtherCrashLock(state, lockPath);
    state.projectPath = path;
    state.projectDescription = result.projectDescription;

    ClearSelection(state);
    state.playhead = 0.0f;
    state.viewStart = 0.0f;
    state.viewEnd = project.totalDuration;
    ResetEditingState(state);

    CancelTraceAnalysis(state);
    state.ResetTraceState();
    // The tuning is the preferences', not the file's.
    TraceModel model = state.traceAnalysis.model;
    state.traceAnalysis = std::move(result.traceAnalysis);
    state.traceAnalysis.model = model;
    state.opticalDetail = result.opticalDetail;
    state.linkedGroups = std::move(result.linkedGroups);

    VideoPlayer& video = GlobalVideoPlayer;
    if (video.loaded) {
        video.frameView = nullptr;
        state.videoChangePending = true;
    }
    state.videoPath.clear();
    state.pendingVideoPath = result.videoPath;
    if (!state.pendingVideoPath.empty() && !IsFileReadable(state.pendingVideoPath) &&
        state.platformHooks.openVideoDialog) {
        std::string chosen = state.platformHooks.openVideoDialog();
        if (!chosen.empty()) state.pendingVideoPath = std::move(chosen);
    }
    state.pendingVideoStart = result.videoStartTime;

    ScanProjectLibraryFolders(SoundLibrary, result.libraryPaths);
    ApplyPaletteRenames(SoundLibrary, project);

    // From the file the document came from: a recovered document with the
    // older file's scenes would link its events to the wrong scenes.
    ApplyProjectSessionSettings(ReadProjectSessionSettingsText(text), state, project, engine);
    text = std::string();
    state.workAreaScene = -1;
    DropMissingSceneLinks(project.events, static_cast<std::int32_t>(project.scenes.size()));

    SwitchSampleRate(state, engine, result.projectSampleRate);
    ReloadClipWaveforms(project);
    if (project.built) {
        RebuildCacheAsync("Loading audio...", true);
    } else {
        // No layers, so none of the voices left belongs to this project.
        DropVoices(engine);
    }

    WriteCrashLock(path);
    state.AddRecentProject(path);
    // Recovered content is newer than the file on disk: quitting must ask,
    // and the next save writes it over the file.
    state.unsavedChanges = from.recovered;
    state.autoSaveElapsed = 0.0;
    DamagedOriginalPath = !from.recovered && !result.damage.empty() ? path : std::string();
    PostStatus(OpenedStatus(result, from), 4.0f);
    SavePrefs();
    return true;
}

// [SECTION] Save project and the prompt's held-back action

bool SaveProject(const std::string& requested) {
    if (requested.empty()) return false;
    AppState& state = GlobalAppState;
    std::string path = requested;
    if (!EndsWith(path, kProjectExtension)) path += kProjectExtension;
    path = ProjectSavePath(path);

    RefreshSessionSourcePaths(CurrentProject);
    const bool keepDamaged = !DamagedOriginalPath.empty() && DamagedOriginalPath == path;
    if (!WriteOpenProject(path, keepDamaged)) {
        PostStatus("Save failed", 3.0f);
        return false;
    }
    if (keepDamaged) DamagedOriginalPath.clear();

    DeleteOtherCrashLock(state, CrashLockPath(path));
    state.projectPath = path;
    PostStatus("Project saved", 3.0f);
    state.unsavedChanges = false;
    state.autoSaveElapsed = 0.0;
    state.AddRecentProject(path);
    WriteCrashLock(path);
    SavePrefs();
    const std::size_t extension = path.rfind(kProjectExtension);
    state.pendingThumbnailPath = path.substr(0, extension) + ".thumb.png";
    return true;
}

void RunPendingProjectAction() {
    AppState& state = GlobalAppState;
    if (state.quitAfterPrompt) {
        state.quitAfterPrompt = false;
        state.unsavedPromptState = 0;
        if (!state.platformHooks.closeWindow) return;
        // Workers first, so the preferences are written with nothing running.
        StopWorkers();
        SavePrefs();
        state.platformHooks.closeWindow();
        return;
    }
    // Refused while a job or an export reads the project: the held action
    // and the prompt stay for another try.
    if (!UiMayEditProject(state)) {
        PostStatus(kBusyEditStatus, 3.0f);
        return;
    }
    if (!state.parkedOpenPath.empty()) {
        const std::string path = std::exchange(state.parkedOpenPath, std::string());
        state.unsavedPromptState = 0;
        OpenProject(path);
        return;
    }
    if (!state.openThroughDialog) {
        NewProject();
        return;
    }
    if (!state.platformHooks.openFileDialog) return;
    const std::string chosen = state.platformHooks.openFileDialog("Open Korvel Project", "kvproj");
    if (!chosen.empty()) OpenProject(chosen);
    state.unsavedPromptState = 0;
    state.openThroughDialog = false;
}

// [SECTION] Auto-save, backups and crash lock

bool AutoSaveProject(const std::string& projectPath) {
    if (projectPath.empty()) return false;
    AppState& state = GlobalAppState;
    // The new backup is written whole under a name of its own before any
    // slot moves: a failed write rotates nothing away, and a kill leaves
    // it (or slot 1) for recovery to find.
    const std::string fresh = BackupPath(projectPath, 0);
    std::error_code ignored;
    fs::create_directories(fs::path(fresh).parent_path(), ignored);
    // Collected audio goes to the Backups folder's own "Audio", so a backup
    // opens on its own.
    if (!WriteOpenProject(fresh, false)) return false;
    RotateProjectBackups(projectPath, state.maxBackups);
    const std::string backup = BackupPath(projectPath, 1);
    std::error_code error;
    fs::rename(fresh, backup, error);
    if (error) return false;  // the new backup stays under its own name
    state.autoSaveElapsed = 0.0;
    WriteCrashLock(projectPath);
    std::printf("[AutoSave] Backed up to slot 1 (%s)\n", backup.c_str());
    return true;
}

namespace {

// The slot a file in the Backups folder is, by its name; 0 when it is none.
std::int32_t SlotOfBackupName(const std::string& projectPath, const std::string& name) {
    const std::size_t mark = name.rfind(".backup");
    if (mark == std::string::npos || !name.ends_with(kProjectExtension)) return 0;
    std::int32_t slot = 0;
    const char* first = name.data() + mark + 7;
    const auto [end, error] = std::from_chars(first, name.data() + name.size(), slot);
    if (error != std::errc() || slot < 1 || std::string_view(end) != kProjectExtension) return 0;
    return fs::path(BackupPath(projectPath, slot)).filename() == name ? slot : 0;
}

}  // namespace

void RotateProjectBackups(const std::string& projectPath, std::int32_t count) {
    if (projectPath.empty() || count <= 0) return;
    std::error_code ignored;
    const fs::path folder = fs::path(BackupPath(projectPath, 1)).parent_path();
    fs::create_directories(folder, ignored);
    // Slot `count` and every one above (left by a larger count) go, so at
    // most `count` exist after the next write.
    std::vector<fs::path> above;
    std::error_code listing;
    for (auto it = fs::directory_iterator(folder, listing); !listing && it != fs::directory_iterator();
         it.increment(listing)) {
        if (SlotOfBackupName(projectPath, it->path().filename().string()) > count) above.push_back(it->path());
    }
    for (const fs::path& path : above) fs::remove(path, ignored);
    fs::remove(BackupPath(projectPath, count), ignored);
    // Each rename moves one whole file, so a kill between two leaves every
    // backup whole under its old or its new name.
    for (std::int32_t slot = count; slot >= 2; --slot) {
        fs::rename(BackupPath(projectPath, slot - 1), BackupPath(projectPath, slot), ignored);
    }
}

bool BackupExists(const std::string& projectPath, std::error_code& error) {
    return FileExists(BackupPath(projectPath, 1), error);
}

bool BackupExists(const std::string& projectPath) {
    std::error_code ignored;
    return BackupExists(projectPath, ignored);
}

bool CrashLockExists(const std::string& projectPath, std::error_code& error) {
    return FileExists(CrashLockPath(projectPath), error);
}

bool CrashLockExists(const std::string& projectPath) {
    std::error_code ignored;
    return CrashLockExists(projectPath, ignored);
}

void WriteCrashLock(const std::string& projectPath) {
    const std::string lockPath = CrashLockPath(projectPath);
    char text[32];
    const int length = std::snprintf(text, sizeof text, "pid=%d\n", static_cast<int>(getpid()));
    // Best effort: without a lock only the recovery of this run is lost.
    // Another running window's lock is left to it.
    if (HolderOfLock(lockPath) != LockHolder::OtherRun) {
        WriteFileAtomic(lockPath, std::string_view(text, static_cast<std::size_t>(length)));
    }
    GlobalAppState.lockFilePath = lockPath;
}

long CrashLockProcessId(std::string_view text) {
    constexpr std::string_view kKey = "pid=";
    if (!text.starts_with(kKey)) return 0;
    long pid = 0;
    const char* const last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data() + kKey.size(), last, pid);
    if (error != std::errc() || pid <= 0) return 0;
    for (const char* c = end; c != last; ++c)
        if (*c != '\n' && *c != '\r') return 0;
    return pid;
}

void DeleteCrashLock() {
    AppState& state = GlobalAppState;
    if (state.lockFilePath.empty()) return;
    RemoveLockUnlessHeldElsewhere(state.lockFilePath);
    state.lockFilePath.clear();
}

}  // namespace korvel
