#pragma once
// The generated large project the project benchmarks share: 5,000 events and
// 20,000 layers whose 300 source files lie in the project's own "Audio"
// folder, so a save copies nothing and only checks each file.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "library/file_id.h"
#include "project/fixed_text.h"
#include "project/project.h"

namespace korvel::bench {

inline constexpr int kEvents = 5000;
inline constexpr int kLayers = 20000;
inline constexpr int kSources = 300;

// Writes the sources into `folder`/Audio (the folder must exist) and fills
// `project`; the same project every time.
inline void FillLargeProject(Project& project, const std::filesystem::path& folder) {
    std::vector<std::string> sources;
    std::vector<FileId> ids;
    for (int s = 0; s < kSources; ++s) {
        const std::string source = (folder / "Audio" / ("source" + std::to_string(s) + ".wav")).string();
        if (std::FILE* file = std::fopen(source.c_str(), "wb")) {
            std::string bytes(4096 + s, static_cast<char>(s));
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
        sources.push_back(source);
        ids.push_back(ComputeFileId(source).id);
    }

    unsigned noise = 2026;
    auto unit = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<float>(noise >> 8) / static_cast<float>(1u << 24);
    };
    project.totalDuration = 3600.0f;
    project.events.resize(kEvents);
    for (int i = 0; i < kEvents; ++i) {
        Event& e = project.events[static_cast<std::size_t>(i)];
        e.shape = i % 7;
        e.time = static_cast<float>(i) * 0.7131f;
        e.duration = 0.25f + unit() * 8.0f;
        e.spread = unit();
        e.weightCenter = unit();
        e.gain = unit();
        e.locked = i % 3 == 0;
        CopyText(e.keywords, "door slam wood -metal");
        CopyText(e.folder, "Group " + std::to_string(i / 100));
        for (int p = 0; p < kCurvePoints; ++p) {
            e.weight[static_cast<std::size_t>(p)] = unit();
            e.intensity[static_cast<std::size_t>(p)] = unit();
        }
        if (e.shape == KindValue(EventKind::Bed)) {
            e.pinnedFiles = {sources[static_cast<std::size_t>(i % kSources)]};
            e.pinnedFileIds = {ids[static_cast<std::size_t>(i % kSources)]};
            e.usePinnedFile = true;
        }
    }
    project.results.resize(kLayers);
    for (int i = 0; i < kLayers; ++i) {
        LayerResult& layer = project.results[static_cast<std::size_t>(i)];
        const std::size_t source = static_cast<std::size_t>((i * 7) % kSources);
        layer.name = "source" + std::to_string(source);
        layer.filepath = sources[source];
        layer.fileId = ids[source];
        layer.eventIdx = i / (kLayers / kEvents);
        layer.startTime = static_cast<float>(i) * 0.17f;
        layer.duration = 0.5f + unit();
        layer.weight = unit();
        layer.track = i % 24;
        layer.group = i % 3;
        layer.procMode = i % 4;
        layer.pitchShift = unit() * 2.0f - 1.0f;
        if (i % 2 == 0) {
            layer.hasIntGain = true;
            for (float& point : layer.intGain) point = unit();
        }
        if (layer.procMode == 1) layer.fillChunks = {{0, 48000, 480}, {24000, 48000, 480}};
        if (layer.procMode == 3) {
            layer.alloyMid = {sources[(source + 1) % kSources], ids[(source + 1) % kSources], 0.0f, 1.0f, "mid"};
            layer.alloyHigh = {sources[(source + 2) % kSources], ids[(source + 2) % kSources], 0.0f, 1.0f, "high"};
        }
    }
}

}  // namespace korvel::bench
