#include "engine/track_allocation.h"

#include <gtest/gtest.h>

#include <vector>

#include "build_fixture.h"
#include "engine/build_finish.h"
#include "engine/build_routines.h"
#include "project/project.h"

namespace korvel {
namespace {

using test::MakeEvent;

LayerResult Layer(std::int32_t event, std::int32_t group, float start, float duration, float gain = 1.0f) {
    LayerResult layer;
    layer.eventIdx = event;
    layer.group = group;
    layer.startTime = start;
    layer.duration = duration;
    layer.layerGain = gain;
    return layer;
}

TEST(AllocateTracks, LanesShareWithinOneMillisecond) {
    struct Case {
        float secondStart;
        std::int32_t secondLane;
    };
    for (const Case c : {Case{1.9995f, 0}, Case{1.998f, 1}, Case{2.5f, 0}}) {
        SCOPED_TRACE(c.secondStart);
        Project project;
        project.events = {MakeEvent(EventKind::Spot, 0, 3)};
        project.results = {Layer(0, 1, 0.0f, 2.0f), Layer(0, 1, c.secondStart, 1.0f)};
        AllocateTracks(project);
        EXPECT_EQ(project.results[0].groupTrack, 0);
        EXPECT_EQ(project.results[1].groupTrack, c.secondLane);
        EXPECT_EQ(project.trackLayout.groups[1].usedLanes, c.secondLane + 1);
    }
}

// 49 overlapping layers: lanes 0 to 47, the 49th dropped unless a Bed's.
TEST(AllocateTracks, UnbudgetedGroupsHoldFortyEightLanes) {
    for (EventKind kind : {EventKind::Spot, EventKind::Bed}) {
        SCOPED_TRACE(KindValue(kind));
        Project project;
        project.events = {MakeEvent(kind, 0, 10)};
        for (int i = 0; i < 49; ++i) project.results.push_back(Layer(0, 0, 0.001f * i, 5.0f));
        AllocateTracks(project);
        for (int i = 0; i < 48; ++i) EXPECT_EQ(project.results[i].groupTrack, i);
        const LayerResult& last = project.results[48];
        if (kind == EventKind::Bed) {
            EXPECT_EQ(last.groupTrack, 48);
        } else {
            EXPECT_EQ(last.groupTrack, -1);
            EXPECT_EQ(last.track, -1);
            EXPECT_TRUE(IsLayerSilenced(last));
            EXPECT_FALSE(last.muted) << "the drop mark is the lane, not the designer's mute";
        }
    }
}

TEST(AllocateTracks, BudgetKeepsHeroAndLoudestLayers) {
    // A hero event's single layer and the loudest of B's three survive two lanes.
    Project project;
    project.trackLayout.budgetMode = true;
    project.trackLayout.groups[1].trackCount = 2;
    project.events = {MakeEvent(EventKind::Spot, 0, 5), MakeEvent(EventKind::Spot, 0, 5)};
    project.events[0].hero = true;
    project.results = {Layer(1, 1, 0.1f, 3.0f, 0.5f), Layer(1, 1, 0.2f, 3.0f, 1.0f), Layer(1, 1, 0.3f, 3.0f, 0.7f),
                       Layer(0, 1, 0.0f, 4.0f, 0.2f)};
    AllocateTracks(project);
    EXPECT_GE(project.results[3].groupTrack, 0) << "hero";
    EXPECT_GE(project.results[1].groupTrack, 0) << "B's loudest";
    EXPECT_EQ(project.results[0].groupTrack, -1);
    EXPECT_EQ(project.results[2].groupTrack, -1);

    // trackCount 1: A's loud 0-1 s and B's 1.2-2 s share lane 0, A's quiet one goes.
    Project one;
    one.trackLayout.budgetMode = true;
    one.trackLayout.groups[1].trackCount = 1;
    one.events = {MakeEvent(EventKind::Spot, 0, 2), MakeEvent(EventKind::Spot, 1, 1)};
    one.results = {Layer(0, 1, 0.0f, 1.0f, 1.0f), Layer(0, 1, 0.5f, 1.0f, 0.5f), Layer(1, 1, 1.2f, 0.8f)};
    AllocateTracks(one);
    EXPECT_EQ(one.results[0].groupTrack, 0);
    EXPECT_EQ(one.results[1].groupTrack, -1);
    EXPECT_EQ(one.results[2].groupTrack, 0);

    // A Bed's layers get lanes beyond any budget.
    Project bed;
    bed.trackLayout.budgetMode = true;
    bed.trackLayout.groups[0].trackCount = 1;
    bed.events = {MakeEvent(EventKind::Bed, 0, 5)};
    bed.results = {Layer(0, 0, 0, 5), Layer(0, 0, 0, 5), Layer(0, 0, 0, 5)};
    AllocateTracks(bed);
    for (const LayerResult& layer : bed.results) EXPECT_GE(layer.groupTrack, 0);
    EXPECT_EQ(bed.trackLayout.groups[0].usedLanes, 3);
}

TEST(AllocateTracks, MutesSurviveAndDroppedLayersComeBack) {
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 5)};
    project.results = {Layer(0, 1, 0, 1), Layer(0, 1, 2, 1)};
    project.results[0].muted = true;     // the designer's mute
    project.results[1].groupTrack = -1;  // dropped by an earlier, tighter budget
    project.results[1].track = -1;
    AllocateTracks(project);
    EXPECT_TRUE(project.results[0].muted);
    EXPECT_EQ(project.results[0].groupTrack, 0);
    EXPECT_EQ(project.results[1].groupTrack, 0) << "room again: readmitted";
    EXPECT_FALSE(IsLayerSilenced(project.results[1]));
}

TEST(TrackNumbers, GroupsStackAsFxAFxBThenBg) {
    TrackLayout layout;
    layout.groups[1].trackCount = 8;
    layout.groups[1].usedLanes = 3;
    layout.groups[2].usedLanes = 0;
    layout.groups[0].trackCount = 4;
    layout.groups[0].usedLanes = 2;
    EXPECT_EQ(TrackBase(layout, 1), 0);
    EXPECT_EQ(TrackBase(layout, 2), 8);
    EXPECT_EQ(TrackBase(layout, 0), 8) << "FX B uses no lanes and takes no tracks";
    EXPECT_EQ(TrackBase(layout, 7), 8 + 4);

    layout.groups[1].usedLanes = 10;
    EXPECT_EQ(TrackBase(layout, 2) + 1, 11) << "a group past its count takes its lanes";
}

TEST(TrackNumbers, DamagedStoredLanesAreNotCounted) {
    TrackLayout layout;
    std::vector<LayerResult> results = {Layer(0, 1, 0, 1), Layer(0, 1, 0, 1), Layer(0, 2, 0, 1)};
    results[0].groupTrack = 1;
    results[1].groupTrack = 2000000000;  // from a damaged file
    results[2].groupTrack = -7;
    UpdateGroupLaneCounts(layout, results);
    EXPECT_EQ(layout.groups[1].usedLanes, 2);
    EXPECT_EQ(layout.groups[2].usedLanes, 0);
    EXPECT_EQ(TrackBase(layout, 0), 8);
}

TEST(FinishBuild, GainsFadesGroupsOrderAndTracks) {
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 5), MakeEvent(EventKind::Fill, 0, 5), MakeEvent(EventKind::Bloom, 0, 5)};
    const int revision = project.revision;
    project.results = {Layer(0, 0, 0.3f, 1), Layer(1, 1, 0.0f, 1), Layer(0, 0, 0.1f, 1), Layer(1, 1, 0.2f, 1),
                       Layer(0, 0, 0.2f, 1), Layer(2, 0, 0.4f, 0.1f), Layer(42, 2, 0.5f, 1)};
    project.results[5].fadeIn = 0.05f;
    project.results[5].fadeOut = 0.08f;
    project.results[6].pitchVarShift = 2.5f;
    for (LayerResult& layer : project.results) layer.id = static_cast<std::int32_t>(&layer - project.results.data());
    FinishBuild(project);

    auto byId = [&](std::int32_t id) -> const LayerResult& {
        for (const LayerResult& layer : project.results)
            if (layer.id == id) return layer;
        return project.results.front();
    };
    // Spot layers in results order: 1, 1/1.3, 1/1.6; a Fill's fall gently.
    EXPECT_FLOAT_EQ(byId(0).layerGain, 1.0f);
    EXPECT_FLOAT_EQ(byId(2).layerGain, 1.0f / 1.3f);
    EXPECT_FLOAT_EQ(byId(4).layerGain, 1.0f / 1.6f);
    EXPECT_FLOAT_EQ(byId(3).layerGain, 1.0f / 1.12f);
    // 0.1 s with fades 0.05 and 0.08: each clamped to 0.045.
    EXPECT_FLOAT_EQ(byId(5).fadeIn, 0.045f);
    EXPECT_FLOAT_EQ(byId(5).fadeOut, 0.045f);
    // Groups follow the events; an invalid event keeps its group.
    EXPECT_EQ(byId(1).group, 0) << "a Fill is a background";
    EXPECT_EQ(byId(0).group, 1);
    EXPECT_EQ(byId(5).group, 2);
    EXPECT_EQ(byId(6).group, 2);
    for (std::size_t i = 1; i < project.results.size(); ++i)
        EXPECT_LE(project.results[i - 1].startTime, project.results[i].startTime);
    for (const LayerResult& layer : project.results) {
        EXPECT_EQ(layer.pitchShift, layer.pitchVarShift);
        ASSERT_GE(layer.groupTrack, 0);
        EXPECT_EQ(layer.track, TrackBase(project.trackLayout, layer.group) + layer.groupTrack);
    }
    EXPECT_TRUE(project.built);
    EXPECT_EQ(project.revision, revision + 1);
    EXPECT_EQ(project.builtResultCount.load(), static_cast<std::int32_t>(project.results.size()));

    // Nothing rebuilt: still built, revision one higher again.
    FinishBuild(project);
    EXPECT_EQ(project.revision, revision + 2);
}

TEST(FinishBuild, LanesWithinTheBudget) {
    // Unbudgeted: 49 overlapping layers of one group, the 49th dropped unless a Bed's.
    for (EventKind kind : {EventKind::Spot, EventKind::Bed}) {
        SCOPED_TRACE(KindValue(kind));
        Project project;
        std::vector<Event> events;
        for (int i = 0; i < 49; ++i) {
            events.push_back(MakeEvent(kind, 0, 10));
            project.results.push_back(Layer(i, 0, 0.01f * i, 5.0f));
        }
        project.events = events;
        FinishBuild(project);
        int dropped = 0, maxLane = -1;
        for (const LayerResult& layer : project.results) {
            dropped += layer.groupTrack < 0;
            maxLane = std::max(maxLane, layer.groupTrack);
            EXPECT_FALSE(layer.muted);
        }
        EXPECT_EQ(dropped, kind == EventKind::Bed ? 0 : 1);
        EXPECT_EQ(maxLane, kind == EventKind::Bed ? 48 : 47);
    }
    // Budget 2: the hero's layer and the other event's loudest survive.
    Project project;
    project.trackLayout.budgetMode = true;
    project.trackLayout.groups[1].trackCount = 2;
    project.events = {MakeEvent(EventKind::Spot, 0, 5), MakeEvent(EventKind::Spot, 0, 5)};
    project.events[1].hero = true;
    project.results = {Layer(0, 1, 0.0f, 3), Layer(0, 1, 0.1f, 3), Layer(0, 1, 0.2f, 3), Layer(1, 1, 0.3f, 3)};
    project.results[3].id = 77;
    project.results[0].id = 78;  // first of its event: the loudest after the gains
    FinishBuild(project);
    int kept = 0;
    for (const LayerResult& layer : project.results) {
        if (layer.id == 77 || layer.id == 78) {
            EXPECT_GE(layer.groupTrack, 0) << layer.id;
        }
        kept += layer.groupTrack >= 0;
    }
    EXPECT_EQ(kept, 2);
}

TEST(FinishBuild, DesignerAndProtectionMutesSurvive) {
    Project project;
    project.events = {MakeEvent(EventKind::Spot, 0, 5)};
    project.results = {Layer(0, 1, 0, 1), Layer(0, 1, 0.5f, 1)};
    project.results[1].muted = true;
    FinishBuild(project);
    AllocateTracks(project);
    FinishBuild(project);
    int muted = 0;
    for (const LayerResult& layer : project.results) muted += layer.muted;
    EXPECT_EQ(muted, 1);
}

}  // namespace
}  // namespace korvel
