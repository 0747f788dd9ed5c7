#include "project/project_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "playback/playback_engine.h"
#include "project/app_state.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

TEST(ProjectSessionSettings, MissingKeysAndUnreadableFilesGiveDefaults) {
    for (const ProjectSessionSettings& s :
         {ReadProjectSessionSettingsText(R"({"format": "Korvel"})"), ReadProjectSessionSettingsText("[1, 2]"),
          ReadProjectSessionSettings("/nowhere/at/all.kvproj"), ReadProjectSessionSettings("")}) {
        EXPECT_FLOAT_EQ(s.exportSettings.handleDuration, 1.0f);
        EXPECT_FALSE(s.exportSettings.handleFullSource);
        EXPECT_FLOAT_EQ(s.exportSettings.fadeInDuration, 0.01f);
        EXPECT_FLOAT_EQ(s.exportSettings.fadeOutDuration, 0.05f);
        EXPECT_FALSE(s.exportSettings.exportWavStems);
        EXPECT_TRUE(s.exportSettings.exportFormatWAV);
        EXPECT_TRUE(s.exportSettings.exportAAFVolAuto);
        EXPECT_TRUE(s.exportSettings.exportAAFSourceChannels);
        EXPECT_TRUE(s.reverb.enabled);
        EXPECT_FLOAT_EQ(s.reverb.size, 0.5f);
        EXPECT_FLOAT_EQ(s.reverb.decay, 0.5f);
        EXPECT_FLOAT_EQ(s.reverb.damping, 0.3f);
        EXPECT_FLOAT_EQ(s.reverb.preDelay, 0.015f);
        EXPECT_FLOAT_EQ(s.reverb.diffusion, 0.7f);
        EXPECT_FLOAT_EQ(s.reverb.modulation, 0.5f);
        EXPECT_FLOAT_EQ(s.reverb.macro, 0.65f);
        for (float send : s.reverb.groupSends) EXPECT_FLOAT_EQ(send, 0.2f);
        EXPECT_FLOAT_EQ(s.workAreaIn, -1.0f);
        EXPECT_FLOAT_EQ(s.workAreaOut, -1.0f);
        EXPECT_TRUE(s.scenes.empty());
        EXPECT_FLOAT_EQ(s.masterGain, 1.0f);
        EXPECT_FLOAT_EQ(s.groupGain2, 1.0f);
    }
}

TEST(ProjectSessionSettings, ValuesReadWithTheirClamps) {
    using Getter = std::function<double(const ProjectSessionSettings&)>;
    struct Case {
        const char* name;
        const char* members;
        Getter get;
        double expected;
    };
    const Case cases[] = {
        {"masterGain -2", R"("masterGain": -2)", [](auto& s) { return s.masterGain; }, 0},
        {"masterGain 250", R"("masterGain": 250)", [](auto& s) { return s.masterGain; }, 100},
        {"refGain as text", R"("refGain": "3")", [](auto& s) { return s.refGain; }, 1},
        {"groupGain1 3", R"("groupGain1": 3)", [](auto& s) { return s.groupGain1; }, 3},
        {"work area reversed taken as is", R"("workAreaIn": 12, "workAreaOut": 3)",
         [](auto& s) { return s.workAreaIn - s.workAreaOut; }, 9},
        {"handleFullSource", R"("handleFullSource": true)", [](auto& s) { return s.exportSettings.handleFullSource; },
         1},
        {"bool as number ignored", R"("exportWavClips": 1)", [](auto& s) { return s.exportSettings.exportWavClips; },
         0},
        {"one send", R"("reverb": {"groupSends": [0.5]})", [](auto& s) { return s.reverb.groupSends[0]; }, 0.5f},
        {"one send keeps the rest", R"("reverb": {"groupSends": [0.5]})",
         [](auto& s) { return s.reverb.groupSends[2]; }, 0.2f},
        {"send not a number", R"("reverb": {"groupSends": [0.1, "x", 0.3, 0.9]})",
         [](auto& s) { return s.reverb.groupSends[1]; }, 0.2f},
        {"third send", R"("reverb": {"groupSends": [0.1, "x", 0.3, 0.9]})",
         [](auto& s) { return s.reverb.groupSends[2]; }, 0.3f},
        {"send above 1", R"("reverb": {"groupSends": [4]})", [](auto& s) { return s.reverb.groupSends[0]; }, 1},
        {"size negative", R"("reverb": {"size": -1})", [](auto& s) { return s.reverb.size; }, 0},
        {"decay NaN", R"("reverb": {"decay": -nan})", [](auto& s) { return s.reverb.decay; }, 0.5f},
        {"preDelay 3 s", R"("reverb": {"preDelay": 3})", [](auto& s) { return s.reverb.preDelay; }, 0.2f},
        {"modulation 7", R"("reverb": {"modulation": 7})", [](auto& s) { return s.reverb.modulation; }, 1},
        {"disabled", R"("reverb": {"enabled": false})", [](auto& s) { return s.reverb.enabled; }, 0},
        {"enabled as number", R"("reverb": {"enabled": 0})", [](auto& s) { return s.reverb.enabled; }, 1},
        {"reverb not an object", R"("reverb": [0.9])", [](auto& s) { return s.reverb.size; }, 0.5f},
        {"macro never stored", R"("reverb": {"macro": 0.1})", [](auto& s) { return s.reverb.macro; }, 0.65f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProjectSessionSettings settings =
            ReadProjectSessionSettingsText(std::string(R"({"format": "Korvel", )") + c.members + "}");
        EXPECT_NEAR(c.get(settings), c.expected, 1e-6);
    }
}

TEST(ProjectSessionSettings, ScenesWithoutLengthAreDropped) {
    test::TempDir dir;
    const std::string path = dir.file("p.kvproj");
    ASSERT_TRUE(test::WriteBytes(path, R"({"scenes": [
        {"name": "Keep", "inTime": 1, "outTime": 4, "keywords": "rain"},
        {"name": "Reversed", "inTime": 5, "outTime": 4},
        {"name": "Empty", "inTime": 3, "outTime": 3},
        {"name": "No end", "inTime": 2},
        {"name": "Open start", "outTime": 2}]})"));
    const ProjectSessionSettings settings = ReadProjectSessionSettings(path);
    ASSERT_EQ(settings.scenes.size(), 2u);
    EXPECT_STREQ(settings.scenes[0].name, "Keep");
    EXPECT_STREQ(settings.scenes[0].keywords, "rain");
    EXPECT_STREQ(settings.scenes[1].name, "Open start");
    EXPECT_FLOAT_EQ(settings.scenes[1].inTime, 0.0f);
}

TEST(ProjectSessionSettings, LongSceneTextIsCutToItsField) {
    const std::string longName(100, 'n');
    const std::string longWords(200, 'k');
    const ProjectSessionSettings settings = ReadProjectSessionSettingsText(
        R"({"scenes": [{"name": ")" + longName + R"(", "keywords": ")" + longWords + R"(", "outTime": 1}]})");
    ASSERT_EQ(settings.scenes.size(), 1u);
    EXPECT_EQ(std::string(settings.scenes[0].name), longName.substr(0, 63));
    EXPECT_EQ(std::string(settings.scenes[0].keywords), longWords.substr(0, 127));
}

TEST(ProjectSessionSettings, ApplyingReplacesStateSceneReverbAndGains) {
    const ProjectSessionSettings settings = ReadProjectSessionSettingsText(R"({
        "handleDuration": 2.5, "exportWavTracks": true, "exportFormatAAF": false, "workAreaIn": 3, "workAreaOut": 9,
        "scenes": [{"name": "A", "inTime": 0, "outTime": 2}], "reverb": {"size": 0.9, "groupSends": [0.4, 0.5, 0.6]},
        "masterGain": 0.5, "refGain": 0.25, "groupGain0": 2, "groupGain1": 3, "groupGain2": 4})");
    auto state = std::make_unique<AppState>();
    auto engine = std::make_unique<PlaybackEngine>();
    Project project;
    project.scenes.resize(3);
    engine->reverb.macro = 0.1f;
    ApplyProjectSessionSettings(settings, *state, project, *engine);
    EXPECT_FLOAT_EQ(state->exportSettings.handleDuration, 2.5f);
    EXPECT_TRUE(state->exportSettings.exportWavTracks);
    EXPECT_FALSE(state->exportSettings.exportFormatAAF);
    EXPECT_TRUE(state->HasWorkArea());
    ASSERT_EQ(project.scenes.size(), 1u);
    EXPECT_STREQ(project.scenes[0].name, "A");
    EXPECT_FLOAT_EQ(engine->reverb.size, 0.9f);
    EXPECT_FLOAT_EQ(engine->reverb.groupSends[1], 0.5f);
    EXPECT_FLOAT_EQ(engine->reverb.macro, 0.65f) << "the macro is not stored: opening resets it";
    EXPECT_FLOAT_EQ(engine->masterGain, 0.5f);
    EXPECT_FLOAT_EQ(engine->refGain, 0.25f);
    EXPECT_FLOAT_EQ(engine->groupGain[2], 4.0f);
}

}  // namespace
}  // namespace korvel
