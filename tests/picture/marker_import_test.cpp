#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include <string>
#include <vector>

#include "picture/markers.h"
#include "project/fixed_text.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

std::string SessionText(const std::string& name) {
    return std::string(KORVEL_TEST_DATA_DIR) + "/session-texts/" + name;
}

// A marker listing with the given rows after the newest layout's header.
std::string Listing(const std::string& rows, const std::string& preamble = "SAMPLE RATE:\t48000.000000\n") {
    return preamble +
           "M A R K E R S  L I S T I N G\n"
           "#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME   \tTRACK NAME\tTRACK TYPE\tCOMMENTS\n" +
           rows;
}

struct ReadResult {
    std::vector<MarkerEvent> markers;
    std::vector<MarkerScene> scenes;
};

ReadResult Read(const std::string& text, float fps = 24.0f, const std::vector<std::string>& recipes = {}) {
    ReadResult result;
    ReadProToolsMarkerText(text, fps, result.markers, &result.scenes, recipes);
    return result;
}

TEST(MarkerNames, KindBandRecipeAndKeywordWords) {
    struct Case {
        const char* name;
        const char* text;
        int kind;
        float weightCenter;
        const char* keywords;
        const char* recipe;
        bool otherKind;
    };
    const Case cases[] = {
        {"kind and band taken from any place", "Door slam, spot high metal", 0, 0.7f, "Door slam metal", "", false},
        {"recipe before the comma", "whoosh big, low air", 0, 0.3f, "air", "Whoosh Big", false},
        {"recipe keeps later band and kind words", "WHOOSH BIG, sub bloom air", 0, 0.1f, "bloom air", "Whoosh Big",
         false},
        {"bloom in capitals", "BLOOM glass", 1, 0.3f, "glass", "", false},
        {"only the first kind and band count", "spot bloom sub air", 0, 0.1f, "bloom air", "", false},
        {"other kind word", "fill rain mid", 0, 0.5f, "rain", "", true},
        {"other kind word takes the kind slot", "clip spot", 0, 0.3f, "spot", "", true},
        {"tabs and commas split words", "a\tb,,c", 0, 0.3f, "a b c", "", false},
        {"blank", "  \t ", 0, 0.3f, "", "", false},
        {"recipe name alone", "Whoosh Big", 0, 0.3f, "", "Whoosh Big", false},
        {"first matching recipe in list order", "door, high", 0, 0.7f, "", "Door", false},
    };
    const std::vector<std::string> recipes = {"Whoosh Big", "Door", "door"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MarkerEvent marker;
        CopyText(marker.keywords, "left over");
        marker.kind = 1;
        ParseMarkerText(c.text, recipes, marker);
        EXPECT_EQ(marker.kind, c.kind);
        EXPECT_FLOAT_EQ(marker.weightCenter, c.weightCenter);
        EXPECT_EQ(TextOf(marker.keywords), c.keywords);
        EXPECT_EQ(TextOf(marker.recipeName), c.recipe);
        EXPECT_EQ(marker.otherKindWord, c.otherKind);
    }
}

// Signed bytes and the locale's tables must not touch UTF-8 names.
TEST(MarkerNames, LowerCaseAndTrimLeaveUtf8Alone) {
    EXPECT_EQ(LowerCaseString("SPOT \xC3\x89t\xC3\xA9 Z"), "spot \xC3\x89t\xC3\xA9 z");
    EXPECT_EQ(TrimWhitespace(" \t\r\n a b \r\n"), "a b");
    EXPECT_EQ(TrimWhitespace("\r\n"), "");
}

TEST(MarkerImport, RowsOfWrittenListings) {
    struct Case {
        const char* name;
        std::string text;
        float fps;
        int markers;
        float firstTime;
        const char* firstName;
        const char* firstKeywords;
    };
    const Case cases[] = {
        {"samples at the file's rate", Listing("3\t01:00:05:12\t2640576\tSamples\tDoor slam, spot high metal\t\t\t\n"),
         24.0f, 1, 55.012f, "Door slam, spot high metal", "Door slam metal"},
        {"samples without a rate line use 48000", Listing("1\t00:00:00:00\t96000\tSamples\tHit\n", ""), 24.0f, 1,
         2.0f, "Hit", "Hit"},
        {"location when the reference is not a number",
         Listing("1\t00:01:02:12\t58|4\tTicks\tHit\n", "TIMECODE FORMAT:\t25 Frame\n"), 24.0f, 1, 62.48f, "Hit",
         "Hit"},
        {"caller's rate when the file names none", Listing("1\t00:00:01:12\t\tTicks\tHit\n"), 24.0f, 1, 1.5f, "Hit",
         "Hit"},
        {"a rate not above 0 counts as 25", Listing("1\t00:00:01:12\t\tTicks\tHit\n"), 0.0f, 1, 1.48f, "Hit", "Hit"},
        {"a location of two numbers is Min:Secs", Listing("1\t1:55\tx\tTicks\tHit\n"), 24.0f, 1, 115.0f, "Hit",
         "Hit"},
        {"a negative location is no time", Listing("1\t-5:00:00:00\tx\tTicks\tHit\n"), 24.0f, 0, 0.0f, "", ""},
        {"a sample count past a day is no time",
         Listing("1\t0:0:0:0\t99999999999999999999999999\tSamples\tHit\n"), 24.0f, 0, 0.0f, "", ""},
        {"comment joins the keywords", Listing("1\t0:0:1:0\t48000\tSamples\tspot\tMarkers\tRuler\tlate creak\n"),
         24.0f, 1, 1.0f, "spot", "late creak"},
        {"four fields are not a row", Listing("1\t0:0:1:0\t48000\tHit\n"), 24.0f, 0, 0.0f, "", ""},
        {"an empty name is not a row", Listing("1\t0:0:1:0\t48000\tSamples\t  \tcomment\n"), 24.0f, 0, 0.0f, "", ""},
        {"a header without LOCATION starts no rows",
         "M A R K E R S  L I S T I N G\n#\tWHERE\tNAME\n1\t0:0:1:0\t48000\tSamples\tHit\n", 24.0f, 0, 0.0f, "", ""},
        {"rows only after the section header", "1\t0:0:1:0\t48000\tSamples\tHit\n", 24.0f, 0, 0.0f, "", ""},
        {"a track listing ends the read",
         Listing("1\t0:0:1:0\t48000\tSamples\tFirst\nT R A C K  L I S T I N G\n2\t0:0:2:0\t96000\tSamples\tLate\n"),
         24.0f, 1, 1.0f, "First", "First"},
        {"spaced-out plug-in and online titles end it too",
         Listing("1\t0:0:1:0\t48000\tSamples\tFirst\nO N L I N E  F I L E S\n2\t0:0:2:0\t96000\tSamples\tLate\n"),
         24.0f, 1, 1.0f, "First", "First"},
        {"CRLF lines", "SAMPLE RATE:\t96000\r\nMARKERS LISTING\r\n#\tLOCATION\tTIME REFERENCE\tUNITS\tNAME\r\n"
                       "1\t0:0:1:0\t96000\tSamples\tHit\r\n",
         24.0f, 1, 1.0f, "Hit", "Hit"},
        {"older layout takes the comment after the name",
         "MARKERS LISTING\n#\tLOCATION\tTIME REFERENCE\tUNITS\tNAME\tCOMMENTS\n1\t0:0:1:0\t48000\tSamples\tHit\tglass\n",
         24.0f, 1, 1.0f, "Hit", "Hit glass"},
        {"no markers section", "SAMPLE RATE:\t48000\n1\t0:0:1:0\t48000\tSamples\tHit\tx\ty\tz\n", 24.0f, 0, 0.0f, "",
         ""},
        {"binary bytes", std::string("\x00\x01\xFF\xFE\n\t\t\t\t\t\n\x80", 13), 24.0f, 0, 0.0f, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult result = Read(c.text, c.fps);
        ASSERT_EQ(static_cast<int>(result.markers.size()), c.markers);
        if (c.markers == 0) continue;
        const MarkerEvent& m = result.markers[0];
        EXPECT_FLOAT_EQ(m.time, c.firstTime);
        EXPECT_EQ(TextOf(m.name), c.firstName);
        EXPECT_EQ(TextOf(m.keywords), c.firstKeywords);
        EXPECT_TRUE(m.enabled);
        EXPECT_FLOAT_EQ(m.duration, 3.0f);
        EXPECT_FLOAT_EQ(m.spread, -1.0f);
        EXPECT_FLOAT_EQ(m.gain, -1.0f);
        EXPECT_FLOAT_EQ(m.syncFraction, -1.0f);
    }
}

// Every ruler an export can be made with, measured from the session start;
// rows that give no time are counted, never placed at 0 s or a day late.
TEST(MarkerImport, LocationsCountFromTheSessionStart) {
    struct Case {
        const char* name;
        const char* start;   // SESSION START TIMECODE
        const char* format;  // TIMECODE FORMAT
        const char* location;
        const char* reference;
        float time;  // < 0: skipped
    };
    const Case cases[] = {
        {"timecode less the session start", "00:59:55:00", "23.976 Frame", "01:00:00:00", "3|3", 120 / 23.976f},
        {"frames at the file's rate", "01:00:00:00", "25 Frame", "01:00:01:12", "3|3", 1.48f},
        {"subframes are hundredths of a frame", "23:57:00:00.00", "23.976 Frame", "23:58:55:18.41", "58|4| 735",
         2778.41f / 23.976f},
        {"a label before the start lies past midnight", "23:59:00:00", "25 Frame", "00:00:30:00", "1|1", 90.0f},
        {"drop frame keeps its frames", "01:00:00;00", "29.97 Drop Frame", "01:00:05;12", "1|1",
         162 * 1001 / 30000.0f},
        {"drop frame skips two numbers a minute", "00:00:00;00", "29.97 Drop Frame", "00:01:00;02", "1|1",
         1800 * 1001 / 30000.0f},
        {"but not each tenth minute", "00:00:00;00", "29.97 Drop Frame", "00:10:00;00", "1|1",
         17982 * 1001 / 30000.0f},
        {"samples location", "23:57:00:00", "23.976 Frame", "5562368", "58|4", 5562368 / 48000.0f},
        {"Min:Secs location", "23:57:00:00", "23.976 Frame", "1:55.882", "58|4| 735", 115.882f},
        {"Bars|Beats location", "23:57:00:00", "23.976 Frame", "58|4", "58|4", -1.0f},
        {"Bars|Beats with ticks", "23:57:00:00", "23.976 Frame", "58|4| 735", "58|4| 735", -1.0f},
        {"Feet+Frames location", "23:57:00:00", "23.976 Frame", "173+13.18", "58|4| 735", -1.0f},
        {"a sample count past a day", "00:00:00:00", "25 Frame", "00:00:01:00", "4147200048", -1.0f},
        {"a sample count of 10^23", "00:00:00:00", "25 Frame", "00:00:01:00", "100000000000000000000000", -1.0f},
        {"a location past a day", "00:00:00:00", "25 Frame", "4147200048", "1|1", -1.0f},
        {"an empty location", "00:00:00:00", "25 Frame", "", "1|1", -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string preamble = std::string("SESSION NAME:\tReel 1\nSAMPLE RATE:\t48000.000000\n") +
                                     "SESSION START TIMECODE:\t" + c.start + "\nTIMECODE FORMAT:\t" + c.format + "\n";
        const std::string text =
            Listing(std::string("1\t") + c.location + "\t" + c.reference + "\tTicks\tHit\t\n" +
                        "2\t00:00:00:00\t0\tSamples\tStart\t\n",
                    preamble);
        std::vector<MarkerEvent> markers;
        MarkerReadReport report;
        ReadProToolsMarkerText(text, 24.0f, markers, nullptr, {}, &report);
        EXPECT_TRUE(report.read);
        EXPECT_TRUE(report.sessionText);
        EXPECT_EQ(report.damagedRows, 0);
        if (c.time < 0.0f) {
            EXPECT_EQ(report.skippedRows, 1);
            ASSERT_EQ(markers.size(), 1u);
            EXPECT_EQ(TextOf(markers[0].name), "Start");
            continue;
        }
        EXPECT_EQ(report.skippedRows, 0);
        ASSERT_EQ(markers.size(), 2u);
        EXPECT_NEAR(markers[0].time, c.time, 1e-3);
        EXPECT_FLOAT_EQ(markers[1].time, 0.0f);
    }
}

TEST(MarkerImport, StatusSaysWhatWasLeftOut) {
    struct Case {
        const char* name;
        MarkerReadReport report;
        std::size_t imported;
        const char* status;
    };
    const Case cases[] = {
        {"nothing left out", {true, true, 0, 0}, 3, ""},
        {"an unreadable file", {false, false, 0, 0}, 0, "Marker file unreadable: notes.txt"},
        {"not a session text", {true, false, 0, 0}, 0, "Error: not a Pro Tools session text: notes.txt"},
        {"one row skipped", {true, true, 1, 0}, 1, "Imported 1 marker; 1 row skipped (no usable time)"},
        {"rows skipped and split", {true, true, 2, 3}, 4,
         "Imported 4 markers; 2 rows skipped (no usable time); 3 rows split by tabs (check names and comments)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MarkerImportStatus(c.report, c.imported, "/home/a/notes.txt"), c.status);
    }

    MarkerReadReport report;
    std::vector<MarkerEvent> markers;
    ReadProToolsMarkerText("Shopping list\n\tmilk\tbread\n", 24.0f, markers, nullptr, {}, &report);
    EXPECT_TRUE(report.read);
    EXPECT_FALSE(report.sessionText);
    ReadProToolsMarkerText(Listing("", ""), 24.0f, markers, nullptr, {}, &report);
    EXPECT_TRUE(report.sessionText);  // a listing without rows is still one
}

TEST(MarkerImport, SceneMarkers) {
    const std::string text = Listing(
        "1\t0:0:1:0\t48000\tSamples\tscene, Kitchen, morning light\t\t\tquiet\n"
        "2\t0:0:2:0\t96000\tSamples\tSCENE,Hall\n"
        "3\t0:0:3:0\t144000\tSamples\tscene\t\t\tonly comment\n"
        "4\t0:0:4:0\t192000\tSamples\tscenery, wide\n");
    const ReadResult result = Read(text);
    ASSERT_EQ(result.scenes.size(), 3u);
    EXPECT_FLOAT_EQ(result.scenes[0].time, 1.0f);
    EXPECT_EQ(TextOf(result.scenes[0].name), "Kitchen");
    EXPECT_EQ(TextOf(result.scenes[0].text), "morning light quiet");
    EXPECT_EQ(TextOf(result.scenes[1].name), "Hall");
    EXPECT_EQ(TextOf(result.scenes[1].text), "");
    EXPECT_EQ(TextOf(result.scenes[2].name), "");
    EXPECT_EQ(TextOf(result.scenes[2].text), "only comment");
    ASSERT_EQ(result.markers.size(), 1u);
    EXPECT_EQ(TextOf(result.markers[0].name), "scenery, wide");

    // Without a scene output the scene rows stay markers.
    std::vector<MarkerEvent> markers;
    ReadProToolsMarkerText(text, 24.0f, markers, nullptr, {});
    EXPECT_EQ(markers.size(), 4u);
}

// Names and comments longer than their fields are cut whole characters at a
// time, so no half character reaches the project.
TEST(MarkerImport, LongTextsCutAtCharacterBoundaries) {
    std::string name;
    for (int i = 0; i < 100; ++i) name += "\xC3\xA9";  // é, two bytes each
    std::string comment(300, 'k');
    const ReadResult result = Read(Listing("1\t0:0:1:0\t48000\tSamples\t" + name + "\t\t\t" + comment + "\n" +
                                           "2\t0:0:2:0\t96000\tSamples\tscene, " + name + ", " + name + "\n"));
    ASSERT_EQ(result.markers.size(), 1u);
    EXPECT_EQ(TextOf(result.markers[0].name).size(), 126u);  // 127 would split an é
    EXPECT_TRUE(IsValidUtf8(TextOf(result.markers[0].name)));
    EXPECT_EQ(TextOf(result.markers[0].keywords).size(), 127u);
    ASSERT_EQ(result.scenes.size(), 1u);
    EXPECT_EQ(TextOf(result.scenes[0].name).size(), 62u);
    EXPECT_EQ(TextOf(result.scenes[0].text).size(), 126u);
    EXPECT_TRUE(IsValidUtf8(TextOf(result.scenes[0].text)));

    // A very long line is read as one row.
    const std::string longName(1 << 20, 'x');
    EXPECT_EQ(Read(Listing("1\t0:0:1:0\t48000\tSamples\t" + longName + "\n")).markers.size(), 1u);
}

TEST(MarkerImport, Utf8Checks) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "abc", true},
        {"two, three and four bytes", "\xC3\xA9\xE2\x80\xA6\xF0\x9F\x8E\xAC", true},
        {"overlong slash", "\xC0\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut sequence", "\xE2\x80", false},
        {"stray continuation", "\x80", false},
        {"Mac Roman ellipsis", "a\xC9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    }
    EXPECT_EQ(MacRomanToUtf8("x\x80\xC9\xD1\xDB\xFF"), "x\xC3\x84\xE2\x80\xA6\xE2\x80\x94\xE2\x82\xAC\xCB\x87");
}

TEST(MarkerImport, ReadingAFileFillsAndEmptiesTheOutputs) {
    test::TempDir dir;
    std::vector<MarkerEvent> markers(3);
    std::vector<MarkerScene> scenes(2);
    MarkerReadReport report{true, true, 1, 1};
    ImportProToolsMarkers(dir.file("missing.txt"), 24.0f, markers, &scenes, {}, &report);
    EXPECT_TRUE(markers.empty());
    EXPECT_TRUE(scenes.empty());
    EXPECT_FALSE(report.read);
    EXPECT_EQ(report.skippedRows, 0);

    markers.resize(3);
    ImportProToolsMarkers(dir.path().string(), 24.0f, markers, nullptr, {});  // a folder
    EXPECT_TRUE(markers.empty());

    ASSERT_TRUE(test::WriteBytes(dir.file("s.txt"), Listing("1\t0:0:1:0\t48000\tSamples\tHit\n")));
    ImportProToolsMarkers(dir.file("s.txt"), 24.0f, markers, &scenes, {});
    EXPECT_EQ(markers.size(), 1u);
}

// A session text far larger than any real one (sparse, so the test costs
// no disk) is refused before it is read, with one line.
TEST(MarkerImport, AnOverLimitFileIsRefusedWithOneLine) {
    test::TempDir dir;
    const std::string path = dir.file("huge.txt");
    ASSERT_TRUE(test::WriteBytes(path, Listing("1\t0:0:1:0\t48000\tSamples\tHit\n")));
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kSessionTextLimit) + 1), 0);
    std::vector<MarkerEvent> markers(3);
    std::vector<MarkerScene> scenes(2);
    testing::internal::CaptureStdout();
    ImportProToolsMarkers(path, 24.0f, markers, &scenes, {});
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(markers.empty());
    EXPECT_TRUE(scenes.empty());
    EXPECT_EQ(log.rfind("[Markers] Not read: " + path + " is ", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

// Real exports of several Pro Tools versions, layouts and encodings.
TEST(MarkerImport, RealExports) {
    struct Expected {
        float time;
        const char* name;
        const char* keywords;
    };
    struct Case {
        const char* file;
        std::vector<Expected> markers;
        int skipped = 0;
        int damaged = 0;
    };
    // The same two markers exported with each ruler as the main counter: the
    // Samples row keeps its sample time, the Ticks row ("58|4", "58|4| 735")
    // falls back to its location, measured from the session start
    // (23:57:00:00 at 23.976); a Bars|Beats or Feet+Frames location gives no
    // time and the row is skipped.
    const std::vector<Expected> noTimeLocations = {{2695168 / 48000.0f, "Marker Absolute", "Marker Absolute Comment"}};
    const auto withSecondAt = [](float time) {
        return std::vector<Expected>{{2695168 / 48000.0f, "Marker Absolute", "Marker Absolute Comment"},
                                     {time, "Marker Bars-Beats", "Marker Bars-Beats Comment"}};
    };
    const Case cases[] = {
        {"SessionText_SimpleTest_23-976fps_DefaultExportOptions_PT2020.3.txt", {}},
        {"SessionText_EmptySession_23-976fps_DefaultExportOptions_PT2020.3.txt", {}},
        // Mac Roman plug-in listing, no markers.
        {"SessionText_Plugins_23-976fps_DefaultExportOptions_PT2020.3.txt", {}},
        {"SessionText_TimeFormats_BarsBeats_PT2022.9.txt", noTimeLocations, 1},
        {"SessionText_TimeFormats_BarsBeats_ShowSubframes_PT2022.9.txt", noTimeLocations, 1},
        {"SessionText_TimeFormats_FeetFrames_PT2022.9.txt", noTimeLocations, 1},
        {"SessionText_TimeFormats_FeetFrames_ShowSubframes_PT2022.9.txt", noTimeLocations, 1},
        {"SessionText_TimeFormats_MinSecs_ShowSubframes_PT2022.9.txt", withSecondAt(115.882f)},
        {"SessionText_TimeFormats_Samples_ShowSubframes_PT2022.9.txt", withSecondAt(5562368 / 48000.0f)},
        {"SessionText_TracksOnly_OnlyTrackEDLs_PT2023.6.txt", {}},
        {"SessionText_UnrecognizedSection_23-976fps_DefaultExportOptions_PT2020.3.txt", {}},
        // 01:00:00:00 against a session start of 00:59:55:00: 120 frames.
        {"SessionText_OneOfEverything_23-976fps_DefaultExportOptions_PT2020.3.txt",
         {{144144 / 48000.0f, "Marker 1", "Marker 1"},
          {120 / 23.976f, "Marker 2", "Marker 2 This marker has comments."}}},
        {"SessionText_ExtendedChars_UTF8Format_PT2023.3.txt",
         {{10.0f, "Test Ellipsis\xE2\x80\xA6", "Test Ellipsis\xE2\x80\xA6"},
          {70.0f, "Test Em Dash \xE2\x80\x94", "Test Em Dash \xE2\x80\x94"},
          {130.0f, "Test En Dash \xE2\x80\x93", "Test En Dash \xE2\x80\x93"},
          {190.0f, "Right Side Quote\xE2\x80\x99s Not An Apostrophe", "Right Side Quote\xE2\x80\x99s Not An Apostrophe"}}},
        {"SessionText_ExtendedChars_TextEditFormat_PT2023.3.txt",
         {{10.0f, "Test Ellipsis\xE2\x80\xA6", "Test Ellipsis\xE2\x80\xA6"},
          {70.0f, "Test Em Dash \xE2\x80\x94", "Test Em Dash \xE2\x80\x94"},
          {130.0f, "Test En Dash \xE2\x80\x93", "Test En Dash \xE2\x80\x93"},
          {190.0f, "Right Side Quote\xE2\x80\x99s Not An Apostrophe", "Right Side Quote\xE2\x80\x99s Not An Apostrophe"}}},
        {"SessionText_MarkerRulersAndTrackMarkers_PT2023.12.txt",
         {{10.0f, "Marker 1", "Marker 1"},
          {11.0f, "Marker 2", "Marker 2 Some comments"},
          {12.0f, "Marker 3", "Marker 3"},
          {13.0f, "Marker 4", "Marker 4"},
          {14.0f, "Marker 5", "Marker 5"},
          {15.0f, "Marker 6", "Marker 6 More comments"},
          {16.0f, "Marker 7", "Marker 7"}}},
        // Min:Secs ("1:55") and Samples ("5562368") locations count from the
        // session start; 23:58:55:18 is 115 s and 18 frames after it.
        {"SessionText_TimeFormats_MinSecs_PT2022.9.txt", withSecondAt(115.0f)},
        {"SessionText_TimeFormats_Samples_PT2022.9.txt", withSecondAt(5562368 / 48000.0f)},
        {"SessionText_TimeFormats_Timecode_PT2022.9.txt", withSecondAt((115 * 24 + 18) / 23.976f)},
        {"SessionText_TimeFormats_Timecode_ShowSubframes_PT2022.9.txt", withSecondAt((115 * 24 + 18.41f) / 23.976f)},
        // A line break in a name or a comment continues the row on the next
        // line (a comment's continuation padded out to its column): the row
        // is rejoined. A tab leaves more fields than the header has titles
        // and no telling where the name ends: its text stays with the
        // comment and the row is counted (rows 5 to 12).
        {"SessionText_NewLinesAndTabs_DefaultExportOptions_PT2023.6.txt",
         {{5.005f, "Marker Name With New Line", "Marker Name With New Line"},
          {6.006f, "Normal Marker Name", "Normal Marker Name Comment Here With New Line"},
          {7.007f, "Marker Name Again With New Line Again",
           "Marker Name Again With New Line Again Comment Here Again With New Line Again"},
          {8.008f, "Normal Marker Name Again", "Normal Marker Name Again"},
          {9.009f, "Marker Name", "Marker Name With Tab"},
          {10.01f, "Normal Marker Name", "Normal Marker Name Comments Here With Tab"},
          {11.011f, "Marker Name", "Marker Name With Tab Comments Here With Tab"},
          {12.012f, "Marker Name", "Marker Name With Tab And Another Tab"},
          {13.013f, "Normal Marker Name", "Normal Marker Name Comment Here With Tab And Another Tab"},
          {14.014f, "Marker Name",
           "Marker Name With Tab And Another Tab Comment Here With Tab And Another Tab"},
          {15.015f, "Marker Name", "Marker Name With Tab And Newline"},
          {16.016f, "Normal Marker Name", "Normal Marker Name Comment Here And Newline With Tab"}},
         0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<MarkerEvent> markers;
        std::vector<MarkerScene> scenes;
        MarkerReadReport report;
        ImportProToolsMarkers(SessionText(c.file), 24.0f, markers, &scenes, {}, &report);
        EXPECT_TRUE(scenes.empty());
        EXPECT_TRUE(report.read);
        EXPECT_TRUE(report.sessionText);
        EXPECT_EQ(report.skippedRows, c.skipped);
        EXPECT_EQ(report.damagedRows, c.damaged);
        ASSERT_EQ(markers.size(), c.markers.size());
        for (std::size_t i = 0; i < markers.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_NEAR(markers[i].time, c.markers[i].time, 1e-3);
            EXPECT_EQ(TextOf(markers[i].name), c.markers[i].name);
            EXPECT_EQ(TextOf(markers[i].keywords), c.markers[i].keywords);
        }
    }
}

// A long cue-notes session in the older layout, where the comment follows
// the name: with the newest layout's fixed comment column every note is lost.
TEST(MarkerImport, RealSpottingSessionKeepsItsNotes) {
    std::vector<MarkerEvent> markers;
    std::vector<MarkerScene> scenes;
    ImportProToolsMarkers(SessionText("SessionText_FPPFinal_23-976fps_DefaultExportOptions_PT2020.3.txt"), 24.0f,
                          markers, &scenes, {"Hang"});
    ASSERT_EQ(markers.size(), 294u);
    EXPECT_TRUE(scenes.empty());
    struct Expected {
        std::size_t index;
        float time;
        const char* name;
        const char* keywords;
        const char* recipe;
    };
    const Expected expected[] = {
        {0, 240240 / 48000.0f, "____OPENER____", "____OPENER____", ""},
        {10, 10936777 / 48000.0f, "smarmy, temp is too heavy handed", "smarmy temp is too heavy handed she's getting dissed",
         ""},
        {11, 11489642 / 48000.0f, "hang", "", "Hang"},
        {67, 50455650 / 48000.0f, "GIRL ON THE CASE, questioning",
         "GIRL ON THE CASE questioning maybe too jazzy but this mostly works", ""},
        {293, 240768528 / 48000.0f, "____ END CREDITS ____ (reuse; they will provide)",
         "____ END CREDITS ____ (reuse; they will provide)", ""},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.index);
        const MarkerEvent& m = markers[e.index];
        EXPECT_NEAR(m.time, e.time, 1e-3);
        EXPECT_EQ(TextOf(m.name), e.name);
        EXPECT_EQ(TextOf(m.keywords), e.keywords);
        EXPECT_EQ(TextOf(m.recipeName), e.recipe);
    }
    for (const MarkerEvent& m : markers) EXPECT_TRUE(IsValidUtf8(TextOf(m.name)));
}

}  // namespace
}  // namespace korvel
