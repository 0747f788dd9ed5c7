#include "engine/published_layers.h"

#include <algorithm>

namespace korvel {

CheckedMutex PublishedLayersMutex;

std::unique_lock<CheckedMutex> JobReadLock(bool jobRunning) {
    KORVEL_CHECK_THREAD(ui);
    return jobRunning ? std::unique_lock<CheckedMutex>(PublishedLayersMutex) : std::unique_lock<CheckedMutex>();
}

PublishedLayersView::PublishedLayersView(const Project& project, std::int32_t limit)
    : lock_(PublishedLayersMutex) {
    const std::int32_t published = project.builtResultCount.load(std::memory_order_acquire);
    const std::int32_t count = std::max(0, std::min(published, limit));
    // Only the storage's start is read: the build may append (moving the
    // end, never the start) without the mutex. The published count never
    // exceeds the layers held while the mutex is ours.
    layers_ = std::span<const LayerResult>(project.results.data(), static_cast<std::size_t>(count));
}

void PublishBuiltLayers(Project& project, std::int32_t count) {
    const auto held = static_cast<std::int32_t>(std::min<std::size_t>(project.results.size(), INT32_MAX));
    project.builtResultCount.store(std::clamp(count, 0, held), std::memory_order_release);
}

void AppendBuiltLayer(Project& project, LayerResult&& layer) {
    if (project.results.size() < project.results.capacity()) {
        project.results.push_back(std::move(layer));
        return;
    }
    std::lock_guard lock(PublishedLayersMutex);
    project.results.push_back(std::move(layer));
}

LayerStorageEdit::LayerStorageEdit(Project& project) : project_(project), lock_(PublishedLayersMutex) {}

LayerStorageEdit::~LayerStorageEdit() {
    PublishBuiltLayers(project_, project_.builtResultCount.load(std::memory_order_relaxed));
}

}  // namespace korvel
