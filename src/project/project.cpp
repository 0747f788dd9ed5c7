#include "project/project.h"

#include "library/file_id.h"

namespace korvel {

Project CurrentProject;

bool Project::IsFileBanned(std::string_view path) const {
    for (const std::string& banned : bannedFiles) {
        if (banned == path) return true;
    }
    return false;
}

void Project::BanFile(const std::string& path, const std::string& fileId) {
    if (!IsFileBanned(path)) {
        // Ids missing from older files become empty ones, so that the new
        // id lands at its own path's index.
        bannedFileIds.resize(bannedFiles.size());
        bannedFiles.push_back(path);
        bannedFileIds.push_back(fileId.empty() ? ComputeFileId(path).id : fileId);
    }
    // Also when already banned: a layer placed since the first ban must fall
    // silent too.
    for (LayerResult& layer : results) {
        if (layer.filepath == path) layer.muted = true;
    }
}

void Project::UnbanFile(std::string_view path) {
    // From the back, so that each id is erased at the index of its own path.
    for (std::size_t i = bannedFiles.size(); i-- > 0;) {
        if (bannedFiles[i] != path) continue;
        bannedFiles.erase(bannedFiles.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < bannedFileIds.size()) {
            bannedFileIds.erase(bannedFileIds.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

}  // namespace korvel
