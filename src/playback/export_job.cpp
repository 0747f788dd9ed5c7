// [SECTION] Rollback
// [SECTION] Job rules and texts
// [SECTION] Status
// [SECTION] The job
// [SECTION] Starting
#include "playback/export_job.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>

#include "library/relink.h"
#include "platform/thread_checks.h"
#include "playback/aaf_export.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "playback/wav_export.h"
#include "project/app_state.h"
#include "project/project.h"

namespace korvel {

namespace fs = std::filesystem;

// The AAF export unless a test replaces it before an export starts; read by
// the export thread.
ExportAafFn ExportAafHandler = ExportAAFForJob;

// [SECTION] Rollback

namespace {

constexpr std::string_view kExportTempMarker = ".export-tmp";

// The process id in a hidden export temporary's name (".name.<pid>.export-tmp",
// and whatever a writer appended to it); 0 when the name is none of ours.
long ExportTempOwner(std::string_view name) {
    const std::size_t marker = name.rfind(kExportTempMarker);
    if (name.size() < 2 || name.front() != '.' || marker == std::string_view::npos || marker < 2) return 0;
    const std::size_t dot = name.rfind('.', marker - 1);
    if (dot == std::string_view::npos || dot == 0 || dot + 1 >= marker) return 0;
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data() + dot + 1, name.data() + marker, pid);
    return error == std::errc() && end == name.data() + marker && pid > 0 ? pid : 0;
}

}  // namespace

std::string ExportRollback::TemporaryPath(const std::string& finalPath) {
    // Hidden, in the final folder, so the move into place is a rename within
    // one file system; the process id tells a killed export's leftovers
    // from a running one's.
    const fs::path path(finalPath);
    std::string name(1, '.');
    name += path.filename().string();
    name += '.';
    name += std::to_string(static_cast<long>(getpid()));
    name += kExportTempMarker;
    return (path.parent_path() / name).string();
}

void RemoveStaleExportTemporaries(const std::string& outputFolder) {
    const long self = static_cast<long>(getpid());
    const auto sweep = [self](const fs::path& folder) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const long pid = ExportTempOwner(it->path().filename().string());
            if (pid == 0 || pid == self) continue;
            if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
            std::error_code removeError;
            if (it->is_regular_file(removeError)) fs::remove(it->path(), removeError);
        }
    };
    // The exports write into the folder and one level below it (Tracks,
    // Clips, the AAF folder) and into the AAF folder's "Audio Files".
    std::error_code ec;
    if (!fs::is_directory(outputFolder, ec)) return;
    sweep(outputFolder);
    for (fs::directory_iterator it(outputFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError) || it->is_symlink(typeError)) continue;
        sweep(it->path());
        const fs::path audio = it->path() / "Audio Files";
        if (fs::is_directory(audio, typeError)) sweep(audio);
    }
}

void ExportRollback::AddFile(const std::string& temporaryPath, const std::string& finalPath) {
    files_.push_back({temporaryPath, finalPath});
}

void ExportRollback::AddFolder(const std::string& folder) { folders_.push_back(folder); }

bool ExportRollback::Commit() {
    // An earlier file of a final name is kept aside (a second link where the
    // system allows it, so the name is never missing) until every new file
    // is in place: a failed move then puts every earlier file back.
    struct Moved {
        const File* file;
        std::string aside;  // empty: no earlier file
    };
    std::vector<Moved> moved;
    bool all = true;
    for (const File& file : files_) {
        std::error_code ec;
        std::string aside;
        bool linked = false;
        if (fs::is_regular_file(fs::symlink_status(file.final, ec))) {
            aside = file.temporary + ".old";
            fs::remove(aside, ec);
            linked = link(file.final.c_str(), aside.c_str()) == 0;
            if (!linked) {
                fs::rename(file.final, aside, ec);
                if (ec) aside.clear();
            }
        }
        ec.clear();
        fs::rename(file.temporary, file.final, ec);
        if (!ec) {
            moved.push_back({&file, aside});
            continue;
        }
        std::printf("[Export] Could not move %s into place: %s\n", file.final.c_str(), ec.message().c_str());
        // The earlier file is still in place when it was linked aside.
        std::error_code ignored;
        if (linked) fs::remove(aside, ignored);
        else if (!aside.empty()) fs::rename(aside, file.final, ignored);
        all = false;
        break;
    }
    std::error_code ec;
    if (!all) {
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
            if (!it->aside.empty()) fs::rename(it->aside, it->file->final, ec);
            else fs::remove(it->file->final, ec);
        }
    } else {
        for (const Moved& m : moved)
            if (!m.aside.empty()) fs::remove(m.aside, ec);
    }
    std::fflush(stdout);
    // Not committed: the destructor removes the temporaries left and the
    // folders this call made.
    committed_ = all;
    return all;
}

ExportRollback::~ExportRollback() {
    if (!committed_) {
        std::error_code ec;
        for (const File& file : files_) fs::remove(file.temporary, ec);
        // A folder that still holds other files stays: remove only empties.
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) fs::remove(*it, ec);
        std::printf("[Export] Rollback: removed %d files\n", static_cast<int>(files_.size()));
        std::fflush(stdout);
    }
    files_.clear();
    folders_.clear();
}

// [SECTION] Job rules and texts

bool ExportLoudnessTarget(std::int32_t lufsIndex, ExportWavKind kind, float& targetLUFS) {
    static constexpr float kTargets[4] = {-14.0f, -16.0f, -18.0f, -23.0f};
    if (lufsIndex <= 0 || kind != ExportWavKind::Mix) return false;
    targetLUFS = kTargets[std::min(lufsIndex - 1, 3)];
    return true;
}

std::int32_t ReverbStemKind(const ExportRequest& request) {
    if (!request.exportSettings.exportReverbStem || !request.exportSettings.exportFormatWAV) return -1;
    if (request.exportSettings.exportWavStems) return static_cast<std::int32_t>(ExportWavKind::Stems);
    if (request.exportSettings.exportWavTracks) return static_cast<std::int32_t>(ExportWavKind::Tracks);
    if (request.exportSettings.exportWavClips) return static_cast<std::int32_t>(ExportWavKind::Clips);
    return -1;
}

std::string ExportFinalText(std::int32_t count, bool aafFailed, const std::vector<ExportWavKind>& rolledBack,
                            bool kindWroteNothing) {
    char text[96];
    const char* plural = count == 1 ? "" : "s";
    if (aafFailed) std::snprintf(text, sizeof text, "AAF export FAILED \u2014 %d WAV%s written", count, plural);
    else if (!rolledBack.empty() || kindWroteNothing)
        std::snprintf(text, sizeof text, "Export FAILED \u2014 %d file%s", count, plural);
    else std::snprintf(text, sizeof text, "Export complete \u2014 %d file%s", count, plural);
    std::string result = text;
    if (rolledBack.empty()) return result;
    static constexpr const char* kNames[4] = {"mixdown", "stems", "tracks", "clips"};
    result += " (rolled back: ";
    for (std::size_t i = 0; i < rolledBack.size(); ++i) {
        if (i > 0) result += ", ";
        result += kNames[static_cast<std::size_t>(rolledBack[i]) & 3];
    }
    return result + ")";
}

// [SECTION] Status

namespace {

// Guards AppState::exportStatus: the export thread writes it, the UI reads it.
std::mutex ExportStatusMutex;

}  // namespace

void SetExportStatus(AppState& state, const std::string& text) {
    std::lock_guard lock(ExportStatusMutex);
    std::snprintf(state.exportStatus, sizeof state.exportStatus, "%s", text.c_str());
}

std::string ExportStatusText(const AppState& state) {
    std::lock_guard lock(ExportStatusMutex);
    return state.exportStatus;
}

// [SECTION] The job

ExportMix TakeExportMix(const PlaybackEngine& engine) {
    KORVEL_CHECK_THREAD(ui);  // the faders' owner
    ExportMix mix;
    mix.masterGain = engine.masterGain;
    mix.groupGain = engine.groupGain;
    mix.reverb = engine.reverb;
    return mix;
}

void RunExportJob(const ExportRequest& request, const ExportMix& mix) {
    AppState& state = GlobalAppState;
    PlaybackEngine& engine = LivePlaybackEngine;
    const Project& project = CurrentProject;
    // Source paths were refreshed on the UI thread before the thread began.
    RemapVoicesToResults();
    LoadPendingVoices(engine, project.results);
    RemoveStaleExportTemporaries(request.outputFolder);

    const bool wavWanted = request.exportSettings.exportFormatWAV &&
                           (request.exportSettings.exportWavMixdown || request.exportSettings.exportWavStems ||
                            request.exportSettings.exportWavTracks || request.exportSettings.exportWavClips);
    if ((request.exportSettings.exportFormatAAF || wavWanted) &&
        (!engine.ready.load(std::memory_order_acquire) || engine.voices.empty())) {
        std::printf("[Export] Nothing to export to %s: no voice is rendered\n", request.outputFolder.c_str());
        std::fflush(stdout);
        SetExportStatus(state, kNothingToExportText);
        state.exportDone.store(true, std::memory_order_release);
        return;
    }

    std::int32_t count = 0;
    bool aafFailed = false;
    if (request.exportSettings.exportFormatAAF) {
        SetExportStatus(state, "Exporting AAF...");
        if (ExportAafHandler != nullptr && ExportAafHandler(request, mix)) count = 1;
        else aafFailed = true;
    }

    std::vector<ExportWavKind> rolledBack;
    bool kindWroteNothing = false;
    if (request.exportSettings.exportFormatWAV) {
        // Settings the UI owns, taken once: the mixer tab may change them
        // meanwhile (the mixer's were taken on the UI thread).
        const ReverbSettings& reverb = mix.reverb;
        const std::int32_t layoutIndex = state.exportWavLayout;
        const std::int32_t lufsIndex = state.exportWavLUFSIndex;
        const std::int32_t spatialMode = state.exportSpatialMode;
        const std::int32_t reverbStemKind = ReverbStemKind(request);
        struct KindStep {
            ExportWavKind kind;
            bool wanted;
            const char* status;
        };
        const KindStep steps[] = {
            {ExportWavKind::Mix, request.exportSettings.exportWavMixdown, "Exporting mix..."},
            {ExportWavKind::Stems, request.exportSettings.exportWavStems, "Exporting stems..."},
            {ExportWavKind::Tracks, request.exportSettings.exportWavTracks, "Exporting tracks..."},
            {ExportWavKind::Clips, request.exportSettings.exportWavClips, "Exporting clips..."},
        };
        for (const KindStep& step : steps) {
            if (!step.wanted) continue;
            SetExportStatus(state, step.status);
            ExportWavOptions options;
            options.kind = step.kind;
            options.layoutIndex = layoutIndex;
            options.startTimecodeSeconds = static_cast<float>(request.startTimecodeSeconds);
            options.baseName = request.baseName;
            options.normalize = ExportLoudnessTarget(lufsIndex, step.kind, options.targetLUFS);
            options.spatialBlend = spatialMode != 0 ? 0.9f : 0.0f;
            options.extendedSpread = spatialMode == 2;
            options.reverb = reverb.enabled ? &reverb : nullptr;
            options.mix = &mix;
            options.writeReverbStem = static_cast<std::int32_t>(step.kind) == reverbStemKind;
            bool failed = false;
            const std::int32_t written =
                ExportWAV(request.outputFolder, project.results, engine, request.sampleRate, project.trackLayout,
                          request.totalDuration, options, request.rangeStart, request.rangeEnd, &failed);
            count += written;
            if (failed) rolledBack.push_back(step.kind);
            else if (written == 0) kindWroteNothing = true;
        }
    }

    SetExportStatus(state, ExportFinalText(count, aafFailed, rolledBack, kindWroteNothing));
    state.exportDone.store(true, std::memory_order_release);
}

void ExportJobEntry(const ExportRequest& request, const ExportMix& mix) { RunExportJob(request, mix); }

// [SECTION] Starting

bool StartExport(ExportRequest request, std::function<void()> onComplete) {
    AppState& state = GlobalAppState;
    if (state.exportRunning.load(std::memory_order_acquire) || state.backgroundJob.active.load()) return false;
    // Here rather than on the export thread: the UI reads these paths.
    RefreshSessionSourcePaths(CurrentProject);
    SetExportStatus(state, "Exporting...");
    state.exportProgress.store(-1.0f);
    state.exportDone.store(false);
    state.exportDoneTime = 0.0;
    state.exportRunning.store(true, std::memory_order_release);
    state.exportCompleteCallback = std::move(onComplete);
    // The faders as they stand now: the export mixes with these throughout.
    ExportMix mix = TakeExportMix(LivePlaybackEngine);
    if (StartExportThread(state.exportThread,
                          [request = std::move(request), mix = std::move(mix)] { ExportJobEntry(request, mix); }))
        return true;
    std::printf("[Export] Could not start the export thread\n");
    std::fflush(stdout);
    SetExportStatus(state, "Export FAILED \u2014 could not start");
    state.exportCompleteCallback = nullptr;
    state.exportRunning.store(false);
    state.exportDone.store(true, std::memory_order_release);
    return false;
}

}  // namespace korvel
