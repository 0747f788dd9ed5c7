// Project files come from disk, from other machines and from older and newer
// builds: no bytes may crash either reading pass, read outside the input or
// leave a record holding an index outside what was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "project/project_file_read.h"
#include "project/project_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A folder that does not exist: relative paths resolve to nothing real.
    static const std::string folder = "/nonexistent-korvel-fuzz/Project";

    korvel::Project project;
    const korvel::ProjectLoadResult result = korvel::ReadProjectText(text, folder, project);
    if (result.ok) {
        const auto events = static_cast<std::int32_t>(project.events.size());
        const auto shapes = static_cast<std::int32_t>(project.userShapes.size());
        for (const korvel::Event& event : project.events) {
            if (event.shape < 0 || event.shape > 6 || event.userShapeIdx >= shapes) std::abort();
        }
        for (const korvel::LayerResult& layer : project.results) {
            if (layer.eventIdx < 0 || layer.eventIdx >= events || layer.group < 0 || layer.group > 2) std::abort();
            for (const korvel::FillChunk& chunk : layer.fillChunks) {
                if (chunk.s < 0 || chunk.l < 0 || chunk.x < 0 || chunk.x > chunk.l) std::abort();
                if (chunk.l > std::numeric_limits<std::int32_t>::max() - chunk.s) std::abort();
            }
        }
        if (!(project.fps >= 1.0f && project.fps <= 240.0f)) std::abort();
        if (project.bannedFileIds.size() != project.bannedFiles.size()) std::abort();
    } else if (!project.events.empty() || !project.results.empty()) {
        std::abort();  // a failed read changes nothing
    }
    const korvel::ProjectSessionSettings settings = korvel::ReadProjectSessionSettingsText(text);
    for (const korvel::Scene& scene : settings.scenes) {
        if (!(scene.outTime > scene.inTime)) std::abort();
    }
    // The two passes agree on the scenes: every link names one the settings kept.
    const auto scenes = static_cast<std::int32_t>(settings.scenes.size());
    for (const korvel::Event& event : project.events) {
        if (event.sceneLink >= scenes) std::abort();
        for (const korvel::Event& source : event.bounceSource)
            if (source.sceneLink >= scenes) std::abort();
    }
    return 0;
}
