#pragma once
// The thread an export runs on, and whether it still runs.
#include <atomic>
#include <thread>

namespace korvel {

struct ExportThread {
    std::thread thread;
    std::atomic<bool> running{false};
};

// UI thread: when the export thread runs, waits for it without time-out and
// clears the running flag; otherwise nothing.
void JoinExportThread(ExportThread& exportThread);

}  // namespace korvel
