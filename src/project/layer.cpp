#include "project/layer.h"

namespace korvel {

std::atomic<std::int32_t> LayerIdCounter{1};

std::int32_t NextLayerId() { return LayerIdCounter.fetch_add(1, std::memory_order_relaxed); }

bool LayerResult::HasPreviousSound() const {
    const auto position = historyPos >= 0 ? static_cast<std::size_t>(historyPos) : history.size();
    return position >= 1;
}

bool LayerResult::HasNextSound() const {
    return historyPos >= 0 && static_cast<std::size_t>(historyPos) + 1 < history.size();
}

}  // namespace korvel
