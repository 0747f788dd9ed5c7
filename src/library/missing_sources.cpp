#include "library/missing_sources.h"

#include <algorithm>
#include <map>
#include <set>

#include "library/library.h"
#include "library/relink.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {

namespace {

constexpr double kScanInterval = 2.0;  // seconds of UI time between unforced scans

// UI thread only, as the list it paces.
double NextMissingScanTime = 0.0;

struct Gathered {
    std::map<FileId, std::set<int32_t>> uses;
    std::map<FileId, std::string> lastPath;  // a later reference replaces an earlier one

    void Add(const FileId& id, int32_t event, const std::string& path) {
        if (id.empty()) return;
        uses[id].insert(event);
        if (!path.empty()) lastPath[id] = path;
    }
};

Gathered GatherIdentities(const Project& project) {
    Gathered gathered;
    for (const LayerResult& layer : project.results) {
        gathered.Add(layer.fileId, layer.eventIdx, layer.filepath);
        if (layer.procMode == kProcModeAlloy) {
            for (const LayerSourceRef* source : {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv}) {
                gathered.Add(source->fileId, layer.eventIdx, source->filepath);
            }
        }
    }
    for (std::size_t e = 0; e < project.events.size(); ++e) {
        const Event& event = project.events[e];
        const int32_t index = static_cast<int32_t>(e);
        if (event.usePinnedFile && event.pinnedFile[0] != '\0' && !event.pinnedFileId.empty()) {
            gathered.Add(event.pinnedFileId, index, std::string(TextOf(event.pinnedFile)));
        }
        for (std::size_t i = 0; i < event.pinnedFiles.size(); ++i) {
            if (i < event.pinnedFileIds.size()) gathered.Add(event.pinnedFileIds[i], index, event.pinnedFiles[i]);
        }
    }
    return gathered;
}

}  // namespace

std::vector<MissingSource> FindMissingSources(const Project& project, const Library& library) {
    const Gathered gathered = GatherIdentities(project);

    std::vector<MissingSource> rows;
    for (const auto& [id, events] : gathered.uses) {
        auto last = gathered.lastPath.find(id);
        const std::string path = last != gathered.lastPath.end() ? last->second : std::string();
        if (!ResolveFileId(id, path).empty()) continue;
        MissingSource row;
        row.fileId = id;
        row.lastKnownPath = path;
        row.name = FileNameComponent(path);
        if (row.name.empty()) row.name = "(unknown file)";
        row.eventCount = static_cast<int32_t>(events.size());
        rows.push_back(std::move(row));
    }
    if (rows.empty()) return rows;

    std::map<FileId, int32_t> paletteCounts;
    for (const Palette& palette : library.palettes) {
        std::set<FileId> held;
        for (const LibraryFile& file : palette.files) {
            if (!file.fileId.empty() && gathered.uses.contains(file.fileId)) held.insert(file.fileId);
        }
        for (const FileId& id : held) ++paletteCounts[id];
    }
    for (MissingSource& row : rows) {
        auto count = paletteCounts.find(row.fileId);
        if (count != paletteCounts.end()) row.paletteCount = count->second;
    }
    std::sort(rows.begin(), rows.end(),
              [](const MissingSource& a, const MissingSource& b) { return a.name < b.name; });
    return rows;
}

void ScanMissingSources(bool force, double now) {
    if (!force && now < NextMissingScanTime) return;
    NextMissingScanTime = now + kScanInterval;
    GlobalAppState.MissingSources = FindMissingSources(CurrentProject, SoundLibrary);
}

}  // namespace korvel
