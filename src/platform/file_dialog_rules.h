#pragma once
// The parts of the file dialogs and shell calls that need no display: the
// filter patterns, the default extension, the proposed export name and the
// checks made before handing text to the desktop.
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// The filter's patterns for one extension: "*.ext" in the case given and in
// upper and lower case (the file system tells cases apart; a project saved
// as "A.KVPROJ" must still show). Each pattern holds at most 63 bytes; an
// empty extension gives no patterns (no filter).
std::vector<std::string> FileFilterPatterns(std::string_view extension);

// The reference video dialog's two filters: "Video Files" with the
// containers a reference video comes in, each in lower and upper case, and
// "All Files".
struct NamedFileFilter {
    std::string name;
    std::vector<std::string> patterns;
};
std::vector<NamedFileFilter> VideoOpenFilters();

// The save dialog's default extension: at most 15 bytes of it.
std::string DefaultSaveExtension(std::string_view extension);

// Appends "." + the default extension of `extension` to a chosen save path
// whose file name lacks it (any letter case); other paths come back as they
// are. An empty path stays empty.
std::string AppendMissingExtension(const std::string& path, std::string_view extension);

// The name the export dialog proposes: the project file's name without
// folder and extension, "Untitled" for a project without a path.
std::string ProposedExportName(std::string_view projectPath);

// Only secure web addresses go to the desktop's URL handler.
bool IsLaunchableUrl(std::string_view url);

// Only an existing regular file is opened with its default application.
bool IsOpenableDocument(const std::string& path);

}  // namespace korvel
