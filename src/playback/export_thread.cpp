#include "playback/export_thread.h"

namespace korvel {

void JoinExportThread(ExportThread& exportThread) {
    if (exportThread.thread.joinable() && exportThread.thread.get_id() != std::this_thread::get_id()) {
        exportThread.thread.join();
    }
    exportThread.running.store(false);
}

}  // namespace korvel
