#pragma once
// Reading a ".kvproj" file into the open project and a load result that
// carries what belongs to the application state, the picture analysis and
// the library. File identities go into the registry as a side effect.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "picture/trace_analysis.h"
#include "project/json.h"
#include "project/project.h"
#include "project/project_file_format.h"

namespace korvel {

struct ProjectLoadResult {
    bool ok = false;
    std::string error;    // why the file was not loaded
    std::string warning;  // the newer-version warning
    // Why the document is damaged ("it ends early", "it holds a zero byte",
    // "it nests too deep"); empty when it is whole. A damaged file still
    // loads what could be read, and the first save over it keeps the damaged
    // original beside it (ProjectSaveRequest::keepDamagedOriginal).
    std::string damage;
    std::string videoPath;
    float videoStartTime = 0.0f;  // seconds
    std::vector<std::string> libraryPaths;
    // Layer files that cannot be found, and the video when it cannot be read.
    std::vector<std::string> missingFiles;
    std::int32_t projectSampleRate = kDefaultProjectSampleRate;
    std::string projectDescription;
    TraceAnalysis traceAnalysis;
    float opticalDetail = 0.35f;
    std::set<std::string> linkedGroups;
};

// Fills `project` from the file at `path`. On failure `ok` is false, `error`
// holds "Could not open file: <path>", "Empty file", "Invalid JSON", "Not a
// Korvel project file" or kProjectOutOfMemory, and the project is untouched.
ProjectLoadResult ReadProjectFile(const std::string& path, Project& project);
// The same, keeping the file's text in `text` for a second pass over it
// (empty when the file could not be read).
ProjectLoadResult ReadProjectFile(const std::string& path, Project& project, std::string& text);

// The same from text already in memory; relative paths resolve against
// `projectFolder`.
ProjectLoadResult ReadProjectText(const std::string& text, const std::string& projectFolder, Project& project);

// The failure text of a file too large for the memory at hand.
inline constexpr const char* kProjectOutOfMemory = "Not enough memory to open this project";

// The status line for a file that opened damaged, e.g. "Opened a damaged
// file (it ends early); the original is kept at the next save".
std::string DamagedProjectStatus(const ProjectLoadResult& result);

// The whole file as bytes; false when it cannot be opened or read.
bool ReadWholeTextFile(const std::string& path, std::string& text);

// A stored path as the program uses it: empty and absolute paths unchanged; a
// relative one joined to `projectFolder`, in its weakly canonical form when
// the joined path exists.
std::string ResolveProjectPath(const std::string& stored, const std::string& projectFolder);

// One event object. `legacy` is set for files older than the legacy boundary;
// `userShapeCount` is the number of user shapes read from the same file.
// `sceneCount` bounds "sceneLink": links to scenes the file does not hold
// read as -1.
Event& ReadEventJson(Event& event, const JsonValue& value, const std::string& projectFolder, bool legacy,
                     std::int32_t userShapeCount, std::int32_t sceneCount);

// 256 points from an array (a non-number point reads 0.5; points past the
// array's end keep their value); every point 0.5 when it is not an array.
void ReadCurveJson(const JsonValue& value, CurvePoints& curve);

// One alloy source; untouched when `value` is not an object.
void ReadLayerSourceRef(const std::string& projectFolder, const JsonValue& value, LayerSourceRef& source);

}  // namespace korvel
