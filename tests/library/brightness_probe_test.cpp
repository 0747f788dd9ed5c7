#include "library/brightness_probe.h"

#include <gtest/gtest.h>

#include <cmath>

#include "library/library.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "support/audio_fixture.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

// The probe keeps process-wide state for the whole run; every test starts
// from an empty probe so that the tests also pass in one process.
class BrightnessProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        CurrentProject = Project();
        GlobalAppState.unsavedChanges = false;
        KnownBrightness.clear();
        PendingProbes.clear();
        {
            std::lock_guard<std::mutex> lock(ProbeResultsMutex);
            ProbeResults.clear();
        }
        nextProbeTime = 0.0;
    }
    void TearDown() override {
        StopBrightnessProbe();
        probeQuit.store(false);
        GlobalAppState.backgroundJob.active.store(false);
        SoundLibrary.palettes.clear();
        CurrentProject = Project();
    }

    std::string Sine(const std::string& name, double frequency) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(test::WriteSoundFile(path, test::MakeSine(frequency, 0.5, 44100), 1, 44100));
        return path;
    }

    static void WaitForProbe() {
        if (probeThread.joinable()) probeThread.join();
        EXPECT_FALSE(probeRunning.load());
    }

    static Event Bed(std::vector<std::string> files, std::vector<std::string> ids = {}) {
        Event event;
        event.shape = KindValue(EventKind::Bed);
        event.pinnedFiles = std::move(files);
        event.pinnedFileIds = std::move(ids);
        return event;
    }

    static Event Clip(const std::string& path, const std::string& id = "") {
        Event event;
        event.shape = KindValue(EventKind::Clip);
        CopyText(event.pinnedFile, path);
        event.pinnedFileId = id;
        return event;
    }

    test::TempDir dir_;
};

TEST_F(BrightnessProbeTest, LibraryBrightnessComesFirstAndWithoutAThread) {
    Palette palette;
    LibraryFile byPath;
    byPath.path = "/lib/door.wav";
    byPath.brightness = 1.7f;
    LibraryFile byId;
    byId.path = "/lib/other.wav";
    byId.fileId = "00000000000000aa";
    byId.brightness = 0.25f;
    palette.files = {byPath, byId};
    SoundLibrary.palettes.push_back(palette);

    EXPECT_FLOAT_EQ(GetFileBrightness("/lib/door.wav", "", &SoundLibrary.palettes), 1.0f);
    EXPECT_FLOAT_EQ(GetFileBrightness("/moved/x.wav", "00000000000000aa", &SoundLibrary.palettes), 0.25f);
    EXPECT_FLOAT_EQ(GetFileBrightness("/lib/door.wav", "", nullptr), -1.0f);
    EXPECT_FLOAT_EQ(GetFileBrightness("/nowhere.wav", "", &SoundLibrary.palettes), -1.0f);

    CurrentProject.events = {Clip("/lib/door.wav"), Clip("/moved/x.wav", "00000000000000aa")};
    EXPECT_TRUE(UpdateSourceWeights(10.0));
    EXPECT_FLOAT_EQ(CurrentProject.events[0].clipWeight, 1.0f);
    EXPECT_FLOAT_EQ(CurrentProject.events[1].clipWeight, 0.25f);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);
    EXPECT_FALSE(probeThread.joinable()) << "no file needed analysis";
}

TEST_F(BrightnessProbeTest, ProbeFillsClipAndBedWeightsOncePerKey) {
    const std::string low = Sine("low.wav", 150.0);
    const std::string high = Sine("high.wav", 6000.0);
    const std::string notAudio = dir_.file("notes.wav");
    ASSERT_TRUE(test::WriteBytes(notAudio, "not audio"));

    // Two bed layers share one identity; a third entry has no file yet; the
    // weights list is longer than the files and is cut to them.
    Event bed = Bed({low, dir_.file("elsewhere/low.wav"), dir_.file("later.wav")}, {"00000000000000bb", "00000000000000bb"});
    bed.bedLayerWeight = {-1.0f, -1.0f, -1.0f, 0.9f};
    Event measured = Bed({high});
    measured.bedLayerWeight = {0.0f};  // 0 is a known value: never probed
    CurrentProject.events = {bed, Clip(high), Clip(notAudio), measured};

    EXPECT_FALSE(UpdateSourceWeights(5.0)) << "nothing known yet: only queued";
    EXPECT_EQ(PendingProbes.size(), 3u) << "one key per identity or path that exists";
    EXPECT_EQ(CurrentProject.events[0].bedLayerWeight.size(), 3u);
    WaitForProbe();

    EXPECT_TRUE(UpdateSourceWeights(5.1));
    const Event& bedAfter = CurrentProject.events[0];
    ASSERT_EQ(bedAfter.bedLayerWeight.size(), 3u);
    EXPECT_GE(bedAfter.bedLayerWeight[0], 0.0f);
    EXPECT_EQ(bedAfter.bedLayerWeight[1], bedAfter.bedLayerWeight[0]) << "same identity, same result";
    EXPECT_EQ(bedAfter.bedLayerWeight[2], -1.0f) << "a missing file stays unknown";
    const float highWeight = CurrentProject.events[1].clipWeight;
    EXPECT_GT(highWeight, bedAfter.bedLayerWeight[0]) << "a 6 kHz tone is brighter than 150 Hz";
    EXPECT_LE(highWeight, 1.0f);
    EXPECT_EQ(CurrentProject.events[2].clipWeight, 0.5f) << "an unreadable file gets 0.5";
    EXPECT_EQ(CurrentProject.events[3].bedLayerWeight[0], 0.0f);
    EXPECT_TRUE(GlobalAppState.unsavedChanges);

    // A later event with a probed key takes the known value at the next pass.
    CurrentProject.events.push_back(Clip(high));
    EXPECT_TRUE(UpdateSourceWeights(7.2));
    EXPECT_EQ(CurrentProject.events[4].clipWeight, highWeight);
    EXPECT_FALSE(probeThread.joinable() && probeRunning.load());

    // Once the missing file appears it is queued on the next pass.
    ASSERT_TRUE(test::WriteSoundFile(dir_.file("later.wav"), test::MakeSine(440.0, 0.5, 44100), 1, 44100));
    UpdateSourceWeights(9.3);
    EXPECT_EQ(PendingProbes.size(), 4u);
    WaitForProbe();
    UpdateSourceWeights(9.4);
    EXPECT_GE(CurrentProject.events[0].bedLayerWeight[2], 0.0f);
}

TEST_F(BrightnessProbeTest, PausesWhileABackgroundJobRuns) {
    const std::string tone = Sine("tone.wav", 1000.0);
    CurrentProject.events = {Clip(tone)};
    GlobalAppState.backgroundJob.active.store(true);
    EXPECT_FALSE(UpdateSourceWeights(1.0));
    EXPECT_TRUE(PendingProbes.empty()) << "no probe starts during a job";

    GlobalAppState.backgroundJob.active.store(false);
    UpdateSourceWeights(2.0);
    WaitForProbe();
    GlobalAppState.backgroundJob.active.store(true);
    EXPECT_FALSE(UpdateSourceWeights(2.1));
    EXPECT_LT(CurrentProject.events[0].clipWeight, 0.0f) << "results wait until the job ends";
    {
        std::lock_guard guard(ProbeResultsMutex);
        EXPECT_EQ(ProbeResults.size(), 1u);
    }
    GlobalAppState.backgroundJob.active.store(false);
    EXPECT_TRUE(UpdateSourceWeights(2.2));
    EXPECT_GE(CurrentProject.events[0].clipWeight, 0.0f);
}

TEST_F(BrightnessProbeTest, QueueingPassesAreTwoSecondsApart) {
    CurrentProject.events = {Clip(dir_.file("late.wav"))};
    UpdateSourceWeights(1.0);
    ASSERT_TRUE(test::WriteSoundFile(dir_.file("late.wav"), test::MakeSine(500.0, 0.5, 44100), 1, 44100));
    UpdateSourceWeights(2.9);
    EXPECT_TRUE(PendingProbes.empty());
    UpdateSourceWeights(3.0);
    EXPECT_EQ(PendingProbes.size(), 1u);
    WaitForProbe();
}

TEST_F(BrightnessProbeTest, QuitStopsBeforeTheNextFile) {
    probeQuit.store(true);
    BrightnessProbeThread({{"a", Sine("a.wav", 300.0)}, {"b", Sine("b.wav", 300.0)}});
    EXPECT_FALSE(probeRunning.load());
    std::lock_guard guard(ProbeResultsMutex);
    EXPECT_TRUE(ProbeResults.empty());
}

}  // namespace
}  // namespace korvel
