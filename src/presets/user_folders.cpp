#include "presets/user_folders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace korvel {

// An XDG variable that is unset or empty means "use the default"; HOME set
// to an empty string still counts as set.
std::string UserFolder(const char* xdgVariable, const char* homeRelative) {
    if (const char* xdg = std::getenv(xdgVariable); xdg != nullptr && xdg[0] != '\0') {
        return std::string(xdg) + "/Korvel";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr) {
        return std::string(home) + homeRelative;
    }
    return {};
}

namespace {

std::string DocumentsChild(const char* name) {
    std::string documents = DocumentsFolder();
    if (documents.empty()) return {};
    return documents + "/" + name;
}

}  // namespace

std::string AppDataFolder() { return UserFolder("XDG_DATA_HOME", "/.local/share/Korvel"); }

std::string DocumentsFolder() { return UserFolder("XDG_DOCUMENTS_DIR", "/Documents/Korvel"); }

std::string RecipesFolder() { return DocumentsChild("Recipes"); }

std::string ChainsFolder() { return DocumentsChild("Chains"); }

std::string BouncesFolder() {
    std::string folder = DocumentsChild("Bounces");
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
    }
    return folder;
}

}  // namespace korvel
