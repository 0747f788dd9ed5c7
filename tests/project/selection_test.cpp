#include "project/app_state.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "project/fixed_text.h"

namespace korvel {
namespace {

using Indices = std::set<std::int32_t>;

class SelectionTest : public ::testing::Test {
protected:
    // The application state is large; one per test on the heap.
    std::unique_ptr<AppState> owned = std::make_unique<AppState>();
    AppState& state = *owned;
    std::vector<Event> events;

    void AddEvent(float time, const char* folder = "") {
        Event event;
        event.time = time;
        CopyText(event.folder, folder);
        events.push_back(event);
    }
};

TEST_F(SelectionTest, SelectEventMakesOnePrimaryAndMinusOneClears) {
    state.activeTab = 3;
    state.selectedEvents = {1, 4};
    state.SelectEvent(2);
    EXPECT_EQ(state.selectedEvents, Indices{2});
    EXPECT_EQ(state.selectedEvent, 2);
    EXPECT_EQ(state.activeTab, 0);
    EXPECT_TRUE(state.scrollToSelection);

    state.activeTab = 3;
    state.SelectEvent(-1);
    EXPECT_TRUE(state.selectedEvents.empty());
    EXPECT_EQ(state.selectedEvent, -1);
    EXPECT_EQ(state.activeTab, 3) << "clearing must not switch tabs";
}

TEST_F(SelectionTest, ClickInLinkedGroupSelectsGroupWithEarliestPrimary) {
    AddEvent(5.0f, "Hits");
    AddEvent(1.0f);
    AddEvent(0.5f, "Other");
    AddEvent(2.0f, "Hits");
    state.linkedGroups = {"Hits"};

    state.SelectEventWithLinks(0, events, false);
    EXPECT_EQ(state.selectedEvents, (Indices{0, 3}));
    EXPECT_EQ(state.selectedEvent, 3) << "event 3 is earlier on the timeline";

    state.SelectEventWithLinks(0, events, true);
    EXPECT_EQ(state.selectedEvents, Indices{0});
    EXPECT_EQ(state.selectedEvent, 0);

    // A folder that is not linked selects only the clicked event.
    state.SelectEventWithLinks(2, events, false);
    EXPECT_EQ(state.selectedEvents, Indices{2});
    EXPECT_EQ(state.selectedEvent, 2);
}

TEST_F(SelectionTest, LinkedGroupTieKeepsClickedEventPrimary) {
    AddEvent(1.0f, "Hits");
    AddEvent(1.0f, "Hits");
    state.linkedGroups = {"Hits"};
    state.SelectEventWithLinks(1, events, false);
    EXPECT_EQ(state.selectedEvents, (Indices{0, 1}));
    EXPECT_EQ(state.selectedEvent, 1);
}

TEST_F(SelectionTest, LinkedGroupNamesCompareExactly) {
    state.linkedGroups = {"Hits"};
    EXPECT_TRUE(state.IsLinkedGroup("Hits"));
    EXPECT_FALSE(state.IsLinkedGroup("hits"));
    EXPECT_FALSE(state.IsLinkedGroup("Hits "));
    state.linkedGroups.insert("");
    EXPECT_FALSE(state.IsLinkedGroup("")) << "an empty folder is never a group";
}

TEST_F(SelectionTest, RangeFollowsDisplayOrderAndKeepsAnchor) {
    const std::vector<std::int32_t> order = {4, 2, 0, 3, 1};
    state.SelectEvent(2);
    state.activeTab = 5;
    state.scrollToSelection = false;

    state.SelectEventRange(3, order);
    EXPECT_EQ(state.selectedEvents, (Indices{2, 0, 3}));
    EXPECT_EQ(state.selectedEvent, 2) << "the primary event stays the anchor";
    EXPECT_EQ(state.activeTab, 5);
    EXPECT_FALSE(state.scrollToSelection);

    // Backwards from the same anchor.
    state.SelectEventRange(4, order);
    EXPECT_EQ(state.selectedEvents, (Indices{4, 2}));
}

TEST_F(SelectionTest, RangeEdgeCases) {
    struct Case {
        const char* name;
        std::int32_t primary;
        std::int32_t clicked;
        std::vector<std::int32_t> order;
        Indices selected;
        std::int32_t primaryAfter;
    };
    const Case cases[] = {
        {"no primary selects the clicked event", -1, 3, {0, 1, 2, 3}, {3}, 3},
        {"clicked event missing from the order", 1, 7, {0, 1, 2, 3}, {7}, 7},
        {"primary missing from the order", 9, 2, {0, 1, 2, 3}, {2}, 2},
        {"an index listed twice counts at its last place", 0, 2, {2, 0, 1, 2}, {0, 1, 2}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state.selectedEvents = c.primary >= 0 ? Indices{c.primary} : Indices{};
        state.selectedEvent = c.primary;
        state.SelectEventRange(c.clicked, c.order);
        EXPECT_EQ(state.selectedEvents, c.selected);
        EXPECT_EQ(state.selectedEvent, c.primaryAfter);
    }
}

TEST_F(SelectionTest, ToggleAddsAndRemovesAndAlwaysMovesPrimary) {
    state.activeTab = 2;
    state.ToggleEventSelection(4);
    EXPECT_EQ(state.selectedEvents, Indices{4});
    EXPECT_EQ(state.activeTab, 0);
    state.ToggleEventSelection(1);
    EXPECT_EQ(state.selectedEvents, (Indices{1, 4}));
    EXPECT_EQ(state.selectedEvent, 1);

    state.ToggleEventSelection(1);
    state.ToggleEventSelection(4);
    state.ToggleEventSelection(7);
    state.activeTab = 2;
    state.ToggleEventSelection(7);
    EXPECT_TRUE(state.selectedEvents.empty());
    EXPECT_EQ(state.selectedEvent, 7) << "the removed event stays named as primary";
    EXPECT_EQ(state.activeTab, 2) << "an empty selection does not switch tabs";
}

TEST_F(SelectionTest, DeletionKeepsSelectionOnTheSameEvents) {
    state.selectedEvents = {1, 2, 5};
    state.selectedEvent = 5;
    state.expandedEvent = 2;
    state.RemoveEventFromSelection(2);
    EXPECT_EQ(state.selectedEvents, (Indices{1, 4}));
    EXPECT_EQ(state.selectedEvent, 4);
    EXPECT_EQ(state.expandedEvent, -1);

    state.expandedEvent = 0;
    state.RemoveEventFromSelection(4);
    EXPECT_EQ(state.selectedEvents, Indices{1});
    EXPECT_EQ(state.selectedEvent, -1);
    EXPECT_EQ(state.expandedEvent, 0) << "indices below the deleted one stay";
}

// A linked group that loses one event to a deletion still selects as one.
TEST_F(SelectionTest, LinkedGroupSurvivesDeletion) {
    AddEvent(3.0f, "Hits");
    AddEvent(1.0f);
    AddEvent(2.0f, "Hits");
    AddEvent(4.0f, "Hits");
    state.linkedGroups = {"Hits"};
    state.SelectEventWithLinks(3, events, false);
    ASSERT_EQ(state.selectedEvents, (Indices{0, 2, 3}));
    ASSERT_EQ(state.selectedEvent, 2);

    events.erase(events.begin() + 1);
    state.RemoveEventFromSelection(1);
    EXPECT_EQ(state.selectedEvents, (Indices{0, 1, 2}));
    EXPECT_EQ(state.selectedEvent, 1);
    for (std::int32_t index : state.selectedEvents) EXPECT_STREQ(events[static_cast<std::size_t>(index)].folder, "Hits");

    state.SelectEventWithLinks(2, events, false);
    EXPECT_EQ(state.selectedEvents, (Indices{0, 1, 2}));
    EXPECT_EQ(state.selectedEvent, 1);
}

TEST_F(SelectionTest, ExpandIgnoresIndicesOutsideTheEvents) {
    AddEvent(0.0f, "Hits");
    AddEvent(1.0f, "Hits");
    state.linkedGroups = {"Hits"};
    state.selectedEvents = {0, 9, -3};
    state.ExpandSelectionToLinkedGroups(events);
    EXPECT_EQ(state.selectedEvents, (Indices{-3, 0, 1, 9}));
}

TEST_F(SelectionTest, WorkAreaNeedsBothEndsInOrder) {
    struct Case {
        float in;
        float out;
        bool expected;
    };
    const Case cases[] = {{5, 5, false}, {-1, 8, false}, {2, -1, false}, {12, 3, false}, {0, 0.5f, true}, {2, 8, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in << ".." << c.out);
        state.workAreaIn = c.in;
        state.workAreaOut = c.out;
        EXPECT_EQ(state.HasWorkArea(), c.expected);
    }
}

}  // namespace
}  // namespace korvel
