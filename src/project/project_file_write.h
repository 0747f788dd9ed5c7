#pragma once
// Writing the open project and the state that belongs to it as a ".kvproj"
// file: collected sounds first, then the whole text in memory, then a
// temporary file moved over the target.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "dsp/reverb.h"
#include "picture/trace_analysis.h"
#include "project/collect_audio.h"
#include "project/export_settings.h"
#include "project/json.h"
#include "project/project.h"

namespace korvel {

// What a save reads besides the project. The references point at the live
// objects (application state, playback engine, picture analysis); the
// writer only reads them.
struct ProjectSaveRequest {
    const Project& project;
    const std::string& videoPath;
    float videoStartTime = 0.0f;  // seconds
    const std::vector<std::string>& libraryPaths;
    const std::string& projectDescription;
    std::int32_t projectSampleRate = 48000;
    ExportSettings exportSettings{};
    const ReverbSettings& reverb;
    float workAreaIn = -1.0f;  // seconds
    float workAreaOut = -1.0f;
    const std::vector<Scene>& scenes;
    const TraceAnalysis& traceAnalysis;
    float opticalDetail = 0.35f;
    const std::set<std::string>& linkedGroups;
    float masterGain = 1.0f;  // linear
    float refGain = 1.0f;
    float groupGain0 = 1.0f;
    float groupGain1 = 1.0f;
    float groupGain2 = 1.0f;
    // The file at the path was opened damaged (ProjectLoadResult::damage) and
    // this is the first save over it: the damaged original is kept beside it
    // first, so what the lenient read could not take is never lost.
    bool keepDamagedOriginal = false;
};

// Collects the project's sounds into the "Audio" folder beside `path`, then
// writes the file. False when it could not be written or moved into place;
// the previous file at `path` is then untouched. Prints "[Project] ..."
// lines for a failed rename and for the finished save.
bool WriteProjectFile(const std::string& path, const ProjectSaveRequest& request);

// Keeps the file at `path` under the first free name of `path` + ".damaged",
// ".damaged-2", ".damaged-3", ... (a hard link where the file system has
// them, else a copy). The name it was kept under; empty on failure.
std::string KeepDamagedOriginal(const std::string& path);

// The whole document text for a save into `projectFolder` whose sounds were
// collected as `map`. Touches nothing but the file-identity registry (read).
std::string FormatProjectText(const ProjectSaveRequest& request, const std::string& projectFolder,
                              const CollectedAudioMap& map);

// The members of one event object, the writer positioned inside it; bounce
// sources are written as nested objects.
void WriteEventJson(JsonWriter& writer, const Event& event, const CollectedAudioMap& map);

}  // namespace korvel
