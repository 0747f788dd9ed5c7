#pragma once
// What Clip and Bed events need to know of their designer-chosen files.
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// The file-name part of a path: after the last slash or backslash.
std::string_view FileNamePart(std::string_view path);

// A pinned file's length and channel count; false when libsndfile cannot
// open it. A rate below 1 gives a length of 0.
struct PinnedFileFacts {
    double seconds = 0.0;
    std::int32_t channels = 0;
};
bool ProbePinnedFile(const std::string& path, PinnedFileFacts& facts);

// The current path of a pinned file: the registry's for a known id, else
// `path` unchanged.
std::string RelinkPinnedPath(const std::string& fileId, const std::string& path);

}  // namespace korvel
