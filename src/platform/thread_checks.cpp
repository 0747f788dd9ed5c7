#include "platform/thread_checks.h"

#include <cstdio>
#include <cstdlib>

namespace korvel {

namespace {

// Each thread's own: set by the thread itself as it starts.
thread_local ThreadRole CurrentRole = ThreadRole::Other;

// The process's main thread, which is the UI thread, taken by static
// initialisation (which runs on it); never written again. An identity
// rather than a store into the main thread's role: an optimiser may fold
// such a store into every thread's initial value.
const std::thread::id MainThread = std::this_thread::get_id();

}  // namespace

ThreadRole CurrentThreadRole() {
    if (CurrentRole != ThreadRole::Other) return CurrentRole;
    return std::this_thread::get_id() == MainThread ? ThreadRole::Ui : ThreadRole::Other;
}

void SetThreadRole(ThreadRole role) { CurrentRole = role; }

void ThreadCheckFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "[ThreadCheck] %s at %s:%d\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace korvel
