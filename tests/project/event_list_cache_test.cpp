// The events list's cache: the time order, the keys that decide a refill,
// and the weight summary of each event's unmuted layers.
#include <gtest/gtest.h>

#include <memory>

#include "project/app_state.h"

namespace korvel {
namespace {

Event At(float time) {
    Event e;
    e.time = time;
    return e;
}

LayerResult Layer(std::int32_t event, float weight, bool muted = false) {
    LayerResult layer;
    layer.eventIdx = event;
    layer.weight = weight;
    layer.muted = muted;
    return layer;
}

TEST(EventListCache, OrderFollowsTimeOnEveryCall) {
    const auto state = std::make_unique<AppState>();
    std::vector<Event> events = {At(5), At(1), At(3)};
    state->RefreshEventListCache(events, {}, 0);
    EXPECT_EQ(state->eventListOrder, (std::vector<std::int32_t>{1, 2, 0}));
    // A drag moves times without touching any key: the order still follows.
    events[0].time = 0.0f;
    state->RefreshEventListCache(events, {}, 0);
    EXPECT_EQ(state->eventListOrder, (std::vector<std::int32_t>{0, 1, 2}));
}

TEST(EventListCache, SummaryOfUnmutedWeights) {
    struct Case {
        const char* name;
        std::vector<float> weights;
        std::vector<bool> muted;
        std::int32_t count;
        std::array<float, 5> summary;
    };
    const Case cases[] = {
        {"none", {}, {}, 0, {}},
        {"one", {0.4f}, {false}, 1, {0.4f}},
        {"five, sorted", {0.9f, 0.1f, 0.5f, 0.3f, 0.7f}, {false, false, false, false, false}, 5,
         {0.1f, 0.3f, 0.5f, 0.7f, 0.9f}},
        // Eight values: v[0], v[2], v[4], v[6], v[7].
        {"eight give quantiles", {0.8f, 0.7f, 0.6f, 0.5f, 0.4f, 0.3f, 0.2f, 0.1f}, std::vector<bool>(8, false), 5,
         {0.1f, 0.3f, 0.5f, 0.7f, 0.8f}},
        {"muted layers left out", {0.2f, 0.9f, 0.6f}, {false, true, false}, 2, {0.2f, 0.6f}},
        {"six with one muted is five values", {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f},
         {false, false, false, false, false, true}, 5, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto state = std::make_unique<AppState>();
        std::vector<Event> events = {At(0), At(1)};
        std::vector<LayerResult> layers;
        for (std::size_t i = 0; i < c.weights.size(); ++i) layers.push_back(Layer(1, c.weights[i], c.muted[i]));
        layers.push_back(Layer(7, 1.0f));   // a stale event index counts nowhere
        layers.push_back(Layer(-1, 1.0f));
        state->RefreshEventListCache(events, layers, 0);
        ASSERT_EQ(state->eventClipCounts.size(), 2u);
        EXPECT_EQ(state->eventClipCounts[0], 0);
        EXPECT_EQ(state->eventClipCounts[1], static_cast<std::int32_t>(c.weights.size())) << "muted layers count as clips";
        EXPECT_EQ(state->eventWeightSummaryCount[0], 0);
        EXPECT_EQ(state->eventWeightSummaryCount[1], c.count);
        for (std::int32_t i = 0; i < c.count; ++i)
            EXPECT_FLOAT_EQ(state->eventWeightSummary[1][static_cast<std::size_t>(i)], c.summary[static_cast<std::size_t>(i)]);
    }
}

// The summary is refilled only when a key changes: the revision is what a
// mute bumps, since it changes neither count.
TEST(EventListCache, KeysDecideTheRefill) {
    const auto state = std::make_unique<AppState>();
    std::vector<Event> events = {At(0)};
    std::vector<LayerResult> layers = {Layer(0, 0.5f), Layer(0, 0.8f)};
    state->RefreshEventListCache(events, layers, 3);
    EXPECT_EQ(state->eventWeightSummaryCount[0], 2);
    layers[0].muted = true;
    state->RefreshEventListCache(events, layers, 3);
    EXPECT_EQ(state->eventWeightSummaryCount[0], 2) << "same keys: the cache stands";
    state->RefreshEventListCache(events, layers, 4);
    EXPECT_EQ(state->eventWeightSummaryCount[0], 1);
    EXPECT_FLOAT_EQ(state->eventWeightSummary[0][0], 0.8f);
    layers.push_back(Layer(0, 0.1f));
    state->RefreshEventListCache(events, layers, 4);
    EXPECT_EQ(state->eventClipCounts[0], 3);
    EXPECT_EQ(state->listCacheResultCount, 3);
}

}  // namespace
}  // namespace korvel
