// The demo content the build makes: the same bytes on every run, never over
// a folder it did not make, and, installed into a fresh documents folder,
// something a newcomer can scan, open, build and hear.
#include "presets/demo/demo_generator.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/build_fixture.h"
#include "engine/render_job.h"
#include "library/folder_scan.h"
#include "library/library.h"
#include "library/waveform.h"
#include "playback/playback_engine.h"
#include "playback/render_cache.h"
#include "playback/wav_export.h"
#include "presets/chains.h"
#include "presets/demo_content.h"
#include "presets/recipes.h"
#include "project/app_state.h"
#include "project/project.h"
#include "project/project_life.h"
#include "project/undo.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// Every file below `root` by its relative path, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = test::ReadBytes(entry.path().string());
    }
    return files;
}

// The files that differ between two trees, by name only: the bytes of a
// few megabytes of audio are no message.
std::vector<std::string> Differences(const std::map<std::string, std::string>& a,
                                     const std::map<std::string, std::string>& b) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : a) {
        const auto other = b.find(name);
        if (other == b.end() || other->second != bytes) names.push_back(name);
    }
    for (const auto& [name, bytes] : b)
        if (a.count(name) == 0) names.push_back(name);
    return names;
}

std::string Generate(const fs::path& folder) {
    std::string error;
    EXPECT_TRUE(GenerateDemoContent(folder.string(), error)) << error;
    return error;
}

TEST(DemoGenerator, TheSameTreeOnEveryRunAndAsTheBuildMadeIt) {
    test::TempDir dir;
    Generate(dir.path() / "one");
    Generate(dir.path() / "two");
    const auto one = Tree(dir.path() / "one");
    EXPECT_EQ(Differences(one, Tree(dir.path() / "two")), std::vector<std::string>{});
    EXPECT_EQ(Differences(one, Tree(fs::path(KORVEL_PROGRAM_FOLDER) / "DemoContent")), std::vector<std::string>{})
        << "the build ran an older generator";

    // What the tree holds, and that it stays small enough for every build.
    std::map<std::string, int> counts;
    std::size_t bytes = 0;
    for (const auto& [path, content] : one) {
        const std::string top = path.substr(0, path.find('/'));
        ++counts[top == path ? "." : top];
        bytes += content.size();
        // Only relative references: the tree is copied elsewhere before use.
        EXPECT_EQ(content.find(dir.path().string()), std::string::npos) << path;
    }
    EXPECT_EQ(counts["Recipes"], 8);
    EXPECT_EQ(counts["Chains"], 2);
    EXPECT_GE(counts["Libraries"], 24);
    EXPECT_TRUE(one.count(std::string("Projects/") + kDemoProjectName + "/" + kDemoProjectName + ".kvproj"));
    EXPECT_LT(bytes, 6u << 20);

    // Every recipe and chain reads back by keywords alone.
    for (const EventPreset& recipe : LoadRecipesFrom((dir.path() / "one" / "Recipes").string())) {
        SCOPED_TRACE(recipe.sourcePath);
        EXPECT_NE(recipe.keywords[0], '\0');
        EXPECT_TRUE(recipe.pinnedFiles.empty());
        EXPECT_EQ(recipe.pinnedFile[0], '\0');
    }
    std::vector<Chain> chains;
    ScanChainFolder((dir.path() / "one" / "Chains").string(), chains);
    ASSERT_EQ(chains.size(), 2u);
    for (const Chain& chain : chains) {
        EXPECT_GE(chain.entries.size(), 2u) << chain.sourcePath;
        for (const ChainEntry& entry : chain.entries) EXPECT_TRUE(entry.preset.pinnedFiles.empty());
    }
}

// Every channel of a sound file, de-interleaved; empty when unreadable.
std::vector<std::vector<float>> ReadChannels(const std::string& path, int& rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    rate = info.samplerate;
    std::vector<std::vector<float>> channels(static_cast<std::size_t>(info.channels));
    for (sf_count_t f = 0; f < read; ++f)
        for (int c = 0; c < info.channels; ++c)
            channels[static_cast<std::size_t>(c)].push_back(interleaved[static_cast<std::size_t>(f * info.channels + c)]);
    return channels;
}

TEST(DemoGenerator, SoundsAreShortUnclippedAndLoopsCloseWithoutAClick) {
    const fs::path libraries = fs::path(KORVEL_PROGRAM_FOLDER) / "DemoContent" / "Libraries";
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(libraries)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().string());
        int rate = 0;
        const auto channels = ReadChannels(entry.path().string(), rate);
        ASSERT_FALSE(channels.empty());
        ++checked;
        EXPECT_EQ(rate, 48000);
        const double seconds = static_cast<double>(channels[0].size()) / rate;
        EXPECT_GE(seconds, 0.3);
        EXPECT_LE(seconds, 3.0);
        const bool loop = entry.path().parent_path().filename() == kDemoAmbiencesLibrary;
        for (const std::vector<float>& samples : channels) {
            float peak = 0.0f;
            double steps = 0.0;
            for (std::size_t i = 0; i < samples.size(); ++i) {
                peak = std::max(peak, std::fabs(samples[i]));
                if (i > 0) steps += std::pow(samples[i] - samples[i - 1], 2.0);
            }
            EXPECT_GT(peak, 0.03f) << "next to silent";
            EXPECT_LT(peak, 0.99f) << "clipped";
            if (!loop) continue;
            // Played round, the last sample runs into the first like any
            // other step of the sound.
            const double typicalStep = std::sqrt(steps / static_cast<double>(samples.size() - 1));
            EXPECT_LE(std::fabs(samples.front() - samples.back()), 3.0 * typicalStep);
        }
    }
    EXPECT_GE(checked, 24);
}

TEST(DemoGenerator, ReplacesOnlyAFolderItMade) {
    test::TempDir dir;
    const fs::path foreign = dir.path() / "foreign";
    ASSERT_TRUE(test::WriteBytes((foreign / "mine.txt").string(), "mine"));
    std::string error;
    EXPECT_FALSE(GenerateDemoContent(foreign.string(), error));
    EXPECT_EQ(error, "Will not replace " + foreign.string() + ": this program did not make it");
    EXPECT_EQ(test::ReadBytes((foreign / "mine.txt").string()), "mine");
    EXPECT_FALSE(fs::exists(foreign / "Libraries"));

    // Its own earlier output, or the empty folder the build tool makes, is
    // replaced whole: nothing stale survives a new run.
    const fs::path own = dir.path() / "own";
    fs::create_directories(own);
    Generate(own);
    ASSERT_TRUE(test::WriteBytes((own / "Recipes" / "Stale.kvrecipe").string(), "{}"));
    Generate(own);
    EXPECT_FALSE(fs::exists(own / "Recipes" / "Stale.kvrecipe"));
    EXPECT_FALSE(fs::exists(dir.path() / "own.partial"));
}

// [SECTION] End to end

// Points the user folders into a test's own folder and leaves the
// process-wide records as a fresh start would have them.
class DemoEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            setenv(name, dir_.file(name).c_str(), 1);
        }
        Reset();
    }
    void TearDown() override {
        DeleteCrashLock();
        Reset();
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name, value->c_str(), 1);
            else unsetenv(name);
        }
    }
    static void Reset() {
        CurrentProject = Project();
        ClearUndoHistory();
        SoundLibrary.palettes.clear();
        PendingLibraryFolders.clear();
        AppState& app = GlobalAppState;
        app.recentProjects.clear();
        app.projectPath.clear();
        app.backgroundJob.active.store(false);
        app.backgroundJob.done.store(false);
        app.backgroundJob.cancel.store(false);
        PlaybackEngine& engine = LivePlaybackEngine;
        std::lock_guard lock(engine.voiceMutex);
        engine.voices.clear();
        engine.voiceFadeIns.clear();
        engine.voiceFadeOuts.clear();
        engine.voiceCount.store(0);
    }

    test::TempDir dir_;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// Scans the queued folders one after another, as the frame does.
void ScanPendingFolders(Library& library) {
    ProcessPendingLibraryFolders(library);
    for (int pass = 0; pass < 10; ++pass) {
        if (library.scanThread.joinable()) library.scanThread.join();
        UpdateLibrary(library, 0.0);
        if (!library.scanning.load() && library.folderQueue.empty() && !library.scanThread.joinable()) return;
    }
}

struct MixFacts {
    int channels = 0;
    int rate = 0;
    std::vector<double> rmsPerSecond;  // both channels together
    double peakLeft = 0.0;
    double peakRight = 0.0;
};

MixFacts ReadMix(const std::string& path) {
    MixFacts facts;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return facts;
    facts.channels = info.channels;
    facts.rate = info.samplerate;
    std::vector<float> second(static_cast<std::size_t>(info.samplerate * info.channels));
    for (;;) {
        const sf_count_t frames = sf_readf_float(file, second.data(), info.samplerate);
        if (frames <= 0) break;
        double sum = 0.0;
        for (sf_count_t f = 0; f < frames; ++f) {
            for (int c = 0; c < info.channels; ++c) {
                const double s = second[static_cast<std::size_t>(f * info.channels + c)];
                sum += s * s;
                double& peak = c == 0 ? facts.peakLeft : facts.peakRight;
                peak = std::max(peak, std::fabs(s));
            }
        }
        facts.rmsPerSecond.push_back(std::sqrt(sum / static_cast<double>(frames * info.channels)));
    }
    sf_close(file);
    return facts;
}

TEST_F(DemoEndToEnd, InstalledDemoScansOpensBuildsAndExportsAnAudibleMix) {
    GlobalAppState.executableFolder = KORVEL_PROGRAM_FOLDER;
    InstallDemoContent(false);
    const std::string documents = dir_.file("XDG_DOCUMENTS_DIR") + "/Korvel";
    ASSERT_TRUE(fs::exists(documents + "/.demo_version"));

    // Both demo libraries wait for their scans, and become palettes.
    std::vector<std::string> queued;
    for (const PendingLibraryFolder& folder : PendingLibraryFolders) queued.push_back(folder.path);
    std::ranges::sort(queued);
    EXPECT_EQ(queued, (std::vector<std::string>{documents + "/Libraries/" + kDemoAmbiencesLibrary,
                                                documents + "/Libraries/" + kDemoEffectsLibrary}));
    {
        Library scanned;
        ScanPendingFolders(scanned);
        ASSERT_EQ(scanned.palettes.size(), 2u);
        for (const Palette& palette : scanned.palettes) {
            EXPECT_GE(palette.files.size(), 9u) << palette.name << ": a file the scan could not analyse";
            SoundLibrary.palettes.push_back(palette);
        }
    }

    // The demo project is the one recent project, and opens with its sounds
    // found beside it.
    const std::string project = documents + "/Projects/" + kDemoProjectName + "/" + kDemoProjectName + ".kvproj";
    ASSERT_EQ(GlobalAppState.recentProjects, std::vector<std::string>{project});
    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(project));
    testing::internal::GetCapturedStdout();
    const Project& opened = CurrentProject;
    ASSERT_GE(opened.events.size(), 8u);
    for (const Event& event : opened.events) {
        for (const std::string& file : event.pinnedFiles) EXPECT_TRUE(fs::exists(file)) << file;
        if (event.pinnedFile[0] != '\0') {
            EXPECT_TRUE(fs::exists(event.pinnedFile)) << event.pinnedFile;
        }
    }

    // A full build finds sounds for every event by its keywords.
    test::ScopedBuildSeed seed;
    RenderRequest build;
    build.mode = kRenderBuild;
    build.full = true;
    RunRenderJob(build);
    ASSERT_TRUE(GlobalAppState.backgroundJob.done.load());
    for (std::size_t i = 0; i < opened.events.size(); ++i) {
        const auto layers = std::ranges::count_if(
            opened.results, [&](const LayerResult& layer) { return layer.eventIdx == static_cast<std::int32_t>(i); });
        EXPECT_GT(layers, 0) << "event " << i << " (" << opened.events[i].keywords << ") built nothing";
    }
    for (const LayerResult& layer : opened.results) EXPECT_FALSE(layer.isSketch) << layer.name;

    // The export thread's own preparation, then the stereo mixdown.
    RemapVoicesToResults();
    LoadPendingVoices(LivePlaybackEngine, opened.results);
    ExportWavOptions options;
    options.kind = ExportWavKind::Mix;
    options.baseName = kDemoProjectName;
    const std::string out = dir_.file("export");
    bool rolledBack = false;
    ASSERT_EQ(ExportWAV(out, opened.results, LivePlaybackEngine, 48000, opened.trackLayout, opened.totalDuration,
                        options, -1.0f, -1.0f, &rolledBack),
              1);
    EXPECT_FALSE(rolledBack);

    const MixFacts mix = ReadMix(out + "/" + kDemoProjectName + ".wav");
    EXPECT_EQ(mix.channels, 2);
    EXPECT_EQ(mix.rate, 48000);
    ASSERT_GE(mix.rmsPerSecond.size(), 19u);
    EXPECT_GT(mix.peakLeft, 0.05);
    EXPECT_GT(mix.peakRight, 0.05);
    // The two-second ambience loops (the bed's and the wind's) carry the
    // whole scene: no second of it falls silent.
    for (std::size_t s = 0; s + 1 < mix.rmsPerSecond.size(); ++s) {
        EXPECT_GT(mix.rmsPerSecond[s], 1e-4) << "second " << s;
    }
}

// The demo's Clip names the copy of its sound in the project's folder; the
// library holds the same content, and a save relinks the Clip to the path the
// file identities know. The timeline draws the Clip from the overview stored
// under its path, which must follow it.
TEST_F(DemoEndToEnd, ClipKeepsItsWaveformWhenASaveRelinksItsFile) {
    GlobalAppState.executableFolder = KORVEL_PROGRAM_FOLDER;
    InstallDemoContent(false);
    {
        Library scanned;
        ScanPendingFolders(scanned);
        ASSERT_EQ(scanned.palettes.size(), 2u);
        for (const Palette& palette : scanned.palettes) SoundLibrary.palettes.push_back(palette);
    }
    ASSERT_EQ(GlobalAppState.recentProjects.size(), 1u);
    const std::string project = GlobalAppState.recentProjects[0];
    ASSERT_TRUE(OpenProject(project));
    const auto clip = std::ranges::find_if(CurrentProject.events, [](const Event& event) {
        return IsKind(event.shape, EventKind::Clip) && event.pinnedFile[0] != '\0';
    });
    ASSERT_NE(clip, CurrentProject.events.end());
    const std::string opened(clip->pinnedFile);
    EXPECT_NE(FindWaveformOverview(opened), nullptr);

    ASSERT_TRUE(SaveProject(project));
    const std::string saved(clip->pinnedFile);
    EXPECT_NE(saved, opened) << "the save relinked the Clip to the library's copy";
    EXPECT_NE(FindWaveformOverview(saved), nullptr) << "the Clip at " << saved << " lost its waveform";
}

}  // namespace
}  // namespace korvel
