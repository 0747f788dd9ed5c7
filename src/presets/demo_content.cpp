#include "presets/demo_content.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "presets/user_folders.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

// Anything at the path counts, a dangling link too; a path that cannot be
// checked counts as taken, so it is never written over.
bool Occupied(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

bool IsFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// The entries directly inside `folder`, gathered before any is moved: renaming
// entries out of a folder while iterating it may skip or repeat some.
std::vector<fs::path> EntriesOf(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) entries.push_back(it->path());
    return entries;
}

void RemoveIfEmpty(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_empty(folder, ec) && !ec) fs::remove(folder, ec);
}

void MakeFolders(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
}

}  // namespace

void MoveMissingEntries(const std::string& source, const std::string& destination) {
    if (source.empty() || !Occupied(source)) return;
    MakeFolders(destination);
    const fs::path target(destination);
    for (const fs::path& entry : EntriesOf(source)) {
        const fs::path to = target / entry.filename();
        if (Occupied(to)) continue;
        std::error_code ec;
        fs::rename(entry, to, ec);
    }
    RemoveIfEmpty(source);
}

void CopyMissingEntries(const std::string& source, const std::string& destination) {
    if (!IsFolder(source)) return;
    MakeFolders(destination);
    const fs::path target(destination);
    for (const fs::path& entry : EntriesOf(source)) {
        const fs::path to = target / entry.filename();
        if (Occupied(to)) continue;
        std::error_code ec;
        if (IsFolder(entry)) {
            fs::copy(entry, to, fs::copy_options::recursive, ec);
        } else {
            fs::copy_file(entry, to, fs::copy_options::none, ec);
        }
    }
}

void MigrateLegacyPresetFolders() {
    const char* home = std::getenv("HOME");
    const std::string documents = DocumentsFolder();
    if (home == nullptr || documents.empty()) return;
    const std::string base(home);
    const std::string recipes = documents + "/Recipes";
    MoveMissingEntries(base + "/Library/Preferences/KorvelPresets", recipes);
    MoveMissingEntries(base + "/Library/Preferences/KorvelGroupPresets", documents + "/Chains");

    const fs::path previews(base + "/Library/Application Support/Korvel/RecipePreviews");
    if (!Occupied(previews)) return;
    MakeFolders(recipes);
    for (const fs::path& entry : EntriesOf(previews)) {
        if (entry.extension() != ".wav") continue;
        // Previews now sit beside their recipes, told apart by the suffix.
        const fs::path to = fs::path(recipes) / (entry.stem().string() + "_preview.wav");
        if (Occupied(to)) continue;
        std::error_code ec;
        fs::rename(entry, to, ec);
    }
    RemoveIfEmpty(previews);
}

void InstallDemoContent(bool force, const PreferenceHomes& homes) {
    AppState& app = *homes.app;
    if (app.executableFolder.empty()) return;
    const std::string demo = app.executableFolder + "/DemoContent";
    if (!IsFolder(demo)) return;
    const std::string documents = DocumentsFolder();
    if (documents.empty()) return;
    const std::string stamp = documents + "/" + kDemoStampName;
    if (!force && Occupied(stamp)) return;

    for (const char* name : {"Recipes", "Chains", "Projects", "Libraries"}) {
        CopyMissingEntries(demo + "/" + name, documents + "/" + name);
    }

    const fs::path libraries(documents + "/Libraries");
    if (IsFolder(libraries)) {
        for (const fs::path& entry : EntriesOf(libraries)) {
            if (!IsFolder(entry)) continue;
            const std::string path = entry.string();
            bool known = false;
            for (const Palette& palette : homes.library->palettes) known = known || palette.folder == path;
            for (const PendingLibraryFolder& pending : *homes.pendingFolders) known = known || pending.path == path;
            if (!known) homes.pendingFolders->push_back({path, true, -1});
        }
    }

    // The designer's own recent list is never mixed with the demo projects.
    const fs::path projects(documents + "/Projects");
    if (app.recentProjects.empty() && IsFolder(projects)) {
        for (const fs::path& entry : EntriesOf(projects)) {
            if (!IsFolder(entry)) continue;
            const fs::path file = entry / (entry.filename().string() + ".kvproj");
            std::error_code ec;
            if (fs::exists(file, ec)) app.AddRecentProject(file.string());
        }
    }

    MakeFolders(documents);
    if (std::FILE* out = std::fopen(stamp.c_str(), "wb")) {
        std::fputs(kDemoStampText, out);
        std::fclose(out);
    }
    SavePrefs(homes);
}

}  // namespace korvel
