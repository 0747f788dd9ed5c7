#include "app/launcher.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <utility>

#include "app/frame_work.h"
#include "project/file_io.h"
#include "project/fixed_text.h"
#include "project/json.h"
#include "project/project.h"
#include "project/project_file_read.h"
#include "project/project_life.h"

// [SECTION] Rows
// [SECTION] Actions

namespace korvel {

// [SECTION] Rows

namespace {

// UI thread: the session's caches, keyed by project path.
std::map<std::string, std::string, std::less<>> ModifiedDateCache;
std::map<std::string, std::string, std::less<>> DescriptionCache;

// The program writes the description among the first scalar members, long
// before the events; this much of the file holds it.
constexpr std::size_t kDescriptionPrefixBytes = 64 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void SkipBlanks(const char*& p) {
    while (IsBlank(*p)) ++p;
}

bool IsScalarStart(char c) {
    return c == '"' || c == '-' || (c >= '0' && c <= '9') || c == 't' || c == 'f' || c == 'n';
}

}  // namespace

std::string GetProjectModifiedDate(const std::string& path) {
    if (auto it = ModifiedDateCache.find(path); it != ModifiedDateCache.end()) return it->second;
    std::string text;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        std::tm local{};
        const std::time_t when = info.st_mtime;
        if (localtime_r(&when, &local) != nullptr) {
            char buffer[64];
            const std::size_t n = std::strftime(buffer, sizeof buffer, "%b %d, %Y  %H:%M", &local);
            text.assign(buffer, n);
        }
    }
    ModifiedDateCache.emplace(path, text);
    return text;
}

bool ProjectDescriptionFromPrefix(std::string_view prefix, std::string& description) {
    description.clear();
    // The parsers read zero-terminated text.
    const std::string text(prefix);
    const char* const end = text.c_str() + text.size();
    const char* p = text.c_str();
    SkipBlanks(p);
    if (*p != '{') return false;
    ++p;
    SkipBlanks(p);
    if (*p == '}') return true;  // an empty root object
    for (;;) {
        SkipBlanks(p);
        if (*p != '"') return false;
        const std::string key = ParseJsonString(p);
        SkipBlanks(p);
        if (*p != ':') return false;
        ++p;
        SkipBlanks(p);
        // Containers before the member would need the parser's depth rules:
        // the whole file settles those.
        if (!IsScalarStart(*p)) return false;
        const JsonValue value = ParseJsonValue(p);
        SkipBlanks(p);
        // A value is whole only when a separator follows it inside the prefix.
        if (p >= end || (*p != ',' && *p != '}')) return false;
        if (key == "projectDescription") {
            if (value.type == JsonType::String) description = value.string;
            return true;
        }
        if (*p == '}') return true;
        ++p;
    }
}

std::string ProjectDescriptionFromText(const std::string& text) {
    const JsonValue root = ParseJson(text);
    if (root.type != JsonType::Object) return {};
    const JsonValue& member = root.Get("projectDescription");
    return member.type == JsonType::String ? member.string : std::string();
}

std::string ReadProjectDescription(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {};
    std::string prefix(kDescriptionPrefixBytes, '\0');
    const std::size_t read = std::fread(prefix.data(), 1, prefix.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return {};
    prefix.resize(read);
    std::string description;
    if (ProjectDescriptionFromPrefix(prefix, description)) return description;
    if (read < kDescriptionPrefixBytes) return ProjectDescriptionFromText(prefix);
    std::string whole;
    if (!ReadWholeTextFile(path, whole)) return {};
    return ProjectDescriptionFromText(whole);
}

std::string GetProjectDescription(const std::string& path) {
    if (auto it = DescriptionCache.find(path); it != DescriptionCache.end()) return it->second;
    std::string text = ReadProjectDescription(path);
    DescriptionCache.emplace(path, text);
    return text;
}

void ClearLauncherCaches() {
    ModifiedDateCache.clear();
    DescriptionCache.clear();
}

// [SECTION] Actions

bool LauncherActionsEnabled(const AppState& state) { return UiMayEditProject(state); }

void CloseLauncher(AppState& state) {
    state.launcherOpen = false;
    state.launcherDismissed = true;
}

void LauncherNewProject(AppState& state) {
    if (!LauncherActionsEnabled(state)) return;
    if (state.unsavedChanges && !CurrentProject.events.empty()) {
        // The prompt's pending action is a new project: nothing is parked.
        state.parkedOpenPath.clear();
        state.openThroughDialog = false;
        state.quitAfterPrompt = false;
        state.unsavedPromptState = 1;
    } else {
        NewProject();
    }
    CloseLauncher(state);
}

void LauncherOpenFile(AppState& state) {
    if (!LauncherActionsEnabled(state) || !state.platformHooks.openFileDialog) return;
    std::string chosen = state.platformHooks.openFileDialog("Open Korvel Project", "kvproj");
    if (chosen.empty()) return;
    state.PendingOpenPath = std::move(chosen);
    CloseLauncher(state);
}

bool LauncherOpenRecent(AppState& state, std::size_t index) {
    if (!LauncherActionsEnabled(state) || index >= state.recentProjects.size()) return true;
    const std::string path = state.recentProjects[index];
    if (!IsFileReadable(path)) {
        state.recentProjects.erase(state.recentProjects.begin() + static_cast<std::ptrdiff_t>(index));
        state.recentMenuDirty = true;
        PostStatus("File not found \xe2\x80\x94 removed from recent", 3.0f);
        return false;
    }
    state.PendingOpenPath = path;
    CloseLauncher(state);
    return true;
}

}  // namespace korvel
