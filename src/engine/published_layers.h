#pragma once
// The view of a project's layers that another thread may read while a build
// appends to them, erases them or sorts them in place.
//
// A build publishes how many leading layers are complete in
// `Project::builtResultCount` (release order). Anything that could move or
// shrink the storage (an append past the capacity, an erase, the finish's
// sort and rewrite, a rebuild of the list) happens under
// PublishedLayersMutex, and leaves the published count no larger than the
// layers that are complete afterwards. A reader that holds the mutex
// therefore sees `count` whole layers that do not move under it.
#include <cstdint>
#include <limits>
#include <mutex>
#include <span>
#include <utility>

#include "platform/thread_checks.h"
#include "project/layer.h"
#include "project/project.h"

namespace korvel {

// Taken by the build thread (job or recipe preview) around every change that
// moves layers, and by the UI thread for as long as it reads the layers of a
// running build. Hold it briefly: the build waits on it. A job's edits of
// an event's pinned files go under it too (JobReadLock).
extern CheckedMutex PublishedLayersMutex;

// UI thread: PublishedLayersMutex while a job runs, so that what the job may
// rewrite under it (layers, an event's pinned paths) is read whole; no lock
// when no job runs, since the UI thread is then the only writer.
std::unique_lock<CheckedMutex> JobReadLock(bool jobRunning);

// UI thread: the leading complete layers of a build in progress, at most
// `limit` of them (a full build draws the first voicesRendered).
class PublishedLayersView {
public:
    explicit PublishedLayersView(const Project& project,
                                 std::int32_t limit = std::numeric_limits<std::int32_t>::max());
    std::span<const LayerResult> layers() const { return layers_; }

private:
    std::unique_lock<CheckedMutex> lock_;
    std::span<const LayerResult> layers_;
};

// Build thread. Stores min(count, layers held) with release order.
void PublishBuiltLayers(Project& project, std::int32_t count);
// Build thread: appends a finished layer (not yet published); takes the
// mutex only when the append would move the storage.
void AppendBuiltLayer(Project& project, LayerResult&& layer);

// Build thread: holds the mutex for an edit that moves or rewrites layers;
// on leaving, the published count is cut to the layers then held.
class LayerStorageEdit {
public:
    explicit LayerStorageEdit(Project& project);
    ~LayerStorageEdit();
    LayerStorageEdit(const LayerStorageEdit&) = delete;
    LayerStorageEdit& operator=(const LayerStorageEdit&) = delete;

private:
    Project& project_;
    std::lock_guard<CheckedMutex> lock_;
};

}  // namespace korvel

// At a writer of published layers: a build or job thread holds the storage
// lock. The UI thread may write without it, as it starts no edit while a
// job runs.
#if KORVEL_THREAD_CHECKS
#define KORVEL_CHECK_LAYER_WRITER() \
    (::korvel::thread_checks::ui() ? (void)0 : KORVEL_CHECK_HELD(::korvel::PublishedLayersMutex))
#else
#define KORVEL_CHECK_LAYER_WRITER() ((void)0)
#endif
