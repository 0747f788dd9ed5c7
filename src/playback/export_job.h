#pragma once
// The export: what the export tab asks for, the thread that writes it, and
// the rollback that makes a failed kind leave nothing behind. The WAV kinds
// themselves are written by ExportWAV (wav_export.h).
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dsp/reverb.h"
#include "project/event.h"
#include "project/export_settings.h"

namespace korvel {

struct AppState;
struct PlaybackEngine;

// The mixer as an export hears it. The mixer tab may move the faders while
// the export runs, so the UI thread takes this once as the export starts
// and the export thread reads only its copy.
struct ExportMix {
    float masterGain = 1.0f;
    std::array<float, kTrackGroupCount> groupGain = {1.0f, 1.0f, 1.0f};
    ReverbSettings reverb;
};

// UI thread: the engine's faders and reverb settings now.
ExportMix TakeExportMix(const PlaybackEngine& engine);

// Built by the export tab from the preferences and the project; the export
// thread owns its copy for its whole run.
struct ExportRequest {
    std::string outputFolder;
    std::string baseName;  // the export tab puts "Korvel" here when left empty
    // The export choices; a negative handleDuration also means whole source files.
    ExportSettings exportSettings;
    bool exportWithHandles = true;
    bool snapToFrames = false;
    bool exportFillVirtual = true;
    float rangeStart = -1.0f;  // the work area, or both -1 for the whole timeline
    float rangeEnd = -1.0f;
    std::int32_t sampleRate = 48000;
    float fps = 24.0f;
    float totalDuration = 0.0f;
    std::int32_t startTimecodeSeconds = 0;
    std::vector<std::string> groupNames;
};

enum class ExportWavKind : std::int32_t { Mix = 0, Stems = 1, Tracks = 2, Clips = 3 };

// The options of one ExportWAV call.
struct ExportWavOptions {
    ExportWavKind kind = ExportWavKind::Mix;
    bool applyMasterGain = true;  // the mixdown and the stems carry the master gain
    std::int32_t layoutIndex = 0;
    float startTimecodeSeconds = 0.0f;
    bool writeReverbStem = false;
    const ReverbSettings* reverb = nullptr;  // null: no reverb
    // The faders the call mixes with; null: the engine's, read once as the
    // call starts (for a caller on the UI thread).
    const ExportMix* mix = nullptr;
    std::string baseName;
    bool normalize = false;
    float targetLUFS = -16.0f;
    float spatialBlend = 0.0f;
    bool extendedSpread = false;
};

// The files one export call writes, each under a temporary name in its final
// folder, and the folders it created. Commit moves every file into place; a
// call that ends without committing removes only its temporaries and its
// new folders (those left empty), so an earlier export of the same names is
// never overwritten or deleted by a failed one.
class ExportRollback {
public:
    ExportRollback() = default;
    ExportRollback(const ExportRollback&) = delete;
    ExportRollback& operator=(const ExportRollback&) = delete;
    ~ExportRollback();

    // The name a file bound for `finalPath` is written under.
    static std::string TemporaryPath(const std::string& finalPath);
    // A file written completely under `temporaryPath`.
    void AddFile(const std::string& temporaryPath, const std::string& finalPath);
    void AddFolder(const std::string& folder);
    // Moves every file into place; false when one could not be moved: then
    // the files already moved are taken back (earlier files of their names
    // restored) and the call ends as if it had not committed.
    bool Commit();

    std::size_t FileCount() const { return files_.size(); }

private:
    struct File {
        std::string temporary;
        std::string final;
    };
    std::vector<File> files_;
    std::vector<std::string> folders_;
    bool committed_ = false;
};

// Removes the hidden export temporaries that processes no longer running
// left in `outputFolder`, the folders in it and their "Audio Files" (a killed
// export). Those of this process and of live ones stay.
void RemoveStaleExportTemporaries(const std::string& outputFolder);

// The AAF step: ExportAAFForJob (aaf_export.h) unless replaced before an
// export starts; null: an AAF export that was asked for fails. Read by the
// export thread.
using ExportAafFn = bool (*)(const ExportRequest& request, const ExportMix& mix);
extern ExportAafFn ExportAafHandler;

// The loudness target of a WAV kind for the preference exportWavLUFSIndex:
// false (no normalisation) for index 0 and for every kind but the mixdown.
bool ExportLoudnessTarget(std::int32_t lufsIndex, ExportWavKind kind, float& targetLUFS);

// The kind that writes the reverb stem: the first requested one other than
// the mixdown; -1 when none (or no reverb stem asked for).
std::int32_t ReverbStemKind(const ExportRequest& request);

// The final status text: the count line, led by "Export FAILED" when a kind
// rolled back or a requested kind wrote nothing, followed by the kinds that
// rolled back (their names, in kind order) when there are any.
std::string ExportFinalText(std::int32_t count, bool aafFailed, const std::vector<ExportWavKind>& rolledBack,
                            bool kindWroteNothing = false);

// The final status text when something was asked for and the engine holds
// no rendered voice.
inline constexpr const char* kNothingToExportText = "Export FAILED \u2014 nothing to export";

// The export status text shared by the export thread and the UI, under its
// own lock so that a frame never shows a text being rewritten.
void SetExportStatus(AppState& state, const std::string& text);
std::string ExportStatusText(const AppState& state);

// The whole export on the export thread: voices matched and loaded, the AAF
// step, the WAV kinds in order, the final text, and exportDone last. `mix`
// was taken by TakeExportMix on the UI thread.
void RunExportJob(const ExportRequest& request, const ExportMix& mix);
void ExportJobEntry(const ExportRequest& request, const ExportMix& mix);

// UI thread: starts an export of `request` unless one or a background job
// runs. Source paths are refreshed and the mixer taken here, before the
// thread reads them; the export flags are set, and `onComplete` runs from the frame's upkeep 0.8 s
// after the export ends. A thread that cannot start ends the export at once
// (status text, exportDone, exportRunning clear) and returns false.
bool StartExport(ExportRequest request, std::function<void()> onComplete);

}  // namespace korvel
