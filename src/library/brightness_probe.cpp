#include "library/brightness_probe.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "library/analysis.h"
#include "library/library.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel {

std::unordered_map<std::string, float> KnownBrightness;
std::set<std::string> PendingProbes;
std::vector<ProbeResult> ProbeResults;
std::mutex ProbeResultsMutex;
std::jthread probeThread;
std::atomic<bool> probeRunning{false};
std::atomic<bool> probeQuit{false};
double nextProbeTime = 0.0;

namespace {

constexpr double kProbeInterval = 2.0;  // seconds of UI time between queueing passes

bool IsKnown(float weight) { return weight >= 0.0f; }

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

bool JobActive() { return GlobalAppState.backgroundJob.active.load(); }

bool ApplyResults(Project& project) {
    std::vector<ProbeResult> results;
    {
        std::lock_guard guard(ProbeResultsMutex);
        results.swap(ProbeResults);
    }
    if (results.empty()) return false;
    for (const ProbeResult& result : results) {
        KnownBrightness[result.key] = result.value;
        for (Event& event : project.events) {
            if (IsKind(event.shape, EventKind::Bed)) {
                const std::size_t count = std::min(event.pinnedFiles.size(), event.bedLayerWeight.size());
                for (std::size_t i = 0; i < count; ++i) {
                    if (IsKnown(event.bedLayerWeight[i])) continue;
                    const std::string& id = i < event.pinnedFileIds.size() ? event.pinnedFileIds[i] : std::string();
                    if (result.key == id || result.key == event.pinnedFiles[i]) event.bedLayerWeight[i] = result.value;
                }
            } else if (IsKind(event.shape, EventKind::Clip) && event.clipWeight < 0.0f) {
                if (result.key == event.pinnedFileId || result.key == TextOf(event.pinnedFile)) {
                    event.clipWeight = result.value;
                }
            }
        }
    }
    return true;
}

}  // namespace

float GetFileBrightness(const std::string& path, const FileId& id, const std::vector<Palette>* palettes) {
    if (palettes == nullptr) return -1.0f;
    for (const Palette& palette : *palettes) {
        for (const LibraryFile& file : palette.files) {
            if ((!id.empty() && file.fileId == id) || file.path == path) return Clamp01(file.brightness);
        }
    }
    return -1.0f;
}

void QueueBrightnessProbe(bool& changed, std::vector<ProbeItem>& work, const FileId& id,
                          const std::string& path, float& weight) {
    if (IsKnown(weight) || path.empty()) return;
    const float v = GetFileBrightness(path, id, &SoundLibrary.palettes);
    if (v >= 0.0f) {
        weight = v;
        changed = true;
        return;
    }
    const std::string& key = id.empty() ? path : id;
    if (auto known = KnownBrightness.find(key); known != KnownBrightness.end()) {
        weight = known->second;
        changed = true;
        return;
    }
    std::error_code ec;
    if (PendingProbes.contains(key) || !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return;
    PendingProbes.insert(key);
    work.push_back({key, path});
}

void BrightnessProbeThread(std::vector<ProbeItem> items) {
    FftState fft;
    for (const ProbeItem& item : items) {
        if (probeQuit.load()) break;
        LibraryFile analysed;
        const float value = AnalyzeAudioFile(item.path, analysed, &fft) ? Clamp01(analysed.brightness) : 0.5f;
        std::lock_guard guard(ProbeResultsMutex);
        ProbeResults.push_back({item.key, value});
    }
    probeRunning.store(false);
}

bool UpdateSourceWeights(double now) {
    Project& project = CurrentProject;
    // Jobs read the events without a lock, so weights change only between jobs.
    if (JobActive()) return false;
    bool changed = false;
    if (ApplyResults(project)) {
        changed = true;
        GlobalAppState.unsavedChanges = true;
    }

    if (now < nextProbeTime || probeRunning.load()) return changed;
    nextProbeTime = now + kProbeInterval;

    bool filled = false;
    std::vector<ProbeItem> work;
    for (Event& event : project.events) {
        if (IsKind(event.shape, EventKind::Bed)) {
            event.bedLayerWeight.resize(event.pinnedFiles.size(), -1.0f);
            for (std::size_t i = 0; i < event.pinnedFiles.size(); ++i) {
                const std::string& id = i < event.pinnedFileIds.size() ? event.pinnedFileIds[i] : std::string();
                QueueBrightnessProbe(filled, work, id, event.pinnedFiles[i], event.bedLayerWeight[i]);
            }
        } else if (IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0') {
            QueueBrightnessProbe(filled, work, event.pinnedFileId, std::string(TextOf(event.pinnedFile)),
                                 event.clipWeight);
        }
    }
    if (filled) {
        changed = true;
        GlobalAppState.unsavedChanges = true;
    }
    if (work.empty()) return changed;

    probeRunning.store(true);
    if (probeThread.joinable()) probeThread.join();
    probeThread = std::jthread(BrightnessProbeThread, std::move(work));
    return changed;
}

void StopBrightnessProbe() {
    probeQuit.store(true);
    if (probeThread.joinable()) probeThread.join();
}

}  // namespace korvel
