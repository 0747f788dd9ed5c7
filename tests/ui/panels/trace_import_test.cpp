// The trace tab's decisions and imports, headless: counting at the
// threshold, the tab's states, the source pills, the project's temporary
// lengthening, the marker import through the real reader, and the import of
// suggestions and markers as events.
#include "ui/panels/trace_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"
#include "trace_fixture.h"

namespace korvel {
namespace {

using test::Detection;
using test::MakeRead;
using test::Marker;
using test::Recipe;

class TraceImportTest : public ::testing::Test {
protected:
    test::TraceReviewState review;
    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// [SECTION] Counting

TEST(TraceCounting, ThresholdFollowsTheDetailAndTheLineMapsBack) {
    struct Case {
        const char* name;
        float detail;
        float threshold;
    };
    const Case cases[] = {
        {"the default", 0.35f, 0.359125f},
        {"full detail stops at the floor", 1.0f, 0.15f},
        {"no detail", 0.0f, 0.85f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(TraceCountThreshold(c.detail), c.threshold, 1e-5f);
    }
    // The line dragged to the bottom and to the top of the area.
    EXPECT_NEAR(OpticalDetailForLevel(0.0f), 1.0f - std::sqrt(0.15f / 0.85f), 1e-5f);
    EXPECT_NEAR(TraceCountThreshold(OpticalDetailForLevel(0.0f)), 0.15f, 1e-5f);
    EXPECT_NEAR(OpticalDetailForLevel(1.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(TraceCountThreshold(OpticalDetailForLevel(1.0f)), 0.85f, 1e-5f);
    // Any level in between comes back as the same threshold.
    EXPECT_NEAR(TraceCountThreshold(OpticalDetailForLevel(0.5f)), 0.5f, 1e-5f);
}

TEST(TraceCounting, ShotsNeverCountAndPeelLayersNeedMore) {
    struct Case {
        const char* name;
        float intensity;
        int peel;
        int tier;
        bool counts;
    };
    const Case cases[] = {
        {"a first-layer peak above the default", 0.4f, 0, 0, true},
        {"just at the default threshold", 0.359125f, 0, 0, true},
        {"below it", 0.35f, 0, 0, false},
        {"peel layer 2 halves a 0.5 intensity", 0.5f, 2, 0, false},
        {"peel layer 2 with twice the intensity", 0.75f, 2, 0, true},
        {"a full-strength shot", 1.0f, 0, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DetectionCounts(Detection(1.0f, c.intensity, c.peel, c.tier), TraceCountThreshold(0.35f)), c.counts);
    }
}

TEST_F(TraceImportTest, SuggestionListFollowsTheFilterAndCountsOnlyChosenOnes) {
    MakeRead(100);
    s.traceAnalysis.events = {Detection(3.0f, 0.9f), Detection(1.0f, 0.9f, 0, 0, false), Detection(2.0f, 0.1f),
                              Detection(4.0f, 1.0f, 0, 2)};
    s.markerEvents = {Marker(2.5f), Marker(0.5f, false)};
    struct Case {
        const char* name;
        std::int32_t filter;
        std::vector<float> times;
        std::int32_t importable;
    };
    const Case cases[] = {
        {"both sources, by time", -1, {0.5f, 1.0f, 2.5f, 3.0f}, 2},
        {"picture only", 0, {1.0f, 3.0f}, 1},
        {"markers only", 1, {0.5f, 2.5f}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.traceSourceFilter = c.filter;
        const auto list = BuildSuggestionList(s);
        std::vector<float> times;
        for (const auto& entry : list) times.push_back(entry.time);
        EXPECT_EQ(times, c.times);
        EXPECT_EQ(CountImportable(s, list), c.importable);
    }
    EXPECT_EQ(CountCountingDetections(s), 2) << "the weak one and the shot never count";
    s.traceRunning.store(true);
    EXPECT_EQ(CountCountingDetections(s), 0) << "a read still running has no suggestions to count";
    EXPECT_EQ(BuildSuggestionList(s).size(), 2u);
}

// [SECTION] States and sources

TEST_F(TraceImportTest, FourStates) {
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::Intro);
    s.traceRunning.store(true);
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::Reading);
    s.markerEvents = {Marker(1.0f)};
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::Review) << "markers are reviewed while a read runs";
    s.markerEvents.clear();
    s.traceRunning.store(false);
    MakeRead(50);
    s.traceAnalysis.events = {Detection(1.0f, 0.2f), Detection(2.0f, 1.0f, 0, 2)};
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::NothingFound);
    s.opticalDetail = 1.0f;  // the threshold drops to 0.15: the weak one counts now
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::Review);
    s.opticalDetail = 0.35f;
    s.markerEvents = {Marker(1.0f)};
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::Review);
}

TEST_F(TraceImportTest, PillsChangeTheFilter) {
    struct Case {
        const char* name;
        bool picture;
        bool markers;
        bool video;
        bool pictureClick;  // else the markers pill
        std::int32_t before;
        std::int32_t after;
        bool asksForMore;  // the dialog or the marker import
    };
    const Case cases[] = {
        {"both: hide the picture", true, true, false, true, -1, 1, false},
        {"both: show the hidden picture", true, true, false, true, 1, -1, false},
        {"both: the picture stays while the markers are hidden", true, true, false, true, 0, 0, false},
        {"both: hide the markers", true, true, false, false, -1, 0, false},
        {"both: show the hidden markers", true, true, false, false, 0, -1, false},
        {"both: the markers stay while the picture is hidden", true, true, false, false, 1, 1, false},
        {"no read, no video: the picture pill asks for one", false, true, false, true, -1, -1, true},
        {"no read but a video: nothing to do", false, true, true, true, -1, -1, false},
        {"no markers: the markers pill imports", true, false, false, false, -1, -1, true},
        {"markers only: the markers pill does nothing", false, true, false, false, -1, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TraceReviewState::Reset();
        if (c.picture) MakeRead(20);
        if (c.markers) s.markerEvents = {Marker(1.0f)};
        s.traceSourceFilter = c.before;
        const bool asks = c.pictureClick ? ClickPicturePill(s, c.video) : ClickMarkersPill(s);
        EXPECT_EQ(s.traceSourceFilter, c.after);
        EXPECT_EQ(asks, c.asksForMore);
    }
}

TEST_F(TraceImportTest, ClearingASourceForgetsItsReviewState) {
    MakeRead(20);
    s.traceAnalysis.events = {Detection(1.0f, 0.9f)};
    s.markerEvents = {Marker(1.0f)};
    s.markerScenes.resize(1);
    s.markerSourcePath = "/a/b.txt";
    s.selectedDetections = {0};
    s.selectedMarkers = {0};
    s.traceMenuDetections = {0};
    s.traceMenuMarkers = {0};
    s.traceImportRequested = true;
    s.activeTraceMarkerKind = 0;
    s.activeTraceMarkerIndex = 0;
    s.traceSourceFilter = 0;

    ClearPictureSource(s);
    EXPECT_FALSE(s.traceAnalysis.valid);
    EXPECT_TRUE(s.traceAnalysis.events.empty());
    EXPECT_TRUE(s.selectedDetections.empty());
    EXPECT_TRUE(s.traceMenuDetections.empty());
    EXPECT_FALSE(s.traceImportRequested);
    EXPECT_EQ(s.activeTraceMarkerIndex, -1);
    EXPECT_EQ(s.traceSourceFilter, -1) << "a picture-only filter would hide everything left";
    EXPECT_EQ(s.selectedMarkers, std::vector<std::int32_t>{0}) << "the markers' review stays";

    // The markers had lengthened the project: clearing them gives it back.
    p.totalDuration = 10.0f;
    s.markerEvents = {Marker(20.0f)};
    ExtendProjectForImport(s, p);
    s.traceSourceFilter = 1;
    ClearMarkerSource(s, p);
    EXPECT_TRUE(s.markerEvents.empty());
    EXPECT_TRUE(s.markerScenes.empty());
    EXPECT_TRUE(s.markerSourcePath.empty());
    EXPECT_TRUE(s.selectedMarkers.empty());
    EXPECT_TRUE(s.traceMenuMarkers.empty());
    EXPECT_EQ(s.traceSourceFilter, -1);
    EXPECT_FLOAT_EQ(p.totalDuration, 10.0f);
}

// [SECTION] Import extent

TEST_F(TraceImportTest, ExtendingAndRestoringTheProject) {
    p.totalDuration = 10.0f;
    s.viewStart = 2.0f;
    s.viewEnd = 6.0f;
    MakeRead(20);
    s.traceAnalysis.events = {Detection(12.0f, 0.9f)};  // ends at 13
    ExtendProjectForImport(s, p);
    EXPECT_FLOAT_EQ(p.totalDuration, 14.0f);
    EXPECT_FLOAT_EQ(s.viewStart, 0.0f);
    EXPECT_FLOAT_EQ(s.viewEnd, 14.0f);

    s.markerEvents = {Marker(20.0f)};  // ends at 23: the first saved values stay
    ExtendProjectForImport(s, p);
    EXPECT_FLOAT_EQ(p.totalDuration, 24.0f);
    EXPECT_FLOAT_EQ(s.savedProjectDuration, 10.0f);

    RestoreViewAfterImport(s, p);
    EXPECT_FLOAT_EQ(p.totalDuration, 10.0f);
    EXPECT_FLOAT_EQ(s.viewStart, 2.0f);
    EXPECT_FLOAT_EQ(s.viewEnd, 6.0f);
    EXPECT_FLOAT_EQ(s.savedProjectDuration, -1.0f);
    RestoreViewAfterImport(s, p);  // nothing saved: nothing changes
    EXPECT_FLOAT_EQ(p.totalDuration, 10.0f);

    // Within the project nothing is saved or moved.
    s.markerEvents = {Marker(2.0f)};
    s.traceAnalysis.events.clear();
    ExtendProjectForImport(s, p);
    EXPECT_FLOAT_EQ(p.totalDuration, 10.0f);
    EXPECT_FLOAT_EQ(s.savedProjectDuration, -1.0f);
}

TEST_F(TraceImportTest, AnImportMakesTheExtensionPermanent) {
    p.totalDuration = 10.0f;
    s.markerEvents = {Marker(20.0f)};
    TraceTabFrameSteps(s, p);  // the first frame with sources lengthens the project
    EXPECT_FLOAT_EQ(p.totalDuration, 24.0f);
    EXPECT_EQ(ImportTraceSuggestions(s, p), 1);
    s.markerEvents.clear();
    TraceTabFrameSteps(s, p);  // the first frame without sources
    EXPECT_GE(p.totalDuration, 23.0f) << "the imported event keeps its project";

    // Without an import the same round trip gives the project back.
    test::TraceReviewState::Reset();
    p.totalDuration = 10.0f;
    s.markerEvents = {Marker(20.0f)};
    TraceTabFrameSteps(s, p);
    s.markerEvents.clear();
    TraceTabFrameSteps(s, p);
    EXPECT_FLOAT_EQ(p.totalDuration, 10.0f);
}

TEST_F(TraceImportTest, FrameStepsWaitForTheEditGuard) {
    p.totalDuration = 10.0f;
    s.markerEvents = {Marker(20.0f), Marker(2.0f)};
    s.traceMenuMarkers = {1};
    s.traceImportRequested = true;
    s.hoveredMarker = 1;
    s.exportRunning.store(true);
    TraceTabFrameSteps(s, p);
    EXPECT_EQ(s.hoveredMarker, -1) << "the hover is cleared every frame";
    EXPECT_TRUE(p.events.empty()) << "no event is added while an export reads the project";
    EXPECT_TRUE(s.traceImportRequested) << "the request waits";
    EXPECT_FLOAT_EQ(p.totalDuration, 10.0f);
    EXPECT_EQ(ImportTraceSuggestions(s, p), 0) << "the button's import waits as well";

    s.exportRunning.store(false);
    TraceTabFrameSteps(s, p);
    EXPECT_FALSE(s.traceImportRequested);
    ASSERT_EQ(p.events.size(), 1u);
    EXPECT_FLOAT_EQ(p.events[0].time, 2.0f);
    EXPECT_TRUE(s.unsavedChanges);
    EXPECT_GE(p.totalDuration, 24.0f);
}

// [SECTION] Marker import

TEST_F(TraceImportTest, MarkerImportFromTheDialog) {
    test::TempDir dir;
    const std::string path = dir.file("Reel 2 take 3.txt");
    ASSERT_TRUE(test::WriteBytes(
        path,
        "SAMPLE RATE:\t48000.000000\nTIMECODE FORMAT:\t25 Frame\n\nM A R K E R S  L I S T I N G\n"
        "#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME                             \tCOMMENTS\n"
        "1   \t00:00:01:00  \t48000             \tSamples  \tDoor slam, spot high metal       \t\n"
        "2   \t00:00:05:00  \t240000            \tSamples  \tscene, Kitchen, morning light    \tquiet\n"
        "3   \t00:01:10:00  \t3360000           \tSamples  \tWhoosh                           \t\n"));
    std::string askedTitle, askedExtension;
    s.platformHooks.openFileDialog = [&](const std::string& title, const std::string& extension) {
        askedTitle = title;
        askedExtension = extension;
        return path;
    };
    p.totalDuration = 30.0f;
    s.traceSourceFilter = 0;
    ImportTraceMarkersWithDialog(s, p);
    EXPECT_EQ(askedTitle, "Import Pro Tools Session Text");
    EXPECT_EQ(askedExtension, "txt");
    ASSERT_EQ(s.markerEvents.size(), 2u);
    ASSERT_EQ(s.markerScenes.size(), 1u);
    EXPECT_EQ(s.markerSourcePath, path);
    EXPECT_EQ(s.traceSourceFilter, -1);
    EXPECT_FLOAT_EQ(p.totalDuration, 71.0f + 3.0f) << "the last marker ends at 73 s";

    // A session text without markers leaves the list empty (the pill unlit).
    const std::string empty = dir.file("empty.txt");
    ASSERT_TRUE(test::WriteBytes(empty, "SAMPLE RATE:\t48000.000000\n"));
    s.platformHooks.openFileDialog = [&](const std::string&, const std::string&) { return empty; };
    s.traceSourceFilter = 0;
    ImportTraceMarkersWithDialog(s, p);
    EXPECT_TRUE(s.markerEvents.empty());
    EXPECT_EQ(s.traceSourceFilter, 0);

    // A file that is not a session text says so; a row without a usable
    // time is counted.
    const std::string notes = dir.file("notes.txt");
    ASSERT_TRUE(test::WriteBytes(notes, "Reel 2 notes\n1\tdoor\t\t\t\n"));
    s.platformHooks.openFileDialog = [&](const std::string&, const std::string&) { return notes; };
    ImportTraceMarkersWithDialog(s, p);
    EXPECT_TRUE(s.markerEvents.empty());
    EXPECT_EQ(s.statusMessage, "Error: not a Pro Tools session text: notes.txt");
    ASSERT_TRUE(test::WriteBytes(
        notes, "SAMPLE RATE:\t48000.000000\nM A R K E R S  L I S T I N G\n#\tLOCATION\tTIME REFERENCE\tUNITS\tNAME\n"
               "1\t29|1\t48000\tSamples\tDoor\n2\t58|4\t58|4\tTicks\tBars only\n"));
    ImportTraceMarkersWithDialog(s, p);
    EXPECT_EQ(s.markerEvents.size(), 1u);
    EXPECT_EQ(s.statusMessage, "Imported 1 marker; 1 row skipped (no usable time)");

    // A cancelled dialog changes nothing.
    s.markerEvents = {Marker(1.0f)};
    s.platformHooks.openFileDialog = [](const std::string&, const std::string&) { return std::string(); };
    ImportTraceMarkersWithDialog(s, p);
    EXPECT_EQ(s.markerEvents.size(), 1u);
}

TEST_F(TraceImportTest, ARealProToolsExportReadsIntoReviewableMarkers) {
    const char* data = std::getenv("KORVEL_TEST_DATA");
    if (data == nullptr) GTEST_SKIP() << "KORVEL_TEST_DATA is set by ctest";
    const std::string path =
        std::string(data) + "/session-texts/SessionText_OneOfEverything_23-976fps_DefaultExportOptions_PT2020.3.txt";
    ImportTraceMarkers(s, p, path);
    ASSERT_FALSE(s.markerEvents.empty());
    for (const MarkerEvent& m : s.markerEvents) EXPECT_TRUE(m.enabled);
    EXPECT_EQ(DecideTraceTabState(s), TraceTabState::Review);
    EXPECT_EQ(ImportTraceSuggestions(s, p), static_cast<std::int32_t>(s.markerEvents.size()));
    // The folder is the file's name, cut to the field.
    EXPECT_EQ(std::string(p.events[0].folder), std::string("Markers: SessionText_OneOfEverything_23-976fps_DefaultExportOptions").substr(0, 63));
}

// [SECTION] Importing events

TEST_F(TraceImportTest, SampleTraceCurveSurvivesBadFrameTimes) {
    struct Case {
        const char* name;
        std::vector<float> times;
        std::vector<float> expected;  // 5 samples over [0, 0.4]
    };
    const Case cases[] = {
        {"regular frames", {0.0f, 0.1f, 0.2f, 0.3f, 0.4f}, {0, 1, 2, 3, 4}},
        {"equal times read at the read's rate", {0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, {0, 1, 2, 3, 4}},
        {"reversed times read at the read's rate", {0.4f, 0.3f, 0.2f, 0.1f, 0.0f}, {0, 1, 2, 3, 4}},
        {"one frame reads all 1", {0.0f}, {1, 1, 1, 1, 1}},
        {"no frames read all 1", {}, {1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceAnalysis a;
        a.fps = 10.0f;
        for (std::size_t i = 0; i < c.times.size(); ++i) {
            FrameMeasures f;
            f.time = c.times[i];
            f.composite = static_cast<float>(i);
            a.frames.push_back(f);
        }
        float out[5];
        SampleTraceCurve(a, 0.0f, 0.4f, out, 5);
        for (int j = 0; j < 5; ++j) EXPECT_NEAR(out[j], c.expected[static_cast<std::size_t>(j)], 1e-6f) << j;
    }
    // Far past the end and before the start the index stays on the frames.
    TraceAnalysis a;
    a.fps = 0.0f;
    a.frames.resize(3);
    a.frames[2].composite = 7.0f;
    a.frames[0].composite = 5.0f;
    float out[2];
    SampleTraceCurve(a, 1.0e30f, 2.0e30f, out, 2);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[1], 7.0f);
    SampleTraceCurve(a, -1.0e30f, -1.0e30f, out, 2);
    EXPECT_EQ(out[0], 5.0f);
}

TEST_F(TraceImportTest, FolderNames) {
    EXPECT_EQ(MarkerFolderName("/any/where/Reel 2 take 3.txt"), "Markers: Reel 2 take 3");
    EXPECT_EQ(MarkerFolderName(""), "Markers");
    EXPECT_EQ(NextPictureFolderName(p), "Picture: Import 1");
    MakeRead(50);
    s.traceAnalysis.events = {Detection(1.0f, 0.9f)};
    ImportTraceSuggestions(s, p);
    ImportTraceSuggestions(s, p);
    ASSERT_EQ(p.events.size(), 2u);
    EXPECT_STREQ(p.events[0].folder, "Picture: Import 1");
    EXPECT_STREQ(p.events[1].folder, "Picture: Import 2") << "the suggestions stay and import again";
}

TEST_F(TraceImportTest, ImportTable) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::function<void()> check;
    };
    AppState& st = s;
    Project& pr = p;
    const Case cases[] = {
        {"the work area on the timeline with a video offset",
         [&] {
             MakeRead(100);
             GlobalVideoPlayer.timelineOffset = 5.0f;
             st.workAreaIn = 10.0f;
             st.workAreaOut = 20.0f;
             st.traceAnalysis.events = {Detection(3.0f, 0.9f), Detection(6.0f, 0.9f)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             EXPECT_FLOAT_EQ(pr.events[0].time, 11.0f);
         }},
        {"Spot gains relative to the strongest local composite",
         [&] {
             MakeRead(100, [](int i) { return i == 20 ? 0.2f : i == 50 ? 0.8f : 0.0f; });
             st.traceAnalysis.events = {Detection(2.0f, 0.9f), Detection(5.0f, 0.9f)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 2u);
             EXPECT_NEAR(pr.events[0].gain, 0.25f, 1e-5f);
             EXPECT_NEAR(pr.events[1].gain, 1.0f, 1e-5f);
             EXPECT_EQ(pr.events[0].shape, KindValue(EventKind::Spot));
             EXPECT_TRUE(pr.events[0].hasTraceGain);
             const float peak = *std::max_element(pr.events[0].traceGain.begin(), pr.events[0].traceGain.end());
             EXPECT_FLOAT_EQ(peak, 1.0f) << "the trace-gain curve is normalised";
             EXPECT_FLOAT_EQ(pr.events[0].weightCenter, 0.6f);
             EXPECT_FLOAT_EQ(pr.events[0].spread, 0.2f);
             EXPECT_FLOAT_EQ(pr.events[0].duration, 1.0f);
         }},
        {"a flat picture gives no trace-gain curve and the floor gain",
         [&] {
             MakeRead(100, [](int) { return 0.0f; });
             st.traceAnalysis.events = {Detection(2.0f, 0.9f)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             EXPECT_FALSE(pr.events[0].hasTraceGain);
             EXPECT_FLOAT_EQ(pr.events[0].gain, 0.1f);
         }},
        {"equal frame times from a file still give a finite curve",
         [&] {
             MakeRead(100, [](int i) { return 0.1f + 0.01f * static_cast<float>(i); });
             for (auto& f : st.traceAnalysis.frames) f.time = 0.0f;
             st.traceAnalysis.events = {Detection(2.0f, 0.9f)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             for (float v : pr.events[0].traceGain) ASSERT_TRUE(std::isfinite(v));
         }},
        {"unaccepted, weak and shot suggestions stay out",
         [&] {
             MakeRead(100);
             st.traceAnalysis.events = {Detection(1.0f, 0.9f, 0, 0, false), Detection(2.0f, 0.2f),
                                        Detection(3.0f, 1.0f, 0, 2, true), Detection(4.0f, 0.9f)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             EXPECT_FLOAT_EQ(pr.events[0].time, 4.0f);
         }},
        {"a non-Spot recipe imports Blooms with the suggestion's intensity curve",
         [&] {
             MakeRead(100);
             RecipeList = {Recipe("Swell", EventKind::Bloom, 0.7f)};
             ChooseTraceRecipe(st, 0);
             TraceDetection d = Detection(2.0f, 0.9f);
             d.hasIntensityCurve = true;
             d.intensityCurve.fill(0.25f);
             st.traceAnalysis.events = {d};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             EXPECT_EQ(pr.events[0].shape, KindValue(EventKind::Bloom));
             EXPECT_FALSE(pr.events[0].hasTraceGain) << "only Spot imports take the picture's gain";
             EXPECT_STREQ(pr.events[0].presetName, "Swell");
             EXPECT_FLOAT_EQ(pr.events[0].time, 2.0f) << "the recipe keeps the suggestion's time";
         }},
        {"the recipe named by the suggestion, else the chosen one, else none",
         [&] {
             MakeRead(100);
             RecipeList = {Recipe("Chosen", EventKind::Spot), Recipe("Named", EventKind::Spot)};
             traceRecipeIndex = 0;
             TraceDetection named = Detection(1.0f, 0.9f);
             CopyText(named.presetName, "Named");
             TraceDetection gone = Detection(2.0f, 0.9f);
             CopyText(gone.presetName, "Deleted since");
             TraceDetection plain = Detection(3.0f, 0.9f);
             CopyText(plain.presetName, "named");  // the match is exact
             st.traceAnalysis.events = {named, gone, plain};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 3u);
             EXPECT_STREQ(pr.events[0].presetName, "Named");
             EXPECT_STREQ(pr.events[1].presetName, "Chosen");
             EXPECT_STREQ(pr.events[2].presetName, "Chosen");
         }},
        {"a chosen recipe that no longer exists applies none",
         [&] {
             MakeRead(100);
             traceRecipeIndex = 4;
             st.traceAnalysis.events = {Detection(1.0f, 0.9f)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             EXPECT_STREQ(pr.events[0].presetName, "");
         }},
        {"markers: their values, the file's folder and the recipe choice's keywords",
         [&] {
             st.markerSourcePath = "/x/Reel 2 take 3.txt";
             CopyText(st.traceRecipeKeywords, "rain");
             MarkerEvent a = Marker(4.0f);
             a.kind = KindValue(EventKind::Bloom);
             a.duration = 2.0f;
             a.gain = 0.5f;
             a.spread = 0.4f;
             a.syncFraction = 0.25f;
             a.weightCenter = 0.9f;
             CopyText(a.keywords, "door");
             st.markerEvents = {a, Marker(6.0f), Marker(8.0f, false)};
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 2u);
             const Event& e = pr.events[0];
             EXPECT_STREQ(e.folder, "Markers: Reel 2 take 3");
             EXPECT_EQ(e.shape, KindValue(EventKind::Bloom));
             EXPECT_FLOAT_EQ(e.duration, 2.0f);
             EXPECT_FLOAT_EQ(e.gain, 0.5f);
             EXPECT_FLOAT_EQ(e.spread, 0.4f);
             EXPECT_FLOAT_EQ(e.syncOffset, 0.5f);
             EXPECT_FLOAT_EQ(e.weightCenter, 0.9f);
             EXPECT_STREQ(e.keywords, "door");
             EXPECT_STREQ(pr.events[1].keywords, "rain");
             EXPECT_FLOAT_EQ(pr.events[1].gain, 1.0f);
             EXPECT_EQ(st.traceRecipeKeywords[0], '\0') << "cleared after the import";
         }},
        {"the picture hidden: markers only",
         [&] {
             MakeRead(100);
             st.traceAnalysis.events = {Detection(1.0f, 0.9f)};
             st.markerEvents = {Marker(2.0f)};
             st.traceSourceFilter = 1;
         },
         [&] {
             ASSERT_EQ(pr.events.size(), 1u);
             EXPECT_FLOAT_EQ(pr.events[0].time, 2.0f);
         }},
        {"scenes from markers, and the duration grown to the last event",
         [&] {
             pr.totalDuration = 30.0f;
             MarkerScene late{.time = 20.0f};
             CopyText(late.name, "Street");
             MarkerScene early{.time = 5.0f};
             CopyText(early.name, "Kitchen");
             CopyText(early.text, "morning light quiet");
             st.markerScenes = {late, early};
             MarkerEvent m = Marker(40.0f);
             m.duration = 3.0f;
             st.markerEvents = {m};
             st.savedProjectDuration = st.savedViewStart = st.savedViewSpan = 10.0f;
         },
         [&] {
             ASSERT_EQ(pr.scenes.size(), 2u);
             EXPECT_STREQ(pr.scenes[0].name, "Kitchen");
             EXPECT_STREQ(pr.scenes[0].keywords, "morning light quiet");
             EXPECT_FLOAT_EQ(pr.scenes[0].inTime, 5.0f);
             EXPECT_FLOAT_EQ(pr.scenes[0].outTime, 20.0f);
             EXPECT_FLOAT_EQ(pr.scenes[1].outTime, 30.0f) << "the last runs to the project's end";
             EXPECT_TRUE(st.markerScenes.empty());
             EXPECT_FLOAT_EQ(pr.totalDuration, 44.0f);
             EXPECT_FLOAT_EQ(st.savedProjectDuration, -1.0f) << "the lengthening is now permanent";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TraceReviewState::Reset();
        c.arrange();
        ImportTraceSuggestions(s, p);
        c.check();
        EXPECT_TRUE(s.unsavedChanges) << "an import marks the project changed";
        EXPECT_TRUE(UndoStack.empty()) << "and takes no undo step";
    }
}

TEST_F(TraceImportTest, MenuImportIgnoresThresholdAndRange) {
    MakeRead(100);
    s.workAreaIn = 10.0f;
    s.workAreaOut = 20.0f;
    s.traceAnalysis.events = {Detection(1.0f, 0.05f), Detection(2.0f, 0.9f, 0, 0, false), Detection(3.0f, 0.9f)};
    s.markerEvents = {Marker(4.0f), Marker(5.0f, false), Marker(6.0f)};
    s.traceSourceFilter = 1;  // the menu's targets were chosen on the timeline
    s.traceMenuDetections = {0, 1, 7};
    s.traceMenuMarkers = {0, 1};
    EXPECT_EQ(ImportTraceMenuTargets(s, p), 2);
    ASSERT_EQ(p.events.size(), 2u);
    EXPECT_FLOAT_EQ(p.events[0].time, 1.0f) << "below the threshold and outside the work area";
    EXPECT_STREQ(p.events[0].folder, "Picture: Import 1");
    EXPECT_FLOAT_EQ(p.events[1].time, 4.0f);
    EXPECT_STREQ(p.events[1].folder, "Markers");
}

TEST_F(TraceImportTest, ChoosingARecipe) {
    MakeRead(100);
    s.traceAnalysis.events = {Detection(1.0f, 0.9f), Detection(2.0f, 0.9f, 0, 0, false), Detection(3.0f, 0.1f)};
    s.markerEvents = {Marker(1.0f), Marker(2.0f, false)};
    EventPreset r = Recipe("Rain", EventKind::Fill, 0.8f);
    CopyText(r.keywords, "rain drops");
    CopyText(r.libFilter, "Weather");
    r.groupOverride = 2;
    RecipeList = {r};
    ChooseTraceRecipe(s, 0);
    EXPECT_EQ(traceRecipeIndex, 0);
    EXPECT_STREQ(s.traceRecipeKeywords, "rain drops");
    EXPECT_STREQ(s.traceRecipeLibFilter, "Weather");
    EXPECT_TRUE(s.traceRecipeNotSpot);
    EXPECT_EQ(s.traceRecipeGroupOverride, 2);
    EXPECT_FLOAT_EQ(s.traceAnalysis.events[0].suggestedWeightCenter, 0.8f);
    EXPECT_FLOAT_EQ(s.traceAnalysis.events[1].suggestedWeightCenter, 0.6f) << "not accepted";
    EXPECT_FLOAT_EQ(s.traceAnalysis.events[2].suggestedWeightCenter, 0.6f) << "not counting";
    EXPECT_FLOAT_EQ(s.markerEvents[0].weightCenter, 0.8f);
    EXPECT_FLOAT_EQ(s.markerEvents[1].weightCenter, 0.3f) << "disabled";

    ChooseTraceRecipe(s, -1);
    EXPECT_EQ(traceRecipeIndex, -1);
    EXPECT_STREQ(s.traceRecipeKeywords, "");
    EXPECT_STREQ(s.traceRecipeLibFilter, "");
    EXPECT_FALSE(s.traceRecipeNotSpot);
    EXPECT_EQ(s.traceRecipeGroupOverride, -1);
}

}  // namespace
}  // namespace korvel
