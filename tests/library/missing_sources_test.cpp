#include "library/missing_sources.h"

#include <gtest/gtest.h>

#include <string>

#include "library/library.h"
#include "project/app_state.h"
#include "project/fixed_text.h"
#include "project/project.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

// The scan resolves through the process-wide registry, so every test uses
// ids of its own: an id the registry has not seen is registered under the
// project's path, and a missing file there makes it missing.
class MissingSourcesTest : public ::testing::Test {
protected:
    static FileId Id(const std::string& test, int n) {
        std::string id = test + std::to_string(n);
        id.resize(16, '0');
        return id;
    }

    static LayerResult Layer(int32_t event, const FileId& id, const std::string& path) {
        LayerResult layer;
        layer.eventIdx = event;
        layer.fileId = id;
        layer.filepath = path;
        return layer;
    }

    test::TempDir dir_;
};

TEST_F(MissingSourcesTest, OneRowPerIdentityWithReadableNames) {
    const FileId door = Id("a1", 1), rain = Id("a1", 2), nameless = Id("a1", 3), banned = Id("a1", 4),
                 here = Id("a1", 5), alloy = Id("a1", 6), unpinned = Id("a1", 7);
    ASSERT_TRUE(test::WriteBytes(dir_.file("here.wav"), "present"));

    Project project;
    project.events.resize(3);
    // Three layers of event 0 and its pinned files use `door`: one event.
    project.results.push_back(Layer(0, door, "C:\\Sounds\\Doors\\Door Slam.wav"));
    project.results.push_back(Layer(0, door, "C:\\Sounds\\Doors\\Door Slam.wav"));
    project.results.push_back(Layer(0, door, "C:\\Sounds\\Doors\\Door Slam.wav"));
    project.events[0].pinnedFiles = {"C:\\Sounds\\Doors\\Door Slam.wav", "/sfx/rain.wav"};
    project.events[0].pinnedFileIds = {door, rain};
    project.events[2].pinnedFiles = {"/sfx/rain.wav"};
    project.events[2].pinnedFileIds = {rain};
    project.results.push_back(Layer(1, nameless, ""));
    project.results.push_back(Layer(1, here, dir_.file("here.wav")));
    // Alloy sources count only on alloy layers.
    LayerResult mixed = Layer(1, "", "");
    mixed.alloyMid.fileId = alloy;
    mixed.alloyMid.filepath = "/sfx/alloy.wav";
    project.results.push_back(mixed);
    // A pinned file counts only while the event uses it.
    CopyText(project.events[1].pinnedFile, "/sfx/unpinned.wav");
    project.events[1].pinnedFileId = unpinned;
    project.bannedFiles = {"/sfx/banned.wav"};
    project.bannedFileIds = {banned};

    const std::vector<MissingSource> rows = FindMissingSources(project, Library());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].name, "(unknown file)");
    EXPECT_EQ(rows[0].fileId, nameless);
    EXPECT_EQ(rows[0].lastKnownPath, "");
    EXPECT_EQ(rows[1].name, "Door Slam.wav");
    EXPECT_EQ(rows[1].lastKnownPath, "C:\\Sounds\\Doors\\Door Slam.wav");
    EXPECT_EQ(rows[1].eventCount, 1);
    EXPECT_EQ(rows[2].name, "rain.wav");
    EXPECT_EQ(rows[2].eventCount, 2);

    // Turning on the alloy and the pinned file brings their identities in.
    project.results.back().procMode = 3;
    project.events[1].usePinnedFile = true;
    EXPECT_EQ(FindMissingSources(project, Library()).size(), 5u);
}

TEST_F(MissingSourcesTest, PaletteCountsAndNothingWhenAllResolve) {
    const FileId shared = Id("b2", 1), single = Id("b2", 2);
    Project project;
    project.events.resize(1);
    project.results.push_back(Layer(0, shared, "/gone/shared.wav"));
    project.results.push_back(Layer(0, single, "/gone/single.wav"));

    Library library;
    library.palettes.resize(3);
    LibraryFile file;
    file.fileId = shared;
    library.palettes[0].files = {file, file};  // twice in one palette counts once
    library.palettes[1].files = {file};
    file.fileId = Id("b2", 9);
    library.palettes[2].files = {file};

    const std::vector<MissingSource> rows = FindMissingSources(project, library);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "shared.wav");
    EXPECT_EQ(rows[0].paletteCount, 2);
    EXPECT_EQ(rows[1].paletteCount, 0);

    ASSERT_TRUE(test::WriteBytes(dir_.file("ok.wav"), "ok"));
    Project fine;
    fine.results.push_back(Layer(0, Id("b2", 3), dir_.file("ok.wav")));
    EXPECT_TRUE(FindMissingSources(fine, library).empty());
}

TEST_F(MissingSourcesTest, ScanRunsEveryTwoSecondsUnlessForced) {
    const Project saved = CurrentProject;
    CurrentProject = Project();
    CurrentProject.results.push_back(Layer(0, Id("c3", 1), "/gone/one.wav"));

    ScanMissingSources(false, 1000.0);
    ASSERT_EQ(GlobalAppState.MissingSources.size(), 1u);

    CurrentProject.results.push_back(Layer(0, Id("c3", 2), "/gone/two.wav"));
    ScanMissingSources(false, 1001.0);
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 1u) << "within 2 seconds nothing is scanned";
    ScanMissingSources(true, 1001.5);
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 2u) << "forced scans run at once";

    CurrentProject.results.clear();
    ScanMissingSources(false, 1003.0);
    EXPECT_EQ(GlobalAppState.MissingSources.size(), 2u) << "the forced scan moved the next one to 1003.5";
    ScanMissingSources(false, 1003.5);
    EXPECT_TRUE(GlobalAppState.MissingSources.empty());

    CurrentProject = saved;
}

}  // namespace
}  // namespace korvel
