#include "app/background_job.h"

#include <cstdio>
#include <utility>

#include "app/update_check.h"
#include "dsp/flush_denormals.h"
#include "library/brightness_probe.h"
#include "library/library.h"
#include "platform/thread_checks.h"
#include "presets/recipe_previews.h"
#include "project/app_state.h"

namespace korvel {

namespace {
// UI thread: advanced by the frame, set by headless tests.
double UiClock = 0.0;
}  // namespace

double UiClockSeconds() { return UiClock; }
void AdvanceUiClock(double seconds) {
    if (seconds > 0.0) UiClock += seconds;
}
void SetUiClockSeconds(double seconds) { UiClock = seconds; }

bool CanStartBackgroundJob() {
    const AppState& state = GlobalAppState;
    // An export reads the voices and layers without their locks: no job
    // may rebuild or edit them until it ends.
    return !state.backgroundJob.active.load() && !state.traceRunning.load() &&
           !state.exportRunning.load(std::memory_order_acquire);
}

void StartBackgroundJob(const char* label, std::function<void()> work, bool cancellable,
                        float initialProgress) {
    AppState& state = GlobalAppState;
    BackgroundJob& job = state.backgroundJob;
    // Dropped, not queued: callers that must not lose a request keep it in a
    // pending field that the frame retries.
    if (!CanStartBackgroundJob()) return;

    std::snprintf(job.label, sizeof job.label, "%s", label != nullptr ? label : "");
    job.progress.store(initialProgress);
    job.done.store(false);
    job.doneStatus.clear();
    job.cancel.store(false);
    job.active.exchange(true);
    job.cancellable = cancellable;
    job.startTime = UiClockSeconds();
    job.threadStarted = false;
    job.snapshotRequested = true;
    job.work = std::move(work);
    // A clip trim or fade drag follows the held button, not an item, so it
    // would go on rewriting layers the job now reads.
    state.trimLayer = state.fadeDragLayer = -1;
}

bool LaunchBackgroundJobWorker(BackgroundJob& job) {
    if (!job.active.load() || job.threadStarted || !job.work) return false;
    if (job.worker.joinable()) job.worker.join();
    // The work stays in the job until it ends, so the thread runs it in place.
    job.worker = std::thread([&job] {
        SetThreadRole(ThreadRole::Job);
        EnableFlushDenormals();  // builds render alloys and reverb tails
        job.work();
    });
    job.threadStarted = true;
    return true;
}

void EndBackgroundJob(BackgroundJob& job) {
    if (job.worker.joinable()) job.worker.join();
    const bool frozen = !job.revealBuildProgress;
    job.active.store(false);
    job.revealBuildProgress = false;
    job.revealByBuiltLayers = false;
    job.threadStarted = false;
    if (frozen) {
        job.cancellable = false;
        job.snapshotView = nullptr;
    }
    job.doneTime = 0.0;
    job.work = nullptr;
    job.cancel.store(false);
}

namespace {

void StopLibraryThreads() {
    Library& library = SoundLibrary;
    library.scanning.store(false);
    library.idHashing.store(false);
    if (library.scanThread.joinable()) library.scanThread.join();
    if (library.idHashThread.joinable()) library.idHashThread.join();
}

void CancelAndJoinJob() {
    BackgroundJob& job = GlobalAppState.backgroundJob;
    job.cancel.store(true);
    if (job.worker.joinable() && job.worker.get_id() != std::this_thread::get_id()) job.worker.join();
}

// An export cannot be cut off without leaving partial files: it is waited
// for to its end.
void JoinExport() { JoinExportThread(GlobalAppState.exportThread); }

// Every worker's stop-and-join, in order. A worker that another part of the
// program adds puts its step here.
constexpr void (*kStopSteps[])() = {
    StopBrightnessProbe,
    StopLibraryThreads,
    JoinRecipePreviewWorker,  // a bake is short and writes one file: it ends by itself
    CancelAndJoinJob,
    JoinExport,
    StopUpdateCheck,  // its request is aborted, not waited out
};

}  // namespace

void StopWorkers() {
    for (auto step : kStopSteps) step();
}

}  // namespace korvel
