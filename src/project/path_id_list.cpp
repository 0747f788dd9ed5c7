#include "project/path_id_list.h"

#include <algorithm>
#include <cstddef>

#include "library/file_id.h"

namespace korvel {

bool ListsPath(const std::vector<std::string>& paths, std::string_view path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

void AddPathWithId(std::vector<std::string>& paths, std::vector<std::string>& ids, const std::string& path,
                   const std::string& fileId) {
    if (ListsPath(paths, path)) return;
    // Missing ids become empty ones, so that the new id lands at its own
    // path's index.
    ids.resize(paths.size());
    paths.push_back(path);
    ids.push_back(fileId.empty() ? ComputeFileId(path).id : fileId);
}

void RemovePathWithId(std::vector<std::string>& paths, std::vector<std::string>& ids, std::string_view path) {
    // From the back, so that erasing keeps the indices still to visit valid
    // and each id is erased at the index of its own path.
    for (std::size_t i = paths.size(); i-- > 0;) {
        if (paths[i] != path) continue;
        paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < ids.size()) ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

}  // namespace korvel
