#include "engine/designed_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

TEST(MakeDesignedSoundName, NamesFromKeywordsOrSources) {
    struct Case {
        const char* name;
        const char* keywords;
        const char* primary;
        const char* second;
        std::int32_t counter;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"keywords, excluded left out", "metal +hit -wood", "x", "y", 0, "HIT_Metal Hit_01"},
        {"two sources", "", "door_slam_03", "creak-long", 4, "DSGNMisc_door creak Designed_05"},
        {"the same source twice", "", "door_slam_03", "door.big", 4, "DSGNMisc_door Designed_05"},
        {"no second source", "", "door_slam_03", "", 0, "DSGNMisc_door Designed_01"},
        {"only excluded terms fall back to the sources", "-wood -glass", "rain_soft", "", 1,
         "DSGNMisc_rain Designed_02"},
        {"a three-digit counter", "", "a", "", 99, "DSGNMisc_a Designed_100"},
        // The category code of a lone "a" is the category table's affair.
        {"a one-letter word is upper-cased", "a", "x", "", 0, "*_A_01"},
        {"a UTF-8 first letter stays as written", "\xc3\xa9tude", "x", "", 0, "DSGNMisc_\xc3\xa9tude_01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = MakeDesignedSoundName(ParseKeywordQuery(c.keywords), c.primary, c.second, c.counter);
        if (c.expected[0] == '*') {
            EXPECT_EQ(name.substr(name.find('_')), c.expected.substr(1));
        } else {
            EXPECT_EQ(name, c.expected);
        }
    }
}

TEST(FirstNameWord, SeparatorsAndFallback) {
    struct Case {
        const char* name;
        const char* word;
    };
    for (const Case& c : std::vector<Case>{{"__Rain.Heavy", "Rain"}, {"---", "Sound"}, {"", "Sound"},
                                           {"Wind,Gust", "Wind,Gust"}, {" door slam", "door"}, {"UPPER_case", "UPPER"}}) {
        EXPECT_EQ(FirstNameWord(c.name), c.word) << c.name;
    }
}

}  // namespace
}  // namespace korvel
