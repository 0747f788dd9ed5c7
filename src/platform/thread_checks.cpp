#include "platform/thread_checks.h"

#include <cstdio>
#include <cstdlib>

namespace korvel {

namespace {

// Each thread's own: set by the thread itself as it starts.
thread_local ThreadRole CurrentRole = ThreadRole::Other;

// Static initialisation runs on the main thread, which is the UI thread;
// written once there, never read.
[[maybe_unused]] const bool MainThreadMarked = (CurrentRole = ThreadRole::Ui, true);

}  // namespace

ThreadRole CurrentThreadRole() { return CurrentRole; }

void SetThreadRole(ThreadRole role) { CurrentRole = role; }

void ThreadCheckFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "[ThreadCheck] %s at %s:%d\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace korvel
