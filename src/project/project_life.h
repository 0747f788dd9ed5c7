#pragma once
// Moving the application from one project to another: a new empty project,
// opening a project file (from its newest backup when the program did not
// end cleanly), saving to a folder of the project's own; and, while a project
// is open, the auto-save into rotating backups beside it and the crash lock
// that tells the next open whether the program ended cleanly.
//
// [SECTION] Services installed by other parts of the program
// [SECTION] Paths
// [SECTION] New, open and save
// [SECTION] Auto-save, backups and crash lock
//
// Everything here runs on the UI thread and works on the process-wide
// records (CurrentProject, GlobalAppState, LivePlaybackEngine, SoundLibrary,
// LiveAudioOutput, GlobalVideoPlayer). Outcomes go to the status line;
// nothing throws: file-system errors take the operation's failure path.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "playback/audio_output.h"

namespace korvel {

// [SECTION] Services installed by other parts of the program

// Each is tested before it is called; a missing one is skipped.
struct ProjectLifeServices {
    // Reopens the live output at another rate on the same device, holding
    // the transport meanwhile. Tests put a stand-in for the device here.
    void (*setOutputSampleRate)(AudioOutput& output, std::uint32_t rate) = SetOutputSampleRate;
    // Forgets the timeline's drag, resize and rename state.
    std::function<void()> resetTimelineState;
};

// UI thread: installed at start-up, read by the operations below.
extern ProjectLifeServices ProjectLifeHooks;

// [SECTION] Paths

// Gives every project a folder named after it: a path whose folder already
// carries the file's stem comes back unchanged; otherwise that folder is
// created beside the file (a failure is left for the write to report) and
// the file placed in it. "Films/Chase.kvproj" -> "Films/Chase/Chase.kvproj".
std::string ProjectSavePath(const std::string& path);

// "<folder>/Backups/<stem>.backup<slot>.kvproj"; slot 1 is the newest and
// slot 0 a new backup being written. A name over 255 bytes loses the end of
// its stem (at a UTF-8 character boundary), never its slot.
std::string BackupPath(const std::string& projectPath, std::int32_t slot);
// The project path followed by ".lock".
std::string CrashLockPath(const std::string& projectPath);

// [SECTION] New, open and save

// Empties the document and what belongs to it (history, voices, caches,
// selection, clipboard, picture results, crash lock, path), keeping the
// settings that carry over. Does nothing while a background job or an
// export reads the project.
void NewProject();

// Opens a project file into the application: true when it was loaded. Every
// failure is reported in the status line before anything is changed. A crash
// lock left by a run that ended abnormally recovers from the newest backup
// when that is newer than the file and reads whole; a backup that does not
// is passed over for the file (then for an older whole backup), and the
// status says so. A lock of this run, or of another window still running,
// is no crash: the file is read, and the other window keeps its lock.
// Refused (false, nothing changed) while a background job or an export
// reads the project.
bool OpenProject(const std::string& path);

// Writes the open project to `path` (".kvproj" appended when it does not end
// so, exact case) inside a folder of its own, and makes that the project's
// path. False, with only the status line changed, when it was not written.
bool SaveProject(const std::string& path);

// Carries out what the unsaved-changes prompt held back: the quit, the
// parked open, a new project, or an open through the file dialog. An open
// or a new project while a job or an export reads the project posts the
// busy status and stays held back, the prompt open.
void RunPendingProjectAction();

// [SECTION] Auto-save, backups and crash lock

// Writes the project whole into slot 0, then rotates the backups and moves
// it into slot 1 (the title bar's auto-save tick calls it). A failed write
// moves nothing. The project file itself and `unsavedChanges` are left
// alone.
bool AutoSaveProject(const std::string& projectPath);

// Makes room for a new slot 1 among at most `count` slots: deletes the last
// and every slot above it, moves each other one up. Failures are ignored.
void RotateProjectBackups(const std::string& projectPath, std::int32_t count);

// Existence tests. The overloads with `error` report a file-system failure
// other than the file or its folder not existing (false is returned then);
// the others read such a failure as "does not exist".
bool BackupExists(const std::string& projectPath);
bool BackupExists(const std::string& projectPath, std::error_code& error);
bool CrashLockExists(const std::string& projectPath);
bool CrashLockExists(const std::string& projectPath, std::error_code& error);

// Writes "pid=<process id>\n" to the project's lock (best effort; another
// running window's lock is left alone) and remembers its path in
// `lockFilePath`, also when it was not written.
void WriteCrashLock(const std::string& projectPath);

// The process id a lock's text names ("pid=<n>", a line feed or more after
// it allowed); 0 when the text is not such a lock.
long CrashLockProcessId(std::string_view text);

// Deletes the file `lockFilePath` names, if any and unless another running
// window holds it, and empties it: the open project was closed normally.
void DeleteCrashLock();

}  // namespace korvel
