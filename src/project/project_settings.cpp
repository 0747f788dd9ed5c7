#include "project/project_settings.h"

#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project_file_read.h"
#include "project/project_json_read.h"

namespace korvel {

namespace {

inline constexpr float kMaxMixerGain = 100.0f;
// The reverb's own range for its pre-delay, as the preferences reader keeps it.
inline constexpr float kMaxReverbPreDelay = 0.2f;

// The reverb's values feed delay lengths and feedback gains, so a file's
// values are held to the ranges the controls allow.
ReverbSettings ReadReverb(const JsonValue& value) {
    ReverbSettings reverb;
    reverb.enabled = ReadJsonBool(value.Get("enabled"), true);
    reverb.size = ReadJsonFloat(value.Get("size"), 0.5f, 0.0f, 1.0f);
    reverb.decay = ReadJsonFloat(value.Get("decay"), 0.5f, 0.0f, 1.0f);
    reverb.damping = ReadJsonFloat(value.Get("damping"), 0.3f, 0.0f, 1.0f);
    reverb.preDelay = ReadJsonFloat(value.Get("preDelay"), 0.015f, 0.0f, kMaxReverbPreDelay);
    reverb.diffusion = ReadJsonFloat(value.Get("diffusion"), 0.7f, 0.0f, 1.0f);
    reverb.modulation = ReadJsonFloat(value.Get("modulation"), 0.5f, 0.0f, 1.0f);
    const JsonValue& sends = value.Get("groupSends");
    for (std::size_t i = 0; i < reverb.groupSends.size() && i < sends.array.size(); ++i) {
        reverb.groupSends[i] = ReadJsonFloat(sends.array[i], 0.2f, 0.0f, 1.0f);
    }
    return reverb;
}

}  // namespace

namespace {

Scene ReadScene(const JsonValue& entry) {
    Scene scene;
    CopyText(scene.name, ReadJsonText(entry.Get("name")));
    scene.inTime = ReadJsonFloat(entry.Get("inTime"), 0.0f);
    scene.outTime = ReadJsonFloat(entry.Get("outTime"), 0.0f);
    CopyText(scene.keywords, ReadJsonText(entry.Get("keywords")));
    return scene;
}

bool IsKeptScene(const Scene& scene) { return scene.outTime > scene.inTime; }

}  // namespace

std::vector<Scene> ReadScenesJson(const JsonValue& scenes) {
    std::vector<Scene> result;
    for (const JsonValue& entry : scenes.array) {
        Scene scene = ReadScene(entry);
        if (IsKeptScene(scene)) result.push_back(scene);
    }
    return result;
}

std::vector<std::int32_t> KeptSceneIndices(const JsonValue& scenes) {
    std::vector<std::int32_t> indices;
    indices.reserve(scenes.array.size());
    std::int32_t kept = 0;
    for (const JsonValue& entry : scenes.array) indices.push_back(IsKeptScene(ReadScene(entry)) ? kept++ : -1);
    return indices;
}

ProjectSessionSettings ReadProjectSessionSettingsText(const std::string& text) {
    ProjectSessionSettings settings;
    // The events and layers, most of a project, hold none of these keys:
    // they are only stepped over, never built into a tree.
    JsonDeferredArray skipped[2] = {{.key = "events"}, {.key = "results"}};
    JsonDamage damage;
    const JsonValue root = ParseJsonDeferring(text, skipped, damage);

    ExportSettings& exported = settings.exportSettings;
    exported.handleDuration = ReadJsonFloat(root.Get("handleDuration"), exported.handleDuration);
    exported.handleFullSource = ReadJsonBool(root.Get("handleFullSource"), exported.handleFullSource);
    exported.fadeInDuration = ReadJsonFloat(root.Get("fadeInDuration"), exported.fadeInDuration);
    exported.fadeOutDuration = ReadJsonFloat(root.Get("fadeOutDuration"), exported.fadeOutDuration);
    exported.exportAAFMarkers = ReadJsonBool(root.Get("exportAAFMarkers"), exported.exportAAFMarkers);
    exported.exportAAFVolAuto = ReadJsonBool(root.Get("exportAAFVolAuto"), exported.exportAAFVolAuto);
    exported.exportFormatAAF = ReadJsonBool(root.Get("exportFormatAAF"), exported.exportFormatAAF);
    exported.exportFormatWAV = ReadJsonBool(root.Get("exportFormatWAV"), exported.exportFormatWAV);
    exported.exportWavMixdown = ReadJsonBool(root.Get("exportWavMixdown"), exported.exportWavMixdown);
    exported.exportWavStems = ReadJsonBool(root.Get("exportWavStems"), exported.exportWavStems);
    exported.exportWavTracks = ReadJsonBool(root.Get("exportWavTracks"), exported.exportWavTracks);
    exported.exportWavClips = ReadJsonBool(root.Get("exportWavClips"), exported.exportWavClips);
    exported.exportReverbStem = ReadJsonBool(root.Get("exportReverbStem"), exported.exportReverbStem);
    exported.exportAAFSourceChannels =
        ReadJsonBool(root.Get("exportAAFSourceChannels"), exported.exportAAFSourceChannels);

    settings.masterGain = ReadJsonFloat(root.Get("masterGain"), 1.0f, 0.0f, kMaxMixerGain);
    settings.refGain = ReadJsonFloat(root.Get("refGain"), 1.0f, 0.0f, kMaxMixerGain);
    settings.groupGain0 = ReadJsonFloat(root.Get("groupGain0"), 1.0f, 0.0f, kMaxMixerGain);
    settings.groupGain1 = ReadJsonFloat(root.Get("groupGain1"), 1.0f, 0.0f, kMaxMixerGain);
    settings.groupGain2 = ReadJsonFloat(root.Get("groupGain2"), 1.0f, 0.0f, kMaxMixerGain);
    // Taken as they are: consumers treat a reversed pair as no work area.
    settings.workAreaIn = ReadJsonFloat(root.Get("workAreaIn"), settings.workAreaIn);
    settings.workAreaOut = ReadJsonFloat(root.Get("workAreaOut"), settings.workAreaOut);

    settings.scenes = ReadScenesJson(root.Get("scenes"));
    const JsonValue& reverb = root.Get("reverb");
    if (reverb.type == JsonType::Object) settings.reverb = ReadReverb(reverb);
    return settings;
}

void ApplyProjectSessionSettings(const ProjectSessionSettings& settings, AppState& state, Project& project,
                                 PlaybackEngine& engine) {
    state.exportSettings = settings.exportSettings;
    state.workAreaIn = settings.workAreaIn;
    state.workAreaOut = settings.workAreaOut;
    project.scenes = settings.scenes;
    // As a whole, so opening a project always brings the macro back to its default.
    engine.reverb = settings.reverb;
    PublishReverbSettings(engine);
    engine.masterGain = settings.masterGain;
    engine.refGain = settings.refGain;
    engine.groupGain = {settings.groupGain0, settings.groupGain1, settings.groupGain2};
    PublishMixerSettings(engine);
}

ProjectSessionSettings ReadProjectSessionSettings(const std::string& path) {
    std::string text;
    if (path.empty() || !ReadWholeTextFile(path, text)) return ProjectSessionSettings();
    return ReadProjectSessionSettingsText(text);
}

}  // namespace korvel
