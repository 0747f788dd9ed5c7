#pragma once
// A list of file paths kept with a parallel list of the files' identities,
// as an event keeps its pinned files and a project its banned ones. Data
// from older files may hold fewer ids than paths.
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Exact byte comparison: no case folding, no path normalisation.
bool ListsPath(const std::vector<std::string>& paths, std::string_view path);

// Appends `path` unless listed, with `fileId` or, when that is empty, the
// identity the registry gives the file (empty if unreadable).
void AddPathWithId(std::vector<std::string>& paths, std::vector<std::string>& ids, const std::string& path,
                   const std::string& fileId);

// Removes every entry equal to `path`, with its id where one exists.
void RemovePathWithId(std::vector<std::string>& paths, std::vector<std::string>& ids, std::string_view path);

}  // namespace korvel
