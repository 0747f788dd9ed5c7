#include "picture/timecode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace korvel {
namespace {

std::string Format(float fps, float seconds) {
    char buffer[32] = {};
    FormatTimecode(fps, seconds, buffer, sizeof buffer);
    return buffer;
}

TEST(Timecode, FormatsWholeRatesAsOrdinaryTimecode) {
    struct Case {
        const char* name;
        float fps;
        float seconds;
        const char* text;
    };
    const Case cases[] = {
        {"hour minute second frame", 25.0f, 3661.5f, "01:01:01:13"},
        {"below half a frame rounds down", 24.0f, 0.02f, "00:00:00:00"},
        {"past half a frame rounds up", 24.0f, 0.03f, "00:00:00:01"},
        {"negative prints zero", 24.0f, -5.0f, "00:00:00:00"},
        {"hours not wrapped at a day", 25.0f, 360000.0f, "100:00:00:00"},
        {"last frame of a second", 30.0f, 59.0f / 30.0f, "00:00:01:29"},
        {"not-a-number prints zero", 25.0f, NAN, "00:00:00:00"},
        {"zero rate counts as 25", 0.0f, 1.52f, "00:00:01:13"},
        {"negative rate counts as 25", -30.0f, 1.52f, "00:00:01:13"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Format(c.fps, c.seconds), c.text);
    }
}

// Counting frames at the exact rate but splitting them by trunc(fps) lets the
// seconds run ahead of the clock at 23.976 and hides frame 29 at 29.97.
TEST(Timecode, FractionalRatesSplitByTheNominalRate) {
    EXPECT_EQ(Format(23.976f, 1.0f / 23.976f * 23.0f), "00:00:00:23");
    EXPECT_EQ(Format(23.976f, 24.0f / 23.976f), "00:00:01:00");
    EXPECT_EQ(Format(29.97f, 29.0f / 29.97f), "00:00:00:29");
    EXPECT_EQ(Format(29.97f, 30.0f / 29.97f), "00:00:01:00");
    EXPECT_EQ(Format(59.94f, 59.0f / 59.94f), "00:00:00:59");
    // One hour of frames at 23.976 takes 3603.6 s of clock.
    EXPECT_EQ(Format(23.976f, 86400.0f / 23.976f), "01:00:00:00");
    EXPECT_EQ(Format(23.976f, 3600.0f), "00:59:56:10");
}

TEST(Timecode, ReportsTheCharacterCountAndFitsSmallBuffers) {
    char small[6];
    EXPECT_EQ(FormatTimecode(25.0f, 3661.5f, small, sizeof small), 11);
    EXPECT_STREQ(small, "01:01");
    EXPECT_EQ(FormatTimecode(25.0f, 3661.5f, nullptr, 0), 11);
}

TEST(Timecode, HugeTimesClampInsteadOfOverflowing) {
    for (const float seconds : {1.0e12f, 3.0e38f, INFINITY}) {
        SCOPED_TRACE(seconds);
        const std::string text = Format(60.0f, seconds);
        EXPECT_EQ(text, "999999:59:59:59");
    }
    EXPECT_EQ(Format(1.0e30f, 1.0f), "00:00:01:00");  // a rate too high to count is held
}

TEST(Timecode, ParsesFieldsAndRejectsWhatIsNotTimecode) {
    struct Case {
        const char* name;
        float fps;
        const char* text;
        float seconds;
    };
    const Case cases[] = {
        {"four fields", 24.0f, "01:02:03:12", 3723.5f},
        {"three fields", 24.0f, "1:2:3", 3723.0f},
        {"two fields", 24.0f, "12:30", -1.0f},
        {"letters", 24.0f, "abc", -1.0f},
        {"empty", 24.0f, "", -1.0f},
        {"fields clamp to a day", 25.0f, "99:75:75:99", 23 * 3600 + 59 * 60 + 59 + 24.0f / 25.0f},
        {"negative frames read as 0", 25.0f, "00:00:01:-5", 1.0f},
        {"negative hours read as 0", 25.0f, "-3:00:01:00", 1.0f},
        {"blanks before numbers", 25.0f, " 1: 2: 3: 4", 3723.16f},
        {"trailing text ignored", 25.0f, "00:00:02:00 extra", 2.0f},
        {"subframes ignored", 25.0f, "00:00:02:05.40", 2.2f},
        {"blank before a colon ends the read", 25.0f, "1 :2:3", -1.0f},
        {"digit runs past any integer", 25.0f, "99999999999999999999999:1:1:1", 23 * 3600 + 61 + 0.04f},
        {"a fourth field of letters counts as 0", 25.0f, "0:0:5:xx", 5.0f},
        {"below 1 fps keeps frame 0 only", 0.5f, "00:00:10:07", 20.0f},
        {"zero rate counts as 25", 0.0f, "00:00:00:24", 0.96f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(ParseTimecode(c.fps, c.text), c.seconds);
    }
}

// Every text a fractional or whole rate formats below a day must read back
// to a time that formats to the same text, as the inspector's fields need.
// 12.5 and 0.3 have a nominal rate above the exact one; 119.88 is about the
// fastest rate whose frames a float still tells apart near 24 hours.
TEST(Timecode, FormattedTextsReadBackToTheSameText) {
    for (const float fps : {23.976f, 24.0f, 25.0f, 29.97f, 30.0f, 59.94f, 0.5f, 0.3f, 12.5f, 47.952f, 50.0f, 60.0f,
                            119.88f}) {
        SCOPED_TRACE(fps);
        const int nominal = std::max(1, static_cast<int>(std::lround(fps)));
        int mismatches = 0;
        for (int hours : {0, 1, 9, 23}) {
            for (int minutes : {0, 1, 30, 59}) {
                for (int seconds : {0, 17, 59}) {
                    for (int frame = 0; frame < nominal; ++frame) {
                        char text[32];
                        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", hours, minutes, seconds, frame);
                        const float time = ParseTimecode(fps, text);
                        if (Format(fps, time) != text && ++mismatches < 5) {
                            ADD_FAILURE() << text << " read as " << time << " formats as " << Format(fps, time);
                        }
                    }
                }
            }
        }
        // And times in between: formatting, reading and formatting again is stable.
        for (float t = 0.0f; t < 86000.0f; t += 7.31f) {
            const std::string once = Format(fps, t);
            const std::string twice = Format(fps, ParseTimecode(fps, once));
            if (once != twice && ++mismatches < 5) ADD_FAILURE() << t << ": " << once << " then " << twice;
        }
        EXPECT_EQ(mismatches, 0);
    }
}

}  // namespace
}  // namespace korvel
