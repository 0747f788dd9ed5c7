#pragma once
// The one background job of the UI: work that takes longer than a frame and
// edits the project runs on a worker thread while the UI keeps drawing and
// starts no edit. Its thread slot, progress and cancel flag are shared with
// the picture analysis, so neither starts while the other runs.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace korvel {

struct BackgroundJob {
    // Shutdown joins the worker first. When a library ends the process with
    // exit() (Xlib on a lost display), a joinable thread left here would
    // abort the process: a finished one is joined, a running one is cancelled
    // and let go, since its body may wait on a UI thread that is gone.
    ~BackgroundJob() {
        cancel.store(true);
        if (!worker.joinable() || worker.get_id() == std::this_thread::get_id()) return;
        if (done.load(std::memory_order_acquire))
            worker.join();
        else
            worker.detach();
    }
    std::atomic<bool> active{false};  // from the start to the end of its completion
    bool revealBuildProgress = false;  // a live job: the UI keeps drawing
    bool revealByBuiltLayers = false;  // a live list render
    bool cancellable = false;
    char label[64] = {};
    // The body sets done (release) as its last action, also when cancelled;
    // the UI reads it with acquire and then sees the finished project.
    std::atomic<bool> done{false};
    // The body's word for the status line, written before done; the frame
    // posts it when the job ends.
    std::string doneStatus;
    std::atomic<bool> cancel{false};
    std::atomic<float> progress{-1.0f};  // 0..1, -1 unknown
    std::atomic<std::int32_t> jobEventsDone{0};
    std::int32_t jobEventTotal = 0;
    std::thread worker;  // joined only by the UI thread (and at destruction)
    double startTime = 0.0;  // UI clock seconds
    double doneTime = 0.0;   // when the frame first saw done; 0 = not yet
    std::function<void()> work;
    bool threadStarted = false;
    bool snapshotRequested = false;
    void* snapshotView = nullptr;  // the frozen picture shown while it runs
};

// The UI clock in seconds: the sum of the frames' times, so everything timed
// in frames (jobs, exports, animations, the status line) runs on one clock
// that headless tests advance themselves. UI thread only.
double UiClockSeconds();
// The frame adds its frame time; a negative time is ignored.
void AdvanceUiClock(double seconds);
void SetUiClockSeconds(double seconds);

// UI thread: whether StartBackgroundJob would take a job now (no job, no
// picture analysis, no export). Callers that take an undo snapshot for a
// job ask first, so a refused job leaves no step behind.
bool CanStartBackgroundJob();

// UI thread. Dropped (the work destroyed, nothing changed) while a job is
// active, the picture analysis runs or an export runs; otherwise records the job in
// GlobalAppState for LaunchBackgroundJobWorker to run.
void StartBackgroundJob(const char* label, std::function<void()> work, bool cancellable,
                        float initialProgress);

// UI thread: starts the worker on a recorded job that has not started yet
// (joining any earlier worker first). Returns true when it started one.
bool LaunchBackgroundJobWorker(BackgroundJob& job);

// UI thread, once `done` is set: joins the worker and returns the job to idle.
void EndBackgroundJob(BackgroundJob& job);

// UI thread, before the window closes and again at shutdown (a second call
// finds nothing to join): stops and joins every worker thread that exists:
// the brightness probe, the library's scan and identity-hashing threads, the
// recipe preview's bake, the background job or picture analysis (cancelled
// first), then waits for a running export to finish.
void StopWorkers();

}  // namespace korvel
