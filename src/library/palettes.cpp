// Loading and managing palettes.
//
// [SECTION] Names and cache paths
// [SECTION] Loading
// [SECTION] Making, relinking, removing and renaming
// [SECTION] Palette lists
#include "library/palettes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "library/analysis.h"
#include "library/channel_layout.h"
#include "library/file_id.h"
#include "library/keyword_index.h"
#include "library/library.h"
#include "library/library_cache_file.h"
#include "library/palette_summary.h"
#include "presets/user_folders.h"
#include "project/project.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

bool PaletteNameTaken(const Library& library, const std::string& name) {
    for (const Palette& p : library.palettes)
        if (p.name == name) return true;
    return false;
}

bool PathExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec) && !ec;
}

void WriteCacheFile(const Library& library, const Palette& palette) {
    if (library.cacheFolder.empty()) return;
    WritePaletteFile(palette, PaletteCachePath(library, palette.name));
}

void MarkIndexesDirty(Library& library) {
    library.keywordIndex.dirty = true;
    library.fileIndexDirty = true;
}

std::string StripTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string FolderLastComponent(const std::string& folder) {
    fs::path path(folder);
    // "a/b/" has an empty file name; "/" alone keeps its root and names nothing.
    while (path.has_relative_path() && path.filename().empty()) path = path.parent_path();
    return path.filename().string();
}

std::string PaletteNameForFolder(const std::string& folder) {
    return fs::path(FolderLastComponent(folder)).stem().string();
}

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// ---------------------------------------------------------------------------
// [SECTION] Names and cache paths
// ---------------------------------------------------------------------------

bool IsValidPaletteName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string PaletteCachePath(const Library& library, const std::string& name) {
    return library.cacheFolder + "/" + name + ".kvlib";
}

std::string MakeUniquePaletteName(const Library& library, const std::string& name) {
    if (!PaletteNameTaken(library, name)) return name;
    for (int n = 2; n <= 99; ++n) {
        std::string candidate = name + " " + std::to_string(n);
        if (!PaletteNameTaken(library, candidate)) return candidate;
    }
    return name + " " + std::to_string(NowSeconds() % 10000);
}

// ---------------------------------------------------------------------------
// [SECTION] Loading
// ---------------------------------------------------------------------------

void InitLibraryCache(Library& library) {
    library.cacheFolder = AppDataFolder();
    if (!library.cacheFolder.empty()) {
        std::error_code ec;
        fs::create_directories(library.cacheFolder, ec);
    }
    LoadPaletteFiles(library);
}

void LoadPaletteFiles(Library& library) {
    library.palettes.clear();
    if (library.cacheFolder.empty()) return;

    std::error_code ec;
    fs::directory_iterator it(library.cacheFolder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& entry = it->path();
        // A leftover "x.kvlib.tmp" has the extension ".tmp"; a file named just
        // ".kvlib" has none.
        if (entry.extension() != ".kvlib") continue;
        Palette palette;
        if (!ReadPaletteFile(entry.string(), palette)) continue;
        palette.name = entry.stem().string();
        SummarizePalette(palette);
        library.palettes.push_back(std::move(palette));
    }

    MarkIndexesDirty(library);
    RebuildKeywordIndex(library.keywordIndex, library);
    RebuildChannelInterpretationMap(library);
}

// ---------------------------------------------------------------------------
// [SECTION] Making, relinking, removing and renaming
// ---------------------------------------------------------------------------

int32_t CreatePaletteFromFiles(Library& library, const std::vector<std::string>& paths,
                               const std::string& folder, const std::string& name) {
    std::vector<std::string> chosen;
    std::unordered_set<std::string> seen;
    for (const std::string& path : paths)
        if (!path.empty() && seen.insert(path).second) chosen.push_back(path);
    if (chosen.empty()) return 0;

    std::unordered_map<std::string, const LibraryFile*> known;
    for (const Palette& p : library.palettes)
        for (const LibraryFile& f : p.files) known.emplace(f.path, &f);

    std::string base = name;
    if (base.empty()) {
        if (!folder.empty()) {
            const std::string stem = PaletteNameForFolder(folder);
            base = stem.empty() ? "Palette" : stem + " Palette";
        } else {
            base = "Palette";
        }
    }
    if (!IsValidPaletteName(base)) return 0;

    Palette palette;
    palette.name = MakeUniquePaletteName(library, base);
    palette.savedPalette = true;
    palette.scanned = NowSeconds();

    for (const std::string& path : chosen) {
        if (!PathExists(path)) continue;
        if (auto found = known.find(path); found != known.end()) {
            palette.files.push_back(*found->second);
            continue;
        }
        LibraryFile record;
        if (AnalyzeAudioFile(path, record, nullptr)) palette.files.push_back(std::move(record));
    }
    if (palette.files.empty()) return 0;

    GroupMultiMonoFiles(palette.files);
    SummarizePalette(palette);
    const int32_t count = static_cast<int32_t>(palette.files.size());
    library.palettes.push_back(std::move(palette));

    // The keyword index waits for the next upkeep, the file index for its
    // next use.
    MarkIndexesDirty(library);
    RebuildChannelInterpretationMap(library);
    WriteCacheFile(library, library.palettes.back());
    return count;
}

int32_t RelinkPaletteFolder(Library& library, int32_t paletteIndex, const std::string& newFolder,
                            bool busy) {
    if (busy || paletteIndex < 0 || paletteIndex >= static_cast<int32_t>(library.palettes.size()))
        return 0;
    Palette& palette = library.palettes[paletteIndex];
    const std::string oldFolder = StripTrailingSlashes(palette.folder);
    const std::string target = StripTrailingSlashes(newFolder);
    palette.folder = target;

    int32_t kept = 0;
    std::vector<LibraryFile> files;
    files.reserve(palette.files.size());
    for (LibraryFile& file : palette.files) {
        if (!file.path.starts_with(oldFolder)) continue;
        std::string moved = target + file.path.substr(oldFolder.size());
        if (!PathExists(moved)) continue;
        file.path = std::move(moved);
        if (!file.fileId.empty())
            RegisterFileId({file.fileId, file.path, file.fingerprint, file.size});
        files.push_back(std::move(file));
        ++kept;
    }
    palette.files = std::move(files);
    palette.folderMissing = false;
    palette.scanned = NowSeconds();

    GroupPaletteMultiMonoFiles(palette);
    SummarizePalette(palette);

    MarkIndexesDirty(library);
    RebuildChannelInterpretationMap(library);
    WriteCacheFile(library, palette);
    return kept;
}

void RemovePalette(Library& library, int32_t paletteIndex, bool busy) {
    if (busy || paletteIndex < 0 || paletteIndex >= static_cast<int32_t>(library.palettes.size()))
        return;
    if (!library.cacheFolder.empty()) {
        std::error_code ec;
        fs::remove(PaletteCachePath(library, library.palettes[paletteIndex].name), ec);
    }
    MarkIndexesDirty(library);
    library.palettes.erase(library.palettes.begin() + paletteIndex);
    RebuildChannelInterpretationMap(library);
}

PaletteNameCheck CheckPaletteRename(const Library& library, int32_t paletteIndex, std::string_view newName) {
    if (!IsValidPaletteName(newName)) return PaletteNameCheck::Invalid;
    // Filters and recipes list palettes comma-separated: such a palette
    // could never be chosen.
    if (newName.find(',') != std::string_view::npos) return PaletteNameCheck::HasComma;
    for (int32_t i = 0; i < static_cast<int32_t>(library.palettes.size()); ++i)
        if (i != paletteIndex && library.palettes[i].name == newName) return PaletteNameCheck::Taken;
    return PaletteNameCheck::Ok;
}

bool RenamePalette(Library& library, int32_t paletteIndex, const std::string& newName) {
    if (paletteIndex < 0 || paletteIndex >= static_cast<int32_t>(library.palettes.size()))
        return false;
    if (CheckPaletteRename(library, paletteIndex, newName) != PaletteNameCheck::Ok) return false;
    Palette& palette = library.palettes[paletteIndex];
    if (palette.name == newName) return true;
    const std::string oldName = palette.name;
    palette.previousNames.push_back(oldName);
    palette.name = newName;
    if (!library.cacheFolder.empty()) {
        // The new file first: until it is written, the old one is the only
        // copy of the palette's analysis.
        if (!WritePaletteFile(palette, PaletteCachePath(library, newName))) {
            palette.name = oldName;
            palette.previousNames.pop_back();
            return false;
        }
        std::error_code ec;
        fs::remove(PaletteCachePath(library, oldName), ec);
    }
    return true;
}

bool SetFileChannelInterpretation(Library& library, const std::string& path, int32_t value) {
    bool anyChanged = false;
    for (Palette& palette : library.palettes) {
        bool changed = false;
        for (LibraryFile& file : palette.files) {
            if (file.path == path && file.interpretation != value) {
                file.interpretation = value;
                changed = true;
            }
        }
        if (changed) WriteCacheFile(library, palette);
        anyChanged = anyChanged || changed;
    }
    if (!anyChanged) return false;
    RebuildChannelInterpretationMap(library);
    library.fileIndexDirty = true;
    return true;
}

// ---------------------------------------------------------------------------
// [SECTION] Palette lists
// ---------------------------------------------------------------------------

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The elements of a list, trimmed. Leading blanks before a trailing end add
// no element; an empty element between commas stays.
std::vector<std::string> SplitPaletteList(std::string_view list) {
    std::vector<std::string> elements;
    size_t i = 0;
    while (true) {
        while (i < list.size() && IsBlank(list[i])) ++i;
        if (i >= list.size()) break;
        size_t end = list.find(',', i);
        const bool last = end == std::string_view::npos;
        if (last) end = list.size();
        size_t a = i, b = end;
        while (b > a && IsBlank(list[b - 1])) --b;
        while (a < b && IsBlank(list[a])) ++a;
        elements.emplace_back(list.substr(a, b - a));
        if (last) break;
        i = end + 1;
    }
    return elements;
}

std::string JoinPaletteList(const std::vector<std::string>& elements) {
    std::string text;
    for (const std::string& e : elements) {
        if (!text.empty()) text += ',';
        text += e;
    }
    return text;
}

void WriteList(char* list, int32_t capacity, const std::string& text) {
    if (capacity <= 0) return;
    const size_t count = std::min<size_t>(text.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(list, text.data(), count);
    list[count] = '\0';
}

}  // namespace

void RenamePaletteInList(char* list, int32_t capacity, const std::string& oldName,
                         const std::string& newName) {
    if (!list || capacity <= 0 || list[0] == '\0') return;
    std::vector<std::string> elements = SplitPaletteList(std::string_view(list, strnlen(list, capacity)));
    for (std::string& e : elements)
        if (e == oldName) e = newName;
    WriteList(list, capacity, JoinPaletteList(elements));
}

void ApplyPaletteRenames(const Library& library, Project& project) {
    for (Event& event : project.events) {
        char* list = event.libFilter;
        const int32_t capacity = static_cast<int32_t>(sizeof event.libFilter);
        if (list[0] == '\0') continue;
        std::vector<std::string> elements = SplitPaletteList(std::string_view(list, strnlen(list, capacity)));
        bool replaced = false;
        for (std::string& e : elements) {
            if (PaletteNameTaken(library, e)) continue;
            for (const Palette& p : library.palettes) {
                if (std::find(p.previousNames.begin(), p.previousNames.end(), e) !=
                    p.previousNames.end()) {
                    e = p.name;
                    replaced = true;
                    break;
                }
            }
        }
        if (replaced) WriteList(list, capacity, JoinPaletteList(elements));
    }
}

}  // namespace korvel
