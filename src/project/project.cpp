#include "project/project.h"

#include "project/path_id_list.h"

namespace korvel {

Project CurrentProject;

bool Project::IsFileBanned(std::string_view path) const { return ListsPath(bannedFiles, path); }

void Project::BanFile(const std::string& path, const std::string& fileId) {
    AddPathWithId(bannedFiles, bannedFileIds, path, fileId);
    // Also when already banned: a layer placed since the first ban must fall
    // silent too.
    for (LayerResult& layer : results) {
        if (layer.filepath == path) layer.muted = true;
    }
}

void Project::UnbanFile(std::string_view path) { RemovePathWithId(bannedFiles, bannedFileIds, path); }

}  // namespace korvel
