// The group area apart from drawing: lane geometry, the layer-to-voice
// lookup after voices were removed, the reveal of a running build, layer
// looks and band crowding; then the headers in a headless frame.
#include "ui/timeline/track_lanes.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/background_job.h"
#include "app/frame_work.h"
#include "app/theme.h"
#include "engine/build_routines.h"
#include "playback/playback_engine.h"
#include "support/ui/ui_harness.h"
#include "timeline_fixture.h"

namespace korvel {
namespace {

class TrackLanesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetTimelineState();
        s.audioFocusActive = false;
        s.audioFocusEvents.clear();
        s.colorByWeight = true;
        s.showSpectralHeatmap = false;
        s.soloLayer = -1;
        ResetJob();
        TimelineLayerVoices = LayerVoiceLookup{};
    }
    void TearDown() override { ResetJob(); }
    void ResetJob() {
        s.backgroundJob.active.store(false);
        s.backgroundJob.revealBuildProgress = false;
        s.backgroundJob.revealByBuiltLayers = false;
    }
    void SetLanes(int bg, int fxA, int fxB) {
        auto& g = p.trackLayout.groups;
        g[0].usedLanes = bg;
        g[1].usedLanes = fxA;
        g[2].usedLanes = fxB;
    }
    static LayerResult Layer(std::int32_t event, std::int32_t lane, float start = 0.0f, float duration = 1.0f) {
        LayerResult layer;
        layer.eventIdx = event;
        layer.groupTrack = lane;
        layer.startTime = start;
        layer.duration = duration;
        layer.weight = 0.5f;
        return layer;
    }
    // Voices for `layers`, in order, as a finished build leaves them.
    static std::unique_ptr<PlaybackEngine> EngineWith(std::initializer_list<std::int32_t> layers, bool ready) {
        auto engine = std::make_unique<PlaybackEngine>();
        for (std::int32_t layer : layers) {
            Voice voice;
            voice.resultIndex = layer;
            engine->voices.push_back(std::move(voice));
        }
        engine->voiceCount.store(static_cast<std::int32_t>(engine->voices.size()));
        engine->ready.store(ready);
        return engine;
    }

    AppState& s = GlobalAppState;
    Project& p = CurrentProject;
};

// Event kinds by group: a Fill is BG (0), a Spot FX A (1), a Bloom FX B (2).
TEST_F(TrackLanesTest, LaneGeometry) {
    struct Case {
        const char* name;
        int bg, fxA, fxB;
        std::array<bool, 3> visible;
        float areaHeight;
        bool focus;  // audio focus on event 1 (a Bloom)
        float laneHeight;
        std::array<float, 3> groupTop;  // -1: not checked
        bool focusMode;
    };
    constexpr float h = 12.0f;  // header height
    const Case cases[] = {
        {"nothing built", 0, 0, 0, {true, true, true}, 300, false, 64, {0, 0, 0}, false},
        {"all groups hidden: header rows", 2, 1, 3, {false, false, false}, 300, false, 64,
         {2 * (h + 2), 0, h + 2}, false},
        {"groups with no lanes take no room", 2, 0, 3, {true, true, true}, 200, false, 38,
         {3 * 39, -1, 0}, false},
        {"a hidden group keeps its header's room", 1, 2, 3, {true, false, true}, 150, false, 32,
         {14 + 3 * 33, 0, 14}, false},
        {"many lanes stop at 2 px", 48, 48, 48, {true, true, true}, 200, false, 2, {2 * 3 * 48, 0, 3 * 48},
         false},
        {"few lanes stop at 64 px", 0, 1, 0, {true, true, true}, 500, false, 64, {-1, 0, -1}, false},
        {"focus rows fill the area", 2, 2, 3, {true, true, true}, 206, true, 100, {-101 * 3 + 2 * 101 + 3 * 101, -101 * 3, -101},
         true},
        {"focus on hidden layers: normal mode", 2, 2, 3, {true, true, false}, 206, true, 46, {108, 0, 94}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLanes(c.bg, c.fxA, c.fxB);
        s.groupVisible = c.visible;
        p.events = {test::MakeEvent(0, 5, 0, EventKind::Spot), test::MakeEvent(0, 5, 0, EventKind::Bloom)};
        p.results = {Layer(1, 1), Layer(1, 2), Layer(0, 0)};
        s.audioFocusActive = c.focus;
        s.audioFocusEvents = c.focus ? std::set<std::int32_t>{1} : std::set<std::int32_t>{};
        const GroupAreaGeometry g = LayOutGroupArea(s, p, p.results, 100.0f, c.areaHeight, h);
        EXPECT_EQ(g.laneHeight, c.laneHeight);
        EXPECT_EQ(g.focusMode, c.focusMode);
        for (int i = 0; i < 3; ++i) {
            if (c.groupTop[i] >= -0.5f || c.groupTop[i] < -1.5f) {
                EXPECT_EQ(g.groupTop[i], c.groupTop[i]) << i;
            }
        }
    }
}

TEST_F(TrackLanesTest, FocusedRowsStartAtTheAreaTop) {
    SetLanes(2, 2, 3);
    p.events = {test::MakeEvent(0, 5, 0, EventKind::Spot), test::MakeEvent(0, 5, 0, EventKind::Bloom)};
    p.results = {Layer(1, 1), Layer(1, 2), Layer(0, 0)};
    s.audioFocusActive = true;
    s.audioFocusEvents = {1};
    const GroupAreaGeometry g = LayOutGroupArea(s, p, p.results, 100.0f, 206.0f, 12.0f);
    EXPECT_EQ(g.LaneTop(2, 1), 102.0f);
    EXPECT_EQ(g.LaneTop(2, 2), 102.0f + g.laneHeight + 1.0f);
    EXPECT_LT(g.LaneTop(1, 1), 100.0f) << "rows above the focus are pushed out of the area";
}

// Before the lookup checked its entries, a voice list shrunk without a new
// revision (to nothing, say) left entries pointing past its end.
TEST_F(TrackLanesTest, LookupAfterVoicesWereRemoved) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> keep;  // resultIndex of the voices left
        std::int32_t layer;
        std::int32_t voice;
        std::int32_t afterRefresh;  // the next frame's lookup
    };
    const Case cases[] = {
        {"all voices removed", {}, 1, -1, -1},
        {"the list shrank below the entry", {0}, 2, -1, -1},
        {"a voice now plays another layer", {0, 2, 1}, 1, -1, 2},
        {"an untouched voice", {0, 1, 2}, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<PlaybackEngine> engine = EngineWith({0, 1, 2}, true);
        LayerVoiceLookup lookup;
        lookup.Refresh(*engine);
        ASSERT_EQ(lookup.VoiceFor(*engine, 2), 2);
        {
            std::lock_guard lock(engine->voiceMutex);
            std::size_t next = 0;
            CompactVoicesLocked(*engine, [&](const Voice&) { return next++ < c.keep.size(); });
            for (std::size_t i = 0; i < c.keep.size(); ++i) engine->voices[i].resultIndex = c.keep[i];
        }
        lookup.Refresh(*engine);  // same revision; a count of 0 or 3 rebuilds nothing
        if (c.keep.size() == 0 || c.keep.size() == 3) {
            EXPECT_EQ(lookup.voiceOf.size(), 3u) << "not rebuilt";
        }
        EXPECT_EQ(lookup.VoiceFor(*engine, c.layer), c.voice);
        lookup.Refresh(*engine);
        EXPECT_EQ(lookup.VoiceFor(*engine, c.layer), c.afterRefresh);
    }
}

TEST_F(TrackLanesTest, LookupRebuildsOnRevisionAndPublishedCount) {
    std::unique_ptr<PlaybackEngine> engine = EngineWith({0, 1}, false);
    engine->voiceCount.store(1);  // a build has published one voice
    LayerVoiceLookup lookup;
    lookup.Refresh(*engine);
    EXPECT_EQ(lookup.VoiceFor(*engine, 0), 0);
    EXPECT_EQ(lookup.VoiceFor(*engine, 1), -1) << "unpublished voices are not read";
    engine->voiceCount.store(2);
    lookup.Refresh(*engine);
    EXPECT_EQ(lookup.VoiceFor(*engine, 1), 1);

    engine->ready.store(true);
    engine->voices[0].resultIndex = 1;
    engine->voices[1].resultIndex = 0;
    lookup.Refresh(*engine);  // the first ready list counts as a new revision
    EXPECT_EQ(lookup.VoiceFor(*engine, 0), 1);
    engine->voices[0].resultIndex = 0;
    engine->voices[1].resultIndex = 1;
    ++engine->revision;
    lookup.Refresh(*engine);
    EXPECT_EQ(lookup.VoiceFor(*engine, 0), 0);
    EXPECT_EQ(lookup.VoiceFor(*engine, 5), -1);
    EXPECT_EQ(lookup.VoiceFor(*engine, -1), -1);
}

TEST_F(TrackLanesTest, RevealDuringALiveBuild) {
    SetLanes(1, 0, 0);
    p.events = {test::MakeEvent(0, 5, 0, EventKind::Fill)};
    p.results = {Layer(0, 0), Layer(0, 0), Layer(0, 0)};
    p.builtResultCount.store(2);
    std::unique_ptr<PlaybackEngine> engine = EngineWith({0}, false);  // one voice published
    engine->voicesRendered.store(2);
    const std::uint32_t muted = ThemePalette.textMuted & 0x00FFFFFFu;
    struct Case {
        const char* name;
        bool full, list;
        std::int32_t count;
        bool secondDrawn;  // the layer without a voice
    };
    const Case cases[] = {
        {"no job: all layers", false, false, 3, true},
        {"full build: rendered voices, voiceless layers hidden", true, false, 2, false},
        {"list render: built layers, voiceless ones muted", false, true, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.backgroundJob.active.store(c.full || c.list);
        s.backgroundJob.revealBuildProgress = c.full || c.list;
        s.backgroundJob.revealByBuiltLayers = c.list;
        EXPECT_EQ(RevealedLayerCount(s, p, *engine, 3), c.count);
        const LayerLook withVoice = DecideLayerLook(s, p, *engine, p.results[0], 0);
        const LayerLook without = DecideLayerLook(s, p, *engine, p.results[1], -1);
        EXPECT_TRUE(withVoice.drawn);
        EXPECT_EQ(without.drawn, c.secondDrawn);
        EXPECT_EQ((withVoice.colour & 0x00FFFFFFu) == muted, c.full) << "muted until the engine is ready";
        if (c.list) {
            EXPECT_EQ(without.colour, (ThemePalette.textMuted & 0x00FFFFFFu) | 120u << 24);
        }
    }
    ResetJob();
    engine->ready.store(true);
    s.backgroundJob.active.store(true);
    s.backgroundJob.revealBuildProgress = true;
    EXPECT_NE(DecideLayerLook(s, p, *engine, p.results[0], 0).colour & 0x00FFFFFFu, muted) << "ready: own colour";
}

TEST_F(TrackLanesTest, LayerLooks) {
    std::unique_ptr<PlaybackEngine> engine = EngineWith({}, true);
    Event clip = test::MakeEvent(0, 5, 0, EventKind::Clip);
    clip.clipWeight = 0.9f;
    Event bed = test::MakeEvent(0, 5, 0, EventKind::Bed);
    bed.pinnedFiles = {"/a.wav", "/b.wav", "/c.wav"};
    bed.pinnedFileIds = {"ida", "idb"};
    bed.bedLayerWeight = {0.1f, 0.7f};  // the third file has no weight
    Event muted = test::MakeEvent(0, 5, 0, EventKind::Spot);
    muted.muted = true;
    p.events = {clip, bed, muted, test::MakeEvent(0, 5, 0, EventKind::Bloom)};
    SetLanes(1, 1, 1);

    auto layer = [&](std::int32_t event, const char* path, const char* id) {
        LayerResult l = Layer(event, 0);
        l.filepath = path;
        l.fileId = id;
        l.weight = 0.3f;
        return l;
    };
    const std::uint32_t rgb = 0x00FFFFFFu;
    struct Case {
        const char* name;
        LayerResult layer;
        bool byWeight;
        bool drawn;
        std::int32_t group;
        std::uint32_t colour;  // compared without alpha
        bool dim, selected;
    };
    LayerResult mutedLayer = layer(3, "/x.wav", "");
    mutedLayer.muted = true;
    LayerResult dropped = layer(3, "/x.wav", "");
    dropped.groupTrack = -1;
    const Case cases[] = {
        {"a Clip by its measured weight", layer(0, "/x.wav", ""), true, true, 1, GetWeightColor(0.9f), false, true},
        {"a Clip in plain colours", layer(0, "/x.wav", ""), false, true, 1, kClipLayerRgb, false, true},
        {"a Bed file by its id", layer(1, "/other.wav", "idb"), true, true, 0, GetWeightColor(0.7f), false, false},
        {"a Bed file by its path", layer(1, "/a.wav", ""), true, true, 0, GetWeightColor(0.1f), false, false},
        {"a Bed file past the weights", layer(1, "/c.wav", ""), true, true, 0, kClipLayerRgb, false, false},
        {"other kinds by their own weight", layer(3, "/x.wav", ""), true, true, 2, GetWeightColor(0.3f), false,
         false},
        {"other kinds in their group colour", layer(3, "/x.wav", ""), false, true, 2, GetGroupColour(2), false,
         false},
        {"a muted event", layer(2, "/x.wav", ""), true, true, 1, ThemePalette.neutralMark, true, false},
        {"a muted layer", mutedLayer, true, true, 2, ThemePalette.neutralMark, true, false},
        {"an invalid event: group 0, never selected", layer(9, "/x.wav", ""), false, true, 0, GetGroupColour(0),
         false, false},
        {"a layer without a lane", dropped, true, false, 2, 0, false, false},
    };
    s.selectedEvents = {0, 9};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.colorByWeight = c.byWeight;
        const LayerLook look = DecideLayerLook(s, p, *engine, c.layer, -1);
        EXPECT_EQ(look.drawn, c.drawn);
        EXPECT_EQ(look.group, c.group);
        if (!c.drawn) continue;
        EXPECT_EQ(look.colour & rgb, c.colour & rgb);
        EXPECT_EQ(look.dim, c.dim);
        EXPECT_EQ(look.selected, c.selected);
    }
    s.groupVisible = {false, true, true};
    EXPECT_FALSE(DecideLayerLook(s, p, *engine, layer(9, "/x.wav", ""), -1).drawn) << "a hidden group";
}

TEST_F(TrackLanesTest, BandCrowding) {
    BandWeights tone{};
    ToneToBandWeights(0.5f, tone);
    int band = 0;
    for (int b = 1; b < 5; ++b)
        if (tone[b] > tone[band]) band = b;
    ASSERT_GT(tone[band], 0.05f);

    auto at = [](float start, float duration, float gain = 1.0f) {
        LayerResult l;
        l.startTime = start;
        l.duration = duration;
        l.weight = 0.5f;
        l.layerGain = gain;
        return l;
    };
    LayerResult ramp = at(0, 10);
    ramp.hasDeconGain = true;
    for (int i = 0; i < kDeconGainPoints; ++i) ramp.deconGain[i] = static_cast<float>(i) / 31.0f;
    LayerResult muted = at(0, 10);
    muted.muted = true;
    LayerResult shifted = at(0, 4);
    shifted.deconOffset = 6.0f;  // sounds 6..10

    struct Case {
        const char* name;
        std::vector<LayerResult> layers;
        float t;
        int band;
        float expected;
    };
    const Case cases[] = {
        {"one layer alone", {at(0, 10)}, 5, band, 0},
        {"two equal layers", {at(0, 10), at(2, 10)}, 5, band, 1},
        {"three equal layers", {at(0, 10), at(2, 10), at(4, 10)}, 5, band, 2},
        {"all below the floor", {at(0, 10, 0.001f), at(0, 10, 0.001f)}, 5, band, 0},
        {"a muted layer counts for nothing", {at(0, 10), muted}, 5, band, 0},
        {"an end is outside its layer", {at(0, 10), at(0, 5)}, 5, band, 0},
        {"the start is inside", {at(0, 10), at(5, 5)}, 5, band, 1},
        {"the decon offset moves a layer", {at(0, 10), shifted}, 5, band, 0},
        {"the decon offset moves it here", {at(0, 10), shifted}, 7, band, 1},
        {"a decon envelope at half", {at(0, 10), ramp}, 5, band, 0.5f},
        {"a band out of range", {at(0, 10), at(0, 10)}, 5, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(MeasureBandCrowding(c.layers, c.t, c.band), c.expected, 1e-5f);
        if (c.band < 5) {
            const float t[] = {c.t};
            EXPECT_NEAR(MeasureBandCrowdingSweep(c.layers, t)[0][c.band], c.expected, 1e-5f);
        }
    }
}

// The heat map's sweep must give what the per-column measure gives.
TEST_F(TrackLanesTest, CrowdingSweepMatchesTheMeasure) {
    std::vector<LayerResult> layers;
    std::uint32_t seed = 7;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    for (int i = 0; i < 60; ++i) {
        LayerResult l;
        l.startTime = next() * 30.0f;
        l.duration = next() * 6.0f;
        l.weight = next();
        l.layerGain = next();
        l.userVolume = 0.5f + next();
        l.deconOffset = next() - 0.5f;
        l.muted = next() < 0.1f;
        l.hasDeconGain = next() < 0.5f;
        for (float& g : l.deconGain) g = next();
        layers.push_back(l);
    }
    std::vector<float> times;
    for (float t = -1.0f; t < 40.0f; t += 0.13f) times.push_back(t);
    const auto swept = MeasureBandCrowdingSweep(layers, times);
    for (std::size_t i = 0; i < times.size(); ++i) {
        for (int b = 0; b < 5; ++b) {
            ASSERT_NEAR(swept[i][b], MeasureBandCrowding(layers, times[i], b), 1e-4f) << times[i] << " band " << b;
        }
    }
}

// In a frame: the header of a shown group hides it and back.
TEST_F(TrackLanesTest, HeadersHideAndShowTheirGroup) {
    test::UiHarness ui;
    FrameWork = FrameWorkState{};
    FrameWork.firstFrameDone = true;
    FrameWork.launcherChecked = true;
    p.built = true;
    SetLanes(2, 1, 0);
    p.events = {test::MakeEvent(1, 5, 0, EventKind::Fill), test::MakeEvent(1, 5, 0, EventKind::Spot)};
    p.results = {Layer(0, 0, 1, 5), Layer(0, 1, 1, 5), Layer(1, 0, 1, 5)};
    ui.RunDrawUI();
    const GroupAreaGeometry& g = Timeline.groupArea;
    ASSERT_GT(g.areaHeight, 50.0f);
    EXPECT_EQ(g.drawnLayerCount, 3);
    auto click = [&](int group) {
        const float x = Timeline.headerLeft + 6.0f;
        const float y = g.areaTop + 2.0f + g.groupTop[group] + g.headerHeight / 2.0f;
        ui.MoveMouse(x, y);
        ui.SetMouseButton(0, true);
        ui.RunDrawUI();
        ui.SetMouseButton(0, false);
        ui.RunDrawUI();
    };
    click(0);
    EXPECT_FALSE(s.groupVisible[0]);
    EXPECT_TRUE(s.groupVisible[1]);
    click(0);  // the dimmed header of the hidden group shows it again
    EXPECT_TRUE(s.groupVisible[0]);

    s.eventLaneExpanded = true;  // the area gives way to the event rows
    ui.RunDrawUI();
    EXPECT_EQ(Timeline.groupArea.drawnLayerCount, 0);
    EXPECT_EQ(Timeline.groupArea.areaHeight, 0.0f);
}

}  // namespace
}  // namespace korvel
