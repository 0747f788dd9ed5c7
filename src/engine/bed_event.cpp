#include "engine/bed_event.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/pinned_sources.h"
#include "engine/published_layers.h"
#include "engine/silence_protection.h"
#include "engine/track_allocation.h"
#include "project/project.h"

namespace korvel {

namespace {

bool MatchesFile(const LayerResult& layer, const Event& event, std::size_t j) {
    const std::string& id = event.pinnedFileIds[j];
    return (!layer.fileId.empty() && layer.fileId == id) || layer.filepath == event.pinnedFiles[j];
}

// The first layer of the event matching file j: by id first, then by path.
std::ptrdiff_t FindLayer(const Project& project, std::int32_t eventIndex, const Event& event, std::size_t j) {
    const std::string& id = event.pinnedFileIds[j];
    auto ofEvent = [&](const LayerResult& layer) { return layer.eventIdx == eventIndex; };
    if (!id.empty()) {
        for (std::size_t i = 0; i < project.results.size(); ++i) {
            const LayerResult& layer = project.results[i];
            if (ofEvent(layer) && !layer.fileId.empty() && layer.fileId == id) return static_cast<std::ptrdiff_t>(i);
        }
    }
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        const LayerResult& layer = project.results[i];
        if (ofEvent(layer) && layer.filepath == event.pinnedFiles[j]) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

}  // namespace

bool SyncBedEventLayers(Project& project, std::int32_t eventIndex) {
    KORVEL_CHECK_LAYER_WRITER();
    if (eventIndex < 0 || static_cast<std::size_t>(eventIndex) >= project.events.size()) return false;
    Event& event = project.events[static_cast<std::size_t>(eventIndex)];
    if (!IsKind(event.shape, EventKind::Bed)) return false;

    const std::size_t files = event.pinnedFiles.size();
    event.pinnedFileIds.resize(files);
    event.bedLayerLoop.resize(files, 0);
    event.bedLayerWeight.resize(files, -1.0f);
    // Written only on a change: the events tab reads these while a build
    // runs (under the storage lock the build holds here).
    if (event.usePinnedFile != (files > 0)) event.usePinnedFile = files > 0;
    for (std::size_t j = 0; j < files; ++j) {
        std::string relinked = RelinkPinnedPath(event.pinnedFileIds[j], event.pinnedFiles[j]);
        if (relinked != event.pinnedFiles[j]) event.pinnedFiles[j] = std::move(relinked);
    }

    const float frame = project.fps > 0.0f ? 1.0f / project.fps : 0.04f;
    const float crossfade = event.sceneLink >= 0 ? static_cast<float>(std::max(0, event.sceneCrossfade)) * frame : frame;
    const float start = event.time - event.syncOffset;
    const float length = std::max(0.05f, event.duration + crossfade);
    // The bed reaches a crossfade past its event, so silence protection cuts
    // it where a gap follows; a loop of that cut length is the bed's length
    // all the same, or every build would render it again.
    const auto fitsLength = [&](float duration) {
        if (std::fabs(duration - length) <= 0.001f) return true;
        const float cut = SilenceProtectedLength(project, eventIndex, start, length);
        return cut < length && std::fabs(duration - cut) <= 0.001f;
    };
    bool changed = false;

    // Layers whose file left the list go.
    for (std::size_t i = project.results.size(); i-- > 0;) {
        const LayerResult& layer = project.results[i];
        if (layer.eventIdx != eventIndex) continue;
        bool listed = false;
        for (std::size_t j = 0; j < files && !listed; ++j) listed = MatchesFile(layer, event, j);
        if (!listed) {
            project.results.erase(project.results.begin() + static_cast<std::ptrdiff_t>(i));
            changed = true;
        }
    }

    std::vector<std::ptrdiff_t> listOrder;  // each file's layer, in file order
    for (std::size_t j = 0; j < files; ++j) {
        std::ptrdiff_t index = FindLayer(project, eventIndex, event, j);
        if (index < 0) {
            LayerResult layer;
            layer.eventIdx = eventIndex;
            layer.track = static_cast<std::int32_t>(j);
            layer.procMode = kProcModeLoopFill;
            layer.group = EffectiveGroup(event);
            layer.filepath = event.pinnedFiles[j];
            layer.fileId = event.pinnedFileIds[j];
            layer.name = std::string(FileNamePart(layer.filepath));
            PinnedFileFacts facts;
            layer.stereo = ProbePinnedFile(layer.filepath, facts) && facts.channels >= 2;
            project.results.push_back(std::move(layer));
            index = static_cast<std::ptrdiff_t>(project.results.size()) - 1;
            changed = true;
        }
        listOrder.push_back(index);
    }
    for (std::size_t j = 0; j < files; ++j) {
        // A file listed twice has one layer, set by its later entry only, so
        // that the two entries do not undo each other on every call.
        if (std::find(listOrder.begin() + static_cast<std::ptrdiff_t>(j) + 1, listOrder.end(), listOrder[j]) !=
            listOrder.end())
            continue;
        LayerResult& layer = project.results[static_cast<std::size_t>(listOrder[j])];
        const bool loop = event.bedLayerLoop[j] != 0;
        if (!fitsLength(layer.duration) || layer.fillLoop != loop) {
            // The stored loop no longer fits: it is rendered again.
            layer.fillChunks.clear();
            layer.duration = length;
            layer.fillLoop = loop;
            changed = true;
        }
        if (!(std::fabs(layer.startTime - start) <= 0.0001f)) {
            layer.startTime = start;
            changed = true;
        }
        layer.weight = event.bedLayerWeight[j] >= 0.0f ? event.bedLayerWeight[j] : 0.5f;
        layer.fadeIn = layer.fadeOut = crossfade;
    }

    // The event's slots in results order, refilled in file order when the
    // list was reordered. A file listed twice shares its first layer.
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < project.results.size(); ++i) {
        if (project.results[i].eventIdx == eventIndex) slots.push_back(i);
    }
    std::vector<std::size_t> wanted;
    for (std::ptrdiff_t index : listOrder) {
        if (std::find(wanted.begin(), wanted.end(), static_cast<std::size_t>(index)) == wanted.end())
            wanted.push_back(static_cast<std::size_t>(index));
    }
    if (wanted.size() == slots.size() && wanted != slots) {
        std::vector<LayerResult> ordered;
        ordered.reserve(wanted.size());
        for (std::size_t index : wanted) ordered.push_back(project.results[index]);
        for (std::size_t k = 0; k < slots.size(); ++k) project.results[slots[k]] = std::move(ordered[k]);
        changed = true;
    }

    if (changed) {
        AllocateTracks(project);
        ++project.revision;
        project.built = !project.results.empty();
    }
    return changed;
}

}  // namespace korvel
