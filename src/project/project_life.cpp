// [SECTION] State of this file
// [SECTION] Paths
// [SECTION] Shared steps
// [SECTION] New project
// [SECTION] Open project
// [SECTION] Save project and the prompt's held-back action
// [SECTION] Auto-save, backups and crash lock
#include "project/project_life.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
    char name[256];
    std::snprintf(name, sizeof name, "%s.backup%d.kvproj", file.stem().string().c_str(), static_cast<int>(slot));
    return (file.parent_path() / "Backups" / name).string();
}

std::string CrashLockPath(const std::string& projectPath) { return projectPath + ".lock"; }

// [SECTION] Shared steps

namespace {

bool EndsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
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
    request.handleDuration = state.handleDuration;
    request.handleFullSource = state.handleFullSource;
    request.fadeInDuration = state.fadeInDuration;
    request.fadeOutDuration = state.fadeOutDuration;
    request.exportAAFMarkers = state.exportAAFMarkers;
    request.exportAAFVolAuto = state.exportAAFVolAuto;
    request.exportFormatAAF = state.exportFormatAAF;
    request.exportFormatWAV = state.exportFormatWAV;
    request.exportWavMixdown = state.exportWavMixdown;
    request.exportWavStems = state.exportWavStems;
    request.exportWavTracks = state.exportWavTracks;
    request.exportWavClips = state.exportWavClips;
    request.exportReverbStem = state.exportReverbStem;
    request.exportAAFSourceChannels = state.exportAAFSourceChannels;
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

// Leaves the lock of `keptPath` (empty: none) and deletes any other.
void DeleteOtherCrashLock(AppState& state, const std::string& keptPath) {
    if (state.lockFilePath.empty() || state.lockFilePath == keptPath) return;
    RemoveFileQuietly(state.lockFilePath);
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

struct FileToRead {
    std::string path;
    bool recovered = false;
};

// The project file, or backup slot 1 when a crash lock shows the last run
// did not end cleanly and the backup holds newer work than the file. A
// backup older than the file (the file was saved after it) would put stale
// content over newer work, so the file wins then.
FileToRead ChooseFileToRead(const std::string& path, std::error_code& error) {
    FileToRead choice{path, false};
    if (!CrashLockExists(path, error) || error) return choice;
    if (!BackupExists(path, error) || error) return choice;
    const std::string backup = BackupPath(path, 1);
    const auto backupTime = fs::last_write_time(backup, error);
    if (error) return choice;
    const auto fileTime = fs::last_write_time(path, error);
    if (error) return choice;
    // An unreadable backup is left where it is rather than blocking the
    // project from opening.
    if (backupTime > fileTime && IsFileReadable(backup)) choice = {backup, true};
    return choice;
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

std::string OpenedStatus(const ProjectLoadResult& result, bool recovered) {
    if (recovered) return "Recovered from backup";
    if (!result.damage.empty()) return DamagedProjectStatus(result);
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
    if (file.recovered) {
        std::printf("[Recovery] Crash lock detected \xE2\x80\x94 loading backup: %s\n", file.path.c_str());
    }

    Project& project = CurrentProject;
    PlaybackEngine& engine = LivePlaybackEngine;
    std::string text;
    ProjectLoadResult result = ReadProjectFile(file.path, project, text);
    if (!result.ok) {
        // The lock stays: the next attempt must still know to recover.
        PostStatus("Error: " + result.error, 4.0f);
        return false;
    }
    const std::string lockPath = CrashLockPath(path);
    RemoveFileQuietly(lockPath);

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
    state.unsavedChanges = file.recovered;
    state.autoSaveElapsed = 0.0;
    DamagedOriginalPath = !file.recovered && !result.damage.empty() ? path : std::string();
    PostStatus(OpenedStatus(result, file.recovered), 4.0f);
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
    RotateProjectBackups(projectPath, state.maxBackups);
    const std::string backup = BackupPath(projectPath, 1);
    // Collected audio goes to the Backups folder's own "Audio", so a backup
    // opens on its own.
    if (!WriteOpenProject(backup, false)) return false;
    state.autoSaveElapsed = 0.0;
    WriteCrashLock(projectPath);
    std::printf("[AutoSave] Backed up to slot 1 (%s)\n", backup.c_str());
    return true;
}

void RotateProjectBackups(const std::string& projectPath, std::int32_t count) {
    if (projectPath.empty() || count <= 0) return;
    std::error_code ignored;
    fs::create_directories(fs::path(BackupPath(projectPath, 1)).parent_path(), ignored);
    fs::remove(BackupPath(projectPath, count), ignored);
    // Each rename moves one whole file, so a kill between two leaves every
    // backup whole under its old or its new name.
    for (std::int32_t slot = count; slot >= 2; --slot) {
        fs::rename(BackupPath(projectPath, slot - 1), BackupPath(projectPath, slot), ignored);
    }
}

namespace {

bool FileExists(const std::string& path, std::error_code& error) {
    const bool exists = fs::exists(path, error);
    return exists && !error;
}

}  // namespace

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
    WriteFileAtomic(lockPath, std::string_view(text, static_cast<std::size_t>(length)));
    GlobalAppState.lockFilePath = lockPath;
}

void DeleteCrashLock() {
    AppState& state = GlobalAppState;
    if (state.lockFilePath.empty()) return;
    RemoveFileQuietly(state.lockFilePath);
    state.lockFilePath.clear();
}

}  // namespace korvel
