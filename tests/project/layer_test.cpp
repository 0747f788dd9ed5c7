#include "project/layer.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(LayerResult, ConsecutiveIdsAndCopiesKeepTheirs) {
    LayerResult first;
    LayerResult second;
    EXPECT_EQ(second.id, first.id + 1);
    LayerResult copy = second;
    EXPECT_EQ(copy.id, second.id);
    LayerResult third;
    EXPECT_EQ(third.id, second.id + 1);
}

TEST(LayerResult, SoundHistoryButtons) {
    struct Case {
        const char* name;
        std::size_t entries;
        std::int32_t historyPos;
        bool previous;
        bool next;
    };
    const Case cases[] = {
        {"empty, live", 0, -1, false, false},
        {"three, live", 3, -1, true, false},
        {"three, at oldest", 3, 0, false, true},
        {"three, at middle", 3, 1, true, true},
        {"three, at newest entry", 3, 2, true, false},
        {"one, live", 1, -1, true, false},
        {"one, at it", 1, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayerResult layer;
        layer.history.resize(c.entries);
        layer.historyPos = c.historyPos;
        EXPECT_EQ(layer.HasPreviousSound(), c.previous);
        EXPECT_EQ(layer.HasNextSound(), c.next);
    }
}

TEST(LayerResult, Defaults) {
    LayerResult layer;
    EXPECT_FLOAT_EQ(layer.fadeIn, 0.01f);
    EXPECT_FLOAT_EQ(layer.fadeOut, 0.05f);
    EXPECT_FLOAT_EQ(layer.sustainAmount, 0.3f);
    EXPECT_EQ(layer.detectedNote, -1);
    EXPECT_EQ(layer.alloyAlgo, 2);
    EXPECT_EQ(layer.alloyFilterBands, 10);
    EXPECT_EQ(layer.historyPos, -1);
    for (float gain : layer.eqGains) EXPECT_FLOAT_EQ(gain, 1.0f);
}

}  // namespace
}  // namespace korvel
