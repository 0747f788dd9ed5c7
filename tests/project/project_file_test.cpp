#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "support/audio_fixture.h"
#include "library/file_id.h"
#include "project/fixed_text.h"
#include "project/json.h"
#include "project/project_file_fixture.h"
#include "project/strict_json.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using test::SavedProjectState;

// [SECTION] Helpers

std::string WriteTone(const std::string& path, double frequency) {
    EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(frequency, 0.05, 8000), 1, 8000));
    return path;
}

// Values whose float form has more than six significant digits, so that the
// first save rounds them.
float Wobbly(int i) { return 0.1234567f + 0.0131313f * static_cast<float>(i); }

void FillCurve(CurvePoints& curve, int seed) {
    for (std::size_t i = 0; i < curve.size(); ++i) curve[i] = std::fmod(Wobbly(seed + static_cast<int>(i)), 1.0f);
}

// A project that touches every part of the format.
void BuildRichProject(SavedProjectState& state, const test::TempDir& dir) {
    fs::create_directories(dir.path() / "lib" / "a");
    fs::create_directories(dir.path() / "lib" / "b");
    const std::string boom = WriteTone(dir.file("lib/a/boom.wav"), 220);
    const std::string boomB = WriteTone(dir.file("lib/b/boom.wav"), 330);
    const std::string hiss = WriteTone(dir.file("lib/a/hiss"), 440);
    const std::string bed = WriteTone(dir.file("lib/b/bed.wav"), 550);

    Project& p = state.project;
    p.totalDuration = 61.23456f;
    p.fps = 23.976f;
    p.startTC = 3600.0f;
    p.scaleType = 3;
    p.scaleRoot = 7;
    p.pitchShiftProb = 12;
    p.alloyMicroPitch = 0.0412345f;
    p.trackLayout.budgetMode = true;
    p.trackLayout.groups[1].trackCount = 6;
    CopyText(p.trackLayout.groups[2].name, "Hits \"loud\"");

    UserShape shape;
    CopyText(shape.name, "Swell");
    CopyText(shape.keywords, "rise");
    shape.defaultDuration = 2.5f;
    shape.spread = 0.3f;
    FillCurve(shape.weight, 1);
    FillCurve(shape.intensity, 2);
    p.userShapes.push_back(shape);

    Event spot;
    spot.time = Wobbly(1);
    spot.duration = 1.5f;
    spot.userShapeIdx = 0;
    spot.pitchVariation = 0.25f;
    spot.sceneLink = 0;
    spot.sceneCrossfade = 12;
    spot.sceneFill = true;
    CopyText(spot.keywords, "impact\tmetal");
    CopyText(spot.folder, "Hits");
    FillCurve(spot.weight, 3);
    FillCurve(spot.intensity, 4);
    spot.hasTraceGain = true;
    FillCurve(spot.traceGain, 5);
    p.events.push_back(spot);

    Event bedEvent;
    bedEvent.shape = KindValue(EventKind::Bed);
    bedEvent.time = 2.0f;
    bedEvent.duration = 8.0f;
    bedEvent.pinnedFiles = {bed, hiss};
    bedEvent.pinnedFileIds = {ComputeFileId(bed).id};
    bedEvent.usePinnedFile = true;
    bedEvent.bedLayerLoop = {1, 0};
    bedEvent.bedLayerWeight = {0.7f, -1.0f};
    FillCurve(bedEvent.weight, 6);
    FillCurve(bedEvent.intensity, 7);
    p.events.push_back(bedEvent);

    Event clip;
    clip.shape = KindValue(EventKind::Clip);
    clip.time = 4.0f;
    clip.duration = 1.0f;
    CopyText(clip.pinnedFile, boomB);
    clip.usePinnedFile = true;
    clip.clipWeight = 0.4f;
    clip.clipFadeIn = 0.02f;
    Event source = spot;
    source.hasTraceGain = false;
    source.sceneLink = -1;
    clip.bounceSource = {source, source};
    clip.bounceSource[1].pinnedFiles = {boom};
    clip.bounceSource[1].usePinnedFile = true;
    FillCurve(clip.weight, 8);
    FillCurve(clip.intensity, 9);
    p.events.push_back(clip);

    LayerResult plain;
    plain.name = "boom";
    plain.filepath = boom;
    plain.fileId = ComputeFileId(boom).id;
    plain.startTime = Wobbly(2);
    plain.duration = 0.5f;
    plain.weight = 0.8f;
    plain.group = 1;
    plain.pitchShift = 1.5f;
    plain.userVolume = 0.5f;
    plain.hasIntGain = true;
    FillCurve(plain.intGain, 10);
    plain.hasEq = true;
    plain.eqGains = {0.5f, 1.0f, 0.25f, 1.0f, 0.75f};
    p.results.push_back(plain);

    LayerResult fill;
    fill.name = "bed";
    fill.filepath = bed;
    fill.fileId = bedEvent.pinnedFileIds[0];
    fill.eventIdx = 1;
    fill.procMode = 1;
    fill.fillLoop = true;
    fill.fillChunks = {{0, 4000, 100}, {500, 3000, 0}};
    fill.hasFillGain = true;
    fill.fillGain.fill(1.25f);
    fill.hasDeconGain = true;
    fill.deconGain.fill(0.5f);
    p.results.push_back(fill);

    LayerResult alloy;
    alloy.name = "designed";
    alloy.filepath = boomB;
    alloy.eventIdx = 2;
    alloy.procMode = 3;
    alloy.alloyAlgo = 1;
    alloy.alloyMorph = 0.6f;
    alloy.alloyMid = {hiss, "", 0.1f, 0.2f, "hiss"};
    alloy.alloyHigh = {boom, "", 0.0f, 0.3f, "boom"};
    p.results.push_back(alloy);

    p.bannedFiles = {dir.file("lib/gone.wav")};
    p.bannedFileIds = {"00000000000000aa"};
    p.scenes.resize(1);
    CopyText(p.scenes[0].name, "Opening");
    p.scenes[0].inTime = 1.0f;
    p.scenes[0].outTime = 9.5f;

    state.libraryPaths = {dir.file("lib"), ""};
    state.description = "A test project\nwith two lines";
    state.sampleRate = 96000;
    state.linkedGroups = {"Hits"};
    state.session.workAreaIn = 1.25f;
    state.session.workAreaOut = 7.0f;
    state.session.reverb.size = 0.8f;
    state.session.reverb.groupSends = {0.1f, 0.2f, 0.3f};
    state.session.masterGain = 0.9f;
    state.session.exportSettings.exportWavStems = true;

    state.trace.valid = true;
    state.trace.fps = 10.0f;
    state.trace.duration = 0.3f;
    state.trace.numFrames = 3;
    for (int f = 0; f < 3; ++f) {
        FrameMeasures frame;
        frame.time = 0.1f * static_cast<float>(f);
        frame.luma = Wobbly(f);
        frame.composite = Wobbly(f + 5);
        state.trace.frames.push_back(frame);
    }
    TraceDetection detection;
    detection.time = 0.2f;
    detection.suggestedShape = 2;
    detection.hasIntensityCurve = true;
    FillCurve(detection.intensityCurve, 11);
    CopyText(detection.keywords, "door");
    state.trace.events.push_back(detection);
    state.opticalDetail = 0.5f;
}

std::vector<std::string> TopLevelKeys(const std::string& text) {
    std::vector<std::string> keys;
    for (const JsonMember& member : ParseJson(text).members) keys.push_back(member.key);
    return keys;
}

// [SECTION] Writing

TEST(ProjectFileWrite, SavedFileIsStrictJsonWithKeysInOrder) {
    test::TempDir dir;
    SavedProjectState state;
    BuildRichProject(state, dir);
    const std::string path = dir.file("Proj/Proj.kvproj");
    ASSERT_TRUE(state.Save(path));
    const std::string text = test::ReadBytes(path);

    StrictJsonParser parser;
    parser.cursor = text.data();
    parser.end = text.data() + text.size();
    StrictJsonValue strict;
    EXPECT_TRUE(parser.ParseValue(strict)) << "a saved file must be valid JSON for any reader";

    const std::vector<std::string> expected = {
        "format", "version", "minReaderVersion", "savedBy", "videoPath", "videoStartTime", "totalDuration", "fps",
        "projectSampleRate", "startTC", "masterGain", "refGain", "groupGain0", "groupGain1", "groupGain2",
        "projectDescription", "maxEventDuration", "scaleType", "scaleRoot", "pitchShiftProb", "freqShiftIntensity",
        "reverseProb", "normalizeLUFS", "alloyAlgorithm", "alloyTransferDepth", "alloyAttackGraft",
        "alloyMicroPitch", "alloyFilterBands", "libraryPaths", "trackLayout", "bannedFiles", "bannedFileIds",
        "fileRefs", "linkedGroups", "userShapes", "events", "results", "exportWithHandles", "handleDuration",
        "handleFullSource", "fadeInDuration", "fadeOutDuration", "snapToFrames", "exportAAFMarkers",
        "exportAAFVolAuto", "exportFillVirtual", "exportFormatAAF", "exportFormatWAV", "exportWavMixdown",
        "exportWavStems", "exportWavTracks", "exportWavClips", "exportReverbStem", "exportAAFSourceChannels",
        "workAreaIn", "workAreaOut", "scenes", "reverb", "optical"};
    EXPECT_EQ(TopLevelKeys(text), expected);

    const JsonValue root = ParseJson(text);
    EXPECT_EQ(root.Get("format").string, "Korvel");
    EXPECT_EQ(root.Get("version").number, 5);
    EXPECT_EQ(root.Get("savedBy").string, BuildVersion);
    EXPECT_EQ(root.Get("optical").Get("frames").array.size(), 3u * 11u);
    EXPECT_TRUE(text.starts_with("{\n  \"format\": \"Korvel\",\n"));
    EXPECT_TRUE(text.ends_with("\n}"));
    EXPECT_NE(text.find("\"libraryPaths\": [\n  \""), std::string::npos) << "string lists are written inline";
}

TEST(ProjectFileWrite, EmptyProjectWritesRequiredListsOnly) {
    test::TempDir dir;
    SavedProjectState state;
    const std::string path = dir.file("Empty/Empty.kvproj");
    ASSERT_TRUE(state.Save(path)) << "the project's folder is created";
    const std::string text = test::ReadBytes(path);
    const JsonValue root = ParseJson(text);
    for (const char* key : {"userShapes", "events", "results", "scenes", "bannedFiles", "libraryPaths"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(root.Get(key).type, JsonType::Array);
        EXPECT_TRUE(root.Get(key).array.empty());
    }
    for (const char* key : {"fileRefs", "bannedFileIds", "linkedGroups", "projectDescription", "optical"}) {
        EXPECT_FALSE(root.Has(key)) << key;
    }
    EXPECT_NE(text.find("\"bannedFiles\": [\n]"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(dir.path() / "Empty" / "Audio")) << "the Audio folder exists after any save";
}

TEST(ProjectFileWrite, LayerPathsPointAtCollectedCopiesWhileMemoryKeepsItsPaths) {
    test::TempDir dir;
    SavedProjectState state;
    const std::string source = WriteTone(dir.file("boom.wav"), 220);
    const FileId id = ComputeFileId(source).id;
    state.project.events.emplace_back();
    for (int i = 0; i < 2; ++i) {
        LayerResult layer;
        layer.filepath = source;
        layer.fileId = id;
        state.project.results.push_back(layer);
    }
    const std::string path = dir.file("P/P.kvproj");
    ASSERT_TRUE(state.Save(path));

    const JsonValue root = ParseJson(test::ReadBytes(path));
    EXPECT_EQ(root.Get("results").At(0).Get("filepath").string, "Audio/boom.wav");
    EXPECT_EQ(state.project.results[0].filepath, source);
    ASSERT_EQ(root.Get("fileRefs").array.size(), 1u) << "two layers of one file give one reference";
    const JsonValue& ref = root.Get("fileRefs").At(0);
    EXPECT_EQ(ref.Get("id").string, id);
    EXPECT_EQ(ref.Get("hash").string.size(), 16u);
    EXPECT_EQ(ref.Get("size").string, std::to_string(fs::file_size(source)));
    EXPECT_TRUE(fs::exists(dir.path() / "P" / "Audio" / "boom.wav"));
}

TEST(ProjectFileWrite, VideoPathRelativeOnlyInsideProjectFolder) {
    test::TempDir dir;
    SavedProjectState state;
    fs::create_directories(dir.path() / "P" / "Media");
    state.videoPath = dir.file("P/Media/../Media/clip.mp4");
    ASSERT_TRUE(state.Save(dir.file("P/P.kvproj")));
    EXPECT_EQ(ParseJson(test::ReadBytes(dir.file("P/P.kvproj"))).Get("videoPath").string, "Media/clip.mp4");

    state.videoPath = dir.file("Elsewhere/clip.mp4");
    ASSERT_TRUE(state.Save(dir.file("P/P.kvproj")));
    EXPECT_EQ(ParseJson(test::ReadBytes(dir.file("P/P.kvproj"))).Get("videoPath").string, state.videoPath);
}

TEST(ProjectFileWrite, NonFiniteValuesAreWrittenAsZero) {
    test::TempDir dir;
    SavedProjectState state;
    Event event;
    event.weight.fill(0.5f);
    event.weight[3] = std::numeric_limits<float>::quiet_NaN();
    event.intensity[7] = std::numeric_limits<float>::infinity();
    event.time = -std::numeric_limits<float>::infinity();
    state.project.events.push_back(event);
    ASSERT_TRUE(state.Save(dir.file("P/P.kvproj")));
    const std::string text = test::ReadBytes(dir.file("P/P.kvproj"));
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
    const JsonValue root = ParseJson(text);
    const JsonValue& written = root.Get("events").At(0);
    EXPECT_EQ(written.Get("weight").At(3).number, 0.0);
    EXPECT_EQ(written.Get("intensity").At(7).number, 0.0);
    EXPECT_EQ(written.Get("time").number, 0.0);
}

TEST(ProjectFileWrite, FailedRenameKeepsEarlierFileAndLeavesNoTemporary) {
    test::TempDir dir;
    SavedProjectState state;
    // A non-empty folder at the target cannot be replaced by a file.
    const std::string path = dir.file("P/P.kvproj");
    fs::create_directories(fs::path(path) / "inside");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(state.Save(path));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(output.starts_with("[Project] Rename failed: ")) << output;
    // Whatever name a temporary had, none is left beside the target.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.file("P"))) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Audio", "P.kvproj"}));
    EXPECT_TRUE(fs::is_directory(fs::path(path) / "inside"));
}

TEST(ProjectFileWrite, LayerWritesOnlyWhatItsModeUses) {
    test::TempDir dir;
    SavedProjectState state;
    state.project.events.emplace_back();
    LayerResult layer;
    layer.procMode = 0;
    layer.fillChunks = {{1, 2, 3}};
    layer.pitchShift = 0.0005f;
    state.project.results.push_back(layer);
    ASSERT_TRUE(state.Save(dir.file("P/P.kvproj")));
    const JsonValue root = ParseJson(test::ReadBytes(dir.file("P/P.kvproj")));
    const JsonValue& written = root.Get("results").At(0);
    for (const char* key : {"fillChunks", "pitchShift", "alloyMid", "alloyAlgo", "userVolume", "intGain"}) {
        EXPECT_FALSE(written.Has(key)) << key;
    }
    state.Open(dir.file("P/P.kvproj"));
    EXPECT_EQ(state.project.results.at(0).pitchShift, 0.0f);
}

// [SECTION] Round trip

TEST(ProjectFileRoundTrip, SecondAndThirdSavesAreIdentical) {
    test::TempDir dir;
    SavedProjectState first;
    BuildRichProject(first, dir);
    const std::string path = dir.file("Proj/Proj.kvproj");
    ASSERT_TRUE(first.Save(path));
    const std::string save1 = test::ReadBytes(path);

    SavedProjectState second;
    ProjectLoadResult loaded = second.Open(path);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_TRUE(loaded.warning.empty());
    EXPECT_TRUE(loaded.missingFiles.empty()) << loaded.missingFiles.front();
    ASSERT_TRUE(second.Save(path));
    const std::string save2 = test::ReadBytes(path);

    SavedProjectState third;
    ASSERT_TRUE(third.Open(path).ok);
    ASSERT_TRUE(third.Save(path));
    const std::string save3 = test::ReadBytes(path);
    EXPECT_EQ(save2, save3);

    // What the first open must bring back.
    const Project& p = third.project;
    ASSERT_EQ(p.events.size(), 3u);
    ASSERT_EQ(p.results.size(), 3u);
    EXPECT_TRUE(p.built);
    EXPECT_NEAR(p.fps, 23.976f, 1e-4);
    EXPECT_TRUE(p.trackLayout.budgetMode);
    EXPECT_STREQ(p.trackLayout.groups[2].name, "Hits \"loud\"");
    EXPECT_STREQ(p.events[0].keywords, "impact\tmetal");
    EXPECT_EQ(p.events[0].sceneLink, 0);
    EXPECT_TRUE(p.events[0].sceneFill);
    EXPECT_EQ(p.events[0].userShapeIdx, 0);
    EXPECT_EQ(p.events[2].bounceSource.size(), 2u);
    EXPECT_FLOAT_EQ(p.events[2].clipFadeIn, 0.02f);
    EXPECT_EQ(p.events[1].pinnedFiles.size(), 2u);
    EXPECT_EQ(p.events[1].pinnedFileIds.size(), 2u);
    EXPECT_FALSE(p.events[1].pinnedFileIds[1].empty()) << "a pinned file without an id is given one";
    EXPECT_EQ(p.events[1].bedLayerWeight, (std::vector<float>{0.7f, -1.0f}));
    EXPECT_EQ(p.results[1].fillChunks.size(), 2u);
    EXPECT_EQ(p.results[2].alloyMid.name, "hiss");
    EXPECT_EQ(p.results[2].alloyAlgo, 1);
    for (const LayerResult& layer : p.results) EXPECT_TRUE(fs::exists(layer.filepath)) << layer.filepath;
    // The saved project refers only to its own copies.
    const JsonValue saved = ParseJson(save3);
    for (const JsonValue& layer : saved.Get("results").array) {
        EXPECT_TRUE(layer.Get("filepath").string.starts_with("Audio/")) << layer.Get("filepath").string;
    }
    for (const JsonValue& ref : saved.Get("fileRefs").array) {
        if (ref.Get("id").string == "00000000000000aa") continue;  // unknown to the registry
        EXPECT_TRUE(ref.Get("path").string.starts_with("Audio/")) << ref.Get("path").string;
    }
    EXPECT_NE(save1, save2) << "the first open normalises values";
    EXPECT_EQ(third.sampleRate, 96000);
    EXPECT_EQ(third.description, "A test project\nwith two lines");
    EXPECT_EQ(third.linkedGroups, std::set<std::string>{"Hits"});
    EXPECT_EQ(third.libraryPaths.size(), 2u);
    EXPECT_TRUE(third.trace.valid);
    EXPECT_EQ(third.trace.frames.size(), 3u);
    EXPECT_TRUE(third.trace.events.at(0).hasIntensityCurve);
    EXPECT_FLOAT_EQ(third.opticalDetail, 0.5f);
    EXPECT_FLOAT_EQ(third.session.reverb.groupSends[2], 0.3f);
    EXPECT_FLOAT_EQ(third.session.workAreaIn, 1.25f);
    EXPECT_TRUE(third.session.exportSettings.exportWavStems);
    ASSERT_EQ(p.scenes.size(), 1u);
    EXPECT_STREQ(p.scenes[0].name, "Opening");
    EXPECT_EQ(p.bannedFileIds, std::vector<std::string>{"00000000000000aa"});
}

TEST(ProjectFileRoundTrip, SixSignificantDigits) {
    test::TempDir dir;
    SavedProjectState state;
    state.project.totalDuration = 0.1234567f;
    ASSERT_TRUE(state.Save(dir.file("P/P.kvproj")));
    SavedProjectState reopened;
    ASSERT_TRUE(reopened.Open(dir.file("P/P.kvproj")).ok);
    EXPECT_FLOAT_EQ(reopened.project.totalDuration, 0.123457f);
}

// [SECTION] Reading

struct ReadFixture {
    test::TempDir dir;
    Project project;

    ProjectLoadResult Read(const std::string& text) {
        const std::string path = dir.file("P.kvproj");
        EXPECT_TRUE(test::WriteBytes(path, text));
        project = Project();
        return ReadProjectFile(path, project);
    }
};

TEST(ProjectFileRead, MutatedInputsReadWithDefaultsAndClamps) {
    using Getter = std::function<double(const Project&, const ProjectLoadResult&)>;
    struct Case {
        const char* name;
        const char* members;  // after "format"
        Getter get;
        double expected;
    };
    auto event0 = [](auto field) {
        return [field](const Project& p, const ProjectLoadResult&) { return static_cast<double>(field(p.events.at(0))); };
    };
    auto layer0 = [](auto field) {
        return [field](const Project& p, const ProjectLoadResult&) { return static_cast<double>(field(p.results.at(0))); };
    };
    auto project = [](auto field) {
        return [field](const Project& p, const ProjectLoadResult&) { return static_cast<double>(field(p)); };
    };
    auto result = [](auto field) {
        return [field](const Project&, const ProjectLoadResult& r) { return static_cast<double>(field(r)); };
    };
    const char* bed = R"("events": [{"shape": 6, "pinnedFiles": ["/a.wav", "/b.wav", "/c.wav", "/d.wav"],
                          "bedLayerWeight": [0.5, 0.7, -3, 2], "bedLayerLoop": [1, 0, 2.5, "x"]}])";
    const Case cases[] = {
        // Rates and frame rates.
        {"rate 22050", R"("projectSampleRate": 22050)", result([](auto& r) { return r.projectSampleRate; }), 48000},
        {"rate 96000", R"("projectSampleRate": 96000)", result([](auto& r) { return r.projectSampleRate; }), 96000},
        {"rate as text", R"("projectSampleRate": "44100")", result([](auto& r) { return r.projectSampleRate; }), 48000},
        {"fps missing", "", project([](auto& p) { return p.fps; }), 24},
        {"fps 0", R"("fps": 0)", project([](auto& p) { return p.fps; }), 1},
        {"fps negative infinity", R"("fps": -1e999)", project([](auto& p) { return p.fps; }), 1},
        {"fps NaN", R"("fps": -nan)", project([](auto& p) { return p.fps; }), 24},
        {"totalDuration infinite", R"("totalDuration": 1e999)", project([](auto& p) { return p.totalDuration; }), 30},
        // Scale types and other project settings.
        {"scaleType 40", R"("scaleType": 40)", project([](auto& p) { return p.scaleType; }), 16},
        {"scaleType huge", R"("scaleType": 1e20)", project([](auto& p) { return p.scaleType; }), 0},
        {"scaleRoot -3", R"("scaleRoot": -3)", project([](auto& p) { return p.scaleRoot; }), 0},
        {"alloyFilterBands 2", R"("alloyFilterBands": 2)", project([](auto& p) { return p.alloyFilterBands; }), 4},
        {"alloyMicroPitch 0.5", R"("alloyMicroPitch": 0.5)", project([](auto& p) { return p.alloyMicroPitch; }), 0.15f},
        {"normalizeLUFS as number", R"("normalizeLUFS": 0)", project([](auto& p) { return p.normalizeLUFS; }), 1},
        // Track counts.
        {"trackCount 0", R"("trackLayout": {"group1": {"trackCount": 0}})",
         project([](auto& p) { return p.trackLayout.groups[1].trackCount; }), 1},
        {"trackCount as text", R"("trackLayout": {"group1": {"trackCount": "9"}})",
         project([](auto& p) { return p.trackLayout.groups[1].trackCount; }), 4},
        {"targetLUFS -80", R"("trackLayout": {"group0": {"targetLUFS": -80}})",
         project([](auto& p) { return p.trackLayout.groups[0].targetLUFS; }), -60},
        {"group without stereo keeps it", R"("trackLayout": {"group2": {"trackCount": 3}})",
         project([](auto& p) { return p.trackLayout.groups[2].stereo; }), 1},
        {"budgetMode as number clears", R"("trackLayout": {"budgetMode": 1})",
         project([](auto& p) { return p.trackLayout.budgetMode; }), 0},
        // Shapes, legacy version-1 objects.
        {"shape 9", R"("version": 5, "events": [{"shape": 9}])", event0([](auto& e) { return e.shape; }), 6},
        {"v5 contour stays", R"("version": 5, "events": [{"shape": 2}])", event0([](auto& e) { return e.shape; }), 2},
        {"v1 contour is bloom", R"("version": 1, "events": [{"shape": 2}])", event0([](auto& e) { return e.shape; }), 1},
        {"v1 contour has alloy", R"("version": 1, "events": [{"shape": 2}])", event0([](auto& e) { return e.alloy; }), 1},
        {"v1 alloy false decides", R"("version": 1, "events": [{"shape": 2, "alloy": false}])",
         event0([](auto& e) { return e.alloy; }), 0},
        {"no version is legacy", R"("events": [{"shape": 2}])", event0([](auto& e) { return e.shape; }), 1},
        {"v1 nested bounce source", R"("version": 1, "events": [{"bounceSource": [{"shape": 2}]}])",
         event0([](auto& e) { return e.bounceSource.at(0).shape; }), 1},
        {"non-object event", R"("events": [7])", event0([](auto& e) { return e.duration; }), 1},
        {"event gain 1.5", R"("events": [{"gain": 1.5}])", event0([](auto& e) { return e.gain; }), 1},
        {"fillLayers 30", R"("events": [{"fillLayers": 30}])", event0([](auto& e) { return e.fillLayers; }), 24},
        {"sceneCrossfade 500", R"("events": [{"sceneCrossfade": 500}])", event0([](auto& e) { return e.sceneCrossfade; }), 120},
        {"pitchVariation -1", R"("events": [{"pitchVariation": -1}])", event0([](auto& e) { return e.pitchVariation; }), 0},
        {"sceneFill true is not a number", R"("events": [{"sceneFill": true}])", event0([](auto& e) { return e.sceneFill; }), 0},
        {"userShapeIdx past shapes", R"("userShapes": [{}, {}], "events": [{"userShapeIdx": 3}])",
         event0([](auto& e) { return e.userShapeIdx; }), -1},
        {"userShapeIdx in range", R"("userShapes": [{}, {}], "events": [{"userShapeIdx": 1}])",
         event0([](auto& e) { return e.userShapeIdx; }), 1},
        {"userShapeIdx negative", R"("userShapes": [{}], "events": [{"userShapeIdx": -4}])",
         event0([](auto& e) { return e.userShapeIdx; }), -1},
        {"sceneLink without scenes", R"("events": [{"sceneLink": 0}])", event0([](auto& e) { return e.sceneLink; }), -1},
        {"sceneLink to a dropped scene", R"("scenes": [{"inTime": 3, "outTime": 3}], "events": [{"sceneLink": 0}])",
         event0([](auto& e) { return e.sceneLink; }), -1},
        {"sceneLink valid", R"("scenes": [{"inTime": 1, "outTime": 3}], "events": [{"sceneLink": 0}])",
         event0([](auto& e) { return e.sceneLink; }), 0},
        // A dropped scene shifts the ones after it: links follow their scene.
        {"sceneLink past a dropped scene", R"("scenes": [{"inTime": 3, "outTime": 3}, {"inTime": 1, "outTime": 3}],
           "events": [{"sceneLink": 1}])", event0([](auto& e) { return e.sceneLink; }), 0},
        {"sceneLink to a dropped scene before a kept one",
         R"("scenes": [{"inTime": 3, "outTime": 2}, {"inTime": 1, "outTime": 3}], "events": [{"sceneLink": 0}])",
         event0([](auto& e) { return e.sceneLink; }), -1},
        {"bounced source's sceneLink past a dropped scene",
         R"("scenes": [{"inTime": 3, "outTime": 3}, {"inTime": 1, "outTime": 3}, {"inTime": 4, "outTime": 5}],
           "events": [{"bounceSource": [{"sceneLink": 2}]}])",
         event0([](auto& e) { return e.bounceSource.at(0).sceneLink; }), 1},
        {"older clip key", R"("events": [{"placeFadeIn": 0.2}])", event0([](auto& e) { return e.clipFadeIn; }), 0.2f},
        {"current clip key wins", R"("events": [{"clipFadeIn": 0.1, "placeFadeIn": 0.2}])",
         event0([](auto& e) { return e.clipFadeIn; }), 0.1f},
        {"weight as text", R"("events": [{"weight": "x"}])", event0([](auto& e) { return e.weight[200]; }), 0.5f},
        {"weight point not a number", R"("events": [{"weight": [1, "x", 0.25]}])",
         event0([](auto& e) { return e.weight[1]; }), 0.5f},
        {"pinnedFile makes the list", R"("events": [{"pinnedFile": "/x.wav"}])",
         event0([](auto& e) { return e.pinnedFiles.size(); }), 1},
        {"pinnedFile on a clip stays single", R"("events": [{"shape": 5, "pinnedFile": "/x.wav"}])",
         event0([](auto& e) { return e.pinnedFiles.size(); }), 0},
        {"ids longer than files", R"("events": [{"pinnedFiles": ["/a"], "pinnedFileIds": ["1", "2", "3"]}])",
         event0([](auto& e) { return e.pinnedFileIds.size(); }), 1},
        // Bed weights and loops.
        {"bed weight 0.5 unknown", bed, event0([](auto& e) { return e.bedLayerWeight.at(0); }), -1},
        {"bed weight 0.7", bed, event0([](auto& e) { return e.bedLayerWeight.at(1); }), 0.7f},
        {"bed weight -3 unknown", bed, event0([](auto& e) { return e.bedLayerWeight.at(2); }), -1},
        {"bed weight 2 capped", bed, event0([](auto& e) { return e.bedLayerWeight.at(3); }), 1},
        {"bed loop 2.5", bed, event0([](auto& e) { return e.bedLayerLoop.at(2); }), 1},
        {"bed loop text", bed, event0([](auto& e) { return e.bedLayerLoop.at(3); }), 0},
        // Gain curves.
        {"intGain ramp start", R"("events": [{}], "results": [{"intGain": [0, 1]}])",
         layer0([](auto& l) { return l.intGain[0]; }), 0},
        {"intGain ramp middle", R"("events": [{}], "results": [{"intGain": [0, 1]}])",
         layer0([](auto& l) { return l.intGain[51]; }), 0.2f},
        {"intGain ramp end", R"("events": [{}], "results": [{"intGain": [0, 1]}])",
         layer0([](auto& l) { return l.intGain[255]; }), 1},
        {"intGain single value", R"("events": [{}], "results": [{"intGain": [0.3]}])",
         layer0([](auto& l) { return l.intGain[200]; }), 0.3f},
        {"intGain clamped", R"("events": [{}], "results": [{"intGain": [4]}])",
         layer0([](auto& l) { return l.intGain[9]; }), 1},
        {"intGain empty", R"("events": [{}], "results": [{"intGain": []}])",
         layer0([](auto& l) { return l.hasIntGain; }), 0},
        {"fillGain 127 entries ignored", R"("events": [{}], "results": [{"fillGain": [)" "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1" R"(]}])",
         layer0([](auto& l) { return l.hasFillGain; }), 0},
        {"eqGains low band", R"("events": [{}], "results": [{"eqGains": [0, 1, 1, 1, 1]}])",
         layer0([](auto& l) { return l.eqGains[0]; }), 0.1f},
        {"eqGains non-number", R"("events": [{}], "results": [{"eqGains": [0.5, "x", 1, 1, 1]}])",
         layer0([](auto& l) { return l.eqGains[1]; }), 1},
        // Layer indices and modes.
        {"eventIdx past events", R"("events": [{}, {}, {}], "results": [{"eventIdx": 7}])",
         layer0([](auto& l) { return l.eventIdx; }), 0},
        {"group 5", R"("events": [{}], "results": [{"group": 5}])", layer0([](auto& l) { return l.group; }), 2},
        {"group -1", R"("events": [{}], "results": [{"group": -1}])", layer0([](auto& l) { return l.group; }), 0},
        {"procMode 7 reads alloy", R"("events": [{}], "results": [{"procMode": 7}])",
         layer0([](auto& l) { return l.alloyAlgo; }), 3},
        {"normGain 0", R"("events": [{}], "results": [{"normGain": 0}])", layer0([](auto& l) { return l.normGain; }), 0.001f},
        {"fill chunk negative start", R"("events": [{}], "results": [{"procMode": 1, "fillChunks": [{"s": -5, "l": 10, "x": 40}]}])",
         layer0([](auto& l) { return l.fillChunks.at(0).s; }), 0},
        {"fill chunk crossfade past length", R"("events": [{}], "results": [{"procMode": 1, "fillChunks": [{"s": -5, "l": 10, "x": 40}]}])",
         layer0([](auto& l) { return l.fillChunks.at(0).x; }), 10},
        {"fill chunk end past 32 bits", R"("events": [{}], "results": [{"procMode": 1, "fillChunks": [{"s": 2000000000, "l": 2000000000}]}])",
         layer0([](auto& l) { return l.fillChunks.at(0).l; }), 147483647},
        {"fill chunks of another mode", R"("events": [{}], "results": [{"procMode": 0, "fillChunks": [{"s": 1}]}])",
         layer0([](auto& l) { return l.fillChunks.size(); }), 0},
        {"no events drops layers", R"("results": [{"name": "x"}])", project([](auto& p) { return p.results.size(); }), 0},
        // Frame numbers of the picture analysis.
        {"23 numbers give two frames", R"("optical": {"frameStride": 11, "frames": [)"
                                       "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22" R"(]})",
         result([](auto& r) { return r.traceAnalysis.frames.size(); }), 2},
        {"stride 5 reads as 11", R"("optical": {"frameStride": 5, "frames": [)"
                                 "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22" R"(]})",
         result([](auto& r) { return r.traceAnalysis.frames.at(1).luma; }), 12},
        {"frame number as text", R"("optical": {"frames": [0,"x",2,3,4,5,6,7,8,9,10]})",
         result([](auto& r) { return r.traceAnalysis.frames.at(0).luma; }), 0},
        {"no frames, no analysis", R"("optical": {"frames": [1, 2]})",
         result([](auto& r) { return r.traceAnalysis.valid; }), 0},
        {"optical fps 0", R"("optical": {"fps": 0})", result([](auto& r) { return r.traceAnalysis.fps; }), 1},
        {"optical fps missing", R"("optical": {})", result([](auto& r) { return r.traceAnalysis.fps; }), 10},
        {"opticalDetail without optical", "", result([](auto& r) { return r.opticalDetail; }), 0.35f},
        {"opticalDetail 3", R"("optical": {"opticalDetail": 3})", result([](auto& r) { return r.opticalDetail; }), 1},
        {"suggestedShape 12", R"("optical": {"events": [{"suggestedShape": 12}]})",
         result([](auto& r) { return r.traceAnalysis.events.at(0).suggestedShape; }), 6},
        {"detection curve too short", R"("optical": {"events": [{"intensityCurve": [1, 2]}]})",
         result([](auto& r) { return r.traceAnalysis.events.at(0).hasIntensityCurve; }), 0},
        {"detection accepted default", R"("optical": {"events": [{}]})",
         result([](auto& r) { return r.traceAnalysis.events.at(0).accepted; }), 1},
        // Lists.
        {"linkedGroups skip empty", R"("linkedGroups": ["a", "", "b"])",
         result([](auto& r) { return r.linkedGroups.size(); }), 2},
        {"libraryPaths keep empty", R"("libraryPaths": ["a", "", 3])",
         result([](auto& r) { return r.libraryPaths.size(); }), 3},
        {"bannedFiles skip empty", R"("bannedFiles": ["/nowhere/a.wav", ""], "bannedFileIds": ["1", "2", "3", "4"])",
         project([](auto& p) { return p.bannedFileIds.size(); }), 1},
    };
    ReadFixture fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = std::string(R"({"format": "Korvel")") + (c.members[0] ? ", " : "") + c.members + "}";
        const ProjectLoadResult loaded = fixture.Read(text);
        ASSERT_TRUE(loaded.ok) << loaded.error;
        EXPECT_NEAR(c.get(fixture.project, loaded), c.expected, 1e-6);
    }
}

TEST(ProjectFileRead, EventObjectDefaults) {
    Event event;
    const JsonValue value = ParseJson("{}");
    ReadEventJson(event, value, "/nowhere", false, 0, 0);
    EXPECT_EQ(event.shape, 0);
    EXPECT_EQ(event.time, 0.0f);
    EXPECT_EQ(event.duration, 1.0f);
    EXPECT_FLOAT_EQ(event.spread, 0.3f);
    EXPECT_FLOAT_EQ(event.weightCenter, 0.3f);
    EXPECT_EQ(event.gain, 1.0f);
    EXPECT_EQ(event.reverbSend, -1.0f);
    EXPECT_EQ(event.groupOverride, -1);
    EXPECT_EQ(event.sceneLink, -1);
    EXPECT_EQ(event.sceneCrossfade, 1);
    EXPECT_EQ(event.userShapeIdx, -1);
    EXPECT_EQ(event.clipFadeIn, -1.0f);
    EXPECT_EQ(event.clipFadeOut, -1.0f);
    EXPECT_EQ(event.clipWeight, -1.0f);
    for (float point : event.weight) ASSERT_EQ(point, 0.5f);
    for (float point : event.intensity) ASSERT_EQ(point, 0.5f);
}

TEST(ProjectFileRead, ShortCurveKeepsTheRestOfItsPoints) {
    CurvePoints curve;
    curve.fill(0.9f);
    ReadCurveJson(ParseJson("[0,0.1,0.2,0.3,0.4,0.5,0.6,0.7,0.8,0.9]"), curve);
    EXPECT_FLOAT_EQ(curve[9], 0.9f);
    EXPECT_FLOAT_EQ(curve[4], 0.4f);
    EXPECT_FLOAT_EQ(curve[10], 0.9f);
    EXPECT_FLOAT_EQ(curve[255], 0.9f);
}

TEST(ProjectFileRead, FailuresLeaveTheProjectUntouched) {
    struct Case {
        const char* name;
        const char* text;  // null: no file at all
        std::string error;
    };
    ReadFixture fixture;
    const std::string missing = fixture.dir.file("missing.kvproj");
    const Case cases[] = {
        {"missing file", nullptr, "Could not open file: " + missing},
        {"zero bytes", "", "Empty file"},
        {"array at the top", "[]", "Invalid JSON"},
        {"only blanks", "  \n", "Invalid JSON"},
        {"format in other case", R"({"format": "korvel"})", "Not a Korvel project file"},
        {"format missing", R"({"version": 5})", "Not a Korvel project file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Project project;
        project.events.resize(2);
        project.fps = 30.0f;
        std::string path = missing;
        if (c.text) {
            path = fixture.dir.file("case.kvproj");
            ASSERT_TRUE(test::WriteBytes(path, c.text));
        }
        const ProjectLoadResult result = ReadProjectFile(path, project);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(project.events.size(), 2u);
        EXPECT_EQ(project.fps, 30.0f);
    }
}

// A file cut short, overwritten with zero bytes or nested past the bound
// still opens with what could be read, but says that it is damaged: the next
// save would otherwise make the loss permanent without a word.
TEST(ProjectFileRead, DamagedFilesOpenWithWhatCouldBeReadAndSaySo) {
    test::TempDir dir;
    SavedProjectState rich;
    BuildRichProject(rich, dir);
    const std::string saved = dir.file("Proj/Proj.kvproj");
    ASSERT_TRUE(rich.Save(saved));
    const std::string whole = test::ReadBytes(saved);
    std::string zeroInside = whole;
    zeroInside[whole.find("\"results\"")] = '\0';

    struct Case {
        const char* name;
        std::string text;
        std::string damage;
        bool allEvents;  // every event of the saved project is read
    };
    const Case cases[] = {
        {"whole file", whole, "", true},
        {"cut to a tenth", whole.substr(0, whole.size() / 10), "it ends early", false},
        {"cut inside a string", whole.substr(0, whole.find("\"savedBy\"") + 4), "it ends early", false},
        {"cut after the events", whole.substr(0, whole.find("\"results\"")), "it ends early", true},
        {"zero byte before the layers", zeroInside, "it holds a zero byte", true},
        {"zero bytes after the end", whole + std::string(4096, '\0'), "it holds a zero byte", true},
        {"nested past the bound", R"({"format": "Korvel", "events": [{}, {}], "videoPath": )" + std::string(300, '['),
         "it nests too deep", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("Damaged/Damaged.kvproj");
        ASSERT_TRUE(test::WriteBytes(path, c.text));
        Project project;
        const ProjectLoadResult result = ReadProjectFile(path, project);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.damage, c.damage);
        if (c.allEvents) {
            EXPECT_EQ(project.events.size(), rich.project.events.size());
        }
        if (!c.damage.empty()) {
            EXPECT_EQ(DamagedProjectStatus(result),
                      "Opened a damaged file (" + c.damage + "); the original is kept at the next save");
        }
    }
}

// A file whose elements need more memory than there is (two million empty
// events of 4.7 KB each from a 6 MB file) fails with a status, and the open
// project stays as it was, instead of the program aborting. The child's
// address space is limited so the allocation fails there.
TEST(ProjectFileRead, AFileNeedingMoreMemoryThanThereIsFailsWithAStatus) {
    if (test::UnderSanitizer()) GTEST_SKIP() << "a sanitizer's shadow memory does not fit an address-space limit";
    test::TempDir dir;
    std::string text = R"({"format": "Korvel", "events": [)";
    for (int i = 0; i < 2'000'000; ++i) text += "{},";
    text += "{}]}";
    const std::string path = dir.file("Many/Many.kvproj");
    ASSERT_TRUE(test::WriteBytes(path, text));
    const test::ChildOutcome outcome = test::RunInChild(
        [&] {
            Project project;
            project.events.resize(2);
            project.fps = 30.0f;
            const ProjectLoadResult result = ReadProjectFile(path, project);
            if (result.ok || result.error != kProjectOutOfMemory) return 1;
            return project.events.size() == 2 && project.fps == 30.0f ? 0 : 2;
        },
        uint64_t{2} << 30);
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.signal;
    EXPECT_EQ(outcome.exitCode, 0);
}

TEST(ProjectFileRead, MinimalFileAndNewerVersionWarning) {
    struct Case {
        const char* members;
        const char* warning;
    };
    const Case cases[] = {
        {"", ""},
        {R"(, "minReaderVersion": 5)", ""},
        {R"(, "minReaderVersion": 6)", "Newer version project \xE2\x80\x94 some data may be lost if you save"},
        {R"(, "minReaderVersion": 9, "savedBy": "2031.1.0")",
         "Newer version project (saved by v2031.1.0) \xE2\x80\x94 some data may be lost if you save"},
    };
    ReadFixture fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.members);
        const ProjectLoadResult result = fixture.Read(std::string(R"({"format": "Korvel")") + c.members + "}");
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.warning, c.warning);
        EXPECT_EQ(fixture.project.totalDuration, 30.0f);
        EXPECT_EQ(fixture.project.fps, 24.0f);
        EXPECT_TRUE(fixture.project.events.empty());
        EXPECT_FALSE(fixture.project.built);
        EXPECT_EQ(result.projectSampleRate, 48000);
    }
}

TEST(ProjectFileRead, LayerFilesFoundByIdentityOrListedMissing) {
    ReadFixture fixture;
    const std::string moved = WriteTone(fixture.dir.file("moved.wav"), 300);
    const std::string unknown = WriteTone(fixture.dir.file("unknown.wav"), 310);
    const std::string gone = fixture.dir.file("gone.wav");
    std::uint64_t fingerprint = 0;
    std::uint64_t size = 0;
    ASSERT_TRUE(ComputeFileFingerprint(moved, fingerprint, size));
    const std::string id = "5a5a5a5a5a5a5a01";
    const std::string text = std::string(R"({"format": "Korvel", "events": [{}],
        "fileRefs": [{"id": ")") + id + R"(", "hash": ")" + FormatHexId(fingerprint) + R"(", "size": ")" +
                             std::to_string(size) + R"(", "path": "moved.wav"}],
        "results": [{"filepath": "/old/place/moved.wav", "fileId": ")" + id + R"("},
                    {"filepath": "unknown.wav"}, {"filepath": ")" + gone + R"("}],
        "videoPath": "clip.mp4"})";
    const ProjectLoadResult result = fixture.Read(text);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(fixture.project.results.size(), 3u);
    EXPECT_EQ(fixture.project.results[0].filepath, moved);
    EXPECT_EQ(fixture.project.results[1].filepath, fs::weakly_canonical(unknown).string());
    EXPECT_EQ(fixture.project.results[1].fileId.size(), 16u) << "a readable file without an id gets one";
    EXPECT_TRUE(fixture.project.results[2].fileId.empty());
    const std::vector<std::string> expectedMissing = {gone, (fixture.dir.path() / "clip.mp4").string()};
    EXPECT_EQ(result.missingFiles, expectedMissing);
    EXPECT_NE(fixture.project.results[0].id, fixture.project.results[1].id);
}

TEST(ProjectFileRead, BannedFileIdsComputedCutAndNotCarriedOver) {
    ReadFixture fixture;
    const std::string readable = WriteTone(fixture.dir.file("b.wav"), 200);
    const std::string text = std::string(R"({"format": "Korvel", "bannedFiles": ["/x/a.wav", ")") + readable +
                             R"(", "/x/c.wav"], "bannedFileIds": ["0000000000000001"]})";
    ASSERT_TRUE(fixture.Read(text).ok);
    ASSERT_EQ(fixture.project.bannedFileIds.size(), 3u);
    EXPECT_EQ(fixture.project.bannedFileIds[0], "0000000000000001");
    EXPECT_EQ(fixture.project.bannedFileIds[1].size(), 16u);
    EXPECT_TRUE(fixture.project.bannedFileIds[2].empty());

    // The second file read into the same project starts its lists anew.
    const std::string path = fixture.dir.file("second.kvproj");
    ASSERT_TRUE(test::WriteBytes(path, R"({"format": "Korvel", "bannedFiles": ["/x/a.wav"]})"));
    ASSERT_TRUE(ReadProjectFile(path, fixture.project).ok);
    EXPECT_EQ(fixture.project.bannedFileIds, std::vector<std::string>{""});
}

TEST(ProjectFileRead, TrackLayoutKeysAbsentKeepEarlierValues) {
    ReadFixture fixture;
    Project project;
    project.trackLayout.groups[0].trackCount = 11;
    CopyText(project.trackLayout.groups[1].name, "Mine");
    const std::string path = fixture.dir.file("t.kvproj");
    ASSERT_TRUE(test::WriteBytes(path, R"({"format": "Korvel", "trackLayout": {"group1": {"name": ""}, "group0": 3}})"));
    ASSERT_TRUE(ReadProjectFile(path, project).ok);
    EXPECT_EQ(project.trackLayout.groups[0].trackCount, 11);
    EXPECT_STREQ(project.trackLayout.groups[1].name, "Mine");
}

// The first save over a file that opened damaged keeps the damaged original
// beside it under a free name; a later save has nothing more to keep.
TEST(ProjectFileWrite, TheFirstSaveOverADamagedFileKeepsTheOriginal) {
    test::TempDir dir;
    const std::string path = dir.file("Cut/Cut.kvproj");
    const std::string damaged = R"({"format": "Korvel", "events": [{"time": 1}, {"ti)";
    ASSERT_TRUE(test::WriteBytes(path, damaged));
    ASSERT_TRUE(test::WriteBytes(path + ".damaged", "kept by an earlier save"));

    SavedProjectState state;
    const ProjectLoadResult result = state.Open(path);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.damage, "it ends early");
    ProjectSaveRequest request = state.Request();
    request.keepDamagedOriginal = true;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(WriteProjectFile(path, request));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(test::ReadBytes(path + ".damaged-2"), damaged);
    EXPECT_EQ(test::ReadBytes(path + ".damaged"), "kept by an earlier save");
    EXPECT_TRUE(output.starts_with("[Project] Kept the damaged original as " + path + ".damaged-2\n")) << output;
    EXPECT_NE(test::ReadBytes(path), damaged);

    ASSERT_TRUE(state.Save(path));
    EXPECT_FALSE(fs::exists(path + ".damaged-3"));
}

// A project saves under the longest name the file system takes, through a
// symbolic link into the file it points to, and over a read-only file
// keeping its mode.
TEST(ProjectFileWrite, LongNamesLinksAndReadOnlyFilesSave) {
    test::TempDir dir;
    SavedProjectState state;
    state.description = "saved";
    std::fflush(stdout);

    const std::string longName = std::string(250 - 7, 'p') + ".kvproj";
    const std::string longPath = dir.file("Long/" + longName);
    ASSERT_TRUE(state.Save(longPath));
    ASSERT_TRUE(state.Save(longPath));

    const std::string real = dir.file("Real/Real.kvproj");
    ASSERT_TRUE(test::WriteBytes(real, "old"));
    fs::create_directories(dir.file("Linked"));
    const std::string link = dir.file("Linked/Linked.kvproj");
    fs::create_symlink(real, link);
    ASSERT_TRUE(state.Save(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(test::ReadBytes(real), "old");

    const std::string readOnly = dir.file("Locked/Locked.kvproj");
    ASSERT_TRUE(test::WriteBytes(readOnly, "old"));
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    ASSERT_TRUE(state.Save(readOnly));
    EXPECT_EQ(fs::status(readOnly).permissions(), fs::perms::owner_read | fs::perms::group_read);

    for (const std::string& path : {longPath, real, readOnly}) {
        SCOPED_TRACE(path);
        SavedProjectState reopened;
        ASSERT_TRUE(reopened.Open(path).ok);
        EXPECT_EQ(reopened.description, "saved");
        for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path()))
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    }
}

TEST(ResolveProjectPath, RelativeAbsoluteAndMissing) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "P");
    ASSERT_TRUE(test::WriteBytes(dir.file("P/clip.mp4"), "x"));
    const std::string folder = dir.file("P");
    EXPECT_EQ(ResolveProjectPath("", folder), "");
    EXPECT_EQ(ResolveProjectPath("/abs/x.wav", folder), "/abs/x.wav");
    EXPECT_EQ(ResolveProjectPath("./clip.mp4", folder), fs::weakly_canonical(dir.file("P/clip.mp4")).string());
    EXPECT_EQ(ResolveProjectPath("none.mp4", folder), (fs::path(folder) / "none.mp4").string());
}

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

// The saved file's exact bytes for a small project whose one event pins two
// files: the layout other readers and diff tools see (key order, number
// forms, indentation, where lists break) must not drift unnoticed. The one
// line that names the build is left out of the comparison. After a
// deliberate change of the layout, the new bytes replace the golden file.
TEST(ProjectFileWrite, SmallProjectWithPinnedFilesHasItsGoldenBytes) {
    test::TempDir dir;
    SavedProjectState state;
    Event event;
    event.time = 1.5f;
    event.duration = 2.0f;
    event.shape = KindValue(EventKind::Bed);
    event.weightCenter = 0.5f;
    event.spread = 0.25f;
    CopyText(event.keywords, "rain, roof");
    event.usePinnedFile = true;
    event.pinnedFiles = {test::WriteBytes(dir.file("lib/a/rain.wav"), "rain") ? dir.file("lib/a/rain.wav") : "",
                         test::WriteBytes(dir.file("lib/b/rain.wav"), "roof") ? dir.file("lib/b/rain.wav") : ""};
    event.pinnedFileIds = {"0123456789abcdef", "fedcba9876543210"};
    event.bedLayerLoop = {1, 0};
    event.bedLayerWeight = {0.25f, -1.0f};
    event.weight.fill(0.5f);
    event.intensity.fill(1.0f);
    state.project.events.push_back(event);
    state.project.totalDuration = 10.0f;
    const std::string path = dir.file("Golden/Golden.kvproj");
    ASSERT_TRUE(state.Save(path));

    std::string text = test::ReadBytes(path);
    const std::size_t savedBy = text.find("  \"savedBy\": ");
    ASSERT_NE(savedBy, std::string::npos);
    text.erase(savedBy, text.find('\n', savedBy) + 1 - savedBy);
    // The identities' paths are absolute: the test folder is a placeholder.
    const std::string folder = dir.path().string();
    for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at))
        text.replace(at, folder.size(), "<dir>");
    const std::string golden = test::ReadBytes(std::string(KORVEL_TEST_DATA_DIR) + "/project/pinned_event.kvproj");
    EXPECT_EQ(text, golden);
}

}  // namespace
}  // namespace korvel
