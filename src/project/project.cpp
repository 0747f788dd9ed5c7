#include "project/project.h"

namespace korvel {

Project CurrentProject;

bool Project::IsFileBanned(std::string_view path) const {
    for (const std::string& banned : bannedFiles) {
        if (banned == path) return true;
    }
    return false;
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
