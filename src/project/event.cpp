#include "project/event.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "library/file_id.h"

namespace korvel {

bool Event::HasPinnedFile(std::string_view path) const {
    for (const std::string& pinned : pinnedFiles) {
        if (pinned == path) return true;
    }
    return false;
}

void Event::AddPinnedFile(const std::string& path, const std::string& fileId) {
    if (!HasPinnedFile(path)) {
        // Ids missing from older files become empty ones, so that the new
        // id lands at its own path's index.
        pinnedFileIds.resize(pinnedFiles.size());
        pinnedFiles.push_back(path);
        pinnedFileIds.push_back(fileId.empty() ? ComputeFileId(path).id : fileId);
    }
    usePinnedFile = !pinnedFiles.empty();
}

void Event::RemovePinnedFile(std::string_view path) {
    // From the back, so that erasing keeps the indices still to visit valid
    // and each id is erased at the index of its own path.
    for (std::size_t i = pinnedFiles.size(); i-- > 0;) {
        if (pinnedFiles[i] != path) continue;
        pinnedFiles.erase(pinnedFiles.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < pinnedFileIds.size()) {
            pinnedFileIds.erase(pinnedFileIds.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    usePinnedFile = !pinnedFiles.empty();
}

std::int32_t EffectiveGroup(const Event& event) {
    // A Fill is a background whatever its override says.
    if (IsKind(event.shape, EventKind::Fill)) return 0;
    if (event.groupOverride == 1 || event.groupOverride == 2) return event.groupOverride;
    return DefaultGroupForKind(event.shape);
}

std::int32_t DefaultGroupForKind(std::int32_t kind) {
    switch (kind) {
        case KindValue(EventKind::Bloom):
        case KindValue(EventKind::Contour):
            return 2;
        case KindValue(EventKind::Fill):
        case KindValue(EventKind::Bed):
            return 0;
        default:
            return 1;
    }
}

std::string FormatHexId(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

std::uint64_t ParseHexId(const std::string& text) {
    if (text.empty()) return 0;
    return std::strtoull(text.c_str(), nullptr, 16);
}

}  // namespace korvel
