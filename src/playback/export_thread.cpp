#include "playback/export_thread.h"

#include <memory>

#include "platform/thread_checks.h"

namespace korvel {

ExportThreadCreateFn ExportThreadCreate = &pthread_create;

namespace {

void* RunBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    SetThreadRole(ThreadRole::Export);
    (*body)();
    return nullptr;
}

}  // namespace

bool StartExportThread(ExportThread& exportThread, std::function<void()> body) {
    JoinExportThread(exportThread);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    bool started = pthread_attr_setstacksize(&attributes, kExportThreadStackBytes) == 0;
    // The thread owns its function object from here and frees it when done.
    started = started && ExportThreadCreate(&exportThread.handle, &attributes, &RunBody, owned.get()) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) return false;
    owned.release();
    exportThread.joinable = true;
    exportThread.running.store(true);
    return true;
}

void JoinExportThread(ExportThread& exportThread) {
    if (exportThread.joinable && !pthread_equal(exportThread.handle, pthread_self())) {
        pthread_join(exportThread.handle, nullptr);
        exportThread.joinable = false;
        exportThread.handle = pthread_t{};
    }
    exportThread.running.store(false);
}

}  // namespace korvel
