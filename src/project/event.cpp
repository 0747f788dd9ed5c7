#include "project/event.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "project/path_id_list.h"

namespace korvel {

bool Event::HasPinnedFile(std::string_view path) const { return ListsPath(pinnedFiles, path); }

void Event::AddPinnedFile(const std::string& path, const std::string& fileId) {
    AddPathWithId(pinnedFiles, pinnedFileIds, path, fileId);
    usePinnedFile = !pinnedFiles.empty();
}

void Event::RemovePinnedFile(std::string_view path) {
    RemovePathWithId(pinnedFiles, pinnedFileIds, path);
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
