#include "platform/file_dialog_rules.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace korvel {
namespace {

constexpr size_t kMaxPatternBytes = 63;
constexpr size_t kMaxDefaultExtensionBytes = 15;

std::string WithCase(std::string_view text, int (*convert)(int)) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
    return out;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<std::string> FileFilterPatterns(std::string_view extension) {
    std::vector<std::string> patterns;
    if (extension.empty()) return patterns;
    for (const std::string& ext : {std::string(extension), WithCase(extension, std::tolower), WithCase(extension, std::toupper)}) {
        std::string pattern = ("*." + ext).substr(0, kMaxPatternBytes);
        if (std::find(patterns.begin(), patterns.end(), pattern) == patterns.end()) patterns.push_back(pattern);
    }
    return patterns;
}

std::vector<NamedFileFilter> VideoOpenFilters() {
    std::vector<NamedFileFilter> filters(2);
    filters[0].name = "Video Files";
    for (const char* extension : {"mp4", "mov", "m4v", "avi", "mkv", "wmv", "webm", "mxf"}) {
        for (std::string& pattern : FileFilterPatterns(extension)) {
            if (std::find(filters[0].patterns.begin(), filters[0].patterns.end(), pattern) == filters[0].patterns.end()) {
                filters[0].patterns.push_back(std::move(pattern));
            }
        }
    }
    filters[1].name = "All Files";
    filters[1].patterns = {"*"};
    return filters;
}

std::string DefaultSaveExtension(std::string_view extension) {
    return std::string(extension.substr(0, kMaxDefaultExtensionBytes));
}

std::string AppendMissingExtension(const std::string& path, std::string_view extension) {
    const std::string ext = DefaultSaveExtension(extension);
    if (path.empty() || ext.empty()) return path;
    const size_t slash = path.rfind('/');
    const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && EqualIgnoringCase(name.substr(dot + 1), ext)) return path;
    return path + "." + ext;
}

std::string ProposedExportName(std::string_view projectPath) {
    if (projectPath.empty()) return "Untitled";
    const size_t slash = projectPath.find_last_of("/\\");
    std::string_view name = projectPath.substr(slash == std::string_view::npos ? 0 : slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

bool IsLaunchableUrl(std::string_view url) {
    constexpr std::string_view kScheme = "https://";
    return url.size() > kScheme.size() && EqualIgnoringCase(url.substr(0, kScheme.size()), kScheme);
}

bool IsOpenableDocument(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace korvel
