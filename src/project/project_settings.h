#pragma once
// The second reading pass over a project file: the export choices, the work
// area, the scenes, the reverb and the mixer gains, which the caller applies
// to the application state, the project and the playback engine.
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/reverb.h"
#include "project/json.h"
#include "project/export_settings.h"
#include "project/project.h"

namespace korvel {

struct AppState;
struct PlaybackEngine;

// Defaults are also what a project gets for every key its file lacks.
struct ProjectSessionSettings {
    ExportSettings exportSettings;
    ReverbSettings reverb;      // the macro is never stored: it stays at its default
    float workAreaIn = -1.0f;   // seconds
    float workAreaOut = -1.0f;
    std::vector<Scene> scenes;
    float masterGain = 1.0f;  // linear
    float refGain = 1.0f;
    float groupGain0 = 1.0f;
    float groupGain1 = 1.0f;
    float groupGain2 = 1.0f;
};

// Never fails: a file that cannot be read gives the defaults, and so does
// every key it lacks. The "format" tag is not examined; the caller has read
// the file with ReadProjectFile first.
ProjectSessionSettings ReadProjectSessionSettings(const std::string& path);
ProjectSessionSettings ReadProjectSessionSettingsText(const std::string& text);

// Puts the settings where an opened project keeps them: the export choices
// and the work area into the application state, the scenes into the
// project, the reverb (its macro back at the default) and the gains into the
// engine. UI thread; the engine's mixer picks the values up at its next block.
void ApplyProjectSessionSettings(const ProjectSessionSettings& settings, AppState& state, Project& project,
                                 PlaybackEngine& engine);

// The scenes of a "scenes" array; a scene whose end is not after its start
// is dropped.
std::vector<Scene> ReadScenesJson(const JsonValue& scenes);

// For each entry of a "scenes" array, its index among the scenes that
// ReadScenesJson keeps, or -1 for a dropped one: events store links by the
// file's own positions, which a dropped scene shifts.
std::vector<std::int32_t> KeptSceneIndices(const JsonValue& scenes);

}  // namespace korvel
