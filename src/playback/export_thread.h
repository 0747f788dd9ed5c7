#pragma once
// The thread an export runs on, and whether it still runs.
#include <atomic>
#include <thread>

namespace korvel {

struct ExportThread {
    std::thread thread;
    std::atomic<bool> running{false};
};

}  // namespace korvel
