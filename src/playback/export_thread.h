#pragma once
// The thread an export runs on, and whether it still runs. A pthread rather
// than a std::thread: the offline reverb keeps its whole 1.4 MiB state on
// the stack, so the thread is started with an 8 MiB stack.
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <functional>

namespace korvel {

inline constexpr std::size_t kExportThreadStackBytes = 8u << 20;

struct ExportThread {
    pthread_t handle{};
    bool joinable = false;  // UI thread only: a started thread not yet joined
    std::atomic<bool> running{false};
};

// The call that creates the thread. Tests replace it to make creation fail;
// set only while no export starts. UI thread.
using ExportThreadCreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
extern ExportThreadCreateFn ExportThreadCreate;

// UI thread: runs `body` on a new thread with kExportThreadStackBytes of
// stack and sets the running flag. False, with nothing started and the flag
// clear, when the thread could not be created.
bool StartExportThread(ExportThread& exportThread, std::function<void()> body);

// UI thread: when the export thread was started, waits for it without
// time-out; clears the handle and the running flag either way.
void JoinExportThread(ExportThread& exportThread);

}  // namespace korvel
